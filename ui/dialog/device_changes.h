// What a port's arrival or departure does to the panes. A worker thread may
// be using a pane's port and record when the broadcast comes (it is served
// inside the progress dialog's loop), so while an operation runs nothing it
// uses is closed or overwritten: its pane is told to stop through its cancel
// event, and the reset (and close) wait until the operation has ended.
#pragma once

#include <cstdint>

#include "ui/dialog/operation_hooks.h"
#include "ui/dialog/pane.h"

// An operation owns the pane from the runner's start to its join.
bool operationRunning(const PaneRecord* pane);
bool anyOperationRunning();

// The pane's port n arrived or departed: reset and clear the pane when it
// last used n, now or, while an operation runs, once it has ended. The other
// pane's idle record is read by a running worker, so its reset waits too.
void resetPaneForPortChange(PaneRecord* pane, uint32_t portNumber);
// Port n departed: a pane that still has it open loses it. Never closed
// under a running worker, which closes its own port at its end.
void releaseDepartedPort(PaneRecord* pane, uint32_t portNumber);

// The button rules read both records too: while an operation runs they
// wait for its end.
void deferButtonRules();

// hasDeferredPortChange: ui/operation_hooks.h.
// Carries out what was put off, once no operation runs; true when the
// caller is to apply the button rules now.
bool finishDeferredPortChanges();
