#include "ink.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>

namespace {

// Pixels this close to the background are noise (JPEG-free captures still
// carry dithered frame shades).
constexpr double kInkDistance = 24.0;
// Off the background-to-colour line by more than this: not that colour.
constexpr double kLineTolerance = 40.0;
// Beyond the colour itself by this share: a darker colour's pixel.
constexpr double kOvershoot = 1.15;
// At least this share of the way to the colour: a glyph core.
constexpr double kCoreShare = 0.8;
constexpr size_t kMinCorePixels = 3;

struct Candidate {
  Ink ink;
  Rgb color;
  size_t explained = 0;
  size_t cores = 0;
};

uint32_t pack(Rgb c) {
  return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
}

Rgb unpack(uint32_t v) {
  return Rgb{static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

double distance(Rgb a, Rgb b) {
  const double dr = double(a.r) - b.r;
  const double dg = double(a.g) - b.g;
  const double db = double(a.b) - b.b;
  return std::sqrt(dr * dr + dg * dg + db * db);
}

Rgb mostFrequent(const std::unordered_map<uint32_t, size_t>& histogram) {
  uint32_t best = 0;
  size_t bestCount = 0;
  for (const auto& [color, n] : histogram) {
    if (n > bestCount || (n == bestCount && color < best)) {
      best = color;
      bestCount = n;
    }
  }
  return unpack(best);
}

// How far along the line from bg to c the pixel lies, and how far off it.
void project(Rgb p, Rgb bg, Rgb c, double* share, double* off) {
  const double vr = double(c.r) - bg.r, vg = double(c.g) - bg.g, vb = double(c.b) - bg.b;
  const double pr = double(p.r) - bg.r, pg = double(p.g) - bg.g, pb = double(p.b) - bg.b;
  const double length2 = vr * vr + vg * vg + vb * vb;
  *share = (pr * vr + pg * vg + pb * vb) / length2;
  const double er = pr - *share * vr, eg = pg - *share * vg, eb = pb - *share * vb;
  *off = std::sqrt(er * er + eg * eg + eb * eb);
}

// True when some candidate explains the pixel.
bool explain(Rgb p, Rgb bg, Candidate* candidates, size_t n) {
  bool any = false;
  for (size_t i = 0; i < n; ++i) {
    Candidate& c = candidates[i];
    if (distance(c.color, bg) < kInkDistance)
      continue;
    double share = 0.0;
    double off = 0.0;
    project(p, bg, c.color, &share, &off);
    if (share <= 0.0 || share > kOvershoot || off > kLineTolerance)
      continue;
    ++c.explained;
    if (share >= kCoreShare)
      ++c.cores;
    any = true;
  }
  return any;
}

const Candidate* best(const Candidate* candidates, size_t n, Rgb bg) {
  const Candidate* winner = nullptr;
  for (size_t i = 0; i < n; ++i) {
    const Candidate& c = candidates[i];
    if (c.cores < kMinCorePixels)
      continue;
    if (!winner || c.explained > winner->explained ||
        (c.explained == winner->explained && distance(c.color, bg) > distance(winner->color, bg))) {
      winner = &c;
    }
  }
  return winner;
}

}  // namespace

InkReport classifyInk(const Rgb* pixels, size_t count, Rgb greyText) {
  InkReport report;
  if (count == 0)
    return report;
  std::unordered_map<uint32_t, size_t> histogram;
  for (size_t i = 0; i < count; ++i)
    ++histogram[pack(pixels[i])];
  report.background = mostFrequent(histogram);
  Candidate candidates[] = {{Ink::kBlack, {0, 0, 0}},
                            {Ink::kRed, {255, 0, 0}},
                            {Ink::kBlue, {0, 0, 255}},
                            {Ink::kGrey, greyText},
                            {Ink::kWhite, {255, 255, 255}}};
  constexpr size_t n = sizeof candidates / sizeof candidates[0];
  std::unordered_map<uint32_t, size_t> strays;
  for (size_t i = 0; i < count; ++i) {
    if (distance(pixels[i], report.background) < kInkDistance)
      continue;
    ++report.inkPixels;
    if (!explain(pixels[i], report.background, candidates, n)) {
      ++report.unexplained;
      ++strays[pack(pixels[i])];
    }
  }
  report.black = candidates[0].explained;
  report.red = candidates[1].explained;
  report.blue = candidates[2].explained;
  report.grey = candidates[3].explained;
  report.white = candidates[4].explained;
  if (!strays.empty())
    report.commonUnexplained = mostFrequent(strays);
  const Candidate* winner = best(candidates, n, report.background);
  if (report.unexplained >= kMinCorePixels && (!winner || report.unexplained > winner->explained))
    report.verdict = Ink::kOther;
  else if (winner)
    report.verdict = winner->ink;
  return report;
}

const char* inkName(Ink ink) {
  switch (ink) {
    case Ink::kNone:
      return "none";
    case Ink::kBlack:
      return "black";
    case Ink::kRed:
      return "red";
    case Ink::kBlue:
      return "blue";
    case Ink::kGrey:
      return "grey";
    case Ink::kWhite:
      return "white";
    case Ink::kOther:
      return "other";
  }
  return "?";
}

std::string hexColor(Rgb color) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", color.r, color.g, color.b);
  return text;
}
