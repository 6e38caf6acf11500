// The Range Test window's controls and where they go: rows of choices and
// buttons from the top, the result's lines under them, and the chart in the
// room that is left. Their identifiers are in resources/resource_ids.h.
#pragma once

#include <windows.h>

// The window's font and the heights its rows take from it.
struct RangeLayout {
  HFONT font = nullptr;
  int rowHeight = 0;
  int textHeight = 0;
  int rowsWidth = 0;  // the rows of choices and buttons, whole
};

// The widest of the status line's notices: the window makes room for it.
constexpr wchar_t kRangeNoStartNotice[] =
    L"The test could not start: the system refused a thread or an event.";

// The font the window's texts are drawn in: its own, or the GUI font.
HGDIOBJ rangeFont(const RangeLayout& layout);
int textWidth(HDC dc, const wchar_t* text);
// Makes the window's font and its controls, the choices at their defaults.
void createRangeControls(HWND window, RangeLayout* layout);
// The row heights for the window's font.
void measureRangeRows(HWND window, RangeLayout* layout);
// Places the controls in a client area of width by height (0 by 0: each at
// the width it needs); returns the width they need.
int layOutRangeControls(HWND window, RangeLayout* layout, int width, int height);
// The client height that shows every row and the chart at its height.
int rangeContentHeight(const RangeLayout& layout);
