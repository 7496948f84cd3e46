// Tiled multi-level images: layout, tiles, loading level 0 from the host and the 6 x 6
// reduction that builds the smaller levels on the worker pool.
#include "render/tiled_image.h"

#include <cstdlib>
#include <cstring>

#include "glue/glue_blend.h"
#include "host/image_access.h"
#include "host/plugin_globals.h"
#include "host/state_record.h"
#include "render/preview_geometry.h"
#include "render/render_driver.h"
#include "render/worker_pool.h"
#include "settings/settings_record.h"

namespace {

// A table larger than this cannot be addressed by 32-bit tile numbers; no host image
// comes near it (it would be about 2 * 10^11 pixels).
constexpr int64_t kMaxTiles = 0x7fffffff / int64_t(sizeof(ImageTile));

float FullRangeOf(int32_t format) {
  switch (format) {
    case kTiledGrey8:
    case kTiledRgba8:
      return 255.0f;
    case kTiledGrey16:
    case kTiledRgba16:
      return 32768.0f;
    default:
      return 1.0f;
  }
}

int32_t ChannelsOf(int32_t format) {
  switch (format) {
    case kTiledRgba8:
    case kTiledRgba16:
    case kTiledRgbaFloat:
      return 4;
    case kTiledRgb16:
      return 3;
    default:
      return 1;
  }
}

int32_t gAllocationsBeforeFailure = -1;  // test hook; -1: never fail

WorkBuffer AllocateImageMemory(size_t bytes) {
  if (gAllocationsBeforeFailure == 0) return {nullptr, nullptr};
  if (gAllocationsBeforeFailure > 0) --gAllocationsBeforeFailure;
  return WorkBufferAlloc(bytes);
}

int32_t HalfUp(int32_t size) {
  int32_t half = size / 2 + (size & 1);
  // Odd sizes above 2 are evened so that every level halves cleanly into the next.
  if ((half & 1) && half > 2) ++half;
  return half;
}

}  // namespace

int32_t TiledBytesPerPixel(int32_t format) {
  switch (format) {
    case kTiledGrey8:
      return 1;
    case kTiledGrey16:
    case kTiledChannel16:
      return 2;
    case kTiledRgba8:
    case kTiledGreyFloat:
      return 4;
    case kTiledRgb16:
      return 6;
    case kTiledRgba16:
      return 8;
    case kTiledRgbaFloat:
      return 16;
    default:
      return 0;
  }
}

int32_t TiledLevelSizes(int32_t width, int32_t height, int32_t* widths, int32_t* heights) {
  int32_t highest = 0;
  int32_t w = width > 0 ? width : 0;
  int32_t h = height > 0 ? height : 0;
  for (int k = 0; k < kTiledMaxLevels; ++k) {
    widths[k] = w;
    heights[k] = h;
    if (w > 0 && h > 0) highest = k;
    if (w == 1 && h == 1) {
      w = h = 0;  // nothing comes after the single pixel
    } else if (w > 0 && h > 0) {
      w = HalfUp(w);
      h = HalfUp(h);
    }
  }
  return highest;
}

void TiledImageFailAllocationsAfter(int32_t count) { gAllocationsBeforeFailure = count; }

void FreeTiledImage(TiledImage* image) {
  if (!image) return;
  if (image->tiles) {
    for (int32_t i = 0; i < image->tileCount; ++i) WorkBufferFree(&image->tiles[i].buffer);
  }
  WorkBufferFree(&image->tileTable);
  image->tiles = nullptr;
  image->tileCount = 0;
  image->totalBytes = 0;
  image->loadState = kTiledEmpty;
  image->valid = 0;
}

bool NewTiledImage(TiledImage* image, int32_t width, int32_t height, int32_t format,
                   int32_t pyramidRequest) {
  if (!image) return false;
  FreeTiledImage(image);
  *image = TiledImage{};
  const int32_t bytesPerPixel = TiledBytesPerPixel(format);
  if (width < 1 || height < 1 || bytesPerPixel == 0) return false;

  int32_t widths[kTiledMaxLevels];
  int32_t heights[kTiledMaxLevels];
  int32_t highest = TiledLevelSizes(width, height, widths, heights);
  if (pyramidRequest == kTiledNoPyramid) highest = 0;  // the other levels are never made

  int64_t tileCount = 0;
  for (int k = 0; k <= highest; ++k) {
    TiledLevel& l = image->levels[k];
    l.width = widths[k];
    l.height = heights[k];
    l.lastX = l.width - 1;
    l.lastY = l.height - 1;
    l.lastXf = float(l.lastX);
    l.lastYf = float(l.lastY);
    l.inverseWidth = 1.0f / float(l.width);
    l.inverseHeight = 1.0f / float(l.height);
    const int64_t perRow = (int64_t(l.width) + kImageTileSide - 1) / kImageTileSide;
    const int64_t rows = (int64_t(l.height) + kImageTileSide - 1) / kImageTileSide;
    if (tileCount + perRow * rows > kMaxTiles) return false;
    l.firstTile = int32_t(tileCount);
    l.tilesPerRow = int32_t(perRow);
    tileCount += perRow * rows;
    l.lastTile = int32_t(tileCount - 1);
  }

  image->tileTable = AllocateImageMemory(size_t(tileCount) * sizeof(ImageTile));
  if (!image->tileTable.memory) return false;
  // Host buffers come uncleared; an all-zero table is what FreeTiledImage expects of
  // tiles not yet allocated.
  std::memset(image->tileTable.memory, 0, size_t(tileCount) * sizeof(ImageTile));
  image->tiles = static_cast<ImageTile*>(image->tileTable.memory);
  image->tileCount = int32_t(tileCount);

  for (int k = 0; k <= highest; ++k) {
    const TiledLevel& l = image->levels[k];
    for (int32_t t = l.firstTile; t <= l.lastTile; ++t) {
      ImageTile& tile = image->tiles[t];
      const int32_t index = t - l.firstTile;
      tile.top = (index / l.tilesPerRow) * kImageTileSide;
      tile.left = (index % l.tilesPerRow) * kImageTileSide;
      tile.rows = l.height - tile.top < kImageTileSide ? l.height - tile.top : kImageTileSide;
      const size_t bytes = size_t(kImageTileSide) * size_t(tile.rows) * size_t(bytesPerPixel);
      tile.buffer = AllocateImageMemory(bytes);
      if (!tile.buffer.memory) {
        FreeTiledImage(image);
        return false;
      }
      if (tile.buffer.hostId) std::memset(tile.buffer.memory, 0, bytes);
      image->totalBytes += int64_t(bytes);
    }
  }

  image->highestLevel = highest;
  image->highestLevelLess3 = highest > 3 ? highest - 3 : 0;
  image->format = format;
  image->bytesPerPixel = bytesPerPixel;
  image->channels = ChannelsOf(format);
  image->bytesPerChannel = bytesPerPixel / image->channels;
  image->pyramidRequest = pyramidRequest;
  image->loadState = kTiledEmpty;
  image->fullRange = FullRangeOf(format);
  image->inverseFullRange = 1.0f / image->fullRange;
  image->heightOverWidth = float(height) / float(width);
  image->widthOverHeight = float(width) / float(height);
  image->halfOverWidth = 0.5f / float(width);
  image->halfOverHeight = 0.5f / float(height);
  image->aspectX = width >= height ? image->widthOverHeight : 1.0f;
  image->aspectY = width >= height ? 1.0f : image->heightOverWidth;
  image->randomPhase = float(std::rand()) * 37.3453297f;
  image->state = gState;
  image->bufferProcs = gFilterRecord ? gFilterRecord->bufferProcs : nullptr;
  image->valid = 1;
  return true;
}

// ---- loading level 0 from the host ---------------------------------------------------

namespace {

// What a load changes in the host record, the view and the working rectangle.
struct LoadSnapshot {
  HostRequestSnapshot record;
  int32_t previewScale, panX, panY;
  VRect workingRect;
};

LoadSnapshot TakeLoadSnapshot() {
  LoadSnapshot s;
  s.record = TakeHostRequestSnapshot();
  s.previewScale = gSettings->previewScale;
  s.panX = gSettings->panX;
  s.panY = gSettings->panY;
  s.workingRect = gWorkingRect;
  return s;
}

void PutBackLoadSnapshot(const LoadSnapshot& s) {
  PutBackHostRequestSnapshot(s.record);
  gSettings->previewScale = s.previewScale;
  gSettings->panX = s.panX;
  gSettings->panY = s.panY;
  gWorkingRect = s.workingRect;
}

// Stores one row of host colours (0..1, floats unscaled) in the image's format.
void StoreHostRow(TiledImage* image, const ImageTile& tile, int32_t row, const Colour* colours,
                  int32_t count) {
  uint8_t* out = static_cast<uint8_t*>(tile.buffer.memory) +
                 int64_t(row) * kImageTileSide * image->bytesPerPixel;
  for (int32_t i = 0; i < count; ++i) {
    const Colour& c = colours[i];
    switch (image->format) {
      case kTiledRgba8: {
        const uint32_t word = uint32_t(FloatToSample(c.red, 255)) << 24 |
                              uint32_t(FloatToSample(c.green, 255)) << 16 |
                              uint32_t(FloatToSample(c.blue, 255)) << 8 |
                              uint32_t(FloatToSample(c.alpha, 255));
        std::memcpy(out + i * 4, &word, 4);
        break;
      }
      case kTiledRgba16: {
        const uint16_t samples[4] = {
            uint16_t(FloatToSample(c.red, 32768)), uint16_t(FloatToSample(c.green, 32768)),
            uint16_t(FloatToSample(c.blue, 32768)), uint16_t(FloatToSample(c.alpha, 32768))};
        std::memcpy(out + i * 8, samples, 8);
        break;
      }
      default: {
        const float samples[4] = {c.red, c.green, c.blue, c.alpha};
        std::memcpy(out + i * 16, samples, 16);
        break;
      }
    }
  }
}

}  // namespace

OSErr LoadFromHost(TiledImage* image) {
  if (!image || !image->valid || !gFilterRecord || !gSettings) return filterBadParameters;
  const LoadSnapshot snapshot = TakeLoadSnapshot();
  gSettings->panX = gSettings->panY = 0;
  gSettings->previewScale = 1;
  const VRect filter = HostFilterRect();
  gWorkingRect = filter;
  const VRect corner = {filter.top, filter.left, filter.top + 1, filter.left + 1};
  // Level 0 is stored as 8-bit, 16-bit or float RGBA by the host's depth; an image of
  // another format keeps its pixels, but the regions are still walked.
  const bool formatMatches = image->format == DepthCode();

  OSErr result = noErr;
  const TiledLevel& level0 = image->levels[0];
  Colour colours[kImageTileSide];
  for (int32_t t = level0.firstTile; t <= level0.lastTile; ++t) {
    const ImageTile& tile = image->tiles[t];
    const VRect region = {filter.top + tile.top, filter.left + tile.left,
                          filter.top + tile.top + tile.rows,
                          filter.left + tile.left + kImageTileSide};
    HostRequestRegion(region);
    SetHostOutRect(corner);
    SetHostMaskRect(corner);
    result = HostAdvance();
    if (result != noErr) break;
    if (!formatMatches) continue;
    // Columns past the level's right edge are never read (reads clamp), so only the
    // level's own columns are taken, whatever the host does with the rest.
    const int32_t count =
        level0.width - tile.left < kImageTileSide ? level0.width - tile.left : kImageTileSide;
    for (int32_t row = 0; row < tile.rows; ++row) {
      for (int32_t i = 0; i < count; ++i) colours[i] = {0, 0, 0, 1};
      HostReadRow(region.left, region.top + row, count, region, colours);
      StoreHostRow(image, tile, row, colours, count);
    }
  }
  if (result == noErr) image->loadState = kTiledLevel0Loaded;
  PutBackLoadSnapshot(snapshot);
  if (gState) ComputePreviewGeometry(gSettings->previewScale);
  return result;
}

// ---- the pyramid ---------------------------------------------------------------------

namespace {

// Weights of the 6 x 6 reduction, rows 2y - 2 .. 2y + 3, columns 2x - 2 .. 2x + 3; the
// corners are not sampled. They add up to 1640.
constexpr int32_t kReduceWeights[6][6] = {{0, 1, 4, 4, 1, 0},       {1, 16, 64, 64, 16, 1},
                                          {4, 64, 256, 256, 64, 4}, {4, 64, 256, 256, 64, 4},
                                          {1, 16, 64, 64, 16, 1},   {0, 1, 4, 4, 1, 0}};
// Integer levels are divided by 1630, a slight gain that the clamp absorbs at white;
// the sums are exact, so an integer division truncates exactly.
constexpr int32_t kIntegerReduceDivisor = 1630;
constexpr float kFloatReduceScale = 1.0f / 1640.0f;

// Finished pyramid jobs of the current run (calling thread only).
int32_t gPyramidJobsFinished = 0;

inline int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

inline int32_t IntegerResult(int32_t sum, int32_t ceiling) {
  const int32_t v = sum / kIntegerReduceDivisor;  // sums of samples are never negative
  return v > ceiling ? ceiling : v;
}

inline float FloatResult(float sum) {
  const float v = sum * kFloatReduceScale;
  if (!(v > 0.0f)) return 0.0f;
  return v > 65535.0f ? 65535.0f : v;
}

// Reduces the pixels of `rect` (level `source` + 1 coordinates) from level `source`.
void ReduceRect(const TiledImage* image, int32_t source, const VRect& rect) {
  const TiledLevel& from = image->levels[source];
  const int32_t bpp = image->bytesPerPixel;
  const int32_t format = image->format;
  for (int32_t y = rect.top; y < rect.bottom; ++y) {
    // Per source row: the tile row's first tile and the offset of the row in it.
    int32_t rowTile[6];
    int64_t rowOffset[6];
    for (int r = 0; r < 6; ++r) {
      const int32_t sy = Clamp(2 * y - 2 + r, 0, from.lastY);
      rowTile[r] = from.firstTile + (sy / kImageTileSide) * from.tilesPerRow;
      rowOffset[r] = int64_t(sy % kImageTileSide) * kImageTileSide;
    }
    for (int32_t x = rect.left; x < rect.right; ++x) {
      int32_t columnTile[6];
      int32_t columnOffset[6];
      for (int c = 0; c < 6; ++c) {
        const int32_t sx = Clamp(2 * x - 2 + c, 0, from.lastX);
        columnTile[c] = sx / kImageTileSide;
        columnOffset[c] = sx % kImageTileSide;
      }
      int32_t sums[4] = {0, 0, 0, 0};
      float floatSums[4] = {0, 0, 0, 0};
      for (int r = 0; r < 6; ++r) {
        for (int c = 0; c < 6; ++c) {
          const int32_t w = kReduceWeights[r][c];
          if (w == 0) continue;
          const uint8_t* p =
              static_cast<const uint8_t*>(image->tiles[rowTile[r] + columnTile[c]].buffer.memory) +
              (rowOffset[r] + columnOffset[c]) * bpp;
          switch (format) {
            case kTiledGrey8:
              sums[0] += w * p[0];
              break;
            case kTiledRgba8: {
              uint32_t word;
              std::memcpy(&word, p, 4);
              sums[0] += w * int32_t(word >> 24);
              sums[1] += w * int32_t((word >> 16) & 255);
              sums[2] += w * int32_t((word >> 8) & 255);
              sums[3] += w * int32_t(word & 255);
              break;
            }
            case kTiledGreyFloat:
            case kTiledRgbaFloat: {
              float s[4];
              std::memcpy(s, p, size_t(bpp));
              for (int i = 0; i < bpp / 4; ++i) floatSums[i] += float(w) * s[i];
              break;
            }
            default: {  // 16-bit samples: formats 1, 2, 4 and 7
              uint16_t s[4];
              std::memcpy(s, p, size_t(bpp));
              for (int i = 0; i < bpp / 2; ++i) sums[i] += w * int32_t(s[i]);
              break;
            }
          }
        }
      }
      uint8_t* out = TiledPixelAt(image, source + 1, x, y);
      switch (format) {
        case kTiledGrey8:
          out[0] = uint8_t(IntegerResult(sums[0], 255));
          break;
        case kTiledRgba8: {
          const uint32_t word = uint32_t(IntegerResult(sums[0], 255)) << 24 |
                                uint32_t(IntegerResult(sums[1], 255)) << 16 |
                                uint32_t(IntegerResult(sums[2], 255)) << 8 |
                                uint32_t(IntegerResult(sums[3], 255));
          std::memcpy(out, &word, 4);
          break;
        }
        case kTiledGreyFloat:
        case kTiledRgbaFloat: {
          float s[4];
          for (int i = 0; i < bpp / 4; ++i) s[i] = FloatResult(floatSums[i]);
          std::memcpy(out, s, size_t(bpp));
          break;
        }
        default: {
          // Formats 1 and 4 are 15-bit (32768 = 1.0); the plain 16-bit channels of
          // formats 2 and 7 may use the whole range.
          const int32_t ceiling = format == kTiledGrey16 || format == kTiledRgba16 ? 32768 : 65535;
          uint16_t s[4];
          for (int i = 0; i < bpp / 2; ++i) s[i] = uint16_t(IntegerResult(sums[i], ceiling));
          std::memcpy(out, s, size_t(bpp));
          break;
        }
      }
    }
  }
}

// The integer RGBA formats (3 and 4) take a separable route. The weights are
// (a x a) / 16 with a = 1 16 64 64 16 1, less the four corner cells (where a x a is 1):
// sum = (S - corners) / 16 with S the separable sum, exact in integers (S stays below
// 2^31 for 16-bit samples). Rows of horizontal sums are kept in a ring of six, so each
// source row is read once per destination row pair.
constexpr int32_t kReduceTaps[6] = {1, 16, 64, 64, 16, 1};
constexpr int32_t kReduceSpan = 128;  // destination columns per pass

struct Rgba8Samples {
  static void Load(const uint8_t* p, int32_t s[4]) {
    uint32_t word;
    std::memcpy(&word, p, 4);
    s[0] = int32_t(word >> 24);
    s[1] = int32_t((word >> 16) & 255);
    s[2] = int32_t((word >> 8) & 255);
    s[3] = int32_t(word & 255);
  }
  static void Store(uint8_t* p, const int32_t s[4]) {
    const uint32_t word = uint32_t(s[0]) << 24 | uint32_t(s[1]) << 16 | uint32_t(s[2]) << 8 |
                          uint32_t(s[3]);
    std::memcpy(p, &word, 4);
  }
};

struct Rgba16Samples {
  static void Load(const uint8_t* p, int32_t s[4]) {
    uint16_t v[4];
    std::memcpy(v, p, 8);
    for (int i = 0; i < 4; ++i) s[i] = v[i];
  }
  static void Store(uint8_t* p, const int32_t s[4]) {
    const uint16_t v[4] = {uint16_t(s[0]), uint16_t(s[1]), uint16_t(s[2]), uint16_t(s[3])};
    std::memcpy(p, v, 8);
  }
};

// Horizontal sums of one source row for destination columns x0 .. x0 + count - 1: the
// weighted sum of columns 2x - 2 .. 2x + 3 and the sum of the two outer columns.
struct ReduceRowSums {
  int32_t weighted[kReduceSpan][4];
  int32_t outer[kReduceSpan][4];
};

template <class Px>
void SumSourceRow(const TiledImage* image, int32_t source, int32_t sy, int32_t x0, int32_t count,
                  ReduceRowSums* sums) {
  const TiledLevel& from = image->levels[source];
  const int32_t rowTile = from.firstTile + (sy / kImageTileSide) * from.tilesPerRow;
  const int64_t rowOffset = int64_t(sy % kImageTileSide) * kImageTileSide;
  // Source columns 2 x0 - 2 .. 2 (x0 + count) + 1, limited to the level.
  int32_t pixels[2 * kReduceSpan + 4][4];
  const int32_t first = 2 * x0 - 2;
  const int32_t columns = 2 * count + 4;
  for (int32_t i = 0; i < columns; ++i) {
    const int32_t sx = Clamp(first + i, 0, from.lastX);
    const uint8_t* p = static_cast<const uint8_t*>(
                           image->tiles[rowTile + sx / kImageTileSide].buffer.memory) +
                       (rowOffset + sx % kImageTileSide) * image->bytesPerPixel;
    Px::Load(p, pixels[i]);
  }
  for (int32_t j = 0; j < count; ++j) {
    const int32_t(*w)[4] = pixels + 2 * j;
    for (int ch = 0; ch < 4; ++ch) {
      sums->weighted[j][ch] = w[0][ch] + 16 * w[1][ch] + 64 * w[2][ch] + 64 * w[3][ch] +
                              16 * w[4][ch] + w[5][ch];
      sums->outer[j][ch] = w[0][ch] + w[5][ch];
    }
  }
}

template <class Px>
void ReduceRectSeparable(const TiledImage* image, int32_t source, const VRect& rect,
                         int32_t ceiling) {
  const TiledLevel& from = image->levels[source];
  ReduceRowSums ring[6];
  for (int32_t x0 = rect.left; x0 < rect.right; x0 += kReduceSpan) {
    const int32_t count = rect.right - x0 < kReduceSpan ? rect.right - x0 : kReduceSpan;
    // Ring slot of unclamped source row r: (r - firstRow) mod 6.
    const int32_t firstRow = 2 * rect.top - 2;
    int32_t rowsDone = 0;  // rows firstRow .. firstRow + rowsDone - 1 are in the ring
    for (int32_t y = rect.top; y < rect.bottom; ++y) {
      const int32_t wanted = 2 * y + 4 - firstRow;  // rows up to 2y + 3
      for (; rowsDone < wanted; ++rowsDone)
        SumSourceRow<Px>(image, source, Clamp(firstRow + rowsDone, 0, from.lastY), x0, count,
                         &ring[rowsDone % 6]);
      const int32_t base = 2 * y - 2 - firstRow;
      const ReduceRowSums* rows[6];
      for (int r = 0; r < 6; ++r) rows[r] = &ring[(base + r) % 6];
      uint8_t* out = TiledPixelAt(image, source + 1, x0, y);
      for (int32_t j = 0; j < count; ++j) {
        // Destination pixels of one run of columns may cross into the next tile.
        if (j > 0 && (x0 + j) % kImageTileSide == 0) out = TiledPixelAt(image, source + 1, x0 + j, y);
        int32_t result[4];
        for (int ch = 0; ch < 4; ++ch) {
          int32_t total = 0;
          for (int r = 0; r < 6; ++r) total += kReduceTaps[r] * rows[r]->weighted[j][ch];
          const int32_t sum = (total - rows[0]->outer[j][ch] - rows[5]->outer[j][ch]) / 16;
          result[ch] = IntegerResult(sum, ceiling);
        }
        Px::Store(out, result);
        out += image->bytesPerPixel;
      }
    }
  }
}

// A worker: reduces the job's rectangle of level k + 1 from level k.
void RunPyramidJob(RenderJob* job) {
  const TiledImage* image = static_cast<const TiledImage*>(job->params.sourceImage);
  const int32_t source = job->params.level;
  if (!image || source < 0 || source + 1 > image->highestLevel) return;
  const TiledLevel& to = image->levels[source + 1];
  const VRect& area = job->grid.workingRect;
  const VRect& r = job->grid.jobRect;
  VRect rect = {area.top + r.top, area.left + r.left, area.top + r.bottom, area.left + r.right};
  rect.top = rect.top < 0 ? 0 : rect.top;
  rect.left = rect.left < 0 ? 0 : rect.left;
  rect.bottom = rect.bottom > to.height ? to.height : rect.bottom;
  rect.right = rect.right > to.width ? to.width : rect.right;
  if (image->format == kTiledRgba8)
    ReduceRectSeparable<Rgba8Samples>(image, source, rect, 255);
  else if (image->format == kTiledRgba16)
    ReduceRectSeparable<Rgba16Samples>(image, source, rect, 32768);
  else
    ReduceRect(image, source, rect);
}

void CountPyramidJob(RenderJob*) { ++gPyramidJobsFinished; }

const JobKindOps kPyramidOps = {nullptr, RunPyramidJob, CountPyramidJob};

}  // namespace

bool BuildPyramid(TiledImage* image) {
  if (!image || !image->valid) return false;
  if (image->pyramidRequest == kTiledNoPyramid) return true;
  for (int32_t k = 0; k < image->highestLevel; ++k) {
    const TiledLevel& to = image->levels[k + 1];
    JobParams params = DefaultJobParams();
    params.sourceImage = image;
    params.level = k;  // the source level; the jobs make level k + 1
    params.levelRect = {0, 0, to.height, to.width};
    gPyramidJobsFinished = 0;
    RunJobs(kJobKindPyramid, params, params.levelRect, kPyramidOps, image->state);
    // The pool skips the finish step of jobs it cancelled or could not start.
    if (PoolWasCancelled() ||
        gPyramidJobsFinished != MakeJobGrid(params.levelRect, kJobTileSize).total)
      return false;
  }
  image->loadState = kTiledAllLevelsBuilt;
  return true;
}
