// nlconf-cli's command line as its commands' tables read it.
#include <gtest/gtest.h>

#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/session.h"

namespace cli {

// What each system's main gives the program; parsing asks for none of it.
std::vector<PortEntry> listPorts() {
  return {};
}
bool bindPort(const std::string&, uint32_t, uint32_t*, std::string*, std::string* message) {
  *message = "no ports here";
  return false;
}
bool stderrIsTerminal() {
  return false;
}
void modulesReleased() {}

namespace {

struct Parsed {
  bool ok = false;
  Options options;
  std::string message;
};

Parsed parse(const std::vector<std::string>& args) {
  Parsed p;
  p.ok = parseOptions(args, kCommands, &p.options, &p.message);
  return p;
}

// --opt=value means --opt value: a string, a choice, a number, a share and
// a repeatable alike, the empty value included.
TEST(CliOptions, ValueAfterEqualsSignIsTheValue) {
  const std::vector<std::string> lines[][2] = {
      {{"write", "P", "--role=slave", "--set=Channel=12", "--set=Power Level=High", "--dry-run"},
       {"write", "P", "--role", "slave", "--set", "Channel=12", "--set", "Power Level=High",
        "--dry-run"}},
      {{"range-test", "M", "S", "--count=5", "--size=20", "--min-received=99.5"},
       {"range-test", "M", "S", "--count", "5", "--size", "20", "--min-received", "99.5"}},
      {{"pair", "M", "S", "--record=r.csv", "--log="},
       {"pair", "M", "S", "--record", "r.csv", "--log", ""}},
  };
  Parsed equals[3];
  for (size_t i = 0; i < 3; ++i) {
    equals[i] = parse(lines[i][0]);
    const Parsed spaced = parse(lines[i][1]);
    ASSERT_TRUE(equals[i].ok) << equals[i].message;
    ASSERT_TRUE(spaced.ok) << spaced.message;
    EXPECT_EQ(equals[i].options, spaced.options) << lines[i][0].back();
  }
  EXPECT_EQ(equals[0].options.role, Role::Slave);
  EXPECT_EQ(equals[0].options.sets, (std::vector<std::string>{"Channel=12", "Power Level=High"}));
  EXPECT_EQ(equals[1].options.count, 5u);
  EXPECT_EQ(equals[1].options.size, 20u);
  EXPECT_EQ(equals[1].options.minReceived, 995000u);
  EXPECT_EQ(equals[2].options.record, "r.csv");
  // "--log -v" is a forgotten value; after "=" it can only be the file's name.
  EXPECT_FALSE(parse({"read", "P", "--log", "-v"}).ok);
  const Parsed named = parse({"read", "P", "--log=-v"});
  EXPECT_EQ(named.options.log, "-v");
  EXPECT_FALSE(named.options.verbose);
}

// A value refused after "=" is refused in the same words; a flag takes no
// value, refused as an unknown option is.
TEST(CliOptions, EqualsSignRefusals) {
  const std::vector<std::string> pairs[][2] = {
      {{"range-test", "M", "--count=0"}, {"range-test", "M", "--count", "0"}},
      {{"range-test", "M", "--size="}, {"range-test", "M", "--size", ""}},
      {{"range-test", "M", "--min-received=100.5"}, {"range-test", "M", "--min-received", "100.5"}},
      {{"read", "P", "--role=boss"}, {"read", "P", "--role", "boss"}},
      {{"read", "P", "--set=Channel=12"}, {"read", "P", "--set", "Channel=12"}},
  };
  for (const auto& [equals, spaced] : pairs) {
    const Parsed a = parse(equals), b = parse(spaced);
    EXPECT_FALSE(a.ok);
    EXPECT_FALSE(b.ok);
    EXPECT_EQ(a.message, b.message) << equals.back();
  }
  for (const char* flag : {"--json", "--dry-run", "--help"}) {
    const Parsed p = parse({"write", "P", "--role", "slave", std::string(flag) + "=yes"});
    EXPECT_FALSE(p.ok) << flag;
    EXPECT_EQ(p.message,
              std::string(flag) + " takes no value, not \"yes\". See nlconf-cli write --help.");
  }
  EXPECT_EQ(parse({"read", "P", "--bogus=1"}).message,
            "Unknown option \"--bogus=1\". See nlconf-cli read --help.");
}

// Every command that finds a module takes where to look for it; the
// session is given it whole, and what means nothing is refused.
TEST(CliOptions, WhereToLookForTheModule) {
  const std::vector<std::string> lines[] = {{"read", "P"},
                                            {"write", "P", "--role", "master"},
                                            {"pair", "M", "S", "F"},
                                            {"link-test", "M", "S"},
                                            {"range-test", "M"}};
  for (std::vector<std::string> line : lines) {
    for (const char* arg :
         {"--baud", "115200", "--parity", "mark", "--stop-bits", "2", "--search", "--no-reset-key"})
      line.push_back(arg);
    const Parsed p = parse(line);
    ASSERT_TRUE(p.ok) << line[0] << ": " << p.message;
    const LineSearch search = lineSearchOf(p.options);
    EXPECT_EQ(search.named, (LineGuess{115200, os::kMarkParity, os::kTwoStopBits})) << line[0];
    EXPECT_TRUE(search.everySetting);
    EXPECT_FALSE(search.resetKey);
  }
  const LineSearch plain = lineSearchOf(parse({"read", "P"}).options);
  EXPECT_EQ(plain.named.baudRate, 0u) << "nothing named: 9600, then the reset key";
  EXPECT_FALSE(plain.everySetting);
  EXPECT_TRUE(plain.resetKey);
  EXPECT_EQ(lineSearchOf(parse({"read", "P", "--baud=38400"}).options).named,
            (LineGuess{38400, os::kNoParity, os::kOneStopBit}));
  EXPECT_EQ(parse({"read", "P", "--parity", "even"}).message,
            "--parity and --stop-bits go with --baud RATE. See nlconf-cli read --help.");
  EXPECT_FALSE(parse({"read", "P", "--baud", "38400", "--parity", "space"}).ok);
  EXPECT_FALSE(parse({"read", "P", "--baud", "38400", "--stop-bits", "3"}).ok);
  // In the words read, JSON and profiles print, too.
  EXPECT_EQ(lineSearchOf(parse({"read", "P", "--baud", "38400", "--parity", "Even Parity",
                                "--stop-bits", "Two Stop Bits"})
                             .options)
                .named,
            (LineGuess{38400, os::kEvenParity, os::kTwoStopBits}));
  EXPECT_FALSE(parse({"read", "P", "--baud", "0"}).ok);
  EXPECT_EQ(parse({"ports", "--search"}).message,
            "\"--search\" is no option of ports. See nlconf-cli ports --help.");
}

// Help and the version are asked for as a user would guess.
TEST(CliOptions, HelpAndVersionInEveryForm) {
  for (const std::vector<std::string>& line :
       std::vector<std::vector<std::string>>{{"help"}, {"help", "--help"}, {"--help"}}) {
    const Parsed p = parse(line);
    EXPECT_TRUE(p.ok && p.options.asked == Asked::Help && !p.options.command) << p.message;
  }
  EXPECT_TRUE(parse({"--version", "--json"}).options.json);
  EXPECT_EQ(parse({"--json", "--version"}).options.asked, Asked::Version);
  EXPECT_FALSE(parse({"--version", "--quiet"}).ok);
  const std::string usage = usageText(kCommands);
  for (const char* option : {"--baud", "--search", "--no-reset-key"})
    EXPECT_NE(usage.find(option), std::string::npos) << option;
}

// at's operands after its port are the module's commands, in order; options
// may come among them, and "--" lets a command look like one.
TEST(CliOptions, AtTakesItsCommandsInOrder) {
  const Parsed p = parse({"at", "P", "ATCH", "--json", "ATPL2", "--", "--"});
  ASSERT_TRUE(p.ok) << p.message;
  EXPECT_EQ(p.options.ports, std::vector<std::string>{"P"});
  EXPECT_EQ(p.options.commands, (std::vector<std::string>{"ATCH", "ATPL2", "--"}));
  EXPECT_TRUE(p.options.json);
  EXPECT_EQ(parse({"at", "P"}).message, "at needs a COMMAND. See nlconf-cli at --help.");
  EXPECT_FALSE(parse({"console", "P", "ATCH"}).ok);
}

}  // namespace
}  // namespace cli
