// The file calls over POSIX; the virtual world uses them too, since files
// are no part of the bench it simulates.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/os.h"

namespace os {

namespace {

// fd + 1, so that descriptor 0 is no null handle.
Handle handleOf(int fd) {
  return reinterpret_cast<Handle>(static_cast<intptr_t>(fd) + 1);
}

int fdOf(Handle file) {
  return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1);
}

FileKind kindOf(const struct stat& s) {
  if (S_ISREG(s.st_mode))
    return FileKind::Regular;
  if (S_ISDIR(s.st_mode))
    return FileKind::Directory;
  if (S_ISFIFO(s.st_mode))
    return FileKind::Fifo;
  if (S_ISSOCK(s.st_mode))
    return FileKind::Socket;
  return S_ISCHR(s.st_mode) || S_ISBLK(s.st_mode) ? FileKind::Device : FileKind::Other;
}

uint32_t errnoCode() {
  return static_cast<uint32_t>(errno);
}

}  // namespace

FileKind pathKind(const char* path, uint32_t& error) {
  struct stat s {};
  error = 0;
  if (stat(path, &s) == 0)
    return kindOf(s);
  error = errnoCode();
  return FileKind::Missing;
}

Handle openFileToAppend(const char* path, bool create, uint32_t& error) {
  // O_NONBLOCK: a FIFO or a terminal that slipped past the caller's check
  // must not hold the open until a peer or a carrier comes.
  const int flags = O_RDWR | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (create ? O_CREAT : 0);
  int fd;
  do {
    fd = open(path, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error = errnoCode();
    return nullptr;
  }
  // A record its owner made read-only is closed, also to root, who could
  // still write it.
  struct stat s {};
  if (fstat(fd, &s) == 0 && S_ISREG(s.st_mode) && (s.st_mode & 0222) == 0) {
    close(fd);
    error = EACCES;
    return nullptr;
  }
  error = 0;
  return handleOf(fd);
}

FileKind fileKind(Handle file) {
  struct stat s {};
  return fstat(fdOf(file), &s) == 0 ? kindOf(s) : FileKind::Missing;
}

bool fileSize(Handle file, uint64_t& size, uint32_t& error) {
  struct stat s {};
  if (fstat(fdOf(file), &s) != 0) {
    error = errnoCode();
    return false;
  }
  size = static_cast<uint64_t>(s.st_size);
  return true;
}

bool readFileAt(Handle file, uint64_t offset, void* bytes, uint32_t count, uint32_t& got,
                uint32_t& error) {
  got = 0;
  while (got < count) {
    const ssize_t n = pread(fdOf(file), static_cast<char*>(bytes) + got, count - got,
                            static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      error = errnoCode();
      return false;
    }
    if (n == 0)
      break;
    got += static_cast<uint32_t>(n);
  }
  return true;
}

bool appendToFile(Handle file, const void* bytes, uint32_t count, uint32_t& error) {
  ssize_t n;
  do {
    n = write(fdOf(file), bytes, count);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(count))
    return true;
  // A short write (a full disk) is no line: cut it off again, so that the
  // next line does not start inside it.
  error = n < 0 ? errnoCode() : static_cast<uint32_t>(ENOSPC);
  if (n > 0) {
    struct stat s {};
    if (fstat(fdOf(file), &s) == 0 && ftruncate(fdOf(file), s.st_size - n) != 0) {
      // the cut failed too; the caller reports the write's error
    }
  }
  return false;
}

bool flushFile(Handle file, uint32_t& error) {
  if (fsync(fdOf(file)) == 0 || errno == EINVAL)
    return true;
  error = errnoCode();
  return false;
}

LockResult lockFile(Handle file, uint32_t limitMs, uint32_t& error) {
  for (uint32_t waited = 0;; waited += 5) {
    if (flock(fdOf(file), LOCK_EX | LOCK_NB) == 0)
      return LockResult::Locked;
    error = errnoCode();
    if (errno != EWOULDBLOCK && errno != EINTR)
      return LockResult::Failed;
    if (waited >= limitMs)
      return LockResult::Busy;
    const struct timespec pause { 0, 5 * 1000 * 1000 };
    nanosleep(&pause, nullptr);
  }
}

bool unlockFile(Handle file) {
  return flock(fdOf(file), LOCK_UN) == 0;
}

bool closeFile(Handle file) {
  return file && close(fdOf(file)) == 0;
}

namespace {

size_t copyName(const char* name, char* out, size_t capacity) {
  size_t n = 0;
  for (; name && name[n] && n + 1 < capacity; ++n)
    out[n] = name[n];
  if (capacity)
    out[n] = 0;
  return n;
}

}  // namespace

size_t computerName(char* out, size_t capacity) {
  char name[256] = {};
  return gethostname(name, sizeof name - 1) == 0 ? copyName(name, out, capacity)
                                                 : copyName("", out, capacity);
}

size_t userName(char* out, size_t capacity) {
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found)
    return copyName(found->pw_name, out, capacity);
  return copyName(std::getenv("USER"), out, capacity);
}

size_t systemErrorText(uint32_t error, char* out, size_t capacity) {
  if (!capacity)
    return 0;
  char buffer[256] = {};
  // The GNU strerror_r may return a static text instead of filling buffer.
  const char* text = buffer;
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  text = strerror_r(static_cast<int>(error), buffer, sizeof buffer);
#else
  if (strerror_r(static_cast<int>(error), buffer, sizeof buffer) != 0)
    buffer[0] = 0;
#endif
  size_t n = 0;
  for (; text && text[n] && n + 1 < capacity; ++n)
    out[n] = text[n];
  while (n && (out[n - 1] == '.' || out[n - 1] == '\n' || out[n - 1] == '\r'))
    --n;
  out[n] = 0;
  return n;
}

}  // namespace os
