// The portable layers hold a window as a WindowHandle; Win32 wants an HWND.
#pragma once

#include <windows.h>

#include "link/reset_prompt.h"

inline HWND asWindow(WindowHandle handle) {
  return static_cast<HWND>(handle);
}
