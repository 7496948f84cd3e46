// Filtering end to end: the real Velvet Hue module over images of every mode and depth
// through the test host, and the same pixels from every build of it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "filterhost/test_host.h"
#include "tests/support/test_support.h"

namespace {

constexpr uint32_t K(const char (&s)[5]) { return FourCC(s); }

std::string ModulePath() { return ShippedModulePath(TALLOW_MODULE_DIR, true); }

// A deterministic picture with distinct red and blue, odd sizes so that tile and row
// mistakes show.
HostImage TestPicture(int32_t width, int32_t height, int16_t planes, int16_t depth) {
  HostImage image = MakeHostImage(width, height, planes, depth);
  uint32_t seed = 12345;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      for (int16_t p = 0; p < planes; ++p) {
        seed = seed * 1664525u + 1013904223u;
        double v = ((x * (p + 1) * 7 + y * (3 - p % 3) * 5) % 256) / 255.0;
        v = 0.8 * v + 0.2 * ((seed >> 8) & 0xFF) / 255.0;
        if (p == 3) v = 0.25 + 0.75 * ((x + y) % 5) / 4.0;  // alpha
        const double full = depth == 8 ? 255.0 : depth == 16 ? 32768.0 : 1.0;
        // Float colours reach a little above 1, as float images may; alpha stays in 0..1.
        const double value = depth == 32 ? (p == 3 ? v : v * 1.1) : std::floor(v * full + 0.5);
        WriteSample(image, x, y, p, value);
      }
  return image;
}

struct Settings {
  int32_t gamma = 50, hue = 50, saturation = 50, luminance = 50;
  uint32_t glue = K("GL01");
};

std::vector<DescriptorItem> Action(const Settings& s) {
  return {EnumeratedItem(K("GLUE"), K("GLty"), s.glue), IntegerItem(K("0001"), s.gamma),
          IntegerItem(K("0002"), s.hue), IntegerItem(K("0003"), s.saturation),
          IntegerItem(K("0004"), s.luminance)};
}

class RenderTest : public ::testing::Test {
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

TEST_F(RenderTest, NeutralSettingsGiveBackAnEightBitImageExactly) {
  for (int16_t planes : {3, 4}) {
    host.image = TestPicture(151, 77, planes, 8);
    const std::vector<uint8_t> before = host.image.pixels;
    ASSERT_EQ(Run(Settings{}).result, noErr);
    EXPECT_TRUE(host.image.pixels == before) << planes << " planes";
  }
}

TEST_F(RenderTest, NeutralSixteenBitImagesKeepTheGammaTablesSteps) {
  host.image = TestPicture(67, 45, 3, 16);
  const HostImage before = host.image;
  ASSERT_EQ(Run(Settings{}).result, noErr);
  double worst = 0;
  for (int32_t y = 0; y < before.height; ++y)
    for (int32_t x = 0; x < before.width; ++x)
      for (int16_t p = 0; p < 3; ++p)
        worst = std::max(worst, std::fabs(ReadSample(host.image, x, y, p) -
                                          ReadSample(before, x, y, p)));
  EXPECT_LE(worst, 32768.0 / 1500.0 + 2.0);
}

TEST_F(RenderTest, EveryDepthWithSelectionAndTransparency) {
  struct Case {
    int16_t planes, depth;
    bool mask;
  };
  for (Case c : {Case{3, 8, false}, Case{3, 16, false}, Case{3, 32, false}, Case{3, 8, true},
                 Case{4, 8, false}, Case{4, 16, true}, Case{4, 32, true}}) {
    host.image = TestPicture(203, 141, c.planes, c.depth);
    std::vector<uint8_t> mask;
    if (c.mask) {
      // Left half unselected, right half selected.
      mask.assign(size_t(203) * 141, 0);
      for (int32_t y = 0; y < 141; ++y)
        for (int32_t x = 102; x < 203; ++x) mask[size_t(y) * 203 + x] = 255;
      SetSelectionMask(host.image, mask);
    }
    const HostImage before = host.image;
    Settings turn;
    turn.hue = 20;
    ASSERT_EQ(Run(turn).result, noErr) << c.planes << "/" << c.depth;
    int changedSelected = 0, changedUnselected = 0, alphaChanged = 0;
    for (int32_t y = 0; y < 141; ++y)
      for (int32_t x = 0; x < 203; ++x) {
        bool changed = false;
        for (int16_t p = 0; p < 3; ++p)
          changed |= ReadSample(host.image, x, y, p) != ReadSample(before, x, y, p);
        if (c.planes == 4) alphaChanged += ReadSample(host.image, x, y, 3) != ReadSample(before, x, y, 3);
        const bool selected = !c.mask || x >= 102;
        (selected ? changedSelected : changedUnselected) += changed;
      }
    EXPECT_GT(changedSelected, 203 * 141 / 4) << c.planes << "/" << c.depth;
    EXPECT_EQ(changedUnselected, 0) << c.planes << "/" << c.depth;
    EXPECT_EQ(alphaChanged, 0) << c.planes << "/" << c.depth;
  }
}

TEST_F(RenderTest, CancelLeavesUnfinishedTilesUntouched) {
  host.image = TestPicture(640, 512, 3, 8);  // 5 x 4 jobs
  const HostImage before = host.image;
  host.settings.abortAfterCalls = 3;
  Settings turn;
  turn.hue = 20;
  RunResult run = Run(turn);
  EXPECT_EQ(run.start, userCanceledErr);
  EXPECT_FALSE(run.finishCalled);
  // Every 128 x 128 tile is either wholly filtered or wholly as it was.
  int untouched = 0;
  for (int32_t ty = 0; ty < 4; ++ty)
    for (int32_t tx = 0; tx < 5; ++tx) {
      int changed = 0;
      for (int32_t y = ty * 128; y < ty * 128 + 128; ++y)
        for (int32_t x = tx * 128; x < tx * 128 + 128; ++x)
          changed += ReadSample(host.image, x, y, 0) != ReadSample(before, x, y, 0) ||
                     ReadSample(host.image, x, y, 2) != ReadSample(before, x, y, 2);
      EXPECT_TRUE(changed == 0 || changed > 128 * 128 / 2) << tx << "," << ty;
      untouched += changed == 0;
    }
  EXPECT_GE(untouched, 10);
  EXPECT_EQ(LiveBufferCount(host), 0u);
}

TEST_F(RenderTest, FloatImagesIgnoreTheGlueMode) {
  Settings normal;
  normal.saturation = 80;
  Settings multiply = normal;
  multiply.glue = K("GL09");
  host.image = TestPicture(90, 70, 3, 32);
  const HostImage source = host.image;
  ASSERT_EQ(Run(normal).result, noErr);
  const std::vector<uint8_t> viaNormal = host.image.pixels;
  host.image = source;
  ASSERT_EQ(Run(multiply).result, noErr);
  EXPECT_TRUE(host.image.pixels == viaNormal);
  // In an 8-bit image the glue mode does change the picture.
  host.image = TestPicture(90, 70, 3, 8);
  const HostImage source8 = host.image;
  ASSERT_EQ(Run(normal).result, noErr);
  const std::vector<uint8_t> normal8 = host.image.pixels;
  host.image = source8;
  ASSERT_EQ(Run(multiply).result, noErr);
  EXPECT_FALSE(host.image.pixels == normal8);
}

TEST_F(RenderTest, ImagesWiderThanSixteenBitCoordinates) {
  host.image = TestPicture(40000, 3, 3, 8);
  const HostImage before = host.image;
  Settings turn;
  turn.hue = 20;
  ASSERT_EQ(Run(turn).result, noErr);
  int unchangedAtTheFarEnd = 0;
  for (int32_t x = 39000; x < 40000; ++x)
    unchangedAtTheFarEnd += ReadSample(host.image, x, 1, 0) == ReadSample(before, x, 1, 0) &&
                            ReadSample(host.image, x, 1, 2) == ReadSample(before, x, 1, 2);
  EXPECT_LT(unchangedAtTheFarEnd, 100);
}

TEST_F(RenderTest, KernelExtremes) {
  const HostImage source = TestPicture(64, 40, 3, 8);
  auto render = [&](Settings s) {
    host.image = source;
    EXPECT_EQ(Run(s).result, noErr);
    return host.image;
  };
  Settings s;
  s.luminance = 0;
  HostImage black = render(s);
  s.luminance = 100;
  HostImage white = render(s);
  s = Settings{};
  s.saturation = 0;
  HostImage grey = render(s);
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 64; ++x) {
      for (int16_t p = 0; p < 3; ++p) {
        ASSERT_EQ(ReadSample(black, x, y, p), 0) << x << "," << y;
        ASSERT_EQ(ReadSample(white, x, y, p), 255) << x << "," << y;
      }
      // Without saturation the channels agree to the rounding of the conversion.
      EXPECT_NEAR(ReadSample(grey, x, y, 0), ReadSample(grey, x, y, 2), 1.0) << x << "," << y;
    }

  // Hue 0 and hue 100 turn by half a turn either way: the same picture.
  s = Settings{};
  s.hue = 0;
  HostImage back = render(s);
  s.hue = 100;
  HostImage forth = render(s);
  int differing = 0;
  for (size_t i = 0; i < back.pixels.size(); ++i)
    differing += std::abs(int(back.pixels[i]) - int(forth.pixels[i])) > 1;
  EXPECT_EQ(differing, 0);
}

// FNV-1a over the result pixels: the same table must come out of every build (native,
// Windows x86 and x64), which proves that no platform maths reaches the pixels.
uint32_t Fingerprint(const std::vector<uint8_t>& bytes) {
  uint32_t h = 2166136261u;
  for (uint8_t b : bytes) h = (h ^ b) * 16777619u;
  return h;
}

TEST_F(RenderTest, SamePixelsOnEveryBuild) {
  struct Case {
    int16_t planes, depth;
    Settings settings;
    uint32_t expected;
  };
  auto make = [](int32_t gamma, int32_t hue, int32_t saturation, int32_t luminance,
                 uint32_t glue) {
    Settings s;
    s.gamma = gamma;
    s.hue = hue;
    s.saturation = saturation;
    s.luminance = luminance;
    s.glue = glue;
    return s;
  };
  const Case cases[] = {
      {3, 8, make(50, 20, 50, 50, K("GL01")), 0xB8071F87u},
      {3, 8, make(70, 65, 90, 40, K("GL09")), 0x1EE22F1Fu},
      {3, 8, make(30, 50, 0, 60, K("GL16")), 0xFD68FAADu},
      {3, 8, make(50, 80, 75, 50, K("GL53")), 0x9FFD5A5Bu},
      {3, 8, make(55, 35, 60, 45, K("GL62")), 0xC5F9497Eu},
      {4, 8, make(40, 10, 100, 55, K("GL23")), 0x48CE45A9u},
      {3, 16, make(50, 20, 50, 50, K("GL01")), 0x8A2268A8u},
      {3, 16, make(65, 90, 30, 70, K("GL15")), 0x30792344u},
      {4, 16, make(35, 45, 80, 30, K("GL27")), 0x08BBCBB5u},
      {3, 32, make(50, 20, 50, 50, K("GL01")), 0x19682A49u},
      {3, 32, make(80, 5, 95, 65, K("GL09")), 0xFEFC98FAu},
  };
  const bool print = std::getenv("TALLOW_PRINT_FINGERPRINTS") != nullptr;
  for (const Case& c : cases) {
    host.image = TestPicture(157, 131, c.planes, c.depth);
    ASSERT_EQ(Run(c.settings).result, noErr);
    const uint32_t got = Fingerprint(host.image.pixels);
    if (print) std::printf("fingerprint 0x%08Xu\n", got);
    else EXPECT_EQ(got, c.expected) << c.planes << " planes, depth " << c.depth << ", glue "
                                    << FourCCText(c.settings.glue);
  }
}

}  // namespace
