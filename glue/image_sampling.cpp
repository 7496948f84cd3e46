// Pixel access, windowed-sinc sampling, resampling and copying of tiled images.
#include "glue/image_sampling.h"

#include <cmath>
#include <cstring>

#include "glue/colour_convert.h"

namespace {

constexpr double kPi = 3.141592653;
constexpr double kLog2E = 1.442695040888963;

bool IsGreyFormat(int32_t format) {
  return format == kTiledGrey8 || format == kTiledGrey16 || format == kTiledChannel16 ||
         format == kTiledGreyFloat;
}

int32_t FloatBits(float value) {
  int32_t bits;
  std::memcpy(&bits, &value, 4);
  return bits;
}

inline uint16_t Load16(const uint8_t* p, int i) {
  uint16_t v;
  std::memcpy(&v, p + 2 * i, 2);
  return v;
}

// One pixel as four integers (see ReadSamples).
void DecodeSamples(int32_t format, const uint8_t* p, int32_t out[4]) {
  switch (format) {
    case kTiledGrey8:
      out[0] = out[1] = out[2] = p[0];
      out[3] = 255;
      break;
    case kTiledGrey16:
      out[0] = out[1] = out[2] = Load16(p, 0);
      out[3] = 32768;
      break;
    case kTiledChannel16:
      out[0] = out[1] = out[2] = Load16(p, 0);
      out[3] = 65535;
      break;
    case kTiledRgba8: {
      uint32_t word;
      std::memcpy(&word, p, 4);
      out[0] = int32_t(word >> 24);
      out[1] = int32_t((word >> 16) & 255);
      out[2] = int32_t((word >> 8) & 255);
      out[3] = int32_t(word & 255);
      break;
    }
    case kTiledRgba16:
      for (int i = 0; i < 4; ++i) out[i] = Load16(p, i);
      break;
    case kTiledGreyFloat:
      std::memcpy(&out[0], p, 4);
      out[1] = out[2] = out[0];
      out[3] = FloatBits(1.0f);
      break;
    case kTiledRgb16:
      for (int i = 0; i < 3; ++i) out[i] = Load16(p, i);
      out[3] = 65535;
      break;
    case kTiledRgbaFloat:
      std::memcpy(out, p, 16);
      break;
    default:
      out[0] = out[1] = out[2] = out[3] = 0;
      break;
  }
}

// A float times the full range, truncated and limited to 0..range (NaN gives 0).
int32_t ScaleToSample(float value, float range) {
  const float v = value * range;
  if (!(v > 0.0f)) return 0;
  if (v >= range) return int32_t(range);
  return int32_t(v);
}

// Writes a grey value (a fraction of the full range, as ReadColour gives it) into a
// grey format.
void WriteGrey(TiledImage* image, int32_t level, int32_t x, int32_t y, float value) {
  int32_t sample;
  switch (image->format) {
    case kTiledGreyFloat:
      sample = FloatBits(value);
      break;
    case kTiledChannel16:  // full range 1.0: the value is the sample
      sample = !(value > 0.0f) ? 0 : value >= 65535.0f ? 65535 : int32_t(value);
      break;
    default:
      sample = ScaleToSample(value, image->fullRange);
      break;
  }
  WriteSamples(image, level, x, y, sample, 0, 0, 0);
}

bool IsSampledFormat(int32_t format) {
  return format == kTiledGrey8 || format == kTiledGrey16 || format == kTiledRgba8 ||
         format == kTiledRgba16 || format == kTiledRgbaFloat;
}

// Where a sample position falls: the pixel gx whose window is used and the phase.
inline void SplitPosition(float p, float size, int32_t* g, int32_t* phase) {
  float s = p + 0.5f;
  // Far outside the level every tap reads the edge pixel, whatever the phase; keeping
  // the value in range keeps the integer conversion defined.
  if (!(s >= -4.0f)) s = -4.0f;
  if (s > size + 4.0f) s = size + 4.0f;
  int32_t whole = int32_t(s);
  if (float(whole) > s) --whole;  // below 0: floor, so the phase stays 0..127
  int32_t ph = int32_t((s - float(whole)) * float(kSincPhases));
  *g = whole;
  *phase = ph < 0 ? 0 : ph >= kSincPhases ? kSincPhases - 1 : ph;
}

}  // namespace

double LanczosWindow2(float t) {
  if (t == 0.0f) return 1.0;
  if (std::fabs(t) >= 2.0f) return 0.0;
  const double a = kPi * t;
  const double b = a * 0.5;
  return (PortableSin(a) / a) * (PortableSin(b) / b);
}

const SincKernel& SincKernelTables() {
  static const SincKernel kernel = [] {
    SincKernel k{};
    for (int i = 0; i < kSincPhases; ++i) {
      double raw[kSincTaps];
      double sum = 0.0;
      for (int tap = 0; tap < kSincTaps; ++tap) {
        // Each tap is the window averaged over 20 points spaced 1/21 apart, which
        // smooths the kernel a little against aliasing.
        raw[tap] = 0.0;
        for (int c = 0; c < 20; ++c) {
          const float t = float(i) / 128.0f - 2.0f + float(tap) - float(c) / 21.0f;
          raw[tap] += LanczosWindow2(t);
        }
        sum += raw[tap];
      }
      float* f = k.f[i];
      for (int tap = 0; tap < 4; ++tap) f[tap] = float(raw[tap] / sum);
      f[4] = 1.0f - (f[0] + f[1] + f[2] + f[3]);
      int32_t g = 0, h = 0;
      for (int tap = 0; tap < 4; ++tap) {
        k.g[i][tap] = int32_t(f[tap] * 2048.0f);
        k.h[i][tap] = int32_t(f[tap] * 32768.0f);
        g += k.g[i][tap];
        h += k.h[i][tap];
      }
      k.g[i][4] = 2048 - g;
      k.h[i][4] = 32768 - h;
    }
    return k;
  }();
  return kernel;
}

void ReadSamples(const TiledImage* image, int32_t level, int32_t x, int32_t y, int32_t out[4]) {
  const uint8_t* p = TiledPixelClamped(image, level, x, y);
  if (!p) {
    out[0] = out[1] = out[2] = out[3] = 0;
    return;
  }
  DecodeSamples(image->format, p, out);
}

void WriteSamples(TiledImage* image, int32_t level, int32_t x, int32_t y, int32_t s0, int32_t s1,
                  int32_t s2, int32_t s3) {
  uint8_t* p = TiledPixelForWrite(image, level, x, y);
  if (!p) return;
  const int32_t s[4] = {s0, s1, s2, s3};
  switch (image->format) {
    case kTiledGrey8:
      p[0] = uint8_t(s0);
      break;
    case kTiledGrey16:
    case kTiledChannel16: {
      const uint16_t v = uint16_t(s0);
      std::memcpy(p, &v, 2);
      break;
    }
    case kTiledRgba8: {
      const uint32_t word = (uint32_t(s0) & 255) << 24 | (uint32_t(s1) & 255) << 16 |
                            (uint32_t(s2) & 255) << 8 | (uint32_t(s3) & 255);
      std::memcpy(p, &word, 4);
      break;
    }
    case kTiledRgba16:
    case kTiledRgb16: {
      const uint16_t v[4] = {uint16_t(s0), uint16_t(s1), uint16_t(s2), uint16_t(s3)};
      std::memcpy(p, v, size_t(image->bytesPerPixel));
      break;
    }
    case kTiledGreyFloat:
      std::memcpy(p, &s0, 4);
      break;
    case kTiledRgbaFloat:
      std::memcpy(p, s, 16);
      break;
    default:
      break;
  }
}

Colour ReadColour(const TiledImage* image, int32_t level, int32_t x, int32_t y) {
  const uint8_t* p = TiledPixelClamped(image, level, x, y);
  if (!p) return {0, 0, 0, 0};
  Colour c;
  switch (image->format) {
    case kTiledRgbaFloat:
      std::memcpy(&c, p, 16);
      return c;
    case kTiledGreyFloat:
      std::memcpy(&c.red, p, 4);
      c.green = c.blue = c.red;
      c.alpha = 1.0f;
      return c;
    default: {
      int32_t s[4];
      DecodeSamples(image->format, p, s);
      const float k = image->inverseFullRange;
      c.red = float(s[0]) * k;
      c.green = float(s[1]) * k;
      c.blue = float(s[2]) * k;
      c.alpha =
          image->format == kTiledRgba8 || image->format == kTiledRgba16 ? float(s[3]) * k : 1.0f;
      return c;
    }
  }
}

void WriteColour(TiledImage* image, int32_t level, int32_t x, int32_t y, const Colour& c) {
  if (!image) return;
  switch (image->format) {
    case kTiledRgba8:
    case kTiledRgba16: {
      const float range = image->fullRange;
      WriteSamples(image, level, x, y, ScaleToSample(c.red, range), ScaleToSample(c.green, range),
                   ScaleToSample(c.blue, range), ScaleToSample(c.alpha, range));
      break;
    }
    case kTiledRgbaFloat:
      WriteSamples(image, level, x, y, FloatBits(c.red), FloatBits(c.green), FloatBits(c.blue),
                   FloatBits(c.alpha));
      break;
    default:
      break;
  }
}

SampleValues SampleLevel(const TiledImage* image, int32_t level, float px, float py) {
  SampleValues result = {{0, 0, 0, 0}};
  if (!TiledLevelExists(image, level) || !IsSampledFormat(image->format)) return result;
  const TiledLevel& l = image->levels[level];
  const int32_t format = image->format;
  const SincKernel& kernel = SincKernelTables();
  int32_t gx, gy, phaseX, phaseY;
  SplitPosition(px, float(l.width), &gx, &phaseX);
  SplitPosition(py, float(l.height), &gy, &phaseY);

  // The 5 x 5 window: straight from the tile when it lies inside one, else clamped.
  int32_t window[5][5][4];
  const bool direct = gx - 2 >= 0 && gx + 2 <= l.lastX && gy - 2 >= 0 && gy + 2 <= l.lastY &&
                      (gx - 2) / kImageTileSide == (gx + 2) / kImageTileSide &&
                      (gy - 2) / kImageTileSide == (gy + 2) / kImageTileSide;
  if (direct) {
    const uint8_t* base = TiledPixelAt(image, level, gx - 2, gy - 2);
    const int64_t rowBytes = int64_t(kImageTileSide) * image->bytesPerPixel;
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 5; ++c)
        DecodeSamples(format, base + r * rowBytes + c * image->bytesPerPixel, window[r][c]);
  } else {
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 5; ++c) ReadSamples(image, level, gx - 2 + c, gy - 2 + r, window[r][c]);
  }

  // Column gx - 2 takes weight 4 of the phase, gx + 2 weight 0; rows likewise.
  const int channels = IsGreyFormat(format) ? 1 : 4;
  if (format == kTiledRgbaFloat) {
    const float* wx = kernel.f[phaseX];
    const float* wy = kernel.f[phaseY];
    for (int ch = 0; ch < 4; ++ch) {
      float total = 0.0f;
      for (int r = 0; r < 5; ++r) {
        float row = 0.0f;
        for (int c = 0; c < 5; ++c) {
          float s;
          std::memcpy(&s, &window[r][c][ch], 4);
          row += wx[4 - c] * s;
        }
        total += wy[4 - r] * row;
      }
      result.v[ch] = total;
    }
    return result;
  }
  const bool eightBit = format == kTiledGrey8 || format == kTiledRgba8;
  const int32_t* wx = eightBit ? kernel.g[phaseX] : kernel.h[phaseX];
  const int32_t* wy = eightBit ? kernel.g[phaseY] : kernel.h[phaseY];
  for (int ch = 0; ch < channels; ++ch) {
    int64_t total = 0;
    for (int r = 0; r < 5; ++r) {
      int64_t row = 0;
      for (int c = 0; c < 5; ++c) row += int64_t(wx[4 - c]) * window[r][c][ch];
      // 15-bit RGBA drops the column scale before the rows so that the sum stays in
      // 32 bits; the shift is arithmetic, rounding negative sums down.
      if (format == kTiledRgba16) row >>= 15;
      total += int64_t(wy[4 - r]) * row;
    }
    // Exact in double (|total| < 2^53), so the one rounding is to float.
    const double scale = eightBit                 ? 1.0 / 4194304.0     // 2^-22
                         : format == kTiledGrey16 ? 1.0 / 1073741824.0  // 2^-30
                                                  : 1.0 / 32768.0;      // 2^-15
    result.v[ch] = float(double(total) * scale);
  }
  if (channels == 1) {
    result.v[1] = result.v[2] = result.v[0];
    result.v[3] = image->fullRange;
  }
  return result;
}

SampleValues SampleImage(const TiledImage* image, int32_t level, float f, float u, float v) {
  SampleValues result = {{0, 0, 0, 0}};
  if (!image || !image->valid || !IsSampledFormat(image->format)) return result;
  const int32_t highest = image->highestLevel;
  if (level > highest - 1) level = highest - 1;
  if (level < 0) level = 0;
  const TiledLevel& l0 = image->levels[level];
  const SampleValues s0 =
      SampleLevel(image, level, u * float(l0.width) - 0.5f, v * float(l0.height) - 0.5f);
  if (f == 0.0f || level + 1 > highest) return s0;
  const TiledLevel& l1 = image->levels[level + 1];
  const SampleValues s1 =
      SampleLevel(image, level + 1, u * float(l1.width) - 0.5f, v * float(l1.height) - 0.5f);
  for (int i = 0; i < 4; ++i) result.v[i] = s0.v[i] + f * (s1.v[i] - s0.v[i]);
  return result;
}

Colour SampleColour(const TiledImage* image, int32_t level, float f, float u, float v) {
  const SampleValues s = SampleImage(image, level, f, u, v);
  const float k = image && image->valid ? image->inverseFullRange : 0.0f;
  return {s.v[0] * k, s.v[1] * k, s.v[2] * k, s.v[3] * k};
}

void ResampleImage(const TiledImage* source, TiledImage* target, const VRect& sourceRect,
                   const VRect& targetRect, float bias) {
  if (!source || !source->valid || !target || !target->valid) return;
  const int32_t w = targetRect.right - targetRect.left;
  const int32_t h = targetRect.bottom - targetRect.top;
  if (w > 0 && h > 0) {
    const float ratio = float(sourceRect.right - sourceRect.left) / float(w);
    // The base-2 logarithm of the shrink factor picks the level; the bias leans finer.
    float t = ratio > 0.0f ? float(PortableLog(ratio) * kLog2E - bias) : 0.0f;
    if (!(t > 0.0f)) t = 0.0f;
    if (t > float(source->highestLevel)) t = float(source->highestLevel);
    const int32_t level = int32_t(t);
    const float f = t - float(level);
    const bool floatTarget = target->format == kTiledGreyFloat || target->format == kTiledRgbaFloat;
    const float colourCeiling = floatTarget ? 65535.0f : 1.0f;
    auto limit = [](float value, float ceiling) {
      return !(value > 0.0f) ? 0.0f : value > ceiling ? ceiling : value;
    };
    for (int32_t i = 0; i < h; ++i) {
      const float v = float(2 * int64_t(i) + 1) / float(2 * int64_t(h));
      for (int32_t j = 0; j < w; ++j) {
        const float u = float(2 * int64_t(j) + 1) / float(2 * int64_t(w));
        Colour c = SampleColour(source, level, f, u, v);
        c.red = limit(c.red, colourCeiling);
        c.green = limit(c.green, colourCeiling);
        c.blue = limit(c.blue, colourCeiling);
        c.alpha = limit(c.alpha, 1.0f);
        WriteColour(target, 0, targetRect.left + j, targetRect.top + i, c);
      }
    }
  }
  BuildPyramid(target);
}

void CopyImage(const TiledImage* source, TiledImage* target) {
  if (!source || !source->valid || !target || !target->valid) return;
  const TiledLevel& from = source->levels[0];
  const TiledLevel& to = target->levels[0];
  if (from.width != to.width || from.height != to.height) {
    ResampleImage(source, target, {0, 0, from.height, from.width}, {0, 0, to.height, to.width},
                  0.5f);
    return;
  }
  const bool greySource = IsGreyFormat(source->format);
  const bool greyTarget = IsGreyFormat(target->format);
  for (int32_t y = 0; y < to.height; ++y) {
    for (int32_t x = 0; x < to.width; ++x) {
      const Colour c = ReadColour(source, 0, x, y);
      if (!greyTarget) {
        WriteColour(target, 0, x, y, c);
      } else if (greySource) {
        WriteGrey(target, 0, x, y, c.red);
      } else {
        WriteGrey(target, 0, x, y, 0.3f * c.red + 0.59f * c.green + 0.11f * c.blue);
      }
    }
  }
  BuildPyramid(target);
}

void SampleBilinear(const TiledImage* image, int32_t level, float px, float py, int32_t out[4]) {
  if (!TiledLevelExists(image, level)) {
    out[0] = out[1] = out[2] = out[3] = 0;
    return;
  }
  const TiledLevel& l = image->levels[level];
  // Beyond one pixel outside the level both neighbours are the edge pixel; limiting the
  // position there changes nothing and keeps the conversion defined.
  if (!(px >= -1.0f)) px = -1.0f;
  if (px > l.lastXf + 1.0f) px = l.lastXf + 1.0f;
  if (!(py >= -1.0f)) py = -1.0f;
  if (py > l.lastYf + 1.0f) py = l.lastYf + 1.0f;
  const float x0f = std::floor(px);
  const float y0f = std::floor(py);
  const int32_t x0 = int32_t(x0f);
  const int32_t y0 = int32_t(y0f);
  const float fx = px - x0f;
  const float fy = py - y0f;
  int32_t p00[4], p10[4], p01[4], p11[4];
  ReadSamples(image, level, x0, y0, p00);
  ReadSamples(image, level, x0 + 1, y0, p10);
  ReadSamples(image, level, x0, y0 + 1, p01);
  ReadSamples(image, level, x0 + 1, y0 + 1, p11);
  for (int i = 0; i < 4; ++i) {
    const float top = float(p00[i]) + fx * float(p10[i] - p00[i]);
    const float bottom = float(p01[i]) + fx * float(p11[i] - p01[i]);
    out[i] = int32_t(top + fy * (bottom - top));
  }
}

void SampleTrilinear(const TiledImage* image, int32_t level, float f, float u, float v,
                     int32_t out[4]) {
  if (!image || !image->valid) {
    out[0] = out[1] = out[2] = out[3] = 0;
    return;
  }
  const int32_t highest = image->highestLevel;
  int32_t k = level < highest - 1 ? level : highest - 1;
  if (k < 0) k = 0;
  const TiledLevel& l0 = image->levels[k];
  SampleBilinear(image, k, u * float(l0.width) - 0.5f, v * float(l0.height) - 0.5f, out);
  if (f == 0.0f || k + 1 > highest) return;
  const TiledLevel& l1 = image->levels[k + 1];
  int32_t s1[4];
  SampleBilinear(image, k + 1, u * float(l1.width) - 0.5f, v * float(l1.height) - 0.5f, s1);
  for (int i = 0; i < 4; ++i) out[i] = int32_t(float(out[i]) + f * float(s1[i] - out[i]));
}
