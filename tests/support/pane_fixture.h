// Two modules on COM3 (master pane) and COM4 (slave pane) of a virtual
// world, with both panes bound to recorded controls, as an operation of
// the runner would find them (a cancel event each).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "link/port_table.h"
#include "platform/virtual/world.h"
#include "sim/module.h"
#include "sim/presets.h"
#include "sim/radio.h"
#include "tests/support/module_peer.h"
#include "tests/support/recording_view.h"
#include "ui/dialog/pane.h"

inline sim::ModuleConfig masterConfig() {
  sim::ModuleConfig c;
  c.registers = {{"VR", 0x2041},     {"SH", 0x02004E4C}, {"SL", 0x40000001},
                 {"DH", 0x02004E4C}, {"DL", 0x40000002}, {"ID", 0x1234},
                 {"SC", 0x0200},     {"D7", 1},          {"D6", 1}};
  c.nodeId = "KOV-NL001/M";
  return c;
}

inline sim::ModuleConfig slaveConfig() {
  sim::ModuleConfig c;
  c.registers = {{"VR", 0x2241},     {"SH", 0x02004E4C}, {"SL", 0x40000002}, {"DH", 0x02004E4C},
                 {"DL", 0x40000001}, {"ID", 0x1234},     {"SC", 0x0200},     {"SM", 0},
                 {"D7", 1},          {"D6", 1}};
  c.nodeId = "KOV-NL001/S";
  return c;
}

class PaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    prepareTestPanes();
    makeModules(masterConfig(), slaveConfig());
  }

  void TearDown() override {
    for (PaneRecord* p : {&masterPane, &slavePane}) {
      EXPECT_EQ(p->session.port, nullptr) << "a port was left open";
      closePort(p->session.port);
      p->session.port = nullptr;
      if (p->cancelEvent)
        os::closeHandle(p->cancelEvent);
      p->cancelEvent = nullptr;
    }
    EXPECT_EQ(world.violations(), std::vector<std::string>{});
    EXPECT_EQ(world.leftovers(), std::vector<std::string>{});
  }

  void makeModules(const sim::ModuleConfig& m, const sim::ModuleConfig& s) {
    master = std::make_unique<sim::Module>(m);
    slave = std::make_unique<sim::Module>(s);
    radio.attach(*master);
    radio.attach(*slave);
    masterPeer = std::make_unique<ModulePeer>(*master);
    slavePeer = std::make_unique<ModulePeer>(*slave);
    world.addSerialPort("COM3", masterPeer.get());
    world.addSerialPort("COM4", slavePeer.get());
  }

  // As the runner does before it starts a body.
  void prepareOperation(PaneRecord* pane) {
    if (!pane->cancelEvent)
      pane->cancelEvent = os::createEvent();
  }

  // The commands the host sent on a port, one string each, CR removed and
  // "+++" kept as it is.
  std::vector<std::string> commands(const std::string& port) const {
    return commandsIn(world.hostBytes(port));
  }

  double nowMs() const { return static_cast<double>(world.now()) / 1000.0; }

  vw::World world;
  sim::Radio radio;
  std::unique_ptr<sim::Module> master, slave;
  std::unique_ptr<ModulePeer> masterPeer, slavePeer;
};
