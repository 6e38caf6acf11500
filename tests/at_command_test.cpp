// The AT command layer against the module model: the "OK" check, queries
// and their parsing, the exact bytes of the setters, command mode, and the
// lock that keeps a command and its reply together.
#include <string>

#include "tests/support/link_fixture.h"

namespace {

class AtCommands : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    enterCommandModeNow();
    sentBefore = world.hostBytes(kPortName).size();
  }
  // What the host sent since SetUp.
  std::string sent() const { return world.hostBytes(kPortName).substr(sentBefore); }

  size_t sentBefore = 0;
};

TEST_F(AtCommands, OnlyExactlyOkIsOk) {
  EXPECT_EQ(sendCommand5ExpectOk(port, "ATWR\r"), 0);
  using namespace std::string_literals;
  for (const std::string& reply :
       {"ERROR\r"s, "OKAY\r"s, "OK \r"s, "ok\r"s, "OK1\r"s, "OK\0!\r"s}) {
    module.faults.replaceReply["WR"] = reply;
    EXPECT_EQ(sendCommand5ExpectOk(port, "ATWR\r"), ErrNotOk) << reply;
  }
  module.faults.withholdReply["WR"] = 1;
  EXPECT_EQ(sendCommand5ExpectOk(port, "ATWR\r"), ErrTimeout) << "transfer errors pass unchanged";
}

// On a busy machine the thread may look only after its wait ran out, when
// the reply's first byte has just come: that byte is kept, not dropped
// from the line, and the reply read whole.
TEST_F(AtCommands, AByteThatCameAsTheWaitRanOutIsKept) {
  module.faults.replyDelayUs = vw::ms(port->ioTimeoutMs + 50);
  world.busyLookUs = vw::ms(200);
  uint8_t level = 0;
  EXPECT_EQ(queryHex8(port, "ATPL\r", &level), 0);
  world.busyLookUs = 0;
  module.faults.replyDelayUs = 0;
  EXPECT_EQ(level, module.reg("PL"));
  EXPECT_EQ(sendCommand5ExpectOk(port, "ATWR\r"), 0) << "the line holds nothing of it";
}

// Or the reply came in time and the machine served the read only later.
TEST_F(AtCommands, AReplyServedAfterTheWaitIsRead) {
  world.readsServedLateUs = vw::ms(port->ioTimeoutMs + 300);
  uint8_t level = 0;
  EXPECT_EQ(queryHex8(port, "ATPL\r", &level), 0);
  world.readsServedLateUs = 0;
  EXPECT_EQ(level, module.reg("PL"));
  EXPECT_EQ(sendCommand5ExpectOk(port, "ATWR\r"), 0) << "the line holds nothing of it";
}

TEST_F(AtCommands, HexQueriesStoreTheirWidth) {
  module.setReg("SL", 0x40A1B2C3);
  module.setReg("VR", 0x10A5);
  module.setReg("PL", 0x1F);
  uint32_t sl = 0;
  uint16_t vr = 0;
  uint8_t pl = 0;
  ASSERT_EQ(queryHex32(port, "ATSL\r", &sl), 0);
  ASSERT_EQ(queryHex16(port, "ATVR\r", &vr), 0);
  ASSERT_EQ(queryHex8(port, "ATPL\r", &pl), 0);
  EXPECT_EQ(sl, 0x40A1B2C3u);
  EXPECT_EQ(vr, 0x10A5u);
  EXPECT_EQ(pl, 0x1Fu);
  module.setReg("PL", 0x123);
  ASSERT_EQ(queryHex8(port, "ATPL\r", &pl), 0);
  EXPECT_EQ(pl, 0x23u) << "the low 8 bits";
  EXPECT_EQ(sent(), "ATSL\rATVR\rATPL\rATPL\r");
}

TEST_F(AtCommands, RepliesThatAreNoNumberAreNoError) {
  uint8_t v = 0x55;
  module.faults.replaceReply["PL"] = "ERROR\r";
  EXPECT_EQ(queryHex8(port, "ATPL\r", &v), 0);
  EXPECT_EQ(v, 0x0Eu) << "the leading E is a hexadecimal digit";
  module.faults.replaceReply["PL"] = "xyz\r";
  EXPECT_EQ(queryHex8(port, "ATPL\r", &v), 0);
  EXPECT_EQ(v, 0u);
  module.faults.replaceReply["SL"] = "123456789\r";
  uint32_t big = 0;
  EXPECT_EQ(queryHex32(port, "ATSL\r", &big), 0);
  EXPECT_EQ(big, 0xFFFFFFFFu) << "beyond 32 bits: the largest 32-bit value";
}

TEST_F(AtCommands, OutputIsWrittenOnlyOnSuccess) {
  uint16_t v = 0xBEEF;
  module.faults.withholdReply["VR"] = 1;
  EXPECT_EQ(queryHex16(port, "ATVR\r", &v), ErrTimeout);
  EXPECT_EQ(v, 0xBEEFu);
  module.faults.replaceReply["VR"] = "\r";
  EXPECT_EQ(queryHex16(port, "ATVR\r", &v), ErrRead) << "an empty reply";
  EXPECT_EQ(v, 0xBEEFu);
}

TEST_F(AtCommands, OverlongReplySpillsIntoTheNextTransaction) {
  module.faults.replaceReply["VR"] = "123456789\r";
  uint16_t vr = 0;
  ASSERT_EQ(queryHex16(port, "ATVR\r", &vr), 0);
  EXPECT_EQ(vr, 0x4567u) << "seven digits kept: 0x1234567, low 16 bits";
  uint8_t pl = 0;
  ASSERT_EQ(queryHex8(port, "ATPL\r", &pl), 0);
  EXPECT_EQ(pl, 9u) << "the 8th digit gave way; the 9th is read as this reply";
}

TEST_F(AtCommands, ExtendedPanIdNeedsADigit) {
  module.setReg("ID", 0x0123456789ABCDEFull);
  uint64_t id = 0;
  ASSERT_EQ(queryExtendedPanId(port, &id), 0);
  EXPECT_EQ(id, 0x0123456789ABCDEFull);
  module.faults.replaceReply["ID"] = "0\r";
  ASSERT_EQ(queryExtendedPanId(port, &id), 0);
  EXPECT_EQ(id, 0u);
  id = 7;
  module.faults.replaceReply["ID"] = "zz\r";
  EXPECT_EQ(queryExtendedPanId(port, &id), ErrRead);
  EXPECT_EQ(id, 7u);
}

TEST_F(AtCommands, TextQueriesKeepTheirBuffer) {
  char ni[kNodeIdReplySize];
  uint32_t length = 0;
  ASSERT_EQ(queryNodeIdentifier(port, ni, &length), 0);
  EXPECT_STREQ(ni, "NODE");
  EXPECT_EQ(length, 4u);
  module.faults.replaceReply["TP"] = "0123456789ABCDEFGH\r";
  char tp[kTpReplySize];
  ASSERT_EQ(queryTpText(port, tp), 0);
  EXPECT_STREQ(tp, "0123456789ABCDE");
  EXPECT_EQ(queryText(port, "ATNI\r", ni, 0, nullptr), ErrArgument);
}

TEST_F(AtCommands, BadPortsAndMissingArgumentsSendNothing) {
  uint8_t v8 = 0;
  uint16_t v16 = 0;
  uint32_t v32 = 0;
  uint64_t v64 = 0;
  char text[8];
  SerialPort* closed = portRecord(77);
  for (SerialPort* bad : {static_cast<SerialPort*>(nullptr), closed, portRecord(0)}) {
    EXPECT_EQ(queryHex8(bad, "ATPL\r", &v8), ErrBadHandle);
    EXPECT_EQ(queryHex16(bad, "ATVR\r", &v16), ErrBadHandle);
    EXPECT_EQ(queryHex32(bad, "ATSL\r", &v32), ErrBadHandle);
    EXPECT_EQ(queryExtendedPanId(bad, &v64), ErrBadHandle);
    EXPECT_EQ(queryText(bad, "ATNI\r", text, 8, nullptr), ErrBadHandle);
    EXPECT_EQ(readGuardTime(bad), ErrBadHandle);
    EXPECT_EQ(setHexRegister(bad, "ATPL", 1, 1), ErrBadHandle);
    EXPECT_EQ(enterCommandMode(bad), ErrBadHandle);
    EXPECT_EQ(exitCommandMode(bad), ErrBadHandle);
    EXPECT_EQ(sendCommand5ExpectOk(bad, "ATWR\r"), ErrBadHandle);
  }
  EXPECT_EQ(queryHex8(port, "ATPL\r", nullptr), ErrArgument);
  EXPECT_EQ(queryHex16(port, nullptr, &v16), ErrArgument);
  EXPECT_EQ(queryHex32(port, "ATSL\r", nullptr), ErrArgument);
  EXPECT_EQ(queryExtendedPanId(port, nullptr), ErrArgument);
  EXPECT_EQ(queryText(port, "ATNI\r", nullptr, 8, nullptr), ErrArgument);
  EXPECT_EQ(setHexRegister(port, nullptr, 1, 1), ErrArgument);
  EXPECT_EQ(setHexRegister(port, "AT", 1, 1), ErrArgument);
  EXPECT_EQ(sendCommand5ExpectOk(port, nullptr), ErrArgument);
  EXPECT_EQ(sent(), "");
}

TEST_F(AtCommands, GuardTimeSetsTheGuardDelayWithAFloor) {
  const std::pair<uint32_t, uint32_t> cases[] = {{0, 1120},    {0x3E8, 1120}, {1089, 1120},
                                                 {1090, 1120}, {1091, 1121},  {0x5DC, 1530}};
  for (const auto& [gt, delay] : cases) {
    module.setReg("GT", gt);
    ASSERT_EQ(readGuardTime(port), 0);
    EXPECT_EQ(port->guardTime, gt);
    EXPECT_EQ(port->guardDelayMs, delay) << "GT " << gt;
  }
  module.faults.withholdReply["GT"] = 1;
  EXPECT_EQ(readGuardTime(port), ErrTimeout);
  EXPECT_EQ(port->guardTime, 0x5DCu) << "unchanged on error";
  EXPECT_EQ(port->guardDelayMs, 1530u);
  // A garbled reply must not make the next "+++" sleep for days.
  module.faults.replaceReply["GT"] = "7FFFFFFF\r";
  ASSERT_EQ(readGuardTime(port), 0);
  EXPECT_EQ(port->guardDelayMs, kLongestGuardTimeMs + 30);
}

TEST_F(AtCommands, SettersSendExactBytes) {
  ASSERT_EQ(setPowerLevel(port, 4), 0);
  ASSERT_EQ(setBaudCode(port, 7), 0);
  ASSERT_EQ(setChannelMask(port, 0x10), 0);
  ASSERT_EQ(setNetworkReset(port, 0), 0);
  ASSERT_EQ(setD7Config(port, 255), 0);
  ASSERT_EQ(setD6Config(port, 1), 0);
  ASSERT_EQ(setSleepMode(port, 4), 0);
  ASSERT_EQ(setStopBitsCode(port, 1), 0);
  ASSERT_EQ(setParityCode(port, 2), 0);
  ASSERT_EQ(setBoostMode(port, 0), 0);
  ASSERT_EQ(setRegister8(port, "ATPLxyz", 0xA), 0) << "only the first four characters";
  ASSERT_EQ(setBaudCode(port, 0x1C200), 0);
  ASSERT_EQ(setChannelMask(port, 0xFFFF), 0);
  ASSERT_EQ(setRegister8(port, "ATD7", 0), 0) << "0 as the digit 0";
  EXPECT_EQ(sent(),
            "ATPL4\rATBD7\rATSC10\rATNR0\rATD7FF\rATD61\rATSM4\rATSB1\rATNB2\rATPM0\r"
            "ATPLA\rATBD1C200\rATSCFFFF\rATD70\r");
  EXPECT_EQ(module.reg("SC"), 0xFFFFu) << "the module understood them";
  module.faults.replaceReply["PL"] = "ERROR\r";
  EXPECT_EQ(setHexRegister(port, "ATPL", 1, 1), ErrNotOk);
}

// ---------------------------------------------------------------- command mode

TEST_F(LinkTest, EnteringWaitsTheGuardDelayAndSetsTheFlag) {
  ASSERT_EQ(enterCommandMode(port), 0);
  EXPECT_EQ(port->inCommandMode, 1u);
  const auto bytes = world.entries(kPortName, vw::Event::HostByte);
  ASSERT_EQ(bytes.size(), 3u);
  EXPECT_EQ(bytes[0].at, vw::ms(1120)) << "silence first";
  // Already in command mode: nothing more is sent.
  ASSERT_EQ(enterCommandMode(port), 0);
  EXPECT_EQ(world.hostBytes(kPortName), "+++");
  ASSERT_EQ(exitCommandMode(port), 0);
  EXPECT_EQ(port->inCommandMode, 0u);
  EXPECT_FALSE(module.inCommandMode());
  ASSERT_EQ(exitCommandMode(port), 0);
  EXPECT_EQ(world.hostBytes(kPortName), "+++ATCN\r") << "ATCN exactly once";
}

// Radio data the module lets out during its guard time comes before the
// "OK", in lines of any length and not always ended.
TEST_F(LinkTest, RadioDataOfAnyLengthBeforeTheOkIsReadPast) {
  module.inject(world.now() + vw::ms(1400), "0123456789abcdef\r");
  ASSERT_EQ(enterCommandMode(port), 0) << "a line longer than any reply";
  ASSERT_EQ(exitCommandMode(port), 0);
  module.inject(world.now() + vw::ms(1400), "0123456789abcd");
  ASSERT_EQ(enterCommandMode(port), 0) << "the \"OK\" split over two reads";
  EXPECT_TRUE(module.inCommandMode());
}

TEST_F(LinkTest, FailedEntryOrExitLeavesTheFlag) {
  module.faults.ctsHeldLow = true;
  EXPECT_EQ(enterCommandMode(port), ErrWrite);
  EXPECT_EQ(port->inCommandMode, 0u);
  module.faults.ctsHeldLow = false;
  module.faults.replaceReply["+++"] = "ERROR\r";
  EXPECT_EQ(enterCommandMode(port), ErrNotOk);
  EXPECT_EQ(port->inCommandMode, 0u);
  enterCommandModeNow();
  module.faults.replaceReply["CN"] = "ERROR\r";
  EXPECT_EQ(exitCommandMode(port), ErrNotOk);
  EXPECT_EQ(port->inCommandMode, 1u);
  module.faults.withholdReply["CN"] = 1;
  EXPECT_EQ(exitCommandMode(port), ErrTimeout);
  EXPECT_EQ(port->inCommandMode, 1u);
}

TEST_F(LinkTest, ATransactionsWriteAndReplyAreNeverInterleaved) {
  enterCommandModeNow();
  const vw::TimeUs start = world.now();
  uint16_t vr = 0;
  char ni[kNodeIdReplySize] = {};
  uint32_t sl = 0;
  int32_t results[3] = {1, 1, 1};
  const int a = world.spawn([&] { results[0] = queryHex16(port, "ATVR\r", &vr); });
  const int b = world.spawn([&] { results[1] = queryNodeIdentifier(port, ni, nullptr); });
  const int c = world.spawn([&] { results[2] = queryHex32(port, "ATSL\r", &sl); });
  world.join(a);
  world.join(b);
  world.join(c);
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[1], 0);
  EXPECT_EQ(results[2], 0);
  EXPECT_EQ(vr, 0x10A5u);
  EXPECT_STREQ(ni, "NODE");
  EXPECT_EQ(sl, 0x40A1B2C3u);
  // On the line: each command, then its whole reply, then the next command.
  std::string line;
  for (const auto& e : world.transcript()) {
    if (e.port != kPortName || e.at < start)
      continue;
    if (e.kind == vw::Event::HostByte)
      line += static_cast<char>(e.value);
    if (e.kind == vw::Event::PeerByte)
      line += static_cast<char>(std::tolower(e.value));
  }
  EXPECT_EQ(line, "ATVR\r10a5\rATNI\rnode\rATSL\r40a1b2c3\r");
}

TEST_F(LinkTest, CloseWaitsForARunningTransaction) {
  enterCommandModeNow();
  module.faults.replaceReply["VR"] = "10A5\r";
  int32_t result = 1;
  uint16_t vr = 0;
  const int worker = world.spawn([&] { result = queryHex16(port, "ATVR\r", &vr); });
  const int closer = world.spawn([&] {
    os::sleepMs(1);  // the worker is now inside its transaction
    closePort(port);
  });
  world.join(worker);
  world.join(closer);
  EXPECT_EQ(result, 0) << "the transaction finished before the close";
  EXPECT_EQ(vr, 0x10A5u);
  EXPECT_FALSE(isValidPort(port));
}

TEST_F(LinkTest, AFailedLockIsAnErrorAndSendsNothing) {
  world.failCall(vw::Call::LockMutex);
  uint16_t vr = 0;
  EXPECT_EQ(queryHex16(port, "ATVR\r", &vr), ErrBadHandle);
  EXPECT_TRUE(world.hostBytes(kPortName).empty());
}

TEST_F(LinkTest, CloseLetsATransactionWaitingForTheLockEndFirst) {
  enterCommandModeNow();
  int32_t first = 1, second = 1;
  uint16_t vr = 0;
  uint32_t sl = 0;
  const int a = world.spawn([&] { first = queryHex16(port, "ATVR\r", &vr); });
  const int b = world.spawn([&] {
    os::sleepMs(1);  // the first holds the lock now
    second = queryHex32(port, "ATSL\r", &sl);
  });
  os::sleepMs(2);  // and the second waits for it
  closePort(port);
  world.join(a);
  world.join(b);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, ErrBadHandle) << "it found the port closed";
  EXPECT_EQ(world.hostBytes(kPortName), "+++ATVR\r");
}

}  // namespace
