// Grain Wreck's pixel-art kernel: the cached whole-image pyramids (source, sharpened,
// dithered), their lazy rebuilds, and the per-pixel choice of a pyramid level.
//
// Float images: the unsharp mask, the edge strength and the dither are integer
// algorithms with fixed ceilings, so a 32-bit image is converted at load into the
// 15-bit format (4) that 16-bit images use, with the same rounding a 16-bit host
// applies (FloatToSample). A float image therefore gives exactly the picture its 16-bit
// rendering gives, shown as floats: palette colours are exact in both, and values
// outside 0..1 are limited to it on the way in.
#include <cmath>
#include <cstring>

#include "glue/glue_blend.h"
#include "glue/image_sampling.h"
#include "host/host_services.h"
#include "host/image_access.h"
#include "host/plugin_globals.h"
#include "host/state_record.h"
#include "products/grain_wreck/grain_wreck_kernel.h"
#include "products/product_hooks.h"
#include "render/worker_pool.h"
#include "settings/settings_record.h"

namespace {

constexpr double kLn2 = 0.69314718055994530942;

// 2^x and ln(n) from IEEE arithmetic alone: the amount and the blur level must come
// out the same on every build, and the runtimes' pow and log differ in the last bit.
double PortableExp2(double x) {
  if (!(x < 1024.0)) return x != x ? 0.0 : HUGE_VAL;
  if (x < -1075.0) return 0.0;
  const double whole = std::floor(x);
  const double y = (x - whole) * kLn2;  // 0 <= y < ln 2
  double term = 1.0, sum = 1.0;
  for (int k = 1; k < 30; ++k) {
    term = term * y / k;
    sum += term;
  }
  return std::ldexp(sum, int(whole));
}

double PortableLn(double n) {  // n >= 1
  int exponent = 0;
  const double m = std::frexp(n, &exponent);  // 0.5 <= m < 1
  const double s = (m - 1.0) / (m + 1.0);     // |s| <= 1/3
  const double s2 = s * s;
  double power = s, sum = 0.0;
  for (int k = 1; k < 60; k += 2) {
    sum += power / k;
    power *= s2;
  }
  return exponent * kLn2 + 2.0 * sum;
}

// A float limited to 0..ceiling and truncated; NaN gives 0.
inline int32_t TruncateInto(double v, int32_t ceiling) {
  if (!(v > 0.0)) return 0;
  if (v >= double(ceiling)) return ceiling;
  return int32_t(v);
}

inline int32_t ClampInt(int64_t v, int32_t lo, int32_t hi) {
  return v < lo ? lo : v > hi ? hi : int32_t(v);
}

// Every tile of `from` into `to`; both were made at the same size and format, so their
// tile tables match one for one.
void CopyAllLevels(const TiledImage* from, TiledImage* to) {
  for (int32_t t = 0; t < from->tileCount && t < to->tileCount; ++t) {
    const size_t bytes =
        size_t(kImageTileSide) * size_t(from->tiles[t].rows) * size_t(from->bytesPerPixel);
    std::memcpy(to->tiles[t].buffer.memory, from->tiles[t].buffer.memory, bytes);
  }
  to->loadState = from->loadState;
}

void FreeWorkingImages(StateRecord* state) {
  FreeTiledImage(&state->sourceImage);
  FreeTiledImage(&state->sharpImage);
  FreeTiledImage(&state->ditherImage);
  state->sourceReady = state->sharpReady = state->ditherReady = 0;
}

// Level 0 of a format-4 image from the host's float pixels, through a float image of
// level 0 alone that lives only for the load.
OSErr LoadFloatHostAsFifteenBit(TiledImage* image, bool* madeIt) {
  TiledImage floats;
  std::memset(&floats, 0, sizeof floats);
  *madeIt = NewTiledImage(&floats, image->levels[0].width, image->levels[0].height,
                          kTiledRgbaFloat, kTiledNoPyramid);
  if (!*madeIt) return noErr;
  const OSErr result = LoadFromHost(&floats);
  const TiledLevel& l = image->levels[0];
  for (int32_t y = 0; y < l.height; ++y)
    for (int32_t x = 0; x < l.width; ++x) {
      float f[4];
      std::memcpy(f, TiledPixelAt(&floats, 0, x, y), 16);
      const uint16_t s[4] = {uint16_t(FloatToSample(f[0], 32768)),
                             uint16_t(FloatToSample(f[1], 32768)),
                             uint16_t(FloatToSample(f[2], 32768)),
                             uint16_t(FloatToSample(f[3], 32768))};
      std::memcpy(TiledPixelAt(image, 0, x, y), s, 8);
    }
  image->loadState = floats.loadState;
  FreeTiledImage(&floats);
  return result;
}

// The sharpened image with the edge strength of every level in its alpha.
bool BuildSharpImage(StateRecord* state, int32_t radius, int32_t sharpen) {
  TiledImage* sharp = &state->sharpImage;
  CopyAllLevels(&state->sourceImage, sharp);
  const float amount = UnsharpAmount(radius, sharpen);
  const int32_t n = radius < 0x7fffffff ? radius + 1 : radius;
  UnsharpMaskLevel0(sharp, &state->sourceImage, amount, n);
  sharp->state = state;
  if (!BuildPyramid(sharp)) return false;
  for (int32_t k = 0; k <= sharp->highestLevel; ++k) WriteEdgeStrength(sharp, k);
  return true;
}

void BuildDitherImage(StateRecord* state, int32_t colors) {
  TiledImage* dither = &state->ditherImage;
  CopyAllLevels(&state->sharpImage, dither);
  for (int32_t k = 0; k <= dither->highestLevel; ++k) DitherLevel(dither, k, colors);
}

// The per-pixel level choice. A pixel starts at the base level of `coarseness` and
// climbs to coarser levels while its edge strength stays at or under a threshold that
// halves at every step, so flat areas end in big blocks and edges keep small ones.
void RenderTile(RenderJob* job) {
  const StateRecord* state = job->state;
  const TiledImage* dither = &state->ditherImage;
  if (!TiledLevelExists(dither, 0)) return;
  const SettingsRecord& settings = *gSettings;
  const int32_t top = dither->highestLevel;
  const double base = double(settings.coarseness) * 0.01 * double(top);
  const int32_t baseLevel = base >= double(top) ? top : base > 0.0 ? int32_t(base) : 0;
  const float startThreshold = float(double(settings.range) * 0.01);
  const int64_t scale = settings.previewScale;
  const int64_t panX = settings.panX, panY = settings.panY;
  const float inverse = dither->inverseFullRange;

  const VRect& r = job->grid.jobRect;
  for (int32_t y = r.top; y < r.bottom; ++y) {
    float* cell = JobCell(job, r.left, y);
    for (int32_t x = r.left; x < r.right; ++x, cell += kCellFloats) {
      int32_t k = baseLevel;
      float threshold = startThreshold;
      int64_t xs = (scale * x + panX) >> k;
      int64_t ys = (scale * y + panY) >> k;
      int32_t d[4] = {0, 0, 0, 0};
      while (k <= top) {
        const TiledLevel& l = dither->levels[k];
        ReadSamples(dither, k, ClampInt(xs, 0, l.lastX), ClampInt(ys, 0, l.lastY), d);
        threshold *= 0.5f;
        ++k;
        xs >>= 1;
        ys >>= 1;
        if (threshold < float(d[3]) * inverse) break;
      }
      // The alpha stays the source's: the edge strength only steers the choice.
      cell[0] = float(d[0]) * inverse;
      cell[1] = float(d[1]) * inverse;
      cell[2] = float(d[2]) * inverse;
    }
  }
}

}  // namespace

int32_t SampleCeiling(const TiledImage* image) {
  if (image->format == kTiledRgba8) return 255;
  if (image->format == kTiledRgba16) return 32768;
  return 65535;
}

float UnsharpAmount(int32_t radius, int32_t sharpen) {
  const float root = float(std::sqrt(PortableExp2(double(radius) * 0.01 * 9.0) + 1.0));
  return float(double(root) * (double(sharpen) * 0.1));
}

void UnsharpMaskLevel0(TiledImage* image, const TiledImage* blurSource, float amount, int32_t n) {
  if (!TiledLevelExists(image, 0) || !TiledLevelExists(blurSource, 0)) return;
  if (!(amount > 0.0f) || n < 1) return;
  const int32_t ceiling = SampleCeiling(image);
  const int32_t top = blurSource->highestLevel;
  float t = float(PortableLn(double(n)) * 1.442695);
  if (t > float(top)) t = float(top);
  const int32_t blurLevel = int32_t(t);
  const float f = t - float(blurLevel);

  const TiledLevel& l = image->levels[0];
  for (int32_t y = 0; y < l.height; ++y) {
    const float v = (float(y) + 0.5f) / float(l.height);
    for (int32_t x = 0; x < l.width; ++x) {
      const float u = (float(x) + 0.5f) / float(l.width);
      int32_t blur[4], p[4];
      SampleTrilinear(blurSource, blurLevel, f, u, v, blur);
      ReadSamples(image, 0, x, y, p);
      int32_t out[3];
      for (int i = 0; i < 3; ++i) {
        const int32_t difference = blur[i] - p[i];
        out[i] = difference == 0
                     ? p[i]  // also for an unbounded amount, where inf x 0 is no number
                     : TruncateInto(double(p[i]) - double(amount) * double(difference), ceiling);
      }
      WriteSamples(image, 0, x, y, out[0], out[1], out[2], p[3]);
    }
  }
}

void WriteEdgeStrength(TiledImage* image, int32_t level) {
  if (!TiledLevelExists(image, level)) return;
  const int32_t ceiling = SampleCeiling(image);
  const TiledLevel& l = image->levels[level];
  auto luma = [&](int32_t x, int32_t y) {
    int32_t s[4];
    ReadSamples(image, level, x, y, s);
    return (77 * s[0] + 150 * s[1] + 28 * s[2]) >> 8;
  };
  // The luma reads only red, green and blue, so writing each alpha at once is safe.
  for (int32_t y = 0; y < l.height; ++y)
    for (int32_t x = 0; x < l.width; ++x) {
      const int32_t e = luma(x, y - 1) + luma(x, y + 1) + luma(x - 1, y) + luma(x + 1, y) -
                        4 * luma(x, y);
      const int32_t magnitude = e < 0 ? -e : e;
      int32_t s[4];
      ReadSamples(image, level, x, y, s);
      WriteSamples(image, level, x, y, s[0], s[1], s[2],
                   magnitude < ceiling ? magnitude : ceiling);
    }
}

int32_t PrepareSource(StateRecord* state) {
  if (!state || !gFilterRecord) return kProductImagesNotMade;
  if (state->sourceReady) return noErr;
  const VRect filter = HostFilterRect();
  const int32_t width = RectWidth(filter), height = RectHeight(filter);
  const int32_t format = DepthCode() == 3 ? kTiledRgba8 : kTiledRgba16;
  if (!NewTiledImage(&state->sourceImage, width, height, format, 0) ||
      !NewTiledImage(&state->sharpImage, width, height, format, 0) ||
      !NewTiledImage(&state->ditherImage, width, height, format, 0)) {
    FreeWorkingImages(state);
    SetResult(int16_t(kProductImagesNotMade));
    return kProductImagesNotMade;
  }
  state->sharpReady = state->ditherReady = 0;

  OSErr result = noErr;
  if (ModeIsFloat()) {
    bool made = false;
    result = LoadFloatHostAsFifteenBit(&state->sourceImage, &made);
    if (!made) {
      FreeWorkingImages(state);
      SetResult(int16_t(kProductImagesNotMade));
      return kProductImagesNotMade;
    }
  } else {
    result = LoadFromHost(&state->sourceImage);
  }
  // A host error while loading stays in the result; what was loaded is used all the
  // same, and the source is not asked for again in this run.
  state->sourceImage.state = state;
  if (!BuildPyramid(&state->sourceImage)) {
    FreeWorkingImages(state);
    if (CurrentResult() == noErr) SetResult(memFullErr);
    return kProductImagesNotMade;
  }
  state->sourceReady = 1;
  ++state->sourceLoads;
  return result;
}

bool PrepareRender(StateRecord* state) {
  if (!state || !gSettings || !state->sourceReady) return false;
  SettingsRecord* settings = gSettings;

  if (settings->radius != settings->builtRadius || settings->sharpen != settings->builtSharpen)
    state->sharpReady = 0;
  settings->builtRadius = settings->radius;
  settings->builtSharpen = settings->sharpen;
  if (!state->sharpReady) {
    if (!BuildSharpImage(state, settings->radius, settings->sharpen)) return false;
    state->sharpReady = 1;
    state->ditherReady = 0;
    ++state->sharpBuilds;
  }

  if (settings->colors != settings->builtColors) state->ditherReady = 0;
  settings->builtColors = settings->colors;
  if (!state->ditherReady) {
    BuildDitherImage(state, settings->colors);
    state->ditherReady = 1;
    ++state->ditherBuilds;
  }

  const VRect& w = state->workingRect;
  const int32_t width = w.right - w.left, height = w.bottom - w.top;
  state->bandCount =
      width > 0 && height > 0 ? ((width + 127) / 128) * ((height + 127) / 128) : 0;
  state->bandsFinished = 0;
  return true;
}

RenderJob* RunProductJob(RenderJob* job, int32_t kind) {
  if (job && kind == kJobKindRender) RenderTile(job);
  return job;
}

void ProductTearDown(StateRecord* state) {
  if (state) FreeWorkingImages(state);
}
