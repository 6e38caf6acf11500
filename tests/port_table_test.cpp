// The port table: its limits, the record's life cycle, and what a failed
// open leaves behind.
#include <gtest/gtest.h>

#include <string>

#include "link/port_table.h"
#include "platform/virtual/world.h"

namespace {

std::wstring deviceName(uint32_t n) {
  wchar_t name[16];
  formatDeviceName(n, name, 16);
  return name;
}

bool recordIsClosed(const SerialPort* p) {
  return !p->lock && !p->handle && !p->writeWait[0] && !p->readWait[0] && !p->cancelEvent;
}

TEST(PortTable, NumbersOutsideOneTo255AreRefusedUntouched) {
  vw::World world;
  EXPECT_EQ(openPort(0, nullptr), nullptr);
  EXPECT_EQ(os::lastError(), os::kErrorInvalidParameter);
  EXPECT_EQ(portRecord(0)->portNumber, 0u) << "record 0 is never written";
  EXPECT_EQ(openPort(256, nullptr), nullptr);
  EXPECT_EQ(os::lastError(), os::kErrorInvalidParameter);
  EXPECT_EQ(world.openHandles(), 0);
}

TEST(PortTable, DeviceNamesHaveNoLeadingZeros) {
  EXPECT_EQ(deviceName(1), L"\\\\.\\COM1");
  EXPECT_EQ(deviceName(9), L"\\\\.\\COM9");
  EXPECT_EQ(deviceName(10), L"\\\\.\\COM10");
  EXPECT_EQ(deviceName(100), L"\\\\.\\COM100");
  EXPECT_EQ(deviceName(255), L"\\\\.\\COM255");
}

TEST(PortTable, OpensTheDeviceOfItsNumber) {
  vw::World world;
  world.addSerialPort("COM255", nullptr);
  SerialPort* p = openPort(255, nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p, portRecord(255));
  EXPECT_EQ(p->portNumber, 255u);
  EXPECT_EQ(world.entries("COM255", vw::Event::Open).size(), 1u);
  closePort(p);
}

TEST(PortTable, SecondOpenIsRefusedAndTheFirstKeepsWorking) {
  vw::World world;
  world.addSerialPort("COM7", nullptr);
  os::Handle cancel = os::createEvent();
  SerialPort* p = openPort(7, cancel);
  ASSERT_NE(p, nullptr);
  const os::Handle handleBefore = p->handle;
  EXPECT_EQ(openPort(7, nullptr), nullptr);
  EXPECT_EQ(os::lastError(), os::kErrorAccessDenied);
  EXPECT_EQ(p->handle, handleBefore);
  EXPECT_EQ(p->cancelEvent, cancel);
  EXPECT_EQ(p->waitCount, 2u);
  EXPECT_TRUE(os::purgeSerial(p->handle, os::kPurgeAll)) << "the first open still works";
  closePort(p);
  os::closeHandle(cancel);
  EXPECT_EQ(world.openHandles(), 0);
  // Another thread's close that has let go of the device but not yet of the
  // lock: an open now would lose its new lock to that close.
  p->closing = true;
  EXPECT_EQ(openPort(7, nullptr), nullptr);
  EXPECT_EQ(os::lastError(), os::kErrorAccessDenied);
  EXPECT_EQ(world.openHandles(), 0);
  p->closing = false;
  EXPECT_EQ(openPort(7, nullptr), p) << "once the close is done";
  closePort(p);
}

TEST(PortTable, DefaultsAndWaitCountFollowTheCancelEvent) {
  vw::World world;
  world.addSerialPort("COM8", nullptr);
  SerialPort* p = openPort(8, nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->waitCount, 1u) << "without a cancel event only completion or time-out end a wait";
  EXPECT_EQ(p->writeWait[1], nullptr);
  EXPECT_EQ(p->ioTimeoutMs, 1200u);
  EXPECT_EQ(p->ctsWaitMs, 2560u);
  EXPECT_EQ(p->guardDelayMs, 1120u);
  EXPECT_EQ(p->inCommandMode, 0u);
  // What a session changes is put back by the next open...
  p->ioTimeoutMs = 4800;
  p->guardDelayMs = 1530;
  p->guardTime = 1500;
  p->inCommandMode = 1;
  p->serialSettings.baudRate = 115200;
  closePort(p);
  EXPECT_EQ(p->inCommandMode, 0u);
  EXPECT_EQ(p->guardDelayMs, 1530u) << "kept until the next open";
  p = openPort(8, nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->ioTimeoutMs, 1200u);
  // ...but not what belongs to the module, and its guard time sets the wait.
  EXPECT_EQ(p->guardTime, 1500u);
  EXPECT_EQ(p->guardDelayMs, 1530u);
  EXPECT_EQ(escapeReplyWindowMs(p), 1700u) << "the OK comes 1.5 s after the +++";
  takeGuardTime(p, 0x3E8);
  EXPECT_EQ(escapeReplyWindowMs(p), 1200u);
  EXPECT_EQ(p->serialSettings.baudRate, 115200u);
  closePort(p);
  EXPECT_EQ(world.openHandles(), 0);
}

TEST(PortTable, MissingDeviceLeavesTheRecordClosed) {
  vw::World world;
  EXPECT_EQ(openPort(12, nullptr), nullptr);
  EXPECT_EQ(os::lastError(), os::kErrorFileNotFound) << "the device's error survives the clean-up";
  EXPECT_TRUE(recordIsClosed(portRecord(12)));
  EXPECT_EQ(portRecord(12)->portNumber, 12u) << "written even when the open fails";
  EXPECT_EQ(world.openHandles(), 0);
}

TEST(PortTable, FailedCreationsReleaseWhatExists) {
  for (vw::Call call : {vw::Call::CreateMutex, vw::Call::CreateEvent}) {
    for (int succeedFirst : {0, 1}) {
      if (call == vw::Call::CreateMutex && succeedFirst)
        continue;
      vw::World world;
      world.addSerialPort("COM9", nullptr);
      world.failCall(call, succeedFirst);
      EXPECT_EQ(openPort(9, nullptr), nullptr);
      EXPECT_TRUE(recordIsClosed(portRecord(9)));
      EXPECT_EQ(world.openHandles(), 0);
      EXPECT_TRUE(world.entries("COM9", vw::Event::Open).empty()) << "the device is opened last";
    }
  }
}

TEST(PortTable, CloseIsIdempotentAndPurgesOnce) {
  vw::World world;
  world.addSerialPort("COM11", nullptr);
  SerialPort* p = openPort(11, nullptr);
  ASSERT_NE(p, nullptr);
  closePort(p);
  closePort(p);
  closePort(portRecord(200));  // never opened
  EXPECT_TRUE(recordIsClosed(p));
  const auto purges = world.entries("COM11", vw::Event::Purge);
  ASSERT_EQ(purges.size(), 1u);
  EXPECT_EQ(purges[0].value, os::kPurgeAll);
  EXPECT_EQ(world.openHandles(), 0);
}

TEST(PortTable, ValidityNeedsARecordOfTheTableThatIsOpen) {
  vw::World world;
  world.addSerialPort("COM1", nullptr);
  SerialPort* p = openPort(1, nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(isValidPort(p));
  EXPECT_FALSE(isValidPort(nullptr));
  EXPECT_FALSE(isValidPort(portRecord(0)));
  EXPECT_FALSE(isValidPort(portRecord(2))) << "closed";
  SerialPort outside;
  outside.handle = p->handle;
  EXPECT_FALSE(isValidPort(&outside)) << "a copy outside the table";
  const auto* inside = reinterpret_cast<const SerialPort*>(reinterpret_cast<const char*>(p) + 8);
  EXPECT_FALSE(isValidPort(inside)) << "not the start of a record";
  closePort(p);
  EXPECT_FALSE(isValidPort(p));
}

}  // namespace
