// A session's screen updates on the real main dialog: a session thread that
// shows its pane or asks for the reset key never waits for the GUI thread
// (which may be busy, or waiting for that very session) and never touches a
// window itself; the GUI thread draws what was shown when it was shown,
// with the button rules of what is on screen.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "runner/runner.h"
#include "ui/dialog/main_dialog.h"
#include "ui/dialog/operation_hooks.h"
#include "ui/dialog/view_hooks.h"
#include "ui/shared/shell_services.h"

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
      !IsWindowVisible(window))
    return TRUE;
  // The box's text: Windows numbers its static 0xFFFF, Wine 100.
  if (!GetDlgItemTextA(window, 0xFFFF, text, sizeof text))
    GetDlgItemTextA(window, 100, text, sizeof text);
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

}  // namespace

int main() {
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
  const HWND channels = GetDlgItem(mainDialog, IDC_MASTER_CHANNEL);
  char channel[16] = {};
  SendMessageA(channels, CB_GETLBTEXT, SendMessageA(channels, CB_GETCURSEL, 0, 0),
               reinterpret_cast<LPARAM>(channel));
  check("the pane shows what the session showed",
        textOf(IDC_MASTER_NODE_ID) == "TEST-NODE/M" && std::string(channel) == "15",
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
  DestroyWindow(prompt);
  destroyMainDialog(mainDialog);
  return failures ? 1 : 0;
}
