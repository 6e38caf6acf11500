// A session's screen updates on the real main dialog: a session thread that
// shows its pane never waits for the GUI thread (which may be busy, or
// waiting for that very session), and the GUI thread draws what was shown
// when it was shown, with the button rules of what is on screen.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "module/pane.h"
#include "module/view_hooks.h"
#include "resources/resource_ids.h"
#include "runner/runner_hooks.h"
#include "ui/shell_services.h"

namespace {

int failures = 0;

void check(const std::string& what, bool good, const std::string& detail = "") {
  std::printf("%s %s%s%s\n", good ? "PASS" : "FAIL", what.c_str(), detail.empty() ? "" : ": ",
              detail.c_str());
  failures += good ? 0 : 1;
}

std::string textOf(int id) {
  char text[64] = {};
  GetDlgItemTextA(mainDialog, id, text, 64);
  return text;
}

void readModule(PaneRecord* pane, const char* nodeId) {
  std::strcpy(pane->nodeId, nodeId);
  pane->panIdRead = pane->panIdShown = 0x1234;
  pane->channelRead = pane->channelShown = 15;
  pane->channelLimit = 26;
  pane->baudCodeRead = pane->baudCodeShown = 3;
  pane->powerLevelRead = pane->powerLevelShown = 4;
  pane->d7ConfigRead = pane->d6ConfigRead = 1;
  deriveModeState(pane);
}

HANDLE shown = nullptr;

// As a session does: shows its pane, then goes on with it.
DWORD WINAPI session(void*) {
  readModule(&masterPane, "TEST-NODE/M");
  fillChannelList(masterPane.channelCombo, masterPane.channelLimit);
  displayPane(&masterPane);
  clearPaneDisplay(&slavePane);
  SetEvent(shown);
  std::strcpy(masterPane.nodeId, "LATER/M");  // after the display: not on screen
  masterPane.channelShown = 16;
  return 0;
}

void pumpUntilIdle() {
  MSG message;
  for (int round = 0; round < 50; ++round) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
      dispatchLoopMessage(&message);
    Sleep(10);
  }
}

}  // namespace

int main() {
  loopDialog = createMainDialog(nullptr);
  if (!loopDialog) {
    std::printf("FAIL the main dialog could not be created\n");
    return 1;
  }
  readModule(&slavePane, "TEST-NODE/S");
  displayPane(&slavePane);
  shown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  lendPanesToWorker();
  HANDLE thread = CreateThread(nullptr, 0, session, nullptr, 0, nullptr);
  // The GUI thread serves nothing meanwhile, as when it waits for a worker.
  const DWORD waited = WaitForSingleObject(shown, 3000);
  check("a session shows its pane without waiting for the GUI thread", waited == WAIT_OBJECT_0);
  pumpUntilIdle();
  WaitForSingleObject(thread, 5000);
  CloseHandle(thread);
  check("the pane shows what the session showed", textOf(IDC_MASTER_NODE_ID) == "TEST-NODE/M",
        textOf(IDC_MASTER_NODE_ID));
  char channel[16] = {};
  const HWND channels = GetDlgItem(mainDialog, IDC_MASTER_CHANNEL);
  SendMessageA(channels, CB_GETLBTEXT, SendMessageA(channels, CB_GETCURSEL, 0, 0),
               reinterpret_cast<LPARAM>(channel));
  check("its channel as shown", std::string(channel) == "15", channel);
  check("the other pane cleared after it, in order", textOf(IDC_SLAVE_NODE_ID).empty(),
        textOf(IDC_SLAVE_NODE_ID));
  check("the buttons follow the screen: the master's Write, no Copy",
        IsWindowEnabled(GetDlgItem(mainDialog, IDC_MASTER_WRITE)) &&
            !IsWindowEnabled(GetDlgItem(mainDialog, IDC_COPY_TO_SLAVE)));
  takePanesBack();
  CloseHandle(shown);
  masterPane.nodeId[0] = slavePane.nodeId[0] = 0;
  destroyMainDialog(mainDialog);
  std::printf("view thread: %d failed\n", failures);
  return failures ? 1 : 0;
}
