// Arbitrary texts from the computer, the user and the modules through the
// record line: it stays one CSV line of well-formed UTF-8 with the header's
// columns, whatever they hold.
#include <cstring>
#include <string>
#include <vector>

#include "module/pair_record.h"
#include "tests/fuzz/check.h"
#include "tests/support/recording_view.h"

namespace {

bool wellFormedUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<uint8_t>(s[i]);
    const size_t more = c < 0x80                ? 0
                        : c >= 0xC2 && c < 0xE0 ? 1
                        : c >= 0xE0 && c < 0xF0 ? 2
                        : c >= 0xF0 && c < 0xF5 ? 3
                                                : 9;
    if (more == 9 || i + more >= s.size() + (more ? 0 : 1))
      return false;
    uint32_t code = more ? c & (0x3F >> more) : c;
    for (size_t k = 1; k <= more; ++k) {
      if ((static_cast<uint8_t>(s[i + k]) & 0xC0) != 0x80)
        return false;
      code = code << 6 | (static_cast<uint8_t>(s[i + k]) & 0x3F);
    }
    const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (code < least[more] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
      return false;
    i += more + 1;
  }
  return true;
}

// Field count of one RFC 4180 line; -1 when a line break stands unquoted
// before its end.
int fieldCount(const std::string& line) {
  int fields = 1;
  bool quoted = false;
  for (size_t i = 0; i + 2 < line.size(); ++i) {
    if (line[i] == '"')
      quoted = !quoted;
    else if (!quoted && line[i] == ',')
      ++fields;
    else if (!quoted && (line[i] == '\r' || line[i] == '\n'))
      return -1;
  }
  return quoted ? -1 : fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  view();  // the panes' screen, which the record's module code links against
  // Seven texts, split at NUL bytes; the last one also fills the node identifiers.
  std::vector<std::string> texts(7);
  size_t t = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && t + 1 < texts.size())
      ++t;
    else if (data[i] != 0)
      texts[t].push_back(static_cast<char>(data[i]));
  }
  PairRecordContext context;
  context.version = texts[0].c_str();
  context.profilePath = texts[1].c_str();
  context.station = texts[2].c_str();
  context.operatorName = texts[3].c_str();
  context.masterPort = texts[4].c_str();
  context.slavePort = texts[5].c_str();
  context.when.utcOffsetMinutes = static_cast<int16_t>(size * 37 % 1700 - 850);
  static PairRunResult run;
  run = PairRunResult{};
  run.portsSwapped = size % 2;
  run.master.identified = true;
  run.slave.named = true;
  std::memcpy(run.master.nodeId, texts[6].data(),
              std::min(texts[6].size(), sizeof run.master.nodeId));
  std::memcpy(run.slave.nodeId, texts[6].data(),
              std::min(texts[6].size(), sizeof run.slave.nodeId));
  std::wstring message;
  for (char c : texts[6])
    message.push_back(static_cast<wchar_t>(static_cast<uint8_t>(c) * 0x101));
  char header[kPairRecordLineLimit], line[kPairRecordLineLimit];
  const size_t h = formatPairRecordHeader(header, sizeof header);
  const size_t n = formatPairRecordLine(run, message.c_str(), context, line, sizeof line);
  require(h > 0 && n > 2, "a line did not fit its limit");
  const std::string text(line, n);
  require(text.compare(n - 2, 2, "\r\n") == 0, "the line does not end with CR LF");
  require(wellFormedUtf8(text), "the line is no well-formed UTF-8");
  require(fieldCount(text) == fieldCount(std::string(header, h)),
          "the line's columns are not the header's");
  return 0;
}
