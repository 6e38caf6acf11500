// Writing a pane's changes into its module, against module models.
#include "module/write.h"

#include <algorithm>

#include "link/at_command.h"
#include "module/pair_run.h"
#include "module/read.h"
#include "tests/support/pane_fixture.h"
#include "ui/dialog/rules.h"

namespace {

using Commands = std::vector<std::string>;

const Commands kVerifyingRead = {"+++",  "ATGT", "ATVR", "ATID", "ATOI", "ATHV", "ATTP",
                                 "ATNI", "ATSL", "ATSH", "ATDL", "ATDH", "ATSC", "ATBD",
                                 "ATNB", "ATSB", "ATPL", "ATPM", "ATD7", "ATD6", "ATCN"};

Commands concat(Commands a, const Commands& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class Write : public PaneTest {
 protected:
  // Reads the pane first, as the user must before Write is offered.
  void readFirst(PaneRecord* pane, const std::string& port) {
    prepareOperation(pane);
    ASSERT_EQ(readBody(pane), 0);
    sentBefore[port] = commands(port).size();
    view().calls.clear();
  }
  int32_t write(PaneRecord* pane) { return writeBody(pane); }
  Commands sentSinceRead(const std::string& port) const {
    Commands all = commands(port);
    const auto before = sentBefore.find(port);
    const size_t skip = before == sentBefore.end() ? 0 : before->second;
    return Commands(all.begin() + static_cast<long>(skip), all.end());
  }
  // Start times of the host's "ATAI" commands, in ms.
  std::vector<double> pollTimes(const std::string& port) const {
    std::vector<double> times;
    std::string text;
    for (const auto& e : world.entries(port, vw::Event::HostByte)) {
      if (text.empty())
        times.push_back(e.at / 1000.0);
      text += static_cast<char>(e.value);
      if (e.value == '\r') {
        if (text != "ATAI\r")
          times.pop_back();
        text.clear();
      }
    }
    return times;
  }

  std::map<std::string, size_t> sentBefore;
};

TEST_F(Write, NothingChangedStillStoresAndVerifies) {
  readFirst(&masterPane, "COM3");
  ASSERT_EQ(write(&masterPane), 0);
  EXPECT_EQ(sentSinceRead("COM3"), concat({"+++", "ATWR", "ATCN"}, kVerifyingRead));
  EXPECT_EQ(view().calls,
            (std::vector<std::string>{"displayPane master", "postOperationDone master"}))
      << "no discovery, no channel list refill";
  EXPECT_EQ(masterPane.session.port, nullptr);
}

TEST_F(Write, OnlyChangedFieldsGoOutInTheirOrder) {
  readFirst(&masterPane, "COM3");
  masterPane.module.shown[Setting::D7Config] = 4;  // flow control off
  masterPane.module.shown[Setting::D6Config] = 0;
  masterPane.module.shown[Setting::PowerLevel] = 2;
  masterPane.module.shown[Setting::Parity] = 1;
  masterPane.module.shown[Setting::BaudRate] = 5;
  ASSERT_EQ(write(&masterPane), 0);
  EXPECT_EQ(
      sentSinceRead("COM3"),
      concat({"+++", "ATBD5", "ATNB1", "ATPL2", "ATD74", "ATD60", "ATWR", "ATCN"}, kVerifyingRead));
  EXPECT_EQ(master->storedReg("BD"), 5u);
  EXPECT_EQ(master->storedReg("PL"), 2u);
  // The verifying read ran at the module's new settings.
  os::LineSettings line = world.line("COM3")->settings;
  EXPECT_EQ(line.baudRate, 38400u);
  EXPECT_EQ(line.parity, os::kEvenParity);
  EXPECT_EQ(masterPane.module.read[Setting::BaudRate], 5u);
  EXPECT_EQ(masterPane.module.read[Setting::PowerLevel], 2);
  EXPECT_STREQ(masterPane.module.nodeId, "KOV-NL001/M");
}

TEST_F(Write, MasterNeverSendsSleepMode) {
  readFirst(&masterPane, "COM3");
  masterPane.module.shown[Setting::SleepMode] =
      4;  // cannot happen through the pane; must still not go out
  ASSERT_EQ(write(&masterPane), 0);
  for (const auto& c : sentSinceRead("COM3"))
    EXPECT_NE(c.substr(0, 4), "ATSM");
}

TEST_F(Write, SlaveSleepModeIsWritten) {
  readFirst(&slavePane, "COM4");
  applyCyclicSleepRule(&slavePane.module);
  ASSERT_EQ(write(&slavePane), 0);
  const Commands sent = sentSinceRead("COM4");
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(Commands(sent.begin(), sent.begin() + 3), (Commands{"+++", "ATSM4", "ATWR"}));
}

TEST_F(Write, ChannelChangePollsAssociationEvery240Ms) {
  readFirst(&masterPane, "COM3");
  masterPane.module.shown[Setting::Channel] = 15;
  ASSERT_EQ(write(&masterPane), 0);
  const Commands sent = sentSinceRead("COM3");
  ASSERT_GE(sent.size(), 5u);
  EXPECT_EQ(Commands(sent.begin(), sent.begin() + 5),
            (Commands{"+++", "ATSC10", "ATAC", "ATNR0", "ATAI"}));
  EXPECT_EQ(master->storedReg("SC"), 0x10u);
  EXPECT_EQ(masterPane.module.read[Setting::Channel], 15);
}

TEST_F(Write, FailingFieldStopsTheSeriesAndStoresWhatWasTaken) {
  readFirst(&masterPane, "COM3");
  masterPane.module.shown[Setting::BaudRate] = 4;
  masterPane.module.shown[Setting::Parity] = 2;
  masterPane.module.shown[Setting::PowerLevel] = 1;
  master->faults.replaceReply["NB"] = "ERROR\r";
  EXPECT_EQ(write(&masterPane), ErrNotOk);
  EXPECT_EQ(sentSinceRead("COM3"), (Commands{"+++", "ATBD4", "ATNB2", "ATWR", "ATCN"}));
  EXPECT_EQ(master->storedReg("BD"), 4u) << "taken before the failure";
  EXPECT_EQ(masterPane.module.read[Setting::BaudRate], 4u) << "sent before the failure";
  EXPECT_EQ(masterPane.module.read[Setting::Parity], 0) << "the failing field keeps its old value";
  EXPECT_EQ(masterPane.module.read[Setting::PowerLevel], 4) << "never sent";
  EXPECT_STREQ(masterPane.module.nodeId, "KOV-NL001/M") << "no second read";
  EXPECT_EQ(view().count("displayPane master"), 0);
  EXPECT_EQ(world.line("COM3")->settings.baudRate, 9600u) << "the host did not follow";
}

TEST_F(Write, FailedVerifyingReadEmptiesTheNodeId) {
  readFirst(&masterPane, "COM3");
  master->faults.withholdReply["GT"] = 1;
  EXPECT_EQ(write(&masterPane), ErrTimeout);
  EXPECT_EQ(masterPane.module.nodeId[0], 0);
  EXPECT_EQ(view().count("displayPane master"), 0);
  EXPECT_EQ(view().count("clearPaneDisplay master"), 1)
      << "no values shown that it no longer holds";
}

TEST_F(Write, WritePhaseWaitsLongerForRepliesAndAsksAgainForAStore) {
  readFirst(&masterPane, "COM3");
  master->faults.withholdReply["WR"] = 3;
  const vw::TimeUs start = world.now();
  EXPECT_EQ(write(&masterPane), ErrTimeout);
  // guard delay, "+++" and its OK after the guard time, then three ATWR and
  // 3.6 s of silence after each
  const double ms = (world.now() - start) / 1000.0;
  EXPECT_GT(ms, 1120 + 1000 + 3 * 3600);
  EXPECT_LT(ms, 1120 + 1000 + 3 * 3600 + 50);
  EXPECT_EQ(portRecord(3)->ioTimeoutMs, 1200u) << "put back after the write phase";
  // One store lost on the line: the next is taken, and the write goes on.
  readFirst(&masterPane, "COM3");
  masterPane.module.shown[Setting::PowerLevel] = 1;
  master->faults.withholdReply["WR"] = 1;
  EXPECT_EQ(write(&masterPane), 0);
  EXPECT_EQ(master->storedReg("PL"), 1u);
}

TEST_F(Write, HostKeepsTalkingAtWhatTheWriteLeftAlone) {
  // A rate that only discovery names (the code is the rate), and a baud
  // reply that is no number (read as code 0, "1200"): neither module
  // changes its rate when only the power level is written.
  struct Case {
    uint64_t bd;
    const char* baudReply;
    uint32_t rate;
  } cases[] = {{0x1C200, nullptr, 115200}, {3, "xyz\r", 9600}};
  for (const Case& c : cases) {
    makeModules(masterConfig(), slaveConfig());
    master->setReg("BD", c.bd);
    if (c.baudReply)
      master->faults.replaceReply["BD"] = c.baudReply;
    else  // found by the reset key
      world.at(world.now() + vw::ms(4000), [this] { master->pressResetKey(world.now()); });
    readFirst(&masterPane, "COM3");
    masterPane.module.shown[Setting::PowerLevel] = 1;
    EXPECT_EQ(write(&masterPane), 0) << c.rate;
    EXPECT_EQ(world.line("COM3")->settings.baudRate, c.rate);
    EXPECT_STREQ(masterPane.module.nodeId, "KOV-NL001/M") << "the verifying read found the module";
    EXPECT_EQ(master->storedReg("PL"), 1u);
  }
}

// The dialog remembers what it set the module talking at: the next Read
// finds it there at once, with no reset key.
TEST_F(Write, AModuleWrittenToAnotherRateIsReadAgainWithoutTheKey) {
  readFirst(&slavePane, "COM4");
  slavePane.module.shown[Setting::BaudRate] = 7;
  slavePane.module.shown[Setting::Parity] = 1;
  ASSERT_EQ(write(&slavePane), 0);
  ASSERT_EQ(slave->storedReg("BD"), 7u);
  sentBefore["COM4"] = commands("COM4").size();
  os::sleepMs(1200);
  prepareOperation(&slavePane);
  ASSERT_EQ(readBody(&slavePane), 0);
  EXPECT_EQ(view().count("showResetPrompt"), 0);
  const Commands sent = sentSinceRead("COM4");
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "+++"), 1) << "one try, at the rate written";
  EXPECT_EQ(world.line("COM4")->settings.baudRate, 115200u);
  EXPECT_EQ(world.line("COM4")->settings.parity, os::kEvenParity);
  EXPECT_EQ(slavePane.module.read[Setting::Parity], 1u);
}

// However it ends short, a write leaves the module running only what it
// stored: a power cycle must not undo what a later read took for stored.
TEST_F(Write, CancelledWriteStoresWhatItSentAndLeaves) {
  readFirst(&masterPane, "COM3");
  masterPane.module.shown[Setting::BaudRate] = 5;
  masterPane.module.shown[Setting::PowerLevel] = 1;
  // Cancel once the module has taken the baud code, before the next field.
  int lineEnds = 0;
  world.onHostReceived = [&](const std::string& port, uint8_t byte) {
    if (port == "COM3" && byte == '\r' && ++lineEnds == 2)  // "+++" and "ATBD5" answered
      os::setEvent(masterPane.cancelEvent);
  };
  EXPECT_EQ(write(&masterPane), ResultCancelled);
  EXPECT_EQ(sentSinceRead("COM3"), (Commands{"+++", "ATBD5", "ATWR", "ATCN"}));
  EXPECT_FALSE(master->inCommandMode());
  EXPECT_EQ(master->storedReg("BD"), 5u);
  EXPECT_EQ(master->storedReg("PL"), master->reg("PL")) << "never sent, nothing to store";
  EXPECT_TRUE(masterPane.session.storedPart);
}

TEST_F(Write, CancelBeforeAnySetterStoresNothing) {
  readFirst(&masterPane, "COM3");
  masterPane.module.shown[Setting::PowerLevel] = 1;
  world.onHostReceived = [&](const std::string& port, uint8_t byte) {
    if (port == "COM3" && byte == '\r')  // "+++" answered
      os::setEvent(masterPane.cancelEvent);
  };
  EXPECT_EQ(write(&masterPane), ResultCancelled);
  EXPECT_EQ(sentSinceRead("COM3"), (Commands{"+++", "ATCN"}));
  EXPECT_FALSE(masterPane.session.storedPart);
}

TEST_F(Write, NothingOutsideAListReachesTheModule) {
  readFirst(&masterPane, "COM3");
  resetPane(&slavePane.module);  // values never read
  copyPaneSettings(&masterPane, &slavePane);
  // Values no list offers, however they got there.
  masterPane.module.shown[Setting::PowerLevel] = 5;
  masterPane.module.shown[Setting::BoostMode] = 0xFF;
  masterPane.module.shown[Setting::D7Config] = 0;
  masterPane.module.shown[Setting::D6Config] = 4;
  ASSERT_EQ(write(&masterPane), 0);
  EXPECT_EQ(sentSinceRead("COM3"), concat({"+++", "ATWR", "ATCN"}, kVerifyingRead));
  EXPECT_EQ(master->storedReg("SC"), 0x200u) << "the channel the user saw";
}

}  // namespace

namespace {

class WriteChannel : public Write {
 protected:
  // The host's "ATNR0" line end: the wait for association starts after its reply.
  double networkResetMs(const std::string& port) const {
    std::string text;
    double start = 0;
    for (const auto& e : world.entries(port, vw::Event::HostByte)) {
      if (text.empty())
        start = e.at / 1000.0;
      text += static_cast<char>(e.value);
      if (e.value == '\r') {
        if (text == "ATNR0\r")
          return start;
        text.clear();
      }
    }
    return -1;
  }
};

TEST_F(WriteChannel, PollsEvery240MsUntilJoined) {
  readFirst(&masterPane, "COM3");
  masterPane.module.shown[Setting::Channel] = 12;
  ASSERT_EQ(write(&masterPane), 0);
  const std::vector<double> polls = pollTimes("COM3");
  ASSERT_EQ(polls.size(), 3u) << "a 700 ms join seen at the third poll";
  EXPECT_NEAR(polls[0] - networkResetMs("COM3"), 6 + 5 + 240, 4);
  for (size_t i = 1; i < polls.size(); ++i) {
    EXPECT_NEAR(polls[i] - polls[i - 1], 240 + 10.4, 3) << "a pause, then one transaction";
  }
  EXPECT_EQ(masterPane.module.read[Setting::Channel], 12);
}

TEST_F(WriteChannel, JoinedAtTheFirstPoll) {
  auto config = masterConfig();
  config.associationTimeUs = 0;
  makeModules(config, slaveConfig());
  readFirst(&masterPane, "COM3");
  masterPane.module.shown[Setting::Channel] = 26;
  ASSERT_EQ(write(&masterPane), 0);
  EXPECT_EQ(pollTimes("COM3").size(), 1u);
  EXPECT_EQ(master->storedReg("SC"), 0x8000u);
}

TEST_F(WriteChannel, MasterThatNeverJoinsTimesOutAfter12s) {
  readFirst(&masterPane, "COM3");
  master->faults.neverAssociates = true;
  masterPane.module.shown[Setting::Channel] = 12;
  masterPane.module.shown[Setting::PowerLevel] = 1;
  EXPECT_EQ(write(&masterPane), ResultJoinTimeout);
  const std::vector<double> polls = pollTimes("COM3");
  ASSERT_FALSE(polls.empty());
  EXPECT_GT(polls.back() - networkResetMs("COM3"), 12000);
  EXPECT_LT(polls.back() - networkResetMs("COM3"), 12000 + 240 + 20);
  EXPECT_GT(polls.size(), 40u);
  const Commands sent = sentSinceRead("COM3");
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(Commands(sent.end() - 2, sent.end()), (Commands{"ATWR", "ATCN"}));
  for (const auto& c : sent)
    EXPECT_NE(c, "ATPL1") << "nothing after the channel";
  EXPECT_EQ(master->storedReg("SC"), master->reg("SC")) << "the channel it runs is stored";
  EXPECT_EQ(masterPane.module.read[Setting::Channel], 20) << "the old channel stays";
}

// A console closed (or a session ended) during the join: the program has
// seconds left. Whether its write was cancelled with it (nlconf-cli write)
// or finishes through a Cancel (a pair run's), the module must hold what it
// runs once the program is gone.
class WriteClosing : public WriteChannel {
 protected:
  void closeDuringTheJoin(bool finishing) {
    prepareOperation(&masterPane);
    Session& session = paneSession(&masterPane);
    ASSERT_EQ(readInSession(session), 0);
    master->faults.neverAssociates = true;
    masterPane.module.shown[Setting::Channel] = 12;
    masterPane.module.shown[Setting::PowerLevel] = 1;
    if (finishing) {
      session.finishing = true;
      setPortCancelEvent(session.port, nullptr);
    }
    const vw::TimeUs told = world.now() + 3000000;
    os::Handle cancel = masterPane.cancelEvent;
    world.at(told, [cancel] {
      dialogClosing = true;
      os::setEvent(cancel);
    });
    EXPECT_EQ(writeInSession(session), ResultCancelled);
    dialogClosing = false;
    EXPECT_LT(world.now() - told, 1000000) << "within the second after the close";
    const Commands sent = commands("COM3");
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(Commands(sent.end() - 2, sent.end()), (Commands{"ATWR", "ATCN"}));
    EXPECT_EQ(master->storedReg("SC"), 0x2u) << "what was set is stored";
    EXPECT_NE(master->storedReg("PL"), 1u) << "nothing set after the close";
    EXPECT_FALSE(master->inCommandMode());
  }
};

TEST_F(WriteClosing, CancelledWriteStoresWhatItSetAndLeaves) {
  closeDuringTheJoin(false);
}

TEST_F(WriteClosing, FinishingWriteStopsWaitingForTheJoin) {
  closeDuringTheJoin(true);
}

TEST_F(WriteChannel, SleepingSlaveNeedNotReportItsJoin) {
  auto config = slaveConfig();
  config.registers["SM"] = 4;
  makeModules(masterConfig(), config);
  readFirst(&slavePane, "COM4");
  ASSERT_EQ(slavePane.module.read[Setting::SleepMode], 4);
  slave->faults.neverAssociates = true;
  slavePane.module.shown[Setting::Channel] = 12;
  slavePane.module.shown[Setting::PowerLevel] = 1;
  const vw::TimeUs start = world.now();
  ASSERT_EQ(write(&slavePane), 0);
  EXPECT_GT((world.now() - start) / 1000.0, 12000);
  EXPECT_EQ(slave->storedReg("PL"), 1u) << "the later fields went out";
  EXPECT_EQ(slave->storedReg("SC"), 0x2u);
}

// Channel 20 goes out as its mask, and the join is waited for.
TEST_F(WriteChannel, ChangeChannelSendsTheMaskThenWaitsForTheJoin) {
  readFirst(&masterPane, "COM3");
  masterPane.module.shown[Setting::Channel] = 20;
  ASSERT_EQ(openPanePort(&masterPane), 0);
  ASSERT_EQ(enterCommandMode(masterPane.session.port), 0);
  EXPECT_EQ(changeChannel(paneSession(&masterPane)), 0);
  const Commands sent = sentSinceRead("COM3");
  EXPECT_EQ(Commands(sent.begin(), sent.begin() + 5),
            (Commands{"+++", "ATSC200", "ATAC", "ATNR0", "ATAI"}));
  EXPECT_EQ(exitCommandMode(masterPane.session.port), 0);
  closeSessionPort(masterPane.session);
}

TEST_F(WriteChannel, RejectedApplyDoesNotStopTheChange) {
  readFirst(&masterPane, "COM3");
  master->faults.replaceReply["AC"] = "ERROR\r";
  masterPane.module.shown[Setting::Channel] = 13;
  ASSERT_EQ(write(&masterPane), 0);
  const Commands sent = sentSinceRead("COM3");
  EXPECT_EQ(Commands(sent.begin(), sent.begin() + 4), (Commands{"+++", "ATSC4", "ATAC", "ATNR0"}));
  EXPECT_EQ(masterPane.module.read[Setting::Channel], 13);
}

}  // namespace

namespace {

// Two modules that do not yet form a pair: another network, another peer.
class WritePair : public Write {
 protected:
  void SetUp() override {
    Write::SetUp();
    auto m = masterConfig();
    m.registers["DL"] = 0x40000077;
    auto s = slaveConfig();
    s.registers["ID"] = 0xABCDEF0123;
    makeModules(m, s);
    readFirst(&masterPane, "COM3");
    readFirst(&slavePane, "COM4");
  }
};

TEST_F(WritePair, OnlyWhatMakePairChangedIsWritten) {
  ASSERT_EQ(view().errors, std::vector<std::wstring>{L"Extended PAN ID is not match."});
  makePair(&masterPane.module, &slavePane.module);
  EXPECT_EQ(slavePane.module.shown[Setting::PanId], 0x1234u);
  EXPECT_EQ(masterPane.module.shown[Setting::DestLow], 0x40000002u);
  EXPECT_EQ(slavePane.module.read[Setting::DestLow], 0x40000001u) << "nothing sent yet";
  EXPECT_EQ(masterPane.module.shown[Setting::Channel], masterPane.module.read[Setting::Channel])
      << "only the pairing changes";
  ASSERT_EQ(write(&masterPane), 0);
  ASSERT_EQ(write(&slavePane), 0);
  EXPECT_EQ(sentSinceRead("COM3"), concat({"+++", "ATDL40000002", "ATWR", "ATCN"}, kVerifyingRead));
  const Commands sent = sentSinceRead("COM4");
  ASSERT_GE(sent.size(), 5u);
  EXPECT_EQ(Commands(sent.begin(), sent.begin() + 5),
            (Commands{"+++", "ATID1234", "ATAC", "ATNR0", "ATAI"}));
  EXPECT_EQ(slave->storedReg("ID"), 0x1234u);
}

TEST_F(WritePair, RejoinThatNeverComesEndsTheWrite) {
  makePair(&masterPane.module, &slavePane.module);
  slave->faults.neverAssociates = true;
  EXPECT_EQ(write(&slavePane), ResultJoinTimeout);
  const Commands sent = sentSinceRead("COM4");
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(Commands(sent.end() - 2, sent.end()), (Commands{"ATWR", "ATCN"}));
  EXPECT_EQ(slavePane.module.read[Setting::PanId], 0xABCDEF0123u)
      << "the old network stays the pane's";
  EXPECT_EQ(slave->storedReg("ID"), slave->reg("ID")) << "the network it runs is stored";
}

}  // namespace
