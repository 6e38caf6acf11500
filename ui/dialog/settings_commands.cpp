// The settings files on the main dialog: the standard file dialogs, the
// command line and dropped files, and the one-step replace of a saved file. What a file means is
// portable (module/settings_file.h); this side moves bytes and shows messages.
#include "ui/dialog/settings_commands.h"

#include <windows.h>
// After windows.h:
#include <commdlg.h>
#include <shellapi.h>

#include <new>

#include "module/settings_file.h"
#include "resources/resource_ids.h"
#include "ui/dialog/memory.h"
#include "ui/dialog/pair_commands.h"
#include "ui/dialog/pane_view.h"
#include "ui/dialog/session_status.h"
#include "ui/dialog/view_hooks.h"
#include "ui/shared/file_dialog.h"
#include "ui/shared/replace_file.h"
#include "ui/shared/shell_services.h"
#include "ui/shared/text_format.h"

namespace {

constexpr wchar_t kFilter[] = L"Settings (*.ini)\0*.ini\0All Files (*.*)\0*.*\0";

// Long enough to see as a wait, short enough not to look hung.
constexpr DWORD kFileAnswerMs = 3000;

PendingSettings pendingSettings;
wchar_t startupFile[kPathChars];
// The last session's profile rather than one the user named just now.
bool startupFileRemembered = false;

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
  return askFileName(mainDialog, path, kPathChars,
                     {.save = save,
                      .filter = kFilter,
                      .extension = L"ini",
                      .title = save ? L"Save Settings" : L"Load Settings",
                      .flags = save ? DWORD{OFN_OVERWRITEPROMPT} : DWORD{OFN_FILEMUSTEXIST}});
}

// "NLCONF - pair.ini" while a profile is loaded, "NLCONF" otherwise.
void showProfileInCaption(const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* p = path; p && *p; ++p) {
    if (*p == L'\\' || *p == L'/')
      name = p + 1;
  }
  wchar_t caption[300];
  if (name && name[0])
    formatBoundedText(caption, 300, L"NLCONF - %s", name);
  else
    lstrcpyW(caption, L"NLCONF");
  SetWindowTextW(mainDialog, caption);
}

}  // namespace

bool anyPaneHoldsValues() {
  return holdsModuleData(&paneAsShown(&masterPane)->module) ||
         holdsModuleData(&paneAsShown(&slavePane)->module);
}

void saveSettings() {
  // Made before the dialog: its modal loop still handles device changes,
  // which may empty a pane while it is open.
  static char text[8192];
  const size_t size =
      formatSettingsFile(&masterPane.module, &slavePane.module, text, sizeof text, loadedProfile());
  if (size == 0) {
    showError(L"There is nothing to save: no pane holds read values. Read a module first.");
    return;
  }
  static wchar_t path[kPathChars];
  if (!pickFile(true, path))
    return;
  const DWORD error = replaceFile(path, text, static_cast<DWORD>(size));
  if (error) {
    showSystemError(L"The settings could not be saved to %s:\r\n%s\r\nThe file there is as it was.",
                    path, error);
  }
}

namespace {

enum class ReadFault { None, Folder, NotAFile, OpenFailed, ReadFailed };

// One load's open and read, done on a thread of its own so that a path
// that does not answer (a network share, a device) cannot hold the dialog.
// Whoever of the two is last to let go frees it.
struct FileRead {
  LONG holders = 2;
  wchar_t path[kPathChars] = {};
  wchar_t fullPath[kPathChars] = {};
  ReadFault fault = ReadFault::None;
  DWORD error = 0;
  DWORD size = 0;
  // One byte beyond the limit, so that a longer file shows as longer.
  uint8_t bytes[kSettingsFileLimit + 1];
};

void release(FileRead* read) {
  if (InterlockedDecrement(&read->holders) == 0)
    delete read;
}

bool startsWith(const wchar_t* text, const wchar_t* start) {
  while (*start) {
    if (*text++ != *start++)
      return false;
  }
  return true;
}

// Refused before it is opened: opening a serial port raises its modem
// lines, and a device may never end a read.
bool namesADevice(const wchar_t* fullPath) {
  return startsWith(fullPath, L"\\\\.\\") || startsWith(fullPath, L"\\\\?\\GLOBALROOT");
}

void readWithin(FileRead* read) {
  const DWORD length = GetFullPathNameW(read->path, kPathChars, read->fullPath, nullptr);
  if (length == 0 || length >= kPathChars)
    lstrcpynW(read->fullPath, read->path, kPathChars);
  if (namesADevice(read->fullPath)) {
    read->fault = ReadFault::NotAFile;
    return;
  }
  const DWORD attributes = GetFileAttributesW(read->path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    read->fault = ReadFault::Folder;
    return;
  }
  HANDLE file = CreateFileW(read->path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    read->fault = ReadFault::OpenFailed;
    read->error = GetLastError();
    return;
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    read->fault = ReadFault::NotAFile;
    return;
  }
  DWORD total = 0, got = 0;
  BOOL ok = TRUE;
  while (total < sizeof read->bytes &&
         (ok = ReadFile(file, read->bytes + total, sizeof read->bytes - total, &got, nullptr)) &&
         got) {
    total += got;
  }
  if (!ok) {
    read->fault = ReadFault::ReadFailed;
    read->error = GetLastError();
  }
  CloseHandle(file);
  read->size = total;
}

DWORD WINAPI readThread(void* parameter) {
  auto* read = static_cast<FileRead*>(parameter);
  readWithin(read);
  release(read);
  return 0;
}

bool isRelative(const wchar_t* path) {
  const bool drive = ((path[0] | 0x20) >= L'a' && (path[0] | 0x20) <= L'z') && path[1] == L':' &&
                     (path[2] == L'\\' || path[2] == L'/');
  const bool root = path[0] == L'\\' || path[0] == L'/';
  return !drive && !root;
}

// The folder a relative name was looked for in: the full path without its
// last part.
void folderOf(const wchar_t* fullPath, wchar_t* folder) {
  lstrcpynW(folder, fullPath, kPathChars);
  wchar_t* cut = nullptr;
  for (wchar_t* p = folder; *p; ++p) {
    if (*p == L'\\' || *p == L'/')
      cut = p;
  }
  if (cut)
    cut[1] = 0;
}

// One message for a remembered profile that is not there: the user did not
// name it, so it says which file it was and that the session has none.
void reportRememberedFault(const FileRead& read) {
  if (read.fault == ReadFault::OpenFailed || read.fault == ReadFault::ReadFailed) {
    showSystemError(
        L"The remembered profile %s could not be opened:\r\n%s\r\nNLCONF starts without one.",
        read.path, read.error);
  } else {
    showError(L"The remembered profile %s is not a settings file: NLCONF starts without one.",
              read.path);
  }
}

void reportReadFault(const FileRead& read, bool remembered) {
  if (remembered)
    return reportRememberedFault(read);
  const wchar_t* path = read.path;
  switch (read.fault) {
    case ReadFault::Folder:
      showError(L"The settings file %s is a folder. Pick a settings file (.ini).", path);
      break;
    case ReadFault::NotAFile:
      showError(L"The settings file %s is not a file: a device or a pipe.", path);
      break;
    case ReadFault::OpenFailed:
      if (isRelative(path) &&
          (read.error == ERROR_FILE_NOT_FOUND || read.error == ERROR_PATH_NOT_FOUND)) {
        static wchar_t folder[kPathChars];
        folderOf(read.fullPath, folder);
        showError(L"The settings file %s is not in the folder %s.", path, folder);
      } else {
        showSystemError(L"The settings file %s could not be opened:\r\n%s", path, read.error);
      }
      break;
    default:
      showSystemError(L"The settings file %s could not be read:\r\n%s", path, read.error);
      break;
  }
}

// The file's bytes, or null after a message; the caller releases them.
FileRead* readFileBytes(const wchar_t* path, bool remembered) {
  auto* read = new (std::nothrow) FileRead;
  if (!read) {
    showError(L"There is not enough memory to load %s.", path);
    return nullptr;
  }
  lstrcpynW(read->path, path, kPathChars);
  const HCURSOR cursor = SetCursor(waitCursor);
  HANDLE thread = CreateThread(nullptr, 0, readThread, read, 0, nullptr);
  if (!thread) {
    readThread(read);  // the thread's hold goes here, ours below
  } else if (WaitForSingleObject(thread, kFileAnswerMs) != WAIT_OBJECT_0) {
    // The thread lets go of the record when the system gives up on the path.
    CloseHandle(thread);
    SetCursor(cursor);
    if (remembered)
      showError(
          L"The remembered profile %s did not answer in %u seconds: NLCONF starts without one.",
          path, unsigned(kFileAnswerMs / 1000));
    else
      showError(L"The settings file %s did not answer within %u seconds: nothing was loaded.", path,
                unsigned(kFileAnswerMs / 1000));
    release(read);
    return nullptr;
  } else {
    CloseHandle(thread);
  }
  SetCursor(cursor);
  if (read->fault != ReadFault::None) {
    reportReadFault(*read, remembered);
    release(read);
    return nullptr;
  }
  return read;
}

}  // namespace

void pickAndLoadSettings() {
  static wchar_t path[kPathChars];
  if (pickFile(false, path))
    loadSettingsFile(path);
}

namespace {

void loadSettingsFrom(const wchar_t* path, bool remembered) {
  FileRead* read = readFileBytes(path, remembered);
  if (!read)
    return;
  SettingsFile file;
  uint32_t line = 0;
  wchar_t message[kSettingsMessageChars];
  const bool parsed = parseSettingsFile(read->bytes, read->size, path, &file, &line, message);
  release(read);
  if (!parsed) {
    showError(L"%s", message);
    return;
  }
  const bool loaded =
      loadSettings(&masterPane.module, &slavePane.module, file, path, &pendingSettings, message);
  // What was applied shows as the user's picks would.
  for (PaneRecord* pane : {&masterPane, &slavePane}) {
    if (loaded && holdsModuleData(&pane->module))
      displayPane(pane);
  }
  if (loaded) {
    keepProfile(file, path);
    showProfileInCaption(loadedProfilePath());
    rememberText(kProfileValue, loadedProfilePath());
    showSessionStatus();
    if (file.pair.makePair)
      makePairCommand();
  }
  // Loaded with sections waiting is news, not a fault.
  if (loaded && message[0])
    showInfo(L"%s", message);
  else if (message[0])
    showError(L"%s", message);
}

}  // namespace

void loadSettingsFile(const wchar_t* path) {
  loadSettingsFrom(path, false);
}

void unloadProfile() {
  forgetProfile();
  pendingSettings = PendingSettings{};
  showProfileInCaption(L"");
  rememberText(kProfileValue, L"");
  showSessionStatus();
}

// What waits from the load comes first; after it, the profile at every Read.
void applyWaitingSettings(PaneRecord* pane) {
  wchar_t message[kSettingsMessageChars];
  PaneSettings& waiting = pane->module.isMaster ? pendingSettings.master : pendingSettings.slave;
  if (!waiting.present && loadedProfile())
    waiting = pane->module.isMaster ? loadedProfile()->master : loadedProfile()->slave;
  const bool applied = applyPendingSettings(&pane->module, &pendingSettings, message);
  if (holdsModuleData(&pane->module))
    displayPane(pane);
  if (!applied)
    showError(L"%s", message);
  if (loadedProfile() && loadedProfile()->pair.makePair)
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

namespace {

// The file to load once the dialog is up; remembered is true for the last
// session's profile, whose failure to load says so.
void rememberStartupSettingsFile(const wchar_t* path, bool remembered) {
  lstrcpynW(startupFile, path ? path : L"", kPathChars);
  startupFileRemembered = remembered;
}

}  // namespace

void rememberStartupArguments(const wchar_t* commandLine) {
  wchar_t record[kPathChars] = {};
  rememberedText(kRecordValue, record, kPathChars);
  // The profile of the last session, unless the command line names one.
  // Whether it is still there is for its load to find out, which a share
  // that does not answer cannot hold up.
  wchar_t profile[kPathChars] = {};
  bool remembered = rememberedText(kProfileValue, profile, kPathChars);
  int count = 0;
  wchar_t** arguments =
      commandLine && commandLine[0] ? CommandLineToArgvW(GetCommandLineW(), &count) : nullptr;
  for (int i = 1; arguments && i < count; ++i) {
    if (lstrcmpiW(arguments[i], L"--record") == 0 && i + 1 < count) {
      // Whole, so that a start from another folder appends to the same file.
      wholePath(arguments[++i], record);
      rememberText(kRecordValue, record);
    } else if (lstrlenW(arguments[i]) < static_cast<int>(kPathChars)) {
      // As typed: its load names the folder it was looked for in.
      lstrcpynW(profile, arguments[i], kPathChars);
      remembered = false;
    }
  }
  if (arguments)
    LocalFree(arguments);
  keepRecordIn(record);
  rememberStartupSettingsFile(profile, remembered);
}

void postStartupSettingsLoad(HWND dialog) {
  if (dialog && startupFile[0])
    PostMessageW(dialog, MSG_LOAD_SETTINGS, 0, 0);
}

void loadStartupSettings() {
  if (startupFile[0])
    loadSettingsFrom(startupFile, startupFileRemembered);
  startupFile[0] = 0;
}
