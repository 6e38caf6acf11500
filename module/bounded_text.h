// Text made into a caller's buffer that never runs past it: whatever does
// not fit is dropped and noted, so the maker can refuse the whole text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct BoundedText {
  char* out;
  size_t capacity;
  size_t length;
  bool fits;
};

void addByte(BoundedText& text, char c);
void addBytes(BoundedText& text, const char* s);
void addUtf8(BoundedText& text, uint32_t codePoint);

// A module's 8-bit text (a node identifier) as the screens, files and the
// record show it: printable ASCII as it is, any other byte "?", up to its
// NUL or size bytes, so that nothing a module sends is shown raw.
std::string printableModuleText(const char* text, size_t size);

// Wide text for messages, the same way: units that do not fit are dropped,
// and the text stays terminated.
struct WideText {
  wchar_t* out;
  uint32_t size;  // out's room, the terminator included; at least 1
  uint32_t length;
};

WideText startWideText(wchar_t* out, uint32_t size);
void put(WideText& text, uint32_t unit);
void add(WideText& text, const wchar_t* s);  // null adds nothing
void addNumber(WideText& text, uint32_t n);  // in decimal

// The code point's UTF-8 bytes into out (room for 4); their count.
size_t putUtf8(uint8_t* out, uint32_t codePoint);
// Length of the well-formed UTF-8 sequence at p (n bytes, at least 1),
// its code point in *codePoint; 0 when there is none: no overlong forms,
// no surrogates, nothing beyond U+10FFFF.
size_t utf8Sequence(const uint8_t* p, size_t n, uint32_t* codePoint);
// How long the sequence that this byte leads is; 0 for a byte that leads none.
size_t utf8LeadLength(uint8_t b);
// The code point that starts at p, p moved past it; a malformed or cut
// sequence is U+FFFD and moves p by what was looked at. p must not be at
// the terminating NUL.
uint32_t takeUtf8(const char*& p);

// Wide text: wchar_t holds UTF-16 on Windows and whole code points elsewhere.
// The code point as units of that width into out (room for 2): a surrogate
// pair above U+FFFF where units have 16 bits. Their count.
size_t putWideUnits(uint32_t* out, uint32_t codePoint, bool sixteenBitUnits);
// The code point that starts with unit `first` (`second` the unit after it,
// 0 at the end); *used is how many units it took. A lone surrogate, or a
// value beyond Unicode, is U+FFFD.
uint32_t takeWideUnits(uint32_t first, uint32_t second, size_t* used);
