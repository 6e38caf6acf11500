// A model of the radio module, written from its command contract. It knows
// no clock: it is told what arrives on its serial line and when, and asked
// what it sends and when it next wants to act. The same model runs in the
// virtual world and, in real time, behind a pseudo-terminal.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

using TimeUs = uint64_t;

struct SerialConfig {
  uint32_t baudRate = 9600;
  uint8_t byteSize = 8;
  uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark (host numbering)
  uint8_t stopBits = 0;  // 0 one, 2 two (host numbering)
  bool operator==(const SerialConfig&) const = default;
};

// The module's BD/NB/SB codes as line settings.
SerialConfig serialConfigOf(uint64_t bd, uint64_t nb, uint64_t sb);
TimeUs byteTimeUs(const SerialConfig& c);

struct ModuleConfig {
  std::map<std::string, uint64_t> registers;  // two letters -> value
  std::string nodeId = "NODE";
  std::string tp = "1A";
  TimeUs replyLatencyUs = 2000;  // from the command's CR to the first reply byte
};

// What a test can make the module do wrong.
struct Faults {
  std::map<std::string, std::string> replaceReply;  // command letters or "+++" -> reply, once
  std::map<std::string, int> withholdReply;         // command letters -> times
  bool ctsHeldLow = false;
};

class Module {
 public:
  explicit Module(ModuleConfig config = {});

  // ---- the line, as the world drives it ----
  SerialConfig lineSettings() const { return line_; }
  void receive(TimeUs at, uint8_t byte);
  void hostBreak(TimeUs at, bool on);
  void hostModemLines(TimeUs at, bool dtr, bool rts);
  void advance(TimeUs now);
  std::optional<TimeUs> nextWake() const;
  std::string takeOutput();
  bool cts(TimeUs now) const;

  // ---- inspection and control by tests ----
  Faults faults;
  bool inCommandMode() const { return commandMode_; }
  uint64_t reg(const std::string& name) const;
  uint64_t storedReg(const std::string& name) const;
  void setReg(const std::string& name, uint64_t value);  // working and stored copy
  const std::string& nodeId() const { return config_.nodeId; }
  // Commands understood, in order of arrival (without CR), for assertions.
  const std::vector<std::string>& commandLog() const { return log_; }
  void powerCycle();
  // Bytes the module sends at a given time, unasked.
  void inject(TimeUs at, const std::string& bytes) { pending_.emplace(at, bytes); }

 private:
  void handleLine(TimeUs at, const std::string& line);
  std::string answer(const std::string& line);
  void reply(TimeUs at, const std::string& text);
  void applySerialSettings();

  ModuleConfig config_;
  std::map<std::string, uint64_t> working_;
  std::map<std::string, uint64_t> stored_;
  SerialConfig line_;
  bool commandMode_ = false;
  std::optional<TimeUs> lastRx_;
  int plusCount_ = 0;
  std::optional<TimeUs> guardDue_;     // "+++" answered when silence lasts until then
  std::optional<TimeUs> settingsDue_;  // new line settings take effect then
  std::string lineBuffer_;
  std::multimap<TimeUs, std::string> pending_;  // replies not yet due
  std::string out_;
  std::vector<std::string> log_;
};

}  // namespace sim
