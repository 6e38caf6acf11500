#include "platform/plain_file.h"

#include <windows.h>
// After windows.h, which it needs.
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <string>

namespace os {

namespace {

std::wstring widened(const char* utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
  if (n <= 0)
    return {};
  std::wstring text(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, text.data(), n);
  text.resize(static_cast<size_t>(n - 1));
  return text;
}

// The caller tells the user why with strerror: never a stale errno.
std::FILE* refused(int why) {
  errno = why;
  return nullptr;
}

int errnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return EINVAL;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

}  // namespace

std::FILE* openPlainFile(const char* utf8Name, FileUse use) {
  // A device is refused by its name, before the open could raise its lines.
  uint32_t error = 0;
  const FileKind kind = pathKind(utf8Name, error);
  const std::wstring name = widened(utf8Name);
  if (kind == FileKind::Directory)
    return refused(EISDIR);
  if (kind != FileKind::Regular && kind != FileKind::Missing)
    return refused(ENODEV);
  if (name.empty())
    return refused(EINVAL);
  const DWORD access = use == FileUse::Read      ? GENERIC_READ
                       : use == FileUse::Replace ? GENERIC_WRITE
                                                 : FILE_APPEND_DATA;
  HANDLE file = CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            use == FileUse::Read ? OPEN_EXISTING : OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return refused(errnoOf(GetLastError()));
  // OPEN_ALWAYS, not CREATE_ALWAYS: nothing is cut before the check.
  const bool disk = GetFileType(file) == FILE_TYPE_DISK;
  const bool ready = disk && (use != FileUse::Replace || SetEndOfFile(file));
  const int why = !disk ? ENODEV : ready ? EMFILE : errnoOf(GetLastError());
  const int flags = use == FileUse::Read ? _O_RDONLY : use == FileUse::Append ? _O_APPEND : 0;
  const int fd = ready ? _open_osfhandle(reinterpret_cast<intptr_t>(file), flags | _O_BINARY) : -1;
  if (fd < 0) {
    CloseHandle(file);
    return refused(why);
  }
  std::FILE* stream = _fdopen(fd, use == FileUse::Read      ? "rb"
                                  : use == FileUse::Replace ? "wb"
                                                            : "ab");
  if (!stream)
    _close(fd);
  return stream;
}

}  // namespace os
