// The one way a file the user keeps is written.
#include "ui/main_dialog.h"

namespace {

constexpr DWORD kFolderChars = 4096;

}  // namespace

// Writes bytes to a new file beside the target and puts it in the
// target's place in one step: the old file stays whole until then, and on
// any failure it stays as it was. Returns 0 or the system's error.
DWORD replaceFile(const wchar_t* path, const char* bytes, DWORD size) {
  // Windows will not replace a read-only file; a file system that renames
  // over it anyway (Wine's, on Unix) must not lose the user's file either.
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    return ERROR_ACCESS_DENIED;
  wchar_t folder[kFolderChars];
  lstrcpynW(folder, path, kFolderChars);
  wchar_t* cut = nullptr;
  for (wchar_t* p = folder; *p; ++p) {
    if (*p == L'\\' || *p == L'/')
      cut = p;
  }
  if (cut)
    cut[1] = 0;
  else
    lstrcpyW(folder, L".");
  wchar_t temp[MAX_PATH];
  if (!GetTempFileNameW(folder, L"nlc", 0, temp))
    return GetLastError();
  DWORD error = 0;
  HANDLE file = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = GetLastError();
  } else {
    DWORD written = 0;
    if (!WriteFile(file, bytes, size, &written, nullptr) || written != size)
      error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    else if (!FlushFileBuffers(file))
      error = GetLastError();
    CloseHandle(file);
  }
  if (!error && !MoveFileExW(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    error = GetLastError();
  if (error)
    DeleteFileW(temp);
  return error;
}
