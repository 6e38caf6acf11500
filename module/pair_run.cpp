#include "module/pair_run.h"

#include "module/view_hooks.h"

bool canMakePair(const PaneRecord* master, const PaneRecord* slave) {
  return holdsModuleData(master) && holdsModuleData(slave);
}

void makePair(PaneRecord* master, PaneRecord* slave) {
  if (!canMakePair(master, slave))
    return;
  slave->panIdShown = master->panIdRead;
  master->destHighShown = slave->serialHigh;
  master->destLowShown = slave->serialLow;
  slave->destHighShown = master->serialHigh;
  slave->destLowShown = master->serialLow;
  displayPane(master);
  displayPane(slave);
}
