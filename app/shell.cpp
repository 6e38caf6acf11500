// The hidden top-level window and what start-up needs before any dialog.
#include "app/shell.h"

#include <cstdarg>

#include "resources/resource_ids.h"
#include "ui/dialog/main_dialog.h"
#include "ui/dialog/settings_commands.h"
#include "ui/shared/shell_services.h"
#include "ui/shared/text_format.h"

HWND mainWindow = nullptr;

void reportStartupFailure(const wchar_t* caption, const wchar_t* format, ...) {
  // Taken first: formatting may touch the thread's last error.
  const DWORD error = GetLastError();
  wchar_t operation[kMessageBufferChars];
  va_list arguments;
  va_start(arguments, format);
  formatBounded(operation, kMessageBufferChars, format, arguments);
  va_end(arguments);
  wchar_t text[kMessageBufferChars];
  composeStartupFailureText(text, kMessageBufferChars, operation, error);
  showMessage(nullptr, MB_OK | MB_ICONWARNING, caption, L"%s", text);
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      // Posted, so the dialog is made from the loop once CreateWindowExW is done.
      PostMessageW(window, WM_COMMAND, IDD_MAIN, 0);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDD_MAIN) {
        loopDialog = createMainDialog(window);
        postStartupSettingsLoad(loopDialog);
        return 0;
      }
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_QUERYENDSESSION:
      return sessionMayEnd() ? TRUE : FALSE;
    case WM_ENDSESSION:
      if (wParam)
        endingSession();
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      mainWindow = nullptr;
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void restrictLibrarySearchToSystem() {
  // Through kernel32 itself: a static import would keep the program from
  // starting on a Windows 7 without the update that added the call.
  using SetDirectoriesFn = BOOL(WINAPI*)(DWORD flags);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const FARPROC proc = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  if (proc) {
    reinterpret_cast<SetDirectoriesFn>(reinterpret_cast<void (*)()>(proc))(
        LOAD_LIBRARY_SEARCH_SYSTEM32);
  } else {
    SetDllDirectoryW(L"");  // at least not the current directory
  }
}
