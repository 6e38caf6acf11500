// The main dialog: its creation, its procedure and its end, the program's
// message loop that serves it and the windows beside it, and the end of the
// user's session.
#pragma once

#include <windows.h>

HWND createMainDialog(HWND owner);
INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void destroyMainDialog(HWND dialog);
// One message of the program's loop: the extra keys, the wheel over the
// scrolling dialog, the dialogs' keyboard, then the window it is for; and
// the focused control kept in view.
void dispatchLoopMessage(MSG* message);

// Logoff or shutdown: while an operation runs or a record is kept, the end
// of the session is refused with a reason shown to the user
// (ui/session_end.h), and a running operation is cancelled as Cancel does.
// When the session ends all the same, a write stores what it has set and
// every module leaves command mode before the program lets it end.
bool sessionMayEnd();
void endingSession();
