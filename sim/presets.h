// Ready-made modules: a master and a slave that form a linked pair, and
// modules that each fail one of the checks a read makes. Plain data, to be
// adjusted by a test before it builds its Module.
#pragma once

#include "sim/module.h"

namespace sim::presets {

// Role byte 0x20, "KOV-NL001/M"; its destination is the slave's serial number.
ModuleConfig master();
// Role byte 0x22, "KOV-NL001/S"; its destination is the master's serial number.
ModuleConfig slave();
// The slave in cyclic sleep (SM 4).
ModuleConfig sleepingSlave();

// Master node id with the slave's role byte 0x22, and the reverse.
ModuleConfig masterWithSlaveRole();
ModuleConfig slaveWithMasterRole();
// Role byte 0x40, which either pane accepts; the node id decides.
ModuleConfig masterWithSharedRole();
ModuleConfig slaveWithSharedRole();
// The right role byte with a node id that differs only in case.
ModuleConfig masterWithWrongNodeId();
ModuleConfig slaveWithWrongNodeId();
// A slave that does not pair with master(): its destination is another
// module, or its extended PAN ID is another network's.
ModuleConfig slaveWithWrongDestination();
ModuleConfig slaveWithOtherPanId();

}  // namespace sim::presets
