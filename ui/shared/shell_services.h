// What the dialogs and the windows beside them share: the main dialog's
// handle and the GDI objects made with it, the message boxes, the keys of a
// result window just closed, whole paths and system library loading.
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

// The caption of the program's message boxes and questions.
constexpr wchar_t kDialogCaption[] = L"NLCONF";

// Room for a file's path, terminator included, wherever the program keeps one.
constexpr DWORD kPathChars = 4096;
// The path made whole against the current folder (the one NLCONF was
// started in); as it was when the system cannot. whole holds kPathChars.
void wholePath(const wchar_t* path, wchar_t* whole);

// Every box text is formatted into this many characters, terminator
// included; a longer text is cut and ends in "..." (ui/text_format.h).
constexpr int kMessageBufferChars = 4096;
// A run's details, and what is said of its record, in as many characters.
constexpr int kDetailsChars = 1024;
int showMessage(HWND owner, UINT type, const wchar_t* caption, const wchar_t* format, ...);
// showError is declared with the view hooks (module/view_hooks.h); this is
// its information box, for news that is no fault.
int showInfo(const wchar_t* format, ...);
// A result window closed: the keys that closed it, typed ahead or pressed
// again within the double-click time, are kept from the main dialog.
void noteResultWindowClosed();
// For the message loop: a key the main dialog must not act on, one that
// belongs to a result window just closed or a held Enter's repeat.
bool strayKey(const MSG* message);

// A system library from the system folder, never from the program's folder
// or the current directory. Null on failure, with the last error set.
HMODULE loadSystemLibrary(const wchar_t* name);
