#include "platform/file_kind.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace os {

namespace {

FileKind kindOfMode(mode_t mode) {
  if (S_ISREG(mode))
    return FileKind::Regular;
  if (S_ISDIR(mode))
    return FileKind::Directory;
  if (S_ISFIFO(mode))
    return FileKind::Fifo;
  if (S_ISSOCK(mode))
    return FileKind::Socket;
  if (S_ISCHR(mode) || S_ISBLK(mode))
    return FileKind::Device;
  return FileKind::Other;
}

int openFlagsOf(FileUse use) {
  // O_NONBLOCK: a FIFO without a writer, or a serial port without carrier,
  // would otherwise hold the open. O_NOCTTY: a terminal named by mistake
  // must not become the program's controlling terminal.
  const int always = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  switch (use) {
    case FileUse::Read:
      return O_RDONLY | always;
    case FileUse::Replace:
      return O_WRONLY | O_CREAT | always;
    default:
      return O_WRONLY | O_CREAT | O_APPEND | always;
  }
}

const char* streamModeOf(FileUse use) {
  switch (use) {
    case FileUse::Read:
      return "rb";
    case FileUse::Replace:
      return "wb";
    default:
      return "ab";
  }
}

void setFound(FileKind* found, FileKind kind) {
  if (found)
    *found = kind;
}

}  // namespace

FileKind fileKindOf(const char* utf8Name) {
  struct stat st {};
  if (stat(utf8Name, &st) != 0)
    return errno == ENOENT || errno == ENOTDIR ? FileKind::Missing : FileKind::Other;
  return kindOfMode(st.st_mode);
}

std::FILE* openPlainFile(const char* utf8Name, FileUse use, FileKind* found) {
  const int fd = open(utf8Name, openFlagsOf(use), 0666);
  if (fd < 0) {
    // A FIFO without a reader refuses a non-blocking write open (ENXIO),
    // a directory any write open: say what it was.
    const FileKind kind = fileKindOf(utf8Name);
    setFound(found, kind == FileKind::Other ? FileKind::Regular : kind);
    return nullptr;
  }
  struct stat st {};
  const FileKind kind = fstat(fd, &st) == 0 ? kindOfMode(st.st_mode) : FileKind::Other;
  setFound(found, kind);
  // Reads and writes of a plain file never wait anyway; the stream is made
  // for blocking descriptors.
  const int flags = fcntl(fd, F_GETFL);
  const bool ready = kind == FileKind::Regular && flags >= 0 &&
                     fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 &&
                     (use != FileUse::Replace || ftruncate(fd, 0) == 0);
  std::FILE* stream = ready ? fdopen(fd, streamModeOf(use)) : nullptr;
  if (!stream)
    close(fd);
  return stream;
}

}  // namespace os
