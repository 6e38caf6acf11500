// The link test's screen side: the test on the worker behind the progress
// dialog, then the verdict in large coloured letters in a small modal dialog.
#include <cstdio>

#include "link/line_log.h"
#include "module/link_test.h"
#include "module/pair_texts.h"
#include "resources/resource_ids.h"
#include "runner/runner.h"
#include "ui/device_changes.h"
#include "ui/line_log_window.h"
#include "ui/main_dialog.h"
#include "ui/shell_services.h"

namespace {

constexpr COLORREF kLinkOkColor = 0xFF0000;  // blue
constexpr COLORREF kLinkNgColor = 0x0000FF;  // red

// Valid while the dialog is shown; it is modal, so there is only one.
struct LinkResultDialog {
  HWND resultDialog = nullptr;
  HWND resultLabel = nullptr;
  const wchar_t* resultTitle = nullptr;
  const wchar_t* resultText = nullptr;
  COLORREF resultTextColor = 0;
  COLORREF resultBkColor = 0;
  HBRUSH resultBkBrush = nullptr;
  LOGFONTW resultFont = {};
  FontHolder resultFontHolder;
};

LinkResultDialog linkResult;

void fillResultFont(LOGFONTW* font) {
  *font = LOGFONTW{};
  font->lfHeight = -pixelsOnDisplay(48);
  font->lfWeight = FW_HEAVY;
  font->lfCharSet = DEFAULT_CHARSET;
  font->lfOutPrecision = OUT_CHARACTER_PRECIS;
  font->lfClipPrecision = CLIP_CHARACTER_PRECIS;
  font->lfQuality = DEFAULT_QUALITY;
  font->lfPitchAndFamily = DEFAULT_PITCH;
}

INT_PTR onResultInit(HWND dialog) {
  linkResult.resultDialog = dialog;
  linkResult.resultLabel = GetDlgItem(dialog, IDC_RESULT_LABEL);
  fitFontToText(linkResult.resultLabel, &linkResult.resultFont, linkResult.resultText);
  applyFont(&linkResult.resultFontHolder, linkResult.resultLabel, &linkResult.resultFont);
  SetWindowTextW(dialog, linkResult.resultTitle);
  SetWindowTextW(linkResult.resultLabel, linkResult.resultText);
  return TRUE;
}

INT_PTR endResultDialog(HWND dialog, INT_PTR result) {
  noteResultWindowClosed();
  releaseFont(&linkResult.resultFontHolder, linkResult.resultLabel);
  EndDialog(dialog, result);
  return TRUE;
}

INT_PTR onResultLabelColor(HDC dc, HWND control) {
  if (!control || control != linkResult.resultLabel)
    return FALSE;
  SetTextColor(dc, linkResult.resultTextColor);
  SetBkColor(dc, linkResult.resultBkColor);
  return reinterpret_cast<INT_PTR>(linkResult.resultBkBrush);
}

}  // namespace

// One port for both modules would read one module twice and ask for a
// reset key no one can press in time: refused before a byte is sent.
bool refuseOnePortForBoth() {
  const uint32_t port = portNumberShown(&masterPane);
  if (port == 0 || port != portNumberShown(&slavePane))
    return false;
  showError(L"%s", samePortText(L"COM" + std::to_wstring(port)).c_str());
  return true;
}

void runLinkTest() {
  if (refuseOnePortForBoth())
    return;
  HWND startedFrom = focusToGiveBack();
  const uint32_t masterPort = portNumberShown(&masterPane);
  if (lineLogActive()) {
    char text[64];
    std::snprintf(text, sizeof text, "Link Test with COM%u started", portNumberShown(&slavePane));
    logNote(masterPort, text);
  }
  masterPane.workerBody = linkTestBody;
  masterPane.progressText = L"Link Test...";
  int32_t verdict = runOnWorker(mainDialog, &masterPane, &slavePane, false);
  // A port that went away stopped the test through the cancel event: the
  // link did not work, and the user did not cancel.
  if (verdict == kLinkCancelled &&
      (hasDeferredPortChange(&masterPane) || hasDeferredPortChange(&slavePane))) {
    verdict = kLinkFail;
  }
  // The user who cancelled knows: no verdict and no box. Anything else that
  // kept the test from passing is the link's failure.
  logNote(masterPort, verdict == kLinkPass        ? "Link Test: Link OK."
                      : verdict == kLinkCancelled ? "Link Test: cancelled."
                                                  : "Link Test: Link NG.");
  deferLineLogRefresh();
  if (verdict == kLinkPass)
    showLinkResult(mainDialog, L"Link OK.", kLinkOkColor);
  else if (verdict != kLinkCancelled)
    showLinkResult(mainDialog, L"Link NG.", kLinkNgColor);
  finishDeferredDeviceChanges(&masterPane);
  giveFocusBack(startedFrom);
}

INT_PTR showLinkResult(HWND owner, const wchar_t* text, COLORREF color) {
  fillResultFont(&linkResult.resultFont);
  linkResult.resultBkColor = GetSysColor(COLOR_BTNFACE);
  linkResult.resultBkBrush = CreateSolidBrush(linkResult.resultBkColor);
  if (!linkResult.resultBkBrush)
    return -1;
  linkResult.resultText = text;
  linkResult.resultTitle = L"Link Test";
  linkResult.resultTextColor = color;
  const INT_PTR result = DialogBoxParamW(
      GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_LINK_RESULT), owner, linkResultProc, 0);
  discardFont(&linkResult.resultFontHolder);
  DeleteObject(linkResult.resultBkBrush);
  linkResult.resultBkBrush = nullptr;
  linkResult.resultDialog = nullptr;
  linkResult.resultLabel = nullptr;
  return result;
}

INT_PTR CALLBACK linkResultProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return onResultInit(dialog);
    case WM_COMMAND:
      if (wParam == IDOK)
        return endResultDialog(dialog, 0);
      if (wParam == IDCANCEL)
        return endResultDialog(dialog, 1);
      return FALSE;
    case WM_CTLCOLORSTATIC:
      return onResultLabelColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    default:
      return FALSE;
  }
}
