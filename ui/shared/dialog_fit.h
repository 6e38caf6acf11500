// Where the main dialog goes on its monitor and how far it scrolls: plain
// arithmetic on pixels, so that it is tested without a screen.
#pragma once

#include <cstdint>

struct ScreenRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

struct DialogPlacement {
  ScreenRect window;
  bool verticalBar = false;
  bool horizontalBar = false;
};

// A window of width x height (the whole layout) in the work area: centred
// as it is where it fits; where it does not, as large as the work area in
// that direction, with a scroll bar for it (a bar takes barWidth or
// barHeight of the client area, which may call for the other bar).
DialogPlacement placeDialog(int32_t width, int32_t height, int32_t barWidth, int32_t barHeight,
                            const ScreenRect& workArea);

// A scroll position kept within 0 .. content - page.
int32_t clampScroll(int32_t position, int32_t page, int32_t content);
// The position, moved as little as possible, at which start .. end (in
// content coordinates) is in the page; a part longer than the page shows
// its start.
int32_t scrollToShow(int32_t position, int32_t page, int32_t content, int32_t start, int32_t end);

// ---- the line log and the Range Test window beside it ----------------------

// Whole frames, in pixels.
struct ToolWindowSizes {
  int32_t logWidth = 0;  // its longest kind of line (a range packet's) whole
  int32_t logMinHeight = 0;
  int32_t rangeWidth = 0;  // every row at its width
  int32_t rangeHeight = 0;
  int32_t rangeMinWidth = 0;
};

struct ToolWindowPlaces {
  ScreenRect dialog;  // may be moved, and made shorter: it then scrolls
  ScreenRect log;
  ScreenRect range;
};

// The dialog (where it stands, as large as placeDialog makes it) and the
// tool windows shown, none over another: both in a column on one side of the
// dialog, which moves toward the other edge to make room; where the column
// cannot hold the log whole, the Range Test stands beside the dialog's top
// and the log in a strip along the bottom of the work area under both.
ToolWindowPlaces placeToolWindows(const ScreenRect& workArea, const ScreenRect& dialog,
                                  const ToolWindowSizes& sizes, bool logShown, bool rangeShown,
                                  int32_t gap);
