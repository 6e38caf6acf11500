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

void fillChoiceList(HWND combo, const wchar_t* const* entries, int count) {
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  // Inserted at their own positions: a position is the module's code.
  for (int i = 0; i < count; ++i)
    SendMessageW(combo, CB_INSERTSTRING, static_cast<WPARAM>(i),
                 reinterpret_cast<LPARAM>(entries[i]));
  UpdateWindow(combo);
}

void fillChannelEntries(WindowHandle channelCombo, int32_t channelLimit) {
  fillChoiceList(asWindow(channelCombo), settingInfo(Setting::Channel).choices->entries,
                 channelEntryCount(channelLimit));
}

void clearPaneFields(PaneRecord* pane) {
  setFieldText(pane->nodeIdField, L"");
  for (Setting s : kAllSettings) {
    WindowHandle control = controlOf(pane, s);
    if (!control)
      continue;
    if (settingInfo(s).choices)
      clearSelection(control);
    else
      setFieldText(control, L"");
  }
}
