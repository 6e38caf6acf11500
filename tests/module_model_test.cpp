// The module model keeps the command contract that the program relies on.
// Driven directly: bytes in with their times, replies out.
#include <gtest/gtest.h>

#include <string>

#include "sim/module.h"

namespace {

constexpr sim::TimeUs kMs = 1000;
constexpr sim::TimeUs kByte = 1042;  // 9600 baud, 8-N-1

class ModuleModel : public ::testing::Test {
 protected:
  // Feeds text a byte time apart from `at`; returns the time after the last byte.
  sim::TimeUs feed(sim::TimeUs at, const std::string& text) {
    for (char c : text) {
      at += kByte;
      module.receive(at, static_cast<uint8_t>(c));
    }
    return at;
  }
  // Everything the module sends up to `until`, stepping through its wake-ups.
  std::string output(sim::TimeUs until) {
    std::string out;
    for (;;) {
      auto wake = module.nextWake();
      if (!wake || *wake > until)
        break;
      module.advance(*wake);
      out += module.takeOutput();
    }
    module.advance(until);
    return out + module.takeOutput();
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

  sim::Module module;
};

TEST_F(ModuleModel, EscapeNeedsSilenceBeforeAndAfter) {
  sim::TimeUs t = feed(5000 * kMs, "+++");
  EXPECT_EQ(output(t + 999 * kMs), "") << "not before the guard time";
  EXPECT_EQ(output(t + 1000 * kMs), "OK\r");
  EXPECT_TRUE(module.inCommandMode());
}

TEST_F(ModuleModel, EscapeAfterRecentTrafficOrFollowedByABytesIsData) {
  sim::TimeUs t = feed(0, "x");
  t = feed(t + 500 * kMs, "+++");  // only 0.5 s of silence before
  EXPECT_EQ(output(t + 2000 * kMs), "");
  t = feed(t + 2000 * kMs, "+++");
  t = feed(t + 200 * kMs, "A");  // a byte within the guard time after
  EXPECT_EQ(output(t + 2000 * kMs), "");
  EXPECT_FALSE(module.inCommandMode());
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
  EXPECT_EQ(command(t, "ATXX\r"), "ERROR\r");
  EXPECT_EQ(command(t, "ATPLZZ\r"), "ERROR\r");
  EXPECT_EQ(command(t, "ATCN\r"), "OK\r");
  EXPECT_FALSE(module.inCommandMode());
  EXPECT_EQ(command(t, "ATVR\r"), "") << "transparent now: commands are data";
}

TEST_F(ModuleModel, NewSerialSettingsApplyOnlyAfterLeaving) {
  sim::TimeUs t = escape(0);
  EXPECT_EQ(command(t, "ATBD5\r"), "OK\r");
  EXPECT_EQ(command(t, "ATNB1\r"), "OK\r");
  EXPECT_EQ(command(t, "ATSB1\r"), "OK\r");
  EXPECT_EQ(module.lineSettings(), (sim::SerialConfig{9600, 8, 0, 0})) << "still the old ones";
  EXPECT_EQ(command(t, "ATCN\r"), "OK\r");
  EXPECT_EQ(module.lineSettings(), (sim::SerialConfig{38400, 8, 2, 2}));
}

TEST_F(ModuleModel, StoredSettingsSurviveAPowerCycleAndOthersDoNot) {
  sim::TimeUs t = escape(0);
  command(t, "ATPL1\r");
  command(t, "ATWR\r");
  command(t, "ATPL3\r");
  module.powerCycle();
  EXPECT_EQ(module.reg("PL"), 1u);
  EXPECT_FALSE(module.inCommandMode());
}

TEST_F(ModuleModel, FaultsReplaceOrWithholdOneReply) {
  sim::TimeUs t = escape(0);
  module.faults.replaceReply["VR"] = "ERROR\r";
  EXPECT_EQ(command(t, "ATVR\r"), "ERROR\r");
  EXPECT_EQ(command(t, "ATVR\r"), "10A5\r") << "once only";
  module.faults.withholdReply["VR"] = 1;
  EXPECT_EQ(command(t, "ATVR\r"), "");
  EXPECT_EQ(command(t, "ATVR\r"), "10A5\r");
  EXPECT_TRUE(module.cts(t));
  module.faults.ctsHeldLow = true;
  EXPECT_FALSE(module.cts(t));
}

TEST(ModuleSerialCodes, MapToLineSettings) {
  EXPECT_EQ(sim::serialConfigOf(7, 0, 0).baudRate, 115200u);
  EXPECT_EQ(sim::serialConfigOf(0xA, 0, 0).baudRate, 9600u);
  EXPECT_EQ(sim::serialConfigOf(0x1C200, 0, 0).baudRate, 115200u);
  EXPECT_EQ(sim::serialConfigOf(3, 2, 0).parity, 1) << "NB 2 is odd";
  EXPECT_EQ(sim::serialConfigOf(3, 3, 0).parity, 3) << "NB 3 is mark";
  EXPECT_EQ(sim::serialConfigOf(3, 0, 1).stopBits, 2);
}

}  // namespace
