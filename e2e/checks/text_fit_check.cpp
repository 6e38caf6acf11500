// Every text of the program's dialogs against the control it is drawn in,
// measured with the font it is drawn in on this system: the main dialog with
// the longest values a pane shows, the link verdicts, the progress dialog
// with both operations' texts, the reset prompt, the boxes of a settings
// file's load, the Range Test's window with its widest result lines; and the
// system menu's settings entries. A text that does not fit is
// cut on screen ("ading parameters.", "ink OK"). With --taskbar N (logical
// pixels, reserved first), the main dialog is then also reached on screen;
// with --beside too, after the line log and the Range Test window have been
// placed beside it, none covering another.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "resources/resource_ids.h"
#include "ui/dialog/main_dialog.h"
#include "ui/dialog/pane.h"
#include "ui/dialog/pane_operation.h"
#include "ui/dialog/port_list.h"
#include "ui/dialog/rules.h"
#include "ui/dialog/settings_commands.h"
#include "ui/dialog/verdict_window.h"
#include "ui/line_log/line_log_window.h"
#include "ui/range_test/range_test_window.h"
#include "ui/range_test/range_view.h"
#include "ui/shared/scroll_view.h"
#include "ui/shared/shell_services.h"

namespace {

int failures = 0;

std::string narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text)
    out.push_back(c < 32 ? ' ' : (c < 128 ? static_cast<char>(c) : '?'));
  return out;
}

std::wstring textOf(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

std::wstring classOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

void report(bool fits, const std::string& what, const SIZE& need, const SIZE& room) {
  std::printf("%s %s: %ld x %ld px in %ld x %ld\n", fits ? "PASS" : "FAIL", what.c_str(), need.cx,
              need.cy, room.cx, room.cy);
  failures += fits ? 0 : 1;
}

void verdict(bool good, const std::string& what) {
  std::printf("%s %s\n", good ? "PASS" : "FAIL", what.c_str());
  failures += good ? 0 : 1;
}

// The text's extent in the control's own font, laid out as the control lays
// it out: on one line, or broken at words within the client width.
SIZE extentIn(HWND control, const std::wstring& text, bool oneLine, UINT prefix, LONG width) {
  HDC dc = GetDC(control);
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  HGDIOBJ before = SelectObject(dc, font ? font : GetStockObject(SYSTEM_FONT));
  RECT rect{0, 0, width, 0};
  const UINT format = DT_CALCRECT | prefix | (oneLine ? DT_SINGLELINE : DT_WORDBREAK);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, format);
  SelectObject(dc, before);
  ReleaseDC(control, dc);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

void checkControl(HWND control, const std::string& dialog) {
  const std::wstring text = textOf(control);
  const std::wstring kind = classOf(control);
  const LONG style = GetWindowLongW(control, GWL_STYLE);
  if (text.empty() || !IsWindowVisible(control))
    return;
  RECT client{};
  GetClientRect(control, &client);
  SIZE room{client.right, client.bottom};
  bool oneLine = true;
  UINT prefix = 0;
  if (_wcsicmp(kind.c_str(), L"Static") == 0) {
    const LONG type = style & SS_TYPEMASK;
    if (type > SS_RIGHT && type != SS_SIMPLE && type != SS_LEFTNOWORDWRAP)
      return;  // icons, frames, pictures
    oneLine = (style & SS_CENTERIMAGE) || type == SS_SIMPLE || type == SS_LEFTNOWORDWRAP;
    prefix = (style & SS_NOPREFIX) ? DT_NOPREFIX : 0;
  } else if (_wcsicmp(kind.c_str(), L"Button") == 0) {
    const LONG type = style & BS_TYPEMASK;
    // A group box's caption sits on its frame, a push button's inside its edges.
    const LONG margin = type == BS_GROUPBOX ? 2 * GetSystemMetrics(SM_CXEDGE) + 8
                                            : 2 * GetSystemMetrics(SM_CXEDGE) + 2;
    room.cx -= margin;
    if (type == BS_GROUPBOX)
      room.cy = LONG_MAX;
  } else {
    return;  // combo boxes draw their entries themselves
  }
  const SIZE need = extentIn(control, text, oneLine, prefix, room.cx);
  report(need.cx <= room.cx && need.cy <= room.cy,
         dialog + " control " + std::to_string(GetDlgCtrlID(control)) + " \"" + narrow(text) + "\"",
         need, room);
}

// The caption between the window's icon and its close box (a window without
// a system menu has neither), in the caption font.
void checkCaption(HWND window, const std::string& dialog) {
  const std::wstring text = textOf(window);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  HFONT font = CreateFontIndirectW(&metrics.lfCaptionFont);
  HDC dc = GetDC(window);
  HGDIOBJ before = SelectObject(dc, font);
  SIZE need{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &need);
  SelectObject(dc, before);
  ReleaseDC(window, dc);
  DeleteObject(font);
  RECT frame{};
  GetWindowRect(window, &frame);
  const bool systemMenu = GetWindowLongW(window, GWL_STYLE) & WS_SYSMENU;
  const LONG buttons =
      (systemMenu ? metrics.iCaptionWidth * 3 + GetSystemMetrics(SM_CXSMICON) : 0) + 16;
  const SIZE room{frame.right - frame.left - buttons, metrics.iCaptionHeight};
  report(need.cx <= room.cx, dialog + " caption \"" + narrow(text) + "\"", need, room);
}

BOOL CALLBACK checkChild(HWND child, LPARAM dialog) {
  checkControl(child, *reinterpret_cast<const std::string*>(dialog));
  return TRUE;
}

void checkDialog(HWND dialog, const std::string& name) {
  checkCaption(dialog, name);
  EnumChildWindows(dialog, checkChild, reinterpret_cast<LPARAM>(&name));
}

// ---- the main dialog (109) with what a pane shows at its widest --------------

void showPane(PaneRecord* pane, const char* nodeId, bool flowControl) {
  std::strcpy(pane->module.nodeId, nodeId);
  pane->module.read[Setting::PanId] = pane->module.shown[Setting::PanId] =
      0xFFFFFFFFFFFFFFFFull;  // sixteen digits
  pane->module.read[Setting::DestLow] = pane->module.shown[Setting::DestLow] = 0x88888888;
  pane->module.read[Setting::DestHigh] = pane->module.shown[Setting::DestHigh] = 0x88888888;
  pane->module.read[Setting::Channel] = pane->module.shown[Setting::Channel] = 26;
  pane->module.channelLimit = 26;
  pane->module.read[Setting::BaudRate] = pane->module.shown[Setting::BaudRate] = 7;
  pane->module.read[Setting::Parity] = pane->module.shown[Setting::Parity] = 3;
  pane->module.read[Setting::StopBits] = pane->module.shown[Setting::StopBits] = 1;
  pane->module.read[Setting::PowerLevel] = pane->module.shown[Setting::PowerLevel] = 4;
  pane->module.read[Setting::BoostMode] = pane->module.shown[Setting::BoostMode] = 1;
  pane->module.read[Setting::D7Config] = flowControl ? 1 : 4;
  pane->module.read[Setting::D6Config] = flowControl ? 1 : 0;
  pane->module.read[Setting::SleepMode] = flowControl ? 4 : 0;
  deriveModeState(&pane->module);
  displayPane(pane);
}

void checkMainDialog() {
  // A bench's status; a longer record path gives way in its middle on screen.
  wchar_t status[256];
  formatSessionStatus(L"C:\\Production\\Bench 2 profile.ini", L"C:\\Production\\pairs.csv", 99999,
                      99999, status, 256);
  SetDlgItemTextW(mainDialog, IDC_SESSION_STATUS, status);
  for (bool flowControl : {true, false}) {
    showPane(&masterPane, "KOV-NL001/M", flowControl);
    showPane(&slavePane, "KOV-NL001/S", flowControl);
    checkDialog(mainDialog, flowControl ? "main dialog, flow control" : "main dialog, no flow");
  }
}

// Two adapters of one kind, long names that differ in their numbers only:
// each whole in the drop-down, beside its scroll bar.
void checkPortLists() {
  for (const wchar_t* name : {L"Sample USB Serial Adapter with a long vendor name (COM3)",
                              L"Sample USB Serial Adapter with a long vendor name (COM12)"}) {
    for (PaneRecord* pane : {&masterPane, &slavePane}) {
      HWND combo = static_cast<HWND>(pane->portCombo);
      SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
      fitDroppedWidth(combo);
      const SIZE need = extentIn(combo, name, true, DT_NOPREFIX, LONG_MAX);
      const LONG room = static_cast<LONG>(SendMessageW(combo, CB_GETDROPPEDWIDTH, 0, 0)) -
                        GetSystemMetrics(SM_CXVSCROLL) - 2 * GetSystemMetrics(SM_CXBORDER) - 4;
      report(need.cx <= room, "port list entry \"" + narrow(name) + "\"", need, {room, need.cy});
    }
  }
  refillPortList(static_cast<HWND>(masterPane.portCombo));
  refillPortList(static_cast<HWND>(slavePane.portCombo));
}

// ---- the link verdicts (110) -------------------------------------------------

struct Inspection {
  const wchar_t* caption;
  std::string name;
  DWORD guiThread;
  HWND found = nullptr;
  HWND skip = nullptr;  // the main dialog, whose caption a message box shares
};

BOOL CALLBACK findByCaption(HWND window, LPARAM inspection) {
  auto* in = reinterpret_cast<Inspection*>(inspection);
  if (window != in->skip && IsWindowVisible(window) && textOf(window) == in->caption) {
    in->found = window;
    return FALSE;
  }
  return TRUE;
}

// Looks at the verdict once its font has arrived, then closes it.
DWORD WINAPI inspectVerdict(void* argument) {
  auto* in = static_cast<Inspection*>(argument);
  for (int i = 0; i < 250 && !in->found; ++i) {
    EnumThreadWindows(in->guiThread, findByCaption, reinterpret_cast<LPARAM>(in));
    Sleep(20);
  }
  if (!in->found)
    return 1;
  Sleep(200);  // the label's font comes through the queue
  checkDialog(in->found, in->name);
  PostMessageW(in->found, WM_COMMAND, IDOK, 0);
  return 0;
}

void checkVerdict(const wchar_t* text, COLORREF color) {
  Inspection in{L"Link Test", "link result " + narrow(text), GetCurrentThreadId()};
  HANDLE inspector = CreateThread(nullptr, 0, inspectVerdict, &in, 0, nullptr);
  showVerdict(mainDialog, text, color, IDD_LINK_RESULT, nullptr);
  WaitForSingleObject(inspector, INFINITE);
  CloseHandle(inspector);
  if (!in.found)
    report(false, in.name + " shown", {}, {});
}

// ---- the settings files: the system menu and the boxes of a load ---------------

void checkMenuCommands(bool saveOffered) {
  HMENU menu = GetSystemMenu(mainDialog, FALSE);
  wchar_t save[64] = {}, load[64] = {};
  const bool present = GetMenuStringW(menu, IDM_SAVE_SETTINGS, save, 64, MF_BYCOMMAND) &&
                       GetMenuStringW(menu, IDM_LOAD_SETTINGS, load, 64, MF_BYCOMMAND);
  const bool grey = GetMenuState(menu, IDM_SAVE_SETTINGS, MF_BYCOMMAND) & MF_GRAYED;
  report(present && grey != saveOffered,
         "system menu \"" + narrow(save) + "\", \"" + narrow(load) + "\", Save " +
             (saveOffered ? "offered with values" : "greyed without"),
         {}, {});
}

void checkLoadBox(const std::wstring& path, const std::string& name) {
  Inspection in{L"NLCONF", name, GetCurrentThreadId()};
  in.skip = mainDialog;
  HANDLE inspector = CreateThread(nullptr, 0, inspectVerdict, &in, 0, nullptr);
  loadSettingsFile(path.c_str());
  WaitForSingleObject(inspector, INFINITE);
  CloseHandle(inspector);
  if (!in.found)
    report(false, name + " shown", {}, {});
}

// The boxes with the longest texts a load shows, for files where users keep them.
void checkLoadMessages() {
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  const std::wstring file = std::wstring(folder) + L"KOV-NL001 pair for line 4.ini";
  const char text[] = "[Master]\r\nChannel = 12\r\n[Slave]\r\nColour = Red\r\n";
  HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(out, text, sizeof text - 1, &written, nullptr);
  CloseHandle(out);
  checkLoadBox(file, "refused settings file");
  checkLoadBox(L"C:\\users\\Public\\Documents\\NLCONF settings\\batch 2026-12\\pair.ini",
               "settings file not found");
  DeleteFileW(file.c_str());
}

// ---- the progress dialog (112) and the reset prompt (111) --------------------

std::string operationName;

// The body looks at both dialogs from the worker thread, as the user sees
// them while an operation runs, and ends.
int32_t inspectingBody(OperationRun* run) {
  PaneRecord* pane = paneOfRun(run);
  HWND dialog = static_cast<HWND>(pane->progressDialog);
  // It shows once the run has lasted a moment; the label's font came before.
  for (int waited = 0; !IsWindowVisible(dialog) && waited < 3000; waited += 20)
    Sleep(20);
  checkDialog(dialog, "progress " + operationName);
  if (HWND prompt = static_cast<HWND>(pane->resetPrompt)) {
    ShowWindow(prompt, SW_SHOWNOACTIVATE);
    checkDialog(prompt, "reset prompt");
    ShowWindow(prompt, SW_HIDE);
  }
  postOperationDone(pane->progressDialog, pane);
  return 0;
}

void checkProgress(const wchar_t* text) {
  operationName = narrow(text);
  masterPane.workerBody = inspectingBody;
  masterPane.progressText = text;
  runOperation(mainDialog, &masterPane);
}

// The Link Test's caption names both panes, on the longest port numbers.
void checkLinkTestProgress() {
  for (PaneRecord* pane : {&masterPane, &slavePane})
    SendMessageW(static_cast<HWND>(pane->portCombo), CB_SETCURSEL,
                 SendMessageW(static_cast<HWND>(pane->portCombo), CB_ADDSTRING, 0,
                              reinterpret_cast<LPARAM>(L"Serial Port (COM255)")),
                 0);
  operationName = "Link Test...";
  masterPane.workerBody = inspectingBody;
  masterPane.progressText = L"Link Test...";
  runOnWorker(mainDialog, &masterPane, &slavePane, false);
}

// ---- the main dialog on the user's screen ------------------------------------

RECT workArea{};
DWORD guiThread = 0;

// Wholly within the work area and, for a control, its dialog's client area.
bool inView(HWND window, HWND dialog) {
  RECT view = workArea, client{}, r{}, both{};
  if (dialog) {
    GetClientRect(dialog, &client);
    MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
    IntersectRect(&view, &view, &client);
  }
  GetWindowRect(window, &r);
  IntersectRect(&both, &r, &view);
  return EqualRect(&both, &r) != 0;
}

template <typename Condition>
bool within3s(Condition condition) {
  for (int i = 0; i < 150 && !condition(); ++i)
    Sleep(20);
  return condition();
}

HWND focusNow() {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(guiThread, &info);
  return info.hwndFocus;
}

void send(DWORD type, DWORD flags, WORD key, POINT at = {}, int wheel = 0) {
  INPUT in{};
  in.type = type;
  in.ki = {key, 0, flags, 0, 0};
  const LONG x = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
  const LONG y = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
  if (type == INPUT_MOUSE)
    in.mi = {x, y, static_cast<DWORD>(wheel), flags, 0, 0};
  SendInput(1, &in, sizeof in);
  Sleep(30);
}

// Tab from the first control up to Exit, the last: each in view as soon as
// it has the focus.
void reachByKeyboard(HWND dialog) {
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, 3000)), TRUE);
  int reached = 0;
  for (HWND focus = focusNow(); focus != GetDlgItem(dialog, IDOK) && reached < 80; ++reached) {
    send(INPUT_KEYBOARD, 0, VK_TAB);
    send(INPUT_KEYBOARD, KEYEVENTF_KEYUP, VK_TAB);
    within3s([&, before = focus] { return (focus = focusNow()) != before; });
    // The scroll follows the focus, as soon as the dialog gets to it.
    if (!within3s([&] { return inView(focus, dialog); }))
      return verdict(false, "control " + std::to_string(GetDlgCtrlID(focus)) + " in view by Tab");
  }
  verdict(reached > 20 && reached < 80, "Tab reached " + std::to_string(reached) + " controls");
}

// The wheel over the dialog until the control is in view, then a click.
bool clickWithMouse(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  RECT r{};
  GetWindowRect(dialog, &r);
  const DWORD here = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  send(INPUT_MOUSE, here, 0, {(r.left + r.right) / 2, (r.top + r.bottom) / 2});
  for (int i = 0; i < 60 && !inView(control, dialog); ++i)
    send(INPUT_MOUSE, MOUSEEVENTF_WHEEL, 0, {}, -WHEEL_DELTA);
  const bool shown = inView(control, dialog);
  verdict(shown, "control " + std::to_string(id) + " in view by the wheel");
  // A busy dialog may still be scrolling by wheel turns it has not yet
  // taken: the click goes where the control has come to rest.
  RECT before{};
  GetWindowRect(control, &r);
  for (int i = 0; i < 30 && !EqualRect(&before, &r); ++i) {
    before = r;
    Sleep(100);
    GetWindowRect(control, &r);
  }
  const POINT at{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  // Each event carries its place: X may still move the pointer late.
  for (DWORD flags : {here, here, here | MOUSEEVENTF_LEFTDOWN, here | MOUSEEVENTF_LEFTUP})
    send(INPUT_MOUSE, shown ? flags : here, 0, at);
  return shown;
}

DWORD WINAPI reachControls(void* argument) {
  HWND dialog = static_cast<HWND>(argument);
  SetForegroundWindow(dialog);
  within3s([&] { return GetForegroundWindow() == dialog; });
  reachByKeyboard(dialog);
  HWND flow = GetDlgItem(dialog, IDC_SLAVE_FLOW_CONTROL);
  if (clickWithMouse(dialog, IDC_SLAVE_FLOW_CONTROL)) {
    verdict(within3s([&] { return SendMessageW(flow, CB_GETDROPPEDSTATE, 0, 0) != 0; }),
            "a click on the slave's Flow Control opens its list");
    SendMessageW(flow, CB_SHOWDROPDOWN, FALSE, 0);
  }
  masterPane.module.nodeId[0] = slavePane.module.nodeId[0] =
      0;  // nothing to lose: Exit asks nothing
  if (clickWithMouse(dialog, IDOK))
    verdict(within3s([&] { return !IsWindow(dialog); }), "a click on Exit ends the dialog");
  PostThreadMessageW(guiThread, WM_QUIT, 0, 0);
  return 0;
}

// ---- the windows beside it on the same screen -------------------------------

// A control of one of the windows that another one covers, or (in a tool
// window, which does not scroll) its own window cuts: "NlConfRangeTest 211".
struct Placed {
  HWND windows[3] = {};
  std::string hidden;
};

BOOL CALLBACK checkUncovered(HWND child, LPARAM placed) {
  auto* p = reinterpret_cast<Placed*>(placed);
  HWND own = GetAncestor(child, GA_ROOT);
  RECT r{}, o{}, both{}, client{};
  GetWindowRect(child, &r);
  GetClientRect(own, &client);
  MapWindowPoints(own, nullptr, reinterpret_cast<POINT*>(&client), 2);
  // What the scrolling dialog shows of a control is what must stay clear.
  if (!IsWindowVisible(child) || (own == mainDialog && !IntersectRect(&r, &r, &client)))
    return TRUE;
  bool hidden = own != mainDialog && !(IntersectRect(&both, &r, &client) && EqualRect(&both, &r));
  for (HWND other : p->windows)
    hidden = hidden || (other != own && GetWindowRect(other, &o) && IntersectRect(&both, &r, &o));
  if (hidden && p->hidden.size() < 200)
    p->hidden.append(" ")
        .append(narrow(classOf(own)))
        .append(" ")
        .append(std::to_string(GetDlgCtrlID(child)));
  return TRUE;
}

std::string rectText(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return std::to_string(r.left) + "," + std::to_string(r.top) + " " +
         std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top);
}

// The longest kind of line the log holds: a range packet's fate.
void checkLogWidth(HWND log) {
  HWND text = GetDlgItem(log, 100);
  const std::wstring line =
      L"23:59:59.999 COM255 range packet 999999 from master corrupted in 99999 ms";
  RECT client{};
  GetClientRect(text, &client);
  const SIZE need = extentIn(text, line, true, DT_NOPREFIX, 4000);
  report(need.cx <= client.right - 4, "the line log shows a range packet's line whole", need,
         {client.right, client.bottom});
}

// Both orders of opening; each window wholly on the screen, none over
// another's controls, the log wide enough for its packet lines.
void checkToolWindowsPlaced() {
  for (bool logFirst : {true, false}) {
    fitMainDialog(mainDialog);
    if (logFirst)
      showLineLogWindow(mainDialog);
    showRangeTestWindow(mainDialog);
    if (!logFirst)
      showLineLogWindow(mainDialog);
    Placed p;
    p.windows[0] = mainDialog;
    p.windows[1] = FindWindowW(L"NlConfLineLog", nullptr);
    p.windows[2] = FindWindowW(L"NlConfRangeTest", nullptr);
    const std::string order = logFirst ? "log, then Range Test" : "Range Test, then log";
    std::printf("INFO %s: dialog %s, log %s, range test %s\n", order.c_str(),
                rectText(p.windows[0]).c_str(), rectText(p.windows[1]).c_str(),
                rectText(p.windows[2]).c_str());
    for (HWND w : p.windows) {
      verdict(w && inView(w, nullptr), order + ": " + narrow(classOf(w)) + " in the work area");
      EnumChildWindows(w, checkUncovered, reinterpret_cast<LPARAM>(&p));
    }
    verdict(p.hidden.empty(), order + ": every control in sight" + p.hidden);
    checkLogWidth(p.windows[1]);
    destroyRangeTestWindow();
    destroyLineLogWindow();
  }
  fitMainDialog(mainDialog);
}

void checkOnScreen(bool beside) {
  if (beside)
    checkToolWindowsPlaced();
  RECT r{};
  GetWindowRect(mainDialog, &r);
  std::printf("INFO screen %dx%d, work area %ldx%ld, main dialog at %ld,%ld %ldx%ld\n",
              GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), workArea.right,
              workArea.bottom, r.left, r.top, r.right - r.left, r.bottom - r.top);
  verdict(inView(mainDialog, nullptr), "main dialog in the work area");
  showPane(&slavePane, "KOV-NL001/S", false);  // Flow Control takes clicks without power save
  guiThread = GetCurrentThreadId();
  HANDLE reacher = CreateThread(nullptr, 0, reachControls, mainDialog, 0, nullptr);
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0)
    dispatchLoopMessage(&message);
  WaitForSingleObject(reacher, INFINITE);
  CloseHandle(reacher);
}

}  // namespace

// ---- the Range Test's window, its result lines at their widest --------------

struct RangeLines {
  std::wstring texts[4];
  int next = 0;
};

// The result lines are empty until a run: each gets one of the widest texts.
BOOL CALLBACK fillRangeLine(HWND child, LPARAM lines) {
  auto* l = reinterpret_cast<RangeLines*>(lines);
  const LONG type = GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK;
  if (l->next < 4 && _wcsicmp(classOf(child).c_str(), L"Static") == 0 && type == SS_LEFT &&
      textOf(child).empty())
    SetWindowTextW(child, l->texts[l->next++].c_str());
  return TRUE;
}

void checkRangeTestWindow() {
  showRangeTestWindow(mainDialog);
  HWND window = FindWindowW(L"NlConfRangeTest", nullptr);
  if (!window) {
    verdict(false, "the Range Test window opens");
    return;
  }
  RangeResult r;
  r.way = RangeWay::FarLoopback;
  r.hasRoundTrip = true;
  r.roundTripMinMs = r.roundTripMaxMs = 99999;
  r.roundTripMedianMs = 99998.5;
  RangeLines lines;
  lines.texts[0] = rangeDirectionLine({10, 11, 1000000, 1000000, 1000000, 1000000, 0, 0});
  lines.texts[1] = rangeDirectionLine({10, 11, 999, 999, 999, 999, 999, 999});
  lines.texts[2] = rangeRoundTripLine(r);
  PaneRecord longest;
  std::memset(longest.module.nodeId, 'W', kNodeIdSize - 1);
  longest.module.nodeId[kNodeIdSize - 1] = 0;
  longest.module.serialHigh = longest.module.serialLow = 0x88888888;
  longest.module.read[Setting::Channel] = 26;
  longest.module.read[Setting::BaudRate] = 7;
  os::LocalTime at;
  at.year = 2026;
  lines.texts[3] = rangePairLine(&longest.module, &longest.module, RangeWay::BothHere, at);
  EnumChildWindows(window, fillRangeLine, reinterpret_cast<LPARAM>(&lines));
  verdict(lines.next == 4, "the Range Test window has its four result lines");
  checkDialog(window, "range test");
  destroyRangeTestWindow();
}

int main(int argc, char** argv) {
  const bool onScreen = argc >= 3 && std::strcmp(argv[1], "--taskbar") == 0;
  const bool beside = argc == 4 && std::strcmp(argv[3], "--beside") == 0;
  if (onScreen) {  // as a taskbar does: the strip leaves the work area
    HDC screen = GetDC(nullptr);
    const int strip = MulDiv(std::atoi(argv[2]), GetDeviceCaps(screen, LOGPIXELSY), 96);
    ReleaseDC(nullptr, screen);
    workArea = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN) - strip};
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &workArea, 0);
  }
  loopDialog = createMainDialog(nullptr);
  if (!loopDialog) {
    std::printf("FAIL the main dialog could not be created\n");
    return 1;
  }
  checkMenuCommands(false);
  checkLoadMessages();
  checkMainDialog();
  checkPortLists();
  checkMenuCommands(true);
  checkVerdict(L"Link OK.", 0xFF0000);
  checkVerdict(L"Link NG.", 0x0000FF);
  checkProgress(L"Reading parameters...");
  checkProgress(L"Writing parameters...");
  checkLinkTestProgress();
  checkRangeTestWindow();
  if (onScreen)
    checkOnScreen(beside);
  if (mainDialog)
    DestroyWindow(mainDialog);
  std::printf("text fit: %d failed\n", failures);
  return failures ? 1 : 0;
}
