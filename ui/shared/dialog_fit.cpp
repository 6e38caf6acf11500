#include "ui/shared/dialog_fit.h"

#include <algorithm>

DialogPlacement placeDialog(int32_t width, int32_t height, int32_t barWidth, int32_t barHeight,
                            const ScreenRect& workArea) {
  const int32_t roomWidth = std::max(workArea.right - workArea.left, 0);
  const int32_t roomHeight = std::max(workArea.bottom - workArea.top, 0);
  DialogPlacement p;
  p.verticalBar = height > roomHeight;
  int32_t needWidth = width + (p.verticalBar ? barWidth : 0);
  p.horizontalBar = needWidth > roomWidth;
  int32_t needHeight = height + (p.horizontalBar ? barHeight : 0);
  if (!p.verticalBar && needHeight > roomHeight) {
    p.verticalBar = true;
    needWidth += barWidth;
  }
  const int32_t w = std::min(needWidth, roomWidth);
  const int32_t h = std::min(needHeight, roomHeight);
  p.window.left = workArea.left + (roomWidth - w) / 2;
  p.window.top = workArea.top + (roomHeight - h) / 2;
  p.window.right = p.window.left + w;
  p.window.bottom = p.window.top + h;
  return p;
}

int32_t clampScroll(int32_t position, int32_t page, int32_t content) {
  const int32_t last = std::max(content - page, 0);
  return std::clamp(position, 0, last);
}

int32_t scrollToShow(int32_t position, int32_t page, int32_t content, int32_t start, int32_t end) {
  int32_t target = position;
  if (end - start > page || start < position)
    target = start;
  else if (end > position + page)
    target = end - page;
  return clampScroll(target, page, content);
}

namespace {

int32_t widthOf(const ScreenRect& r) {
  return r.right - r.left;
}

int32_t heightOf(const ScreenRect& r) {
  return r.bottom - r.top;
}

ScreenRect rectAt(int32_t left, int32_t top, int32_t width, int32_t height) {
  return {left, top, left + width, top + height};
}

// Side by side at the dialog's right or left, the Range Test above the log.
ToolWindowPlaces inColumn(const ScreenRect& w, ScreenRect d, const ToolWindowSizes& s, bool log,
                          bool range, int32_t gap) {
  const int32_t need = std::max(log ? s.logWidth : 0, range ? s.rangeWidth : 0);
  const int32_t rightRoom = w.right - d.right - gap, leftRoom = d.left - w.left - gap;
  const bool right = rightRoom >= leftRoom;
  const int32_t slide = std::max(
      std::min(need - std::max(rightRoom, leftRoom), right ? d.left - w.left : w.right - d.right),
      0);
  d.left += right ? -slide : slide;
  d.right += right ? -slide : slide;
  const int32_t columnLeft = right ? d.right + gap : w.left;
  const int32_t columnRight = right ? w.right : d.left - gap;
  const auto place = [&](int32_t width, int32_t top, int32_t height) {
    width = std::min(width, columnRight - columnLeft);
    return rectAt(right ? columnLeft : columnRight - width, top, width, height);
  };
  ToolWindowPlaces p;
  p.dialog = d;
  const int32_t rangeHeight = std::min(s.rangeHeight, heightOf(w));
  int32_t top = std::clamp(d.top, w.top, w.bottom - rangeHeight);
  if (range) {
    if (log)
      top = std::max(w.top, std::min(top, w.bottom - rangeHeight - gap - s.logMinHeight));
    p.range = place(s.rangeWidth, top, rangeHeight);
  }
  if (log) {
    const int32_t logTop = range ? p.range.bottom + gap : d.top;
    const int32_t bottom = std::min(std::max(d.bottom, logTop + s.logMinHeight), w.bottom);
    p.log = place(s.logWidth, logTop, bottom - logTop);
  }
  return p;
}

}  // namespace

ToolWindowPlaces placeToolWindows(const ScreenRect& w, const ScreenRect& dialog,
                                  const ToolWindowSizes& s, bool log, bool range, int32_t gap) {
  const int32_t room = widthOf(w) - widthOf(dialog) - gap;
  const bool stacks = !(log && range) || s.rangeHeight + gap + s.logMinHeight <= heightOf(w);
  if ((!log || room >= s.logWidth) && (!range || room >= s.rangeMinWidth) && stacks)
    return inColumn(w, dialog, s, log, range, gap);
  // The strip: the dialog at the top left, as high as the Range Test (and at
  // least two thirds of the work area), narrower only if the Range Test
  // would not fit beside it at its smallest.
  ToolWindowPlaces p;
  const int32_t height = heightOf(w);
  const int32_t top = log ? std::clamp(std::max(range ? s.rangeHeight : 0, height * 2 / 3), 0,
                                       std::max(height - gap - s.logMinHeight, 0))
                          : std::min(heightOf(dialog), height);
  const int32_t rangeWidth = range ? std::min(s.rangeWidth, std::max(room, s.rangeMinWidth)) : 0;
  const int32_t dialogWidth =
      std::min(widthOf(dialog), widthOf(w) - (range ? gap + rangeWidth : 0));
  p.dialog = rectAt(w.left, w.top, dialogWidth, log ? top : std::min(heightOf(dialog), height));
  if (range)
    p.range = rectAt(w.right - rangeWidth, w.top, rangeWidth, std::min(s.rangeHeight, top));
  if (log)
    p.log = {w.left, w.top + top + gap, w.right, w.bottom};
  return p;
}
