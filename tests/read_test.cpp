// Reading a module into its pane, against module models in virtual time.
#include "module/read.h"

#include <algorithm>

#include "link/at_command.h"
#include "link/discovery.h"
#include "link/port_activity.h"
#include "link/port_note.h"
#include "module/link_test.h"
#include "module/range_test.h"
#include "tests/support/pane_fixture.h"
#include "ui/dialog/rules.h"

namespace {

using Commands = std::vector<std::string>;

// Discovery's quick "+++" leaves the module in command mode: no second one.
const Commands kMasterRead = {"+++",  "ATGT", "ATVR", "ATID", "ATOI", "ATHV", "ATTP",
                              "ATNI", "ATSL", "ATSH", "ATDL", "ATDH", "ATSC", "ATBD",
                              "ATNB", "ATSB", "ATPL", "ATPM", "ATD7", "ATD6", "ATCN"};

class Read : public PaneTest {
 protected:
  int32_t read(PaneRecord* pane) {
    prepareOperation(pane);
    return readBody(pane);
  }
  // Sets the pane's cancel event when the host has received `crs` line ends
  // on `port`, in the same instant as the last one completes its read.
  void cancelAtLineEnd(PaneRecord* pane, const std::string& port, int crs, bool before = false) {
    prepareOperation(pane);
    world.onHostReceived = [pane, port, crs, before, seen = 0](const std::string& p,
                                                               uint8_t byte) mutable {
      if (p != port)
        return;
      // `before`: at the first byte of the next line instead, mid-transfer.
      if (before ? seen == crs : byte == '\r' && seen + 1 == crs)
        os::setEvent(pane->cancelEvent);
      if (byte == '\r')
        ++seen;
    };
  }
};

TEST_F(Read, MasterIsReadCompletelyAndShown) {
  master->setReg("SC", 0x0300);
  master->setReg("BD", 3);
  ASSERT_EQ(read(&masterPane), 0);
  EXPECT_EQ(commands("COM3"), kMasterRead) << "never ATSM on the master";
  EXPECT_STREQ(masterPane.module.nodeId, "KOV-NL001/M");
  EXPECT_EQ(masterPane.module.firmwareVersion, 0x2041);
  EXPECT_EQ(masterPane.module.read[Setting::PanId], 0x1234u);
  EXPECT_EQ(masterPane.module.shown[Setting::PanId], 0x1234u);
  EXPECT_EQ(masterPane.module.serialLow, 0x40000001u);
  EXPECT_EQ(masterPane.module.shown[Setting::DestLow], 0x40000002u);
  EXPECT_EQ(masterPane.module.read[Setting::Channel], 19) << "the lowest bit of 0x300";
  EXPECT_EQ(masterPane.module.channelLimit, 26);
  EXPECT_EQ(masterPane.module.shown[Setting::BaudRate], 3u);
  EXPECT_EQ(masterPane.module.read[Setting::SleepMode], 0) << "untouched on the master";
  EXPECT_EQ(masterPane.session.port, nullptr);
  EXPECT_EQ(view().calls,
            (std::vector<std::string>{"clearPaneDisplay master", "fillChannelList",
                                      "displayPane master", "postOperationDone master"}));
  EXPECT_EQ(view().channelLimits[masterPane.control[indexOf(Setting::Channel)]], 26);
  EXPECT_TRUE(world.entries("COM3", vw::Event::BreakOn).empty()) << "quick path: no break";
  EXPECT_FALSE(master->inCommandMode()) << "left in transparent mode";
}

TEST_F(Read, SlaveReadAddsSleepMode) {
  slave->setReg("SM", 0);
  ASSERT_EQ(read(&slavePane), 0);
  Commands expected = kMasterRead;
  expected.insert(expected.begin() + 18, "ATSM");
  EXPECT_EQ(commands("COM4"), expected);
  EXPECT_EQ(slavePane.module.read[Setting::SleepMode], 0);
  EXPECT_EQ(slavePane.module.read[Setting::PowerSave], 1);
  EXPECT_STREQ(shownText(slavePane.module, Setting::SleepMode), L"No Sleep");
}

TEST_F(Read, WrongRoleEndsTheReadButLeavesCommandMode) {
  master->setReg("VR", 0x2241);  // a slave's firmware in the master pane
  EXPECT_EQ(read(&masterPane), ResultNotMaster);
  EXPECT_EQ(commands("COM3"), (Commands{"+++", "ATGT", "ATVR", "ATCN"}));
  EXPECT_EQ(masterPane.module.firmwareVersion, 0x2241);
  EXPECT_EQ(masterPane.module.nodeId[0], 0);
  EXPECT_EQ(view().count("displayPane master"), 0);
  EXPECT_EQ(view().count("postOperationDone master"), 1);

  slave->setReg("VR", 0x2041);
  EXPECT_EQ(read(&slavePane), ResultNotSlave);
}

TEST_F(Read, EitherRoleModuleIsDecidedByItsNodeId) {
  master->setReg("VR", 0x4010);
  EXPECT_EQ(read(&masterPane), 0);
  slave->setReg("VR", 0x4010);
  slave->setReg("SM", 0);
  makeModules(masterConfig(), masterConfig());  // a master's node id in the slave pane
  slave->setReg("VR", 0x4010);
  EXPECT_EQ(read(&slavePane), ResultNotSlave);
  EXPECT_STREQ(slavePane.module.nodeId, "KOV-NL001/M") << "kept for the message";
  EXPECT_EQ(commands("COM4").back(), "ATCN");
}

// The command line's read without --role: the module says what it is.
TEST_F(Read, ReadTakingEitherRoleFollowsTheModule) {
  makeModules(slaveConfig(), slaveConfig());  // a slave on the master pane's port
  master->setReg("SM", 0);
  prepareOperation(&masterPane);
  const auto readEither = [] {
    Session s = paneSession(&masterPane);
    s.options.eitherRole = true;
    return readModule(s).code;
  };
  const int32_t bySlaveFirmware = readEither();
  const bool firstAsSlave = masterPane.module.isMaster == 0;
  masterPane.module.isMaster = 1;
  master->setReg("VR", 0x4010);       // either role: its node identifier decides
  os::sleepMs(kMinimumGuardDelayMs);  // the module's guard time before the next "+++"
  const int32_t byNodeId = readEither();
  EXPECT_EQ(bySlaveFirmware, 0);
  EXPECT_TRUE(firstAsSlave);
  EXPECT_EQ(byNodeId, 0);
  EXPECT_EQ(masterPane.module.isMaster, 0);
  ASSERT_GT(commands("COM3").size(), 18u);
  EXPECT_EQ(commands("COM3")[18], "ATSM") << "read as the slave it is";
}

TEST_F(Read, NodeIdMustMatchExactly) {
  for (const char* id : {"kov-nl001/m", "KOV-NL001/M ", "KOV-NL001/", "KOV-NL001/MKOV-NL001/MXX"}) {
    auto config = masterConfig();
    config.nodeId = id;
    makeModules(config, slaveConfig());
    EXPECT_EQ(read(&masterPane), ResultNotMaster) << id;
  }
  EXPECT_EQ(std::string(masterPane.module.nodeId), "KOV-NL001/MKOV-NL001")
      << "cut to 20 characters";
}

TEST_F(Read, ANodeIdCutShortIsNoNodeId) {
  ASSERT_EQ(read(&masterPane), 0);
  os::sleepMs(1500);                         // the module's guard time, before the next quick "+++"
  master->faults.replaceReply["NI"] = "XY";  // and then silence
  EXPECT_EQ(read(&masterPane), ErrTimeout);
  EXPECT_STREQ(masterPane.module.nodeId, "") << "nothing of the earlier identifier shows through";
}

TEST_F(Read, NodeIdIsComparedOverAllItsBytes) {
  master->faults.replaceReply["NI"] = std::string("KOV-NL001/M\0XX\r", 15);
  EXPECT_EQ(read(&masterPane), ResultNotMaster);
  EXPECT_EQ(commands("COM3").back(), "ATCN");
}

TEST_F(Read, EmptyNodeIdIsALinkError) {
  auto config = masterConfig();
  config.nodeId = "";
  makeModules(config, slaveConfig());
  EXPECT_EQ(read(&masterPane), ErrRead);
  EXPECT_EQ(commands("COM3").back(), "ATCN");
}

TEST_F(Read, CancelAtACheckLeavesCommandModeCleanly) {
  cancelAtLineEnd(&masterPane, "COM3", 6);  // the line end of the ATHV reply
  EXPECT_EQ(read(&masterPane), ResultCancelled);
  EXPECT_EQ(commands("COM3"), (Commands{"+++", "ATGT", "ATVR", "ATID", "ATOI", "ATHV", "ATCN"}))
      << "the cancel that stays set must not stop the way out";
  EXPECT_FALSE(master->inCommandMode());
}

TEST_F(Read, CancelDuringATransferIsALinkError) {
  cancelAtLineEnd(&masterPane, "COM3", 5, true);  // first byte of the ATHV reply
  EXPECT_EQ(read(&masterPane), ErrCancelled);
  EXPECT_EQ(masterPane.module.hardwareVersion, 0xFFFF);
}

TEST_F(Read, CancelRightAfterDiscoveryStillLeavesCommandMode) {
  prepareOperation(&masterPane);
  view().onResetPrompt = nullptr;
  ASSERT_EQ(openPanePort(&masterPane), 0);
  ASSERT_TRUE(
      discoverSerialSettings(masterPane.session.port, windowResetPrompt(masterPane.resetPrompt)));
  os::setEvent(masterPane.cancelEvent);
  EXPECT_EQ(readAndVerify(paneSession(&masterPane)), ResultCancelled);
  EXPECT_EQ(commands("COM3"), (Commands{"+++", "ATCN"}));
  EXPECT_FALSE(master->inCommandMode());
  closePort(masterPane.session.port);
  masterPane.session.port = nullptr;
}

TEST_F(Read, CancelBeforeTheEscapeSendsNothingMore) {
  prepareOperation(&masterPane);
  ASSERT_EQ(openPanePort(&masterPane), 0);
  os::setEvent(masterPane.cancelEvent);
  EXPECT_EQ(readAndVerify(paneSession(&masterPane)), ResultCancelled);
  EXPECT_TRUE(world.hostBytes("COM3").empty());
  closePort(masterPane.session.port);
  masterPane.session.port = nullptr;
}

// A later process of the program finds the port's note of the last byte
// sent and waits only what is left of the guard time; a note it cannot
// trust makes it wait the whole guard time, so that its "+++" is taken.
TEST_F(Read, ALaterProcessWaitsWhatTheNoteLeavesOfTheGuardTime) {
  enum class Note { Kept, Garbage, AheadOfTheClock, GuardOfNoModule, Unreadable };
  for (const Note note : {Note::Kept, Note::Garbage, Note::AheadOfTheClock, Note::GuardOfNoModule,
                          Note::Unreadable}) {
    SCOPED_TRACE(static_cast<int>(note));
    ASSERT_EQ(read(&masterPane), 0);
    const vw::TimeUs lastByte = world.entries("COM3", vw::Event::HostByte).back().at;
    os::sleepMs(400);
    forgetPortActivity();  // what the new process knows: the notes only
    forgetPortModules();
    const char garbage[] = "NLCONF port note 1\nsent 4";  // cut short
    if (note == Note::Garbage)
      os::writePortNote(3, garbage, sizeof garbage - 1);
    if (note == Note::AheadOfTheClock || note == Note::GuardOfNoModule) {
      // Another user's note, or anyone's: used within bounds, never trusted.
      PortNote told;
      told.sent = true;
      told.sentAtMs = note == Note::AheadOfTheClock ? os::bootClockMs() + 5000 : 0;
      told.guard = note == Note::GuardOfNoModule;
      told.guardTimeMs = 0x10000;
      char text[kPortNoteCapacity];
      os::writePortNote(3, text, static_cast<uint32_t>(formatPortNote(told, text, sizeof text)));
    }
    if (note == Note::Unreadable)
      world.failCall(vw::Call::ReadNote);
    const vw::TimeUs openedAt = world.now();
    const size_t before = world.entries("COM3", vw::Event::HostByte).size();
    EXPECT_EQ(read(&masterPane), 0);
    EXPECT_EQ(view().count("showResetPrompt"), 0);
    const vw::TimeUs escape = world.entries("COM3", vw::Event::HostByte)[before].at;
    const vw::TimeUs from = note == Note::Kept ? lastByte : openedAt;
    EXPECT_GE(escape, from + vw::ms(kDefaultGuardDelayMs));
    EXPECT_LE(escape, from + vw::ms(kDefaultGuardDelayMs + 10));
  }
}

// The clock the notes keep counts whole milliseconds: a last byte at 0.9 ms
// past one is 1119.1 ms back at the 1120th, and the guard is not yet over.
TEST_F(Read, TheGuardIsNeverCutShortByTheClocksWholeMilliseconds) {
  const vw::TimeUs lastByte = (world.now() / 1000 + 1) * 1000 + 900;
  uint32_t left = 0;
  world.at(lastByte, [] { noteBytesSent(3); });
  world.at(lastByte + vw::ms(kDefaultGuardDelayMs) - 900,
           [&left] { left = guardTimeLeftMs(3, kDefaultGuardDelayMs); });
  os::sleepMs(kDefaultGuardDelayMs + 10);
  EXPECT_EQ(left, 1u);
}

// Right after a Link Test or a range test on its port, the Read's "+++"
// waits out what is left of the module's guard time since the last byte
// sent, so that the module takes it rather than pass it on as data; a
// Cancel ends that wait at once.
TEST_F(Read, AReadRightAfterTrafficOnItsPortWaitsOutTheGuardTime) {
  for (const bool range : {false, true}) {
    RangeResult r;
    ASSERT_EQ(
        range ? runPaneRangeTest({RangeWay::BothHere, 5, kRangeDefaultSize}, &r) : testPaneLink(),
        range ? 0 : kLinkPass);
    const vw::TimeUs lastByte = world.entries("COM3", vw::Event::HostByte).back().at;
    const size_t before = world.entries("COM3", vw::Event::HostByte).size();
    EXPECT_EQ(read(&masterPane), 0) << (range ? "after a range test" : "after a Link Test");
    EXPECT_EQ(view().count("showResetPrompt"), 0);
    const vw::TimeUs escape = world.entries("COM3", vw::Event::HostByte)[before].at;
    EXPECT_GE(escape, lastByte + vw::ms(kDefaultGuardDelayMs));
    EXPECT_LE(escape, lastByte + vw::ms(kDefaultGuardDelayMs + 10)) << "the rest, not all again";
  }
  ASSERT_EQ(testPaneLink(), kLinkPass);
  prepareOperation(&masterPane);
  const size_t sent = world.hostBytes("COM3").size();
  const vw::TimeUs cancelAt = world.now() + vw::ms(300);
  world.at(cancelAt, [] { os::setEvent(masterPane.cancelEvent); });
  EXPECT_EQ(readBody(&masterPane), ResultCancelled);
  EXPECT_LE(world.now() - cancelAt, vw::ms(1));
  EXPECT_EQ(world.hostBytes("COM3").size(), sent) << "no \"+++\" once cancelled";
}

// Radio data that the module lets out while the Read waits out the guard
// time (a late echo of a range test's packet, with its CR) came before the
// "+++" and is no answer to it.
TEST_F(Read, RadioDataBeforeTheEscapeIsNoAnswerToIt) {
  ASSERT_EQ(testPaneLink(), kLinkPass);
  master->inject(world.now() + vw::ms(500), "E\r");
  EXPECT_EQ(read(&masterPane), 0);
  EXPECT_EQ(view().count("showResetPrompt"), 0);
}

TEST_F(Read, ComparisonWarnsInOrderButTheReadStands) {
  slave->setReg("SM", 0);
  ASSERT_EQ(read(&slavePane), 0);
  EXPECT_TRUE(view().errors.empty()) << "the other pane was empty";
  master->setReg("ID", 0x9999);
  master->setReg("DL", 0x12345678);
  ASSERT_EQ(read(&masterPane), 0);
  EXPECT_EQ(view().errors, (std::vector<std::wstring>{L"Extended PAN ID is not match.",
                                                      L"Destination address is not correct."}));
  EXPECT_EQ(view().count("displayPane master"), 1);
}

TEST_F(Read, MatchingPairGivesNoWarning) {
  slave->setReg("SM", 0);
  ASSERT_EQ(read(&slavePane), 0);
  ASSERT_EQ(read(&masterPane), 0);
  EXPECT_TRUE(view().errors.empty());
}

TEST_F(Read, PortNumberComesFromThePortListEntry) {
  EXPECT_EQ(portNumberFromText(L"Simulated Module Port (COM5)"), 5);
  EXPECT_EQ(portNumberFromText(L"COM10"), 10);
  EXPECT_EQ(portNumberFromText(L"USB Serial (COM 7)"), 7) << "white space is skipped";
  EXPECT_EQ(portNumberFromText(L"com5"), -1) << "case-sensitive";
  EXPECT_EQ(portNumberFromText(L""), -1);
  EXPECT_EQ(portNumberFromText(L"COMX"), 0);
  EXPECT_EQ(portNumberFromText(L"COM99999999999"), -1) << "saturates";

  // 0 fails before the cancel check, 256 after it.
  prepareOperation(&masterPane);
  os::setEvent(masterPane.cancelEvent);
  view().texts[masterPane.portCombo] = L"COM0";
  pickPorts();
  EXPECT_EQ(openPanePort(&masterPane), ErrNoPort);
  view().texts[masterPane.portCombo] = L"COM256";
  pickPorts();
  EXPECT_EQ(openPanePort(&masterPane), ResultCancelled);
  os::resetEvent(masterPane.cancelEvent);
  EXPECT_EQ(openPanePort(&masterPane), ErrNoPort);
  EXPECT_EQ(masterPane.portNumber, 256);
}

TEST_F(Read, MissingPortEndsTheReadWithItsMessagePosted) {
  view().texts[masterPane.portCombo] = L"COM9";
  pickPorts();
  EXPECT_EQ(read(&masterPane), ErrNoPort);
  EXPECT_EQ(view().calls,
            (std::vector<std::string>{"clearPaneDisplay master", "postOperationDone master"}));
  // The failure says where it happened and why, for a face that names it.
  const Outcome& outcome = masterPane.session.outcome;
  EXPECT_EQ(outcome.code, ErrNoPort);
  EXPECT_EQ(outcome.portNumber, 9u);
  EXPECT_STREQ(outcome.step, "Read");
  EXPECT_EQ(outcome.systemError, os::kErrorFileNotFound) << "the open's own error, kept";
}

}  // namespace

namespace {

TEST_F(Read, ModuleAtOtherSettingsIsReadAfterTheResetKey) {
  makeModules(masterConfig(), sim::presets::slave());
  slave->setReg("BD", 5);
  slave->setReg("NB", 1);
  slave->setReg("SB", 1);
  world.at(vw::ms(4000), [this] { slave->pressResetKey(world.now()); });
  ASSERT_EQ(read(&slavePane), 0);
  EXPECT_STREQ(slavePane.module.nodeId, "KOV-NL001/S");
  EXPECT_EQ(slavePane.module.read[Setting::BaudRate], 5u);
  EXPECT_EQ(view().count("showResetPrompt"), 1);
  EXPECT_EQ(view().count("hideResetPrompt"), 1);
  const os::LineSettings line = world.line("COM4")->settings;
  EXPECT_EQ(line.baudRate, 38400u);
  EXPECT_EQ(line.parity, os::kEvenParity);
  EXPECT_EQ(line.stopBits, os::kTwoStopBits);
  EXPECT_EQ(slavePane.session.port, nullptr);
}

// Two sessions in one process, each with its face's own line log and reset
// prompt: each log holds its own port's lines only, each prompt its module.
TEST_F(Read, TwoSessionsKeepTheirOwnLogsAndPrompts) {
  makeModules(masterConfig(), slaveConfig());
  master->setReg("BD", 5);
  slave->setReg("BD", 5);
  struct Face {
    LineLog log;
    LineLogBuffer lines;
    std::vector<uint32_t> asked;
    sim::Module* module;
    vw::World* world;
  } faces[2];
  const auto asked = [](void* face, uint32_t port) {
    Face& f = *static_cast<Face*>(face);
    f.asked.push_back(port);
    f.world->after(vw::ms(2000), [&f] { f.module->pressResetKey(f.world->now()); });
  };
  PaneRecord* panes[2] = {&masterPane, &slavePane};
  for (int i = 0; i < 2; ++i) {
    faces[i].module = i ? slave.get() : master.get();
    faces[i].world = &world;
    setLineLogSink(&faces[i].log, appendToLineLog, &faces[i].lines);
    prepareOperation(panes[i]);
    Session& s = paneSession(panes[i]);
    s.lineLog = &faces[i].log;
    s.resetPrompt = ResetPrompt{asked, [](void*, uint32_t) {}, &faces[i]};
    ASSERT_EQ(readModule(s).code, 0);
  }
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(faces[i].asked, std::vector<uint32_t>{i ? 4u : 3u});
    const std::string text = lineLogText(faces[i].lines);
    EXPECT_NE(text.find(i ? " COM4 " : " COM3 "), std::string::npos);
    EXPECT_EQ(text.find(i ? " COM3 " : " COM4 "), std::string::npos) << text;
  }
  EXPECT_EQ(view().count("showResetPrompt"), 0) << "the dialog's prompt asked nobody";
}

// Whatever way a Read ends short, nothing stays for Write or Set Default.
TEST_F(Read, AFailedReadLeavesNoModuleData) {
  ASSERT_EQ(read(&masterPane), 0);
  master->setReg("BD", 5);  // no longer talks at 9600
  master->powerCycle();
  EXPECT_EQ(read(&masterPane), ErrNoPort);
  const ButtonStates buttons = buttonStates(&masterPane, &slavePane, 1, 1);
  EXPECT_FALSE(buttons.masterWrite || buttons.setDefault);
  slave->faults.withholdReply["SL"] = 1;  // cut short after the node identifier
  EXPECT_EQ(read(&slavePane), ErrTimeout);
  EXPECT_FALSE(holdsModuleData(&slavePane.module));
}

// Cancel during the quick test of a module at 38400 ends the search there,
// once the "+++" has had its time to be answered.
TEST_F(Read, CancelWhileTheModuleIsSoughtEndsTheSearch) {
  slave->setReg("BD", 5);
  prepareOperation(&slavePane);
  const vw::TimeUs start = world.now();
  world.at(start + vw::ms(500), [] { os::setEvent(slavePane.cancelEvent); });
  EXPECT_EQ(readBody(&slavePane), ResultCancelled);
  EXPECT_LE(world.now(), start + vw::ms(kDefaultIoTimeoutMs + 10)) << "stops at the cancel";
  EXPECT_EQ(world.hostBytes("COM4"), "+++") << "no frame, no pulses";
  EXPECT_EQ(view().count("showResetPrompt"), 0);
}

// A module the reset key put in command mode is still taken out of it.
TEST_F(Read, CancelAfterTheResetKeyLeavesCommandMode) {
  slave->setReg("BD", 5);
  world.at(world.now() + vw::ms(4000), [this] { slave->pressResetKey(world.now()); });
  cancelAtLineEnd(&slavePane, "COM4", 1);  // the baud reply
  EXPECT_EQ(readBody(&slavePane), ResultCancelled);
  EXPECT_FALSE(slave->inCommandMode());
}

// Wherever a cancel lands, the module ends out of command mode, and "ATCN"
// goes only to a module in command mode: in transparent mode it is radio data.
TEST_F(Read, CancelAnywhereLeavesTheModuleOutOfCommandMode) {
  for (uint32_t at : {0u, 300u, 500u, 900u, 1005u, 1030u, 1100u, 1200u}) {
    makeModules(masterConfig(), slaveConfig());
    prepareOperation(&masterPane);
    os::resetEvent(masterPane.cancelEvent);
    const size_t sentBefore = commands("COM3").size();
    world.at(world.now() + vw::ms(at), [] { os::setEvent(masterPane.cancelEvent); });
    EXPECT_NE(readBody(&masterPane), 0) << "cancel at " << at << " ms";
    os::sleepMs(3000);  // a late "OK" would have come by now
    EXPECT_FALSE(master->inCommandMode()) << "cancel at " << at << " ms";
    const Commands sent = commands("COM3");
    const auto atcnSent = std::count(sent.begin() + sentBefore, sent.end(), "ATCN");
    const auto atcnTaken =
        std::count(master->commandLog().begin(), master->commandLog().end(), "ATCN");
    EXPECT_EQ(atcnSent, atcnTaken) << "cancel at " << at << " ms";
  }
}

TEST_F(Read, NoKeyPressIsNoPort) {
  slave->setReg("BD", 7);
  EXPECT_EQ(read(&slavePane), ErrNoPort);
  EXPECT_EQ(view().count("hideResetPrompt"), 1);
  EXPECT_EQ(slavePane.module.nodeId[0], 0);
}

TEST_F(Read, PresetsFailTheirChecks) {
  struct Case {
    sim::ModuleConfig config;
    bool masterPaneUsed;
    int32_t result;
  } cases[] = {
      {sim::presets::masterWithSlaveRole(), true, ResultNotMaster},
      {sim::presets::slaveWithMasterRole(), false, ResultNotSlave},
      {sim::presets::masterWithSharedRole(), true, 0},
      {sim::presets::slaveWithSharedRole(), false, 0},
      {sim::presets::masterWithWrongNodeId(), true, ResultNotMaster},
      {sim::presets::slaveWithWrongNodeId(), false, ResultNotSlave},
  };
  for (const Case& c : cases) {
    masterPane.module.nodeId[0] = slavePane.module.nodeId[0] = 0;
    if (c.masterPaneUsed) {
      makeModules(c.config, sim::presets::slave());
    } else {
      makeModules(sim::presets::master(), c.config);
    }
    EXPECT_EQ(read(c.masterPaneUsed ? &masterPane : &slavePane), c.result) << c.config.nodeId;
  }
}

TEST_F(Read, MismatchedPresetPairWarnsTwiceInOrder) {
  auto slaveConfig = sim::presets::slaveWithWrongDestination();
  slaveConfig.registers["ID"] = sim::presets::master().registers.at("ID") + 1;
  makeModules(sim::presets::master(), slaveConfig);
  ASSERT_EQ(read(&masterPane), 0);
  ASSERT_EQ(read(&slavePane), 0);
  EXPECT_EQ(view().errors, (std::vector<std::wstring>{L"Extended PAN ID is not match.",
                                                      L"Destination address is not correct."}));
}

}  // namespace

// Where a read looks for a module before it asks for the reset key.
class ReadSearch : public Read {
 protected:
  Session& slaveSession(bool everySetting, bool resetKey, LineGuess named = {},
                        LineGuess profile = {}) {
    prepareOperation(&slavePane);
    Session& s = paneSession(&slavePane);
    s.options.search.everySetting = everySetting;
    s.options.search.resetKey = resetKey;
    s.options.search.named = named;
    s.options.search.profile = profile;
    return s;
  }
  // The line each "+++" went out at on the slave's port, in order.
  std::vector<LineGuess> escapeLines() const {
    std::vector<LineGuess> lines;
    int pluses = 0;
    for (const vw::Entry& e : world.entries("COM4", vw::Event::HostByte)) {
      pluses = e.value == '+' ? pluses + 1 : 0;
      if (pluses == 3)
        lines.push_back({e.settings.baudRate, e.settings.parity, e.settings.stopBits});
      pluses %= 3;
    }
    return lines;
  }
  // A module the dialog has not met.
  void slaveAt(uint64_t bd, uint64_t nb, uint64_t sb) {
    paneLines = LineMemory{};
    makeModules(masterConfig(), slaveConfig());
    slave->setReg("BD", bd);
    slave->setReg("NB", nb);
    slave->setReg("SB", sb);
  }
};

constexpr LineGuess k115200{115200, os::kNoParity, os::kOneStopBit};

TEST_F(ReadSearch, ANamedSettingFindsTheModuleAtOnce) {
  slaveAt(7, 0, 0);
  ASSERT_EQ(readModule(slaveSession(false, true, k115200)).code, 0);
  EXPECT_EQ(escapeLines(), std::vector<LineGuess>{k115200});
  EXPECT_EQ(commands("COM4")[1], "ATGT") << "the queries follow the one \"+++\"";
  EXPECT_EQ(view().count("showResetPrompt"), 0);
  EXPECT_LT(nowMs(), 1200.0);
}

TEST_F(ReadSearch, TriesGoNamedRememberedDefaultProfileThenEverySetting) {
  slaveAt(4, 0, 0);  // 19200 8-N-1
  const LineGuess named{57600, os::kNoParity, os::kOneStopBit};
  const LineGuess remembered{38400, os::kEvenParity, os::kTwoStopBits};
  paneLines.port[4] = remembered;
  Session& s = slaveSession(true, true, named, k115200);
  ASSERT_EQ(readModule(s).code, 0);
  const LineGuess n1[] = {{9600}, {38400}, {19200}};
  EXPECT_EQ(escapeLines(),
            (std::vector<LineGuess>{named, remembered, n1[0], k115200, n1[1], n1[2]}))
      << "each setting once, the search's common rates next";
  EXPECT_EQ(view().count("showResetPrompt"), 0);
  EXPECT_EQ(paneLines.port[4], n1[2]) << "the dialog remembers where it found the module";
}

TEST_F(ReadSearch, EveryRateOfTheModulesListIsFoundWithoutTheKey) {
  const uint32_t rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  // Factory, then the rates people pick most, at 8-N-1 before any other frame.
  const uint32_t order[] = {9600, 115200, 38400, 57600, 19200, 4800, 2400, 1200};
  for (uint64_t code = 0; code < 8; ++code) {
    slaveAt(code, 0, 0);
    forgetPortActivity();  // a module no process found on the port before
    const char unknown[] = "NLCONF port note 1\n";
    os::writePortNote(4, unknown, sizeof unknown - 1);
    const size_t before = escapeLines().size();
    ASSERT_EQ(readModule(slaveSession(true, false)).code, 0) << code;
    EXPECT_EQ(slavePane.module.read[Setting::BaudRate], code);
    EXPECT_EQ(world.line("COM4")->settings.baudRate, rates[code]);
    const size_t place = std::find(order, order + 8, rates[code]) - order;
    EXPECT_EQ(escapeLines().size() - before, place + 1) << rates[code];
    os::sleepMs(1200);
  }
  EXPECT_TRUE(world.entries("COM4", vw::Event::BreakOn).empty());
  EXPECT_EQ(view().count("showResetPrompt"), 0);
}

// Where any process last found or set the module is tried first, across
// processes; a note's line is only a first try, never trusted.
TEST_F(ReadSearch, WhereTheModuleWasLastFoundIsTriedFirstByTheNextProcess) {
  slaveAt(7, 1, 1);  // 115200 8-E-2: only the key tells it, the first time
  world.at(vw::ms(3000), [this] { slave->pressResetKey(world.now()); });
  ASSERT_EQ(readModule(slaveSession(false, true)).code, 0);
  os::sleepMs(1200);
  forgetPortActivity();  // the next process knows only the note
  const size_t before = escapeLines().size();
  ASSERT_EQ(readModule(slaveSession(false, false)).code, 0) << "no key, no search";
  EXPECT_EQ(escapeLines().size() - before, 1u) << "found at the first try";
  // A module elsewhere now: the note costs one try, then the search goes on.
  os::sleepMs(1200);
  slaveAt(3, 0, 0);
  forgetPortActivity();
  const size_t again = escapeLines().size();
  ASSERT_EQ(readModule(slaveSession(false, false)).code, 0);
  EXPECT_EQ(escapeLines().size() - again, 2u);
}

// A bench without a person: no key is asked for, and the command ends after
// its tries with a result that says so (exit 3).
TEST_F(ReadSearch, WithoutTheResetKeyAModuleNoTryFindsFailsInBoundedTime) {
  slaveAt(5, 0, 0);
  ASSERT_EQ(readModule(slaveSession(false, false)).code, ResultNotFound);
  EXPECT_LT(nowMs(), 1300.0) << "one try at 9600";
  EXPECT_EQ(resultMessage(ResultNotFound).exitCode, ExitCommunication);
  // The whole search's worst case, as the README gives it: a rate none of
  // its tries names.
  slaveAt(0x38400, 0, 0);
  const vw::TimeUs start = world.now();
  const size_t before = escapeLines().size();
  ASSERT_EQ(readModule(slaveSession(true, false)).code, ResultNotFound);
  EXPECT_EQ(escapeLines().size() - before, 64u) << "8 rates, 4 parities, 2 stop bits";
  const double searchMs = (world.now() - start) / 1000.0;
  EXPECT_GT(searchMs, 64 * 1200.0);
  EXPECT_LT(searchMs, 78000.0);
  EXPECT_TRUE(world.entries("COM4", vw::Event::BreakOn).empty());
  EXPECT_EQ(view().count("showResetPrompt"), 0);
  EXPECT_EQ(slavePane.session.port, nullptr);
  // Cancel ends the search within the try in flight.
  Session& s = slaveSession(true, true);
  const vw::TimeUs cancelAt = world.now() + vw::ms(5000);
  world.at(cancelAt, [] { os::setEvent(slavePane.cancelEvent); });
  EXPECT_EQ(readModule(s).code, ResultCancelled);
  EXPECT_LT(world.now(), cancelAt + vw::ms(1300));
  EXPECT_EQ(view().count("showResetPrompt"), 0);
}
