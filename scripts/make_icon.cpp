// Draws icon 108: two radio modules with their antennas and the waves between
// them, as a 32x32 and a 16x16 image of 16 colours (4 bits a pixel).
//
//   make_icon OUTPUT.ico         writes the icon
//   make_icon --check FILE.ico   exits 0 when FILE is exactly what it would write
//
// The native tests run the second form on resources/nlconf.ico.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The standard 16-colour palette; a letter in the drawings names an entry.
struct PaletteEntry {
  char letter;
  uint8_t red, green, blue;
};
constexpr PaletteEntry kPalette[16] = {
    {'k', 0, 0, 0},       {'m', 128, 0, 0},   {'g', 0, 128, 0},   {'o', 128, 128, 0},
    {'n', 0, 0, 128},     {'p', 128, 0, 128}, {'t', 0, 128, 128}, {'s', 192, 192, 192},
    {'d', 128, 128, 128}, {'r', 255, 0, 0},   {'l', 0, 255, 0},   {'y', 255, 255, 0},
    {'b', 0, 0, 255},     {'f', 255, 0, 255}, {'c', 0, 255, 255}, {'w', 255, 255, 255},
};
constexpr char kTransparent = '.';

// Top row first. Green boards with a chip and a status light, grey antennas
// with red tips, blue waves.
constexpr const char* kLarge[32] = {
    "................................",  //
    "....rr....................rr....",  //
    "...rrrr..................rrrr...",  //
    "...rrrr.......b..b.......rrrr...",  //
    "....rr...b...b....b...b...rr....",  //
    "....dd..b...b......b...b..dd....",  //
    "....dd.b...b...bb...b...b.dd....",  //
    "....dd.b...b..b..b..b...b.dd....",  //
    "....dd.b...b..b..b..b...b.dd....",  //
    "....dd.b...b...bb...b...b.dd....",  //
    "....dd..b...b......b...b..dd....",  //
    "....dd...b...b....b...b...dd....",  //
    "....dd........b..b........dd....",  //
    "....dd....................dd....",  //
    "....dd....................dd....",  //
    ".kkkddkkkkkk........kkkkkkddkkk.",  //
    ".kggggggggggk......kggggggggggk.",  //
    ".kgylgggggggk......kgggggggylgk.",  //
    ".kggggggggggk......kggggggggggk.",  //
    ".kggskskskggk......kggskskskggk.",  //
    ".kggkkkkkkggk......kggkkkkkkggk.",  //
    ".kgskkkkkksgk......kgskkkkkksgk.",  //
    ".kggkkkkkkggk......kggkkkkkkggk.",  //
    ".kgskkkkkksgk......kgskkkkkksgk.",  //
    ".kggkkkkkkggk......kggkkkkkkggk.",  //
    ".kggskskskggk......kggskskskggk.",  //
    ".kggggggggggk......kggggggggggk.",  //
    ".kgsgsgsgsggk......kggsgsgsgsgk.",  //
    ".kggggggggggk......kggggggggggk.",  //
    ".kkkkkkkkkkkk......kkkkkkkkkkkk.",  //
    "................................",  //
    "................................",  //
};

constexpr const char* kSmall[16] = {
    "................",  //
    ".r............r.",  //
    "rrr...b..b...rrr",  //
    ".r...b....b...r.",  //
    ".d..b..bb..b..d.",  //
    ".d..b.b..b.b..d.",  //
    ".d..b.b..b.b..d.",  //
    ".d..b..bb..b..d.",  //
    ".d...b....b...d.",  //
    "kdkkkkk..kkkkkdk",  //
    "kgggylk..klygggk",  //
    "kgkkkgk..kgkkkgk",  //
    "kgkkkgk..kgkkkgk",  //
    "kgssggk..kggssgk",  //
    "kkkkkkk..kkkkkkk",  //
    "................",  //
};

struct Drawing {
  int size;
  const char* const* rows;
};
constexpr Drawing kImages[2] = {{32, kLarge}, {16, kSmall}};

constexpr int kDirectoryBytes = 6;
constexpr int kEntryBytes = 16;
constexpr int kInfoHeaderBytes = 40;
constexpr int kPaletteBytes = 16 * 4;

void putU8(std::vector<uint8_t>& out, unsigned value) {
  out.push_back(uint8_t(value));
}
void putU16(std::vector<uint8_t>& out, unsigned value) {
  putU8(out, value & 0xFF);
  putU8(out, value >> 8);
}
void putU32(std::vector<uint8_t>& out, uint32_t value) {
  putU16(out, value & 0xFFFF);
  putU16(out, value >> 16);
}

// Rows of a device-independent bitmap are padded to whole 32-bit words.
int rowBytes(int width, int bitsPerPixel) {
  return (width * bitsPerPixel + 31) / 32 * 4;
}

int imageBytes(int size) {
  return kInfoHeaderBytes + kPaletteBytes + size * rowBytes(size, 4) + size * rowBytes(size, 1);
}

// Palette index of a letter, or -1 for transparent, -2 for an unknown letter.
int paletteIndex(char letter) {
  if (letter == kTransparent) {
    return -1;
  }
  for (int i = 0; i < 16; ++i) {
    if (kPalette[i].letter == letter) {
      return i;
    }
  }
  return -2;
}

// Returns 0, or -1 when the drawing has a wrong width or an unknown letter.
int checkDrawing(const Drawing& drawing) {
  for (int y = 0; y < drawing.size; ++y) {
    if (int(std::strlen(drawing.rows[y])) != drawing.size) {
      std::fprintf(stderr, "make_icon: row %d of the %dx%d image is not %d wide\n", y, drawing.size,
                   drawing.size, drawing.size);
      return -1;
    }
    for (int x = 0; x < drawing.size; ++x) {
      if (paletteIndex(drawing.rows[y][x]) == -2) {
        std::fprintf(stderr, "make_icon: unknown letter '%c' at %d,%d of the %dx%d image\n",
                     drawing.rows[y][x], x, y, drawing.size, drawing.size);
        return -1;
      }
    }
  }
  return 0;
}

// BITMAPINFOHEADER, palette, colour bits, then the transparency mask; both
// bitmaps bottom row first. A transparent pixel is colour 0 with mask bit 1.
void appendImage(std::vector<uint8_t>& out, const Drawing& drawing) {
  const int size = drawing.size;
  const int colourRow = rowBytes(size, 4);
  const int maskRow = rowBytes(size, 1);
  putU32(out, kInfoHeaderBytes);
  putU32(out, uint32_t(size));
  putU32(out, uint32_t(size * 2));  // colour bits and mask together
  putU16(out, 1);                   // planes
  putU16(out, 4);                   // bits a pixel
  putU32(out, 0);                   // no compression
  putU32(out, uint32_t(size * (colourRow + maskRow)));
  putU32(out, 0);
  putU32(out, 0);
  putU32(out, 0);
  putU32(out, 0);
  for (const PaletteEntry& entry : kPalette) {
    putU8(out, entry.blue);
    putU8(out, entry.green);
    putU8(out, entry.red);
    putU8(out, 0);
  }
  for (int y = size - 1; y >= 0; --y) {
    std::vector<uint8_t> row(size_t(colourRow), 0);
    for (int x = 0; x < size; ++x) {
      const int index = paletteIndex(drawing.rows[y][x]);
      const unsigned bits = index < 0 ? 0u : unsigned(index);
      row[size_t(x / 2)] |= uint8_t(x % 2 == 0 ? bits << 4 : bits);
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  for (int y = size - 1; y >= 0; --y) {
    std::vector<uint8_t> row(size_t(maskRow), 0);
    for (int x = 0; x < size; ++x) {
      if (paletteIndex(drawing.rows[y][x]) == -1) {
        row[size_t(x / 8)] |= uint8_t(0x80u >> (x % 8));
      }
    }
    out.insert(out.end(), row.begin(), row.end());
  }
}

// Returns 0, or -1 when a drawing is malformed.
int buildIcon(std::vector<uint8_t>& out) {
  for (const Drawing& drawing : kImages) {
    if (checkDrawing(drawing) != 0) {
      return -1;
    }
  }
  putU16(out, 0);  // reserved
  putU16(out, 1);  // an icon, not a cursor
  putU16(out, 2);
  uint32_t offset = kDirectoryBytes + 2 * kEntryBytes;
  for (const Drawing& drawing : kImages) {
    putU8(out, unsigned(drawing.size));
    putU8(out, unsigned(drawing.size));
    putU8(out, 16);  // colours
    putU8(out, 0);
    putU16(out, 1);  // planes
    putU16(out, 4);  // bits a pixel
    putU32(out, uint32_t(imageBytes(drawing.size)));
    putU32(out, offset);
    offset += uint32_t(imageBytes(drawing.size));
  }
  for (const Drawing& drawing : kImages) {
    appendImage(out, drawing);
  }
  return 0;
}

int writeFile(const char* path, const std::vector<uint8_t>& bytes) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::perror(path);
    return 1;
  }
  const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
  const int closed = std::fclose(file);
  if (written != bytes.size() || closed != 0) {
    std::fprintf(stderr, "make_icon: could not write %s\n", path);
    return 1;
  }
  return 0;
}

// Returns 0 when the file holds exactly the expected bytes.
int compareFile(const char* path, const std::vector<uint8_t>& expected) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::perror(path);
    return 1;
  }
  std::vector<uint8_t> actual;
  uint8_t chunk[4096];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    actual.insert(actual.end(), chunk, chunk + got);
  }
  std::fclose(file);
  if (actual == expected) {
    std::printf("%s is the generated icon (%zu bytes)\n", path, actual.size());
    return 0;
  }
  size_t first = 0;
  while (first < actual.size() && first < expected.size() && actual[first] == expected[first]) {
    ++first;
  }
  std::fprintf(stderr,
               "%s differs from the generated icon: %zu bytes against %zu, first difference at "
               "byte %zu; run make_icon %s\n",
               path, actual.size(), expected.size(), first, path);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<uint8_t> icon;
  if (buildIcon(icon) != 0) {
    return 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "--check") != 0) {
    return writeFile(argv[1], icon);
  }
  if (argc == 3 && std::strcmp(argv[1], "--check") == 0) {
    return compareFile(argv[2], icon);
  }
  std::fprintf(stderr, "usage: make_icon OUTPUT.ico | make_icon --check FILE.ico\n");
  return 2;
}
