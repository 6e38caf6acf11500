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
    radio.faults.cut = true;  // the receiving module says only what a test makes it say
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

TEST_F(LinkVerdict, BothPanesOnOnePortAreRefused) {
  view().texts[slavePane.portCombo] = L"COM3";
  pickPorts();
  EXPECT_EQ(testPaneLink(), kLinkSamePort);
  EXPECT_TRUE(world.hostBytes("COM3").empty()) << "no transfer was made";
  EXPECT_EQ(masterPane.session.port, nullptr);
  EXPECT_EQ(slavePane.session.port, nullptr);
  EXPECT_FALSE(isValidPort(portRecord(3))) << "the master's port was closed again";
}

TEST_F(LinkVerdict, MissingMasterPortLeavesTheSlaveUnopened) {
  view().texts[masterPane.portCombo] = L"COM9";
  pickPorts();
  EXPECT_EQ(testPaneLink(), 0);
  EXPECT_TRUE(world.entries("COM4", vw::Event::Open).empty());
}

}  // namespace

namespace {

class LinkOverRadio : public PaneTest {
 protected:
  // Drops the frame that follows the `lines`-th line the host of `port` receives.
  void dropAfterLine(const std::string& port, int lines) {
    world.onHostReceived = [this, port, lines, seen = 0](const std::string& p,
                                                         uint8_t byte) mutable {
      if (p == port && byte == '\r' && ++seen == lines)
        radio.faults.dropNext = 1;
    };
  }
  int linesWritten(const std::string& port) const {
    int n = 0;
    for (char c : world.hostBytes(port))
      n += c == '\r';
    return n;
  }
  void expectPortsClosedAndRestored() {
    EXPECT_EQ(masterPane.session.port, nullptr);
    EXPECT_EQ(slavePane.session.port, nullptr);
    EXPECT_FALSE(isValidPort(portRecord(3)));
    EXPECT_FALSE(isValidPort(portRecord(4)));
    EXPECT_EQ(portRecord(3)->ioTimeoutMs, 1200u);
    EXPECT_EQ(portRecord(4)->ioTimeoutMs, 1200u);
  }
};

TEST_F(LinkOverRadio, LinkedPairPassesBothWays) {
  EXPECT_EQ(testPaneLink(), 1);
  EXPECT_EQ(world.hostBytes("COM4"),
            std::string(kLinkTextDigits) + kLinkTextDigits + kLinkTextLetters)
      << "the slave sends transfers 1, 2 and 4";
  EXPECT_EQ(world.hostBytes("COM3"), std::string(kLinkTextLetters) + kLinkTextDigits);
  EXPECT_EQ(radio.counts().arrivals, 5u);
  expectPortsClosedAndRestored();
}

TEST_F(LinkOverRadio, FirstTransferMayBeLost) {
  radio.faults.dropNext = 1;
  EXPECT_EQ(testPaneLink(), 1);
  EXPECT_EQ(radio.counts().lost, 1u);
}

TEST_F(LinkOverRadio, FailureAtTheThirdSkipsTheRest) {
  dropAfterLine("COM3", 2);  // the master has received transfers 1 and 2
  const vw::TimeUs start = world.now();
  EXPECT_EQ(testPaneLink(), 0);
  EXPECT_EQ(linesWritten("COM4"), 2) << "transfer 4 never started";
  EXPECT_EQ(linesWritten("COM3"), 1) << "transfer 5 never started";
  EXPECT_GT((world.now() - start) / 1000.0, 4800) << "the lost line was awaited 4.8 s";
  expectPortsClosedAndRestored();
}

// A cable pulled is no verdict on the radio: the port that failed is noted
// in its session, for a face to say so.
TEST_F(LinkOverRadio, APortThatFailsIsNotedAsItsSessionsFailure) {
  world.onHostReceived = [this](const std::string& p, uint8_t byte) {
    if (p == "COM3" && byte == '\r')
      world.removeSerialPort("COM4");
  };
  EXPECT_EQ(testPaneLink(), 0);
  EXPECT_NE(slavePane.session.outcome.code, 0);
  EXPECT_EQ(slavePane.session.outcome.portNumber, 4u);
  EXPECT_EQ(masterPane.session.outcome.code, 0);
  // A radio that only loses is no port's failure.
  world.onHostReceived = nullptr;
  radio.faults.cut = true;
  EXPECT_EQ(testPaneLink(), 0);
  EXPECT_EQ(masterPane.session.outcome.code, 0);
}

TEST_F(LinkOverRadio, CutRadioFails) {
  radio.faults.cut = true;
  EXPECT_EQ(testPaneLink(), 0);
  expectPortsClosedAndRestored();
}

TEST_F(LinkOverRadio, CorruptedLineFails) {
  world.onHostReceived = [this, seen = 0](const std::string& p, uint8_t byte) mutable {
    if (p == "COM3" && byte == '\r' && ++seen == 1)
      radio.faults.corruptNext = 1;
  };
  EXPECT_EQ(testPaneLink(), 0);
  EXPECT_EQ(radio.counts().corrupted, 1u);
}

}  // namespace

namespace {

// Cancel as the progress dialog gives it: one event that both ports watch.
class LinkCancel : public LinkOverRadio {
 protected:
  void SetUp() override {
    LinkOverRadio::SetUp();
    prepareOperation(&masterPane);
    slavePane.cancelEvent = masterPane.cancelEvent;  // borrowed, closed with the master's
    world.after(vw::ms(1500), [] { os::setEvent(masterPane.cancelEvent); });
  }
  void TearDown() override {
    EXPECT_LT(nowMs() - cancelAtMs, 50) << "the wait ended at once";
    expectPortsClosedAndRestored();
    slavePane.cancelEvent = nullptr;
    LinkOverRadio::TearDown();
  }
  const double cancelAtMs = nowMs() + 1500;
};

TEST_F(LinkCancel, EndsTheMastersWait) {
  radio.faults.cut = true;  // the master waits 4.8 s for transfer 1's line
  EXPECT_EQ(testPaneLink(), kLinkCancelled);
  EXPECT_EQ(linesWritten("COM4"), 1) << "transfer 2 never started";
}

TEST_F(LinkCancel, EndsTheSlavesWait) {
  dropAfterLine("COM3", 2);  // transfer 3 is lost: the slave waits for it
  EXPECT_EQ(testPaneLink(), kLinkCancelled);
  EXPECT_EQ(linesWritten("COM3"), 1) << "transfer 5 never started";
}

}  // namespace
