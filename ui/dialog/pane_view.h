// The panes on the main dialog's controls: what each shows and in which
// colour, the buttons the panes allow, and where the keyboard's focus goes.
// The view hooks (ui/view_hooks.h) and what a pane's operation asks of the
// dialog (ui/operation_hooks.h: applyButtonRules, keepKeyboardFocus, the
// panes lent to a worker) are done here.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/dialog/pane.h"

// The centre column's buttons, which the button rules enable; set as the
// dialog starts.
extern HWND copyToSlaveButton;
extern HWND copyToMasterButton;
extern HWND linkTestButton;
extern HWND setDefaultButton;
// Told after each application of the button rules, so that the system menu
// and the windows beside the dialog follow what the panes allow; set by the
// main dialog, null before it.
extern void (*afterButtonRules)();
// Whether a window beside the dialog (the terminal) holds the pane's port:
// its Read and Write, Link Test, Run Pair and Range Test are not offered.
extern bool (*paneHeldElsewhere)(const PaneRecord* pane);
bool paneHeld(const PaneRecord* pane);
bool anyPaneHeld();
// The pane a control of the main dialog belongs to; null for the others.
PaneRecord* paneOfControl(HWND control);

void fillChoiceList(HWND combo, const wchar_t* const* entries, int count);
// Every setting the pane shows, with its colour.
void displaySettings(PaneRecord* pane);
// Its parts, each drawn alone by the commands that change only it: the
// link fields (PAN ID, destination, channel, serial settings), the slave's
// power save fields (power save and sleep mode, then the flow fields), and
// the flow fields (flow control, RTS and CTS).
void displayLinkFields(PaneRecord* pane);
void displayPowerSaveFields(PaneRecord* pane);
void displayFlowFields(PaneRecord* pane);
// The control of the main dialog that has the focus as a run starts, and
// the focus back there once its result window has closed (a Write
// button's Enter would write: its pane's Read takes it instead).
HWND focusToGiveBack();
void giveFocusBack(HWND control);
HBRUSH onCtlColorStatic(HDC dc, HWND control);
HBRUSH onCtlColorEdit(HDC dc, HWND control);

// While a worker runs, its sessions own the panes: what they show reaches
// the GUI thread as posted copies, which it draws and keeps, and whatever
// reads a pane there (colours, button rules, the menu, the Range Test
// window) reads the copy shown. The pane itself at any other time.
const PaneRecord* paneAsShown(const PaneRecord* pane);
// The main dialog's share of the posted messages; false for others.
bool onPostedDisplay(UINT message, WPARAM wParam, LPARAM lParam);
