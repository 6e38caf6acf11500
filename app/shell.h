// The process's frame: hidden top-level window, message loop, the main
// dialog's creation and teardown, the shared GDI objects and message boxes.
#pragma once

#include <windows.h>

extern HWND mainWindow;  // hidden, class "NlConf"
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

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HWND createMainDialog(HWND owner);
INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void destroyMainDialog(HWND dialog);

// Every box text is formatted into this many characters, terminator
// included; a longer text is cut and ends in "..." (app/text_format.h).
constexpr int kMessageBufferChars = 4096;
int showMessage(HWND owner, UINT type, const wchar_t* caption, const wchar_t* format, ...);
// Warning box without owner: the formatted operation name, the thread's last
// error number and its system text, or "(no description)" when it has none.
void reportStartupFailure(const wchar_t* caption, const wchar_t* format, ...);
// Library loads by name look in the system folder only, from now on; call
// first thing, before anything loads a library.
void restrictLibrarySearchToSystem();
// A system library from the system folder, never from the program's folder
// or the current directory. Null on failure, with the last error set.
HMODULE loadSystemLibrary(const wchar_t* name);

// showError is declared with the view hooks (module/view_hooks.h); this is
// its information box, for news that is no fault.
int showInfo(const wchar_t* format, ...);
