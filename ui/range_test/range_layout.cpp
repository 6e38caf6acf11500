#include "ui/range_test/range_layout.h"

#include <initializer_list>

#include "resources/resource_ids.h"
#include "runner/display.h"
#include "ui/shared/tool_window.h"

namespace {

namespace words {
constexpr wchar_t way[] = L"Way:";
constexpr wchar_t bothHere[] = L"Both modules here";
constexpr wchar_t loopback[] = L"Far module with loopback plug";
constexpr wchar_t packets[] = L"Packets each way:";
constexpr wchar_t untilStop[] = L"Until Stop";
constexpr wchar_t size[] = L"Bytes a packet:";
constexpr wchar_t start[] = L"Start";
constexpr wchar_t stop[] = L"Stop";
constexpr wchar_t copy[] = L"Copy";
constexpr wchar_t close[] = L"Close";
constexpr wchar_t chart[] = L"Received of the last 10 packets, per direction:";
// The widest a direction's line gets at the most packets the field takes.
constexpr wchar_t widestLine[] =
    L"COM10 to COM11: sent 1000000, received 1000000, lost 1000000, corrupted 1000000, "
    L"received 100.0 %";
}  // namespace words

HWND makeChild(HWND window, const RangeLayout& layout, const wchar_t* className,
               const wchar_t* text, DWORD style, int id) {
  return makeToolChild(window, className, text, style, id, static_cast<HFONT>(rangeFont(layout)));
}

// The main dialog's face at the display's scaling, as its template asks.
HFONT createFont() {
  return createScaledFont(11, DEFAULT_PITCH, L"MS Shell Dlg");
}

int widthOf(HWND window, const RangeLayout& layout, int id, int extra) {
  HWND control = GetDlgItem(window, id);
  HDC dc = GetDC(control);
  HGDIOBJ before = SelectObject(dc, rangeFont(layout));
  wchar_t text[128] = {};
  GetWindowTextW(control, text, 128);
  const int width = textWidth(dc, text);
  SelectObject(dc, before);
  ReleaseDC(control, dc);
  return width + pixelsOnDisplay(extra);
}

}  // namespace

HGDIOBJ rangeFont(const RangeLayout& layout) {
  return layout.font ? layout.font : GetStockObject(DEFAULT_GUI_FONT);
}

int textWidth(HDC dc, const wchar_t* text) {
  SIZE size{};
  GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
  return size.cx;
}

void createRangeControls(HWND window, RangeLayout* layout) {
  layout->font = createFont();
  const DWORD label = SS_LEFT | SS_NOPREFIX, tab = WS_TABSTOP;
  makeChild(window, *layout, L"Static", words::way, label, IDC_RANGE_WAY_LABEL);
  makeChild(window, *layout, L"Button", words::bothHere, BS_AUTORADIOBUTTON | WS_GROUP | tab,
            IDC_RANGE_BOTH);
  makeChild(window, *layout, L"Button", words::loopback, BS_AUTORADIOBUTTON, IDC_RANGE_LOOPBACK);
  makeChild(window, *layout, L"Static", words::packets, label | WS_GROUP, IDC_RANGE_COUNT_LABEL);
  makeChild(window, *layout, L"Edit", L"100", WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL | tab,
            IDC_RANGE_COUNT);
  makeChild(window, *layout, L"Button", words::untilStop, BS_AUTOCHECKBOX | tab,
            IDC_RANGE_UNTIL_STOP);
  makeChild(window, *layout, L"Static", words::size, label, IDC_RANGE_SIZE_LABEL);
  makeChild(window, *layout, L"Edit", L"32", WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL | tab,
            IDC_RANGE_SIZE);
  makeChild(window, *layout, L"Button", words::start, BS_DEFPUSHBUTTON | tab, IDOK);
  makeChild(window, *layout, L"Button", words::stop, BS_PUSHBUTTON | tab, IDC_RANGE_STOP);
  makeChild(window, *layout, L"Button", words::copy, BS_PUSHBUTTON | tab, IDC_RANGE_COPY);
  makeChild(window, *layout, L"Button", words::close, BS_PUSHBUTTON | tab, IDCANCEL);
  for (int id : {IDC_RANGE_STATUS, IDC_RANGE_FIRST_LINE, IDC_RANGE_SECOND_LINE,
                 IDC_RANGE_ROUND_TRIP, IDC_RANGE_PAIR_LINE})
    makeChild(window, *layout, L"Static", L"", label, id);
  makeChild(window, *layout, L"Static", words::chart, label, IDC_RANGE_CHART_LABEL);
  makeChild(window, *layout, L"Static", L"", SS_OWNERDRAW, IDC_RANGE_CHART);
  CheckRadioButton(window, IDC_RANGE_BOTH, IDC_RANGE_LOOPBACK, IDC_RANGE_BOTH);
  SendDlgItemMessageW(window, IDC_RANGE_COUNT, EM_LIMITTEXT, 7, 0);
  SendDlgItemMessageW(window, IDC_RANGE_SIZE, EM_LIMITTEXT, 3, 0);
}

void measureRangeRows(HWND window, RangeLayout* layout) {
  HDC dc = GetDC(window);
  HGDIOBJ before = SelectObject(dc, rangeFont(*layout));
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, before);
  ReleaseDC(window, dc);
  layout->textHeight = metrics.tmHeight;
  layout->rowHeight = metrics.tmHeight + pixelsOnDisplay(8);
}

int layOutRangeControls(HWND window, RangeLayout* layout, int width, int height) {
  const int m = pixelsOnDisplay(8), gap = pixelsOnDisplay(6), h = layout->rowHeight;
  const int boxExtra = 24;  // a radio or check box's mark and its spacing
  int x = m, y = m, widest = 0;
  const auto place = [&](int id, int w) {
    MoveWindow(GetDlgItem(window, id), x, y, w, h, TRUE);
    x += w + gap;
    widest = x - gap + m > widest ? x - gap + m : widest;
  };
  const auto nextRow = [&] {
    x = m;
    y += h + gap;
  };
  place(IDC_RANGE_WAY_LABEL, widthOf(window, *layout, IDC_RANGE_WAY_LABEL, 4));
  place(IDC_RANGE_BOTH, widthOf(window, *layout, IDC_RANGE_BOTH, boxExtra));
  place(IDC_RANGE_LOOPBACK, widthOf(window, *layout, IDC_RANGE_LOOPBACK, boxExtra));
  nextRow();
  place(IDC_RANGE_COUNT_LABEL, widthOf(window, *layout, IDC_RANGE_COUNT_LABEL, 4));
  place(IDC_RANGE_COUNT, pixelsOnDisplay(64));
  place(IDC_RANGE_UNTIL_STOP, widthOf(window, *layout, IDC_RANGE_UNTIL_STOP, boxExtra));
  place(IDC_RANGE_SIZE_LABEL, widthOf(window, *layout, IDC_RANGE_SIZE_LABEL, 4));
  place(IDC_RANGE_SIZE, pixelsOnDisplay(40));
  nextRow();
  for (int id : {int(IDOK), IDC_RANGE_STOP, IDC_RANGE_COPY, int(IDCANCEL)}) {
    const int w = widthOf(window, *layout, id, 16);
    place(id, w > pixelsOnDisplay(80) ? w : pixelsOnDisplay(80));
  }
  nextRow();
  layout->rowsWidth = widest;
  HDC dc = GetDC(window);
  HGDIOBJ before = SelectObject(dc, rangeFont(*layout));
  const int lineWidth = textWidth(dc, words::widestLine) + pixelsOnDisplay(8);
  const int noticeWidth = textWidth(dc, kRangeNoStartNotice) + pixelsOnDisplay(8);
  SelectObject(dc, before);
  ReleaseDC(window, dc);
  const int needed = lineWidth > noticeWidth ? lineWidth : noticeWidth;
  widest = needed + 2 * m > widest ? needed + 2 * m : widest;
  // In a window narrower than the widest line, the lines wrap in their room.
  const int full = (width > 0 ? width : widest) - 2 * m;
  // A direction's line may wrap once (late and duplicated lines, counts in
  // the millions), the pair's twice (long node identifiers, a narrow
  // window): they have that many lines' room, the others one row.
  for (int id : {IDC_RANGE_STATUS, IDC_RANGE_PAIR_LINE, IDC_RANGE_FIRST_LINE, IDC_RANGE_SECOND_LINE,
                 IDC_RANGE_ROUND_TRIP, IDC_RANGE_CHART_LABEL}) {
    const int lines = id == IDC_RANGE_PAIR_LINE                                   ? 3
                      : id == IDC_RANGE_FIRST_LINE || id == IDC_RANGE_SECOND_LINE ? 2
                                                                                  : 0;
    MoveWindow(GetDlgItem(window, id), x, y, full, lines ? lines * layout->textHeight : h, TRUE);
    y += (lines ? lines * layout->textHeight : h) + gap;
  }
  const int chartHeight = height - m - y;
  const int smallest = pixelsOnDisplay(120);
  MoveWindow(GetDlgItem(window, IDC_RANGE_CHART), m, y, full,
             chartHeight > smallest ? chartHeight : smallest, TRUE);
  return widest;
}

int rangeContentHeight(const RangeLayout& layout) {
  const int m = pixelsOnDisplay(8), gap = pixelsOnDisplay(6);
  return m + 6 * (layout.rowHeight + gap) + 7 * layout.textHeight + 3 * gap + pixelsOnDisplay(180) +
         m;
}
