// The per-pixel compose step: the 69 glue modes that merge a filtered colour over the
// original, and the finishing of one pixel (highlight spill, greyscale, flattening,
// the preview checkerboard, the selection mask) before it is written.
//
// Everything here is a pure function of its inputs: the render code reads the original
// pixel and the mask from the host, calls ComposePixel, and writes the result with
// FloatToSample. Colours are floats, 0..1 for 8-bit and 16-bit images and unbounded for
// float images; the glue kernel itself works in 15-bit fixed point (32768 = 1.0).
#pragma once

#include <cstdint>

#include "host/host_services.h"  // Colour

constexpr int32_t kGlueOne = 32768;
// The float step between 15-bit cube nodes, 32768 / 15 as a float; 17 for 8-bit samples.
constexpr float kCubeScale15 = 2184.533447265625f;
constexpr float kCubeScale8 = 17.0f;

// Merges filtered colour f over original o by glue mode 1..69 (any other number acts as
// "normal"). The result's alpha is f's, except for mode 63.
Colour GlueBlend(Colour f, Colour o, int mode);

// Tetrahedral interpolation in a colour cube (colour_cubes.h) of the 15-bit (or 8-bit)
// components c0..c2; out receives the three components in the same scale.
void CubeLookup(const uint8_t* cube, int32_t c0, int32_t c1, int32_t c2, float scale,
                int32_t out[3]);

// Composites s over d in place ("over" with both alphas).
void AlphaOver(Colour s, Colour& d);

// How one render wants its pixels finished; the caller fills it once per render.
struct ComposeSettings {
  int glueMode;
  int renderMode;            // 0 final render into the host, 1 preview, 2 internal image
  bool targetIsFloat;        // a float image (final: ModeIsFloat; image: a float format);
                             // ignored in preview, which is always 8-bit
  bool grey;                 // ModeIsGray
  bool editableTransparency; // EditableTransparency
};

// The finished colour of pixel (x, y) from its filtered colour, the original colour read
// from the host and the selection mask value 0..1. For an integer target the result's
// red, green and blue are within 0..1; a float target gets them limited to 65535.
Colour ComposePixel(const ComposeSettings& settings, int x, int y, Colour filtered,
                    Colour original, float mask);

// The preview's checkerboard: 8-pixel squares of grey 1.0 and 0.8, opaque.
Colour CheckerColour(int x, int y);

// A float sample as an integer of fullRange steps (255 or 32768), rounded to nearest and
// limited to 0..fullRange, so an unchanged 8-bit pixel is written back exactly.
inline int32_t FloatToSample(float value, int32_t fullRange) {
  const double v = double(value) * fullRange + 0.5;
  if (!(v > 0)) return 0;  // also NaN
  if (v >= double(fullRange)) return fullRange;
  return int32_t(v);
}

// The common case of ComposePixel, inline for the render loops: a final render with
// glue "normal" of an opaque, fully selected colour pixel within range. Every step of
// the compose then reduces to the 15-bit round trip of each channel, which
// ComposePlainNormal computes directly, with the same bits.
inline bool ComposeIsPlainNormal(const ComposeSettings& settings, const Colour& filtered,
                                 float mask) {
  return settings.glueMode == 1 && settings.renderMode == 0 && !settings.targetIsFloat &&
         !settings.grey && mask >= 1.0f && filtered.alpha >= 1.0f && filtered.red <= 1.0f &&
         filtered.green <= 1.0f && filtered.blue <= 1.0f;
}
inline float NormalGlueChannel(float v) {
  if (!(v > 0)) return 0.0f;
  if (v >= 1.0f) return 1.0f;
  return float(int32_t(v * 32768.0f)) * (1.0f / 32768.0f);
}
inline Colour ComposePlainNormal(const Colour& f) {
  return {NormalGlueChannel(f.red), NormalGlueChannel(f.green), NormalGlueChannel(f.blue), 1.0f};
}
