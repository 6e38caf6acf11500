// The main dialog on its monitor: whole and centred in the work area where
// it fits, otherwise as large as the work area, with scroll bars, the wheel
// scrolling it and the focused control kept in view.
#pragma once

#include <windows.h>

#include "ui/shared/dialog_fit.h"

void fitMainDialog(HWND dialog);
// Where it stands, at the size fitMainDialog gives it (ui/dialog_fit.h).
ScreenRect mainDialogWholePlace(HWND dialog);
// Into that rectangle, with scroll bars where the layout does not fit.
void fitMainDialogIn(HWND dialog, const ScreenRect& area);
// The work area of the window's monitor.
ScreenRect workAreaOfWindow(HWND window);
void onMainDialogScroll(HWND dialog, int bar, WPARAM request);
// From the message loop: a wheel over the scrolling dialog scrolls it;
// true when it took the message.
bool scrollMainDialogByWheel(const MSG* message);
// From the message loop, after each message: a control that took the
// focus by the keyboard is scrolled into view.
void keepFocusInView(const MSG* message);
