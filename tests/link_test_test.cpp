// The link test's transfers and verdict, with modules in virtual time.
#include "module/link_test.h"

#include "link/transfer.h"
#include "module/read.h"
#include "tests/support/pane_fixture.h"

namespace {

class LinkTransfer : public PaneTest {
 protected:
  void SetUp() override {
    PaneTest::SetUp();
    sender = openPort(3, nullptr);
    receiver = openPort(4, nullptr);
    ASSERT_NE(sender, nullptr);
    ASSERT_NE(receiver, nullptr);
  }
  void TearDown() override {
    closePort(sender);
    closePort(receiver);
    PaneTest::TearDown();
  }
  // What the receiving module hands its host, whatever was sent.
  int32_t transferReceiving(const std::string& received) {
    slave->inject(world.now() + vw::ms(50), received);
    return linkTransfer(sender, receiver, kLinkTextDigits);
  }

  SerialPort* sender = nullptr;
  SerialPort* receiver = nullptr;
};

TEST_F(LinkTransfer, OnlyTheSixteenCharactersAndTheirCrPass) {
  EXPECT_EQ(transferReceiving("0123456789abcdef\r"), 1);
  EXPECT_EQ(transferReceiving("0123456789abcde\r"), 0) << "one short";
  EXPECT_EQ(transferReceiving("0123456789abcdefX\r"), 0) << "one long";
  EXPECT_EQ(transferReceiving("0123456789abcdeF\r"), 0) << "one wrong";
  EXPECT_EQ(transferReceiving("\r"), 0) << "empty line";
  EXPECT_EQ(world.hostBytes("COM3").size(), 5 * kLinkTextLength) << "written each time";
}

TEST_F(LinkTransfer, NothingArrivingFailsAfterTheReadTimeOut) {
  const vw::TimeUs start = world.now();
  EXPECT_EQ(linkTransfer(sender, receiver, kLinkTextDigits), 0);
  EXPECT_NEAR((world.now() - start) / 1000.0, 17 * 1.042 + 1200, 1);
}

TEST_F(LinkTransfer, EachTransferStartsFromEmptyQueues) {
  slave->inject(world.now(), "stale\r");
  os::sleepMs(100);
  EXPECT_EQ(transferReceiving("0123456789abcdef\r"), 1) << "the stale line was purged";
}

class LinkVerdict : public PaneTest {};

TEST_F(LinkVerdict, BothPanesOnOnePortFail) {
  view().texts[slavePane.portCombo] = L"COM3";
  EXPECT_EQ(testLink(), 0);
  EXPECT_TRUE(world.hostBytes("COM3").empty()) << "no transfer was made";
  EXPECT_EQ(masterPane.port, nullptr);
  EXPECT_EQ(slavePane.port, nullptr);
  EXPECT_FALSE(isValidPort(portRecord(3))) << "the master's port was closed again";
}

TEST_F(LinkVerdict, MissingMasterPortLeavesTheSlaveUnopened) {
  view().texts[masterPane.portCombo] = L"COM9";
  EXPECT_EQ(testLink(), 0);
  EXPECT_TRUE(world.entries("COM4", vw::Event::Open).empty());
}

}  // namespace
