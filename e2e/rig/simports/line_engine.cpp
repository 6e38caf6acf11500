#include "e2e/rig/simports/line_engine.h"

#include <termios.h>

#include <algorithm>

#include "platform/virtual/world.h"

namespace simports {
namespace {

uint8_t byteSizeOf(uint32_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

sim::Parity parityOf(uint32_t cflag) {
  if ((cflag & PARENB) == 0)
    return sim::Parity::None;
  const bool odd = (cflag & PARODD) != 0;
  if ((cflag & CMSPAR) != 0)
    return odd ? sim::Parity::Mark : sim::Parity::Space;
  return odd ? sim::Parity::Odd : sim::Parity::Even;
}

void earliest(std::optional<TimeUs>& next, std::optional<TimeUs> t) {
  if (t && (!next || *t < *next))
    next = t;
}

}  // namespace

sim::SerialConfig hostConfigOf(uint32_t baud, uint32_t cflag) {
  sim::SerialConfig c;
  c.baudRate = baud;
  c.byteSize = byteSizeOf(cflag);
  c.parity = parityOf(cflag);
  // Two stop bits with five data bits are one and a half, as on a UART.
  c.stopHalfBits = (cflag & CSTOPB) == 0 ? 2 : (c.byteSize == 5 ? 3 : 4);
  return c;
}

LineEngine::LineEngine(sim::Module& module, Transcript& transcript, const sim::SerialConfig& host)
    : module_(module), transcript_(transcript), host_(host) {}

// ---------------------------------------------------------------- the host

void LineEngine::hostSettings(TimeUs at, const sim::SerialConfig& c) {
  catchUp(at);
  if (c == host_)
    return;
  host_ = c;
  transcript_.event(clamp(at), "host settings " + describe(c));
}

void LineEngine::hostBreak(TimeUs at, bool on) {
  catchUp(at);
  if (on == breakOn_)
    return;
  breakOn_ = on;
  const TimeUs t = clamp(at);
  transcript_.event(t, on ? "break on" : "break off");
  if (!plugged_)
    return;
  module_.hostBreak(t, on);
  fed_ = t;
  if (on && pressDelay_) {
    timers_.push_back({t + *pressDelay_, Action::kPress});
    pressDelay_.reset();
  }
}

void LineEngine::hostModemLines(TimeUs at, bool dtr, bool rts) {
  catchUp(at);
  if (dtr == dtr_ && rts == rts_)
    return;
  dtr_ = dtr;
  rts_ = rts;
  const TimeUs t = clamp(at);
  transcript_.event(t, std::string("dtr ") + (dtr ? "1" : "0") + " rts " + (rts ? "1" : "0"));
  if (!plugged_)
    return;
  module_.hostModemLines(t, dtr, rts);
  fed_ = t;
}

void LineEngine::hostWrote(TimeUs at, const std::string& bytes) {
  if (!plugged_)
    return;
  const TimeUs byteTime = sim::byteTimeUs(host_);
  for (char c : bytes) {
    const TimeUs start = std::max(at, hostBusyUntil_);
    hostBusyUntil_ = start + byteTime;
    toModule_.push_back({hostBusyUntil_, static_cast<uint8_t>(c), host_});
  }
}

// ---------------------------------------------------------------- time

std::optional<TimeUs> LineEngine::nextInternal() const {
  std::optional<TimeUs> next = module_.nextWake();
  if (!toModule_.empty())
    earliest(next, toModule_.front().due);
  for (const Timer& t : timers_)
    earliest(next, t.due);
  return next;
}

// The loop may wake long after the module had something to do: it is run
// one wake at a time, so that what it sends leaves when it was sent and at
// the settings it had then, not at those of a later "ATCN".
void LineEngine::catchUp(TimeUs until) {
  for (auto due = nextInternal(); due && *due <= until; due = nextInternal()) {
    if (const auto wake = module_.nextWake(); wake && *wake == *due) {
      runModule(*due);
      continue;
    }
    if (!toModule_.empty() && toModule_.front().due == *due) {
      const InFlight b = toModule_.front();
      toModule_.pop_front();
      deliverToModule(b);
      continue;
    }
    auto timer =
        std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.due == *due; });
    const Timer t = *timer;
    timers_.erase(timer);
    runTimer(t);
  }
}

void LineEngine::deliverToModule(const InFlight& b) {
  const TimeUs t = clamp(b.due);
  const sim::SerialConfig moduleLine = module_.lineSettings();
  const uint8_t received = b.sender == moduleLine ? b.byte : vw::garble(b.byte);
  transcript_.byte(t, Transcript::Direction::kHost, b.byte, received, b.sender, moduleLine);
  module_.receive(t, received);
  fed_ = t;
}

void LineEngine::runTimer(const Timer& timer) {
  const TimeUs t = clamp(timer.due);
  if (timer.action == Action::kPress) {
    pressResetKey(t);
    return;
  }
  releaseCts(t);
}

void LineEngine::runModule(TimeUs at) {
  const TimeUs t = clamp(at);
  module_.advance(t);
  fed_ = t;
  takeModuleOutput(t);
}

std::string LineEngine::run(TimeUs now) {
  catchUp(now);
  runModule(now);
  return deliverToHost(clamp(now));
}

void LineEngine::takeModuleOutput(TimeUs now) {
  const std::string out = module_.takeOutput();
  if (!plugged_)
    return;  // nobody listens on a removed adapter
  const sim::SerialConfig line = module_.lineSettings();
  const TimeUs byteTime = sim::byteTimeUs(line);
  for (char c : out) {
    const TimeUs start = std::max(now, moduleBusyUntil_);
    moduleBusyUntil_ = start + byteTime;
    toHost_.push_back({moduleBusyUntil_, static_cast<uint8_t>(c), line});
  }
}

std::string LineEngine::deliverToHost(TimeUs now) {
  std::string received;
  while (!toHost_.empty() && toHost_.front().due <= now) {
    const InFlight b = toHost_.front();
    toHost_.pop_front();
    const uint8_t got = b.sender == host_ ? b.byte : vw::garble(b.byte);
    transcript_.byte(b.due, Transcript::Direction::kModule, b.byte, got, b.sender, host_);
    received.push_back(static_cast<char>(got));
  }
  return received;
}

std::optional<TimeUs> LineEngine::nextDue() const {
  std::optional<TimeUs> next = nextInternal();
  if (!toHost_.empty())
    earliest(next, toHost_.front().due);
  earliest(next, module_.nextWake());
  if (next && *next < fed_)
    next = fed_;
  return next;
}

bool LineEngine::cts(TimeUs now) const {
  return plugged_ && module_.cts(now);
}

// ---------------------------------------------------------------- the rig

void LineEngine::pressResetKey(TimeUs at) {
  catchUp(at);
  const TimeUs t = clamp(at);
  transcript_.event(t, breakOn_ ? "reset key pressed (under break)" : "reset key pressed");
  module_.pressResetKey(t);
  fed_ = t;
}

void LineEngine::powerCycle(TimeUs at) {
  catchUp(at);
  const TimeUs t = clamp(at);
  module_.advance(t);
  module_.powerCycle();
  fed_ = t;
  transcript_.event(t, "module power-cycled");
}

void LineEngine::pressAfterNextBreak(TimeUs delay) {
  pressDelay_ = delay;
}

void LineEngine::holdCtsLow(TimeUs at, std::optional<TimeUs> until) {
  catchUp(at);
  const TimeUs t = clamp(at);
  module_.faults.ctsHeldLow = true;
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                               [](const Timer& x) { return x.action == Action::kReleaseCts; }),
                timers_.end());
  if (until)
    timers_.push_back({*until, Action::kReleaseCts});
  transcript_.event(t,
                    until ? "fault: CTS held low for " + std::to_string((*until - t) / 1000) + " ms"
                          : std::string("fault: CTS held low"));
}

void LineEngine::releaseCts(TimeUs at) {
  catchUp(at);
  module_.faults.ctsHeldLow = false;
  transcript_.event(clamp(at), "fault: CTS released");
}

void LineEngine::unplug(TimeUs at) {
  catchUp(at);
  const TimeUs t = clamp(at);
  toModule_.clear();
  toHost_.clear();
  plugged_ = false;
  transcript_.event(t, "unplugged");
}

void LineEngine::plug(TimeUs at, const sim::SerialConfig& host) {
  const TimeUs t = clamp(at);
  module_.advance(t);
  module_.takeOutput();
  module_.powerCycle();
  fed_ = t;
  plugged_ = true;
  host_ = host;
  breakOn_ = dtr_ = rts_ = false;
  hostBusyUntil_ = moduleBusyUntil_ = t;
  transcript_.event(t, "plugged; module powered up, host " + describe(host));
}

}  // namespace simports
