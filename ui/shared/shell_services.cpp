// What the dialogs share: the message boxes, the keys of a result window
// just closed, whole paths and system library loading.
#include "ui/shared/shell_services.h"

#include <cstdarg>
#include <cwchar>

#include "ui/dialog/view_hooks.h"
#include "ui/shared/text_format.h"

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

int showMessageV(HWND owner, UINT type, const wchar_t* caption, const wchar_t* format,
                 va_list arguments) {
  // On the stack: the worker thread and the GUI thread may both show a box.
  wchar_t text[kMessageBufferChars];
  formatBounded(text, kMessageBufferChars, format, arguments);
  return MessageBoxW(owner, text, caption, type);
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

}  // namespace

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

void noteResultWindowClosed() {
  resultClosed = true;
  resultClosedAt = static_cast<DWORD>(GetMessageTime());
}

void wholePath(const wchar_t* path, wchar_t* whole) {
  const DWORD length = GetFullPathNameW(path, kPathChars, whole, nullptr);
  if (length == 0 || length >= kPathChars)
    lstrcpynW(whole, path, kPathChars);
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
