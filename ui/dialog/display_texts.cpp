// The value fields' texts, formatted here rather than by the C library,
// whose wide hexadecimal conversions differ between MinGW and ISO.
#include "link/hex.h"
#include "module/bounded_text.h"
#include "ui/dialog/rules.h"

namespace {

uint32_t writeHex(uint64_t value, int minDigits, wchar_t* text, uint32_t size) {
  if (!text || size == 0)
    return 0;
  char digits[16];
  const int length = formatHex(value, minDigits, digits);
  if (static_cast<uint32_t>(length) + 1 > size) {
    text[0] = 0;
    return 0;
  }
  for (int i = 0; i < length; ++i)
    text[i] = static_cast<wchar_t>(digits[i]);
  text[length] = 0;
  return static_cast<uint32_t>(length);
}

}  // namespace

uint32_t formatPanIdText(uint64_t panId, wchar_t* text, uint32_t size) {
  return writeHex(panId, 1, text, size);
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
