// Tiled images: level sizes, tile layout, creation failure, the pyramid's reduction
// against a plain reference (also with one worker and with several: run under
// ThreadSanitizer too) and loading level 0 from a host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "glue/image_sampling.h"
#include "host/plugin_globals.h"
#include "host/state_record.h"
#include "render/render_driver.h"
#include "render/tiled_image.h"
#include "render/worker_pool.h"
#include "settings/settings_record.h"

namespace {

// ---- a host that hands out buffers, counts them and can run out ------------------------

int gLiveBuffers = 0;
int gAllocationsLeft = -1;  // -1: unlimited
OSErr HOSTCALL AllocateBuffer(int32_t size, BufferID* id) {
  if (gAllocationsLeft == 0) return memFullErr;
  if (gAllocationsLeft > 0) --gAllocationsLeft;
  void* p = std::malloc(size_t(size) + 1);
  std::memset(p, 0xA5, size_t(size));  // host buffers are not cleared
  *id = p;
  ++gLiveBuffers;
  return noErr;
}
Ptr HOSTCALL LockBuffer(BufferID id, HostBoolean) { return static_cast<Ptr>(id); }
void HOSTCALL UnlockBuffer(BufferID) {}
void HOSTCALL FreeBuffer(BufferID id) {
  std::free(id);
  --gLiveBuffers;
}
int32_t HOSTCALL BufferSpace() { return 1 << 30; }

struct TiledImageTest : ::testing::Test {
  void SetUp() override {
    std::memset(&record, 0, sizeof record);
    bufferProcs = {kCurrentBufferProcsVersion,
                   6,
                   AllocateBuffer,
                   LockBuffer,
                   UnlockBuffer,
                   FreeBuffer,
                   BufferSpace,
                   nullptr,
                   nullptr,
                   nullptr};
    gFilterRecord = &record;
    gResult = &result;
    gLiveBuffers = 0;
    gAllocationsLeft = -1;
  }
  void TearDown() override {
    FreeTiledImage(&image);
    TiledImageFailAllocationsAfter(-1);
    PoolSetWorkerLimit(0);
    gFilterRecord = nullptr;
    gResult = nullptr;
  }
  FilterRecord record;
  BufferProcs bufferProcs;
  int16_t result = 0;
  TiledImage image{};
};

TEST(TiledLevels, SizesHalveUpToEvenAndEndAtOnePixel) {
  struct Case {
    int32_t w, h;
    std::vector<std::pair<int32_t, int32_t>> levels;
  };
  const Case cases[] = {
      {1000,
       600,
       {{1000, 600},
        {500, 300},
        {250, 150},
        {126, 76},
        {64, 38},
        {32, 20},
        {16, 10},
        {8, 6},
        {4, 4},
        {2, 2},
        {1, 1}}},
      {1, 1, {{1, 1}}},
      {1, 5, {{1, 5}, {1, 4}, {1, 2}, {1, 1}}},
      {5, 5, {{5, 5}, {4, 4}, {2, 2}, {1, 1}}},
      {7, 2, {{7, 2}, {4, 1}, {2, 1}, {1, 1}}},
      {3, 1, {{3, 1}, {2, 1}, {1, 1}}},
  };
  for (const Case& c : cases) {
    int32_t w[kTiledMaxLevels], h[kTiledMaxLevels];
    const int32_t highest = TiledLevelSizes(c.w, c.h, w, h);
    ASSERT_EQ(highest + 1, int32_t(c.levels.size())) << c.w << "x" << c.h;
    for (int k = 0; k <= highest; ++k) {
      EXPECT_EQ(w[k], c.levels[k].first) << c.w << "x" << c.h << " level " << k;
      EXPECT_EQ(h[k], c.levels[k].second) << c.w << "x" << c.h << " level " << k;
    }
    for (int k = highest + 1; k < kTiledMaxLevels; ++k) EXPECT_EQ(w[k] * h[k], 0);
  }
  // A side too long to reach one pixel in twenty levels stops at level 19.
  int32_t w[kTiledMaxLevels], h[kTiledMaxLevels];
  EXPECT_EQ(TiledLevelSizes(1 << 30, 3, w, h), 19);
}

TEST_F(TiledImageTest, TilesCoverEachLevelInRowMajorOrder) {
  ASSERT_TRUE(NewTiledImage(&image, 1300, 600, kTiledRgba8, 0));
  EXPECT_EQ(image.highestLevel, 11);
  EXPECT_EQ(image.highestLevelLess3, 8);
  const TiledLevel& l0 = image.levels[0];
  EXPECT_EQ(l0.tilesPerRow, 3);
  EXPECT_EQ(l0.firstTile, 0);
  EXPECT_EQ(l0.lastTile, 5);
  EXPECT_EQ(image.levels[1].firstTile, 6);  // 650 x 300: two tiles
  EXPECT_EQ(image.levels[1].lastTile, 7);
  EXPECT_EQ(image.levels[2].firstTile, 8);
  const ImageTile& last = image.tiles[5];
  EXPECT_EQ(last.top, 512);
  EXPECT_EQ(last.left, 1024);
  EXPECT_EQ(last.rows, 88);
  // Pixel (1299, 599) sits in the last tile at row 87, column 275.
  EXPECT_EQ(TiledPixelAt(&image, 0, 1299, 599),
            static_cast<uint8_t*>(last.buffer.memory) + (87 * 512 + 275) * 4);
  EXPECT_EQ(TiledPixelClamped(&image, 0, -2, -2), TiledPixelAt(&image, 0, 0, 0));
  EXPECT_EQ(TiledPixelClamped(&image, 0, 5000, 5000), TiledPixelAt(&image, 0, 1299, 599));
  EXPECT_EQ(TiledPixelForWrite(&image, 0, 1300, 0), nullptr);
  EXPECT_EQ(TiledPixelForWrite(&image, 12, 0, 0), nullptr);
  EXPECT_EQ(image.fullRange, 255.0f);
  EXPECT_FLOAT_EQ(image.aspectX, 1300.0f / 600.0f);
  EXPECT_EQ(image.aspectY, 1.0f);

  // Without a pyramid request only level 0 exists.
  ASSERT_TRUE(NewTiledImage(&image, 1300, 600, kTiledRgbaFloat, kTiledNoPyramid));
  EXPECT_EQ(image.highestLevel, 0);
  EXPECT_EQ(image.tileCount, 6);
  EXPECT_EQ(image.totalBytes, int64_t(512) * 600 * 3 * 16);
}

TEST_F(TiledImageTest, FailedCreationReleasesEverything) {
  EXPECT_FALSE(NewTiledImage(&image, 0, 10, kTiledRgba8, 0));
  EXPECT_FALSE(NewTiledImage(&image, 10, -1, kTiledRgba8, 0));
  EXPECT_FALSE(NewTiledImage(&image, 10, 10, 6, 0));  // no such format
  EXPECT_FALSE(image.valid);

  record.bufferProcs = &bufferProcs;
  ASSERT_TRUE(NewTiledImage(&image, 1300, 600, kTiledRgba16, 0));
  const int allocations = gLiveBuffers;  // the table and every tile
  EXPECT_EQ(allocations, image.tileCount + 1);
  // Host buffers arrive dirty; a new image reads as zeros.
  int32_t s[4];
  ReadSamples(&image, 0, 1299, 599, s);
  EXPECT_EQ(s[0] | s[1] | s[2] | s[3], 0);
  ReadSamples(&image, image.highestLevel, 0, 0, s);
  EXPECT_EQ(s[0] | s[1] | s[2] | s[3], 0);
  // Laying the record out again releases the old tiles first.
  ASSERT_TRUE(NewTiledImage(&image, 1300, 600, kTiledRgba16, 0));
  EXPECT_EQ(gLiveBuffers, allocations);

  // Memory runs out at every possible point: nothing stays allocated.
  for (int allowed = 0; allowed < allocations; ++allowed) {
    TiledImageFailAllocationsAfter(allowed);
    EXPECT_FALSE(NewTiledImage(&image, 1300, 600, kTiledRgba16, 0)) << allowed;
    EXPECT_EQ(gLiveBuffers, 0) << allowed;
    EXPECT_FALSE(image.valid);
    EXPECT_EQ(image.tiles, nullptr);
    EXPECT_EQ(image.tileCount, 0);
  }
  TiledImageFailAllocationsAfter(-1);
  // When the host runs out the tiles come from system memory, and each goes back to
  // where it came from.
  gAllocationsLeft = 3;
  ASSERT_TRUE(NewTiledImage(&image, 1300, 600, kTiledRgba16, 0));
  EXPECT_EQ(gLiveBuffers, 3);
  EXPECT_EQ(image.tiles[1].buffer.hostId, image.tiles[1].buffer.memory);
  EXPECT_EQ(image.tiles[2].buffer.hostId, nullptr);
  gAllocationsLeft = -1;
  FreeTiledImage(&image);
  FreeTiledImage(&image);  // a second release does nothing
  EXPECT_EQ(gLiveBuffers, 0);
}

// ---- the reduction against a plain reference -------------------------------------------

// A level held as four doubles per pixel.
struct PlainLevel {
  int32_t w = 0, h = 0;
  std::vector<double> px;
  double at(int32_t x, int32_t y, int ch) const {
    x = x < 0 ? 0 : x >= w ? w - 1 : x;
    y = y < 0 ? 0 : y >= h ? h - 1 : y;
    return px[(size_t(y) * w + x) * 4 + ch];
  }
};

PlainLevel PlainReduce(const PlainLevel& from, int32_t w, int32_t h, bool integer, double ceiling) {
  static const int kWeights[6][6] = {{0, 1, 4, 4, 1, 0},       {1, 16, 64, 64, 16, 1},
                                     {4, 64, 256, 256, 64, 4}, {4, 64, 256, 256, 64, 4},
                                     {1, 16, 64, 64, 16, 1},   {0, 1, 4, 4, 1, 0}};
  PlainLevel to;
  to.w = w;
  to.h = h;
  to.px.resize(size_t(w) * h * 4);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      for (int ch = 0; ch < 4; ++ch) {
        double sum = 0;
        for (int r = 0; r < 6; ++r)
          for (int c = 0; c < 6; ++c) {
            sum += kWeights[r][c] * from.at(2 * x - 2 + c, 2 * y - 2 + r, ch);
          }
        double v = integer ? std::floor(sum / 1630.0) : sum / 1640.0;
        v = v < 0 ? 0 : v > ceiling ? ceiling : v;
        to.px[(size_t(y) * w + x) * 4 + ch] = v;
      }
  return to;
}

PlainLevel ReadLevel(const TiledImage& image, int32_t level) {
  PlainLevel out;
  out.w = image.levels[level].width;
  out.h = image.levels[level].height;
  out.px.resize(size_t(out.w) * out.h * 4);
  for (int32_t y = 0; y < out.h; ++y)
    for (int32_t x = 0; x < out.w; ++x) {
      int32_t s[4];
      ReadSamples(&image, level, x, y, s);
      for (int ch = 0; ch < 4; ++ch) {
        float f;
        std::memcpy(&f, &s[ch], 4);
        out.px[(size_t(y) * out.w + x) * 4 + ch] =
            image.format == kTiledRgbaFloat || image.format == kTiledGreyFloat ? f : s[ch];
      }
    }
  return out;
}

void FillRandom(TiledImage* image, uint32_t seed) {
  std::mt19937 random(seed);
  const TiledLevel& l = image->levels[0];
  for (int32_t y = 0; y < l.height; ++y)
    for (int32_t x = 0; x < l.width; ++x) {
      int32_t s[4];
      for (int ch = 0; ch < 4; ++ch) {
        switch (image->format) {
          case kTiledGrey8:
          case kTiledRgba8:
            s[ch] = int32_t(random() % 256);
            break;
          case kTiledGrey16:
          case kTiledRgba16:
            s[ch] = int32_t(random() % 32769);
            break;
          default: {  // floats beyond 0..1 and below 0 too
            const float f = float(int32_t(random() % 3000) - 500) / 1000.0f;
            std::memcpy(&s[ch], &f, 4);
          }
        }
      }
      WriteSamples(image, 0, x, y, s[0], s[1], s[2], s[3]);
    }
}

TEST_F(TiledImageTest, ReductionMatchesAPlainReferenceOnEveryLevel) {
  struct Case {
    int32_t w, h, format;
  };
  // Odd sizes, single rows and columns, and one that crosses tile borders.
  const Case cases[] = {{1037, 531, kTiledRgba8},  {1037, 531, kTiledRgba16},
                        {613, 9, kTiledRgbaFloat}, {1, 7, kTiledGrey8},
                        {300, 1, kTiledGrey16},    {3, 2, kTiledGreyFloat}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " format " << c.format);
    ASSERT_TRUE(NewTiledImage(&image, c.w, c.h, c.format, 0));
    FillRandom(&image, uint32_t(c.w * 31 + c.format));
    ASSERT_TRUE(BuildPyramid(&image));
    EXPECT_EQ(image.loadState, kTiledAllLevelsBuilt);
    const bool integer = c.format != kTiledRgbaFloat && c.format != kTiledGreyFloat;
    const double ceiling = c.format == kTiledGrey8 || c.format == kTiledRgba8 ? 255
                           : integer                                          ? 32768
                                                                              : 65535;
    PlainLevel expected = ReadLevel(image, 0);
    for (int32_t k = 1; k <= image.highestLevel; ++k) {
      expected =
          PlainReduce(expected, image.levels[k].width, image.levels[k].height, integer, ceiling);
      const PlainLevel actual = ReadLevel(image, k);
      int wrong = 0;
      for (size_t i = 0; i < actual.px.size(); ++i) {
        const double tolerance = integer ? 0 : 1e-5 * (1 + std::fabs(expected.px[i]));
        if (std::fabs(actual.px[i] - expected.px[i]) > tolerance && wrong++ < 3)
          ADD_FAILURE() << "level " << k << " value " << i << ": " << actual.px[i] << " vs "
                        << expected.px[i];
      }
      expected = actual;  // float levels: go on from the image's own rounding
    }
  }
}

TEST_F(TiledImageTest, UniformLevelsKeepTheirValue) {
  struct Case {
    int32_t format;
    int32_t sample;  // float bits for the float formats
    int32_t expected;
  };
  const float one = 1.0f;
  int32_t oneBits;
  std::memcpy(&oneBits, &one, 4);
  const Case cases[] = {
      {kTiledRgba8, 255, 255},  // the gain of 1640/1630 is clamped
      {kTiledRgba8, 100, 100},  // 164000 / 1630 = 100.6
      {kTiledRgba16, 32768, 32768},
      {kTiledRgbaFloat, oneBits, oneBits},  // exactly 1.0
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(NewTiledImage(&image, 40, 30, c.format, 0));
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t x = 0; x < 40; ++x)
        WriteSamples(&image, 0, x, y, c.sample, c.sample, c.sample, c.sample);
    ASSERT_TRUE(BuildPyramid(&image));
    for (int32_t k = 1; k <= image.highestLevel; ++k) {
      int32_t s[4];
      ReadSamples(&image, k, image.levels[k].lastX, image.levels[k].lastY, s);
      EXPECT_EQ(s[0], c.expected) << c.format << " level " << k;
      EXPECT_EQ(s[3], c.expected) << c.format << " level " << k;
    }
  }
}

TEST_F(TiledImageTest, SinglePixelImageOnlyChangesTheLoadState) {
  ASSERT_TRUE(NewTiledImage(&image, 1, 1, kTiledRgba8, 0));
  EXPECT_EQ(image.highestLevel, 0);
  WriteSamples(&image, 0, 0, 0, 1, 2, 3, 4);
  EXPECT_TRUE(BuildPyramid(&image));
  EXPECT_EQ(image.loadState, kTiledAllLevelsBuilt);
  int32_t s[4];
  ReadSamples(&image, 0, 0, 0, s);
  EXPECT_EQ(s[3], 4);

  // An image without a pyramid request is left alone altogether.
  ASSERT_TRUE(NewTiledImage(&image, 50, 50, kTiledRgba8, kTiledNoPyramid));
  EXPECT_TRUE(BuildPyramid(&image));
  EXPECT_EQ(image.loadState, kTiledEmpty);
}

TEST_F(TiledImageTest, PyramidIsTheSameWithOneWorkerAndWithMany) {
  TiledImage other{};
  ASSERT_TRUE(NewTiledImage(&image, 1100, 700, kTiledRgba16, 0));
  ASSERT_TRUE(NewTiledImage(&other, 1100, 700, kTiledRgba16, 0));
  FillRandom(&image, 7);
  FillRandom(&other, 7);
  PoolSetWorkerLimit(1);
  ASSERT_TRUE(BuildPyramid(&image));
  PoolSetWorkerLimit(0);
  ASSERT_TRUE(BuildPyramid(&other));
  ASSERT_EQ(image.tileCount, other.tileCount);
  for (int32_t t = 0; t < image.tileCount; ++t) {
    const size_t bytes = size_t(512) * image.tiles[t].rows * image.bytesPerPixel;
    EXPECT_EQ(std::memcmp(image.tiles[t].buffer.memory, other.tiles[t].buffer.memory, bytes), 0)
        << "tile " << t;
  }
  FreeTiledImage(&other);
}

TEST_F(TiledImageTest, BuildStopsWhenThePoolRunsOutOfMemory) {
  ASSERT_TRUE(NewTiledImage(&image, 300, 300, kTiledRgba8, 0));
  PoolFailNextStarts(1000);
  EXPECT_FALSE(BuildPyramid(&image));
  PoolFailNextStarts(0);
  EXPECT_NE(image.loadState, kTiledAllLevelsBuilt);
  EXPECT_EQ(result, memFullErr);
}

// ---- loading from a host ---------------------------------------------------------------

// The host's document, served with edge replication for any requested rectangle.
struct HostDocument {
  int32_t width = 0, height = 0, planes = 0, sampleBytes = 0;
  int calls = 0;
  int failOnCall = -1;
  std::vector<VRect> requests;
  std::vector<VRect> outRects;
  std::vector<Fixed> rates;
  std::vector<uint8_t> served;
  uint32_t Sample(int32_t x, int32_t y, int p) const {
    return uint32_t(x * 7 + y * 13 + p * 50 + (x * y) % 11);
  }
};
HostDocument gDocument;

OSErr HOSTCALL ServeRegion() {
  FilterRecord* r = gFilterRecord;
  ++gDocument.calls;
  if (gDocument.calls == gDocument.failOnCall) return -36;
  const VRect in = {r->inRect.top, r->inRect.left, r->inRect.bottom, r->inRect.right};
  gDocument.requests.push_back(in);
  gDocument.outRects.push_back(
      {r->outRect.top, r->outRect.left, r->outRect.bottom, r->outRect.right});
  gDocument.rates.push_back(r->inputRate);
  const int32_t w = in.right - in.left, h = in.bottom - in.top;
  const int32_t pixelBytes = gDocument.planes * gDocument.sampleBytes;
  gDocument.served.assign(size_t(w) * h * pixelBytes, 0);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const int32_t dx = std::min(std::max(in.left + x, 0), gDocument.width - 1);
      const int32_t dy = std::min(std::max(in.top + y, 0), gDocument.height - 1);
      uint8_t* p = &gDocument.served[(size_t(y) * w + x) * pixelBytes];
      for (int plane = 0; plane < gDocument.planes; ++plane) {
        const uint32_t v = gDocument.Sample(dx, dy, plane);
        if (gDocument.sampleBytes == 1) {
          p[plane] = uint8_t(v);
        } else if (gDocument.sampleBytes == 2) {
          const uint16_t s = uint16_t(v * 9 % 32769);
          std::memcpy(p + 2 * plane, &s, 2);
        } else {
          const float f = float(v % 1000) / 500.0f;
          std::memcpy(p + 4 * plane, &f, 4);
        }
      }
    }
  r->inData = gDocument.served.data();
  r->inRowBytes = w * pixelBytes;
  return noErr;
}

OSErr HOSTCALL IgnorePixels(const PSPixelMap*, const VRect*, int32_t, int32_t, intptr_t) {
  return noErr;
}

struct LoadTest : TiledImageTest {
  void SetUp() override {
    TiledImageTest::SetUp();
    state.reset(new StateRecord());
    std::memset(&settings, 0, sizeof settings);
    gSettings = &settings;
    gState = state.get();
    record.advanceState = ServeRegion;
    record.displayPixels = IgnorePixels;  // so the view keeps its scale
    record.samplingSupport = 1;
    record.filterRect = {4, 9, 4 + 530, 9 + 600};
    record.inRect = {1, 2, 3, 4};
    record.outRect = {5, 6, 7, 8};
    record.maskRect = {9, 10, 11, 12};
    record.inputRate = 3 << 16;
    settings.previewScale = 3;
    settings.panX = 30;
    settings.panY = 12;
    gWorkingRect = {1, 1, 2, 2};
    gDocument = HostDocument();
    gDocument.width = 700;
    gDocument.height = 560;
  }
  void TearDown() override {
    TiledImageTest::TearDown();
    gSettings = nullptr;
    gState = nullptr;
  }
  void ExpectHostPutBack() {
    EXPECT_EQ(record.inRect.left, 2);
    EXPECT_EQ(record.outRect.bottom, 7);
    EXPECT_EQ(record.maskRect.right, 12);
    EXPECT_EQ(record.inputRate, 3 << 16);
    EXPECT_EQ(settings.previewScale, 3);
    EXPECT_EQ(settings.panX, 30);
    EXPECT_EQ(settings.panY, 12);
    EXPECT_EQ(gWorkingRect.bottom, 2);
  }
  std::unique_ptr<StateRecord> state;
  SettingsRecord settings;
};

TEST_F(LoadTest, LevelZeroHoldsTheFilteredAreaInEveryDepth) {
  struct Case {
    int16_t mode, depth, planes, sampleBytes, filterCase;
    int32_t format;
  };
  const Case cases[] = {
      {plugInModeRGBColor, 8, 4, 1, filterCaseEditableTransparencyNoSelection, kTiledRgba8},
      {plugInModeGray16, 16, 1, 2, filterCaseFlatImageNoSelection, kTiledRgba16},
      {plugInModeRGB96, 32, 3, 4, filterCaseFlatImageWithSelection, kTiledRgbaFloat},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode);
    record.imageMode = c.mode;
    record.depth = c.depth;
    record.planes = c.planes;
    record.inLayerPlanes = 3;
    record.filterCase = c.filterCase;
    gDocument.planes = c.planes;
    gDocument.sampleBytes = c.sampleBytes;
    gDocument.calls = 0;
    gDocument.requests.clear();
    gDocument.outRects.clear();
    gDocument.rates.clear();
    ASSERT_TRUE(NewTiledImage(&image, 600, 530, c.format, 0));
    EXPECT_EQ(LoadFromHost(&image), noErr);
    EXPECT_EQ(image.loadState, kTiledLevel0Loaded);
    // One request per tile, at full size and without the pan, output cut to a corner.
    ASSERT_EQ(gDocument.requests.size(), 4u);
    EXPECT_EQ(gDocument.requests[3].top, 4 + 512);
    EXPECT_EQ(gDocument.requests[3].left, 9 + 512);
    EXPECT_EQ(gDocument.requests[3].bottom, 4 + 530);
    EXPECT_EQ(gDocument.requests[3].right, 9 + 1024);
    EXPECT_EQ(gDocument.outRects[1].top, 4);
    EXPECT_EQ(gDocument.outRects[1].right, 10);
    EXPECT_EQ(gDocument.rates[0], 1 << 16);
    ExpectHostPutBack();

    for (int32_t y : {0, 1, 511, 512, 529})
      for (int32_t x : {0, 3, 511, 512, 599}) {
        const Colour got = ReadColour(&image, 0, x, y);
        const Colour want = [&] {
          const int32_t dx = 9 + x, dy = 4 + y;
          if (c.sampleBytes == 1)
            return Colour{float(uint8_t(gDocument.Sample(dx, dy, 0))) / 255.0f,
                          float(uint8_t(gDocument.Sample(dx, dy, 1))) / 255.0f,
                          float(uint8_t(gDocument.Sample(dx, dy, 2))) / 255.0f,
                          float(uint8_t(gDocument.Sample(dx, dy, 3))) / 255.0f};
          if (c.sampleBytes == 2) {
            const float g = float(gDocument.Sample(dx, dy, 0) * 9 % 32769) / 32768.0f;
            return Colour{g, g, g, 1.0f};
          }
          return Colour{float(gDocument.Sample(dx, dy, 0) % 1000) / 500.0f,
                        float(gDocument.Sample(dx, dy, 1) % 1000) / 500.0f,
                        float(gDocument.Sample(dx, dy, 2) % 1000) / 500.0f, 1.0f};
        }();
        EXPECT_FLOAT_EQ(got.red, want.red) << x << "," << y;
        EXPECT_FLOAT_EQ(got.green, want.green) << x << "," << y;
        EXPECT_FLOAT_EQ(got.blue, want.blue) << x << "," << y;
        EXPECT_FLOAT_EQ(got.alpha, want.alpha) << x << "," << y;
      }
  }
}

TEST_F(LoadTest, HostErrorStopsTheLoadAndPutsTheHostBack) {
  record.imageMode = plugInModeRGBColor;
  record.depth = 8;
  record.planes = 3;
  gDocument.planes = 3;
  gDocument.sampleBytes = 1;
  gDocument.failOnCall = 3;
  ASSERT_TRUE(NewTiledImage(&image, 600, 530, kTiledRgba8, 0));
  EXPECT_EQ(LoadFromHost(&image), -36);
  EXPECT_EQ(result, -36);
  EXPECT_EQ(gDocument.calls, 3);
  EXPECT_EQ(image.loadState, kTiledEmpty);
  ExpectHostPutBack();
  // The tiles before the failure were filled, the rest not.
  int32_t s[4];
  ReadSamples(&image, 0, 5, 5, s);
  EXPECT_EQ(s[0], int32_t(uint8_t(gDocument.Sample(9 + 5, 4 + 5, 0))));
  ReadSamples(&image, 0, 5, 520, s);
  EXPECT_EQ(s[0] | s[1] | s[2] | s[3], 0);
}

TEST_F(LoadTest, ImageOfAnotherDepthKeepsItsPixels) {
  record.imageMode = plugInModeRGBColor;
  record.depth = 8;
  record.planes = 3;
  gDocument.planes = 3;
  gDocument.sampleBytes = 1;
  ASSERT_TRUE(NewTiledImage(&image, 20, 20, kTiledRgba16, 0));
  EXPECT_EQ(LoadFromHost(&image), noErr);
  int32_t s[4];
  ReadSamples(&image, 0, 10, 10, s);
  EXPECT_EQ(s[0] | s[1] | s[2] | s[3], 0);
}

}  // namespace
