#include <cstdint>

#include "cli/cli.h"
#include "module/bounded_text.h"

namespace cli {

namespace {

void putWide(std::wstring& out, uint32_t c) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<wchar_t>(0xD800 | (c >> 10));
      out += static_cast<wchar_t>(0xDC00 | (c & 0x3FF));
      return;
    }
  }
  out += static_cast<wchar_t>(c);
}

}  // namespace

size_t decodeUtf8(const std::string& text, size_t at, uint32_t* codePoint) {
  const auto lead = static_cast<uint8_t>(text[at]);
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  }
  const size_t extra = (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : (lead >> 3) == 30 ? 3 : 0;
  if (extra == 0 || at + extra >= text.size())
    return 0;
  uint32_t c = lead & (0x3F >> extra);
  for (size_t k = 1; k <= extra; ++k) {
    const auto next = static_cast<uint8_t>(text[at + k]);
    if ((next & 0xC0) != 0x80)
      return 0;
    c = (c << 6) | (next & 0x3F);
  }
  constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
  if (c < kLeast[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
    return 0;
  *codePoint = c;
  return extra + 1;
}

// Bytes that are no UTF-8 come through as U+FFFD, so that a name is never cut.
std::wstring widen(const std::string& utf8) {
  std::wstring out;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t c = 0;
    const size_t n = decodeUtf8(utf8, i, &c);
    putWide(out, n ? c : 0xFFFD);
    i += n ? n : 1;
  }
  return out;
}

std::string narrow(const wchar_t* text) {
  std::string out;
  for (const wchar_t* p = text; p && *p; ++p) {
    auto c = static_cast<uint32_t>(*p);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(p[1]) - 0xDC00);
      ++p;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    uint8_t bytes[4];
    out.append(reinterpret_cast<const char*>(bytes), putUtf8(bytes, c > 0x10FFFF ? 0xFFFD : c));
  }
  return out;
}

}  // namespace cli
