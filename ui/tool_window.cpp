#include "ui/tool_window.h"

#include "resources/resource_ids.h"

bool registerToolWindowClass(const wchar_t* name, WNDPROC procedure) {
  WNDCLASSW windowClass{};
  windowClass.hInstance = GetModuleHandleW(nullptr);
  if (GetClassInfoW(windowClass.hInstance, name, &windowClass))
    return true;
  windowClass.lpfnWndProc = procedure;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hIcon = LoadIconW(windowClass.hInstance, MAKEINTRESOURCEW(IDI_NLCONF));
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = name;
  return RegisterClassW(&windowClass) != 0;
}
