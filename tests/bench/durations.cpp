// How long the module operations take, in virtual time, against their floor:
// the guard delays the program keeps, the module's guard time after each
// "+++", the fixed read windows, and the bytes on the line at their rate.
// A report for people, not a test: it asserts nothing and prints a table.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "link/discovery.h"
#include "link/line_log.h"
#include "link/port_table.h"
#include "module/link_test.h"
#include "module/pair_run.h"
#include "module/range_test.h"
#include "module/read.h"
#include "module/write.h"
#include "sim/presets.h"
#include "tests/campaign/stand.h"
#include "tests/support/recording_view.h"
#include "ui/dialog/pane.h"

namespace {

constexpr double kGuardDelayMs = 1120;
constexpr double kModuleGuardMs = 1000;  // GT 0x3E8 of the presets
constexpr double kReadWindowMs = 1200;
constexpr double kPollMs = 240;

sim::ModuleConfig atBaud(sim::ModuleConfig config, uint64_t baudCode) {
  config.registers["BD"] = baudCode;
  return config;
}

struct Bench : stand::Stand {
  explicit Bench(uint64_t baudCode)
      : stand::Stand(atBaud(sim::presets::master(), baudCode),
                     atBaud(sim::presets::slave(), baudCode)) {
    // The user presses the reset key as soon as asked.
    view().onResetPrompt = [this] {
      sim::Module* module = next == &masterPane ? master.get() : slave.get();
      world.after(vw::ms(1), [this, module] { module->pressResetKey(world.now()); });
    };
    masterPane.cancelEvent = os::createEvent();
    slavePane.cancelEvent = os::createEvent();
  }
  ~Bench() {
    for (PaneRecord* p : {&masterPane, &slavePane}) {
      os::closeHandle(p->cancelEvent);
      p->cancelEvent = nullptr;
    }
  }

  PaneRecord* next = &masterPane;  // whose module the user resets
  size_t linesBefore = 0;          // what both modules had answered when the run began

  size_t linesAnswered() const { return master->commandLog().size() + slave->commandLog().size(); }
  // The time both modules take to begin each reply of the run: no program
  // gets an answer sooner, so the floor counts it as it counts the bytes.
  double replyMs() const {
    return static_cast<double>((linesAnswered() - linesBefore) * master->config().replyLatencyUs) /
           1000.0;
  }

  // Every byte on the line, each at the rate it went at.
  // Only PORT's where one is named, and only bytes before `until`.
  double lineMs(vw::TimeUs since, const std::string& port = "",
                vw::TimeUs until = ~vw::TimeUs{0}) const {
    double us = 0;
    for (const auto& e : world.transcript()) {
      if (e.at < since || e.at >= until || (!port.empty() && e.port != port))
        continue;
      if (e.kind == vw::Event::HostByte || e.kind == vw::Event::PeerByte) {
        us += static_cast<double>(vw::byteTimeUs(e.settings));
      }
    }
    return us / 1000.0;
  }
};

struct Measured {
  double tookMs = 0;
  double floorMs = 0;
  int result = 1;
};

// Runs one operation on a fresh bench; with the line log recording or not.
Measured runOnce(uint64_t baudCode, bool logged, const std::function<int(Bench&)>& prepare,
                 const std::function<int(Bench&)>& run,
                 const std::function<double(Bench&, vw::TimeUs)>& floor) {
  Bench b(baudCode);
  LineLogBuffer record;
  setLineLogSink(&dialogLineLog, logged ? appendToLineLog : nullptr, logged ? &record : nullptr);
  Measured m;
  if (prepare(b) == 0) {
    const vw::TimeUs start = b.world.now();
    b.linesBefore = b.linesAnswered();
    m.result = run(b);
    m.tookMs = (b.world.now() - start) / 1000.0;
    m.floorMs = floor(b, start);
  }
  setLineLogSink(&dialogLineLog, nullptr, nullptr);
  return m;
}

// The operation without the line log, beside its floor, then with it.
void measure(const char* name, uint64_t baudCode, uint32_t baud,
             const std::function<int(Bench&)>& prepare, const std::function<int(Bench&)>& run,
             const std::function<double(Bench&, vw::TimeUs)>& floor) {
  const Measured plain = runOnce(baudCode, false, prepare, run, floor);
  const Measured logged = runOnce(baudCode, true, prepare, run, floor);
  if (plain.floorMs == 0 || logged.floorMs == 0) {
    std::printf("%-30s %7u  could not prepare\n", name, baud);
    return;
  }
  std::printf("%-30s %7u %10.1f %10.1f %6.2f  %-6s %10.1f %+7.2f%%  %s\n", name, baud, plain.tookMs,
              plain.floorMs, plain.tookMs / plain.floorMs, plain.result == 0 ? "ok" : "FAILED",
              logged.tookMs, 100.0 * (logged.tookMs - plain.tookMs) / plain.tookMs,
              logged.result == 0 ? "ok" : "FAILED");
}

int readMaster(Bench&) {
  return readBody(&masterPane);
}

// A pair run on modules that are no pair yet, with a profile that moves
// both to another channel and pairs them.
// The module's join as the write's polls can see it: whole poll pauses.
double polledJoinMs(const Bench& b) {
  return std::ceil(static_cast<double>(b.master->config().associationTimeUs) / 1000 / kPollMs) *
         kPollMs;
}

// The master read and written in one command-mode session, one value changed.
template <Setting Field, uint8_t Value>
int writeInOneSession(Bench&) {
  Session& session = paneSession(&masterPane);
  if (const int32_t read = readInSession(session))
    return static_cast<int>(read);
  masterPane.module.shown[Field] = Value;
  return static_cast<int>(writeInSession(session));
}

vw::TimeUs linkTestAt = 0;

int runPairOnce(SettingsFile& profile) {
  const char text[] = "[Master]\nChannel = 14\n[Slave]\nChannel = 14\n[Pair]\nMake Pair = Yes\n";
  uint32_t line = 0;
  wchar_t message[kSettingsMessageChars];
  parseSettingsFile(reinterpret_cast<const uint8_t*>(text), sizeof text - 1, L"pair.ini", &profile,
                    &line, message);
  PairRun run;
  run.profile = &profile;
  run.onStep = [](void*, PairStep step) {
    if (step == PairStep::LinkTest)
      linkTestAt = vw::World::current().now();
  };
  PairRunResult result;
  os::Handle slaveCancel = slavePane.cancelEvent;
  slavePane.cancelEvent = masterPane.cancelEvent;
  usePaneSessions(&run);
  const int32_t r = runPair(run, &result);
  slavePane.cancelEvent = slaveCancel;
  return r;
}

}  // namespace

int main() {
  std::printf("%-30s %7s %10s %10s %6s  %-6s %10s %8s\n", "operation (virtual time)", "baud",
              "took ms", "floor ms", "ratio", "", "logged ms", "change");
  const struct {
    uint64_t code;
    uint32_t baud;
  } rates[] = {{3, 9600}, {7, 115200}};
  auto none = [](Bench&) { return 0; };
  for (const auto& r : rates) {
    const bool quick = r.baud == 9600;
    // Discovery: at 9600 the quick "+++"; otherwise the quick try's read
    // window, the frame's window and one pulse window before the settings.
    measure(
        "discovery", r.code, r.baud,
        [](Bench&) { return openSessionPort(paneSession(&masterPane)); },
        [](Bench&) {
          const bool ok = discoverSerialSettings(masterPane.session.port,
                                                 windowResetPrompt(masterPane.resetPrompt));
          closePort(masterPane.session.port);
          masterPane.session.port = nullptr;
          return ok ? 0 : 1;
        },
        [quick](Bench& b, vw::TimeUs since) {
          return b.lineMs(since) + (quick ? kModuleGuardMs : 3 * kReadWindowMs);
        });
    // After the quick "+++" the module is in command mode already; after the
    // reset key it is not, and the read enters it with a "+++" of its own.
    measure("read", r.code, r.baud, none, readMaster, [quick](Bench& b, vw::TimeUs since) {
      const double escape = kGuardDelayMs + kModuleGuardMs;
      return b.lineMs(since) + b.replyMs() + (quick ? kModuleGuardMs : 3 * kReadWindowMs + escape);
    });
    auto readFirst = [](Bench& b) {
      const int result = readBody(&masterPane);
      b.world.at(b.world.now(), [] {});
      return result;
    };
    const double escapeMs = kGuardDelayMs + kModuleGuardMs;
    measure(
        "write, power level", r.code, r.baud,
        [readFirst](Bench& b) {
          const int result = readFirst(b);
          masterPane.module.shown[Setting::PowerLevel] = 1;
          return result;
        },
        [](Bench&) { return writeBody(&masterPane); },
        [escapeMs](Bench& b, vw::TimeUs since) {
          return b.lineMs(since) + b.replyMs() + 2 * escapeMs;
        });
    measure(
        "write, channel change", r.code, r.baud,
        [readFirst](Bench& b) {
          const int result = readFirst(b);
          masterPane.module.shown[Setting::Channel] = 12;
          return result;
        },
        [](Bench&) { return writeBody(&masterPane); },
        [escapeMs](Bench& b, vw::TimeUs since) {
          // One poll pause at least; the module's join (700 ms) is its own.
          return b.lineMs(since) + b.replyMs() + 2 * escapeMs + kPollMs;
        });
    // As nlconf-cli writes: the read and the write in one command-mode
    // session; the floor has the one escape and, for a channel, the module's
    // join as polled.
    const double readFloorMs =
        quick ? kModuleGuardMs : 3 * kReadWindowMs + kGuardDelayMs + kModuleGuardMs;
    measure("write in one session, power", r.code, r.baud, none,
            writeInOneSession<Setting::PowerLevel, 1>, [readFloorMs](Bench& b, vw::TimeUs since) {
              return b.lineMs(since) + b.replyMs() + readFloorMs;
            });
    measure("write in one session, channel", r.code, r.baud, none,
            writeInOneSession<Setting::Channel, 12>, [readFloorMs](Bench& b, vw::TimeUs since) {
              return b.lineMs(since) + b.replyMs() + readFloorMs + polledJoinMs(b);
            });
    // Both panes are read first, as the user must before Link Test is offered;
    // that leaves the host ports at the modules' settings.
    measure(
        "link test", r.code, r.baud,
        [](Bench& b) {
          b.world.at(b.world.now(), [] {});
          if (readBody(&masterPane) != 0)
            return 1;
          b.next = &slavePane;
          return readBody(&slavePane);
        },
        [](Bench&) { return testPaneLink() == 1 ? 0 : 1; },
        [](Bench& b, vw::TimeUs since) { return b.lineMs(since); });
    // 100 packets of 32 bytes each way after the same reads; its floor adds
    // the radio's latency once per packet, since the packets go one by one.
    measure(
        "range test, 100 x 32 each way", r.code, r.baud,
        [](Bench& b) {
          b.world.at(b.world.now(), [] {});
          if (readBody(&masterPane) != 0)
            return 1;
          b.next = &slavePane;
          return readBody(&slavePane);
        },
        [](Bench&) {
          RangeResult result;
          runPaneRangeTest({RangeWay::BothHere, 100, 32}, &result);
          const bool all = result.directions[0].received + result.directions[1].received == 200;
          return result.code == 0 && all ? 0 : 1;
        },
        [](Bench& b, vw::TimeUs since) {
          return b.lineMs(since) + 200 * static_cast<double>(b.radio.latencyUs()) / 1000;
        });
  }
  // One session per module, both at once: its quick "+++" (the line was
  // quiet, so no guard delay before it) and the module's guard time after
  // it, every byte of the session and the module's join for the new channel
  // as the write's polls can see it (the polls' bytes fall inside it); the
  // longer session, then the link test's bytes.
  SettingsFile profile;
  Bench unpaired(3);
  unpaired.slave->setReg("ID", 0x4E4C303032);
  unpaired.slave->setReg("DL", 0x40B0A0FF);
  const vw::TimeUs start = unpaired.world.now();
  const int result = runPairOnce(profile);
  const double tookMs = (unpaired.world.now() - start) / 1000.0;
  const double joinMs = polledJoinMs(unpaired);
  double sessionMs = 0;
  for (const char* port : {"COM3", "COM4"})
    sessionMs = std::max(sessionMs, unpaired.lineMs(start, port, linkTestAt));
  const double floorMs = sessionMs + kModuleGuardMs + joinMs + unpaired.lineMs(linkTestAt);
  std::printf("%-30s %7u %10.1f %10.1f %6.2f  %-6s\n", "pair run (read, write, link)", 9600u,
              tookMs, floorMs, tookMs / floorMs, result == 0 ? "ok" : "FAILED");
  // As the floor is often put: a guard delay before each module's "+++" too.
  std::printf("%-30s %7s %10s %10.1f %6.2f  with a guard delay before each \"+++\"\n", "", "", "",
              floorMs + kGuardDelayMs, tookMs / (floorMs + kGuardDelayMs));
  std::printf(
      "\nfloor: guard delay %.0f ms before each \"+++\", module guard time %.0f ms after it,\n"
      "fixed read windows of %.0f ms where the procedure has them, one %.0f ms poll pause\n"
      "after a channel change, and every byte on the line at its rate; in reads and\n"
      "writes also the module's %.0f ms before each reply, which no program can save.\n"
      "The link test's floor counts only its bytes; the radio's latency comes on top. The range "
      "test's\n"
      "floor is its bytes on both lines and the radio's latency for each packet (goal:\n"
      "a ratio of 1.1 at most). \"logged ms\": the same operation again with the line\n"
      "log recording every line into its record.\n",
      kGuardDelayMs, kModuleGuardMs, kReadWindowMs, kPollMs,
      static_cast<double>(unpaired.master->config().replyLatencyUs) / 1000.0);
  return 0;
}
