// The main dialog's buttons and picks, as its WM_COMMAND brings them.
#pragma once

#include <windows.h>

INT_PTR onMainDialogCommand(HWND dialog, WPARAM wParam);
