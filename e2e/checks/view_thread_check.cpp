// A session's screen updates on the real main dialog: a session thread that
// shows its pane or asks for the reset key never waits for the GUI thread
// (which may be busy, or waiting for that very session) and never touches a
// window itself; the GUI thread draws what was shown when it was shown,
// with the button rules of what is on screen.
//
//   view_thread_check.exe [MASTER SLAVE]
//
// With two COM numbers of a master's and a slave's port it then runs the
// real operations on them, from this process's own GUI thread (no other
// process sends to its windows): a Read of each, a Write, a pair run, a
// Range Test and the Terminal, and fails on any window call from another
// thread meanwhile.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "runner/runner.h"
#include "ui/dialog/extra_commands.h"
#include "ui/dialog/main_dialog.h"
#include "ui/dialog/operation_hooks.h"
#include "ui/dialog/port_list.h"
#include "ui/dialog/view_hooks.h"
#include "ui/range_test/range_test_window.h"
#include "ui/shared/shell_services.h"
#include "ui/terminal/terminal_window.h"

namespace {

int failures = 0;

void check(const std::string& what, bool good, const std::string& seen = "") {
  std::printf("%s %s%s%s\n", good ? "PASS" : "FAIL", what.c_str(), seen.empty() ? "" : ": ",
              seen.c_str());
  failures += good ? 0 : 1;
}

std::string textOf(int id) {
  char text[64] = {};
  GetDlgItemTextA(mainDialog, id, text, 64);
  return text;
}

void readModule(PaneRecord* pane, const char* nodeId) {
  std::strcpy(pane->module.nodeId, nodeId);
  pane->module.read[Setting::Channel] = pane->module.shown[Setting::Channel] = 15;
  pane->module.channelLimit = 26;
  deriveModeState(&pane->module);
}

HANDLE shown = nullptr;
HWND prompt = nullptr;

// Every message another thread sends to the GUI thread's windows: a window
// call from a session (a text set or read, a window shown) comes as one.
UINT crossThreadMessages = 0;
UINT firstCrossThread = 0;

LRESULT CALLBACK watchSentMessages(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && (InSendMessageEx(nullptr) & ISMEX_SEND)) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    firstCrossThread = crossThreadMessages++ ? firstCrossThread : sent->message;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void serveFor(int ms) {
  MSG message;
  for (int i = 0; i < ms / 10; ++i, Sleep(10)) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
      dispatchLoopMessage(&message);
  }
}

std::string watched() {
  char seen[64] = {};
  std::snprintf(seen, sizeof seen, "%u, the first 0x%04X", crossThreadMessages, firstCrossThread);
  return seen;
}

DWORD WINAPI touchesAWindow(void*) {
  SetWindowTextW(GetDlgItem(mainDialog, IDC_MASTER_NODE_ID), L"from a worker");
  return 0;
}

// As a session does: shows its pane, then goes on with it.
DWORD WINAPI session(void*) {
  readModule(&masterPane, "TEST-NODE/M");
  fillChannelList(masterPane.control[indexOf(Setting::Channel)], masterPane.module.channelLimit);
  displayPane(&masterPane);
  clearPaneDisplay(&slavePane);
  const ResetPrompt asked = windowResetPrompt(prompt);
  asked.shown(asked.context, 5);
  SetEvent(shown);
  std::strcpy(masterPane.module.nodeId, "LATER/M");  // after the display: not on screen
  return 0;
}

// The boxes the GUI thread opened, closed again from its own loop.
std::vector<std::string> boxTexts;

BOOL CALLBACK closeBox(HWND window, LPARAM) {
  char kind[16] = {}, text[256] = {};
  GetClassNameA(window, kind, sizeof kind);
  if (std::strcmp(kind, "#32770") != 0 || window == prompt || window == mainDialog ||
      !IsWindowVisible(window) || GetDlgItem(window, IDC_PROGRESS_LABEL))
    return TRUE;
  // The box's text: Windows numbers its static 0xFFFF, Wine 100; a
  // verdict's is its label.
  if (!GetDlgItemTextA(window, 0xFFFF, text, sizeof text) &&
      !GetDlgItemTextA(window, 100, text, sizeof text))
    GetDlgItemTextA(window, IDC_RESULT_LABEL, text, sizeof text);
  boxTexts.push_back(text);
  PostMessageW(window, WM_COMMAND, IDOK, 0);
  return TRUE;
}

void CALLBACK closeBoxesOfThisThread(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), closeBox, 0);
}

DWORD WINAPI warns(void*) {
  showWarning(L"Extended PAN ID is not match.");
  showWarning(L"Destination address is not correct.");
  return 0;
}

DWORD WINAPI keyPressed(void*) {
  const ResetPrompt asked = windowResetPrompt(prompt);
  asked.hidden(asked.context, 5);
  return 0;
}

// ---------------------------------------------------------------- real operations

template <typename Done>
bool serveUntil(Done done, int ms) {
  for (int waited = 0; waited < ms; waited += 20) {
    serveFor(20);
    if (done())
      return true;
  }
  return false;
}

bool pickListed(int comboId, int number) {
  const HWND combo = GetDlgItem(mainDialog, comboId);
  if (!pickPort(combo, static_cast<uint32_t>(number)))
    return false;
  SendMessageW(mainDialog, WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
  return true;
}

// A command of the dialog from its own thread: an operation runs behind its
// progress dialog before this returns; the timer closes what it shows.
void command(WPARAM id) {
  boxTexts.clear();
  SendMessageW(mainDialog, WM_COMMAND, id, 0);
}

std::string windowText(HWND window, int id) {
  char text[4096] = {};
  GetDlgItemTextA(window, id, text, sizeof text);
  return text;
}

std::string boxesSeen() {
  std::string seen;
  for (const std::string& text : boxTexts)
    seen += (seen.empty() ? "" : " | ") + text;
  return seen.empty() ? "no box" : seen;
}

void readBoth() {
  command(IDC_MASTER_READ);
  check("a real Read of the master", !textOf(IDC_MASTER_NODE_ID).empty() && boxTexts.empty(),
        boxesSeen());
  command(IDC_SLAVE_READ);
  check("a real Read of the slave", !textOf(IDC_SLAVE_NODE_ID).empty() && boxTexts.empty(),
        boxesSeen());
}

std::string channelShown(int id) {
  const HWND channels = GetDlgItem(mainDialog, id);
  char channel[16] = {};
  SendMessageA(channels, CB_GETLBTEXT, SendMessageA(channels, CB_GETCURSEL, 0, 0),
               reinterpret_cast<LPARAM>(channel));
  return channel;
}

// Another channel for the master, copied to the slave: both written, so
// that the pair run after it still finds a pair.
void writeBoth() {
  const HWND channels = GetDlgItem(mainDialog, IDC_MASTER_CHANNEL);
  const LRESULT now = SendMessageW(channels, CB_GETCURSEL, 0, 0);
  SendMessageW(channels, CB_SETCURSEL, now > 0 ? now - 1 : now + 1, 0);
  SendMessageW(mainDialog, WM_COMMAND, MAKEWPARAM(IDC_MASTER_CHANNEL, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(channels));
  const std::string wanted = channelShown(IDC_MASTER_CHANNEL);
  command(IDC_MASTER_WRITE);
  const std::string boxes = boxesSeen();
  command(IDC_COPY_TO_SLAVE);
  command(IDC_SLAVE_WRITE);
  check("a real Write of each, read back",
        boxes == "no box" && boxTexts.empty() && channelShown(IDC_MASTER_CHANNEL) == wanted &&
            channelShown(IDC_SLAVE_CHANNEL) == wanted,
        boxes + ", " + boxesSeen() + ", channel " + wanted + ": " +
            channelShown(IDC_MASTER_CHANNEL) + " " + channelShown(IDC_SLAVE_CHANNEL));
}

void runPair() {
  boxTexts.clear();
  runExtraCommand(mainDialog, IDM_RUN_PAIR);
  check("a real pair run, to its verdict", boxTexts.size() == 1 && boxTexts[0] == "PASS",
        boxesSeen());
}

HWND topWindowNamed(const wchar_t* prefix) {
  for (HWND w = FindWindowExW(nullptr, nullptr, nullptr, nullptr); w;
       w = FindWindowExW(nullptr, w, nullptr, nullptr)) {
    wchar_t caption[128] = {};
    GetWindowTextW(w, caption, 128);
    DWORD process = 0;
    GetWindowThreadProcessId(w, &process);
    if (process == GetCurrentProcessId() && std::wcsncmp(caption, prefix, std::wcslen(prefix)) == 0)
      return w;
  }
  return nullptr;
}

void runRangeTest() {
  showRangeTestWindow(mainDialog);
  const HWND window = topWindowNamed(L"NLCONF - Range Test");
  SetDlgItemTextW(window, IDC_RANGE_COUNT, L"5");
  SendMessageW(window, WM_COMMAND, IDOK, 0);
  const bool ended = serveUntil(
      [&] { return windowText(window, IDC_RANGE_STATUS).rfind("Done in ", 0) == 0; }, 60000);
  check("a real Range Test, to its end", ended, windowText(window, IDC_RANGE_STATUS));
  destroyRangeTestWindow();
}

void runTerminal() {
  SetFocus(GetDlgItem(mainDialog, IDC_MASTER_PORT));
  showTerminalWindow(mainDialog);
  const HWND window = topWindowNamed(L"NLCONF - Terminal");
  SetDlgItemTextW(window, IDC_TERM_INPUT, L"ATCH");
  SendMessageW(window, WM_COMMAND, IDOK, 0);
  // The command's echo, then the module's answer on a line of its own.
  const bool answered = serveUntil(
      [&] {
        const std::string text = windowText(window, IDC_TERM_TEXT);
        const size_t sent = text.find("ATCH");
        return sent != std::string::npos && text.find("\r\n", sent) != std::string::npos &&
               text.find_first_of("0123456789ABCDEF", text.find("\r\n", sent)) != std::string::npos;
      },
      20000);
  check("a real Terminal command, answered", answered, windowText(window, IDC_TERM_TEXT));
  destroyTerminalWindow();
}

void runRealOperations(int master, int slave) {
  if (!pickListed(IDC_MASTER_PORT, master) || !pickListed(IDC_SLAVE_PORT, slave)) {
    check("the modules' ports are listed", false);
    return;
  }
  crossThreadMessages = 0;
  HHOOK watch = SetWindowsHookExW(WH_CALLWNDPROC, watchSentMessages, nullptr, GetCurrentThreadId());
  const UINT_PTR closer = SetTimer(nullptr, 0, 100, closeBoxesOfThisThread);
  readBoth();
  writeBoth();
  runPair();
  runRangeTest();
  runTerminal();
  KillTimer(nullptr, closer);
  UnhookWindowsHookEx(watch);
  check("no worker called a window in real operations", crossThreadMessages == 0, watched());
}

}  // namespace

int main(int argc, char** argv) {
  loopDialog = createMainDialog(nullptr);
  prompt = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_RESET_PROMPT),
                              mainDialog, resetPromptProc, 0);
  HHOOK watch = SetWindowsHookExW(WH_CALLWNDPROC, watchSentMessages, nullptr, GetCurrentThreadId());
  HANDLE toucher = CreateThread(nullptr, 0, touchesAWindow, nullptr, 0, nullptr);
  serveFor(300);
  WaitForSingleObject(toucher, 5000);
  CloseHandle(toucher);
  check("the watch sees a window call from another thread", crossThreadMessages > 0, watched());
  crossThreadMessages = 0;

  readModule(&slavePane, "TEST-NODE/S");
  displayPane(&slavePane);
  shown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  lendPanesToWorker();
  HANDLE thread = CreateThread(nullptr, 0, session, nullptr, 0, nullptr);
  // The GUI thread serves nothing meanwhile, as when it waits for a worker.
  check("a session shows its pane without waiting for the GUI thread",
        WaitForSingleObject(shown, 3000) == WAIT_OBJECT_0);
  serveFor(500);
  WaitForSingleObject(thread, 5000);
  CloseHandle(thread);
  const std::string channel = channelShown(IDC_MASTER_CHANNEL);
  check("the pane shows what the session showed",
        textOf(IDC_MASTER_NODE_ID) == "TEST-NODE/M" && channel == "15",
        textOf(IDC_MASTER_NODE_ID) + " " + channel);
  check("the other pane cleared after it, in order", textOf(IDC_SLAVE_NODE_ID).empty());
  check("the buttons follow the screen: the master's Write, no Copy",
        IsWindowEnabled(GetDlgItem(mainDialog, IDC_MASTER_WRITE)) &&
            !IsWindowEnabled(GetDlgItem(mainDialog, IDC_COPY_TO_SLAVE)));
  check("the reset prompt a session asked for is up", IsWindowVisible(prompt) != FALSE);
  thread = CreateThread(nullptr, 0, keyPressed, nullptr, 0, nullptr);
  serveFor(300);
  WaitForSingleObject(thread, 5000);
  CloseHandle(thread);
  check("and down once the module spoke", !IsWindowVisible(prompt));
  // A Read's pair warnings: the session goes on, the GUI thread shows one
  // box after the other.
  const UINT_PTR closer = SetTimer(nullptr, 0, 100, closeBoxesOfThisThread);
  thread = CreateThread(nullptr, 0, warns, nullptr, 0, nullptr);
  check("a session's warnings never wait for the user",
        WaitForSingleObject(thread, 3000) == WAIT_OBJECT_0);
  CloseHandle(thread);
  serveFor(1500);
  KillTimer(nullptr, closer);
  const std::string boxes = boxTexts.empty() ? "none" : boxTexts.front() + " | " + boxTexts.back();
  check("the GUI thread showed them in order, one box each",
        boxTexts.size() == 2 && boxTexts[0] == "Extended PAN ID is not match." &&
            boxTexts[1] == "Destination address is not correct.",
        boxes);
  check("no session thread called a window of the GUI thread", crossThreadMessages == 0, watched());
  UnhookWindowsHookEx(watch);
  takePanesBack();
  masterPane.module.nodeId[0] = slavePane.module.nodeId[0] = 0;
  if (argc == 3)
    runRealOperations(std::atoi(argv[1]), std::atoi(argv[2]));
  DestroyWindow(prompt);
  destroyMainDialog(mainDialog);
  return failures ? 1 : 0;
}
