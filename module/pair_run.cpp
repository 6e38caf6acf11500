#include "module/pair_run.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

#include "link/at_command.h"
#include "link/errors.h"
#include "link/line_log.h"
#include "link/transfer.h"
#include "module/bounded_text.h"
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
  // A session that failed has stopped the other through the panes' cancel
  // events: what ends it then is that failure, not the operator.
  std::atomic<bool> stopped{false};
  std::atomic<int> firstFailure{-1};  // 0 master, 1 slave
  // A module was searched with its reset key: the bytes of that search
  // reached the other module over the radio, which lets them out on its
  // line as it leaves command mode.
  bool searched = false;
};

bool cancelled() {
  return isCancelled(&masterPane) || isCancelled(&slavePane);
}

bool cancelledByOperator(const Run& r) {
  return cancelled() && !r.stopped;
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
  r.out->result = cancelledByOperator(r) ? ResultCancelled : result;
  r.out->failedStep = step;
  return false;
}

// A failed read leaves the pane as it was before: only a read that passed
// names the module, and one that found the wrong module what it answered.
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

// ---- one command-mode session per module, both at once ---------------------------

// The module's command-mode time-out (CT) at its default, 10 s without a
// command; a session that waited for the other one nearly that long enters
// again rather than talk to a module that has left.
constexpr uint32_t kCommandModeTimeOutMs = 10000;
constexpr uint32_t kCommandModeIdleMs = kCommandModeTimeOutMs - 1000;
// Time for what the radio brought meanwhile to come out once it has left.
constexpr uint32_t kReleasedDataMs = 300;

struct Session {
  Run* run;
  PaneRecord* pane;
  int32_t result = 0;
  uint32_t lastCommandMs = 0;
};

bool isOwnRole(const PaneRecord* pane) {
  return pane->isMaster == (pane == &masterPane ? 1 : 0);
}

// Its failure ends the run: the other session is cancelled as Cancel
// would, so that it leaves command mode at once.
void endRunFor(Session& s) {
  if (s.result == 0 || s.result == ResultCancelled || s.result == ErrCancelled)
    return;
  int none = -1;
  s.run->firstFailure.compare_exchange_strong(none, s.pane == &masterPane ? 0 : 1);
  s.run->stopped = true;
  for (PaneRecord* pane : {&masterPane, &slavePane}) {
    if (pane->cancelEvent)
      os::setEvent(pane->cancelEvent);
  }
}

// The panes fill in as each read ends; a module in the other's place waits
// for the run to place it.
void readSessionBody(void* context) {
  Session& s = *static_cast<Session*>(context);
  s.result = readInSession(s.pane);
  s.lastCommandMs = os::tickCount();
  if (s.result == 0 && isOwnRole(s.pane)) {
    fillChannelList(s.pane->channelCombo, s.pane->channelLimit);
    displayPane(s.pane);
  }
  endRunFor(s);
}

// A module that waited for the other session about as long as its
// time-out has left command mode on its own: no "ATCN" may go out into the
// radio as data, and a write enters again.
void noteCommandModeTimeOut(Session& s) {
  SerialPort* port = s.pane->port;
  if (!port || !port->inCommandMode || os::tickCount() - s.lastCommandMs < kCommandModeIdleMs)
    return;
  logEvent(port, "command mode may have timed out while the other module was read");
  port->inCommandMode = 0;
  // Sure to be out, it has let out what the radio brought meanwhile: no
  // reply to what comes next.
  const uint32_t idle = os::tickCount() - s.lastCommandMs;
  if (idle < kCommandModeTimeOutMs + kReleasedDataMs)
    os::sleepMs(kCommandModeTimeOutMs + kReleasedDataMs - idle);
  purgePort(port);
}

void writeSessionBody(void* context) {
  Session& s = *static_cast<Session*>(context);
  PaneRecord* pane = s.pane;
  noteCommandModeTimeOut(s);
  s.result = enterCommandMode(pane->port);
  if (s.result == 0)
    s.result = writeInSession(pane);
  else
    endSession(pane);
  pane->finishing = false;
  const PairRun& run = s.run->run;
  if (run.onFinishingWrite)
    run.onFinishingWrite(run.context,
                         pane == &masterPane ? PairStep::WriteMaster : PairStep::WriteSlave, false);
}

// The master's session on a thread of its own, the slave's on this one;
// both in turn where no thread can start.
void runBoth(void (*body)(void*), Session* master, Session* slave) {
  os::Handle thread = master ? os::startThread(body, master) : nullptr;
  if (master && !thread)
    body(master);
  if (slave)
    body(slave);
  os::joinThread(thread);
}

// Each keeps its port: the run found the pair on each other's picks. What
// a pane holds of its module runs from its colours to its last Shown value.
static_assert(std::is_standard_layout_v<PaneRecord> && std::is_trivially_copyable_v<PaneRecord>);
void exchangeModules(PaneRecord* a, PaneRecord* b) {
  constexpr size_t first = offsetof(PaneRecord, panIdColor);
  constexpr size_t end = offsetof(PaneRecord, d6ConfigShown) + sizeof(PaneRecord::d6ConfigShown);
  unsigned char held[end - first];
  auto* x = reinterpret_cast<unsigned char*>(a) + first;
  auto* y = reinterpret_cast<unsigned char*>(b) + first;
  std::memcpy(held, x, sizeof held);
  std::memcpy(x, y, sizeof held);
  std::memcpy(y, held, sizeof held);
  std::swap(a->port, b->port);
  std::swap(a->portNumber, b->portNumber);
}

// A module the read took in the other role, or refused in either, is not
// this pane's.
int32_t roleResult(const Session& s) {
  const bool refused = s.result == ResultNotMaster || s.result == ResultNotSlave;
  if (!refused && (s.result != 0 || isOwnRole(s.pane)))
    return s.result;
  return s.pane == &masterPane ? ResultNotMaster : ResultNotSlave;
}

bool placeCrossedPair(Run& r, Session& master, Session& slave) {
  if (master.result != 0 || slave.result != 0 || masterPane.isMaster || !slavePane.isMaster ||
      !r.run.swapPorts || !r.run.swapPorts(r.run.context)) {
    return false;
  }
  exchangeModules(&masterPane, &slavePane);
  std::swap(master.lastCommandMs, slave.lastCommandMs);
  r.out->portsSwapped = true;
  return true;
}

void quickEscapeBody(void* context) {
  Session& s = *static_cast<Session*>(context);
  s.result = tryQuickEscape(s.pane);
  endRunFor(s);
}

bool tookQuickEscape(const Session& s) {
  return s.pane->port && s.pane->port->inCommandMode;
}

// Both quick "+++" at once; a module that did not take it is searched while
// the other, in command mode, holds back what the radio brings it. Two such
// modules are searched one after the other: each one's search would reach
// the other through the radio.
void readSessions(Session& master, Session& slave) {
  runBoth(quickEscapeBody, &master, &slave);
  master.run->searched = !tookQuickEscape(master) || !tookQuickEscape(slave);
  if (master.result != 0 || slave.result != 0) {
    // The run ends here: the other module's session with it.
    for (Session* s : {&master, &slave}) {
      if (s->result == 0)
        s->result = ResultCancelled;
    }
    return;
  }
  if (tookQuickEscape(master) || tookQuickEscape(slave)) {
    runBoth(readSessionBody, &master, &slave);
    return;
  }
  readSessionBody(&master);
  readSessionBody(&slave);
}

// Both read before either is written: a pair on each other's ports is
// found from the two reads and placed without reading again.
bool readBoth(Run& r, Session& master, Session& slave) {
  if (!begin(r, PairStep::ReadMaster) || !begin(r, PairStep::ReadSlave))
    return false;
  readTakesEitherRole(true);
  readSessions(master, slave);
  readTakesEitherRole(false);
  const bool placed = placeCrossedPair(r, master, slave);
  const int32_t masterResult = placed ? 0 : roleResult(master);
  const int32_t slaveResult = placed ? 0 : roleResult(slave);
  masterPane.isMaster = 1;
  slavePane.isMaster = 0;
  noteIdentity(&r.out->master, &masterPane, masterResult);
  noteIdentity(&r.out->slave, &slavePane, slaveResult);
  if (placed) {
    for (PaneRecord* pane : {&masterPane, &slavePane}) {
      fillChannelList(pane->channelCombo, pane->channelLimit);
      displayPane(pane);
    }
  }
  if (masterResult == 0 && slaveResult == 0)
    return true;
  for (PaneRecord* pane : {&masterPane, &slavePane}) {
    endSession(pane);
    clearPaneDisplay(pane);
    resetPane(pane);
  }
  // The session that failed first, unless the operator cancelled both.
  const bool masterClean =
      masterResult == 0 || masterResult == ResultCancelled || masterResult == ErrCancelled;
  const bool slaveFirst = r.firstFailure == 1 || (masterClean && slaveResult != 0);
  return slaveFirst ? fail(r, PairStep::ReadSlave, slaveResult)
                    : fail(r, PairStep::ReadMaster, masterResult);
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

// A module without changes leaves command mode at once; one with changes
// is written through "ATWR" and its checking read whatever Cancel says,
// which then ends the run after them.
bool startWrite(Run& r, Session& s, PairStep step) {
  if (!paneShowsChanges(s.pane) || !begin(r, step))
    return false;
  s.pane->finishing = true;
  setPortCancelEvent(s.pane->port, nullptr);
  if (r.run.onFinishingWrite)
    r.run.onFinishingWrite(r.run.context, step, true);
  return true;
}

void endIdleSession(Session& s) {
  noteCommandModeTimeOut(s);
  endSession(s.pane);
}

PairWrite writeEnd(bool changes, bool began, int32_t result) {
  if (!changes || !began)
    return changes ? PairWrite::NotBegun : PairWrite::NothingToWrite;
  return result == 0                 ? PairWrite::Stored
         : result == ResultCancelled ? PairWrite::Stopped
                                     : PairWrite::Failed;
}

bool writeBoth(Run& r, Session& master, Session& slave) {
  const bool masterChanges = paneShowsChanges(master.pane);
  const bool slaveChanges = paneShowsChanges(slave.pane);
  const bool masterWrites = startWrite(r, master, PairStep::WriteMaster);
  bool slaveWrites = false;
  if (masterWrites && cancelled()) {
    // Came with the master's write: that one finishes, the slave's is not begun.
    r.out->result = ResultCancelled;
    r.out->failedStep = PairStep::WriteMaster;
  } else if (r.out->failedStep == PairStep::None) {
    slaveWrites = startWrite(r, slave, PairStep::WriteSlave);
  }
  if (!masterWrites)
    endIdleSession(master);
  if (!slaveWrites)
    endIdleSession(slave);
  runBoth(writeSessionBody, masterWrites ? &master : nullptr, slaveWrites ? &slave : nullptr);
  r.out->master.write = writeEnd(masterChanges, masterWrites, master.result);
  r.out->slave.write = writeEnd(slaveChanges, slaveWrites, slave.result);
  if (masterWrites && master.result != 0) {
    r.out->result = master.result;
    r.out->failedStep = PairStep::WriteMaster;
    return false;
  }
  if (slaveWrites && slave.result != 0) {
    r.out->result = slave.result;
    r.out->failedStep = PairStep::WriteSlave;
    return false;
  }
  if (r.out->failedStep != PairStep::None)
    return false;
  if (!(masterWrites || slaveWrites) || !cancelled())
    return true;
  r.out->result = ResultCancelled;
  r.out->failedStep = masterWrites ? PairStep::WriteMaster : PairStep::WriteSlave;
  return false;
}

bool writeAndCheck(Run& r, Session& master, Session& slave) {
  const WrittenValues masterBefore = readValues(&masterPane), slaveBefore = readValues(&slavePane);
  const WrittenValues masterIntended = shownValues(&masterPane);
  const WrittenValues slaveIntended = shownValues(&slavePane);
  if (!writeBoth(r, master, slave) || !begin(r, PairStep::Check))
    return false;
  return holdsWhatWasWritten(r, &masterPane, masterBefore, masterIntended) &&
         holdsWhatWasWritten(r, &slavePane, slaveBefore, slaveIntended);
}

bool rangeStep(Run& r, const RangeSettings& criterion) {
  PairRunResult& out = *r.out;
  out.rangeTested = true;
  out.rangeMinReceived = criterion.minReceived;
  const RangeRun test{RangeWay::BothHere, criterion.packets, kRangeDefaultSize};
  const int32_t code = runRangeTest(test, &out.range);
  if (code == ResultCancelled || cancelled())
    return fail(r, PairStep::LinkTest, ResultCancelled);
  if (code != 0) {
    const uint32_t port = out.range.failedPort;
    if (port != 0)
      out.portFailedInLink = port == static_cast<uint32_t>(masterPane.portNumber) ? 0 : 1;
    return fail(r, PairStep::LinkTest, code);
  }
  const bool enough = sharesMeet(out.range, criterion.minReceived * kShareMinimumPerPercent);
  out.linkVerdict = enough ? kLinkPass : kLinkFail;
  if (enough)
    return true;
  describeRangeShares(out, out.detail);
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

void describeRangeShares(const PairRunResult& run, wchar_t* out) {
  WideText d = startWideText(out, kPairDetailChars);
  const wchar_t* names[] = {L"Master to Slave ", L"Slave to Master "};
  for (uint32_t i = 0; i < run.range.directionCount && i < 2; ++i) {
    char share[kShareTextChars];
    receivedShareText(run.range.directions[i], share);
    add(d, i ? L", " : L"received ");
    add(d, names[i]);
    for (const char* c = share; *c; ++c)
      put(d, static_cast<uint32_t>(*c));
    add(d, L" %");
  }
  add(d, L"; at least ");
  addNumber(d, run.rangeMinReceived);
  add(d, L" % needed");
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
  Session master{&r, &masterPane}, slave{&r, &slavePane};
  if (readBoth(r, master, slave)) {
    if (applyProfile(r) && writeAndCheck(r, master, slave)) {
      // Let out at the slowest line rate, they must not pass for the link
      // test's text (which purges its lines first).
      if (r.searched)
        os::sleepMs(kReleasedDataMs);
      linkStep(r);
    }
    endIdleSession(master);
    endIdleSession(slave);
  }
  // The run's own stop of a session is no Cancel for what comes after it.
  if (r.stopped) {
    for (PaneRecord* pane : {&masterPane, &slavePane}) {
      if (pane->cancelEvent)
        os::resetEvent(pane->cancelEvent);
    }
  }
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
