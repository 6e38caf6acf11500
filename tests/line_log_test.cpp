// The line log against what the virtual world saw on the wire.
#include "link/line_log.h"

#include <cstdio>
#include <memory>

#include "link/errors.h"
#include "link/transfer.h"
#include "module/read.h"
#include "tests/support/pane_fixture.h"

namespace {

constexpr size_t kStampChars = 13;  // "00:00:01.234 "

std::vector<std::string> linesOf(LineLogBuffer& buffer) {
  const std::string text = lineLogText(buffer);
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

// "<0D>" back to its byte; the rest as it stands.
std::string unescape(const std::string& text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '<' && i + 3 < text.size() && text[i + 3] == '>') {
      bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 3;
    } else {
      bytes += text[i];
    }
  }
  return bytes;
}

class LineLogLines : public PaneTest {
 protected:
  void SetUp() override {
    PaneTest::SetUp();
    setLineLogSink(&dialogLineLog, appendToLineLog, buffer.get());
  }
  void TearDown() override {
    setLineLogSink(&dialogLineLog, nullptr, nullptr);
    PaneTest::TearDown();
  }

  // The transcript's bytes on a port as the log should show them: a line
  // for each run in one direction, cut at each CR.
  std::vector<std::string> wireLines(const std::string& port) const {
    std::vector<std::string> lines;
    std::string current;
    char direction = 0;
    auto flush = [&] {
      if (!current.empty())
        lines.push_back(port + " " + direction + " " + current);
      current.clear();
    };
    for (const vw::Entry& e : world.transcript()) {
      if (e.port != port || (e.kind != vw::Event::HostByte && e.kind != vw::Event::PeerByte))
        continue;
      const char d = e.kind == vw::Event::HostByte ? '>' : '<';
      if (d != direction)
        flush();
      direction = d;
      if (e.value == '\r')
        flush();
      else
        current += static_cast<char>(e.value);
    }
    flush();
    return lines;
  }

  std::unique_ptr<LineLogBuffer> buffer = std::make_unique<LineLogBuffer>();
};

TEST_F(LineLogLines, ReadListsExactlyWhatWentOverTheLineInOrder) {
  prepareOperation(&masterPane);
  ASSERT_EQ(readBody(&masterPane), 0);

  std::vector<std::string> traffic;
  uint32_t lastStamp = 0;
  std::vector<std::string> lines = linesOf(*buffer);
  ASSERT_GT(lines.size(), 2u);
  EXPECT_EQ(lines.front(), "---- 2001-01-01 ----");
  lines.erase(lines.begin());
  EXPECT_EQ(lines.front().substr(kStampChars), "COM3 = 9600 8-N-1");
  for (const std::string& line : lines) {
    // Virtual time, so the stamps say exactly when things happened.
    int h = 0, m = 0, s = 0, ms = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%2d:%2d:%2d.%3d ", &h, &m, &s, &ms), 4) << line;
    const uint32_t stamp = static_cast<uint32_t>(((h * 60 + m) * 60 + s) * 1000 + ms);
    EXPECT_GE(stamp, lastStamp) << line;
    lastStamp = stamp;
    const std::string rest = line.substr(kStampChars);
    if (rest.rfind("COM3 > ", 0) == 0 || rest.rfind("COM3 < ", 0) == 0)
      traffic.push_back(rest);
  }
  EXPECT_LE(lastStamp, world.now() / 1000);
  EXPECT_EQ(traffic, wireLines("COM3"));
  EXPECT_EQ(traffic.front(), "COM3 > +++");
  EXPECT_EQ(traffic.back(), "COM3 < OK");
}

// A face that names its ports by path has every line made with that name;
// what a module sends is never taken for a port's name.
TEST_F(LineLogLines, PortsGoByTheFacesNamesAndModuleTextStaysAsSent) {
  sim::ModuleConfig named = masterConfig();
  named.nodeId = "COM4 NODE";
  makeModules(named, slaveConfig());
  setLineLogPortName(&dialogLineLog, 3, "/dev/ttyUSB0");
  prepareOperation(&masterPane);
  readBody(&masterPane);
  setLineLogPortName(&dialogLineLog, 3, nullptr);
  logNote(&dialogLineLog, 3, "named no more");

  std::vector<std::string> lines = linesOf(*buffer);
  ASSERT_GT(lines.size(), 3u);
  lines.erase(lines.begin());  // the date
  EXPECT_EQ(lines.back().substr(kStampChars), "COM3 named no more");
  lines.pop_back();
  for (const std::string& line : lines)
    EXPECT_EQ(line.compare(kStampChars, 13, "/dev/ttyUSB0 "), 0) << line;
  bool nodeIdAsSent = false;
  for (const std::string& line : lines)
    nodeIdAsSent = nodeIdAsSent || line.substr(kStampChars) == "/dev/ttyUSB0 < COM4 NODE";
  EXPECT_TRUE(nodeIdAsSent);
}

// Over a second of binary noise at 115200 baud: the record keeps
// the newest lines, says how many went, and shows every byte it kept.
TEST_F(LineLogLines, NoiseFloodStaysBoundedEscapedAndFaithful) {
  master->setReg("BD", 7);
  master->powerCycle();
  // In bursts that just fill the line, as a chattering module sends them.
  for (uint32_t burst = 0, i = 0; burst < 200; ++burst) {
    std::string noise;
    for (; noise.size() < 64; ++i)
      noise += static_cast<char>((i * 73 + 5) & 0xFF);
    master->inject(world.now() + 1000 + burst * vw::ms(6), noise);
  }
  uint32_t produced = 0;
  struct Counting {
    LineLogBuffer* buffer;
    uint32_t* produced;
  } counting{buffer.get(), &produced};
  setLineLogSink(
      &dialogLineLog,
      [](void* c, const char* line, uint32_t length) {
        auto* to = static_cast<Counting*>(c);
        ++*to->produced;
        appendToLineLog(to->buffer, line, length);
      },
      &counting);

  prepareOperation(&masterPane);
  SerialPort* port = openPort(3, masterPane.cancelEvent);
  ASSERT_NE(port, nullptr);
  port->lineLog = &dialogLineLog;
  os::LineSettings fast{};
  fast.baudRate = 115200;
  fast.byteSize = 8;
  ASSERT_TRUE(os::setLineSettings(port->handle, fast));
  char line[2];
  uint32_t length = 0;
  while (readLine(port, line, sizeof line, &length) != ErrTimeout) {
  }
  closePort(port);

  const std::vector<std::string> lines = linesOf(*buffer);
  ASSERT_GT(produced, kLineLogCapacity);
  ASSERT_EQ(lines.size(), kLineLogCapacity + 2);
  EXPECT_EQ(lines[0], "(" + std::to_string(produced - kLineLogCapacity) + " older lines dropped)");
  std::string kept;
  for (size_t i = 2; i < lines.size(); ++i) {
    for (char c : lines[i])
      ASSERT_TRUE(c >= 0x20 && c < 0x7F) << "line " << i << ": " << lines[i];
    if (lines[i].compare(kStampChars, 7, "COM3 < ") == 0)
      kept += unescape(lines[i].substr(kStampChars + 7));
  }
  std::string heard;
  for (const vw::Entry& e : world.entries("COM3", vw::Event::HostRead)) {
    if (e.value != '\r')
      heard += static_cast<char>(e.value);
  }
  ASSERT_GT(heard.size(), kept.size());
  EXPECT_EQ(kept, heard.substr(heard.size() - kept.size()));
  EXPECT_EQ(lines.back().substr(kStampChars), "COM3 no reply within 1200 ms");
}

// A window's text as updateLineLogView tells it to change.
void applyUpdate(std::string& shown, const LineLogUpdate& update) {
  if (update.restart) {
    shown = update.more;
    return;
  }
  size_t cut = 0;
  for (uint32_t i = 0; i < update.linesToReplace; ++i)
    cut = shown.find("\r\n", cut) + 2;
  shown = update.top + shown.substr(cut) + update.more;
}

// Across midnight, past the record's bound and through a clear, a view kept
// up to date in steps shows what a Save writes: the date on top and where it
// changes, never more than the record's lines.
TEST(LineLogView, FollowsTheRecordWithItsDates) {
  vw::World world;
  auto buffer = std::make_unique<LineLogBuffer>();
  LineLog log;
  setLineLogSink(&log, appendToLineLog, buffer.get());
  LineLogView view;
  std::string shown;
  auto catchUp = [&] {
    LineLogUpdate update;
    if (updateLineLogView(*buffer, view, update))
      applyUpdate(shown, update);
    ASSERT_EQ(shown, lineLogText(*buffer));
  };
  logNote(&log, 5, "first");
  catchUp();
  os::sleepMs(86400000 - 1);
  logNote(&log, 5, "late");
  os::sleepMs(1);
  logNote(&log, 5, "early");
  catchUp();
  EXPECT_EQ(linesOf(*buffer),
            (std::vector<std::string>{"---- 2001-01-01 ----", "00:00:00.000 COM5 first",
                                      "23:59:59.999 COM5 late", "---- 2001-01-02 ----",
                                      "00:00:00.000 COM5 early"}));
  for (uint32_t n = 0; n < kLineLogCapacity + 1500; ++n) {
    logNote(&log, 6, "x");
    if (n % 700 == 0)
      catchUp();
  }
  catchUp();
  const std::vector<std::string> lines = linesOf(*buffer);
  EXPECT_EQ(lines.size(), kLineLogCapacity + 2);
  EXPECT_EQ(lines[1], "---- 2001-01-02 ----") << "the date stays on top";
  clearLineLog(*buffer);
  catchUp();
  EXPECT_EQ(shown, "");
  logNote(&log, 6, "after the clear");
  catchUp();
  EXPECT_EQ(shown, "---- 2001-01-02 ----\r\n00:00:00.000 COM6 after the clear\r\n");
}

}  // namespace
