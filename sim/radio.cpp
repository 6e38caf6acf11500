#include "sim/radio.h"

#include <algorithm>

namespace sim {

Radio::~Radio() {
  for (Module* m : modules_)
    m->radio_ = nullptr;
}

void Radio::attach(Module& module) {
  if (module.radio_ == this)
    return;
  if (module.radio_)
    module.radio_->detach(module);
  modules_.push_back(&module);
  module.radio_ = this;
}

void Radio::detach(Module& module) {
  modules_.erase(std::remove(modules_.begin(), modules_.end(), &module), modules_.end());
  faults.lossPercentFrom.erase(&module);  // a module made later at its address is another
  if (module.radio_ == this)
    module.radio_ = nullptr;
}

bool Radio::reaches(const Module& from, const Module& to) {
  return &from != &to && to.reg("SH") == from.reg("DH") && to.reg("SL") == from.reg("DL") &&
         to.reg("ID") == from.reg("ID") && from.channel() != 0 && to.channel() == from.channel();
}

// A module that is still joining its network neither sends nor hears.
bool Radio::joined(const Module& module, TimeUs at) {
  return module.associationIndication(at) == 0;
}

// splitmix64: small, and the same on every system.
bool Radio::drawn(int percent) {
  if (percent <= 0)
    return false;
  draw_ += 0x9E3779B97F4A7C15ull;
  uint64_t z = draw_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<int>(z % 100) < percent;
}

bool Radio::loseNext(const Module& sender) {
  if (faults.cut)
    return true;
  if (faults.dropNext > 0) {
    --faults.dropNext;
    return true;
  }
  const auto own = faults.lossPercentFrom.find(&sender);
  return drawn(own != faults.lossPercentFrom.end() ? own->second : faults.lossPercent);
}

// One bit of the middle byte flips: the frame keeps its length.
bool Radio::damageNext(std::string& payload) {
  if (faults.corruptNext > 0)
    --faults.corruptNext;
  else if (!drawn(faults.corruptPercent))
    return false;
  payload[payload.size() / 2] ^= 0x01;
  return true;
}

void Radio::transmit(const Module& sender, TimeUs at, const std::string& payload) {
  if (payload.empty())
    return;
  ++counts_.sent;
  if (!joined(sender, at) || loseNext(sender)) {
    ++counts_.lost;
    return;
  }
  std::string carried = payload;
  if (damageNext(carried))
    ++counts_.corrupted;
  // Never in the same instant: a receiver may already have been advanced to it.
  const TimeUs arrival = at + std::max<TimeUs>(config_.latencyUs + faults.delayUs, 1);
  for (Module* m : modules_) {
    if (!reaches(sender, *m) || !joined(*m, arrival))
      continue;
    m->acceptFrame(arrival, carried);
    ++counts_.arrivals;
  }
}

}  // namespace sim
