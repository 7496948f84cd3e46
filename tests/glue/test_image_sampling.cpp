// Sampling tiled images: the kernel's weights, the windowed-sinc sampler against a plain
// reference (inside tiles, across tile borders and at the edges), sampling between
// levels, resampling, copying between formats and the bilinear / trilinear samplers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "glue/image_sampling.h"
#include "render/tiled_image.h"

namespace {

struct SamplingTest : ::testing::Test {
  void TearDown() override {
    FreeTiledImage(&image);
    FreeTiledImage(&other);
  }
  void Fill(TiledImage* target, int32_t level, int32_t s0, int32_t s1, int32_t s2, int32_t s3) {
    const TiledLevel& l = target->levels[level];
    for (int32_t y = 0; y < l.height; ++y)
      for (int32_t x = 0; x < l.width; ++x) WriteSamples(target, level, x, y, s0, s1, s2, s3);
  }
  void FillRandom(TiledImage* target, uint32_t seed, int32_t range) {
    std::mt19937 random(seed);
    const TiledLevel& l = target->levels[0];
    for (int32_t y = 0; y < l.height; ++y)
      for (int32_t x = 0; x < l.width; ++x)
        WriteSamples(target, 0, x, y, int32_t(random() % range), int32_t(random() % range),
                     int32_t(random() % range), int32_t(random() % range));
  }
  TiledImage image{};
  TiledImage other{};
};

TEST(SincKernel, WeightsSumExactlyAndMatchKnownPhases) {
  const SincKernel& k = SincKernelTables();
  for (int i = 0; i < kSincPhases; ++i) {
    int32_t g = 0, h = 0;
    float f = 0;
    for (int tap = 0; tap < kSincTaps; ++tap) {
      g += k.g[i][tap];
      h += k.h[i][tap];
      f += k.f[i][tap];
    }
    EXPECT_EQ(g, 2048) << i;
    EXPECT_EQ(h, 32768) << i;
    EXPECT_NEAR(f, 1.0f, 1e-6f) << i;
  }
  // Weights of pixels gx - 2 .. gx + 2, which take taps 4 .. 0.
  const int32_t onPixel[5] = {-15, 115, 1737, 238, -27};
  const int32_t halfway[5] = {-92, 1018, 1217, -95, 0};
  for (int c = 0; c < 5; ++c) {
    EXPECT_EQ(k.g[64][4 - c], onPixel[c]) << c;
    EXPECT_EQ(k.g[0][4 - c], halfway[c]) << c;
  }
  EXPECT_EQ(LanczosWindow2(0.0f), 1.0);
  EXPECT_EQ(LanczosWindow2(2.0f), 0.0);
  EXPECT_EQ(LanczosWindow2(-2.5f), 0.0);
  EXPECT_NEAR(LanczosWindow2(1.0f), 0.0, 1e-8);
}

TEST_F(SamplingTest, PixelAccessByFormat) {
  // Grey 8-bit 51 reads as 0.2 with an opaque alpha.
  ASSERT_TRUE(NewTiledImage(&image, 3, 2, kTiledGrey8, 0));
  WriteSamples(&image, 0, 1, 1, 51, 0, 0, 0);
  const Colour grey = ReadColour(&image, 0, 1, 1);
  EXPECT_FLOAT_EQ(grey.red, 0.2f);
  EXPECT_FLOAT_EQ(grey.blue, 0.2f);
  EXPECT_EQ(grey.alpha, 1.0f);
  WriteColour(&image, 0, 0, 0, {1, 1, 1, 1});  // grey formats take no colours
  EXPECT_EQ(ReadColour(&image, 0, 0, 0).red, 0.0f);

  // Format 3 packs red high; writes truncate and limit; (-2, -2) reads (0, 0).
  ASSERT_TRUE(NewTiledImage(&image, 3, 2, kTiledRgba8, 0));
  WriteColour(&image, 0, 0, 0, {0.5f, 1.5f, -0.25f, 0.999f});
  uint32_t word;
  std::memcpy(&word, TiledPixelAt(&image, 0, 0, 0), 4);
  EXPECT_EQ(word, 127u << 24 | 255u << 16 | 0u << 8 | 254u);
  int32_t s[4];
  ReadSamples(&image, 0, -2, -2, s);
  EXPECT_EQ(s[0], 127);
  EXPECT_EQ(s[3], 254);
  WriteSamples(&image, 0, 3, 0, 9, 9, 9, 9);  // outside: nothing happens
  ReadSamples(&image, 0, 2, 0, s);
  EXPECT_EQ(s[0], 0);

  ASSERT_TRUE(NewTiledImage(&image, 3, 2, kTiledRgba16, 0));
  WriteColour(&image, 0, 2, 1, {0.25f, 0.5f, 1.0f, 0.0f});
  ReadSamples(&image, 0, 9, 9, s);
  EXPECT_EQ(s[0], 8192);
  EXPECT_EQ(s[2], 32768);

  ASSERT_TRUE(NewTiledImage(&image, 3, 2, kTiledRgbaFloat, 0));
  WriteColour(&image, 0, 1, 0, {2.5f, -1.0f, 0.125f, 0.5f});
  const Colour c = ReadColour(&image, 0, 1, 0);
  EXPECT_EQ(c.red, 2.5f);
  EXPECT_EQ(c.green, -1.0f);
  EXPECT_EQ(c.alpha, 0.5f);
}

TEST_F(SamplingTest, UniformLevelSamplesToItsValueEverywhere) {
  struct Case {
    int32_t format;
    int32_t sample;
    float expected;
  };
  const float quarter = 0.25f;
  int32_t quarterBits;
  std::memcpy(&quarterBits, &quarter, 4);
  const Case cases[] = {{kTiledGrey8, 77, 77},
                        {kTiledGrey16, 12345, 12345},
                        {kTiledRgba8, 200, 200},
                        {kTiledRgba16, 30000, 30000},
                        {kTiledRgbaFloat, quarterBits, 0.25f}};
  for (const Case& c : cases) {
    // Wide enough for two tile borders.
    ASSERT_TRUE(NewTiledImage(&image, 1100, 40, c.format, kTiledNoPyramid));
    Fill(&image, 0, c.sample, c.sample, c.sample, c.sample);
    for (float px : {-3.0f, -0.5f, 0.0f, 0.3f, 509.9f, 511.5f, 512.25f, 1023.7f, 1099.0f, 1200.0f})
      for (float py : {-0.5f, 2.6f, 39.0f}) {
        const SampleValues v = SampleLevel(&image, 0, px, py);
        const float tolerance = c.format == kTiledRgbaFloat ? 1e-6f : 0.0f;
        EXPECT_NEAR(v.v[0], c.expected, tolerance) << c.format << " at " << px << "," << py;
        EXPECT_NEAR(v.v[2], c.expected, tolerance) << c.format << " at " << px << "," << py;
      }
  }
}

// The sampler written out plainly: clamped reads of the 5 x 5 window, taps reversed.
double PlainSample(const TiledImage& image, float px, float py, int ch) {
  const SincKernel& k = SincKernelTables();
  const int32_t gx = int32_t(px + 0.5f), gy = int32_t(py + 0.5f);
  const int32_t phx = int32_t((px + 0.5f - float(gx)) * 128.0f);
  const int32_t phy = int32_t((py + 0.5f - float(gy)) * 128.0f);
  int64_t total = 0;
  for (int r = 0; r < 5; ++r) {
    int64_t row = 0;
    for (int c = 0; c < 5; ++c) {
      int32_t s[4];
      ReadSamples(&image, 0, gx - 2 + c, gy - 2 + r, s);
      row += int64_t(k.g[phx][4 - c]) * s[ch];
    }
    total += k.g[phy][4 - r] * row;
  }
  return double(total) / 4194304.0;
}

TEST_F(SamplingTest, SamplerMatchesAPlainReferenceAcrossTileBorders) {
  ASSERT_TRUE(NewTiledImage(&image, 530, 520, kTiledRgba8, kTiledNoPyramid));
  FillRandom(&image, 3, 256);
  std::mt19937 random(11);
  std::uniform_real_distribution<float> near(-0.5f, 4.0f);
  for (int i = 0; i < 400; ++i) {
    // Around both edges and the tile border at 512, and anywhere.
    const float bases[] = {0.0f, 508.0f, 525.0f, float(random() % 500)};
    const float px = bases[random() % 4] + near(random);
    const float py = bases[random() % 4] + near(random);
    const SampleValues v = SampleLevel(&image, 0, px, py);
    for (int ch = 0; ch < 4; ++ch)
      ASSERT_EQ(double(v.v[ch]), double(float(PlainSample(image, px, py, ch))))
          << px << "," << py << " channel " << ch;
  }
  // An impulse shows the reversed taps: the pixel right of the position gets tap 1.
  ASSERT_TRUE(NewTiledImage(&image, 30, 30, kTiledGrey8, kTiledNoPyramid));
  WriteSamples(&image, 0, 11, 10, 255, 0, 0, 0);
  const SampleValues v = SampleLevel(&image, 0, 10.0f, 10.0f);
  EXPECT_FLOAT_EQ(v.v[0], 255.0f * 238 * 1737 / 4194304.0f);
  EXPECT_EQ(v.v[3], 255.0f);
}

TEST_F(SamplingTest, SamplingBetweenLevels) {
  ASSERT_TRUE(NewTiledImage(&image, 64, 48, kTiledRgba16, 0));
  FillRandom(&image, 5, 32769);
  ASSERT_TRUE(BuildPyramid(&image));
  const float u = 0.37f, v = 0.61f;
  const SampleValues level0 = SampleImage(&image, 0, 0.0f, u, v);
  const SampleValues level1 = SampleImage(&image, 1, 0.0f, u, v);
  const SampleValues blend = SampleImage(&image, 0, 0.25f, u, v);
  for (int ch = 0; ch < 4; ++ch)
    EXPECT_EQ(blend.v[ch], level0.v[ch] + 0.25f * (level1.v[ch] - level0.v[ch]));
  const Colour colour = SampleColour(&image, 0, 0.25f, u, v);
  EXPECT_EQ(colour.green, blend.v[1] * (1.0f / 32768.0f));

  // With f = 0 only one level is read: spoiling level 1 changes nothing.
  Fill(&image, 1, 1, 2, 3, 4);
  const SampleValues again = SampleImage(&image, 0, 0.0f, u, v);
  EXPECT_EQ(std::memcmp(&again, &level0, sizeof again), 0);

  // A level at or past the highest samples the one below it.
  const int32_t top = image.highestLevel;
  const SampleValues below = SampleImage(&image, top - 1, 0.5f, u, v);
  for (int32_t level : {top, top + 5}) {
    const SampleValues s = SampleImage(&image, level, 0.5f, u, v);
    EXPECT_EQ(std::memcmp(&s, &below, sizeof s), 0) << level;
  }
  // A single-pixel image has nothing to blend with.
  ASSERT_TRUE(NewTiledImage(&other, 1, 1, kTiledRgba8, 0));
  WriteSamples(&other, 0, 0, 0, 10, 20, 30, 40);
  EXPECT_EQ(SampleImage(&other, 3, 0.5f, 0.5f, 0.5f).v[1], 20.0f);
  // Formats the sampler does not know give zeros.
  ASSERT_TRUE(NewTiledImage(&other, 4, 4, kTiledGreyFloat, 0));
  EXPECT_EQ(SampleImage(&other, 0, 0.0f, 0.5f, 0.5f).v[3], 0.0f);
}

TEST_F(SamplingTest, ResamplingOntoTheSameSizeUsesLevelZero) {
  ASSERT_TRUE(NewTiledImage(&image, 40, 30, kTiledRgba8, 0));
  FillRandom(&image, 9, 256);
  ASSERT_TRUE(BuildPyramid(&image));
  ASSERT_TRUE(NewTiledImage(&other, 40, 30, kTiledRgba8, 0));
  TiledImage spoiled{};
  ASSERT_TRUE(NewTiledImage(&spoiled, 40, 30, kTiledRgba8, 0));
  ResampleImage(&image, &other, {0, 0, 30, 40}, {0, 0, 30, 40}, 0.0f);
  EXPECT_EQ(other.loadState, kTiledAllLevelsBuilt);
  // Every target pixel is the level-0 sample at its centre.
  for (int32_t y : {0, 13, 29})
    for (int32_t x : {0, 21, 39}) {
      Colour c = SampleColour(&image, 0, 0.0f, float(2 * x + 1) / 80.0f, float(2 * y + 1) / 60.0f);
      const int32_t red = int32_t(std::min(std::max(c.red, 0.0f), 1.0f) * 255.0f);
      int32_t s[4];
      ReadSamples(&other, 0, x, y, s);
      EXPECT_EQ(s[0], red) << x << "," << y;
    }
  // Spoiling level 1 of the source changes nothing, with or without the bias.
  Fill(&image, 1, 255, 255, 255, 255);
  for (float bias : {0.0f, 0.5f}) {
    ResampleImage(&image, &spoiled, {0, 0, 30, 40}, {0, 0, 30, 40}, bias);
    for (int32_t t = 0; t <= other.levels[0].lastTile; ++t)
      EXPECT_EQ(std::memcmp(other.tiles[t].buffer.memory, spoiled.tiles[t].buffer.memory,
                            size_t(512) * other.tiles[t].rows * 4),
                0);
  }
  FreeTiledImage(&spoiled);
}

TEST_F(SamplingTest, ResamplingFillsOnlyTheTargetRectangle) {
  ASSERT_TRUE(NewTiledImage(&image, 128, 128, kTiledRgbaFloat, 0));
  float px[4] = {3.0f, 0.5f, 70000.0f, 2.0f};  // beyond the limits in both directions
  int32_t bits[4];
  std::memcpy(bits, px, 16);
  Fill(&image, 0, bits[0], bits[1], bits[2], bits[3]);
  ASSERT_TRUE(BuildPyramid(&image));
  ASSERT_TRUE(NewTiledImage(&other, 40, 40, kTiledRgbaFloat, 0));
  ResampleImage(&image, &other, {0, 0, 128, 128}, {10, 5, 26, 37}, 0.0f);  // 32 x 16
  const Colour inside = ReadColour(&other, 0, 5, 10);
  EXPECT_NEAR(inside.red, 3.0f, 1e-4f);
  EXPECT_NEAR(inside.green, 0.5f, 1e-4f);
  EXPECT_NEAR(inside.blue, 65535.0f, 0.01f);
  EXPECT_EQ(inside.alpha, 1.0f);
  EXPECT_EQ(ReadColour(&other, 0, 4, 10).red, 0.0f);
  EXPECT_EQ(ReadColour(&other, 0, 37, 25).red, 0.0f);
  EXPECT_EQ(ReadColour(&other, 0, 36, 26).red, 0.0f);
}

TEST_F(SamplingTest, CopyConvertsBetweenFormatsOfTheSameSize) {
  ASSERT_TRUE(NewTiledImage(&image, 5, 3, kTiledRgba8, 0));
  WriteSamples(&image, 0, 4, 2, 255, 51, 0, 128);
  ASSERT_TRUE(NewTiledImage(&other, 5, 3, kTiledRgba16, 0));
  CopyImage(&image, &other);
  int32_t s[4];
  ReadSamples(&other, 0, 4, 2, s);
  EXPECT_EQ(s[0], 32768);
  EXPECT_EQ(s[1], 6553);  // 0.2 * 32768, truncated
  EXPECT_EQ(s[3], int32_t(128.0f * (1.0f / 255.0f) * 32768.0f));
  EXPECT_EQ(other.loadState, kTiledAllLevelsBuilt);

  ASSERT_TRUE(NewTiledImage(&other, 5, 3, kTiledGrey8, 0));
  CopyImage(&image, &other);
  ReadSamples(&other, 0, 4, 2, s);
  const float green = 51.0f * (1.0f / 255.0f);
  EXPECT_EQ(s[0], int32_t((0.3f * 1.0f + 0.59f * green + 0.11f * 0.0f) * 255.0f));

  // Grey to RGBA repeats the grey with an opaque alpha; grey to grey keeps the value.
  TiledImage grey{};
  ASSERT_TRUE(NewTiledImage(&grey, 5, 3, kTiledGrey8, 0));
  for (int32_t v = 0; v < 15; ++v) WriteSamples(&grey, 0, v % 5, v / 5, v * 17, 0, 0, 0);
  CopyImage(&grey, &image);
  ReadSamples(&image, 0, 3, 2, s);
  EXPECT_EQ(s[0], 13 * 17);
  EXPECT_EQ(s[2], 13 * 17);
  EXPECT_EQ(s[3], 255);
  CopyImage(&grey, &other);
  for (int32_t v = 0; v < 15; ++v) {
    ReadSamples(&other, 0, v % 5, v / 5, s);
    EXPECT_EQ(s[0], v * 17);
  }
  FreeTiledImage(&grey);

  // Different sizes resample.
  ASSERT_TRUE(NewTiledImage(&image, 64, 64, kTiledRgba8, 0));
  Fill(&image, 0, 100, 100, 100, 255);
  ASSERT_TRUE(BuildPyramid(&image));
  ASSERT_TRUE(NewTiledImage(&other, 16, 8, kTiledRgba8, 0));
  CopyImage(&image, &other);
  ReadSamples(&other, 0, 15, 7, s);
  EXPECT_NEAR(s[0], 100, 1);
  EXPECT_EQ(other.loadState, kTiledAllLevelsBuilt);
}

TEST_F(SamplingTest, BilinearAndTrilinearTruncate) {
  ASSERT_TRUE(NewTiledImage(&image, 8, 8, kTiledRgba8, 0));
  Fill(&image, 0, 10, 10, 10, 10);
  WriteSamples(&image, 0, 1, 0, 21, 21, 21, 21);
  WriteSamples(&image, 0, 0, 1, 30, 30, 30, 30);
  int32_t out[4];
  SampleBilinear(&image, 0, 0.5f, 0.0f, out);
  EXPECT_EQ(out[0], 15);  // 15.5 truncated
  SampleBilinear(&image, 0, 0.0f, 0.5f, out);
  EXPECT_EQ(out[0], 20);
  SampleBilinear(&image, 0, 1.0f, 0.0f, out);
  EXPECT_EQ(out[0], 21);
  SampleBilinear(&image, 0, -7.0f, -0.5f, out);  // clamped to (0, 0)
  EXPECT_EQ(out[0], 10);
  SampleBilinear(&image, 0, 0.5f, 0.5f, out);  // (10 + 21 + 30 + 10) / 4 = 17.75
  EXPECT_EQ(out[0], 17);

  // Trilinear: level k at u * Wk - 0.5, blended toward k + 1 and truncated.
  Fill(&image, 1, 40, 40, 40, 40);
  Fill(&image, 2, 51, 51, 51, 51);
  SampleTrilinear(&image, 1, 0.0f, 0.3f, 0.3f, out);
  EXPECT_EQ(out[0], 40);
  SampleTrilinear(&image, 1, 0.5f, 0.3f, 0.3f, out);
  EXPECT_EQ(out[0], 45);  // 45.5
  // Past the second-highest level it samples from there.
  int32_t below[4];
  SampleTrilinear(&image, image.highestLevel - 1, 0.5f, 0.8f, 0.1f, below);
  SampleTrilinear(&image, image.highestLevel + 3, 0.5f, 0.8f, 0.1f, out);
  EXPECT_EQ(std::memcmp(out, below, sizeof out), 0);
  SampleTrilinear(&image, 0, 0.0f, 0.5f / 8.0f, 1.5f / 8.0f, out);  // pixel (0, 1)
  EXPECT_EQ(out[0], 30);
}

// Pins the exact bits of the kernel tables, a float pyramid, the samplers and a
// resample: the native, Windows x86 and x64 test binaries must all reach the same
// constant. When the math changes on purpose, take the new value from a native run.
TEST_F(SamplingTest, SameBitsOnEveryBuild) {
  uint64_t sum = 14695981039346656037ull;  // FNV-1a
  auto add = [&sum](const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) sum = (sum ^ p[i]) * 1099511628211ull;
  };
  uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return float(state >> 8) * (1.0f / 16777216.0f);
  };
  const SincKernel& kernel = SincKernelTables();
  add(&kernel, sizeof kernel);

  ASSERT_TRUE(NewTiledImage(&image, 97, 61, kTiledRgbaFloat, 0));
  ASSERT_TRUE(NewTiledImage(&other, 97, 61, kTiledRgba16, 0));
  for (int32_t y = 0; y < 61; ++y)
    for (int32_t x = 0; x < 97; ++x) {
      const Colour c = {next() * 1.5f, next(), next(), next()};
      WriteColour(&image, 0, x, y, c);
      WriteColour(&other, 0, x, y, c);
    }
  ASSERT_TRUE(BuildPyramid(&image));
  ASSERT_TRUE(BuildPyramid(&other));
  for (const TiledImage* source : {&image, &other}) {
    for (int32_t t = 0; t < source->tileCount; ++t)
      add(source->tiles[t].buffer.memory,
          size_t(kImageTileSide) * source->tiles[t].rows * source->bytesPerPixel);
    for (int i = 0; i < 300; ++i) {
      const float u = next() * 1.2f - 0.1f, v = next(), f = next();
      const Colour c = SampleColour(source, i % 7, f, u, v);
      add(&c, sizeof c);
      int32_t tri[4];
      SampleTrilinear(&other, i % 7, f, u, v, tri);
      add(tri, sizeof tri);
    }
  }
  TiledImage target{};
  ASSERT_TRUE(NewTiledImage(&target, 23, 17, kTiledRgba8, 0));
  ResampleImage(&image, &target, {0, 0, 61, 97}, {0, 0, 17, 23}, 0.5f);
  for (int32_t t = 0; t < target.tileCount; ++t)
    add(target.tiles[t].buffer.memory, size_t(kImageTileSide) * target.tiles[t].rows * 4);
  FreeTiledImage(&target);
  EXPECT_EQ(sum, 1681547593967512931ull);
}

}  // namespace
