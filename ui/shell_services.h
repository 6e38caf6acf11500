// What the dialogs share: the main dialog's creation, routing and teardown,
// the shared GDI objects, the message boxes and system library loading.
#pragma once

#include <windows.h>

extern HWND loopDialog;  // offered every message through IsDialogMessageW
extern HWND dialogOwner;
extern HWND mainDialog;  // set by the dialog's WM_INITDIALOG

extern HICON smallIcon;
extern HICON largeIcon;
extern HCURSOR arrowCursor;
extern HCURSOR waitCursor;
extern COLORREF buttonFaceColor;
extern HBRUSH buttonFaceBrush;
extern COLORREF whiteColor;
extern HBRUSH whiteBrush;

// Room for a file's path, terminator included, wherever the program keeps one.
constexpr DWORD kPathChars = 4096;
// The path made whole against the current folder (the one NLCONF was
// started in); as it was when the system cannot. whole holds kPathChars.
void wholePath(const wchar_t* path, wchar_t* whole);

HWND createMainDialog(HWND owner);
INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void destroyMainDialog(HWND dialog);
// One message of the program's loop: the extra keys, the wheel over the
// scrolling dialog, the dialogs' keyboard, then the window it is for; and
// the focused control kept in view.
void dispatchLoopMessage(MSG* message);

// Every box text is formatted into this many characters, terminator
// included; a longer text is cut and ends in "..." (ui/text_format.h).
constexpr int kMessageBufferChars = 4096;
int showMessage(HWND owner, UINT type, const wchar_t* caption, const wchar_t* format, ...);
// showError is declared with the view hooks (module/view_hooks.h); this is
// its information box, for news that is no fault.
int showInfo(const wchar_t* format, ...);
// A result window closed: the keys that closed it, typed ahead or pressed
// again within the double-click time, are kept from the main dialog.
void noteResultWindowClosed();

// Logoff or shutdown. While an operation runs or a record is kept, the end
// of the session is refused with a reason shown to the user, and a running
// operation is cancelled as Cancel does; the reason goes once nothing holds
// it any more (keepSessionEndReason, after each operation). When the
// session ends all the same, a write stores what it has set and every
// module leaves command mode before the program lets it end.
bool sessionMayEnd();
void keepSessionEndReason();
void endingSession();

// A system library from the system folder, never from the program's folder
// or the current directory. Null on failure, with the last error set.
HMODULE loadSystemLibrary(const wchar_t* name);
