// Commands beyond the dialog's buttons: entries of the main dialog's system
// menu, each with its key. They live in one table (extra_commands.cpp);
// a new command is a new row there.
#pragma once

#include <windows.h>

// At WM_INITDIALOG: the system menu entries and the accelerator table.
void addExtraCommands(HWND dialog);
// After the button rules: Save Settings is greyed while no pane holds read
// values, Make Pair unless both do, Run Pair unless both have a port
// picked, Unload Settings while no profile is loaded.
void updateExtraCommands();
// In the message loop, before IsDialogMessageW: true when a key of the table
// was turned into its command.
bool translateExtraKeys(MSG* message);
// WM_SYSCOMMAND (wParam & 0xFFF0) or an accelerator's WM_COMMAND: true when
// the identifier was one of the table's (it has run, unless the dialog was
// busy and the command needs it idle).
bool runExtraCommand(HWND dialog, UINT id);
void releaseExtraCommands();
