#include "module/pair_run.h"

#include <cstring>

#include "link/at_command.h"
#include "link/errors.h"
#include "module/link_test.h"
#include "module/read.h"
#include "module/view_hooks.h"
#include "module/write.h"

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

namespace {

// What a Write sends, Shown against Read, one value each.
struct WrittenValues {
  uint64_t value[11];
};
constexpr const wchar_t* kWrittenNames[] = {
    L"PAN ID",    L"Destination", L"Destination", L"Channel",    L"Baud Rate",    L"Parity",
    L"Stop Bits", L"Power Level", L"Boost Mode",  L"Power Save", L"Flow Control",
};

WrittenValues shownValues(const PaneRecord* p) {
  return {{p->panIdShown, p->destHighShown, p->destLowShown, p->channelShown, p->baudCodeShown,
           p->parityCodeShown, p->stopBitsCodeShown, p->powerLevelShown, p->boostModeShown,
           p->isMaster ? 0u : p->sleepModeShown,
           uint64_t{p->d7ConfigShown} << 8 | p->d6ConfigShown}};
}

WrittenValues readValues(const PaneRecord* p) {
  return {{p->panIdRead, p->destHighRead, p->destLowRead, p->channelRead, p->baudCodeRead,
           p->parityCodeRead, p->stopBitsCodeRead, p->powerLevelRead, p->boostModeRead,
           p->isMaster ? 0u : p->sleepModeRead, uint64_t{p->d7ConfigRead} << 8 | p->d6ConfigRead}};
}

void copyText(wchar_t* to, const wchar_t* a, const wchar_t* b = L"", const wchar_t* c = L"") {
  size_t n = 0;
  for (const wchar_t* part : {a, b, c}) {
    for (; part && *part && n + 1 < kPairDetailChars; ++part)
      to[n++] = *part;
  }
  to[n] = 0;
}

struct Run {
  const PairRun& run;
  PairRunResult* out;
};

bool cancelled() {
  return isCancelled(&masterPane) || isCancelled(&slavePane);
}

// Announces the step; false (and the run's result set) when a cancel came.
bool begin(Run& r, PairStep step) {
  if (r.run.onStep)
    r.run.onStep(r.run.context, step);
  if (!cancelled())
    return true;
  r.out->result = ResultCancelled;
  r.out->failedStep = step;
  return false;
}

// A step that ended because of a cancel was cancelled, whatever its code.
bool fail(Run& r, PairStep step, int32_t result) {
  r.out->result = cancelled() ? ResultCancelled : result;
  r.out->failedStep = step;
  return false;
}

// A failed read leaves the pane as it was before: only a read that passed
// names the module, and one that found the wrong module its node identifier.
void noteIdentity(PairModule* m, const PaneRecord* pane, int32_t result) {
  *m = PairModule{};
  m->portNumber = pane->portNumber;
  const bool wrongRole = result == ResultNotMaster || result == ResultNotSlave;
  if (result != 0 && !wrongRole)
    return;
  m->identified = result == 0;
  m->named = wrongRole;
  // No module has serial number 0: the read reset the pane's to that.
  m->serialKnown = pane->serialHigh != 0 || pane->serialLow != 0;
  m->serialHigh = pane->serialHigh;
  m->serialLow = pane->serialLow;
  std::memcpy(m->nodeId, pane->nodeId, kNodeIdSize);
  m->nodeId[kNodeIdSize - 1] = 0;
  m->firmwareVersion = pane->firmwareVersion;
}

// A pane whose read failed keeps nothing of it: nothing half read is
// written or recorded.
int32_t readStep(Run& r, PaneRecord* pane, PairStep step) {
  if (!begin(r, step))
    return ResultCancelled;
  const int32_t result = readPane(pane);
  noteIdentity(pane->isMaster ? &r.out->master : &r.out->slave, pane, result);
  if (result != 0) {
    clearPaneDisplay(pane);
    resetPane(pane);
  }
  return result;
}

bool readBoth(Run& r) {
  int32_t master = readStep(r, &masterPane, PairStep::ReadMaster);
  if (master == ResultCancelled && r.out->failedStep == PairStep::ReadMaster)
    return false;
  if (master != 0 && master != ResultNotMaster)
    return fail(r, PairStep::ReadMaster, master);
  int32_t slave = readStep(r, &slavePane, PairStep::ReadSlave);
  if (slave == ResultCancelled && r.out->failedStep == PairStep::ReadSlave)
    return false;
  // Each module on the other's port: the pair was plugged in crosswise.
  if (master == ResultNotMaster && slave == ResultNotSlave && r.run.swapPorts &&
      r.run.swapPorts(r.run.context)) {
    r.out->portsSwapped = true;
    // The module now on the master's port has just been read: its "+++"
    // needs the guard time's silence first.
    os::sleepMs(kMinimumGuardDelayMs);
    master = readStep(r, &masterPane, PairStep::ReadMaster);
    if (r.out->failedStep != PairStep::None)
      return false;
    if (master != 0)
      return fail(r, PairStep::ReadMaster, master);
    slave = readStep(r, &slavePane, PairStep::ReadSlave);
    if (r.out->failedStep != PairStep::None)
      return false;
  }
  if (master != 0)
    return fail(r, PairStep::ReadMaster, master);
  return slave == 0 || fail(r, PairStep::ReadSlave, slave);
}

// Whole or not at all: both sections are checked before either is applied.
bool applyProfile(Run& r) {
  if (!begin(r, PairStep::ApplyProfile))
    return false;
  const SettingsFile* profile = r.run.profile;
  if (!profile)
    return true;
  const struct {
    PaneRecord* pane;
    const PaneSettings& section;
    const wchar_t* name;
  } targets[] = {{&masterPane, profile->master, L"[Master]: "},
                 {&slavePane, profile->slave, L"[Slave]: "}};
  for (const auto& t : targets) {
    wchar_t reason[kSettingsMessageChars];
    uint32_t line = 0;
    if (t.section.present && !sectionFitsPane(t.pane, t.section, reason, &line)) {
      copyText(r.out->detail, t.name, reason);
      return fail(r, PairStep::ApplyProfile, ResultProfileMisfit);
    }
  }
  for (const auto& t : targets) {
    if (t.section.present)
      applySection(t.pane, t.section);
  }
  if (profile->pair.makePair)
    makePair(&masterPane, &slavePane);
  return true;
}

// Its time limits still end a write whose module or port fails; such a
// failure is the write's own, even when a Cancel came meanwhile.
bool writeStep(Run& r, PaneRecord* pane, PairStep step) {
  if (!paneShowsChanges(pane))
    return true;
  if (!begin(r, step))
    return false;
  pane->finishing = true;
  if (r.run.onFinishingWrite)
    r.run.onFinishingWrite(r.run.context, step, true);
  const int32_t result = writePane(pane);
  pane->finishing = false;
  if (r.run.onFinishingWrite)
    r.run.onFinishingWrite(r.run.context, step, false);
  if (result != 0) {
    r.out->result = result;
    r.out->failedStep = step;
    return false;
  }
  if (!cancelled())
    return true;
  r.out->result = ResultCancelled;
  r.out->failedStep = step;
  return false;
}

// The Write's own second read is the module read back, at the settings it
// now talks at: every value that was to change must be what it holds.
bool holdsWhatWasWritten(Run& r, const PaneRecord* pane, const WrittenValues& before,
                         const WrittenValues& intended) {
  const WrittenValues now = readValues(pane);
  for (size_t i = 0; i < sizeof now.value / sizeof now.value[0]; ++i) {
    if (before.value[i] != intended.value[i] && now.value[i] != intended.value[i]) {
      copyText(r.out->detail, pane->isMaster ? L"Master: " : L"Slave: ", kWrittenNames[i]);
      return fail(r, PairStep::Check, ResultNotHeld);
    }
  }
  return true;
}

bool writeAndCheck(Run& r) {
  const WrittenValues masterBefore = readValues(&masterPane), slaveBefore = readValues(&slavePane);
  const WrittenValues masterIntended = shownValues(&masterPane);
  const WrittenValues slaveIntended = shownValues(&slavePane);
  if (!writeStep(r, &masterPane, PairStep::WriteMaster) ||
      !writeStep(r, &slavePane, PairStep::WriteSlave) || !begin(r, PairStep::Check)) {
    return false;
  }
  return holdsWhatWasWritten(r, &masterPane, masterBefore, masterIntended) &&
         holdsWhatWasWritten(r, &slavePane, slaveBefore, slaveIntended);
}

struct Detail {
  wchar_t* out;
  size_t length = 0;
  void put(wchar_t c) {
    if (length + 1 < kPairDetailChars)
      out[length++] = c;
    out[length] = 0;
  }
  void add(const wchar_t* s) {
    while (*s)
      put(*s++);
  }
  void addNumber(uint32_t n) {
    wchar_t digits[11];
    size_t count = 0;
    do {
      digits[count++] = static_cast<wchar_t>(L'0' + n % 10);
      n /= 10;
    } while (n);
    while (count)
      put(digits[--count]);
  }
};

// "received Master to Slave 100.0 %, Slave to Master 94.0 %; at least 98 %
// needed"
void describeShortfall(const PairRunResult& run, wchar_t* out) {
  Detail d{out};
  out[0] = 0;
  const wchar_t* names[] = {L"Master to Slave ", L"Slave to Master "};
  for (uint32_t i = 0; i < run.range.directionCount && i < 2; ++i) {
    const uint32_t tenths = receivedTenths(run.range.directions[i]);
    d.add(i ? L", " : L"received ");
    d.add(names[i]);
    d.addNumber(tenths / 10);
    d.add(L".");
    d.addNumber(tenths % 10);
    d.add(L" %");
  }
  d.add(L"; at least ");
  d.addNumber(run.rangeMinReceived);
  d.add(L" % needed");
}

// Exact, not through the shown share: 99.95 % is not 100 %.
bool receivedEnough(const RangeResult& range, uint32_t minimum) {
  for (uint32_t i = 0; i < range.directionCount; ++i) {
    const RangeDirection& d = range.directions[i];
    if (uint64_t{100} * d.received < uint64_t{minimum} * d.sent)
      return false;
  }
  return range.directionCount > 0;
}

bool rangeStep(Run& r, const RangeSettings& criterion) {
  PairRunResult& out = *r.out;
  out.rangeTested = true;
  out.rangeMinReceived = criterion.minReceived;
  const RangeRun test{RangeWay::BothHere, criterion.packets, kRangeDefaultSize};
  const int32_t code = runRangeTest(test, &out.range);
  if (code == ResultCancelled || cancelled())
    return fail(r, PairStep::LinkTest, ResultCancelled);
  if (code != 0)
    return fail(r, PairStep::LinkTest, code);
  const bool enough = receivedEnough(out.range, criterion.minReceived);
  out.linkVerdict = enough ? kLinkPass : kLinkFail;
  if (enough)
    return true;
  describeShortfall(out, out.detail);
  return fail(r, PairStep::LinkTest, ResultLinkNg);
}

bool linkStep(Run& r) {
  if (!begin(r, PairStep::LinkTest))
    return false;
  if (r.run.profile && r.run.profile->range.present)
    return rangeStep(r, r.run.profile->range);
  const int32_t verdict = testLink();
  if (verdict == kLinkCancelled)
    return fail(r, PairStep::LinkTest, ResultCancelled);
  r.out->linkVerdict = verdict;
  return verdict == kLinkPass || fail(r, PairStep::LinkTest, ResultLinkNg);
}

// Only a module this run has read: a pane may still hold the last pair's.
void noteSettings(PairModule* m, const PaneRecord* pane) {
  m->holdsSettings = m->identified && holdsModuleData(pane);
  if (m->holdsSettings)
    m->settings = *pane;
}

}  // namespace

bool paneShowsChanges(const PaneRecord* pane) {
  if (!holdsModuleData(pane))
    return false;
  const WrittenValues shown = shownValues(pane), read = readValues(pane);
  return std::memcmp(&shown, &read, sizeof shown) != 0;
}

uint32_t receivedTenths(const RangeDirection& d) {
  return d.sent ? static_cast<uint32_t>(uint64_t{d.received} * 1000 / d.sent) : 0;
}

const wchar_t* pairStepName(PairStep step) {
  switch (step) {
    case PairStep::ReadMaster:
      return L"Read Master";
    case PairStep::ReadSlave:
      return L"Read Slave";
    case PairStep::ApplyProfile:
      return L"Apply Profile";
    case PairStep::WriteMaster:
      return L"Write Master";
    case PairStep::WriteSlave:
      return L"Write Slave";
    case PairStep::Check:
      return L"Check";
    case PairStep::LinkTest:
      return L"Link Test";
    default:
      return L"";
  }
}

namespace {

// A cancel that came because a port left is that port's failure, as the
// runner makes it for a single Read or Write.
void blameDepartedPort(const PairRun& run, PairRunResult* out) {
  if (out->result != ResultCancelled || !run.portDeparted)
    return;
  if (run.portDeparted(run.context, &masterPane) || run.portDeparted(run.context, &slavePane))
    out->result = ErrBadHandle;
}

// The picks are the bench's again; the panes, which now name the other
// module's port, keep nothing of the modules read on the swapped ones.
void swapBack(const PairRun& run) {
  run.swapPorts(run.context);
  for (PaneRecord* pane : {&masterPane, &slavePane}) {
    clearPaneDisplay(pane);
    resetPane(pane);
  }
}

}  // namespace

int32_t runPair(const PairRun& run, PairRunResult* out) {
  *out = PairRunResult{};
  if (const int32_t port = sharedPanePort()) {
    out->result = ResultSamePort;
    out->master.portNumber = out->slave.portNumber = port;
    return out->result;
  }
  const uint32_t start = os::tickCount();
  Run r{run, out};
  // The modules are about to be paired: their differences are no news.
  showPairWarnings(false);
  readNamesRefusedModule(true);
  if (readBoth(r) && applyProfile(r) && writeAndCheck(r))
    linkStep(r);
  readNamesRefusedModule(false);
  showPairWarnings(true);
  noteSettings(&out->master, &masterPane);
  noteSettings(&out->slave, &slavePane);
  blameDepartedPort(run, out);
  if (out->portsSwapped)
    swapBack(run);
  out->durationMs = os::tickCount() - start;
  return out->result;
}
