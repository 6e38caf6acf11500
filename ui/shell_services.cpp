// The main dialog's creation, routing and teardown, and the message boxes.
#include "ui/shell_services.h"

#include <cstdarg>
#include <cwchar>

#include "module/view_hooks.h"
#include "resources/resource_ids.h"
#include "ui/extra_commands.h"
#include "ui/line_log_window.h"
#include "ui/main_dialog.h"
#include "ui/text_format.h"

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

// Exit, Enter, Escape and the close box all come here. A second WM_CLOSE
// (Enter pressed twice) can arrive while the question is up: it is the
// same question, not a second one.
bool userAgreesToExit(HWND dialog) {
  static bool asking = false;
  const wchar_t* question = exitQuestion(&masterPane, &slavePane);
  if (!question)
    return true;
  if (asking)
    return false;
  asking = true;
  // No is the default: a key held down must not throw the picks away.
  const int answer =
      MessageBoxW(dialog, question, kDialogCaption, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
  asking = false;
  return answer == IDYES;
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
  destroyLineLogWindow();
  releaseExtraCommands();
  if (dialog != nullptr) {
    DestroyWindow(dialog);
    mainDialog = nullptr;
  }
  releaseSharedObjects();
  closeDialogOwner();
}

void dispatchLoopMessage(MSG* message) {
  const bool taken = translateExtraKeys(message) || scrollMainDialogByWheel(message) ||
                     (IsWindow(loopDialog) && IsDialogMessageW(loopDialog, message)) ||
                     lineLogDialogMessage(message);
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
