#include "ui/shared/tool_window.h"

#include "resources/resource_ids.h"
#include "runner/display.h"

HWND makeToolChild(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int id,
                   HFONT font) {
  HWND child = CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                               parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleW(nullptr), nullptr);
  HGDIOBJ shown = font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(shown), 0);
  return child;
}

HFONT createScaledFont(LONG pixelsAt96Dpi, BYTE pitchAndFamily, const wchar_t* face) {
  LOGFONTW font{};
  font.lfHeight = -pixelsOnDisplay(pixelsAt96Dpi);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfPitchAndFamily = pitchAndFamily;
  lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
  return CreateFontIndirectW(&font);
}

HFONT createLineFont() {
  return createScaledFont(13, FIXED_PITCH | FF_MODERN, L"Courier New");
}

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
