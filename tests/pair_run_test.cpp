// Pairs in numbers: the run's steps in order against module models, Cancel
// between any two of them, a failing step, crossed ports, and its record.
#include "module/pair_run.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "link/errors.h"
#include "link/line_log.h"
#include "module/pair_record.h"
#include "module/pair_texts.h"
#include "module/read.h"
#include "module/received_share.h"
#include "module/result_messages.h"
#include "tests/support/pane_fixture.h"

namespace {

using Steps = std::vector<PairStep>;
const Steps kAllSteps = {PairStep::ReadMaster,  PairStep::ReadSlave,  PairStep::ApplyProfile,
                         PairStep::WriteMaster, PairStep::WriteSlave, PairStep::Check,
                         PairStep::LinkTest};

class PairRunTest : public PaneTest {
 protected:
  void SetUp() override {
    PaneTest::SetUp();
    cancel = os::createEvent();
  }
  void TearDown() override {
    masterPane.cancelEvent = cancel;
    slavePane.cancelEvent = nullptr;
    PaneTest::TearDown();
  }
  // Modules that are no pair yet, with settings other than the profile's.
  void unpairedModules() {
    auto m = masterConfig();
    m.registers["DL"] = 0x40000077;
    m.registers["PL"] = 2;
    auto s = slaveConfig();
    s.registers["ID"] = 0xABCDEF0123;
    makeModules(m, s);
  }
  void useProfile(const std::string& text) {
    uint32_t line = 0;
    wchar_t message[kSettingsMessageChars];
    ASSERT_TRUE(parseSettingsFile(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                                  L"pair.ini", &profile, &line, message));
    run.profile = &profile;
  }
  int32_t runIt() {
    steps.clear();
    masterPane.cancelEvent = slavePane.cancelEvent = cancel;  // one Cancel for the run
    run.context = this;
    run.onStep = [](void* self, PairStep step) {
      auto* t = static_cast<PairRunTest*>(self);
      t->steps.push_back(step);
      if (step == t->cancelAt)
        os::setEvent(t->cancel);
    };
    run.onFinishingWrite = [](void* self, PairStep step, bool writing) {
      auto* t = static_cast<PairRunTest*>(self);
      if (writing && step == t->cancelInWrite)
        os::setEvent(t->cancel);
    };
    usePaneSessions(&run);
    return runPair(run, &result);
  }
  std::vector<std::string> setters(const std::string& port) const {
    std::vector<std::string> out;
    for (const std::string& c : commands(port)) {
      if (c.size() > 4 && c.rfind("AT", 0) == 0)
        out.push_back(c);
    }
    return out;
  }

  SettingsFile profile;
  PairRun run;
  PairRunResult result;
  Steps steps;
  PairStep cancelAt = PairStep::None;
  PairStep cancelInWrite = PairStep::None;
  os::Handle cancel = nullptr;
};

TEST_F(PairRunTest, ProfileAndPairingAreWrittenCheckedAndLinked) {
  unpairedModules();
  useProfile(
      "[Master]\nChannel = 14\nPower Level = Highest\n[Slave]\nChannel = 14\n"
      "[Pair]\nMake Pair = Yes\n");
  ASSERT_EQ(runIt(), 0) << resultMessage(result.result).format;
  EXPECT_EQ(steps, kAllSteps);
  EXPECT_EQ(result.linkVerdict, 1);
  EXPECT_TRUE(view().errors.empty()) << "no warning while the run pairs them";
  EXPECT_EQ(master->storedReg("SC"), 0x8u);
  EXPECT_EQ(master->storedReg("PL"), 4u);
  EXPECT_EQ(master->storedReg("DL"), 0x40000002u);
  EXPECT_EQ(slave->storedReg("ID"), 0x1234u);
  EXPECT_FALSE(master->inCommandMode() || slave->inCommandMode());
  os::sleepMs(1500);  // the modules' guard time after the link test's text
  ASSERT_EQ(readBody(&masterPane), 0);
  ASSERT_EQ(readBody(&slavePane), 0);
  EXPECT_TRUE(view().errors.empty()) << "a Read of the pair afterwards has nothing to warn of";
  EXPECT_FALSE(showsChanges(&masterPane.module) || showsChanges(&slavePane.module));
}

// A pair the line made before: both modules already talk at the profile's
// 38400, and a run again finds them there without their reset keys.
TEST_F(PairRunTest, AProducedPairAtTheProfilesRateAsksForNoKey) {
  for (sim::Module* m : {master.get(), slave.get()})
    m->setReg("BD", 5);
  useProfile("[Master]\nBaud Rate = 38400\n[Slave]\nBaud Rate = 38400\n");
  ASSERT_EQ(runIt(), 0) << resultMessage(result.result).format;
  EXPECT_EQ(view().count("showResetPrompt"), 0);
  for (const char* port : {"COM3", "COM4"}) {
    EXPECT_TRUE(world.entries(port, vw::Event::BreakOn).empty()) << port;
    EXPECT_EQ(world.line(port)->settings.baudRate, 38400u) << port;
  }
  EXPECT_EQ(result.linkVerdict, 1);
  EXPECT_LT(result.durationMs, 6000u) << "both found at once, side by side";
}

// One command-mode session per module, both at once: each module hears one
// "+++", its read, what differs, "ATWR", the read back and one "ATCN".
TEST_F(PairRunTest, EachModuleIsReadWrittenAndCheckedInOneSessionBothAtOnce) {
  unpairedModules();
  useProfile(
      "[Master]\nPower Level = Low\nChannel = 14\n[Slave]\nChannel = 14\n[Pair]\nMake Pair = "
      "Yes\n");
  ASSERT_EQ(runIt(), 0) << resultMessage(result.result).format;
  for (const char* port : {"COM3", "COM4"}) {
    auto sent = commands(port);
    sent.resize(std::find(sent.begin(), sent.end(), "ATCN") - sent.begin() +
                1);  // not the link test
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "+++"), 1) << port;
    const auto stored = std::find(sent.begin(), sent.end(), "ATWR");
    ASSERT_NE(stored, sent.end()) << port;
    EXPECT_EQ(std::count(stored, sent.end(), "ATVR"), 1) << port << ": read back before ATCN";
    EXPECT_EQ(sent.back(), "ATCN");
  }
  EXPECT_EQ(setters("COM3"), (std::vector<std::string>{"ATSC8", "ATNR0", "ATDL40000002", "ATPL1"}));
  EXPECT_EQ(setters("COM4").front(), "ATID1234") << "the slave's order as a Write sends it";
  const auto first = [&](const char* port) {
    return world.entries(port, vw::Event::HostByte)[0].at;
  };
  EXPECT_LT(first("COM4"), first("COM3") + vw::ms(100)) << "the slave is not kept waiting";
  EXPECT_LT(result.durationMs, 4000u);
}

// The slave waits for its reset key longer than the master's command mode
// lasts without a command: the master is entered again, not talked to as
// if it were still listening.
TEST_F(PairRunTest, AMasterThatWaitedOutItsCommandModeIsEnteredAgain) {
  slave->setReg("BD", 5);
  world.at(vw::ms(11000), [this] { slave->pressResetKey(world.now()); });
  useProfile("[Master]\nPower Level = Low\n[Slave]\nBaud Rate = 9600\n");
  ASSERT_EQ(runIt(), 0) << resultMessage(result.result).format;
  const auto sent = commands("COM3");
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "+++"), 2);
  EXPECT_EQ(master->storedReg("PL"), 1u);
  EXPECT_FALSE(master->inCommandMode() || slave->inCommandMode());
}

// Two modules at other serial settings are no pair by the Link Test's rule,
// unless the profile set them apart: then the PASS says that they differ.
TEST_F(PairRunTest, ModulesAtOtherSerialSettingsAreNoPairUnlessTheProfileSetsThem) {
  slave->setReg("BD", 5);
  world.at(vw::ms(5000), [this] { slave->pressResetKey(world.now()); });
  useProfile("[Master]\nPower Level = Low\n");
  EXPECT_EQ(runIt(), ResultLinesDiffer);
  EXPECT_EQ(result.failedStep, PairStep::LinkTest);
  EXPECT_EQ(std::wstring(result.detail), L"Baud Rate: master 9600, slave 38400");
  EXPECT_EQ(result.linkVerdict, -1) << "no link test ran";
  useProfile("[Slave]\nBaud Rate = 38400\n");
  EXPECT_EQ(runIt(), 0) << resultMessage(result.result).format;
  EXPECT_EQ(pairFailureText(result, L"COM3", L"COM4"),
            L"The serial settings differ, as the profile sets them: Baud Rate: master 9600, "
            L"slave 38400.");
}

// The slave's key never comes: the master, read long before, has left
// command mode on its own, and nothing meant for command mode goes out
// into its radio.
TEST_F(PairRunTest, AMasterThatWaitedOutItsCommandModeIsSentNoCommandAsData) {
  slave->setReg("BD", 5);
  useProfile("[Master]\nPower Level = Low\n");
  EXPECT_NE(runIt(), 0);
  EXPECT_EQ(result.failedStep, PairStep::ReadSlave);
  const auto sent = commands("COM3");
  const auto& taken = master->commandLog();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "ATCN"),
            std::count(taken.begin(), taken.end(), "ATCN"))
      << "an ATCN reached a module out of command mode";
  EXPECT_FALSE(master->inCommandMode());
}

// A module that fails its session ends the run at once: the other leaves
// command mode with nothing written.
TEST_F(PairRunTest, AFailingSessionEndsTheOtherCleanly) {
  unpairedModules();
  useProfile("[Master]\nChannel = 14\n[Slave]\nChannel = 14\n");
  slave->faults.scriptedReply = [](const std::string& line) -> std::optional<std::string> {
    return line == "ATNI" ? std::optional<std::string>("KOV-NL001/X\r") : std::nullopt;
  };
  EXPECT_EQ(runIt(), ResultNotSlave);
  EXPECT_EQ(result.failedStep, PairStep::ReadSlave);
  EXPECT_TRUE(setters("COM3").empty() && setters("COM4").empty());
  EXPECT_FALSE(master->inCommandMode() || slave->inCommandMode());
  EXPECT_FALSE(os::isEventSet(cancel)) << "the run's own stop is no Cancel for the next";
}

TEST_F(PairRunTest, NothingIsWrittenThatTheProfileDoesNotAsk) {
  ASSERT_EQ(runIt(), 0);  // a pair already, no profile
  EXPECT_EQ(steps, (Steps{PairStep::ReadMaster, PairStep::ReadSlave, PairStep::ApplyProfile,
                          PairStep::Check, PairStep::LinkTest}));
  EXPECT_TRUE(setters("COM3").empty() && setters("COM4").empty());
  useProfile("[Master]\nPower Level = Low\n");
  os::sleepMs(1500);  // the modules' guard time after the link test's text
  ASSERT_EQ(runIt(), 0);
  EXPECT_TRUE(setters("COM4").empty()) << "the slave was not asked for anything";
  EXPECT_EQ(setters("COM3"), std::vector<std::string>{"ATPL1"});
}

TEST_F(PairRunTest, CancelAtEveryStepBoundaryEndsTheRunThere) {
  for (size_t k = 0; k < kAllSteps.size(); ++k) {
    unpairedModules();
    useProfile("[Master]\nChannel = 14\n[Slave]\nChannel = 14\n[Pair]\nMake Pair = Yes\n");
    os::resetEvent(cancel);
    cancelAt = kAllSteps[k];
    EXPECT_EQ(runIt(), ResultCancelled);
    EXPECT_EQ(result.failedStep, cancelAt);
    EXPECT_EQ(steps, Steps(kAllSteps.begin(), kAllSteps.begin() + k + 1));
    EXPECT_FALSE(master->inCommandMode() || slave->inCommandMode()) << k;
    EXPECT_EQ(master->storedReg("SC") == 0x8, k > 3) << "written only once its step ran";
    EXPECT_EQ(result.linkVerdict, -1);
  }
}

TEST_F(PairRunTest, CancelInAWriteLetsItStoreAndCheckThenEndsTheRun) {
  unpairedModules();
  useProfile("[Master]\nChannel = 14\n[Slave]\nChannel = 14\n[Pair]\nMake Pair = Yes\n");
  cancelInWrite = PairStep::WriteMaster;
  EXPECT_EQ(runIt(), ResultCancelled);
  EXPECT_EQ(result.failedStep, PairStep::WriteMaster);
  EXPECT_EQ(master->storedReg("SC"), 0x8u) << "stored what it runs";
  EXPECT_EQ(master->reg("SC"), master->storedReg("SC"));
  EXPECT_EQ(slave->storedReg("SC"), 0x200u) << "the next module is not written";
  EXPECT_TRUE(setters("COM4").empty());
  EXPECT_FALSE(master->inCommandMode() || slave->inCommandMode());
  EXPECT_EQ(pairFailureText(result, L"", L""),
            L"Cancelled. Master: stored and read back. Slave: not written, it holds what was "
            L"read.");
  // Once both writes have begun, both go through.
  unpairedModules();
  cancelInWrite = PairStep::WriteSlave;
  os::resetEvent(cancel);
  EXPECT_EQ(runIt(), ResultCancelled);
  EXPECT_EQ(slave->storedReg("SC"), 0x8u);
  EXPECT_EQ(
      pairResultDetails(result, L"", L"", L"|").substr(0, 84),
      L"Write Master: Cancelled. Master: stored and read back. Slave: stored and read back.|");
}

TEST_F(PairRunTest, RefusedBeforeAByteOrEndedByAnUnplugAsThePortsFailure) {
  view().texts[slavePane.portCombo] = L"COM3";
  pickPorts();
  EXPECT_EQ(runIt(), ResultSamePort);
  EXPECT_TRUE(steps.empty() && world.hostBytes("COM3").empty());
  EXPECT_EQ(pairResultText(result, L"", L"", L"|"),
            L"FAIL|Master and Slave are both set to COM3: each module needs its own port.");

  view().texts[slavePane.portCombo] = L"COM4";
  pickPorts();
  run.portDeparted = [](void*, bool ofMaster) { return !ofMaster; };
  cancelAt = PairStep::ReadSlave;
  EXPECT_EQ(runIt(), ErrBadHandle) << "not the operator's Cancel";
  EXPECT_EQ(result.failedStep, PairStep::ReadSlave);
}

TEST_F(PairRunTest, AModuleRefusedByItsRoleIsNamedFromTheRunsNotes) {
  auto wrong = slaveConfig();
  wrong.registers["SL"] = 0x40000009;
  makeModules(wrong, slaveConfig());
  EXPECT_EQ(runIt(), ResultNotMaster);
  EXPECT_EQ(result.failedStep, PairStep::ReadMaster);
  EXPECT_EQ(commands("COM3").back(), "ATCN");
  EXPECT_TRUE(setters("COM3").empty() && setters("COM4").empty());
  EXPECT_EQ(masterPane.module.nodeId[0], 0) << "the pane is cleared, the run's notes are not";
  EXPECT_EQ(pairFailureText(result, L"", L""), L"Network ID \"KOV-NL001/S\" is not a master.");
  EXPECT_EQ(pairResultDetails(result, L"", L"", L"|"),
            L"Read Master: Network ID \"KOV-NL001/S\" is not a master.|Master (COM3): "
            L"02004E4C40000009  \"KOV-NL001/S\", not a master|Slave (COM4): 02004E4C40000002  "
            L"\"KOV-NL001/S\"");
  const std::string text = formatPairRecordLine(result, L"", {});
  EXPECT_NE(text.find(",COM3,0x02004E4C40000009,KOV-NL001/S,0x2241,,"), std::string::npos) << text;
}

TEST_F(PairRunTest, AFailedStepEndsTheRunWithItsMessage) {
  unpairedModules();
  useProfile("[Pair]\nMake Pair = Yes\n");
  slave->faults.replaceReply["WR"] = "ERROR\r";
  EXPECT_EQ(runIt(), ErrNotOk);
  EXPECT_EQ(result.failedStep, PairStep::WriteSlave);
  EXPECT_EQ(steps.back(), PairStep::WriteSlave);
  EXPECT_STREQ(resultMessage(result.result).format, L"Communication error.");

  radio.faults.cut = true;
  os::sleepMs(1500);  // the guard time after the last run's "ATCN"
  EXPECT_EQ(runIt(), ResultLinkNg);
  EXPECT_EQ(result.failedStep, PairStep::LinkTest);
  EXPECT_STREQ(resultMessage(result.result).format, L"Link NG.");

  // The next pair's master does not answer: nothing of the last pair is
  // reported as this one's.
  os::sleepMs(1500);
  master->faults.replaceReply["+++"] = "ERROR\r";  // and no reset key comes
  EXPECT_EQ(runIt(), ErrNoPort);
  EXPECT_EQ(result.failedStep, PairStep::ReadMaster);
  EXPECT_FALSE(result.master.identified || result.master.holdsSettings);
  EXPECT_FALSE(result.slave.holdsSettings) << "read in this run, but not kept for a failed one";
  EXPECT_EQ(result.slave.serialLow, result.slave.identified ? 0x40000002u : 0u);
}

// A module that answers OK to a value but keeps its old one fails the
// check: no PASS for a pair that does not hold its profile.
TEST_F(PairRunTest, AValueTheModuleDoesNotKeepFailsTheCheck) {
  makeModules(masterConfig(), slaveConfig());
  useProfile("[Slave]\nPower Level = Low\n");
  slave->faults.scriptedReply = [](const std::string& line) -> std::optional<std::string> {
    if (line == "ATPL")
      return "4\r";
    return std::nullopt;
  };
  EXPECT_EQ(runIt(), ResultNotHeld);
  EXPECT_EQ(result.failedStep, PairStep::Check);
  EXPECT_STREQ(result.detail, L"Slave: Power Level");
}

// A minimal RFC 4180 reader: what a spreadsheet makes of a line.
std::vector<std::string> csvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"')
      fields.back() += line[++i];
    else if (c == '"')
      quoted = !quoted;
    else if (!quoted && c == ',')
      fields.emplace_back();
    else if (quoted || (c != '\r' && c != '\n'))
      fields.back() += c;
  }
  return fields;
}

TEST_F(PairRunTest, CrossedPortsAreSwappedAndTheRecordReadsBack) {
  makeModules(slaveConfig(), masterConfig());
  run.swapPorts = [](void*) {
    std::swap(view().texts[masterPane.portCombo], view().texts[slavePane.portCombo]);
    return true;
  };
  const std::wstring bench = view().texts[masterPane.portCombo];
  ASSERT_EQ(runIt(), 0);
  for (const char* port : {"COM3", "COM4"}) {
    const auto sent = commands(port);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "+++"), 1) << port << ": placed, not read again";
  }
  EXPECT_EQ(view().texts[masterPane.portCombo], bench) << "the bench's picks again";
  EXPECT_EQ(masterPane.module.nodeId[0] | slavePane.module.nodeId[0], 0)
      << "no pane names another's module";
  EXPECT_NE(
      pairResultDetails(result, L"", L"", L"|")
          .find(L"|The modules were on each other's ports: the master on COM4, the slave on COM3."),
      std::wstring::npos);
  std::memcpy(result.slave.nodeId, "=1+2,\"x\"", 9);
  PairRecordContext context;
  context.when = {2026, 3, 4, 5, 6, 7, -210};
  context.masterPort = "/dev/ttyUSB0";  // the picks: the run used them the other way round
  context.slavePort = "/dev/ttyUSB1";
  context.profilePath = "/bench/pair.ini";
  context.station = "@bench";
  const std::string line = formatPairRecordLine(result, L"Zeile, \"\u00e4\"", context);
  ASSERT_GT(line.size(), 2u);
  EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
  const auto names = csvFields(formatPairRecordHeader());
  const auto fields = csvFields(line);
  ASSERT_EQ(fields.size(), names.size());
  std::map<std::string, std::string> row;
  for (size_t i = 0; i < names.size(); ++i)
    row[names[i]] = fields[i];
  EXPECT_EQ(row["Date and Time"] + " " + row["Result"] + " " + row["Ports Swapped"],
            "2026-03-04T05:06:07-03:30 PASS Yes");
  EXPECT_EQ(row["Profile"] + " " + row["Station"], "/bench/pair.ini '@bench");
  EXPECT_EQ(row["Message"], "Zeile, \"\xC3\xA4\"");
  EXPECT_EQ(row["Master Port"] + " " + row["Master Serial Number"] + " " + row["Master Channel"],
            "/dev/ttyUSB1 0x02004E4C40000001 20");
  EXPECT_EQ(row["Slave Power Save"] + " " + row["Slave Destination"], "Off 0x02004E4C40000001");
  EXPECT_EQ(row["Slave Node Identifier"], "'=1+2,\"x\"") << "no formula from a module's text";
  EXPECT_EQ(row["Link Test"] + " " + row["Duration ms"], "OK " + std::to_string(result.durationMs));
  EXPECT_EQ(row["Master to Slave Received %"] + row["Round Trip Median ms"], "")
      << "no range test without [Range]";
}

std::map<std::string, std::string> recordRow(const PairRunResult& result) {
  const auto names = csvFields(formatPairRecordHeader());
  const auto fields = csvFields(formatPairRecordLine(result, L"", PairRecordContext{}));
  std::map<std::string, std::string> row;
  for (size_t i = 0; i < names.size() && i < fields.size(); ++i)
    row[names[i]] = fields[i];
  return row;
}

// One share everywhere: cut toward zero, and judged on the counts.
// The run's failure names the port its module failed on, as a face tells it.
TEST_F(PairRunTest, AFailureOnCrossedPortsNamesThePortTheModuleWasOn) {
  makeModules(slaveConfig(), masterConfig());
  run.swapPorts = [](void*) {
    std::swap(view().texts[masterPane.portCombo], view().texts[slavePane.portCombo]);
    return true;
  };
  useProfile("[Master]\nChannel = 14\n[Slave]\nChannel = 14\n");
  slave->faults.replaceReply["WR"] = "ERROR\r";  // the master's module, on COM4
  EXPECT_EQ(runIt(), ErrNotOk);
  EXPECT_EQ(result.failedStep, PairStep::WriteMaster);
  EXPECT_EQ(result.outcome.code, ErrNotOk);
  EXPECT_EQ(result.outcome.portNumber, 4u) << "where the master was, not the master's pick";
  EXPECT_STREQ(result.outcome.step, "Write");

  os::sleepMs(1500);
  radio.faults.cut = true;
  EXPECT_EQ(runIt(), ResultLinkNg);
  EXPECT_EQ(result.outcome.portNumber, 0u) << "Link NG is no one port's";
}

TEST(ReceivedShare, IsCutTowardZeroAndMeetsAMinimumExactly) {
  auto direction = [](uint32_t received, uint32_t sent) {
    return RangeDirection{1, 2, sent, received, sent - received, 0, 0, 0};
  };
  char text[kShareTextChars];
  for (const auto& [received, sent, shown] : {std::tuple{1999u, 2000u, "99.9"},
                                              {999999u, 1000000u, "99.9"},
                                              {2000u, 2000u, "100.0"},
                                              {2u, 3u, "66.6"},
                                              {0u, 0u, "0.0"}}) {
    receivedShareText(direction(received, sent), text);
    EXPECT_STREQ(text, shown);
  }
  constexpr uint32_t kAll = 100 * kShareMinimumPerPercent;
  RangeResult r;
  r.directionCount = 2;
  r.directions[0] = direction(2000, 2000);
  r.directions[1] = direction(1999, 2000);
  EXPECT_FALSE(sharesMeet(r, kAll));
  EXPECT_TRUE(sharesMeet(r, kAll - 500)) << "99.95 % is 99.95 %";
  EXPECT_FALSE(sharesMeet(r, kAll - 499));
  r.directions[1] = direction(0, 0);
  EXPECT_TRUE(sharesMeet(r, 0));
  EXPECT_FALSE(sharesMeet(r, 1)) << "nothing sent shows no share";
  EXPECT_FALSE(sharesMeet(RangeResult{}, 0)) << "no test ran";
}

TEST_F(PairRunTest, ARangeProfileFailsTheLinkStepWhenADirectionFallsShort) {
  useProfile("[Range]\nPackets = 40\nMin Received = 90\n");
  radio.seed(3);
  radio.faults.lossPercentFrom[slave.get()] = 50;
  EXPECT_EQ(runIt(), ResultLinkNg);
  EXPECT_EQ(result.failedStep, PairStep::LinkTest);
  EXPECT_EQ(result.linkVerdict, 0);
  EXPECT_EQ(result.range.directions[0].sent + result.range.directions[1].sent, 80u);
  auto row = recordRow(result);
  const std::string back = row["Slave to Master Received %"];
  const RangeDirection& d = result.range.directions[1];
  EXPECT_NEAR(std::stod(back), 100.0 * d.received / d.sent, 0.1);
  EXPECT_LT(std::stod(back), 90.0);
  EXPECT_EQ(row["Link Test"] + " " + row["Master to Slave Received %"] + " " +
                row["Round Trip Median ms"],
            "NG 100.0 ")
      << "both modules here: no round trip";
  const std::wstring detail = result.detail;
  EXPECT_EQ(detail, L"received Master to Slave 100.0 %, Slave to Master " +
                        std::wstring(back.begin(), back.end()) + L" %; at least 90 % needed");
  EXPECT_FALSE(master->inCommandMode() || slave->inCommandMode());

  radio.faults.lossPercentFrom.clear();
  os::sleepMs(1500);  // the modules' guard time after the packets
  EXPECT_EQ(runIt(), 0);
  row = recordRow(result);
  EXPECT_EQ(row["Link Test"] + " " + row["Master to Slave Received %"] + " " +
                row["Slave to Master Received %"],
            "OK 100.0 100.0");
  // A pass shows the shares as a failure does.
  EXPECT_EQ(pairResultDetails(result, L"", L"", L"|").substr(0, 91),
            L"Link Test: received Master to Slave 100.0 %, Slave to Master 100.0 %; at least 90 "
            L"% needed|");
}

// The slave's port goes, and its module with it, as the slave's packet 10
// has just left the host for the air: the run names that port, the log blames no other,
// and the record keeps no share of a test cut short.
TEST_F(PairRunTest, AnUnplugInTheRangeTestNamesItsPortAndRecordsNoShares) {
  useProfile("[Range]\nPackets = 40\nMin Received = 90\n");
  struct Watch {
    sim::Radio* radio;
    vw::World* world;
    LineLogBuffer log;
  } watch{&radio, &world, {}};
  setLineLogSink(
      &dialogLineLog,
      [](void* context, const char* line, uint32_t length) {
        auto* w = static_cast<Watch*>(context);
        appendToLineLog(&w->log, line, length);
        if (std::string(line, length).find("packet 10 from master") == std::string::npos)
          return;
        // Its adapter powered the module: the frame leaving it is lost too.
        w->radio->faults.dropNext = 1;
        w->world->after(vw::ms(34), [w] { w->world->removeSerialPort("COM4"); });
      },
      &watch);
  const int32_t code = runIt();
  setLineLogSink(&dialogLineLog, nullptr, nullptr);
  const std::string log = lineLogText(watch.log);
  EXPECT_EQ(code, ErrRead);
  EXPECT_EQ(result.failedStep, PairStep::LinkTest);
  EXPECT_EQ(pairFailureText(result, L"COM5", L"COM6"), L"Communication error. (COM6 failed)");
  EXPECT_EQ(log.find("packet 10 from slave"), std::string::npos) << log;
  EXPECT_NE(log.find("COM4 port gone"), std::string::npos) << log;
  const auto row = recordRow(result);
  EXPECT_EQ(row.at("Master to Slave Received %") + row.at("Slave to Master Received %"), "");
}

}  // namespace
