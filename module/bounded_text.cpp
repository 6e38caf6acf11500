#include "module/bounded_text.h"

#include <cstring>

void addByte(BoundedText& text, char c) {
  if (text.length + 1 > text.capacity) {
    text.fits = false;
    return;
  }
  text.out[text.length++] = c;
}

void addBytes(BoundedText& text, const char* s) {
  while (*s)
    addByte(text, *s++);
}

WideText startWideText(wchar_t* out, uint32_t size) {
  out[0] = 0;
  return WideText{out, size, 0};
}

void put(WideText& t, uint32_t unit) {
  if (t.length + 1 >= t.size)
    return;
  t.out[t.length++] = static_cast<wchar_t>(unit);
  t.out[t.length] = 0;
}

void add(WideText& t, const wchar_t* s) {
  while (s && *s)
    put(t, static_cast<uint32_t>(*s++));
}

void addNumber(WideText& t, uint32_t n) {
  wchar_t digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + n % 10);
    n /= 10;
  } while (n);
  while (count)
    put(t, static_cast<uint32_t>(digits[--count]));
}

void addUtf8(BoundedText& text, uint32_t codePoint) {
  uint8_t bytes[4];
  const size_t count = putUtf8(bytes, codePoint);
  for (size_t i = 0; i < count; ++i)
    addByte(text, static_cast<char>(bytes[i]));
}

size_t putUtf8(uint8_t* out, uint32_t c) {
  if (c < 0x80) {
    out[0] = static_cast<uint8_t>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<uint8_t>(0xC0 | (c >> 6));
    out[1] = static_cast<uint8_t>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<uint8_t>(0xE0 | (c >> 12));
    out[1] = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<uint8_t>(0xF0 | (c >> 18));
  out[1] = static_cast<uint8_t>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<uint8_t>(0x80 | (c & 0x3F));
  return 4;
}

size_t utf8Sequence(const uint8_t* p, size_t n, uint32_t* codePoint) {
  const uint8_t b = p[0];
  if (b < 0x80) {
    *codePoint = b;
    return 1;
  }
  const size_t length = utf8LeadLength(b);
  // The second byte's range shuts out overlong forms, surrogates and
  // anything beyond U+10FFFF.
  const uint8_t low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
  const uint8_t high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
  if (length == 0 || n < length || p[1] < low || p[1] > high)
    return 0;
  uint32_t c = b & (0xFF >> (length + 1));
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80)
      return 0;
    c = (c << 6) | (p[i] & 0x3F);
  }
  *codePoint = c;
  return length;
}

size_t utf8LeadLength(uint8_t b) {
  return b < 0x80                 ? 1
         : b >= 0xC2 && b <= 0xDF ? 2
         : b >= 0xE0 && b <= 0xEF ? 3
         : b >= 0xF0 && b <= 0xF4 ? 4
                                  : 0;
}

uint32_t takeUtf8(const char*& p) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(p);
  uint32_t code = 0;
  if (const size_t length = utf8Sequence(bytes, strnlen(p, 4), &code)) {
    p += length;
    return code;
  }
  // A broken sequence goes as far as its continuation bytes go.
  const size_t length = utf8LeadLength(bytes[0]);
  size_t i = 1;
  while (i < length && (bytes[i] & 0xC0) == 0x80)
    ++i;
  p += i;
  return 0xFFFD;
}

size_t putWideUnits(uint32_t* out, uint32_t c, bool sixteenBitUnits) {
  if (!sixteenBitUnits || c < 0x10000) {
    out[0] = c;
    return 1;
  }
  c -= 0x10000;
  out[0] = 0xD800 | (c >> 10);
  out[1] = 0xDC00 | (c & 0x3FF);
  return 2;
}

uint32_t takeWideUnits(uint32_t first, uint32_t second, size_t* used) {
  *used = 1;
  if (first >= 0xD800 && first < 0xDC00 && second >= 0xDC00 && second < 0xE000) {
    *used = 2;
    return 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
  }
  return (first >= 0xD800 && first < 0xE000) || first > 0x10FFFF ? 0xFFFD : first;
}

std::string printableModuleText(const char* text, size_t size) {
  std::string shown;
  for (size_t i = 0; text && i < size && text[i]; ++i)
    shown += text[i] >= 0x20 && text[i] < 0x7F ? text[i] : '?';
  return shown;
}
