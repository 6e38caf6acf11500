// Where the line log and the Range Test window go beside the main dialog.
#include <algorithm>

#include "runner/runner.h"
#include "ui/dialog_fit.h"
#include "ui/line_log_window.h"
#include "ui/range_test_window.h"
#include "ui/scroll_view.h"
#include "ui/terminal_window.h"
#include "ui/tool_window.h"

namespace {

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

}  // namespace

void arrangeToolWindows(HWND dialog, bool showingLog, bool showingRange, bool showingTerminal) {
  HWND log = lineLogWindow(), range = rangeTestWindow();
  const bool withLog = showingLog || shown(log);
  bool withRange = showingRange || shown(range);
  if (!dialog || IsIconic(dialog))
    return;
  ToolWindowSizes sizes;
  sizes.logWidth = lineLogWholeLineWidth();
  sizes.logMinHeight = lineLogMinHeight();
  SIZE whole = rangeTestWholeSize();
  sizes.rangeMinWidth = rangeTestMinWidth();
  if (!withRange && (showingTerminal || shown(terminalWindow()))) {
    range = terminalWindow();
    withRange = true;
    whole = terminalWholeSize();
    sizes.rangeMinWidth = terminalMinWidth();
  }
  sizes.rangeWidth = whole.cx;
  sizes.rangeHeight = whole.cy;
  const ToolWindowPlaces p =
      placeToolWindows(workAreaOfWindow(dialog), mainDialogWholePlace(dialog), sizes,
                       withLog && log, withRange && range, pixelsOnDisplay(8));
  if (!samePlace(p.dialog, placeOf(dialog)))
    fitMainDialogIn(dialog, p.dialog);
  if (withLog && log)
    moveTo(log, p.log);
  if (withRange && range)
    moveTo(range, p.range);
}

void toolWindowHidden(HWND dialog) {
  if (!dialog || IsIconic(dialog))
    return;
  // What the log took of its height and the Range Test of its width, back.
  const ScreenRect now = placeOf(dialog), whole = mainDialogWholePlace(dialog);
  ScreenRect next = whole;
  if (shown(rangeTestWindow()) || shown(terminalWindow()))
    next.right = std::min(whole.right, whole.left + (now.right - now.left));
  if (shown(lineLogWindow()))
    next.bottom = std::min(whole.bottom, whole.top + (now.bottom - now.top));
  if (!samePlace(next, now))
    fitMainDialogIn(dialog, next);
}
