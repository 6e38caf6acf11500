// The seeded fault campaign: each seed draws modules, an operation and the
// faults to throw at it, runs the program's real code in the virtual world
// and checks the invariants. Any run replays exactly from its seed.
//
//   nlconf_campaign [--runs N] [--first S]   seeds S .. S+N-1 (default 0, 1000)
//   nlconf_campaign --seed S                 one run, its line log as it goes, its plan and line
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "link/line_log.h"
#include "module/pair_run.h"
#include "module/settings_file.h"
#include "module/write.h"
#include "sim/presets.h"
#include "tests/campaign/invariants.h"
#include "tests/campaign/stand.h"
#include "tests/support/recording_view.h"

namespace {

using stand::Operation;
using vw::ms;
using vw::TimeUs;

// Draws from the seed; std::mt19937_64 is the same everywhere, the standard
// distributions are not, so the draws are made by hand.
class Draw {
 public:
  explicit Draw(uint64_t seed) : rng_(seed) {}
  uint64_t below(uint64_t n) { return n ? rng_() % n : 0; }
  bool chance(unsigned percent) { return below(100) < percent; }
  TimeUs within(uint64_t maxMs) { return below(maxMs * 1000); }
  template <typename T, size_t N>
  const T& oneOf(const T (&items)[N]) {
    return items[below(N)];
  }

 private:
  std::mt19937_64 rng_;
};

const char* const kReplyLetters[] = {"+++", "GT", "VR", "ID", "OI", "HV", "TP", "NI", "SL",
                                     "SH",  "DL", "DH", "SC", "BD", "NB", "SB", "PL", "PM",
                                     "SM",  "D7", "D6", "CN", "WR", "AC", "NR", "AI", "SC"};
const char* const kReplies[] = {"OK\r",
                                "ERROR\r",
                                "\r",
                                "0\r",
                                "FFFFFFFF\r",
                                "xyz\r",
                                "OK",
                                "KOV-NL001/M\r",
                                "KOV-NL001/S\r",
                                "OK\rOK\r",
                                "12345678901234567\r"};
const vw::Call kCalls[] = {
    vw::Call::CreateEvent,    vw::Call::CreateMutex, vw::Call::LockMutex,
    vw::Call::OpenSerial,     vw::Call::StartWrite,  vw::Call::StartRead,
    vw::Call::FinishTransfer, vw::Call::ModemStatus, vw::Call::SetLineSettings,
    vw::Call::SetTimeouts,    vw::Call::SetQueues,   vw::Call::Purge,
    vw::Call::Escape,         vw::Call::WaitAny,     vw::Call::SetBreak};

struct Run {
  uint64_t seed = 0;
  bool trace = false;
  std::vector<std::string> plan;  // what was drawn, in words
  stand::Allowances allowances;
};

std::string randomBytes(Draw& d, size_t most) {
  std::string s(d.below(most) + 1, '\0');
  for (char& c : s)
    c = static_cast<char>(d.below(256));
  return s;
}

// The modules' serial settings: 9600 8-N-1 mostly, any other now and then.
sim::ModuleConfig module(sim::ModuleConfig c, uint64_t bd, uint64_t nb, uint64_t sb, bool sleepy) {
  c.registers["BD"] = bd;
  c.registers["NB"] = nb;
  c.registers["SB"] = sb;
  if (sleepy)
    c.registers["SM"] = 4;
  return c;
}

// A read that the user would do first, fault-free, pressing the reset key
// as soon as asked.
bool prepare(stand::Stand& s, PaneRecord* pane) {
  view().onResetPrompt = [&s, pane] {
    s.world.after(ms(1), [&s, pane] { s.moduleOf(pane).pressResetKey(s.world.now()); });
  };
  const bool ok = s.run(Operation::Read, pane) == 0;
  s.world.at(s.world.now() + ms(1500), [] {});  // the module's guard time passes
  os::sleepMs(1500);
  return ok;
}

void armReplyFaults(Draw& d, sim::Module& m, Run& run) {
  const int count = static_cast<int>(d.below(3)) + 1;
  for (int i = 0; i < count; ++i) {
    const std::string letters = d.oneOf(kReplyLetters);
    switch (d.below(4)) {
      case 0:
        m.faults.withholdReply[letters] = static_cast<int>(d.below(2)) + 1;
        run.plan.push_back("reply to " + letters + " withheld");
        run.allowances.storeWithheld = run.allowances.storeWithheld || letters == "WR";
        break;
      case 1:
        m.faults.replaceReply[letters] = d.oneOf(kReplies);
        run.plan.push_back("reply to " + letters + " replaced");
        run.allowances.repliesAltered = true;
        break;
      case 2:
        m.faults.replaceReply[letters] = randomBytes(d, 12);
        run.plan.push_back("reply to " + letters + " garbled");
        run.allowances.repliesAltered = true;
        break;
      default:
        m.faults.replaceReply[letters] = std::string("OK\r").substr(0, d.below(2) + 1);
        run.plan.push_back("reply to " + letters + " cut");
        run.allowances.repliesAltered = true;
        break;
    }
  }
}

// Faults from the moment the operation starts (t0), drawn from the seed.
void armFaults(Draw& d, stand::Stand& s, PaneRecord* pane, Operation op, Run& run) {
  const TimeUs t0 = s.world.now();
  sim::Module& m = s.moduleOf(pane);
  if (d.chance(12)) {
    const vw::Call call = d.oneOf(kCalls);
    const int after = static_cast<int>(d.below(300));
    s.world.failCall(call, after);
    run.plan.push_back("OS call " + std::to_string(static_cast<int>(call)) + " fails after " +
                       std::to_string(after));
    run.allowances.mayStayInCommandMode = true;
  }
  const bool transparent = op == Operation::LinkTest || op == Operation::RangeTest;
  if (!transparent && d.chance(25))
    armReplyFaults(d, m, run);
  if (d.chance(6)) {
    m.faults.replyDelayUs = 500000 + d.within(2000);  // some beyond the host's patience
    run.plan.push_back("replies late by " + std::to_string(m.faults.replyDelayUs / 1000) + " ms");
    run.allowances.mayStayInCommandMode = true;
  }
  if (d.chance(6)) {
    for (int i = 0, n = static_cast<int>(d.below(4)) + 1; i < n; ++i)
      m.inject(t0 + d.within(8000), randomBytes(d, 6));
    run.plan.push_back("noise from the module's side");
    run.allowances.repliesAltered = true;
  }
  if (d.chance(6)) {
    const TimeUs at = t0 + d.within(8000), until = at + d.within(30000);
    s.world.at(at, [&m] { m.faults.ctsHeldLow = true; });
    s.world.at(until, [&m] { m.faults.ctsHeldLow = false; });
    run.plan.push_back("CTS held low for a while");
    run.allowances.mayStayInCommandMode = true;
  }
  if (d.chance(5)) {
    s.world.at(t0 + d.within(8000), [&m] { m.faults.dsrLow = true; });
    run.plan.push_back("DSR dropped");
    run.allowances.mayStayInCommandMode = true;  // the host hears no answer to its "+++"
  }
  if (d.chance(15)) {
    run.allowances.cancelled = true;
    // A Link Test that works is over in a fraction of a second, with a few
    // lines each way: its cancels come early to land within it.
    const bool brief = transparent;
    if (d.chance(50)) {
      const TimeUs at = t0 + d.within(brief && d.chance(50) ? 300 : 8000);
      s.world.at(at, [pane] {
        if (pane->cancelEvent)
          os::setEvent(pane->cancelEvent);
      });
      run.plan.push_back("cancel at " + std::to_string(at / 1000) + " ms");
    } else {
      // At a line end: the checks between steps see it, not only the waits.
      const int crs = static_cast<int>(d.below(brief ? 3 : 30)) + 1;
      const std::string port = stand::Stand::portOf(pane);
      s.world.onHostReceived = [pane, port, crs, seen = 0](const std::string& p,
                                                           uint8_t byte) mutable {
        if (p == port && byte == '\r' && ++seen == crs && pane->cancelEvent)
          os::setEvent(pane->cancelEvent);
      };
      run.plan.push_back("cancel at line end " + std::to_string(crs));
    }
    // A second stop: the dialog closed, or a second Ctrl+C, while the first
    // one's write is still storing what it took.
    if (d.chance(40)) {
      const TimeUs at = t0 + d.within(9000);
      s.world.at(at, [pane] {
        dialogClosing = true;
        if (pane->cancelEvent)
          os::setEvent(pane->cancelEvent);
      });
      run.plan.push_back("program closing at " + std::to_string(at / 1000) + " ms");
      run.allowances.closing = true;
    }
  }
  if (d.chance(5)) {
    PaneRecord* gone = transparent && d.chance(50) ? &slavePane : pane;
    s.world.at(t0 + d.within(8000), [&s, gone] { s.unplug(gone); });
    run.plan.push_back("port unplugged");
    run.allowances.cancelled = true;  // the program stops the operation as on Cancel
    run.allowances.mayStayInCommandMode = true;
  }
  if (d.chance(8)) {
    m.faults.neverAssociates = true;
    run.plan.push_back("association never completes");
  }
  if (d.chance(op == Operation::RangeTest ? 40 : 6)) {
    if (d.chance(30)) {
      s.radio.faults.cut = true;
    } else {
      s.radio.faults.dropNext = static_cast<int>(d.below(4)) + 1;
      s.radio.faults.lossPercent = static_cast<int>(d.below(101));
      s.radio.faults.corruptPercent = static_cast<int>(d.below(40));
      s.radio.faults.delayUs = d.chance(30) ? d.within(400) : 0;
    }
    run.plan.push_back("radio cut, or lossy, damaging and late");
  }
}

// A range test's way, count and size; the far module of a loopback has
// its plug in.
void drawRange(Draw& d, stand::Stand& s, Run& run) {
  RangeRun& r = s.rangeRun;
  r.way = d.chance(30) ? RangeWay::FarLoopback : RangeWay::BothHere;
  r.count = static_cast<uint32_t>(d.below(30)) + 1;
  r.size = kRangeMinSize + static_cast<uint32_t>(d.below(kRangeMaxSize - kRangeMinSize + 1));
  if (r.way == RangeWay::FarLoopback)
    s.slave->setLoopback(true);
  s.radio.seed(run.seed);
  run.plan.push_back(std::string(r.way == RangeWay::FarLoopback ? "loopback" : "both here") + ", " +
                     std::to_string(r.count) + " packets of " + std::to_string(r.size) + " bytes");
}

// The changes a Write makes, drawn: a channel, a baud code, other fields.
void drawChanges(Draw& d, PaneRecord* pane, Run& run) {
  if (d.chance(15)) {
    setDefaults(&pane->module);  // Set Default
    run.plan.push_back("write the defaults");
  }
  if (d.chance(40)) {
    pane->module.shown[Setting::Channel] = static_cast<uint8_t>(11 + d.below(16));
    run.plan.push_back("write channel " + std::to_string(pane->module.shown[Setting::Channel]));
  }
  if (d.chance(30)) {
    pane->module.shown[Setting::BaudRate] = static_cast<uint32_t>(d.below(8));
    run.plan.push_back("write baud code " + std::to_string(pane->module.shown[Setting::BaudRate]));
  }
  if (d.chance(50)) {
    pane->module.shown[Setting::PowerLevel] = static_cast<uint8_t>(d.below(5));
    pane->module.shown[Setting::Parity] = static_cast<uint8_t>(d.below(4));
    run.plan.push_back("write power level and parity");
  }
}

// A profile that makes a working pair of any two modules: one channel for
// both, and the pairing (the slave drawn may belong to another pair).
void drawProfile(Draw& d, SettingsFile& profile, Run& run) {
  const std::string channel = "Channel = " + std::to_string(11 + d.below(16)) + "\n";
  std::string text = "[Master]\n" + channel +
                     (d.chance(30) ? "Baud Rate = 38400\nPower Level = Low\n" : "") + "[Slave]\n" +
                     channel + (d.chance(30) ? "Power Save = On\n" : "") +
                     "[Pair]\nMake Pair = Yes\n";
  if (d.chance(30))
    text += "[Range]\nPackets = " + std::to_string(1 + d.below(20)) +
            "\nMin Received = " + std::to_string(d.below(101)) + "\n";
  uint32_t line = 0;
  wchar_t message[kSettingsMessageChars];
  parseSettingsFile(reinterpret_cast<const uint8_t*>(text.data()), text.size(), L"profile.ini",
                    &profile, &line, message);
  run.plan.push_back("profile: " + text);
}

// What a user types at a terminal: queries, a refused command, setters the
// module takes, its own time-outs and guard time, a way out and in again;
// now and then a pause that outlasts the command mode.
void drawTyping(Draw& d, stand::Stand& s, Run& run) {
  const char* const lines[] = {"ATVR", "ATCH",   "ATNI", "ATDB",    "ATZZ", "ATPL2", "atsp1F4",
                               "ATCT", "ATCT1E", "ATGT", "ATGT5DC", "ATCN", "+++",   "ATWR"};
  std::string plan = "terminal:";
  for (uint64_t i = 0, n = d.below(8) + 1; i < n; ++i) {
    stand::TypedLine typed{d.oneOf(lines), static_cast<uint32_t>(d.below(400))};
    if (d.chance(12))
      typed.pauseMs = 3000 + static_cast<uint32_t>(d.below(12000));
    s.typed.push_back(typed);
    plan += " " + typed.line + " after " + std::to_string(typed.pauseMs) + " ms";
  }
  run.plan.push_back(plan);
}

void printLine(const vw::World& world, const std::string& port) {
  std::string text;
  char side = 0;
  auto flush = [&] {
    if (!text.empty())
      std::printf("  %s %s %s\n", port.c_str(), side == 'h' ? "host>" : "peer<", text.c_str());
    text.clear();
  };
  for (const vw::Entry& e : world.transcript()) {
    if (e.port != port || (e.kind != vw::Event::HostByte && e.kind != vw::Event::PeerByte))
      continue;
    const char now = e.kind == vw::Event::HostByte ? 'h' : 'p';
    if (now != side)
      flush();
    side = now;
    const auto c = static_cast<unsigned char>(e.value);
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", c);
    text += c == '\r' ? std::string("\\r") : (c >= 32 && c < 127 ? std::string(1, c) : hex);
    if (c == '\r')
      flush();
  }
  flush();
}

// A replay prints the program's own line log as it goes, so that even a run
// that never ends shows how far it got.
void printLogLine(void*, const char* line, uint32_t length) {
  std::printf("  log %.*s\n", static_cast<int>(length), line);
}

// A seed that replays as it ran ends at the same time, with as much said on
// its lines and the same result.
uint64_t fingerprint(const vw::World& world, int32_t result) {
  return (world.now() * 1000003 + world.transcript().size()) * 1009 + static_cast<uint32_t>(result);
}

struct SeedRun {
  std::vector<std::string> broken;
  uint64_t fingerprint = 0;
};

SeedRun runSeed(uint64_t seed, bool trace) {
  Draw d(seed);
  // Drawn apart from the others, which stay what they were for each seed.
  Draw more(seed ^ 0x9E3779B97F4A7C15ull);
  Run run;
  run.seed = seed;
  // Drawn apart too, so that the seeds of the other operations stay theirs.
  Draw terminal(seed ^ 0xC2B2AE3D27D4EB4Full);
  const Operation op =
      terminal.chance(12)
          ? Operation::Terminal
          : d.oneOf({Operation::Read, Operation::Read, Operation::Write, Operation::Write,
                     Operation::LinkTest, Operation::PairRun, Operation::RangeTest});
  PaneRecord* pane = d.chance(50) ? &masterPane : &slavePane;
  const bool standard = d.chance(70);
  const uint64_t bd =
      standard ? 3 : d.oneOf({0ull, 1ull, 2ull, 3ull, 4ull, 5ull, 6ull, 7ull, 0x1C200ull});
  const uint64_t nb = standard ? 0 : d.below(4), sb = standard ? 0 : d.below(2);
  const bool sleepy = d.chance(20);
  sim::ModuleConfig masterConfig = sim::presets::master();
  sim::ModuleConfig slaveConfig = sim::presets::slave();
  // A read may meet a module that does not belong in its pane, and a module
  // that does not pair with the other one.
  const bool misplaced = op == Operation::Read && d.chance(15);
  if (misplaced) {
    using Preset = sim::ModuleConfig (*)();
    const Preset masters[] = {sim::presets::masterWithSlaveRole, sim::presets::masterWithSharedRole,
                              sim::presets::masterWithWrongNodeId};
    const Preset slaves[] = {sim::presets::slaveWithMasterRole, sim::presets::slaveWithSharedRole,
                             sim::presets::slaveWithWrongNodeId};
    if (pane == &masterPane)
      masterConfig = d.oneOf(masters)();
    else
      slaveConfig = d.oneOf(slaves)();
  }
  // Make Pair, alone before a Write or in a pair run, meets modules that are no pair.
  const bool makesPair = op == Operation::Write && d.chance(25);
  if ((op == Operation::Read && d.chance(10)) || makesPair ||
      (op == Operation::PairRun && d.chance(50))) {
    slaveConfig = d.chance(50) ? sim::presets::slaveWithWrongDestination()
                               : sim::presets::slaveWithOtherPanId();
  }
  const bool crossed = op == Operation::PairRun && d.chance(15);
  if (crossed)
    std::swap(masterConfig, slaveConfig);
  stand::Stand s(module(masterConfig, bd, nb, sb, crossed && sleepy),
                 module(slaveConfig, bd, nb, sb, !crossed && sleepy));
  SettingsFile profile;
  if (op == Operation::PairRun)
    drawProfile(d, profile, run);
  const char* const operationNames[] = {"read",     "write",      "link test",
                                        "pair run", "range test", "terminal"};
  run.plan.push_back(std::string(operationNames[static_cast<int>(op)]) +
                     (pane == &masterPane ? " master" : " slave") + ", BD " + std::to_string(bd) +
                     " NB " + std::to_string(nb) + " SB " + std::to_string(sb) +
                     (sleepy ? ", slave sleeps" : "") +
                     (misplaced ? ", a module that does not belong in its pane" : "") +
                     (crossed ? ", modules on each other's ports" : ""));
  bool prepared = true;
  if (op == Operation::Read && d.chance(30)) {  // the other pane holds data: a comparison
    prepared = prepare(s, pane == &masterPane ? &slavePane : &masterPane);
    run.plan.push_back("the other pane read first");
  }
  if (op == Operation::Write)
    prepared = prepare(s, pane);
  if (makesPair) {
    prepared = prepare(s, otherPane(pane)) && prepared;
    makePair(&masterPane.module, &slavePane.module);
    run.plan.push_back("make pair");
  }
  if (op == Operation::LinkTest || op == Operation::RangeTest)
    prepared = prepare(s, &masterPane) && prepare(s, &slavePane);
  if (op == Operation::RangeTest)
    drawRange(d, s, run);
  if (op == Operation::Terminal)
    drawTyping(terminal, s, run);
  if (op == Operation::RangeTest && s.rangeRun.way == RangeWay::BothHere && more.chance(10)) {
    s.slave->setLoopback(true);
    run.allowances.farModulePlugged = true;
    run.plan.push_back("a loopback plug left on the far module");
  }
  if (!prepared) {
    if (trace) {
      std::printf("seed %llu: %s\n", static_cast<unsigned long long>(seed), run.plan[0].c_str());
      printLine(s.world, "COM3");
      printLine(s.world, "COM4");
    }
    return {{"the fault-free preparation failed"}, fingerprint(s.world, -1)};
  }
  const bool needsKey = !(bd == 3 && nb == 0 && sb == 0);
  const bool pressKey = !needsKey || d.chance(80);
  const TimeUs keyDelay = d.within(9000);
  view().onResetPrompt = [&s, pressKey, keyDelay] {
    if (!pressKey)
      return;
    // A pair run may ask for either module: the user presses the key of
    // the one on the port the prompt names.
    const PaneRecord* asked = view().promptPort == 4 ? &slavePane : &masterPane;
    s.world.after(keyDelay + 1, [&s, asked] { s.moduleOf(asked).pressResetKey(s.world.now()); });
  };
  if (op == Operation::Write)
    drawChanges(d, pane, run);
  const bool anyFaults = d.chance(75);
  const size_t planned = run.plan.size();
  if (anyFaults)
    armFaults(d, s, pane, op, run);
  // Nothing was drawn against it, and a read can find the module: it must work.
  run.allowances.faultFree = run.plan.size() == planned && pressKey && !misplaced;
  s.profile = &profile;
  stand::Outcome o{op, pane, 0, s.world.now(),
                   s.master->commandLog().size() + s.slave->commandLog().size()};
  o.result = s.run(op, pane);
  o.endedAt = s.world.now();
  s.world.onHostReceived = nullptr;
  // A Read at once after an operation that worked, on the port it used last.
  const bool readAgain = run.allowances.faultFree && !crossed && more.chance(5);
  // A "+++" answered after the operation gave up (a guard time of 1 s, and
  // the reply) puts the module in command mode only then.
  if (!readAgain)
    os::sleepMs(1500);
  dialogClosing = false;  // a stop drawn for after the operation is no one's
  std::vector<std::string> broken = stand::brokenInvariants(s, o, run.allowances);
  if (readAgain) {
    run.plan.push_back("a Read right after it");
    PaneRecord* next = op == Operation::Read || op == Operation::Write ? pane : &masterPane;
    const int prompts = view().count("showResetPrompt");
    if (const int32_t again = s.run(Operation::Read, next))
      broken.push_back("a Read right after the operation failed with " + std::to_string(again));
    // At 9600 8-N-1 the module takes the quick "+++" once the guard time is out.
    if (s.moduleOf(next).lineSettings() == sim::SerialConfig{} &&
        view().count("showResetPrompt") != prompts)
      broken.push_back("a Read right after the operation needed the reset key");
  }
  if (trace) {
    std::printf("seed %llu\n", static_cast<unsigned long long>(seed));
    for (const auto& p : run.plan)
      std::printf("  plan: %s\n", p.c_str());
    std::printf("  result %d after %.1f ms\n", o.result, (s.world.now() - o.startedAt) / 1000.0);
    printLine(s.world, "COM3");
    printLine(s.world, "COM4");
    for (const auto& b : broken)
      std::printf("  BROKEN: %s\n", b.c_str());
  }
  return {broken, fingerprint(s.world, o.result)};
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t first = 0, runs = 1000;
  bool one = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--seed") == 0) {
      first = std::strtoull(argv[i + 1], nullptr, 10);
      one = true;
    } else if (std::strcmp(argv[i], "--first") == 0) {
      first = std::strtoull(argv[i + 1], nullptr, 10);
    } else if (std::strcmp(argv[i], "--runs") == 0) {
      runs = std::strtoull(argv[i + 1], nullptr, 10);
    }
  }
  if (one) {
    setLineLogSink(&dialogLineLog, printLogLine, nullptr);
    return runSeed(first, true).broken.empty() ? 0 : 1;
  }
  const auto start = std::chrono::steady_clock::now();
  uint64_t failures = 0;
  for (uint64_t seed = first; seed < first + runs; ++seed) {
    SeedRun run = runSeed(seed, false);
    // Again, in the same process: state that outlives a run would make a
    // replay (--seed, alone) differ from what the batch saw.
    if ((!run.broken.empty() || seed % 256 == 0) &&
        runSeed(seed, false).fingerprint != run.fingerprint)
      run.broken.insert(run.broken.begin(), "the seed did not replay as it ran");
    const std::vector<std::string>& broken = run.broken;
    if (broken.empty())
      continue;
    ++failures;
    std::printf("seed %llu: %s (replay: --seed %llu)\n", static_cast<unsigned long long>(seed),
                broken.front().c_str(), static_cast<unsigned long long>(seed));
    std::fflush(stdout);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("campaign: %llu runs from seed %llu, %llu broken, %.0f runs/s\n",
              static_cast<unsigned long long>(runs), static_cast<unsigned long long>(first),
              static_cast<unsigned long long>(failures), runs / seconds);
  return failures == 0 ? 0 : 1;
}
