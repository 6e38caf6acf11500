// The module model keeps the command contract that the program relies on.
// Driven directly: bytes in with their times, replies out.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/virtual/world.h"
#include "sim/module.h"
#include "sim/presets.h"
#include "tests/support/module_peer.h"
#include "tests/support/virtual_serial.h"

namespace {

constexpr sim::TimeUs kMs = 1000;
constexpr sim::TimeUs kByte = 1042;  // 9600 baud, 8-N-1

class ModuleModel : public ::testing::Test {
 protected:
  void use(sim::ModuleConfig config) { owned_ = std::make_unique<sim::Module>(std::move(config)); }
  sim::Module& module() { return *owned_; }

  // Feeds text a byte time apart from `at`; returns the time of the last byte.
  sim::TimeUs feed(sim::TimeUs at, const std::string& text) {
    for (char c : text) {
      at += kByte;
      module().receive(at, static_cast<uint8_t>(c));
    }
    return at;
  }
  // Everything the module sends up to `until`, stepping through its wake-ups.
  std::string output(sim::TimeUs until) {
    std::string out;
    for (;;) {
      auto wake = module().nextWake();
      if (!wake || *wake > until)
        break;
      module().advance(*wake);
      out += module().takeOutput();
    }
    module().advance(until);
    return out + module().takeOutput();
  }
  sim::TimeUs escape(sim::TimeUs at) {
    at = feed(at, "+++");
    EXPECT_EQ(output(at + 1000 * kMs), "OK\r");
    return at + 1000 * kMs;
  }
  std::string command(sim::TimeUs& at, const std::string& line) {
    at = feed(at, line);
    at += 100 * kMs;
    return output(at);
  }
  // The command's CR arrives exactly at `crAt`; returns the reply.
  std::string commandEndingAt(sim::TimeUs crAt, const std::string& line) {
    feed(crAt - line.size() * kByte, line);
    return output(crAt + 100 * kMs);
  }

  std::unique_ptr<sim::Module> owned_ = std::make_unique<sim::Module>();
};

// ---------------------------------------------------------------- escape and replies

TEST_F(ModuleModel, EscapeNeedsSilenceBeforeAndAfter) {
  sim::TimeUs t = feed(5000 * kMs, "+++");
  EXPECT_EQ(output(t + 999 * kMs), "") << "not before the guard time";
  EXPECT_EQ(output(t + 1000 * kMs), "OK\r");
  EXPECT_TRUE(module().inCommandMode());
}

TEST_F(ModuleModel, EscapeAfterRecentTrafficOrFollowedByABytesIsData) {
  sim::TimeUs t = feed(0, "x");
  t = feed(t + 500 * kMs, "+++");  // only 0.5 s of silence before
  EXPECT_EQ(output(t + 2000 * kMs), "");
  t = feed(t + 2000 * kMs, "+++");
  t = feed(t + 200 * kMs, "A");  // a byte within the guard time after
  EXPECT_EQ(output(t + 2000 * kMs), "");
  EXPECT_FALSE(module().inCommandMode());
}

TEST_F(ModuleModel, EscapeInCommandModeIsAnsweredToo) {
  sim::TimeUs t = escape(0);
  t = feed(t + 1100 * kMs, "+++");
  EXPECT_EQ(output(t + 1000 * kMs), "OK\r");
}

TEST_F(ModuleModel, EveryCommandGetsExactlyOneLine) {
  sim::TimeUs t = escape(0);
  EXPECT_EQ(command(t, "ATVR\r"), "10A5\r");
  EXPECT_EQ(command(t, "ATNI\r"), "NODE\r");
  EXPECT_EQ(command(t, "ATTP\r"), "1A\r");
  EXPECT_EQ(command(t, "ATID\r"), "3332\r");
  EXPECT_EQ(command(t, "ATPL2\r"), "OK\r");
  EXPECT_EQ(command(t, "ATPL\r"), "2\r");
  EXPECT_EQ(command(t, "ATAC\r"), "OK\r");
  EXPECT_EQ(command(t, "ATWR\r"), "OK\r");
  EXPECT_EQ(command(t, "ATCH\r"), "C\r") << "the lowest channel of SC 0x1FFE";
  EXPECT_EQ(command(t, "ATCH0B\r"), "ERROR\r") << "the channel is SC's to set";
  EXPECT_EQ(command(t, "ATDB\r"), "28\r");
  EXPECT_EQ(command(t, "ATST\r"), "1388\r");
  EXPECT_EQ(command(t, "ATXX\r"), "ERROR\r");
  EXPECT_EQ(command(t, "ATPLZZ\r"), "ERROR\r");
  EXPECT_EQ(command(t, "ATCN\r"), "OK\r");
  EXPECT_FALSE(module().inCommandMode());
  EXPECT_EQ(command(t, "ATVR\r"), "") << "transparent now: commands are data";
}

TEST_F(ModuleModel, FaultsReplaceOrWithholdOneReply) {
  sim::TimeUs t = escape(0);
  module().faults.replaceReply["VR"] = "ERROR\r";
  EXPECT_EQ(command(t, "ATVR\r"), "ERROR\r");
  EXPECT_EQ(command(t, "ATVR\r"), "10A5\r") << "once only";
  module().faults.withholdReply["VR"] = 1;
  EXPECT_EQ(command(t, "ATVR\r"), "");
  EXPECT_EQ(command(t, "ATVR\r"), "10A5\r");
  EXPECT_TRUE(module().cts(t));
  module().faults.ctsHeldLow = true;
  EXPECT_FALSE(module().cts(t));
}

// ---------------------------------------------------------------- registers

TEST_F(ModuleModel, SettersChangeTheWorkingCopyAndOnlyWriteStoresIt) {
  sim::TimeUs t = escape(0);
  EXPECT_EQ(command(t, "ATPL1\r"), "OK\r");
  EXPECT_EQ(command(t, "ATNIKOV\r"), "OK\r");
  EXPECT_EQ(command(t, "ATPL\r"), "1\r");
  EXPECT_EQ(command(t, "ATNI\r"), "KOV\r");
  EXPECT_EQ(module().storedReg("PL"), 4u) << "not stored yet";
  module().powerCycle();
  EXPECT_EQ(module().reg("PL"), 4u);
  EXPECT_EQ(module().nodeId(), "NODE");
  EXPECT_FALSE(module().inCommandMode());

  t = escape(t + 2000 * kMs);
  command(t, "ATPL2\r");
  command(t, "ATNIKOV-NL001/S\r");
  EXPECT_EQ(command(t, "ATWR\r"), "OK\r");
  EXPECT_EQ(module().storedReg("PL"), 2u);
  EXPECT_EQ(module().storedNodeId(), "KOV-NL001/S");
  command(t, "ATPL3\r");
  command(t, "ATNIX\r");
  module().powerCycle();
  EXPECT_EQ(module().reg("PL"), 2u);
  EXPECT_EQ(module().nodeId(), "KOV-NL001/S");
}

TEST_F(ModuleModel, ReadOnlyRegistersAndOversizedValuesAreRefused) {
  sim::TimeUs t = escape(0);
  for (const char* line : {"ATVR2041\r", "ATHV1\r", "ATSL1\r", "ATSH1\r", "ATOI1\r", "ATAI0\r",
                           "ATTP20\r", "ATPL100\r", "ATSC10000\r", "ATSC0\r", "ATNR2\r"})
    EXPECT_EQ(command(t, line), "ERROR\r") << line;
  EXPECT_EQ(module().reg("VR"), 0x10A5u);
  EXPECT_EQ(module().reg("PL"), 4u);
  EXPECT_EQ(module().reg("SC"), 0x1FFEu);
  EXPECT_EQ(command(t, "ATID123456789ABCDEF0\r"), "OK\r") << "the PAN ID has 64 bits";
  EXPECT_EQ(command(t, "ATID\r"), "123456789ABCDEF0\r");
  EXPECT_EQ(command(t, "ATNI123456789012345678901\r"), "OK\r");
  EXPECT_EQ(command(t, "ATNI\r"), "12345678901234567890\r") << "20 characters kept";
}

TEST_F(ModuleModel, NewSerialSettingsApplyOnlyAfterLeaving) {
  sim::TimeUs t = escape(0);
  EXPECT_EQ(command(t, "ATBD5\r"), "OK\r");
  EXPECT_EQ(command(t, "ATNB1\r"), "OK\r");
  EXPECT_EQ(command(t, "ATSB1\r"), "OK\r");
  EXPECT_EQ(module().lineSettings(), (sim::SerialConfig{9600, 8, sim::Parity::None, 2}))
      << "still the old ones";
  EXPECT_EQ(command(t, "ATCN\r"), "OK\r");
  EXPECT_EQ(module().lineSettings(), (sim::SerialConfig{38400, 8, sim::Parity::Even, 4}));
}

// What the codes mean, seen on the wire by a host's UART: the parity of the
// bits it receives, and how long each byte takes.
TEST(ModuleSerialCodes, MeanWhatTheLineCarries) {
  struct Case {
    uint64_t bd, nb, sb;
    uint32_t hostRate;
    uint8_t hostParity;
    bool parityErrors;
    vw::TimeUs byteUs;
  } cases[] = {
      {3, 1, 0, 9600, os::kEvenParity, false, 1146},  // NB 1: even parity
      {3, 1, 0, 9600, os::kOddParity, true, 1146},
      {3, 2, 0, 9600, os::kOddParity, false, 1146},   // NB 2: odd
      {3, 3, 0, 9600, os::kMarkParity, false, 1146},  // NB 3: mark
      {3, 3, 0, 9600, os::kSpaceParity, true, 1146},
      {3, 0, 1, 9600, os::kNoParity, false, 1146},        // SB 1: two stop bits
      {7, 0, 0, 115200, os::kNoParity, false, 87},        // BD 7: 115200
      {0x1C200, 0, 0, 115200, os::kNoParity, false, 87},  // from 0x80 on: the rate itself
      {0, 0, 0, 1200, os::kNoParity, false, 8334},        // BD 0: 1200
  };
  for (const Case& c : cases) {
    vw::World world;
    sim::ModuleConfig config;
    config.registers = {{"BD", c.bd}, {"NB", c.nb}, {"SB", c.sb}};
    sim::Module module(config);
    ModulePeer peer(module);
    world.addSerialPort("COM1", &peer);
    os::Handle h = openCom("COM1");
    setLine(h, c.hostRate, c.hostParity);
    module.inject(world.now() + vw::ms(1), "ATVR\r");  // the bits 'T' and 'A' differ in parity
    EXPECT_EQ(readSome(h, 5, 200), "ATVR\r") << c.bd << " " << c.nb << " " << c.sb;
    EXPECT_EQ(world.line("COM1")->parityErrors > 0, c.parityErrors) << c.nb;
    const auto sent = world.entries("COM1", vw::Event::PeerByte);
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[1].at - sent[0].at, c.byteUs) << c.bd << " " << c.sb;
    os::closeHandle(h);
  }
}

TEST(ModulePresets, SerialNumbersAreLocallyAdministered) {
  // Invented numbers only: a real maker's block must not be stood in for.
  for (const auto& c : {sim::presets::master(), sim::presets::slave()}) {
    EXPECT_EQ(c.registers.at("SH") >> 24, 0x02u);
    EXPECT_EQ(c.registers.at("DH") >> 24, 0x02u);
  }
  EXPECT_EQ(sim::Module().reg("SH") >> 24, 0x02u);
}

// ---------------------------------------------------------------- reset key

class ResetKey : public ModuleModel {
 protected:
  void SetUp() override {
    sim::ModuleConfig c;
    c.registers = {{"BD", 5}, {"NB", 1}, {"SB", 1}};  // 38400, even parity, two stop bits
    use(c);
  }
  const sim::SerialConfig stored{38400, 8, sim::Parity::Even, 4};
  const sim::SerialConfig recovery{9600, 8, sim::Parity::None, 2};
};

TEST_F(ResetKey, UnderBreakItSpeaksAndTakesCommandsAt9600UntilLeaving) {
  sim::TimeUs t = escape(0);
  EXPECT_EQ(command(t, "ATBD7\r"), "OK\r") << "working copy only";
  const sim::TimeUs press = t + 3000 * kMs;
  module().hostBreak(press - 400 * kMs, true);
  module().pressResetKey(press);
  EXPECT_FALSE(module().cts(press + 1)) << "restarting";
  EXPECT_FALSE(output(press + 100 * kMs).empty()) << "a byte soon after the key";
  EXPECT_TRUE(module().inCommandMode());
  EXPECT_EQ(module().lineSettings(), recovery);
  EXPECT_TRUE(module().cts(press + 100 * kMs));
  module().hostBreak(press + 800 * kMs, false);

  t = press + 1000 * kMs;
  EXPECT_EQ(command(t, "ATBD\r"), "5\r") << "the stored code, not the unsaved 7";
  EXPECT_EQ(command(t, "ATNB\r"), "1\r");
  EXPECT_EQ(command(t, "ATSB\r"), "1\r");
  EXPECT_EQ(module().lineSettings(), recovery) << "until it leaves command mode";
  EXPECT_EQ(command(t, "ATCN\r"), "OK\r");
  EXPECT_FALSE(module().inCommandMode());
  EXPECT_EQ(module().lineSettings(), stored);
}

TEST_F(ResetKey, WithoutBreakItOnlyRestartsFromItsStoredSettings) {
  sim::TimeUs t = escape(0);
  command(t, "ATPL1\r");
  const sim::TimeUs press = t + 3000 * kMs;
  module().pressResetKey(press);
  EXPECT_EQ(output(press + 2000 * kMs), "") << "nothing to say";
  EXPECT_FALSE(module().inCommandMode());
  EXPECT_EQ(module().lineSettings(), stored);
  EXPECT_EQ(module().reg("PL"), 4u);
  // Listening again once it has started: the escape works at once.
  t = escape(press + 2000 * kMs);
  EXPECT_EQ(command(t, "ATPL\r"), "4\r");
}

TEST_F(ResetKey, BytesDuringTheRestartAreLost) {
  const sim::TimeUs press = 5000 * kMs;
  module().pressResetKey(press);
  const sim::TimeUs t = feed(press, "+++");  // within the 20 ms restart
  EXPECT_EQ(output(t + 2000 * kMs), "");
  EXPECT_FALSE(module().inCommandMode());
}

// ---------------------------------------------------------------- association

class Association : public ModuleModel {
 protected:
  void SetUp() override {
    sim::ModuleConfig c;
    c.associationTimeUs = 500 * kMs;
    use(c);
  }
};

TEST_F(Association, NothingChangedMeansJoined) {
  sim::TimeUs t = escape(0);
  EXPECT_EQ(command(t, "ATAI\r"), "0\r");
  EXPECT_EQ(command(t, "ATAC\r"), "OK\r");
  EXPECT_EQ(command(t, "ATAI\r"), "0\r") << "applying nothing keeps the network";
}

TEST_F(Association, ChannelChangeJoinsAgainForTheConfiguredTime) {
  sim::TimeUs t = escape(0);
  EXPECT_EQ(command(t, "ATSC10\r"), "OK\r");
  EXPECT_EQ(command(t, "ATAI\r"), "0\r") << "not applied yet";
  EXPECT_EQ(command(t, "ATAC\r"), "OK\r");
  EXPECT_EQ(command(t, "ATAI\r"), "FF\r");
  const sim::TimeUs reset = t + 50 * kMs;
  EXPECT_EQ(commandEndingAt(reset, "ATNR0\r"), "OK\r");
  EXPECT_EQ(commandEndingAt(reset + 499 * kMs, "ATAI\r"), "FF\r") << "the join restarted";
  EXPECT_EQ(commandEndingAt(reset + 500 * kMs, "ATAI\r"), "0\r");
  EXPECT_EQ(module().channel(), 15);
}

TEST_F(Association, LeavingCommandModeAppliesAChangeToo) {
  sim::TimeUs t = escape(0);
  command(t, "ATIDABC\r");
  const sim::TimeUs leave = t + 50 * kMs;
  EXPECT_EQ(commandEndingAt(leave, "ATCN\r"), "OK\r");
  EXPECT_EQ(module().associationIndication(leave + 499 * kMs), 0xFFu);
  EXPECT_EQ(module().associationIndication(leave + 500 * kMs), 0u);
}

TEST_F(Association, ANeverAssociatingModuleKeepsReportingTheJoin) {
  module().faults.neverAssociates = true;
  sim::TimeUs t = escape(0);
  EXPECT_EQ(command(t, "ATAI\r"), "0\r") << "no join started";
  command(t, "ATSC200\r");
  command(t, "ATAC\r");
  command(t, "ATNR0\r");
  for (sim::TimeUs at = t + 5000 * kMs; at <= t + 60000 * kMs; at += 5000 * kMs)
    EXPECT_EQ(commandEndingAt(at, "ATAI\r"), "FF\r");
}

// ---------------------------------------------------------------- cyclic sleep

class CyclicSleep : public ModuleModel {
 protected:
  void SetUp() override {
    sim::ModuleConfig c;
    c.registers["SM"] = 4;
    use(c);  // awake 2 s after traffic, CTS 3 ms after a break
  }
};

TEST_F(CyclicSleep, AwakeForAWhileAfterPowerUpThenCtsDrops) {
  EXPECT_TRUE(module().cts(1999 * kMs));
  EXPECT_FALSE(module().cts(2000 * kMs));
  EXPECT_FALSE(module().cts(60000 * kMs));
}

TEST_F(CyclicSleep, HeldBreakWakesItAndReleaseStartsTheAwakeTime) {
  const sim::TimeUs t = 5000 * kMs;
  module().hostBreak(t, true);
  EXPECT_FALSE(module().cts(t + 2 * kMs));
  EXPECT_TRUE(module().cts(t + 3 * kMs));
  EXPECT_TRUE(module().cts(t + 10000 * kMs)) << "awake while the break is held";
  module().hostBreak(t + 10000 * kMs, false);
  EXPECT_TRUE(module().cts(t + 11999 * kMs));
  EXPECT_FALSE(module().cts(t + 12000 * kMs));
}

TEST_F(CyclicSleep, ReceivedBytesKeepItAwake) {
  const sim::TimeUs last = feed(1500 * kMs, "x");
  EXPECT_TRUE(module().cts(last + 1999 * kMs));
  EXPECT_FALSE(module().cts(last + 2000 * kMs));
}

TEST_F(CyclicSleep, AByteBegunWhileCtsWasUpIsTaken) {
  const sim::TimeUs end = feed(2000 * kMs - kByte / 2, "x");
  ASSERT_GT(end, 2000 * kMs) << "it ends after CTS went down";
  EXPECT_TRUE(module().cts(end + 1999 * kMs)) << "it was traffic";
}

TEST_F(CyclicSleep, BytesSentToASleepingModuleAreLost) {
  sim::TimeUs t = feed(5000 * kMs, "+++");
  EXPECT_EQ(output(t + 2000 * kMs), "");
  EXPECT_FALSE(module().inCommandMode());
  // Woken by a break, which is no traffic for the escape's silence.
  module().hostBreak(8000 * kMs, true);
  module().hostBreak(8005 * kMs, false);
  t = feed(8005 * kMs, "+++");
  EXPECT_EQ(output(t + 1000 * kMs), "OK\r");
}

TEST_F(CyclicSleep, AwakeInCommandModeAndForAWhileAfterLeaving) {
  sim::TimeUs t = escape(500 * kMs);
  EXPECT_TRUE(module().cts(t + 9000 * kMs));
  const sim::TimeUs leave = t + 9000 * kMs;
  EXPECT_EQ(commandEndingAt(leave, "ATCN\r"), "OK\r");
  // "OK" starts 2 ms after the CR and takes three byte times.
  const sim::TimeUs okSent = leave + 2 * kMs + 3 * kByte;
  EXPECT_TRUE(module().cts(okSent + 1999 * kMs));
  EXPECT_FALSE(module().cts(okSent + 2000 * kMs));
}

}  // namespace
