#include "platform/file_kind.h"

#include <windows.h>
// After windows.h, which it needs.
#include <fcntl.h>
#include <io.h>

#include <string>

namespace os {

namespace {

constexpr DWORD kPathChars = 32768;

std::wstring widened(const char* utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  if (n <= 0)
    return {};
  std::wstring text(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text.data(), n);
  text.resize(static_cast<size_t>(n - 1));
  return text;
}

bool startsWith(const std::wstring& text, const wchar_t* start) {
  return text.compare(0, std::wcslen(start), start) == 0;
}

// The full path of "COM5", "NUL" or "LPT1" is "\\.\COM5": the device
// namespace, as are "\\?\" names other than a drive's or a share's.
bool namesADevice(const std::wstring& name) {
  std::wstring full(kPathChars, L'\0');
  const DWORD length = GetFullPathNameW(name.c_str(), kPathChars, full.data(), nullptr);
  if (length > 0 && length < kPathChars)
    full.resize(length);
  else
    full = name;
  if (startsWith(full, L"\\\\.\\"))
    return true;
  if (!startsWith(full, L"\\\\?\\"))
    return false;
  const bool drive = full.size() >= 7 && full[5] == L':' && (full[6] == L'\\' || full[6] == L'/');
  return !drive && !startsWith(full, L"\\\\?\\UNC\\");
}

FileKind kindOfHandle(HANDLE file) {
  switch (GetFileType(file)) {
    case FILE_TYPE_DISK:
      return FileKind::Regular;
    case FILE_TYPE_PIPE:
      return FileKind::Fifo;
    case FILE_TYPE_CHAR:
      return FileKind::Device;
    default:
      return FileKind::Other;
  }
}

void setFound(FileKind* found, FileKind kind) {
  if (found)
    *found = kind;
}

}  // namespace

FileKind fileKindOf(const char* utf8Name) {
  const std::wstring name = widened(utf8Name);
  if (name.empty() || namesADevice(name))
    return name.empty() ? FileKind::Missing : FileKind::Device;
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileKind::Missing
                                                                          : FileKind::Other;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::Directory : FileKind::Regular;
}

std::FILE* openPlainFile(const char* utf8Name, FileUse use, FileKind* found) {
  const FileKind before = fileKindOf(utf8Name);
  if (before != FileKind::Regular && before != FileKind::Missing) {
    setFound(found, before);
    return nullptr;
  }
  const std::wstring name = widened(utf8Name);
  const DWORD access = use == FileUse::Read      ? GENERIC_READ
                       : use == FileUse::Replace ? GENERIC_WRITE
                                                 : FILE_APPEND_DATA;
  const DWORD disposition = use == FileUse::Read ? OPEN_EXISTING : OPEN_ALWAYS;
  HANDLE file = CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    setFound(found, before);
    return nullptr;
  }
  const FileKind kind = kindOfHandle(file);
  setFound(found, kind);
  // Truncated only once it is known to be a file: OPEN_ALWAYS, not
  // CREATE_ALWAYS, so that nothing is cut before the check.
  const bool ready = kind == FileKind::Regular && (use != FileUse::Replace || SetEndOfFile(file));
  const int flags = use == FileUse::Read ? _O_RDONLY : use == FileUse::Append ? _O_APPEND : 0;
  const int fd = ready ? _open_osfhandle(reinterpret_cast<intptr_t>(file), flags | _O_BINARY) : -1;
  if (fd < 0) {
    CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = _fdopen(fd, use == FileUse::Read      ? "rb"
                                  : use == FileUse::Replace ? "wb"
                                                            : "ab");
  if (!stream)
    _close(fd);
  return stream;
}

}  // namespace os
