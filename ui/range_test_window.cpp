#include "ui/range_test_window.h"

#include <process.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "link/line_log.h"
#include "module/range_test.h"
#include "module/received_share.h"
#include "resources/resource_ids.h"
#include "runner/runner.h"
#include "ui/device_changes.h"
#include "ui/pane_view.h"
#include "ui/range_view.h"
#include "ui/session_end.h"
#include "ui/shell_services.h"
#include "ui/tool_window.h"

namespace {

// ---- the window's own words ------------------------------------------------------

namespace words {
constexpr wchar_t caption[] = L"NLCONF - Range Test";
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
constexpr wchar_t ready[] = L"Ready: choose the way and press Start.";
constexpr wchar_t readBoth[] = L"Read both modules first; they must address each other.";
constexpr wchar_t readMaster[] = L"Read the master first; the far module needs no reading.";
constexpr wchar_t busy[] = L"The main dialog is busy: start again once it is free.";
constexpr wchar_t badCount[] = L"Packets each way: a whole number from 1 to 1000000.";
constexpr wchar_t badSize[] = L"Bytes a packet: a whole number from 16 to 100.";
constexpr wchar_t noStart[] = L"The test could not start: the system refused a thread or an event.";
constexpr wchar_t stopping[] = L"Stopping...";
constexpr wchar_t copied[] = L"The result is on the clipboard.";
// The widest a direction's line gets at the most packets the field takes.
constexpr wchar_t widestLine[] =
    L"COM10 to COM11: sent 1000000, received 1000000, lost 1000000, corrupted 1000000, "
    L"received 100.0 %";
}  // namespace words

constexpr wchar_t kClassName[] = L"NlConfRangeTest";
constexpr uint32_t kMostPackets = 1000000;

constexpr UINT kPacketMessage = WM_APP + 1;
constexpr UINT kDoneMessage = WM_APP + 2;

constexpr COLORREF kTrackColors[2] = {RGB(0, 64, 192), RGB(208, 96, 0)};

// What the worker hands over; the window takes it at its own pace.
struct Handover {
  CRITICAL_SECTION lock;
  RangeResult sofar;
  RangeChartTrack tracks[2];
  std::atomic<bool> posted{false};
};

struct RangeWindow {
  HWND window = nullptr;
  HFONT font = nullptr;
  int rowHeight = 0;
  int textHeight = 0;
  HANDLE thread = nullptr;
  HANDLE cancel = nullptr;
  bool running = false;
  bool stopAsked = false;
  bool portLost = false;
  bool hasResult = false;
  bool failureShown = false;  // until the user changes the way or the count
  RangeRun run;
  RangeResult workerResult;  // the worker's until it is joined
  RangeResult shown;
  RangeChartTrack tracks[2];
  std::wstring notice;    // a refusal or a copy, until the next change
  std::wstring pairLine;  // which pair the run measured, and when
  SIZE wholeSize{};
  int rowsWidth = 0;  // the rows of choices and buttons, whole
};

RangeWindow rw;
Handover handover;
bool handoverReady = false;

HWND item(int id) {
  return GetDlgItem(rw.window, id);
}

// ---- what the window shows ----------------------------------------------------------

RangeWay wayPicked() {
  return IsDlgButtonChecked(rw.window, IDC_RANGE_LOOPBACK) == BST_CHECKED ? RangeWay::FarLoopback
                                                                          : RangeWay::BothHere;
}

bool offeredNow() {
  return rangeTestOffered(&paneAsShown(&masterPane)->module, &paneAsShown(&slavePane)->module,
                          wayPicked());
}

std::wstring statusNow() {
  if (rw.running)
    return rw.stopAsked ? words::stopping : rangeStatusLine(rw.shown, rw.run.count, true, false);
  if (!rw.notice.empty())
    return rw.notice;
  // What stopped the last run stays in sight until the user moves on; the
  // panes it emptied would otherwise only say to read them again.
  const bool failed = rw.portLost || (rw.shown.code != 0 && rw.shown.code != ResultCancelled);
  if (!offeredNow() && !(rw.hasResult && rw.failureShown && failed))
    return wayPicked() == RangeWay::BothHere ? words::readBoth : words::readMaster;
  return rw.hasResult ? rangeStatusLine(rw.shown, rw.run.count, false, rw.portLost) : words::ready;
}

void showCounts() {
  const RangeResult& r = rw.shown;
  const int lines[2] = {IDC_RANGE_FIRST_LINE, IDC_RANGE_SECOND_LINE};
  for (uint32_t i = 0; i < 2; ++i) {
    const bool has = (rw.running || rw.hasResult) && i < r.directionCount;
    SetWindowTextW(item(lines[i]), has ? rangeDirectionLine(r.directions[i]).c_str() : L"");
  }
  SetWindowTextW(item(IDC_RANGE_ROUND_TRIP), rangeRoundTripLine(r).c_str());
  SetWindowTextW(item(IDC_RANGE_PAIR_LINE), rw.running || rw.hasResult ? rw.pairLine.c_str() : L"");
  SetWindowTextW(item(IDC_RANGE_STATUS), statusNow().c_str());
  InvalidateRect(item(IDC_RANGE_CHART), nullptr, FALSE);
}

void focusFirstButton() {
  for (int id : {IDC_RANGE_STOP, int(IDOK), IDC_RANGE_COPY, int(IDCANCEL)}) {
    if (IsWindowEnabled(item(id))) {
      SetFocus(item(id));
      return;
    }
  }
}

void showControls() {
  const bool idle = !rw.running;
  for (int id : {IDC_RANGE_BOTH, IDC_RANGE_LOOPBACK, IDC_RANGE_UNTIL_STOP, IDC_RANGE_SIZE})
    EnableWindow(item(id), idle);
  EnableWindow(item(IDC_RANGE_COUNT),
               idle && IsDlgButtonChecked(rw.window, IDC_RANGE_UNTIL_STOP) != BST_CHECKED);
  EnableWindow(item(IDOK), idle && offeredNow());
  EnableWindow(item(IDC_RANGE_STOP), rw.running && !rw.stopAsked);
  EnableWindow(item(IDC_RANGE_COPY), rw.hasResult || rw.running);
  // A disabled control must not keep the keys; a window in the background
  // is left alone, as setting its focus would bring it up.
  HWND focus = GetFocus();
  if (GetActiveWindow() == rw.window && (!focus || !IsWindowEnabled(focus)))
    focusFirstButton();
  showCounts();
}

// ---- the chart ----------------------------------------------------------------

int textWidth(HDC dc, const wchar_t* text) {
  SIZE size{};
  GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
  return size.cx;
}

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
void drawLegend(HDC dc, const RECT& area, int top) {
  int x = area.left + pixelsOnDisplay(8);
  for (uint32_t i = 0; i < rw.shown.directionCount && i < 2; ++i) {
    const RangeDirection& d = rw.shown.directions[i];
    const std::wstring label =
        L"COM" + std::to_wstring(d.fromPort) + L" to COM" + std::to_wstring(d.toPort);
    SetTextColor(dc, kTrackColors[i]);
    TextOutW(dc, x, top, label.c_str(), static_cast<int>(label.size()));
    x += textWidth(dc, label.c_str()) + pixelsOnDisplay(24);
  }
}

void drawChart(const DRAWITEMSTRUCT* draw) {
  HDC dc = draw->hDC;
  RECT area = draw->rcItem;
  FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  FrameRect(dc, &area, GetSysColorBrush(COLOR_BTNSHADOW));
  HGDIOBJ font = SelectObject(dc, rw.font ? rw.font : GetStockObject(DEFAULT_GUI_FONT));
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  const int pad = pixelsOnDisplay(8);
  RECT plot{area.left + pad + textWidth(dc, L"100 %") + pixelsOnDisplay(4),
            area.top + pad + metrics.tmHeight / 2, area.right - pad,
            area.bottom - pad - metrics.tmHeight - pad};
  if (plot.bottom > plot.top + pad && plot.right > plot.left + pad) {
    drawScale(dc, plot);
    for (uint32_t i = 0; i < 2; ++i)
      drawTrack(dc, plot, rw.tracks[i], kTrackColors[i]);
    drawLegend(dc, area, plot.bottom + pad / 2);
  }
  SelectObject(dc, font);
}

// ---- the run --------------------------------------------------------------------

void onPacket(void*, const RangePacket& packet, const RangeResult& sofar) {
  EnterCriticalSection(&handover.lock);
  handover.sofar = sofar;
  if (packet.direction < 2)
    handover.tracks[packet.direction].add(packet.fate == PacketFate::Received);
  LeaveCriticalSection(&handover.lock);
  if (!handover.posted.exchange(true))
    PostMessageW(rw.window, kPacketMessage, 0, 0);
}

unsigned __stdcall rangeWorker(void*) {
  runPaneRangeTest(rw.run, &rw.workerResult, onPacket, nullptr);
  PostMessageW(rw.window, kDoneMessage, 0, 0);
  return 0;
}

void takeHandover() {
  handover.posted = false;
  EnterCriticalSection(&handover.lock);
  rw.shown = handover.sofar;
  rw.tracks[0] = handover.tracks[0];
  rw.tracks[1] = handover.tracks[1];
  LeaveCriticalSection(&handover.lock);
}

// 0 when the field holds a whole number in [low, high].
bool readNumber(int id, uint32_t low, uint32_t high, uint32_t* value) {
  wchar_t text[16] = {};
  GetDlgItemTextW(rw.window, id, text, 16);
  wchar_t* end = nullptr;
  const unsigned long n = std::wcstoul(text, &end, 10);
  if (text[0] < L'0' || text[0] > L'9' || *end != L'\0' || n < low || n > high)
    return false;
  *value = static_cast<uint32_t>(n);
  return true;
}

void refuse(const wchar_t* why, int focusId) {
  rw.notice = why;
  showCounts();
  if (focusId)
    SetFocus(item(focusId));
}

bool readSettings(RangeRun* run) {
  run->way = wayPicked();
  if (IsDlgButtonChecked(rw.window, IDC_RANGE_UNTIL_STOP) == BST_CHECKED)
    run->count = kRangeUntilStopped;
  else if (!readNumber(IDC_RANGE_COUNT, 1, kMostPackets, &run->count))
    return refuse(words::badCount, IDC_RANGE_COUNT), false;
  if (!readNumber(IDC_RANGE_SIZE, kRangeMinSize, kRangeMaxSize, &run->size))
    return refuse(words::badSize, IDC_RANGE_SIZE), false;
  return true;
}

void logRunStart(const RangeRun& run) {
  if (!lineLogActive())
    return;
  char text[96];
  if (run.way == RangeWay::BothHere)
    std::snprintf(text, sizeof text, "Range Test with COM%u started, %u bytes a packet",
                  portNumberShown(&slavePane), run.size);
  else
    std::snprintf(text, sizeof text, "Range Test over a loopback started, %u bytes a packet",
                  run.size);
  logNote(portNumberShown(&masterPane), text);
}

void lendCancelEvent(HANDLE event, RangeWay way) {
  masterPane.cancelEvent = event;
  slavePane.cancelEvent = way == RangeWay::BothHere ? event : nullptr;
}

void startRun() {
  if (rw.thread)
    return;
  rw.notice.clear();
  if (!IsWindowEnabled(mainDialog) || anyOperationRunning())
    return refuse(words::busy, 0);
  RangeRun run;
  if (!readSettings(&run) || !offeredNow())
    return showControls();
  rw.cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!rw.cancel)
    return refuse(words::noStart, 0);
  rw.run = run;
  rw.pairLine = rangePairLine(&masterPane.module, &slavePane.module, run.way, os::localTime());
  rw.shown = RangeResult{};
  rw.shown.way = run.way;
  for (RangeChartTrack& t : rw.tracks)
    t.clear();
  handover.sofar = rw.shown;
  handover.tracks[0].clear();
  handover.tracks[1].clear();
  rw.portLost = rw.stopAsked = rw.hasResult = false;
  lendCancelEvent(rw.cancel, run.way);
  logRunStart(run);
  const uintptr_t thread = _beginthreadex(nullptr, 0, rangeWorker, nullptr, 0, nullptr);
  if (!thread) {
    lendCancelEvent(nullptr, run.way);
    CloseHandle(rw.cancel);
    rw.cancel = nullptr;
    return refuse(words::noStart, 0);
  }
  rw.thread = reinterpret_cast<HANDLE>(thread);
  rw.running = true;
  // Nothing else may use the ports meanwhile.
  EnableWindow(mainDialog, FALSE);
  showControls();
}

void stopRun() {
  if (!rw.running || !rw.cancel)
    return;
  SetEvent(rw.cancel);
  rw.stopAsked = true;
  showControls();
}

// The worker may still be asking the GUI thread for a port list's text.
void joinWorker() {
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &rw.thread, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woken != WAIT_OBJECT_0 + 1)
      break;
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  CloseHandle(rw.thread);
  rw.thread = nullptr;
}

void logRunEnd() {
  const RangeResult& r = rw.workerResult;
  char text[128];
  int n = std::snprintf(text, sizeof text, "Range Test: %s",
                        r.code == 0                 ? "done"
                        : r.code == ResultCancelled ? (rw.portLost ? "a port went away" : "stopped")
                                                    : "failed");
  for (uint32_t i = 0; i < r.directionCount && i < 2 && n > 0 && n < int(sizeof text); ++i) {
    char share[kShareTextChars];
    receivedShareText(r.directions[i], share);
    n += std::snprintf(text + n, sizeof text - size_t(n), ", COM%u to COM%u %s %%",
                       r.directions[i].fromPort, r.directions[i].toPort, share);
  }
  // The pair line is ASCII: the node identifiers' other bytes show as '?'.
  const std::string pair(rw.pairLine.begin(), rw.pairLine.end());
  logNote(portNumberShown(&masterPane), (std::string(text) + "; " + pair).c_str());
}

// Joins the worker and gives the ports and the dialog back.
void endRun() {
  if (!rw.thread)
    return;
  joinWorker();
  rw.portLost = hasDeferredPortChange(&masterPane) ||
                (rw.run.way == RangeWay::BothHere && hasDeferredPortChange(&slavePane));
  lendCancelEvent(nullptr, rw.run.way);
  CloseHandle(rw.cancel);
  rw.cancel = nullptr;
  rw.running = rw.stopAsked = false;
  takeHandover();
  rw.shown = rw.workerResult;
  rw.hasResult = rw.failureShown = true;
  logRunEnd();
  if (mainDialog)
    EnableWindow(mainDialog, TRUE);
  finishDeferredDeviceChanges(&masterPane);
  keepSessionEndReason();
}

// ---- copying --------------------------------------------------------------------

void copyResult() {
  RangeResult r = rw.shown;
  if (rw.running)
    r.code = ResultCancelled;  // what was measured so far, as a stop would leave it
  const std::wstring text = rangeResultText(r, rw.run, rw.portLost, rw.pairLine);
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (!memory)
    return;
  if (void* place = GlobalLock(memory)) {
    std::memcpy(place, text.c_str(), bytes);
    GlobalUnlock(memory);
  }
  if (!OpenClipboard(rw.window)) {
    GlobalFree(memory);
    return;
  }
  EmptyClipboard();
  if (!SetClipboardData(CF_UNICODETEXT, memory))
    GlobalFree(memory);  // the clipboard took it only on success
  CloseClipboard();
  rw.notice = words::copied;
  showCounts();
  rw.notice.clear();
}

// ---- the window --------------------------------------------------------------------

HWND makeChild(const wchar_t* className, const wchar_t* text, DWORD style, int id) {
  HWND child = CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                               rw.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleW(nullptr), nullptr);
  SendMessageW(child, WM_SETFONT,
               reinterpret_cast<WPARAM>(rw.font ? rw.font : GetStockObject(DEFAULT_GUI_FONT)), 0);
  return child;
}

// The main dialog's face at the display's scaling, as its template asks.
HFONT createFont() {
  LOGFONTW font{};
  font.lfHeight = -pixelsOnDisplay(11);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  lstrcpyW(font.lfFaceName, L"MS Shell Dlg");
  return CreateFontIndirectW(&font);
}

void createChildren() {
  rw.font = createFont();
  const DWORD label = SS_LEFT | SS_NOPREFIX, tab = WS_TABSTOP;
  makeChild(L"Static", words::way, label, IDC_RANGE_WAY_LABEL);
  makeChild(L"Button", words::bothHere, BS_AUTORADIOBUTTON | WS_GROUP | tab, IDC_RANGE_BOTH);
  makeChild(L"Button", words::loopback, BS_AUTORADIOBUTTON, IDC_RANGE_LOOPBACK);
  makeChild(L"Static", words::packets, label | WS_GROUP, IDC_RANGE_COUNT_LABEL);
  makeChild(L"Edit", L"100", WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL | tab, IDC_RANGE_COUNT);
  makeChild(L"Button", words::untilStop, BS_AUTOCHECKBOX | tab, IDC_RANGE_UNTIL_STOP);
  makeChild(L"Static", words::size, label, IDC_RANGE_SIZE_LABEL);
  makeChild(L"Edit", L"32", WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL | tab, IDC_RANGE_SIZE);
  makeChild(L"Button", words::start, BS_DEFPUSHBUTTON | tab, IDOK);
  makeChild(L"Button", words::stop, BS_PUSHBUTTON | tab, IDC_RANGE_STOP);
  makeChild(L"Button", words::copy, BS_PUSHBUTTON | tab, IDC_RANGE_COPY);
  makeChild(L"Button", words::close, BS_PUSHBUTTON | tab, IDCANCEL);
  for (int id : {IDC_RANGE_STATUS, IDC_RANGE_FIRST_LINE, IDC_RANGE_SECOND_LINE,
                 IDC_RANGE_ROUND_TRIP, IDC_RANGE_PAIR_LINE})
    makeChild(L"Static", L"", label, id);
  makeChild(L"Static", words::chart, label, IDC_RANGE_CHART_LABEL);
  makeChild(L"Static", L"", SS_OWNERDRAW, IDC_RANGE_CHART);
  CheckRadioButton(rw.window, IDC_RANGE_BOTH, IDC_RANGE_LOOPBACK, IDC_RANGE_BOTH);
  SendDlgItemMessageW(rw.window, IDC_RANGE_COUNT, EM_LIMITTEXT, 7, 0);
  SendDlgItemMessageW(rw.window, IDC_RANGE_SIZE, EM_LIMITTEXT, 3, 0);
}

int widthOf(int id, int extra) {
  HWND control = item(id);
  HDC dc = GetDC(control);
  HGDIOBJ before = SelectObject(dc, rw.font ? rw.font : GetStockObject(DEFAULT_GUI_FONT));
  wchar_t text[128] = {};
  GetWindowTextW(control, text, 128);
  const int width = textWidth(dc, text);
  SelectObject(dc, before);
  ReleaseDC(control, dc);
  return width + pixelsOnDisplay(extra);
}

// Places the controls in rows from the top; returns the width they need.
int layOut(int width, int height) {
  const int m = pixelsOnDisplay(8), gap = pixelsOnDisplay(6), h = rw.rowHeight;
  const int boxExtra = 24;  // a radio or check box's mark and its spacing
  int x = m, y = m, widest = 0;
  const auto place = [&](int id, int w) {
    MoveWindow(item(id), x, y, w, h, TRUE);
    x += w + gap;
    widest = x - gap + m > widest ? x - gap + m : widest;
  };
  const auto nextRow = [&] {
    x = m;
    y += h + gap;
  };
  place(IDC_RANGE_WAY_LABEL, widthOf(IDC_RANGE_WAY_LABEL, 4));
  place(IDC_RANGE_BOTH, widthOf(IDC_RANGE_BOTH, boxExtra));
  place(IDC_RANGE_LOOPBACK, widthOf(IDC_RANGE_LOOPBACK, boxExtra));
  nextRow();
  place(IDC_RANGE_COUNT_LABEL, widthOf(IDC_RANGE_COUNT_LABEL, 4));
  place(IDC_RANGE_COUNT, pixelsOnDisplay(64));
  place(IDC_RANGE_UNTIL_STOP, widthOf(IDC_RANGE_UNTIL_STOP, boxExtra));
  place(IDC_RANGE_SIZE_LABEL, widthOf(IDC_RANGE_SIZE_LABEL, 4));
  place(IDC_RANGE_SIZE, pixelsOnDisplay(40));
  nextRow();
  for (int id : {int(IDOK), IDC_RANGE_STOP, IDC_RANGE_COPY, int(IDCANCEL)}) {
    const int w = widthOf(id, 16);
    place(id, w > pixelsOnDisplay(80) ? w : pixelsOnDisplay(80));
  }
  nextRow();
  rw.rowsWidth = widest;
  HDC dc = GetDC(rw.window);
  HGDIOBJ before = SelectObject(dc, rw.font ? rw.font : GetStockObject(DEFAULT_GUI_FONT));
  const int lineWidth = textWidth(dc, words::widestLine) + pixelsOnDisplay(8);
  const int noticeWidth = textWidth(dc, words::noStart) + pixelsOnDisplay(8);
  SelectObject(dc, before);
  ReleaseDC(rw.window, dc);
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
    MoveWindow(item(id), x, y, full, lines ? lines * rw.textHeight : h, TRUE);
    y += (lines ? lines * rw.textHeight : h) + gap;
  }
  const int chartHeight = height - m - y;
  const int smallest = pixelsOnDisplay(120);
  MoveWindow(item(IDC_RANGE_CHART), m, y, full, chartHeight > smallest ? chartHeight : smallest,
             TRUE);
  return widest;
}

int contentHeight() {
  const int m = pixelsOnDisplay(8), gap = pixelsOnDisplay(6);
  return m + 6 * (rw.rowHeight + gap) + 7 * rw.textHeight + 3 * gap + pixelsOnDisplay(180) + m;
}

void measureRows() {
  HDC dc = GetDC(rw.window);
  HGDIOBJ before = SelectObject(dc, rw.font ? rw.font : GetStockObject(DEFAULT_GUI_FONT));
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, before);
  ReleaseDC(rw.window, dc);
  rw.textHeight = metrics.tmHeight;
  rw.rowHeight = metrics.tmHeight + pixelsOnDisplay(8);
}

void onCreate(HWND window) {
  rw.window = window;
  createChildren();
  measureRows();
  const int width = layOut(0, 0);
  RECT frame{0, 0, width, contentHeight()};
  AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_CONTROLPARENT);
  rw.wholeSize = {frame.right - frame.left, frame.bottom - frame.top};
  SetWindowPos(window, nullptr, 0, 0, rw.wholeSize.cx, rw.wholeSize.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  showControls();
}

void hideWindow() {
  stopRun();
  ShowWindow(rw.window, SW_HIDE);
  toolWindowHidden(mainDialog);
}

LRESULT onCommand(WORD id, WORD code) {
  switch (id) {
    case IDOK:
      startRun();
      break;
    case IDC_RANGE_STOP:
      stopRun();
      break;
    case IDC_RANGE_COPY:
      copyResult();
      break;
    case IDCANCEL:
      hideWindow();
      break;
    case IDC_RANGE_BOTH:
    case IDC_RANGE_LOOPBACK:
    case IDC_RANGE_UNTIL_STOP:
      if (code == BN_CLICKED) {
        rw.notice.clear();
        rw.failureShown = false;
        showControls();
      }
      break;
    default:
      break;
  }
  return 0;
}

LRESULT CALLBACK rangeTestProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      onCreate(window);
      return 0;
    case WM_SIZE:
      if (rw.rowHeight)
        layOut(LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_GETMINMAXINFO:
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {pixelsOnDisplay(400),
                                                               pixelsOnDisplay(360)};
      return 0;
    case WM_DRAWITEM:
      if (wParam == IDC_RANGE_CHART) {
        drawChart(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
      }
      return FALSE;
    case kPacketMessage:
      if (rw.running && !rw.stopAsked) {
        takeHandover();
        showCounts();
      }
      return 0;
    case kDoneMessage:
      endRun();
      showControls();
      return 0;
    case WM_COMMAND:
      return onCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_CLOSE:
      hideWindow();
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

void showRangeTestWindow(HWND dialog) {
  if (!handoverReady) {
    InitializeCriticalSection(&handover.lock);
    handoverReady = true;
  }
  if (!rw.window) {
    if (!registerToolWindowClass(kClassName, rangeTestProc))
      return;
    // No owner, as the line log: whichever the user clicks comes to the front.
    CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, words::caption, WS_OVERLAPPEDWINDOW, 0, 0, 0,
                    0, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!rw.window)
      return;
  }
  if (!IsWindowVisible(rw.window))
    arrangeToolWindows(dialog, false, true);
  showControls();
  ShowWindow(rw.window, SW_SHOWNORMAL);
  SetForegroundWindow(rw.window);
  focusFirstButton();
}

void updateRangeTestWindow() {
  if (rw.window && !rw.running)
    showControls();
}

bool rangeTestDialogMessage(MSG* message) {
  return rw.window && IsWindowVisible(rw.window) && IsDialogMessageW(rw.window, message);
}

bool translateRangeTestKeys(const MSG* message) {
  HWND window = rw.window;
  if (!window || message->message != WM_KEYDOWN || message->wParam != 'C' ||
      GetKeyState(VK_CONTROL) >= 0 || GetKeyState(VK_MENU) < 0)
    return false;
  if (message->hwnd != window && !IsChild(window, message->hwnd))
    return false;
  // A selection in a field is the field's to copy.
  DWORD from = 0, to = 0;
  SendMessageW(message->hwnd, EM_GETSEL, reinterpret_cast<WPARAM>(&from),
               reinterpret_cast<LPARAM>(&to));
  if (from != to)
    return false;
  if (rw.hasResult || rw.running)
    copyResult();
  return true;
}

HWND rangeTestWindow() {
  return rw.window;
}

SIZE rangeTestWholeSize() {
  return rw.wholeSize;
}

int rangeTestMinWidth() {
  RECT frame{0, 0, rw.rowsWidth > pixelsOnDisplay(400) ? rw.rowsWidth : pixelsOnDisplay(400), 100};
  AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_CONTROLPARENT);
  return frame.right - frame.left;
}

bool stopRangeTestRun() {
  if (!rw.running)
    return false;
  stopRun();
  return true;
}

void destroyRangeTestWindow() {
  if (rw.thread) {
    SetEvent(rw.cancel);
    endRun();
  }
  if (rw.window)
    DestroyWindow(rw.window);
  rw.window = nullptr;
  if (rw.font)
    DeleteObject(rw.font);
  rw.font = nullptr;
}
