// The windows that stand beside the dialog: the line log, the range test.
#pragma once

#include <windows.h>

// Their class: the program's icon, the dialog's face colour. Registered
// once; true when it is there.
bool registerToolWindowClass(const wchar_t* name, WNDPROC procedure);
