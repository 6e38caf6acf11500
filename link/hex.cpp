#include "link/hex.h"

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool isSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Skips white space, sign and "0x"; returns the first digit's position.
const char* skipPrefix(const char* p, bool* negative) {
  while (isSpace(*p))
    ++p;
  *negative = *p == '-';
  if (*p == '-' || *p == '+')
    ++p;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hexDigit(p[2]) >= 0)
    p += 2;
  return p;
}

}  // namespace

uint32_t parseHex32(const char* text, const char** end) {
  bool negative = false;
  const char* p = skipPrefix(text, &negative);
  if (hexDigit(*p) < 0) {
    if (end)
      *end = text;
    return 0;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (; hexDigit(*p) >= 0; ++p) {
    value = value * 16 + static_cast<uint64_t>(hexDigit(*p));
    if (value > 0xFFFFFFFFu) {
      overflow = true;
      value = 0xFFFFFFFFu;
    }
  }
  if (end)
    *end = p;
  if (overflow)
    return 0xFFFFFFFFu;
  const auto v = static_cast<uint32_t>(value);
  return negative ? 0u - v : v;
}

bool scanHex64(const char* text, uint64_t* value) {
  bool negative = false;
  const char* p = skipPrefix(text, &negative);
  if (hexDigit(*p) < 0)
    return false;
  uint64_t v = 0;
  for (; hexDigit(*p) >= 0; ++p) {
    const auto d = static_cast<uint64_t>(hexDigit(*p));
    v = v > (UINT64_MAX - d) / 16 ? UINT64_MAX : v * 16 + d;
  }
  *value = negative ? 0 - v : v;
  return true;
}

int formatHex(uint64_t value, int minDigits, char* out) {
  int digits = 1;
  while (digits < 16 && (value >> (4 * digits)) != 0)
    ++digits;
  if (digits < minDigits)
    digits = minDigits < 16 ? minDigits : 16;
  for (int i = 0; i < digits; ++i)
    out[i] = "0123456789ABCDEF"[(value >> (4 * (digits - 1 - i))) & 0xF];
  return digits;
}

uint32_t decimalAsWcstoul(const wchar_t* text) {
  const wchar_t* p = text;
  while (*p == L' ' || (*p >= L'\t' && *p <= L'\r'))
    ++p;
  const bool negative = *p == L'-';
  if (*p == L'-' || *p == L'+')
    ++p;
  uint64_t value = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    value = value * 10 + static_cast<uint64_t>(*p - L'0');
    if (value > UINT32_MAX)
      return UINT32_MAX;
  }
  const auto v = static_cast<uint32_t>(value);
  return negative ? 0u - v : v;
}
