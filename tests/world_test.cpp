// The virtual world's own promises, which every other test relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/os.h"
#include "platform/virtual/uart.h"
#include "platform/virtual/world.h"
#include "sim/module.h"
#include "tests/support/module_peer.h"
#include "tests/support/virtual_serial.h"

namespace {

TEST(VirtualClock, MovesOnlyWhenTheCodeWaits) {
  vw::World world;
  EXPECT_EQ(os::tickCount(), 0u);
  EXPECT_EQ(os::tickCount(), 0u);
  os::sleepMs(250);
  EXPECT_EQ(world.now(), vw::ms(250));
  os::Handle ev = os::createEvent();
  EXPECT_EQ(os::waitAny(&ev, 1, 1200), os::kWaitTimeout);
  EXPECT_EQ(os::tickCount(), 1450u);
  os::closeHandle(ev);
}

TEST(VirtualClock, TickCounterWrapsLikeWindows) {
  vw::World world;
  world.setTickOrigin(0xFFFFFF00u);
  const uint32_t t0 = os::tickCount();
  os::sleepMs(0x200);
  EXPECT_LT(os::tickCount(), t0) << "the counter should have wrapped";
  EXPECT_EQ(os::tickCount() - t0, 0x200u);
}

TEST(VirtualEvents, ScheduledActionWakesAWaitAtItsTime) {
  vw::World world;
  os::Handle pair[2] = {os::createEvent(), os::createEvent()};
  world.at(vw::ms(700), [&] { os::setEvent(pair[1]); });
  EXPECT_EQ(os::waitAny(pair, 2, 5000), 1);
  EXPECT_EQ(world.now(), vw::ms(700));
  // Both set: the lower index wins, and manual-reset events stay set.
  os::setEvent(pair[0]);
  EXPECT_EQ(os::waitAny(pair, 2, 5000), 0);
  EXPECT_TRUE(os::isEventSet(pair[1]));
  os::closeHandle(pair[0]);
  os::closeHandle(pair[1]);
  EXPECT_EQ(world.openHandles(), 0);
}

TEST(VirtualThreads, OnlyOneRunsAndTheMutexSerialises) {
  vw::World world;
  os::Handle mutex = os::createMutex();
  std::vector<std::string> order;
  auto worker = [&](const char* name) {
    os::lockMutex(mutex);
    order.push_back(std::string(name) + " in");
    os::sleepMs(100);  // holds the mutex across a wait
    order.push_back(std::string(name) + " out");
    os::unlockMutex(mutex);
  };
  const int a = world.spawn([&] { worker("a"); });
  const int b = world.spawn([&] { worker("b"); });
  world.join(a);
  world.join(b);
  EXPECT_EQ(order, (std::vector<std::string>{"a in", "a out", "b in", "b out"}));
  EXPECT_EQ(world.now(), vw::ms(200));
  os::closeHandle(mutex);
}

TEST(VirtualSerial, BytesTakeTheirTimeAtTheConfiguredRate) {
  vw::World world;
  sim::Module module;
  ModulePeer peer(module);
  world.addSerialPort("COM1", &peer);
  os::Handle h = openCom("COM1");
  ASSERT_NE(h, nullptr);
  setLine(h, 9600);
  EXPECT_EQ(writeAll(h, "+++"), 3u);
  // 10 bits a byte at 9600 baud: 1042 us each.
  EXPECT_EQ(world.now(), 3 * vw::byteTimeUs({9600, 8, 0, 0}));
  EXPECT_EQ(vw::byteTimeUs({9600, 8, 0, 0}), 1042u);
  EXPECT_EQ(vw::byteTimeUs({38400, 8, os::kEvenParity, os::kTwoStopBits}), 313u);
  // The module answers after its guard time of 1 s of silence.
  EXPECT_EQ(readSome(h, 3, 1200), "OK\r");
  EXPECT_TRUE(module.inCommandMode());
  os::closeHandle(h);
  EXPECT_EQ(world.hostBytes("COM1"), "+++");
  EXPECT_EQ(world.peerBytes("COM1"), "OK\r");
}

TEST(VirtualUart, AReceiverGetsWhatItsSamplingMakesOfTheBits) {
  const vw::PeerSettings n1{9600, 8, os::kNoParity, os::kOneStopBit};
  auto text = [](const std::vector<vw::Received>& got) {
    std::string s;
    for (const auto& r : got)
      s.push_back(static_cast<char>(r.byte));
    return s;
  };
  const auto same = vw::receiveBurst("OK\r", n1, n1);
  EXPECT_EQ(text(same), "OK\r");
  EXPECT_EQ(same.back().at, 3 * vw::byteTimeUs(n1)) << "each byte at the end of its frame";
  // A stop-bit mismatch alone reads, either way round.
  vw::PeerSettings n2 = n1;
  n2.stopBits = os::kTwoStopBits;
  EXPECT_EQ(text(vw::receiveBurst("0123456789abcdef\r", n2, n1)), "0123456789abcdef\r");
  EXPECT_EQ(text(vw::receiveBurst("0123456789abcdef\r", n1, n2)), "0123456789abcdef\r");
  // Another rate changes how many bytes arrive, with framing errors.
  vw::PeerSettings fast = n1;
  fast.baudRate = 38400;
  const auto slowSeenFast = vw::receiveBurst("OK\r", n1, fast);
  EXPECT_GT(slowSeenFast.size(), 3u);
  EXPECT_TRUE(std::any_of(slowSeenFast.begin(), slowSeenFast.end(),
                          [](const vw::Received& r) { return r.framingError; }));
  EXPECT_LT(vw::receiveBurst("0123456789abcdef\r", fast, n1).size(), 17u);
  // Parity: the data bits still read; the receiver counts the errors.
  vw::PeerSettings even = n1, odd = n1;
  even.parity = os::kEvenParity;
  odd.parity = os::kOddParity;
  const auto wrongParity = vw::receiveBurst("ATVR\r", even, odd);
  EXPECT_EQ(text(wrongParity), "ATVR\r");
  EXPECT_TRUE(std::all_of(wrongParity.begin(), wrongParity.end(),
                          [](const vw::Received& r) { return r.parityError; }));
}

TEST(VirtualSerial, AModuleAtAnotherRateNeitherHearsNorIsHeard) {
  vw::World world;
  sim::ModuleConfig config;
  config.registers["BD"] = 5;  // 38400
  sim::Module module(config);
  ModulePeer peer(module);
  world.addSerialPort("COM1", &peer);
  os::Handle h = openCom("COM1");
  setLine(h, 9600);
  writeAll(h, "+++");
  EXPECT_EQ(readSome(h, 3, 2000), "") << "the escape was not understood";
  EXPECT_FALSE(module.inCommandMode());
  setLine(h, 38400);
  os::sleepMs(1100);
  writeAll(h, "+++");
  EXPECT_EQ(readSome(h, 3, 2000), "OK\r");
  // Its reply to a host now at a quarter of its rate: fewer bytes, none right.
  writeAll(h, "ATVR\r");
  setLine(h, 9600);
  const std::string reply = readSome(h, 5, 1000);
  EXPECT_LT(reply.size(), 5u);
  EXPECT_EQ(reply.find("10"), std::string::npos);
  os::closeHandle(h);
}

TEST(VirtualSerial, PurgeDropsQueuedInputAndAbortsReads) {
  vw::World world;
  sim::Module module;
  ModulePeer peer(module);
  world.addSerialPort("COM2", &peer);
  os::Handle h = openCom("COM2");
  setLine(h, 9600);
  writeAll(h, "+++");
  os::sleepMs(1500);  // "OK\r" now sits in the input queue
  ASSERT_TRUE(os::purgeSerial(h, os::kPurgeAll));
  EXPECT_EQ(readSome(h, 1, 100), "");
  // A pending read ends, failed, with what it had.
  os::Handle ev = os::createEvent();
  char byte = 0;
  os::Transfer t{};
  ASSERT_TRUE(os::startRead(h, &byte, 1, t, ev));
  world.after(vw::ms(10), [h] { os::purgeSerial(h, os::kPurgeRxAbort); });
  EXPECT_EQ(os::waitAny(&ev, 1, 1000), 0) << "an aborted read still signals its event";
  uint32_t n = 7;
  EXPECT_FALSE(os::finishTransfer(h, t, n));
  EXPECT_EQ(os::lastError(), os::kErrorOperationAborted);
  EXPECT_EQ(n, 0u);
  os::closeHandle(ev);
  os::closeHandle(h);
}

TEST(VirtualSerial, OpenIsExclusiveAndMissingDevicesFail) {
  vw::World world;
  world.addSerialPort("COM3", nullptr);
  os::Handle h = openCom("COM3");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(openCom("COM3"), nullptr);
  EXPECT_EQ(os::lastError(), os::kErrorAccessDenied);
  EXPECT_EQ(openCom("COM4"), nullptr);
  EXPECT_EQ(os::lastError(), os::kErrorFileNotFound);
  os::closeHandle(h);
  h = openCom("COM3");
  EXPECT_NE(h, nullptr) << "closing frees the port";
  os::closeHandle(h);
}

TEST(VirtualSerial, UnpluggedDeviceFailsItsTransfers) {
  vw::World world;
  sim::Module module;
  ModulePeer peer(module);
  world.addSerialPort("COM6", &peer);
  os::Handle h = openCom("COM6");
  os::Handle ev = os::createEvent();
  char byte = 0;
  os::Transfer t{};
  ASSERT_TRUE(os::startRead(h, &byte, 1, t, ev));
  world.after(vw::ms(5), [&] { world.removeSerialPort("COM6"); });
  EXPECT_EQ(os::waitAny(&ev, 1, 1000), 0);
  uint32_t n = 0;
  EXPECT_FALSE(os::finishTransfer(h, t, n));
  EXPECT_FALSE(os::startRead(h, &byte, 1, t, ev));
  EXPECT_EQ(openCom("COM6"), nullptr);
  EXPECT_TRUE(os::closeHandle(h));
  os::closeHandle(ev);
}

}  // namespace
