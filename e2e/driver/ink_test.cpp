// The colour reading of the UI driver: whatever the capture looks like, a
// red field must read red and a black one black, or every colour check of
// the Wine journeys passes or fails for the wrong reason.
#include "ink.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr Rgb kButtonFace{0xF0, 0xF0, 0xF0};
constexpr Rgb kWhite{0xFF, 0xFF, 0xFF};
constexpr Rgb kGreyText{0x6D, 0x6D, 0x6D};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kRed{0xFF, 0, 0};
constexpr Rgb kBlue{0, 0, 0xFF};

Rgb blend(Rgb bg, Rgb ink, double share) {
  auto mix = [share](uint8_t a, uint8_t b) {
    return static_cast<uint8_t>(a + share * (double(b) - a) + 0.5);
  };
  return Rgb{mix(bg.r, ink.r), mix(bg.g, ink.g), mix(bg.b, ink.b)};
}

// A 60 x 14 field with a few glyph-like strokes: cores in the ink, and,
// when smoothed, half-way pixels on both sides of every stroke.
std::vector<Rgb> field(Rgb bg, Rgb ink, bool smoothed, int strokes = 6) {
  constexpr int kWidth = 60, kHeight = 14;
  std::vector<Rgb> pixels(kWidth * kHeight, bg);
  for (int s = 0; s < strokes; ++s) {
    const int x = 6 + s * 8;
    for (int y = 3; y < 11; ++y) {
      pixels[y * kWidth + x] = ink;
      if (smoothed) {
        pixels[y * kWidth + x - 1] = blend(bg, ink, 0.55);
        pixels[y * kWidth + x + 1] = blend(bg, ink, 0.3);
        pixels[y * kWidth + x + 2] = blend(bg, ink, 0.12);
      }
    }
  }
  return pixels;
}

Ink verdictOf(const std::vector<Rgb>& pixels) {
  return classifyInk(pixels.data(), pixels.size(), kGreyText).verdict;
}

TEST(InkTest, SharpTextReadsAsItsColour) {
  EXPECT_EQ(verdictOf(field(kButtonFace, kBlack, false)), Ink::kBlack);
  EXPECT_EQ(verdictOf(field(kButtonFace, kRed, false)), Ink::kRed);
  EXPECT_EQ(verdictOf(field(kButtonFace, kBlue, false)), Ink::kBlue);
  EXPECT_EQ(verdictOf(field(kWhite, kRed, false)), Ink::kRed);
}

// Smoothed black edges are grey pixels; there are more of them than cores.
TEST(InkTest, SmoothedBlackIsNotMistakenForGrey) {
  const auto pixels = field(kButtonFace, kBlack, true);
  const InkReport report = classifyInk(pixels.data(), pixels.size(), kGreyText);
  EXPECT_EQ(report.verdict, Ink::kBlack);
  EXPECT_GT(report.grey, 0u);
}

TEST(InkTest, DisabledGreyTextIsNotBlack) {
  EXPECT_EQ(verdictOf(field(kButtonFace, kGreyText, true)), Ink::kGrey);
}

TEST(InkTest, SmoothedRedOnWhiteAndBlueOnButtonFace) {
  EXPECT_EQ(verdictOf(field(kWhite, kRed, true)), Ink::kRed);
  EXPECT_EQ(verdictOf(field(kButtonFace, kBlue, true)), Ink::kBlue);
}

// The text of a focused drop-down list is white on the highlight colour:
// it says nothing of the field's colour and must not read as blue.
TEST(InkTest, HighlightedSelectionReadsWhite) {
  const Rgb highlight{0x33, 0x99, 0xFF};
  std::vector<Rgb> pixels = field(highlight, kWhite, true);
  const InkReport report = classifyInk(pixels.data(), pixels.size(), kGreyText);
  EXPECT_EQ(report.verdict, Ink::kWhite);
  EXPECT_EQ(report.background, highlight);
}

TEST(InkTest, EmptyFieldAndDotsHaveNoInk) {
  EXPECT_EQ(verdictOf(field(kButtonFace, kBlack, false, 0)), Ink::kNone);
  std::vector<Rgb> dots = field(kButtonFace, kRed, false, 0);
  dots[100] = kRed;
  dots[200] = kRed;
  EXPECT_EQ(verdictOf(dots), Ink::kNone);
  EXPECT_EQ(classifyInk(nullptr, 0, kGreyText).verdict, Ink::kNone);
}

TEST(InkTest, AnotherColourIsReportedAsOtherWithItsValue) {
  const Rgb green{0, 0x80, 0};
  const auto pixels = field(kButtonFace, green, false);
  const InkReport report = classifyInk(pixels.data(), pixels.size(), kGreyText);
  EXPECT_EQ(report.verdict, Ink::kOther);
  EXPECT_EQ(report.commonUnexplained, green);
}

// Red text with a stray dark frame line left in the capture stays red.
TEST(InkTest, AFrameLineDoesNotOutvoteTheText) {
  auto pixels = field(kButtonFace, kRed, true);
  for (int x = 0; x < 60; ++x)
    pixels[x] = Rgb{0xA0, 0xA0, 0xA0};
  EXPECT_EQ(verdictOf(pixels), Ink::kRed);
}

TEST(InkTest, HexColorIsRedGreenBlue) {
  EXPECT_EQ(hexColor(Rgb{0xFF, 0x00, 0x12}), "#FF0012");
}

}  // namespace
