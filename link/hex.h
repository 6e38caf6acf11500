// Numbers as the modules write them (hexadecimal) and as the port
// lists name them (decimal).
#pragma once

#include <cstdint>

// Leading white space, an optional sign and an optional "0x" are accepted;
// conversion stops at the first non-hex character (*end points there, or at
// text when there are no digits, which gives 0). Values beyond 32 bits give
// 0xFFFFFFFF; a minus sign negates modulo 2^32.
uint32_t parseHex32(const char* text, const char** end);

// Upper-case hexadecimal as the modules write it: the value's significant
// digits, at least minDigits of them (leading zeros to fill), at most 16;
// into out (room for 16, not terminated); their count.
int formatHex(uint64_t value, int minDigits, char* out);

// One unsigned 64-bit number after optional white space, sign and "0x";
// false when there is no hexadecimal digit. Beyond 64 bits saturates.
bool scanHex64(const char* text, uint64_t* value);

// As the C library's wcstoul with base 10 where long has 32 bits: white
// space, a sign, digits; saturates at 2^32 - 1, a minus negates.
uint32_t decimalAsWcstoul(const wchar_t* text);
