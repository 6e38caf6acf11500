// Arbitrary bytes out of the receiving module in a range test: every packet
// gets one fate, and only a line that is the awaited packet counts as
// received.
#include <cstring>
#include <string>

#include "module/range_test.h"
#include "sim/presets.h"
#include "tests/campaign/invariants.h"
#include "tests/fuzz/check.h"

namespace {

constexpr uint32_t kCount = 3;
constexpr uint32_t kSize = kRangeMinSize;

// How many of the packets appear whole in the input, each at a line start.
uint32_t wholePackets(const std::string& bytes) {
  uint32_t found = 0;
  for (uint32_t seq = 0; seq < kCount; ++seq) {
    char packet[kSize];
    makeRangePacket(seq, kSize, packet);
    const std::string line(packet, kSize);
    for (size_t at = bytes.find(line); at != std::string::npos; at = bytes.find(line, at + 1)) {
      if (at == 0 || bytes[at - 1] == '\r') {
        ++found;
        break;
      }
    }
  }
  return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  stand::Stand s(sim::presets::master(), sim::presets::slave());
  s.radio.faults.cut = true;  // only what the input makes the receiver say
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  s.slave->inject(s.world.now() + vw::ms(20), bytes);
  s.rangeRun = {RangeWay::BothHere, kCount, kSize};
  const stand::Outcome o{stand::Operation::RangeTest, &masterPane, 0, s.world.now(), 0};
  const int32_t result = s.run(stand::Operation::RangeTest, &masterPane);
  require(result == 0, "the range test did not run to its end");
  const RangeDirection& toSlave = s.rangeResult.directions[0];
  const RangeDirection& toMaster = s.rangeResult.directions[1];
  require(toMaster.received == 0, "the master received what nobody sent");
  require(toSlave.received <= wholePackets(bytes), "a line counted that was no packet");
  require(toSlave.sent == kCount && toSlave.received + toSlave.lost == kCount,
          "the slave's counts do not add up");
  requireNone(stand::brokenInvariants(s, {o.operation, o.pane, result, o.startedAt, 0}, {}));
  return 0;
}
