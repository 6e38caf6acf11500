// What nlconf-cli asks of Linux beside the seam: one port under two names,
// and a profile's whole path for the record.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "cli/cli.h"

namespace cli {

bool samePort(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0)
    return a == b;
  if (S_ISCHR(sa.st_mode) && S_ISCHR(sb.st_mode))
    return sa.st_rdev == sb.st_rdev;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string wholePath(const std::string& name) {
  if (char* resolved = realpath(name.c_str(), nullptr)) {
    std::string path = resolved;
    std::free(resolved);
    return path;
  }
  char here[PATH_MAX];
  if (name.empty() || name[0] == '/' || !getcwd(here, sizeof here))
    return name;
  return std::string(here) + "/" + name;
}

}  // namespace cli
