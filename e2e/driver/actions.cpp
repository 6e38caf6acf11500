#include "actions.h"

#include <shlobj.h>

#include "finder.h"

namespace {

constexpr DWORD kFocusLimitMs = 2000;
constexpr DWORD kPollMs = 20;

std::string lastError(const char* what) {
  return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")";
}

// Brought to the front, as a user's click on its caption would.
bool toFront(HWND root) {
  SetForegroundWindow(root);
  const DWORD started = GetTickCount();
  while (GetForegroundWindow() != root) {
    if (GetTickCount() - started >= kFocusLimitMs)
      return false;
    Sleep(kPollMs);
  }
  return true;
}

INPUT keyInput(WORD virtualKey, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return input;
}

INPUT mouseInput(DWORD flags, LONG x, LONG y) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = x;
  input.mi.dy = y;
  input.mi.dwFlags = flags;
  return input;
}

bool postKey(HWND target, WORD virtualKey, std::string* why) {
  const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
  const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
  const LPARAM up = down | (LPARAM{1} << 30) | (LPARAM{1} << 31);
  if (!PostMessageW(target, WM_KEYDOWN, virtualKey, down) ||
      !PostMessageW(target, WM_KEYUP, virtualKey, up)) {
    *why = lastError("PostMessage");
    return false;
  }
  return true;
}

}  // namespace

HWND focusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  if (!GetGUIThreadInfo(thread, &info))
    return nullptr;
  return info.hwndFocus;
}

bool operable(HWND control, std::string* why) {
  const HWND root = GetAncestor(control, GA_ROOT);
  if (!IsWindowVisible(control)) {
    *why = "the control is not visible";
    return false;
  }
  if (!IsWindowEnabled(control)) {
    *why = "the control is disabled";
    return false;
  }
  if (root && !IsWindowEnabled(root)) {
    *why = "its dialog is disabled (a modal dialog is open over it)";
    return false;
  }
  return true;
}

bool settle(HWND window, DWORD timeoutMs) {
  const DWORD started = GetTickCount();
  DWORD_PTR ignored = 0;
  if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &ignored))
    return false;
  // A message loop answers sent messages while it looks for posted ones,
  // and only then does what it does when it finds none, such as a modal
  // dialog's first show: a second round trip comes back after that.
  const DWORD spent = GetTickCount() - started;
  const DWORD left = spent < timeoutMs ? timeoutMs - spent : 1;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, left, &ignored) != 0;
}

bool clickButton(HWND button, std::string* why) {
  if (!operable(button, why))
    return false;
  if (!SendNotifyMessageW(button, BM_CLICK, 0, 0)) {
    *why = lastError("SendNotifyMessage BM_CLICK");
    return false;
  }
  return true;
}

// Seen from another process, a group box around the control is hit first;
// the program's own hit test passes through it (it answers HTTRANSPARENT).
bool hitsControl(HWND control, POINT at) {
  const HWND hit = WindowFromPoint(at);
  if (hit == control || IsChild(control, hit))
    return true;
  const bool groupBox = _wcsicmp(className(hit).c_str(), L"Button") == 0 &&
                        (GetWindowLongW(hit, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
  return groupBox && GetParent(hit) == GetParent(control);
}

bool mouseClick(HWND control, std::string* why, bool raise) {
  if (!operable(control, why))
    return false;
  if (raise && !toFront(GetAncestor(control, GA_ROOT))) {
    *why = "the dialog did not come to the front";
    return false;
  }
  RECT rect{};
  GetWindowRect(control, &rect);
  const LONG x = (rect.left + rect.right) / 2;
  const LONG y = (rect.top + rect.bottom) / 2;
  if (!hitsControl(control, POINT{x, y})) {
    *why = "another window is at the control's centre";
    return false;
  }
  const LONG ax = MulDiv(x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
  const LONG ay = MulDiv(y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
  // The pointer must be there before the button goes down: Wine hands the
  // move to X and may take the press while the pointer is still elsewhere.
  INPUT move = mouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, ax, ay);
  if (SendInput(1, &move, sizeof(INPUT)) != 1) {
    *why = lastError("SendInput");
    return false;
  }
  POINT at{};
  for (int i = 0; i < 100 && (!GetCursorPos(&at) || at.x != x || at.y != y); ++i)
    Sleep(2);
  INPUT press[] = {mouseInput(MOUSEEVENTF_LEFTDOWN, 0, 0), mouseInput(MOUSEEVENTF_LEFTUP, 0, 0)};
  if (SendInput(2, press, sizeof(INPUT)) != 2) {
    *why = lastError("SendInput");
    return false;
  }
  return true;
}

bool selectEntry(HWND combo, int index, std::string* why) {
  if (!operable(combo, why))
    return false;
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0, SMTO_NORMAL, 5000,
                           &result) ||
      static_cast<LRESULT>(result) != index) {
    *why = "CB_SETCURSEL did not select entry " + std::to_string(index);
    return false;
  }
  const WPARAM command = MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE);
  if (!SendMessageTimeoutW(GetParent(combo), WM_COMMAND, command, reinterpret_cast<LPARAM>(combo),
                           SMTO_NORMAL, 10000, &result)) {
    *why = "the dialog did not take CBN_SELCHANGE within 10 s";
    return false;
  }
  return true;
}

bool pressKey(HWND dialog, WORD virtualKey, bool throughInput, std::string* why, bool control) {
  if (!IsWindowEnabled(dialog)) {
    *why = "the dialog is disabled (a modal dialog is open over it)";
    return false;
  }
  if (!throughInput) {
    const HWND focus = focusOf(dialog);
    const bool inDialog = focus && (focus == dialog || IsChild(dialog, focus));
    return postKey(inDialog ? focus : dialog, virtualKey, why);
  }
  if (!toFront(dialog)) {
    *why = "the dialog did not come to the front";
    return false;
  }
  INPUT inputs[] = {keyInput(VK_CONTROL, false), keyInput(virtualKey, false),
                    keyInput(virtualKey, true), keyInput(VK_CONTROL, true)};
  // Without Ctrl, only the middle two.
  INPUT* first = control ? inputs : inputs + 1;
  const UINT count = control ? 4 : 2;
  if (SendInput(count, first, sizeof(INPUT)) != count) {
    *why = lastError("SendInput");
    return false;
  }
  return true;
}

bool closeWindow(HWND window, std::string* why) {
  if (!PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0)) {
    *why = lastError("PostMessage WM_SYSCOMMAND");
    return false;
  }
  return true;
}

bool setText(HWND control, const std::wstring& text, std::string* why) {
  if (!operable(control, why))
    return false;
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                           SMTO_NORMAL, kFocusLimitMs, &result) ||
      !result) {
    *why = lastError("WM_SETTEXT");
    return false;
  }
  return true;
}

bool pickSystemMenu(HWND window, UINT id, std::string* why) {
  if (!PostMessageW(window, WM_SYSCOMMAND, id, 0)) {
    *why = lastError("PostMessage WM_SYSCOMMAND");
    return false;
  }
  return true;
}

bool dropFile(HWND window, const std::wstring& path, std::string* why) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) {
    *why = lastError("OpenProcess");
    return false;
  }
  // DROPFILES, then the names, each ended by a NUL, and one more NUL.
  std::wstring names = path + L'\0' + L'\0';
  DROPFILES header{};
  header.pFiles = sizeof header;
  header.fWide = TRUE;
  std::string block(reinterpret_cast<const char*>(&header), sizeof header);
  block.append(reinterpret_cast<const char*>(names.data()), names.size() * sizeof(wchar_t));
  void* remote = VirtualAllocEx(process, nullptr, block.size(), MEM_COMMIT, PAGE_READWRITE);
  const bool written =
      remote && WriteProcessMemory(process, remote, block.data(), block.size(), nullptr);
  CloseHandle(process);
  if (!written) {
    *why = lastError("writing the drop into the program");
    return false;
  }
  if (!PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0)) {
    *why = lastError("PostMessage WM_DROPFILES");
    return false;
  }
  return true;
}

bool clipboardText(std::wstring* text) {
  if (!OpenClipboard(nullptr))
    return false;
  bool found = false;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      *text = chars;
      found = true;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return found;
}
