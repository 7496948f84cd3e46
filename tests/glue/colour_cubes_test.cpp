// Tests of the generated colour cubes and of the tetrahedral cube lookup.
#include "glue/colour_cubes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "glue/glue_blend.h"

namespace {

const uint8_t* Node(const uint8_t* cube, int i, int j, int k) {
  return cube + 3 * (i + 16 * j + 256 * k);
}

void ExpectNode(const uint8_t* cube, int i, int j, int k, int v0, int v1, int v2) {
  const uint8_t* n = Node(cube, i, j, k);
  EXPECT_EQ(n[0], v0) << i << "," << j << "," << k;
  EXPECT_EQ(n[1], v1) << i << "," << j << "," << k;
  EXPECT_EQ(n[2], v2) << i << "," << j << "," << k;
}

TEST(ColourCubes, GreyAxisCornersAndFixedInverseNodes) {
  const int grey[16] = {0, 17, 48, 72, 93, 112, 130, 147, 163, 177, 191, 204, 218, 230, 243, 255};
  for (int i = 0; i < 16; ++i) ExpectNode(kForwardCube, i, i, i, grey[i], 128, 128);
  ExpectNode(kForwardCube, 15, 0, 0, 144, 208, 208);   // red
  ExpectNode(kForwardCube, 0, 15, 0, 214, 51, 207);    // green
  ExpectNode(kForwardCube, 0, 0, 15, 104, 158, 33);    // blue
  ExpectNode(kForwardCube, 15, 15, 0, 243, 119, 222);  // yellow
  ExpectNode(kForwardCube, 15, 0, 15, 170, 204, 77);   // magenta
  ExpectNode(kForwardCube, 0, 15, 15, 228, 75, 111);   // cyan
  ExpectNode(kInverseCube, 15, 7, 7, 225, 255, 255);
  ExpectNode(kInverseCube, 15, 8, 8, 255, 249, 237);
  ExpectNode(kInverseCube, 8, 8, 8, 144, 121, 112);
}

// The forward cube is an opponent space: L rises with every channel, and a* and b* grow
// with red and fall with blue (the two opponent axes).
TEST(ColourCubes, ForwardCubeIsAnOpponentSpace) {
  for (int k = 0; k < 16; ++k)
    for (int j = 0; j < 16; ++j)
      for (int i = 0; i < 15; ++i) {
        EXPECT_LE(Node(kForwardCube, i, j, k)[0], Node(kForwardCube, i + 1, j, k)[0]);
        EXPECT_LE(Node(kForwardCube, i, j, k)[1], Node(kForwardCube, i + 1, j, k)[1]);
        EXPECT_LE(Node(kForwardCube, j, k, i)[0], Node(kForwardCube, j, k, i + 1)[0]);
        EXPECT_GE(Node(kForwardCube, j, k, i)[2], Node(kForwardCube, j, k, i + 1)[2]);
      }
}

TEST(CubeLookup, NodesComeOutAt128AndAHalfTimesTheirBytes) {
  for (int i = 0; i < 16; ++i) {
    int32_t c = int32_t(i * kCubeScale15 + 0.5f);
    int32_t out[3];
    CubeLookup(kForwardCube, c, c, c, kCubeScale15, out);
    const uint8_t* n = Node(kForwardCube, i, i, i);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(out[k], n[k] * 128.5, 130) << i;
  }
  // The 8-bit form: scale 17 walks whole bytes.
  int32_t out[3];
  CubeLookup(kForwardCube, 255, 0, 0, kCubeScale8, out);
  EXPECT_EQ(out[0], 144);
  EXPECT_EQ(out[1], 208);
}

TEST(CubeLookup, SamplesAboveOneStayOnTheLastNode) {
  int32_t out[3];
  CubeLookup(kForwardCube, 40000, 32768, 1 << 30, kCubeScale15, out);
  for (int k = 0; k < 3; ++k) EXPECT_GE(out[k], 0);
  CubeLookup(kForwardCube, 32768, 32768, 32768, kCubeScale15, out);
  EXPECT_NEAR(out[0], 255 * 128.5, 130);
}

struct RoundTripError {
  double mean;
  int worst;
};

// Sends every fifth level of each channel in [low, 255 - low] through both cubes.
RoundTripError MeasureRoundTrip(int low) {
  double sum = 0;
  int worst = 0, count = 0;
  for (int r = low; r <= 255 - low; r += 5)
    for (int g = low; g <= 255 - low; g += 5)
      for (int b = low; b <= 255 - low; b += 5) {
        const int rgb[3] = {r, g, b};
        int32_t lab[3], back[3];
        CubeLookup(kForwardCube, r * 128, g * 128, b * 128, kCubeScale15, lab);
        CubeLookup(kInverseCube, lab[0], lab[1], lab[2], kCubeScale15, back);
        for (int k = 0; k < 3; ++k) {
          int error = std::abs(int(std::lround(back[k] / 128.5)) - rgb[k]);
          sum += error;
          worst = error > worst ? error : worst;
          ++count;
        }
      }
  return {sum / count, worst};
}

// A colour sent through both cubes comes back close to itself (errors in 8-bit levels).
// Two things limit it: near the cube's faces a dark channel beside bright ones barely
// moves L a* b* (up to 40 levels lost there), and the fixed inverse node (8, 8, 8) sits
// about 19 levels brighter than an exact inverse, which warm mid-tones feel (up to 17).
TEST(CubeLookup, RoundTripThroughBothCubes) {
  RoundTripError whole = MeasureRoundTrip(0);
  EXPECT_LT(whole.mean, 2.0);
  EXPECT_LE(whole.worst, 40);
  RoundTripError core = MeasureRoundTrip(32);
  EXPECT_LT(core.mean, 1.4);
  EXPECT_LE(core.worst, 17);
}

}  // namespace
