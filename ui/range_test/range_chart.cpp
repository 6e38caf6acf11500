#include "ui/range_test/range_chart.h"

#include <initializer_list>
#include <string>

#include "runner/display.h"

namespace {

constexpr COLORREF kTrackColors[2] = {RGB(0, 64, 192), RGB(208, 96, 0)};

void drawScale(HDC dc, const RECT& plot) {
  HPEN grid = CreatePen(PS_SOLID, 1, RGB(200, 200, 200));
  HGDIOBJ before = SelectObject(dc, grid);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  for (int percent : {0, 50, 100}) {
    const int y = plot.bottom - (plot.bottom - plot.top) * percent / 100;
    MoveToEx(dc, plot.left, y, nullptr);
    LineTo(dc, plot.right, y);
    const std::wstring label = std::to_wstring(percent) + L" %";
    SIZE size{};
    GetTextExtentPoint32W(dc, label.c_str(), static_cast<int>(label.size()), &size);
    TextOutW(dc, plot.left - size.cx - pixelsOnDisplay(4), y - size.cy / 2, label.c_str(),
             static_cast<int>(label.size()));
  }
  SelectObject(dc, before);
  DeleteObject(grid);
}

void drawTrack(HDC dc, const RECT& plot, const RangeChartTrack& track, COLORREF color) {
  const uint32_t n = track.pointCount();
  if (n == 0)
    return;
  HPEN pen = CreatePen(PS_SOLID, pixelsOnDisplay(2), color);
  HGDIOBJ before = SelectObject(dc, pen);
  const int width = plot.right - plot.left, height = plot.bottom - plot.top;
  for (uint32_t i = 0; i < n; ++i) {
    const int x = plot.left + static_cast<int>(width * i / (kRangeChartPoints - 1));
    const int y = plot.bottom - static_cast<int>(height * track.pointPercent(i) / 100.0);
    if (i == 0)
      MoveToEx(dc, x, y, nullptr);
    LineTo(dc, n == 1 ? x + 1 : x, y);
  }
  SelectObject(dc, before);
  DeleteObject(pen);
}

// One line per direction under the plot, each in its track's colour.
void drawLegend(HDC dc, const RECT& area, int top, const RangeResult& shown) {
  int x = area.left + pixelsOnDisplay(8);
  for (uint32_t i = 0; i < shown.directionCount && i < 2; ++i) {
    const RangeDirection& d = shown.directions[i];
    const std::wstring label =
        L"COM" + std::to_wstring(d.fromPort) + L" to COM" + std::to_wstring(d.toPort);
    SetTextColor(dc, kTrackColors[i]);
    TextOutW(dc, x, top, label.c_str(), static_cast<int>(label.size()));
    x += textWidth(dc, label.c_str()) + pixelsOnDisplay(24);
  }
}

}  // namespace

void drawRangeChart(const DRAWITEMSTRUCT* draw, const RangeLayout& layout,
                    const RangeChartTrack (&tracks)[2], const RangeResult& shown) {
  HDC dc = draw->hDC;
  RECT area = draw->rcItem;
  FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  FrameRect(dc, &area, GetSysColorBrush(COLOR_BTNSHADOW));
  HGDIOBJ font = SelectObject(dc, rangeFont(layout));
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  const int pad = pixelsOnDisplay(8);
  RECT plot{area.left + pad + textWidth(dc, L"100 %") + pixelsOnDisplay(4),
            area.top + pad + metrics.tmHeight / 2, area.right - pad,
            area.bottom - pad - metrics.tmHeight - pad};
  if (plot.bottom > plot.top + pad && plot.right > plot.left + pad) {
    drawScale(dc, plot);
    for (uint32_t i = 0; i < 2; ++i)
      drawTrack(dc, plot, tracks[i], kTrackColors[i]);
    drawLegend(dc, area, plot.bottom + pad / 2, shown);
  }
  SelectObject(dc, font);
}
