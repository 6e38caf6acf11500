// One serial line in real time: a host behind a pseudo-terminal on one side,
// a module model on the other. It knows no clock and does no I/O; simports
// tells it what the host did and when, and asks it what reaches the host by
// a given time. Bytes travel one byte time apart at their sender's rate, and
// a receiver at other settings gets them garbled, by the same rule as the
// virtual world of the native tests.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "e2e/rig/simports/transcript.h"
#include "sim/module.h"

namespace simports {

// The host's line settings from what the shim recorded: bits per second and
// the size, parity and stop bits of c_cflag.
sim::SerialConfig hostConfigOf(uint32_t baud, uint32_t cflag);

class LineEngine {
 public:
  LineEngine(sim::Module& module, Transcript& transcript, const sim::SerialConfig& host);
  LineEngine(const LineEngine&) = delete;
  LineEngine& operator=(const LineEngine&) = delete;

  // ---- the host, as the shim reports it; `at` may lag the last run ----
  void hostSettings(TimeUs at, const sim::SerialConfig& c);
  void hostBreak(TimeUs at, bool on);
  void hostModemLines(TimeUs at, bool dtr, bool rts);
  // Bytes the host wrote, seen at `at`: they leave at the host's rate.
  void hostWrote(TimeUs at, const std::string& bytes);

  // Runs the line and the model up to now; returns the bytes that reach the
  // host by now, as the host receives them.
  std::string run(TimeUs now);
  // When run() next has something to do (never earlier than the last run).
  std::optional<TimeUs> nextDue() const;
  bool cts(TimeUs now) const;

  // ---- the test rig ----
  void pressResetKey(TimeUs at);
  void powerCycle(TimeUs at);
  // The key goes down `delay` after the host next turns break on.
  void pressAfterNextBreak(TimeUs delay);
  void holdCtsLow(TimeUs at, std::optional<TimeUs> until);
  void releaseCts(TimeUs at);
  // The adapter is gone: bytes in flight are lost and nothing reaches the
  // module until plug(), which powers the module up again.
  void unplug(TimeUs at);
  void plug(TimeUs at, const sim::SerialConfig& host);
  bool plugged() const { return plugged_; }

  sim::Module& module() { return module_; }
  const sim::SerialConfig& hostConfig() const { return host_; }
  bool breakOn() const { return breakOn_; }
  bool dtr() const { return dtr_; }
  bool rts() const { return rts_; }

 private:
  struct InFlight {
    TimeUs due;
    uint8_t byte;
    sim::SerialConfig sender;
  };
  enum class Action { kPress, kReleaseCts };
  struct Timer {
    TimeUs due;
    Action action;
  };

  TimeUs clamp(TimeUs at) const { return at > fed_ ? at : fed_; }
  // Everything scheduled up to `until`, in time order, before a host event.
  void catchUp(TimeUs until);
  std::optional<TimeUs> nextInternal() const;
  void deliverToModule(const InFlight& b);
  void runTimer(const Timer& t);
  void runModule(TimeUs at);
  void takeModuleOutput(TimeUs now);
  std::string deliverToHost(TimeUs now);

  sim::Module& module_;
  Transcript& transcript_;
  sim::SerialConfig host_;
  bool breakOn_ = false, dtr_ = false, rts_ = false;
  bool plugged_ = true;
  TimeUs fed_ = 0;  // the module has been driven up to here
  TimeUs hostBusyUntil_ = 0, moduleBusyUntil_ = 0;
  std::deque<InFlight> toModule_, toHost_;
  std::vector<Timer> timers_;
  std::optional<TimeUs> pressDelay_;
};

}  // namespace simports
