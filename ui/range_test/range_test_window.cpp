// The Range Test's window: what it shows and allows as the panes change, the
// run's start, stop and end, and the copy of its result. Its controls'
// layout, its chart and the run's worker are files of their own.
#include "ui/range_test/range_test_window.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "link/line_log.h"
#include "module/range_test.h"
#include "module/received_share.h"
#include "resources/resource_ids.h"
#include "runner/display.h"
#include "ui/dialog/device_changes.h"
#include "ui/dialog/pane_view.h"
#include "ui/dialog/session_end.h"
#include "ui/range_test/range_chart.h"
#include "ui/range_test/range_layout.h"
#include "ui/range_test/range_view.h"
#include "ui/range_test/range_worker.h"
#include "ui/shared/shell_services.h"
#include "ui/shared/tool_layout.h"
#include "ui/shared/tool_window.h"

namespace {

// ---- the window's own words ------------------------------------------------------

namespace words {
constexpr wchar_t caption[] = L"NLCONF - Range Test";
constexpr wchar_t ready[] = L"Ready: choose the way and press Start.";
constexpr wchar_t readBoth[] = L"Read both modules first; they must address each other.";
constexpr wchar_t otherLines[] =
    L"The modules talk at other serial settings: give both the same ones.";
constexpr wchar_t noPair[] = L"The modules do not address each other: Make Pair, then Write both.";
constexpr wchar_t readMaster[] = L"Read the master first; the far module needs no reading.";
constexpr wchar_t busy[] = L"The main dialog is busy: start again once it is free.";
constexpr wchar_t badCount[] = L"Packets each way: a whole number from 1 to 1000000.";
constexpr wchar_t badSize[] = L"Bytes a packet: a whole number from 16 to 100.";
constexpr wchar_t stopping[] = L"Stopping...";
constexpr wchar_t copied[] = L"The result is on the clipboard.";
}  // namespace words

constexpr wchar_t kClassName[] = L"NlConfRangeTest";
constexpr uint32_t kMostPackets = 1000000;

constexpr UINT kPacketMessage = WM_APP + 1;
constexpr UINT kDoneMessage = WM_APP + 2;

struct RangeWindow {
  HWND window = nullptr;
  RangeLayout layout;
  bool running = false;
  bool stopAsked = false;
  bool portLost = false;
  bool hasResult = false;
  bool failureShown = false;  // until the user changes the way or the count
  RangeRun run;
  RangeResult shown;
  RangeChartTrack tracks[2];
  std::wstring notice;    // a refusal or a copy, until the next change
  std::wstring pairLine;  // which pair the run measured, and when
  SIZE wholeSize{};
};

RangeWindow rw;

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
                          wayPicked()) &&
         !anyPaneHeld();
}

// Why the window offers no run: what the user must do, not only that.
const wchar_t* refusalNow() {
  if (wayPicked() != RangeWay::BothHere)
    return words::readMaster;
  const ModuleRecord* master = &paneAsShown(&masterPane)->module;
  const ModuleRecord* slave = &paneAsShown(&slavePane)->module;
  if (anyPaneHeld())
    return words::busy;
  if (!holdsModuleData(master) || !holdsModuleData(slave))
    return words::readBoth;
  for (Setting s : kAllSettings) {
    if (hasFlag(s, kLineSetting) && master->read[s] != slave->read[s])
      return words::otherLines;
  }
  return words::noPair;
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
    return refusalNow();
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

// ---- the run --------------------------------------------------------------------

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
  if (!lineLogActive(&dialogLineLog))
    return;
  char text[96];
  if (run.way == RangeWay::BothHere)
    std::snprintf(text, sizeof text, "Range Test with COM%u started, %u bytes a packet",
                  portNumberShown(&slavePane), run.size);
  else
    std::snprintf(text, sizeof text, "Range Test over a loopback started, %u bytes a packet",
                  run.size);
  logNote(&dialogLineLog, portNumberShown(&masterPane), text);
}

void startRun() {
  if (rangeWorkerStarted())
    return;
  rw.notice.clear();
  if (!IsWindowEnabled(mainDialog) || anyOperationRunning())
    return refuse(words::busy, 0);
  RangeRun run;
  if (!readSettings(&run) || !offeredNow())
    return showControls();
  if (!openRangeCancel())
    return refuse(kRangeNoStartNotice, 0);
  rw.run = run;
  rw.pairLine = rangePairLine(&masterPane.module, &slavePane.module, run.way, os::localTime());
  rw.shown = RangeResult{};
  rw.shown.way = run.way;
  for (RangeChartTrack& t : rw.tracks)
    t.clear();
  rw.portLost = rw.stopAsked = rw.hasResult = false;
  logRunStart(run);
  if (!startRangeWorker(run, rw.window, kPacketMessage, kDoneMessage))
    return refuse(kRangeNoStartNotice, 0);
  rw.running = true;
  // Nothing else may use the ports meanwhile.
  EnableWindow(mainDialog, FALSE);
  showControls();
}

void stopRun() {
  if (!rw.running || !cancelRangeWorker())
    return;
  rw.stopAsked = true;
  showControls();
}

void logRunEnd(const RangeResult& r) {
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
  logNote(&dialogLineLog, portNumberShown(&masterPane), (std::string(text) + "; " + pair).c_str());
}

// Joins the worker and gives the ports and the dialog back.
void endRun() {
  if (!rangeWorkerStarted())
    return;
  const RangeResult result = joinRangeWorker();
  rw.portLost = hasDeferredPortChange(&masterPane) ||
                (rw.run.way == RangeWay::BothHere && hasDeferredPortChange(&slavePane));
  rw.running = rw.stopAsked = false;
  takeRangeHandover(&rw.shown, rw.tracks);
  rw.shown = result;
  rw.hasResult = rw.failureShown = true;
  logRunEnd(result);
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

void onCreate(HWND window) {
  rw.window = window;
  createRangeControls(window, &rw.layout);
  measureRangeRows(window, &rw.layout);
  const int width = layOutRangeControls(window, &rw.layout, 0, 0);
  RECT frame{0, 0, width, rangeContentHeight(rw.layout)};
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
      if (rw.layout.rowHeight)
        layOutRangeControls(window, &rw.layout, LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_GETMINMAXINFO:
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {pixelsOnDisplay(400),
                                                               pixelsOnDisplay(360)};
      return 0;
    case WM_DRAWITEM:
      if (wParam == IDC_RANGE_CHART) {
        drawRangeChart(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), rw.layout, rw.tracks,
                       rw.shown);
        return TRUE;
      }
      return FALSE;
    case kPacketMessage:
      if (rw.running && !rw.stopAsked) {
        takeRangeHandover(&rw.shown, rw.tracks);
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

HWND rangeTestWindow() {
  return rw.window;
}

// Its frame with every row at its width, and the narrowest it may be.
ToolWindowNeeds rangeTestNeeds() {
  const int rowsWidth = rw.layout.rowsWidth;
  RECT frame{0, 0, rowsWidth > pixelsOnDisplay(400) ? rowsWidth : pixelsOnDisplay(400), 100};
  AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_CONTROLPARENT);
  ToolWindowNeeds needs;
  needs.wholeWidth = rw.wholeSize.cx;
  needs.wholeHeight = rw.wholeSize.cy;
  needs.minWidth = frame.right - frame.left;
  return needs;
}

constexpr ToolWindow kRangeTestPlace{rangeTestWindow, rangeTestNeeds, ToolPlace::Beside, 0};

}  // namespace

void showRangeTestWindow(HWND dialog) {
  if (!rw.window) {
    if (!registerToolWindowClass(kClassName, rangeTestProc))
      return;
    // No owner, as the line log: whichever the user clicks comes to the front.
    CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, words::caption, WS_OVERLAPPEDWINDOW, 0, 0, 0,
                    0, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!rw.window)
      return;
  }
  addToolWindow(kRangeTestPlace);
  if (!IsWindowVisible(rw.window))
    arrangeToolWindows(dialog, rw.window);
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

bool stopRangeTestRun() {
  if (!rw.running)
    return false;
  stopRun();
  return true;
}

void destroyRangeTestWindow() {
  if (rangeWorkerStarted()) {
    cancelRangeWorker();
    endRun();
  }
  if (rw.window)
    DestroyWindow(rw.window);
  rw.window = nullptr;
  if (rw.layout.font)
    DeleteObject(rw.layout.font);
  rw.layout.font = nullptr;
}
