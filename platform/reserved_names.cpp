#include "platform/reserved_names.h"

#include <cstddef>
#include <initializer_list>

namespace os {

namespace {

wchar_t upper(wchar_t c) {
  return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool sameName(const wchar_t* stem, size_t length, const wchar_t* name) {
  size_t i = 0;
  for (; i < length && name[i]; ++i) {
    if (upper(stem[i]) != name[i])
      return false;
  }
  return i == length && !name[i];
}

// The ports and printers take a digit or a superscript 1 to 3.
bool numberedDevice(const wchar_t* stem, size_t length) {
  if (length != 4 || !(sameName(stem, 3, L"COM") || sameName(stem, 3, L"LPT")))
    return false;
  const wchar_t n = stem[3];
  return (n >= L'0' && n <= L'9') || n == L'\u00B9' || n == L'\u00B2' || n == L'\u00B3';
}

}  // namespace

bool namesReservedDevice(const wchar_t* path) {
  if (!path)
    return false;
  const wchar_t* name = path;
  // A drive's letter and colon ("C:nul") are no part of the name.
  if (((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
      path[1] == L':')
    name = path + 2;
  for (const wchar_t* p = name; *p; ++p) {
    if (*p == L'\\' || *p == L'/')
      name = p + 1;
  }
  // The name ends at its first dot or colon; the system drops the spaces
  // before either, and the dots and spaces at the end.
  size_t length = 0;
  while (name[length] && name[length] != L'.' && name[length] != L':')
    ++length;
  while (length && name[length - 1] == L' ')
    --length;
  for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (sameName(name, length, device))
      return true;
  }
  return numberedDevice(name, length);
}

}  // namespace os
