// The view hooks of module/ on the main dialog's controls. They also run on
// a worker's sessions: what the screen shows of a pane is then posted to
// the GUI thread as a copy and drawn there, in the order it was asked for;
// a session never reads a control's pane or the other pane for it. The
// other calls reach the GUI thread as sent messages, which it serves inside
// the progress dialog's loop.
#include <windows.h>

#include <atomic>
#include <climits>
#include <mutex>
#include <new>
#include <string>

#include "module/result_messages.h"
#include "resources/resource_ids.h"
#include "runner/runner.h"
#include "runner/runner_hooks.h"
#include "ui/main_dialog.h"
#include "ui/pane.h"
#include "ui/shell_services.h"
#include "ui/view_hooks.h"

namespace {

HWND asWindow(WindowHandle handle) {
  return static_cast<HWND>(handle);
}

// The modules the reset prompt waits for: a pair run may ask for both.
std::mutex promptLock;
uint32_t askedPorts[2] = {};

bool notePromptPort(uint32_t port, bool asked) {
  for (uint32_t& slot : askedPorts) {
    if (asked ? slot == 0 : slot == port) {
      slot = asked ? port : 0;
      return true;
    }
  }
  return false;
}

// "Master - COM5", or both panes' captions while both modules are asked.
// The role comes from the port lists, never from a pane a session writes.
void nameAskedModules(HWND prompt) {
  std::wstring caption;
  const uint32_t masterPort = portNumberShown(&masterPane);
  const uint32_t slavePort = portNumberShown(&slavePane);
  for (uint32_t port : askedPorts) {
    const wchar_t* role = !port                ? nullptr
                          : port == masterPort ? L"Master"
                          : port == slavePort  ? L"Slave"
                                               : nullptr;
    if (role)
      caption +=
          (caption.empty() ? L"" : L", ") + std::wstring(role) + L" - COM" + std::to_wstring(port);
  }
  if (!caption.empty())
    SetWindowTextW(prompt, caption.c_str());
}

// ---- what the screen shows while a worker owns the panes -------------------

// GUI thread only.
bool panesLent = false;
PaneRecord shownPanes[2];
// A post was lost (a full queue): the panes are drawn again at the end.
std::atomic<bool> redrawDue{false};

int indexOf(const PaneRecord* pane) {
  return pane == &slavePane ? 1 : 0;
}

bool onGuiThread() {
  return !mainDialog || GetWindowThreadProcessId(mainDialog, nullptr) == GetCurrentThreadId();
}

void post(UINT message, WPARAM wParam, LPARAM lParam) {
  if (!PostMessageW(mainDialog, message, wParam, lParam))
    redrawDue = true;
}

}  // namespace

void lendPanesToWorker() {
  shownPanes[0] = masterPane;
  shownPanes[1] = slavePane;
  panesLent = true;
  redrawDue = false;
}

void takePanesBack() {
  panesLent = false;
  for (PaneRecord* pane : {&masterPane, &slavePane}) {
    recolorPane(pane);
    if (redrawDue && holdsModuleData(&pane->module))
      drawPane(pane);
    else if (redrawDue)
      clearPaneFields(pane);
  }
  redrawDue = false;
  applyButtonRules();
  keepSessionEndReason();
}

const PaneRecord* paneAsShown(const PaneRecord* pane) {
  return panesLent && (pane == &masterPane || pane == &slavePane) ? &shownPanes[indexOf(pane)]
                                                                  : pane;
}

bool onPostedDisplay(UINT message, WPARAM wParam, LPARAM lParam) {
  PaneRecord* pane = reinterpret_cast<PaneRecord*>(wParam);
  if (message == MSG_FILL_CHANNELS) {
    fillChannelEntries(reinterpret_cast<WindowHandle>(wParam), static_cast<int32_t>(lParam));
    return true;
  }
  if ((message != MSG_DRAW_PANE && message != MSG_CLEAR_PANE) ||
      (pane != &masterPane && pane != &slavePane)) {
    return false;
  }
  PaneRecord* copy = reinterpret_cast<PaneRecord*>(lParam);
  // Drawn from the copy kept, so that the repaints ask it for their colours.
  PaneRecord* shown = panesLent ? &shownPanes[indexOf(pane)] : pane;
  if (message == MSG_DRAW_PANE) {
    if (panesLent)
      *shown = *copy;
    delete copy;
    drawPane(shown);
  } else {
    clearPaneFields(pane);
    if (panesLent)
      shown->module.nodeId[0] = 0;  // a cleared pane shows no module
  }
  applyButtonRules();
  return true;
}

void displayPane(PaneRecord* pane) {
  if (onGuiThread()) {
    drawPane(pane);
    applyButtonRules();
    return;
  }
  auto* copy = new (std::nothrow) PaneRecord(*pane);
  if (!copy || !PostMessageW(mainDialog, MSG_DRAW_PANE, reinterpret_cast<WPARAM>(pane),
                             reinterpret_cast<LPARAM>(copy))) {
    delete copy;
    redrawDue = true;
  }
}

void clearPaneDisplay(PaneRecord* pane) {
  if (onGuiThread())
    clearPaneFields(pane);
  else
    post(MSG_CLEAR_PANE, reinterpret_cast<WPARAM>(pane), 0);
}

void fillChannelList(WindowHandle channelCombo, int32_t channelLimit) {
  if (onGuiThread())
    fillChannelEntries(channelCombo, channelLimit);
  else
    post(MSG_FILL_CHANNELS, reinterpret_cast<WPARAM>(channelCombo), channelLimit);
}

bool isWindowHandle(WindowHandle window) {
  return window && IsWindow(asWindow(window));
}

void showResetPrompt(WindowHandle prompt, uint32_t portNumber) {
  if (!isWindowHandle(prompt))
    return;
  // Its Cancel belongs in sight beside it.
  showProgressBeside(asWindow(prompt));
  std::lock_guard guard(promptLock);
  if (!notePromptPort(portNumber, true))
    return;
  nameAskedModules(asWindow(prompt));
  if (IsWindowVisible(asWindow(prompt)))
    return;
  placeResetPrompt(asWindow(prompt));
  SetForegroundWindow(asWindow(prompt));
  ShowWindow(asWindow(prompt), SW_SHOWNORMAL);
  UpdateWindow(asWindow(prompt));
}

void hideResetPrompt(WindowHandle prompt, uint32_t portNumber) {
  if (!isWindowHandle(prompt))
    return;
  std::lock_guard guard(promptLock);
  notePromptPort(portNumber, false);
  if (askedPorts[0] || askedPorts[1]) {
    nameAskedModules(asWindow(prompt));
    return;
  }
  ShowWindow(asWindow(prompt), SW_HIDE);
  UpdateWindow(asWindow(prompt));
}

void enableControl(WindowHandle control, bool enable) {
  EnableWindow(asWindow(control), enable ? TRUE : FALSE);
  UpdateWindow(asWindow(control));
}

void selectComboEntry(WindowHandle combo, int32_t index) {
  // A position outside the list (-1 among them) leaves no selection.
  SendMessageW(asWindow(combo), CB_SETCURSEL, static_cast<WPARAM>(static_cast<INT_PTR>(index)), 0);
  UpdateWindow(asWindow(combo));
}

uint32_t controlText(WindowHandle control, wchar_t* buffer, uint32_t size) {
  if (!buffer || size == 0)
    return 0;
  buffer[0] = 0;
  const int limit = size > INT_MAX ? INT_MAX : static_cast<int>(size);
  const int length = GetWindowTextW(asWindow(control), buffer, limit);
  if (length <= 0) {
    buffer[0] = 0;
    return 0;
  }
  return static_cast<uint32_t>(length);
}

void postOperationDone(WindowHandle progressDialog, PaneRecord* pane) {
  PostMessageW(asWindow(progressDialog), MSG_OPERATION_DONE, 0, reinterpret_cast<LPARAM>(pane));
}
