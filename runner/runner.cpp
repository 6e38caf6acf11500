#include "runner/runner.h"

#include <process.h>

#include <cstdio>

#include "link/errors.h"
#include "link/line_log.h"
#include "module/read.h"
#include "module/result_messages.h"
#include "resources/resource_ids.h"
#include "runner/runner_hooks.h"
#include "ui/view_hooks.h"

namespace {

// Only one operation runs at a time (its dialog is modal), so one
// description serves every run; the portable record cannot hold it.
LOGFONTW progressFont;
// The same holds for what a run names in its captions, and for the pane
// whose port the body uses too and which watches the run's cancel event.
std::wstring progressCaption;
std::wstring promptCaption;
PaneRecord* partnerPane = nullptr;
bool promptWanted = true;

// An operation that ends sooner shows no progress window at all: one that
// flashes up and away only costs the user time.
constexpr UINT kShowDelayMs = 300;
constexpr UINT_PTR kShowTimer = 1;

// The one run behind the progress dialog, as its own loop follows it.
struct ProgressRun {
  HWND dialog = nullptr;
  HWND owner = nullptr;
  bool shown = false;
  bool ended = false;
  int32_t result = 0;
};
ProgressRun progressRun;

HINSTANCE programInstance() {
  return GetModuleHandleW(nullptr);
}

HWND windowOf(WindowHandle handle) {
  return static_cast<HWND>(handle);
}

unsigned __stdcall workerEntry(void* argument) {
  auto* pane = static_cast<PaneRecord*>(argument);
  return static_cast<unsigned>(pane->workerBody(pane));
}

void closeHandleField(os::Handle* field) {
  if (*field) {
    CloseHandle(*field);
    *field = nullptr;
  }
}

// The partner only borrows the event: it must not outlive it there.
void closeCancelEvent(PaneRecord* pane) {
  if (partnerPane && partnerPane != pane && partnerPane->cancelEvent == pane->cancelEvent)
    partnerPane->cancelEvent = nullptr;
  closeHandleField(&pane->cancelEvent);
}

// A body must not send to a window after posting that it is done; should one
// ever do so, serving sent messages here keeps both threads from waiting on
// each other for good.
void waitForWorker(HANDLE thread) {
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woken != WAIT_OBJECT_0 + 1)
      return;
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

BOOL CALLBACK shiftChild(HWND child, LPARAM by) {
  RECT place{};
  GetWindowRect(child, &place);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&place), 2);
  SetWindowPos(child, nullptr, place.left + static_cast<LONG>(by), place.top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  return TRUE;
}

// A caption that names both panes can be wider than the template: the
// dialog grows about its centre, its controls staying centred, rather than
// cut the caption short.
void widenToCaption(HWND dialog, const std::wstring& text) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (text.empty() || !SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
    return;
  HFONT font = CreateFontIndirectW(&metrics.lfCaptionFont);
  HDC dc = font ? GetDC(dialog) : nullptr;
  SIZE need{};
  if (dc) {
    HGDIOBJ before = SelectObject(dc, font);
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &need);
    SelectObject(dc, before);
    ReleaseDC(dialog, dc);
  }
  if (font)
    DeleteObject(font);
  RECT frame{};
  if (need.cx == 0 || !GetWindowRect(dialog, &frame))
    return;
  const LONG grow = need.cx + pixelsOnDisplay(24) - (frame.right - frame.left);
  if (grow <= 0)
    return;
  EnumChildWindows(dialog, shiftChild, grow / 2);
  SetWindowPos(dialog, nullptr, frame.left - grow / 2, frame.top, frame.right - frame.left + grow,
               frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void endProgress(HWND dialog, int32_t result) {
  KillTimer(dialog, kShowTimer);
  progressRun.result = result;
  progressRun.ended = true;
}

void showProgress(HWND dialog) {
  KillTimer(dialog, kShowTimer);
  if (progressRun.shown || progressRun.ended)
    return;
  progressRun.shown = true;
  ShowWindow(dialog, SW_SHOWNORMAL);
  // As in a dialog box shown at once: Enter and Space press Cancel too.
  HWND cancel = GetDlgItem(dialog, IDCANCEL);
  if (GetActiveWindow() == dialog && IsWindowEnabled(cancel))
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(cancel), TRUE);
}

PaneRecord* paneOfDialog(HWND dialog) {
  return reinterpret_cast<PaneRecord*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

INT_PTR onProgressInit(HWND dialog, PaneRecord* pane) {
  // The pointer needs the full width on 64-bit Windows.
  SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(pane));
  pane->progressDialog = dialog;
  pane->progressLabel = GetDlgItem(dialog, IDC_PROGRESS_LABEL);
  if (!progressCaption.empty()) {
    SetWindowTextW(dialog, progressCaption.c_str());
    widenToCaption(dialog, progressCaption);
  }
  wchar_t templateText[32] = {};
  GetWindowTextW(windowOf(pane->progressLabel), templateText, 32);
  fitFontToText(windowOf(pane->progressLabel), &progressFont,
                pane->progressText ? pane->progressText : templateText);
  applyFont(&pane->progressFontHolder, windowOf(pane->progressLabel), &progressFont);
  const int32_t code = startOperation(pane);
  if (code != 0 && !PostMessageW(dialog, MSG_START_FAILED, static_cast<WPARAM>(code),
                                 reinterpret_cast<LPARAM>(pane))) {
    // Nothing runs that could end the dialog later, so end it now.
    releaseFont(&pane->progressFontHolder, windowOf(pane->progressLabel));
    endProgress(dialog, code);
  }
  // No focus yet: that would make the hidden dialog the active window.
  return FALSE;
}

INT_PTR onProgressCancel(HWND dialog) {
  PaneRecord* pane = paneOfDialog(dialog);
  if (pane && pane->cancelEvent)
    SetEvent(pane->cancelEvent);
  if (progressCancelNote)
    progressCancelNote(dialog);
  HWND button = GetDlgItem(dialog, IDCANCEL);
  EnableWindow(button, FALSE);
  UpdateWindow(button);
  return TRUE;
}

INT_PTR onOperationDone(HWND dialog, PaneRecord* pane) {
  const int32_t result = joinOperation(pane);
  releaseFont(&pane->progressFontHolder, windowOf(pane->progressLabel));
  endProgress(dialog, result);
  return TRUE;
}

INT_PTR onStartFailed(HWND dialog, int32_t code, PaneRecord* pane) {
  releaseFont(&pane->progressFontHolder, windowOf(pane->progressLabel));
  endProgress(dialog, code);
  return TRUE;
}

bool isInput(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
         (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST);
}

// The held dialog may still have the keyboard, above all before the progress
// window shows: its Escape is the Cancel not yet in sight, and nothing else
// may reach the controls that would start another operation.
bool takeHeldInput(const MSG& message) {
  HWND owner = progressRun.owner;
  if (!owner || !isInput(message.message) ||
      (message.hwnd != owner && !IsChild(owner, message.hwnd))) {
    return false;
  }
  if ((message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN) &&
      message.wParam == VK_ESCAPE) {
    onProgressCancel(progressRun.dialog);
  }
  return true;
}

void runProgressLoop() {
  MSG message;
  while (!progressRun.ended) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      // The program's loop must still see its quit.
      if (got == 0)
        PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (CallMsgFilterW(&message, MSGF_DIALOGBOX) || takeHeldInput(message) ||
        IsDialogMessageW(progressRun.dialog, &message)) {
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// A modal dialog box of its own: the owner is held from the start, but the
// window shows only once the operation has lasted a moment, or when a window
// beside it needs its Cancel.
int32_t runProgressDialog(HWND owner, PaneRecord* pane) {
  progressRun = ProgressRun{};
  progressRun.owner = owner;
  const bool ownerWasEnabled = owner && !EnableWindow(owner, FALSE);
  HWND dialog = CreateDialogParamW(programInstance(), MAKEINTRESOURCEW(IDD_PROGRESS), owner,
                                   progressDialogProc, reinterpret_cast<LPARAM>(pane));
  if (dialog) {
    progressRun.dialog = dialog;
    if (!progressRun.ended && !SetTimer(dialog, kShowTimer, kShowDelayMs, nullptr))
      showProgress(dialog);
    runProgressLoop();
  }
  // Enabled before the dialog goes, so that the owner is the one activated.
  if (ownerWasEnabled)
    EnableWindow(owner, TRUE);
  if (dialog)
    DestroyWindow(dialog);
  const int32_t result = dialog ? progressRun.result : -1;
  progressRun = ProgressRun{};
  return result;
}

// The dialog normally ends through a join or a failed start; whatever ended
// it, nothing of the operation may outlive it.
int32_t settleOperation(PaneRecord* pane, int32_t result) {
  if (pane->workerThread) {
    if (pane->cancelEvent)
      SetEvent(pane->cancelEvent);
    result = joinOperation(pane);
  }
  pane->workerBody = nullptr;
  pane->progressText = nullptr;
  if (pane->resetPrompt) {
    if (IsWindow(windowOf(pane->resetPrompt)))
      DestroyWindow(windowOf(pane->resetPrompt));
    pane->resetPrompt = nullptr;
  }
  closeCancelEvent(pane);
  discardFont(&pane->progressFontHolder);
  return result;
}

void emptyPane(PaneRecord* pane) {
  clearPaneDisplay(pane);
  resetPane(&pane->module);
}

void reportResult(PaneRecord* pane, int32_t result) {
  const ResultMessage message = resultMessage(result);
  if (message.paneReset == PaneReset::BeforeMessage)
    emptyPane(pane);
  if (message.format && message.namesNodeId) {
    char nodeId[kNodeIdSize];
    copyNodeIdForMessage(&pane->module, nodeId);
    showError(message.format, nodeId);
  } else if (message.format) {
    showError(message.format);
  }
  if (message.paneReset == PaneReset::AfterMessage)
    emptyPane(pane);
}

void logOperationStart(uint32_t portNumber, const char* operation) {
  if (!lineLogActive())
    return;
  char text[64];
  std::snprintf(text, sizeof text, "%s started", operation);
  logNote(portNumber, text);
}

}  // namespace

void (*progressCancelNote)(HWND progressDialog) = nullptr;

uint32_t portNumberShown(PaneRecord* pane) {
  wchar_t text[512] = {};
  controlText(pane->portCombo, text, 512);
  const int32_t number = portNumberFromText(text);
  return number > 0 && number < static_cast<int32_t>(kPortTableSize) ? uint32_t(number) : 0;
}

int32_t runOnWorker(HWND owner, PaneRecord* pane, PaneRecord* partner, bool asksResetKey) {
  if (!pane)
    return ErrArgument;
  const uint32_t portNumber = portNumberShown(pane);
  // The picks as the operation begins: the worker reads no control.
  notePortPick(pane);
  if (partner)
    notePortPick(partner);
  promptCaption = paneCaption(pane->module.isMaster != 0, portNumber);
  progressCaption = promptCaption;
  if (partner)
    progressCaption += L", " + paneCaption(partner->module.isMaster != 0, portNumberShown(partner));
  partnerPane = partner != pane ? partner : nullptr;
  promptWanted = asksResetKey;
  progressFont = describedFont(16, FW_NORMAL, FIXED_PITCH);
  lendPanesToWorker();
  const int32_t result = settleOperation(pane, runProgressDialog(owner, pane));
  takePanesBack();
  partnerPane = nullptr;
  return result;
}

int32_t runOperation(HWND owner, PaneRecord* pane, const char* operation, PaneRecord* partner) {
  if (!pane)
    return ErrArgument;
  const uint32_t portNumber = portNumberShown(pane);
  logOperationStart(portNumber, operation);
  int32_t result = runOnWorker(owner, pane, partner);
  // The runner stopped an operation whose port departed through its cancel
  // event; the user did not cancel, and is told of the lost port.
  if (result == ResultCancelled && hasDeferredPortChange(pane))
    result = ErrBadHandle;
  // Before the box, so that the log already says what the box says.
  logOperationEnd(portNumber, operation, result, &pane->module);
  reportResult(pane, result);
  // A failure may have emptied the pane (a reset before a failing step, or
  // the clearing above); the buttons must not offer what it no longer holds.
  if (result != 0)
    applyButtonRules();
  finishDeferredDeviceChanges(pane);
  // The dialog takes the focus back to where it was: a button the
  // operation's end may have disabled.
  keepKeyboardFocus(pane);
  return result;
}

INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return onProgressInit(dialog, reinterpret_cast<PaneRecord*>(lParam));
    case WM_COMMAND:
      return wParam == IDCANCEL ? onProgressCancel(dialog) : FALSE;
    case MSG_OPERATION_DONE:
      return onOperationDone(dialog,
                             lParam ? reinterpret_cast<PaneRecord*>(lParam) : paneOfDialog(dialog));
    case MSG_START_FAILED:
      return onStartFailed(dialog, static_cast<int32_t>(wParam),
                           reinterpret_cast<PaneRecord*>(lParam));
    case WM_TIMER:
      if (wParam != kShowTimer)
        return FALSE;
      showProgress(dialog);
      return TRUE;
    case MSG_SHOW_PROGRESS:
      showProgress(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}

bool cancelRunningOperation() {
  if (!progressRun.dialog || progressRun.ended)
    return false;
  onProgressCancel(progressRun.dialog);
  return true;
}

bool waitForRunningOperation(DWORD limitMs) {
  PaneRecord* pane = progressRun.dialog ? paneOfDialog(progressRun.dialog) : nullptr;
  HANDLE thread = pane ? pane->workerThread : nullptr;
  const DWORD start = GetTickCount();
  while (thread) {
    const DWORD spent = GetTickCount() - start;
    if (spent >= limitMs)
      return false;
    const DWORD woken =
        MsgWaitForMultipleObjects(1, &thread, FALSE, limitMs - spent, QS_SENDMESSAGE);
    if (woken == WAIT_OBJECT_0)
      return true;
    if (woken != WAIT_OBJECT_0 + 1)
      return false;
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  return true;
}

int32_t startOperation(PaneRecord* pane) {
  pane->cancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!pane->cancelEvent)
    return ResultNoEvent;
  if (partnerPane && partnerPane != pane)
    partnerPane->cancelEvent = pane->cancelEvent;
  HWND dialog = windowOf(pane->progressDialog);
  if (pane->progressText) {
    SetDlgItemTextW(dialog, IDC_PROGRESS_LABEL, pane->progressText);
    UpdateWindow(windowOf(pane->progressLabel));
  }
  // Only for a run that may need it: every window costs the run time.
  pane->resetPrompt =
      promptWanted ? CreateDialogParamW(programInstance(), MAKEINTRESOURCEW(IDD_RESET_PROMPT),
                                        dialog, resetPromptProc, 0)
                   : nullptr;
  if (pane->resetPrompt && !promptCaption.empty())
    SetWindowTextW(windowOf(pane->resetPrompt), promptCaption.c_str());
  const uintptr_t thread =
      pane->workerBody ? _beginthreadex(nullptr, 0, workerEntry, pane, 0, nullptr) : 0;
  if (!thread) {
    closeCancelEvent(pane);
    return ResultNoThread;
  }
  pane->workerThread = reinterpret_cast<HANDLE>(thread);
  return 0;
}

int32_t joinOperation(PaneRecord* pane) {
  DWORD code = 0xFFFFFFFF;
  if (pane->workerThread) {
    waitForWorker(pane->workerThread);
    if (!GetExitCodeThread(pane->workerThread, &code))
      code = 0xFFFFFFFF;
    closeHandleField(&pane->workerThread);
  }
  pane->workerBody = nullptr;
  pane->progressText = nullptr;
  if (pane->resetPrompt) {
    PostMessageW(windowOf(pane->resetPrompt), WM_CLOSE, 0, 0);
    pane->resetPrompt = nullptr;
  }
  closeCancelEvent(pane);
  return static_cast<int32_t>(code);
}

// Escape in the prompt is the Cancel it stands beside. The prompt keeps the
// focus itself, not on its text, so that it gets the key (the modal loop
// runs the dialog keys of the progress dialog only); WM_COMMAND comes too
// once the prompt is closed, and then means nothing.
INT_PTR CALLBACK resetPromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE)
        return FALSE;
      SetFocus(dialog);
      return TRUE;
    case WM_SETFOCUS:
      return TRUE;  // the dialog manager would pass it on to the text
    case WM_KEYDOWN:
    case WM_COMMAND:
      if ((message == WM_KEYDOWN && wParam == VK_ESCAPE) ||
          (message == WM_COMMAND && wParam == IDCANCEL && IsWindowVisible(dialog))) {
        SendMessageW(GetWindow(dialog, GW_OWNER), WM_COMMAND, IDCANCEL, 0);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

void showProgressBeside(HWND prompt) {
  HWND owner = GetWindow(prompt, GW_OWNER);
  if (owner)
    SendMessageW(owner, MSG_SHOW_PROGRESS, 0, 0);
}

void placeResetPrompt(HWND prompt) {
  HWND owner = GetWindow(prompt, GW_OWNER);
  RECT around{};
  RECT own{};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!owner || !GetWindowRect(owner, &around) || !GetWindowRect(prompt, &own) ||
      !GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor)) {
    return;
  }
  const RECT work = monitor.rcWork;
  const LONG width = own.right - own.left;
  const LONG height = own.bottom - own.top;
  const LONG gap = pixelsOnDisplay(8);
  LONG x = (around.left + around.right - width) / 2;
  LONG y = around.top - gap - height;  // above, where it hides none of the dialog
  if (y < work.top)
    y = around.bottom + gap;
  if (y + height > work.bottom)
    y = work.top;  // no room either side: at least the dialog's lower part stays free
  x = x + width > work.right ? work.right - width : x;
  x = x < work.left ? work.left : x;
  SetWindowPos(prompt, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

constexpr LONG kSmallestFontPixels = 8;

bool textFits(HDC dc, const LOGFONTW& description, const wchar_t* text, const RECT& area) {
  HFONT font = CreateFontIndirectW(&description);
  if (!font)
    return true;  // nothing to measure with: leave the description as it is
  HGDIOBJ before = SelectObject(dc, font);
  SIZE size{};
  const BOOL measured = GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
  SelectObject(dc, before);
  DeleteObject(font);
  return !measured || (size.cx <= area.right - area.left && size.cy <= area.bottom - area.top);
}

}  // namespace

LONG pixelsOnDisplay(LONG pixelsAt96Dpi) {
  constexpr int kBaseDpi = 96;
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : kBaseDpi;
  if (screen)
    ReleaseDC(nullptr, screen);
  return MulDiv(pixelsAt96Dpi, dpi > 0 ? dpi : kBaseDpi, kBaseDpi);
}

void fitFontToText(HWND control, LOGFONTW* description, const wchar_t* text) {
  RECT area{};
  if (!control || !description || !text || !GetClientRect(control, &area))
    return;
  HDC dc = GetDC(control);
  if (!dc)
    return;
  LONG pixels = description->lfHeight < 0 ? -description->lfHeight : description->lfHeight;
  for (; pixels > kSmallestFontPixels; --pixels) {
    description->lfHeight = -pixels;
    if (textFits(dc, *description, text, area))
      break;
  }
  description->lfHeight = -pixels;
  ReleaseDC(control, dc);
}

LOGFONTW describedFont(LONG pixelsAt96Dpi, LONG weight, BYTE pitchAndFamily) {
  LOGFONTW font{};
  font.lfHeight = -pixelsOnDisplay(pixelsAt96Dpi);
  font.lfWeight = weight;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfOutPrecision = OUT_CHARACTER_PRECIS;
  font.lfClipPrecision = CLIP_CHARACTER_PRECIS;
  font.lfQuality = DEFAULT_QUALITY;
  font.lfPitchAndFamily = pitchAndFamily;
  return font;
}

int applyFont(FontHolder* holder, HWND control, const LOGFONTW* description) {
  if (!holder || !control || !description)
    return 0;
  if (holder->createdFont)
    return 1;
  HFONT font = CreateFontIndirectW(description);
  if (!font)
    return 0;
  holder->createdFont = font;
  HDC dc = GetDC(control);
  if (!dc) {
    DeleteObject(font);
    holder->createdFont = nullptr;
    return 0;
  }
  holder->previousFont = SelectObject(dc, font);
  // Through the queue, so the control picks it up without a forced redraw.
  if (holder->previousFont)
    PostMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ReleaseDC(control, dc);
  return holder->previousFont ? 1 : 0;
}

void releaseFont(FontHolder* holder, HWND control) {
  if (!holder || !control || !holder->createdFont)
    return;
  if (holder->previousFont) {
    HDC dc = GetDC(control);
    if (dc) {
      SelectObject(dc, static_cast<HGDIOBJ>(holder->previousFont));
      ReleaseDC(control, dc);
    }
  }
  DeleteObject(static_cast<HGDIOBJ>(holder->createdFont));
  holder->createdFont = nullptr;
}

void discardFont(FontHolder* holder) {
  if (!holder || !holder->createdFont)
    return;
  DeleteObject(static_cast<HGDIOBJ>(holder->createdFont));
  holder->createdFont = nullptr;
}
