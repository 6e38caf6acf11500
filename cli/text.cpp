#include <cstdint>

#include "cli/cli.h"

namespace cli {

namespace {

void putUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

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
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<uint8_t>(utf8[i]);
    const int extra = lead < 0x80         ? 0
                      : (lead >> 5) == 6  ? 1
                      : (lead >> 4) == 14 ? 2
                      : (lead >> 3) == 30 ? 3
                                          : -1;
    uint32_t c = extra == 0   ? lead
                 : extra == 1 ? (lead & 0x1F)
                 : extra == 2 ? (lead & 0x0F)
                              : (lead & 0x07);
    bool good = extra >= 0 && i + static_cast<size_t>(extra) < utf8.size();
    for (int k = 1; good && k <= extra; ++k) {
      const auto next = static_cast<uint8_t>(utf8[i + static_cast<size_t>(k)]);
      good = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!good || c > 0x10FFFF) {
      putWide(out, 0xFFFD);
      ++i;
      continue;
    }
    putWide(out, c);
    i += static_cast<size_t>(extra) + 1;
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
    }
    putUtf8(out, c);
  }
  return out;
}

}  // namespace cli
