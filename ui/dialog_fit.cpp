#include "ui/dialog_fit.h"

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
