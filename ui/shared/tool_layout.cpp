#include "ui/shared/tool_layout.h"

#include <algorithm>

#include "runner/display.h"
#include "ui/shared/dialog_fit.h"
#include "ui/shared/scroll_view.h"

namespace {

constexpr int32_t kMaxToolWindows = 8;
// GUI thread only.
ToolWindow toolWindows[kMaxToolWindows];
int32_t toolWindowCount = 0;

ScreenRect placeOf(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return {r.left, r.top, r.right, r.bottom};
}

bool shown(HWND window) {
  return window && IsWindowVisible(window);
}

void moveTo(HWND window, const ScreenRect& r) {
  SetWindowPos(window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

bool samePlace(const ScreenRect& a, const ScreenRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The window a place holds: the first by rank of those shown or showing.
const ToolWindow* holderOf(ToolPlace place, HWND showing) {
  for (int32_t i = 0; i < toolWindowCount; ++i) {
    const ToolWindow& entry = toolWindows[i];
    HWND window = entry.window();
    if (entry.place == place && window && (window == showing || shown(window)))
      return &entry;
  }
  return nullptr;
}

}  // namespace

void addToolWindow(const ToolWindow& entry) {
  for (int32_t i = 0; i < toolWindowCount; ++i)
    if (toolWindows[i].window == entry.window)
      return;
  if (toolWindowCount == kMaxToolWindows)
    return;
  int32_t at = toolWindowCount++;
  for (; at > 0 && toolWindows[at - 1].rank > entry.rank; --at)
    toolWindows[at] = toolWindows[at - 1];
  toolWindows[at] = entry;
}

void arrangeToolWindows(HWND dialog, HWND showing) {
  if (!dialog || IsIconic(dialog))
    return;
  const ToolWindow* below = holderOf(ToolPlace::Below, showing);
  const ToolWindow* beside = holderOf(ToolPlace::Beside, showing);
  ToolWindowSizes sizes;
  if (below) {
    const ToolWindowNeeds n = below->needs();
    sizes.logWidth = n.wholeWidth;
    sizes.logMinHeight = n.minHeight;
  }
  if (beside) {
    const ToolWindowNeeds n = beside->needs();
    sizes.rangeWidth = n.wholeWidth;
    sizes.rangeHeight = n.wholeHeight;
    sizes.rangeMinWidth = n.minWidth;
  }
  const ToolWindowPlaces p =
      placeToolWindows(workAreaOfWindow(dialog), mainDialogWholePlace(dialog), sizes, below, beside,
                       pixelsOnDisplay(8));
  if (!samePlace(p.dialog, placeOf(dialog)))
    fitMainDialogIn(dialog, p.dialog);
  if (below)
    moveTo(below->window(), p.log);
  if (beside)
    moveTo(beside->window(), p.range);
}

void toolWindowHidden(HWND dialog) {
  if (!dialog || IsIconic(dialog))
    return;
  // What the windows below took of its height and those beside of its width, back.
  const ScreenRect now = placeOf(dialog), whole = mainDialogWholePlace(dialog);
  ScreenRect next = whole;
  if (holderOf(ToolPlace::Beside, nullptr))
    next.right = std::min(whole.right, whole.left + (now.right - now.left));
  if (holderOf(ToolPlace::Below, nullptr))
    next.bottom = std::min(whole.bottom, whole.top + (now.bottom - now.top));
  if (!samePlace(next, now))
    fitMainDialogIn(dialog, next);
}
