#include "link/port_note.h"

#include <cstring>

#include "link/hex.h"

namespace {

constexpr char kHeader[] = "NLCONF port note 1\n";
constexpr size_t kHeaderLength = sizeof kHeader - 1;

size_t appendField(const char* key, uint64_t value, char* out) {
  const size_t keyLength = std::strlen(key);
  std::memcpy(out, key, keyLength);
  const int digits = formatHex(value, 1, out + keyLength);
  out[keyLength + static_cast<size_t>(digits)] = '\n';
  return keyLength + static_cast<size_t>(digits) + 1;
}

// "KEY HEX\n" at *at, as formatHex writes HEX; moves *at past it.
bool takeField(const char*& at, const char* end, const char* key, uint64_t& value) {
  const size_t keyLength = std::strlen(key);
  if (static_cast<size_t>(end - at) < keyLength || std::memcmp(at, key, keyLength) != 0)
    return false;
  const char* p = at + keyLength;
  uint64_t v = 0;
  int digits = 0;
  for (; p < end && *p != '\n'; ++p, ++digits) {
    const char c = *p;
    const bool decimal = c >= '0' && c <= '9';
    if ((!decimal && (c < 'A' || c > 'F')) || digits == 16 || (digits == 1 && v == 0))
      return false;  // no leading zeros: one spelling for each value
    v = v << 4 | static_cast<uint64_t>(decimal ? c - '0' : c - 'A' + 10);
  }
  if (digits == 0 || p == end)
    return false;
  value = v;
  at = p + 1;
  return true;
}

}  // namespace

uint64_t lineCodeOf(uint32_t baudRate, uint8_t parity, uint8_t stopBits) {
  return uint64_t{baudRate} << 8 | uint64_t{parity & 0xFu} << 4 | (stopBits & 0xFu);
}

bool lineOfCode(uint64_t code, uint32_t* baudRate, uint8_t* parity, uint8_t* stopBits) {
  const uint64_t rate = code >> 8;
  if (rate < 128 || rate > 4000000 || (code >> 4 & 0xF) > 4 || (code & 0xF) > 2)
    return false;
  *baudRate = static_cast<uint32_t>(rate);
  *parity = static_cast<uint8_t>(code >> 4 & 0xF);
  *stopBits = static_cast<uint8_t>(code & 0xF);
  return true;
}

size_t formatPortNote(const PortNote& note, char* out, size_t capacity) {
  char text[kPortNoteCapacity];
  std::memcpy(text, kHeader, kHeaderLength);
  size_t length = kHeaderLength;
  if (note.sent)
    length += appendField("sent ", note.sentAtMs, text + length);
  if (note.due)
    length += appendField("due ", note.dueUntilMs, text + length);
  if (note.guard)
    length += appendField("gt ", note.guardTimeMs, text + length);
  if (note.line)
    length += appendField("line ", note.lineCode, text + length);
  if (length > capacity)
    return 0;
  std::memcpy(out, text, length);
  return length;
}

bool parsePortNote(const char* bytes, size_t count, PortNote& note) {
  if (!bytes || count < kHeaderLength || std::memcmp(bytes, kHeader, kHeaderLength) != 0)
    return false;
  const char* at = bytes + kHeaderLength;
  const char* end = bytes + count;
  PortNote read;
  read.sent = takeField(at, end, "sent ", read.sentAtMs);
  read.due = takeField(at, end, "due ", read.dueUntilMs);
  read.guard = takeField(at, end, "gt ", read.guardTimeMs);
  read.line = takeField(at, end, "line ", read.lineCode);
  if (at != end)
    return false;
  note = read;
  return true;
}

PortNote trustedPortNote(bool found, bool readable, const char* bytes, size_t count,
                         uint64_t nowMs) {
  if (!found)
    return {};
  PortNote note;
  const bool sound = readable && parsePortNote(bytes, count, note) &&
                     (!note.sent || note.sentAtMs <= nowMs) &&
                     (!note.due || note.dueUntilMs <= nowMs + kLongestArrivalsDueMs) &&
                     (!note.guard || note.guardTimeMs <= kLongestGuardTimeMs);
  if (sound) {
    uint32_t rate = 0;
    uint8_t parity = 0, stopBits = 0;
    note.line = note.line && lineOfCode(note.lineCode, &rate, &parity, &stopBits);
    return note;
  }
  PortNote safe;
  safe.sent = true;
  safe.sentAtMs = nowMs;
  safe.doubted = true;
  return safe;
}
