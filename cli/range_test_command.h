// Where a measurement over the radio starts from, for range-test and
// link-test; range-test itself is kRangeTestCommand.
#pragma once

#include <cstdint>

#include <string>

#include "cli/session.h"
#include "module/range_test.h"

namespace cli {

// A port opened fresh runs at whatever its driver had; a measurement sets no
// line settings. So each module's are found first, as a Read finds them
// (the reset key asked for where the quick "+++" gets no answer), the
// module left in transparent mode and its port kept open at them for the
// measurement, which closes it. On failure the module's port is closed again.
int32_t findLineSettings(Module& m);
void closeModulePorts();

// Each direction's counts and share, in range-test's and pair's JSON.
std::string rangeDirectionsJson(const RangeResult& r);
// A minimum in ten-thousandths of a per cent, as it was given: "99.5".
std::string minimumText(uint32_t minimum);
// The text's last line: the verdict against the minimum.
std::string rangeVerdictLine(bool passed, uint32_t minimum);

}  // namespace cli
