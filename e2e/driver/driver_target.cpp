// A stand-in for the program, for checking the UI driver without it: a
// dialog "NLCONF" with the program's control identifiers, colours on its
// value fields and combo boxes, a message box, a progress dialog with its
// hidden reset prompt and a link result dialog. It prints one line per
// event that the driver is meant to cause, so that a check can compare:
//
//   command id=<id> code=<notification> from-control=yes|no
//   devicechange event=0x8000 header=yes size=<n> type=<n> name=<name> sent=<how>
//   devicechange event=0x8000 header=no
//   syscommand close
//   box returned <n> / progress returned <n> / result returned <n>
//   exit 0
//
// The value fields are coloured: 3004 red, 3005 black, 3006 blue; the
// channel combo box's text red, the baud one's black.
#include <windows.h>
// After windows.h:
#include <dbt.h>

#include <cstddef>
#include <cstdio>

#include "resource_ids.h"

namespace {

constexpr int kShowBox = 1000;
constexpr int kShowProgress = 1001;
constexpr int kShowPrompt = 1002;
constexpr int kShowResult = 1003;
constexpr COLORREF kRed = 0x0000FF;
constexpr COLORREF kBlue = 0xFF0000;
constexpr COLORREF kBlack = 0x000000;

HWND prompt = nullptr;
HBRUSH faceBrush = nullptr;

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::fflush(stdout);
}

const char* howSent() {
  const DWORD how = InSendMessageEx(nullptr);
  if (how == ISMEX_NOSEND)
    return "posted-or-own-thread";
  return (how & ISMEX_REPLIED) ? "sent-replied" : "sent";
}

void logDeviceChange(WPARAM event, LPARAM lParam) {
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
  if (!header) {
    say("devicechange event=0x%llX header=no sent=%s\n", static_cast<unsigned long long>(event),
        howSent());
    return;
  }
  char name[64] = "-";
  if (header->dbch_devicetype == DBT_DEVTYP_PORT &&
      header->dbch_size > offsetof(DEV_BROADCAST_PORT_W, dbcp_name)) {
    const auto* port = reinterpret_cast<const DEV_BROADCAST_PORT_W*>(header);
    std::snprintf(name, sizeof name, "%ls", port->dbcp_name);
  }
  say("devicechange event=0x%llX header=yes size=%lu type=%lu name=%s sent=%s\n",
      static_cast<unsigned long long>(event), header->dbch_size, header->dbch_devicetype, name,
      howSent());
}

INT_PTR CALLBACK boxlessProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG;
}

INT_PTR CALLBACK progressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    SetDlgItemTextW(dialog, IDC_PROGRESS_LABEL, L"Reading parameters...");
    return TRUE;
  }
  if (message == WM_COMMAND && wParam == IDCANCEL) {
    say("command id=2 code=0 in=progress\n");
    EndDialog(dialog, 258);
    return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK resultProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextW(dialog, IDC_RESULT_LABEL, L"Link OK.");
      return TRUE;
    case WM_COMMAND:
      if (wParam == IDOK || wParam == IDCANCEL) {
        EndDialog(dialog, wParam == IDOK ? 0 : 1);
        return TRUE;
      }
      return FALSE;
    case WM_CTLCOLORSTATIC:
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) != IDC_RESULT_LABEL)
        return FALSE;
      SetTextColor(reinterpret_cast<HDC>(wParam), kBlue);
      SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<INT_PTR>(faceBrush);
    default:
      return FALSE;
  }
}

INT_PTR colourField(HDC dc, HWND control, COLORREF background) {
  const int id = GetDlgCtrlID(control);
  COLORREF text = kBlack;
  if (id == IDC_MASTER_PAN_ID || id == IDC_MASTER_CHANNEL)
    text = kRed;
  else if (id == IDC_MASTER_DEST_LOW)
    text = kBlue;
  else if (id != IDC_MASTER_DEST_HIGH && id != IDC_MASTER_BAUD)
    return 0;
  SetTextColor(dc, text);
  SetBkColor(dc, background);
  return reinterpret_cast<INT_PTR>(background == 0xFFFFFF ? GetStockObject(WHITE_BRUSH)
                                                          : faceBrush);
}

void fill(HWND dialog, int id, const wchar_t* const* entries) {
  for (; *entries; ++entries)
    SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(*entries));
}

void init(HWND dialog) {
  static const wchar_t* const ports[] = {L"Alpha Port (COM1)", L"Beta Port (COM2)",
                                         L"Gamma Port (COM3)", nullptr};
  static const wchar_t* const channels[] = {L"11", L"12", L"13", nullptr};
  static const wchar_t* const bauds[] = {L"9600", L"19200", nullptr};
  fill(dialog, IDC_MASTER_PORT, ports);
  fill(dialog, IDC_MASTER_CHANNEL, channels);
  fill(dialog, IDC_MASTER_BAUD, bauds);
  SendDlgItemMessageW(dialog, IDC_MASTER_PORT, CB_SETCURSEL, 0, 0);
  SendDlgItemMessageW(dialog, IDC_MASTER_CHANNEL, CB_SETCURSEL, 1, 0);
  SendDlgItemMessageW(dialog, IDC_MASTER_BAUD, CB_SETCURSEL, 0, 0);
  prompt = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_RESET_PROMPT), dialog,
                              boxlessProc, 0);
}

void onCommand(HWND dialog, WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  const bool fromControl = lParam != 0 && reinterpret_cast<HWND>(lParam) == GetDlgItem(dialog, id);
  say("command id=%d code=%d from-control=%s\n", id, HIWORD(wParam), fromControl ? "yes" : "no");
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (wParam == IDOK || wParam == IDCANCEL) {
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  } else if (wParam == kShowBox) {
    const int result =
        MessageBoxW(dialog, L"Communication error.", L"NLCONF", MB_OK | MB_ICONERROR);
    say("box returned %d\n", result);
  } else if (wParam == kShowProgress) {
    const INT_PTR result =
        DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_PROGRESS), dialog, progressProc, 0);
    say("progress returned %lld\n", static_cast<long long>(result));
  } else if (wParam == kShowPrompt) {
    ShowWindow(prompt, IsWindowVisible(prompt) ? SW_HIDE : SW_SHOWNORMAL);
  } else if (wParam == kShowResult) {
    const INT_PTR result =
        DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_LINK_RESULT), dialog, resultProc, 0);
    say("result returned %lld\n", static_cast<long long>(result));
  }
}

INT_PTR CALLBACK mainProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      init(dialog);
      return TRUE;
    case WM_COMMAND:
      onCommand(dialog, wParam, lParam);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      return colourField(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam),
                         GetSysColor(COLOR_BTNFACE));
    case WM_CTLCOLOREDIT:
      return colourField(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), 0xFFFFFF);
    case WM_DEVICECHANGE:
      logDeviceChange(wParam, lParam);
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE)
        say("syscommand close\n");
      return FALSE;
    case WM_CLOSE:
      DestroyWindow(dialog);
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

int main() {
  faceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr,
                                   mainProc, 0);
  if (!dialog) {
    say("no dialog (error %lu)\n", GetLastError());
    return 1;
  }
  say("ready\n");
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (IsWindow(dialog) && IsDialogMessageW(dialog, &message))
      continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  DeleteObject(faceBrush);
  say("exit %d\n", static_cast<int>(message.wParam));
  return static_cast<int>(message.wParam);
}
