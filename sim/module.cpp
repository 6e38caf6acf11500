#include "sim/module.h"

#include <algorithm>

#include "sim/radio.h"
#include "sim/registers.h"

namespace sim {
namespace {

constexpr uint32_t kStandardRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr uint64_t kCyclicSleep = 4;
// Sent once after a reset under break: alternating bits, and neither a hex
// digit nor CR, so a host that kept it would fail to parse the next reply
// rather than misread it.
constexpr char kHello = 0x55;

void consider(std::optional<TimeUs>& next, std::optional<TimeUs> t) {
  if (t && (!next || *t < *next))
    next = t;
}

}  // namespace

// The module's own table: BD 0..7 the standard rates, from 0x80 on the rate
// itself, anything else 9600; NB 1 even, 2 odd, 3 mark; SB 1 two stop bits.
SerialConfig serialConfigOf(uint64_t bd, uint64_t nb, uint64_t sb) {
  SerialConfig c;
  c.baudRate = bd < 8 ? kStandardRates[bd] : (bd >= 0x80 ? static_cast<uint32_t>(bd) : 9600);
  const Parity parities[] = {Parity::None, Parity::Even, Parity::Odd, Parity::Mark};
  c.parity = nb < 4 ? parities[nb] : Parity::None;
  c.stopHalfBits = sb == 1 ? 4 : 2;
  return c;
}

TimeUs byteTimeUs(const SerialConfig& c) {
  const uint64_t halfBits =
      2 * (1 + c.byteSize + (c.parity != Parity::None ? 1 : 0)) + c.stopHalfBits;
  const uint64_t baud = c.baudRate ? c.baudRate : 1;
  return (halfBits * 1000000 + 2 * baud - 1) / (2 * baud);
}

Module::Module(ModuleConfig config) : config_(std::move(config)) {
  working_ = defaultRegisters();
  for (const auto& [name, value] : config_.registers)
    working_[name] = value;
  stored_ = working_;
  nodeId_ = storedNodeId_ = config_.nodeId;
  activeUntil_ = config_.awakeAfterTrafficUs;  // awake for a while after power-up
  applySerialSettings();
}

Module::~Module() {
  if (radio_)
    radio_->detach(*this);
}

// ---------------------------------------------------------------- registers

uint64_t Module::reg(const std::string& name) const {
  if (name == "AI")
    return associationIndication(now_);
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

void Module::setNodeId(const std::string& nodeId) {
  nodeId_ = storedNodeId_ = nodeId;
}

void Module::applySerialSettings() {
  line_ = recoveryLine_ ? SerialConfig{} : serialConfigOf(reg("BD"), reg("NB"), reg("SB"));
}

uint64_t Module::associationIndication(TimeUs now) const {
  if (!joinStart_)
    return 0;
  const bool joined = !faults.neverAssociates && now >= *joinStart_ + config_.associationTimeUs;
  return joined ? 0 : 0xFF;
}

int Module::channel() const {
  const uint64_t mask = reg("SC") & 0xFFFF;
  for (int bit = 0; bit < 16; ++bit) {
    if (mask & (uint64_t{1} << bit))
      return 11 + bit;
  }
  return 0;
}

// ---------------------------------------------------------------- restarts

void Module::restart(TimeUs at) {
  working_ = stored_;
  nodeId_ = storedNodeId_;
  commandMode_ = false;
  recoveryLine_ = false;
  plusCount_ = 0;
  escapeDue_.reset();
  settingsDue_.reset();
  commandModeDue_.reset();
  lineBuffer_.clear();
  frame_.clear();
  frameDue_.reset();
  pending_.clear();
  incoming_.clear();
  out_.clear();
  looped_.clear();
  lastRx_.reset();
  joinStart_.reset();
  networkChanged_ = false;
  bootUntil_ = at + config_.bootUs;
  txBusyUntil_ = at;
  activeUntil_ = bootUntil_ + config_.awakeAfterTrafficUs;
  applySerialSettings();
}

void Module::powerCycle() {
  restart(now_);
}

void Module::pressResetKey(TimeUs at) {
  advance(at);
  const bool underBreak = breakSince_.has_value();
  restart(at);
  if (!underBreak)
    return;
  commandMode_ = true;
  recoveryLine_ = true;
  applySerialSettings();
  noteCommandActivity(bootUntil_);
  pending_.emplace(bootUntil_, std::string(1, kHello));
}

// ---------------------------------------------------------------- sleep

bool Module::sleepsCyclically() const {
  return reg("SM") == kCyclicSleep;
}

bool Module::awake(TimeUs now) const {
  if (!sleepsCyclically() || commandMode_ || now < activeUntil_)
    return true;
  return breakSince_ && now >= *breakSince_ + config_.wakeUpUs;
}

bool Module::cts(TimeUs now) const {
  return !faults.ctsHeldLow && now >= bootUntil_ && awake(now);
}

bool Module::dsr(TimeUs now) const {
  return !faults.dsrLow && now >= bootUntil_;
}

void Module::noteTraffic(TimeUs until) {
  activeUntil_ = std::max(activeUntil_, until + config_.awakeAfterTrafficUs);
}

// Asleep at t, the module looks for radio data at its next poll, or when a
// held break has woken it, whichever comes first.
TimeUs Module::firstAwakeFrom(TimeUs t) const {
  if (awake(t))
    return t;
  const TimeUs period = config_.sleepPeriodUs;
  TimeUs poll = t;
  if (period > 0) {
    const TimeUs asleepFor = t - activeUntil_;
    poll = activeUntil_ + (asleepFor + period - 1) / period * period;
  }
  if (breakSince_)
    poll = std::min(poll, std::max(t, *breakSince_ + config_.wakeUpUs));
  return poll;
}

// Radio data waits while the serial line carries commands.
std::optional<TimeUs> Module::deliveryTime(TimeUs arrival) const {
  if (commandMode_ || settingsDue_)
    return std::nullopt;
  return firstAwakeFrom(std::max(arrival, bootUntil_));
}

void Module::acceptFrame(TimeUs arrival, const std::string& payload) {
  size_t held = 0;
  for (const auto& [at, bytes] : incoming_)
    held += bytes.size();
  if (held + payload.size() > config_.receiveBufferBytes)
    return;  // the buffer is full: the frame is lost
  incoming_.emplace(arrival, payload);
}

// ---------------------------------------------------------------- the line

void Module::hostModemLines(TimeUs, bool, bool) {}

void Module::hostBreak(TimeUs at, bool on) {
  advance(at);
  if (on) {
    if (!breakSince_)
      breakSince_ = at;
    return;
  }
  if (breakSince_ && awake(at))
    noteTraffic(at);
  breakSince_.reset();
}

bool Module::startsOrContinuesEscape(TimeUs at, uint8_t byte) const {
  if (byte != '+' || !lineBuffer_.empty())
    return false;
  if (plusCount_ > 0)
    return plusCount_ < 3;
  return !lastRx_ || at - *lastRx_ >= reg("GT") * 1000;
}

void Module::receive(TimeUs at, uint8_t byte) {
  advance(at);
  if (!loopback_)  // the plug has the host's place on the module's data-in
    receiveNow(at, byte);
}

void Module::receiveNow(TimeUs at, uint8_t byte) {
  // CTS goes down as the module falls asleep, so a byte that began while it
  // was up is still taken.
  const TimeUs began = at > byteTimeUs(line_) ? at - byteTimeUs(line_) : 0;
  if (at < bootUntil_ || !awake(began))
    return;  // restarting or asleep: the byte is lost
  noteTraffic(at);
  const bool escapeByte = startsOrContinuesEscape(at, byte);
  lastRx_ = at;
  if (escapeByte) {
    ++plusCount_;
    escapeDue_ = at + reg("GT") * 1000;
    return;
  }
  // Any other byte, or a fourth '+', shows the pluses were data.
  releasePluses(at);
  take(at, byte);
}

void Module::releasePluses(TimeUs at) {
  const int count = plusCount_;
  plusCount_ = 0;
  escapeDue_.reset();
  for (int i = 0; i < count; ++i)
    take(at, '+');
}

void Module::take(TimeUs at, uint8_t byte) {
  if (!commandMode_) {
    takeData(at, byte);
    return;
  }
  if (byte == '\r') {
    const std::string line = lineBuffer_;
    lineBuffer_.clear();
    handleLine(at, line);
  } else {
    lineBuffer_.push_back(static_cast<char>(byte));
  }
}

void Module::takeData(TimeUs at, uint8_t byte) {
  frame_.push_back(static_cast<char>(byte));
  if (byte == '\r' || frame_.size() >= config_.maxFrameBytes)
    sendFrame(at);
  else
    frameDue_ = at + config_.packetGapBytes * byteTimeUs(line_);
}

void Module::sendFrame(TimeUs at) {
  if (radio_ && !frame_.empty())
    radio_->transmit(*this, at, frame_);
  frame_.clear();
  frameDue_.reset();
}

// ---------------------------------------------------------------- time

std::optional<TimeUs> Module::nextDue() const {
  std::optional<TimeUs> next = escapeDue_;
  if (!pending_.empty())
    consider(next, pending_.begin()->first);
  consider(next, settingsDue_);
  consider(next, commandModeDue_);
  consider(next, frameDue_);
  if (!looped_.empty())
    consider(next, looped_.begin()->first);
  if (!incoming_.empty())
    consider(next, deliveryTime(incoming_.begin()->first));
  return next;
}

std::optional<TimeUs> Module::nextWake() const {
  return nextDue();
}

void Module::advance(TimeUs now) {
  now_ = std::max(now_, now);
  for (auto due = nextDue(); due && *due <= now_; due = nextDue())
    runDue(*due);
}

// Runs everything due by t; each step consumes what it handles.
void Module::runDue(TimeUs t) {
  if (escapeDue_ && *escapeDue_ <= t)
    runEscape(*escapeDue_);
  while (!pending_.empty() && pending_.begin()->first <= t) {
    const auto first = pending_.begin();
    const TimeUs at = first->first;
    const std::string text = first->second;
    pending_.erase(first);
    emit(at, text);
  }
  if (commandModeDue_ && *commandModeDue_ <= t)
    commandModeTimedOut(*commandModeDue_);
  if (settingsDue_ && *settingsDue_ <= t) {
    settingsDue_.reset();
    recoveryLine_ = false;
    applySerialSettings();
  }
  if (frameDue_ && *frameDue_ <= t)
    sendFrame(*frameDue_);
  while (!looped_.empty() && looped_.begin()->first <= t) {
    const auto [at, byte] = *looped_.begin();
    looped_.erase(looped_.begin());
    receiveNow(at, byte);
  }
  if (!incoming_.empty()) {
    const auto first = incoming_.begin();
    if (auto when = deliveryTime(first->first); when && *when <= t) {
      const std::string payload = first->second;
      incoming_.erase(first);
      emit(*when, payload);
    }
  }
}

void Module::runEscape(TimeUs t) {
  if (plusCount_ < 3) {
    releasePluses(t);  // too few: they were data
    return;
  }
  plusCount_ = 0;
  escapeDue_.reset();
  sendFrame(t);
  lineBuffer_.clear();
  if (auto it = faults.replaceReply.find("+++"); it != faults.replaceReply.end()) {
    pending_.emplace(t, it->second);
    faults.replaceReply.erase(it);
    return;
  }
  if (faults.scriptedReply) {
    if (auto reply = faults.scriptedReply("+++")) {
      pending_.emplace(t, *reply);
      return;
    }
  }
  commandMode_ = true;
  noteCommandActivity(t);
  pending_.emplace(t + faults.replyDelayUs, "OK\r");
}

void Module::emit(TimeUs t, const std::string& bytes) {
  const TimeUs start = std::max(t, txBusyUntil_);
  const TimeUs byteTime = byteTimeUs(line_);
  txBusyUntil_ = start + bytes.size() * byteTime;
  if (loopback_) {
    for (size_t i = 0; i < bytes.size(); ++i)
      looped_.emplace(start + (i + 1) * byteTime, static_cast<uint8_t>(bytes[i]));
  } else {
    out_ += bytes;
  }
  noteTraffic(txBusyUntil_);
}

std::string Module::takeOutput() {
  std::string out;
  out.swap(out_);
  return out;
}

}  // namespace sim
