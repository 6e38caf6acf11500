// The command line of nlconf-cli: each command's options in a table beside
// the command, each bound to its field of one plain record, and one parser
// that walks the tables.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "module/range_test.h"
#include "module/received_share.h"
#include "platform/os.h"

namespace cli {

struct CommandSpec;

enum class Asked { Nothing, Run, Help, Version };
enum class Role { Any, Master, Slave };

struct Options {
  Asked asked = Asked::Nothing;
  // Run: the command; Help: the command asked about, null for all of them.
  const CommandSpec* command = nullptr;
  std::vector<std::string> ports;  // PORT, or MASTER and SLAVE
  std::string file;                // a settings file, "" for none
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
  // Where a module is looked for before the reset key: --baud (0: none
  // named) with --parity (a LineSettings parity, kNotGiven without one) and
  // --stop-bits (1 or 2, 0 without), --search, --no-reset-key.
  static constexpr uint32_t kNotGiven = 0xFF;
  uint32_t baud = 0;
  uint32_t parity = kNotGiven;
  uint32_t stopBits = 0;
  bool search = false;
  bool noResetKey = false;
  std::vector<std::string> commands;  // at: the module's commands, in order
  bool stopOnError = false;           // at: none sent after an "ERROR"

  // Two command lines that mean the same thing.
  bool operator==(const Options&) const = default;
};

enum class OptionKind {
  Flag,    // takes no value: sets its field
  Text,    // its value, the last one given
  List,    // each value given, in turn
  Number,  // a whole number from `low` to `high`
  Share,   // a per cent from 0 to 100, to 4 decimals, in kShareMinimumPerPercent
  Choice,  // one of `choices`' words
  Word,    // one of `words`, its code into a number
  Help,    // the command's help instead of the command
};

// The field an option's value goes to; `kind` says which member it is.
union OptionTarget {
  bool Options::*flag;
  std::string Options::*text;
  std::vector<std::string> Options::*list;
  uint32_t Options::*number;
  Role Options::*choice;
};

struct OptionChoice {
  const char* word;
  Role value;
};

struct OptionWord {
  const char* word;
  uint32_t code;
  // The same value as read, JSON and profiles print it ("Even Parity").
  const char* alias = nullptr;
};

struct OptionSpec {
  const char* longName;  // "count" for --count; null for a short name alone
  char shortName;        // 'v' for -v; 0 for none
  OptionKind kind;
  OptionTarget target;
  const char* valueName;  // "N" for the help's "--count N"; null for a flag
  const char* help;       // null: left out of the help (--help itself)
  uint32_t low = 0;       // Number: the range, and what it counts
  uint32_t high = 0;
  const char* unit = nullptr;
  std::span<const OptionChoice> choices = {};
  std::span<const OptionWord> words = {};
};

// The records each kind of option is, as git's OPT_ macros make them.
constexpr OptionSpec flagOption(const char* name, char shortName, bool Options::*target,
                                const char* help) {
  return {name, shortName, OptionKind::Flag, {.flag = target}, nullptr, help};
}
constexpr OptionSpec textOption(const char* name, std::string Options::*target,
                                const char* valueName, const char* help) {
  return {name, 0, OptionKind::Text, {.text = target}, valueName, help};
}
constexpr OptionSpec listOption(const char* name, std::vector<std::string> Options::*target,
                                const char* valueName, const char* help) {
  return {name, 0, OptionKind::List, {.list = target}, valueName, help};
}
constexpr OptionSpec numberOption(const char* name, uint32_t Options::*target,
                                  const char* valueName, const char* help, uint32_t low,
                                  uint32_t high, const char* unit) {
  return {name, 0, OptionKind::Number, {.number = target}, valueName, help, low, high, unit};
}
constexpr OptionSpec shareOption(const char* name, uint32_t Options::*target, const char* valueName,
                                 const char* help) {
  return {name, 0, OptionKind::Share, {.number = target}, valueName, help};
}
constexpr OptionSpec choiceOption(const char* name, Role Options::*target, const char* valueName,
                                  const char* help, std::span<const OptionChoice> choices) {
  return {name, 0, OptionKind::Choice, {.choice = target}, valueName, help, 0, 0, nullptr, choices};
}

constexpr OptionSpec wordOption(const char* name, uint32_t Options::*target, const char* valueName,
                                const char* help, std::span<const OptionWord> words) {
  return {name, 0, OptionKind::Word, {.number = target}, valueName, help, 0, 0, nullptr, {}, words};
}

// The options that more than one command takes, each placed in its
// command's table where that command's help lists it.
inline constexpr OptionChoice kRoles[] = {{"master", Role::Master}, {"slave", Role::Slave}};
inline constexpr OptionSpec kRoleOption =
    choiceOption("role", &Options::role, "master|slave", "the role the module must have", kRoles);
inline constexpr OptionSpec kJsonOption =
    flagOption("json", 0, &Options::json, "one JSON object (UTF-8) on standard output, not text");
inline constexpr OptionSpec kQuietOption =
    flagOption("quiet", 0, &Options::quiet, "print only the result line");

// A command: its operands, its own options (every command also takes
// --log, -v and --help), its help and what runs it.
struct CommandSpec {
  const char* name;
  size_t minPorts;
  size_t maxPorts;          // one more operand is the settings file where fileOperand says so
  const char* fileOperand;  // "FILE" or null
  bool needsRole;           // refused without --role master or slave
  std::span<const OptionSpec> options;
  const char* usage;
  const char* summary;
  std::string (*moreHelp)();  // what its help tells after the options; null for nothing
  int (*run)(const Options& o);
  // It finds a module: it takes --baud, --parity, --stop-bits, --search
  // and --no-reset-key.
  bool findsModule = false;
  // Operands after the ports, one or more, in Options::commands ("COMMAND").
  const char* commandOperands = nullptr;
};

using CommandList = std::span<const CommandSpec* const>;

// False with a message for a command line that means nothing. A value
// follows its option as the next argument or after "=" (--count=5); a
// flag given a value is refused.
bool parseOptions(const std::vector<std::string>& args, CommandList commands, Options* options,
                  std::string* message);

// What --help prints: the whole usage, or one command's.
std::string usageText(CommandList commands);
std::string commandHelp(const CommandSpec& command);

}  // namespace cli
