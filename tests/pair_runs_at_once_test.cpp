// Four fixtures on one computer: four pair runs at once in one process,
// each on its own ports with its own profile, get what each gets alone.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "link/port_activity.h"
#include "module/pair_record.h"
#include "module/pair_run.h"
#include "module/read.h"
#include "module/settings_file.h"
#include "platform/virtual/world.h"
#include "sim/module.h"
#include "sim/radio.h"
#include "tests/support/module_peer.h"

namespace {

struct Fixture {
  uint32_t masterPort = 0, slavePort = 0;
  uint32_t serialBase = 0;
  bool crossed = false;  // each module on the other's port
  PairStep cancelAt = PairStep::None;
  std::string profile;
};

sim::ModuleConfig moduleConfig(uint32_t serialLow, bool master) {
  sim::ModuleConfig c;
  c.registers = {{"VR", master ? 0x2041u : 0x2241u},
                 {"SH", 0x0BEEF000},
                 {"SL", serialLow},
                 {"DH", 0},
                 {"DL", 0x0000FFFF},
                 {"ID", 0x3332},
                 {"SC", 0x0200}};
  if (!master)
    c.registers["SM"] = 0;
  c.nodeId = master ? kMasterNodeId : kSlaveNodeId;  // the roles go by them
  return c;
}

// One bench: its two modules on their radio, its two sessions and its run.
struct Bench {
  explicit Bench(vw::World& world, const Fixture& f)
      : fixture(f),
        master(moduleConfig(f.serialBase, true)),
        slave(moduleConfig(f.serialBase + 1, false)),
        masterPeer(master),
        slavePeer(slave) {
    radio.attach(master);
    radio.attach(slave);
    const std::string a = "COM" + std::to_string(f.masterPort);
    const std::string b = "COM" + std::to_string(f.slavePort);
    world.addSerialPort(f.crossed ? b : a, &masterPeer);
    world.addSerialPort(f.crossed ? a : b, &slavePeer);
    uint32_t line = 0;
    wchar_t message[kSettingsMessageChars];
    parsed = parseSettingsFile(reinterpret_cast<const uint8_t*>(f.profile.data()), f.profile.size(),
                               L"bench.ini", &profile, &line, message);
    cancel = os::createEvent();
    for (Session* s : {&masterSession, &slaveSession}) {
      ModuleRecord& record = s == &masterSession ? masterRecord : slaveRecord;
      record.isMaster = s == &masterSession ? 1 : 0;
      resetPane(&record);
      s->module = &record;
      s->cancelEvent = cancel;
    }
    masterSession.portNumber = f.masterPort;
    slaveSession.portNumber = f.slavePort;
    run.master = &masterSession;
    run.slave = &slaveSession;
    run.profile = &profile;
    run.context = this;
    run.onStep = [](void* self, PairStep step) {
      auto* bench = static_cast<Bench*>(self);
      if (step == bench->fixture.cancelAt)
        os::setEvent(bench->cancel);
    };
    run.swapPorts = [](void*) { return true; };
  }
  ~Bench() { os::closeHandle(cancel); }

  std::string recordLine() const {
    PairRecordContext context;
    context.version = "1";
    const std::string m = "COM" + std::to_string(fixture.masterPort);
    const std::string s = "COM" + std::to_string(fixture.slavePort);
    context.masterPort = result.portsSwapped ? s.c_str() : m.c_str();
    context.slavePort = result.portsSwapped ? m.c_str() : s.c_str();
    return formatPairRecordLine(result, L"", context);
  }

  Fixture fixture;
  sim::Radio radio;
  sim::Module master, slave;
  ModulePeer masterPeer, slavePeer;
  SettingsFile profile;
  bool parsed = false;
  ModuleRecord masterRecord, slaveRecord;
  Session masterSession, slaveSession;
  os::Handle cancel = nullptr;
  PairRun run;
  PairRunResult result;
};

const std::vector<Fixture>& fixtures() {
  static const std::vector<Fixture> all = {
      {3, 4, 0x40000010, false, PairStep::None,
       "[Master]\nChannel = 14\n[Slave]\nChannel = 14\n[Pair]\nMake Pair = Yes\n"},
      {5, 6, 0x40000020, true, PairStep::None,
       "[Master]\nPower Level = Low\n[Pair]\nMake Pair = Yes\n"},
      {7, 8, 0x40000030, false, PairStep::None,
       "[Pair]\nMake Pair = Yes\n[Range]\nPackets = 20\nMin Received = 90\n"},
      {9, 10, 0x40000040, false, PairStep::WriteSlave,
       "[Master]\nChannel = 20\n[Slave]\nChannel = 20\n[Pair]\nMake Pair = Yes\n"},
  };
  return all;
}

struct Seen {
  int32_t result = 0;
  uint32_t durationMs = 0;
  bool swapped = false, rangeTested = false;
  std::string line;
  std::vector<uint32_t> stored;  // each module's SC, DL and PL as stored
};

Seen seenOf(const Bench& b) {
  Seen s{b.result.result,      b.result.durationMs, b.result.portsSwapped,
         b.result.rangeTested, b.recordLine(),      {}};
  for (const sim::Module* m : {&b.master, &b.slave})
    for (const char* reg : {"SC", "DL", "PL"})
      s.stored.push_back(m->storedReg(reg));
  return s;
}

// Runs the given fixtures at once in a world of their own.
std::vector<Seen> runTogether(const std::vector<Fixture>& which) {
  forgetPortActivity();
  vw::World world;
  std::vector<std::unique_ptr<Bench>> benches;
  for (const Fixture& f : which)
    benches.push_back(std::make_unique<Bench>(world, f));
  std::vector<int> threads;
  for (auto& b : benches) {
    EXPECT_TRUE(b->parsed);
    Bench* bench = b.get();
    threads.push_back(world.spawn([bench] { runPair(bench->run, &bench->result); }));
  }
  for (int id : threads)
    world.join(id);
  std::vector<Seen> seen;
  for (auto& b : benches) {
    EXPECT_FALSE(b->master.inCommandMode() || b->slave.inCommandMode());
    EXPECT_EQ(b->masterSession.port, nullptr);
    EXPECT_EQ(b->slaveSession.port, nullptr);
    seen.push_back(seenOf(*b));
  }
  EXPECT_EQ(world.violations(), std::vector<std::string>{});
  return seen;
}

TEST(PairRunsAtOnce, FourFixturesGetWhatEachGetsAlone) {
  std::vector<Seen> alone;
  for (const Fixture& f : fixtures())
    alone.push_back(runTogether({f}).front());
  // What sets the four apart, so that a run that took another's module,
  // profile or cancel would show.
  EXPECT_EQ(alone[0].result, 0);
  EXPECT_EQ(alone[1].result, 0);
  EXPECT_EQ(alone[2].result, 0);
  EXPECT_EQ(alone[3].result, ResultCancelled);
  EXPECT_EQ(alone[0].stored[0], 0x8u) << "channel 14";
  EXPECT_EQ(alone[3].stored[3], 0x0200u) << "the slave not written";
  EXPECT_TRUE(alone[1].swapped);
  EXPECT_TRUE(alone[2].rangeTested);
  EXPECT_NE(alone[1].line.find("40000020,"), std::string::npos);
  EXPECT_NE(alone[2].line, alone[0].line);

  const std::vector<Seen> together = runTogether(fixtures());
  ASSERT_EQ(together.size(), alone.size());
  for (size_t i = 0; i < alone.size(); ++i) {
    SCOPED_TRACE("fixture " + std::to_string(i));
    EXPECT_EQ(together[i].result, alone[i].result);
    EXPECT_EQ(together[i].stored, alone[i].stored);
    EXPECT_EQ(together[i].swapped, alone[i].swapped);
    EXPECT_EQ(together[i].rangeTested, alone[i].rangeTested);
    EXPECT_EQ(together[i].line, alone[i].line);
    EXPECT_EQ(together[i].durationMs, alone[i].durationMs);
  }
}

}  // namespace
