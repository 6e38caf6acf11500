// The settings files on the main dialog: the standard file dialogs, the
// command line and dropped files, and the one-step replace of a saved file. What a file means is
// portable (module/settings_file.h); this side moves bytes and shows messages.
#include <windows.h>
// After windows.h:
#include <commdlg.h>
#include <shellapi.h>

#include "app/shell.h"
#include "module/settings_file.h"
#include "resources/resource_ids.h"
#include "ui/main_dialog.h"

namespace {

constexpr DWORD kPathChars = 4096;
constexpr wchar_t kFilter[] = L"Settings (*.ini)\0*.ini\0All Files (*.*)\0*.*\0";

PendingSettings pendingSettings;
// The last file loaded stays the profile until another or Unload Settings.
SettingsFile profile;
bool profileLoaded = false;
wchar_t startupFile[kPathChars];
// One byte beyond the limit, so that a longer file shows as longer.
uint8_t fileBytes[kSettingsFileLimit + 1];

// The system's words for an error; the number alone when it has none.
void showSystemError(const wchar_t* format, const wchar_t* path, DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text),
      0, nullptr);
  wchar_t number[32];
  wsprintfW(number, L"Error %lu.", error);
  showError(format, path, length && text ? text : number);
  if (text)
    LocalFree(text);
}

bool pickFile(bool save, wchar_t* path) {
  path[0] = 0;
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = mainDialog;
  dialog.lpstrFilter = kFilter;
  dialog.lpstrFile = path;
  dialog.nMaxFile = kPathChars;
  dialog.lpstrDefExt = L"ini";
  dialog.lpstrTitle = save ? L"Save Settings" : L"Load Settings";
  dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY |
                 (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
  const BOOL picked = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
  if (!picked && CommDlgExtendedError() != 0)
    showError(L"The file dialog could not be shown (error %lu).", CommDlgExtendedError());
  return picked != FALSE;
}

}  // namespace

bool anyPaneHoldsValues() {
  return holdsModuleData(&masterPane) || holdsModuleData(&slavePane);
}

void saveSettings() {
  if (!anyPaneHoldsValues())
    return;
  static wchar_t path[kPathChars];
  if (!pickFile(true, path))
    return;
  static char text[8192];
  const size_t size = formatSettingsFile(&masterPane, &slavePane, text, sizeof text);
  if (size == 0)
    return;
  const DWORD error = replaceFile(path, text, static_cast<DWORD>(size));
  if (error) {
    showSystemError(L"The settings could not be saved to %s:\r\n%s\r\nThe file there is as it was.",
                    path, error);
  }
}

// Up to one byte beyond the limit; the parse says what is too much.
bool readFileBytes(const wchar_t* path, DWORD* size) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    showSystemError(L"The settings file %s could not be opened:\r\n%s", path, GetLastError());
    return false;
  }
  DWORD total = 0, got = 0;
  BOOL ok = TRUE;
  while (total < sizeof fileBytes &&
         (ok = ReadFile(file, fileBytes + total, sizeof fileBytes - total, &got, nullptr)) && got) {
    total += got;
  }
  const DWORD error = ok ? 0 : GetLastError();
  CloseHandle(file);
  if (error) {
    showSystemError(L"The settings file %s could not be read:\r\n%s", path, error);
    return false;
  }
  *size = total;
  return true;
}

void pickAndLoadSettings() {
  static wchar_t path[kPathChars];
  if (pickFile(false, path))
    loadSettingsFile(path);
}

void loadSettingsFile(const wchar_t* path) {
  DWORD size = 0;
  if (!readFileBytes(path, &size))
    return;
  SettingsFile file;
  uint32_t line = 0;
  wchar_t message[kSettingsMessageChars];
  if (!parseSettingsFile(fileBytes, size, path, &file, &line, message)) {
    showError(L"%s", message);
    return;
  }
  const bool loaded = loadSettings(file, path, &pendingSettings, message);
  if (loaded) {
    profile = file;
    profileLoaded = true;
    showProfileInCaption(path);
    rememberText(L"Profile", path);
    if (file.pair.makePair)
      makePairCommand();
  }
  if (message[0])
    showError(L"%s", message);
}

const SettingsFile* loadedProfile() {
  return profileLoaded ? &profile : nullptr;
}

void unloadProfile() {
  profileLoaded = false;
  pendingSettings = PendingSettings{};
  showProfileInCaption(L"");
  rememberText(L"Profile", L"");
}

// What waits from the load comes first; after it, the profile at every Read.
void applyWaitingSettings(PaneRecord* pane) {
  wchar_t message[kSettingsMessageChars];
  PaneSettings& waiting = pane->isMaster ? pendingSettings.master : pendingSettings.slave;
  if (!waiting.present && profileLoaded)
    waiting = pane->isMaster ? profile.master : profile.slave;
  if (!applyPendingSettings(pane, &pendingSettings, message))
    showError(L"%s", message);
  if (profileLoaded && profile.pair.makePair)
    makePairCommand();
}

void onDropFiles(HDROP drop) {
  static wchar_t path[kPathChars];
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  const UINT length = count == 1 ? DragQueryFileW(drop, 0, path, kPathChars) : 0;
  DragFinish(drop);
  if (!mainDialog || !IsWindowEnabled(mainDialog))
    return;
  if (count != 1)
    showError(L"Drop one settings file at a time.");
  else if (length > 0 && length < kPathChars - 1)
    loadSettingsFile(path);
}

void rememberStartupSettingsFile(const wchar_t* commandLine) {
  const wchar_t* p = commandLine ? commandLine : L"";
  while (*p == L' ' || *p == L'\t')
    ++p;
  const bool quoted = *p == L'"';
  p += quoted ? 1 : 0;
  DWORD n = 0;
  while (p[n] && (quoted ? p[n] != L'"' : true) && n + 1 < kPathChars) {
    startupFile[n] = p[n];
    ++n;
  }
  while (!quoted && n && (startupFile[n - 1] == L' ' || startupFile[n - 1] == L'\t'))
    --n;
  startupFile[n] = 0;
}

void postStartupSettingsLoad(HWND dialog) {
  if (dialog && startupFile[0])
    PostMessageW(dialog, MSG_LOAD_SETTINGS, 0, 0);
}

void loadStartupSettings() {
  if (startupFile[0])
    loadSettingsFile(startupFile);
  startupFile[0] = 0;
}
