// Tests of the HSL / HSY conversions, the bias curve and the portable math helpers.
#include "glue/colour_convert.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct HueCase {
  float r, g, b, hue;
};

TEST(RgbToHsl, PrimaryAndSecondaryHues) {
  const HueCase cases[] = {
      {1, 0, 0, 1.0f},           {1, 1, 0, 1.0f / 6},     {0, 1, 0, 1.0f / 3},
      {0, 1, 1, 0.5f},           {0, 0, 1, 2.0f / 3},     {1, 0, 1, 5.0f / 6},
      {0.8f, 0.2f, 0.2f, 1.0f},  {0.5f, 0.25f, 0.0f, 1.0f / 12},
  };
  for (const HueCase& c : cases) {
    float h, s, l;
    RgbToHsl(c.r, c.g, c.b, h, s, l);
    EXPECT_NEAR(h, c.hue, 1e-6) << c.r << " " << c.g << " " << c.b;
  }
}

TEST(RgbToHsl, RedLargestGreenSmallestLandsInLastSixth) {
  for (float g = 0; g <= 0.5f; g += 0.05f)
    for (float b = g; b <= 0.9f; b += 0.1f) {
      float h, s, l;
      RgbToHsl(1.0f, g, b, h, s, l);
      EXPECT_GE(h, 5.0f / 6 - 1e-6f) << g << " " << b;
      EXPECT_LE(h, 1.0f) << g << " " << b;
    }
}

TEST(RgbToHsl, BlackAndGreysHaveNoHueOrSaturation) {
  for (float v : {0.0f, 0.1f, 0.5f, 0.73f, 1.0f}) {
    float h, s, l, y;
    RgbToHsl(v, v, v, h, s, l);
    EXPECT_EQ(h, 0.0f);
    EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(l, v);
    RgbToHsy(v, v, v, h, s, y);
    EXPECT_FLOAT_EQ(y, v);  // a grey's hue brightness is 0.5, so luma equals lightness
    float r, g, b;
    HslToRgb(h, s, l, r, g, b);
    EXPECT_EQ(r, v);
    EXPECT_EQ(g, v);
    EXPECT_EQ(b, v);
  }
}

TEST(HslToRgb, HueOneIsHueZero) {
  for (float s : {0.3f, 1.0f})
    for (float l : {0.2f, 0.5f, 0.8f}) {
      float r0, g0, b0, r1, g1, b1;
      HslToRgb(0.0f, s, l, r0, g0, b0);
      HslToRgb(1.0f, s, l, r1, g1, b1);
      EXPECT_EQ(r0, r1);
      EXPECT_EQ(g0, g1);
      EXPECT_EQ(b0, b1);
    }
}

TEST(HslToRgb, OddHuesStayFinite) {
  for (float h : {-0.25f, 7.5f, NAN, INFINITY, -INFINITY}) {
    float r, g, b;
    HslToRgb(h, 0.5f, 0.5f, r, g, b);
    EXPECT_FALSE(std::isinf(r) || std::isinf(g) || std::isinf(b)) << h;
  }
}

// Every colour of a 16-level grid converts there and back; the tolerance covers float
// rounding of the divisions.
TEST(ColourRoundTrip, HslAndHsyOverAGrid) {
  double worstHsl = 0, worstHsy = 0;
  for (int i = 0; i < 16; ++i)
    for (int j = 0; j < 16; ++j)
      for (int k = 0; k < 16; ++k) {
        float r = i / 15.0f, g = j / 15.0f, b = k / 15.0f;
        float h, s, l, y, r2, g2, b2;
        RgbToHsl(r, g, b, h, s, l);
        HslToRgb(h, s, l, r2, g2, b2);
        worstHsl = std::fmax(worstHsl, std::fmax(std::fabs(r - r2),
                                                 std::fmax(std::fabs(g - g2), std::fabs(b - b2))));
        RgbToHsy(r, g, b, h, s, y);
        HsyToRgb(h, s, y, r2, g2, b2);
        worstHsy = std::fmax(worstHsy, std::fmax(std::fabs(r - r2),
                                                 std::fmax(std::fabs(g - g2), std::fabs(b - b2))));
      }
  EXPECT_LT(worstHsl, 2e-6);
  EXPECT_LT(worstHsy, 1e-5);
}

TEST(HsyToRgb, LumaOneIsWhiteAndZeroIsBlack) {
  for (float h = 0; h <= 1.0f; h += 0.125f)
    for (float s : {0.0f, 0.4f, 1.0f}) {
      float r, g, b;
      HsyToRgb(h, s, 1.0f, r, g, b);
      EXPECT_EQ(r, 1.0f);
      EXPECT_EQ(g, 1.0f);
      EXPECT_EQ(b, 1.0f);
      HsyToRgb(h, s, 0.0f, r, g, b);
      EXPECT_EQ(r, 0.0f);
      EXPECT_EQ(g, 0.0f);
      EXPECT_EQ(b, 0.0f);
    }
}

TEST(HsyToRgb, EqualLumaMakesBlueLighterThanYellow) {
  EXPECT_NEAR(HueBrightness(2.0f / 3, 1.0f), 0.20f, 1e-6);
  EXPECT_NEAR(HueBrightness(1.0f / 6, 1.0f), 0.80f, 1e-6);
  EXPECT_EQ(HueBrightness(0.3f, 0.0f), 0.5f);
  float r, g, b, hb, sb, lb, hy, sy, ly;
  HsyToRgb(2.0f / 3, 1.0f, 0.4f, r, g, b);
  RgbToHsl(r, g, b, hb, sb, lb);
  HsyToRgb(1.0f / 6, 1.0f, 0.4f, r, g, b);
  RgbToHsl(r, g, b, hy, sy, ly);
  EXPECT_GT(lb, ly);
}

TEST(LumaToLightness, InvertsLightnessToLuma) {
  for (float d : {0.2f, 0.5f, 0.8f})
    for (float l = 0.0f; l <= 1.0f; l += 0.0625f)
      EXPECT_NEAR(LumaToLightness(d, LightnessToLuma(d, l)), l, 1e-6) << d << " " << l;
  EXPECT_EQ(LightnessToLuma(0.3f, 0.5f), 0.3f);
  EXPECT_EQ(LumaToLightness(2.0f, 0.5f), 0.25f);  // d is limited to 1 first
}

TEST(Bias, EndsIdentityAndAgreementWithPow) {
  for (float b : {0.1f, 0.3f, 0.5f, 0.74f, 0.9f}) {
    EXPECT_EQ(Bias(0.0f, b), 0.0f);
    EXPECT_EQ(Bias(1.0f, b), 1.0f);
  }
  for (int i = 0; i <= 1500; ++i) {
    float t = float(i) / 1500;
    EXPECT_EQ(Bias(t, 0.5f), t) << i;  // -log2 0.5 rounds to exactly 1 in float
  }
  for (float b : {0.1f, 0.26f, 0.62f, 0.9f})
    for (int i = 1; i <= 1500; i += 7) {
      float t = float(i) / 1500;
      float e = float(std::log(double(b)) * -1.4426950216293335);
      float expected = float(std::pow(double(t), double(e)));
      EXPECT_NEAR(Bias(t, b), expected, std::fabs(expected) * 2.4e-7) << t << " " << b;
    }
  EXPECT_LT(Bias(0.5f, 0.1f), 0.5f);
  EXPECT_GT(Bias(0.5f, 0.9f), 0.5f);
}

TEST(PortableMath, AgreesWithTheRuntimeLibrary) {
  for (double x : {1e-300, 1e-10, 0.001, 0.1, 0.5, 0.70710678, 0.9999999, 1.0, 1.5, 2.0,
                   3.14159, 100.0, 1e10, 1e300}) {
    EXPECT_NEAR(PortableLog(x), std::log(x), 4e-16 * std::fmax(1.0, std::fabs(std::log(x))))
        << x;
  }
  for (double x : {-1074.5, -1030.0, -100.25, -1.0, -0.3, 0.0, 0.3, 0.5, 1.0, 7.77, 1023.9})
    EXPECT_NEAR(PortableExp2(x) / std::exp2(x), 1.0, 4e-16) << x;
  for (double x : {0.001, 0.25, 0.5, 0.9, 1.0, 2.5})
    for (double y : {-3.3, -1.0, 0.152, 0.5, 1.0, 2.0, 3.32})
      EXPECT_NEAR(PortablePow(x, y) / std::pow(x, y), 1.0, 4e-15) << x << " " << y;
  EXPECT_EQ(PortablePow(0.0, 2.0), 0.0);
  EXPECT_EQ(PortablePow(0.0, 0.0), 1.0);
  EXPECT_TRUE(std::isnan(PortableLog(-1.0)));
  EXPECT_EQ(PortableLog(0.0), -INFINITY);
  for (double x = -20.0; x <= 20.0; x += 0.37) {
    // Radians are turned into turns first, so the error grows with |x|.
    EXPECT_NEAR(PortableSin(x), std::sin(x), 2.5e-16 * (1 + std::fabs(x))) << x;
    EXPECT_NEAR(PortableCos(x), std::cos(x), 2.5e-16 * (1 + std::fabs(x))) << x;
  }
  const double kTwoPi = 6.283185307179586;
  for (double x : {1.0, 0.3, 0.0, -0.4, -1.0})
    for (double y : {1.0, 0.7, 1e-9, -0.2, -1.0}) {
      double expected = std::atan2(y, x) / kTwoPi;
      if (expected < 0) expected += 1.0;
      EXPECT_NEAR(AngleTurns(x, y), expected, 1e-15) << x << " " << y;
    }
  EXPECT_EQ(AngleTurns(1.0, 0.0), 0.0);
  EXPECT_EQ(AngleTurns(0.0, 1.0), 0.25);
  EXPECT_EQ(AngleTurns(0.0, 0.0), 0.0);
  double s, c;
  SinCosTurns(0.25, s, c);
  EXPECT_EQ(s, 1.0);
  EXPECT_NEAR(c, 0.0, 1e-16);
}

}  // namespace
