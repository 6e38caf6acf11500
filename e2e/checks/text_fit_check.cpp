// Every text of the program's dialogs against the control it is drawn in,
// measured with the font it is drawn in on this system: the main dialog with
// the longest values a pane shows, the link verdicts, the progress dialog
// with both operations' texts, the reset prompt, the boxes of a settings
// file's load; and the system menu's settings entries. A text that does not fit is
// cut on screen ("ading parameters.", "ink OK"). With --taskbar N, first a
// taskbar of N logical pixels is reserved at the bottom of the screen, and
// at the end every control of the main dialog is reached with the keyboard
// and two of them with a real mouse, the last one Exit.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/shell.h"
#include "module/pane.h"
#include "resources/resource_ids.h"
#include "runner/runner.h"
#include "ui/main_dialog.h"

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

// The caption between the window's icon and its close box, in the caption font.
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
  const LONG buttons = metrics.iCaptionWidth * 3 + GetSystemMetrics(SM_CXSMICON) + 16;
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
  std::strcpy(pane->nodeId, nodeId);
  pane->panIdRead = pane->panIdShown = 0xFFFFFFFFFFFFFFFFull;  // sixteen digits
  pane->destLowRead = pane->destLowShown = 0x88888888;
  pane->destHighRead = pane->destHighShown = 0x88888888;
  pane->channelRead = pane->channelShown = 26;
  pane->channelLimit = 26;
  pane->baudCodeRead = pane->baudCodeShown = 7;
  pane->parityCodeRead = pane->parityCodeShown = 3;
  pane->stopBitsCodeRead = pane->stopBitsCodeShown = 1;
  pane->powerLevelRead = pane->powerLevelShown = 4;
  pane->boostModeRead = pane->boostModeShown = 1;
  pane->d7ConfigRead = flowControl ? 1 : 4;
  pane->d6ConfigRead = flowControl ? 1 : 0;
  pane->sleepModeRead = flowControl ? 4 : 0;
  deriveModeState(pane);
  displayPane(pane);
}

void checkMainDialog() {
  for (bool flowControl : {true, false}) {
    showPane(&masterPane, "KOV-NL001/M", flowControl);
    showPane(&slavePane, "KOV-NL001/S", flowControl);
    checkDialog(mainDialog, flowControl ? "main dialog, flow control" : "main dialog, no flow");
  }
}

// Two adapters of one kind differ only in the number at the end of a long
// name: the drop-down shows each name whole, beside the list's scroll bar.
void checkPortLists() {
  const wchar_t* names[] = {L"Sample USB Serial Adapter with a long vendor name (COM3)",
                            L"Sample USB Serial Adapter with a long vendor name (COM12)"};
  for (PaneRecord* pane : {&masterPane, &slavePane}) {
    HWND combo = static_cast<HWND>(pane->portCombo);
    for (const wchar_t* name : names)
      SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    fitDroppedWidth(combo);
    const LONG dropped = static_cast<LONG>(SendMessageW(combo, CB_GETDROPPEDWIDTH, 0, 0));
    const LONG room =
        dropped - GetSystemMetrics(SM_CXVSCROLL) - 2 * GetSystemMetrics(SM_CXBORDER) - 4;
    for (const wchar_t* name : names) {
      const SIZE need = extentIn(combo, name, true, DT_NOPREFIX, LONG_MAX);
      report(need.cx <= room,
             "port list " + std::to_string(GetDlgCtrlID(combo)) + " entry \"" + narrow(name) + "\"",
             need, {room, need.cy});
    }
    refillPortList(combo);
  }
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
  showLinkResult(mainDialog, text, color);
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
int32_t inspectingBody(PaneRecord* pane) {
  Sleep(300);  // the label's font comes through the queue
  checkDialog(static_cast<HWND>(pane->progressDialog), "progress " + operationName);
  HWND prompt = static_cast<HWND>(pane->resetPrompt);
  ShowWindow(prompt, SW_SHOWNOACTIVATE);
  checkDialog(prompt, "reset prompt");
  ShowWindow(prompt, SW_HIDE);
  postOperationDone(pane->progressDialog, pane);
  return 0;
}

void checkProgress(const wchar_t* text) {
  operationName = narrow(text);
  masterPane.workerBody = inspectingBody;
  masterPane.progressText = text;
  runOperation(mainDialog, &masterPane);
}

// ---- the main dialog on the user's screen ------------------------------------

RECT workArea{};
DWORD guiThread = 0;
bool reachDone = false;

bool insideRect(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

std::string rectText(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + " " +
         std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top);
}

// As Windows' taskbar does it: the strip is no longer part of the work area.
void reserveTaskbar(int logicalHeight) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
  workArea = RECT{0, 0, cx, cy - MulDiv(logicalHeight, dpi, 96)};
  SystemParametersInfoW(SPI_SETWORKAREA, 0, &workArea, 0);
  std::printf("INFO screen %dx%d at %d DPI, work area %s\n", cx, cy, dpi,
              rectText(workArea).c_str());
}

// What the user sees of the dialog's client area, on the screen.
RECT visibleClient(HWND dialog) {
  RECT client{};
  GetClientRect(dialog, &client);
  MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
  IntersectRect(&client, &client, &workArea);
  return client;
}

RECT screenRect(HWND control) {
  RECT r{};
  GetWindowRect(control, &r);
  return r;
}

HWND focusNow() {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(guiThread, &info);
  return info.hwndFocus;
}

bool waitFor(bool (*condition)(HWND), HWND window) {
  for (int i = 0; i < 150; ++i) {
    if (condition(window))
      return true;
    Sleep(20);
  }
  return false;
}

void send(INPUT input) {
  SendInput(1, &input, sizeof input);
  Sleep(30);
}

void key(WORD virtualKey) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  send(input);
  input.ki.dwFlags = KEYEVENTF_KEYUP;
  send(input);
}

void mouse(DWORD flags, POINT at = {}, int wheel = 0) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = flags;
  input.mi.dx = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
  input.mi.dy = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
  input.mi.mouseData = static_cast<DWORD>(wheel);
  send(input);
}

POINT centreOf(HWND control) {
  const RECT r = screenRect(control);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

bool centreInView(HWND control) {
  const RECT view = visibleClient(GetParent(control));
  const POINT at = centreOf(control);
  return PtInRect(&view, at) != 0;
}

// Tab from control to control until the focus comes round again: each
// one is wholly in view when it has the focus.
void reachByKeyboard(HWND dialog) {
  static HWND before = nullptr;
  before = focusNow();
  int reached = 0;
  for (int i = 0; i < 80; ++i) {
    key(VK_TAB);
    if (!waitFor([](HWND) { return focusNow() != before; }, nullptr)) {
      verdict(false, "Tab moves the focus on from control " + std::to_string(GetDlgCtrlID(before)));
      return;
    }
    before = focusNow();
    Sleep(50);  // the scroll comes after the focus
    const RECT view = visibleClient(dialog);
    if (!insideRect(screenRect(before), view)) {
      verdict(false, "control " + std::to_string(GetDlgCtrlID(before)) + " in view at " +
                         rectText(screenRect(before)) + " once Tab gave it the focus");
      return;
    }
    ++reached;
    if (before == GetDlgItem(dialog, IDOK))
      break;
  }
  verdict(reached > 20, "Tab reached " + std::to_string(reached) + " controls, each in view");
}

// The wheel over the dialog until the control shows, then a click on it.
bool clickWithMouse(HWND dialog, HWND control) {
  const RECT view = visibleClient(dialog);
  mouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE,
        {(view.left + view.right) / 2, (view.top + view.bottom) / 2});
  for (int i = 0; i < 60 && !centreInView(control); ++i)
    mouse(MOUSEEVENTF_WHEEL, {}, -WHEEL_DELTA);
  const POINT at = centreOf(control);
  const std::string name = "control " + std::to_string(GetDlgCtrlID(control));
  if (!centreInView(control)) {
    verdict(false, name + " at " + rectText(screenRect(control)) + " scrolled into " +
                       rectText(visibleClient(dialog)) + " by the wheel");
    return false;
  }
  // From another thread a group box is hit first: it answers HTTRANSPARENT
  // to its own thread only.
  const HWND hit = WindowFromPoint(at);
  const bool groupBox = GetParent(hit) == dialog && classOf(hit) == L"Button" &&
                        (GetWindowLongW(hit, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
  if (hit != control && !IsChild(control, hit) && !groupBox) {
    verdict(false, name + " under the mouse, not window " + std::to_string(GetDlgCtrlID(hit)));
    return false;
  }
  // The press carries its place: X may still move the pointer after a
  // move of its own.
  const DWORD here = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  mouse(here, at);
  Sleep(100);
  mouse(here | MOUSEEVENTF_LEFTDOWN, at);
  mouse(here | MOUSEEVENTF_LEFTUP, at);
  return true;
}

DWORD WINAPI reachControls(void* argument) {
  HWND dialog = static_cast<HWND>(argument);
  SetForegroundWindow(dialog);
  waitFor([](HWND d) { return GetForegroundWindow() == d; }, dialog);
  reachByKeyboard(dialog);
  HWND flow = GetDlgItem(dialog, IDC_SLAVE_FLOW_CONTROL);
  verdict(IsWindowEnabled(flow), "the slave's Flow Control enabled without power save");
  if (clickWithMouse(dialog, flow)) {
    const bool dropped =
        waitFor([](HWND c) { return SendMessageW(c, CB_GETDROPPEDSTATE, 0, 0) != 0; }, flow);
    verdict(dropped, "a click on the slave's Flow Control opens its list (focus on " +
                         std::to_string(GetDlgCtrlID(focusNow())) + ")");
    SendMessageW(flow, CB_SHOWDROPDOWN, FALSE, 0);
  }
  // Nothing read is shown any more: Exit asks nothing.
  masterPane.nodeId[0] = slavePane.nodeId[0] = 0;
  if (clickWithMouse(dialog, GetDlgItem(dialog, IDOK))) {
    verdict(waitFor([](HWND d) { return !IsWindow(d); }, dialog),
            "a click on Exit ends the dialog");
  }
  reachDone = true;
  PostThreadMessageW(guiThread, WM_NULL, 0, 0);
  return 0;
}

void checkOnScreen() {
  HWND dialog = mainDialog;
  const RECT frame = screenRect(dialog);
  verdict(insideRect(frame, workArea), "main dialog at " + rectText(frame) + " in the work area");
  // The slave's Flow Control takes clicks only while Power Save is off,
  // as it is for a module that does not sleep.
  showPane(&slavePane, "KOV-NL001/S", false);
  guiThread = GetCurrentThreadId();
  HANDLE reacher = CreateThread(nullptr, 0, reachControls, dialog, 0, nullptr);
  MSG message{};
  const DWORD started = GetTickCount();
  while (!reachDone && GetTickCount() - started < 60000) {
    if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
      dispatchLoopMessage(&message);
    else
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
  verdict(WaitForSingleObject(reacher, 5000) == WAIT_OBJECT_0, "the controls reached in time");
  CloseHandle(reacher);
}

}  // namespace

int main(int argc, char** argv) {
  const bool onScreen = argc == 3 && std::strcmp(argv[1], "--taskbar") == 0;
  if (onScreen)
    reserveTaskbar(std::atoi(argv[2]));
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
  if (onScreen)
    checkOnScreen();
  if (mainDialog)
    DestroyWindow(mainDialog);
  std::printf("text fit: %d failed\n", failures);
  return failures ? 1 : 0;
}
