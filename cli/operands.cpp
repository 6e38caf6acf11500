#include "cli/operands.h"

#include "platform/plain_file.h"

namespace cli {

namespace {

bool isPlainOrNew(const std::string& name, const char* what, std::string* message) {
  if (name.empty())
    return true;
  uint32_t error = 0;
  const os::FileKind kind = os::pathKind(name.c_str(), error);
  if (kind == os::FileKind::Regular || kind == os::FileKind::Missing)
    return true;
  *message = std::string(what) + " " + name + " is " + os::fileKindText(kind) + ", not a file.";
  return false;
}

}  // namespace

bool checkFileOperands(const Options& o, std::string* message) {
  return isPlainOrNew(o.file, "The settings file", message) &&
         isPlainOrNew(o.log, "The log file", message) &&
         isPlainOrNew(o.record, "The record file", message);
}

FILE* openFile(const std::string& name, const char* mode) {
  const os::FileUse use = mode[0] == 'r'   ? os::FileUse::Read
                          : mode[0] == 'a' ? os::FileUse::Append
                                           : os::FileUse::Replace;
  return os::openPlainFile(name.c_str(), use);
}

}  // namespace cli
