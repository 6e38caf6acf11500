// What nlconf-cli asks of Windows beside the seam: one port under two
// names, and who and where a record line comes from.
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

std::string stationName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD chars = MAX_COMPUTERNAME_LENGTH + 1;
  return GetComputerNameW(name, &chars) ? narrow(name) : "";
}

std::string operatorName() {
  wchar_t name[257];
  DWORD chars = 257;
  return GetUserNameW(name, &chars) ? narrow(name) : "";
}

}  // namespace cli
