// Arbitrary bytes from the receiving module in a link transfer: the verdict
// is a pass exactly when they begin with the sixteen characters and a CR.
#include <cstring>

#include "link/transfer.h"
#include "module/link_test.h"
#include "sim/presets.h"
#include "tests/campaign/invariants.h"
#include "tests/fuzz/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  stand::Stand s(sim::presets::master(), sim::presets::slave());
  s.radio.faults.cut = true;  // only what the input makes the receiver say
  SerialPort* sender = openPort(3, nullptr);
  SerialPort* receiver = openPort(4, nullptr);
  require(sender && receiver, "the ports did not open");
  s.slave->inject(s.world.now() + vw::ms(50),
                  std::string(reinterpret_cast<const char*>(data), size));
  const int32_t verdict = linkTransfer(sender, receiver, kLinkTextDigits);
  const bool right =
      size >= kLinkTextLength && std::memcmp(data, kLinkTextDigits, kLinkTextLength) == 0;
  require(verdict == (right ? 1 : 0), "the verdict does not follow what arrived");
  closePort(sender);
  closePort(receiver);
  requireNone(s.world.leftovers());
  requireNone(s.world.violations());
  return 0;
}
