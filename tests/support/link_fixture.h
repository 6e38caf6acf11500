// A virtual world with one module on COM5, opened with a cancel event.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/at_command.h"
#include "link/port_activity.h"
#include "link/port_table.h"
#include "link/transfer.h"
#include "platform/virtual/world.h"
#include "sim/module.h"
#include "tests/support/module_peer.h"

inline constexpr const char* kPortName = "COM5";
inline constexpr uint32_t kPortNumber = 5;

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    forgetPortActivity();  // a world of its own, its clock from 0
    forgetPortModules();
    world.addSerialPort(kPortName, &peer);
    cancel = os::createEvent();
    port = openPort(kPortNumber, cancel);
    ASSERT_NE(port, nullptr);
    // The driver's defaults would be the module's, but a test must not rely on it.
    os::LineSettings s{};
    s.baudRate = 9600;
    s.byteSize = 8;
    ASSERT_TRUE(os::setLineSettings(port->handle, s));
  }

  void TearDown() override {
    closePort(port);
    os::closeHandle(cancel);
    EXPECT_EQ(world.violations(), std::vector<std::string>{});
    EXPECT_EQ(world.leftovers(), std::vector<std::string>{});
  }

  // Lets the module answer "+++" so that commands are understood.
  void enterCommandModeNow() { ASSERT_EQ(enterCommandMode(port), 0); }

  double nowMs() const { return static_cast<double>(world.now()) / 1000.0; }

  vw::World world;
  sim::Module module;
  ModulePeer peer{module};
  os::Handle cancel = nullptr;
  SerialPort* port = nullptr;
};
