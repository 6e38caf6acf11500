// Finds a module's serial settings on a freshly opened port: first a quick
// "+++" at 9600 8-N-1, then, if need be, the reset-key procedure.
#pragma once

#include "link/port_table.h"
#include "link/reset_prompt.h"

// The line settings every discovery starts from.
os::LineSettings defaultLineSettings();

// True when the port now talks at the module's settings. resetPrompt is
// shown while the user is asked for the reset key (if it is a window). After
// the quick "+++" the module is in command mode and the port knows it; after
// the reset key it is back in transparent mode. A cancel of the port's pane
// ends the search at its next stage, with false.
bool discoverSerialSettings(SerialPort* port, WindowHandle resetPrompt);
// Its stages alone: the quick "+++" at 9600 8-N-1 (the module is then in
// command mode, and the port knows it), and the rest of the search after a
// quick "+++" that was not taken.
// quickEscape: 1 taken, 0 not, -1 the port could not be set up (or a
// cancel came first).
int quickEscape(SerialPort* port);
bool searchWithResetKey(SerialPort* port, WindowHandle resetPrompt);
