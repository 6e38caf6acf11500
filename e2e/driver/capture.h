// The pixels of a control as the user sees them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ink.h"

enum class CaptureMethod {
  kScreen,  // BitBlt from the screen: what is on the display
  kPrint,   // PrintWindow: the control asked to paint into our bitmap
};

struct Capture {
  RECT area{};  // screen coordinates of the captured text area
  int width = 0;
  int height = 0;
  std::vector<Rgb> pixels;
  int attempts = 0;  // screen captures until two in a row agreed
  int looks = 0;     // tries until the text area could be seen at all
};

// The control's text area: its client area less a frame's width, and for a
// combo box less the drop-down button. Fails (with the reason) when the
// area is covered by another window, hidden, or not captured, and stays so
// for a few seconds.
bool captureText(HWND control, CaptureMethod method, Capture* capture, std::string* why);
