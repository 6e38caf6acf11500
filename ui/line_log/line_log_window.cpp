#include "ui/line_log/line_log_window.h"

#include <commdlg.h>

#include <string>

#include "link/line_log.h"
#include "resources/resource_ids.h"
#include "runner/display.h"
#include "ui/dialog/pane.h"
#include "ui/shared/file_dialog.h"
#include "ui/shared/replace_file.h"
#include "ui/shared/shell_services.h"
#include "ui/shared/tool_layout.h"
#include "ui/shared/tool_window.h"

namespace {

constexpr wchar_t kClassName[] = L"NlConfLineLog";
constexpr wchar_t kCaption[] = L"NLCONF - Line Log";
constexpr UINT_PTR kRefreshTimer = 1;
// Live enough to watch the reset key's pulses, and rare enough that the edit
// control's work (tens of milliseconds an append under a loaded Wine) takes
// little from the GUI thread while an operation runs.
constexpr UINT kRefreshMs = 500;
constexpr int kMargin = 8;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 24;
constexpr int kWidth = 600;
constexpr int kNarrowest = 360;
// Its longest kind of line, which the window is made wide enough for: a
// range packet's fate, on the longest numbers it has.
constexpr wchar_t kWidestLine[] =
    L"23:59:59.999 COM255 range packet 999999 from master corrupted in 99999 ms";

// The program's one record; the worker appends to it, the window reads it.
LineLogBuffer programLineLog;

struct LineLogWindow {
  HWND window = nullptr;
  HWND text = nullptr;
  HFONT textFont = nullptr;
  WNDPROC textProc = nullptr;
  LineLogView shown;        // what of the record the text holds
  bool catchUpDue = false;  // a verdict is on its way: catch up once it has painted
};

LineLogWindow logWindow;

// ---- the text ------------------------------------------------------------------

std::wstring widened(const std::string& text) {
  return std::wstring(text.begin(), text.end());  // the log is ASCII: it escapes the rest
}

bool viewAtEnd(HWND text) {
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_ALL;
  if (!GetScrollInfo(text, SB_VERT, &info) || info.nMax <= static_cast<int>(info.nPage))
    return true;
  return info.nPos + static_cast<int>(info.nPage) >= info.nMax;
}

void replaceRange(HWND text, LRESULT from, LRESULT to, const std::wstring& by) {
  SendMessageW(text, EM_SETSEL, from, to);
  SendMessageW(text, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(by.c_str()));
}

// Drops what the record dropped from the top and appends what came; the
// user's selection stays on the same characters. Returns how many lines
// the top lost.
LRESULT applyUpdate(HWND text, const LineLogUpdate& update) {
  if (update.restart) {
    SetWindowTextW(text, widened(update.more).c_str());
    return 0;
  }
  DWORD start = 0, end = 0;
  SendMessageW(text, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  LRESULT shift = 0, linesLost = 0;
  if (update.linesToReplace) {
    const LRESULT cut = SendMessageW(text, EM_LINEINDEX, update.linesToReplace, 0);
    const LRESULT before = SendMessageW(text, EM_GETLINECOUNT, 0, 0);
    const std::wstring top = widened(update.top);
    replaceRange(text, 0, cut < 0 ? GetWindowTextLengthW(text) : cut, top);
    shift = static_cast<LRESULT>(top.size()) - (cut < 0 ? 0 : cut);
    linesLost = before - SendMessageW(text, EM_GETLINECOUNT, 0, 0);
  }
  if (!update.more.empty()) {
    const int length = GetWindowTextLengthW(text);
    replaceRange(text, length, length, widened(update.more));
  }
  const auto moved = [shift](DWORD at) {
    return static_cast<LRESULT>(at) + shift > 0 ? static_cast<LRESULT>(at) + shift : 0;
  };
  SendMessageW(text, EM_SETSEL, moved(start), moved(end));
  return linesLost;
}

// Catches up with the record, no more than its lines. The view follows the
// end unless the user has scrolled up, and then stays on the lines the user
// is reading.
void refreshText() {
  LineLogUpdate update;
  if (!updateLineLogView(programLineLog, logWindow.shown, update))
    return;
  HWND text = logWindow.text;
  const bool follow = viewAtEnd(text);
  const LRESULT firstLine = SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0);
  const int column = GetScrollPos(text, SB_HORZ);
  SendMessageW(text, WM_SETREDRAW, FALSE, 0);
  const LRESULT linesLost = applyUpdate(text, update);
  if (follow) {
    SendMessageW(text, WM_VSCROLL, SB_BOTTOM, 0);
  } else {
    const LRESULT nowFirst = SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0);
    const LRESULT wanted = firstLine > linesLost ? firstLine - linesLost : 0;
    SendMessageW(text, EM_LINESCROLL, 0, wanted - nowFirst);
  }
  // Appending moved the caret to the end, and the view sideways with it.
  if (GetScrollPos(text, SB_HORZ) != column)
    SendMessageW(text, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, column), 0);
  // At once and whole: a paint left for later would show what the edit
  // control scrolled while it was not drawing beside what it drew after.
  SendMessageW(text, WM_SETREDRAW, TRUE, 0);
  RedrawWindow(text, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
}

void clearText() {
  clearLineLog(programLineLog);
  refreshText();
}

// The classic edit control has no Ctrl+A of its own.
LRESULT CALLBACK textProc(HWND text, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN && wParam == 'A' && GetKeyState(VK_CONTROL) < 0) {
    SendMessageW(text, EM_SETSEL, 0, -1);
    return 0;
  }
  if (message == WM_CHAR && wParam == 1)  // the Ctrl+A character: no beep
    return 0;
  return CallWindowProcW(logWindow.textProc, text, message, wParam, lParam);
}

// ---- saving ----------------------------------------------------------------------

bool askWhereToSave(HWND owner, wchar_t* path, DWORD size) {
  return askFileName(owner, path, size,
                     {.save = true,
                      .filter = L"Text files (*.txt)\0*.txt\0All files (*.*)\0*.*\0",
                      .extension = L"txt",
                      .flags = OFN_OVERWRITEPROMPT});
}

void reportSaveFailure(HWND owner, const wchar_t* path, DWORD error) {
  wchar_t reason[512] = L"(no description)";
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                 reason, 512, nullptr);
  std::wstring text = L"The line log could not be saved to\r\n";
  text += path;
  text += L"\r\n\r\n(" + std::to_wstring(error) + L") " + reason;
  MessageBoxW(owner, text.c_str(), kCaption, MB_OK | MB_ICONERROR);
}

void saveLog(HWND owner) {
  wchar_t path[MAX_PATH] = L"nlconf-line-log.txt";
  if (!askWhereToSave(owner, path, MAX_PATH))
    return;
  // What the record holds now, as the window shows it once caught up.
  const std::string lines = lineLogText(programLineLog);
  if (const DWORD error = replaceFile(path, lines.data(), static_cast<DWORD>(lines.size())))
    reportSaveFailure(owner, path, error);
}

// ---- the window --------------------------------------------------------------------

HWND makeChild(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int id) {
  return makeToolChild(parent, className, text, WS_TABSTOP | style, id);
}

void createChildren(HWND window) {
  logWindow.text = makeChild(window, L"Edit", L"",
                             WS_BORDER | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                                 ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_NOHIDESEL,
                             IDC_LOG_TEXT);
  SendMessageW(logWindow.text, EM_SETLIMITTEXT, 0, 0);  // the record's bound is the limit
  logWindow.textFont = createLineFont();
  if (logWindow.textFont)
    SendMessageW(logWindow.text, WM_SETFONT, reinterpret_cast<WPARAM>(logWindow.textFont), 0);
  logWindow.textProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(logWindow.text, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(textProc)));
  makeChild(window, L"Button", L"Save...", BS_PUSHBUTTON, IDC_LOG_SAVE);
  makeChild(window, L"Button", L"Clear", BS_PUSHBUTTON, IDC_LOG_CLEAR);
  makeChild(window, L"Button", L"Close", BS_PUSHBUTTON, IDCANCEL);
}

void layOut(HWND window, int width, int height) {
  const int margin = pixelsOnDisplay(kMargin), bw = pixelsOnDisplay(kButtonWidth),
            bh = pixelsOnDisplay(kButtonHeight);
  const int buttonsTop = height - margin - bh;
  MoveWindow(logWindow.text, margin, margin, width - 2 * margin, buttonsTop - 2 * margin, TRUE);
  int x = width - margin - bw;
  for (int id : {IDCANCEL, IDC_LOG_CLEAR, IDC_LOG_SAVE}) {
    MoveWindow(GetDlgItem(window, id), x, buttonsTop, bw, bh, TRUE);
    x -= bw + margin;
  }
}

void hideWindow(HWND window) {
  KillTimer(window, kRefreshTimer);
  ShowWindow(window, SW_HIDE);
  toolWindowHidden(mainDialog);
}

LRESULT onCommand(HWND window, WORD id) {
  switch (id) {
    case IDC_LOG_SAVE:
      saveLog(window);
      break;
    case IDC_LOG_CLEAR:
      clearText();
      break;
    case IDCANCEL:
      hideWindow(window);
      break;
    default:
      break;
  }
  return 0;
}

LRESULT CALLBACK lineLogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      createChildren(window);
      return 0;
    case WM_SIZE:
      layOut(window, LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_GETMINMAXINFO:
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {pixelsOnDisplay(kNarrowest),
                                                               pixelsOnDisplay(200)};
      return 0;
    case WM_SETFOCUS:
      SetFocus(logWindow.text);
      return 0;
    case WM_TIMER:
      if (wParam == kRefreshTimer && !IsIconic(window))
        refreshText();
      return 0;
    case WM_COMMAND:
      return onCommand(window, LOWORD(wParam));
    case WM_CLOSE:
      hideWindow(window);
      return 0;
    case WM_DESTROY:
      KillTimer(window, kRefreshTimer);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

// No owner, so that whichever of it and the dialog the user clicks comes
// to the front; placed beside the dialog when it shows.
HWND createLineLogWindow() {
  if (!registerToolWindowClass(kClassName, lineLogProc))
    return nullptr;
  return CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, kCaption, WS_OVERLAPPEDWINDOW, 0, 0,
                         pixelsOnDisplay(kWidth), pixelsOnDisplay(400), nullptr, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

HWND lineLogWindow() {
  return logWindow.window;
}

// The frame width that shows a range packet's line whole, its longest kind.
int lineLogWholeLineWidth() {
  HWND text = logWindow.text;
  HDC dc = text ? GetDC(text) : nullptr;
  SIZE line{};
  if (dc) {
    HGDIOBJ before =
        SelectObject(dc, logWindow.textFont ? logWindow.textFont : GetStockObject(ANSI_FIXED_FONT));
    GetTextExtentPoint32W(dc, kWidestLine, lstrlenW(kWidestLine), &line);
    SelectObject(dc, before);
    ReleaseDC(text, dc);
  }
  const LRESULT margins = text ? SendMessageW(text, EM_GETMARGINS, 0, 0) : 0;
  RECT frame{0, 0,
             line.cx + LOWORD(margins) + HIWORD(margins) + GetSystemMetrics(SM_CXVSCROLL) +
                 4 * GetSystemMetrics(SM_CXEDGE) + 2 * pixelsOnDisplay(kMargin),
             100};
  AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_CONTROLPARENT);
  const int width = frame.right - frame.left;
  return width > pixelsOnDisplay(kNarrowest) ? width : pixelsOnDisplay(kNarrowest);
}

ToolWindowNeeds lineLogNeeds() {
  ToolWindowNeeds needs;
  needs.wholeWidth = lineLogWholeLineWidth();
  needs.minHeight = pixelsOnDisplay(200);
  return needs;
}

constexpr ToolWindow kLineLogPlace{lineLogWindow, lineLogNeeds, ToolPlace::Below, 0};

}  // namespace

void startLineLog() {
  setLineLogSink(&dialogLineLog, appendToLineLog, &programLineLog);
}

void showLineLogWindow(HWND dialog) {
  if (!logWindow.window)
    logWindow.window = createLineLogWindow();
  if (!logWindow.window)
    return;
  addToolWindow(kLineLogPlace);
  if (!IsWindowVisible(logWindow.window))
    arrangeToolWindows(dialog, logWindow.window);
  refreshText();
  ShowWindow(logWindow.window, SW_SHOWNORMAL);
  SetForegroundWindow(logWindow.window);
  SetFocus(logWindow.text);
  SetTimer(logWindow.window, kRefreshTimer, kRefreshMs, nullptr);
}

void refreshLineLogAfterVerdict() {
  logWindow.catchUpDue = true;
}

void catchUpLineLogIfDue() {
  if (!logWindow.catchUpDue)
    return;
  logWindow.catchUpDue = false;
  if (logWindow.window && IsWindowVisible(logWindow.window) && !IsIconic(logWindow.window))
    refreshText();
}

bool lineLogDialogMessage(MSG* message) {
  return logWindow.window && IsWindowVisible(logWindow.window) &&
         IsDialogMessageW(logWindow.window, message);
}

bool translateLineLogKeys(const MSG* message) {
  HWND window = logWindow.window;
  if (!window || message->message != WM_KEYDOWN || message->wParam != 'S' ||
      GetKeyState(VK_CONTROL) >= 0 || GetKeyState(VK_MENU) < 0)
    return false;
  if (message->hwnd != window && !IsChild(window, message->hwnd))
    return false;
  saveLog(window);
  return true;
}

void destroyLineLogWindow() {
  if (logWindow.window) {
    DestroyWindow(logWindow.window);
    logWindow.window = nullptr;
  }
  if (logWindow.textFont) {
    DeleteObject(logWindow.textFont);
    logWindow.textFont = nullptr;
  }
  logWindow.text = nullptr;
  logWindow.shown = LineLogView{};
}
