#include "module/pair_record.h"

#include "link/hex.h"
#include "module/bounded_text.h"

namespace {

// A field's text as code points, from either kind of string, whole: a
// record that names a file names it all.
struct Field {
  std::u32string text;
  void put(uint32_t c) { text.push_back(static_cast<char32_t>(c)); }
};

using Line = std::string;

void addByte(Line& l, char c) {
  l.push_back(c);
}

void addUtf8(Line& l, uint32_t codePoint) {
  uint8_t bytes[4];
  l.append(reinterpret_cast<const char*>(bytes), putUtf8(bytes, codePoint));
}

// UTF-16 or UTF-32 as wchar_t is; a lone surrogate becomes U+FFFD.
void putWide(Field& f, const wchar_t* s) {
  for (size_t used = 1; s && *s; s += used) {
    const uint32_t c = takeWideUnits(static_cast<uint32_t>(*s), static_cast<uint32_t>(s[1]), &used);
    f.put(c);
  }
}

// A module's 8-bit text: printable ASCII, anything else shown as "?".
void putModuleText(Field& f, const char* s, size_t size) {
  for (char c : printableModuleText(s, size))
    f.put(static_cast<uint32_t>(c));
}

void putAscii(Field& f, const char* s) {
  for (; *s; ++s)
    f.put(static_cast<unsigned char>(*s));
}

// A caller's UTF-8; a malformed sequence becomes U+FFFD.
void putUtf8Text(Field& f, const char* s) {
  while (s && *s)
    f.put(takeUtf8(s));
}

// "0x" keeps a spreadsheet from reading the digits as a number (zeros
// lost, digits past the 15th dropped, "1E05" as 100000).
void putHex(Field& f, uint64_t value, int digits) {
  f.put('0');
  f.put('x');
  char text[16];
  const int length = formatHex(value, digits, text);
  for (int i = 0; i < length; ++i)
    f.put(static_cast<unsigned char>(text[i]));
}

void putDecimal(Field& f, uint64_t value, int minDigits = 1) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value || n < minDigits);
  while (n)
    f.put(static_cast<unsigned char>(digits[--n]));
}

// Quoted when it holds a comma, a quote or a line break, quotes doubled. A
// module's text that a spreadsheet would take for a formula gets a leading
// apostrophe, so that opening the record runs nothing.
void addField(Line& l, const Field& f, bool first = false, bool fromModule = false) {
  if (!first)
    addByte(l, ',');
  bool quote = false;
  for (const char32_t c : f.text)
    quote = quote || c == ',' || c == '"' || c == '\r' || c == '\n';
  if (quote)
    addByte(l, '"');
  if (fromModule && !f.text.empty() &&
      (f.text[0] == '=' || f.text[0] == '+' || f.text[0] == '-' || f.text[0] == '@')) {
    addByte(l, '\'');
  }
  for (const char32_t c : f.text) {
    if (c == '"')
      addByte(l, '"');
    addUtf8(l, c);
  }
  if (quote)
    addByte(l, '"');
}

void addAscii(Line& l, const char* s, bool first = false) {
  Field f;
  putAscii(f, s);
  addField(l, f, first);
}

void addUtf8Field(Line& l, const char* s, bool guarded) {
  Field f;
  putUtf8Text(f, s);
  addField(l, f, false, guarded);
}

// What the file of settings names each choice, as the module holds it.
void addSettings(Line& l, const PairModule& m) {
  const ModuleRecord& p = m.settings;
  const bool known = m.holdsSettings;
  for (Setting s : kAllSettings) {
    if (!hasFlag(s, kChoice))
      continue;
    Field f;
    const wchar_t* text = entryText(s, p.read[s]);
    if (known && appliesTo(s, p.isMaster != 0) && text)
      putWide(f, text);
    addField(l, f);
  }
  Field panId, destination;
  if (known) {
    putHex(panId, p.read[Setting::PanId], 1);  // as "ATID" answers it
    putHex(destination, ::destination(p.read), 16);
  }
  addField(l, panId);
  addField(l, destination);
}

void addModule(Line& l, const PairModule& m, const char* portName) {
  Field port, serial, nodeId, firmware;
  if (portName && *portName) {
    putUtf8Text(port, portName);
  } else if (m.portNumber > 0) {
    putAscii(port, "COM");
    putDecimal(port, static_cast<uint64_t>(m.portNumber));
  }
  if (m.identified || m.serialKnown)
    putHex(serial, uint64_t{m.serialHigh} << 32 | m.serialLow, 16);
  if (m.identified || m.named) {
    putModuleText(nodeId, m.nodeId, kNodeIdSize);
    if (m.firmwareVersion != 0xFFFF)
      putHex(firmware, m.firmwareVersion, 4);
  }
  addField(l, port, false, true);
  addField(l, serial);
  addField(l, nodeId, false, true);
  addField(l, firmware);
  addSettings(l, m);
}

void addColumn(Line& l, const char* role, const wchar_t* column) {
  Field f;
  putAscii(f, role);
  f.put(' ');
  putWide(f, column);
  addField(l, f);
}

// Who the module is, then each choice by its key, then its addresses.
void addModuleHeader(Line& l, const char* role) {
  for (const wchar_t* column : {L"Port", L"Serial Number", L"Node Identifier", L"Firmware"})
    addColumn(l, role, column);
  for (Setting s : kAllSettings) {
    if (hasFlag(s, kChoice))
      addColumn(l, role, settingInfo(s).label);
  }
  for (Setting s : {Setting::PanId, Setting::DestHigh})
    addColumn(l, role, settingInfo(s).name);
}

void putTenths(Field& f, uint64_t tenths) {
  putDecimal(f, tenths / 10);
  f.put('.');
  putDecimal(f, tenths % 10);
}

// Empty where no range test ran or a direction sent nothing.
void addRange(Line& l, const PairRunResult& run) {
  for (uint32_t i = 0; i < 2; ++i) {
    Field share;
    // A test that stopped measured no share.
    if (run.rangeTested && run.range.code == 0 && i < run.range.directionCount &&
        run.range.directions[i].sent) {
      char text[kShareTextChars];
      receivedShareText(run.range.directions[i], text);
      putAscii(share, text);
    }
    addField(l, share);
  }
  Field median;
  if (run.rangeTested && run.range.code == 0 && run.range.hasRoundTrip)
    putTenths(median, static_cast<uint64_t>(run.range.roundTripMedianMs * 10 + 0.5));
  addField(l, median);
}

}  // namespace

LocalTime recordTime(const os::LocalTime& now) {
  LocalTime t;
  t.year = now.year;
  t.month = now.month;
  t.day = now.day;
  const uint32_t seconds = now.msOfDay / 1000;
  t.hour = static_cast<uint8_t>(seconds / 3600);
  t.minute = static_cast<uint8_t>(seconds / 60 % 60);
  t.second = static_cast<uint8_t>(seconds % 60);
  t.utcOffsetMinutes = now.utcOffsetMinutes;
  return t;
}

std::string formatPairRecordHeader() {
  Line l;
  addAscii(l, "Date and Time", true);
  for (const char* column :
       {"Program Version", "Profile", "Profile SHA-256", "Station", "Operator"})
    addAscii(l, column);
  for (const char* column : {"Result", "Failed Step", "Message", "Ports Swapped"})
    addAscii(l, column);
  addModuleHeader(l, "Master");
  addModuleHeader(l, "Slave");
  addAscii(l, "Link Test");
  for (const char* column :
       {"Master to Slave Received %", "Slave to Master Received %", "Round Trip Median ms"})
    addAscii(l, column);
  addAscii(l, "Duration ms");
  addByte(l, '\r');
  addByte(l, '\n');
  return l;
}

std::string formatPairRecordLine(const PairRunResult& run, const wchar_t* message,
                                 const PairRecordContext& context) {
  Line l;
  const LocalTime& when = context.when;
  Field time;
  putDecimal(time, when.year, 4);
  time.put('-');
  putDecimal(time, when.month, 2);
  time.put('-');
  putDecimal(time, when.day, 2);
  time.put('T');
  putDecimal(time, when.hour, 2);
  time.put(':');
  putDecimal(time, when.minute, 2);
  time.put(':');
  putDecimal(time, when.second, 2);
  const int offset = when.utcOffsetMinutes;
  time.put(offset < 0 ? '-' : '+');
  putDecimal(time, static_cast<uint64_t>(offset < 0 ? -offset : offset) / 60, 2);
  time.put(':');
  putDecimal(time, static_cast<uint64_t>(offset < 0 ? -offset : offset) % 60, 2);
  addField(l, time, true);
  addUtf8Field(l, context.version, true);
  addUtf8Field(l, context.profilePath, true);
  addUtf8Field(l, context.profileSha256, true);
  addUtf8Field(l, context.station, true);
  addUtf8Field(l, context.operatorName, true);
  addAscii(l, run.result == 0 ? "PASS" : "FAIL");
  Field step, text;
  putWide(step, pairStepName(run.failedStep));
  putWide(text, message);
  addField(l, step);
  addField(l, text);
  addAscii(l, run.portsSwapped ? "Yes" : "No");
  // The picks are the bench; a swapped run found each module on the other's.
  addModule(l, run.master, run.portsSwapped ? context.slavePort : context.masterPort);
  addModule(l, run.slave, run.portsSwapped ? context.masterPort : context.slavePort);
  addAscii(l, run.linkVerdict == 1 ? "OK" : run.linkVerdict == 0 ? "NG" : "");
  addRange(l, run);
  Field duration;
  putDecimal(duration, run.durationMs);
  addField(l, duration);
  addByte(l, '\r');
  addByte(l, '\n');
  return l;
}
