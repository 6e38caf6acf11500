#include "tests/campaign/invariants.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <utility>

#include "link/at_command.h"
#include "link/errors.h"
#include "link/port_table.h"
#include "module/pair_run.h"
#include "sim/registers.h"

namespace stand {
namespace {

using Broken = std::vector<std::string>;

bool definedResult(Operation operation, int32_t result) {
  if (operation == Operation::LinkTest)
    return result == 0 || result == 1 || result == ResultCancelled;
  if (operation == Operation::RangeTest)
    return result == 0 || result == ResultCancelled || result == ErrNoPort || result == ErrWrite ||
           result == ErrRead || result == ErrTimeout;
  switch (result) {
    case 0:
    case ErrBadHandle:
    case ErrNoPort:
    case ErrWrite:
    case ErrRead:
    case ErrTimeout:
    case ErrNotOk:
    case ErrCancelled:
    case ResultCancelled:
    case ResultNotMaster:
    case ResultNotSlave:
      return true;
    case ResultJoinTimeout:
      return operation == Operation::Write || operation == Operation::PairRun;
    case ResultProfileMisfit:
    case ResultNotHeld:
    case ResultLinkNg:
    case ResultLinesDiffer:
      return operation == Operation::PairRun;
    default:
      return false;
  }
}

// Whether, by what the program read, the module is in command mode: a clean
// "OK" right after one of its "+++", and no "ATCN" sent since; or, where
// answers come whole, the module answered its last "+++" with "OK" and the
// program never read that answer.
bool programKnowsCommandMode(const vw::World& world, const std::string& port, vw::TimeUs since,
                             bool answersWhole) {
  std::string sent, read, answer;
  bool escaped = false, known = false;
  for (const vw::Entry& e : world.transcript()) {
    if (e.port != port || e.at < since)
      continue;
    if (e.kind == vw::Event::HostByte) {
      sent.push_back(static_cast<char>(e.value));
      if (sent.size() > 5)
        sent.erase(0, sent.size() - 5);
      if (sent.size() >= 3 && sent.compare(sent.size() - 3, 3, "+++") == 0) {
        escaped = true;
        read.clear();
        answer.clear();
      }
      if (sent == "ATCN\r")
        known = false;
    } else if (e.kind == vw::Event::PeerByte && escaped && answer.size() < 3) {
      answer.push_back(static_cast<char>(e.value));
    } else if (e.kind == vw::Event::HostRead && escaped) {
      read.push_back(static_cast<char>(e.value));
      if (read.size() == 3) {
        known = known || read == "OK\r";
        escaped = false;
      }
    }
  }
  return known || (escaped && answersWhole && answer == "OK\r");
}

// A value a setter may carry: an entry of the pane's lists, as upper-case hex.
bool offeredSetting(const std::string& letters, uint64_t v) {
  static const std::map<std::string, bool (*)(uint64_t)> rules = {
      {"SC", [](uint64_t m) { return m != 0 && m <= 0xFFFF && (m & (m - 1)) == 0; }},
      {"BD", [](uint64_t c) { return c <= 7; }},
      {"NB", [](uint64_t c) { return c <= 3; }},
      {"SB", [](uint64_t c) { return c <= 1; }},
      {"PL", [](uint64_t c) { return c <= 4; }},
      {"PM", [](uint64_t c) { return c <= 1; }},
      {"SM", [](uint64_t c) { return c == 0 || c == 4; }},
      {"D7", [](uint64_t c) { return c == 1 || c == 4; }},
      {"D6", [](uint64_t c) { return c <= 1; }},
      {"NR", [](uint64_t c) { return c == 0; }},
      {"ID", [](uint64_t id) { return id != ~uint64_t{0}; }},
      {"DH", [](uint64_t half) { return half <= 0xFFFFFFFF; }},
      {"DL", [](uint64_t half) { return half <= 0xFFFFFFFF; }},
  };
  auto it = rules.find(letters);
  return it != rules.end() && it->second(v);
}

void checkSetters(const vw::World& world, const std::string& port, Broken& broken) {
  std::string line;
  for (char c : world.hostBytes(port)) {
    if (c != '\r') {
      line.push_back(c);
      continue;
    }
    if (line.size() > 4 && line.compare(0, 2, "AT") == 0) {
      uint64_t value = 0;
      const std::string letters = line.substr(2, 2);
      const bool addressHalf = letters == "DH" || letters == "DL";
      if (!sim::parseHexParam(line.substr(4), &value) || !offeredSetting(letters, value) ||
          (addressHalf && line.size() != 4 + 8))
        broken.push_back(port + " was sent " + line + ", which no list offers");
    }
    line.clear();
  }
}

// A terminal sends what was typed, "+++", "ATCN" and the search for the
// serial settings (its request frame and queries), and nothing else.
void checkTerminalSent(const Stand& stand, const std::string& port, vw::TimeUs since,
                       Broken& broken) {
  const std::string frame("\x7E\x00\x04\x08\x01\x56\x52\x4E\xE4\x91\x18", 11);
  const std::string own[] = {"ATCN", "ATCT", "ATBD", "ATNB", "ATSB", frame};
  std::string bytes;
  for (const vw::Entry& e : stand.world.transcript()) {
    if (e.port == port && e.at >= since && e.kind == vw::Event::HostByte)
      bytes.push_back(static_cast<char>(e.value));
  }
  for (const std::string& gone : {frame, std::string("+++")}) {
    for (size_t at = bytes.find(gone); at != std::string::npos; at = bytes.find(gone, at))
      bytes.erase(at, gone.size());
  }
  std::string line;
  for (char c : bytes) {
    if (c != '\r') {
      line.push_back(c);
      continue;
    }
    bool allowed = std::find(std::begin(own), std::end(own), line) != std::end(own);
    for (const TypedLine& typed : stand.typed)
      allowed = allowed || typed.line == line;
    if (!allowed)
      broken.push_back(port + " was sent " + line + ", which nobody typed");
    line.clear();
  }
  // A write that CTS, a cancel or an unplug cut short ends the session where
  // it stands: what went out of it is the start of a line it may send.
  bool cut = line.size() < 3 && line.find_first_not_of('+') == std::string::npos;
  for (const std::string& whole : own)
    cut = cut || whole.compare(0, line.size(), line) == 0;
  for (const TypedLine& typed : stand.typed)
    cut = cut || typed.line.compare(0, line.size(), line) == 0;
  if (!line.empty() && !cut)
    broken.push_back(port + " was sent " + line + " without its CR");
}

template <typename A, typename B>
void expectSame(const char* what, A pane, B module, Broken& broken) {
  if (static_cast<uint64_t>(pane) != static_cast<uint64_t>(module))
    broken.push_back(std::string("the pane shows ") + what + " the module does not hold");
}

// After a successful read the pane holds exactly what the module holds.
void checkValues(const ModuleRecord* p, const sim::Module& m, Broken& broken) {
  if (m.nodeId() != p->nodeId)
    broken.push_back("the pane's node identifier is not the module's");
  expectSame("a firmware version", p->firmwareVersion, m.reg("VR") & 0xFFFF, broken);
  expectSame("a serial number", p->serialLow, m.reg("SL"), broken);
  expectSame("a serial number", p->serialHigh, m.reg("SH"), broken);
  expectSame("a PAN ID", p->read[Setting::PanId], m.reg("ID"), broken);
  expectSame("a destination", p->read[Setting::DestLow], m.reg("DL"), broken);
  expectSame("a destination", p->read[Setting::DestHigh], m.reg("DH"), broken);
  expectSame("a channel", p->read[Setting::Channel], m.channel() ? m.channel() : 20, broken);
  expectSame("a baud code", p->read[Setting::BaudRate], m.reg("BD"), broken);
  expectSame("a parity code", p->read[Setting::Parity], m.reg("NB") & 0xFF, broken);
  expectSame("a stop-bit code", p->read[Setting::StopBits], m.reg("SB") & 0xFF, broken);
  expectSame("a power level", p->read[Setting::PowerLevel], m.reg("PL") & 0xFF, broken);
  expectSame("a boost mode", p->read[Setting::BoostMode], m.reg("PM") & 0xFF, broken);
  expectSame("a D7 setting", p->read[Setting::D7Config], m.reg("D7") & 0xFF, broken);
  expectSame("a D6 setting", p->read[Setting::D6Config], m.reg("D6") & 0xFF, broken);
  if (!p->isMaster)
    expectSame("a sleep mode", p->read[Setting::SleepMode], m.reg("SM") & 0xFF, broken);
}

// Counts that add up, every packet accounted for once, in the time its
// waits allow; the modules spoken to with data only.
void checkRange(Stand& stand, const Outcome& o, const Allowances& a, Broken& broken) {
  const RangeRun& run = stand.rangeRun;
  const RangeResult& r = stand.rangeResult;
  uint32_t packets = 0;
  for (uint32_t i = 0; i < r.directionCount; ++i) {
    const RangeDirection& d = r.directions[i];
    packets += d.sent;
    if (d.sent != d.received + d.lost || d.corrupted > d.lost)
      broken.push_back("range counts do not add up in direction " + std::to_string(i));
    if (d.sent > run.count || (o.result == 0 && d.sent != run.count))
      broken.push_back("range direction " + std::to_string(i) + " sent " + std::to_string(d.sent) +
                       " of " + std::to_string(run.count));
  }
  if (r.directionCount == 2 && r.directions[1].sent > r.directions[0].sent)
    broken.push_back("the slave's way sent more than the master's");
  if (a.faultFree && !a.farModulePlugged &&
      packets != r.directions[0].received + r.directions[1].received)
    broken.push_back("a range test without faults lost packets");
  // Nothing from the plugged far side; the master's packets come back as echoes.
  if (a.farModulePlugged && (r.directions[1].received > 0 || r.directions[1].duplicated > 0))
    broken.push_back("the plugged far side was credited with packets");
  if (a.farModulePlugged && a.faultFree && r.directions[0].echoed != r.directions[0].sent)
    broken.push_back("an echo went uncounted");
  if (!a.farModulePlugged && (r.directions[0].echoed > 0 || r.directions[1].echoed > 0))
    broken.push_back("an echo without a plug");
  if (o.result < 0 && o.result != ErrNoPort && r.failedPort != 3 && r.failedPort != 4)
    broken.push_back("a range test stopped by a port names none");
  // Each packet waits at most one limit; a write may first wait out CTS.
  const vw::TimeUs limitUs = vw::ms(3 * run.size * 11 + 2 * kRangeTurnaroundMs + 2);
  const vw::TimeUs bound = (run.count * 2 + 1) * limitUs + vw::ms(40000);
  const vw::TimeUs took = (o.endedAt ? o.endedAt : stand.world.now()) - o.startedAt;
  if (took > bound)
    broken.push_back("the range test took " + std::to_string(took) + " us of virtual time");
  if (stand.master->commandLog().size() + stand.slave->commandLog().size() != o.commandsBefore)
    broken.push_back("a module heard a command during the range test");
  if (stand.master->inCommandMode() || stand.slave->inCommandMode())
    broken.push_back("a module is in command mode after the range test");
}

// A pair run's range test: counts that add up, and a verdict that follows
// them against the profile's minimum.
void checkPairRange(const PairRunResult& p, Broken& broken) {
  bool enough = p.range.directionCount == 2;
  for (uint32_t i = 0; i < p.range.directionCount; ++i) {
    const RangeDirection& d = p.range.directions[i];
    if (d.sent != d.received + d.lost || d.corrupted > d.lost)
      broken.push_back("the pair run's range counts do not add up");
    enough = enough && uint64_t{100} * d.received >= uint64_t{p.rangeMinReceived} * d.sent;
  }
  if (p.range.code < 0 && p.range.code != ErrNoPort && p.portFailedInLink < 0)
    broken.push_back("the pair run's range test stopped by a port names none");
  if (p.linkVerdict == 1 && !enough)
    broken.push_back("a range test below its minimum passed the pair");
  if (p.linkVerdict == 0 && enough)
    broken.push_back("a range test that received enough failed the pair");
}

}  // namespace

std::vector<std::string> brokenInvariants(Stand& stand, const Outcome& o, const Allowances& a) {
  Broken broken;
  if (!definedResult(o.operation, o.result))
    broken.push_back("result " + std::to_string(o.result) + " is no defined code");
  if (!a.cancelled && (o.result == ResultCancelled || o.result == ErrCancelled))
    broken.push_back("cancelled (" + std::to_string(o.result) + ") without a cancel");
  if (o.operation == Operation::RangeTest)
    checkRange(stand, o, a, broken);
  if (o.operation == Operation::PairRun && stand.pairResult.rangeTested)
    checkPairRange(stand.pairResult, broken);
  // Two modules left at other serial settings are no pair, faults or none;
  // two at the same ones never fail for it.
  const bool linesDiffer =
      o.operation == Operation::PairRun && (stand.master->reg("BD") != stand.slave->reg("BD") ||
                                            stand.master->reg("NB") != stand.slave->reg("NB") ||
                                            stand.master->reg("SB") != stand.slave->reg("SB"));
  if (o.result == ResultLinesDiffer && !linesDiffer)
    broken.push_back("a pair at the same serial settings failed for differing ones");
  if (a.faultFree && o.result != (o.operation == Operation::LinkTest ? 1 : 0) &&
      !(o.result == ResultLinesDiffer && linesDiffer))
    broken.push_back("a run without faults failed with " + std::to_string(o.result));
  // A pair run answers for both panes, each for the module on the port it
  // used last (it may have swapped them).
  const bool both = o.operation == Operation::PairRun;
  for (PaneRecord* pane : both ? std::vector{&masterPane, &slavePane} : std::vector{o.pane}) {
    // A run that swapped empties the panes at its end: its notes are what it read.
    const PairModule& noted =
        pane == &masterPane ? stand.pairResult.master : stand.pairResult.slave;
    const ModuleRecord* shown = both ? &noted.settings : &pane->module;
    const bool crossed = both && noted.portNumber == (pane == &masterPane ? 4 : 3);
    const PaneRecord* place = crossed ? otherPane(pane) : pane;  // whose port it used
    const std::string port = Stand::portOf(place);
    sim::Module& module = stand.moduleOf(place);
    if (!a.mayStayInCommandMode && module.inCommandMode() &&
        programKnowsCommandMode(stand.world, port, o.startedAt, !a.repliesAltered)) {
      broken.push_back("the module was left in command mode");
    }
    const bool terminal = o.operation == Operation::Terminal;
    if (terminal && a.faultFree && module.inCommandMode())
      broken.push_back("the terminal left its module in command mode");
    const bool reads =
        o.operation != Operation::LinkTest && o.operation != Operation::RangeTest && !terminal;
    if (reads && !a.repliesAltered) {
      if (o.result == 0)
        checkValues(shown, module, broken);
      else if (pane->module.nodeId[0] && module.nodeId() != pane->module.nodeId)
        broken.push_back("a failed read left a node identifier the module never gave");
    }
    // However a write ends, the module runs only what it stored: a pair
    // run's cancel stores what it sent, and so does a Write cut short,
    // unless its way out was cut too.
    // Closing, the store has one try, which a cut line or an ignored ATWR takes.
    const bool storeCut = a.closing && (a.mayStayInCommandMode || a.storeWithheld);
    const bool written = o.operation == Operation::Write && !a.mayStayInCommandMode && !storeCut;
    if ((written || (both && o.result == ResultCancelled && !storeCut)) && !a.repliesAltered) {
      for (const char* letters :
           {"ID", "DH", "DL", "SC", "BD", "NB", "SB", "PL", "PM", "SM", "D7", "D6"}) {
        if (module.reg(letters) != module.storedReg(letters))
          broken.push_back(port + " runs an AT" + letters + " it has not stored");
      }
    }
    if (terminal)
      checkTerminalSent(stand, port, o.startedAt, broken);
    else
      checkSetters(stand.world, port, broken);
  }
  // Only a refused module's identifier may stay, for the message that names it.
  if (o.operation == Operation::Read && o.result != 0 && o.result != ResultNotMaster &&
      o.result != ResultNotSlave && o.pane->module.nodeId[0]) {
    broken.push_back("a failed read left module data in the pane");
  }
  for (const std::string& left : stand.world.leftovers())
    broken.push_back("left behind: " + left);
  for (const std::string& v : stand.world.violations())
    broken.push_back(v);
  for (const PaneRecord* pane : {&masterPane, &slavePane}) {
    if (pane->session.port || isValidPort(portRecord(pane == &masterPane ? 3 : 4)))
      broken.push_back("a port was left open");
  }
  const vw::TimeUs took = (o.endedAt ? o.endedAt : stand.world.now()) - o.startedAt;
  // The search with the reset key, then each line's pause, guard time and
  // longest reply (a stream of lines each within their window).
  vw::TimeUs typing = vw::ms(25000);
  for (const TypedLine& typed : stand.typed)
    typing += vw::ms(typed.pauseMs + 2 * kLongestGuardTimeMs + 1200 + 64 * 260);
  if (o.operation == Operation::Terminal && took > typing)
    broken.push_back("the terminal took " + std::to_string(took) + " us of virtual time");
  if (took > kLongestOperationUs)
    broken.push_back("the operation took " + std::to_string(took) + " us of virtual time");
  return broken;
}

}  // namespace stand
