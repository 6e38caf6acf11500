#include <cstdint>

#include "cli/cli.h"
#include "module/bounded_text.h"

namespace cli {

// Bytes that are no UTF-8 come through as U+FFFD, so that a name is never cut.
std::wstring widen(const std::string& utf8) {
  std::wstring out;
  const char* p = utf8.c_str();
  const char* end = p + utf8.size();
  while (p < end) {
    uint32_t units[2];
    const size_t count = putWideUnits(units, takeUtf8(p), sizeof(wchar_t) == 2);
    for (size_t i = 0; i < count; ++i)
      out += static_cast<wchar_t>(units[i]);
  }
  return out;
}

std::string narrow(const wchar_t* text) {
  std::string out;
  for (const wchar_t* p = text; p && *p;) {
    size_t used = 0;
    const uint32_t c =
        takeWideUnits(static_cast<uint32_t>(p[0]), static_cast<uint32_t>(p[1]), &used);
    p += used;
    uint8_t bytes[4];
    out.append(reinterpret_cast<const char*>(bytes), putUtf8(bytes, c));
  }
  return out;
}

}  // namespace cli
