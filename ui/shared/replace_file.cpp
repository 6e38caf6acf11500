// The one way a file the user keeps is written.
#include "ui/shared/replace_file.h"

#include "ui/shared/shell_services.h"

namespace {

// The system's long form takes more than the dialogs accept.
constexpr DWORD kLongPrefixChars = 8;  // "\\?\UNC\"
constexpr int kTempNameTries = 100;

bool startsWith(const wchar_t* text, const wchar_t* start) {
  while (*start) {
    if (*text++ != *start++)
      return false;
  }
  return true;
}

// The full path in the system's long form, which is not held to MAX_PATH:
// a folder deeper than that is still a place to save to.
bool longPathOf(const wchar_t* path, wchar_t* out, DWORD capacity) {
  wchar_t full[kPathChars];
  const DWORD length = GetFullPathNameW(path, kPathChars, full, nullptr);
  if (length == 0 || length >= kPathChars || length + kLongPrefixChars >= capacity)
    return false;
  if (startsWith(full, L"\\\\?\\") || startsWith(full, L"\\\\.\\")) {
    lstrcpyW(out, full);
  } else if (startsWith(full, L"\\\\")) {
    lstrcpyW(out, L"\\\\?\\UNC\\");
    lstrcatW(out, full + 2);
  } else {
    lstrcpyW(out, L"\\\\?\\");
    lstrcatW(out, full);
  }
  return true;
}

// A new, empty file of the program's in the target's folder, so that the
// last step is a rename within one volume.
HANDLE createTempBeside(const wchar_t* target, wchar_t* temp) {
  lstrcpyW(temp, target);
  wchar_t* cut = temp;
  for (wchar_t* p = temp; *p; ++p) {
    if (*p == L'\\')
      cut = p + 1;
  }
  const DWORD process = GetCurrentProcessId();
  for (int i = 0; i < kTempNameTries; ++i) {
    wsprintfW(cut, L"~nlc%lx-%x.tmp", process, static_cast<unsigned>(GetTickCount() + i));
    HANDLE file =
        CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
      return file;
  }
  return INVALID_HANDLE_VALUE;
}

DWORD writeWhole(HANDLE file, const char* bytes, DWORD size) {
  DWORD written = 0;
  if (!WriteFile(file, bytes, size, &written, nullptr) || written != size)
    return GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
  return FlushFileBuffers(file) ? 0 : GetLastError();
}

// ReplaceFileW keeps what the old file is (its security, attributes,
// streams, links); where it cannot (a file system without it), a rename.
DWORD putInPlace(const wchar_t* temp, const wchar_t* target, bool targetExists) {
  if (targetExists &&
      ReplaceFileW(target, temp, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
    return 0;
  if (MoveFileExW(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return 0;
  return GetLastError();
}

}  // namespace

// Writes bytes to a new file beside the target and puts it in the
// target's place in one step: the old file stays whole until then, and on
// any failure it stays as it was. Returns 0 or the system's error.
DWORD replaceFile(const wchar_t* path, const char* bytes, DWORD size) {
  static wchar_t target[kPathChars + kLongPrefixChars];
  static wchar_t temp[kPathChars + kLongPrefixChars + 32];
  if (!longPathOf(path, target, kPathChars + kLongPrefixChars))
    return ERROR_FILENAME_EXCED_RANGE;
  // Windows will not replace a read-only file; a file system that renames
  // over it anyway (Wine's, on Unix) must not lose the user's file either.
  const DWORD attributes = GetFileAttributesW(target);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
    return ERROR_ACCESS_DENIED;
  HANDLE file = createTempBeside(target, temp);
  if (file == INVALID_HANDLE_VALUE)
    return GetLastError();
  DWORD error = writeWhole(file, bytes, size);
  CloseHandle(file);
  if (!error)
    error = putInPlace(temp, target, attributes != INVALID_FILE_ATTRIBUTES);
  // Where a failed replace has already taken the old file away, the new
  // text is all there is: it stays under the temporary name.
  const bool targetGone = attributes != INVALID_FILE_ATTRIBUTES &&
                          GetFileAttributesW(target) == INVALID_FILE_ATTRIBUTES;
  if (error && !targetGone)
    DeleteFileW(temp);
  return error;
}
