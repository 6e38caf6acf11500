#include "module/received_share.h"

uint32_t receivedTenths(const RangeDirection& d) {
  return d.sent ? static_cast<uint32_t>(uint64_t{d.received} * 1000 / d.sent) : 0;
}

size_t receivedShareText(const RangeDirection& d, char* out) {
  const uint32_t tenths = receivedTenths(d);
  char digits[kShareTextChars];
  size_t n = 0;
  digits[n++] = static_cast<char>('0' + tenths % 10);
  digits[n++] = '.';
  uint32_t whole = tenths / 10;
  do {
    digits[n++] = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole);
  for (size_t i = 0; i < n; ++i)
    out[i] = digits[n - 1 - i];
  out[n] = 0;
  return n;
}

bool sharesMeet(const RangeResult& range, uint32_t minimum) {
  constexpr uint64_t kWhole = 100 * uint64_t{kShareMinimumPerPercent};
  for (uint32_t i = 0; i < range.directionCount && i < 2; ++i) {
    const RangeDirection& d = range.directions[i];
    if (d.sent == 0 ? minimum > 0 : uint64_t{d.received} * kWhole < uint64_t{minimum} * d.sent)
      return false;
  }
  return range.directionCount > 0;
}
