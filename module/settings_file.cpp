#include "module/settings_file.h"

#include <cstring>

#include "link/hex.h"
#include "module/bounded_text.h"
#include "module/sha256.h"
#include "version.h"

namespace {

// Keys are the dialog's labels, values the entries of its lists.
bool isKey(Setting setting, bool master) {
  return hasFlag(setting, kChoice) && appliesTo(setting, master);
}

uint32_t at(Setting setting) {
  return static_cast<uint32_t>(indexOf(setting));
}

constexpr size_t kEchoedCharacters = 40;
constexpr size_t kShownNameChars = 160;

const wchar_t* sectionName(bool master) {
  return master ? L"Master" : L"Slave";
}

const wchar_t* paneName(bool master) {
  return master ? L"master" : L"slave";
}

// ---- bounded wide text --------------------------------------------------------

using Text = WideText;

Text startText(wchar_t* out) {
  return startWideText(out, kSettingsMessageChars);
}

void addCodePoint(Text& t, uint32_t c) {
  uint32_t units[2];
  const size_t count = putWideUnits(units, c, sizeof(wchar_t) == 2);
  for (size_t i = 0; i < count; ++i)
    put(t, units[i]);
}

// A long path keeps its end, where the file's own name is, and leaves room
// for what is wrong.
void addFileName(Text& t, const wchar_t* name) {
  size_t length = 0;
  while (name && name[length])
    ++length;
  if (length > kShownNameChars) {
    add(t, L"...");
    name += length - kShownNameChars;
  }
  add(t, name);
}

// ---- bytes --------------------------------------------------------------------

struct ByteSpan {
  const uint8_t* p;
  size_t n;
};

// What the file said, quoted and cut to a length a message box can take.
void addQuoted(Text& t, ByteSpan s) {
  put(t, L'"');
  size_t at = 0, shown = 0;
  while (at < s.n && shown < kEchoedCharacters) {
    uint32_t c = 0;
    const size_t length = utf8Sequence(s.p + at, s.n - at, &c);
    if (length == 0)
      break;  // the file was checked whole before any line is read
    addCodePoint(t, c);
    at += length;
    ++shown;
  }
  if (at < s.n)
    add(t, L"...");
  put(t, L'"');
}

bool isBlank(uint8_t b) {
  return b == ' ' || b == '\t';
}

ByteSpan trimmed(ByteSpan s) {
  while (s.n && isBlank(s.p[0]))
    ++s.p, --s.n;
  while (s.n && isBlank(s.p[s.n - 1]))
    --s.n;
  return s;
}

bool isCommentMark(uint8_t b) {
  return b == ';' || b == '#';
}

// What a line says, without its comment: a line that starts with ";" or
// "#", or the rest of one from a ";" or "#" after white space (no key or
// entry holds either). A comment may hold any bytes: editors write ANSI.
ByteSpan contentOf(ByteSpan line) {
  line = trimmed(line);
  if (line.n && isCommentMark(line.p[0]))
    return ByteSpan{line.p, 0};
  for (size_t i = 1; i < line.n; ++i) {
    if (isCommentMark(line.p[i]) && isBlank(line.p[i - 1]))
      return trimmed(ByteSpan{line.p, i});
  }
  return line;
}

uint32_t lowerAscii(uint32_t c) {
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

// Without regard to case; the lists and keys are ASCII.
bool sameText(ByteSpan s, const wchar_t* w) {
  size_t i = 0;
  for (; i < s.n; ++i) {
    if (!w[i] || lowerAscii(s.p[i]) != lowerAscii(static_cast<uint32_t>(w[i])))
      return false;
  }
  return w[i] == 0;
}

int32_t entryOf(ByteSpan value, const ChoiceList& list) {
  for (int32_t i = 0; i < list.count; ++i) {
    if (sameText(value, list.entries[i]))
      return i;
  }
  return -1;
}

void addList(Text& t, const ChoiceList& list) {
  for (int32_t i = 0; i < list.count; ++i) {
    if (i)
      add(t, L", ");
    add(t, list.entries[i]);
  }
}

void addKeys(Text& t, bool master) {
  bool first = true;
  for (Setting s : kAllSettings) {
    if (!isKey(s, master))
      continue;
    add(t, first ? L"" : L", ");
    add(t, settingInfo(s).label);
    first = false;
  }
}

// ---- parsing ------------------------------------------------------------------

struct Parse {
  const wchar_t* fileName;
  wchar_t* message;
  uint32_t* line;
  SettingsFile file;
  PaneSettings* section = nullptr;
  bool inPair = false;
  bool inRange = false;
};

// Starts the refusal's message; the caller says what is wrong and ends it.
Text refusal(Parse& parse, uint32_t line) {
  *parse.line = line;
  Text t = startText(parse.message);
  addFileName(t, parse.fileName);
  add(t, L", line ");
  addNumber(t, line);
  add(t, L": ");
  return t;
}

bool refused(Text& t) {
  add(t, L".\r\n\r\nNothing of the file was loaded.");
  return false;
}

bool refuse(Parse& parse, uint32_t line, const wchar_t* what) {
  Text t = refusal(parse, line);
  add(t, what);
  return refused(t);
}

// "... comes a second time<where> (first on line N)".
bool refuseRepeat(Parse& parse, uint32_t number, const wchar_t* name, const wchar_t* where,
                  uint32_t firstLine) {
  Text t = refusal(parse, number);
  add(t, name);
  add(t, L" comes a second time");
  add(t, where);
  add(t, L" (first on line ");
  addNumber(t, firstLine);
  add(t, L")");
  return refused(t);
}

// [Pair] and [Range] hold no pane's settings and may come once each.
bool startSectionOnce(Parse& parse, uint32_t number, bool& present, uint32_t& sectionLine,
                      const wchar_t* name) {
  if (present)
    return refuseRepeat(parse, number, name, L"", sectionLine);
  present = true;
  sectionLine = number;
  parse.section = nullptr;
  return true;
}

bool startPairSection(Parse& parse, uint32_t number) {
  PairSettings& pair = parse.file.pair;
  parse.inPair = startSectionOnce(parse, number, pair.present, pair.sectionLine, L"[Pair]");
  parse.inRange = false;
  return parse.inPair;
}

bool startRangeSection(Parse& parse, uint32_t number) {
  RangeSettings& range = parse.file.range;
  parse.inRange = startSectionOnce(parse, number, range.present, range.sectionLine, L"[Range]");
  parse.inPair = false;
  return parse.inRange;
}

bool wholeNumber(ByteSpan value, bool percent, uint32_t highest, uint32_t* out) {
  if (percent && value.n && value.p[value.n - 1] == '%')
    value = trimmed(ByteSpan{value.p, value.n - 1});
  if (value.n == 0)
    return false;
  uint64_t n = 0;
  for (size_t i = 0; i < value.n; ++i) {
    if (value.p[i] < '0' || value.p[i] > '9')
      return false;
    n = n * 10 + static_cast<uint64_t>(value.p[i] - '0');
    if (n > highest)
      return false;
  }
  *out = static_cast<uint32_t>(n);
  return true;
}

// [Range] knows Packets (1..kRangeProfileMaxPackets) and Min Received
// (a whole per cent).
bool takeRangeSetting(Parse& parse, ByteSpan key, ByteSpan value, uint32_t number) {
  RangeSettings& range = parse.file.range;
  const bool packets = sameText(key, L"Packets");
  if (!packets && !sameText(key, L"Min Received")) {
    Text t = refusal(parse, number);
    add(t, L"[Range] has no setting ");
    addQuoted(t, key);
    add(t, L"; its settings are Packets, Min Received");
    return refused(t);
  }
  const wchar_t* name = packets ? L"Packets" : L"Min Received";
  uint32_t& line = packets ? range.packetsLine : range.minReceivedLine;
  if (line)
    return refuseRepeat(parse, number, name, L" in [Range]", line);
  uint32_t n = 0;
  const bool fits = packets ? wholeNumber(value, false, kRangeProfileMaxPackets, &n) && n >= 1
                            : wholeNumber(value, true, 100, &n);
  if (!fits) {
    Text t = refusal(parse, number);
    add(t, name);
    add(t, L" cannot be ");
    addQuoted(t, value);
    if (packets) {
      add(t, L"; it is a whole number from 1 to ");
      addNumber(t, kRangeProfileMaxPackets);
    } else {
      add(t, L"; it is a whole per cent from 0 to 100");
    }
    return refused(t);
  }
  (packets ? range.packets : range.minReceived) = n;
  line = number;
  return true;
}

// [Pair] knows one setting: Make Pair = Yes or No.
bool takePairSetting(Parse& parse, ByteSpan key, ByteSpan value, uint32_t number) {
  PairSettings& pair = parse.file.pair;
  if (!sameText(key, L"Make Pair")) {
    Text t = refusal(parse, number);
    add(t, L"[Pair] has no setting ");
    addQuoted(t, key);
    add(t, L"; its setting is Make Pair");
    return refused(t);
  }
  if (pair.named) {
    Text t = refusal(parse, number);
    add(t, L"Make Pair comes a second time in [Pair] (first on line ");
    addNumber(t, pair.line);
    add(t, L")");
    return refused(t);
  }
  const bool yes = sameText(value, L"Yes");
  if (!yes && !sameText(value, L"No")) {
    Text t = refusal(parse, number);
    add(t, L"Make Pair cannot be ");
    addQuoted(t, value);
    add(t, L"; its entries are Yes, No");
    return refused(t);
  }
  pair.named = true;
  pair.makePair = yes;
  pair.line = number;
  return true;
}

bool startSection(Parse& parse, ByteSpan line, uint32_t number) {
  if (line.p[line.n - 1] != ']')
    return refuse(parse, number, L"a section name needs its closing \"]\"");
  const ByteSpan name = trimmed(ByteSpan{line.p + 1, line.n - 2});
  if (sameText(name, L"Pair"))
    return startPairSection(parse, number);
  if (sameText(name, L"Range"))
    return startRangeSection(parse, number);
  PaneSettings* section = nullptr;
  if (sameText(name, L"Master"))
    section = &parse.file.master;
  else if (sameText(name, L"Slave"))
    section = &parse.file.slave;
  if (!section) {
    Text t = refusal(parse, number);
    add(t, L"there is no section ");
    addQuoted(t, name);
    add(t, L"; the sections are [Master], [Slave], [Pair] and [Range]");
    return refused(t);
  }
  if (section->present) {
    Text t = refusal(parse, number);
    add(t, L"[");
    add(t, sectionName(section == &parse.file.master));
    add(t, L"] comes a second time (first on line ");
    addNumber(t, section->sectionLine);
    add(t, L")");
    return refused(t);
  }
  section->present = true;
  section->sectionLine = number;
  parse.section = section;
  parse.inPair = false;
  parse.inRange = false;
  return true;
}

bool settingOfKey(ByteSpan key, bool master, Setting* setting) {
  for (Setting s : kAllSettings) {
    if (isKey(s, master) && sameText(key, settingInfo(s).label)) {
      *setting = s;
      return true;
    }
  }
  return false;
}

bool refuseUnknownKey(Parse& parse, ByteSpan key, bool master, uint32_t number) {
  Text t = refusal(parse, number);
  for (Setting s : kAllSettings) {
    if (master && isKey(s, false) && !isKey(s, true) && sameText(key, settingInfo(s).label)) {
      add(t, L"the master has no ");
      add(t, settingInfo(s).label);
      add(t, L"; only the slave has one");
      return refused(t);
    }
  }
  add(t, L"[");
  add(t, sectionName(master));
  add(t, L"] has no setting ");
  addQuoted(t, key);
  add(t, L"; its settings are ");
  addKeys(t, master);
  return refused(t);
}

// "<label> cannot be <entry>": the conflict's pick that is refused.
void addRefusedPick(Text& t, const PickConflict& c) {
  add(t, settingInfo(c.setting).label);
  add(t, L" cannot be ");
  add(t, entryText(c.setting, valueAt(c.setting, c.position)));
}

void addStandingPick(Text& t, const PickConflict& c) {
  add(t, settingInfo(c.because).label);
  add(t, L" ");
  add(t, entryText(c.because, valueAt(c.because, c.becausePosition)));
}

bool namesPick(const PaneSettings& s, Setting setting, int32_t position) {
  return s.named[at(setting)] && s.position[at(setting)] == position;
}

// The one pair of choices that the dialog's rules never let a user make.
bool refuseImpossiblePair(Parse& parse, const PaneSettings& s, uint32_t number) {
  const PickConflict& c = pickConflict();
  if (!namesPick(s, c.because, c.becausePosition) || !namesPick(s, c.setting, c.position))
    return true;
  Text t = refusal(parse, number);
  addRefusedPick(t, c);
  add(t, L" with ");
  addStandingPick(t, c);
  add(t, L": ");
  add(t, c.reason);
  return refused(t);
}

bool takeSetting(Parse& parse, ByteSpan line, size_t equals, uint32_t number) {
  if (parse.inPair || parse.inRange) {
    const ByteSpan key = trimmed(ByteSpan{line.p, equals});
    const ByteSpan value = trimmed(ByteSpan{line.p + equals + 1, line.n - equals - 1});
    return parse.inPair ? takePairSetting(parse, key, value, number)
                        : takeRangeSetting(parse, key, value, number);
  }
  if (!parse.section)
    return refuse(parse, number, L"a setting comes before any [Master] or [Slave] section");
  PaneSettings& s = *parse.section;
  const bool master = parse.section == &parse.file.master;
  const ByteSpan key = trimmed(ByteSpan{line.p, equals});
  const ByteSpan value = trimmed(ByteSpan{line.p + equals + 1, line.n - equals - 1});
  Setting found = Setting::PanId;
  if (!settingOfKey(key, master, &found))
    return refuseUnknownKey(parse, key, master, number);
  const SettingInfo& info = settingInfo(found);
  const uint32_t setting = at(found);
  if (s.named[setting]) {
    Text t = refusal(parse, number);
    add(t, info.label);
    add(t, L" comes a second time in [");
    add(t, sectionName(master));
    add(t, L"] (first on line ");
    addNumber(t, s.line[setting]);
    add(t, L")");
    return refused(t);
  }
  const int32_t position = entryOf(value, *info.choices);
  if (position < 0) {
    Text t = refusal(parse, number);
    add(t, info.label);
    add(t, L" cannot be ");
    addQuoted(t, value);
    add(t, L"; its entries are ");
    addList(t, *info.choices);
    return refused(t);
  }
  s.named[setting] = true;
  s.position[setting] = position;
  s.line[setting] = number;
  return refuseImpossiblePair(parse, s, number);
}

bool takeLine(Parse& parse, ByteSpan line, uint32_t number) {
  line = contentOf(line);
  if (line.n == 0)
    return true;
  if (line.p[0] == '[')
    return startSection(parse, line, number);
  for (size_t i = 0; i < line.n; ++i) {
    if (line.p[i] == '=')
      return takeSetting(parse, line, i, number);
  }
  return refuse(parse, number,
                L"this line is neither a [section], a comment nor \"Setting = Value\"");
}

// Size and NUL bytes are the whole file's, UTF-8 each line's outside its
// comment: checked before any line means anything.
bool checkBytes(Parse& parse, const uint8_t* bytes, size_t size) {
  uint32_t number = 1;
  for (size_t at = 0; at < size; ++number) {
    size_t end = at;
    while (end < size && bytes[end] != '\n') {
      if (bytes[end] == 0)
        return refuse(parse, number, L"a NUL byte: this is no text file");
      ++end;
    }
    const ByteSpan content = contentOf(ByteSpan{bytes + at, end - at});
    for (size_t i = 0; i < content.n;) {
      uint32_t c = 0;
      const size_t length = utf8Sequence(content.p + i, content.n - i, &c);
      if (length == 0)
        return refuse(parse, number, L"this line is not UTF-8 text: save the file as UTF-8");
      i += length;
    }
    at = end + 1;
  }
  return true;
}

bool refuseOversize(Parse& parse, const uint8_t* bytes) {
  uint32_t number = 1;
  for (size_t i = 0; i < kSettingsFileLimit; ++i)
    number += bytes[i] == '\n';
  return refuse(parse, number, L"the file goes on beyond 64 KiB, more than a settings file holds");
}

// Notepad's "Unicode": UTF-16 with a byte-order mark, either byte order.
bool isUtf16(const uint8_t* bytes, size_t size, bool* bigEndian) {
  if (size < 2 ||
      !((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF)))
    return false;
  *bigEndian = bytes[0] == 0xFE;
  return true;
}

// At most 3 bytes of UTF-8 for each 2 bytes of UTF-16.
constexpr size_t kDecodedLimit = kSettingsFileLimit / 2 * 3;

// The same text as UTF-8, line for line. What is no UTF-16 (a lone
// surrogate, an odd last byte) becomes a byte that is no UTF-8 either, so
// that it is refused where it matters and passes in a comment.
size_t decodeUtf16(const uint8_t* bytes, size_t size, bool bigEndian, uint8_t* out) {
  constexpr uint8_t kNotText = 0xFF;
  auto unitAt = [&](size_t i) {
    return bigEndian ? uint32_t(bytes[i] << 8 | bytes[i + 1])
                     : uint32_t(bytes[i + 1] << 8 | bytes[i]);
  };
  size_t length = 0;
  size_t i = 2;
  for (; i + 1 < size; i += 2) {
    const uint32_t first = unitAt(i);
    size_t used = 1;
    const uint32_t c = takeWideUnits(first, i + 3 < size ? unitAt(i + 2) : 0, &used);
    i += 2 * (used - 1);
    // A lone surrogate, not a U+FFFD the file itself holds.
    if (c == 0xFFFD && first != 0xFFFD)
      out[length++] = kNotText;
    else
      length += putUtf8(out + length, c);
  }
  if (i < size)
    out[length++] = kNotText;
  return length;
}

// The decoded text of a UTF-16 file, one per thread: files are read by
// whichever thread of a face needs them, and a parse keeps no pointer into
// it beyond its own call.
thread_local uint8_t decoded[kDecodedLimit];

}  // namespace

bool parseSettingsFile(const uint8_t* bytes, size_t size, const wchar_t* fileName,
                       SettingsFile* file, uint32_t* line, wchar_t* message) {
  Parse parse{fileName ? fileName : L"", message, line, SettingsFile{}};
  message[0] = 0;
  *line = 0;
  if (!bytes)
    size = 0;
  if (size > kSettingsFileLimit)
    return refuseOversize(parse, bytes);
  // The digest is of the file as it lies on the disk, whatever its encoding.
  char digest[sizeof file->sha256];
  sha256Hex(bytes, size, digest);
  bool bigEndian = false;
  if (isUtf16(bytes, size, &bigEndian)) {
    size = decodeUtf16(bytes, size, bigEndian, decoded);
    bytes = decoded;
  }
  if (!checkBytes(parse, bytes, size))
    return false;
  size_t at = size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
  for (uint32_t number = 1; at < size; ++number) {
    size_t end = at;
    while (end < size && bytes[end] != '\n')
      ++end;
    ByteSpan text{bytes + at, end - at};
    if (text.n && text.p[text.n - 1] == '\r')
      --text.n;
    if (!takeLine(parse, text, number))
      return false;
    at = end + 1;
  }
  *file = parse.file;
  std::memcpy(file->sha256, digest, sizeof digest);
  return true;
}

// ---- formatting ---------------------------------------------------------------

namespace {

// The entries and keys are ASCII.
void addWide(BoundedText& b, const wchar_t* s) {
  while (*s)
    addByte(b, static_cast<char>(*s++));
}

void addHex(BoundedText& b, uint64_t value, int digits) {
  char text[16];
  const int length = formatHex(value, digits, text);
  for (int i = 0; i < length; ++i)
    addByte(b, text[i]);
}

// A node identifier is the module's 8-bit text: only printable ASCII goes
// into the file, so that the file stays UTF-8 and one line.
void addModuleComment(BoundedText& b, const ModuleRecord* p) {
  addBytes(b, p->isMaster ? "; Master: Node Identifier " : "; Slave: Node Identifier ");
  // An identifier may fill its array without a terminator.
  addBytes(b, printableModuleText(p->nodeId, kNodeIdSize).c_str());
  addBytes(b, ", PAN ID ");
  const uint64_t panId = p->shown[Setting::PanId];
  addHex(b, panId, 1);
  addBytes(b, ", Destination ");
  addHex(b, p->shown[Setting::DestHigh], 8);
  addByte(b, ' ');
  addHex(b, p->shown[Setting::DestLow], 8);
  addBytes(b, "\r\n");
}

void addSection(BoundedText& b, const ModuleRecord* p) {
  addBytes(b, p->isMaster ? "[Master]\r\n" : "[Slave]\r\n");
  for (Setting s : kAllSettings) {
    if (!isKey(s, p->isMaster != 0))
      continue;
    const SettingInfo& info = settingInfo(s);
    const int32_t position = listPosition(s, p->shown[s]);
    addBytes(b, position < 0 ? "; " : "");
    addWide(b, info.label);
    if (position < 0) {
      // A code the module reported that the list cannot name: left out, so
      // that a load leaves the pane's value alone.
      addBytes(b, ": the module's value is no entry of the list\r\n");
      continue;
    }
    addBytes(b, " = ");
    addWide(b, info.choices->entries[position]);
    addBytes(b, "\r\n");
  }
}

void addDecimal(BoundedText& b, uint32_t n) {
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n);
  while (count)
    addByte(b, digits[--count]);
}

// No pane shows these: without them a saved profile would pair or range-test
// no longer. Only the keys the file named, so that a default stays a default.
void addProfileSections(BoundedText& b, const SettingsFile& loaded) {
  if (loaded.pair.present) {
    addBytes(b, "[Pair]\r\n");
    if (loaded.pair.named)
      addBytes(b, loaded.pair.makePair ? "Make Pair = Yes\r\n" : "Make Pair = No\r\n");
  }
  const RangeSettings& range = loaded.range;
  if (!range.present)
    return;
  addBytes(b, "[Range]\r\n");
  if (range.packetsLine) {
    addBytes(b, "Packets = ");
    addDecimal(b, range.packets);
    addBytes(b, "\r\n");
  }
  if (range.minReceivedLine) {
    addBytes(b, "Min Received = ");
    addDecimal(b, range.minReceived);
    addBytes(b, "\r\n");
  }
}

}  // namespace

size_t formatSettingsFile(const ModuleRecord* master, const ModuleRecord* slave, char* out,
                          size_t capacity, const SettingsFile* loaded) {
  const ModuleRecord* panes[] = {master, slave};
  if (!holdsModuleData(master) && !holdsModuleData(slave))
    return 0;
  BoundedText b{out, capacity, 0, true};
  addBytes(b, "; NLCONF " NLCONF_VERSION_TEXT " settings\r\n");
  for (const ModuleRecord* p : panes) {
    if (holdsModuleData(p))
      addModuleComment(b, p);
  }
  for (const ModuleRecord* p : panes) {
    if (holdsModuleData(p))
      addSection(b, p);
  }
  if (loaded)
    addProfileSections(b, *loaded);
  return b.fits ? b.length : 0;
}

// ---- applying -----------------------------------------------------------------

bool sectionFitsPane(const ModuleRecord* pane, const PaneSettings& s, wchar_t* reason,
                     uint32_t* line) {
  Text t = startText(reason);
  const bool master = pane->isMaster != 0;
  *line = s.sectionLine;
  if (!holdsModuleData(pane)) {
    add(t, L"the ");
    add(t, paneName(master));
    add(t, L" holds no read values");
    return false;
  }
  const uint32_t channelAt = at(Setting::Channel);
  if (s.named[channelAt]) {
    const uint64_t channel = valueAt(Setting::Channel, s.position[channelAt]);
    if (!valueOffered(*pane, Setting::Channel, channel)) {
      *line = s.line[channelAt];
      add(t, L"Channel ");
      addNumber(t, static_cast<uint32_t>(channel));
      add(t, L" is beyond the ");
      add(t, paneName(master));
      add(t, L"'s channel list, which ends at ");
      addNumber(t, static_cast<uint32_t>(pane->channelLimit));
      return false;
    }
  }
  const PickConflict& c = pickConflict();
  if (!master && namesPick(s, c.setting, c.position) && !s.named[at(c.because)] &&
      !choiceOffered(*pane, c.setting)) {
    *line = s.line[at(c.setting)];
    addRefusedPick(t, c);
    add(t, L" while the slave shows ");
    addStandingPick(t, c);
    return false;
  }
  return true;
}

// In the table's order, which is the order a user would pick them in: a
// pick of the mode rules may decide whether a later one may be made at all.
void applySection(ModuleRecord* p, const PaneSettings& s) {
  for (Setting setting : kAllSettings) {
    if (isKey(setting, p->isMaster != 0) && s.named[at(setting)])
      pickChoice(p, setting, s.position[at(setting)]);
  }
}

namespace {

// The end of a long path, where the file's own name is.
void copyName(wchar_t* to, const wchar_t* from, size_t size) {
  size_t length = 0;
  while (from && from[length])
    ++length;
  if (length >= size)
    from += length - (size - 1);
  size_t i = 0;
  for (; from && from[i]; ++i)
    to[i] = from[i];
  to[i] = 0;
}

void addLoaded(Text& t, const PendingSettings& p) {
  const bool masterWaits = p.master.present, slaveWaits = p.slave.present;
  if (masterWaits && slaveWaits) {
    add(t, L"The Master and the Slave settings wait for each pane's next Read.");
    return;
  }
  if (!masterWaits && !slaveWaits)
    return;
  const bool waiting = masterWaits;
  if (waiting ? p.slaveApplied : p.masterApplied) {
    add(t, L"The ");
    add(t, sectionName(!waiting));
    add(t, L" settings were applied; the ");
  } else {
    add(t, L"The ");
  }
  add(t, sectionName(waiting));
  add(t, L" settings wait for the ");
  add(t, paneName(waiting));
  add(t, L"'s next Read.");
}

// After one pane's section was refused: where the file's other section is.
void addOtherSection(Text& t, const PendingSettings& p, bool master) {
  const bool other = !master;
  if (other ? p.masterApplied : p.slaveApplied) {
    add(t, L" The ");
    add(t, sectionName(other));
    add(t, L" settings of ");
    addFileName(t, p.fileName);
    add(t, L" were applied and stay until Write; Read the ");
    add(t, paneName(other));
    add(t, L" again to drop them.");
  } else if ((other ? p.master : p.slave).present) {
    add(t, L" Its ");
    add(t, sectionName(other));
    add(t, L" settings still wait for the ");
    add(t, paneName(other));
    add(t, L"'s next Read.");
  }
}

}  // namespace

bool loadSettings(ModuleRecord* master, ModuleRecord* slave, const SettingsFile& file,
                  const wchar_t* fileName, PendingSettings* pending, wchar_t* message) {
  struct Target {
    ModuleRecord* pane;
    const PaneSettings& section;
  } targets[] = {{master, file.master}, {slave, file.slave}};
  Text t = startText(message);
  if (!file.master.present && !file.slave.present && !file.pair.present && !file.range.present) {
    addFileName(t, fileName);
    add(t, L" holds no [Master] or [Slave] section: nothing was loaded.");
    return false;
  }
  for (const Target& target : targets) {
    wchar_t reason[kSettingsMessageChars];
    uint32_t line = 0;
    if (!target.section.present || !holdsModuleData(target.pane) ||
        sectionFitsPane(target.pane, target.section, reason, &line)) {
      continue;
    }
    // Worded as the parse's refusals: the same fault, found later.
    addFileName(t, fileName);
    add(t, L", line ");
    addNumber(t, line);
    add(t, L": ");
    add(t, reason);
    add(t, L".\r\n\r\nNothing of the file was loaded.");
    return false;
  }
  *pending = PendingSettings{};
  copyName(pending->fileName, fileName, sizeof pending->fileName / sizeof(wchar_t));
  for (const Target& target : targets) {
    if (!target.section.present)
      continue;
    const bool forMaster = target.pane->isMaster != 0;
    if (holdsModuleData(target.pane)) {
      applySection(target.pane, target.section);
      (forMaster ? pending->masterApplied : pending->slaveApplied) = true;
    } else {
      (forMaster ? pending->master : pending->slave) = target.section;
    }
  }
  addLoaded(t, *pending);
  return true;
}

bool applyPendingSettings(ModuleRecord* pane, PendingSettings* pending, wchar_t* message) {
  Text t = startText(message);
  PaneSettings& waiting = pane->isMaster ? pending->master : pending->slave;
  if (!waiting.present)
    return true;
  const PaneSettings section = waiting;
  waiting = PaneSettings{};
  wchar_t reason[kSettingsMessageChars];
  uint32_t line = 0;
  const bool master = pane->isMaster != 0;
  if (!sectionFitsPane(pane, section, reason, &line)) {
    add(t, L"The ");
    add(t, sectionName(master));
    add(t, L" settings of ");
    addFileName(t, pending->fileName);
    add(t, L" were not applied: line ");
    addNumber(t, line);
    add(t, L": ");
    add(t, reason);
    add(t, L". Nothing of them was applied.");
    addOtherSection(t, *pending, master);
    return false;
  }
  applySection(pane, section);
  (master ? pending->masterApplied : pending->slaveApplied) = true;
  return true;
}
