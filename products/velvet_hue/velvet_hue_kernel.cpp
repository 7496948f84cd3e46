// Velvet Hue's pixel work: a per-channel gamma curve, then a hue turn, a saturation
// factor and a luma change in the hue / saturation / perceptual-luma space, so that a
// hue turn keeps the perceived brightness.
#include "glue/colour_convert.h"
#include "host/state_record.h"
#include "products/product_hooks.h"
#include "render/worker_pool.h"
#include "host/plugin_globals.h"

namespace {

// The adjustment factors of one render, read from the settings.
struct Adjustments {
  float hueShift;    // -0.5 .. +0.5 of a turn
  float saturation;  // 0 .. 3
  float luma;        // 0 .. 2
};

Adjustments AdjustmentsOf(const SettingsRecord& settings) {
  Adjustments a;
  a.hueShift = float(settings.hue) * 0.01f - 0.5f;
  float k = float(settings.saturation) * 0.02f;
  if (k > 1.0f) k = 2.0f * (k - 1.0f) + 1.0f;
  a.saturation = k;
  a.luma = float(settings.luminance) * 0.02f;
  return a;
}

inline float GammaLookup(const float* table, float value) {
  // Truncation toward zero, then the table's range: above 1 gives 1, negative gives 0.
  float scaled = value * 1500.0f;
  int i = scaled >= 1500.0f ? 1500 : scaled > 0.0f ? int(scaled) : 0;
  return table[i];
}

void RenderTile(RenderJob* job) {
  const StateRecord* state = job->state;
  const Adjustments a = AdjustmentsOf(*gSettings);
  const float* gamma = state->gammaTable;
  const VRect& r = job->grid.jobRect;
  for (int32_t y = r.top; y < r.bottom; ++y) {
    float* cell = JobCell(job, r.left, y);
    for (int32_t x = r.left; x < r.right; ++x, cell += kCellFloats) {
      const float red = GammaLookup(gamma, cell[0]);
      const float green = GammaLookup(gamma, cell[1]);
      const float blue = GammaLookup(gamma, cell[2]);
      float h, s, luma;
      RgbToHsy(red, green, blue, h, s, luma);
      h = h + a.hueShift + 1.0f;
      const float whole = h >= 0.0f ? float(int(h)) : float(int(h - 1.0f));
      h = h - whole;
      s = s * a.saturation;
      if (s > 1.0f) s = 1.0f;
      if (a.luma < 1.0f)
        luma = luma * a.luma;
      else
        luma = luma + (1.0f - luma) * (a.luma - 1.0f);
      HsyToRgb(h, s, luma, cell[0], cell[1], cell[2]);
    }
  }
}

}  // namespace

bool PrepareRender(StateRecord* state) {
  const float b = float(double(gSettings->gamma) * 0.008 + 0.1);
  for (int i = 0; i < kGammaTableSize; ++i) {
    const float t = float(i) / 1500.0f;
    state->gammaTable[i] = Bias(t, b);
  }
  const VRect& w = state->workingRect;
  const int32_t width = w.right - w.left, height = w.bottom - w.top;
  state->bandCount = width > 0 && height > 0
                         ? ((width + 127) / 128) * ((height + 127) / 128)
                         : 0;
  state->bandsFinished = 0;
  return true;
}

RenderJob* RunProductJob(RenderJob* job, int32_t kind) {
  if (job && kind == kJobKindRender) RenderTile(job);
  return job;
}
