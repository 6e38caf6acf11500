// What must hold after every operation, whatever the faults: the checks that
// the campaign runs after each seed and the fuzz targets after each input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/campaign/stand.h"

namespace stand {

// What the run's faults allow the program to know and do.
struct Allowances {
  bool repliesAltered = false;  // a reply may not be what the module holds
  // The way out of command mode may be cut (unplug, CTS, a failing OS call),
  // or the module's answer to "+++" may come after the program stopped waiting.
  bool mayStayInCommandMode = false;
  bool faultFree = false;         // nothing went wrong: the operation must succeed
  bool cancelled = false;         // a cancel (or an unplug, which sets the event) was drawn
  bool closing = false;           // the program closed meanwhile: one try to store
  bool storeWithheld = false;     // the module may ignore an ATWR
  bool farModulePlugged = false;  // both here, with a loopback plug on the slave
};

struct Outcome {
  Operation operation = Operation::Read;
  PaneRecord* pane = nullptr;
  int32_t result = 0;
  vw::TimeUs startedAt = 0;
  size_t commandsBefore = 0;  // both modules' command logs when it started
  vw::TimeUs endedAt = 0;     // 0: when checked; a check may wait for a late reply
};

constexpr vw::TimeUs kLongestOperationUs = 180 * 1000 * 1000;

// Every broken invariant, in words; empty when all hold.
std::vector<std::string> brokenInvariants(Stand& stand, const Outcome& outcome,
                                          const Allowances& allowances);

}  // namespace stand
