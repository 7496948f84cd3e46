// Grain Wreck's dither: serpentine error diffusion whose three weights vary with the
// input value, to a palette of two, five or eight colours.
#include <cstring>
#include <new>

#include "products/grain_wreck/grain_wreck_kernel.h"
#include "products/grain_wreck/grain_wreck_pixels.h"

namespace {

// Diffusion weights (right, down-behind, down) for t = min(v, 255 - v): Ostromoukhov's
// variable-coefficient table, which breaks up the worm and grid artefacts that fixed
// weights leave in flat tones.
struct Coefficients {
  int16_t right, downBehind, down;
};
constexpr Coefficients kCoefficients[128] = {
    {13, 0, 5},       {13, 0, 5},       {21, 0, 10},      {7, 0, 4},
    {8, 0, 5},        {47, 3, 28},      {23, 3, 13},      {15, 3, 8},
    {22, 6, 11},      {43, 15, 20},     {7, 3, 3},        {501, 224, 211},
    {249, 116, 103},  {165, 80, 67},    {123, 62, 49},    {489, 256, 191},
    {81, 44, 31},     {483, 272, 181},  {60, 35, 22},     {53, 32, 19},
    {237, 148, 83},   {471, 304, 161},  {3, 2, 1},        {481, 314, 185},
    {354, 226, 155},  {1389, 866, 685}, {227, 138, 125},  {267, 158, 163},
    {327, 188, 220},  {61, 34, 45},     {627, 338, 505},  {1227, 638, 1075},
    {20, 10, 19},     {1937, 1000, 1767}, {977, 520, 855}, {657, 360, 551},
    {71, 40, 57},     {2005, 1160, 1539}, {337, 200, 247}, {2039, 1240, 1425},
    {257, 160, 171},  {691, 440, 437},  {1045, 680, 627}, {301, 200, 171},
    {177, 120, 95},   {2141, 1480, 1083}, {1079, 760, 513}, {725, 520, 323},
    {137, 100, 57},   {2209, 1640, 855}, {53, 40, 19},    {2243, 1720, 741},
    {565, 440, 171},  {759, 600, 209},  {1147, 920, 285}, {2311, 1880, 513},
    {97, 80, 19},     {335, 280, 57},   {1181, 1000, 171}, {793, 680, 95},
    {599, 520, 57},   {2413, 2120, 171}, {405, 360, 19},  {2447, 2200, 57},
    {11, 10, 0},      {158, 151, 3},    {178, 179, 7},    {1030, 1091, 63},
    {248, 277, 21},   {318, 375, 35},   {458, 571, 63},   {878, 1159, 147},
    {5, 7, 1},        {172, 181, 37},   {97, 76, 22},     {72, 41, 17},
    {119, 47, 29},    {4, 1, 1},        {4, 1, 1},        {4, 1, 1},
    {4, 1, 1},        {4, 1, 1},        {4, 1, 1},        {4, 1, 1},
    {4, 1, 1},        {4, 1, 1},        {65, 18, 17},     {95, 29, 26},
    {185, 62, 53},    {30, 11, 9},      {35, 14, 11},     {85, 37, 28},
    {55, 26, 19},     {80, 41, 29},     {155, 86, 59},    {5, 3, 2},
    {5, 3, 2},        {5, 3, 2},        {5, 3, 2},        {5, 3, 2},
    {5, 3, 2},        {5, 3, 2},        {5, 3, 2},        {5, 3, 2},
    {5, 3, 2},        {5, 3, 2},        {5, 3, 2},        {5, 3, 2},
    {305, 176, 119},  {155, 86, 59},    {105, 56, 39},    {80, 41, 29},
    {65, 32, 23},     {55, 26, 19},     {335, 152, 113},  {85, 37, 28},
    {115, 48, 37},    {35, 14, 11},     {355, 136, 109},  {30, 11, 9},
    {365, 128, 107},  {185, 62, 53},    {25, 8, 7},       {95, 29, 26},
    {385, 112, 103},  {65, 18, 17},     {395, 104, 101},  {4, 1, 1},
};

// A colour table as the settings files and the original tables store it: a header of
// seed, flags and count minus one, then (value, red, green, blue) 16-bit entries. Only
// the high byte of each component is used.
struct PaletteEntry {
  uint16_t value, red, green, blue;
};
struct Palette {
  int32_t seed;
  uint16_t flags;
  uint16_t countLess1;
  PaletteEntry entries[8];
};

constexpr Palette kBlackWhite = {0, 0, 1, {{0, 65535, 65535, 65535}, {1, 0, 0, 0}}};
constexpr Palette kEightColours = {0,
                                   0,
                                   7,
                                   {{0, 65535, 65535, 65535},
                                    {1, 0, 0, 0},
                                    {2, 65535, 0, 0},
                                    {3, 0, 65535, 0},
                                    {4, 0, 0, 65535},
                                    {5, 0, 65535, 65535},
                                    {6, 65535, 0, 65535},
                                    {7, 65535, 65535, 0}}};
constexpr Palette kGreys = {0,
                            0,
                            4,
                            {{0, 65535, 65535, 65535},
                             {1, 0, 0, 0},
                             {2, 32896, 32896, 32896},
                             {3, 16384, 16384, 16384},
                             {4, 49152, 49152, 49152}}};

const Palette& PaletteOf(int32_t colors) {
  switch (colors) {
    case 2:
      return kEightColours;
    case 3:
      return kGreys;
    default:
      return kBlackWhite;
  }
}

struct Rgb8 {
  int32_t c[3];
};

// The 15-bit sample as an 8-bit value, rounding as the 16-bit path always has.
inline int32_t EightBitOf(int32_t s) {
  if ((s + 1) & 0x8000) return 255;
  const int32_t v = ((s + 1) >> 7) & 511;
  return v > 255 ? 255 : v;
}
inline int32_t FifteenBitOf(int32_t q) { return q == 255 ? 32768 : (q << 7) | (q >> 1); }

inline int32_t Limit255(int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// One entry of the error row: red, green and blue errors.
struct ErrorEntry {
  int16_t e[3];
};

// Division by a coefficient sum as a multiplication: |err x weight| stays below 2^20
// (255 x 2447) and every sum below 2^13, so ceil(2^33 / sum) gives the exact quotient,
// and the division sits on the pixel-to-pixel dependency chain.
constexpr int kQuotientShift = 33;

struct Split {
  uint32_t right, down;  // the weights
  uint64_t reciprocal;   // ceil(2^33 / (right + down-behind + down))
};

struct SplitTable {
  Split entries[128];
};

constexpr SplitTable MakeSplitTable() {
  SplitTable table{};
  for (int t = 0; t < 128; ++t) {
    const Coefficients& w = kCoefficients[t];
    const uint64_t sum = uint64_t(w.right + w.downBehind + w.down);
    table.entries[t].right = uint32_t(w.right);
    table.entries[t].down = uint32_t(w.down);
    table.entries[t].reciprocal = ((uint64_t(1) << kQuotientShift) + sum - 1) / sum;
  }
  return table;
}
constexpr SplitTable kSplits = MakeSplitTable();

// err x weight / sum, truncated toward zero as C++ integer division does.
inline int32_t Share(int32_t err, uint32_t weight, uint64_t reciprocal) {
  const uint32_t magnitude = uint32_t(err < 0 ? -err : err) * weight;
  const int32_t q = int32_t((uint64_t(magnitude) * reciprocal) >> kQuotientShift);
  return err < 0 ? -q : q;
}

// Per format: the three 8-bit inputs and the alpha of a pixel, and the chosen colour
// written back with that alpha.
struct EightBitPixels {
  static constexpr int32_t kBytes = 4;
  static void Read(const uint8_t* p, int32_t input[4]) { PackedRgba8::Load(p, input); }
  static void Write(uint8_t* p, const Rgb8& q, int32_t alpha) {
    PackedRgba8::Store(p, q.c[0], q.c[1], q.c[2], alpha);
  }
};

struct FifteenBitPixels {
  static constexpr int32_t kBytes = 8;
  static void Read(const uint8_t* p, int32_t input[4]) {
    Rgba15::Load(p, input);
    for (int k = 0; k < 3; ++k) input[k] = EightBitOf(input[k]);
  }
  static void Write(uint8_t* p, const Rgb8& q, int32_t alpha) {
    Rgba15::Store(p, FifteenBitOf(q.c[0]), FifteenBitOf(q.c[1]), FifteenBitOf(q.c[2]), alpha);
  }
};

// The nearest palette entry: in entry order, only a strictly nearer one wins, and entry
// 0 stands when none comes nearer than 70000.
inline const Rgb8& Nearest(const Rgb8* colours, int32_t count, const int32_t value[3]) {
  int32_t best = 70000, chosen = 0;
  for (int32_t e = 0; e < count; ++e) {
    const int32_t dr = value[0] - colours[e].c[0];
    const int32_t dg = value[1] - colours[e].c[1];
    const int32_t db = value[2] - colours[e].c[2];
    const int32_t distance = dr * dr + dg * dg + db * db;
    if (distance < best) {
      best = distance;
      chosen = e;
    }
  }
  return colours[chosen];
}

// The eight corners of the colour cube: the nearest is chosen channel by channel (a
// channel's two choices never tie for whole values), and every nearest distance stays
// far below 70000.
struct CubeCorners {
  Rgb8 chosen;
  const Rgb8& operator()(const int32_t value[3]) {
    for (int k = 0; k < 3; ++k) chosen.c[k] = value[k] >= 128 ? 255 : 0;
    return chosen;
  }
};

struct PaletteSearch {
  const Rgb8* colours;
  int32_t count;
  const Rgb8& operator()(const int32_t value[3]) const { return Nearest(colours, count, value); }
};

bool IsCubeCorners(const Rgb8* colours, int32_t count) {
  if (count != 8) return false;
  bool seen[8] = {};
  for (int32_t e = 0; e < 8; ++e) {
    int32_t index = 0;
    for (int k = 0; k < 3; ++k) {
      if (colours[e].c[k] != 0 && colours[e].c[k] != 255) return false;
      index = index * 2 + (colours[e].c[k] == 255);
    }
    if (seen[index]) return false;
    seen[index] = true;
  }
  return true;
}

template <class Pixels, class Search>
void DitherRows(const TiledImage* from, TiledImage* to, int32_t level, Search nearest,
                ErrorEntry* errors) {
  const TiledLevel& l = from->levels[level];
  const int32_t width = l.width;
  for (int32_t y = 0; y < l.height; ++y) {
    const bool leftToRight = (y & 1) == 0;
    const int32_t step = leftToRight ? 1 : -1;
    // Tile rows are 512 pixels: the row's pixel c lies in tile c / 512 of this tile row.
    const int32_t tileRow = l.firstTile + (y / kImageTileSide) * l.tilesPerRow;
    const uint32_t rowOffset = uint32_t(y % kImageTileSide) * kImageTileSide;
    for (int32_t i = 0; i < width; ++i) {
      const int32_t c = leftToRight ? i : width - 1 - i;
      int32_t ahead = c + step, behind = c - step;
      if (ahead < 0) ahead = 0;
      if (behind < 0) behind = 0;
      const size_t offset = size_t(rowOffset + uint32_t(c) % kImageTileSide) * Pixels::kBytes;
      const int32_t tile = tileRow + int32_t(uint32_t(c) / kImageTileSide);
      const uint8_t* in = static_cast<const uint8_t*>(from->tiles[tile].buffer.memory) + offset;
      uint8_t* out = static_cast<uint8_t*>(to->tiles[tile].buffer.memory) + offset;

      int32_t input[4];
      Pixels::Read(in, input);
      ErrorEntry& here = errors[c];
      const int32_t value[3] = {Limit255(input[0] + here.e[0]), Limit255(input[1] + here.e[1]),
                                Limit255(input[2] + here.e[2])};
      const Rgb8& q = nearest(value);
      Pixels::Write(out, q, input[3]);

      for (int k = 0; k < 3; ++k) {
        const int32_t err = value[k] - q.c[k];
        const int32_t t = input[k] < 255 - input[k] ? input[k] : 255 - input[k];
        const Split& w = kSplits.entries[t];
        const int32_t toRight = Share(err, w.right, w.reciprocal);
        const int32_t toDown = Share(err, w.down, w.reciprocal);
        // The writes follow this order, which matters at the left end, where a
        // neighbour falls back onto column c itself.
        errors[ahead].e[k] = int16_t(errors[ahead].e[k] + toRight);
        errors[c].e[k] = int16_t(toDown);
        errors[behind].e[k] = int16_t(errors[behind].e[k] + err - toRight - toDown);
      }
      // Keep the unread spare from piling up row after row.
      errors[width] = ErrorEntry{{0, 0, 0}};
    }
  }
}

}  // namespace

bool DitherLevelInto(const TiledImage* from, TiledImage* to, int32_t level, int32_t colors) {
  if (!TiledLevelExists(from, level) || !TiledLevelExists(to, level)) return true;
  if (from->format != to->format) return true;
  if (from->format != kTiledRgba8 && from->format != kTiledRgba16) return true;
  const TiledLevel& l = from->levels[level];
  if (to->levels[level].width != l.width || to->levels[level].height != l.height) return true;

  const Palette& palette = PaletteOf(colors);
  const int32_t count = palette.countLess1 + 1;
  Rgb8 colours[8];
  for (int32_t i = 0; i < count; ++i) {
    colours[i].c[0] = palette.entries[i].red >> 8;
    colours[i].c[1] = palette.entries[i].green >> 8;
    colours[i].c[2] = palette.entries[i].blue >> 8;
  }

  // One entry per column and a spare past the right end that takes the error a row
  // pushes off the image; it is never read. This may run on a worker: no throwing.
  ErrorEntry* errors = new (std::nothrow) ErrorEntry[size_t(l.width) + 1];
  if (!errors) return false;
  for (int32_t c = 0; c <= l.width; ++c) errors[c] = ErrorEntry{{0, 0, 0}};
  const bool eightBit = from->format == kTiledRgba8;
  if (IsCubeCorners(colours, count)) {
    if (eightBit)
      DitherRows<EightBitPixels>(from, to, level, CubeCorners{}, errors);
    else
      DitherRows<FifteenBitPixels>(from, to, level, CubeCorners{}, errors);
  } else {
    const PaletteSearch search = {colours, count};
    if (eightBit)
      DitherRows<EightBitPixels>(from, to, level, search, errors);
    else
      DitherRows<FifteenBitPixels>(from, to, level, search, errors);
  }
  delete[] errors;
  return true;
}

void DitherLevel(TiledImage* image, int32_t level, int32_t colors) {
  DitherLevelInto(image, image, level, colors);
}
