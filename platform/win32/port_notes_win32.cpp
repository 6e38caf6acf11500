// Port notes on Windows: one small file per COM number in the user's
// temporary folder, replaced by a move so that a reader never finds half
// of one.
#include <windows.h>

#include <atomic>
#include <string>

#include "platform/os.h"

namespace os {

namespace {

bool noteFolder(std::wstring& folder) {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH)
    return false;
  folder.assign(temp, length);
  folder += L"nlconf-ports";
  return true;
}

// Never "COM<n>", with or without an extension: Windows takes that name in
// any folder for the serial device itself.
std::wstring notePath(const std::wstring& folder, uint32_t portNumber) {
  return folder + L"\\port" + std::to_wstring(portNumber) + L".note";
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
  // Shared every way: a move that replaces the note must not fail on a reader.
  HANDLE file = CreateFileW(notePath(folder, portNumber).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? NoteRead::Missing
                                                                          : NoteRead::Failed;
  }
  DWORD read = 0;
  const bool ok = GetFileType(file) == FILE_TYPE_DISK &&
                  ReadFile(file, bytes, capacity, &read, nullptr) != FALSE;
  CloseHandle(file);
  got = read;
  return ok ? NoteRead::Found : NoteRead::Failed;
}

bool writePortNote(uint32_t portNumber, const char* bytes, uint32_t count) {
  std::wstring folder;
  if (!noteFolder(folder))
    return false;
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    return false;
  const std::wstring path = notePath(folder, portNumber);
  // Threads of one process may replace one note at once: each writes its own first.
  static std::atomic<uint32_t> written{0};
  const std::wstring temporary = path + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
                                 std::to_wstring(written++) + L".new";
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  DWORD wrote = 0;
  const bool whole = WriteFile(file, bytes, count, &wrote, nullptr) != FALSE && wrote == count;
  const bool closed = CloseHandle(file) != FALSE;
  if (whole && closed &&
      MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE)
    return true;
  DeleteFileW(temporary.c_str());
  return false;
}

}  // namespace os
