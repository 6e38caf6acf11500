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
