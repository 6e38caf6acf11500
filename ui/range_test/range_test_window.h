// The Range Test's window: "NLCONF - Range Test", beside the main dialog.
// The user picks the way, the packets and their size, starts and stops; the
// test runs on a worker while the window follows it (counts per direction,
// the received share, a chart of the last packets). The main dialog is held
// while it runs, as it is behind an operation's progress dialog.
#pragma once

#include <windows.h>

// Creates the window on first use, then shows it and brings it up.
void showRangeTestWindow(HWND dialog);
// The panes changed: Start follows what they allow.
void updateRangeTestWindow();
// For the message loop: Tab, Escape and the like in the window.
bool rangeTestDialogMessage(MSG* message);
// Ctrl+C in the window copies the result.
bool translateRangeTestKeys(const MSG* message);
// Stops a run, waits for its worker and closes the window.
void destroyRangeTestWindow();
// Stop pressed for a run, if one runs; true when one did.
bool stopRangeTestRun();
