#include "module/bounded_text.h"

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

uint32_t takeUtf8(const char*& p) {
  const auto c = static_cast<uint8_t>(*p++);
  const int more = c >= 0xF0 && c < 0xF5   ? 3
                   : c >= 0xE0 && c < 0xF0 ? 2
                   : c >= 0xC2 && c < 0xE0 ? 1
                                           : 0;
  if (c < 0x80)
    return c;
  if (more == 0)
    return 0xFFFD;
  uint32_t code = c & (0x3Fu >> more);
  int i = 0;
  for (; i < more && (static_cast<uint8_t>(p[i]) & 0xC0) == 0x80; ++i)
    code = code << 6 | (static_cast<uint8_t>(p[i]) & 0x3F);
  p += i;
  const uint32_t least = more == 1 ? 0x80 : more == 2 ? 0x800 : 0x10000;
  if (i < more || code < least || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
    return 0xFFFD;
  return code;
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
