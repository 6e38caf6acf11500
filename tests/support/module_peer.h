// Puts a module model on the far side of a virtual serial line.
#pragma once

#include <string>
#include <vector>

#include "platform/virtual/world.h"
#include "sim/module.h"

// The module's line in the terms of the host's serial settings.
inline vw::PeerSettings peerSettingsOf(const sim::SerialConfig& c) {
  const uint8_t parities[] = {os::kNoParity, os::kOddParity, os::kEvenParity, os::kMarkParity,
                              os::kSpaceParity};
  const uint8_t stop = c.stopHalfBits == 4   ? os::kTwoStopBits
                       : c.stopHalfBits == 3 ? os::kOne5StopBits
                                             : os::kOneStopBit;
  return {c.baudRate, c.byteSize, parities[static_cast<int>(c.parity)], stop};
}

class ModulePeer : public vw::LinePeer {
 public:
  explicit ModulePeer(sim::Module& module) : module_(module) {}
  vw::PeerSettings lineSettings() const override { return peerSettingsOf(module_.lineSettings()); }
  void receive(vw::TimeUs at, uint8_t byte) override { module_.receive(at, byte); }
  void hostBreak(vw::TimeUs at, bool on) override { module_.hostBreak(at, on); }
  void hostModemLines(vw::TimeUs at, bool dtr, bool rts) override {
    module_.hostModemLines(at, dtr, rts);
  }
  void advance(vw::TimeUs now) override { module_.advance(now); }
  std::optional<vw::TimeUs> nextWake() const override { return module_.nextWake(); }
  std::string takeOutput() override { return module_.takeOutput(); }
  bool cts(vw::TimeUs now) const override { return module_.cts(now); }
  bool dsr(vw::TimeUs now) const override { return module_.dsr(now); }

 private:
  sim::Module& module_;
};

// The commands in what a host sent, one string each, CR removed and "+++"
// kept as it is.
inline std::vector<std::string> commandsIn(const std::string& bytes) {
  std::vector<std::string> out;
  std::string current;
  for (char c : bytes) {
    current += c;
    if (c == '\r' || current == "+++") {
      if (c == '\r')
        current.pop_back();
      out.push_back(current);
      current.clear();
    }
  }
  if (!current.empty())
    out.push_back(current);
  return out;
}
