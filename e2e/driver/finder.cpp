#include "finder.h"

#include <cwchar>
#include <vector>

#include "resource_ids.h"

namespace {

constexpr UINT kTextLimitMs = 2000;
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kCaption[] = L"NLCONF";

bool isDialog(HWND window) {
  return className(window) == kDialogClass;
}

bool isOurCaption(HWND window) {
  return _wcsicmp(caption(window).c_str(), kCaption) == 0;
}

// The reset prompt's caption names the module it asks about ("Slave - COM6").
bool namesAPane(HWND window) {
  const std::wstring text = caption(window);
  return text.rfind(L"Master", 0) == 0 || text.rfind(L"Slave", 0) == 0;
}

// The main dialog names its loaded profile: "NLCONF - pair.ini".
bool isMainCaption(HWND window) {
  const std::wstring text = caption(window);
  return isOurCaption(window) || text.rfind(L"NLCONF - ", 0) == 0;
}

BOOL CALLBACK collect(HWND window, LPARAM context) {
  reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
  return TRUE;
}

bool matches(HWND window, const WindowQuery& query) {
  switch (query.kind) {
    case Kind::kCaption:
      return caption(window) == query.value;
    case Kind::kClass:
      return className(window) == query.value;
    default:
      return classify(window) == query.kind;
  }
}

}  // namespace

bool parseQuery(const std::string& text, WindowQuery* query) {
  struct Name {
    const char* text;
    Kind kind;
  };
  static const Name kNames[] = {{"main", Kind::kMain},
                                {"progress", Kind::kProgress},
                                {"prompt", Kind::kPrompt},
                                {"msgbox", Kind::kMessageBox},
                                {"linkresult", Kind::kLinkResult}};
  for (const Name& name : kNames) {
    if (text == name.text) {
      *query = WindowQuery{name.kind, {}};
      return true;
    }
  }
  if (text.rfind("caption=", 0) == 0) {
    *query = WindowQuery{Kind::kCaption, std::wstring(text.begin() + 8, text.end())};
    return true;
  }
  if (text.rfind("class=", 0) == 0) {
    *query = WindowQuery{Kind::kClass, std::wstring(text.begin() + 6, text.end())};
    return true;
  }
  return false;
}

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::kMain:
      return "main";
    case Kind::kProgress:
      return "progress";
    case Kind::kPrompt:
      return "prompt";
    case Kind::kMessageBox:
      return "msgbox";
    case Kind::kLinkResult:
      return "linkresult";
    case Kind::kCaption:
      return "caption";
    case Kind::kClass:
      return "class";
    case Kind::kOther:
      return "other";
  }
  return "?";
}

std::string queryName(const WindowQuery& query) {
  std::string name = kindName(query.kind);
  if (query.kind == Kind::kCaption || query.kind == Kind::kClass) {
    name += "=";
    for (wchar_t c : query.value)
      name += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  }
  return name;
}

Kind classify(HWND window) {
  if (!isDialog(window))
    return Kind::kOther;
  if (GetDlgItem(window, IDC_MASTER_READ) && isMainCaption(window))
    return Kind::kMain;
  if (GetDlgItem(window, IDC_PROGRESS_LABEL))
    return Kind::kProgress;
  if (GetDlgItem(window, IDC_RESULT_LABEL))
    return Kind::kLinkResult;
  if (hasButton(window))
    return isOurCaption(window) ? Kind::kMessageBox : Kind::kOther;
  return isOurCaption(window) || namesAPane(window) ? Kind::kPrompt : Kind::kOther;
}

std::vector<HWND> topLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(collect, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

HWND findWindow(const WindowQuery& query, bool includeHidden) {
  for (HWND window : topLevelWindows()) {
    if ((includeHidden || IsWindowVisible(window)) && matches(window, query))
      return window;
  }
  return nullptr;
}

DWORD pollPauseMs(ULONGLONG waitedMs) {
  if (waitedMs < 250)
    return 10;
  return waitedMs < 1000 ? 25 : 50;
}

HWND waitWindow(const WindowQuery& query, DWORD timeoutMs) {
  const DWORD started = GetTickCount();
  for (;;) {
    if (HWND window = findWindow(query, false))
      return window;
    const DWORD waited = GetTickCount() - started;
    if (waited >= timeoutMs)
      return nullptr;
    Sleep(pollPauseMs(waited));
  }
}

bool waitGone(const WindowQuery& query, DWORD timeoutMs) {
  const DWORD started = GetTickCount();
  for (;;) {
    if (!findWindow(query, false))
      return true;
    const DWORD waited = GetTickCount() - started;
    if (waited >= timeoutMs)
      return false;
    Sleep(pollPauseMs(waited));
  }
}

std::wstring caption(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

std::wstring className(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

std::wstring controlText(HWND control, bool* answered) {
  // As long as the control says its text is (a log runs to many pages).
  DWORD_PTR length = 0;
  SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTextLimitMs, &length);
  std::vector<wchar_t> text(length + 4096, L'\0');
  DWORD_PTR copied = 0;
  const bool ok =
      SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                          SMTO_ABORTIFHUNG, kTextLimitMs, &copied) != 0;
  if (answered)
    *answered = ok;
  if (!ok)
    InternalGetWindowText(control, text.data(), static_cast<int>(text.size()));
  return text.data();
}

std::wstring staticText(HWND dialog) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (_wcsicmp(className(child).c_str(), L"Static") != 0)
      continue;
    const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
    if ((style & SS_TYPEMASK) == SS_ICON)
      continue;
    const std::wstring text = controlText(child);
    if (!text.empty())
      return text;
  }
  return {};
}

bool hasButton(HWND dialog) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
    const LONG_PTR type = style & BS_TYPEMASK;
    if (_wcsicmp(className(child).c_str(), L"Button") == 0 && type != BS_GROUPBOX)
      return true;
  }
  return false;
}
