// The module record's reset, defaults, mode rules and value maps.
#include <gtest/gtest.h>

#include "platform/virtual/world.h"
#include "tests/support/recording_view.h"
#include "ui/dialog/pane.h"

namespace {

class PaneRules : public ::testing::Test {
 protected:
  void SetUp() override {
    view().clear();
    masterPane = PaneRecord{};
    slavePane = PaneRecord{};
    masterPane.module.isMaster = 1;
    bindFakeControls(&masterPane, 3000);
    bindFakeControls(&slavePane, 4000);
  }
};

TEST_F(PaneRules, ResetMarksEveryValueAsNotRead) {
  slavePane.module.nodeId[0] = 'X';
  slavePane.portNumber = 7;
  resetPane(&slavePane.module);
  EXPECT_EQ(slavePane.module.read[Setting::PanId], UINT64_MAX);
  EXPECT_EQ(slavePane.module.shown[Setting::PanId], UINT64_MAX);
  EXPECT_EQ(slavePane.module.read[Setting::OperatingPanId], 0xFFFF);
  EXPECT_EQ(slavePane.module.firmwareVersion, 0xFFFF);
  EXPECT_EQ(slavePane.module.nodeId[0], 0);
  EXPECT_EQ(slavePane.module.shown[Setting::DestHigh], 0u);
  EXPECT_EQ(slavePane.module.shown[Setting::Channel], 0xFF);
  EXPECT_EQ(slavePane.module.channelLimit, 255);
  EXPECT_EQ(slavePane.module.read[Setting::BaudRate], UINT32_MAX);
  EXPECT_EQ(slavePane.module.shown[Setting::D6Config], 0xFF);
  EXPECT_EQ(slavePane.module.read[Setting::SleepMode], 0xFF);
  EXPECT_EQ(slavePane.module.shown[Setting::PowerSave], 0xFF);
  EXPECT_EQ(slavePane.portNumber, 7) << "not a module value";
  EXPECT_EQ(shownText(slavePane.module, Setting::D7Config), nullptr) << "no label for no value";
  resetPane(&masterPane.module);
  EXPECT_EQ(masterPane.module.read[Setting::SleepMode], 0) << "the master has no sleep mode";
  EXPECT_EQ(masterPane.module.shown[Setting::PowerSave], 0);
}

TEST_F(PaneRules, DefaultsOnTheSlaveGoWithCyclicSleep) {
  resetPane(&slavePane.module);
  slavePane.module.shown[Setting::PanId] = 0x1234;
  setDefaults(&slavePane.module);
  EXPECT_EQ(slavePane.module.shown[Setting::Channel], 20);
  EXPECT_EQ(slavePane.module.shown[Setting::BaudRate], 3u);
  EXPECT_EQ(slavePane.module.shown[Setting::Parity], 0);
  EXPECT_EQ(slavePane.module.shown[Setting::StopBits], 0);
  EXPECT_EQ(slavePane.module.shown[Setting::PowerLevel], 4);
  EXPECT_EQ(slavePane.module.shown[Setting::BoostMode], 1);
  EXPECT_EQ(slavePane.module.shown[Setting::PowerSave], 0);
  EXPECT_EQ(slavePane.module.shown[Setting::SleepMode], 4);
  EXPECT_STREQ(shownText(slavePane.module, Setting::SleepMode), L"Cyclic Sleep");
  EXPECT_EQ(slavePane.module.shown[Setting::FlowControl], 1);
  EXPECT_FALSE(choiceOffered(slavePane.module, Setting::FlowControl)) << "flow control locked on";
  EXPECT_STREQ(shownText(slavePane.module, Setting::FlowControl), L"Enable") << "showing Enable";
  EXPECT_EQ(slavePane.module.shown[Setting::PanId], 0x1234u) << "identity and addresses stay";
  EXPECT_EQ(slavePane.module.read[Setting::BaudRate], UINT32_MAX) << "the Read group stays";
  resetPane(&masterPane.module);
  setDefaults(&masterPane.module);
  EXPECT_TRUE(choiceOffered(masterPane.module, Setting::FlowControl))
      << "the master's is never locked";
  EXPECT_TRUE(view().calls.empty()) << "no window call";
  EXPECT_EQ(masterPane.module.shown[Setting::SleepMode], 0);
  EXPECT_EQ(masterPane.module.shown[Setting::D7Config], 1);
}

TEST_F(PaneRules, FlowControlRuleTakesAnythingButZeroAsOn) {
  masterPane.module.shown[Setting::FlowControl] = 0xFF;
  applyFlowControlRule(&masterPane.module);
  EXPECT_EQ(masterPane.module.shown[Setting::FlowControl], 1);
  EXPECT_EQ(masterPane.module.shown[Setting::D7Config], 1);
  EXPECT_EQ(masterPane.module.shown[Setting::D6Config], 1);
  EXPECT_STREQ(shownText(masterPane.module, Setting::D7Config), L"Flow Control");
  masterPane.module.shown[Setting::FlowControl] = 0;
  applyFlowControlRule(&masterPane.module);
  EXPECT_EQ(masterPane.module.shown[Setting::D7Config], 4);
  EXPECT_EQ(masterPane.module.shown[Setting::D6Config], 0);
  EXPECT_STREQ(shownText(masterPane.module, Setting::D7Config), L"High Level Out");
  EXPECT_STREQ(shownText(masterPane.module, Setting::D6Config), L"Disable");
}

TEST_F(PaneRules, NoSleepFreesFlowControlAndKeepsItsChoice) {
  applyCyclicSleepRule(&slavePane.module);
  slavePane.module.shown[Setting::FlowControl] =
      0;  // cannot be chosen while locked, but the rule must not care
  applyNoSleepRule(&slavePane.module);
  EXPECT_EQ(slavePane.module.shown[Setting::PowerSave], 1);
  EXPECT_EQ(slavePane.module.shown[Setting::SleepMode], 0);
  EXPECT_STREQ(shownText(slavePane.module, Setting::SleepMode), L"No Sleep");
  EXPECT_TRUE(choiceOffered(slavePane.module, Setting::FlowControl));
  EXPECT_EQ(slavePane.module.shown[Setting::D7Config], 4);
}

struct ModeCase {
  int isMaster;
  uint8_t sm, d7, d6;
  uint8_t flowRead, flowShown, d7Shown, d6Shown, powerSaveRead, powerSaveShown, smShown;
};

TEST_F(PaneRules, ModeStateIsDerivedAndNormalised) {
  const ModeCase cases[] = {
      // slave, cyclic sleep with flow control: everything as read
      {0, 4, 1, 1, 1, 1, 1, 1, 0, 0, 4},
      // slave, SM 4 without flow control: shown as no sleep, SM differs
      {0, 4, 4, 0, 0, 0, 4, 0, 1, 1, 0},
      // slave, no sleep, flow control on
      {0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0},
      // master, D7 0 D6 0: flow control off, D7 shown 4 against 0
      {1, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0},
      // master with flow control
      {1, 0, 1, 1, 1, 1, 1, 1, 0, 0, 0},
  };
  for (const ModeCase& c : cases) {
    PaneRecord& pane = c.isMaster ? masterPane : slavePane;
    resetPane(&pane.module);
    pane.module.read[Setting::SleepMode] = pane.module.isMaster ? 0 : c.sm;
    pane.module.read[Setting::D7Config] = c.d7;
    pane.module.read[Setting::D6Config] = c.d6;
    deriveModeState(&pane.module);
    SCOPED_TRACE(testing::Message() << "master " << c.isMaster << " SM " << int{c.sm} << " D7 "
                                    << int{c.d7} << " D6 " << int{c.d6});
    EXPECT_EQ(pane.module.read[Setting::FlowControl], c.flowRead);
    EXPECT_EQ(pane.module.shown[Setting::FlowControl], c.flowShown);
    EXPECT_EQ(pane.module.shown[Setting::D7Config], c.d7Shown);
    EXPECT_EQ(pane.module.shown[Setting::D6Config], c.d6Shown);
    EXPECT_EQ(pane.module.read[Setting::PowerSave], c.powerSaveRead);
    EXPECT_EQ(pane.module.shown[Setting::PowerSave], c.powerSaveShown);
    EXPECT_EQ(pane.module.shown[Setting::SleepMode], c.smShown);
  }
}

TEST(PaneMaps, ChannelAndMask) {
  EXPECT_EQ(channelFromMask(0), 20);
  EXPECT_EQ(channelFromMask(0x0001), 11);
  EXPECT_EQ(channelFromMask(0x8000), 26);
  EXPECT_EQ(channelFromMask(0x0300), 19);
  EXPECT_EQ(maskFromChannel(11), 0x0001);
  EXPECT_EQ(maskFromChannel(20), 0x0200);
  EXPECT_EQ(maskFromChannel(26), 0x8000);
  for (uint8_t ch = 11; ch <= 26; ++ch)
    EXPECT_EQ(channelFromMask(maskFromChannel(ch)), ch);
  for (uint8_t ch : {0, 10, 27, 42, 0xFF})
    EXPECT_EQ(maskFromChannel(ch), 0) << "no wrap onto a channel nobody chose: " << int{ch};
}

TEST(PaneMaps, SerialCodes) {
  EXPECT_EQ(baudRateOfCode(0), 1200u);
  EXPECT_EQ(baudRateOfCode(5), 38400u);
  EXPECT_EQ(baudRateOfCode(7), 115200u);
  EXPECT_EQ(baudRateOfCode(8), 9600u);
  EXPECT_EQ(baudRateOfCode(0x1C200), 115200u) << "from 128 on the code is the rate";
  EXPECT_EQ(parityOfCode(1), os::kEvenParity);
  EXPECT_EQ(parityOfCode(2), os::kOddParity);
  EXPECT_EQ(parityOfCode(3), os::kMarkParity);
  EXPECT_EQ(parityOfCode(4), os::kNoParity);
  EXPECT_EQ(stopBitsOfCode(1), os::kTwoStopBits);
  EXPECT_EQ(stopBitsOfCode(2), os::kOneStopBit);
}

TEST(PaneMaps, OtherPaneAndCancel) {
  vw::World world;
  masterPane.module.isMaster = 1;
  slavePane.module.isMaster = 0;
  EXPECT_EQ(otherPane(&masterPane), &slavePane);
  EXPECT_EQ(otherPane(&slavePane), &masterPane);
  PaneRecord pane;
  EXPECT_FALSE(isCancelled(&pane)) << "no event: not cancelled";
  pane.cancelEvent = os::createEvent();
  EXPECT_FALSE(isCancelled(&pane));
  os::setEvent(pane.cancelEvent);
  EXPECT_TRUE(isCancelled(&pane));
  EXPECT_EQ(world.now(), 0u) << "the test does not wait";
  os::closeHandle(pane.cancelEvent);
}

}  // namespace
