#include "module/pair_record.h"

#include "module/bounded_text.h"
#include "module/choice_lists.h"

namespace {

constexpr size_t kFieldChars = 512;

// A field's text as code points, from either kind of string; a longer text
// is cut, so that a line always fits its limit.
struct Field {
  uint32_t text[kFieldChars];
  size_t length = 0;
  void put(uint32_t c) {
    if (length < kFieldChars)
      text[length++] = c;
  }
};

// UTF-16 or UTF-32 as wchar_t is; a lone surrogate becomes U+FFFD.
void putWide(Field& f, const wchar_t* s) {
  for (; s && *s; ++s) {
    uint32_t c = static_cast<uint32_t>(*s);
    if (c >= 0xD800 && c <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(s[1]) - 0xDC00);
      ++s;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    f.put(c);
  }
}

// A module's 8-bit text: printable ASCII, anything else shown as "?".
void putModuleText(Field& f, const char* s, size_t size) {
  for (size_t i = 0; i < size && s[i]; ++i)
    f.put(s[i] >= 0x20 && s[i] < 0x7F ? static_cast<uint32_t>(s[i]) : '?');
}

void putAscii(Field& f, const char* s) {
  for (; *s; ++s)
    f.put(static_cast<unsigned char>(*s));
}

void putHex(Field& f, uint64_t value, int digits) {
  for (int i = digits - 1; i >= 0; --i)
    f.put(static_cast<unsigned char>("0123456789ABCDEF"[value >> (4 * i) & 0xF]));
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
void addField(BoundedText& l, const Field& f, bool first = false, bool fromModule = false) {
  if (!first)
    addByte(l, ',');
  bool quote = false;
  for (size_t i = 0; i < f.length; ++i)
    quote = quote || f.text[i] == ',' || f.text[i] == '"' || f.text[i] == '\r' || f.text[i] == '\n';
  if (quote)
    addByte(l, '"');
  if (fromModule && f.length &&
      (f.text[0] == '=' || f.text[0] == '+' || f.text[0] == '-' || f.text[0] == '@')) {
    addByte(l, '\'');
  }
  for (size_t i = 0; i < f.length; ++i) {
    if (f.text[i] == '"')
      addByte(l, '"');
    addUtf8(l, f.text[i]);
  }
  if (quote)
    addByte(l, '"');
}

void addAscii(BoundedText& l, const char* s, bool first = false) {
  Field f;
  putAscii(f, s);
  addField(l, f, first);
}

void addChoice(BoundedText& l, int32_t position, const ChoiceList& list) {
  Field f;
  if (position >= 0 && position < list.count)
    putWide(f, list.entries[position]);
  addField(l, f);
}

// What the file of settings names each choice, as the module holds it.
void addSettings(BoundedText& l, const PairModule& m) {
  const PaneRecord& p = m.settings;
  const bool known = m.holdsSettings;
  const int32_t none = kNoSelection;
  addChoice(l, known ? channelPosition(p.channelRead) : none, channelChoices);
  addChoice(l, known ? listPosition(p.baudCodeRead, baudChoices) : none, baudChoices);
  addChoice(l, known ? listPosition(p.parityCodeRead, parityChoices) : none, parityChoices);
  addChoice(l, known ? listPosition(p.stopBitsCodeRead, stopBitsChoices) : none, stopBitsChoices);
  addChoice(l, known ? listPosition(p.powerLevelRead, powerLevelChoices) : none, powerLevelChoices);
  addChoice(l, known ? listPosition(p.boostModeRead, boostModeChoices) : none, boostModeChoices);
  addChoice(l, known && !p.isMaster ? listPosition(p.powerSaveRead, powerSaveChoices) : none,
            powerSaveChoices);
  addChoice(l, known ? listPosition(p.flowControlRead, flowControlChoices) : none,
            flowControlChoices);
  Field panId, destination;
  if (known) {
    int digits = 1;  // as "ATID" answers it
    while (digits < 16 && (p.panIdRead >> (4 * digits)) != 0)
      ++digits;
    putHex(panId, p.panIdRead, digits);
    putHex(destination, uint64_t{p.destHighRead} << 32 | p.destLowRead, 16);
  }
  addField(l, panId);
  addField(l, destination);
}

void addModule(BoundedText& l, const PairModule& m) {
  Field port, serial, nodeId, firmware;
  if (m.portNumber > 0) {
    putAscii(port, "COM");
    putDecimal(port, static_cast<uint64_t>(m.portNumber));
  }
  if (m.identified) {
    putHex(serial, uint64_t{m.serialHigh} << 32 | m.serialLow, 16);
    putModuleText(nodeId, m.nodeId, kNodeIdSize);
    putHex(firmware, m.firmwareVersion, 4);
  }
  addField(l, port);
  addField(l, serial);
  addField(l, nodeId, false, true);
  addField(l, firmware);
  addSettings(l, m);
}

const char* const kModuleColumns[] = {
    "Port",       "Serial Number", "Node Identifier", "Firmware",    "Channel",
    "Baud Rate",  "Parity",        "Stop Bits",       "Power Level", "Boost Mode",
    "Power Save", "Flow Control",  "PAN ID",          "Destination",
};

void addModuleHeader(BoundedText& l, const char* role) {
  for (const char* column : kModuleColumns) {
    char name[48];
    size_t n = 0;
    for (const char* s : {role, " ", column}) {
      while (*s && n + 1 < sizeof name)
        name[n++] = *s++;
    }
    name[n] = 0;
    addAscii(l, name);
  }
}

}  // namespace

size_t formatPairRecordHeader(char* out, size_t capacity) {
  BoundedText l{out, capacity, 0, true};
  addAscii(l, "Date and Time", true);
  for (const char* column : {"Result", "Failed Step", "Message", "Ports Swapped"})
    addAscii(l, column);
  addModuleHeader(l, "Master");
  addModuleHeader(l, "Slave");
  addAscii(l, "Link Test");
  addAscii(l, "Duration ms");
  addByte(l, '\r');
  addByte(l, '\n');
  return l.fits ? l.length : 0;
}

size_t formatPairRecordLine(const PairRunResult& run, const wchar_t* message, const LocalTime& when,
                            char* out, size_t capacity) {
  BoundedText l{out, capacity, 0, true};
  Field time;
  putDecimal(time, when.year, 4);
  time.put('-');
  putDecimal(time, when.month, 2);
  time.put('-');
  putDecimal(time, when.day, 2);
  time.put(' ');
  putDecimal(time, when.hour, 2);
  time.put(':');
  putDecimal(time, when.minute, 2);
  time.put(':');
  putDecimal(time, when.second, 2);
  addField(l, time, true);
  addAscii(l, run.result == 0 ? "PASS" : "FAIL");
  Field step, text;
  putWide(step, pairStepName(run.failedStep));
  putWide(text, message);
  addField(l, step);
  addField(l, text);
  addAscii(l, run.portsSwapped ? "Yes" : "No");
  addModule(l, run.master);
  addModule(l, run.slave);
  addAscii(l, run.linkVerdict == 1 ? "OK" : run.linkVerdict == 0 ? "NG" : "");
  Field duration;
  putDecimal(duration, run.durationMs);
  addField(l, duration);
  addByte(l, '\r');
  addByte(l, '\n');
  return l.fits ? l.length : 0;
}
