// A model of the radio module, written from its command contract. It knows
// no clock: it is told what arrives on its serial line and when, and asked
// what it sends and when it next wants to act. The latest time it was
// advanced to is its "now". The same model runs in the virtual world and,
// in real time, behind a pseudo-terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

using TimeUs = uint64_t;

// A serial line as it is on the wire.
enum class Parity : uint8_t { None, Odd, Even, Mark, Space };

struct SerialConfig {
  uint32_t baudRate = 9600;
  uint8_t byteSize = 8;
  Parity parity = Parity::None;
  uint8_t stopHalfBits = 2;  // 2 one stop bit, 3 one and a half, 4 two
  bool operator==(const SerialConfig&) const = default;
};

// What the module's "BD", "NB" and "SB" codes make of its line.
SerialConfig serialConfigOf(uint64_t bd, uint64_t nb, uint64_t sb);
TimeUs byteTimeUs(const SerialConfig& c);

struct ModuleConfig {
  std::map<std::string, uint64_t> registers;  // two letters -> value, over the defaults
  std::string nodeId = "NODE";
  std::string tp = "1A";
  TimeUs replyLatencyUs = 2000;          // from the command's CR to the first reply byte
  TimeUs bootUs = 20000;                 // a restart: deaf and CTS low this long
  TimeUs associationTimeUs = 700000;     // a join: AI reads non-zero this long
  TimeUs wakeUpUs = 3000;                // cyclic sleep: from a break to CTS up
  TimeUs awakeAfterTrafficUs = 2000000;  // cyclic sleep: awake this long after traffic
  TimeUs sleepPeriodUs = 100000;         // cyclic sleep: how often it polls for radio data
  uint32_t packetGapBytes = 3;           // silence, in byte times, that ends a radio frame
  uint32_t maxFrameBytes = 100;
  uint32_t receiveBufferBytes = 512;  // radio data held for the serial line; more is lost
  uint64_t signalStrength = 0x28;     // "DB": -dBm of what it last heard
};

// What a test can make the module do wrong.
struct Faults {
  std::map<std::string, std::string> replaceReply;  // command letters or "+++" -> reply, once
  std::map<std::string, int> withholdReply;         // command letters -> times
  bool ctsHeldLow = false;
  bool dsrLow = false;           // DSR not driven (a cable or adapter without it)
  bool neverAssociates = false;  // a join, once started, never completes
  TimeUs replyDelayUs = 0;       // every reply comes this much later
  // Asked with every command line (without CR) and every "+++"; a reply it
  // gives is sent as given instead of the module's own. Fuzzing drives it.
  std::function<std::optional<std::string>(const std::string& command)> scriptedReply;
};

class Radio;

class Module {
 public:
  explicit Module(ModuleConfig config = {});
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // ---- the line, as the world drives it ----
  SerialConfig lineSettings() const { return line_; }
  void receive(TimeUs at, uint8_t byte);
  void hostBreak(TimeUs at, bool on);
  void hostModemLines(TimeUs at, bool dtr, bool rts);
  void advance(TimeUs now);
  std::optional<TimeUs> nextWake() const;
  std::string takeOutput();
  bool cts(TimeUs now) const;
  // Up while the module runs (not while it restarts).
  bool dsr(TimeUs now) const;

  // ---- what a user does to it ----
  // Under a held break the module comes back in command mode at 9600 8-N-1
  // and sends one byte; otherwise it just restarts from its stored settings.
  void pressResetKey(TimeUs at);
  void powerCycle();  // a plain restart, now

  // ---- inspection and control by tests ----
  Faults faults;
  const ModuleConfig& config() const { return config_; }
  bool inCommandMode() const { return commandMode_; }
  bool awake(TimeUs now) const;
  uint64_t reg(const std::string& name) const;
  uint64_t storedReg(const std::string& name) const;
  void setReg(const std::string& name, uint64_t value);  // working and stored copy
  void setNodeId(const std::string& nodeId);             // working and stored copy
  const std::string& nodeId() const { return nodeId_; }
  const std::string& storedNodeId() const { return storedNodeId_; }
  uint64_t associationIndication(TimeUs now) const;
  int channel() const;  // 11 to 26 from the lowest bit set in SC, 0 when none is
  // Commands understood, in order of arrival (without CR), for assertions.
  const std::vector<std::string>& commandLog() const { return log_; }
  // A plug joining the module's data-out to its data-in stands in for the
  // PC: what it would send the host comes back to it instead, and nothing
  // the host sends reaches it.
  void setLoopback(bool on) { loopback_ = on; }
  bool loopback() const { return loopback_; }
  // Bytes the module sends at a given time, unasked.
  void inject(TimeUs at, const std::string& bytes) { pending_.emplace(at, bytes); }

 private:
  friend class Radio;

  // ---- time ----
  std::optional<TimeUs> nextDue() const;
  void runDue(TimeUs t);
  void runEscape(TimeUs t);
  void emit(TimeUs t, const std::string& bytes);
  void noteTraffic(TimeUs until);

  // ---- bytes from the host ----
  bool startsOrContinuesEscape(TimeUs at, uint8_t byte) const;
  void receiveNow(TimeUs at, uint8_t byte);
  void releasePluses(TimeUs at);
  void take(TimeUs at, uint8_t byte);
  void takeData(TimeUs at, uint8_t byte);
  void sendFrame(TimeUs at);

  // ---- commands ----
  void handleLine(TimeUs at, const std::string& line);
  std::string answer(TimeUs at, const std::string& line);
  std::string answerRegister(const std::string& letters, const std::string& param);
  std::string answerNetworkReset(TimeUs at, const std::string& param);
  void leaveCommandMode(TimeUs at);
  // Command mode ends on its own after CT (hundreds of ms) without a command.
  void noteCommandActivity(TimeUs at);
  void commandModeTimedOut(TimeUs at);
  void reply(TimeUs at, const std::string& text);
  void applySerialSettings();
  void applyNetworkChanges(TimeUs at);

  // ---- restarts, sleep, radio ----
  void restart(TimeUs at);
  bool sleepsCyclically() const;
  TimeUs firstAwakeFrom(TimeUs t) const;
  std::optional<TimeUs> deliveryTime(TimeUs arrival) const;
  void acceptFrame(TimeUs arrival, const std::string& payload);

  ModuleConfig config_;
  std::map<std::string, uint64_t> working_;
  std::map<std::string, uint64_t> stored_;
  std::string nodeId_, storedNodeId_;
  SerialConfig line_;
  bool recoveryLine_ = false;  // 9600 8-N-1 until "ATCN", after a reset under break
  bool commandMode_ = false;
  TimeUs now_ = 0;
  TimeUs bootUntil_ = 0;
  std::optional<TimeUs> lastRx_;
  int plusCount_ = 0;
  std::optional<TimeUs> escapeDue_;       // the pluses are settled when silence lasts until then
  std::optional<TimeUs> settingsDue_;     // new line settings take effect then
  std::optional<TimeUs> commandModeDue_;  // command mode times out then
  std::string lineBuffer_;
  std::string frame_;  // transparent data not yet sent over the radio
  std::optional<TimeUs> frameDue_;
  std::multimap<TimeUs, std::string> pending_;   // replies not yet due
  std::multimap<TimeUs, std::string> incoming_;  // radio frames by arrival, not yet sent out
  std::string out_;
  bool loopback_ = false;
  std::multimap<TimeUs, uint8_t> looped_;  // bytes on their way through the plug
  TimeUs txBusyUntil_ = 0;
  std::optional<TimeUs> breakSince_;
  TimeUs activeUntil_ = 0;  // cyclic sleep: awake until then
  std::optional<TimeUs> joinStart_;
  bool networkChanged_ = false;  // SC or ID set and not yet applied
  std::vector<std::string> log_;
  Radio* radio_ = nullptr;
};

}  // namespace sim
