// The real-time line of simports, driven here with made-up times: pacing,
// garbling at other settings, break and the reset key, CTS faults, unplug;
// and the parsing of its port and control lines.
#include <gtest/gtest.h>

#include <termios.h>

#include "e2e/rig/simports/config.h"
#include "e2e/rig/simports/line_engine.h"
#include "platform/virtual/world.h"
#include "sim/presets.h"

namespace {

using simports::LineEngine;
using simports::TimeUs;

constexpr TimeUs kMs = 1000;
constexpr TimeUs kSecond = 1000000;

sim::SerialConfig line(uint32_t baud, sim::Parity parity = sim::Parity::None,
                       uint8_t stopHalfBits = 2) {
  sim::SerialConfig c;
  c.baudRate = baud;
  c.parity = parity;
  c.stopHalfBits = stopHalfBits;
  return c;
}

struct Arrival {
  TimeUs at;
  char byte;
};

class Line : public ::testing::Test {
 protected:
  explicit Line(sim::ModuleConfig config = sim::presets::master())
      : module(std::move(config)), engine(module, transcript, line(9600)) {}

  // Runs the engine as simports' loop does: at each time it asks for, up to `end`.
  void runUntil(TimeUs end) {
    for (auto due = engine.nextDue(); due && *due <= end; due = engine.nextDue()) {
      collect(*due);
      if (*due == now_ && engine.nextDue() == due)
        break;  // nothing moved: the rest waits for `end`
    }
    collect(end);
  }
  void collect(TimeUs t) {
    now_ = t;
    for (char c : engine.run(t))
      received.push_back({t, c});
  }
  std::string text() const {
    std::string s;
    for (const Arrival& a : received)
      s += a.byte;
    return s;
  }
  bool transcriptHas(const std::string& part) const {
    for (const std::string& l : transcript.lines()) {
      if (l.find(part) != std::string::npos)
        return true;
    }
    return false;
  }
  // "+++" at `at`, with the guard time of silence after it.
  void escape(TimeUs at) {
    engine.hostWrote(at, "+++");
    runUntil(at + 1200 * kMs);
  }

  sim::Module module;
  simports::Transcript transcript;
  LineEngine engine;
  std::vector<Arrival> received;
  TimeUs now_ = 0;
};

class SlowModuleLine : public Line {
 protected:
  SlowModuleLine() : Line(slowModule()) {}
  // 38400, even parity, two stop bits.
  static sim::ModuleConfig slowModule() {
    sim::ModuleConfig c = sim::presets::slave();
    c.registers["BD"] = 5;
    c.registers["NB"] = 1;
    c.registers["SB"] = 1;
    return c;
  }
};

TEST_F(Line, EscapeIsAnsweredAfterTheGuardTimeOneByteTimeApart) {
  escape(0);
  ASSERT_EQ(text(), "OK\r");
  const TimeUs byteTime = sim::byteTimeUs(line(9600));
  const TimeUs lastPlusArrives = 3 * byteTime;
  EXPECT_GE(received[0].at, lastPlusArrives + 1000 * kMs) << "the guard time of GT=3E8";
  EXPECT_EQ(received[1].at - received[0].at, byteTime);
  EXPECT_EQ(received[2].at - received[1].at, byteTime);
  EXPECT_TRUE(module.inCommandMode());
}

TEST_F(Line, HostBytesReachTheModuleAtTheHostsRate) {
  escape(0);
  received.clear();
  const TimeUs t0 = 2 * kSecond;
  engine.hostWrote(t0, "ATVR\r");
  const TimeUs byteTime = sim::byteTimeUs(line(9600));
  runUntil(t0 + 5 * byteTime - 1);
  EXPECT_TRUE(module.commandLog().empty()) << "the CR is still on its way";
  runUntil(t0 + 5 * byteTime);
  ASSERT_EQ(module.commandLog().size(), 1u);
  EXPECT_EQ(module.commandLog()[0], "ATVR");
  runUntil(t0 + 100 * kMs);
  EXPECT_EQ(text(), "2041\r");
}

TEST_F(Line, HostAtAnyOtherSettingIsNotUnderstood) {
  const sim::SerialConfig wrong[] = {line(38400), line(9600, sim::Parity::Even),
                                     line(9600, sim::Parity::None, 4)};
  TimeUs t = 0;
  for (const sim::SerialConfig& host : wrong) {
    engine.hostSettings(t, host);
    escape(t);
    t += 2 * kSecond;
    EXPECT_EQ(text(), "") << simports::describe(host);
    EXPECT_FALSE(module.inCommandMode()) << simports::describe(host);
  }
  EXPECT_TRUE(transcriptHas("garbled at 9600 8N1"));
}

TEST_F(Line, ModuleBytesReachAHostAtOtherSettingsGarbled) {
  escape(0);
  received.clear();
  engine.hostWrote(2 * kSecond, "ATNI\r");
  runUntil(2 * kSecond + 6 * kMs);  // the command is in; the reply not yet out
  EXPECT_EQ(module.commandLog().size(), 1u);
  engine.hostSettings(2 * kSecond + 6 * kMs, line(9600, sim::Parity::Odd));
  runUntil(3 * kSecond);
  const std::string name = "KOV-NL001/M\r";
  ASSERT_EQ(text().size(), name.size());
  EXPECT_EQ(static_cast<uint8_t>(text()[0]), vw::garble('K'));
}

// A loaded machine wakes simports late: the replies up to "ATCN" must still
// leave at the old settings, and what follows at the new ones.
TEST_F(Line, ReplyToAtcnLeavesAtTheOldSettingsHoweverLateTheLoopWakes) {
  escape(0);
  received.clear();
  engine.hostWrote(2 * kSecond, "ATBD4\rATCN\r");
  collect(3 * kSecond);  // one wake for both commands, their replies and the switch
  EXPECT_EQ(text(), "OK\rOK\r");
  EXPECT_FALSE(transcriptHas("garbled"));
  EXPECT_EQ(module.lineSettings(), line(19200));
  engine.hostSettings(3 * kSecond, line(19200));
  received.clear();
  escape(4 * kSecond);
  EXPECT_EQ(text(), "OK\r") << "the module talks at 19200 now";
}

TEST_F(SlowModuleLine, ResetKeyUnderBreakBringsTheModuleTo9600) {
  engine.hostSettings(0, line(38400));  // the pulse rate
  engine.hostBreak(100 * kMs, true);
  engine.pressResetKey(400 * kMs);
  runUntil(700 * kMs);
  engine.hostBreak(700 * kMs, false);
  ASSERT_EQ(received.size(), 1u) << "one byte, sent at 9600 to a host at 38400";
  EXPECT_EQ(static_cast<uint8_t>(received[0].byte), vw::garble(0x55));
  received.clear();
  engine.hostSettings(800 * kMs, line(9600));
  engine.hostWrote(800 * kMs, "ATBD\rATNB\rATSB\r");
  runUntil(1 * kSecond);
  EXPECT_EQ(text(), "5\r1\r1\r");
  EXPECT_TRUE(transcriptHas("reset key pressed (under break)"));
}

TEST_F(SlowModuleLine, ResetKeyWithoutBreakKeepsTheStoredSettings) {
  engine.hostSettings(0, line(38400));
  engine.pressResetKey(400 * kMs);
  runUntil(1 * kSecond);
  EXPECT_EQ(text(), "");
  EXPECT_EQ(module.lineSettings(), line(38400, sim::Parity::Even, 4));
}

TEST_F(SlowModuleLine, ArmedKeyIsPressedTheGivenTimeAfterTheNextBreak) {
  engine.pressAfterNextBreak(300 * kMs);
  runUntil(1 * kSecond);
  engine.hostBreak(1 * kSecond, true);
  ASSERT_TRUE(engine.nextDue().has_value());
  EXPECT_LE(*engine.nextDue(), 1300 * kMs);
  runUntil(1299 * kMs);
  EXPECT_FALSE(module.inCommandMode());
  runUntil(1300 * kMs);
  EXPECT_TRUE(module.inCommandMode());
  EXPECT_EQ(module.lineSettings(), line(9600));
}

TEST_F(Line, CtsHeldLowForAWhileComesBackByItself) {
  runUntil(100 * kMs);
  EXPECT_TRUE(engine.cts(100 * kMs));
  engine.holdCtsLow(100 * kMs, 900 * kMs);
  EXPECT_FALSE(engine.cts(100 * kMs));
  ASSERT_TRUE(engine.nextDue().has_value());
  EXPECT_LE(*engine.nextDue(), 900 * kMs) << "the loop must wake for the release";
  runUntil(899 * kMs);
  EXPECT_FALSE(engine.cts(899 * kMs));
  runUntil(900 * kMs);
  EXPECT_TRUE(engine.cts(900 * kMs));
}

TEST_F(Line, UnplugLosesBytesInFlightAndPlugPowersTheModuleUp) {
  engine.hostWrote(0, "+++");
  engine.unplug(1 * kMs);  // before the last '+' is through
  runUntil(2 * kSecond);
  EXPECT_EQ(text(), "");
  EXPECT_FALSE(engine.cts(2 * kSecond));
  EXPECT_FALSE(module.inCommandMode());
  engine.plug(3 * kSecond, line(9600));
  EXPECT_FALSE(engine.cts(3 * kSecond)) << "still booting";
  runUntil(4 * kSecond);
  EXPECT_TRUE(engine.cts(4 * kSecond));
  escape(5 * kSecond);
  EXPECT_EQ(text(), "OK\r");
}

TEST(HostConfig, ReadsSizeParityAndStopBitsFromCflag) {
  using simports::hostConfigOf;
  EXPECT_EQ(hostConfigOf(9600, CS8), line(9600));
  EXPECT_EQ(hostConfigOf(38400, CS8 | PARENB | CSTOPB), line(38400, sim::Parity::Even, 4));
  EXPECT_EQ(hostConfigOf(19200, CS8 | PARENB | PARODD), line(19200, sim::Parity::Odd));
  EXPECT_EQ(hostConfigOf(9600, CS8 | PARENB | PARODD | CMSPAR), line(9600, sim::Parity::Mark));
  EXPECT_EQ(hostConfigOf(9600, CS8 | PARENB | CMSPAR), line(9600, sim::Parity::Space));
  EXPECT_EQ(hostConfigOf(9600, CS7).byteSize, 7);
  EXPECT_EQ(hostConfigOf(9600, CS5 | CSTOPB).stopHalfBits, 3) << "one and a half";
}

TEST(PortSetup, OverridesSetTheModulesLine) {
  simports::PortSetup setup;
  std::string error;
  ASSERT_TRUE(simports::parsePortSetup("6=slave:baud=5,nb=1,sb=1", setup, error)) << error;
  EXPECT_EQ(setup.number, 6u);
  EXPECT_EQ(sim::Module(setup.config).lineSettings(), line(38400, sim::Parity::Even, 4));
  ASSERT_TRUE(simports::parsePortSetup("COM12=master:ni=ABC,GT=64", setup, error)) << error;
  EXPECT_EQ(setup.number, 12u);
  EXPECT_EQ(setup.config.nodeId, "ABC");
  EXPECT_EQ(setup.config.registers.at("GT"), 0x64u);
}

TEST(PortSetup, RefusesWhatItCannotBuild) {
  simports::PortSetup setup;
  for (const char* bad : {"5", "0=master", "256=master", "5=nosuch", "5=master:", "5=master:zz=1",
                          "5=master:nb=1FF", "5=master:bd=xyz", "5=master:ni=", "5=echo:bd=3"}) {
    std::string error;
    EXPECT_FALSE(simports::parsePortSetup(bad, setup, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(ControlLine, ReadsCommandsWithTheirArguments) {
  simports::Command c;
  std::string error;
  ASSERT_TRUE(simports::parseCommand("fault COM5 replace vr 12\\r3 4\\x41", c, error)) << error;
  EXPECT_EQ(c.verb, simports::Verb::kFault);
  EXPECT_EQ(c.port, 5u);
  EXPECT_EQ(c.text, "VR");
  EXPECT_EQ(c.reply, "12\r3 4A");
  ASSERT_TRUE(simports::parseCommand("press 6 after-break 300", c, error)) << error;
  EXPECT_EQ(c.verb, simports::Verb::kPress);
  EXPECT_EQ(c.number, 300u);
  ASSERT_TRUE(simports::parseCommand("fault com7 cts-low 800", c, error)) << error;
  EXPECT_EQ(c.what, "cts-low");
  EXPECT_EQ(c.number, 800u);
  ASSERT_TRUE(simports::parseCommand("radio cut on", c, error)) << error;
  EXPECT_TRUE(c.on);
  ASSERT_TRUE(simports::parseCommand("set COM5 bd 5", c, error)) << error;
  EXPECT_EQ(c.what, "BD");
  EXPECT_EQ(c.number, 5u);
  ASSERT_TRUE(simports::parseCommand("hold COM5 2", c, error)) << error;
  EXPECT_EQ(c.verb, simports::Verb::kHold);
  EXPECT_EQ(c.number, 2u);
  ASSERT_TRUE(simports::parseCommand("release com5", c, error)) << error;
  EXPECT_EQ(c.verb, simports::Verb::kRelease);
  EXPECT_EQ(c.port, 5u);
  ASSERT_TRUE(simports::parseCommand("radio loss 20 COM6", c, error)) << error;
  EXPECT_EQ(c.number, 20u);
  EXPECT_EQ(c.port, 6u);
  ASSERT_TRUE(simports::parseCommand("loopback COM6 on", c, error)) << error;
  EXPECT_EQ(c.verb, simports::Verb::kLoopback);
  EXPECT_TRUE(c.on);
}

TEST(ControlLine, RefusesIncompleteOrUnknownCommands) {
  simports::Command c;
  for (const char* bad :
       {"", "press", "press COM0", "jump COM5", "fault COM5 replace V 1",
        "fault COM5 withhold VR 0", "fault COM5 cts-low soon", "set COM5 BD zz", "set COM5 QQ 1",
        "radio drop many", "status now", "fault COM5 replace VR bad\\q", "hold COM5", "hold COM5 0",
        "hold COM5 x", "release COM5 now", "radio loss 101", "radio delay 5 COM5",
        "loopback COM6"}) {
    std::string error;
    EXPECT_FALSE(simports::parseCommand(bad, c, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

}  // namespace
