// Port notes on Linux: one small file per device, beside the serial lock
// files, where every process on the machine finds it whatever its user and
// environment. A note may belong to another user, whose file a sticky
// folder forbids us to replace: every note is updated in place under a lock
// that every reader takes too, so that no reader finds half of one.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/os.h"
#include "platform/posix/device_paths.h"

namespace os {

namespace {

// Cleared at each start of the machine, as the notes' boot-clock times need.
// NLCONF_PORT_NOTES names another folder, for every process or for none: a
// test rig's ports are its own.
std::string noteFolder() {
  const char* given = std::getenv("NLCONF_PORT_NOTES");
  if (given && given[0] == '/')
    return given;
  for (const char* base : {"/run/lock", "/var/lock"}) {
    struct stat st {};
    if (stat(base, &st) == 0 && S_ISDIR(st.st_mode))
      return std::string(base) + "/nlconf";
  }
  return {};
}

// A real folder in which nobody can take away another's note: sticky, as
// the lock folder itself, or writable by its owner alone.
bool folderIsSound(const std::string& folder) {
  struct stat st {};
  return lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         ((st.st_mode & S_ISVTX) != 0 || (st.st_mode & 022) == 0);
}

// Readable and writable by every user of the machine.
bool makeFolder(const std::string& folder) {
  if (mkdir(folder.c_str(), 0700) != 0)
    return errno == EEXIST;
  if (chmod(folder.c_str(), 01777) == 0)
    return true;
  rmdir(folder.c_str());
  return false;
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

// A note and nothing else: one small plain file, not a link to another.
bool isNote(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_size <= 4096;
}

// Held only for a write or a read of a few bytes; a lock that stays (a
// process stopped while holding it, or someone's doing) is given up on
// after a moment rather than waited for.
bool lockNote(int fd, int how) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (flock(fd, how | LOCK_NB) == 0)
      return true;
    if (errno != EWOULDBLOCK && errno != EINTR)
      return false;
    const timespec pause{0, 2000000};
    nanosleep(&pause, nullptr);
  }
  return false;
}

bool writeAll(int fd, const char* bytes, uint32_t count) {
  off_t at = 0;
  while (count > 0) {
    const ssize_t n = pwrite(fd, bytes, count, at);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    bytes += n;
    at += n;
    count -= static_cast<uint32_t>(n);
  }
  return ftruncate(fd, at) == 0;
}

// Another user's note is opened as it is; only a note that is not there yet
// is created, by us and for everyone.
int openForWriting(const std::string& path) {
  const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = open(path.c_str(), flags);
  if (fd < 0 && errno == ENOENT) {
    fd = open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
    if (fd >= 0)
      fchmod(fd, 0666);
    else if (errno == EEXIST)
      fd = open(path.c_str(), flags);
  }
  return fd;
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
  if (folder.empty())
    return NoteRead::Failed;
  if (lstat(folder.c_str(), &st) != 0 && errno == ENOENT)
    return NoteRead::Missing;
  std::string path;
  if (!folderIsSound(folder) || !notePath(portNumber, folder, path))
    return NoteRead::Failed;
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return errno == ENOENT ? NoteRead::Missing : NoteRead::Failed;
  bool ok = isNote(fd) && lockNote(fd, LOCK_SH);
  while (ok && got < capacity) {
    const ssize_t n = pread(fd, bytes + got, capacity - got, got);
    if (n < 0 && errno == EINTR)
      continue;
    ok = n >= 0;
    if (n <= 0)
      break;
    got += static_cast<uint32_t>(n);
  }
  close(fd);  // and its lock
  return ok ? NoteRead::Found : NoteRead::Failed;
}

bool writePortNote(uint32_t portNumber, const char* bytes, uint32_t count) {
  const std::string folder = noteFolder();
  std::string path;
  if (folder.empty() || !makeFolder(folder) || !folderIsSound(folder) ||
      !notePath(portNumber, folder, path))
    return false;
  const int fd = openForWriting(path);
  if (fd < 0)
    return false;
  const bool written = isNote(fd) && lockNote(fd, LOCK_EX) && writeAll(fd, bytes, count);
  return close(fd) == 0 && written;
}

}  // namespace os
