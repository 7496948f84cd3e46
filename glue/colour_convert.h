// Pure colour conversions shared by the glue modes and the Velvet Hue kernel: hexcone
// HSL, the hue / saturation / perceptual-luma space (HSY), the bias curve, and the few
// transcendental functions they need.
//
// Every function here is built from + - * / and sqrt only (no libm transcendentals),
// because glibc and the Windows runtime disagree by an ulp on powf, logf, sinf and the
// like; with SSE2 arithmetic the native, x86 and x64 builds then compute the same bits.
//
// Colour values are single-precision floats, nominally 0..1. Hue is a fraction of a
// turn: 1/6 yellow, 1/3 green, 1/2 cyan, 2/3 blue, 5/6 magenta; red comes out of
// RgbToHsl as 1, and HslToRgb takes both 0 and 1 as red.
#pragma once

void RgbToHsl(float r, float g, float b, float& h, float& s, float& l);
void HslToRgb(float h, float s, float l, float& r, float& g, float& b);

// Brightness of the fully lit hue (h, s) at lightness 0.5; white is 1, grey 0.5.
float HueBrightness(float h, float s);
// HSL lightness <-> perceptual luma for a hue of brightness d.
float LightnessToLuma(float d, float l);
float LumaToLightness(float d, float y);

// HSL with the lightness replaced by a luma that weights the hue's own brightness, so a
// hue or saturation change at fixed luma keeps the perceived brightness.
void RgbToHsy(float r, float g, float b, float& h, float& s, float& y);
void HsyToRgb(float h, float s, float y, float& r, float& g, float& b);

// Perlin's bias curve t^(-log2 b): b = 0.5 is the identity, smaller b bends it down.
// t = 0 gives 0, t = 1 gives 1; t below 0 or b outside (0, inf) give 0 or t clamped.
float Bias(float t, float b);

// Portable double-precision replacements, within a few ulp of the exact value.
double PortableLog(double x);                // natural log; -inf at 0, NaN below 0
double PortableExp2(double x);               // 2^x
double PortablePow(double x, double y);      // x^y for x >= 0
double PortableSin(double x);                // radians
double PortableCos(double x);
void SinCosTurns(double turns, double& s, double& c);  // sin and cos of 2 pi turns
double AngleTurns(double x, double y);       // angle of (x, y) / 2 pi, in [0, 1)
