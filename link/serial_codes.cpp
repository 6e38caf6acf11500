#include "link/serial_codes.h"

#include "platform/os.h"

namespace {

constexpr uint32_t kFirstRateAsItself = 128;
constexpr uint32_t kFallbackRate = 9600;

}  // namespace

uint32_t baudRateOfCode(uint32_t code) {
  static const uint32_t rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  if (code >= kFirstRateAsItself)
    return code;
  return code < 8 ? rates[code] : kFallbackRate;
}

uint8_t parityOfCode(uint8_t code) {
  switch (code) {
    case 1:
      return os::kEvenParity;
    case 2:
      return os::kOddParity;
    case 3:
      return os::kMarkParity;
    default:
      return os::kNoParity;
  }
}

uint8_t stopBitsOfCode(uint8_t code) {
  return code == 1 ? os::kTwoStopBits : os::kOneStopBit;
}
