// Which colour a control's text is drawn in, from a capture of its pixels.
// Portable so that native tests can feed it synthetic captures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Rgb {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
  bool operator==(const Rgb& other) const = default;
};

enum class Ink { kNone, kBlack, kRed, kBlue, kGrey, kWhite, kOther };

struct InkReport {
  Ink verdict = Ink::kNone;
  Rgb background;
  // Pixels that differ from the background.
  size_t inkPixels = 0;
  // Of those, how many each candidate colour explains (see classifyInk).
  size_t black = 0;
  size_t red = 0;
  size_t blue = 0;
  size_t grey = 0;
  size_t white = 0;
  // Pixels no candidate explains, and the most frequent of them.
  size_t unexplained = 0;
  Rgb commonUnexplained;
};

// The background is the most frequent colour. A candidate text colour c
// explains an ink pixel p when p lies on the way from the background to c
// (anti-aliased edges lie part way, glyph cores at c). The verdict is the
// candidate that explains most ink pixels and reaches c itself on a few of
// them; black beats grey on a light background because black's cores lie
// beyond grey. kOther when unexplained pixels outnumber the best candidate,
// kNone when there is too little ink to be text. greyText is the system's
// colour for disabled text.
InkReport classifyInk(const Rgb* pixels, size_t count, Rgb greyText);

const char* inkName(Ink ink);
std::string hexColor(Rgb color);  // "#RRGGBB"
