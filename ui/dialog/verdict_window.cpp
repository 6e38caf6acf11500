#include "ui/dialog/verdict_window.h"

#include "resources/resource_ids.h"
#include "runner/display.h"
#include "ui/dialog/view_hooks.h"
#include "ui/shared/shell_services.h"
#include "ui/shared/text_format.h"

namespace {

// Valid while the dialog is shown; it is modal, so there is only one.
struct VerdictWindow {
  HWND label = nullptr;
  const wchar_t* text = nullptr;
  const wchar_t* details = nullptr;
  COLORREF textColor = 0;
  COLORREF bkColor = 0;
  HBRUSH bkBrush = nullptr;
  LOGFONTW font = {};
  FontHolder fontHolder;
};

VerdictWindow verdict;

INT_PTR onVerdictInit(HWND dialog) {
  verdict.label = GetDlgItem(dialog, IDC_RESULT_LABEL);
  fitFontToText(verdict.label, &verdict.font, verdict.text);
  applyFont(&verdict.fontHolder, verdict.label, &verdict.font);
  SetWindowTextW(verdict.label, verdict.text);
  if (verdict.details)
    SetDlgItemTextW(dialog, IDC_PAIR_DETAILS, verdict.details);
  return TRUE;
}

INT_PTR endVerdict(HWND dialog, INT_PTR result) {
  noteResultWindowClosed();
  releaseFont(&verdict.fontHolder, verdict.label);
  EndDialog(dialog, result);
  return TRUE;
}

INT_PTR onVerdictLabelColor(HDC dc, HWND control) {
  if (!control || control != verdict.label)
    return FALSE;
  SetTextColor(dc, verdict.textColor);
  SetBkColor(dc, verdict.bkColor);
  return reinterpret_cast<INT_PTR>(verdict.bkBrush);
}

INT_PTR CALLBACK verdictProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return onVerdictInit(dialog);
    case WM_COMMAND:
      if (wParam == IDOK)
        return endVerdict(dialog, 0);
      if (wParam == IDCANCEL)
        return endVerdict(dialog, 1);
      return FALSE;
    case WM_CTLCOLORSTATIC:
      return onVerdictLabelColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    default:
      return FALSE;
  }
}

}  // namespace

INT_PTR showVerdict(HWND owner, const wchar_t* text, COLORREF color, int dialogId,
                    const wchar_t* details) {
  verdict = VerdictWindow{};
  verdict.font = describedFont(48, FW_HEAVY, DEFAULT_PITCH);
  verdict.bkColor = GetSysColor(COLOR_BTNFACE);
  verdict.bkBrush = CreateSolidBrush(verdict.bkColor);
  if (!verdict.bkBrush) {  // the verdict still shows, if plainly
    static wchar_t plain[kDetailsChars + 8];
    formatBoundedText(plain, kDetailsChars + 8, L"%s\r\n\r\n%s", text, details ? details : L"");
    showError(L"%s", plain);
    return -1;
  }
  verdict.text = text;
  verdict.details = details;
  verdict.textColor = color;
  const INT_PTR result =
      DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(dialogId), owner, verdictProc, 0);
  discardFont(&verdict.fontHolder);
  DeleteObject(verdict.bkBrush);
  verdict = VerdictWindow{};
  return result;
}
