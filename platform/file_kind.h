// Files named by the user, opened only when they are plain files: a FIFO
// or a device could block an open or a read for good, and a serial port
// would have its modem lines raised by the open alone.
#pragma once

#include <cstdio>

namespace os {

enum class FileKind { Missing, Regular, Directory, Fifo, Socket, Device, Other };

// What the name designates now, found without opening it.
FileKind fileKindOf(const char* utf8Name);

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
      return "not a plain file";
  }
}

enum class FileUse { Read, Replace, Append };

// Opens a plain file without ever blocking, and gives back a stream only
// when what was opened is one; otherwise null, with *found (if given) set
// to what the name turned out to be (Missing or Regular when the open
// itself failed). Replace truncates only once the file has been checked.
std::FILE* openPlainFile(const char* utf8Name, FileUse use, FileKind* found = nullptr);

}  // namespace os
