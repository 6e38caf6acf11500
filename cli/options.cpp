#include "cli/options.h"

#include <algorithm>
#include <cstdlib>

#include "module/range_test.h"

namespace cli {

const char kUsage[] =
    "Usage:\n"
    "  nlconf-cli ports\n"
    "  nlconf-cli read PORT [--role master|slave] [--json]\n"
    "  nlconf-cli write PORT --role master|slave [FILE] [--set \"KEY=VALUE\"]... [--dry-run]\n"
    "  nlconf-cli link-test MASTER SLAVE\n"
    "  nlconf-cli pair MASTER SLAVE [FILE] [--make-pair] [--record FILE.csv]\n"
    "  nlconf-cli range-test MASTER [SLAVE] [--count N] [--size BYTES]\n"
    "                        [--min-received PERCENT] [--json]\n"
    "  nlconf-cli --help | --version\n"
    "\n"
    "PORT is COM5 on Windows, a device such as /dev/ttyUSB0 on Linux.\n"
    "range-test without SLAVE: the far module has a loopback plug.\n"
    "Every command also takes --log FILE (the line log) and -v (the line log on\n"
    "standard error as it goes). Ctrl+C cancels as the dialog's Cancel does.\n"
    "\n"
    "Exit codes:\n"
    "  0  done\n"
    "  1  usage\n"
    "  2  a file or value refused\n"
    "  3  no port, or a communication error\n"
    "  4  the wrong role\n"
    "  5  cancelled\n"
    "  6  Link NG, or a check after writing failed, or a range test below\n"
    "     --min-received\n";

namespace {

struct CommandName {
  const char* name;
  Command command;
  size_t minPorts;
  size_t maxPorts;  // more operands are the settings file
};

constexpr CommandName kCommands[] = {
    {"ports", Command::Ports, 0, 0}, {"read", Command::Read, 1, 1},
    {"write", Command::Write, 1, 1}, {"link-test", Command::LinkTest, 2, 2},
    {"pair", Command::Pair, 2, 2},   {"range-test", Command::RangeTest, 1, 2},
};

bool takesFile(Command c) {
  return c == Command::Write || c == Command::Pair;
}

bool parseRole(const std::string& text, Role* role) {
  if (text == "master")
    *role = Role::Master;
  else if (text == "slave")
    *role = Role::Slave;
  else
    return false;
  return true;
}

// Which options each command takes.
bool allowed(Command c, const std::string& option) {
  if (option == "--role")
    return c == Command::Read || c == Command::Write;
  if (option == "--json")
    return c == Command::Read || c == Command::RangeTest;
  if (option == "--count" || option == "--size" || option == "--min-received")
    return c == Command::RangeTest;
  if (option == "--set" || option == "--dry-run")
    return c == Command::Write;
  if (option == "--make-pair" || option == "--record")
    return c == Command::Pair;
  return option == "--log" || option == "-v";
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
  if (option == "--min-received" && parseNumber(value, true, &v) && v <= 100) {
    o->minReceived = v;
    return true;
  }
  if (option == "--count")
    *message = "--count takes a number of packets from 1 to 1000000, not \"" + value + "\".";
  else if (option == "--size")
    *message = "--size takes a number of bytes from " + std::to_string(kRangeMinSize) + " to " +
               std::to_string(kRangeMaxSize) + ", not \"" + value + "\".";
  else
    *message = "--min-received takes a per cent from 0 to 100, not \"" + value + "\".";
  return false;
}

bool takesValue(const std::string& option) {
  return option == "--role" || option == "--set" || option == "--record" || option == "--log" ||
         option == "--count" || option == "--size" || option == "--min-received";
}

bool store(Options* o, const std::string& option, const std::string& value, std::string* message) {
  if (option == "--role" && !parseRole(value, &o->role)) {
    *message = "--role takes master or slave, not \"" + value + "\".";
    return false;
  }
  if (option == "--count" || option == "--size" || option == "--min-received")
    return storeRangeValue(o, option, value, message);
  if (option == "--set")
    o->sets.push_back(value);
  else if (option == "--record")
    o->record = value;
  else if (option == "--log")
    o->log = value;
  return true;
}

void storeFlag(Options* o, const std::string& option) {
  if (option == "--json")
    o->json = true;
  else if (option == "--dry-run")
    o->dryRun = true;
  else if (option == "--make-pair")
    o->makePair = true;
  else if (option == "-v")
    o->verbose = true;
}

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options* o, std::string* message) {
  *o = Options{};
  if (args.empty()) {
    *message = "No command given.";
    return false;
  }
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      o->command = Command::Help;
      return true;
    }
  }
  if (args[0] == "--version") {
    o->command = Command::Version;
    return true;
  }
  const CommandName* command = nullptr;
  for (const CommandName& c : kCommands) {
    if (args[0] == c.name)
      command = &c;
  }
  if (!command) {
    *message = "Unknown command \"" + args[0] + "\".";
    return false;
  }
  o->command = command->command;
  std::vector<std::string> operands;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() < 2 || a[0] != '-') {
      operands.push_back(a);
      continue;
    }
    if (!allowed(o->command, a)) {
      *message = "\"" + a + "\" is no option of " + command->name + ".";
      return false;
    }
    if (!takesValue(a)) {
      storeFlag(o, a);
      continue;
    }
    if (i + 1 >= args.size()) {
      *message = a + " needs a value.";
      return false;
    }
    if (!store(o, a, args[++i], message))
      return false;
  }
  const size_t files = takesFile(o->command) ? 1 : 0;
  if (operands.size() < command->minPorts || operands.size() > command->maxPorts + files) {
    *message = std::string("Wrong number of operands for ") + command->name + ".";
    return false;
  }
  // range-test's SLAVE is optional: fewer operands than maxPorts are all ports.
  const size_t ports = std::min(operands.size(), command->maxPorts);
  o->ports.assign(operands.begin(), operands.begin() + static_cast<std::ptrdiff_t>(ports));
  if (operands.size() > command->maxPorts)
    o->file = operands.back();
  if (o->command == Command::Write && o->role == Role::Any) {
    *message = "write needs --role master or --role slave.";
    return false;
  }
  return true;
}

}  // namespace cli
