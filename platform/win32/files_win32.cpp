// The file calls over kernel32: UTF-8 paths become UTF-16, whole, in the
// "\\?\" form when they are too long for the plain one.
#include <windows.h>

#include "platform/os.h"
#include "platform/reserved_names.h"

namespace os {

namespace {

constexpr DWORD kPathChars = 32768;

// The path as the file calls take it; false when it is no UTF-8, too long,
// or names a device ("\\.\COM5", "\\?\GLOBALROOT\...", "NUL").
bool widePath(const char* path, wchar_t* out, bool& device) {
  device = false;
  static thread_local wchar_t typed[kPathChars];
  if (!MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, typed, kPathChars))
    return false;
  if ((typed[0] == L'\\' || typed[0] == L'/') && (typed[1] == L'\\' || typed[1] == L'/') &&
      (typed[2] == L'.' || typed[2] == L'?') && (typed[3] == L'\\' || typed[3] == L'/')) {
    // "\\?\C:\..." is a file; "\\.\..." and "\\?\GLOBALROOT" are devices.
    const bool drive = typed[2] == L'?' && typed[4] && typed[5] == L':';
    const bool unc =
        typed[2] == L'?' && CompareStringOrdinal(typed + 4, 4, L"UNC\\", 4, TRUE) == CSTR_EQUAL;
    device = !(drive || unc);
    if (!device)
      lstrcpynW(out, typed, kPathChars);
    return true;
  }
  if (namesReservedDevice(typed)) {
    device = true;
    return true;
  }
  static thread_local wchar_t full[kPathChars];
  const DWORD length = GetFullPathNameW(typed, kPathChars, full, nullptr);
  if (length == 0 || length >= kPathChars - 8)
    return false;
  if (length < MAX_PATH - 12) {
    lstrcpynW(out, full, kPathChars);
  } else if (full[0] == L'\\' && full[1] == L'\\') {
    lstrcpyW(out, L"\\\\?\\UNC");
    lstrcpynW(out + 7, full + 1, kPathChars - 7);
  } else {
    lstrcpyW(out, L"\\\\?\\");
    lstrcpynW(out + 4, full, kPathChars - 4);
  }
  return true;
}

}  // namespace

FileKind pathKind(const char* path, uint32_t& error) {
  static thread_local wchar_t wide[kPathChars];
  bool device = false;
  error = 0;
  if (!widePath(path, wide, device)) {
    error = ERROR_INVALID_NAME;
    return FileKind::Missing;
  }
  if (device)
    return FileKind::Device;
  const DWORD attributes = GetFileAttributesW(wide);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = GetLastError();
    return FileKind::Missing;
  }
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? FileKind::Directory : FileKind::Regular;
}

Handle openFileToAppend(const char* path, bool create, uint32_t& error) {
  static thread_local wchar_t wide[kPathChars];
  bool device = false;
  if (!widePath(path, wide, device) || device) {
    error = device ? ERROR_BAD_FILE_TYPE : ERROR_INVALID_NAME;
    return nullptr;
  }
  // Windows opens no read-only file for writing; a file system that would
  // (Wine's, for root) must not add to a record its owner has closed.
  const DWORD attributes = GetFileAttributesW(wide);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end.
  HANDLE file = CreateFileW(wide, FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return nullptr;
  }
  error = 0;
  return file;
}

FileKind fileKind(Handle file) {
  switch (GetFileType(file)) {
    case FILE_TYPE_DISK:
      break;
    case FILE_TYPE_PIPE:
      return FileKind::Fifo;
    case FILE_TYPE_CHAR:
      return FileKind::Device;
    default:
      return FileKind::Other;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info))
    return FileKind::Missing;
  return info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? FileKind::Directory : FileKind::Regular;
}

bool fileSize(Handle file, uint64_t& size, uint32_t& error) {
  LARGE_INTEGER s{};
  if (!GetFileSizeEx(file, &s)) {
    error = GetLastError();
    return false;
  }
  size = static_cast<uint64_t>(s.QuadPart);
  return true;
}

bool readFileAt(Handle file, uint64_t offset, void* bytes, uint32_t count, uint32_t& got,
                uint32_t& error) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD n = 0;
  got = 0;
  if (!ReadFile(file, bytes, count, &n, &at) && GetLastError() != ERROR_HANDLE_EOF) {
    error = GetLastError();
    return false;
  }
  got = n;
  return true;
}

bool appendToFile(Handle file, const void* bytes, uint32_t count, uint32_t& error) {
  DWORD written = 0;
  if (!WriteFile(file, bytes, count, &written, nullptr)) {
    error = GetLastError();
    return false;
  }
  if (written != count) {
    error = ERROR_WRITE_FAULT;
    return false;
  }
  return true;
}

bool flushFile(Handle file, uint32_t& error) {
  if (FlushFileBuffers(file))
    return true;
  error = GetLastError();
  return false;
}

LockResult lockFile(Handle file, uint32_t limitMs, uint32_t& error) {
  for (uint32_t waited = 0;; waited += 5) {
    OVERLAPPED whole{};
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                   &whole)) {
      return LockResult::Locked;
    }
    error = GetLastError();
    if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING)
      return LockResult::Failed;
    if (waited >= limitMs)
      return LockResult::Busy;
    Sleep(5);
  }
}

bool unlockFile(Handle file) {
  OVERLAPPED whole{};
  return UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole) != 0;
}

bool closeFile(Handle file) {
  return file && CloseHandle(file) != 0;
}

namespace {

size_t utf8Of(const wchar_t* text, char* out, size_t capacity) {
  if (!capacity)
    return 0;
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, out, static_cast<int>(capacity), nullptr, nullptr);
  if (n <= 0) {
    out[0] = 0;
    return 0;
  }
  return static_cast<size_t>(n - 1);
}

}  // namespace

size_t computerName(char* out, size_t capacity) {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  return utf8Of(GetComputerNameW(name, &length) ? name : L"", out, capacity);
}

size_t userName(char* out, size_t capacity) {
  wchar_t name[257] = {};
  DWORD length = 257;
  return utf8Of(GetUserNameW(name, &length) ? name : L"", out, capacity);
}

size_t systemErrorText(uint32_t error, char* out, size_t capacity) {
  if (!capacity)
    return 0;
  out[0] = 0;
  wchar_t text[512];
  DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, 512, nullptr);
  while (length && (text[length - 1] == L'.' || text[length - 1] == L'\n' ||
                    text[length - 1] == L'\r' || text[length - 1] == L' ')) {
    --length;
  }
  if (length == 0)
    return 0;
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out,
                                    static_cast<int>(capacity - 1), nullptr, nullptr);
  out[n > 0 ? n : 0] = 0;
  return n > 0 ? static_cast<size_t>(n) : 0;
}

}  // namespace os
