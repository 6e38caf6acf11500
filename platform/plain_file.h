// Files named by the user and read or written as streams, opened only when
// they are plain files: a FIFO or a device could hold an open or a read for
// good, and a serial port would have its lines raised by the open alone.
#pragma once

#include <cstdio>

#include "platform/os.h"

namespace os {

// "a FIFO", "a device": for a message that names what was refused.
inline const char* fileKindText(FileKind kind) {
  switch (kind) {
    case FileKind::Missing:
      return "missing";
    case FileKind::Regular:
      return "a file";
    case FileKind::Directory:
      return "a directory";
    case FileKind::Fifo:
      return "a FIFO";
    case FileKind::Socket:
      return "a socket";
    case FileKind::Device:
      return "a device";
    default:
      return "no plain file";
  }
}

enum class FileUse { Read, Replace, Append };

// Opens without ever blocking, and gives back a stream only when what was
// opened is a plain file; null otherwise. Replace truncates only once the
// file has been checked.
std::FILE* openPlainFile(const char* utf8Name, FileUse use);

}  // namespace os
