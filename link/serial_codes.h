// The module's serial codes (its "ATBD", "ATNB" and "ATSB" values) as the
// host port's line settings. One rule for every place that follows a module.
#pragma once

#include <cstdint>

// Codes 0..7 are the standard rates from 1200 to 115200, 8..127 fall back to
// 9600, and from 128 on the module takes the code as the rate itself.
uint32_t baudRateOfCode(uint32_t code);
// 1 even, 2 odd, 3 mark; anything else no parity.
uint8_t parityOfCode(uint8_t code);
// 1 two stop bits; anything else one.
uint8_t stopBitsOfCode(uint8_t code);
