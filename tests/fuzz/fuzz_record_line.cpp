// Arbitrary texts from the computer, the user and the modules through the
// record line: it stays one CSV line of well-formed UTF-8 with the header's
// columns, whatever they hold, and each text stands in it whole.
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

// The fields as a spreadsheet reads them.
std::vector<std::string> csvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i + 2 < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && line[i + 1] == '"')
      fields.back() += line[++i];
    else if (c == '"')
      quoted = !quoted;
    else if (!quoted && c == ',')
      fields.emplace_back();
    else
      fields.back() += c;
  }
  return fields;
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
  const std::string header = formatPairRecordHeader();
  const std::string text = formatPairRecordLine(run, message.c_str(), context);
  require(text.size() > 2 && text.compare(text.size() - 2, 2, "\r\n") == 0,
          "the line does not end with CR LF");
  require(wellFormedUtf8(text), "the line is no well-formed UTF-8");
  require(fieldCount(text) == fieldCount(header), "the line's columns are not the header's");
  // Version, profile, station and operator stand whole in columns 2, 3, 5
  // and 6, behind an apostrophe where a spreadsheet would see a formula.
  const std::vector<std::string> fields = csvFields(text);
  const size_t columns[] = {1, 2, 4, 5};
  for (size_t i = 0; i < 4; ++i) {
    const std::string& given = texts[i];
    if (wellFormedUtf8(given))
      require(fields[columns[i]] == (given.find_first_of("=+-@") == 0 ? "'" + given : given),
              "a text was cut or changed in the line");
  }
  return 0;
}
