#include "ui/main_dialog.h"

#include <initializer_list>

#include <shellapi.h>

#include "resources/resource_ids.h"
#include "ui/extra_commands.h"
#include "ui/shell_services.h"

HWND copyToSlaveButton = nullptr;
HWND copyToMasterButton = nullptr;
HWND linkTestButton = nullptr;
HWND setDefaultButton = nullptr;

namespace {

HWND asWindow(WindowHandle handle) {
  return static_cast<HWND>(handle);
}

void setFieldText(WindowHandle field, const wchar_t* text) {
  SetWindowTextW(asWindow(field), text);
  UpdateWindow(asWindow(field));
}

void clearSelection(WindowHandle combo) {
  selectComboEntry(combo, kNoSelection);
}

HWND takeDisabledButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  EnableWindow(button, FALSE);
  UpdateWindow(button);
  return button;
}

WindowHandle control(HWND dialog, int id) {
  return GetDlgItem(dialog, id);
}

WindowHandle choiceCombo(HWND dialog, int id, const ChoiceList& list) {
  HWND combo = GetDlgItem(dialog, id);
  fillChoiceList(combo, list.entries, list.count);
  return combo;
}

}  // namespace

BOOL initMainDialog(HWND dialog) {
  mainDialog = dialog;
  SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
  SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon));
  copyToSlaveButton = takeDisabledButton(dialog, IDC_COPY_TO_SLAVE);
  copyToMasterButton = takeDisabledButton(dialog, IDC_COPY_TO_MASTER);
  linkTestButton = takeDisabledButton(dialog, IDC_LINK_TEST);
  setDefaultButton = takeDisabledButton(dialog, IDC_SET_DEFAULT);
  // The pane's role decides its reset and its controls, so it comes first.
  masterPane.isMaster = 1;
  slavePane.isMaster = 0;
  resetPane(&masterPane);
  resetPane(&slavePane);
  setupPaneControls(dialog, &masterPane, IDC_MASTER_PORT);
  setupPaneControls(dialog, &slavePane, IDC_SLAVE_PORT);
  clearPaneDisplay(&masterPane);
  clearPaneDisplay(&slavePane);
  takeRememberedPorts();
  showSessionStatus();
  addExtraCommands(dialog);
  DragAcceptFiles(dialog, TRUE);
  applyButtonRules();
  fitMainDialog(dialog);
  return TRUE;
}

void setupPaneControls(HWND dialog, PaneRecord* pane, int paneBaseId) {
  const int b = paneBaseId;
  HWND portCombo = GetDlgItem(dialog, b);
  pane->portCombo = portCombo;
  refillPortList(portCombo);
  pane->readButton = control(dialog, b + 1);
  pane->writeButton = control(dialog, b + 2);
  pane->nodeIdField = control(dialog, b + 3);
  pane->panIdField = control(dialog, b + 4);
  pane->destHighField = control(dialog, b + 5);
  pane->destLowField = control(dialog, b + 6);
  pane->channelCombo = control(dialog, b + 7);
  fillChannelList(pane->channelCombo, pane->channelLimit);
  pane->baudCombo = choiceCombo(dialog, b + 8, baudChoices);
  pane->parityCombo = choiceCombo(dialog, b + 9, parityChoices);
  pane->stopBitsCombo = choiceCombo(dialog, b + 10, stopBitsChoices);
  pane->powerLevelCombo = choiceCombo(dialog, b + 11, powerLevelChoices);
  pane->boostModeCombo = choiceCombo(dialog, b + 12, boostModeChoices);
  int next = b + 13;
  if (!pane->isMaster) {
    pane->powerSaveCombo = choiceCombo(dialog, b + 13, powerSaveChoices);
    pane->sleepModeField = control(dialog, b + 14);
    next = b + 15;
  }
  pane->flowControlCombo = choiceCombo(dialog, next, flowControlChoices);
  pane->rtsField = control(dialog, next + 1);
  pane->ctsField = control(dialog, next + 2);
}

void fillChoiceList(HWND combo, const wchar_t* const* entries, int count) {
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  // Inserted at their own positions: a position is the module's code.
  for (int i = 0; i < count; ++i)
    SendMessageW(combo, CB_INSERTSTRING, static_cast<WPARAM>(i),
                 reinterpret_cast<LPARAM>(entries[i]));
  UpdateWindow(combo);
}

void fillChannelEntries(WindowHandle channelCombo, int32_t channelLimit) {
  fillChoiceList(asWindow(channelCombo), channelChoices.entries, channelEntryCount(channelLimit));
}

void clearPaneFields(PaneRecord* pane) {
  for (WindowHandle field :
       {pane->nodeIdField, pane->panIdField, pane->destHighField, pane->destLowField}) {
    setFieldText(field, L"");
  }
  for (WindowHandle combo : {pane->channelCombo, pane->baudCombo, pane->parityCombo,
                             pane->stopBitsCombo, pane->powerLevelCombo, pane->boostModeCombo}) {
    clearSelection(combo);
  }
  if (!pane->isMaster) {
    clearSelection(pane->powerSaveCombo);
    setFieldText(pane->sleepModeField, L"");
  }
  clearSelection(pane->flowControlCombo);
  setFieldText(pane->rtsField, L"");
  setFieldText(pane->ctsField, L"");
}
