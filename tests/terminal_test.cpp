// The terminal against a module model in virtual time: what goes out, what
// comes back, command mode followed and left on every way out.
#include "module/terminal.h"

#include <gtest/gtest.h>

#include "link/port_activity.h"
#include "platform/virtual/world.h"
#include "sim/module.h"
#include "tests/support/module_peer.h"

namespace {

using Lines = std::vector<std::string>;

class Term : public ::testing::Test {
 protected:
  void SetUp() override {
    forgetPortActivity();
    forgetPortModules();
    world.addSerialPort("COM5", &peer);
    session.module = &record;
    session.portNumber = 5;
    session.cancelEvent = os::createEvent();
    terminal.session = &session;
    terminal.view.line = [](void* context, const TerminalLine& line) {
      static_cast<Term*>(context)->shown.push_back(line);
    };
    terminal.view.context = this;
  }

  void TearDown() override {
    EXPECT_EQ(session.port, nullptr) << "a port was left open";
    os::closeHandle(session.cancelEvent);
    EXPECT_EQ(world.violations(), Lines{});
    EXPECT_EQ(world.leftovers(), Lines{});
  }

  // What the host sent, one entry per CR-ended line, "+++" on its own.
  Lines sent() const { return commandsIn(world.hostBytes("COM5")); }

  TerminalExchange send(const std::string& line) {
    TerminalExchange x;
    sendTerminalLine(terminal, line, &x);
    return x;
  }

  vw::World world;
  sim::Module module;
  ModulePeer peer{module};
  ModuleRecord record;
  Session session;
  Terminal terminal;
  std::vector<TerminalLine> shown;
};

TEST_F(Term, SendsOnlyWhatIsTypedAndHandsBackEachReply) {
  module.setNodeId("BENCH-7");
  ASSERT_EQ(openTerminal(terminal), 0);
  EXPECT_TRUE(module.inCommandMode());
  TerminalExchange x = send("ATNI");
  EXPECT_EQ(x.result, 0);
  EXPECT_EQ(x.replies, Lines{"BENCH-7"});
  EXPECT_FALSE(x.refused);
  EXPECT_GT(x.ms, 0u);
  EXPECT_LT(x.ms, kFurtherReplyMs) << "to the reply, not to the quiet after it";
  x = send("ATZZ");
  EXPECT_EQ(x.result, 0) << "an answer is a reply, whatever it says";
  EXPECT_TRUE(x.refused);
  EXPECT_FALSE(terminal.changedModule) << "nothing sent could change the module";
  module.faults.replaceReply["PL"] = "ERROR\r";
  EXPECT_TRUE(send("ATPL2").refused);
  EXPECT_FALSE(terminal.changedModule) << "a setter refused changed nothing";
  send("atpl2");
  EXPECT_TRUE(terminal.changedModule);
  EXPECT_EQ(module.reg("PL"), 2u);
  ASSERT_EQ(closeTerminal(terminal), 0);
  EXPECT_EQ(sent(), (Lines{"+++", "ATCT", "ATNI", "ATZZ", "ATPL2", "atpl2", "ATCN"}));
  EXPECT_FALSE(module.inCommandMode());
  // The face sees the exchange in order, with its stamps.
  ASSERT_GE(shown.size(), 8u);
  EXPECT_EQ(shown[1].text, "command mode time-out 10.0 s (ATCT 64)");
  EXPECT_EQ(shown[2].kind, TerminalLine::Kind::Sent);
  EXPECT_EQ(shown[2].text, "ATNI");
  EXPECT_EQ(shown[3].kind, TerminalLine::Kind::Reply);
  EXPECT_EQ(terminalLineText(shown[3]).substr(12), " < BENCH-7");
}

TEST_F(Term, RefusedLinesSendNothing) {
  ASSERT_EQ(openTerminal(terminal), 0);
  const size_t before = world.hostBytes("COM5").size();
  for (const std::string& line : {std::string(""), std::string("ATNI\rATWR"), std::string("AT\x01"),
                                  std::string(81, 'A'), std::string("ATNI\xE9")})
    EXPECT_EQ(sendTerminalLine(terminal, line, nullptr), ErrArgument) << line;
  EXPECT_EQ(world.hostBytes("COM5").size(), before);
  closeTerminal(terminal);
}

TEST_F(Term, RepliesAreEscapedAndSeveralLinesKept) {
  ASSERT_EQ(openTerminal(terminal), 0);
  module.faults.scriptedReply = [](const std::string& c) -> std::optional<std::string> {
    if (c == "ATVR")
      return std::string("A\x01<\x7F\r", 5);
    if (c == "ATND")
      return std::string("FIRST\rSECOND\r\rLAST");
    return std::nullopt;
  };
  EXPECT_EQ(send("ATVR").replies, Lines{"A<01><3C><7F>"});
  const TerminalExchange x = send("ATND");
  EXPECT_EQ(x.replies, (Lines{"FIRST", "SECOND", "", "LAST"})) << "a line without CR is kept too";
  EXPECT_EQ(shown.back().kind, TerminalLine::Kind::Cut);
  for (const TerminalLine& line : shown) {
    for (char c : terminalLineText(line))
      EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "a raw byte reached the face";
  }
  closeTerminal(terminal);
}

TEST_F(Term, FollowsTheTimeOutAndEntersAgain) {
  ASSERT_EQ(openTerminal(terminal), 0);
  send("ATVR");
  EXPECT_GT(commandModeLeftMs(terminal), 9000u);
  os::sleepMs(6000);
  EXPECT_TRUE(followCommandMode(terminal));
  EXPECT_LT(commandModeLeftMs(terminal), 4100u);
  os::sleepMs(4100);
  EXPECT_FALSE(module.inCommandMode()) << "the model's own time-out";
  EXPECT_FALSE(followCommandMode(terminal));
  EXPECT_EQ(sendTerminalLine(terminal, "ATVR", nullptr), ErrArgument) << "not sent as data";
  ASSERT_EQ(sendTerminalLine(terminal, "+++", nullptr), 0);
  EXPECT_TRUE(module.inCommandMode());
  // A CT the user sets is the one followed from then on.
  EXPECT_EQ(send("ATCT14").replies, Lines{"OK"});
  send("ATVR");  // its reply's further lines are waited for 250 ms
  os::sleepMs(1400);
  EXPECT_TRUE(followCommandMode(terminal));
  os::sleepMs(250);
  EXPECT_FALSE(followCommandMode(terminal)) << "a line would come too late";
  EXPECT_TRUE(module.inCommandMode());
  os::sleepMs(150);
  EXPECT_FALSE(module.inCommandMode());
  EXPECT_FALSE(followCommandMode(terminal));
  EXPECT_EQ(closeTerminal(terminal), 0);
  EXPECT_EQ(sent(), (Lines{"+++", "ATCT", "ATVR", "+++", "ATCT", "ATCT14", "ATVR"}))
      << "no ATCN once out";
}

// A module's own time-out, short or long, is the one followed: a line goes
// while it runs, "ATCN" on leaving while it runs, and nothing once it may
// have ended.
TEST_F(Term, TheModulesOwnTimeOutIsFollowed) {
  const auto sentSince = [this](size_t from) {
    const Lines all = sent();
    return Lines(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
  };
  for (const uint32_t ct : {0x14u, 0x64u, 0x12Cu}) {
    module.setReg("CT", ct);
    const uint32_t ms = ct * 100;
    size_t from = sent().size();
    ASSERT_EQ(openTerminal(terminal), 0);
    EXPECT_GT(commandModeLeftMs(terminal), ms * 8 / 10) << ct;
    os::sleepMs(ms * 7 / 10);
    EXPECT_EQ(send("ATVR").result, 0) << "still in command mode at CT " << ct;
    os::sleepMs(ms * 7 / 10);
    EXPECT_EQ(closeTerminal(terminal), 0);
    EXPECT_EQ(sentSince(from), (Lines{"+++", "ATCT", "ATVR", "ATCN"})) << ct;
    EXPECT_FALSE(module.inCommandMode()) << ct;

    os::sleepMs(1500);
    from = sent().size();
    ASSERT_EQ(openTerminal(terminal), 0);
    os::sleepMs(ms - 100);  // its last moments: it may leave any instant
    EXPECT_EQ(sendTerminalLine(terminal, "ATVR", nullptr), ErrArgument) << ct;
    EXPECT_EQ(closeTerminal(terminal), 0);
    EXPECT_EQ(sentSince(from), (Lines{"+++", "ATCT"}))
        << "nothing into a module that may have left, CT " << ct;
    EXPECT_FALSE(module.inCommandMode()) << ct;
    os::sleepMs(1500);
  }
}

// Unplugged under an open terminal: said, no longer counted, and taken back
// (the module found again) once the port returns.
TEST_F(Term, APortUnpluggedIsSaidAndTakenBackWhenItReturns) {
  ASSERT_EQ(openTerminal(terminal), 0);
  world.removeSerialPort("COM5");
  EXPECT_NE(send("ATVR").result, 0);
  EXPECT_TRUE(terminal.portLost);
  EXPECT_EQ(session.port, nullptr);
  EXPECT_EQ(commandModeLeftMs(terminal), 0u) << "no time-out counted for a port that is gone";
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().text, "COM5 is gone: the terminal takes it back once it returns");
  EXPECT_EQ(takeTerminalPortBack(terminal), ErrNoPort);
  os::sleepMs(12000);  // out of command mode by its own time-out meanwhile
  module.advance(world.now());
  world.addSerialPort("COM5", &peer);
  EXPECT_EQ(takeTerminalPortBack(terminal), 0);
  EXPECT_FALSE(terminal.portLost);
  EXPECT_EQ(send("ATVR").result, 0) << "the terminal works again";
  EXPECT_EQ(closeTerminal(terminal), 0);
  EXPECT_FALSE(module.inCommandMode());
}

// Cancel at every line end, and an unplug at every 50 ms of the first
// seconds: the module ends out of command mode, the port closed.
TEST_F(Term, EveryWayOutLeavesCommandMode) {
  for (int crs = 1; crs <= 6; ++crs) {
    os::resetEvent(session.cancelEvent);
    world.onHostReceived = [this, crs, seen = 0](const std::string&, uint8_t byte) mutable {
      if (byte == '\r' && ++seen == crs)
        os::setEvent(session.cancelEvent);
    };
    if (openTerminal(terminal) == 0) {
      for (const char* line : {"ATVR", "ATNI", "ATSL", "ATSH"})
        if (sendTerminalLine(terminal, line, nullptr) != 0)
          break;
    }
    closeTerminal(terminal);
    world.onHostReceived = nullptr;
    EXPECT_FALSE(module.inCommandMode()) << "cancel at line end " << crs;
    os::sleepMs(1500);
  }
  os::resetEvent(session.cancelEvent);
  for (uint64_t at = 0; at < 3000; at += 50) {
    world.at(world.now() + vw::ms(at), [this] {
      world.removeSerialPort("COM5");
      os::setEvent(session.cancelEvent);
    });
    if (openTerminal(terminal) == 0)
      for (const char* line : {"ATVR", "ATNI", "ATSL"})
        sendTerminalLine(terminal, line, nullptr);
    closeTerminal(terminal);
    os::sleepMs(12000);           // its own time-out, where ATCN could not reach it
    module.advance(world.now());  // unplugged, the world no longer moves it
    EXPECT_FALSE(module.inCommandMode()) << "unplugged at " << at << " ms";
    world.addSerialPort("COM5", &peer);
    os::resetEvent(session.cancelEvent);
  }
}

}  // namespace
