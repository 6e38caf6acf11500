// The line log's window: "NLCONF - Line Log", beside the main dialog, with
// the record as read-only fixed-pitch text, Save..., Clear and Close. The
// record is kept from start-up on, whether the window is open or not.
#pragma once

#include <windows.h>

// Points the dialog's line log at the program's record; before any port opens.
void startLineLog();
// Creates the window on first use, then shows it and brings it up.
void showLineLogWindow(HWND dialog);
// Called just before a verdict shows: the log catches up as soon as the
// verdict has painted (its box's first idle), not a refresh interval later.
void refreshLineLogAfterVerdict();
void catchUpLineLogIfDue();
// For the message loop: Tab, Escape and the like in the window.
bool lineLogDialogMessage(MSG* message);
// Ctrl+S in the window saves the log, not the settings as elsewhere.
bool translateLineLogKeys(const MSG* message);
void destroyLineLogWindow();
