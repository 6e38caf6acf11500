// Where a measurement over the radio starts from, for range-test and
// link-test; range-test itself is kRangeTestCommand.
#pragma once

#include <cstdint>

#include "cli/session.h"

namespace cli {

// A port opened fresh runs at whatever its driver had; a measurement sets no
// line settings. So each module's are found first, as a Read finds them
// (the reset key asked for where the quick "+++" gets no answer), the
// module left in transparent mode and its port kept open at them for the
// measurement, which closes it. On failure the module's port is closed again.
int32_t findLineSettings(Module& m);
void closeModulePorts();

}  // namespace cli
