// Pins the exact bits of the colour math: a checksum over a table of results must equal
// a constant. The native, Windows x86 and Windows x64 test binaries all run this test,
// so a passing run on each proves they compute identical pixels. When the math changes
// on purpose, take the new values from the failure message of a native run.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "glue/colour_convert.h"
#include "glue/glue_blend.h"

namespace {

// FNV-1a over the bit patterns of the results.
struct Checksum {
  uint64_t value = 14695981039346656037ull;
  void Add(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) value = (value ^ p[i]) * 1099511628211ull;
  }
  void Add(float v) { Add(&v, sizeof v); }
  void Add(double v) { Add(&v, sizeof v); }
  void Add(int32_t v) { Add(&v, sizeof v); }
  void Add(const Colour& c) {
    Add(c.red);
    Add(c.green);
    Add(c.blue);
    Add(c.alpha);
  }
};

// A fixed pseudo-random sequence, so the table is the same on every build.
struct Sequence {
  uint32_t state = 12345;
  float Next() {
    state = state * 1664525u + 1013904223u;
    return float(state >> 8) * (1.0f / 16777216.0f);
  }
};

TEST(SameBits, GlueModesOverATableOfColours) {
  Checksum sum;
  Sequence random;
  for (int pair = 0; pair < 200; ++pair) {
    Colour f = {random.Next(), random.Next(), random.Next(), random.Next()};
    Colour o = {random.Next(), random.Next(), random.Next(), 1.0f};
    if (pair % 10 == 0) f.red = 0.0f;
    if (pair % 10 == 1) o = f;
    for (int mode = 0; mode <= 70; ++mode) sum.Add(GlueBlend(f, o, mode));
  }
  EXPECT_EQ(sum.value, 11480696537184679117ull);
}

TEST(SameBits, ConversionsAndBiasTable) {
  Checksum sum;
  Sequence random;
  for (int i = 0; i < 2000; ++i) {
    float r = random.Next(), g = random.Next(), b = random.Next();
    float h, s, y, r2, g2, b2;
    RgbToHsy(r, g, b, h, s, y);
    sum.Add(h);
    sum.Add(s);
    sum.Add(y);
    HsyToRgb(h + 0.37f - (h > 0.63f ? 1.0f : 0.0f), s * 0.8f, y, r2, g2, b2);
    sum.Add(r2);
    sum.Add(g2);
    sum.Add(b2);
  }
  // The Velvet Hue gamma table for a spread of gamma settings.
  for (int gamma : {0, 13, 37, 50, 63, 88, 100}) {
    float b = float(gamma * 0.008 + 0.1);
    for (int i = 0; i <= 1500; ++i) sum.Add(Bias(float(i) / 1500, b));
  }
  for (int i = -50; i <= 50; ++i) {
    double x = i * 0.731;
    sum.Add(PortableSin(x));
    sum.Add(PortableCos(x));
    sum.Add(PortableExp2(x));
    sum.Add(PortableLog(x * x + 1e-3));
    sum.Add(AngleTurns(x, 1.0 - i * 0.05));
  }
  EXPECT_EQ(sum.value, 7721872740632045564ull);
}

TEST(SameBits, ComposeOverSettings) {
  Checksum sum;
  Sequence random;
  for (int pixel = 0; pixel < 500; ++pixel) {
    Colour f = {random.Next() * 1.6f, random.Next(), random.Next() * 1.2f, random.Next()};
    Colour o = {random.Next(), random.Next(), random.Next(), random.Next()};
    float mask = pixel % 3 == 0 ? random.Next() : 1.0f;
    ComposeSettings s = {};
    s.glueMode = 1 + pixel % 69;
    s.renderMode = pixel % 3;
    s.targetIsFloat = pixel % 7 == 0;
    s.grey = pixel % 5 == 0;
    s.editableTransparency = pixel % 4 == 0;
    Colour r = ComposePixel(s, pixel % 37, pixel % 23, f, o, mask);
    sum.Add(r);
    sum.Add(FloatToSample(r.green, 255));
    sum.Add(FloatToSample(r.blue, 32768));
  }
  EXPECT_EQ(sum.value, 6259811422943609535ull);
}

}  // namespace
