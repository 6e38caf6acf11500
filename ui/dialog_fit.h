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
