// Numbers as modules write them, and as the program must read them.
#include <gtest/gtest.h>

#include "link/hex.h"

namespace {

uint32_t hex32(const char* text) {
  return parseHex32(text, nullptr);
}

TEST(Hex32, AcceptsWhatTheModulesWrite) {
  EXPECT_EQ(hex32("1F"), 0x1Fu);
  EXPECT_EQ(hex32("1f"), 0x1Fu);
  EXPECT_EQ(hex32("  \t3E8"), 0x3E8u);
  EXPECT_EQ(hex32("0x5DC"), 0x5DCu);
  EXPECT_EQ(hex32("+10"), 0x10u);
  EXPECT_EQ(hex32("FFFFFFFF"), 0xFFFFFFFFu);
}

TEST(Hex32, NonNumbersGiveTheirLeadingDigitsOrZero) {
  EXPECT_EQ(hex32("ERROR"), 0x0Eu) << "the leading E is a digit";
  EXPECT_EQ(hex32("xyz"), 0u);
  EXPECT_EQ(hex32(""), 0u);
  EXPECT_EQ(hex32("0xg"), 0u);
  EXPECT_EQ(hex32("12 34"), 0x12u);
}

TEST(Hex32, OverflowSaturatesAndMinusWraps) {
  EXPECT_EQ(hex32("100000000"), 0xFFFFFFFFu);
  EXPECT_EQ(hex32("123456789ABCDEF0"), 0xFFFFFFFFu);
  EXPECT_EQ(hex32("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(hex32("-10"), 0xFFFFFFF0u);
  EXPECT_EQ(hex32("-100000000"), 0xFFFFFFFFu) << "saturated before the sign, as strtoul does";
}

TEST(Hex32, EndPointsWhereTheConversionStopped) {
  const char* end = nullptr;
  const char text[] = "7 \r";
  parseHex32(text, &end);
  EXPECT_EQ(end, text + 1);
  const char crOnly[] = "\r";
  EXPECT_EQ(parseHex32(crOnly, &end), 0u);
  EXPECT_EQ(end, crOnly) << "no digits: end is the start, white space not skipped";
  const char spaced[] = "  1C200\r";
  EXPECT_EQ(parseHex32(spaced, &end), 0x1C200u);
  EXPECT_EQ(*end, '\r');
}

TEST(Hex64, NeedsAtLeastOneDigit) {
  uint64_t v = 99;
  EXPECT_TRUE(scanHex64("0", &v));
  EXPECT_EQ(v, 0u);
  EXPECT_TRUE(scanHex64(" 02004E4C40A1B2C3", &v));
  EXPECT_EQ(v, 0x02004E4C40A1B2C3u);
  EXPECT_TRUE(scanHex64("FFFFFFFFFFFFFFFF", &v));
  EXPECT_EQ(v, UINT64_MAX);
  v = 5;
  EXPECT_FALSE(scanHex64("zz", &v));
  EXPECT_FALSE(scanHex64("", &v));
  EXPECT_EQ(v, 5u) << "untouched on failure";
}

}  // namespace
