// The view hooks of module/ on the main dialog's controls. They also run on
// the worker thread; the calls then reach the GUI thread as sent messages,
// which it serves inside the progress dialog's loop.
#include <windows.h>

#include <climits>
#include <mutex>
#include <string>

#include "module/pane.h"
#include "module/result_messages.h"
#include "module/view_hooks.h"
#include "resources/resource_ids.h"
#include "runner/runner.h"

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

// "Master (COM5)", or both panes' captions while both modules are asked.
void nameAskedModules(HWND prompt) {
  std::wstring caption;
  for (uint32_t port : askedPorts) {
    for (const PaneRecord* pane : {&masterPane, &slavePane}) {
      if (port && pane->portNumber == static_cast<int32_t>(port))
        caption += (caption.empty() ? L"" : L", ") + paneCaption(pane, port);
    }
  }
  if (!caption.empty())
    SetWindowTextW(prompt, caption.c_str());
}

}  // namespace

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
