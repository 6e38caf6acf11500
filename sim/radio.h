// The air between modules. A module in transparent mode hands it each frame
// of serial data; the radio brings the frame, after its latency, to every
// attached module whose serial number is the sender's destination and that
// shares the sender's PAN ID and channel, while neither is joining. Losses and damage are the
// test's to order, or drawn at a rate from the radio's seed, so runs repeat exactly.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/module.h"

namespace sim {

struct RadioConfig {
  TimeUs latencyUs = 3000;  // from the frame's end at the sender to its arrival
};

struct RadioFaults {
  int dropNext = 0;     // frames to lose, counted down
  bool cut = false;     // every frame is lost while set
  int corruptNext = 0;  // frames to arrive with one byte changed, counted down
  // Rates in per cent, drawn per frame; a sender's own loss rate (one
  // direction) replaces the common one.
  int lossPercent = 0;
  std::map<const Module*, int> lossPercentFrom;
  int corruptPercent = 0;
  TimeUs delayUs = 0;  // on top of the latency
};

struct RadioCounts {
  uint64_t sent = 0;       // frames handed to the radio
  uint64_t lost = 0;       // dropped, cut, or sent while joining
  uint64_t corrupted = 0;  // damaged on their way
  uint64_t arrivals = 0;   // frames brought to a receiver (one frame may reach several)
};

class Radio {
 public:
  explicit Radio(RadioConfig config = {}) : config_(config) {}
  ~Radio();
  Radio(const Radio&) = delete;
  Radio& operator=(const Radio&) = delete;

  // A module is on at most one radio; attaching moves it.
  void attach(Module& module);
  void detach(Module& module);

  RadioFaults faults;
  const RadioCounts& counts() const { return counts_; }
  // Where the rates' draws start; the same seed draws the same frames.
  void seed(uint64_t value) { draw_ = value; }
  TimeUs latencyUs() const { return config_.latencyUs; }

  // Called by a module whose frame is complete at `at`.
  void transmit(const Module& sender, TimeUs at, const std::string& payload);

 private:
  static bool reaches(const Module& from, const Module& to);
  static bool joined(const Module& module, TimeUs at);
  bool loseNext(const Module& sender);
  bool damageNext(std::string& payload);
  bool drawn(int percent);

  RadioConfig config_;
  std::vector<Module*> modules_;
  RadioCounts counts_;
  uint64_t draw_ = 0;
};

}  // namespace sim
