// Arbitrary replies through a whole Read and, when it succeeds, a Write that
// changes the channel, the baud code, the pairing and a field: the campaign's invariants
// must hold after each.
#include "sim/presets.h"
#include "tests/campaign/invariants.h"
#include "tests/fuzz/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  PaneRecord* pane = data[0] & 1 ? &slavePane : &masterPane;
  stand::Stand s(sim::presets::master(), sim::presets::slave());
  stand::Stand::scriptReplies(s.moduleOf(pane), data + 1, size - 1);
  stand::Allowances replies;
  replies.repliesAltered = true;
  stand::Outcome read{stand::Operation::Read, pane, 0, s.world.now()};
  read.result = s.run(stand::Operation::Read, pane);
  requireNone(stand::brokenInvariants(s, read, replies));
  if (read.result != 0)
    return 0;
  os::sleepMs(1500);
  pane->module.shown[Setting::Channel] = 12;
  pane->module.shown[Setting::BaudRate] = 5;
  pane->module.shown[Setting::PowerLevel] = 1;
  pane->module.shown[Setting::PanId] = pane->module.read[Setting::PanId] + 1;
  pane->module.shown[Setting::DestLow] = pane->module.read[Setting::DestLow] ^ 1;
  stand::Outcome write{stand::Operation::Write, pane, 0, s.world.now()};
  write.result = s.run(stand::Operation::Write, pane);
  requireNone(stand::brokenInvariants(s, write, replies));
  return 0;
}
