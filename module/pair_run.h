// Making two modules a pair, and the production run that reads, sets up,
// writes, checks and link-tests one pair after the other.
#pragma once

#include <cstdint>

#include "module/pane.h"

// Both panes hold read values.
bool canMakePair(const PaneRecord* master, const PaneRecord* slave);
// The slave takes the master's PAN ID and each destination becomes the
// other module's serial number, as Shown values: red where they differ from
// what was read, and nothing reaches a module until Write.
void makePair(PaneRecord* master, PaneRecord* slave);
