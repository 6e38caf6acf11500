// nlconf-cli range-test: the range test's counts as text or JSON, and an
// exit code that says whether every direction received enough.
#pragma once

#include "cli/options.h"

namespace cli {

int rangeTestCommand(const Options& o);

}  // namespace cli
