#include "e2e/rig/simports/config.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "sim/presets.h"
#include "sim/registers.h"

namespace simports {
namespace {

constexpr uint32_t kMaxPorts = 16;

struct Preset {
  const char* name;
  sim::ModuleConfig (*make)();
};

constexpr Preset kPresets[] = {
    {"master", sim::presets::master},
    {"slave", sim::presets::slave},
    {"sleeping-slave", sim::presets::sleepingSlave},
    {"master-with-slave-role", sim::presets::masterWithSlaveRole},
    {"slave-with-master-role", sim::presets::slaveWithMasterRole},
    {"master-with-shared-role", sim::presets::masterWithSharedRole},
    {"slave-with-shared-role", sim::presets::slaveWithSharedRole},
    {"master-with-wrong-node-id", sim::presets::masterWithWrongNodeId},
    {"slave-with-wrong-node-id", sim::presets::slaveWithWrongNodeId},
    {"slave-with-wrong-destination", sim::presets::slaveWithWrongDestination},
    {"slave-with-other-pan-id", sim::presets::slaveWithOtherPanId},
};

std::string upper(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool parseDecimal(const std::string& text, uint64_t max, uint64_t& value) {
  if (text.empty() || text.size() > 12)
    return false;
  uint64_t v = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)))
      return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > max)
    return false;
  value = v;
  return true;
}

// "COM5", "com5" or "5".
bool parsePortName(const std::string& text, uint32_t& number) {
  std::string digits = text;
  if (digits.size() > 3 && upper(digits.substr(0, 3)) == "COM")
    digits = digits.substr(3);
  uint64_t value = 0;
  if (!parseDecimal(digits, 255, value) || value == 0)
    return false;
  number = static_cast<uint32_t>(value);
  return true;
}

bool applyOverride(const std::string& item, sim::ModuleConfig& config, std::string& error) {
  const size_t eq = item.find('=');
  if (eq == std::string::npos || eq == 0) {
    error = "override '" + item + "' is not name=value";
    return false;
  }
  const std::string name = lower(item.substr(0, eq));
  const std::string value = item.substr(eq + 1);
  if (name == "ni" || name == "tp") {
    if (value.empty() || value.size() > 20) {
      error = name + " must have 1 to 20 characters";
      return false;
    }
    (name == "ni" ? config.nodeId : config.tp) = value;
    return true;
  }
  const std::string letters = name == "baud" ? "BD" : upper(name);
  const sim::RegisterInfo* info = sim::findRegister(letters);
  uint64_t v = 0;
  if (info == nullptr) {
    error = "no register '" + letters + "'";
    return false;
  }
  if (!sim::parseHexParam(value, &v) || v > info->max) {
    error = "register " + letters + " takes a hexadecimal value up to " + sim::hexText(info->max) +
            ", not '" + value + "'";
    return false;
  }
  config.registers[letters] = v;
  return true;
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  std::string w;
  while (in >> w)
    out.push_back(w);
  return out;
}

// What follows the first `skip` words of the line, leading spaces dropped.
std::string restAfter(const std::string& line, size_t skip) {
  size_t pos = 0;
  for (size_t i = 0; i < skip; ++i) {
    while (pos < line.size() && std::isspace(static_cast<unsigned char>(line[pos])))
      ++pos;
    while (pos < line.size() && !std::isspace(static_cast<unsigned char>(line[pos])))
      ++pos;
  }
  while (pos < line.size() && std::isspace(static_cast<unsigned char>(line[pos])))
    ++pos;
  return line.substr(pos);
}

bool parseOnOff(const std::string& text, bool& on) {
  const std::string t = lower(text);
  if (t == "on" || t == "1") {
    on = true;
    return true;
  }
  if (t == "off" || t == "0") {
    on = false;
    return true;
  }
  return false;
}

bool commandLetters(const std::string& text, std::string& letters) {
  letters = upper(text);
  if (letters == "+++")
    return true;
  return letters.size() == 2 && std::isalnum(static_cast<unsigned char>(letters[0])) &&
         std::isalnum(static_cast<unsigned char>(letters[1]));
}

bool parseFault(const std::string& line, const std::vector<std::string>& w, Command& c,
                std::string& error) {
  if (w.size() < 3) {
    error = "fault needs a port and a kind";
    return false;
  }
  c.what = lower(w[2]);
  uint64_t n = 0;
  if (c.what == "replace") {
    if (w.size() < 4 || !commandLetters(w[3], c.text)) {
      error = "fault replace needs two command letters or +++";
      return false;
    }
    if (!decodeEscapes(restAfter(line, 4), c.reply)) {
      error = "bad escape in the reply text";
      return false;
    }
    return true;
  }
  if (c.what == "withhold") {
    if (w.size() < 4 || w.size() > 5 || !commandLetters(w[3], c.text) || c.text == "+++") {
      error = "fault withhold needs two command letters and an optional count";
      return false;
    }
    if (w.size() == 5) {
      if (!parseDecimal(w[4], 1000000, n) || n == 0) {
        error = "the count must be 1 or more";
        return false;
      }
      c.number = n;
    }
    return true;
  }
  if (c.what == "cts-low") {
    if (w.size() == 4) {
      if (!parseDecimal(w[3], 3600000, n)) {
        error = "cts-low takes a time in milliseconds";
        return false;
      }
      c.number = n;
    }
    return w.size() <= 4 || (error = "too many words", false);
  }
  if (c.what == "cts-ok" || c.what == "clear")
    return w.size() == 3 || (error = "too many words", false);
  if (c.what == "never-associates") {
    if (w.size() != 4 || !parseOnOff(w[3], c.on)) {
      error = "never-associates takes on or off";
      return false;
    }
    return true;
  }
  error = "unknown fault '" + w[2] + "'";
  return false;
}

bool parseRadio(const std::vector<std::string>& w, Command& c, std::string& error) {
  const char* const kUsage =
      "radio takes cut on|off, drop <n>, corrupt <n>, loss <percent> [COMn], "
      "corrupt-rate <percent>, delay <ms> or seed <n>";
  if (w.size() < 3) {
    error = "radio needs a setting and a value";
    return false;
  }
  c.what = lower(w[1]);
  // Only a loss rate may name the sending module's port: one direction.
  if (w.size() == 4 && !(c.what == "loss" && parsePortName(w[3], c.port))) {
    error = kUsage;
    return false;
  }
  if (w.size() > 4) {
    error = kUsage;
    return false;
  }
  if (c.what == "cut")
    return parseOnOff(w[2], c.on) || (error = "radio cut takes on or off", false);
  uint64_t n = 0;
  const bool rate = c.what == "loss" || c.what == "corrupt-rate";
  const uint64_t max = rate ? 100 : c.what == "delay" ? 60000 : c.what == "seed" ? ~0ull : 1000000;
  const bool known =
      rate || c.what == "delay" || c.what == "seed" || c.what == "drop" || c.what == "corrupt";
  if (known && parseDecimal(w[2], max, n)) {
    c.number = n;
    return true;
  }
  error = kUsage;
  return false;
}

bool parseSet(const std::vector<std::string>& w, Command& c, std::string& error) {
  if (w.size() != 4) {
    error = "set needs a port, a register and a hexadecimal value";
    return false;
  }
  c.what = upper(w[2]);
  if (c.what == "NI") {  // another module plugged in: its node identifier
    c.text = w[3];
    return w[3].size() <= 20 || (error = "ni must have 1 to 20 characters", false);
  }
  const sim::RegisterInfo* info = sim::findRegister(c.what);
  uint64_t v = 0;
  if (info == nullptr || !sim::parseHexParam(w[3], &v) || v > info->max) {
    error = "no register '" + w[2] + "' or a value out of its range";
    return false;
  }
  c.number = v;
  return true;
}

}  // namespace

std::string presetNames() {
  std::string names;
  for (const Preset& p : kPresets) {
    if (!names.empty())
      names += ", ";
    names += p.name;
  }
  return names;
}

bool parsePortSetup(const std::string& text, PortSetup& setup, std::string& error) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos) {
    error = "port '" + text + "' is not N=preset";
    return false;
  }
  if (!parsePortName(text.substr(0, eq), setup.number)) {
    error = "port number '" + text.substr(0, eq) + "' is not 1 to 255";
    return false;
  }
  const std::string rest = text.substr(eq + 1);
  const size_t colon = rest.find(':');
  setup.preset = lower(rest.substr(0, colon));
  setup.echo = setup.preset == "echo";
  if (setup.echo) {
    if (colon != std::string::npos)
      error = "an echo line takes no settings";
    return colon == std::string::npos;
  }
  const Preset* preset = nullptr;
  for (const Preset& p : kPresets) {
    if (setup.preset == p.name)
      preset = &p;
  }
  if (preset == nullptr) {
    error = "no preset '" + setup.preset + "' (there are: " + presetNames() + ", echo)";
    return false;
  }
  setup.config = preset->make();
  if (colon == std::string::npos)
    return true;
  std::string overrides = rest.substr(colon + 1);
  size_t start = 0;
  while (start <= overrides.size()) {
    const size_t comma = overrides.find(',', start);
    const std::string item = overrides.substr(start, comma - start);
    if (lower(item) == "plain")
      setup.plain = true;
    else if (!applyOverride(item, setup.config, error))
      return false;
    if (comma == std::string::npos)
      break;
    start = comma + 1;
  }
  return true;
}

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) {
      error = "'" + arg + "' needs a value";
      return false;
    }
    const std::string value = argv[++i];
    if (arg == "--dosdevices") {
      options.dosdevices = value;
    } else if (arg == "--run-dir") {
      options.runDir = value;
    } else if (arg == "--transcripts") {
      options.transcriptDir = value;
    } else if (arg == "--time-limit") {
      uint64_t s = 0;
      if (!parseDecimal(value, 86400, s)) {
        error = "--time-limit takes seconds, up to 86400";
        return false;
      }
      options.timeLimitS = static_cast<uint32_t>(s);
    } else if (arg == "--port") {
      PortSetup setup;
      if (!parsePortSetup(value, setup, error))
        return false;
      for (const PortSetup& other : options.ports) {
        if (other.number == setup.number) {
          error = "COM" + std::to_string(setup.number) + " given twice";
          return false;
        }
      }
      options.ports.push_back(setup);
    } else {
      error = "unknown option '" + arg + "'";
      return false;
    }
  }
  if (options.dosdevices.empty() || options.runDir.empty() || options.transcriptDir.empty()) {
    error = "--dosdevices, --run-dir and --transcripts are needed";
    return false;
  }
  if (options.ports.empty() || options.ports.size() > kMaxPorts) {
    error = "give 1 to " + std::to_string(kMaxPorts) + " ports";
    return false;
  }
  return true;
}

bool decodeEscapes(const std::string& text, std::string& bytes) {
  bytes.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
      continue;
    }
    if (++i == text.size())
      return false;
    switch (text[i]) {
      case 'r':
        bytes += '\r';
        break;
      case 'n':
        bytes += '\n';
        break;
      case 't':
        bytes += '\t';
        break;
      case 's':
        bytes += ' ';
        break;
      case '\\':
        bytes += '\\';
        break;
      case 'x': {
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
          return false;
        bytes += static_cast<char>(std::strtoul(text.substr(i + 1, 2).c_str(), nullptr, 16));
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

bool parseCommand(const std::string& line, Command& c, std::string& error) {
  const std::vector<std::string> w = words(line);
  if (w.empty()) {
    error = "empty command";
    return false;
  }
  const std::string verb = lower(w[0]);
  c = Command{};
  if (verb == "status" || verb == "quit") {
    c.verb = verb == "status" ? Verb::kStatus : Verb::kQuit;
    return w.size() == 1 || (error = verb + " takes nothing more", false);
  }
  if (verb == "radio") {
    c.verb = Verb::kRadio;
    return parseRadio(w, c, error);
  }
  struct Named {
    const char* name;
    Verb verb;
  };
  static constexpr Named kPortVerbs[] = {
      {"press", Verb::kPress}, {"power", Verb::kPower},     {"fault", Verb::kFault},
      {"set", Verb::kSet},     {"unplug", Verb::kUnplug},   {"plug", Verb::kPlug},
      {"hold", Verb::kHold},   {"release", Verb::kRelease}, {"loopback", Verb::kLoopback}};
  const Named* found = nullptr;
  for (const Named& n : kPortVerbs) {
    if (verb == n.name)
      found = &n;
  }
  if (found == nullptr) {
    error = "unknown command '" + w[0] + "'";
    return false;
  }
  c.verb = found->verb;
  if (w.size() < 2 || !parsePortName(w[1], c.port)) {
    error = verb + " needs a port such as COM5";
    return false;
  }
  switch (c.verb) {
    case Verb::kFault:
      return parseFault(line, w, c, error);
    case Verb::kSet:
      return parseSet(w, c, error);
    case Verb::kPress:
      if (w.size() == 2)
        return true;
      if (w.size() == 4 && lower(w[2]) == "after-break") {
        uint64_t ms = 0;
        if (parseDecimal(w[3], 600000, ms)) {
          c.number = ms;
          return true;
        }
      }
      error = "press takes a port and optionally after-break <ms>";
      return false;
    case Verb::kHold: {
      uint64_t n = 0;
      if (w.size() == 3 && parseDecimal(w[2], 1000, n) && n > 0) {
        c.number = n;
        return true;
      }
      error = "hold takes a port and which carriage return from now, 1 to 1000";
      return false;
    }
    case Verb::kLoopback:
      return (w.size() == 3 && parseOnOff(w[2], c.on)) ||
             (error = "loopback takes a port and on or off", false);
    default:
      return w.size() == 2 || (error = verb + " takes only a port", false);
  }
}

}  // namespace simports
