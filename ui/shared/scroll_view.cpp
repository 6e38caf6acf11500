// The main dialog on small or scaled screens: placed in its monitor's work
// area, and scrolled where the whole layout does not fit it.
#include "ui/shared/scroll_view.h"

#include <algorithm>

#include "ui/shared/dialog_fit.h"
#include "ui/shared/shell_services.h"

namespace {

struct ScrollView {
  HWND dialog = nullptr;
  int32_t x = 0;
  int32_t y = 0;
  int32_t contentWidth = 0;
  int32_t contentHeight = 0;
  int wheelRest = 0;
  HWND lastFocus = nullptr;
};
ScrollView view;

// Dialog units, so that a step keeps its size at every scaling.
constexpr int kLineUnits = 8;
constexpr int kFocusMarginUnits = 4;

ScreenRect workAreaOf(HWND window) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
  RECT area = info.rcWork;
  // Both name the primary monitor's work area on Windows; Wine keeps one
  // set by SystemParametersInfo apart from the monitor's, so take both.
  RECT primary{};
  if ((info.dwFlags & MONITORINFOF_PRIMARY) &&
      SystemParametersInfoW(SPI_GETWORKAREA, 0, &primary, 0))
    IntersectRect(&area, &area, &primary);
  return {area.left, area.top, area.right, area.bottom};
}

int dialogUnitsToPixels(HWND dialog, int units) {
  RECT r{0, 0, units, units};
  MapDialogRect(dialog, &r);
  return std::max<int>(r.bottom, 1);
}

void setBar(HWND dialog, int bar, int32_t position, int32_t page, int32_t content) {
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  info.nMax = content - 1;
  info.nPage = static_cast<UINT>(page);
  info.nPos = position;
  SetScrollInfo(dialog, bar, &info, TRUE);
}

SIZE page(HWND dialog) {
  RECT client{};
  GetClientRect(dialog, &client);
  return {client.right, client.bottom};
}

void scrollTo(int32_t x, int32_t y) {
  const SIZE p = page(view.dialog);
  x = clampScroll(x, p.cx, view.contentWidth);
  y = clampScroll(y, p.cy, view.contentHeight);
  const int dx = view.x - x;
  const int dy = view.y - y;
  if (dx == 0 && dy == 0)
    return;
  view.x = x;
  view.y = y;
  ScrollWindowEx(view.dialog, dx, dy, nullptr, nullptr, nullptr, nullptr, SW_SCROLLCHILDREN);
  if (dx != 0)
    SetScrollPos(view.dialog, SB_HORZ, x, TRUE);
  if (dy != 0)
    SetScrollPos(view.dialog, SB_VERT, y, TRUE);
  // Group boxes paint through to the dialog: moved bits would leave
  // pieces of their frames behind.
  RedrawWindow(view.dialog, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

bool scrolls() {
  if (!IsWindow(view.dialog))
    return false;
  const SIZE p = page(view.dialog);
  return p.cx < view.contentWidth || p.cy < view.contentHeight;
}

}  // namespace

namespace {

// The whole layout's frame and client, as the template made them before
// any bar.
SIZE wholeFrame{};

DialogPlacement placeIn(const ScreenRect& area) {
  return placeDialog(wholeFrame.cx, wholeFrame.cy, GetSystemMetrics(SM_CXVSCROLL),
                     GetSystemMetrics(SM_CYHSCROLL), area);
}

void applyPlacement(HWND dialog, const DialogPlacement& p) {
  scrollTo(0, 0);  // the bars start again from the top left
  const ScreenRect& r = p.window;
  SetWindowPos(dialog, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  ShowScrollBar(dialog, SB_VERT, p.verticalBar);
  ShowScrollBar(dialog, SB_HORZ, p.horizontalBar);
  const SIZE shown = page(dialog);
  if (p.verticalBar)
    setBar(dialog, SB_VERT, 0, shown.cy, view.contentHeight);
  if (p.horizontalBar)
    setBar(dialog, SB_HORZ, 0, shown.cx, view.contentWidth);
}

}  // namespace

void fitMainDialog(HWND dialog) {
  if (view.dialog != dialog) {
    view = ScrollView{};
    view.dialog = dialog;
    RECT window{};
    GetWindowRect(dialog, &window);
    wholeFrame = {window.right - window.left, window.bottom - window.top};
    const SIZE whole = page(dialog);
    view.contentWidth = whole.cx;
    view.contentHeight = whole.cy;
  }
  applyPlacement(dialog, placeIn(workAreaOf(dialog)));
}

ScreenRect mainDialogWholePlace(HWND dialog) {
  const ScreenRect work = workAreaOf(dialog);
  const ScreenRect fitted = placeIn(work).window;
  RECT now{};
  GetWindowRect(dialog, &now);
  const int32_t w = fitted.right - fitted.left, h = fitted.bottom - fitted.top;
  const int32_t left = std::clamp<int32_t>(now.left, work.left, work.right - w);
  const int32_t top = std::clamp<int32_t>(now.top, work.top, work.bottom - h);
  return {left, top, left + w, top + h};
}

void fitMainDialogIn(HWND dialog, const ScreenRect& area) {
  if (view.dialog == dialog)
    applyPlacement(dialog, placeIn(area));
}

ScreenRect workAreaOfWindow(HWND window) {
  return workAreaOf(window);
}

void onMainDialogScroll(HWND dialog, int bar, WPARAM request) {
  if (dialog != view.dialog)
    return;
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_ALL;
  GetScrollInfo(dialog, bar, &info);
  const int line = dialogUnitsToPixels(dialog, kLineUnits);
  const int pageSize = static_cast<int>(info.nPage);
  int position = info.nPos;
  switch (LOWORD(request)) {
    case SB_LINEUP:
      position -= line;
      break;
    case SB_LINEDOWN:
      position += line;
      break;
    case SB_PAGEUP:
      position -= pageSize;
      break;
    case SB_PAGEDOWN:
      position += pageSize;
      break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
      position = info.nTrackPos;
      break;
    case SB_TOP:
      position = 0;
      break;
    case SB_BOTTOM:
      position = info.nMax;
      break;
    default:
      return;
  }
  if (bar == SB_VERT)
    scrollTo(view.x, position);
  else
    scrollTo(position, view.y);
}

bool scrollMainDialogByWheel(const MSG* message) {
  const bool vertical = message->message == WM_MOUSEWHEEL;
  if ((!vertical && message->message != WM_MOUSEHWHEEL) || !IsWindow(view.dialog))
    return false;
  if (message->hwnd != view.dialog && !IsChild(view.dialog, message->hwnd))
    return false;
  // Without a scroll bar the wheel keeps its usual meaning (a focused list
  // steps through its entries); with one it scrolls, so that a value never
  // changes while the user means to move the dialog.
  if (!scrolls())
    return false;
  view.wheelRest += GET_WHEEL_DELTA_WPARAM(message->wParam);
  const int notches = view.wheelRest / WHEEL_DELTA;
  view.wheelRest %= WHEEL_DELTA;
  UINT lines = 3;
  SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
  const int step = notches * static_cast<int>(std::min<UINT>(lines, 20)) *
                   dialogUnitsToPixels(view.dialog, kLineUnits);
  const SIZE p = page(view.dialog);
  // Only a horizontal bar: the wheel moves along it.
  if (vertical && p.cy >= view.contentHeight)
    scrollTo(view.x - step, view.y);
  else if (vertical)
    scrollTo(view.x, view.y - step);
  else
    scrollTo(view.x + step, view.y);
  return true;
}

void keepFocusInView(const MSG* message) {
  const HWND focus = GetFocus();
  if (focus == view.lastFocus)
    return;
  view.lastFocus = focus;
  // A click gives the focus where the user sees it: moving the control
  // then would pull it from under the mouse (and from its open list).
  const bool byMouse =
      (message->message >= WM_MOUSEFIRST && message->message <= WM_MOUSELAST) ||
      (message->message >= WM_NCMOUSEMOVE && message->message <= WM_NCMBUTTONDBLCLK);
  if (byMouse || !focus || !IsWindow(view.dialog) || !IsChild(view.dialog, focus) || !scrolls())
    return;
  RECT r{};
  GetWindowRect(focus, &r);
  MapWindowPoints(nullptr, view.dialog, reinterpret_cast<POINT*>(&r), 2);
  const int margin = dialogUnitsToPixels(view.dialog, kFocusMarginUnits);
  const SIZE p = page(view.dialog);
  scrollTo(scrollToShow(view.x, p.cx, view.contentWidth, r.left + view.x - margin,
                        r.right + view.x + margin),
           scrollToShow(view.y, p.cy, view.contentHeight, r.top + view.y - margin,
                        r.bottom + view.y + margin));
}
