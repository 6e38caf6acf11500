// Finds a module's serial settings on a freshly opened port: first a quick
// "+++" at 9600 8-N-1, then, if need be, the reset-key procedure.
#pragma once

#include "link/port_table.h"
#include "module/view_hooks.h"

// The rate a module's "ATBD" reply stands for: codes 0..7 the standard
// rates, 8..127 9600, from 128 on the value itself.
uint32_t discoveryBaudRate(uint32_t code);

// The line settings every discovery starts from.
os::LineSettings defaultLineSettings();

// True when the port now talks at the module's settings. resetPrompt is
// shown while the user is asked for the reset key (if it is a window).
bool discoverSerialSettings(SerialPort* port, WindowHandle resetPrompt);
