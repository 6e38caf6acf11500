// The windows that stand beside the dialog: the line log, the range test.
#pragma once

#include <windows.h>

// A control of one of them, in the font given (null: the GUI's default font).
HWND makeToolChild(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int id,
                   HFONT font = nullptr);
// A font of pixelsAt96Dpi at the display's scaling, in the face given.
HFONT createScaledFont(LONG pixelsAt96Dpi, BYTE pitchAndFamily, const wchar_t* face);
// The face of the lines a module sent: each character as wide as the next.
HFONT createLineFont();

// Their class: the program's icon, the dialog's face colour. Registered
// once; true when it is there.
bool registerToolWindowClass(const wchar_t* name, WNDPROC procedure);

// Before one of them shows: it and the other one, if shown, go beside the
// dialog so that none covers another (ui/dialog_fit.h); the dialog may move,
// and get shorter to make room for the log below it. The Terminal takes the
// Range Test's place where no Range Test window is shown.
void arrangeToolWindows(HWND dialog, bool showingLog, bool showingRange,
                        bool showingTerminal = false);
// Once one is hidden, the dialog takes back the height it gave the log, or
// the width it gave the Range Test or the Terminal.
void toolWindowHidden(HWND dialog);
