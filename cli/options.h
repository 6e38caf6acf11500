// The command line of nlconf-cli, parsed into one plain record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "module/range_test.h"
#include "module/received_share.h"

namespace cli {

enum class Command { None, Help, Version, Ports, Read, Write, LinkTest, Pair, RangeTest };
enum class Role { Any, Master, Slave };

struct Options {
  Command command = Command::None;
  Command helpFor = Command::None;  // with Help: the command asked about, None for all
  std::vector<std::string> ports;   // PORT, or MASTER and SLAVE
  std::string file;                 // a settings file, "" for none
  Role role = Role::Any;
  bool json = false;
  bool quiet = false;
  std::vector<std::string> sets;  // "KEY=VALUE" as given
  bool dryRun = false;
  bool makePair = false;
  std::string record;
  std::string log;
  bool verbose = false;
  uint32_t count = kRangeDefaultCount;  // range-test: packets each way
  uint32_t size = kRangeDefaultSize;    // range-test: bytes a packet
  // range-test: the share each way must reach, in kShareMinimumPerPercent
  uint32_t minReceived = 100 * kShareMinimumPerPercent;
};

// False with a message for a command line that means nothing.
bool parseOptions(const std::vector<std::string>& args, Options* options, std::string* message);

// What --help prints: the whole usage, or one command's.
std::string usageText();
std::string commandHelp(Command command);

}  // namespace cli
