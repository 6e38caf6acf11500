// Settings files: what a user saves comes back the same, what a file names
// goes through the dialog's lists and rules, and a faulty file changes
// nothing and says where it is wrong.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "module/settings_file.h"
#include "tests/support/recording_view.h"
#include "version.h"

namespace {

struct Parsed {
  bool ok = false;
  SettingsFile file;
  uint32_t line = 0;
  std::wstring message;
};

Parsed parse(const std::string& text) {
  Parsed r;
  wchar_t message[kSettingsMessageChars];
  r.ok = parseSettingsFile(reinterpret_cast<const uint8_t*>(text.data()), text.size(), L"pair.ini",
                           &r.file, &r.line, message);
  r.message = message;
  return r;
}

std::string format() {
  char out[4096];
  return std::string(out,
                     formatSettingsFile(&masterPane.module, &slavePane.module, out, sizeof out));
}

// The Shown values a Write would send.
std::vector<uint64_t> shown(const PaneRecord& p) {
  std::vector<uint64_t> values;
  for (Setting s : {Setting::Channel, Setting::BaudRate, Setting::Parity, Setting::StopBits,
                    Setting::PowerLevel, Setting::BoostMode, Setting::PowerSave, Setting::SleepMode,
                    Setting::FlowControl, Setting::D7Config, Setting::D6Config})
    values.push_back(p.module.shown[s]);
  return values;
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override { prepareTestPanes(); }
  PendingSettings pending;
  wchar_t message[kSettingsMessageChars] = {};

  bool load(const std::string& text) {
    const Parsed p = parse(text);
    EXPECT_TRUE(p.ok) << std::string(p.message.begin(), p.message.end());
    return p.ok && loadSettings(&masterPane.module, &slavePane.module, p.file, L"pair.ini",
                                &pending, message);
  }
};

// Each pane kind with choices far from what is read: saved, edited as a
// person might (a byte-order mark, LF, lower case), loaded into the pair as
// read: every choice arrives, and only in the panes.
TEST_F(SettingsFileTest, WhatIsSavedLoadsBackForEachPaneKind) {
  readPaneAs(&masterPane, "KOV-NL001/M", 13, 26, false, false);
  readPaneAs(&slavePane, "KOV-NL001/S", 25, 26, true, true);
  masterPane.module.shown[Setting::BaudRate] = 7;
  masterPane.module.shown[Setting::Parity] = masterPane.module.shown[Setting::StopBits] = 1;
  masterPane.module.shown[Setting::PowerLevel] = masterPane.module.shown[Setting::BoostMode] = 0;
  applyNoSleepRule(&slavePane.module);
  slavePane.module.shown[Setting::FlowControl] = 0;
  applyFlowControlRule(&slavePane.module);
  const std::string saved = format();
  EXPECT_EQ(saved.rfind("; NLCONF " NLCONF_VERSION_TEXT " settings\r\n; Master: Node Identifier "
                        "KOV-NL001/M, PAN ID 4E4C303031, Destination 02004E4C 40B0A002\r\n",
                        0),
            0u)
      << saved;
  EXPECT_NE(saved.find("[Slave]\r\nChannel = 25\r\n"), std::string::npos) << saved;
  const std::vector<uint64_t> wantMaster = shown(masterPane), wantSlave = shown(slavePane);

  readPaneAs(&masterPane, "KOV-NL001/M", 20, 26, true, false);
  readPaneAs(&slavePane, "KOV-NL001/S", 20, 26, true, true);
  std::string byHand = "\xEF\xBB\xBF";
  for (char c : saved)
    byHand += c == '\r' ? "" : std::string(1, static_cast<char>(std::tolower(c)));
  ASSERT_TRUE(load(byHand));
  EXPECT_EQ(shown(masterPane), wantMaster);
  EXPECT_EQ(shown(slavePane), wantSlave);
  EXPECT_EQ(masterPane.module.read[Setting::Channel], 20)
      << "nothing reaches a module before a Write";
}

TEST_F(SettingsFileTest, OnlyPanesWithReadValuesAreSavedAndOddValuesKeepTheFileLoadable) {
  EXPECT_EQ(format(), "") << "nothing to save";
  readPaneAs(&slavePane, "K\xE9Y\nX", 20, 26, true, true);  // a node id no file line may hold
  slavePane.module.shown[Setting::BaudRate] = 9;            // a code no entry names
  const std::string saved = format();
  EXPECT_EQ(saved.find("[Master]"), std::string::npos);
  EXPECT_NE(saved.find("Node Identifier K?Y?X,"), std::string::npos) << saved;
  const Parsed p = parse(saved);
  ASSERT_TRUE(p.ok);
  EXPECT_FALSE(p.file.slave.named[indexOf(Setting::BaudRate)]);
  EXPECT_TRUE(p.file.slave.named[indexOf(Setting::PowerSave)]);
}

// Every kind of fault: the whole file refused, with its line and the fault.
TEST_F(SettingsFileTest, APairSectionAsksForPairingAndOnlyIt) {
  const Parsed yes = parse("[Pair]\r\n make pair = yes \r\n[Slave]\nChannel = 12\n");
  ASSERT_TRUE(yes.ok);
  EXPECT_TRUE(yes.file.pair.makePair);
  EXPECT_TRUE(yes.file.slave.named[indexOf(Setting::Channel)])
      << "a section after [Pair] still counts";
  const Parsed no = parse("[Pair]\nMake Pair = No\n");
  ASSERT_TRUE(no.ok);
  EXPECT_FALSE(no.file.pair.makePair);
  EXPECT_TRUE(load("[Pair]\nMake Pair = Yes\n")) << "a profile may only pair";
  EXPECT_FALSE(parse("[Master]\nChannel = 12\n").file.pair.present);
}

TEST_F(SettingsFileTest, ARangeSectionGivesTheRunItsCriterion) {
  const Parsed p = parse("[Range]\nPackets = 50\n min received = 98 % \n[Master]\nChannel = 12\n");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.file.range.packets * 1000 + p.file.range.minReceived, 50098u);
  EXPECT_TRUE(p.file.master.named[indexOf(Setting::Channel)])
      << "a section after [Range] still counts";
  const Parsed defaults = parse("[Range]\n");
  ASSERT_TRUE(defaults.ok && defaults.file.range.present);
  EXPECT_EQ(defaults.file.range.packets * 1000 + defaults.file.range.minReceived, 100100u);
  EXPECT_FALSE(parse("[Pair]\nMake Pair = Yes\n").file.range.present);
  EXPECT_TRUE(load("[Range]\nMin Received = 0\n")) << "a profile may only set the criterion";
}

// Save Settings after loading a profile: the sections no pane shows come
// back as they were loaded, a key left out still left out.
TEST_F(SettingsFileTest, WhatWasLoadedBesideThePanesIsSavedBack) {
  readPaneAs(&masterPane, "KOV-NL001/M", 13, 26, false, false);
  for (const char* profile : {"[Range]\nMin Received = 95\n[Pair]\nMake Pair = Yes\n",
                              "[Range]\nPackets = 300\n", "[Range]\n"}) {
    const SettingsFile loaded = parse(profile).file;
    char out[4096];
    const Parsed saved = parse(std::string(
        out, formatSettingsFile(&masterPane.module, &slavePane.module, out, sizeof out, &loaded)));
    ASSERT_TRUE(saved.ok && saved.file.range.present && saved.file.master.present) << profile;
    const RangeSettings &was = loaded.range, &is = saved.file.range;
    EXPECT_EQ(std::vector<uint32_t>({is.packets, is.minReceived, !is.packetsLine,
                                     !is.minReceivedLine, saved.file.pair.makePair}),
              std::vector<uint32_t>({was.packets, was.minReceived, !was.packetsLine,
                                     !was.minReceivedLine, loaded.pair.makePair}))
        << profile;
  }
}

TEST_F(SettingsFileTest, TheDigestNamesTheBytesLoadedNotOnlyTheirSettings) {
  const Parsed unix = parse("[Master]\nChannel = 14\n");
  const Parsed windows = parse("[Master]\r\nChannel = 14\r\n");
  ASSERT_TRUE(unix.ok && windows.ok);
  EXPECT_STREQ(unix.file.sha256,
               "b63afe95cbbf227ee54ea91caac475a72f2a0667c4e30c85c8135f2673301ba7");
  EXPECT_STRNE(windows.file.sha256, unix.file.sha256);
  // Notepad's "Unicode": the digest is sha256sum's of the file, not of its text.
  std::string utf16 = "\xFF\xFE";
  for (const char c : std::string("[Master]\r\nChannel = 14\r\n"))
    utf16 += std::string{c, '\0'};
  const Parsed wide = parse(utf16);
  ASSERT_TRUE(wide.ok);
  EXPECT_STREQ(wide.file.sha256,
               "db26d7e28e3801c2ed3d3dc5c27e4409190276bee6908173595023b4d2034b0f");
  EXPECT_STRNE(wide.file.sha256, windows.file.sha256) << "its UTF-8 twin is another file";
}

TEST_F(SettingsFileTest, AFaultyFileIsRefusedWithItsLine) {
  const struct {
    std::string text;
    uint32_t line;
    std::wstring says;
  } cases[] = {
      {"[Master]\n[Pairs]\n", 2, L"there is no section \"Pairs\""},
      {"[Pair]\nMake Pair = Maybe\n", 2, L"Make Pair cannot be \"Maybe\"; its entries are Yes, No"},
      {"[Pair]\nMake Pair = Yes\n[pair]\n", 3, L"[Pair] comes a second time (first on line 1)"},
      {"[Pair]\nChannel = 12\n", 2, L"[Pair] has no setting \"Channel\""},
      {"[Pair]\nMake Pair = Yes\nmake pair = No\n", 3,
       L"Make Pair comes a second time in [Pair] (first on line 2)"},
      {"[Master]\n[Slave]\n[master]\n", 3, L"[Master] comes a second time (first on line 1)"},
      {"[Range]\nPackets = 0\n", 2,
       L"Packets cannot be \"0\"; it is a whole number from 1 to 1000"},
      {"[Range]\nPackets = 99999999999999999999\n", 2, L"Packets cannot be"},
      {"[Range]\nMin Received = 100.5\n", 2,
       L"Min Received cannot be \"100.5\"; it is a whole per cent from 0 to 100"},
      {"[Range]\nPackets = 5\npackets = 6\n", 3,
       L"Packets comes a second time in [Range] (first on line 2)"},
      {"[Range]\nSize = 32\n", 2, L"[Range] has no setting \"Size\""},
      {"[Range]\n[Slave]\n[range]\n", 3, L"[Range] comes a second time (first on line 1)"},
      {"[Slave]\nColour = Red\n", 2,
       L"has no setting \"Colour\"; its settings are Channel, Baud Rate, Parity, Stop Bits, "
       L"Power Level, Boost Mode, Power Save, Flow Control"},
      {"[Master]\nPower Save = Off\n", 2, L"the master has no Power Save"},
      {"[Slave]\nParity = Odd Parity\n\nparity = Odd Parity\n", 4,
       L"Parity comes a second time in [Slave] (first on line 2)"},
      {"[Master]\nBaud Rate = 9601\n", 2,
       L"Baud Rate cannot be \"9601\"; its entries are 1200, 2400, 4800, 9600, 19200, 38400, "
       L"57600, 115200"},
      {"[Slave]\nFlow Control = Disable\nPower Save = On\n", 3,
       L"Flow Control cannot be Disable with Power Save On: a slave in cyclic sleep needs flow "
       L"control.\r\n"},
      {"[Master]\nChannel 12\n", 2, L"neither a [section], a comment nor"},
      {"Channel = 12\n", 1, L"before any [Master] or [Slave] section"},
      {"\n[Master\n", 2, L"closing \"]\""},
      {std::string("[Master]\nChannel = 1\0002\n", 23), 2, L"a NUL byte"},
      {"[Master]\n\nChannel = \xC0\xB1\n", 3, L"not UTF-8"},  // overlong
      {"[Slave]\n; caf\xE9\nChannel = 14 # caf\xE9\nParity = Even Parit\xE9\n", 4,
       L"not UTF-8 text: save the file as UTF-8"},
      {std::string(kSettingsFileLimit - 2, '\n') + "; more", 65535, L"beyond 64 KiB"},
  };
  for (const auto& c : cases) {
    const Parsed p = parse(c.text);
    const std::string said(p.message.begin(), p.message.end());
    EXPECT_FALSE(p.ok) << c.text.substr(0, 40);
    EXPECT_EQ(p.line, c.line) << said;
    EXPECT_EQ(p.message.rfind(L"pair.ini, line " + std::to_wstring(c.line) + L": ", 0), 0u) << said;
    EXPECT_NE(p.message.find(c.says), std::wstring::npos) << said;
  }
}

TEST_F(SettingsFileTest, AFileWithoutSectionsLoadsNothingAndSaysSo) {
  const std::vector<uint64_t> before = shown(masterPane);
  const Parsed p = parse("; only a comment\n");
  ASSERT_TRUE(p.ok);
  EXPECT_FALSE(
      loadSettings(&masterPane.module, &slavePane.module, p.file, L"pair.ini", &pending, message));
  EXPECT_NE(std::wstring(message).find(L"pair.ini holds no [Master] or [Slave] section"),
            std::wstring::npos);
  EXPECT_EQ(shown(masterPane), before);
}

// Notepad's "Unicode" in both byte orders, an ANSI comment and comments
// after a value: the same choices as plain UTF-8.
TEST_F(SettingsFileTest, FilesAsWindowsEditorsWriteThemLoad) {
  const std::u16string text =
      u"; caf\u00E9 \U0001F600\r\n[Slave] ; bench\r\nChannel = 14 ; pair 7\r\n"
      u"Power Level = Low\t# quiet\r\n";
  for (const bool bigEndian : {false, true}) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : text) {
      const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
      bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    const Parsed p = parse(bytes);
    ASSERT_TRUE(p.ok) << std::string(p.message.begin(), p.message.end());
    EXPECT_EQ(p.file.slave.position[indexOf(Setting::Channel)], 14 - 11);
    EXPECT_EQ(p.file.slave.line[indexOf(Setting::PowerLevel)], 4u);
    // A refusal names the line as the editor counts it.
    const Parsed refused = parse(bytes + std::string(bigEndian ? "\0P\0=" : "P\0=\0", 4));
    EXPECT_EQ(refused.line, 5u) << std::string(refused.message.begin(), refused.message.end());
  }
  const Parsed ansi = parse("; \xC4nderung f\xFCr Paar 7\n[Slave]\nChannel = 14 ; \xB5\n");
  ASSERT_TRUE(ansi.ok) << std::string(ansi.message.begin(), ansi.message.end());
  EXPECT_EQ(ansi.file.slave.position[indexOf(Setting::Channel)], 14 - 11);
  EXPECT_FALSE(parse("[Slave]\nChannel = 14;7\n").ok) << "a comment starts after white space";
}

TEST_F(SettingsFileTest, ASectionForAPaneWithoutValuesWaitsForItsRead) {
  readPaneAs(&masterPane, "KOV-NL001/M", 20, 26, true, false);
  ASSERT_TRUE(load("[Slave]\nChannel = 14\nPower Save = Off\n"));
  EXPECT_EQ(slavePane.module.shown[Setting::Channel], 0xFF) << "the slave holds nothing yet";
  EXPECT_EQ(std::wstring(message), L"The Slave settings wait for the slave's next Read.");

  // The master changes at once and the slave's half is refused later: both
  // messages say what was applied and what was not.
  ASSERT_TRUE(load("[Master]\nChannel = 12\n[Slave]\nChannel = 25\nBaud Rate = 1200\n"));
  EXPECT_EQ(masterPane.module.shown[Setting::Channel], 12);
  EXPECT_EQ(std::wstring(message),
            L"The Master settings were applied; the Slave settings wait for the slave's next "
            L"Read.");
  readPaneAs(&slavePane, "KOV-NL001/S", 20, 24, true, true);
  EXPECT_FALSE(applyPendingSettings(&slavePane.module, &pending, message));
  EXPECT_EQ(slavePane.module.shown[Setting::BaudRate], 3u);
  const std::wstring refusal = message;
  EXPECT_NE(refusal.find(L"Channel 25 is beyond the slave's channel list, which ends at 24"),
            std::wstring::npos);
  EXPECT_NE(refusal.find(L"The Master settings of pair.ini were applied"), std::wstring::npos)
      << std::string(refusal.begin(), refusal.end());
}

// A combination the rules forbid only against what the pane shows: the
// refusal names the key's line, and nothing changes.
TEST_F(SettingsFileTest, ARefusalAtLoadNamesTheKeysLine) {
  readPaneAs(&masterPane, "KOV-NL001/M", 20, 26, true, false);
  readPaneAs(&slavePane, "KOV-NL001/S", 20, 26, true, true);
  const Parsed p = parse("[Master]\nChannel = 12\n[Slave]\nChannel = 12\nFlow Control = Disable\n");
  ASSERT_TRUE(p.ok);
  EXPECT_FALSE(
      loadSettings(&masterPane.module, &slavePane.module, p.file, L"pair.ini", &pending, message));
  EXPECT_EQ(std::wstring(message).rfind(L"pair.ini, line 5: Flow Control cannot be Disable", 0), 0u)
      << std::string(message, message + wcslen(message));
  EXPECT_EQ(masterPane.module.shown[Setting::Channel], 20);
}

// The example profile that ships with nlconf-cli loads whole into a pair
// as read, with every setting of each pane named.
TEST_F(SettingsFileTest, TheShippedExampleProfileLoads) {
  std::ifstream in(NLCONF_SOURCE_DIR "/packaging/example-profile.ini", std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  readPaneAs(&masterPane, "KOV-NL001/M", 20, 26, true, false);
  readPaneAs(&slavePane, "KOV-NL001/S", 20, 26, true, true);
  const Parsed p = parse(text);
  ASSERT_TRUE(load(text)) << std::string(message, message + wcslen(message));
  for (Setting s : kAllSettings) {
    if (!hasFlag(s, kChoice))
      continue;
    EXPECT_EQ(p.file.master.named[indexOf(s)], s != Setting::PowerSave) << indexOf(s);
    EXPECT_TRUE(p.file.slave.named[indexOf(s)]) << indexOf(s);
  }
  EXPECT_TRUE(p.file.pair.makePair);
  EXPECT_EQ(slavePane.module.shown[Setting::Channel], 15);
}

}  // namespace
