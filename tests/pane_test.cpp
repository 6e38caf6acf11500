// The pane record's reset, defaults, mode rules and value maps.
#include <gtest/gtest.h>

#include "module/pane.h"
#include "platform/virtual/world.h"
#include "tests/support/recording_view.h"

namespace {

class PaneRules : public ::testing::Test {
 protected:
  void SetUp() override {
    view().clear();
    masterPane = PaneRecord{};
    slavePane = PaneRecord{};
    masterPane.isMaster = 1;
    bindFakeControls(&masterPane, 3000);
    bindFakeControls(&slavePane, 4000);
  }
};

TEST_F(PaneRules, ResetMarksEveryValueAsNotRead) {
  slavePane.nodeId[0] = 'X';
  slavePane.portNumber = 7;
  slavePane.rtsLabel = kLabelFlowControl;
  resetPane(&slavePane);
  EXPECT_EQ(slavePane.panIdRead, UINT64_MAX);
  EXPECT_EQ(slavePane.panIdShown, UINT64_MAX);
  EXPECT_EQ(slavePane.operatingPanIdRead, 0xFFFF);
  EXPECT_EQ(slavePane.firmwareVersion, 0xFFFF);
  EXPECT_EQ(slavePane.nodeId[0], 0);
  EXPECT_EQ(slavePane.destHighShown, 0u);
  EXPECT_EQ(slavePane.channelShown, 0xFF);
  EXPECT_EQ(slavePane.channelLimit, 255);
  EXPECT_EQ(slavePane.baudCodeRead, UINT32_MAX);
  EXPECT_EQ(slavePane.d6ConfigShown, 0xFF);
  EXPECT_EQ(slavePane.sleepModeRead, 0xFF);
  EXPECT_EQ(slavePane.powerSaveShown, 0xFF);
  EXPECT_EQ(slavePane.portNumber, 7) << "not a module value";
  EXPECT_EQ(slavePane.rtsLabel, kLabelFlowControl) << "labels stay";
  resetPane(&masterPane);
  EXPECT_EQ(masterPane.sleepModeRead, 0) << "the master has no sleep mode";
  EXPECT_EQ(masterPane.powerSaveShown, 0);
}

TEST_F(PaneRules, DefaultsOnTheSlaveGoWithCyclicSleep) {
  resetPane(&slavePane);
  slavePane.panIdShown = 0x1234;
  setDefaults(&slavePane);
  EXPECT_EQ(slavePane.channelShown, 20);
  EXPECT_EQ(slavePane.baudCodeShown, 3u);
  EXPECT_EQ(slavePane.parityCodeShown, 0);
  EXPECT_EQ(slavePane.stopBitsCodeShown, 0);
  EXPECT_EQ(slavePane.powerLevelShown, 4);
  EXPECT_EQ(slavePane.boostModeShown, 1);
  EXPECT_EQ(slavePane.powerSaveShown, 0);
  EXPECT_EQ(slavePane.sleepModeShown, 4);
  EXPECT_EQ(slavePane.sleepModeLabel, kLabelCyclicSleep);
  EXPECT_EQ(slavePane.flowControlShown, 1);
  EXPECT_FALSE(view().enabled.at(slavePane.flowControlCombo)) << "flow control locked on";
  EXPECT_EQ(view().selection.at(slavePane.flowControlCombo), 1) << "showing Enable";
  EXPECT_EQ(slavePane.panIdShown, 0x1234u) << "identity and addresses stay";
  EXPECT_EQ(slavePane.baudCodeRead, UINT32_MAX) << "the Read group stays";
  resetPane(&masterPane);
  setDefaults(&masterPane);
  EXPECT_TRUE(view().enabled.count(masterPane.flowControlCombo) == 0) << "no window call";
  EXPECT_EQ(masterPane.sleepModeShown, 0);
  EXPECT_EQ(masterPane.d7ConfigShown, 1);
}

TEST_F(PaneRules, FlowControlRuleTakesAnythingButZeroAsOn) {
  masterPane.flowControlShown = 0xFF;
  applyFlowControlRule(&masterPane);
  EXPECT_EQ(masterPane.flowControlShown, 1);
  EXPECT_EQ(masterPane.d7ConfigShown, 1);
  EXPECT_EQ(masterPane.d6ConfigShown, 1);
  EXPECT_EQ(masterPane.rtsLabel, kLabelFlowControl);
  masterPane.flowControlShown = 0;
  applyFlowControlRule(&masterPane);
  EXPECT_EQ(masterPane.d7ConfigShown, 4);
  EXPECT_EQ(masterPane.d6ConfigShown, 0);
  EXPECT_EQ(masterPane.rtsLabel, kLabelHighLevelOut);
  EXPECT_EQ(masterPane.ctsLabel, kLabelDisable);
}

TEST_F(PaneRules, NoSleepFreesFlowControlAndKeepsItsChoice) {
  applyCyclicSleepRule(&slavePane);
  slavePane.flowControlShown = 0;  // cannot be chosen while locked, but the rule must not care
  applyNoSleepRule(&slavePane);
  EXPECT_EQ(slavePane.powerSaveShown, 1);
  EXPECT_EQ(slavePane.sleepModeShown, 0);
  EXPECT_EQ(slavePane.sleepModeLabel, kLabelNoSleep);
  EXPECT_TRUE(view().enabled.at(slavePane.flowControlCombo));
  EXPECT_EQ(slavePane.d7ConfigShown, 4);
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
    resetPane(&pane);
    pane.sleepModeRead = pane.isMaster ? 0 : c.sm;
    pane.d7ConfigRead = c.d7;
    pane.d6ConfigRead = c.d6;
    deriveModeState(&pane);
    SCOPED_TRACE(testing::Message() << "master " << c.isMaster << " SM " << int{c.sm} << " D7 "
                                    << int{c.d7} << " D6 " << int{c.d6});
    EXPECT_EQ(pane.flowControlRead, c.flowRead);
    EXPECT_EQ(pane.flowControlShown, c.flowShown);
    EXPECT_EQ(pane.d7ConfigShown, c.d7Shown);
    EXPECT_EQ(pane.d6ConfigShown, c.d6Shown);
    EXPECT_EQ(pane.powerSaveRead, c.powerSaveRead);
    EXPECT_EQ(pane.powerSaveShown, c.powerSaveShown);
    EXPECT_EQ(pane.sleepModeShown, c.smShown);
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
  masterPane.isMaster = 1;
  slavePane.isMaster = 0;
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
