// Text made into a caller's buffer that never runs past it: whatever does
// not fit is dropped and noted, so the maker can refuse the whole text.
#pragma once

#include <cstddef>
#include <cstdint>

struct BoundedText {
  char* out;
  size_t capacity;
  size_t length;
  bool fits;
};

void addByte(BoundedText& text, char c);
void addBytes(BoundedText& text, const char* s);
void addUtf8(BoundedText& text, uint32_t codePoint);

// The code point's UTF-8 bytes into out (room for 4); their count.
size_t putUtf8(uint8_t* out, uint32_t codePoint);
// The code point that starts at p, p moved past it; a malformed or cut
// sequence is U+FFFD and moves p by what was looked at. p must not be at
// the terminating NUL.
uint32_t takeUtf8(const char*& p);
