// Port notes on Linux: one small file per device in a folder of the user's
// own, replaced by a rename so that a reader never finds half of one.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/os.h"
#include "platform/posix/device_paths.h"

namespace os {

namespace {

// The user's runtime folder, cleared at each start of the machine; else /tmp.
std::string noteFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/')
    return std::string(runtime) + "/nlconf";
  return "/tmp/nlconf-" + std::to_string(geteuid());
}

// Only a folder that nobody else can write to: in /tmp another user could
// have made it first, with notes of their choosing or links to our files.
bool folderIsOurs(const std::string& folder) {
  struct stat st {};
  return lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 022) == 0;
}

// Named by the device's number: the same under every path that leads to it.
bool notePath(uint32_t portNumber, const std::string& folder, std::string& path) {
  const char* device = posix::devicePath(portNumber);
  struct stat st {};
  if (!device || stat(device, &st) != 0 || !S_ISCHR(st.st_mode))
    return false;
  path = folder + "/tty-" + std::to_string(major(st.st_rdev)) + "-" +
         std::to_string(minor(st.st_rdev));
  return true;
}

bool writeAll(int fd, const char* bytes, uint32_t count) {
  while (count > 0) {
    const ssize_t n = write(fd, bytes, count);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    bytes += n;
    count -= static_cast<uint32_t>(n);
  }
  return true;
}

}  // namespace

uint64_t bootClockMs() {
  timespec ts{};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

NoteRead readPortNote(uint32_t portNumber, char* bytes, uint32_t capacity, uint32_t& got) {
  got = 0;
  const std::string folder = noteFolder();
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0 && errno == ENOENT)
    return NoteRead::Missing;
  std::string path;
  if (!folderIsOurs(folder) || !notePath(portNumber, folder, path))
    return NoteRead::Failed;
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return errno == ENOENT ? NoteRead::Missing : NoteRead::Failed;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  while (ok && got < capacity) {
    const ssize_t n = read(fd, bytes + got, capacity - got);
    if (n < 0 && errno == EINTR)
      continue;
    ok = n >= 0;
    if (n <= 0)
      break;
    got += static_cast<uint32_t>(n);
  }
  close(fd);
  return ok ? NoteRead::Found : NoteRead::Failed;
}

bool writePortNote(uint32_t portNumber, const char* bytes, uint32_t count) {
  const std::string folder = noteFolder();
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return false;
  std::string path;
  if (!folderIsOurs(folder) || !notePath(portNumber, folder, path))
    return false;
  // Threads of one process may replace one note at once (a stop beside a
  // port's own thread): each writes its own file first.
  static std::atomic<uint32_t> written{0};
  const std::string temporary =
      path + "." + std::to_string(getpid()) + "." + std::to_string(written++) + ".new";
  const int fd =
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0)
    return false;
  const bool whole = writeAll(fd, bytes, count);
  const bool closed = close(fd) == 0;
  if (whole && closed && rename(temporary.c_str(), path.c_str()) == 0)
    return true;
  unlink(temporary.c_str());
  return false;
}

}  // namespace os
