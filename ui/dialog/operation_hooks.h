// What a pane's operation asks of the dialog around its run and once it has
// ended.
#pragma once

#include "ui/dialog/pane.h"

// The buttons offer what both panes hold now.
void applyButtonRules();
// On the GUI thread, before a worker starts and after it has been joined:
// meanwhile the dialog keeps to copies of the panes it shows.
void lendPanesToWorker();
void takePanesBack();
// On the GUI thread, while the dialog is active: a focus that the rules left
// on a disabled control, or nowhere, moves to the pane's Read button, or to
// its port list when Read is disabled too; Tab and Enter work again.
void keepKeyboardFocus(PaneRecord* pane);
// Called once a pane's operation has ended (after the join and its message):
// carries out a port change that came while it ran, then the button rules.
void finishDeferredDeviceChanges(PaneRecord* pane);
// A port change came for the pane while its operation ran.
bool hasDeferredPortChange(const PaneRecord* pane);
