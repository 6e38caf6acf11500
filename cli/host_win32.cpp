// What nlconf-cli asks of Windows beside the seam: one port under two
// names, files told apart by identity, a log replaced in one step, and a
// profile's whole path for the record.
#include <windows.h>
// After windows.h, which it needs.
#include <fcntl.h>
#include <io.h>

#include <cwchar>

#include "cli/cli.h"
#include "link/port_table.h"
#include "platform/os.h"

namespace cli {

bool samePort(const std::string& a, const std::string& b) {
  uint32_t na = 0, nb = 0;
  std::string shown, message;
  if (bindPort(a, 0, &na, &shown, &message) && bindPort(b, 0, &nb, &shown, &message))
    return na == nb;
  return lstrcmpiW(widen(a).c_str(), widen(b).c_str()) == 0;
}

// COM names are checked where they are bound; only the empty name is no
// name at all.
bool mayBePort(const std::string& name, std::string* message) {
  if (!name.empty())
    return true;
  *message = "\"\" is not a serial port.";
  return false;
}

void sendOnOpenPorts(const char* bytes, uint32_t count) {
  os::refuseWrites();  // nothing of the sessions' follows these bytes
  for (uint32_t n = 1; n < kPortTableSize; ++n) {
    const HANDLE port = portRecord(n)->handle;
    if (!port)
      continue;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    if (overlapped.hEvent && !WriteFile(port, bytes, count, &written, &overlapped) &&
        GetLastError() == ERROR_IO_PENDING)
      WaitForSingleObject(overlapped.hEvent, 100);  // handed over, not waited out
    if (overlapped.hEvent)
      CloseHandle(overlapped.hEvent);
  }
}

namespace {

std::string systemText(DWORD error) {
  char text[512];
  const size_t length = os::systemErrorText(error, text, sizeof text);
  return std::string(text, length);
}

// Opened for nothing but its identity: no data access, shared with every use.
bool identityOf(const std::wstring& path, FileIdentity* id) {
  const HANDLE file =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  BY_HANDLE_FILE_INFORMATION info{};
  id->known = GetFileInformationByHandle(file, &info) != 0;
  id->volume = info.dwVolumeSerialNumber;
  id->index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  CloseHandle(file);
  return id->known;
}

}  // namespace

FileIdentity fileIdentity(const std::string& name) {
  FileIdentity id;
  // A device name is never opened, not even for its identity.
  uint32_t error = 0;
  const os::FileKind kind = os::pathKind(name.c_str(), error);
  if (kind == os::FileKind::Regular || kind == os::FileKind::Directory) {
    identityOf(widen(name), &id);
    return id;
  }
  wchar_t path[32768];
  wchar_t* leaf = nullptr;
  const DWORD length = GetFullPathNameW(widen(name).c_str(), 32768, path, &leaf);
  if (kind != os::FileKind::Missing || length == 0 || length >= 32768 || !leaf)
    return id;
  std::wstring leafName = leaf;
  *leaf = 0;
  // Names in one folder differ in more than case.
  CharLowerW(leafName.data());
  if (identityOf(path, &id))
    id.leaf = narrow(leafName.c_str());
  return id;
}

FileIdentity streamIdentity(int stream) {
  FileIdentity id;
  const DWORD which = stream == 0   ? STD_INPUT_HANDLE
                      : stream == 1 ? STD_OUTPUT_HANDLE
                                    : STD_ERROR_HANDLE;
  const HANDLE handle = GetStdHandle(which);
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK &&
      GetFileInformationByHandle(handle, &info)) {
    id.known = true;
    id.volume = info.dwVolumeSerialNumber;
    id.index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  }
  return id;
}

FILE* binaryStandardInput() {
  _setmode(_fileno(stdin), _O_BINARY);
  return stdin;
}

bool sameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.volume == b.volume && a.index == b.index && a.leaf == b.leaf;
}

FILE* createBeside(const std::string& name, std::string* made, std::string* target,
                   std::string* why) {
  const std::wstring wide = widen(name);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    *why = systemText(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  HANDLE file = INVALID_HANDLE_VALUE;
  std::wstring beside;
  for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    beside = wide + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(attempt) + L".tmp";
    file = CreateFileW(beside.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
      break;
  }
  if (file == INVALID_HANDLE_VALUE) {
    *why = systemText(GetLastError());
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
  FILE* stream = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
  if (!stream) {
    *why = systemText(ERROR_NOT_ENOUGH_MEMORY);
    if (fd >= 0)
      _close(fd);
    else
      CloseHandle(file);
    DeleteFileW(beside.c_str());
    return nullptr;
  }
  *made = narrow(beside.c_str());
  *target = name;
  return stream;
}

bool replaceFile(const std::string& made, const std::string& target, std::string* why) {
  const std::wstring from = widen(made);
  if (MoveFileExW(from.c_str(), widen(target).c_str(), MOVEFILE_REPLACE_EXISTING))
    return true;
  *why = systemText(GetLastError());
  DeleteFileW(from.c_str());
  return false;
}

std::string wholePath(const std::string& name) {
  wchar_t path[32768];
  const DWORD length = GetFullPathNameW(widen(name).c_str(), 32768, path, nullptr);
  return length > 0 && length < 32768 ? narrow(path) : name;
}

}  // namespace cli
