// The transfer primitives against a module model, in virtual time: every
// way a transfer can end, the CTS wait with its break, and how lines are cut.
#include <string>

#include "tests/support/link_fixture.h"

namespace {

class Transfers : public LinkTest {
 protected:
  // "+++" and its "OK", through the primitives alone.
  void escape() {
    ASSERT_EQ(writeBytes(port, "+++", 3), 0);
    char reply[8];
    ASSERT_EQ(readLine(port, reply, sizeof reply, nullptr), 0);
    ASSERT_STREQ(reply, "OK");
  }

  // Sends a node identifier query; the module answers with `reply` as given.
  void askForRawReply(const std::string& reply) {
    module.faults.replaceReply["NI"] = reply;
    ASSERT_EQ(writeBytes(port, "ATNI\r", 5), 0);
  }

  std::vector<vw::Entry> breaks(vw::Event kind) { return world.entries(kPortName, kind); }
};

// ---------------------------------------------------------------- outcomes

TEST_F(Transfers, CompletedWriteAndReadSucceed) {
  escape();
  EXPECT_EQ(world.hostBytes(kPortName), "+++");
  EXPECT_TRUE(breaks(vw::Event::BreakOn).empty()) << "CTS was up: no break";
  askForRawReply("OK\r");
  char reply[8];
  uint32_t length = 0;
  ASSERT_EQ(readLine(port, reply, 8, &length), 0);
  EXPECT_STREQ(reply, "OK");
  EXPECT_EQ(length, 2u);
}

TEST_F(Transfers, ZeroBytesMovedIsAnError) {
  EXPECT_EQ(writeBytes(port, "", 0), ErrWrite);
  // A driver set to return at once completes a read with nothing.
  os::Timeouts t{};
  t.readIntervalMs = 0xFFFFFFFF;
  ASSERT_TRUE(os::setSerialTimeouts(port->handle, t));
  char reply[8];
  EXPECT_EQ(readLine(port, reply, 8, nullptr), ErrRead);
}

TEST_F(Transfers, TransfersThatCannotBeIssuedOrFetchedFail) {
  world.failCall(vw::Call::StartWrite);
  EXPECT_EQ(writeBytes(port, "+++", 3), ErrWrite);
  world.failCall(vw::Call::StartRead);
  char reply[8];
  EXPECT_EQ(readLine(port, reply, 8, nullptr), ErrRead);
  world.failCall(vw::Call::FinishTransfer);
  EXPECT_EQ(writeBytes(port, "+++", 3), ErrTimeout);
}

TEST_F(Transfers, NoCompletionWithinTheTimeOutCancels) {
  port->ioTimeoutMs = 20;
  const std::string longLine(100, 'x');  // 104 ms at 9600 baud
  EXPECT_EQ(writeBytes(port, longLine.data(), 100), ErrTimeout);
  EXPECT_EQ(nowMs(), 20.0);
  port->ioTimeoutMs = 1200;
  char reply[8];
  const vw::TimeUs start = world.now();
  EXPECT_EQ(readLine(port, reply, 8, nullptr), ErrTimeout) << "nobody answers";
  EXPECT_EQ(world.now() - start, vw::ms(1200));
}

TEST_F(Transfers, EachByteHasItsOwnTimeOut) {
  const vw::TimeUs t0 = world.now();
  module.inject(t0 + vw::ms(1100), "A");
  module.inject(t0 + vw::ms(2200), "B");
  module.inject(t0 + vw::ms(3300), "\r");
  char reply[8];
  ASSERT_EQ(readLine(port, reply, 8, nullptr), 0) << "slow, but every byte in time";
  EXPECT_STREQ(reply, "AB");
  const vw::TimeUs t1 = world.now();
  module.inject(t1 + vw::ms(1100), "A");
  module.inject(t1 + vw::ms(2400), "\r");
  EXPECT_EQ(readLine(port, reply, 8, nullptr), ErrTimeout);
  EXPECT_NEAR((world.now() - t1) / 1000.0, 1100 + 1 + 1200, 1.5);
}

TEST_F(Transfers, EmptyLineIsAnError) {
  escape();
  askForRawReply("\r");
  char reply[8];
  EXPECT_EQ(readLine(port, reply, 8, nullptr), ErrRead);
}

TEST_F(Transfers, LineFeedIsAnOrdinaryByte) {
  escape();
  askForRawReply("OK\r\n");
  char reply[8];
  ASSERT_EQ(readLine(port, reply, 8, nullptr), 0);
  EXPECT_STREQ(reply, "OK");
  askForRawReply("OK\r");
  uint32_t length = 0;
  ASSERT_EQ(readLine(port, reply, 8, &length), 0);
  EXPECT_STREQ(reply, "\nOK") << "the next line starts with the left-over LF";
  EXPECT_EQ(length, 3u);
}

TEST_F(Transfers, LongLineIsCutAndTheRestLeftForTheNextRead) {
  escape();
  askForRawReply("123456789\r");
  char reply[8];
  uint32_t length = 0;
  ASSERT_EQ(readLine(port, reply, 8, &length), 0);
  EXPECT_STREQ(reply, "1234567") << "the 8th character gave way to the terminator";
  EXPECT_EQ(length, 7u);
  ASSERT_EQ(readLine(port, reply, 8, &length), 0);
  EXPECT_STREQ(reply, "9");
  EXPECT_EQ(length, 1u);
}

TEST_F(Transfers, SizeOneKeepsNothing) {
  escape();
  askForRawReply("AB\r");
  char reply[1] = {'?'};
  EXPECT_EQ(readLine(port, reply, 1, nullptr), ErrRead);
  EXPECT_EQ(reply[0], '\0');
}

// ---------------------------------------------------------------- cancellation

TEST_F(Transfers, CancelEndsAWaitAtOnceAndSticks) {
  escape();
  const vw::TimeUs t0 = world.now();
  world.after(vw::ms(300), [this] { os::setEvent(cancel); });
  char reply[8];
  EXPECT_EQ(readLine(port, reply, 8, nullptr), ErrCancelled);
  EXPECT_EQ(world.now() - t0, vw::ms(300)) << "at the cancel, not at the time-out";
  // Every later transfer that has not completed when its wait starts ends at once.
  const vw::TimeUs t = world.now();
  EXPECT_EQ(readLine(port, reply, 8, nullptr), ErrCancelled);
  EXPECT_EQ(writeBytes(port, "ATVR\r", 5), ErrCancelled);
  EXPECT_EQ(world.now(), t);
}

TEST_F(Transfers, CompletionWinsOverCancel) {
  escape();
  askForRawReply("OK\r");
  os::sleepMs(100);  // the reply now waits in the input queue
  os::setEvent(cancel);
  char reply[8];
  EXPECT_EQ(readLine(port, reply, 8, nullptr), 0);
  EXPECT_STREQ(reply, "OK");
}

TEST_F(Transfers, WithoutCancelEventOnlyCompletionOrTimeOutEnd) {
  closePort(port);
  port = openPort(kPortNumber, nullptr);
  ASSERT_NE(port, nullptr);
  os::setEvent(cancel);  // not the port's: must not matter
  char reply[8];
  EXPECT_EQ(readLine(port, reply, 8, nullptr), ErrTimeout);
  EXPECT_EQ(nowMs(), 1200.0);
}

// ---------------------------------------------------------------- CTS

TEST_F(Transfers, CtsHeldLowGivesUpAfterBothWaitsWithBreakHeld) {
  module.faults.ctsHeldLow = true;
  EXPECT_EQ(writeBytes(port, "+++", 3), ErrWrite);
  EXPECT_TRUE(world.hostBytes(kPortName).empty()) << "nothing is written";
  const auto on = breaks(vw::Event::BreakOn);
  const auto off = breaks(vw::Event::BreakOff);
  ASSERT_EQ(on.size(), 2u);
  ASSERT_EQ(off.size(), 2u);
  EXPECT_EQ(on[0].at, 0u);
  EXPECT_NEAR(off[0].at / 1000.0, 2562, 2) << "first wait: ctsWaitMs";
  EXPECT_EQ(on[1].at, off[0].at) << "cleared only briefly between the waits";
  EXPECT_NEAR((off[1].at - on[1].at) / 1000.0, 20002, 2) << "second wait: 20 s";
  EXPECT_NEAR(nowMs(), 22564, 3);
}

TEST_F(Transfers, CtsComingUpEndsTheWaitAndClearsTheBreak) {
  module.faults.ctsHeldLow = true;
  world.at(vw::ms(5000), [this] { module.faults.ctsHeldLow = false; });
  ASSERT_EQ(writeBytes(port, "+++", 3), 0);
  const auto on = breaks(vw::Event::BreakOn);
  const auto off = breaks(vw::Event::BreakOff);
  ASSERT_EQ(on.size(), 2u) << "the first wait ran out, the second saw CTS";
  ASSERT_EQ(off.size(), 2u);
  EXPECT_NEAR(off[1].at / 1000.0, 5000, 1.5);
  const auto bytes = world.entries(kPortName, vw::Event::HostByte);
  ASSERT_EQ(bytes.size(), 3u);
  EXPECT_GE(bytes[0].at, off[1].at) << "written after the break ended";
}

TEST_F(Transfers, CtsWaitSurvivesATickCounterWrap) {
  world.setTickOrigin(0xFFFFFFFFu - 1000);
  module.faults.ctsHeldLow = true;
  world.at(vw::ms(2000), [this] { module.faults.ctsHeldLow = false; });
  EXPECT_TRUE(waitForCts(port, 2560));
  EXPECT_NEAR(nowMs(), 2000, 1.5);
}

TEST_F(Transfers, ModemStatusFailureEndsTheCtsWait) {
  world.failCall(vw::Call::ModemStatus);
  EXPECT_FALSE(waitForCts(port, 2560));
  EXPECT_TRUE(breaks(vw::Event::BreakOn).empty());
  module.faults.ctsHeldLow = true;
  world.failCall(vw::Call::ModemStatus, 3);
  EXPECT_FALSE(waitForCts(port, 2560));
  EXPECT_EQ(breaks(vw::Event::BreakOn).size(), 1u);
  EXPECT_EQ(breaks(vw::Event::BreakOff).size(), 1u) << "the break is cleared on that way out too";
  EXPECT_LT(nowMs(), 10);
}

// ---------------------------------------------------------------- raw variants

TEST_F(Transfers, RawLineKeepsItsCr) {
  escape();
  askForRawReply("OK\r");
  char reply[16];
  uint32_t count = 0;
  ASSERT_TRUE(readLineRaw(port, reply, 16, &count));
  EXPECT_EQ(std::string(reply, 4), std::string("OK\r\0", 4));
  EXPECT_EQ(count, 3u);
}

TEST_F(Transfers, RawLineStopsAtItsSize) {
  escape();
  askForRawReply("5\r");
  char reply[3];
  uint32_t count = 0;
  ASSERT_TRUE(readLineRaw(port, reply, 3, &count));
  EXPECT_EQ(std::string(reply, 3), std::string("5\r\0", 3));
  EXPECT_EQ(count, 2u);
  askForRawReply("12\r");
  ASSERT_TRUE(readLineRaw(port, reply, 3, &count));
  EXPECT_EQ(std::string(reply, 3), std::string("12\0", 3));
  EXPECT_EQ(count, 2u);
  ASSERT_TRUE(readLineRaw(port, reply, 3, &count));
  EXPECT_EQ(std::string(reply, 2), std::string("\r\0", 2)) << "the CR was left unread";
}

TEST_F(Transfers, RawLineFailsWhenCtsStaysDownWithoutBreak) {
  module.faults.ctsHeldLow = true;
  char reply[16];
  EXPECT_FALSE(readLineRaw(port, reply, 16, nullptr));
  EXPECT_NEAR(nowMs(), 2560, 1);
  EXPECT_TRUE(breaks(vw::Event::BreakOn).empty());
}

TEST_F(Transfers, RawLineFailsWhenNothingComes) {
  char reply[16];
  EXPECT_FALSE(readLineRaw(port, reply, 16, nullptr));
  EXPECT_EQ(nowMs(), 1200.0);
}

TEST_F(Transfers, RawWriteDoesNotWaitForCts) {
  module.faults.ctsHeldLow = true;
  EXPECT_TRUE(writeRaw(port, "+++", 3));
  EXPECT_EQ(world.hostBytes(kPortName), "+++");
  EXPECT_TRUE(breaks(vw::Event::BreakOn).empty());
}

TEST_F(Transfers, TimedBlockReadAlwaysTakesItsWindow) {
  escape();
  askForRawReply("OK\r");
  const vw::TimeUs start = world.now();
  char block[4] = {};
  uint32_t count = 99;
  EXPECT_TRUE(readBlockTimed(port, block, 3, &count)) << "all 3 bytes arrived";
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(std::string(block, 3), "OK\r");
  EXPECT_EQ(world.now() - start, vw::ms(1200)) << "though they came within 6 ms";

  askForRawReply("OK\r");
  const vw::TimeUs second = world.now();
  EXPECT_FALSE(readBlockTimed(port, block, 4, &count)) << "only 3 of 4 came";
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(world.now() - second, vw::ms(1200));
}

TEST_F(Transfers, TimedBlockReadIsShortenedOnlyByCancel) {
  world.after(vw::ms(400), [this] { os::setEvent(cancel); });
  char block[4];
  uint32_t count = 99;
  EXPECT_FALSE(readBlockTimed(port, block, 1, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(nowMs(), 400.0);
}

TEST_F(Transfers, PurgeEmptiesBothDirections) {
  escape();
  askForRawReply("OK\r");
  os::sleepMs(50);
  ASSERT_TRUE(purgePort(port));
  char reply[8];
  EXPECT_EQ(readLine(port, reply, 8, nullptr), ErrTimeout) << "the queued reply is gone";
}

}  // namespace
