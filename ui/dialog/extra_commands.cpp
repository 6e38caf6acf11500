#include "ui/dialog/extra_commands.h"

#include "resources/resource_ids.h"
#include "ui/dialog/pair_commands.h"
#include "ui/dialog/pair_record_file.h"
#include "ui/dialog/session_status.h"
#include "ui/dialog/settings_commands.h"
#include "ui/line_log/line_log_window.h"
#include "ui/range_test/range_test_window.h"
#include "ui/terminal/terminal_window.h"

namespace {

struct ExtraCommand {
  UINT id;
  const wchar_t* menuText;
  WORD key;  // 0: none
  BYTE keyFlags;
  void (*run)(HWND dialog);
  // Nothing that changes the panes starts while an operation or a message
  // box holds the dialog; looking at the log does.
  bool needsIdleDialog;
};

void runSaveSettings(HWND) {
  saveSettings();
}

void runLoadSettings(HWND) {
  pickAndLoadSettings();
}

void runMakePair(HWND) {
  makePairCommand();
}

void runRunPair(HWND) {
  runPairCommand();
}

void runUnloadSettings(HWND) {
  unloadProfile();
  updateExtraCommands();
}

void runRecordTo(HWND) {
  pickRecordFile();
}

constexpr BYTE kCtrl = FCONTROL | FVIRTKEY;

constexpr ExtraCommand kExtraCommands[] = {
    {IDM_SAVE_SETTINGS, L"Save Settings...\tCtrl+S", 'S', kCtrl, runSaveSettings, true},
    {IDM_LOAD_SETTINGS, L"Load Settings...\tCtrl+O", 'O', kCtrl, runLoadSettings, true},
    {IDM_UNLOAD_SETTINGS, L"Unload Settings", 0, 0, runUnloadSettings, true},
    {IDM_MAKE_PAIR, L"Make Pair", 0, 0, runMakePair, true},
    {IDM_RUN_PAIR, L"Run Pair\tF5", VK_F5, FVIRTKEY, runRunPair, true},
    {IDM_RECORD_TO, L"Record To...", 0, 0, runRecordTo, true},
    {IDM_LINE_LOG, L"Line Log...\tCtrl+L", 'L', kCtrl, showLineLogWindow, false},
    // Its window holds the dialog itself while a test runs.
    {IDM_RANGE_TEST, L"Range Test...\tCtrl+R", 'R', kCtrl, showRangeTestWindow, false},
    {IDM_TERMINAL, L"Terminal...\tCtrl+T", 'T', kCtrl, showTerminalWindow, true},
};
constexpr int kExtraCount = sizeof kExtraCommands / sizeof kExtraCommands[0];

HACCEL extraKeys = nullptr;
HWND keysTarget = nullptr;
HHOOK modalKeys = nullptr;

bool isKeyMessage(UINT message) {
  return message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
}

// The keys of the commands that need no idle dialog, for the modal loops
// (an operation's progress, a message box) where the accelerators are not
// translated.
bool runUnheldKey(const MSG* message) {
  if (message->message != WM_KEYDOWN || GetKeyState(VK_CONTROL) >= 0 || GetKeyState(VK_MENU) < 0)
    return false;
  for (const ExtraCommand& c : kExtraCommands) {
    if (!c.needsIdleDialog && c.key == message->wParam) {
      c.run(keysTarget);
      return true;
    }
  }
  return false;
}

// Dialog boxes' modal loops pass each message here first (MSGF_DIALOGBOX),
// and so does IsDialogMessageW: the main loop's own calls go through, as do
// the ones made from here.
LRESULT CALLBACK modalKeysHook(int code, WPARAM wParam, LPARAM lParam) {
  static bool inside = false;
  if (code == MSGF_DIALOGBOX && !inside && keysTarget && IsWindow(keysTarget) &&
      !IsWindowEnabled(keysTarget)) {
    inside = true;
    MSG* message = reinterpret_cast<MSG*>(lParam);
    // The log window is no dialog of that loop: its keys go to it from here.
    const bool taken = translateLineLogKeys(message) || translateRangeTestKeys(message) ||
                       runUnheldKey(message) || lineLogDialogMessage(message) ||
                       rangeTestDialogMessage(message);
    inside = false;
    if (taken)
      return 1;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void addExtraCommands(HWND dialog) {
  keysTarget = dialog;
  HMENU menu = GetSystemMenu(dialog, FALSE);
  if (menu) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    for (const ExtraCommand& c : kExtraCommands)
      AppendMenuW(menu, MF_STRING, c.id, c.menuText);
  }
  if (!modalKeys)
    modalKeys = SetWindowsHookExW(WH_MSGFILTER, modalKeysHook, nullptr, GetCurrentThreadId());
  if (extraKeys)
    return;
  ACCEL keys[kExtraCount];
  int count = 0;
  for (const ExtraCommand& c : kExtraCommands) {
    if (c.key)
      keys[count++] = ACCEL{c.keyFlags, c.key, static_cast<WORD>(c.id)};
  }
  extraKeys = CreateAcceleratorTableW(keys, count);
}

void updateExtraCommands() {
  if (!keysTarget || !IsWindow(keysTarget))
    return;
  HMENU menu = GetSystemMenu(keysTarget, FALSE);
  const auto offer = [menu](UINT id, bool offered) {
    EnableMenuItem(menu, id, MF_BYCOMMAND | (offered ? MF_ENABLED : MF_GRAYED));
  };
  offer(IDM_SAVE_SETTINGS, anyPaneHoldsValues());
  offer(IDM_UNLOAD_SETTINGS, loadedProfile() != nullptr);
  offer(IDM_MAKE_PAIR, makePairOffered());
  offer(IDM_RUN_PAIR, runPairOffered());
  updateRangeTestWindow();
}

bool translateExtraKeys(MSG* message) {
  if (translateLineLogKeys(message) || translateRangeTestKeys(message))
    return true;
  if (!extraKeys || !keysTarget || !IsWindow(keysTarget) || !isKeyMessage(message->message))
    return false;
  // A range test holds the dialog from this loop: the keys that need no
  // idle dialog still work.
  if (!IsWindowEnabled(keysTarget))
    return runUnheldKey(message);
  // Every window of the loop's thread is the program's: the keys work in
  // the main dialog and in the windows beside it alike.
  return TranslateAcceleratorW(keysTarget, extraKeys, message) != 0;
}

bool runExtraCommand(HWND dialog, UINT id) {
  for (const ExtraCommand& c : kExtraCommands) {
    if (c.id == id) {
      if (!c.needsIdleDialog || IsWindowEnabled(dialog))
        c.run(dialog);
      return true;
    }
  }
  return false;
}

void releaseExtraCommands() {
  if (modalKeys) {
    UnhookWindowsHookEx(modalKeys);
    modalKeys = nullptr;
  }
  if (extraKeys) {
    DestroyAcceleratorTable(extraKeys);
    extraKeys = nullptr;
  }
  keysTarget = nullptr;
}
