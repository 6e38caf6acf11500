#include "platform/plain_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

namespace {

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

}  // namespace

std::FILE* openPlainFile(const char* utf8Name, FileUse use) {
  const int fd = open(utf8Name, openFlagsOf(use), 0666);
  if (fd < 0)
    return nullptr;
  // Checked on what was opened: the name may have changed since a look.
  // Reads and writes of a plain file never wait, and the stream is made for
  // a blocking descriptor.
  struct stat st {};
  const int flags = fcntl(fd, F_GETFL);
  const bool ready = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flags >= 0 &&
                     fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 &&
                     (use != FileUse::Replace || ftruncate(fd, 0) == 0);
  std::FILE* stream = ready ? fdopen(fd, streamModeOf(use)) : nullptr;
  if (!stream)
    close(fd);
  return stream;
}

}  // namespace os
