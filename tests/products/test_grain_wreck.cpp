// Grain Wreck: the real module end to end through the test host (palettes, blocks,
// alpha, selection, float against 16-bit, the same pixels on every build), and the
// kernel's cached images from inside the plug-in (lazy rebuilds, unsharp mask, dither).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "filterhost/test_host.h"
#include "tests/support/test_support.h"
#include "glue/image_sampling.h"
#include "host/host_services.h"
#include "host/image_access.h"
#include "host/plugin_globals.h"
#include "host/state_record.h"
#include "products/product_hooks.h"
#include "render/render_driver.h"
#include "settings/random_draw.h"
#include "settings/settings_record.h"

namespace {

constexpr uint32_t K(const char (&s)[5]) { return FourCC(s); }

std::string ModulePath() { return ShippedModulePath(TALLOW_MODULE_DIR, false); }

// Smooth ramps with a sharp-edged square and a little noise: flat parts, edges and
// texture, odd sizes, distinct red and blue. Alpha varies where there is an alpha plane.
HostImage TestPicture(int32_t width, int32_t height, int16_t planes, int16_t depth) {
  HostImage image = MakeHostImage(width, height, planes, depth);
  uint32_t seed = 777;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const bool inSquare = x > width / 4 && x < width / 2 && y > height / 3 && y < height * 2 / 3;
      for (int16_t p = 0; p < planes; ++p) {
        seed = seed * 1664525u + 1013904223u;
        double v = p == 0 ? double(x) / width : p == 2 ? double(y) / height : 0.5 * (x + y) / (width + height);
        v = 0.85 * v + 0.15 * ((seed >> 8) & 0xFF) / 255.0;
        if (inSquare && p < 3) v = 1.0 - v;
        if (p == planes - 1 && (planes == 2 || planes == 4)) v = 0.3 + 0.7 * ((x * 3 + y) % 7) / 6.0;
        const double full = depth == 8 ? 255.0 : depth == 16 ? 32768.0 : 1.0;
        WriteSample(image, x, y, p, depth == 32 ? v : std::floor(v * full + 0.5));
      }
    }
  return image;
}

struct Settings {
  int32_t colors = 1, radius = 30, coarseness = 0, range = 45, sharpen = 25;
  uint32_t glue = K("GL01");
};

std::vector<DescriptorItem> Action(const Settings& s) {
  const uint32_t colorCodes[] = {K("GW01"), K("GW02"), K("GW03")};
  return {EnumeratedItem(K("GLUE"), K("GLty"), s.glue),
          EnumeratedItem(K("GWky"), K("GWty"), colorCodes[(s.colors - 1) % 3]),
          IntegerItem(K("0003"), s.radius), IntegerItem(K("0004"), s.coarseness),
          IntegerItem(K("0005"), s.range), IntegerItem(K("0006"), s.sharpen)};
}

class GrainWreckRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(LoadModule(host, ModulePath(), &error)) << error;
  }
  void TearDown() override {
    ForgetPluginState(host);
    UnloadModule(host);
  }
  RunResult Run(const Settings& s) { return RunRecordedAction(host, Action(s)); }
  TestHost host;
};

// The palette colours as samples of each depth: 8-bit, their 15-bit form, and floats.
std::set<double> PaletteSamples(int32_t colors, int16_t depth) {
  std::vector<int> eight = colors == 3 ? std::vector<int>{255, 0, 128, 64, 192}
                                       : std::vector<int>{255, 0};
  std::set<double> samples;
  for (int q : eight) {
    const int fifteen = q == 255 ? 32768 : (q << 7) | (q >> 1);
    samples.insert(depth == 8 ? q : depth == 16 ? fifteen : fifteen / 32768.0);
  }
  return samples;
}

TEST_F(GrainWreckRun, OnlyPaletteColoursInSelectionAndSourceAlphaEverywhere) {
  struct Case {
    int16_t planes, depth;
    int32_t colors;
    bool mask;
  };
  for (Case c : {Case{3, 8, 1, false}, Case{3, 8, 3, false}, Case{3, 8, 2, true},
                 Case{1, 8, 3, false}, Case{2, 16, 1, true}, Case{3, 16, 3, false},
                 Case{4, 16, 2, false}, Case{4, 8, 3, true}, Case{3, 32, 3, false},
                 Case{4, 32, 1, true}}) {
    const int32_t w = 141, h = 97;
    host.image = TestPicture(w, h, c.planes, c.depth);
    if (c.mask) {
      std::vector<uint8_t> mask(size_t(w) * h, 0);
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = w / 2; x < w; ++x) mask[size_t(y) * w + x] = 255;
      SetSelectionMask(host.image, mask);
    }
    const HostImage before = host.image;
    Settings s;
    s.colors = c.colors;
    s.coarseness = 20;
    ASSERT_EQ(Run(s).result, noErr) << c.planes << "/" << c.depth;
    const bool hasAlpha = c.planes == 2 || c.planes == 4;
    const int16_t colourPlanes = int16_t(hasAlpha ? c.planes - 1 : c.planes);
    const std::set<double> palette = PaletteSamples(c.colors, c.depth);
    int outside = 0, changedUnselected = 0, alphaChanged = 0, changedSelected = 0;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const bool selected = !c.mask || x >= w / 2;
        for (int16_t p = 0; p < colourPlanes; ++p) {
          const double v = ReadSample(host.image, x, y, p);
          const bool changed = v != ReadSample(before, x, y, p);
          if (selected) {
            outside += palette.count(v) == 0;
            changedSelected += changed;
          } else {
            changedUnselected += changed;
          }
        }
        if (hasAlpha)
          alphaChanged += ReadSample(host.image, x, y, c.planes - 1) !=
                          ReadSample(before, x, y, int16_t(c.planes - 1));
      }
    const std::string what = std::to_string(c.planes) + " planes, depth " +
                             std::to_string(c.depth) + ", colors " + std::to_string(c.colors);
    EXPECT_EQ(outside, 0) << what;
    EXPECT_GT(changedSelected, 0) << what;
    EXPECT_EQ(changedUnselected, 0) << what;
    EXPECT_EQ(alphaChanged, 0) << what;
  }
}

TEST_F(GrainWreckRun, CoarsenessGivesAlignedBlocksOfItsBaseLevel) {
  // 96 x 80 has levels up to 7 (1 x 1): coarseness 50 starts at level 3, so every
  // aligned 8 x 8 block takes one colour; coarseness 100 starts at the single pixel.
  const HostImage source = TestPicture(96, 80, 3, 8);
  struct Case {
    int32_t coarseness, block;
  };
  for (Case c : {Case{50, 8}, Case{100, 96}}) {
    host.image = source;
    Settings s;
    s.colors = 2;
    s.coarseness = c.coarseness;
    ASSERT_EQ(Run(s).result, noErr);
    int differing = 0;
    std::set<std::vector<double>> colours;
    for (int32_t y = 0; y < 80; ++y)
      for (int32_t x = 0; x < 96; ++x) {
        const int32_t bx = x / c.block * c.block, by = y / c.block * c.block;
        std::vector<double> colour;
        for (int16_t p = 0; p < 3; ++p) {
          colour.push_back(ReadSample(host.image, x, y, p));
          differing += colour.back() != ReadSample(host.image, bx, by, p);
        }
        colours.insert(colour);
      }
    EXPECT_EQ(differing, 0) << "coarseness " << c.coarseness;
    if (c.coarseness == 50) {
      EXPECT_GT(colours.size(), 1u);  // blocks, not one colour
    }
  }
}

TEST_F(GrainWreckRun, FloatImageGivesItsSixteenBitPicture) {
  const int32_t w = 133, h = 71;
  for (int16_t planes : {int16_t(3), int16_t(4)}) {
    const HostImage sixteen = TestPicture(w, h, planes, 16);
    HostImage floats = MakeHostImage(w, h, planes, 32);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        for (int16_t p = 0; p < planes; ++p)
          WriteSample(floats, x, y, p, ReadSample(sixteen, x, y, p) / 32768.0);
    Settings s;
    s.colors = 3;
    s.radius = 55;
    s.sharpen = 70;
    s.coarseness = 15;
    s.range = 30;
    host.image = sixteen;
    ASSERT_EQ(Run(s).result, noErr);
    const HostImage viaSixteen = host.image;
    host.image = floats;
    ASSERT_EQ(Run(s).result, noErr);
    int differing = 0;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        for (int16_t p = 0; p < planes; ++p)
          differing += std::fabs(ReadSample(host.image, x, y, p) * 32768.0 -
                                 ReadSample(viaSixteen, x, y, p)) > 0.5;
    EXPECT_EQ(differing, 0) << planes << " planes";
  }
}

// FNV-1a over the result pixels: the same table must come out of every build, which
// proves that no platform maths reaches the pixels.
uint32_t Fingerprint(const std::vector<uint8_t>& bytes) {
  uint32_t h = 2166136261u;
  for (uint8_t b : bytes) h = (h ^ b) * 16777619u;
  return h;
}

TEST_F(GrainWreckRun, SamePixelsOnEveryBuild) {
  struct Case {
    int16_t planes, depth;
    Settings settings;
    uint32_t expected;
  };
  auto make = [](int32_t colors, int32_t radius, int32_t coarseness, int32_t range,
                 int32_t sharpen, uint32_t glue) {
    Settings s;
    s.colors = colors;
    s.radius = radius;
    s.coarseness = coarseness;
    s.range = range;
    s.sharpen = sharpen;
    s.glue = glue;
    return s;
  };
  const Case cases[] = {
      {3, 8, make(1, 30, 0, 45, 25, K("GL01")), 0xEFBD6187u},
      {3, 8, make(2, 85, 30, 10, 100, K("GL01")), 0xFE2E572Fu},
      {3, 8, make(3, 15, 60, 100, 50, K("GL09")), 0x6DDA3288u},
      {4, 8, make(2, 47, 10, 0, 0, K("GL23")), 0x8AFC1805u},
      {1, 8, make(3, 63, 25, 70, 80, K("GL01")), 0x41B5F2C7u},
      {3, 16, make(1, 30, 0, 45, 25, K("GL01")), 0x7EA743EDu},
      {4, 16, make(3, 100, 40, 20, 90, K("GL15")), 0xAED21367u},
      {3, 32, make(2, 30, 20, 45, 25, K("GL01")), 0x5DD17128u},
  };
  const bool print = std::getenv("TALLOW_PRINT_FINGERPRINTS") != nullptr;
  for (const Case& c : cases) {
    host.image = TestPicture(157, 131, c.planes, c.depth);
    ASSERT_EQ(Run(c.settings).result, noErr);
    const uint32_t got = Fingerprint(host.image.pixels);
    if (print)
      std::printf("fingerprint 0x%08Xu\n", got);
    else
      EXPECT_EQ(got, c.expected) << c.planes << " planes, depth " << c.depth << ", colors "
                                 << c.settings.colors;
  }
}

// ---- from inside the plug-in ---------------------------------------------------------

// A final render from inside, with the host's image holding the result afterwards: the
// host takes the last job's output back at the next advance.
OSErr RenderFinalAndCommit() {
  const OSErr result = RenderFinal();
  ClearHostRects();
  HostAdvance();
  return result;
}

HostImage Uniform(int32_t width, int32_t height, int value) {
  HostImage image = MakeHostImage(width, height, 3, 8);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      for (int16_t p = 0; p < 3; ++p) WriteSample(image, x, y, p, value);
  return image;
}

TEST(GrainWreckInside, OnlyTheChangedParametersRebuildTheirImages) {
  InsidePlugin inside(TestPicture(150, 110, 3, 8));
  struct Step {
    const char* change;
    void (*apply)(SettingsRecord*);
    int32_t sharpBuilds, ditherBuilds;
  };
  const Step steps[] = {
      {"first render", [](SettingsRecord*) {}, 1, 1},
      {"range", [](SettingsRecord* s) { s->range = 80; }, 1, 1},
      {"coarseness", [](SettingsRecord* s) { s->coarseness = 60; }, 1, 1},
      {"glue", [](SettingsRecord* s) { s->glueMode = 9; }, 1, 1},
      {"colors", [](SettingsRecord* s) { s->colors = 2; }, 1, 2},
      {"radius", [](SettingsRecord* s) { s->radius = 70; }, 2, 3},
      {"sharpen", [](SettingsRecord* s) { s->sharpen = 5; }, 3, 4},
      {"nothing", [](SettingsRecord*) {}, 3, 4},
  };
  for (const Step& step : steps) {
    step.apply(gSettings);
    ASSERT_EQ(RenderFinal(), noErr) << step.change;
    EXPECT_EQ(gState->sourceLoads, 1) << step.change;
    EXPECT_EQ(gState->sharpBuilds, step.sharpBuilds) << step.change;
    EXPECT_EQ(gState->ditherBuilds, step.ditherBuilds) << step.change;
  }
  // The tear-down gives every image buffer back to the host.
  ProductTearDown(gState);
  EXPECT_FALSE(gState->sourceImage.valid || gState->sharpImage.valid || gState->ditherImage.valid);
  EXPECT_EQ(LiveBufferCount(inside.host), 0u);
}

TEST(GrainWreckInside, SharpenZeroLeavesTheSourceAndOtherwiseSharpens) {
  InsidePlugin inside(TestPicture(90, 70, 3, 16));
  auto sameColours = [] {
    const TiledImage& source = gState->sourceImage;
    for (int32_t y = 0; y < source.levels[0].height; ++y)
      for (int32_t x = 0; x < source.levels[0].width; ++x) {
        int32_t a[4], b[4];
        ReadSamples(&source, 0, x, y, a);
        ReadSamples(&gState->sharpImage, 0, x, y, b);
        if (a[0] != b[0] || a[1] != b[1] || a[2] != b[2]) return false;
      }
    return true;
  };
  gSettings->sharpen = 0;
  ASSERT_EQ(RenderFinal(), noErr);
  EXPECT_TRUE(sameColours());
  gSettings->sharpen = 40;
  ASSERT_EQ(RenderFinal(), noErr);
  EXPECT_FALSE(sameColours());
}

TEST(GrainWreckInside, MidGreyDithersToACheckerboardStartingWhite) {
  InsidePlugin inside(Uniform(37, 23, 128));
  gSettings->colors = 1;
  gSettings->coarseness = 0;
  gSettings->range = 0;
  gSettings->sharpen = 0;
  ASSERT_EQ(RenderFinal(), noErr);
  int wrong = 0;
  for (int32_t y = 0; y < 23; ++y)
    for (int32_t x = 0; x < 37; ++x) {
      int32_t s[4];
      ReadSamples(&gState->ditherImage, 0, x, y, s);
      const int32_t expected = (x + y) % 2 == 0 ? 255 : 0;
      wrong += s[0] != expected || s[1] != expected || s[2] != expected;
    }
  EXPECT_EQ(wrong, 0);
}

TEST(GrainWreckInside, EdgePixelsShowTheirOwnLevelWithRangeZero) {
  // With coarseness 0 and range 0 a pixel stays at level 0 exactly when its edge
  // strength is not 0.
  InsidePlugin inside(TestPicture(120, 90, 3, 8));
  gSettings->colors = 2;
  gSettings->coarseness = 0;
  gSettings->range = 0;
  ASSERT_EQ(RenderFinalAndCommit(), noErr);
  int edges = 0, wrong = 0;
  for (int32_t y = 0; y < 90; ++y)
    for (int32_t x = 0; x < 120; ++x) {
      int32_t d[4];
      ReadSamples(&gState->ditherImage, 0, x, y, d);
      if (d[3] == 0) continue;
      ++edges;
      for (int16_t p = 0; p < 3; ++p) wrong += ReadSample(inside.host.image, x, y, p) != d[p];
    }
  EXPECT_GT(edges, 120 * 90 / 2);
  EXPECT_EQ(wrong, 0);
}

TEST(GrainWreckInside, ImagesThatCannotBeMadeRenderNothing) {
  InsidePlugin inside(TestPicture(60, 40, 3, 8));
  const HostImage before = inside.host.image;
  TiledImageFailAllocationsAfter(5);  // the second or third image runs short
  const OSErr result = RenderFinal();
  TiledImageFailAllocationsAfter(-1);
  EXPECT_EQ(result, kProductImagesNotMade);
  EXPECT_EQ(gState->sourceReady, 0);
  EXPECT_TRUE(inside.host.image.pixels == before.pixels);
  EXPECT_EQ(LiveBufferCount(inside.host), 0u);
}

TEST(GrainWreckRandom, DrawsStayInTheirRanges) {
  std::srand(12345);
  EXPECT_EQ(RandomInt(5, 5), 5);
  for (int i = 0; i < 300; ++i) {
    const int swapped = RandomInt(85, 15);
    EXPECT_TRUE(swapped >= 15 && swapped <= 85) << swapped;
    const int glue = RandomInt(1, 69);
    EXPECT_TRUE(glue >= 1 && glue <= 69) << glue;
  }
  SettingsRecord settings;
  std::memset(&settings, 0, sizeof settings);
  std::set<int32_t> colours;
  for (int i = 0; i < 300; ++i) {
    settings.colors = 1;
    RandomizeParameters(&settings);
    EXPECT_TRUE(settings.coarseness >= 0 && settings.coarseness <= 50);
    EXPECT_TRUE(settings.range >= 0 && settings.range <= 100);
    EXPECT_TRUE(settings.sharpen >= 0 && settings.sharpen <= 100);
    EXPECT_TRUE(settings.radius >= 15 && settings.radius <= 85);
    EXPECT_TRUE(settings.glueMode >= 1 && settings.glueMode <= 69);
    colours.insert(settings.colors);
  }
  EXPECT_EQ(colours.size(), 3u);
}

}  // namespace
