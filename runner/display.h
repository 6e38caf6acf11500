// Sizes and fonts at the display's scaling, for every window of the program:
// the progress dialog's and the ones above it.
#pragma once

#include <windows.h>

#include "runner/operation_run.h"

// Lowers the description's height, a pixel at a time, until text drawn in it
// fits the control's client area: the described font is the largest, and
// what fits depends on the fonts of the system it runs on.
void fitFontToText(HWND control, LOGFONTW* description, const wchar_t* text);
// A size in pixels at 96 DPI, as many pixels on the display: the dialogs
// grow with the display's DPI, and fonts sized in pixels must grow with them.
LONG pixelsOnDisplay(LONG pixelsAt96Dpi);
// A described font before it is fitted: its height at the display's
// scaling, drawn in characters as the description asks.
LOGFONTW describedFont(LONG pixelsAt96Dpi, LONG weight, BYTE pitchAndFamily);
// Gives one static control a font of its own; 1 when it is in place.
int applyFont(FontHolder* holder, HWND control, const LOGFONTW* description);
void releaseFont(FontHolder* holder, HWND control);
// Deletes a font still held after its control is gone (a dialog that ended
// without passing through its own release).
void discardFont(FontHolder* holder);
