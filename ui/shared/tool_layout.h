// Where the windows that stand beside the dialog go: one table of them,
// which each fills in with its own entry, so that this file knows none by
// name and a new one touches only its own.
#pragma once

#include <windows.h>

#include <cstdint>

enum class ToolPlace : uint8_t {
  Below,   // a strip under the dialog (or the column beside it): the log
  Beside,  // the column beside the dialog: one window at a time
};

// What one wants, in pixels at the display's scaling.
struct ToolWindowNeeds {
  int32_t wholeWidth = 0;  // every line, every row at its width
  int32_t wholeHeight = 0;
  int32_t minWidth = 0;
  int32_t minHeight = 0;
};

struct ToolWindow {
  HWND (*window)();  // null until it is made
  ToolWindowNeeds (*needs)();
  ToolPlace place;
  // Where two are shown for one place, the lower rank has it (the Range
  // Test before the Terminal).
  int32_t rank;
};

// On the GUI thread, before the window first shows; again is harmless.
void addToolWindow(const ToolWindow& entry);
// Before `showing` shows: it and the others shown go beside the dialog so
// that none covers another (ui/dialog_fit.h); the dialog may move, and get
// shorter to make room below it.
void arrangeToolWindows(HWND dialog, HWND showing);
// Once one is hidden, the dialog takes back the height or the width it gave.
void toolWindowHidden(HWND dialog);
