#include "runner/runner.h"

#include <process.h>

#include <cstdio>

#include "link/errors.h"
#include "module/outcome.h"
#include "resources/resource_ids.h"

namespace {

// Only one operation runs at a time (its dialog is modal), so one
// description serves every run; the portable record cannot hold it.
LOGFONTW progressFont;
// The same holds for what a run names in its captions, and for the partner
// whose port the body uses too and which watches the run's cancel event.
std::wstring progressCaption;
std::wstring promptCaption;
OperationRun* partnerRun = nullptr;
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
  auto* run = static_cast<OperationRun*>(argument);
  return static_cast<unsigned>(run->workerBody(run));
}

void closeHandleField(os::Handle* field) {
  if (*field) {
    CloseHandle(*field);
    *field = nullptr;
  }
}

// The partner only borrows the event: it must not outlive it there.
void closeCancelEvent(OperationRun* run) {
  if (partnerRun && partnerRun != run && partnerRun->cancelEvent == run->cancelEvent)
    partnerRun->cancelEvent = nullptr;
  closeHandleField(&run->cancelEvent);
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

OperationRun* runOfDialog(HWND dialog) {
  return reinterpret_cast<OperationRun*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

INT_PTR onProgressInit(HWND dialog, OperationRun* run) {
  // The pointer needs the full width on 64-bit Windows.
  SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(run));
  run->progressDialog = dialog;
  run->progressLabel = GetDlgItem(dialog, IDC_PROGRESS_LABEL);
  if (!progressCaption.empty()) {
    SetWindowTextW(dialog, progressCaption.c_str());
    widenToCaption(dialog, progressCaption);
  }
  wchar_t templateText[32] = {};
  GetWindowTextW(windowOf(run->progressLabel), templateText, 32);
  fitFontToText(windowOf(run->progressLabel), &progressFont,
                run->progressText ? run->progressText : templateText);
  applyFont(&run->progressFontHolder, windowOf(run->progressLabel), &progressFont);
  const int32_t code = startOperation(run);
  if (code != 0 && !PostMessageW(dialog, MSG_START_FAILED, static_cast<WPARAM>(code),
                                 reinterpret_cast<LPARAM>(run))) {
    // Nothing runs that could end the dialog later, so end it now.
    releaseFont(&run->progressFontHolder, windowOf(run->progressLabel));
    endProgress(dialog, code);
  }
  // No focus yet: that would make the hidden dialog the active window.
  return FALSE;
}

INT_PTR onProgressCancel(HWND dialog) {
  OperationRun* run = runOfDialog(dialog);
  if (run && run->cancelEvent)
    SetEvent(run->cancelEvent);
  if (progressCancelNote)
    progressCancelNote(dialog);
  HWND button = GetDlgItem(dialog, IDCANCEL);
  EnableWindow(button, FALSE);
  UpdateWindow(button);
  return TRUE;
}

INT_PTR onOperationDone(HWND dialog, OperationRun* run) {
  const int32_t result = joinOperation(run);
  releaseFont(&run->progressFontHolder, windowOf(run->progressLabel));
  endProgress(dialog, result);
  return TRUE;
}

INT_PTR onStartFailed(HWND dialog, int32_t code, OperationRun* run) {
  releaseFont(&run->progressFontHolder, windowOf(run->progressLabel));
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
int32_t runProgressDialog(HWND owner, OperationRun* run) {
  progressRun = ProgressRun{};
  progressRun.owner = owner;
  const bool ownerWasEnabled = owner && !EnableWindow(owner, FALSE);
  HWND dialog = CreateDialogParamW(programInstance(), MAKEINTRESOURCEW(IDD_PROGRESS), owner,
                                   progressDialogProc, reinterpret_cast<LPARAM>(run));
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
int32_t settleOperation(OperationRun* run, int32_t result) {
  if (run->workerThread) {
    if (run->cancelEvent)
      SetEvent(run->cancelEvent);
    result = joinOperation(run);
  }
  run->workerBody = nullptr;
  run->progressText = nullptr;
  if (run->resetPrompt) {
    if (IsWindow(windowOf(run->resetPrompt)))
      DestroyWindow(windowOf(run->resetPrompt));
    run->resetPrompt = nullptr;
  }
  closeCancelEvent(run);
  discardFont(&run->progressFontHolder);
  return result;
}

}  // namespace

void (*progressCancelNote)(HWND progressDialog) = nullptr;

int32_t runBehindProgress(HWND owner, OperationRun* run, OperationRun* partner,
                          const RunCaptions& captions, bool asksResetKey) {
  if (!run)
    return ErrArgument;
  promptCaption = captions.prompt;
  progressCaption = captions.progress;
  partnerRun = partner != run ? partner : nullptr;
  promptWanted = asksResetKey;
  progressFont = describedFont(16, FW_NORMAL, FIXED_PITCH);
  const int32_t result = settleOperation(run, runProgressDialog(owner, run));
  partnerRun = nullptr;
  return result;
}

INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return onProgressInit(dialog, reinterpret_cast<OperationRun*>(lParam));
    case WM_COMMAND:
      return wParam == IDCANCEL ? onProgressCancel(dialog) : FALSE;
    case MSG_OPERATION_DONE:
      return onOperationDone(
          dialog, lParam ? reinterpret_cast<OperationRun*>(lParam) : runOfDialog(dialog));
    case MSG_START_FAILED:
      return onStartFailed(dialog, static_cast<int32_t>(wParam),
                           reinterpret_cast<OperationRun*>(lParam));
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
  OperationRun* run = progressRun.dialog ? runOfDialog(progressRun.dialog) : nullptr;
  HANDLE thread = run ? run->workerThread : nullptr;
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

int32_t startOperation(OperationRun* run) {
  run->cancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!run->cancelEvent)
    return ResultNoEvent;
  if (partnerRun && partnerRun != run)
    partnerRun->cancelEvent = run->cancelEvent;
  HWND dialog = windowOf(run->progressDialog);
  if (run->progressText) {
    SetDlgItemTextW(dialog, IDC_PROGRESS_LABEL, run->progressText);
    UpdateWindow(windowOf(run->progressLabel));
  }
  // Only for a run that may need it: every window costs the run time.
  run->resetPrompt = promptWanted
                         ? CreateDialogParamW(programInstance(), MAKEINTRESOURCEW(IDD_RESET_PROMPT),
                                              dialog, resetPromptProc, 0)
                         : nullptr;
  if (run->resetPrompt && !promptCaption.empty())
    SetWindowTextW(windowOf(run->resetPrompt), promptCaption.c_str());
  const uintptr_t thread =
      run->workerBody ? _beginthreadex(nullptr, 0, workerEntry, run, 0, nullptr) : 0;
  if (!thread) {
    closeCancelEvent(run);
    return ResultNoThread;
  }
  run->workerThread = reinterpret_cast<HANDLE>(thread);
  return 0;
}

int32_t joinOperation(OperationRun* run) {
  DWORD code = 0xFFFFFFFF;
  if (run->workerThread) {
    waitForWorker(run->workerThread);
    if (!GetExitCodeThread(run->workerThread, &code))
      code = 0xFFFFFFFF;
    closeHandleField(&run->workerThread);
  }
  run->workerBody = nullptr;
  run->progressText = nullptr;
  if (run->resetPrompt) {
    PostMessageW(windowOf(run->resetPrompt), WM_CLOSE, 0, 0);
    run->resetPrompt = nullptr;
  }
  closeCancelEvent(run);
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
