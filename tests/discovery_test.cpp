// Finding a module's serial settings: the quick path, the reset-key
// procedure, and how the module's replies are read.
#include "link/discovery.h"

#include "tests/support/link_fixture.h"
#include "tests/support/recording_view.h"

namespace {

constexpr uint32_t kResetWindowMs = 10000;

class Discovery : public LinkTest {
 protected:
  void SetUp() override {
    view().clear();
    prompt = reinterpret_cast<WindowHandle>(uintptr_t{0x111});
    view().windows.insert(prompt);
    LinkTest::SetUp();
  }
  void moduleAt(uint64_t bd, uint64_t nb, uint64_t sb) {
    module.setReg("BD", bd);
    module.setReg("NB", nb);
    module.setReg("SB", sb);
  }
  void pressResetKeyAt(vw::TimeUs at) {
    world.at(at, [this] { module.pressResetKey(world.now()); });
  }
  size_t breakPulses() const { return world.entries(kPortName, vw::Event::BreakOn).size(); }
  const os::LineSettings& hostLine() { return world.line(kPortName)->settings; }

  WindowHandle prompt = nullptr;
};

TEST_F(Discovery, ModuleAt9600AnswersAtOnce) {
  ASSERT_TRUE(discoverSerialSettings(port, windowResetPrompt(prompt)));
  EXPECT_EQ(world.hostBytes(kPortName), "+++") << "no frame, no queries";
  EXPECT_EQ(breakPulses(), 0u);
  EXPECT_TRUE(view().calls.empty()) << "no prompt";
  EXPECT_EQ(hostLine().baudRate, 9600u);
  EXPECT_EQ(hostLine().parity, os::kNoParity);
  EXPECT_TRUE(hostLine().dsrSensitivity);
  EXPECT_EQ(hostLine().xonLim, 8192);
  EXPECT_EQ(world.line(kPortName)->inQueue, 16384u);
  EXPECT_EQ(world.line(kPortName)->timeouts.writeTotalConstantMs, 16000u);
  EXPECT_TRUE(module.inCommandMode()) << "left in command mode for the read";
  EXPECT_EQ(port->inCommandMode, 1u) << "and the port knows it";
}

TEST_F(Discovery, ALongRadioLineBeforeTheOkIsNoReasonForTheKey) {
  module.inject(world.now() + vw::ms(300), "0123456789abcdef\r");
  ASSERT_TRUE(discoverSerialSettings(port, windowResetPrompt(prompt)));
  EXPECT_EQ(world.hostBytes(kPortName), "+++");
  EXPECT_TRUE(view().calls.empty()) << "no prompt";
}

// A starved machine serves the read long after the module's "OK" came, in
// time: the answer on the line at the window's end is the module's answer.
TEST_F(Discovery, AnOkServedLateIsStillTheAnswer) {
  world.readsServedLateUs = vw::ms(900);
  ASSERT_TRUE(discoverSerialSettings(port, windowResetPrompt(prompt)));
  world.readsServedLateUs = 0;
  EXPECT_EQ(world.hostBytes(kPortName), "+++") << "no other speed, no key";
  EXPECT_TRUE(view().calls.empty()) << "no prompt";
}

TEST_F(Discovery, ResetKeyFindsAModuleAtOtherSettings) {
  moduleAt(5, 1, 1);  // 38400, even parity, two stop bits
  pressResetKeyAt(vw::ms(4000));
  ASSERT_TRUE(discoverSerialSettings(port, windowResetPrompt(prompt)));
  EXPECT_EQ(view().calls, (std::vector<std::string>{"showResetPrompt", "hideResetPrompt"}));
  const std::string sent = world.hostBytes(kPortName);
  const std::string frame("\x7E\x00\x04\x08\x01\x56\x52\x4E\xE4\x91\x18", 11);
  EXPECT_EQ(sent, "+++" + frame + "ATBD\rATNB\rATSB\rATCN\r");
  EXPECT_EQ(hostLine().baudRate, 38400u);
  EXPECT_EQ(hostLine().parity, os::kEvenParity);
  EXPECT_EQ(hostLine().stopBits, os::kTwoStopBits);
  EXPECT_EQ(hostLine().byteSize, 8);
  EXPECT_GE(breakPulses(), 2u);
  EXPECT_EQ(breakPulses(), world.entries(kPortName, vw::Event::BreakOff).size());
  EXPECT_FALSE(module.inCommandMode()) << "ATCN sent it back to transparent mode";
  EXPECT_TRUE(world.line(kPortName)->dtr) << "DTR up again at the end";
}

TEST_F(Discovery, NoKeyPressGivesUpAfterTheWindow) {
  moduleAt(5, 0, 0);
  const vw::TimeUs start = world.now();
  EXPECT_FALSE(discoverSerialSettings(port, windowResetPrompt(prompt)));
  EXPECT_EQ(view().calls, (std::vector<std::string>{"showResetPrompt", "hideResetPrompt"}));
  const auto pulses = world.entries(kPortName, vw::Event::BreakOn);
  EXPECT_EQ(pulses.size(), 9u) << "one read window each within 10 s";
  const double firstPulseMs = (pulses.front().at - start) / 1000.0;
  const double lastPulseMs = (pulses.back().at - start) / 1000.0;
  EXPECT_LT(lastPulseMs - firstPulseMs, kResetWindowMs);
  EXPECT_GT((world.now() - pulses.front().at) / 1000.0, kResetWindowMs) << "ends after the mark";
  EXPECT_EQ(hostLine().baudRate, 38400u) << "left at the pulse rate";
}

TEST_F(Discovery, NoPromptWindowStillRuns) {
  moduleAt(4, 0, 0);
  pressResetKeyAt(vw::ms(3000));
  EXPECT_TRUE(discoverSerialSettings(port, ResetPrompt{}));
  EXPECT_TRUE(view().calls.empty());
  EXPECT_EQ(hostLine().baudRate, 19200u);
}

TEST_F(Discovery, BaudRepliesAreReadByTheirOwnTable) {
  const std::pair<uint64_t, uint32_t> cases[] = {
      {7, 115200}, {3, 9600}, {0xA, 9600}, {0x1C200, 115200}, {0x80, 128}};
  for (const auto& [code, rate] : cases) {
    closePort(port);
    port = openPort(kPortNumber, cancel);
    ASSERT_NE(port, nullptr);
    moduleAt(code, 0, 0);
    module.powerCycle();
    pressResetKeyAt(world.now() + vw::ms(3000));
    EXPECT_TRUE(discoverSerialSettings(port, windowResetPrompt(prompt))) << code;
    EXPECT_EQ(hostLine().baudRate, rate) << code;
    os::sleepMs(2000);
  }
  EXPECT_EQ(baudRateOfCode(8), 9600u);
  EXPECT_EQ(baudRateOfCode(127), 9600u);
}

TEST_F(Discovery, RepliesThatAreNotADigitBeforeCrFail) {
  struct Case {
    const char* command;
    const char* reply;
    bool ok;
  } cases[] = {
      {"BD", "7 \r", false},  // a space before the CR
      {"NB", "10\r", false},  // does not fit its 3-byte buffer
      {"BD", "\r", true},     // a lone CR reads as 0: 1200 baud
      {"NB", "4\r", true},    // unknown parity: none
  };
  for (const Case& c : cases) {
    closePort(port);
    port = openPort(kPortNumber, cancel);
    moduleAt(5, 0, 0);
    module.powerCycle();
    module.faults.replaceReply[c.command] = c.reply;
    pressResetKeyAt(world.now() + vw::ms(3000));
    EXPECT_EQ(discoverSerialSettings(port, windowResetPrompt(prompt)), c.ok)
        << c.command << " " << c.reply;
    if (!c.ok) {
      EXPECT_FALSE(world.line(kPortName)->dtr) << "DTR left down on a bad reply";
    }
    os::sleepMs(2000);
  }
  EXPECT_EQ(hostLine().parity, os::kNoParity);
}

TEST_F(Discovery, CancelEndsThePulsesAtOnce) {
  moduleAt(5, 0, 0);
  world.at(vw::ms(3000), [this] { os::setEvent(cancel); });
  EXPECT_FALSE(discoverSerialSettings(port, windowResetPrompt(prompt)));
  EXPECT_LT(world.now(), vw::ms(3001)) << "no pulses after the cancel";
  EXPECT_EQ(view().calls.back(), "hideResetPrompt");
}

TEST_F(Discovery, AResetByteAtTheEndOfAPulseIsLetPassBeforeTheQueries) {
  moduleAt(5, 0, 0);
  // The key goes down so that the module's byte starts half a millisecond
  // before the first pulse's window closes: at 38400 the window takes the
  // first of the bytes it makes of it, the rest come after.
  view().onResetPrompt = [this] {
    pressResetKeyAt(world.now() + vw::ms(1200) - module.config().bootUs - 500);
  };
  ASSERT_TRUE(discoverSerialSettings(port, windowResetPrompt(prompt)));
  EXPECT_EQ(hostLine().baudRate, 38400u);
}

TEST_F(Discovery, UnpluggedDuringThePulsesItGivesUpAtOnce) {
  moduleAt(5, 0, 0);
  world.at(vw::ms(3000), [this] { world.removeSerialPort(kPortName); });
  EXPECT_FALSE(discoverSerialSettings(port, windowResetPrompt(prompt)));
  EXPECT_LT(world.now(), vw::ms(3000 + 1200 + 1)) << "not a pulse after the one cut short";
  EXPECT_EQ(view().calls.back(), "hideResetPrompt");
}

// The module's own byte at 9600 while each pulse's break is refused: the
// read windows go on, and one of them hears it.
TEST_F(Discovery, ADriverWithoutBreakStillListensForTheModule) {
  moduleAt(5, 0, 0);
  for (int i = 0; i < 20; ++i)
    world.failCall(vw::Call::SetBreak);
  view().onResetPrompt = [this] {
    moduleAt(3, 0, 0);
    module.inject(world.now() + vw::ms(4000), "\x55");
  };
  discoverSerialSettings(port, windowResetPrompt(prompt));
  EXPECT_NE(world.hostBytes(kPortName).find("ATBD\r"), std::string::npos)
      << "the settings were asked after the module spoke";
}

TEST_F(Discovery, FailingSetupCallShowsNoPrompt) {
  for (vw::Call call : {vw::Call::SetTimeouts, vw::Call::SetQueues, vw::Call::SetLineSettings,
                        vw::Call::Purge, vw::Call::Escape}) {
    world.failCall(call);
    EXPECT_FALSE(discoverSerialSettings(port, windowResetPrompt(prompt)));
    EXPECT_TRUE(world.hostBytes(kPortName).empty());
  }
  EXPECT_TRUE(view().calls.empty());
}

}  // namespace
