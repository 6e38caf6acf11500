// The main dialog's rules that need no window: buttons, colours, texts,
// commands, list positions, port names, and what a port change does to the
// panes while an operation runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "link/port_table.h"
#include "module/read.h"
#include "platform/virtual/world.h"
#include "sim/module.h"
#include "tests/support/module_peer.h"
#include "tests/support/recording_view.h"
#include "ui/dialog/device_changes.h"
#include "ui/dialog/pane.h"
#include "ui/dialog/rules.h"
#include "ui/range_test/range_view.h"
#include "ui/shared/dialog_fit.h"

namespace {

// Two panes as a read of a matching pair of modules leaves them: every Shown
// value equal to its Read value, and each module addressing the other.
void makeLinkedPair() {
  masterPane = PaneRecord{};
  slavePane = PaneRecord{};
  masterPane.module.isMaster = 1;
  for (PaneRecord* p : {&masterPane, &slavePane}) {
    std::snprintf(p->module.nodeId, kNodeIdSize, "%s",
                  p->module.isMaster ? kMasterNodeId : kSlaveNodeId);
    p->module.read[Setting::PanId] = p->module.shown[Setting::PanId] = 0x1234;
    p->module.read[Setting::Channel] = p->module.shown[Setting::Channel] = 20;
    p->module.read[Setting::BaudRate] = p->module.shown[Setting::BaudRate] = 3;
    p->module.read[Setting::Parity] = p->module.shown[Setting::Parity] = 0;
    p->module.read[Setting::StopBits] = p->module.shown[Setting::StopBits] = 0;
    p->module.read[Setting::PowerLevel] = p->module.shown[Setting::PowerLevel] = 4;
    p->module.read[Setting::BoostMode] = p->module.shown[Setting::BoostMode] = 1;
    p->module.read[Setting::FlowControl] = p->module.shown[Setting::FlowControl] = 1;
    p->module.read[Setting::D7Config] = p->module.shown[Setting::D7Config] = 1;
    p->module.read[Setting::D6Config] = p->module.shown[Setting::D6Config] = 1;
    p->module.serialHigh = 0x02004E4C;
    p->module.read[Setting::DestHigh] = p->module.shown[Setting::DestHigh] = 0x02004E4C;
  }
  slavePane.module.read[Setting::PowerSave] = slavePane.module.shown[Setting::PowerSave] = 0;
  slavePane.module.read[Setting::SleepMode] = slavePane.module.shown[Setting::SleepMode] = 4;
  masterPane.module.serialLow = 0x40000001;
  slavePane.module.serialLow = 0x40000002;
  masterPane.module.read[Setting::DestLow] = masterPane.module.shown[Setting::DestLow] = 0x40000002;
  slavePane.module.read[Setting::DestLow] = slavePane.module.shown[Setting::DestLow] = 0x40000001;
}

ButtonStates statesWithPorts(int32_t ports) {
  return buttonStates(&masterPane, &slavePane, ports, ports);
}

std::wstring panIdText(uint64_t value) {
  wchar_t text[kDisplayTextChars];
  formatPanIdText(value, text, kDisplayTextChars);
  return text;
}

std::wstring addressText(uint32_t value) {
  wchar_t text[kDisplayTextChars];
  formatAddressHalfText(value, text, kDisplayTextChars);
  return text;
}

WindowHandle fakeWindow(int id) {
  return reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(id));
}

// Every control of a pane gets a distinct fake handle: base + its offset.
void bindAllControls(PaneRecord* pane, int base) {
  pane->portCombo = fakeWindow(base);
  pane->readButton = fakeWindow(base + 1);
  pane->writeButton = fakeWindow(base + 2);
  pane->nodeIdField = fakeWindow(base + 3);
  pane->control[indexOf(Setting::PanId)] = fakeWindow(base + 4);
  pane->control[indexOf(Setting::DestHigh)] = fakeWindow(base + 5);
  pane->control[indexOf(Setting::DestLow)] = fakeWindow(base + 6);
  pane->control[indexOf(Setting::Channel)] = fakeWindow(base + 7);
  pane->control[indexOf(Setting::BaudRate)] = fakeWindow(base + 8);
  pane->control[indexOf(Setting::Parity)] = fakeWindow(base + 9);
  pane->control[indexOf(Setting::StopBits)] = fakeWindow(base + 10);
  pane->control[indexOf(Setting::PowerLevel)] = fakeWindow(base + 11);
  pane->control[indexOf(Setting::BoostMode)] = fakeWindow(base + 12);
  const int next = pane->module.isMaster ? base + 13 : base + 15;
  if (!pane->module.isMaster) {
    pane->control[indexOf(Setting::PowerSave)] = fakeWindow(base + 13);
    pane->control[indexOf(Setting::SleepMode)] = fakeWindow(base + 14);
  }
  pane->control[indexOf(Setting::FlowControl)] = fakeWindow(next);
  pane->control[indexOf(Setting::D7Config)] = fakeWindow(next + 1);
  pane->control[indexOf(Setting::D6Config)] = fakeWindow(next + 2);
}

class UiRules : public ::testing::Test {
 protected:
  void SetUp() override {
    view().clear();
    makeLinkedPair();
  }
};

// ---- buttons ----------------------------------------------------------------

using UiButtonRules = UiRules;

TEST_F(UiButtonRules, FreshPanesOfferOnlyReadAndOnlyWhereAPortIsListed) {
  resetPane(&masterPane.module);
  resetPane(&slavePane.module);
  ButtonStates s = buttonStates(&masterPane, &slavePane, 1, 0);
  EXPECT_TRUE(s.masterRead);
  EXPECT_FALSE(s.slaveRead) << "the slave's list is empty";
  EXPECT_FALSE(s.masterWrite);
  EXPECT_FALSE(s.slaveWrite);
  EXPECT_FALSE(s.copyToSlave);
  EXPECT_FALSE(s.copyToMaster);
  EXPECT_FALSE(s.linkTest) << "two reset panes agree in every value, yet hold no modules";
  EXPECT_FALSE(s.setDefault);
  s = buttonStates(&masterPane, &slavePane, 0, 0);
  EXPECT_FALSE(s.masterRead);
}

TEST_F(UiButtonRules, OnePaneWithDataOffersItsWriteAndSetDefaultOnly) {
  resetPane(&slavePane.module);
  const ButtonStates s = statesWithPorts(2);
  EXPECT_TRUE(s.masterWrite);
  EXPECT_FALSE(s.slaveWrite);
  EXPECT_TRUE(s.setDefault);
  EXPECT_FALSE(s.copyToSlave);
  EXPECT_FALSE(s.copyToMaster);
  EXPECT_FALSE(s.linkTest);
}

TEST_F(UiButtonRules, BothPanesWithModulesThatAddressEachOtherOfferEverything) {
  const ButtonStates s = statesWithPorts(2);
  EXPECT_TRUE(s.masterRead && s.slaveRead && s.masterWrite && s.slaveWrite);
  EXPECT_TRUE(s.copyToSlave && s.copyToMaster && s.setDefault);
  EXPECT_TRUE(s.linkTest);
}

TEST_F(UiButtonRules, LinkTestNeedsEveryLinkConditionOnTheReadGroup) {
  struct Break {
    const char* what;
    std::function<void()> apply;
  };
  const std::vector<Break> breaks = {
      {"PAN IDs differ", [] { slavePane.module.read[Setting::PanId] = 0x1235; }},
      {"PAN IDs differ in the top bit",
       [] { slavePane.module.read[Setting::PanId] |= 1ull << 63; }},
      {"slave's DL is not the master's SL",
       [] { slavePane.module.read[Setting::DestLow] = 0x40000003; }},
      {"slave's DH is not the master's SH", [] { slavePane.module.read[Setting::DestHigh] = 0; }},
      {"master's DL is not the slave's SL",
       [] { masterPane.module.read[Setting::DestLow] = 0x40000001; }},
      {"master's DH is not the slave's SH", [] { masterPane.module.read[Setting::DestHigh] = 1; }},
      {"baud codes differ", [] { slavePane.module.read[Setting::BaudRate] = 4; }},
      {"baud codes differ beyond 8 bits", [] { slavePane.module.read[Setting::BaudRate] = 0x103; }},
      {"parities differ", [] { slavePane.module.read[Setting::Parity] = 1; }},
      {"stop bits differ", [] { masterPane.module.read[Setting::StopBits] = 1; }},
  };
  for (const Break& b : breaks) {
    makeLinkedPair();
    b.apply();
    EXPECT_FALSE(statesWithPorts(2).linkTest) << b.what;
    EXPECT_TRUE(statesWithPorts(2).copyToSlave) << "copy does not care: " << b.what;
  }
}

TEST_F(UiButtonRules, LinkTestIgnoresWhatThePanesShowAndTheRadioParameters) {
  slavePane.module.shown[Setting::PanId] = 0x9999;
  slavePane.module.shown[Setting::DestLow] = 0;
  masterPane.module.shown[Setting::BaudRate] = 7;
  slavePane.module.shown[Setting::Parity] = 2;
  slavePane.module.read[Setting::Channel] = 11;
  masterPane.module.read[Setting::PowerLevel] = 0;
  slavePane.module.read[Setting::BoostMode] = 0;
  slavePane.module.read[Setting::D7Config] = 4;
  EXPECT_TRUE(statesWithPorts(1).linkTest);
}

TEST_F(UiButtonRules, RangeTestBothHereAsTheLinkTestLoopbackOnAReadMasterAlone) {
  EXPECT_TRUE(rangeTestOffered(&masterPane.module, &slavePane.module, RangeWay::BothHere));
  slavePane.module.read[Setting::DestLow] = 0;
  EXPECT_FALSE(rangeTestOffered(&masterPane.module, &slavePane.module, RangeWay::BothHere));
  resetPane(&slavePane.module);
  EXPECT_TRUE(rangeTestOffered(&masterPane.module, &slavePane.module, RangeWay::FarLoopback));
  resetPane(&masterPane.module);
  EXPECT_FALSE(rangeTestOffered(&masterPane.module, &slavePane.module, RangeWay::FarLoopback));
}

// ---- the range test's view ----------------------------------------------------

TEST(UiRangeView, ChartShareCoversTheLastTenPacketsAcrossTheRingsWrap) {
  RangeChartTrack track;
  track.add(false);
  track.add(true);
  ASSERT_EQ(2u, track.pointCount());
  EXPECT_DOUBLE_EQ(0.0, track.pointPercent(0));
  EXPECT_DOUBLE_EQ(50.0, track.pointPercent(1)) << "fewer than ten so far: over those";
  track.clear();
  // Every third packet lost, long past the ring's size.
  for (uint32_t i = 0; i < 257; ++i)
    track.add(i % 3 != 0);
  ASSERT_EQ(kRangeChartPoints, track.pointCount());
  // The newest point is packet 256: of 247..256, 249, 252 and 255 were lost.
  EXPECT_DOUBLE_EQ(70.0, track.pointPercent(kRangeChartPoints - 1));
  // The oldest is packet 157: of 148..157, 150, 153 and 156 were lost.
  EXPECT_DOUBLE_EQ(70.0, track.pointPercent(0));
}

TEST(UiRangeView, AStoppedRunKeepsItsCountsInTheCopiedText) {
  RangeResult r;
  r.code = ResultCancelled;
  r.way = RangeWay::FarLoopback;
  r.directionCount = 1;
  r.directions[0] = {5, 5, 40, 37, 3, 1, 2, 0, 0, 190};
  r.hasRoundTrip = true;
  r.roundTripMinMs = 105;
  r.roundTripMedianMs = 106.5;
  r.roundTripMaxMs = 190;
  r.durationMs = 12340;
  const RangeRun run{RangeWay::FarLoopback, kRangeUntilStopped, 48};
  EXPECT_EQ(
      L"Range Test, far module with loopback, 48 bytes a packet\r\n"
      L"COM5 to COM5: sent 40, received 37, lost 3, corrupted 1, received 92.5 %, late 2 (longest "
      L"190 ms)\r\n"
      L"Round trip: min 105 ms, median 106.5 ms, max 190 ms\r\n"
      L"Stopped after 12.3 s.\r\n",
      rangeResultText(r, run, false));
  EXPECT_EQ(L"A port went away: stopped after 12.3 s.", rangeStatusLine(r, 0, false, true));
  r.directions[0] = {5, 6, 10, 0, 10, 0, 0, 0, 10};
  EXPECT_EQ(
      L"COM5 to COM6: sent 10, received 0, lost 10, corrupted 0, received 0.0 %, echoed 10: "
      L"the far module echoes (a loopback plug left on it?)",
      rangeDirectionLine(r.directions[0]));
}

TEST(UiRangeView, AShareWithALossNeverShowsAsAWhole) {
  const RangeDirection oneLost{5, 6, 2000, 1999, 1, 0, 0, 0};
  EXPECT_EQ(L"COM5 to COM6: sent 2000, received 1999, lost 1, corrupted 0, received 99.9 %",
            rangeDirectionLine(oneLost));
}

// A result copied or reopened minutes later still says which pair it
// measured, when, and on what channel and line.
TEST(UiRangeView, TheResultNamesThePairWhenAndOnWhat) {
  PaneRecord master, slave;
  master.module.serialHigh = slave.module.serialHigh = 0x0013A2FF;
  master.module.serialLow = 0x4000000A;
  slave.module.serialLow = 0x4000000B;
  std::strcpy(master.module.nodeId, "BENCH/M");
  std::strcpy(slave.module.nodeId, "BENCH\x01S");
  master.module.read[Setting::Channel] = slave.module.read[Setting::Channel] = 20;
  master.module.read[Setting::BaudRate] = 5;  // 38400
  master.module.read[Setting::Parity] = 1;    // even
  master.module.read[Setting::StopBits] = 1;
  os::LocalTime at;
  at.year = 2026;
  at.month = 3;
  at.day = 7;
  at.msOfDay = (9 * 3600 + 5 * 60 + 7) * 1000 + 999;
  const std::wstring pair = rangePairLine(&master.module, &slave.module, RangeWay::BothHere, at);
  EXPECT_EQ(
      L"2026-03-07 09:05:07: Master 0013A2FF4000000A \"BENCH/M\", Slave 0013A2FF4000000B "
      L"\"BENCH?S\", channel 20, 38400 8E2",
      pair);
  slave.module.read[Setting::Channel] = 21;
  EXPECT_NE(std::wstring::npos, rangePairLine(&master.module, &slave.module, RangeWay::BothHere, at)
                                    .find(L"channel 20 and 21, "));
  EXPECT_EQ(
      L"2026-03-07 09:05:07: Master 0013A2FF4000000A \"BENCH/M\", far module not read, "
      L"channel 20, 38400 8E2",
      rangePairLine(&master.module, &slave.module, RangeWay::FarLoopback, at));
  RangeResult r;
  const std::wstring text = rangeResultText(r, RangeRun{}, false, pair);
  EXPECT_EQ(0u, text.find(L"Range Test, both modules here, 32 bytes a packet\r\n" + pair + L"\r\n"))
      << std::string(text.begin(), text.end());
}

// ---- colours ----------------------------------------------------------------

using UiFieldColors = UiRules;

struct FieldCase {
  Setting field;
  const char* name;
  std::function<void(PaneRecord&)> changeShown;
};

const std::vector<FieldCase>& fieldCases() {
  static const std::vector<FieldCase> cases = {
      {Setting::PanId, "PAN ID",
       [](PaneRecord& p) { p.module.shown[Setting::PanId] ^= 1ull << 40; }},
      {Setting::DestLow, "DL", [](PaneRecord& p) { p.module.shown[Setting::DestLow] ^= 1u << 31; }},
      {Setting::DestHigh, "DH", [](PaneRecord& p) { p.module.shown[Setting::DestHigh] ^= 1; }},
      {Setting::Channel, "channel", [](PaneRecord& p) { p.module.shown[Setting::Channel] = 21; }},
      {Setting::BaudRate, "baud",
       [](PaneRecord& p) { p.module.shown[Setting::BaudRate] ^= 1u << 20; }},
      {Setting::Parity, "parity", [](PaneRecord& p) { p.module.shown[Setting::Parity] = 3; }},
      {Setting::StopBits, "stop bits",
       [](PaneRecord& p) { p.module.shown[Setting::StopBits] = 1; }},
      {Setting::PowerLevel, "power level",
       [](PaneRecord& p) { p.module.shown[Setting::PowerLevel] = 0; }},
      {Setting::BoostMode, "boost", [](PaneRecord& p) { p.module.shown[Setting::BoostMode] = 0; }},
      {Setting::PowerSave, "power save",
       [](PaneRecord& p) { p.module.shown[Setting::PowerSave] = 1; }},
      {Setting::SleepMode, "sleep mode",
       [](PaneRecord& p) { p.module.shown[Setting::SleepMode] = 0; }},
      {Setting::FlowControl, "flow control",
       [](PaneRecord& p) { p.module.shown[Setting::FlowControl] = 0; }},
      {Setting::D7Config, "RTS (D7)", [](PaneRecord& p) { p.module.shown[Setting::D7Config] = 4; }},
      {Setting::D6Config, "CTS (D6)", [](PaneRecord& p) { p.module.shown[Setting::D6Config] = 0; }},
  };
  return cases;
}

void recolorEveryField(PaneRecord* pane) {
  for (const FieldCase& c : fieldCases())
    recolorField(pane, c.field);
}

TEST_F(UiFieldColors, AChangedShownValueTurnsItsOwnFieldRedAndNoOther) {
  for (const FieldCase& changed : fieldCases()) {
    makeLinkedPair();
    changed.changeShown(slavePane);
    recolorEveryField(&slavePane);
    for (const FieldCase& c : fieldCases()) {
      EXPECT_EQ(slavePane.color[indexOf(c.field)],
                c.field == changed.field ? kColorRed : kColorBlack)
          << c.name << " after a change of " << changed.name;
    }
  }
}

TEST_F(UiFieldColors, PickingTheReadValueAgainTurnsTheFieldBlack) {
  storeChoice(&masterPane, Setting::BaudRate, 5);
  EXPECT_EQ(masterPane.color[indexOf(Setting::BaudRate)], kColorRed);
  storeChoice(&masterPane, Setting::BaudRate, 3);
  EXPECT_EQ(masterPane.color[indexOf(Setting::BaudRate)], kColorBlack);
  EXPECT_EQ(kColorRed, 0x0000FFu) << "red in a COLORREF is its low byte";
}

// A pick recolours every field the pane draws, each by its own values.
TEST_F(UiFieldColors, APickRecoloursEveryFieldByItsOwnValues) {
  for (const FieldCase& c : fieldCases())
    c.changeShown(slavePane);  // every field now differs, all still black
  slavePane.module.shown[Setting::PowerSave] = slavePane.module.read[Setting::PowerSave];
  storeChoice(&slavePane, Setting::BoostMode, 0);
  for (const FieldCase& c : fieldCases()) {
    const bool same = slavePane.module.shown[c.field] == slavePane.module.read[c.field];
    EXPECT_EQ(slavePane.color[indexOf(c.field)], same ? kColorBlack : kColorRed) << c.name;
  }
}

TEST_F(UiFieldColors, ColourRequestsFindEachPaintedControlsOwnColour) {
  bindAllControls(&masterPane, 3000);
  bindAllControls(&slavePane, 4000);
  for (const FieldCase& c : fieldCases())
    c.changeShown(slavePane);
  recolorEveryField(&slavePane);
  recolorEveryField(&masterPane);

  ColorRef color = 0x123456;
  const std::vector<std::pair<int, bool>> statics = {{4004, true}, {4005, true}, {4006, true},
                                                     {4014, true}, {4016, true}, {4017, true}};
  for (const auto& [id, red] : statics) {
    color = 0x123456;
    ASSERT_TRUE(staticFieldColor(&slavePane, fakeWindow(id), &color)) << id;
    EXPECT_EQ(color, red ? kColorRed : kColorBlack) << id;
    EXPECT_FALSE(comboFieldColor(&slavePane, fakeWindow(id), &color)) << id << " is no combo";
  }
  for (int id : {4007, 4008, 4009, 4010, 4011, 4012, 4013, 4015}) {
    color = 0x123456;
    ASSERT_TRUE(comboFieldColor(&slavePane, fakeWindow(id), &color)) << id;
    EXPECT_EQ(color, kColorRed) << id;
    EXPECT_FALSE(staticFieldColor(&slavePane, fakeWindow(id), &color)) << id << " is no static";
  }
  for (int id : {3004, 3005, 3006, 3014, 3015}) {
    ASSERT_TRUE(staticFieldColor(&masterPane, fakeWindow(id), &color)) << id;
    EXPECT_EQ(color, kColorBlack) << id << " belongs to the master, which is unchanged";
  }
  for (int id : {4000, 4003, 4001, 3000, 3003, 3013}) {
    EXPECT_FALSE(staticFieldColor(&slavePane, fakeWindow(id), &color))
        << id << " is not a coloured static of the slave";
  }
  EXPECT_FALSE(comboFieldColor(&slavePane, fakeWindow(4000), &color)) << "port list";
  EXPECT_FALSE(comboFieldColor(&masterPane, fakeWindow(3000), &color)) << "port list";
  // The master has no sleep mode field and no power save combo: null handles
  // must not match a null control.
  EXPECT_FALSE(staticFieldColor(&masterPane, nullptr, &color));
  EXPECT_FALSE(comboFieldColor(&masterPane, nullptr, &color));
}

// Exit asks about exactly the panes whose red values no module holds.
TEST_F(UiFieldColors, ExitAsksAboutEachPaneWithRedValuesAndOnlyThose) {
  EXPECT_EQ(exitQuestion(&masterPane, &slavePane), nullptr) << "nothing red: no question";
  for (const FieldCase& c : fieldCases()) {
    makeLinkedPair();
    c.changeShown(slavePane);
    recolorEveryField(&slavePane);
    EXPECT_STREQ(exitQuestion(&masterPane, &slavePane),
                 L"The Slave's changes have not been written. Exit anyway?")
        << c.name;
  }
  storeChoice(&masterPane, Setting::BaudRate, 5);
  EXPECT_STREQ(exitQuestion(&masterPane, &slavePane),
               L"The Master's and the Slave's changes have not been written. Exit anyway?");
  slavePane.module.nodeId[0] = 0;  // its port went away: nothing shown, nothing to lose
  masterPane.color[indexOf(Setting::PowerSave)] = kColorRed;  // no such row in the master pane
  storeChoice(&masterPane, Setting::BaudRate, 3);
  EXPECT_EQ(exitQuestion(&masterPane, &slavePane), nullptr);
}

// ---- the dialog on its monitor ----------------------------------------------

TEST(UiSessionStatus, NamesProfileAndRecordOrTheirAbsenceAndAlwaysEndsInTheCounts) {
  wchar_t text[128];
  formatSessionStatus(L"C:\\bench\\pair.ini", L"\\\\station\\share\\pairs.csv", 12, 3, text, 128);
  EXPECT_EQ(std::wstring(text),
            L"Profile: pair.ini   Record: \\\\station\\share\\pairs.csv   PASS 12  FAIL 3");
  formatSessionStatus(nullptr, L"", 0, 4000000000u, text, 128);
  EXPECT_EQ(std::wstring(text), L"no profile   no record   PASS 0  FAIL 4000000000");
  wchar_t small[24];
  small[23] = L'#';
  EXPECT_EQ(formatSessionStatus(L"a.ini", L"C:\\a\\long\\path.csv", 7, 8, small, 23), 22u);
  EXPECT_EQ(std::wstring(small), L"Profile:PASS 7  FAIL 8");
  EXPECT_EQ(small[23], L'#');
  EXPECT_EQ(formatSessionStatus(L"a.ini", nullptr, 7, 8, small, 5), 0u);
  EXPECT_EQ(small[0], 0);
}

TEST(UiDialogFit, CentredWhereItFitsElseAsLargeAsTheWorkAreaWithScrollBars) {
  const DialogPlacement fits = placeDialog(898, 829, 17, 17, {0, 0, 1920, 1040});
  EXPECT_FALSE(fits.verticalBar || fits.horizontalBar);
  EXPECT_EQ(fits.window.left, 511);
  EXPECT_EQ(fits.window.bottom, 105 + 829);
  // 150 % above a taskbar, on a monitor left of the primary: the bar goes
  // beside the layout and the window stays inside.
  const DialogPlacement tall = placeDialog(1344, 1321, 25, 25, {-1920, 0, 0, 1020});
  EXPECT_TRUE(tall.verticalBar && !tall.horizontalBar);
  EXPECT_EQ(tall.window.left, -1920 + (1920 - 1369) / 2);
  EXPECT_EQ(tall.window.bottom - tall.window.top, 1020);
  // A bar that takes the last room calls for the other one.
  for (const auto& [width, height] : {std::pair{990, 829}, std::pair{1100, 690}}) {
    const DialogPlacement both = placeDialog(width, height, 17, 17, {0, 0, 1000, 700});
    EXPECT_TRUE(both.verticalBar && both.horizontalBar) << width;
    EXPECT_TRUE(both.window.right == 1000 && both.window.bottom == 700) << width;
  }
}

bool overlap(const ScreenRect& a, const ScreenRect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

bool inside(const ScreenRect& r, const ScreenRect& area) {
  return r.left >= area.left && r.top >= area.top && r.right <= area.right &&
         r.bottom <= area.bottom;
}

// The sizes the program has under Wine at 96 DPI on 1366 x 768, at 120 and
// 168 DPI on larger screens, and at 96 DPI on a large screen.
TEST(UiDialogFit, ToolWindowsStandClearOfTheDialogAndOfEachOther) {
  struct Screen {
    ScreenRect work;
    ScreenRect dialog;
    ToolWindowSizes sizes;
  };
  for (const Screen& screen : {
           Screen{{0, 0, 1366, 728}, {225, 0, 1140, 728}, {625, 200, 630, 481, 400}},
           Screen{{0, 0, 1920, 1030}, {333, 0, 1587, 1030}, {780, 250, 781, 601, 500}},
           Screen{{0, 0, 2560, 1370}, {481, 0, 2078, 1370}, {1090, 350, 1055, 833, 700}},
           Screen{{0, 0, 1920, 1040}, {502, 95, 1417, 945}, {625, 200, 630, 481, 400}},
       }) {
    for (const auto& [log, range] :
         {std::pair{true, true}, std::pair{true, false}, std::pair{false, true}}) {
      const ToolWindowPlaces p =
          placeToolWindows(screen.work, screen.dialog, screen.sizes, log, range, 8);
      const std::string what =
          std::to_string(screen.work.right) + (log ? " log" : "") + (range ? " range" : "");
      EXPECT_TRUE(inside(p.dialog, screen.work)) << what;
      EXPECT_GE(p.dialog.bottom - p.dialog.top, (screen.work.bottom - screen.work.top) / 2)
          << what << ": the dialog keeps most of its height";
      if (range) {
        EXPECT_TRUE(inside(p.range, screen.work) && !overlap(p.range, p.dialog)) << what;
        EXPECT_GE(p.range.right - p.range.left, screen.sizes.rangeMinWidth) << what;
      }
      if (log) {
        EXPECT_TRUE(inside(p.log, screen.work) && !overlap(p.log, p.dialog)) << what;
        EXPECT_GE(p.log.right - p.log.left, screen.sizes.logWidth) << what << ": lines whole";
        EXPECT_GE(p.log.bottom - p.log.top, screen.sizes.logMinHeight) << what;
      }
      EXPECT_FALSE(log && range && overlap(p.log, p.range)) << what;
    }
  }
  // Room beside the dialog: it only slides toward the other edge, whole.
  const ToolWindowPlaces roomy = placeToolWindows({0, 0, 1920, 1040}, {502, 95, 1417, 945},
                                                  {625, 200, 630, 481, 400}, true, true, 8);
  EXPECT_EQ(roomy.dialog.bottom - roomy.dialog.top, 850);
  EXPECT_EQ(roomy.log.left, roomy.dialog.right + 8);
}

// ---- texts ------------------------------------------------------------------

using UiDisplayTexts = UiRules;

TEST_F(UiDisplayTexts, PanIdIsUpperCaseHexWithoutLeadingZeros) {
  EXPECT_EQ(panIdText(0), L"0");
  EXPECT_EQ(panIdText(0x1234), L"1234");
  EXPECT_EQ(panIdText(0xabcdef), L"ABCDEF");
  EXPECT_EQ(panIdText(0x02004E4C40000001ull), L"2004E4C40000001");
  EXPECT_EQ(panIdText(UINT64_MAX), L"FFFFFFFFFFFFFFFF") << "a reset PAN ID, 16 digits";
  EXPECT_EQ(panIdText(0x8000000000000000ull), L"8000000000000000");
}

TEST_F(UiDisplayTexts, AddressHalvesAreAlwaysEightDigits) {
  EXPECT_EQ(addressText(0xFFFF), L"0000FFFF");
  EXPECT_EQ(addressText(0), L"00000000");
  EXPECT_EQ(addressText(0xDEADBEEF), L"DEADBEEF");
  EXPECT_EQ(addressText(0x02004E4C), L"02004E4C");
}

TEST_F(UiDisplayTexts, TextsAgreeWithTheCLibrarysFormatting) {
  for (uint64_t v : {0ull, 1ull, 0xFull, 0x10ull, 0xFFFFFFFFull, 0x100000000ull,
                     0x0123456789ABCDEFull, 0xFEDCBA9876543210ull}) {
    wchar_t expected[32];
    std::swprintf(expected, 32, L"%llX", static_cast<unsigned long long>(v));
    EXPECT_EQ(panIdText(v), expected);
    std::swprintf(expected, 32, L"%08X", static_cast<unsigned>(v & 0xFFFFFFFF));
    EXPECT_EQ(addressText(static_cast<uint32_t>(v)), expected);
  }
}

TEST_F(UiDisplayTexts, ABufferTooSmallGetsAnEmptyTextNotAnOverrun) {
  wchar_t text[6] = {L'x', L'x', L'x', L'x', L'x', L'#'};
  EXPECT_EQ(formatPanIdText(0x12345, text, 5), 0u);
  EXPECT_EQ(text[0], 0);
  EXPECT_EQ(text[5], L'#');
  EXPECT_EQ(formatAddressHalfText(1, text, 8), 0u) << "eight digits need nine characters";
  EXPECT_EQ(formatAddressHalfText(1, text, 0), 0u);
  wchar_t exact[9];
  EXPECT_EQ(formatAddressHalfText(0xABC, exact, 9), 8u);
  EXPECT_EQ(std::wstring(exact), L"00000ABC");
}

// ---- commands ---------------------------------------------------------------

using UiCommands = UiRules;

constexpr uint64_t selChange(int id) {
  return 65536u + static_cast<uint64_t>(id);
}

TEST_F(UiCommands, ButtonsAndKeysMapToTheirCommands) {
  struct Case {
    uint64_t wParam;
    CommandKind kind;
    PaneRecord* pane;
  };
  const std::vector<Case> cases = {
      {1, CommandKind::Close, nullptr},          {2, CommandKind::Close, nullptr},
      {1000, CommandKind::CopyToSlave, nullptr}, {1001, CommandKind::CopyToMaster, nullptr},
      {1002, CommandKind::SetDefault, nullptr},  {1003, CommandKind::LinkTest, nullptr},
      {3001, CommandKind::Read, &masterPane},    {3002, CommandKind::Write, &masterPane},
      {4001, CommandKind::Read, &slavePane},     {4002, CommandKind::Write, &slavePane},
  };
  for (const Case& c : cases) {
    const Command command = decodeCommand(c.wParam);
    EXPECT_EQ(command.kind, c.kind) << c.wParam;
    EXPECT_EQ(command.pane, c.pane) << c.wParam;
  }
}

TEST_F(UiCommands, SelectionChangesOfTheParameterCombosMapToTheirPaneAndField) {
  struct Case {
    uint64_t wParam;
    Setting setting;
    PaneRecord* pane;
  };
  const std::vector<Case> cases = {
      {68543, Setting::Channel, &masterPane},     {69543, Setting::Channel, &slavePane},
      {68544, Setting::BaudRate, &masterPane},    {69544, Setting::BaudRate, &slavePane},
      {68545, Setting::Parity, &masterPane},      {69545, Setting::Parity, &slavePane},
      {68546, Setting::StopBits, &masterPane},    {69546, Setting::StopBits, &slavePane},
      {68547, Setting::PowerLevel, &masterPane},  {69547, Setting::PowerLevel, &slavePane},
      {68548, Setting::BoostMode, &masterPane},   {69548, Setting::BoostMode, &slavePane},
      {68549, Setting::FlowControl, &masterPane}, {69551, Setting::FlowControl, &slavePane},
      {69549, Setting::PowerSave, &slavePane},
  };
  for (const Case& c : cases) {
    const Command command = decodeCommand(c.wParam);
    EXPECT_EQ(command.kind, CommandKind::Choice) << c.wParam;
    EXPECT_EQ(command.setting, c.setting) << c.wParam;
    EXPECT_EQ(command.pane, c.pane) << c.wParam;
  }
}

TEST_F(UiCommands, EverythingElseIsIgnored) {
  const std::vector<uint64_t> ignored = {
      0,
      3,
      109,
      999,
      1004,
      2000,
      2001,
      3000,
      4000,  // clicks on the port lists
      selChange(3000),
      selChange(4000),  // a port pick changes nothing by itself
      selChange(4014),
      4014,  // the slave's sleep mode field
      3003,
      3007,
      4013,
      4015,  // notification 0 on fields and combos
      selChange(3014),
      selChange(3015),  // the master's RTS and CTS fields
      selChange(4016),
      selChange(4017),
      selChange(3016),
      selChange(4018),
      selChange(3001),
      selChange(1000),
      selChange(1),
      selChange(2),
      (7u << 16) | 3007,  // CBN_DROPDOWN
      (3u << 16) | 4008,  // CBN_SETFOCUS
      (8u << 16) | 4015,  // CBN_CLOSEUP
      (1ull << 32) | 1,   // beyond the 32 bits of a command
      (1ull << 32) | selChange(3007),
  };
  for (uint64_t wParam : ignored) {
    const Command command = decodeCommand(wParam);
    EXPECT_EQ(command.kind, CommandKind::Ignored) << wParam;
    EXPECT_EQ(command.pane, nullptr) << wParam;
  }
}

// A pick is the Shown value of its list's position, with the mode rules it
// sets off and the colours that follow; nothing of the Read group.
TEST_F(UiCommands, APickStoresItsPositionAsTheShownCodeWithItsRules) {
  const PaneRecord before = slavePane;
  storeChoice(&slavePane, Setting::Channel, 15);
  EXPECT_EQ(slavePane.module.shown[Setting::Channel], 26);
  EXPECT_EQ(slavePane.color[indexOf(Setting::Channel)], kColorRed);
  storeChoice(&slavePane, Setting::Parity, 2);
  EXPECT_EQ(slavePane.module.shown[Setting::Parity], 2);
  storeChoice(&slavePane, Setting::StopBits, 1);
  EXPECT_EQ(slavePane.module.shown[Setting::StopBits], 1);
  storeChoice(&slavePane, Setting::PowerLevel, 0);
  EXPECT_EQ(slavePane.module.shown[Setting::PowerLevel], 0);
  storeChoice(&slavePane, Setting::BoostMode, 0);
  EXPECT_EQ(slavePane.module.shown[Setting::BoostMode], 0);
  storeChoice(&slavePane, Setting::PowerSave, 1);
  EXPECT_EQ(slavePane.module.shown[Setting::PowerSave], 1);
  EXPECT_EQ(slavePane.module.shown[Setting::SleepMode], 0) << "no sleep with Power Save Off";
  EXPECT_EQ(slavePane.color[indexOf(Setting::SleepMode)], kColorRed);
  EXPECT_TRUE(choiceOffered(slavePane.module, Setting::FlowControl));
  storeChoice(&slavePane, Setting::FlowControl, 0);
  EXPECT_EQ(slavePane.module.shown[Setting::FlowControl], 0);
  EXPECT_EQ(slavePane.module.shown[Setting::D7Config], 4) << "RTS a high level out";
  EXPECT_EQ(slavePane.color[indexOf(Setting::D7Config)], kColorRed);
  EXPECT_EQ(slavePane.module.shown[Setting::BaudRate], before.module.shown[Setting::BaudRate]);
  EXPECT_EQ(slavePane.module.read[Setting::Channel], before.module.read[Setting::Channel])
      << "the Read group stays";
  EXPECT_EQ(slavePane.module.read[Setting::FlowControl], before.module.read[Setting::FlowControl]);
  EXPECT_EQ(masterPane.module.shown[Setting::Channel], 20) << "the other pane stays";
}

TEST_F(UiCommands, APickWithoutSelectionStoresTheCodeOfNoEntry) {
  storeChoice(&masterPane, Setting::BaudRate, kNoSelection);
  EXPECT_EQ(masterPane.module.shown[Setting::BaudRate], UINT32_MAX);
  EXPECT_EQ(masterPane.color[indexOf(Setting::BaudRate)], kColorRed);
  storeChoice(&masterPane, Setting::Channel, kNoSelection);
  EXPECT_EQ(masterPane.module.shown[Setting::Channel], 10);
  EXPECT_EQ(listPosition(Setting::BaudRate, masterPane.module.shown[Setting::BaudRate]),
            kNoSelection);
  EXPECT_EQ(listPosition(Setting::Channel, masterPane.module.shown[Setting::Channel]),
            kNoSelection);
}

// ---- lists and positions ----------------------------------------------------

using UiComboPositions = UiRules;

std::wstring entryAt(Setting s, int32_t position) {
  return settingInfo(s).choices->entries[position];
}

TEST_F(UiComboPositions, EachListsPositionIsTheModulesCode) {
  EXPECT_EQ(settingInfo(Setting::Channel).choices->count, 16);
  EXPECT_EQ(entryAt(Setting::Channel, listPosition(Setting::Channel, 20)), L"20");
  EXPECT_EQ(entryAt(Setting::BaudRate, 3), L"9600");
  EXPECT_EQ(entryAt(Setting::BaudRate, settingInfo(Setting::BaudRate).choices->count - 1),
            L"115200");
  EXPECT_EQ(entryAt(Setting::Parity, 3), L"Mark Parity");
  EXPECT_EQ(entryAt(Setting::StopBits, 1), L"Two Stop Bits");
  EXPECT_EQ(entryAt(Setting::PowerLevel, 4), L"Highest");
  EXPECT_EQ(entryAt(Setting::BoostMode, 1), L"Enable");
  EXPECT_EQ(entryAt(Setting::PowerSave, 0), L"On") << "0 is cyclic sleep";
  EXPECT_EQ(entryAt(Setting::FlowControl, 0), L"Disable");
}

TEST_F(UiComboPositions, ValuesOutsideAListSelectNothing) {
  EXPECT_EQ(listPosition(Setting::Channel, 11), 0);
  EXPECT_EQ(listPosition(Setting::Channel, 26), 15);
  EXPECT_EQ(listPosition(Setting::Channel, 10), kNoSelection);
  EXPECT_EQ(listPosition(Setting::Channel, 27), kNoSelection);
  EXPECT_EQ(listPosition(Setting::Channel, 0), kNoSelection);
  EXPECT_EQ(listPosition(Setting::Channel, 0xFF), kNoSelection) << "a reset channel";
  EXPECT_EQ(listPosition(Setting::BaudRate, 7), 7);
  EXPECT_EQ(listPosition(Setting::BaudRate, 8), kNoSelection) << "a baud code beyond the list";
  EXPECT_EQ(listPosition(Setting::BaudRate, UINT32_MAX), kNoSelection) << "a reset baud code";
  EXPECT_EQ(listPosition(Setting::Parity, 3), 3);
  EXPECT_EQ(listPosition(Setting::Parity, 4), kNoSelection);
  EXPECT_EQ(listPosition(Setting::FlowControl, 0xFF), kNoSelection);
  EXPECT_EQ(listPosition(Setting::PowerSave, 1), 1);
  EXPECT_EQ(listPosition(Setting::PowerSave, 2), kNoSelection);
}

TEST_F(UiComboPositions, ChannelLimitBoundsTheChannelList) {
  EXPECT_EQ(channelEntryCount(11), 1);
  EXPECT_EQ(channelEntryCount(20), 10);
  EXPECT_EQ(channelEntryCount(26), 16);
  EXPECT_EQ(channelEntryCount(255), 16);
  EXPECT_EQ(channelEntryCount(10), 0);
  EXPECT_EQ(channelEntryCount(0), 0);
  EXPECT_EQ(channelEntryCount(-1), 16) << "counted as unsigned";
}

TEST_F(UiComboPositions, CopyTakesChannelAndSerialSettingsOnly) {
  bindAllControls(&masterPane, 3000);
  bindAllControls(&slavePane, 4000);
  masterPane.module.shown[Setting::Channel] = 25;
  masterPane.module.shown[Setting::BaudRate] = 7;
  masterPane.module.shown[Setting::Parity] = 2;
  masterPane.module.shown[Setting::StopBits] = 1;
  masterPane.module.shown[Setting::PanId] = 0x4321;
  masterPane.module.shown[Setting::DestLow] = 5;
  masterPane.module.shown[Setting::PowerLevel] = 1;
  masterPane.module.shown[Setting::BoostMode] = 0;
  masterPane.module.shown[Setting::FlowControl] = 0;
  slavePane.module.channelLimit = 26;
  const PaneRecord master = masterPane;
  const PaneRecord slave = slavePane;
  copyPaneSettings(&slavePane, &masterPane);
  EXPECT_EQ(slavePane.module.shown[Setting::Channel], 25);
  EXPECT_EQ(slavePane.module.shown[Setting::BaudRate], 7u);
  EXPECT_EQ(slavePane.module.shown[Setting::Parity], 2);
  EXPECT_EQ(slavePane.module.shown[Setting::StopBits], 1);
  EXPECT_EQ(view().selection.at(slavePane.control[indexOf(Setting::Channel)]), 14);
  EXPECT_EQ(view().selection.at(slavePane.control[indexOf(Setting::BaudRate)]), 7);
  EXPECT_EQ(view().selection.at(slavePane.control[indexOf(Setting::Parity)]), 2);
  EXPECT_EQ(view().selection.at(slavePane.control[indexOf(Setting::StopBits)]), 1);
  EXPECT_EQ(slavePane.module.shown[Setting::PanId], slave.module.shown[Setting::PanId]);
  EXPECT_EQ(slavePane.module.shown[Setting::DestLow], slave.module.shown[Setting::DestLow]);
  EXPECT_EQ(slavePane.module.shown[Setting::PowerLevel], slave.module.shown[Setting::PowerLevel]);
  EXPECT_EQ(slavePane.module.shown[Setting::BoostMode], slave.module.shown[Setting::BoostMode]);
  EXPECT_EQ(slavePane.module.shown[Setting::FlowControl], slave.module.shown[Setting::FlowControl]);
  EXPECT_EQ(slavePane.module.read[Setting::Channel], slave.module.read[Setting::Channel])
      << "the Read group stays";
  EXPECT_EQ(view().selection.count(slavePane.control[indexOf(Setting::PowerLevel)]), 0u);
  EXPECT_EQ(view().selection.count(masterPane.control[indexOf(Setting::Channel)]), 0u)
      << "the source is not touched";
  EXPECT_EQ(masterPane.module.shown[Setting::Channel], master.module.shown[Setting::Channel]);
}

TEST_F(UiComboPositions, ValuesNeverReadOrUnnamedAreNotCopied) {
  bindAllControls(&masterPane, 3000);
  bindAllControls(&slavePane, 4000);
  masterPane.module.channelLimit = 26;
  masterPane.module.shown[Setting::Channel] = 20;
  masterPane.module.shown[Setting::BaudRate] = 3;
  masterPane.module.shown[Setting::Parity] = 0;
  masterPane.module.shown[Setting::StopBits] = 0;
  resetPane(&slavePane.module);  // a read that failed before these fields
  copyPaneSettings(&masterPane, &slavePane);
  slavePane.module.shown[Setting::BaudRate] = 0x1C200;  // a rate the list cannot name
  copyPaneSettings(&masterPane, &slavePane);
  EXPECT_EQ(masterPane.module.shown[Setting::Channel], 20);
  EXPECT_EQ(masterPane.module.shown[Setting::BaudRate], 3u);
  EXPECT_EQ(masterPane.module.shown[Setting::Parity], 0);
  EXPECT_EQ(masterPane.module.shown[Setting::StopBits], 0);
  EXPECT_TRUE(view().selection.empty()) << "no combo box was touched";
}

// ---- port names -------------------------------------------------------------

TEST(UiPortNames, TheNumberFollowsTheFirstCapitalCom) {
  uint32_t n = 99;
  ASSERT_TRUE(friendlyNamePortNumber(L"USB Serial Port (COM3)", &n));
  EXPECT_EQ(n, 3u);
  ASSERT_TRUE(friendlyNamePortNumber(L"Communications Port (COM1)", &n));
  EXPECT_EQ(n, 1u) << "\"Communications\" is no capital COM";
  ASSERT_TRUE(friendlyNamePortNumber(L"Bluetooth COM", &n));
  EXPECT_EQ(n, 0u) << "no digits give 0";
  ASSERT_TRUE(friendlyNamePortNumber(L"Port (COM12) (COM3)", &n));
  EXPECT_EQ(n, 12u);
  EXPECT_FALSE(friendlyNamePortNumber(L"Printer Port (LPT1)", &n));
  EXPECT_FALSE(friendlyNamePortNumber(L"modem (com4)", &n)) << "lower case does not count";
  EXPECT_FALSE(friendlyNamePortNumber(L"", &n));
  EXPECT_FALSE(friendlyNamePortNumber(L"CO", &n));
  EXPECT_FALSE(friendlyNamePortNumber(nullptr, &n));
}

TEST(UiPortNames, ReadAsTheReadBodyReadsTheEntryItShows) {
  // The list's item data and the number a Read opens must be the same.
  for (const wchar_t* name : {L"USB Serial Port (COM3)", L"X (COM 7)", L"COM255", L"COM00012",
                              L"Communications Port (COM1)", L"(COM+4)"}) {
    uint32_t n = 0;
    ASSERT_TRUE(friendlyNamePortNumber(name, &n));
    EXPECT_EQ(n, static_cast<uint32_t>(portNumberFromText(name)));
  }
}

TEST(UiPortNames, AShortNameIsKeptWhole) {
  PortEntry entry;
  ASSERT_TRUE(makePortEntry(L"Simulated Module Port (COM5)", &entry));
  EXPECT_EQ(entry.portNumber, 5u);
  EXPECT_EQ(std::wstring(entry.friendlyName), L"Simulated Module Port (COM5)");
  EXPECT_FALSE(makePortEntry(L"No port here", &entry));
}

TEST(UiPortNames, AnOverlongNameIsCutOnlyWhenItsPortSurvives) {
  PortEntry entry;
  const std::wstring exact = L"(COM9)" + std::wstring(249, L'x');
  ASSERT_EQ(exact.size(), 255u);
  ASSERT_TRUE(makePortEntry(exact.c_str(), &entry));
  EXPECT_EQ(std::wstring(entry.friendlyName), exact) << "255 characters fit";

  const std::wstring longTail = L"Port (COM7) " + std::wstring(400, L'x');
  ASSERT_TRUE(makePortEntry(longTail.c_str(), &entry));
  EXPECT_EQ(entry.portNumber, 7u);
  EXPECT_EQ(std::wstring(entry.friendlyName), longTail.substr(0, 255));

  const std::wstring comAtEnd = std::wstring(300, L'x') + L" (COM7)";
  EXPECT_FALSE(makePortEntry(comAtEnd.c_str(), &entry)) << "the cut would lose the port";

  // "COM12" cut after its first digit would name COM1.
  const std::wstring splitDigits = std::wstring(251, L'x') + L"COM12" + std::wstring(10, L'x');
  EXPECT_FALSE(makePortEntry(splitDigits.c_str(), &entry));
  const std::wstring digitsFit = std::wstring(250, L'x') + L"COM12" + std::wstring(10, L'x');
  ASSERT_TRUE(makePortEntry(digitsFit.c_str(), &entry));
  EXPECT_EQ(entry.portNumber, 12u);
}

TEST(UiPortNames, BroadcastNamesAreReadFromTheirFourthCharacter) {
  uint32_t n = 99;
  ASSERT_TRUE(broadcastPortNumber(L"COM7", &n));
  EXPECT_EQ(n, 7u);
  ASSERT_TRUE(broadcastPortNumber(L"COM12", &n));
  EXPECT_EQ(n, 12u);
  n = 99;
  EXPECT_FALSE(broadcastPortNumber(L"LPT1", &n)) << "a printer port is no COM port";
  EXPECT_FALSE(broadcastPortNumber(L"com1", &n));
  EXPECT_EQ(n, 99u);
  ASSERT_TRUE(broadcastPortNumber(L"COM", &n));
  EXPECT_EQ(n, 0u);
  ASSERT_TRUE(broadcastPortNumber(L"COM99999999999", &n));
  EXPECT_EQ(n, UINT32_MAX) << "saturates as wcstoul does";
  EXPECT_FALSE(broadcastPortNumber(L"CO", &n)) << "nothing may be read past the name";
  EXPECT_FALSE(broadcastPortNumber(L"", &n));
  EXPECT_FALSE(broadcastPortNumber(nullptr, &n));
}

// ---- port changes -----------------------------------------------------------

class UiPortChanges : public ::testing::Test {
 protected:
  void SetUp() override {
    view().clear();
    makeLinkedPair();
    bindAllControls(&masterPane, 3000);
    bindAllControls(&slavePane, 4000);
    masterPane.portNumber = 5;
    slavePane.portNumber = 6;
    world.addSerialPort("COM5", &masterPeer);
    world.addSerialPort("COM6", &slavePeer);
    finishDeferredPortChanges();  // nothing left over from another test
    view().clear();
  }

  void TearDown() override {
    for (PaneRecord* p : {&masterPane, &slavePane}) {
      closePort(p->session.port);
      p->session.port = nullptr;
      endOperation(p);
    }
    finishDeferredPortChanges();
    EXPECT_EQ(world.openHandles(), 0) << "a handle leaked";
  }

  // As the runner holds a pane from its start to its join.
  void startOperation(PaneRecord* pane) { pane->cancelEvent = os::createEvent(); }
  void endOperation(PaneRecord* pane) {
    if (pane->cancelEvent)
      os::closeHandle(pane->cancelEvent);
    pane->cancelEvent = nullptr;
  }

  bool holds(const PaneRecord& pane) const { return pane.module.nodeId[0] != 0; }

  vw::World world;
  sim::Module masterModule;
  sim::Module slaveModule;
  ModulePeer masterPeer{masterModule};
  ModulePeer slavePeer{slaveModule};
};

TEST_F(UiPortChanges, AnIdlePaneThatUsedThePortIsEmptiedAtOnce) {
  resetPaneForPortChange(&masterPane, 5);
  resetPaneForPortChange(&slavePane, 5);
  EXPECT_FALSE(holds(masterPane));
  EXPECT_EQ(masterPane.module.read[Setting::BaudRate], UINT32_MAX);
  EXPECT_EQ(view().count("clearPaneDisplay master"), 1);
  EXPECT_TRUE(holds(slavePane)) << "the slave used COM6";
  EXPECT_EQ(view().count("clearPaneDisplay slave"), 0);
  EXPECT_EQ(masterPane.portNumber, 5) << "kept, so a return of the port empties it again";
  EXPECT_FALSE(finishDeferredPortChanges()) << "nothing was put off";
}

TEST_F(UiPortChanges, ARunningOperationIsStoppedAndItsPaneEmptiedOnlyAfterItsEnd) {
  startOperation(&masterPane);
  resetPaneForPortChange(&masterPane, 5);
  EXPECT_TRUE(os::isEventSet(masterPane.cancelEvent)) << "every serial wait ends at once";
  EXPECT_TRUE(holds(masterPane)) << "the worker may still be writing the record";
  EXPECT_EQ(masterPane.module.read[Setting::BaudRate], 3u);
  EXPECT_EQ(view().count("clearPaneDisplay master"), 0);
  EXPECT_TRUE(hasDeferredPortChange(&masterPane));
  EXPECT_FALSE(finishDeferredPortChanges()) << "not while the operation runs";
  EXPECT_TRUE(holds(masterPane));

  endOperation(&masterPane);
  EXPECT_TRUE(finishDeferredPortChanges());
  EXPECT_FALSE(holds(masterPane));
  EXPECT_EQ(view().count("clearPaneDisplay master"), 1);
  EXPECT_FALSE(hasDeferredPortChange(&masterPane));
  EXPECT_FALSE(finishDeferredPortChanges()) << "done once";
  EXPECT_EQ(view().count("clearPaneDisplay master"), 1);
}

TEST_F(UiPortChanges, TheIdlePaneWaitsWhileTheOtherPanesWorkerReadsIt) {
  startOperation(&slavePane);
  resetPaneForPortChange(&masterPane, 5);
  resetPaneForPortChange(&slavePane, 5);
  EXPECT_FALSE(os::isEventSet(slavePane.cancelEvent)) << "the slave's port did not change";
  EXPECT_TRUE(holds(masterPane));
  EXPECT_TRUE(holds(slavePane));
  endOperation(&slavePane);
  EXPECT_TRUE(finishDeferredPortChanges());
  EXPECT_FALSE(holds(masterPane));
  EXPECT_TRUE(holds(slavePane));
  EXPECT_EQ(view().count("clearPaneDisplay slave"), 0);
}

TEST_F(UiPortChanges, AThreadAloneAlsoMarksARunningOperation) {
  slavePane.workerThread = reinterpret_cast<os::Handle>(static_cast<uintptr_t>(1));
  EXPECT_TRUE(operationRunning(&slavePane));
  EXPECT_TRUE(anyOperationRunning());
  resetPaneForPortChange(&slavePane, 6);
  EXPECT_TRUE(holds(slavePane));
  slavePane.workerThread = nullptr;
  EXPECT_TRUE(finishDeferredPortChanges());
  EXPECT_FALSE(holds(slavePane));
}

TEST_F(UiPortChanges, ADepartedPortHeldByAnIdlePaneIsClosed) {
  masterPane.session.port = openPort(5, nullptr);
  ASSERT_NE(masterPane.session.port, nullptr);
  releaseDepartedPort(&masterPane, 6);
  EXPECT_NE(masterPane.session.port, nullptr) << "another port departed";
  releaseDepartedPort(&masterPane, 5);
  EXPECT_EQ(masterPane.session.port, nullptr);
  EXPECT_EQ(world.openHandles(), 0);
}

TEST_F(UiPortChanges, ADepartedPortIsNeverClosedUnderARunningWorker) {
  startOperation(&masterPane);
  masterPane.session.port = openPort(5, masterPane.cancelEvent);
  ASSERT_NE(masterPane.session.port, nullptr);
  SerialPort* port = masterPane.session.port;
  releaseDepartedPort(&masterPane, 5);
  EXPECT_EQ(masterPane.session.port, port);
  EXPECT_TRUE(isValidPort(port)) << "still open for the worker";
  EXPECT_TRUE(os::isEventSet(masterPane.cancelEvent));
  // The worker closes its own port at its end.
  closePort(masterPane.session.port);
  masterPane.session.port = nullptr;
  endOperation(&masterPane);
  finishDeferredPortChanges();
  EXPECT_EQ(world.openHandles(), 0);
}

TEST_F(UiPortChanges, APortStillOpenAfterTheOperationIsClosedWithTheDeferredChanges) {
  startOperation(&masterPane);
  masterPane.session.port = openPort(5, masterPane.cancelEvent);
  ASSERT_NE(masterPane.session.port, nullptr);
  releaseDepartedPort(&masterPane, 5);
  endOperation(&masterPane);
  finishDeferredPortChanges();
  EXPECT_EQ(masterPane.session.port, nullptr);
  EXPECT_EQ(world.openHandles(), 0);
}

TEST_F(UiPortChanges, ButtonRulesPutOffDuringAnOperationAreDueAtItsEnd) {
  startOperation(&masterPane);
  deferButtonRules();
  EXPECT_FALSE(finishDeferredPortChanges());
  endOperation(&masterPane);
  EXPECT_TRUE(finishDeferredPortChanges());
  EXPECT_FALSE(finishDeferredPortChanges());
}

}  // namespace
