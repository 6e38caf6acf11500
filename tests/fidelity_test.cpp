// Where the world and the module model behave like hardware rather than like
// the program expects, and what a program would get wrong without it.
#include "link/at_command.h"
#include "link/discovery.h"
#include "link/transfer.h"
#include "module/link_test.h"
#include "module/read.h"
#include "tests/support/pane_fixture.h"

namespace {

class Fidelity : public PaneTest {
 protected:
  void SetUp() override {
    PaneTest::SetUp();
    prepareOperation(&masterPane);
  }
  SerialPort* openMaster() {
    SerialPort* port = openPort(3, masterPane.cancelEvent);
    port->serialSettings = defaultLineSettings();
    EXPECT_TRUE(os::setLineSettings(port->handle, port->serialSettings));
    return port;
  }
};

// A cancel cannot call back what the UART already holds: the bytes on the
// wire and a FIFO's worth still reach the module.
TEST_F(Fidelity, ACancelledWriteStillSendsWhatTheFifoHeld) {
  SerialPort* port = openMaster();
  const std::string long40(40, 'x');
  world.after(vw::ms(2), [] { os::setEvent(masterPane.cancelEvent); });
  EXPECT_EQ(writeBytes(port, long40.data(), 40), ErrCancelled);
  os::sleepMs(100);
  EXPECT_EQ(world.hostBytes("COM3"), std::string(2 + vw::kTxFifoBytes, 'x'));
  closePort(port);
}

// A host that asks for DSR (as discovery sets the line up) takes nothing
// while the module does not drive it: the module answers, the host fails.
TEST_F(Fidelity, WithoutDsrTheHostReceivesNothing) {
  master->faults.dsrLow = true;
  EXPECT_EQ(readBody(&masterPane), ErrNoPort);
  EXPECT_EQ(world.peerBytes("COM3").substr(0, 3), "OK\r") << "the module did answer";
  EXPECT_EQ(view().count("showResetPrompt"), 1);
}

// Left in command mode, the module leaves it after its time-out and applies
// what it was given without storing it: a write that never says "ATCN"
// changes the module's rate behind the user's back, and a sequence that
// dawdles longer than the time-out talks to a module that no longer listens.
TEST_F(Fidelity, CommandModeEndsOnItsOwnAfterTheTimeOut) {
  SerialPort* port = openMaster();
  ASSERT_EQ(enterCommandMode(port), 0);
  ASSERT_EQ(setHexRegister(port, "ATBD", 5, 1), 0);
  os::sleepMs(10100);
  EXPECT_FALSE(master->inCommandMode());
  EXPECT_EQ(master->lineSettings().baudRate, 38400u);
  EXPECT_EQ(master->storedReg("BD"), 3u);
  EXPECT_EQ(sendCommand5ExpectOk(port, "ATWR\r"), ErrTimeout) << "no longer heard as a command";
  closePort(port);
}

// One byte at 9600 is several to a receiver at 38400: a host that read the
// module's settings replies without letting the reset byte's burst pass
// would take them as part of the first reply.
TEST_F(Fidelity, AnotherRateTurnsOneByteIntoSeveral) {
  SerialPort* port = openMaster();
  master->setReg("BD", 5);
  port->serialSettings.baudRate = 38400;
  ASSERT_TRUE(os::setLineSettings(port->handle, port->serialSettings));
  os::setBreak(port->handle);
  master->pressResetKey(world.now());
  os::sleepMs(50);
  os::clearBreak(port->handle);
  EXPECT_GT(world.line("COM3")->input.size(), 1u) << "the module sent one byte at 9600";
  closePort(port);
}

// The radio carries nothing while a module joins: a write that came back
// before the join would leave a Link Test to fail.
TEST_F(Fidelity, NothingCrossesTheRadioWhileAModuleJoins) {
  sim::ModuleConfig slowJoin = masterConfig();
  slowJoin.associationTimeUs = vw::ms(30000);
  makeModules(slowJoin, slaveConfig());
  SerialPort* port = openMaster();
  ASSERT_EQ(enterCommandMode(port), 0);
  ASSERT_EQ(setHexRegister(port, "ATNR", 0, 1), 0);  // the master starts to join again
  ASSERT_EQ(exitCommandMode(port), 0);
  closePort(port);
  EXPECT_EQ(testPaneLink(), 0) << "while the master joins";
  os::sleepMs(30000);
  EXPECT_EQ(testPaneLink(), 1) << "once it has joined";
}

}  // namespace
