// Looks at a running nlconf.exe from outside, as a user would, and ends it
// with the Escape key. Run under Wine by journey 00, in two steps so that
// the script can take a screenshot in between:
//
//   ui_probe examine   waits for the main dialog and checks what it shows
//   ui_probe escape    presses Escape in the dialog and waits for it to go
//
// Prints "PASS <name>" or "FAIL <name>: <detail>" per check and exits 1 when
// a check failed.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "resources/resource_ids.h"

namespace {

constexpr wchar_t kDialogCaption[] = L"NLCONF";
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kHiddenClass[] = L"NlConf";
constexpr DWORD kAppearLimitMs = 30000;
constexpr DWORD kVanishLimitMs = 10000;
constexpr DWORD kPollMs = 100;
constexpr UINT kSendLimitMs = 2000;
// A message box's text is static control 0xFFFF.
constexpr int kMessageBoxTextId = 0xFFFF;

struct Report {
  int passed = 0;
  int failed = 0;
};

void check(Report& report, const char* name, bool ok, const std::string& detail) {
  if (ok) {
    ++report.passed;
    std::printf("PASS %s\n", name);
  } else {
    ++report.failed;
    std::printf("FAIL %s: %s\n", name, detail.c_str());
  }
  std::fflush(stdout);
}

std::string narrow(const wchar_t* text) {
  std::string out;
  for (; *text != L'\0'; ++text) {
    out += (*text >= 0x20 && *text < 0x7F) ? char(*text) : '?';
  }
  return out;
}

std::string windowText(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return narrow(text);
}

std::string className(HWND window) {
  wchar_t name[128] = {};
  GetClassNameW(window, name, 128);
  return narrow(name);
}

struct TopLevelSearch {
  HWND mainDialog = nullptr;
  HWND otherBox = nullptr;  // an "NLCONF"/"NlConf" dialog that is not the main one
};

BOOL CALLBACK visitTopLevel(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<TopLevelSearch*>(context);
  wchar_t title[64] = {};
  wchar_t kind[64] = {};
  GetWindowTextW(window, title, 64);
  GetClassNameW(window, kind, 64);
  if (std::wcscmp(kind, kDialogClass) != 0 || !IsWindowVisible(window)) {
    return TRUE;
  }
  if (std::wcscmp(title, kDialogCaption) == 0 && GetDlgItem(window, IDC_MASTER_READ) != nullptr) {
    search->mainDialog = window;
    return FALSE;
  }
  if (_wcsicmp(title, kDialogCaption) == 0) {
    search->otherBox = window;
  }
  return TRUE;
}

TopLevelSearch findWindows() {
  TopLevelSearch search;
  EnumWindows(visitTopLevel, reinterpret_cast<LPARAM>(&search));
  return search;
}

// Waits for the main dialog; on a time-out tells what stood in its place.
HWND waitForMainDialog(Report& report) {
  const DWORD started = GetTickCount();
  TopLevelSearch search;
  do {
    search = findWindows();
    if (search.mainDialog != nullptr) {
      check(report, "main-dialog-appears", true, "");
      return search.mainDialog;
    }
    Sleep(kPollMs);
  } while (GetTickCount() - started < kAppearLimitMs);
  std::string detail = "no visible dialog \"NLCONF\" with control 3001 within " +
                       std::to_string(kAppearLimitMs / 1000) + " s";
  if (search.otherBox != nullptr) {
    wchar_t text[1024] = {};
    GetDlgItemTextW(search.otherBox, kMessageBoxTextId, text, 1024);
    detail += "; a box \"" + windowText(search.otherBox) + "\" says: " + narrow(text);
  }
  check(report, "main-dialog-appears", false, detail);
  return nullptr;
}

// Wine answers WM_GETICON from another process with nothing, so the icon is
// looked for where it is drawn: the caption's left end, as Wine draws it when
// it draws the frames itself. The program's small icon has red antenna tips,
// blue waves and green boards in the standard palette's pure colours, which
// a plain caption does not have.
struct CornerInk {
  int red = 0;
  int blue = 0;
  int green = 0;
  bool isIcon() const { return red >= 8 && blue >= 8 && green >= 8; }
};

CornerInk cornerInk(const RECT& frame) {
  constexpr int kCornerWidth = 40;
  constexpr int kCornerHeight = 32;
  CornerInk ink;
  const HDC screen = GetDC(nullptr);
  for (int y = 0; y < kCornerHeight; ++y) {
    for (int x = 0; x < kCornerWidth; ++x) {
      const COLORREF pixel = GetPixel(screen, frame.left + x, frame.top + y);
      ink.red += pixel == RGB(255, 0, 0);
      ink.blue += pixel == RGB(0, 0, 255);
      ink.green += pixel == RGB(0, 128, 0);
    }
  }
  ReleaseDC(nullptr, screen);
  return ink;
}

void checkCaptionIcon(Report& report, const RECT& frame) {
  // A caption being drawn again on a busy machine is looked at again.
  CornerInk ink = cornerInk(frame);
  for (int tries = 1; !ink.isIcon() && tries < 10; ++tries) {
    Sleep(200);
    ink = cornerInk(frame);
  }
  std::printf("INFO caption corner: %d red, %d blue, %d green pixels\n", ink.red, ink.blue,
              ink.green);
  check(report, "caption-shows-program-icon", ink.isIcon(),
        "in the caption's left corner: " + std::to_string(ink.red) + " red, " +
            std::to_string(ink.blue) + " blue, " + std::to_string(ink.green) + " green pixels");
}

void checkFrame(Report& report, HWND dialog) {
  const LONG_PTR style = GetWindowLongPtrW(dialog, GWL_STYLE);
  const LONG_PTR exStyle = GetWindowLongPtrW(dialog, GWL_EXSTYLE);
  char detail[160];
  std::snprintf(detail, sizeof detail, "style 0x%08lX, extended style 0x%08lX",
                static_cast<unsigned long>(style), static_cast<unsigned long>(exStyle));
  const bool frameOk = (style & WS_CAPTION) == WS_CAPTION && (style & WS_SYSMENU) != 0 &&
                       (style & WS_MINIMIZEBOX) != 0 && (style & WS_MAXIMIZEBOX) == 0 &&
                       (exStyle & WS_EX_APPWINDOW) != 0;
  check(report, "dialog-frame-caption-minimise-no-maximise-taskbar", frameOk, detail);

  const HWND owner = GetWindow(dialog, GW_OWNER);
  const HWND hidden = FindWindowW(kHiddenClass, nullptr);
  check(report, "hidden-window-owns-dialog",
        hidden != nullptr && owner == hidden && !IsWindowVisible(hidden),
        hidden == nullptr ? std::string("no window of class NlConf")
                          : "owner is class \"" + className(owner) + "\", hidden window " +
                                (IsWindowVisible(hidden) ? "visible" : "invisible"));

  RECT frame = {};
  GetWindowRect(dialog, &frame);
  std::printf("INFO dialog at %ld,%ld size %ldx%ld pixels\n", frame.left, frame.top,
              frame.right - frame.left, frame.bottom - frame.top);
  checkCaptionIcon(report, frame);
}

struct GroupSearch {
  const wchar_t* caption;
  HWND found;
};

BOOL CALLBACK visitChild(HWND child, LPARAM context) {
  auto* search = reinterpret_cast<GroupSearch*>(context);
  wchar_t text[64] = {};
  wchar_t kind[32] = {};
  GetWindowTextW(child, text, 64);
  GetClassNameW(child, kind, 32);
  const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
  if (_wcsicmp(kind, L"Button") == 0 && (style & BS_TYPEMASK) == BS_GROUPBOX &&
      std::wcscmp(text, search->caption) == 0) {
    search->found = child;
    return FALSE;
  }
  return TRUE;
}

void checkGroups(Report& report, HWND dialog) {
  const wchar_t* const captions[] = {L"Master", L"Slave", L"Copy"};
  std::string missing;
  for (const wchar_t* caption : captions) {
    GroupSearch search = {caption, nullptr};
    EnumChildWindows(dialog, visitChild, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr || !IsWindowVisible(search.found)) {
      missing += " \"" + narrow(caption) + "\"";
    }
  }
  check(report, "group-boxes-master-slave-copy", missing.empty(), "missing:" + missing);
}

struct ButtonExpectation {
  int id;
  const wchar_t* text;
  bool enabled;
};

// With no serial port present nothing can be read, so only Exit is usable.
constexpr ButtonExpectation kButtons[] = {
    {IDC_MASTER_READ, L"Read", false},
    {IDC_MASTER_WRITE, L"Write", false},
    {IDC_SLAVE_READ, L"Read", false},
    {IDC_SLAVE_WRITE, L"Write", false},
    {IDC_LINK_TEST, L"Link Test", false},
    {IDC_COPY_TO_SLAVE, L">> Copy >>", false},
    {IDC_COPY_TO_MASTER, L"<< Copy <<", false},
    {IDC_SET_DEFAULT, L"Set Default", false},
    {IDOK, L"Exit", true},
};

void checkButtons(Report& report, HWND dialog) {
  std::string absent;
  std::string wrongState;
  for (const ButtonExpectation& expected : kButtons) {
    const HWND button = GetDlgItem(dialog, expected.id);
    wchar_t text[64] = {};
    if (button != nullptr) {
      GetWindowTextW(button, text, 64);
    }
    if (button == nullptr || std::wcscmp(text, expected.text) != 0 || !IsWindowVisible(button)) {
      absent.append(" ").append(std::to_string(expected.id)).append(" \"");
      absent.append(narrow(expected.text)).append("\"");
      continue;
    }
    if ((IsWindowEnabled(button) != FALSE) != expected.enabled) {
      wrongState.append(" ").append(std::to_string(expected.id));
      wrongState.append(expected.enabled ? " disabled" : " enabled");
    }
  }
  check(report, "buttons-present-with-their-texts", absent.empty(), "missing or wrong:" + absent);
  check(report, "only-exit-enabled-without-ports", absent.empty() && wrongState.empty(),
        absent.empty() ? "wrong state:" + wrongState : std::string("buttons missing"));
}

void checkPortLists(Report& report, HWND dialog) {
  const int masterPorts = int(SendDlgItemMessageW(dialog, IDC_MASTER_PORT, CB_GETCOUNT, 0, 0));
  const int slavePorts = int(SendDlgItemMessageW(dialog, IDC_SLAVE_PORT, CB_GETCOUNT, 0, 0));
  check(report, "port-lists-empty-in-fresh-prefix", masterPorts == 0 && slavePorts == 0,
        "master lists " + std::to_string(masterPorts) + ", slave " + std::to_string(slavePorts));
  // Filled by the dialog's initialisation; shown for the record only.
  std::printf("INFO entries: channel %d, baud %d, parity %d, power save %d\n",
              int(SendDlgItemMessageW(dialog, IDC_MASTER_CHANNEL, CB_GETCOUNT, 0, 0)),
              int(SendDlgItemMessageW(dialog, IDC_MASTER_BAUD, CB_GETCOUNT, 0, 0)),
              int(SendDlgItemMessageW(dialog, IDC_MASTER_PARITY, CB_GETCOUNT, 0, 0)),
              int(SendDlgItemMessageW(dialog, IDC_SLAVE_POWER_SAVE, CB_GETCOUNT, 0, 0)));
}

int examine() {
  Report report;
  const HWND dialog = waitForMainDialog(report);
  if (dialog != nullptr) {
    checkFrame(report, dialog);
    checkGroups(report, dialog);
    checkButtons(report, dialog);
    checkPortLists(report, dialog);
  }
  return report.failed == 0 ? 0 : 1;
}

bool waitUntilGone(HWND window) {
  const DWORD started = GetTickCount();
  while (IsWindow(window)) {
    if (GetTickCount() - started >= kVanishLimitMs) {
      return false;
    }
    Sleep(kPollMs);
  }
  return true;
}

// The key goes to the control with the focus, as a key press would, so that
// it reaches the dialog only through the program's IsDialogMessageW.
int pressEscape() {
  Report report;
  const HWND dialog = findWindows().mainDialog;
  check(report, "main-dialog-still-there", dialog != nullptr, "no main dialog to close");
  if (dialog == nullptr) {
    return 1;
  }
  const HWND hidden = FindWindowW(kHiddenClass, nullptr);
  GUITHREADINFO thread = {};
  thread.cbSize = sizeof thread;
  HWND target = dialog;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread) &&
      thread.hwndFocus != nullptr && IsChild(dialog, thread.hwndFocus)) {
    target = thread.hwndFocus;
  }
  std::printf("INFO Escape goes to %s %d\n", className(target).c_str(),
              target == dialog ? 0 : GetDlgCtrlID(target));
  const UINT scan = MapVirtualKeyW(VK_ESCAPE, MAPVK_VK_TO_VSC);
  PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, LPARAM(1 | (scan << 16)));
  PostMessageW(target, WM_KEYUP, VK_ESCAPE, LPARAM(1 | (scan << 16) | (3u << 30)));
  check(report, "escape-closes-main-dialog", waitUntilGone(dialog),
        "dialog still there " + std::to_string(kVanishLimitMs / 1000) + " s after Escape");
  check(report, "escape-closes-hidden-window", hidden != nullptr && waitUntilGone(hidden),
        hidden == nullptr ? std::string("no hidden window") : "hidden window still there");
  return report.failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "examine") == 0) {
    return examine();
  }
  if (argc == 2 && std::strcmp(argv[1], "escape") == 0) {
    return pressEscape();
  }
  std::fprintf(stderr, "usage: ui_probe examine | ui_probe escape\n");
  return 2;
}
