// Port notes on Windows: one small file per COM number in the machine's
// program data, where every process finds it whatever its user. A note may
// be another user's, which we may write but not replace: every note is
// updated in place under a lock that every reader takes too, so that no
// reader finds half of one.
#include <windows.h>

#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <string>

#include "platform/os.h"

namespace os {

namespace {

bool noteFolder(std::wstring& folder) {
  PWSTR data = nullptr;
  const bool found = SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &data));
  if (found)
    folder = std::wstring(data) + L"\\NLCONF";
  CoTaskMemFree(data);
  return found;
}

// Read and written by every user of the machine; nobody but the system and
// the administrators takes a note away.
bool makeFolder(const std::wstring& folder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1201bf;;;BU)", SDDL_REVISION_1,
          &descriptor, nullptr))
    return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const bool made = CreateDirectoryW(folder.c_str(), &attributes) != FALSE ||
                    GetLastError() == ERROR_ALREADY_EXISTS;
  LocalFree(descriptor);
  return made;
}

// Never "COM<n>", with or without an extension: Windows takes that name in
// any folder for the serial device itself.
std::wstring notePath(const std::wstring& folder, uint32_t portNumber) {
  return folder + L"\\port" + std::to_wstring(portNumber) + L".note";
}

// Held only for a write or a read of a few bytes; a lock that stays is
// given up on after a moment rather than waited for.
bool lockNote(HANDLE file, DWORD how) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    OVERLAPPED whole{};
    if (LockFileEx(file, how | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole))
      return true;
    if (GetLastError() != ERROR_LOCK_VIOLATION)
      return false;
    Sleep(2);
  }
  return false;
}

void unlockNote(HANDLE file) {
  OVERLAPPED whole{};
  UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
}

// A note and nothing else: one small file on a disk.
bool isNote(HANDLE file) {
  LARGE_INTEGER size{};
  return GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) && size.QuadPart <= 4096;
}

HANDLE openNote(const std::wstring& path, DWORD access, DWORD disposition) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                     nullptr);
}

}  // namespace

uint64_t bootClockMs() {
  return GetTickCount64();
}

NoteRead readPortNote(uint32_t portNumber, char* bytes, uint32_t capacity, uint32_t& got) {
  got = 0;
  std::wstring folder;
  if (!noteFolder(folder))
    return NoteRead::Failed;
  HANDLE file = openNote(notePath(folder, portNumber), GENERIC_READ, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? NoteRead::Missing
                                                                          : NoteRead::Failed;
  }
  DWORD read = 0;
  bool ok = isNote(file) && lockNote(file, 0);
  if (ok) {
    ok = ReadFile(file, bytes, capacity, &read, nullptr) != FALSE;
    unlockNote(file);
  }
  CloseHandle(file);
  got = read;
  return ok ? NoteRead::Found : NoteRead::Failed;
}

bool writePortNote(uint32_t portNumber, const char* bytes, uint32_t count) {
  std::wstring folder;
  if (!noteFolder(folder) || !makeFolder(folder))
    return false;
  HANDLE file = openNote(notePath(folder, portNumber), GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  bool written = isNote(file) && lockNote(file, LOCKFILE_EXCLUSIVE_LOCK);
  if (written) {
    DWORD wrote = 0;
    written = WriteFile(file, bytes, count, &wrote, nullptr) != FALSE && wrote == count &&
              SetEndOfFile(file) != FALSE;
    unlockNote(file);
  }
  return CloseHandle(file) != FALSE && written;
}

}  // namespace os
