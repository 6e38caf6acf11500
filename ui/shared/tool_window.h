// What the windows that stand beside the dialog share: their controls,
// fonts and class (where they go: ui/tool_layout.h).
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
