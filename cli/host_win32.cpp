// What nlconf-cli asks of Windows beside the seam: one port under two
// names, and a profile's whole path for the record.
#include <windows.h>

#include "cli/cli.h"

namespace cli {

bool samePort(const std::string& a, const std::string& b) {
  uint32_t na = 0, nb = 0;
  std::string shown, message;
  if (bindPort(a, 0, &na, &shown, &message) && bindPort(b, 0, &nb, &shown, &message))
    return na == nb;
  return lstrcmpiW(widen(a).c_str(), widen(b).c_str()) == 0;
}

std::string wholePath(const std::string& name) {
  wchar_t path[32768];
  const DWORD length = GetFullPathNameW(widen(name).c_str(), 32768, path, nullptr);
  return length > 0 && length < 32768 ? narrow(path) : name;
}

}  // namespace cli
