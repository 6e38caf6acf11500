// The main dialog's system menu entries and their Ctrl keys, kept together:
// one more command is one more line in the table and one more case.
#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include "app/shell.h"
#include "resources/resource_ids.h"
#include "ui/main_dialog.h"

namespace {

// The main dialog's commands beyond its buttons: an entry of its system
// menu and a key with Ctrl each.
struct MenuCommand {
  UINT id;
  const wchar_t* text;
  WORD key;
};
const MenuCommand kMenuCommands[] = {
    {IDM_SAVE_SETTINGS, L"Save Settings...\tCtrl+S", 'S'},
    {IDM_LOAD_SETTINGS, L"Load Settings...\tCtrl+O", 'O'},
};

}  // namespace

void addMenuCommands(HWND dialog) {
  HMENU menu = GetSystemMenu(dialog, FALSE);
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  for (const MenuCommand& command : kMenuCommands)
    AppendMenuW(menu, MF_STRING, command.id, command.text);
  DragAcceptFiles(dialog, TRUE);
}

HACCEL createMenuAccelerators() {
  ACCEL keys[sizeof kMenuCommands / sizeof kMenuCommands[0]];
  int count = 0;
  for (const MenuCommand& command : kMenuCommands)
    keys[count++] = ACCEL{FVIRTKEY | FCONTROL, command.key, static_cast<WORD>(command.id)};
  return CreateAcceleratorTableW(keys, count);
}

void updateMenuCommands() {
  if (!mainDialog)
    return;
  EnableMenuItem(GetSystemMenu(mainDialog, FALSE), IDM_SAVE_SETTINGS,
                 MF_BYCOMMAND | (anyPaneHoldsValues() ? MF_ENABLED : MF_GRAYED));
}

bool onMenuCommand(UINT id) {
  // Nothing starts while an operation or a message box holds the dialog.
  const bool idle = mainDialog && IsWindowEnabled(mainDialog);
  switch (id) {
    case IDM_SAVE_SETTINGS:
      if (idle)
        saveSettings();
      return true;
    case IDM_LOAD_SETTINGS:
      if (idle)
        pickAndLoadSettings();
      return true;
    default:
      return false;
  }
}
