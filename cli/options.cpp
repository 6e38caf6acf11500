#include "cli/options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace cli {

namespace {

// What every command takes besides its own, after them in its help.
constexpr OptionSpec kCommonOptions[] = {
    textOption("log", &Options::log, "FILE", "the line log (what goes over each port) into FILE"),
    flagOption(nullptr, 'v', &Options::verbose, "the line log on standard error as it goes"),
    {"help", 'h', OptionKind::Help, {.flag = nullptr}, nullptr, nullptr},
};

constexpr OptionWord kParities[] = {{"none", os::kNoParity, "No Parity"},
                                    {"even", os::kEvenParity, "Even Parity"},
                                    {"odd", os::kOddParity, "Odd Parity"},
                                    {"mark", os::kMarkParity, "Mark Parity"}};
constexpr OptionWord kStopBits[] = {{"1", 1, "One Stop Bit"}, {"2", 2, "Two Stop Bits"}};

// What every command that finds a module takes, after its own.
constexpr OptionSpec kLineOptions[] = {
    numberOption("baud", &Options::baud, "RATE", "try this rate first (8 data bits)", 128, 4000000,
                 "bits per second"),
    wordOption("parity", &Options::parity, "PARITY", "with --baud: none, even, odd or mark",
               kParities),
    wordOption("stop-bits", &Options::stopBits, "1|2", "with --baud: its stop bits", kStopBits),
    flagOption("search", 0, &Options::search, "try every setting a module can have before the key"),
    flagOption("no-reset-key", 0, &Options::noResetKey,
               "never ask for the reset key: exit 3 if none is found"),
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
    "     --min-received, or a module answered ERROR (at)\n"
    "  7  an output could not be written (the modules are done)\n"
    "  130  stopped at once by a second Ctrl+C (or SIGINT or SIGTERM after\n"
    "       another signal): \"ATCN\" sent, no reply awaited\n";

const CommandSpec* commandNamed(CommandList commands, const std::string& name) {
  for (const CommandSpec* c : commands) {
    if (name == c->name)
      return c;
  }
  return nullptr;
}

// "--count" or "-v", as the command line gives it.
std::string shownName(const OptionSpec& spec) {
  return spec.longName ? std::string("--") + spec.longName : std::string("-") + spec.shortName;
}

bool named(const OptionSpec& spec, const std::string& name) {
  if (name.size() > 2 && name[1] == '-')
    return spec.longName && name.compare(2, std::string::npos, spec.longName) == 0;
  return spec.shortName && name.size() == 2 && name[1] == spec.shortName;
}

const OptionSpec* optionIn(std::span<const OptionSpec> table, const std::string& name) {
  for (const OptionSpec& spec : table) {
    if (named(spec, name))
      return &spec;
  }
  return nullptr;
}

std::span<const OptionSpec> lineOptionsOf(const CommandSpec& c) {
  return c.findsModule ? std::span<const OptionSpec>(kLineOptions) : std::span<const OptionSpec>();
}

// The command's own table, then the line options, then the common one.
const OptionSpec* optionOf(const CommandSpec& c, const std::string& name) {
  for (std::span<const OptionSpec> table : {c.options, lineOptionsOf(c)}) {
    if (const OptionSpec* spec = optionIn(table, name))
      return spec;
  }
  return optionIn(kCommonOptions, name);
}

bool anyCommandTakes(CommandList commands, const std::string& name) {
  return std::any_of(commands.begin(), commands.end(), [&](const CommandSpec* c) {
    return optionIn(c->options, name) || optionIn(lineOptionsOf(*c), name);
  });
}

bool takesJson(const CommandSpec& c) {
  return std::any_of(c.options.begin(), c.options.end(), [](const OptionSpec& spec) {
    return spec.kind == OptionKind::Flag && spec.target.flag == &Options::json;
  });
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

bool sameWord(const std::string& value, const char* word) {
  size_t i = 0;
  for (; word[i] && i < value.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(value[i])) !=
        std::tolower(static_cast<unsigned char>(word[i])))
      return false;
  }
  return !word[i] && i == value.size();
}

// "master or slave"; "a, b or c".
template <typename Word>
std::string wordsText(std::span<const Word> choices) {
  std::string text;
  for (size_t i = 0; i < choices.size(); ++i)
    text += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + std::string(choices[i].word);
  return text;
}

bool storeChoice(Options* o, const OptionSpec& spec, const std::string& value,
                 std::string* message) {
  for (const OptionChoice& choice : spec.choices) {
    if (value == choice.word) {
      o->*spec.target.choice = choice.value;
      return true;
    }
  }
  *message = shownName(spec) + " takes " + wordsText(spec.choices) + ", not \"" + value + "\".";
  return false;
}

bool store(Options* o, const OptionSpec& spec, const std::string& value, std::string* message) {
  const std::string refused = ", not \"" + value + "\".";
  double number = 0;
  switch (spec.kind) {
    case OptionKind::Text:
      o->*spec.target.text = value;
      return true;
    case OptionKind::List:
      (o->*spec.target.list).push_back(value);
      return true;
    case OptionKind::Number:
      if (parseNumber(value, false, &number) && number >= spec.low && number <= spec.high) {
        o->*spec.target.number = static_cast<uint32_t>(number);
        return true;
      }
      *message = shownName(spec) + " takes a number of " + spec.unit + " from " +
                 std::to_string(spec.low) + " to " + std::to_string(spec.high) + refused;
      return false;
    case OptionKind::Share:
      if (parseMinimum(value, &(o->*spec.target.number)))
        return true;
      *message =
          shownName(spec) + " takes a per cent from 0 to 100, to 4 decimals at most" + refused;
      return false;
    case OptionKind::Choice:
      return storeChoice(o, spec, value, message);
    case OptionKind::Word:
      for (const OptionWord& word : spec.words) {
        if (sameWord(value, word.word) || (word.alias && sameWord(value, word.alias))) {
          o->*spec.target.number = word.code;
          return true;
        }
      }
      *message = shownName(spec) + " takes " + wordsText(spec.words) + refused;
      return false;
    default:
      return true;
  }
}

std::string seeHelp(const CommandSpec* c) {
  return c ? std::string(" See nlconf-cli ") + c->name + " --help."
           : std::string(" See nlconf-cli --help.");
}

bool parseHelpCommand(const std::vector<std::string>& args, CommandList commands, Options* o,
                      std::string* message) {
  o->asked = Asked::Help;
  if (args.size() == 1 || (args.size() == 2 && isHelp(args[1])))
    return true;
  const CommandSpec* c = args.size() == 2 ? commandNamed(commands, args[1]) : nullptr;
  if (!c) {
    *message = args.size() == 2 ? "There is no command \"" + args[1] + "\"." + seeHelp(nullptr)
                                : "help takes one command." + seeHelp(nullptr);
    return false;
  }
  o->command = c;
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

bool checkOperands(const CommandSpec& c, std::vector<std::string>& operands, Options* o,
                   std::string* message) {
  if (c.commandOperands && operands.size() > c.maxPorts) {
    o->commands.assign(operands.begin() + static_cast<std::ptrdiff_t>(c.maxPorts), operands.end());
    operands.resize(c.maxPorts);
  } else if (c.commandOperands) {
    *message = std::string(c.name) + " needs a " + c.commandOperands + "." + seeHelp(&c);
    return false;
  }
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
  if (c.needsRole && o->role == Role::Any) {
    *message = std::string(c.name) + " needs --role master or --role slave.";
    return false;
  }
  if (o->baud == 0 && (o->parity != Options::kNotGiven || o->stopBits != 0)) {
    *message = "--parity and --stop-bits go with --baud RATE." + seeHelp(&c);
    return false;
  }
  return true;
}

// One option and, where it takes one, its value; false with the message.
// `*i` moves past a value taken from the next argument. A value after "="
// is taken as it is, even one that looks like an option.
bool parseOption(const std::vector<std::string>& args, size_t* i, CommandList commands,
                 const CommandSpec& c, Options* o, std::string* message) {
  const std::string& arg = args[*i];
  const size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
  const std::string name = arg.substr(0, equals);
  const OptionSpec* spec = optionOf(c, name);
  if (!spec) {
    *message = (anyCommandTakes(commands, name) ? "\"" + name + "\" is no option of " + c.name + "."
                                                : "Unknown option \"" + arg + "\".") +
               seeHelp(&c);
    return false;
  }
  const bool takesNone = spec->kind == OptionKind::Flag || spec->kind == OptionKind::Help;
  if (takesNone && equals != std::string::npos) {
    *message = name + " takes no value, not \"" + arg.substr(equals + 1) + "\"." + seeHelp(&c);
    return false;
  }
  if (spec->kind == OptionKind::Help) {
    *o = Options{};
    o->asked = Asked::Help;
    o->command = &c;
    return true;
  }
  if (spec->kind == OptionKind::Flag) {
    o->*spec->target.flag = true;
    return true;
  }
  std::string value;
  if (equals != std::string::npos)
    value = arg.substr(equals + 1);
  else if (!takeValue(args, i, name, &value, message))
    return false;
  return store(o, *spec, value, message);
}

}  // namespace

bool parseOptions(const std::vector<std::string>& args, CommandList commands, Options* o,
                  std::string* message) {
  *o = Options{};
  if (args.empty()) {
    *message = "No command given." + seeHelp(nullptr);
    return false;
  }
  const bool version = std::find(args.begin(), args.end(), "--version") != args.end();
  const bool json = std::find(args.begin(), args.end(), "--json") != args.end();
  if (version && args.size() == (json ? 2u : 1u)) {
    o->asked = Asked::Version;
    o->json = json;
    return true;
  }
  if (args[0] == "help" || isHelp(args[0]))
    return parseHelpCommand(args, commands, o, message);
  const CommandSpec* c = commandNamed(commands, args[0]);
  if (!c) {
    *message = (looksLikeOption(args[0]) ? "A command comes first, not \"" + args[0] + "\"."
                                         : "Unknown command \"" + args[0] + "\".") +
               seeHelp(nullptr);
    return false;
  }
  o->asked = Asked::Run;
  o->command = c;
  // Known before anything can be refused: a refusal is JSON too.
  const auto end = std::find(args.begin() + 1, args.end(), "--");
  o->json = takesJson(*c) && std::find(args.begin() + 1, end, "--json") != end;
  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || !looksLikeOption(a)) {
      operands.push_back(a);
    } else if (a == "--") {
      optionsEnded = true;
    } else if (!parseOption(args, &i, commands, *c, o, message)) {
      return false;
    } else if (o->asked == Asked::Help) {
      return true;
    }
  }
  return checkOperands(*c, operands, o, message);
}

std::string usageText(CommandList commands) {
  std::string text = "Usage:\n";
  for (const CommandSpec* c : commands)
    text += std::string("  ") + c->usage + "\n";
  text +=
      "  nlconf-cli help COMMAND | COMMAND --help\n"
      "  nlconf-cli --help | --version\n"
      "\n"
      "PORT is COM5 on Windows, a device such as /dev/ttyUSB0 on Linux.\n"
      "Every command also takes --log FILE (the line log) and -v (the line log on\n"
      "standard error as it goes); -- ends the options. Each one that finds a module\n"
      "takes --baud RATE [--parity PARITY] [--stop-bits 1|2] (where to look first),\n"
      "--search (every setting a module can have) and --no-reset-key (exit 3 rather\n"
      "than ask for the key). Ctrl+C cancels as the dialog's Cancel does; a second\n"
      "one stops at once.\n"
      "\n";
  return text + kExitCodes;
}

namespace {

void addOptionLines(std::string& text, std::span<const OptionSpec> table) {
  for (const OptionSpec& o : table) {
    if (!o.help)
      continue;
    std::string left = shownName(o) + (o.valueName ? std::string(" ") + o.valueName : "");
    left.resize(left.size() < 24 ? 24 : left.size() + 1, ' ');
    text += "  " + left + o.help + "\n";
  }
}

}  // namespace

// One command's usage, summary and options, and what more it tells.
std::string commandHelp(const CommandSpec& c) {
  std::string text = std::string("Usage: ") + c.usage + "\n\n" + c.summary + "\n\nOptions:\n";
  addOptionLines(text, c.options);
  addOptionLines(text, lineOptionsOf(c));
  addOptionLines(text, kCommonOptions);
  text += "  --                      end of the options\n";
  if (c.moreHelp)
    text += c.moreHelp();
  return text + "\n" + kExitCodes;
}

}  // namespace cli
