// The main dialog: its creation with the objects the windows share, its
// procedure, its end, the message loop's routing, and the end of the
// user's session.
#include "ui/dialog/main_dialog.h"

#include <initializer_list>

#include <shellapi.h>

#include "module/write.h"
#include "resources/resource_ids.h"
#include "runner/runner.h"
#include "ui/dialog/commands.h"
#include "ui/dialog/device_changes.h"
#include "ui/dialog/extra_commands.h"
#include "ui/dialog/memory.h"
#include "ui/dialog/pair_commands.h"
#include "ui/dialog/pane_view.h"
#include "ui/dialog/port_list.h"
#include "ui/dialog/rules.h"
#include "ui/dialog/session_end.h"
#include "ui/dialog/session_status.h"
#include "ui/dialog/settings_commands.h"
#include "ui/line_log/line_log_window.h"
#include "ui/range_test/range_test_window.h"
#include "ui/shared/scroll_view.h"
#include "ui/shared/shell_services.h"
#include "ui/shared/text_format.h"
#include "ui/shared/window_handle.h"
#include "ui/terminal/terminal_window.h"

namespace {

HWND takeDisabledButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  EnableWindow(button, FALSE);
  UpdateWindow(button);
  return button;
}

WindowHandle control(HWND dialog, int id) {
  return GetDlgItem(dialog, id);
}

// The pane's controls: its port list's id, then its buttons and fields.
void setupPaneControls(HWND dialog, PaneRecord* pane, int paneBaseId) {
  const int b = paneBaseId;
  HWND portCombo = GetDlgItem(dialog, b);
  pane->portCombo = portCombo;
  refillPortList(portCombo);
  pane->readButton = control(dialog, b + 1);
  pane->writeButton = control(dialog, b + 2);
  pane->nodeIdField = control(dialog, b + 3);
  const bool master = pane->module.isMaster != 0;
  for (Setting s : kAllSettings) {
    const int id = settingControlId(master, s);
    if (id == 0)
      continue;
    pane->control[indexOf(s)] = control(dialog, id);
    const ChoiceList* list = settingInfo(s).choices;
    // The channel list follows what the module offers.
    if (s == Setting::Channel)
      fillChannelList(pane->control[indexOf(s)], pane->module.channelLimit);
    else if (list)
      fillChoiceList(asWindow(pane->control[indexOf(s)]), list->entries, list->count);
  }
}

BOOL initMainDialog(HWND dialog) {
  mainDialog = dialog;
  SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
  SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon));
  copyToSlaveButton = takeDisabledButton(dialog, IDC_COPY_TO_SLAVE);
  copyToMasterButton = takeDisabledButton(dialog, IDC_COPY_TO_MASTER);
  linkTestButton = takeDisabledButton(dialog, IDC_LINK_TEST);
  setDefaultButton = takeDisabledButton(dialog, IDC_SET_DEFAULT);
  // The pane's role decides its reset and its controls, so it comes first.
  masterPane.module.isMaster = 1;
  slavePane.module.isMaster = 0;
  resetPane(&masterPane.module);
  resetPane(&slavePane.module);
  setupPaneControls(dialog, &masterPane, IDC_MASTER_PORT);
  setupPaneControls(dialog, &slavePane, IDC_SLAVE_PORT);
  clearPaneDisplay(&masterPane);
  clearPaneDisplay(&slavePane);
  takeRememberedPorts();
  showSessionStatus();
  addExtraCommands(dialog);
  afterButtonRules = updateExtraCommands;
  paneHeldElsewhere = terminalHolds;
  DragAcceptFiles(dialog, TRUE);
  applyButtonRules();
  fitMainDialog(dialog);
  return TRUE;
}

// The system waits about 5 s for a program at the end of a session.
constexpr DWORD kSessionEndWaitMs = 4000;

void releaseSharedObjects() {
  if (buttonFaceBrush != nullptr) {
    DeleteObject(buttonFaceBrush);
    buttonFaceBrush = nullptr;
  }
  if (largeIcon != nullptr) {
    DestroyIcon(largeIcon);
    largeIcon = nullptr;
  }
  if (smallIcon != nullptr) {
    DestroyIcon(smallIcon);
    smallIcon = nullptr;
  }
}

void closeDialogOwner() {
  if (dialogOwner != nullptr) {
    PostMessageW(dialogOwner, WM_CLOSE, 0, 0);
    dialogOwner = nullptr;
  }
}

HWND failDialogCreation(const wchar_t* failureText) {
  const DWORD error = GetLastError();
  showMessage(dialogOwner, MB_OK | MB_ICONWARNING, kDialogCaption, failureText, long(error));
  releaseSharedObjects();
  closeDialogOwner();
  return nullptr;
}

// Exit, Escape, Alt+F4 and the close box all come here. A second WM_CLOSE
// (Escape pressed twice) can arrive while the question is up: it is the
// same question, not a second one.
bool userAgreesToExit(HWND dialog) {
  static bool asking = false;
  const wchar_t* unwritten = exitQuestion(&masterPane, &slavePane);
  const wchar_t* record = recordFilePath();
  if (!unwritten && !record[0])
    return true;
  if (asking)
    return false;
  asking = true;
  // A session that keeps a record is a production run: it does not end
  // unasked, whatever ended it.
  wchar_t question[kMessageBufferChars];
  if (record[0])
    formatBoundedText(question, kMessageBufferChars, L"The pairs are recorded in %s.\r\n%s", record,
                      unwritten ? unwritten : L"Exit NLCONF?");
  else
    lstrcpynW(question, unwritten, kMessageBufferChars);
  // No is the default: a key held down must not throw the picks away.
  const int answer =
      MessageBoxW(dialog, question, kDialogCaption, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
  asking = false;
  return answer == IDYES;
}

HICON loadProgramIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
  return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_NLCONF), IMAGE_ICON,
                                       GetSystemMetrics(widthMetric),
                                       GetSystemMetrics(heightMetric), LR_SHARED));
}

}  // namespace

HWND createMainDialog(HWND owner) {
  dialogOwner = owner;
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (instance == nullptr) {
    return failDialogCreation(L"GetModuleHandle failed.\r\nError: %ld");
  }
  smallIcon = loadProgramIcon(instance, SM_CXSMICON, SM_CYSMICON);
  if (smallIcon == nullptr) {
    return failDialogCreation(L"LoadImage failed.\r\nError: %ld");
  }
  largeIcon = loadProgramIcon(instance, SM_CXICON, SM_CYICON);
  if (largeIcon == nullptr) {
    return failDialogCreation(L"LoadImage failed.\r\nError: %ld");
  }
  arrowCursor = LoadCursorW(nullptr, IDC_ARROW);
  if (arrowCursor == nullptr) {
    return failDialogCreation(L"LoadCursor failed.\r\nError: %ld");
  }
  waitCursor = LoadCursorW(nullptr, IDC_WAIT);
  if (waitCursor == nullptr) {
    return failDialogCreation(L"LoadCursor failed.\r\nError: %ld");
  }
  buttonFaceColor = GetSysColor(COLOR_BTNFACE);
  buttonFaceBrush = CreateSolidBrush(buttonFaceColor);
  if (buttonFaceBrush == nullptr) {
    return failDialogCreation(L"CreateSolidBrush failed.\r\nError: %ld");
  }
  whiteColor = RGB(255, 255, 255);
  whiteBrush = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  if (whiteBrush == nullptr) {
    return failDialogCreation(L"GetStockObject failed.\r\nError: %ld");
  }
  const HWND dialog =
      CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), owner, mainDialogProc, 0);
  if (dialog == nullptr) {
    return failDialogCreation(L"CreateDialog failed.\r\nError: %ld");
  }
  ShowWindow(dialog, SW_SHOWNORMAL);
  return dialog;
}

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return initMainDialog(dialog);
    case WM_COMMAND:
      // An accelerator's command: 1 in the high word, no control.
      if (HIWORD(wParam) == 1 && lParam == 0 && runExtraCommand(dialog, LOWORD(wParam)))
        return TRUE;
      return onMainDialogCommand(dialog, wParam);
    case WM_SYSCOMMAND:
      return runExtraCommand(dialog, static_cast<UINT>(wParam & 0xFFF0)) ? TRUE : FALSE;
    case WM_DROPFILES:
      onDropFiles(reinterpret_cast<HDROP>(wParam));
      return TRUE;
    case MSG_LOAD_SETTINGS:
      loadStartupSettings();
      return TRUE;
    case MSG_DRAW_PANE:
    case MSG_CLEAR_PANE:
    case MSG_FILL_CHANNELS:
    case MSG_RESET_PROMPT:
    case MSG_SHOW_WARNING:
      return onPostedDisplay(message, wParam, lParam) ? TRUE : FALSE;
    case MSG_PAIR_STEP:
    case MSG_PAIR_PICKS:
      return onPostedPairUpdate(message, wParam) ? TRUE : FALSE;
    case WM_CTLCOLOREDIT:
      return reinterpret_cast<INT_PTR>(
          onCtlColorEdit(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<INT_PTR>(
          onCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_DEVICECHANGE:
      onDeviceChange(wParam, lParam);
      return TRUE;
    case WM_ENTERIDLE:
      // A verdict box has painted and waits for the user.
      if (wParam == MSGF_DIALOGBOX)
        catchUpLineLogIfDue();
      return FALSE;
    case WM_INITMENUPOPUP:
      // The system menu offers what the panes allow at the moment it opens.
      if (HIWORD(lParam))
        updateExtraCommands();
      return FALSE;
    case WM_VSCROLL:
    case WM_HSCROLL:
      // The dialog's own bars; a scroll bar control would name itself.
      if (lParam != 0)
        return FALSE;
      onMainDialogScroll(dialog, message == WM_VSCROLL ? SB_VERT : SB_HORZ, wParam);
      return TRUE;
    case WM_CLOSE:
      if (userAgreesToExit(dialog))
        destroyMainDialog(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}

void destroyMainDialog(HWND dialog) {
  destroyTerminalWindow();
  destroyRangeTestWindow();
  destroyLineLogWindow();
  releaseExtraCommands();
  if (dialog != nullptr) {
    DestroyWindow(dialog);
    mainDialog = nullptr;
  }
  releaseSharedObjects();
  closeDialogOwner();
}

void dispatchLoopMessage(MSG* message) {
  const bool taken = strayKey(message) || translateExtraKeys(message) ||
                     scrollMainDialogByWheel(message) ||
                     (IsWindow(loopDialog) && IsDialogMessageW(loopDialog, message)) ||
                     lineLogDialogMessage(message) || rangeTestDialogMessage(message) ||
                     terminalDialogMessage(message);
  if (!taken) {
    TranslateMessage(message);
    DispatchMessageW(message);
  }
  keepFocusInView(message);
}

bool sessionMayEnd() {
  const bool mayEnd = showSessionEndReason();
  if (anyOperationRunning()) {
    cancelRunningOperation();
    stopRangeTestRun();
  }
  keepSessionEndReason();
  return mayEnd;
}

void endingSession() {
  dialogClosing = true;
  cancelRunningOperation();
  stopRangeTestRun();
  waitForRunningOperation(kSessionEndWaitMs);
  destroyRangeTestWindow();
  destroyTerminalWindow();
}
