// Commands beyond the dialog's buttons: entries of the main dialog's system
// menu, each with its key. They live in one table (extra_commands.cpp);
// a new command is a new row there.
#pragma once

#include <windows.h>

// System menu identifiers are multiples of 16 below 0xF000 (the system's own).
constexpr UINT kCommandLineLog = 0x0130;

// At WM_INITDIALOG: the system menu entries and the accelerator table.
void addExtraCommands(HWND dialog);
// In the message loop, before IsDialogMessageW: true when a key of the table
// was turned into its command.
bool translateExtraKeys(MSG* message);
// WM_SYSCOMMAND (wParam & 0xFFF0) or an accelerator's WM_COMMAND: true when
// the identifier was one of the table's and has run.
bool runExtraCommand(HWND dialog, UINT id);
void releaseExtraCommands();
