// Bounded formatting of the message boxes' texts.
#include "ui/shared/text_format.h"

#include <cwchar>

const wchar_t kNoSystemText[] = L"(no description)\r\n";

namespace {

constexpr wchar_t kCutMark[] = L"...";
constexpr size_t kCutMarkChars = sizeof kCutMark / sizeof kCutMark[0] - 1;

}  // namespace

int formatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list arguments) {
  if (buffer == nullptr || capacity == 0) {
    return -1;
  }
  buffer[0] = L'\0';
  if (format == nullptr) {
    return -1;
  }
  // msvcrt's formatter, whose rules every format of the program is written
  // for: in a wide format %s is a wide text and %hs a narrow one. It does not
  // terminate a text that fills the count, hence one place kept for the NUL.
  const int written = _vsnwprintf(buffer, capacity - 1, format, arguments);
  buffer[capacity - 1] = L'\0';
  if (written >= 0) {
    return written;
  }
  const size_t kept = wcslen(buffer);
  if (kept + 1 < capacity || capacity <= kCutMarkChars) {
    // Not a cut but a failed conversion: show what was made before it.
    return kept > 0 ? int(kept) : -1;
  }
  wmemcpy(buffer + kept - kCutMarkChars, kCutMark, kCutMarkChars);
  return int(kept);
}

int formatBoundedText(wchar_t* buffer, size_t capacity, const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int result = formatBounded(buffer, capacity, format, arguments);
  va_end(arguments);
  return result;
}

int composeStartupFailureText(wchar_t* buffer, size_t capacity, const wchar_t* operation,
                              DWORD error) {
  // IGNORE_INSERTS: a system text with %1 in it would otherwise make
  // FormatMessageW read arguments that were never passed.
  wchar_t* systemText = nullptr;
  FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&systemText), 0, nullptr);
  const int result = formatBoundedText(buffer, capacity, L"%s:\r\n(%ld) %s", operation, long(error),
                                       systemText != nullptr ? systemText : kNoSystemText);
  if (systemText != nullptr) {
    LocalFree(systemText);
  }
  return result;
}
