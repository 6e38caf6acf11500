// nlconf-cli range-test: the range test's counts as text or JSON, and an
// exit code that says whether every direction received enough.
#pragma once

#include <cstdint>

#include "cli/options.h"
#include "cli/session.h"

namespace cli {

// A port opened fresh runs at whatever its driver had; a measurement sets no
// line settings. So each module's are found first, as a Read finds them
// (the reset key asked for where the quick "+++" gets no answer), the
// module left in transparent mode and its port kept open at them for the
// measurement, which closes it. On failure the module's port is closed again.
int32_t findLineSettings(Module& m);
void closeModulePorts();

int rangeTestCommand(const Options& o);

}  // namespace cli
