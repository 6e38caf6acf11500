// The process's frame: the hidden top-level window that owns the main
// dialog and ends the loop, and what start-up needs before any dialog.
#pragma once

#include <windows.h>

extern HWND mainWindow;  // hidden, class "NlConf"

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Warning box without owner: the formatted operation name, the thread's last
// error number and its system text, or "(no description)" when it has none.
void reportStartupFailure(const wchar_t* caption, const wchar_t* format, ...);
// Library loads by name look in the system folder only, from now on; call
// first thing, before anything loads a library.
void restrictLibrarySearchToSystem();
