// Tests of the glue modes and the per-pixel compose step.
#include "glue/glue_blend.h"

#include <gtest/gtest.h>

#include <cmath>

#include "glue/colour_convert.h"

namespace {

constexpr float kStep = 1.0f / 32768;

Colour Grey(float v, float alpha = 1.0f) { return {v, v, v, alpha}; }

// One channel of a mode with the other two channels set to the same values.
float Blend(float a, float b, int mode) { return GlueBlend(Grey(a), Grey(b), mode).red; }

struct ModeCase {
  int mode;
  float a, b, expected;
};

TEST(GlueBlend, ExamplesFromTheModeTable) {
  const ModeCase cases[] = {
      {1, 0.3f, 0.9f, 9830 * kStep},     // normal quantises to 1/32768
      {0, 0.3f, 0.9f, 9830 * kStep},     // unknown numbers act as normal
      {70, 0.3f, 0.9f, 9830 * kStep},
      {-4, 0.3f, 0.9f, 9830 * kStep},
      {24, 0.75f, 0.5f, 0.75f},          // similarity
      {68, 0.75f, 0.5f, 0.75f},          // negation
      {9, 1.0f, 1.0f, 1.0f},             // multiply
      {10, 0.25f, 0.5f, 0.625f},         // screen
      {8, 0.25f, 0.5f, 0.0f},            // subtract
      {31, 0.0f, 0.75f, 0.0f},           // burn: divisor a + 1, no division by zero
      {30, 1.0f, 0.3f, 1.0f},            // dodge
      {37, 1.0f, 32767 * kStep, 65535 * kStep},  // or reaches above 1.0
      {36, 0.75f, 0.5f, 0.5f},           // and
      {38, 0.75f, 0.5f, 0.25f},          // xor
      {64, 0.2f, 1.0f, 1.0f},            // glow over white
      {64, 0.5f, 0.5f, 0.5f},            // F^2 / (1 - O)
      {65, 0.5f, 0.5f, 0.5f},            // reflect
      {66, 1.0f, 0.5f, 0.75f},           // shimmer: 1 - 0.25 / 1
      {67, 0.5f, 1.0f, 0.75f},           // lustre
      {52, 0.5f, 0.5f, 0.0f},            // hard mix: exactly ONE is not above
      {52, 0.5f, 0.51f, 1.0f},
      {26, 0.25f, 0.75f, 0.5f},          // hard diff
      {17, 0.75f, 0.25f, 0.75f},         // linear light
      {21, 0.75f, 0.25f, 1.0f},          // vivid b clamps
      {18, 0.75f, 0.25f, 0.5f},          // pin light, bright key
      {18, 0.25f, 0.75f, 0.5f},          // pin light, dark key
      {69, 0.75f, 0.25f, 0.75f},         // contrast negate: turned then negated
      {69, 0.25f, 0.75f, 0.25f},
      {58, 0.5f, 0.25f, 0.25f},          // dextrous, x > y: y / 2x
      {58, 0.25f, 0.5f, 0.75f},          // x <= y: 1 - x / 2y
      {58, 0.0f, 0.0f, 1.0f},
      {62, 0.0f, 0.0f, 0.0f},            // screendim
      {62, 0.5f, 0.5f, 0.5625f},
  };
  for (const ModeCase& c : cases)
    EXPECT_EQ(Blend(c.a, c.b, c.mode), c.expected)
        << "mode " << c.mode << " a " << c.a << " b " << c.b;
}

TEST(GlueBlend, ModesSharingAFormulaAgree) {
  for (int i = 0; i <= 32; ++i)
    for (int j = 0; j <= 32; ++j) {
      float a = i / 32.0f, b = j / 32.0f;
      EXPECT_EQ(Blend(a, b, 4), Blend(a, b, 14));
      EXPECT_EQ(Blend(a, b, 24), Blend(a, b, 68));
    }
}

// Plain floating-point statements of the classic modes, written independently of the
// fixed-point code; the tolerance covers the 15-bit truncations.
double ReferenceBlend(double a, double b, int mode) {
  switch (mode) {
    case 4: return a + b - 2 * a * b;
    case 5: return std::fmax(a, b);
    case 6: return std::fmin(a, b);
    case 7: return std::fmin(a + b, 1.0);
    case 9: return a * b;
    case 10: return 1 - (1 - a) * (1 - b);
    case 11: return a < 0.5 ? 2 * a * b : 1 - 2 * (1 - a) * (1 - b);
    case 12: return b < 0.5 ? 2 * a * b : 1 - 2 * (1 - a) * (1 - b);
    case 17: return std::fmin(1.0, std::fmax(0.0, a + b + a - 1));
    case 18: return a >= 0.5 ? std::fmax(2 * a - 1, b) : std::fmin(2 * a, b);
    case 26: return std::fabs(a - b);
    case 30: return std::fmin(1.0, b / (1 - a));
    case 31: return std::fmax(0.0, 1 - (1 - b) / a);
    case 32: return (1 - a) * b + a * a;
    case 39: return a * b * (2 - a * b);
    case 62: return (1 - (1 - a) * (1 - b)) * (1 - (1 - a) * (1 - b));
  }
  return -1;
}

TEST(GlueBlend, MatchesPlainReferenceFormulas) {
  const int modes[] = {4, 5, 6, 7, 9, 10, 11, 12, 17, 18, 26, 30, 31, 32, 39, 62};
  const float values[] = {0.0f, 0.03f, 0.2f, 0.31f, 0.49f, 0.5f, 0.51f, 0.66f, 0.8f, 0.97f, 1.0f};
  for (int mode : modes)
    for (float a : values)
      for (float b : values) {
        // Dodge and burn divide by 1 - a and a: away from those poles only.
        if ((mode == 30 && a > 0.85f) || (mode == 31 && a < 0.15f)) continue;
        double tolerance = (mode == 30 || mode == 31) ? 40.0 / 32768 : 3.0 / 32768;
        EXPECT_NEAR(Blend(a, b, mode), ReferenceBlend(a, b, mode), tolerance)
            << "mode " << mode << " a " << a << " b " << b;
      }
}

TEST(GlueBlend, AlphaComesFromTheFilteredColour) {
  const Colour f = {0.3f, 0.6f, 0.9f, 0.37f};
  const Colour o = {0.8f, 0.1f, 0.5f, 1.0f};
  for (int mode = 0; mode <= 70; ++mode) {
    if (mode == 63) continue;
    EXPECT_EQ(GlueBlend(f, o, mode).alpha, 0.37f) << mode;
  }
}

TEST(GlueBlend, StarbrightTurnsBrightnessIntoOpacity) {
  Colour r = GlueBlend({0.5f, 0.25f, 0.0f, 0.9f}, Grey(0.3f), 63);
  EXPECT_EQ(r.red, 1.0f);
  EXPECT_EQ(r.green, 0.5f);
  EXPECT_EQ(r.blue, 0.0f);
  EXPECT_EQ(r.alpha, 0.5f);
  r = GlueBlend({0, 0, 0, 1}, Grey(0.3f), 63);
  EXPECT_EQ(r.red + r.green + r.blue + r.alpha, 0.0f);
  r = GlueBlend({2.0f, 1.0f, 0.0f, 1}, Grey(0.3f), 63);  // m is limited to 1
  EXPECT_EQ(r.red, 2.0f);
  EXPECT_EQ(r.alpha, 1.0f);
}

TEST(GlueBlend, BrightAndDimCompareCoarseLuma) {
  // 150 g + 77 r + 28 b: one more step of blue adds 28 and stays in the same multiple of
  // 256, so both modes keep A although B is brighter.
  const Colour a = Grey(1000 * kStep);
  const Colour b = {1000 * kStep, 1000 * kStep, 1001 * kStep, 1};
  EXPECT_EQ(GlueBlend(a, b, 28).blue, a.blue);
  EXPECT_EQ(GlueBlend(a, b, 29).blue, a.blue);
  const Colour dark = Grey(6554 * kStep), light = Grey(22938 * kStep);
  EXPECT_EQ(GlueBlend(dark, light, 28).red, light.red);
  EXPECT_EQ(GlueBlend(light, dark, 28).red, light.red);
  EXPECT_EQ(GlueBlend(dark, light, 29).red, dark.red);
  EXPECT_EQ(GlueBlend(light, dark, 29).red, dark.red);
}

TEST(GlueBlend, LuminanceKeepsOriginalHueAtFilteredLuma) {
  Colour r = GlueBlend({1, 0, 0, 1}, {0, 0, 1, 1}, 16);
  float h, s, y;
  RgbToHsy(r.red, r.green, r.blue, h, s, y);
  EXPECT_NEAR(h, 2.0f / 3, 1e-4);
  EXPECT_NEAR(s, 1.0f, 1e-4);
  EXPECT_NEAR(y, 9856.0f / 32768, 1e-4);
  // And mode 15 the other way round: the filtered hue at the original's luma.
  r = GlueBlend({0, 0, 1, 1}, {1, 0, 0, 1}, 15);
  RgbToHsy(r.red, r.green, r.blue, h, s, y);
  EXPECT_NEAR(h, 2.0f / 3, 1e-4);
  EXPECT_NEAR(y, 9856.0f / 32768, 1e-4);
}

TEST(GlueBlend, HueAndSaturationModesSwapTheRightComponents) {
  const Colour a = {0.8f, 0.3f, 0.2f, 1};  // orange-red, fairly saturated
  const Colour b = {0.3f, 0.4f, 0.6f, 1};  // muted blue
  float ha, sa, ya, hb, sb, yb, h, s, y;
  RgbToHsy(a.red, a.green, a.blue, ha, sa, ya);
  RgbToHsy(b.red, b.green, b.blue, hb, sb, yb);
  Colour r = GlueBlend(a, b, 23);  // hue
  RgbToHsy(r.red, r.green, r.blue, h, s, y);
  EXPECT_NEAR(h, ha, 2e-4);
  EXPECT_NEAR(s, sb, 2e-4);
  EXPECT_NEAR(y, yb, 2e-4);
  r = GlueBlend(a, b, 22);  // saturation
  RgbToHsy(r.red, r.green, r.blue, h, s, y);
  EXPECT_NEAR(h, hb, 2e-4);
  EXPECT_NEAR(s, sa, 2e-4);
  EXPECT_NEAR(y, yb, 2e-4);
}

TEST(GlueBlend, CrossChannelModesUseTheRightWeights) {
  // North: red mixed toward the original by A.green, green by A.blue, blue by A.red.
  const Colour a = {1.0f, 0.0f, 0.5f, 1};
  const Colour b = {0.0f, 1.0f, 0.25f, 1};
  Colour r = GlueBlend(a, b, 48);
  EXPECT_EQ(r.red, 1.0f);     // weight A.green = 0 keeps a
  EXPECT_EQ(r.green, 0.5f);   // weight A.blue = 0.5
  EXPECT_EQ(r.blue, 0.25f);   // weight A.red = 1 takes b
  r = GlueBlend(a, b, 51);    // west: red by B.blue, green by B.red, blue by B.green
  EXPECT_EQ(r.red, 0.75f);
  EXPECT_EQ(r.green, 0.0f);
  EXPECT_EQ(r.blue, 0.25f);
}

TEST(GlueBlend, FrontalOfEqualColoursIsTheColour) {
  for (const Colour c : {Colour{0.7f, 0.2f, 0.3f, 1}, Colour{0.1f, 0.5f, 0.9f, 1}, Grey(0.4f)}) {
    Colour r = GlueBlend(c, c, 53);
    EXPECT_NEAR(r.red, c.red, 3 * kStep);
    EXPECT_NEAR(r.green, c.green, 3 * kStep);
    EXPECT_NEAR(r.blue, c.blue, 3 * kStep);
  }
  // Two mid-tones take the original's chroma whole, at the lower lightness.
  Colour r = GlueBlend({1, 0, 0, 1}, {0, 1, 1, 1}, 53);
  EXPECT_NEAR(r.red, 0.0f, 3 * kStep);
  EXPECT_NEAR(r.green, 1.0f, 3 * kStep);
  EXPECT_NEAR(r.blue, 1.0f, 3 * kStep);
  // Against a mid grey the chroma shrinks by 1 - MID(lA); the hue stays, and the
  // lightness is the lower one: A has l 0.8, s 0.5, so MID = 0.8704 and s = 0.0648.
  r = GlueBlend({0.9f, 0.7f, 0.7f, 1}, Grey(0.5f), 53);
  float h, s, l;
  RgbToHsl(r.red, r.green, r.blue, h, s, l);
  EXPECT_NEAR(s, 0.5f * (1 - 0.8704f), 1e-3);
  EXPECT_NEAR(l, 0.5f, 2 * kStep);
  EXPECT_GT(r.red, r.green);
  EXPECT_NEAR(r.green, r.blue, 2 * kStep);
}

// Float images carry samples far above 1 and originals below 0: no mode may overflow or
// step out of its cube; the integer modes treat such samples as 0..1.
TEST(GlueBlend, OutOfRangeSamplesAreLimited) {
  const float extremes[] = {-1e30f, -2.0f, 1.0f, 1.5f, 3.0f, 1e9f, INFINITY, NAN};
  for (int mode = 1; mode <= 69; ++mode)
    for (float a : extremes)
      for (float b : extremes) {
        Colour r = GlueBlend({a, 0.5f, b, 1}, {b, a, 0.3f, 1}, mode);
        for (float v : {r.red, r.green, r.blue}) {
          if (mode == 63) continue;  // starbright passes the filtered values on
          EXPECT_TRUE(v >= 0.0f && v <= 2.0f) << "mode " << mode << " " << a << " " << b;
        }
      }
  for (int mode : {9, 13, 25, 27, 54, 55, 56, 57})
    EXPECT_EQ(Blend(5.0f, 0.4f, mode), Blend(1.0f, 0.4f, mode)) << mode;
}

TEST(AlphaOver, CompositesOverTheDestination) {
  Colour d = Grey(0.2f, 1.0f);
  AlphaOver({1.0f, 1.0f, 1.0f, 0.0f}, d);
  EXPECT_EQ(d.red, 0.2f);
  AlphaOver({1.0f, 0.0f, 0.6f, 0.5f}, d);
  EXPECT_FLOAT_EQ(d.red, 0.6f);
  EXPECT_FLOAT_EQ(d.green, 0.1f);
  EXPECT_FLOAT_EQ(d.blue, 0.4f);
  EXPECT_EQ(d.alpha, 1.0f);
  Colour empty = {0, 0, 0, 0};
  AlphaOver({0.5f, 0.5f, 0.5f, 0.5f}, empty);
  EXPECT_EQ(empty.red, 0.5f);
  EXPECT_EQ(empty.alpha, 0.5f);
}

TEST(FloatToSample, RoundsToNearestAndLimits) {
  EXPECT_EQ(FloatToSample(0.2f, 255), 51);
  EXPECT_EQ(FloatToSample(0.499f / 255, 255), 0);
  EXPECT_EQ(FloatToSample(0.501f / 255, 255), 1);
  EXPECT_EQ(FloatToSample(1.7f, 255), 255);
  EXPECT_EQ(FloatToSample(-0.2f, 255), 0);
  EXPECT_EQ(FloatToSample(NAN, 255), 0);
  EXPECT_EQ(FloatToSample(0.5f, 32768), 16384);
  EXPECT_EQ(FloatToSample(1.0f, 32768), 32768);
}

ComposeSettings Settings(int mode, int renderMode) {
  ComposeSettings s = {};
  s.glueMode = mode;
  s.renderMode = renderMode;
  return s;
}

// Neutral settings with glue "normal" write every 8-bit and 16-bit sample back exactly.
TEST(ComposePixel, NormalGlueGivesBackTheInputSamples) {
  const ComposeSettings s = Settings(1, 0);
  for (int v = 0; v <= 255; ++v) {
    Colour c = Grey(float(v) / 255);
    c.green = float(255 - v) / 255;
    Colour r = ComposePixel(s, 3, 5, c, c, 1.0f);
    EXPECT_EQ(FloatToSample(r.red, 255), v);
    EXPECT_EQ(FloatToSample(r.green, 255), 255 - v);
    EXPECT_EQ(FloatToSample(r.alpha, 255), 255);
  }
  for (int v : {0, 1, 2, 127, 16384, 32767, 32768}) {
    Colour c = Grey(float(v) / 32768);
    EXPECT_EQ(FloatToSample(ComposePixel(s, 0, 0, c, c, 1.0f).blue, 32768), v);
  }
}

TEST(ComposePixel, GreyImagesTakeTheWeightedGreyBeforeGlue) {
  ComposeSettings s = Settings(1, 0);
  s.grey = true;
  Colour r = ComposePixel(s, 0, 0, {1, 0, 0, 1}, Grey(0.5f), 1.0f);
  EXPECT_EQ(r.red, 9830 * kStep);
  EXPECT_EQ(r.green, 9830 * kStep);
}

TEST(ComposePixel, PartialAlphaIsFlattenedOnlyWhereTheLayerCannotHoldIt) {
  ComposeSettings s = Settings(1, 0);
  const Colour f = {1.0f, 1.0f, 1.0f, 0.5f};
  const Colour o = Grey(0.0f);
  Colour flat = ComposePixel(s, 0, 0, f, o, 1.0f);
  EXPECT_EQ(flat.alpha, 1.0f);
  EXPECT_EQ(flat.red, 0.5f);
  s.editableTransparency = true;
  Colour layered = ComposePixel(s, 0, 0, f, o, 1.0f);
  EXPECT_EQ(layered.alpha, 0.5f);  // an editable layer keeps its transparency unchanged
  EXPECT_EQ(layered.red, 1.0f);
}

TEST(ComposePixel, MaskFadesToTheOriginalOrTheCheckerboard) {
  const Colour f = {0.9f, 0.1f, 0.4f, 1};
  const Colour o = {0.2f, 0.3f, 0.7f, 1};
  Colour r = ComposePixel(Settings(9, 0), 0, 0, f, o, 0.0f);
  EXPECT_EQ(r.red, o.red);
  EXPECT_EQ(r.blue, o.blue);
  r = ComposePixel(Settings(9, 0), 0, 0, f, o, 0.5f);
  float multiplied = GlueBlend(f, o, 9).red;
  EXPECT_FLOAT_EQ(r.red, o.red + 0.5f * (multiplied - o.red));
  // In preview, outside the selection the checkerboard shows.
  EXPECT_EQ(ComposePixel(Settings(1, 1), 0, 0, f, o, 0.0f).red, 1.0f);
  EXPECT_EQ(ComposePixel(Settings(1, 1), 8, 0, f, o, 0.0f).red, 0.8f);
  EXPECT_EQ(ComposePixel(Settings(1, 1), 8, 8, f, o, 0.0f).red, 1.0f);
}

TEST(ComposePixel, PreviewShowsTransparencyOverTheCheckerboard) {
  const Colour clear = {0.0f, 0.0f, 0.0f, 0.0f};
  EXPECT_EQ(ComposePixel(Settings(1, 1), 9, 0, clear, Grey(0.3f), 1.0f).red, 0.8f);
  EXPECT_EQ(ComposePixel(Settings(1, 1), 0, 0, clear, Grey(0.3f), 1.0f).red, 1.0f);
}

TEST(ComposePixel, FinalFloatRenderIgnoresTheGlue) {
  ComposeSettings s = Settings(9, 0);
  s.targetIsFloat = true;
  const Colour f = {1.7f, 0.25f, 70000.0f, 1.0f};
  Colour r = ComposePixel(s, 0, 0, f, Grey(0.5f), 1.0f);
  EXPECT_EQ(r.red, 1.7f);
  EXPECT_EQ(r.green, 0.25f);
  EXPECT_EQ(r.blue, 65535.0f);
  s.renderMode = 1;  // its preview applies the glue
  r = ComposePixel(s, 0, 0, {0.5f, 0.5f, 0.5f, 1}, Grey(0.5f), 1.0f);
  EXPECT_EQ(r.red, 0.25f);
}

TEST(ComposePixel, HighlightsSpillIntoTheOtherChannels) {
  const ComposeSettings s = Settings(1, 0);
  // One channel above: the other two get half of E * 60 / 256 each.
  Colour r = ComposePixel(s, 0, 0, {1.5f, 0.2f, 0.2f, 1}, Grey(0), 1.0f);
  EXPECT_EQ(r.red, 1.0f);
  EXPECT_NEAR(r.green, 0.2f + 0.05859375f, 2 * kStep);
  EXPECT_NEAR(r.blue, 0.2f + 0.05859375f, 2 * kStep);
  // Cascade: green pushed over 1 passes its excess on to blue.
  r = ComposePixel(s, 0, 0, {1.5f, 0.99f, 0.5f, 1}, Grey(0), 1.0f);
  EXPECT_EQ(r.green, 1.0f);
  EXPECT_NEAR(r.blue, 0.5f + 0.05859375f + (0.99f + 0.05859375f - 1.0f), 2 * kStep);
  // Two channels above: the third gets the whole amount.
  r = ComposePixel(s, 0, 0, {1.2f, 1.3f, 0.1f, 1}, Grey(0), 1.0f);
  EXPECT_NEAR(r.blue, 0.1f + 0.1171875f, 2 * kStep);
  // A float target keeps its values.
  ComposeSettings f = s;
  f.targetIsFloat = true;
  EXPECT_EQ(ComposePixel(f, 0, 0, {1.5f, 0.2f, 0.2f, 1}, Grey(0), 1.0f).green, 0.2f);
}

TEST(ComposePixel, OrAboveOneIsLoweredToOne) {
  const Colour f = Grey(1.0f), o = Grey(32767 * kStep);
  EXPECT_EQ(ComposePixel(Settings(37, 0), 0, 0, f, o, 1.0f).red, 1.0f);
}

}  // namespace
