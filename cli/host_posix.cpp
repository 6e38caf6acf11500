// What nlconf-cli asks of Linux beside the seam: one port under two names,
// what a port operand designates, files told apart by identity, a log
// replaced in one step, and a profile's whole path for the record.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/cli.h"
#include "platform/posix/device_paths.h"

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

namespace {

// /dev/tty, /dev/console, /dev/ptmx and the virtual consoles are terminals
// but no line to a module; nor is the terminal this program runs on.
bool isConsoleDevice(dev_t device) {
  const unsigned kind = major(device), unit = minor(device);
  if ((kind == 5 && unit <= 2) || (kind == 4 && unit < 64))
    return true;
  for (int fd = 0; fd <= 2; ++fd) {
    struct stat st {};
    if (isatty(fd) && fstat(fd, &st) == 0 && st.st_rdev == device)
      return true;
  }
  return false;
}

// A device that sysfs places in a class other than tty is not opened: the
// open alone may start something (a watchdog). Pseudo-terminals have no
// entry, and neither has anything where sysfs is missing: those are opened.
bool ttyOrUnknownClass(dev_t device) {
  char link[64];
  std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", major(device), minor(device));
  char target[PATH_MAX];
  const ssize_t length = readlink(link, target, sizeof target - 1);
  if (length < 0)
    return true;
  target[length] = 0;
  const char* name = std::strrchr(target, '/');
  return std::strcmp(name ? name + 1 : target, "tty") == 0;
}

// Non-blocking, so that no carrier is waited for; a port held by another
// program (or not ours to open) passes, for the open that follows to say so.
bool opensAsTerminal(const std::string& name) {
  const int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return true;
  termios t{};
  const bool terminal = isatty(fd) && tcgetattr(fd, &t) == 0;
  close(fd);
  return terminal;
}

}  // namespace

bool mayBePort(const std::string& name, std::string* message) {
  struct stat st {};
  if (!name.empty() && stat(name.c_str(), &st) != 0)
    return true;
  if (!name.empty() && S_ISCHR(st.st_mode) && !isConsoleDevice(st.st_rdev) &&
      ttyOrUnknownClass(st.st_rdev) && opensAsTerminal(name))
    return true;
  *message = (name.empty() ? std::string("\"\"") : name) + " is not a serial port.";
  return false;
}

void sendOnOpenPorts(const char* bytes, uint32_t count) {
  os::posix::writeToOpenDevices(bytes, count);
}

// ---- files ---------------------------------------------------------------------------

FileIdentity fileIdentity(const std::string& name) {
  FileIdentity id;
  struct stat st {};
  if (stat(name.c_str(), &st) == 0) {
    id.known = true;
    id.volume = st.st_dev;
    id.index = st.st_ino;
    return id;
  }
  if (errno != ENOENT)
    return id;
  const size_t slash = name.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : name.substr(0, slash + 1);
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return id;
  id.known = true;
  id.volume = st.st_dev;
  id.index = st.st_ino;
  id.leaf = slash == std::string::npos ? name : name.substr(slash + 1);
  return id;
}

FileIdentity streamIdentity(int stream) {
  FileIdentity id;
  struct stat st {};
  if (fstat(stream, &st) == 0 && S_ISREG(st.st_mode)) {
    id.known = true;
    id.volume = st.st_dev;
    id.index = st.st_ino;
  }
  return id;
}

FILE* binaryStandardInput() {
  return stdin;
}

bool sameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.volume == b.volume && a.index == b.index && a.leaf == b.leaf;
}

FILE* createBeside(const std::string& name, std::string* made, std::string* target,
                   std::string* why) {
  struct stat st {};
  const bool exists = stat(name.c_str(), &st) == 0;
  // A log its owner made read-only stays as it is, as an open for writing would.
  if (exists && access(name.c_str(), W_OK) != 0) {
    *why = std::strerror(errno);
    return nullptr;
  }
  char* resolved = exists ? realpath(name.c_str(), nullptr) : nullptr;
  *target = resolved ? resolved : name;
  std::free(resolved);
  std::string pattern = *target + ".XXXXXX";
  const int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) {
    *why = std::strerror(errno);
    return nullptr;
  }
  const mode_t mask = umask(0);
  umask(mask);
  FILE* file =
      fchmod(fd, exists ? st.st_mode & 07777 : 0666 & ~mask) == 0 ? fdopen(fd, "w") : nullptr;
  if (!file) {
    *why = std::strerror(errno);
    close(fd);
    unlink(pattern.c_str());
    return nullptr;
  }
  *made = pattern;
  return file;
}

bool replaceFile(const std::string& made, const std::string& target, std::string* why) {
  if (rename(made.c_str(), target.c_str()) == 0)
    return true;
  *why = std::strerror(errno);
  unlink(made.c_str());
  return false;
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

bool stdinIsTerminal() {
  return isatty(STDIN_FILENO) != 0;
}

// Byte by byte, so that nothing of the next line is taken from the stream;
// a poll lets a Ctrl+C be seen while nobody types.
InputRead readInputLine(std::string* line, bool (*cancelled)()) {
  line->clear();
  for (;;) {
    if (cancelled())
      return InputRead::Cancelled;
    pollfd in{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&in, 1, 100);
    if (ready == 0 || (ready < 0 && errno == EINTR))
      continue;
    char c = 0;
    const ssize_t got = ready < 0 ? -1 : read(STDIN_FILENO, &c, 1);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
      continue;
    if (got <= 0)
      return line->empty() ? InputRead::End : InputRead::Line;
    if (c == '\n')
      return InputRead::Line;
    if (line->size() < kInputLineLimit)
      line->push_back(c);
  }
}

}  // namespace cli
