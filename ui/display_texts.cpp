// The value fields' texts, formatted here rather than by the C library,
// whose wide hexadecimal conversions differ between MinGW and ISO.
#include "ui/rules.h"

namespace {

wchar_t hexDigit(uint32_t nibble) {
  return static_cast<wchar_t>(nibble < 10 ? L'0' + nibble : L'A' + (nibble - 10));
}

// The lowest `digits` nibbles of value, most significant first.
uint32_t writeHex(uint64_t value, uint32_t digits, wchar_t* text, uint32_t size) {
  if (!text || size == 0)
    return 0;
  if (digits + 1 > size) {
    text[0] = 0;
    return 0;
  }
  for (uint32_t i = 0; i < digits; ++i) {
    const uint32_t shift = 4 * (digits - 1 - i);
    text[i] = hexDigit(static_cast<uint32_t>(value >> shift) & 0xF);
  }
  text[digits] = 0;
  return digits;
}

uint32_t significantHexDigits(uint64_t value) {
  uint32_t digits = 1;
  while (digits < 16 && (value >> (4 * digits)) != 0)
    ++digits;
  return digits;
}

}  // namespace

uint32_t formatPanIdText(uint64_t panId, wchar_t* text, uint32_t size) {
  return writeHex(panId, significantHexDigits(panId), text, size);
}

uint32_t formatAddressHalfText(uint32_t half, wchar_t* text, uint32_t size) {
  return writeHex(half, 8, text, size);
}

namespace {

// Appends as much of piece as fits before the terminator.
void appendText(wchar_t* text, uint32_t size, uint32_t* length, const wchar_t* piece) {
  for (; *piece && *length + 1 < size; ++piece)
    text[(*length)++] = *piece;
  text[*length] = 0;
}

void appendNumber(wchar_t* text, uint32_t size, uint32_t* length, uint32_t value) {
  wchar_t digits[11];
  uint32_t count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value);
  wchar_t reversed[11];
  for (uint32_t i = 0; i < count; ++i)
    reversed[i] = digits[count - 1 - i];
  reversed[count] = 0;
  appendText(text, size, length, reversed);
}

const wchar_t* fileNameOf(const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p; ++p) {
    if (*p == L'\\' || *p == L'/')
      name = p + 1;
  }
  return name;
}

}  // namespace

uint32_t formatSessionStatus(const wchar_t* profilePath, const wchar_t* recordPath, uint32_t passes,
                             uint32_t fails, wchar_t* text, uint32_t size) {
  if (!text || size == 0)
    return 0;
  wchar_t counts[48];
  uint32_t countsLength = 0;
  appendText(counts, 48, &countsLength, L"PASS ");
  appendNumber(counts, 48, &countsLength, passes);
  appendText(counts, 48, &countsLength, L"  FAIL ");
  appendNumber(counts, 48, &countsLength, fails);
  if (countsLength + 1 > size) {
    text[0] = 0;
    return 0;
  }
  uint32_t length = 0;
  text[0] = 0;
  const bool profile = profilePath && profilePath[0];
  appendText(text, size, &length, profile ? L"Profile: " : L"no profile");
  if (profile)
    appendText(text, size, &length, fileNameOf(profilePath));
  appendText(text, size, &length, L"   ");
  const bool record = recordPath && recordPath[0];
  appendText(text, size, &length, record ? L"Record: " : L"no record");
  if (record)
    appendText(text, size, &length, recordPath);
  appendText(text, size, &length, L"   ");
  // The counts always end the text, over whatever had to give way.
  if (length + countsLength + 1 > size)
    length = size - 1 - countsLength;
  text[length] = 0;
  appendText(text, size, &length, counts);
  return length;
}
