#include "ui/dialog/commands.h"

#include <initializer_list>

#include "link/line_log.h"
#include "module/pair_run.h"
#include "module/read.h"
#include "module/write.h"
#include "resources/resource_ids.h"
#include "ui/dialog/link_test_command.h"
#include "ui/dialog/memory.h"
#include "ui/dialog/pane_operation.h"
#include "ui/dialog/pane_view.h"
#include "ui/dialog/rules.h"
#include "ui/dialog/settings_commands.h"
#include "ui/dialog/view_hooks.h"
#include "ui/shared/shell_services.h"
#include "ui/shared/window_handle.h"

namespace {

// The rules (ui/rules.h) decode Exit and Escape by their numbers.
static_assert(IDC_EXIT == IDOK && IDC_ESCAPE == IDCANCEL);

int32_t selectedPosition(WindowHandle combo) {
  return static_cast<int32_t>(SendMessageW(asWindow(combo), CB_GETCURSEL, 0, 0));
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
      displayLinkFields(&slavePane);
      break;
    case CommandKind::CopyToMaster:
      copyPaneSettings(&masterPane, &slavePane);
      displayLinkFields(&masterPane);
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
        logNote(&dialogLineLog, portNumberShown(command.pane), "Write: nothing to write.");
      else
        runPaneOperation(command.pane, writeBody, L"Writing parameters...", "Write");
      break;
    case CommandKind::Choice:
      onChoice(command);
      break;
  }
  return TRUE;
}
