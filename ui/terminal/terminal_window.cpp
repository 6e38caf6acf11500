#include "ui/terminal/terminal_window.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "link/line_log.h"
#include "module/terminal.h"
#include "resources/resource_ids.h"
#include "runner/runner.h"
#include "ui/dialog/operation_hooks.h"
#include "ui/dialog/pane.h"
#include "ui/dialog/pane_view.h"
#include "ui/dialog/view_hooks.h"
#include "ui/shared/shell_services.h"
#include "ui/shared/tool_layout.h"
#include "ui/shared/tool_window.h"

namespace {

constexpr wchar_t kClassName[] = L"NlConfTerminal";
constexpr UINT_PTR kModeTimer = 1;
constexpr UINT kModeMs = 250;
// How often the session looks at the time-out while nobody types.
constexpr uint32_t kFollowMs = 250;
// How often it looks whether an unplugged port is back.
constexpr DWORD kLookAgainMs = 1000;
constexpr int kMargin = 8;
constexpr int kButtonWidth = 64;
constexpr int kRowHeight = 24;
constexpr size_t kHistoryLength = 50;

// What the GUI thread and the session's thread share, under `lock`.
struct Shared {
  std::mutex lock;
  std::deque<std::string> toSend;
  std::string toShow;  // lines not yet in the window, each ended by CR LF
  bool opened = false;
  bool ended = false;
  bool inCommandMode = false;
  uint32_t leftMs = 0;
  DWORD leftNotedAt = 0;
  bool changedModule = false;  // a setter went out and the pane was not yet told
  bool portGone = false;       // unplugged under the session, not yet back
  bool departed = false;       // the system said the port went away
};

struct TerminalWindow {
  HWND window = nullptr;
  HWND text = nullptr;
  HWND input = nullptr;
  HFONT font = nullptr;
  WNDPROC inputProc = nullptr;
  HWND prompt = nullptr;       // the reset prompt of the search for the module
  PaneRecord* pane = nullptr;  // the pane whose port the session holds
  uint32_t portNumber = 0;
  os::Handle thread = nullptr;
  os::Handle wake = nullptr;    // a line to send
  os::Handle cancel = nullptr;  // Close, Escape, an unplug, the program's end
  ModuleRecord scratch;         // the session's record; the pane's stays the pane's
  Session session;
  Terminal terminal;
  Shared shared;
  std::vector<std::wstring> history;
  size_t historyAt = 0;
};

TerminalWindow tw;

void post() {
  if (tw.window)
    PostMessageW(tw.window, MSG_TERMINAL_UPDATE, 0, 0);
}

// ---- on the session's thread ---------------------------------------------------

void lineCame(void*, const TerminalLine& line) {
  {
    std::lock_guard guard(tw.shared.lock);
    tw.shared.toShow += terminalLineText(line) + "\r\n";
  }
  post();
}

void modeCame(void*, bool in, uint32_t leftMs) {
  {
    std::lock_guard guard(tw.shared.lock);
    tw.shared.inCommandMode = in;
    tw.shared.leftMs = leftMs;
    tw.shared.leftNotedAt = GetTickCount();
  }
  post();
}

bool takeLine(std::string* line) {
  std::lock_guard guard(tw.shared.lock);
  if (tw.shared.toSend.empty())
    return false;
  *line = tw.shared.toSend.front();
  tw.shared.toSend.pop_front();
  return true;
}

void sendTyped(const std::string& line) {
  Terminal& t = tw.terminal;
  if (t.portLost) {
    lineCame(nullptr,
             TerminalLine{TerminalLine::Kind::Note,
                          "not sent, the port is gone: " +
                              escapedBytes(line.data(), static_cast<uint32_t>(line.size())),
                          os::localTime().msOfDay});
  } else if (const char* why = terminalLineRefusal(line)) {
    lineCame(nullptr, TerminalLine{TerminalLine::Kind::Note, why, os::localTime().msOfDay});
  } else if (line != "+++" && !followCommandMode(t)) {
    lineCame(nullptr,
             TerminalLine{TerminalLine::Kind::Note,
                          "not sent, not in command mode (press +++ first): " +
                              escapedBytes(line.data(), static_cast<uint32_t>(line.size())),
                          os::localTime().msOfDay});
  } else {
    const bool before = t.changedModule;
    sendTerminalLine(t, line, nullptr);
    if (t.changedModule && !before) {
      std::lock_guard guard(tw.shared.lock);
      tw.shared.changedModule = true;
    }
  }
}

bool takeDeparted() {
  std::lock_guard guard(tw.shared.lock);
  const bool departed = tw.shared.departed;
  tw.shared.departed = false;
  return departed;
}

void notePortGone(bool gone) {
  {
    std::lock_guard guard(tw.shared.lock);
    if (tw.shared.portGone == gone)
      return;
    tw.shared.portGone = gone;
  }
  post();
}

void runSession(void*) {
  const int32_t opened = openTerminal(tw.terminal);
  if (opened != 0)
    lineCame(nullptr, TerminalLine{TerminalLine::Kind::Note,
                                   "the module could not be reached: " +
                                       std::string(opened == ResultCancelled ? "cancelled"
                                                                             : "no module found"),
                                   os::localTime().msOfDay});
  {
    std::lock_guard guard(tw.shared.lock);
    tw.shared.opened = opened == 0;
  }
  post();
  const os::Handle waits[2] = {tw.cancel, tw.wake};
  DWORD lastLook = GetTickCount();
  while (opened == 0 && !os::isEventSet(tw.cancel)) {
    os::waitAny(waits, 2, kFollowMs);
    os::resetEvent(tw.wake);
    std::string line;
    while (!os::isEventSet(tw.cancel) && takeLine(&line))
      sendTyped(line);
    followCommandMode(tw.terminal);
    if (takeDeparted())
      loseTerminalPort(tw.terminal);
    // An unplugged port is taken back once it returns, as the panes' are.
    if (tw.terminal.portLost && GetTickCount() - lastLook >= kLookAgainMs) {
      lastLook = GetTickCount();
      takeTerminalPortBack(tw.terminal);
    }
    notePortGone(tw.terminal.portLost);
  }
  closeTerminal(tw.terminal);
  {
    std::lock_guard guard(tw.shared.lock);
    tw.shared.ended = true;
  }
  post();
}

// ---- on the GUI thread ------------------------------------------------------------

HWND item(int id) {
  return GetDlgItem(tw.window, id);
}

std::wstring widened(const std::string& text) {
  return std::wstring(text.begin(), text.end());  // escaped: ASCII only
}

void appendWide(const wchar_t* more) {
  const int length = GetWindowTextLengthW(tw.text);
  SendMessageW(tw.text, EM_SETSEL, length, length);
  SendMessageW(tw.text, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(more));
}

void appendText(const std::string& more) {
  appendWide(widened(more).c_str());
}

void showMode() {
  Shared& s = tw.shared;
  wchar_t text[96];
  std::lock_guard guard(s.lock);
  const DWORD since = GetTickCount() - s.leftNotedAt;
  const uint32_t left = s.leftMs > since ? s.leftMs - since : 0;
  if (s.ended)
    lstrcpyW(text, L"Closed");
  else if (!s.opened)
    wsprintfW(text, L"Finding the module on COM%u...", tw.portNumber);
  else if (s.portGone)
    wsprintfW(text, L"COM%u is gone: waiting for it to return", tw.portNumber);
  else if (s.inCommandMode && left > 0)
    wsprintfW(text, L"Command mode: %u s left", (left + 999) / 1000);
  else
    lstrcpyW(text, L"Not in command mode");
  SetWindowTextW(item(IDC_TERM_MODE), text);
  EnableWindow(item(IDC_TERM_ESCAPE), s.opened && !s.ended);
}

// The session ended: its thread is done, the pane's buttons come back.
void releasePane() {
  if (tw.thread) {
    os::joinThread(tw.thread);
    tw.thread = nullptr;
  }
  tw.pane = nullptr;
  tw.portNumber = 0;
  applyButtonRules();
}

// What a setter or a store did to the module, the pane no longer shows as
// read: emptied as after a failed Read, and said so.
void forgetPaneValues() {
  PaneRecord* pane = tw.pane;
  if (!pane)
    return;
  resetPane(&pane->module);
  clearPaneDisplay(pane);
  logNote(&dialogLineLog, tw.portNumber,
          "Terminal: the module was changed; its pane was emptied, Read it again");
  appendText(timeOfDayText(os::localTime().msOfDay) +
             " -- the pane's values are no longer the module's: Read it again\r\n");
  applyButtonRules();
}

void onUpdate() {
  std::string more;
  bool changed = false, ended = false;
  {
    std::lock_guard guard(tw.shared.lock);
    more.swap(tw.shared.toShow);
    changed = tw.shared.changedModule;
    tw.shared.changedModule = false;
    ended = tw.shared.ended;
  }
  if (!more.empty())
    appendText(more);
  if (changed)
    forgetPaneValues();
  showMode();
  if (ended && tw.thread) {
    logNote(&dialogLineLog, tw.portNumber, "Terminal: closed");
    releasePane();
  }
}

void queueLine(const std::wstring& typed) {
  std::string line;
  for (wchar_t c : typed)
    line.push_back(c < 0x80 ? static_cast<char>(c) : '\x7F');  // refused, not sent
  {
    std::lock_guard guard(tw.shared.lock);
    tw.shared.toSend.push_back(line);
  }
  os::setEvent(tw.wake);
}

void sendInput() {
  wchar_t typed[kTerminalLineLimit + 2] = {};
  GetWindowTextW(tw.input, typed, kTerminalLineLimit + 2);
  if (!typed[0] || !tw.thread)
    return;
  if (tw.history.empty() || tw.history.back() != typed)
    tw.history.push_back(typed);
  if (tw.history.size() > kHistoryLength)
    tw.history.erase(tw.history.begin());
  tw.historyAt = tw.history.size();
  SetWindowTextW(tw.input, L"");
  queueLine(typed);
}

void recall(int step) {
  if (tw.history.empty())
    return;
  const size_t count = tw.history.size();
  tw.historyAt = step < 0 ? (tw.historyAt > 0 ? tw.historyAt - 1 : 0)
                          : (tw.historyAt < count ? tw.historyAt + 1 : count);
  SetWindowTextW(tw.input, tw.historyAt < count ? tw.history[tw.historyAt].c_str() : L"");
  SendMessageW(tw.input, EM_SETSEL, 0, -1);
}

LRESULT CALLBACK inputProc(HWND input, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN && (wParam == VK_UP || wParam == VK_DOWN)) {
    recall(wParam == VK_UP ? -1 : 1);
    return 0;
  }
  return CallWindowProcW(tw.inputProc, input, message, wParam, lParam);
}

void hideWindow() {
  if (tw.cancel)
    os::setEvent(tw.cancel);
  KillTimer(tw.window, kModeTimer);
  ShowWindow(tw.window, SW_HIDE);
  toolWindowHidden(mainDialog);
  if (mainDialog)
    SetForegroundWindow(mainDialog);
}

HWND makeChild(const wchar_t* className, const wchar_t* text, DWORD style, int id) {
  return makeToolChild(tw.window, className, text, style, id);
}

void createChildren() {
  // Lines wrap: a note is read whole in the narrowest window.
  tw.text = makeChild(L"Edit", L"",
                      WS_TABSTOP | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY |
                          ES_AUTOVSCROLL | ES_NOHIDESEL,
                      IDC_TERM_TEXT);
  SendMessageW(tw.text, EM_SETLIMITTEXT, 0, 0);
  tw.font = createLineFont();
  makeChild(L"Static", L"", SS_LEFT, IDC_TERM_MODE);
  tw.input = makeChild(L"Edit", L"", WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, IDC_TERM_INPUT);
  SendMessageW(tw.input, EM_SETLIMITTEXT, kTerminalLineLimit, 0);
  for (HWND edit : {tw.text, tw.input}) {
    if (tw.font)
      SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(tw.font), 0);
  }
  tw.inputProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(tw.input, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(inputProc)));
  makeChild(L"Button", L"+++", WS_TABSTOP | BS_PUSHBUTTON, IDC_TERM_ESCAPE);
  makeChild(L"Button", L"Clear", WS_TABSTOP | BS_PUSHBUTTON, IDC_TERM_CLEAR);
  makeChild(L"Button", L"Close", WS_TABSTOP | BS_PUSHBUTTON, IDCANCEL);
}

void layOut(int width, int height) {
  const int m = pixelsOnDisplay(kMargin), bw = pixelsOnDisplay(kButtonWidth),
            rh = pixelsOnDisplay(kRowHeight);
  const int inputTop = height - m - rh, modeTop = inputTop - m - rh;
  MoveWindow(tw.text, m, m, width - 2 * m, modeTop - 2 * m, TRUE);
  MoveWindow(item(IDC_TERM_MODE), m, modeTop + rh / 4, width - 2 * m, rh, TRUE);
  int x = width - m - bw;
  for (int id : {int(IDCANCEL), IDC_TERM_CLEAR, IDC_TERM_ESCAPE}) {
    MoveWindow(item(id), x, inputTop, bw, rh, TRUE);
    x -= bw + m;
  }
  MoveWindow(tw.input, m, inputTop, x + bw - m, rh, TRUE);
}

LRESULT onCommand(WORD id) {
  switch (id) {
    case IDOK:  // Enter in the input line
      sendInput();
      break;
    case IDC_TERM_ESCAPE:
      if (tw.thread)
        queueLine(L"+++");
      SetFocus(tw.input);
      break;
    case IDC_TERM_CLEAR:
      SetWindowTextW(tw.text, L"");
      SetFocus(tw.input);
      break;
    case IDCANCEL:
      hideWindow();
      break;
    default:
      break;
  }
  return 0;
}

LRESULT CALLBACK terminalProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      tw.window = window;
      createChildren();
      return 0;
    case WM_SIZE:
      layOut(LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_GETMINMAXINFO:
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {pixelsOnDisplay(360),
                                                               pixelsOnDisplay(220)};
      return 0;
    case WM_SETFOCUS:
      SetFocus(tw.input);
      return 0;
    case WM_TIMER:
      showMode();
      return 0;
    case MSG_TERMINAL_UPDATE:
      onUpdate();
      return 0;
    case WM_COMMAND:
      return onCommand(LOWORD(wParam));
    case WM_CLOSE:
      hideWindow();
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

// The pane the user is in; asked where the focus is in neither.
PaneRecord* paneAsked(HWND dialog) {
  if (PaneRecord* pane = paneOfControl(GetFocus()))
    return pane;
  const int answer = MessageBoxW(dialog,
                                 L"Open the terminal on the Master's port?\r\n"
                                 L"Yes: the Master's port.  No: the Slave's port.",
                                 kDialogCaption, MB_YESNOCANCEL | MB_ICONQUESTION);
  return answer == IDYES ? &masterPane : answer == IDNO ? &slavePane : nullptr;
}

SIZE terminalWholeSize() {
  return {pixelsOnDisplay(520), pixelsOnDisplay(360)};
}

bool makeWindow() {
  if (tw.window)
    return true;
  if (!registerToolWindowClass(kClassName, terminalProc))
    return false;
  const SIZE whole = terminalWholeSize();
  CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, L"NLCONF - Terminal", WS_OVERLAPPEDWINDOW, 0, 0,
                  whole.cx, whole.cy, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  return tw.window != nullptr;
}

bool startSession(PaneRecord* pane, uint32_t portNumber) {
  if (!tw.wake)
    tw.wake = os::createEvent();
  if (!tw.cancel)
    tw.cancel = os::createEvent();
  if (!tw.wake || !tw.cancel)
    return false;
  os::resetEvent(tw.wake);
  os::resetEvent(tw.cancel);
  {
    std::lock_guard guard(tw.shared.lock);
    tw.shared.toSend.clear();
    tw.shared.toShow.clear();
    tw.shared.opened = tw.shared.ended = tw.shared.changedModule = tw.shared.portGone = false;
    tw.shared.departed = false;
    tw.shared.inCommandMode = false;
  }
  tw.scratch = ModuleRecord{};
  tw.session = Session{};
  tw.session.module = &tw.scratch;
  tw.session.portNumber = portNumber;
  tw.session.cancelEvent = tw.cancel;
  tw.session.lineLog = &dialogLineLog;
  // A prompt of its own, as a Read shows one, beside this window; and what
  // the pane's last Read or Write found the module at is tried first.
  if (!tw.prompt)
    tw.prompt = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_RESET_PROMPT),
                                   tw.window, resetPromptProc, 0);
  tw.session.resetPrompt = windowResetPrompt(tw.prompt);
  tw.session.options.search.memory = &paneLines;
  tw.terminal = Terminal{};
  tw.terminal.session = &tw.session;
  tw.terminal.view = TerminalView{lineCame, modeCame, nullptr};
  tw.pane = pane;
  tw.portNumber = portNumber;
  logNote(&dialogLineLog, portNumber, "Terminal started");
  tw.thread = os::startThread(runSession, nullptr);
  if (!tw.thread) {
    tw.pane = nullptr;
    tw.portNumber = 0;
  }
  return tw.thread != nullptr;
}

HWND terminalWindow() {
  return tw.window;
}

// Its size as it opens, and the narrowest it may be made beside the dialog.
ToolWindowNeeds terminalNeeds() {
  const SIZE whole = terminalWholeSize();
  ToolWindowNeeds needs;
  needs.wholeWidth = whole.cx;
  needs.wholeHeight = whole.cy;
  needs.minWidth = pixelsOnDisplay(360);
  return needs;
}

// Where a Range Test window is shown, the Terminal stays where it is.
constexpr ToolWindow kTerminalPlace{terminalWindow, terminalNeeds, ToolPlace::Beside, 1};

}  // namespace

void showTerminalWindow(HWND dialog) {
  if (tw.thread && tw.window) {  // one terminal at a time: the open one comes up
    ShowWindow(tw.window, SW_SHOWNORMAL);
    SetForegroundWindow(tw.window);
    return;
  }
  PaneRecord* pane = paneAsked(dialog);
  if (!pane)
    return;
  const uint32_t port = portNumberShown(pane);
  if (port == 0) {
    showMessage(
        dialog, MB_OK | MB_ICONWARNING, kDialogCaption,
        pane == &masterPane ? L"Pick the Master's port first." : L"Pick the Slave's port first.");
    return;
  }
  if (!makeWindow() || !startSession(pane, port)) {
    showMessage(dialog, MB_OK | MB_ICONWARNING, kDialogCaption,
                L"The terminal could not be started.");
    return;
  }
  wchar_t caption[64];
  wsprintfW(caption, L"NLCONF - Terminal - %s (COM%u)", pane == &masterPane ? L"Master" : L"Slave",
            port);
  SetWindowTextW(tw.window, caption);
  // The lines of an earlier session stay, under their own port's heading.
  wchar_t heading[64];
  wsprintfW(heading, L"%s---- %s - COM%u ----\r\n", GetWindowTextLengthW(tw.text) ? L"\r\n" : L"",
            pane == &masterPane ? L"Master" : L"Slave", port);
  appendWide(heading);
  applyButtonRules();
  addToolWindow(kTerminalPlace);
  if (!IsWindowVisible(tw.window))
    arrangeToolWindows(dialog, tw.window);
  showMode();
  ShowWindow(tw.window, SW_SHOWNORMAL);
  SetForegroundWindow(tw.window);
  SetFocus(tw.input);
  SetTimer(tw.window, kModeTimer, kModeMs, nullptr);
}

bool terminalHolds(const PaneRecord* pane) {
  return tw.thread && tw.pane == pane;
}

bool terminalHoldsAnyPort() {
  return tw.thread != nullptr;
}

// Still searching, the session ends; found, it waits for the port to return.
void terminalPortDeparted(uint32_t portNumber) {
  if (!tw.thread || tw.portNumber != portNumber || !tw.cancel)
    return;
  bool opened = false;
  {
    std::lock_guard guard(tw.shared.lock);
    opened = tw.shared.opened;
    tw.shared.departed = opened;
  }
  os::setEvent(opened ? tw.wake : tw.cancel);
}

bool terminalDialogMessage(MSG* message) {
  return tw.window && IsWindowVisible(tw.window) && IsDialogMessageW(tw.window, message);
}

void destroyTerminalWindow() {
  if (tw.cancel)
    os::setEvent(tw.cancel);
  if (tw.thread) {
    os::joinThread(tw.thread);
    tw.thread = nullptr;
  }
  if (tw.window) {
    DestroyWindow(tw.window);  // and the prompt it owns
    tw.window = nullptr;
    tw.prompt = nullptr;
  }
  for (os::Handle* event : {&tw.wake, &tw.cancel}) {
    if (*event)
      os::closeHandle(*event);
    *event = nullptr;
  }
  if (tw.font) {
    DeleteObject(tw.font);
    tw.font = nullptr;
  }
  tw.pane = nullptr;
}
