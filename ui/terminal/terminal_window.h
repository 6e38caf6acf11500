// The Terminal window beside the dialog: the module of one pane's port
// spoken to with its own commands, typed by the user.
#pragma once

#include <windows.h>

#include "ui/dialog/pane.h"

// Opens the window for the pane whose control has the focus (asking which,
// where none has it), or brings up the one already open.
void showTerminalWindow(HWND dialog);
// While its session holds a pane's port, that pane's Read and Write, Link
// Test, Run Pair and Range Test are not offered.
bool terminalHolds(const PaneRecord* pane);
bool terminalHoldsAnyPort();
// A port gone: the terminal on it ends as on Close.
void terminalPortDeparted(uint32_t portNumber);
// Its keys (Enter, Escape, Tab), before the main dialog's.
bool terminalDialogMessage(MSG* message);
// Ends its session ("ATCN" where the module may still be in command mode)
// and waits for it, as the program ends.
void destroyTerminalWindow();
