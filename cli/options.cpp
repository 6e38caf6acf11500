#include "cli/options.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "cli/cli.h"
#include "module/range_test.h"
#include "module/settings_file.h"

namespace cli {

namespace {

struct OptionEntry {
  const char* name;
  const char* value;  // what follows it, null for a flag
  const char* help;
};

constexpr OptionEntry kOptions[] = {
    {"--role", "master|slave", "the module's role (read: refuse the other role's module)"},
    {"--json", nullptr, "one JSON object on standard output (UTF-8) instead of text"},
    {"--quiet", nullptr, "print only the result line"},
    {"--set", "\"KEY=VALUE\"", "one value to write, as a settings file names it (repeatable)"},
    {"--dry-run", nullptr, "show what would change, write nothing"},
    {"--make-pair", nullptr, "make the two modules a pair (PAN ID, destinations)"},
    {"--record", "FILE.csv", "append the run's line to this record"},
    {"--count", "N", "packets each way"},
    {"--size", "BYTES", "bytes a packet"},
    {"--min-received", "PERCENT", "the share each way must reach, else exit 6"},
    {"--log", "FILE", "the line log (what goes over each port) into FILE"},
    {"-v", nullptr, "the line log on standard error as it goes"},
};

struct CommandEntry {
  const char* name;
  Command command;
  size_t minPorts;
  size_t maxPorts;          // one more operand is the settings file where fileOperand says so
  const char* fileOperand;  // "FILE" or null
  const char* options;      // space-separated, besides --log, -v and --help
  const char* usage;
  const char* summary;
};

constexpr CommandEntry kCommands[] = {
    {"ports", Command::Ports, 0, 0, nullptr, "--json", "nlconf-cli ports [--json]",
     "Lists the serial ports."},
    {"read", Command::Read, 1, 1, nullptr, "--role --json",
     "nlconf-cli read PORT [--role master|slave] [--json]",
     "Reads a module and prints its settings as a settings file that loads."},
    {"write", Command::Write, 1, 1, "FILE", "--role --set --dry-run --json --quiet",
     "nlconf-cli write PORT --role master|slave [FILE] [--set \"KEY=VALUE\"]... [--dry-run]\n"
     "                 [--json] [--quiet]",
     "Writes the role's section of FILE and each --set into a module. A FILE needs a\n"
     "section for the role. Ends with \"Written.\" or \"Nothing to write.\"."},
    {"link-test", Command::LinkTest, 2, 2, nullptr, "--json --quiet",
     "nlconf-cli link-test MASTER SLAVE [--json] [--quiet]",
     "Sends text through the radio both ways. On Link NG it reads both modules\n"
     "and says when they are no pair."},
    {"pair", Command::Pair, 2, 2, "FILE", "--make-pair --record --json --quiet",
     "nlconf-cli pair MASTER SLAVE [FILE] [--make-pair] [--record FILE.csv] [--json] [--quiet]",
     "The production run: reads both, applies the profile FILE, writes, checks,\n"
     "tests the link; prints PASS or FAIL with both modules' serial numbers."},
    {"range-test", Command::RangeTest, 1, 2, nullptr, "--count --size --min-received --json",
     "nlconf-cli range-test MASTER [SLAVE] [--count N] [--size BYTES]\n"
     "                      [--min-received PERCENT] [--json]",
     "Sends numbered packets in transparent mode and counts them each way.\n"
     "Without SLAVE: the far module has a loopback plug (round trips)."},
};

constexpr char kExitCodes[] =
    "Exit codes:\n"
    "  0  done\n"
    "  1  usage (also one port named for both modules)\n"
    "  2  a file or value refused\n"
    "  3  no port, or a communication error\n"
    "  4  the wrong role\n"
    "  5  cancelled\n"
    "  6  Link NG, or a check after writing failed, or a range test below\n"
    "     --min-received\n"
    "  7  an output could not be written (the modules are done)\n"
    "  130  stopped at once by a second Ctrl+C (or SIGINT or SIGTERM after\n"
    "       another signal): \"ATCN\" sent, no reply awaited\n";

const CommandEntry* commandNamed(const std::string& name) {
  for (const CommandEntry& c : kCommands) {
    if (name == c.name)
      return &c;
  }
  return nullptr;
}

const CommandEntry* entryOf(Command command) {
  for (const CommandEntry& c : kCommands) {
    if (c.command == command)
      return &c;
  }
  return nullptr;
}

const OptionEntry* optionNamed(const std::string& name) {
  for (const OptionEntry& o : kOptions) {
    if (name == o.name)
      return &o;
  }
  return nullptr;
}

bool allowed(const CommandEntry& c, const std::string& option) {
  if (option == "--log" || option == "-v")
    return true;
  const std::string list = std::string(" ") + c.options + " ";
  return list.find(" " + option + " ") != std::string::npos;
}

bool looksLikeOption(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-';
}

bool isHelp(const std::string& arg) {
  return arg == "--help" || arg == "-h";
}

// Digits only, with at most one decimal point where a fraction makes sense.
bool parseNumber(const std::string& text, bool fraction, double* value) {
  if (text.empty() || text.size() > 12)
    return false;
  bool point = false;
  for (char c : text) {
    if (c == '.' && fraction && !point)
      point = true;
    else if (c < '0' || c > '9')
      return false;
  }
  if (text.front() == '.' || text.back() == '.')
    return false;
  *value = std::strtod(text.c_str(), nullptr);
  return true;
}

// A per cent from 0 to 100 in steps of kShareMinimumPerPercent, exactly:
// a fraction finer than a run's shares is refused, not rounded.
bool parseMinimum(const std::string& text, uint32_t* minimum) {
  double checked = 0;
  if (!parseNumber(text, true, &checked) || checked > 100)
    return false;
  uint64_t scaled = 0;
  int decimals = -1;  // before the point
  for (char c : text) {
    if (c == '.') {
      decimals = 0;
    } else if (decimals >= 4) {
      if (c != '0')
        return false;
    } else {
      scaled = scaled * 10 + static_cast<uint64_t>(c - '0');
      decimals += decimals >= 0;
    }
  }
  for (int d = decimals < 0 ? 0 : decimals; d < 4; ++d)
    scaled *= 10;
  *minimum = static_cast<uint32_t>(scaled);
  return true;
}

bool storeRangeValue(Options* o, const std::string& option, const std::string& value,
                     std::string* message) {
  double v = 0;
  if (option == "--count" && parseNumber(value, false, &v) && v >= 1 && v <= 1000000) {
    o->count = static_cast<uint32_t>(v);
    return true;
  }
  if (option == "--size" && parseNumber(value, false, &v) && v >= kRangeMinSize &&
      v <= kRangeMaxSize) {
    o->size = static_cast<uint32_t>(v);
    return true;
  }
  if (option == "--min-received" && parseMinimum(value, &o->minReceived))
    return true;
  if (option == "--count")
    *message = "--count takes a number of packets from 1 to 1000000, not \"" + value + "\".";
  else if (option == "--size")
    *message = "--size takes a number of bytes from " + std::to_string(kRangeMinSize) + " to " +
               std::to_string(kRangeMaxSize) + ", not \"" + value + "\".";
  else
    *message = "--min-received takes a per cent from 0 to 100, to 4 decimals at most, not \"" +
               value + "\".";
  return false;
}

bool store(Options* o, const std::string& option, const std::string& value, std::string* message) {
  if (option == "--count" || option == "--size" || option == "--min-received")
    return storeRangeValue(o, option, value, message);
  if (option == "--role") {
    if (value == "master") {
      o->role = Role::Master;
    } else if (value == "slave") {
      o->role = Role::Slave;
    } else {
      *message = "--role takes master or slave, not \"" + value + "\".";
      return false;
    }
  } else if (option == "--set") {
    o->sets.push_back(value);
  } else if (option == "--record") {
    o->record = value;
  } else if (option == "--log") {
    o->log = value;
  }
  return true;
}

void storeFlag(Options* o, const std::string& option) {
  if (option == "--json")
    o->json = true;
  else if (option == "--quiet")
    o->quiet = true;
  else if (option == "--dry-run")
    o->dryRun = true;
  else if (option == "--make-pair")
    o->makePair = true;
  else if (option == "-v")
    o->verbose = true;
}

std::string seeHelp(const CommandEntry* c) {
  return c ? std::string(" See nlconf-cli ") + c->name + " --help."
           : std::string(" See nlconf-cli --help.");
}

bool parseHelpCommand(const std::vector<std::string>& args, Options* o, std::string* message) {
  o->command = Command::Help;
  if (args.size() == 1)
    return true;
  const CommandEntry* c = args.size() == 2 ? commandNamed(args[1]) : nullptr;
  if (!c) {
    *message = args.size() == 2 ? "There is no command \"" + args[1] + "\"." + seeHelp(nullptr)
                                : "help takes one command." + seeHelp(nullptr);
    return false;
  }
  o->helpFor = c->command;
  return true;
}

// An option's value that is itself an option is taken for a forgotten value.
bool takeValue(const std::vector<std::string>& args, size_t* i, const std::string& option,
               std::string* value, std::string* message) {
  if (*i + 1 >= args.size()) {
    *message = option + " needs a value.";
    return false;
  }
  const std::string& next = args[*i + 1];
  if (looksLikeOption(next)) {
    *message = option + " needs a value, not the option \"" + next + "\".";
    return false;
  }
  *value = next;
  ++*i;
  return true;
}

bool checkOperands(const CommandEntry& c, std::vector<std::string>& operands, Options* o,
                   std::string* message) {
  const size_t files = c.fileOperand ? 1 : 0;
  if (operands.size() < c.minPorts || operands.size() > c.maxPorts + files) {
    *message = std::string("Wrong number of operands for ") + c.name + "." + seeHelp(&c);
    return false;
  }
  // range-test's SLAVE is optional: fewer operands than maxPorts are all ports.
  const size_t ports = std::min(operands.size(), c.maxPorts);
  o->ports.assign(operands.begin(), operands.begin() + static_cast<std::ptrdiff_t>(ports));
  if (operands.size() > c.maxPorts)
    o->file = operands.back();
  if (o->command == Command::Write && o->role == Role::Any) {
    *message = "write needs --role master or --role slave.";
    return false;
  }
  return true;
}

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options* o, std::string* message) {
  *o = Options{};
  if (args.empty()) {
    *message = "No command given." + seeHelp(nullptr);
    return false;
  }
  if (args[0] == "--version" && args.size() == 1) {
    o->command = Command::Version;
    return true;
  }
  if (args[0] == "help" || isHelp(args[0]))
    return parseHelpCommand(args, o, message);
  const CommandEntry* c = commandNamed(args[0]);
  if (!c) {
    *message = (looksLikeOption(args[0]) ? "A command comes first, not \"" + args[0] + "\"."
                                         : "Unknown command \"" + args[0] + "\".") +
               seeHelp(nullptr);
    return false;
  }
  o->command = c->command;
  // Known before anything can be refused: a refusal is JSON too.
  const auto end = std::find(args.begin() + 1, args.end(), "--");
  o->json = allowed(*c, "--json") && std::find(args.begin() + 1, end, "--json") != end;
  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || !looksLikeOption(a)) {
      operands.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    if (isHelp(a)) {
      *o = Options{};
      o->command = Command::Help;
      o->helpFor = c->command;
      return true;
    }
    const OptionEntry* option = optionNamed(a);
    if (!option || !allowed(*c, a)) {
      *message = (option ? "\"" + a + "\" is no option of " + c->name + "."
                         : "Unknown option \"" + a + "\".") +
                 seeHelp(c);
      return false;
    }
    if (!option->value) {
      storeFlag(o, a);
      continue;
    }
    std::string value;
    if (!takeValue(args, &i, a, &value, message) || !store(o, a, value, message))
      return false;
  }
  return checkOperands(*c, operands, o, message);
}

std::string usageText() {
  std::string text = "Usage:\n";
  for (const CommandEntry& c : kCommands)
    text += std::string("  ") + c.usage + "\n";
  text +=
      "  nlconf-cli help COMMAND | COMMAND --help\n"
      "  nlconf-cli --help | --version\n"
      "\n"
      "PORT is COM5 on Windows, a device such as /dev/ttyUSB0 on Linux.\n"
      "Every command also takes --log FILE (the line log) and -v (the line log on\n"
      "standard error as it goes); -- ends the options. Ctrl+C cancels as the\n"
      "dialog's Cancel does; a second one stops at once.\n"
      "\n";
  return text + kExitCodes;
}

// One command's usage, summary and options; write's also lists every key
// and value that a settings file or --set takes.
std::string commandHelp(Command command) {
  const CommandEntry* c = entryOf(command);
  if (!c)
    return usageText();
  std::string text = std::string("Usage: ") + c->usage + "\n\n" + c->summary + "\n\nOptions:\n";
  for (const OptionEntry& o : kOptions) {
    if (!allowed(*c, o.name))
      continue;
    std::string left = std::string(o.name) + (o.value ? std::string(" ") + o.value : "");
    left.resize(left.size() < 24 ? 24 : left.size() + 1, ' ');
    text += "  " + left + o.help + "\n";
  }
  text += "  --                      end of the options\n";
  if (command == Command::Write) {
    text += "\nKeys and values (--set \"KEY=VALUE\", or KEY = VALUE in a file):\n";
    for (Setting setting : kAllSettings) {
      const SettingInfo& info = settingInfo(setting);
      if (!(info.flags & kChoice))
        continue;
      text += "  " + narrow(info.label) + ":";
      for (int32_t i = 0; i < info.choices->count; ++i)
        text += (i ? ", " : " ") + narrow(info.choices->entries[i]);
      text += info.slaveOnly ? " (slave only)\n" : "\n";
    }
  }
  return text + "\n" + kExitCodes;
}

}  // namespace cli
