// A pane's operation (Read, Write, the Link Test, a pair run) behind the
// runner's progress dialog, and what the pane and the line log show of its
// end.
#pragma once

#include <windows.h>

#include "ui/dialog/pane.h"

// The operation's result, after its message; operation ("Read", "Write")
// names it in the line log. A partner pane's port is used by the body too
// (as runOnWorker's).
int32_t runOperation(HWND owner, PaneRecord* pane, const char* operation = "Operation",
                     PaneRecord* partner = nullptr);
// The pane's body behind the progress dialog, to its end: its result, with
// nothing of the run left and no message shown. A partner pane, whose port
// the body uses too, watches the run's cancel event for its length; the
// captions name both. A body that never asks for the reset key (it talks
// to ports already read) runs without a reset prompt.
int32_t runOnWorker(HWND owner, PaneRecord* pane, PaneRecord* partner, bool asksResetKey = true);
