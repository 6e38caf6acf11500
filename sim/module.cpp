#include "sim/module.h"

#include <cctype>
#include <cstdio>

namespace sim {
namespace {

constexpr uint32_t kStandardRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

const std::map<std::string, uint64_t>& defaultRegisters() {
  static const std::map<std::string, uint64_t> regs = {
      {"VR", 0x10A5},     {"HV", 0x1744}, {"ID", 0x3332}, {"OI", 0xFFFF}, {"SL", 0x40A1B2C3},
      {"SH", 0x0013A200}, {"DL", 0},      {"DH", 0},      {"SC", 0x1FFE}, {"BD", 3},
      {"NB", 0},          {"SB", 0},      {"PL", 4},      {"PM", 1},      {"SM", 0},
      {"D7", 1},          {"D6", 0},      {"GT", 0x3E8},  {"AI", 0},      {"NR", 0},
  };
  return regs;
}

std::string hex(uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(v));
  return text;
}

bool parseHex(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 16)
    return false;
  uint64_t v = 0;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c)))
      return false;
    v = v * 16 +
        static_cast<uint64_t>(std::isdigit(static_cast<unsigned char>(c))
                                  ? c - '0'
                                  : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10);
  }
  *value = v;
  return true;
}

std::string upper(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

SerialConfig serialConfigOf(uint64_t bd, uint64_t nb, uint64_t sb) {
  SerialConfig c;
  c.baudRate = bd < 8 ? kStandardRates[bd] : (bd >= 0x80 ? static_cast<uint32_t>(bd) : 9600);
  const uint8_t parities[] = {0, 2, 1, 3};  // NB 1 even, 2 odd, 3 mark
  c.parity = nb < 4 ? parities[nb] : 0;
  c.stopBits = sb == 1 ? 2 : 0;
  return c;
}

TimeUs byteTimeUs(const SerialConfig& c) {
  const uint64_t bits = 1 + c.byteSize + (c.parity ? 1 : 0) + (c.stopBits == 2 ? 2 : 1);
  const uint64_t baud = c.baudRate ? c.baudRate : 1;
  return (bits * 1000000 + baud - 1) / baud;
}

Module::Module(ModuleConfig config) : config_(std::move(config)) {
  working_ = defaultRegisters();
  for (const auto& [name, value] : config_.registers)
    working_[name] = value;
  stored_ = working_;
  applySerialSettings();
}

uint64_t Module::reg(const std::string& name) const {
  auto it = working_.find(name);
  return it == working_.end() ? 0 : it->second;
}

uint64_t Module::storedReg(const std::string& name) const {
  auto it = stored_.find(name);
  return it == stored_.end() ? 0 : it->second;
}

void Module::setReg(const std::string& name, uint64_t value) {
  working_[name] = value;
  stored_[name] = value;
  applySerialSettings();
}

void Module::applySerialSettings() {
  line_ = serialConfigOf(reg("BD"), reg("NB"), reg("SB"));
}

void Module::powerCycle() {
  working_ = stored_;
  commandMode_ = false;
  plusCount_ = 0;
  guardDue_.reset();
  settingsDue_.reset();
  lineBuffer_.clear();
  pending_.clear();
  out_.clear();
  lastRx_.reset();
  applySerialSettings();
}

void Module::receive(TimeUs at, uint8_t byte) {
  const TimeUs guardUs = reg("GT") * 1000;
  const bool silentBefore = !lastRx_ || at - *lastRx_ >= guardUs;
  lastRx_ = at;
  const bool startsOrContinuesPlus = plusCount_ > 0 ? plusCount_ < 3 : silentBefore;
  if (byte == '+' && lineBuffer_.empty() && startsOrContinuesPlus) {
    if (++plusCount_ == 3)
      guardDue_ = at + guardUs;
    return;
  }
  // Any other byte, or a fourth '+', breaks the escape sequence.
  plusCount_ = 0;
  guardDue_.reset();
  if (!commandMode_)
    return;  // transparent data: nowhere to go yet
  if (byte == '\r') {
    handleLine(at, lineBuffer_);
    lineBuffer_.clear();
  } else {
    lineBuffer_.push_back(static_cast<char>(byte));
  }
}

bool Module::cts(TimeUs) const { return !faults.ctsHeldLow; }

void Module::hostBreak(TimeUs, bool) {}

void Module::hostModemLines(TimeUs, bool, bool) {}

void Module::advance(TimeUs now) {
  if (guardDue_ && now >= *guardDue_) {
    plusCount_ = 0;
    lineBuffer_.clear();
    if (auto it = faults.replaceReply.find("+++"); it != faults.replaceReply.end()) {
      pending_.emplace(*guardDue_, it->second);
      faults.replaceReply.erase(it);
    } else {
      commandMode_ = true;
      pending_.emplace(*guardDue_, "OK\r");
    }
    guardDue_.reset();
  }
  while (!pending_.empty() && pending_.begin()->first <= now) {
    out_ += pending_.begin()->second;
    pending_.erase(pending_.begin());
  }
  if (settingsDue_ && now >= *settingsDue_) {
    settingsDue_.reset();
    applySerialSettings();
  }
}

std::optional<TimeUs> Module::nextWake() const {
  std::optional<TimeUs> next = guardDue_;
  auto consider = [&next](TimeUs t) {
    if (!next || t < *next)
      next = t;
  };
  if (!pending_.empty())
    consider(pending_.begin()->first);
  if (settingsDue_)
    consider(*settingsDue_);
  return next;
}

std::string Module::takeOutput() {
  std::string out;
  out.swap(out_);
  return out;
}

void Module::reply(TimeUs at, const std::string& text) {
  pending_.emplace(at + config_.replyLatencyUs, text + "\r");
}

void Module::handleLine(TimeUs at, const std::string& line) {
  log_.push_back(line);
  const std::string letters = line.size() >= 4 ? upper(line.substr(2, 2)) : "";
  if (auto it = faults.withholdReply.find(letters); it != faults.withholdReply.end()) {
    if (--it->second <= 0)
      faults.withholdReply.erase(it);
    return;
  }
  std::string text = answer(line);
  if (auto it = faults.replaceReply.find(letters); it != faults.replaceReply.end()) {
    text = it->second;
    faults.replaceReply.erase(it);
    pending_.emplace(at + config_.replyLatencyUs, text);  // sent as given, CR or not
    return;
  }
  reply(at, text);
  if (letters == "CN" && text == "OK") {
    commandMode_ = false;
    // The new settings apply once "OK" has gone out at the old ones.
    settingsDue_ = at + config_.replyLatencyUs + 3 * byteTimeUs(line_);
  }
}

std::string Module::answer(const std::string& line) {
  const std::string command = upper(line);
  if (command == "AT")
    return "OK";
  if (command.size() < 4 || command.compare(0, 2, "AT") != 0)
    return "ERROR";
  const std::string letters = command.substr(2, 2);
  std::string param = line.substr(4);
  while (!param.empty() && param.front() == ' ')
    param.erase(0, 1);

  if (letters == "CN" || letters == "AC")
    return param.empty() ? "OK" : "ERROR";
  if (letters == "WR") {
    stored_ = working_;
    return "OK";
  }
  if (letters == "NI") {
    if (param.empty())
      return config_.nodeId;
    config_.nodeId = param.substr(0, 20);
    return "OK";
  }
  if (letters == "TP")
    return param.empty() ? config_.tp : "ERROR";
  auto it = working_.find(letters);
  if (it == working_.end())
    return "ERROR";
  if (param.empty())
    return hex(it->second);
  uint64_t value = 0;
  if (!parseHex(param, &value))
    return "ERROR";
  it->second = value;
  return "OK";
}

}  // namespace sim
