#include "module/pair_run.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <utility>

#include "link/at_command.h"
#include "link/errors.h"
#include "link/line_log.h"
#include "link/transfer.h"
#include "module/bounded_text.h"
#include "module/link_test.h"
#include "module/read.h"
#include "module/write.h"

bool canMakePair(const ModuleRecord* master, const ModuleRecord* slave) {
  return holdsModuleData(master) && holdsModuleData(slave);
}

void makePair(ModuleRecord* master, ModuleRecord* slave) {
  if (!canMakePair(master, slave))
    return;
  slave->shown[Setting::PanId] = master->read[Setting::PanId];
  setDestination(master->shown, serialNumber(*slave));
  setDestination(slave->shown, serialNumber(*master));
}

namespace {

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
  // A module was searched (at other settings, or with its reset key): the
  // bytes of that search reached the other module over the radio, which
  // lets them out on its line as it leaves command mode.
  bool searched = false;
};

bool cancelled(const Run& r) {
  return isCancelled(*r.run.master) || isCancelled(*r.run.slave);
}

bool cancelledByOperator(const Run& r) {
  return cancelled(r) && !r.stopped;
}

// Announces the step; false (and the run's result set) when a cancel came.
bool begin(Run& r, PairStep step) {
  if (r.run.onStep)
    r.run.onStep(r.run.context, step);
  if (!cancelled(r))
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
void noteIdentity(PairModule* m, const Session& s, int32_t result) {
  const ModuleRecord* pane = s.module;
  *m = PairModule{};
  m->portNumber = static_cast<int32_t>(s.portNumber);
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

// One module's side of the run: its session, and the place it is run for.
struct Side {
  Run* run;
  Session* session;
  bool masterPlace;
  int32_t result = 0;
  uint32_t lastCommandMs = 0;
};

bool isOwnRole(const Side& s) {
  return s.session->module->isMaster == (s.masterPlace ? 1 : 0);
}

// Its failure ends the run: the other session is cancelled as Cancel
// would, so that it leaves command mode at once.
void endRunFor(Side& s) {
  if (s.result == 0 || s.result == ResultCancelled || s.result == ErrCancelled)
    return;
  int none = -1;
  s.run->firstFailure.compare_exchange_strong(none, s.masterPlace ? 0 : 1);
  s.run->stopped = true;
  for (Session* session : {s.run->run.master, s.run->run.slave}) {
    if (session->cancelEvent)
      os::setEvent(session->cancelEvent);
  }
}

// The panes fill in as each read ends; a module in the other's place waits
// for the run to place it.
void readSessionBody(void* context) {
  Side& s = *static_cast<Side*>(context);
  s.result = readInSession(*s.session);
  s.lastCommandMs = os::tickCount();
  if (s.result == 0 && isOwnRole(s)) {
    showChannels(*s.session);
    showModule(*s.session);
  }
  endRunFor(s);
}

// A module that waited for the other session about as long as its
// time-out has left command mode on its own: no "ATCN" may go out into the
// radio as data, and a write enters again.
void noteCommandModeTimeOut(Side& s) {
  SerialPort* port = s.session->port;
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
  Side& s = *static_cast<Side*>(context);
  Session& session = *s.session;
  noteCommandModeTimeOut(s);
  s.result = enterCommandMode(session.port);
  if (s.result == 0)
    s.result = writeInSession(session);
  else
    endSession(session);
  session.finishing = false;
  const PairRun& run = s.run->run;
  if (run.onFinishingWrite)
    run.onFinishingWrite(run.context, s.masterPlace ? PairStep::WriteMaster : PairStep::WriteSlave,
                         false);
}

// The master's session on a thread of its own, the slave's on this one;
// both in turn where no thread can start.
void runBoth(void (*body)(void*), Side* master, Side* slave) {
  os::Handle thread = master ? os::startThread(body, master) : nullptr;
  if (master && !thread)
    body(master);
  if (slave)
    body(slave);
  os::joinThread(thread);
}

// Each keeps its port: the run found the pair on each other's picks.
void exchangeModules(Session& a, Session& b) {
  std::swap(*a.module, *b.module);
  std::swap(a.port, b.port);
  std::swap(a.portNumber, b.portNumber);
}

// A module the read took in the other role, or refused in either, is not
// this pane's.
int32_t roleResult(const Side& s) {
  const bool refused = s.result == ResultNotMaster || s.result == ResultNotSlave;
  if (!refused && (s.result != 0 || isOwnRole(s)))
    return s.result;
  return s.masterPlace ? ResultNotMaster : ResultNotSlave;
}

bool placeCrossedPair(Run& r, Side& master, Side& slave) {
  if (master.result != 0 || slave.result != 0 || isOwnRole(master) || isOwnRole(slave) ||
      !r.run.swapPorts || !r.run.swapPorts(r.run.context)) {
    return false;
  }
  exchangeModules(*master.session, *slave.session);
  std::swap(master.lastCommandMs, slave.lastCommandMs);
  r.out->portsSwapped = true;
  return true;
}

void quickEscapeBody(void* context) {
  Side& s = *static_cast<Side*>(context);
  s.result = tryQuickEscape(*s.session);
  endRunFor(s);
}

bool tookQuickEscape(const Side& s) {
  return s.session->port && s.session->port->inCommandMode;
}

// A "+++" at a setting the module does not talk at reached it as data.
bool sentAtOtherSettings(const Side& s) {
  return !tookQuickEscape(s) ||
         lineGuessOf(s.session->port->serialSettings) != quickTries(*s.session).at[0];
}

// Both quick "+++" at once; a module that did not take it is searched while
// the other, in command mode, holds back what the radio brings it. Two such
// modules are searched one after the other: each one's search would reach
// the other through the radio.
void readSessions(Side& master, Side& slave) {
  runBoth(quickEscapeBody, &master, &slave);
  master.run->searched = sentAtOtherSettings(master) || sentAtOtherSettings(slave);
  if (master.result != 0 || slave.result != 0) {
    // The run ends here: the other module's session with it.
    for (Side* s : {&master, &slave}) {
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

// The line a profile section gives its module, where it names any of it.
LineGuess profileLine(const PaneSettings& section) {
  os::LineSettings line = defaultLineSettings();
  bool named = false;
  for (Setting s : kAllSettings) {
    if (section.present && hasFlag(s, kLineSetting) && section.named[indexOf(s)]) {
      followLineSetting(s, valueAt(s, section.position[indexOf(s)]), line);
      named = true;
    }
  }
  return named ? lineGuessOf(line) : LineGuess{};
}

void endIdleSession(Side& s);

// Both read before either is written: a pair on each other's ports is
// found from the two reads and placed without reading again.
bool readBoth(Run& r, Side& master, Side& slave) {
  if (!begin(r, PairStep::ReadMaster) || !begin(r, PairStep::ReadSlave))
    return false;
  for (Side* s : {&master, &slave}) {
    s->session->options.eitherRole = true;
    // A pair run again: the modules may hold its profile already.
    const SettingsFile* profile = r.run.profile;
    if (profile)
      s->session->options.search.profile =
          profileLine(s->masterPlace ? profile->master : profile->slave);
  }
  readSessions(master, slave);
  for (Side* s : {&master, &slave})
    s->session->options.eitherRole = false;
  const bool placed = placeCrossedPair(r, master, slave);
  const int32_t masterResult = placed ? 0 : roleResult(master);
  const int32_t slaveResult = placed ? 0 : roleResult(slave);
  master.session->module->isMaster = 1;
  slave.session->module->isMaster = 0;
  noteIdentity(&r.out->master, *master.session, masterResult);
  noteIdentity(&r.out->slave, *slave.session, slaveResult);
  if (placed) {
    for (Side* s : {&master, &slave}) {
      showChannels(*s->session);
      showModule(*s->session);
    }
  }
  if (masterResult == 0 && slaveResult == 0)
    return true;
  for (Side* s : {&master, &slave}) {
    // One may have waited for the other's reset key past its time-out.
    endIdleSession(*s);
    showCleared(*s->session);
    resetPane(s->session->module);
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
  ModuleRecord* master = r.run.master->module;
  ModuleRecord* slave = r.run.slave->module;
  const struct {
    ModuleRecord* module;
    const PaneSettings& section;
    const wchar_t* name;
  } targets[] = {{master, profile->master, L"[Master]: "}, {slave, profile->slave, L"[Slave]: "}};
  for (const auto& t : targets) {
    wchar_t reason[kSettingsMessageChars];
    uint32_t line = 0;
    if (t.section.present && !sectionFitsPane(t.module, t.section, reason, &line)) {
      copyText(r.out->detail, t.name, reason);
      return fail(r, PairStep::ApplyProfile, ResultProfileMisfit);
    }
  }
  for (const auto& t : targets) {
    if (t.section.present)
      applySection(t.module, t.section);
  }
  if (profile->pair.makePair)
    makePair(master, slave);
  showModule(*r.run.master);
  showModule(*r.run.slave);
  return true;
}

// The Write's own second read is the module read back, at the settings it
// now talks at: every value that was to change must be what it holds.
bool holdsWhatWasWritten(Run& r, const ModuleRecord* m, const SettingValues& before,
                         const SettingValues& intended) {
  const SettingOrder& order = writeOrder();
  for (size_t i = 0; i < order.count; ++i) {
    const Setting s = order.settings[i];
    if (appliesTo(s, m->isMaster != 0) && before[s] != intended[s] && m->read[s] != intended[s]) {
      copyText(r.out->detail, m->isMaster ? L"Master: " : L"Slave: ", settingInfo(s).name);
      return fail(r, PairStep::Check, ResultNotHeld);
    }
  }
  return true;
}

// A module without changes leaves command mode at once; one with changes
// is written through "ATWR" and its checking read whatever Cancel says,
// which then ends the run after them.
bool startWrite(Run& r, Side& s, PairStep step) {
  if (!showsChanges(s.session->module) || !begin(r, step))
    return false;
  s.session->finishing = true;
  setPortCancelEvent(s.session->port, nullptr);
  if (r.run.onFinishingWrite)
    r.run.onFinishingWrite(r.run.context, step, true);
  return true;
}

void endIdleSession(Side& s) {
  noteCommandModeTimeOut(s);
  endSession(*s.session);
}

PairWrite writeEnd(bool changes, bool began, int32_t result) {
  if (!changes || !began)
    return changes ? PairWrite::NotBegun : PairWrite::NothingToWrite;
  return result == 0                 ? PairWrite::Stored
         : result == ResultCancelled ? PairWrite::Stopped
                                     : PairWrite::Failed;
}

bool writeBoth(Run& r, Side& master, Side& slave) {
  const bool masterChanges = showsChanges(master.session->module);
  const bool slaveChanges = showsChanges(slave.session->module);
  const bool masterWrites = startWrite(r, master, PairStep::WriteMaster);
  bool slaveWrites = false;
  if (masterWrites && cancelled(r)) {
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
  if (!(masterWrites || slaveWrites) || !cancelled(r))
    return true;
  r.out->result = ResultCancelled;
  r.out->failedStep = masterWrites ? PairStep::WriteMaster : PairStep::WriteSlave;
  return false;
}

bool writeAndCheck(Run& r, Side& master, Side& slave) {
  const ModuleRecord* m = master.session->module;
  const ModuleRecord* s = slave.session->module;
  const SettingValues masterBefore = m->read, slaveBefore = s->read;
  const SettingValues masterIntended = m->shown, slaveIntended = s->shown;
  if (!writeBoth(r, master, slave) || !begin(r, PairStep::Check))
    return false;
  return holdsWhatWasWritten(r, m, masterBefore, masterIntended) &&
         holdsWhatWasWritten(r, s, slaveBefore, slaveIntended);
}

// "Baud Rate: master 115200, slave 9600" for the first serial setting in
// which the two differ; false when none does.
bool describeLineDifference(const ModuleRecord* m, const ModuleRecord* s, WideText& d) {
  for (Setting setting : kAllSettings) {
    if (!hasFlag(setting, kLineSetting) || m->read[setting] == s->read[setting])
      continue;
    add(d, settingInfo(setting).label);
    for (const ModuleRecord* module : {m, s}) {
      add(d, module == m ? L": master " : L", slave ");
      if (const wchar_t* text = entryText(setting, module->read[setting]))
        add(d, text);
      else
        addNumber(d, static_cast<uint32_t>(module->read[setting]));
    }
    return true;
  }
  return false;
}

// The dialog's Link Test counts two modules at other serial settings as no
// pair. A run whose profile left those settings alone follows that rule; one
// whose profile set them apart (a slave at its sensor's rate) keeps its
// intent, and its PASS says that they differ.
bool lineSettingsStep(Run& r, const Side& master, const Side& slave) {
  PairRunResult& out = *r.out;
  WideText d = startWideText(out.detail, kPairDetailChars);
  const bool profileSets = r.run.profile && (profileLine(r.run.profile->master).baudRate != 0 ||
                                             profileLine(r.run.profile->slave).baudRate != 0);
  if (profileSets)
    add(d, L"The serial settings differ, as the profile sets them: ");
  if (!describeLineDifference(master.session->module, slave.session->module, d)) {
    out.detail[0] = 0;
    return true;
  }
  if (profileSets) {
    add(d, L".");
    return true;
  }
  return fail(r, PairStep::LinkTest, ResultLinesDiffer);
}

bool rangeStep(Run& r, const RangeSettings& criterion) {
  PairRunResult& out = *r.out;
  out.rangeTested = true;
  out.rangeMinReceived = criterion.minReceived;
  const RangeRun test{RangeWay::BothHere, criterion.packets, kRangeDefaultSize};
  const int32_t code = runRangeTest(test, *r.run.master, r.run.slave, &out.range);
  if (code == ResultCancelled || cancelled(r))
    return fail(r, PairStep::LinkTest, ResultCancelled);
  if (code != 0) {
    const uint32_t port = out.range.failedPort;
    if (port != 0)
      out.portFailedInLink = port == r.run.master->portNumber ? 0 : 1;
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
  const int32_t verdict = testLink(*r.run.master, *r.run.slave);
  if (verdict == kLinkCancelled)
    return fail(r, PairStep::LinkTest, ResultCancelled);
  // A port that failed under the test is the port's failure, not Link NG.
  for (Session* s : {r.run.master, r.run.slave}) {
    if (verdict == kLinkFail && s->outcome.code != 0) {
      r.out->portFailedInLink = s == r.run.master ? 0 : 1;
      return fail(r, PairStep::LinkTest, s->outcome.code);
    }
  }
  r.out->linkVerdict = verdict;
  return verdict == kLinkPass || fail(r, PairStep::LinkTest, ResultLinkNg);
}

// Only a module this run has read: a pane may still hold the last pair's.
void noteSettings(PairModule* m, const ModuleRecord* module) {
  m->holdsSettings = m->identified && holdsModuleData(module);
  if (m->holdsSettings)
    m->settings = *module;
}

}  // namespace

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
  if (run.portDeparted(run.context, true) || run.portDeparted(run.context, false))
    out->result = ErrBadHandle;
}

uint32_t failedPort(const PairRunResult& r) {
  if (r.result == 0 || r.result == ResultCancelled || r.result == ResultSamePort ||
      r.result == ResultLinkNg)
    return 0;
  const bool master = r.failedStep == PairStep::ReadMaster || r.failedStep == PairStep::WriteMaster;
  if (master || r.failedStep == PairStep::ReadSlave || r.failedStep == PairStep::WriteSlave)
    return static_cast<uint32_t>((master ? r.master : r.slave).portNumber);
  if (r.failedStep == PairStep::LinkTest && r.portFailedInLink >= 0 && !r.rangeTested)
    return static_cast<uint32_t>((r.portFailedInLink == 0 ? r.master : r.slave).portNumber);
  return r.failedStep == PairStep::LinkTest && r.rangeTested ? r.range.failedPort : 0;
}

// Before the picks go back: the sessions still hold the ports they failed on.
Outcome failureOutcome(const PairRun& run, const PairRunResult& r) {
  Outcome outcome{r.result, 0, failedPort(r), ""};
  for (const Session* s : {run.master, run.slave}) {
    if (outcome.portNumber != 0 && s->portNumber == outcome.portNumber &&
        s->outcome.code == r.result) {
      outcome.systemError = s->outcome.systemError;
      outcome.step = s->outcome.step;
    }
  }
  return outcome;
}

// The picks are the bench's again; the panes, which now name the other
// module's port, keep nothing of the modules read on the swapped ones.
void swapBack(const PairRun& run) {
  run.swapPorts(run.context);
  for (Session* s : {run.master, run.slave}) {
    showCleared(*s);
    resetPane(s->module);
  }
}

}  // namespace

int32_t runPair(const PairRun& run, PairRunResult* out) {
  *out = PairRunResult{};
  if (!run.master || !run.slave)
    return out->result = ErrArgument;
  if (run.master->portNumber != 0 && run.master->portNumber == run.slave->portNumber) {
    out->result = ResultSamePort;
    out->master.portNumber = out->slave.portNumber = static_cast<int32_t>(run.master->portNumber);
    return out->result;
  }
  const uint32_t start = os::tickCount();
  Run r{run, out};
  // The modules are about to be paired: their differences are no news; a
  // module refused for its role is named.
  for (Session* s : {run.master, run.slave}) {
    s->options.pairWarnings = false;
    s->options.nameRefused = true;
  }
  Side master{&r, run.master, true}, slave{&r, run.slave, false};
  if (readBoth(r, master, slave)) {
    if (applyProfile(r) && writeAndCheck(r, master, slave) && lineSettingsStep(r, master, slave)) {
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
    for (Session* s : {run.master, run.slave}) {
      if (s->cancelEvent)
        os::resetEvent(s->cancelEvent);
    }
  }
  noteSettings(&out->master, run.master->module);
  noteSettings(&out->slave, run.slave->module);
  blameDepartedPort(run, out);
  out->outcome = failureOutcome(run, *out);
  if (out->portsSwapped)
    swapBack(run);
  out->durationMs = os::tickCount() - start;
  return out->result;
}
