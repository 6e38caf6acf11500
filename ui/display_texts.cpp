// The value fields' texts, formatted here rather than by the C library,
// whose wide hexadecimal conversions differ between MinGW and ISO.
#include "module/bounded_text.h"
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
  WideText c = startWideText(counts, 48);
  add(c, L"PASS ");
  addNumber(c, passes);
  add(c, L"  FAIL ");
  addNumber(c, fails);
  if (c.length + 1 > size) {
    text[0] = 0;
    return 0;
  }
  WideText t = startWideText(text, size);
  const bool profile = profilePath && profilePath[0];
  add(t, profile ? L"Profile: " : L"no profile");
  if (profile)
    add(t, fileNameOf(profilePath));
  add(t, L"   ");
  const bool record = recordPath && recordPath[0];
  add(t, record ? L"Record: " : L"no record");
  if (record)
    add(t, recordPath);
  add(t, L"   ");
  // The counts always end the text, over whatever had to give way.
  if (t.length + c.length + 1 > size)
    t.length = size - 1 - c.length;
  text[t.length] = 0;
  add(t, counts);
  return t.length;
}
