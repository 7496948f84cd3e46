// Operations on tiled images: pixel access as integer samples or colours, the five-tap
// windowed-sinc sampler with 128 sub-pixel phases, sampling between two levels,
// resampling one image into a rectangle of another and copying; also the bilinear and
// trilinear integer samplers of the pixel-art kernel.
//
// Coordinates are pixel coordinates of the named level unless they are called u, v
// (0..1 across the image). Reads clamp to the level (edge pixels repeat) and give zeros
// for a missing level; writes outside the level do nothing. Sample units are those of
// the format: 0..255 (formats 0, 3), 0..32768 (1, 4), floats (5, 9). The samplers only
// read, so workers may share an image that nobody writes meanwhile.
#pragma once

#include <cstdint>

#include "host/host_abi.h"
#include "host/host_services.h"
#include "render/tiled_image.h"

constexpr int kSincPhases = 128;
constexpr int kSincTaps = 5;

// The sampler's weights for every phase: floats summing to 1, integers summing to 2048
// (8-bit formats) and to 32768 (15-bit formats); tap 4 takes the rounding remainder.
struct SincKernel {
  float f[kSincPhases][kSincTaps];
  int32_t g[kSincPhases][kSincTaps];
  int32_t h[kSincPhases][kSincTaps];
};
// Built once, on first use; read-only afterwards.
const SincKernel& SincKernelTables();
// The Lanczos window of order 2.
double LanczosWindow2(float t);

struct SampleValues {
  float v[4];  // red, green, blue, alpha in sample units
};

// Four integers: format 3 unpacked to 0..255, format 4 the 16-bit samples, format 9 the
// float bit patterns; grey formats repeat their sample in red, green and blue with an
// opaque alpha.
void ReadSamples(const TiledImage* image, int32_t level, int32_t x, int32_t y, int32_t out[4]);
// Format 3 packs four bytes, 4 stores four 16-bit samples, 9 four 32-bit words, 7 the
// first three; grey formats store s0.
void WriteSamples(TiledImage* image, int32_t level, int32_t x, int32_t y, int32_t s0, int32_t s1,
                  int32_t s2, int32_t s3);
// Samples over the full range; grey formats give (g, g, g, 1).
Colour ReadColour(const TiledImage* image, int32_t level, int32_t x, int32_t y);
// Formats 3 and 4: each component times the full range, truncated and limited to the
// range; format 9 the floats as they are; other formats nothing.
void WriteColour(TiledImage* image, int32_t level, int32_t x, int32_t y, const Colour& c);

// The windowed-sinc sample of a level at (px, py), pixel centres at whole numbers.
SampleValues SampleLevel(const TiledImage* image, int32_t level, float px, float py);
// Level `level` (limited to 0 .. highest - 1) blended by f toward the next one, at (u, v).
SampleValues SampleImage(const TiledImage* image, int32_t level, float f, float u, float v);
Colour SampleColour(const TiledImage* image, int32_t level, float f, float u, float v);

// Fills `targetRect` of the target's level 0 from the whole source, at the level chosen
// by log2(source width / target width) - bias, then rebuilds the target's levels. Only
// the source rectangle's width counts. Runs on the calling thread (BuildPyramid uses the
// worker pool).
void ResampleImage(const TiledImage* source, TiledImage* target, const VRect& sourceRect,
                   const VRect& targetRect, float bias);
// Converts pixel by pixel when both level 0s are the same size (grey from RGB by 0.3,
// 0.59, 0.11), else resamples with bias 0.5; then rebuilds the target's levels.
void CopyImage(const TiledImage* source, TiledImage* target);

// The pixel-art kernel's samplers over ReadSamples' integers (formats 3 and 4; a float
// image must be converted first, its integers are bit patterns). Bilinear at (px, py)
// with truncation; trilinear between level min(level, highest - 1) and the next at
// (u, v), blended by f and truncated.
void SampleBilinear(const TiledImage* image, int32_t level, float px, float py, int32_t out[4]);
void SampleTrilinear(const TiledImage* image, int32_t level, float f, float u, float v,
                     int32_t out[4]);
