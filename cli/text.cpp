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

// Bytes that are no UTF-8 come through as U+FFFD, so that a name is never cut.
std::wstring widen(const std::string& utf8) {
  std::wstring out;
  const char* p = utf8.c_str();
  const char* end = p + utf8.size();
  while (p < end)
    putWide(out, takeUtf8(p));
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
