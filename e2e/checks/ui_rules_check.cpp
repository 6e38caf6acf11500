// Console check, run under Wine: the main dialog's value texts as the
// Windows build formats them (wchar_t is 16 bits there, and MinGW's wide
// printf family would read "%s" and "%lX" differently from ISO).
// Prints one PASS or FAIL line per text; exit status 1 after any FAIL.
#include <cstdint>
#include <cstdio>

#include "ui/dialog/rules.h"

namespace {

int failures = 0;

// The texts are ASCII; printed narrow so no wide conversion is involved.
void printNarrow(const wchar_t* text) {
  for (const wchar_t* p = text; *p; ++p)
    std::putchar(*p < 0x80 ? static_cast<char>(*p) : '?');
}

bool sameText(const wchar_t* text, const char* expected) {
  uint32_t i = 0;
  for (; expected[i]; ++i) {
    if (text[i] != static_cast<wchar_t>(static_cast<unsigned char>(expected[i])))
      return false;
  }
  return text[i] == 0;
}

void report(const char* field, unsigned long long value, const wchar_t* text, uint32_t length,
            const char* expected) {
  uint32_t expectedLength = 0;
  while (expected[expectedLength])
    ++expectedLength;
  const bool ok = sameText(text, expected) && length == expectedLength;
  failures += ok ? 0 : 1;
  std::printf("%s %s 0x%llx: \"", ok ? "PASS" : "FAIL", field, value);
  printNarrow(text);
  std::printf("\" (%u characters)", static_cast<unsigned>(length));
  if (!ok)
    std::printf(", expected \"%s\"", expected);
  std::printf("\n");
}

void checkPanId(uint64_t value, const char* expected) {
  wchar_t text[kDisplayTextChars];
  const uint32_t length = formatPanIdText(value, text, kDisplayTextChars);
  report("PAN ID", value, text, length, expected);
}

void checkAddressHalf(uint32_t value, const char* expected) {
  wchar_t text[kDisplayTextChars];
  const uint32_t length = formatAddressHalfText(value, text, kDisplayTextChars);
  report("address half", value, text, length, expected);
}

}  // namespace

int main() {
  std::printf("sizeof(wchar_t) = %u\n", static_cast<unsigned>(sizeof(wchar_t)));
  checkPanId(0, "0");
  checkPanId(0x1234, "1234");
  checkPanId(0xABCDEF, "ABCDEF");
  checkPanId(0x02004E4C40000001ull, "2004E4C40000001");
  checkPanId(0x8000000000000000ull, "8000000000000000");
  checkPanId(UINT64_MAX, "FFFFFFFFFFFFFFFF");
  checkAddressHalf(0xFFFF, "0000FFFF");
  checkAddressHalf(0, "00000000");
  checkAddressHalf(0x02004E4C, "02004E4C");
  checkAddressHalf(0xDEADBEEF, "DEADBEEF");
  std::printf("ui rules check: %d failed\n", failures);
  return failures ? 1 : 0;
}
