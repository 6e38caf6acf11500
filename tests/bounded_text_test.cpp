#include <gtest/gtest.h>

#include <string>

#include "module/bounded_text.h"

namespace {

uint32_t firstCodePoint(const std::string& bytes, size_t& taken) {
  const char* p = bytes.c_str();
  const uint32_t c = takeUtf8(p);
  taken = static_cast<size_t>(p - bytes.c_str());
  return c;
}

}  // namespace

TEST(BoundedText, EveryLengthOfUtf8ComesBackAsItWent) {
  for (uint32_t c : {0x41u, 0x7Fu, 0x80u, 0xE9u, 0x7FFu, 0x800u, 0x20ACu, 0xFFFDu, 0x10000u,
                     0x1F600u, 0x10FFFFu}) {
    uint8_t bytes[4];
    const size_t count = putUtf8(bytes, c);
    EXPECT_EQ(count, c < 0x80 ? 1u : c < 0x800 ? 2u : c < 0x10000 ? 3u : 4u) << std::hex << c;
    size_t taken = 0;
    EXPECT_EQ(firstCodePoint(std::string(bytes, bytes + count), taken), c) << std::hex << c;
    EXPECT_EQ(taken, count) << std::hex << c;
  }
}

// Windows' wide text is UTF-16: a code point beyond the first plane takes a
// pair, and what is no pair never passes as a character.
TEST(BoundedText, WideUnitsPairAboveTheFirstPlaneAndRefuseLoneHalves) {
  for (uint32_t c : {0x41u, 0xFFFDu, 0x10000u, 0x1F600u, 0x10FFFFu}) {
    uint32_t units[2] = {};
    const size_t count = putWideUnits(units, c, true);
    ASSERT_EQ(count, c < 0x10000 ? 1u : 2u) << std::hex << c;
    size_t used = 0;
    EXPECT_EQ(takeWideUnits(units[0], count == 2 ? units[1] : 0, &used), c) << std::hex << c;
    EXPECT_EQ(used, count) << std::hex << c;
    EXPECT_EQ(putWideUnits(units, c, false), 1u);
    EXPECT_EQ(units[0], c);
  }
  size_t used = 0;
  EXPECT_EQ(takeWideUnits(0xD83D, 0x41, &used), 0xFFFDu);  // a high half, no low one
  EXPECT_EQ(used, 1u);
  EXPECT_EQ(takeWideUnits(0xDE00, 0xD83D, &used), 0xFFFDu);  // the halves the wrong way round
  EXPECT_EQ(used, 1u);
  EXPECT_EQ(takeWideUnits(0x110000, 0, &used), 0xFFFDu);
}

// A module's text is not trusted to be UTF-8: nothing malformed comes
// through as a character, and nothing is read past the text's end.
TEST(BoundedText, MalformedBytesBecomeReplacementsWithinTheText) {
  const struct {
    std::string bytes;
    size_t taken;
  } cases[] = {
      {"\x80z", 1},              // a continuation byte alone
      {"\xC0\xAFz", 1},          // "/" spelt too long: a lead byte never used
      {"\xE0\x80\xAFz", 3},      // the same in three bytes
      {"\xED\xA0\x80z", 3},      // half of a surrogate pair
      {"\xF4\x90\x80\x80z", 4},  // past U+10FFFF
      {"\xFFz", 1},
      {"\xE2\x82", 2},  // cut at the end
      {"\xE2z", 1},     // cut before the next character
  };
  for (const auto& c : cases) {
    size_t taken = 0;
    EXPECT_EQ(firstCodePoint(c.bytes, taken), 0xFFFDu) << c.bytes;
    EXPECT_EQ(taken, c.taken) << c.bytes;
  }
}

TEST(BoundedText, ACharacterThatDoesNotFitIsNotedAndNeverOverruns) {
  char out[4] = {'-', '-', '-', '-'};
  BoundedText t{out, 3, 0, true};
  addBytes(t, "a");
  addUtf8(t, 0x20AC);
  EXPECT_FALSE(t.fits);
  EXPECT_LE(t.length, 3u);
  EXPECT_EQ(out[3], '-');
}
