// Arbitrary replies to discovery: to the quick "+++" and, after the reset
// key, to the settings queries of a module at other settings.
#include "link/discovery.h"
#include "sim/presets.h"
#include "tests/campaign/invariants.h"
#include "tests/fuzz/check.h"
#include "tests/support/recording_view.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sim::ModuleConfig master = sim::presets::master();
  master.registers["BD"] = size ? data[0] % 8 : 3;
  stand::Stand s(master, sim::presets::slave());
  if (size)
    stand::Stand::scriptReplies(*s.master, data + 1, size - 1);
  view().onResetPrompt = [&s] {
    s.world.after(vw::ms(500), [&s] { s.master->pressResetKey(s.world.now()); });
  };
  stand::Allowances replies;
  replies.repliesAltered = true;
  stand::Outcome read{stand::Operation::Read, &masterPane, 0, s.world.now()};
  read.result = s.run(stand::Operation::Read, &masterPane);
  requireNone(stand::brokenInvariants(s, read, replies));
  return 0;
}
