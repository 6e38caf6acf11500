// Finds a module's serial settings on a freshly opened port: first a quick
// "+++" at 9600 8-N-1 (or at each setting the caller has reason to try),
// then, if need be, the reset-key procedure.
#pragma once

#include <cstddef>

#include "link/port_table.h"
#include "link/reset_prompt.h"

// The line settings every discovery starts from.
os::LineSettings defaultLineSettings();

// A setting a module may talk at, with 8 data bits; baudRate 0 is none.
struct LineGuess {
  uint32_t baudRate = 0;
  uint8_t parity = os::kNoParity;
  uint8_t stopBits = os::kOneStopBit;
  bool operator==(const LineGuess&) const = default;
};
LineGuess defaultLineGuess();  // 9600 8-N-1
LineGuess lineGuessOf(const os::LineSettings& line);

// The settings a "+++" is tried at, in order, each once.
constexpr size_t kLineTriesLimit = 72;
struct LineTries {
  LineGuess at[kLineTriesLimit] = {};
  size_t count = 0;
};
// None, one already there or one too many is left out.
void addLineTry(LineTries& tries, LineGuess guess);
bool holdsLineTry(const LineTries& tries, LineGuess guess);
// Every setting a module can have, each that `tried` lacks, common ones
// first: each rate at 8-N-1, then the other parities and stop bits.
LineTries everyLineSettingBut(const LineTries& tried);

// True when the port now talks at the module's settings. The prompt is
// shown while the user is asked for the reset key. After
// the quick "+++" the module is in command mode and the port knows it; after
// the reset key it is back in transparent mode. A cancel of the port's pane
// ends the search at its next stage, with false.
bool discoverSerialSettings(SerialPort* port, const ResetPrompt& prompt);
// Its stages alone: the quick "+++" at 9600 8-N-1 (the module is then in
// command mode, and the port knows it), and the rest of the search after a
// quick "+++" that was not taken.
// quickEscape: 1 taken, 0 not, -1 the port could not be set up (or a
// cancel came first).
int quickEscape(SerialPort* port);
// The same at each of the tries in turn: n, the n-th was taken (the port
// stays at it); 0 none was (the port back at 9600 8-N-1); -1 as above.
int quickEscapeAt(SerialPort* port, const LineTries& tries);
bool searchWithResetKey(SerialPort* port, const ResetPrompt& prompt);
