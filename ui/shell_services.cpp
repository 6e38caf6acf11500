// The main dialog's creation, routing and teardown, and the message boxes.
#include "ui/shell_services.h"

#include <cstdarg>
#include <cwchar>

#include "module/write.h"
#include "resources/resource_ids.h"
#include "runner/runner.h"
#include "ui/device_changes.h"
#include "ui/extra_commands.h"
#include "ui/line_log_window.h"
#include "ui/main_dialog.h"
#include "ui/range_test_window.h"
#include "ui/text_format.h"
#include "ui/view_hooks.h"

HWND loopDialog = nullptr;
HWND dialogOwner = nullptr;
HWND mainDialog = nullptr;

HICON smallIcon = nullptr;
HICON largeIcon = nullptr;
HCURSOR arrowCursor = nullptr;
HCURSOR waitCursor = nullptr;
COLORREF buttonFaceColor = 0;
HBRUSH buttonFaceBrush = nullptr;
COLORREF whiteColor = 0;
HBRUSH whiteBrush = nullptr;

namespace {

constexpr wchar_t kDialogCaption[] = L"NLCONF";

int showMessageV(HWND owner, UINT type, const wchar_t* caption, const wchar_t* format,
                 va_list arguments) {
  // On the stack: the worker thread and the GUI thread may both show a box.
  wchar_t text[kMessageBufferChars];
  formatBounded(text, kMessageBufferChars, format, arguments);
  return MessageBoxW(owner, text, caption, type);
}

void releaseSharedObjects() {
  if (buttonFaceBrush != nullptr) {
    DeleteObject(buttonFaceBrush);
    buttonFaceBrush = nullptr;
  }
  if (largeIcon != nullptr) {
    DestroyIcon(largeIcon);
    largeIcon = nullptr;
  }
  if (smallIcon != nullptr) {
    DestroyIcon(smallIcon);
    smallIcon = nullptr;
  }
}

void closeDialogOwner() {
  if (dialogOwner != nullptr) {
    PostMessageW(dialogOwner, WM_CLOSE, 0, 0);
    dialogOwner = nullptr;
  }
}

HWND failDialogCreation(const wchar_t* failureText) {
  const DWORD error = GetLastError();
  showMessage(dialogOwner, MB_OK | MB_ICONWARNING, kDialogCaption, failureText, long(error));
  releaseSharedObjects();
  closeDialogOwner();
  return nullptr;
}

// Exit, Escape, Alt+F4 and the close box all come here. A second WM_CLOSE
// (Escape pressed twice) can arrive while the question is up: it is the
// same question, not a second one.
bool userAgreesToExit(HWND dialog) {
  static bool asking = false;
  const wchar_t* unwritten = exitQuestion(&masterPane, &slavePane);
  const wchar_t* record = recordFilePath();
  if (!unwritten && !record[0])
    return true;
  if (asking)
    return false;
  asking = true;
  // A session that keeps a record is a production run: it does not end
  // unasked, whatever ended it.
  wchar_t question[kMessageBufferChars];
  if (record[0])
    formatBoundedText(question, kMessageBufferChars, L"The pairs are recorded in %s.\r\n%s", record,
                      unwritten ? unwritten : L"Exit NLCONF?");
  else
    lstrcpynW(question, unwritten, kMessageBufferChars);
  // No is the default: a key held down must not throw the picks away.
  const int answer =
      MessageBoxW(dialog, question, kDialogCaption, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
  asking = false;
  return answer == IDYES;
}

// Set when a result window closes, from the time of the key or click that
// closed it.
bool resultClosed = false;
DWORD resultClosedAt = 0;

bool isAnswerKey(const MSG* message) {
  switch (message->message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
      return message->wParam == VK_RETURN || message->wParam == VK_SPACE ||
             message->wParam == VK_ESCAPE;
    case WM_CHAR:
      return message->wParam == L'\r' || message->wParam == L' ' || message->wParam == 0x1B;
    default:
      return false;
  }
}

// Keys the main dialog must not act on: those that belong to a result
// window just closed (a double or triple tap, keys typed ahead while the
// machine was busy) and a held Enter's repeats. Either would otherwise
// reach Exit, which Enter away from a push button means.
bool strayKey(const MSG* message) {
  if (!mainDialog || !isAnswerKey(message) ||
      (message->hwnd != mainDialog && !IsChild(mainDialog, message->hwnd))) {
    return false;
  }
  if (resultClosed) {
    // Signed: keys typed before the window closed count as well.
    const LONG sinceResult = static_cast<LONG>(message->time - resultClosedAt);
    if (sinceResult < static_cast<LONG>(GetDoubleClickTime())) {
      // Each tap of a quick series belongs to the one before it.
      if (message->message == WM_KEYDOWN && sinceResult > 0)
        resultClosedAt = message->time;
      return true;
    }
    resultClosed = false;
  }
  return message->message == WM_KEYDOWN && message->wParam == VK_RETURN &&
         (message->lParam & (1L << 30));
}

HICON loadProgramIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
  return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_NLCONF), IMAGE_ICON,
                                       GetSystemMetrics(widthMetric),
                                       GetSystemMetrics(heightMetric), LR_SHARED));
}

}  // namespace

int showMessage(HWND owner, UINT type, const wchar_t* caption, const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int result = showMessageV(owner, type, caption, format, arguments);
  va_end(arguments);
  return result;
}

int showError(const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int result =
      showMessageV(mainDialog, MB_OK | MB_ICONERROR, kDialogCaption, format, arguments);
  va_end(arguments);
  return result;
}

int showInfo(const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int result =
      showMessageV(mainDialog, MB_OK | MB_ICONINFORMATION, kDialogCaption, format, arguments);
  va_end(arguments);
  return result;
}

HWND createMainDialog(HWND owner) {
  dialogOwner = owner;
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (instance == nullptr) {
    return failDialogCreation(L"GetModuleHandle failed.\r\nError: %ld");
  }
  smallIcon = loadProgramIcon(instance, SM_CXSMICON, SM_CYSMICON);
  if (smallIcon == nullptr) {
    return failDialogCreation(L"LoadImage failed.\r\nError: %ld");
  }
  largeIcon = loadProgramIcon(instance, SM_CXICON, SM_CYICON);
  if (largeIcon == nullptr) {
    return failDialogCreation(L"LoadImage failed.\r\nError: %ld");
  }
  arrowCursor = LoadCursorW(nullptr, IDC_ARROW);
  if (arrowCursor == nullptr) {
    return failDialogCreation(L"LoadCursor failed.\r\nError: %ld");
  }
  waitCursor = LoadCursorW(nullptr, IDC_WAIT);
  if (waitCursor == nullptr) {
    return failDialogCreation(L"LoadCursor failed.\r\nError: %ld");
  }
  buttonFaceColor = GetSysColor(COLOR_BTNFACE);
  buttonFaceBrush = CreateSolidBrush(buttonFaceColor);
  if (buttonFaceBrush == nullptr) {
    return failDialogCreation(L"CreateSolidBrush failed.\r\nError: %ld");
  }
  whiteColor = RGB(255, 255, 255);
  whiteBrush = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  if (whiteBrush == nullptr) {
    return failDialogCreation(L"GetStockObject failed.\r\nError: %ld");
  }
  const HWND dialog =
      CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), owner, mainDialogProc, 0);
  if (dialog == nullptr) {
    return failDialogCreation(L"CreateDialog failed.\r\nError: %ld");
  }
  ShowWindow(dialog, SW_SHOWNORMAL);
  return dialog;
}

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return initMainDialog(dialog);
    case WM_COMMAND:
      // An accelerator's command: 1 in the high word, no control.
      if (HIWORD(wParam) == 1 && lParam == 0 && runExtraCommand(dialog, LOWORD(wParam)))
        return TRUE;
      return onMainDialogCommand(dialog, wParam);
    case WM_SYSCOMMAND:
      return runExtraCommand(dialog, static_cast<UINT>(wParam & 0xFFF0)) ? TRUE : FALSE;
    case WM_DROPFILES:
      onDropFiles(reinterpret_cast<HDROP>(wParam));
      return TRUE;
    case MSG_LOAD_SETTINGS:
      loadStartupSettings();
      return TRUE;
    case MSG_DRAW_PANE:
    case MSG_CLEAR_PANE:
    case MSG_FILL_CHANNELS:
      return onPostedDisplay(message, wParam, lParam) ? TRUE : FALSE;
    case WM_CTLCOLOREDIT:
      return reinterpret_cast<INT_PTR>(
          onCtlColorEdit(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<INT_PTR>(
          onCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_DEVICECHANGE:
      onDeviceChange(wParam, lParam);
      return TRUE;
    case WM_INITMENUPOPUP:
      // The system menu offers what the panes allow at the moment it opens.
      if (HIWORD(lParam))
        updateExtraCommands();
      return FALSE;
    case WM_VSCROLL:
    case WM_HSCROLL:
      // The dialog's own bars; a scroll bar control would name itself.
      if (lParam != 0)
        return FALSE;
      onMainDialogScroll(dialog, message == WM_VSCROLL ? SB_VERT : SB_HORZ, wParam);
      return TRUE;
    case WM_CLOSE:
      if (userAgreesToExit(dialog))
        destroyMainDialog(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}

void destroyMainDialog(HWND dialog) {
  destroyRangeTestWindow();
  destroyLineLogWindow();
  releaseExtraCommands();
  if (dialog != nullptr) {
    DestroyWindow(dialog);
    mainDialog = nullptr;
  }
  releaseSharedObjects();
  closeDialogOwner();
}

namespace {

// The system waits about 5 s for a program at the end of a session.
constexpr DWORD kSessionEndWaitMs = 4000;
bool endReasonShown = false;

bool busy() {
  return anyOperationRunning();
}

const wchar_t* sessionEndReason() {
  if (busy())
    return L"NLCONF is setting up a module: it is cancelling that first.";
  return recordFilePath()[0] ? L"NLCONF keeps a record of pairs: exit NLCONF first." : nullptr;
}

}  // namespace

bool sessionMayEnd() {
  const wchar_t* reason = sessionEndReason();
  if (reason && mainDialog)
    endReasonShown = ShutdownBlockReasonCreate(mainDialog, reason) != FALSE || endReasonShown;
  if (busy()) {
    cancelRunningOperation();
    stopRangeTestRun();
  }
  keepSessionEndReason();
  return reason == nullptr;
}

void keepSessionEndReason() {
  if (!endReasonShown || !mainDialog)
    return;
  if (const wchar_t* reason = sessionEndReason())
    ShutdownBlockReasonCreate(mainDialog, reason);
  else if (ShutdownBlockReasonDestroy(mainDialog))
    endReasonShown = false;
}

void endingSession() {
  noteProgramClosing(true);
  cancelRunningOperation();
  stopRangeTestRun();
  waitForRunningOperation(kSessionEndWaitMs);
  destroyRangeTestWindow();
}

void noteResultWindowClosed() {
  resultClosed = true;
  resultClosedAt = static_cast<DWORD>(GetMessageTime());
}

void wholePath(const wchar_t* path, wchar_t* whole) {
  const DWORD length = GetFullPathNameW(path, kPathChars, whole, nullptr);
  if (length == 0 || length >= kPathChars)
    lstrcpynW(whole, path, kPathChars);
}

void dispatchLoopMessage(MSG* message) {
  const bool taken = strayKey(message) || translateExtraKeys(message) ||
                     scrollMainDialogByWheel(message) ||
                     (IsWindow(loopDialog) && IsDialogMessageW(loopDialog, message)) ||
                     lineLogDialogMessage(message) || rangeTestDialogMessage(message);
  if (!taken) {
    TranslateMessage(message);
    DispatchMessageW(message);
  }
  keepFocusInView(message);
}

HMODULE loadSystemLibrary(const wchar_t* name) {
  HMODULE library = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (library || GetLastError() != ERROR_INVALID_PARAMETER)
    return library;
  // A system that does not know the flag: the same folder by its full path.
  wchar_t path[MAX_PATH];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length + 1 + std::wcslen(name) >= MAX_PATH)
    return nullptr;
  path[length] = L'\\';
  std::wcscpy(path + length + 1, name);
  return LoadLibraryW(path);
}
