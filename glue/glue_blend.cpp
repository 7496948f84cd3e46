// The glue modes in 15-bit fixed point, the colour-cube lookup and the per-pixel compose.
#include "glue/glue_blend.h"

#include <cmath>

#include "glue/colour_convert.h"
#include "glue/colour_cubes.h"

namespace {

constexpr int32_t ONE = kGlueOne;
constexpr int32_t HALF = ONE / 2;

struct Fixed3 {
  int32_t c[3];  // red, green, blue
};

// A channel as a 15-bit integer. Samples are limited to 0..1 first: float images carry
// values above 1 (and originals below 0), and the products below would overflow 32 bits
// beyond about 2.0 while a cube lookup would step past its last node.
int32_t ToFixed(float v) {
  if (!(v > 0)) return 0;  // also NaN
  if (v >= 1) return ONE;
  return int32_t(v * 32768.0f);
}

// A float result of the HSL/HSY or float modes back to 15 bits, truncating.
int32_t TruncFixed(float v) {
  if (!(v > -4.0f)) return v < 0 ? -4 * ONE : 0;
  if (v > 4.0f) return 4 * ONE;
  return int32_t(v * 32768.0f);
}

float FromFixed(int32_t v) { return float(v) * (1.0f / 32768.0f); }

int32_t Clamp(int32_t v) { return v < 0 ? 0 : v > ONE ? ONE : v; }
int32_t Max(int32_t a, int32_t b) { return a > b ? a : b; }
int32_t Min(int32_t a, int32_t b) { return a < b ? a : b; }
int32_t Abs(int32_t v) { return v < 0 ? -v : v; }

// Hard light keyed on x, overlay keyed on y, pin light keyed on x.
int32_t HL(int32_t x, int32_t y) {
  return x < HALF ? (x * y) >> 14 : ONE - (((ONE - y) * (ONE - x)) >> 14);
}
int32_t OV(int32_t x, int32_t y) {
  return y > HALF - 1 ? ONE - (((ONE - y) * (ONE - x)) >> 14) : (x * y) >> 14;
}
int32_t PIN(int32_t x, int32_t y) { return x >= HALF ? Max(2 * x - ONE, y) : Min(2 * x, y); }

int32_t Luma(const Fixed3& c) { return (150 * c.c[1] + 77 * c.c[0] + 28 * c.c[2]) >> 8; }

// Mid-tone weight: 0 at t = 0 and 1, 1 at t = 0.5.
float Mid(float t) {
  float u = 2.0f * t;
  if (u > 1.0f) u = 2.0f - u;
  u = 1.0f - u;
  return 1.0f - u * u * u * u;
}

float Dex(float x, float y) {
  float v;
  if (x > y) {
    v = float(y * 0.5 / x);
  } else if (y > 0) {
    v = float(1.0 - x * 0.5 / y);
  } else {
    v = 1.0f;
  }
  return v > 1.0f ? 1.0f : v;
}

float Ant(float v, float o) {
  float p = v * o;
  float w = p * (2.0f - p);
  if (v > 0.8) w = float(w + (v - 0.8) * 5.0 * (v - w));
  if (v < 0.2) w = float(w + (0.2 - v) * 5.0 * (v - w));
  return w < 0 ? 0.0f : w > 1 ? 1.0f : w;
}

// The float modes on one channel pair (glow and shimmer; reflect and lustre swap them).
int32_t Glow(float f, float o) {
  float x = 1.0f - o;
  if (x <= 0) return ONE;
  float v = float(double(f) * f / x);
  return TruncFixed(v < 1.0f ? v : 1.0f);
}
int32_t Shimmer(float f, float o) {
  float x = 1.0f - o;
  if (x <= 0) return ONE;
  float v = float(double(f) * f * 0.5 / x);
  if (v > 0.5f) v = float(1.0 - 0.25 / v);
  return TruncFixed(v);
}

void ToFloat3(const Fixed3& c, float& r, float& g, float& b) {
  r = FromFixed(c.c[0]);
  g = FromFixed(c.c[1]);
  b = FromFixed(c.c[2]);
}

void Hsy(const Fixed3& c, float& h, float& s, float& y) {
  float r, g, b;
  ToFloat3(c, r, g, b);
  RgbToHsy(r, g, b, h, s, y);
}

void Hsl(const Fixed3& c, float& h, float& s, float& l) {
  float r, g, b;
  ToFloat3(c, r, g, b);
  RgbToHsl(r, g, b, h, s, l);
}

Fixed3 FromHsy(float h, float s, float y) {
  float r, g, b;
  HsyToRgb(h, s, y, r, g, b);
  return {{TruncFixed(r), TruncFixed(g), TruncFixed(b)}};
}

Fixed3 FromHsl(float h, float s, float l) {
  float r, g, b;
  HslToRgb(h, s, l, r, g, b);
  return {{TruncFixed(r), TruncFixed(g), TruncFixed(b)}};
}

// Bright and dim compare luma sums with their low 8 bits cleared.
int32_t CoarseSum(const Fixed3& c) {
  return (150 * c.c[1] + 77 * c.c[0] + 28 * c.c[2]) & ~255;
}

// Each channel mixed from a toward b by a weight taken from another channel.
Fixed3 CrossMix(const Fixed3& a, const Fixed3& b, const Fixed3& weights, int forRed,
                int forGreen, int forBlue) {
  const int weightOf[3] = {forRed, forGreen, forBlue};
  Fixed3 out;
  for (int i = 0; i < 3; ++i) {
    int32_t w = weights.c[weightOf[i]];
    out.c[i] = (b.c[i] * w + (ONE - w) * a.c[i]) >> 15;
  }
  return out;
}

Fixed3 Frontal(const Fixed3& a, const Fixed3& b) {
  float hA, sA, lA, hB, sB, lB;
  Hsl(a, hA, sA, lA);
  Hsl(b, hB, sB, lB);
  double sinA, cosA, sinB, cosB;
  SinCosTurns(hA, sinA, cosA);
  SinCosTurns(hB, sinB, cosB);
  float xA = sA * float(cosA), yA = sA * float(sinA);
  float xB = sB * float(cosB), yB = sB * float(sinB);
  float u = Mid(lA) * Mid(lB);
  float x = xA + u * (xB - xA);
  float y = yA + u * (yB - yA);
  float hue = float(AngleTurns(x, y));
  if (hue >= 1.0f) hue = 0.0f;
  float saturation = std::sqrt(x * x + y * y);
  return FromHsl(hue, saturation, lA < lB ? lA : lB);
}

enum class CubeMix { kMultiplyOverlay, kScreenOverlay, kPin, kPinSwapped };

Fixed3 CubeMode(const Fixed3& a, const Fixed3& b, CubeMix mix) {
  int32_t la[3], lb[3], lab[3];
  CubeLookup(kForwardCube, a.c[0], a.c[1], a.c[2], kCubeScale15, la);
  CubeLookup(kForwardCube, b.c[0], b.c[1], b.c[2], kCubeScale15, lb);
  switch (mix) {
    case CubeMix::kMultiplyOverlay:
      lab[0] = (la[0] * lb[0]) >> 15;
      lab[1] = OV(la[1], lb[1]);
      lab[2] = OV(la[2], lb[2]);
      break;
    case CubeMix::kScreenOverlay:
      lab[0] = ONE - (((ONE - lb[0]) * (ONE - la[0])) >> 15);
      lab[1] = OV(la[1], lb[1]);
      lab[2] = OV(la[2], lb[2]);
      break;
    case CubeMix::kPin:
      for (int i = 0; i < 3; ++i) lab[i] = PIN(la[i], lb[i]);
      break;
    case CubeMix::kPinSwapped:
      for (int i = 0; i < 3; ++i) lab[i] = PIN(lb[i], la[i]);
      break;
  }
  // The mixes stay within 0..ONE for inputs in range; clamping keeps the lookup inside.
  Fixed3 out;
  CubeLookup(kInverseCube, Clamp(lab[0]), Clamp(lab[1]), Clamp(lab[2]), kCubeScale15, out.c);
  return out;
}

// The modes that work channel by channel on the 15-bit integers.
int32_t BlendChannel(int32_t a, int32_t b, int mode) {
  switch (mode) {
    case 2: {  // procedural +
      int32_t w = b < HALF ? b / 2 : HALF - b / 2;
      return (a * w + (HALF - w) * b) >> 14;
    }
    case 3: return Min(a + ((a * b) >> 15), ONE);                   // procedural -
    case 4:                                                          // difference
    case 14: return ((ONE - a) * b + (ONE - b) * a) >> 15;           // exclusion
    case 5: return Max(a, b);                                        // lighten
    case 6: return Min(a, b);                                        // darken
    case 7: return Min(a + b, ONE);                                  // add
    case 8: return Max(a - b, 0);                                    // subtract
    case 9: return (a * b) >> 15;                                    // multiply
    case 10: return a + (((ONE - a) * b) >> 15);                     // screen
    case 11: return HL(a, b);                                        // hard light
    case 12: return OV(a, b);                                        // overlay
    case 13: {                                                       // superlay
      int32_t m = (a * b) >> 15;
      int32_t s = ONE - (((ONE - a) * b) >> 15) - a;
      int32_t x = (ONE - m) * (ONE - m);
      int32_t sq = (s * s) >> 15;
      if (x < 536903680) return ONE - (((x >> 15) * sq) >> 14);
      return ((ONE - sq) * (ONE - (x >> 15))) >> 14;
    }
    case 17: return Clamp(b + 2 * a - ONE);                          // linear light
    case 18: return PIN(a, b);                                       // pin light
    case 19: return PIN(b, a);                                       // spin light
    case 20: {                                                       // vivid a, in 8 bits
      int32_t a8 = ((a + 1) & 0x8000) ? 255 : ((a + 1) >> 7) & 511;
      int32_t b8 = ((b + 1) & 0x8000) ? 255 : ((b + 1) >> 7) & 511;
      int32_t r = a8 < 128 ? (256 * b8 - 65280) / (2 * a8 + 1) + 255
                           : (256 * b8) / (511 - 2 * a8);
      if (r < 0) return 0;
      if (r > 254) return ONE;
      return (r << 7) | (r >> 1);
    }
    case 21: return Clamp(2 * a - b);                                // vivid b
    case 24:                                                         // similarity
    case 68: {                                                       // negation
      int32_t s = a + b;
      return s > ONE ? 2 * ONE - s : s;
    }
    case 25: {                                                       // cross
      int32_t da = a - HALF, db = b - HALF;
      return Clamp(ONE - Abs(da * da / 8192 - db * db / 8192));
    }
    case 26: return Abs(a - b);                                      // hard diff
    case 27: {                                                       // soft light
      if (a < HALF) return (a * b + (b * b / ONE) * (HALF - a)) >> 14;
      int32_t c = 255 - b / 128;
      return (255 - (((c * c / 256) * (a / 128 - 130) + (258 - a / 128) * c) >> 7)) * 128;
    }
    case 30: return a == ONE ? a : Clamp((b * ONE) / (ONE - a));     // dodge
    case 31: return Clamp(((b - ONE) * ONE) / (a + 1) + ONE);        // burn
    case 32: return ((ONE - a) * b + a * a) >> 15;                   // ace
    case 33: return (b * (a - b + ONE)) >> 15;                       // king
    case 34: return ((b - a + ONE) * a) >> 15;                       // queen
    case 35: return ((ONE - b) * a + b * b) >> 15;                   // jack
    case 36: return a & b;                                           // and
    case 37: return a | b;                                           // or
    case 38: return a ^ b;                                           // xor
    case 39: {                                                       // multibright
      float p = float(a * b) * (1.0f / 1073741824.0f);
      return int32_t(p * ((2.0f - p) * 32768.0f));
    }
    case 40: return PIN(PIN(b, a), PIN(b, ONE - a));                 // hot
    case 41: return PIN(PIN(a, b), PIN(a, ONE - b));                 // cold
    case 42: return PIN(OV(a, b), ONE - HL(a, ONE - b));             // wet
    case 43: return PIN(OV(ONE - a, b), HL(a, b));                   // dry
    case 44: return PIN(HL(a, b), OV(a, b));                         // up
    case 45: return PIN(OV(a, b), HL(a, b));                         // down
    case 52: return a + b > ONE ? ONE : 0;                           // hard mix
    case 58: return TruncFixed(Dex(FromFixed(a), FromFixed(b)));     // dextrous
    case 62: {                                                       // screendim
      float s = float(1.0 - double((ONE - a) * (ONE - b)) * (1.0 / 1073741824.0));
      return int32_t(s * s * 32768.0f);
    }
    case 69: {                                                       // contrast negate
      int32_t turned = a > HALF ? ONE - a : a;
      return b < HALF + 1 ? ONE - turned : turned;
    }
    default: return a;                                               // normal, unknown
  }
}

}  // namespace

void CubeLookup(const uint8_t* cube, int32_t c0, int32_t c1, int32_t c2, float scale,
                int32_t out[3]) {
  const int32_t c[3] = {c0, c1, c2};
  int32_t d[3], r[3];
  // Components outside 0..1 are held at the cube's faces, so the weights stay bounded.
  const int32_t top = int32_t(scale * 16.0f);
  for (int k = 0; k < 3; ++k) {
    float v = float(c[k] < 0 ? 0 : c[k] > top ? top : c[k]);
    int32_t node = int32_t(v / scale);
    if (node > 15) node = 15;
    d[k] = node;
    r[k] = int32_t(v - scale * float(node));
    if (r[k] > int32_t(scale)) r[k] = int32_t(scale);
  }
  // Rank the components by remainder; equal remainders keep the earlier order.
  int smallest = 0, middle = 1, largest = 2;
  if (r[0] > r[1]) {
    smallest = 1;
    middle = 0;
  }
  if (r[smallest] > r[2]) {
    largest = smallest;
    smallest = 2;
  }
  if (r[middle] > r[largest]) {
    int t = middle;
    middle = largest;
    largest = t;
  }
  // Walk from the base node one step along each axis, largest remainder first. A step
  // past the last node (only for samples above 1.0) stays on it.
  int32_t node[3] = {d[0], d[1], d[2]};
  auto at = [&]() { return cube + 3 * (node[0] + 16 * node[1] + 256 * node[2]); };
  auto step = [&](int axis) {
    if (node[axis] < 15) ++node[axis];
  };
  int32_t sum[3];
  const uint8_t* n = at();
  int32_t w = int32_t(scale - float(r[largest]));
  for (int k = 0; k < 3; ++k) sum[k] = n[k] * w;
  step(largest);
  n = at();
  w = r[largest] - r[middle];
  for (int k = 0; k < 3; ++k) sum[k] += n[k] * w;
  step(middle);
  n = at();
  w = r[middle] - r[smallest];
  for (int k = 0; k < 3; ++k) sum[k] += n[k] * w;
  step(smallest);
  n = at();
  w = r[smallest];
  for (int k = 0; k < 3; ++k) out[k] = (sum[k] + n[k] * w) / 17;
}

void AlphaOver(Colour s, Colour& d) {
  if (s.alpha <= 0) return;
  float k = s.alpha / (s.alpha + d.alpha - s.alpha * d.alpha);
  d.red = d.red + k * (s.red - d.red);
  d.green = d.green + k * (s.green - d.green);
  d.blue = d.blue + k * (s.blue - d.blue);
  d.alpha = d.alpha + s.alpha * (1.0f - d.alpha);
}

// a and b are the filtered and original channels as 15-bit integers (ONE = 32768 is 1.0),
// A and B the whole filtered and original colours; float modes use f and o unconverted.
Colour GlueBlend(Colour f, Colour o, int mode) {
  const Fixed3 A = {{ToFixed(f.red), ToFixed(f.green), ToFixed(f.blue)}};
  const Fixed3 B = {{ToFixed(o.red), ToFixed(o.green), ToFixed(o.blue)}};
  Fixed3 R = A;
  float h, s, y, hB, sB, yB;
  switch (mode) {
    case 1:  // normal: the filtered colour, by far the most used; no per-channel switch
      break;
    // Where only hue and saturation of a colour are used, its HSL form gives the same
    // two values without the luma's extra conversion.
    case 15:  // color: A's hue and saturation at B's luma
      Hsl(A, h, s, y);
      R = FromHsy(h, s, FromFixed(Luma(B)));
      break;
    case 16:  // luminance: B's hue and saturation at A's luma
      Hsl(B, hB, sB, yB);
      R = FromHsy(hB, sB, FromFixed(Luma(A)));
      break;
    case 22:  // saturation: A's saturation with B's hue and luma
      Hsl(A, h, s, y);
      Hsy(B, hB, sB, yB);
      R = FromHsy(hB, s, yB);
      break;
    case 23:  // hue: A's hue with B's saturation and luma
      Hsl(A, h, s, y);
      Hsy(B, hB, sB, yB);
      R = FromHsy(h, sB, yB);
      break;
    case 28:  // bright
      R = CoarseSum(A) < CoarseSum(B) ? B : A;
      break;
    case 29:  // dim
      R = CoarseSum(B) < CoarseSum(A) ? B : A;
      break;
    case 46:  // wax
    case 47: {  // wane
      float l;
      Hsl(A, h, s, l);
      float weight = Mid(l) * (mode == 46 ? s : 1.0f - s);
      for (int i = 0; i < 3; ++i)
        R.c[i] = int32_t(float(B.c[i]) * (1.0f - weight) + float(A.c[i]) * weight);
      break;
    }
    case 48: R = CrossMix(A, B, A, 1, 2, 0); break;  // north
    case 49: R = CrossMix(A, B, A, 2, 0, 1); break;  // south
    case 50: R = CrossMix(A, B, B, 1, 2, 0); break;  // east
    case 51: R = CrossMix(A, B, B, 2, 0, 1); break;  // west
    case 53: R = Frontal(A, B); break;
    case 54: R = CubeMode(A, B, CubeMix::kMultiplyOverlay); break;  // parietal
    case 55: R = CubeMode(A, B, CubeMix::kScreenOverlay); break;    // temporal
    case 56: R = CubeMode(A, B, CubeMix::kPin); break;              // occipital
    case 57: R = CubeMode(A, B, CubeMix::kPinSwapped); break;       // limbic
    case 59:  // sinister
      Hsy(A, h, s, y);
      R = FromHsy(h, s, Dex(y, FromFixed(Luma(B))));
      break;
    case 60:  // anterior
      Hsy(A, h, s, y);
      Hsy(B, hB, sB, yB);
      R = FromHsy(h, s, Ant(y, yB));
      break;
    case 61:  // posterior
      Hsy(B, hB, sB, yB);
      Hsy(A, h, s, y);
      R = FromHsy(hB, sB, Ant(yB, y));
      break;
    case 63: {  // starbright: the filtered brightness becomes opacity
      float m = f.red > f.green ? f.red : f.green;
      if (f.blue > m) m = f.blue;
      if (m > 1.0f) m = 1.0f;
      if (!(m > 0)) return {0, 0, 0, 0};
      return {f.red / m, f.green / m, f.blue / m, m};
    }
    case 64:  // glow
      R = {{Glow(f.red, o.red), Glow(f.green, o.green), Glow(f.blue, o.blue)}};
      break;
    case 65:  // reflect
      R = {{Glow(o.red, f.red), Glow(o.green, f.green), Glow(o.blue, f.blue)}};
      break;
    case 66:  // shimmer
      R = {{Shimmer(f.red, o.red), Shimmer(f.green, o.green), Shimmer(f.blue, o.blue)}};
      break;
    case 67:  // lustre
      R = {{Shimmer(o.red, f.red), Shimmer(o.green, f.green), Shimmer(o.blue, f.blue)}};
      break;
    default:
      for (int i = 0; i < 3; ++i) R.c[i] = BlendChannel(A.c[i], B.c[i], mode);
      break;
  }
  return {FromFixed(R.c[0]), FromFixed(R.c[1]), FromFixed(R.c[2]), f.alpha};
}

Colour CheckerColour(int x, int y) {
  float grey = ((x ^ y) & 8) == 0 ? 1.0f : 0.8f;
  return {grey, grey, grey, 1.0f};
}

namespace {

// Lets a single channel above 1 bleed into the other two, so an over-bright primary
// turns towards white instead of clipping to a flat colour.
void SpillHighlights(Colour& c) {
  float* ch[3] = {&c.red, &c.green, &c.blue};
  int above = 0, which = -1;
  float excess = 0;
  for (int i = 0; i < 3; ++i)
    if (*ch[i] > 1.0f) {
      excess += *ch[i] - 1.0f;
      ++above;
      which = i;
    }
  float f = excess * 60.0f * 0.00390625f;
  float g = f * 0.5f;
  if (above == 1) {
    // The other two in cascade order: red's partners green then blue; green's and
    // blue's partners red then the remaining one.
    float* first = which == 0 ? ch[1] : ch[0];
    float* second = which == 2 ? ch[1] : ch[2];
    *first += g;
    *second += g;
    if (*first > 1.0f) *second += *first - 1.0f;
    if (*second > 1.0f) *first += *second - 1.0f;
  } else if (above == 2) {
    for (int i = 0; i < 3; ++i)
      if (!(*ch[i] > 1.0f)) *ch[i] += f;
  }
}

float RaiseToZero(float v) { return v > 0 ? v : 0.0f; }  // NaN becomes 0 too

}  // namespace

Colour ComposePixel(const ComposeSettings& settings, int x, int y, Colour filtered,
                    Colour original, float mask) {
  // The common case of a final render with glue "normal": an opaque, fully selected
  // colour pixel within range. The steps below then reduce to the 15-bit round trip of
  // each channel, which this computes directly, with the same bits.
  if (ComposeIsPlainNormal(settings, filtered, mask)) return ComposePlainNormal(filtered);

  const bool preview = settings.renderMode == 1;
  const bool floatTarget = settings.targetIsFloat && !preview;
  Colour f = filtered;

  // No alpha boost here: integer samples are rounded to nearest when written, so an
  // alpha that came from a sample goes back to the same sample. (A 0.7% boost would only
  // make up for truncation, and with rounding it would change the transparency of
  // untouched pixels.)
  f.alpha = f.alpha > 0 ? (f.alpha < 1.0f ? f.alpha : 1.0f) : 0.0f;
  f.red = RaiseToZero(f.red);
  f.green = RaiseToZero(f.green);
  f.blue = RaiseToZero(f.blue);

  if (!floatTarget) SpillHighlights(f);

  if (settings.grey) {
    float grey = float(0.3 * f.red + 0.59 * f.green + 0.11 * f.blue);
    f.red = f.green = f.blue = grey;
  }

  Colour result;
  if (floatTarget) {
    result = f;  // a final float image ignores the glue mode
    result.red = result.red < 65535.0f ? result.red : 65535.0f;
    result.green = result.green < 65535.0f ? result.green : 65535.0f;
    result.blue = result.blue < 65535.0f ? result.blue : 65535.0f;
  } else {
    result = GlueBlend(f, original, settings.glueMode);
    if (result.alpha < 1.0f && settings.renderMode == 0 && !settings.editableTransparency) {
      Colour flat = original;  // the layer cannot hold transparency: flatten now
      AlphaOver(result, flat);
      result = flat;
    }
    result.red = result.red < 1.0f ? result.red : 1.0f;
    result.green = result.green < 1.0f ? result.green : 1.0f;
    result.blue = result.blue < 1.0f ? result.blue : 1.0f;
  }

  if (preview) {
    Colour board = CheckerColour(x, y);
    AlphaOver(result, board);
    result = board;
  }

  if (mask < 1.0f) {
    const Colour base = preview ? CheckerColour(x, y) : original;
    result.red = base.red + mask * (result.red - base.red);
    result.green = base.green + mask * (result.green - base.green);
    result.blue = base.blue + mask * (result.blue - base.blue);
    result.alpha = base.alpha + mask * (result.alpha - base.alpha);
  }
  return result;
}

