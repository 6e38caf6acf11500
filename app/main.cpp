// Process entry: locale, the hidden window's class and window, and the one
// message loop of the GUI thread.
#include <windows.h>

#include <clocale>

#include "app/shell.h"
#include "resources/resource_ids.h"
#include "ui/dialog/main_dialog.h"
#include "ui/dialog/settings_commands.h"
#include "ui/line_log/line_log_window.h"

namespace {

constexpr wchar_t kClassName[] = L"NlConf";
constexpr int kExitNoClass = -1;
constexpr int kExitNoWindow = -2;
// GetMessageW failed; it cannot with no window filter, but must not spin.
constexpr int kExitLoopFailed = -3;

bool registerMainClass(HINSTANCE instance) {
  WNDCLASSW windowClass = {};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = mainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_NLCONF));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kClassName;
  return RegisterClassW(&windowClass) != 0;
}

HWND createHiddenWindow(HINSTANCE instance) {
  // Never shown: it only owns the main dialog and ends the loop.
  return CreateWindowExW(0, kClassName, L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 0,
                         0, nullptr, nullptr, instance, nullptr);
}

int runMessageLoop() {
  MSG message = {};
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0 || got == -1)
      return got == 0 ? int(message.wParam) : kExitLoopFailed;
    dispatchLoopMessage(&message);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  // Before anything loads a library by name: a DLL planted in the program's
  // folder or the current directory must never run.
  restrictLibrarySearchToSystem();
  // Also decides how %hs widens the modules' narrow texts.
  _wsetlocale(LC_ALL, L"");
  rememberStartupArguments(commandLine);
#ifndef NLCONF_UNLOGGED
  startLineLog();
#endif
  if (!registerMainClass(instance)) {
    reportStartupFailure(kClassName, L"RegisterClass");
    return kExitNoClass;
  }
  mainWindow = createHiddenWindow(instance);
  if (mainWindow == nullptr) {
    reportStartupFailure(kClassName, L"CreateWindow");
    return kExitNoWindow;
  }
  return runMessageLoop();
}
