// A terminal on one module: the user's own command lines, each answered by
// what the module sends back, line by line as it comes. Nothing goes out
// that the user did not type but "+++", the "ATCT" that follows it (the
// module's own time-out is the one counted), "ATCN" and the search for the
// module's serial settings; nothing the module sends is handed on raw.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "module/session.h"

// What a module's command mode lasts without a command until its own "ATCT"
// tells otherwise: the usual CT of 0x64 tenths of a second.
constexpr uint32_t kAssumedCommandTimeoutMs = 10000;
// A further reply line of the same command comes within this of the last.
constexpr uint32_t kFurtherReplyMs = 250;
constexpr uint32_t kMostReplyLines = 64;
// The longest line a user may send, its CR not counted.
constexpr uint32_t kTerminalLineLimit = 80;

struct TerminalLine {
  enum class Kind : uint8_t {
    Sent,   // what the user's line put on the wire, CR not shown
    Reply,  // a line the module sent, its CR not shown
    Cut,    // what came of a line that no CR ended
    Note,   // the terminal's own words: no reply, command mode left
  };
  Kind kind = Kind::Note;
  std::string text;  // escaped as the line log escapes bytes
  uint32_t msOfDay = 0;
};

struct TerminalView {
  // Each line as it comes, on the terminal's thread; must return at once.
  void (*line)(void* context, const TerminalLine& line) = nullptr;
  // The module entered or left command mode (by "ATCN", its time-out, a
  // failed "+++"), or the time-out was learnt anew.
  void (*mode)(void* context, bool inCommandMode, uint32_t leftMs) = nullptr;
  void* context = nullptr;
};

// What one line the user sent got back.
struct TerminalExchange {
  std::string command;               // escaped
  std::vector<std::string> replies;  // escaped; a line cut short too
  uint32_t ms = 0;                   // from the write to the last reply, or the give-up
  bool refused = false;              // the module answered "ERROR"
  int32_t result = 0;                // 0: a reply came; ErrTimeout: none; a link error
};

struct Terminal {
  Session* session = nullptr;
  TerminalView view;
  uint32_t commandTimeoutMs = kAssumedCommandTimeoutMs;
  // The time-out that runs now: a new CT may apply only from the next command.
  uint32_t runningTimeoutMs = kAssumedCommandTimeoutMs;
  uint32_t lastCommandTick = 0;  // the module's last reply to a command or "+++"
  // A setter or a store went out: what a Read showed may no longer hold.
  bool changedModule = false;
  // The port went away under it (unplugged): closed, and taken back once it
  // opens again; portAbsent: not seen open since.
  bool portLost = false;
  bool portAbsent = false;
};

// Null when the line may be sent as it is; otherwise the reason in words.
const char* terminalLineRefusal(const std::string& line);
// Whether a line may change what the module holds or runs (a setter, "ATWR").
bool changesModule(const std::string& line);
// "12:03:04.120 > ATCH", "12:03:04.131 < 0C": a line as the faces list it.
std::string terminalLineText(const TerminalLine& line);

// The session's port opened, the module's serial settings found as a Read
// finds them, command mode entered. On failure the port is closed again.
int32_t openTerminal(Terminal& terminal);
// "+++" after the guard time, whatever the terminal believes.
int32_t enterTerminalCommandMode(Terminal& terminal);
// One line as typed (or "+++"), then its replies. ErrArgument, with nothing
// sent, for a refused line or one sent outside command mode.
int32_t sendTerminalLine(Terminal& terminal, const std::string& line, TerminalExchange* exchange);
// Notes a time-out that has surely run out since (its count and a margin
// for the module's clock); whether a line sent now finds the module in
// command mode (not so in the time-out's last moments, while the module may
// still be in it).
bool followCommandMode(Terminal& terminal);
// What is left of its time-out; 0 out of command mode.
uint32_t commandModeLeftMs(const Terminal& terminal);
// The port is gone (unplugged): closed without a word to the module, its
// time-out no longer counted, and said so; takeTerminalPortBack follows.
void loseTerminalPort(Terminal& terminal);
// A port lost under the terminal opened again once it is back, and the
// module found as at the start; ErrNoPort while it is not back (or was
// tried since it came back), 0 when nothing was lost.
int32_t takeTerminalPortBack(Terminal& terminal);
// "ATCN" where the module is in command mode, the port closed; in the
// time-out's last moments its end is waited out and nothing is sent.
int32_t closeTerminal(Terminal& terminal);
