#include "ui/main_dialog.h"

#include <initializer_list>

#include "link/line_log.h"
#include "module/pair_run.h"
#include "module/read.h"
#include "module/write.h"
#include "resources/resource_ids.h"
#include "runner/runner.h"
#include "ui/extra_commands.h"
#include "ui/shell_services.h"

namespace {

HWND asWindow(WindowHandle handle) {
  return static_cast<HWND>(handle);
}

// The colour is in the record before the text changes, so the repaint that
// the change causes asks for the new one.
void showText(WindowHandle field, const wchar_t* text) {
  SetWindowTextW(asWindow(field), text ? text : L"");
  UpdateWindow(asWindow(field));
}

// Hexadecimal fields as the module answers them: the PAN ID without
// leading zeros, the destination's halves with all eight digits.
void showHexField(WindowHandle control, Setting setting, uint64_t value) {
  wchar_t text[kDisplayTextChars];
  if (hasFlag(setting, kAllDigits))
    formatAddressHalfText(static_cast<uint32_t>(value), text, kDisplayTextChars);
  else
    formatPanIdText(value, text, kDisplayTextChars);
  showText(control, text);
}

// Its colour, then its value: a list's entry, hexadecimal digits, or a mode
// register's text. A list the rules lock is not offered.
void showSetting(PaneRecord* pane, Setting setting) {
  WindowHandle control = controlOf(pane, setting);
  if (!control)
    return;
  recolorField(pane, setting);
  const uint64_t value = pane->module.shown[setting];
  if (settingInfo(setting).choices) {
    enableControl(control, choiceOffered(pane->module, setting));
    selectComboEntry(control, listPosition(setting, value));
  } else if (hasFlag(setting, kHexField)) {
    showHexField(control, setting, value);
  } else {
    showText(control, shownText(pane->module, setting));
  }
}

void setButton(WindowHandle button, bool enabled) {
  EnableWindow(asWindow(button), enabled ? TRUE : FALSE);
  UpdateWindow(asWindow(button));
}

int32_t portCount(WindowHandle combo) {
  const LRESULT count = SendMessageW(asWindow(combo), CB_GETCOUNT, 0, 0);
  return count > 0 ? static_cast<int32_t>(count) : 0;
}

int32_t selectedPosition(WindowHandle combo) {
  return static_cast<int32_t>(SendMessageW(asWindow(combo), CB_GETCURSEL, 0, 0));
}

// The pane a control of the main dialog belongs to; null for the others.
PaneRecord* paneOfControl(HWND control) {
  if (!control || GetParent(control) != mainDialog)
    return nullptr;
  const int id = GetDlgCtrlID(control);
  if (id >= IDC_MASTER_PORT && id < IDC_MASTER_PORT + 100)
    return &masterPane;
  if (id >= IDC_SLAVE_PORT && id < IDC_SLAVE_PORT + 100)
    return &slavePane;
  return nullptr;
}

int32_t runPaneOperation(PaneRecord* pane, WorkerBody body, const wchar_t* progressText,
                         const char* operation) {
  pane->workerBody = body;
  pane->progressText = progressText;
  return runOperation(mainDialog, pane, operation);
}

void setDefaultsOfPanesWithData() {
  for (PaneRecord* pane : {&masterPane, &slavePane}) {
    if (holdsModuleData(&pane->module)) {
      setDefaults(&pane->module);
      displayPane(pane);
    }
  }
}

// The pick's rules may change other fields of the pane: all are drawn again.
void onChoice(const Command& command) {
  PaneRecord* pane = command.pane;
  storeChoice(pane, command.setting, selectedPosition(controlOf(pane, command.setting)));
  displaySettings(pane);
}

HBRUSH colorField(HDC dc, COLORREF color, COLORREF background, HBRUSH brush) {
  SetTextColor(dc, color);
  SetBkColor(dc, background);
  return brush;
}

// The enabled push button of the dialog, other than Exit, that has the
// focus; 0 when there is none.
int focusedPushButton(HWND dialog) {
  HWND focus = GetFocus();
  if (!focus || GetParent(focus) != dialog || !IsWindowEnabled(focus))
    return 0;
  const LRESULT code = SendMessageW(focus, WM_GETDLGCODE, 0, 0);
  if (!(code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)))
    return 0;
  const int id = GetDlgCtrlID(focus);
  return id == IDOK ? 0 : id;
}

}  // namespace

INT_PTR onMainDialogCommand(HWND dialog, WPARAM wParam) {
  if (HIWORD(wParam) == CBN_SELCHANGE &&
      (LOWORD(wParam) == IDC_MASTER_PORT || LOWORD(wParam) == IDC_SLAVE_PORT)) {
    rememberPortPick(LOWORD(wParam) == IDC_MASTER_PORT ? &masterPane : &slavePane);
  }
  const Command command = decodeCommand(static_cast<uint64_t>(wParam));
  switch (command.kind) {
    case CommandKind::Ignored:
      return FALSE;
    case CommandKind::Close:
      // Enter presses the push button that has the focus, as Windows does
      // for the button it has made the default; Wine does not for a button
      // focused by a click, and sends Exit's command instead.
      if (wParam == IDOK) {
        if (const int button = focusedPushButton(dialog))
          return onMainDialogCommand(dialog, static_cast<WPARAM>(button));
      }
      PostMessageW(dialog, WM_CLOSE, 0, 0);
      break;
    case CommandKind::CopyToSlave:
      copyPaneSettings(&slavePane, &masterPane);
      displaySettings(&slavePane);
      break;
    case CommandKind::CopyToMaster:
      copyPaneSettings(&masterPane, &slavePane);
      displaySettings(&masterPane);
      break;
    case CommandKind::SetDefault:
      setDefaultsOfPanesWithData();
      break;
    case CommandKind::LinkTest:
      runLinkTest();
      break;
    case CommandKind::Read:
      if (runPaneOperation(command.pane, readBody, L"Reading parameters...", "Read") == 0)
        applyWaitingSettings(command.pane);
      break;
    case CommandKind::Write:
      // Nothing to store: the module is not even asked into command mode.
      if (!showsChanges(&command.pane->module))
        logNote(portNumberShown(command.pane), "Write: nothing to write.");
      else
        runPaneOperation(command.pane, writeBody, L"Writing parameters...", "Write");
      break;
    case CommandKind::Choice:
      onChoice(command);
      break;
  }
  return TRUE;
}

void drawPane(PaneRecord* pane) {
  SetWindowTextA(asWindow(pane->nodeIdField), pane->module.nodeId);
  UpdateWindow(asWindow(pane->nodeIdField));
  displaySettings(pane);
}

void displaySettings(PaneRecord* pane) {
  for (Setting s : kAllSettings)
    showSetting(pane, s);
}

void applyButtonRules() {
  PaneRecord* focusPane = paneOfControl(GetFocus());
  const ButtonStates s =
      buttonStates(paneAsShown(&masterPane), paneAsShown(&slavePane),
                   portCount(masterPane.portCombo), portCount(slavePane.portCombo));
  setButton(masterPane.readButton, s.masterRead);
  setButton(masterPane.writeButton, s.masterWrite);
  setButton(slavePane.readButton, s.slaveRead);
  setButton(slavePane.writeButton, s.slaveWrite);
  setButton(copyToSlaveButton, s.copyToSlave);
  setButton(copyToMasterButton, s.copyToMaster);
  setButton(linkTestButton, s.linkTest);
  setButton(setDefaultButton, s.setDefault);
  updateExtraCommands();
  keepKeyboardFocus(focusPane ? focusPane : &masterPane);
}

void keepKeyboardFocus(PaneRecord* pane) {
  // Off the GUI thread (a worker's display) or behind another window
  // (a message box, the progress dialog) there is nothing to keep.
  if (!pane || !mainDialog || GetActiveWindow() != mainDialog)
    return;
  HWND focus = GetFocus();
  if (focus && focus != mainDialog && IsWindowEnabled(focus))
    return;
  HWND read = asWindow(pane->readButton);
  HWND target = IsWindowEnabled(read) ? read : asWindow(pane->portCombo);
  // Not WM_NEXTDLGCTL: that would also make Read the default button, and
  // Enter on a combo box would then start a Read over unwritten values.
  SetFocus(target);
}

HWND focusToGiveBack() {
  HWND focus = GetFocus();
  return focus && (focus == mainDialog || IsChild(mainDialog, focus)) ? focus : nullptr;
}

void giveFocusBack(HWND control) {
  if (!mainDialog || GetActiveWindow() != mainDialog)
    return;
  // Enter on a Write button would write to its module: its pane's Read
  // takes the focus instead.
  for (PaneRecord* pane : {&masterPane, &slavePane}) {
    if (control && control == asWindow(pane->writeButton))
      control = asWindow(pane->readButton);
  }
  if (control && IsWindow(control) && IsWindowEnabled(control) && IsWindowVisible(control) &&
      control != mainDialog)
    SetFocus(control);
  keepKeyboardFocus(&masterPane);
}

HBRUSH onCtlColorStatic(HDC dc, HWND control) {
  ColorRef color = kColorBlack;
  if (staticFieldColor(paneAsShown(&masterPane), control, &color) ||
      staticFieldColor(paneAsShown(&slavePane), control, &color)) {
    return colorField(dc, color, buttonFaceColor, buttonFaceBrush);
  }
  return nullptr;
}

HBRUSH onCtlColorEdit(HDC dc, HWND control) {
  ColorRef color = kColorBlack;
  if (comboFieldColor(paneAsShown(&masterPane), control, &color) ||
      comboFieldColor(paneAsShown(&slavePane), control, &color)) {
    return colorField(dc, color, whiteColor, whiteBrush);
  }
  return nullptr;
}
