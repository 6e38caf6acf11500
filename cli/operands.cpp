#include "cli/operands.h"

#include <utility>
#include <vector>

#include "cli/cli.h"
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
  return (o.file == "-" || isPlainOrNew(o.file, "The settings file", message)) &&
         isPlainOrNew(o.log, "The log file", message) &&
         isPlainOrNew(o.record, "The record file", message);
}

namespace {

struct Operand {
  const char* role;
  std::string name;
  FileIdentity identity;
};

std::string sameFileText(const Operand& a, const Operand& b) {
  if (a.name == b.name || b.name.empty())
    return std::string(a.role) + " and " + b.role + " name the same file " + a.name + ".";
  return std::string(a.role) + " " + a.name + " and " + b.role + " " + b.name +
         " name the same file.";
}

}  // namespace

bool checkSameFiles(const Options& o, std::string* message) {
  std::vector<Operand> outputs, others;
  for (const auto& [role, name] : {std::pair{"--log", &o.log}, {"--record", &o.record}}) {
    if (!name->empty())
      outputs.push_back({role, *name, fileIdentity(*name)});
  }
  // A profile from standard input is the file it is redirected from.
  if (o.file == "-")
    others.push_back({"standard input", "", streamIdentity(0)});
  else if (!o.file.empty())
    others.push_back({"the settings file", o.file, fileIdentity(o.file)});
  others.push_back({"standard output", "", streamIdentity(1)});
  others.push_back({"standard error", "", streamIdentity(2)});
  for (size_t i = 0; i < outputs.size(); ++i) {
    for (size_t j = i + 1; j < outputs.size(); ++j) {
      if (sameFile(outputs[i].identity, outputs[j].identity) ||
          outputs[i].name == outputs[j].name) {
        *message = sameFileText(outputs[i], outputs[j]);
        return false;
      }
    }
    for (const Operand& other : others) {
      if (sameFile(outputs[i].identity, other.identity) || outputs[i].name == other.name) {
        *message = sameFileText(outputs[i], other);
        return false;
      }
    }
  }
  return true;
}

FILE* openFile(const std::string& name, const char* mode) {
  const os::FileUse use = mode[0] == 'r'   ? os::FileUse::Read
                          : mode[0] == 'a' ? os::FileUse::Append
                                           : os::FileUse::Replace;
  return os::openPlainFile(name.c_str(), use);
}

}  // namespace cli
