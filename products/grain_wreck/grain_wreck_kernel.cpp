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
#include <atomic>
#include <new>

#include "glue/glue_blend.h"
#include "glue/image_sampling.h"
#include "host/host_services.h"
#include "host/image_access.h"
#include "host/plugin_globals.h"
#include "host/state_record.h"
#include "products/grain_wreck/grain_wreck_kernel.h"
#include "products/grain_wreck/grain_wreck_pixels.h"
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

// Every tile of level `level` of `from` into `to`; both were made at the same size and
// format, so their tile tables match one for one.
void CopyLevel(const TiledImage* from, TiledImage* to, int32_t level) {
  const TiledLevel& l = from->levels[level];
  for (int32_t t = l.firstTile; t <= l.lastTile && t < from->tileCount && t < to->tileCount; ++t) {
    const size_t bytes =
        size_t(kImageTileSide) * size_t(from->tiles[t].rows) * size_t(from->bytesPerPixel);
    std::memcpy(to->tiles[t].buffer.memory, from->tiles[t].buffer.memory, bytes);
  }
}

bool SameLayout(const TiledImage* a, const TiledImage* b) {
  return a->valid && b->valid && a->format == b->format && a->tileCount == b->tileCount &&
         a->highestLevel == b->highestLevel && a->levels[0].width == b->levels[0].width &&
         a->levels[0].height == b->levels[0].height;
}

// ---- independent tasks on the worker pool ------------------------------------------------

// The pool cuts its area into 128 x 128 jobs in rows; an area one job high and `count`
// jobs wide thus gives one job per task, numbered like the tasks.
struct TaskRun {
  void (*task)(void* context, int32_t index);
  void* context;
};

// Any kind but the render's and the pyramid's: the pool hands it to the job unread.
constexpr int32_t kJobKindProductTask = 3;

int32_t gTasksFinished = 0;  // calling thread only

void RunTaskJob(RenderJob* job) {
  const TaskRun* run = static_cast<const TaskRun*>(job->params.sourceImage);
  run->task(run->context, job->grid.index);
}

void CountTaskJob(RenderJob*) { ++gTasksFinished; }

const JobKindOps kTaskOps = {nullptr, RunTaskJob, CountTaskJob, 0};

// True when every task ran; false when the run was cancelled or short of memory (the
// result then says which).
bool RunTasks(int32_t count, void (*task)(void*, int32_t), void* context, StateRecord* state) {
  if (count <= 0) return true;
  TaskRun run = {task, context};
  JobParams params = DefaultJobParams();
  params.sourceImage = &run;
  const VRect area = {0, 0, kJobTileSize, count * kJobTileSize};
  gTasksFinished = 0;
  RunJobs(kJobKindProductTask, params, area, kTaskOps, state);
  return !PoolWasCancelled() && gTasksFinished == count;
}

// Rows per task of the row-band passes: enough work to outweigh starting a thread.
constexpr int32_t kBandRows = 64;

int32_t BandCount(int32_t height) { return (height + kBandRows - 1) / kBandRows; }

// ---- unsharp mask ------------------------------------------------------------------------

// One axis of a bilinear tap: the two neighbours (already limited to the level) and the
// fraction between them, worked out exactly as the bilinear sampler does.
struct BlurTaps {
  int32_t a, b;
  float f;
};

BlurTaps TapsAt(float p, int32_t last, float lastF) {
  if (!(p >= -1.0f)) p = -1.0f;
  if (p > lastF + 1.0f) p = lastF + 1.0f;
  const float whole = std::floor(p);
  const int32_t i = int32_t(whole);
  return {ClampIndex(i, last), ClampIndex(i + 1, last), p - whole};
}

struct UnsharpPlan {
  const TiledImage* from;  // the pixels to sharpen
  const TiledImage* blur;  // the blur source
  TiledImage* to;          // where the sharpened pixels go (may be `from`)
  double amount;
  int32_t ceiling;
  int32_t level;  // the blur's finer level
  float f;        // toward level + 1
  bool second;    // whether level + 1 is blended in
  BlurTaps* columns[2];  // per level-0 column, for the two blur levels
  std::atomic<int32_t> failed{0};  // a band could not get its memory
};

// One blur row blended horizontally for every level-0 column: per column and channel,
// top = p0 + fx (p1 - p0), exactly the bilinear sampler's first step. Neighbouring
// level-0 rows share blur rows, so each is worked out once per band and reused.
struct BlurRow {
  int32_t row;  // the blur level's row it holds, -1 for none
  float* values;  // 3 per level-0 column
};

template <class Px>
void BlendBlurRow(const UnsharpPlan& plan, int32_t level, const BlurTaps* columns, int32_t row,
                  int32_t width, BlurRow* out) {
  out->row = row;
  for (int32_t x = 0; x < width; ++x) {
    const BlurTaps& tx = columns[x];
    int32_t p0[4], p1[4];
    Px::Load(TiledPixelAt(plan.blur, level, tx.a, row), p0);
    Px::Load(TiledPixelAt(plan.blur, level, tx.b, row), p1);
    float* v = out->values + 3 * int64_t(x);
    for (int i = 0; i < 3; ++i) v[i] = float(p0[i]) + tx.f * float(p1[i] - p0[i]);
  }
}

// Makes `upper` hold blur row ty.a and `lower` row ty.b, reusing what they hold.
template <class Px>
void FetchBlurRows(const UnsharpPlan& plan, int32_t level, const BlurTaps* columns,
                   const BlurTaps& ty, int32_t width, BlurRow* upper, BlurRow* lower) {
  if (upper->row == ty.a && lower->row == ty.b) return;
  if (lower->row == ty.a) {
    const BlurRow spare = *upper;
    *upper = *lower;
    *lower = spare;
  }
  if (upper->row != ty.a) BlendBlurRow<Px>(plan, level, columns, ty.a, width, upper);
  if (lower->row != ty.b) BlendBlurRow<Px>(plan, level, columns, ty.b, width, lower);
}

template <class Px>
bool UnsharpRows(const UnsharpPlan& plan, int32_t y0, int32_t y1) {
  const TiledLevel& l = plan.to->levels[0];
  const TiledLevel& b0 = plan.blur->levels[plan.level];
  const TiledLevel& b1 = plan.blur->levels[plan.second ? plan.level + 1 : plan.level];
  const int32_t width = l.width;
  // This may run on a worker: no throwing.
  float* cache = new (std::nothrow) float[size_t(4) * 3 * size_t(width)];
  if (!cache) return false;
  BlurRow rows[4];
  for (int i = 0; i < 4; ++i) rows[i] = {-1, cache + size_t(i) * 3 * size_t(width)};
  for (int32_t y = y0; y < y1; ++y) {
    const float v = (float(y) + 0.5f) / float(l.height);
    const BlurTaps ty0 = TapsAt(v * float(b0.height) - 0.5f, b0.lastY, b0.lastYf);
    const BlurTaps ty1 = TapsAt(v * float(b1.height) - 0.5f, b1.lastY, b1.lastYf);
    FetchBlurRows<Px>(plan, plan.level, plan.columns[0], ty0, width, &rows[0], &rows[1]);
    if (plan.second)
      FetchBlurRows<Px>(plan, plan.level + 1, plan.columns[1], ty1, width, &rows[2], &rows[3]);
    const float* top0 = rows[0].values;
    const float* bottom0 = rows[1].values;
    const float* top1 = rows[2].values;
    const float* bottom1 = rows[3].values;
    const int32_t tileRow = l.firstTile + (y / kImageTileSide) * l.tilesPerRow;
    const size_t rowOffset = size_t(y % kImageTileSide) * kImageTileSide;
    for (int32_t x = 0; x < width; ++x) {
      const int32_t tile = tileRow + x / kImageTileSide;
      const size_t offset = (rowOffset + size_t(x % kImageTileSide)) * Px::kBytes;
      int32_t blur[3];
      for (int i = 0; i < 3; ++i) {
        const float top = top0[3 * x + i], bottom = bottom0[3 * x + i];
        blur[i] = int32_t(top + ty0.f * (bottom - top));
      }
      if (plan.second) {
        for (int i = 0; i < 3; ++i) {
          const float top = top1[3 * x + i], bottom = bottom1[3 * x + i];
          const int32_t s1 = int32_t(top + ty1.f * (bottom - top));
          blur[i] = int32_t(float(blur[i]) + plan.f * float(s1 - blur[i]));
        }
      }
      int32_t p[4];
      Px::Load(static_cast<const uint8_t*>(plan.from->tiles[tile].buffer.memory) + offset, p);
      int32_t out[3];
      for (int i = 0; i < 3; ++i) {
        const int32_t difference = blur[i] - p[i];
        out[i] = difference == 0
                     ? p[i]  // also for an unbounded amount, where inf x 0 is no number
                     : TruncateInto(double(p[i]) - plan.amount * double(difference), plan.ceiling);
      }
      Px::Store(static_cast<uint8_t*>(plan.to->tiles[tile].buffer.memory) + offset, out[0],
                out[1], out[2], p[3]);
    }
  }
  delete[] cache;
  return true;
}

void UnsharpBandTask(void* context, int32_t band) {
  UnsharpPlan& plan = *static_cast<UnsharpPlan*>(context);
  const int32_t height = plan.to->levels[0].height;
  const int32_t y0 = band * kBandRows;
  const int32_t y1 = y0 + kBandRows < height ? y0 + kBandRows : height;
  const bool done = plan.to->format == kTiledRgba8 ? UnsharpRows<PackedRgba8>(plan, y0, y1)
                                                   : UnsharpRows<Rgba15>(plan, y0, y1);
  if (!done) plan.failed.store(1, std::memory_order_relaxed);
}

// The generic unsharp mask, for formats other than the two working ones.
void UnsharpMaskAnyFormat(TiledImage* image, const TiledImage* blurSource, float amount,
                          int32_t blurLevel, float f) {
  const int32_t ceiling = SampleCeiling(image);
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
                     ? p[i]
                     : TruncateInto(double(p[i]) - double(amount) * double(difference), ceiling);
      }
      WriteSamples(image, 0, x, y, out[0], out[1], out[2], p[3]);
    }
  }
}

// The blur level log2(n), limited to the source's last level: its whole part and fraction.
void BlurLevelOf(const TiledImage* blurSource, int32_t n, int32_t* level, float* f) {
  const int32_t top = blurSource->highestLevel;
  float t = float(PortableLn(double(n)) * 1.442695);
  if (t > float(top)) t = float(top);
  *level = int32_t(t);
  *f = t - float(*level);
}

// Level 0 of `to` = level 0 of `from` unsharp-masked against `blurSource`, in row bands
// on the pool when `state` is given, else on this thread. The images share size and
// format 3 or 4. False when the pool run did not complete or memory was short.
bool UnsharpInto(const TiledImage* from, const TiledImage* blurSource, TiledImage* to,
                 float amount, int32_t n, StateRecord* state) {
  const TiledLevel& l = to->levels[0];
  int32_t blurLevel;
  float f;
  BlurLevelOf(blurSource, n, &blurLevel, &f);
  // The trilinear sampler's choice of levels.
  const int32_t highest = blurSource->highestLevel;
  int32_t k = blurLevel < highest - 1 ? blurLevel : highest - 1;
  if (k < 0) k = 0;

  BlurTaps* columns = new (std::nothrow) BlurTaps[2 * size_t(l.width)];
  if (!columns) {
    SetResult(memFullErr);
    return false;
  }
  UnsharpPlan plan;
  plan.from = from;
  plan.blur = blurSource;
  plan.to = to;
  plan.amount = double(amount);
  plan.ceiling = SampleCeiling(to);
  plan.level = k;
  plan.f = f;
  plan.second = f != 0.0f && k + 1 <= highest;
  plan.columns[0] = columns;
  plan.columns[1] = columns + l.width;
  const TiledLevel& b0 = blurSource->levels[k];
  const TiledLevel& b1 = blurSource->levels[plan.second ? k + 1 : k];
  for (int32_t x = 0; x < l.width; ++x) {
    const float u = (float(x) + 0.5f) / float(l.width);
    plan.columns[0][x] = TapsAt(u * float(b0.width) - 0.5f, b0.lastX, b0.lastXf);
    plan.columns[1][x] = TapsAt(u * float(b1.width) - 0.5f, b1.lastX, b1.lastXf);
  }
  const int32_t bands = BandCount(l.height);
  bool done = true;
  if (state) {
    done = RunTasks(bands, UnsharpBandTask, &plan, state);
  } else {
    for (int32_t band = 0; band < bands; ++band) UnsharpBandTask(&plan, band);
  }
  delete[] columns;
  if (done && plan.failed.load(std::memory_order_relaxed)) {
    SetResult(memFullErr);
    return false;
  }
  return done;
}

// ---- edge strength -----------------------------------------------------------------------

// The luma of columns x0 - 1 .. x1 of row y (limited to the level) into out[0 ..
// x1 - x0 + 1], from the image or, when `saved` is given, from that row's saved lumas.
template <class Px>
void LumaSegment(const TiledImage* image, int32_t level, int32_t y, const int32_t* saved,
                 int32_t x0, int32_t x1, int32_t* out) {
  const TiledLevel& l = image->levels[level];
  for (int32_t x = x0 - 1; x <= x1; ++x) {
    const int32_t cx = ClampIndex(x, l.lastX);
    out[x - x0 + 1] = saved ? saved[cx] : Px::Luma(TiledPixelAt(image, level, cx, y));
  }
}

// The edge strength of rows y0 .. y1 - 1. The row above y0 and the row below y1 - 1 come
// from `above` and `below` when given (lumas saved before any alpha of theirs changed),
// else from the image; rows of the band itself are read only by this band.
template <class Px>
void EdgeRows(TiledImage* image, int32_t level, int32_t y0, int32_t y1, const int32_t* above,
              const int32_t* below) {
  const TiledLevel& l = image->levels[level];
  const int32_t ceiling = SampleCeiling(image);
  constexpr int32_t kChunk = kImageTileSide;
  int32_t rows[3][kChunk + 2];
  for (int32_t x0 = 0; x0 < l.width; x0 += kChunk) {
    const int32_t x1 = x0 + kChunk < l.width ? x0 + kChunk : l.width;
    int32_t* up = rows[0];
    int32_t* here = rows[1];
    int32_t* down = rows[2];
    const int32_t yUp = ClampIndex(y0 - 1, l.lastY);
    LumaSegment<Px>(image, level, yUp, yUp < y0 ? above : nullptr, x0, x1, up);
    LumaSegment<Px>(image, level, y0, nullptr, x0, x1, here);
    for (int32_t y = y0; y < y1; ++y) {
      const int32_t yDown = ClampIndex(y + 1, l.lastY);
      LumaSegment<Px>(image, level, yDown, yDown >= y1 ? below : nullptr, x0, x1, down);
      for (int32_t x = x0; x < x1; ++x) {
        const int32_t i = x - x0 + 1;
        const int32_t e = up[i] + down[i] + here[i - 1] + here[i + 1] - 4 * here[i];
        const int32_t magnitude = e < 0 ? -e : e;
        uint8_t* p = TiledPixelAt(image, level, x, y);
        int32_t s[4];
        Px::Load(p, s);
        Px::Store(p, s[0], s[1], s[2], magnitude < ceiling ? magnitude : ceiling);
      }
      int32_t* spare = up;
      up = here;
      here = down;
      down = spare;
    }
  }
}

void EdgeRowsAnyFormat(TiledImage* image, int32_t level, int32_t y0, int32_t y1,
                       const int32_t* above, const int32_t* below) {
  if (image->format == kTiledRgba8)
    EdgeRows<PackedRgba8>(image, level, y0, y1, above, below);
  else
    EdgeRows<Rgba15>(image, level, y0, y1, above, below);
}

// The bands of every level in one list: the band's level and first row, and its two
// saved rows (its own first and last row's lumas) in `saved`.
struct EdgeBand {
  int32_t level, y0, y1;
  int32_t* first;
  int32_t* last;
};

struct EdgePlan {
  TiledImage* image;
  EdgeBand* bands;
  int32_t count;
};

template <class Px>
void SaveRowLumas(const TiledImage* image, int32_t level, int32_t y, int32_t* out) {
  const TiledLevel& l = image->levels[level];
  for (int32_t x = 0; x < l.width; ++x) out[x] = Px::Luma(TiledPixelAt(image, level, x, y));
}

void SaveBandTask(void* context, int32_t index) {
  const EdgePlan& plan = *static_cast<const EdgePlan*>(context);
  const EdgeBand& band = plan.bands[index];
  if (plan.image->format == kTiledRgba8) {
    SaveRowLumas<PackedRgba8>(plan.image, band.level, band.y0, band.first);
    SaveRowLumas<PackedRgba8>(plan.image, band.level, band.y1 - 1, band.last);
  } else {
    SaveRowLumas<Rgba15>(plan.image, band.level, band.y0, band.first);
    SaveRowLumas<Rgba15>(plan.image, band.level, band.y1 - 1, band.last);
  }
}

void EdgeBandTask(void* context, int32_t index) {
  const EdgePlan& plan = *static_cast<const EdgePlan*>(context);
  const EdgeBand& band = plan.bands[index];
  // The neighbours' saved rows: the band above's last, the band below's first.
  const bool hasAbove = index > 0 && plan.bands[index - 1].level == band.level;
  const bool hasBelow = index + 1 < plan.count && plan.bands[index + 1].level == band.level;
  EdgeRowsAnyFormat(plan.image, band.level, band.y0, band.y1,
                    hasAbove ? plan.bands[index - 1].last : nullptr,
                    hasBelow ? plan.bands[index + 1].first : nullptr);
}

// The edge strength of every level on the pool. The luma reads only red, green and
// blue, but a band's neighbours sit in the same words as their alpha, so each band's
// outer rows are saved first and bands then read only their own rows and the saved ones.
bool WriteEdgeStrengthAllLevels(TiledImage* image, StateRecord* state) {
  int32_t count = 0;
  int64_t savedValues = 0;
  for (int32_t k = 0; k <= image->highestLevel; ++k) {
    const TiledLevel& l = image->levels[k];
    count += BandCount(l.height);
    savedValues += int64_t(BandCount(l.height)) * 2 * l.width;
  }
  EdgeBand* bands = new (std::nothrow) EdgeBand[size_t(count)];
  int32_t* saved = new (std::nothrow) int32_t[size_t(savedValues)];
  if (!bands || !saved) {
    delete[] bands;
    delete[] saved;
    SetResult(memFullErr);
    return false;
  }
  int32_t index = 0;
  int32_t* next = saved;
  for (int32_t k = 0; k <= image->highestLevel; ++k) {
    const TiledLevel& l = image->levels[k];
    for (int32_t y0 = 0; y0 < l.height; y0 += kBandRows, ++index) {
      EdgeBand& band = bands[index];
      band.level = k;
      band.y0 = y0;
      band.y1 = y0 + kBandRows < l.height ? y0 + kBandRows : l.height;
      band.first = next;
      band.last = next + l.width;
      next += 2 * int64_t(l.width);
    }
  }
  EdgePlan plan = {image, bands, count};
  const bool done = RunTasks(count, SaveBandTask, &plan, state) &&
                    RunTasks(count, EdgeBandTask, &plan, state);
  delete[] bands;
  delete[] saved;
  return done;
}

// ---- dither ------------------------------------------------------------------------------

struct DitherPlan {
  const TiledImage* from;
  TiledImage* to;
  int32_t colors;
  std::atomic<int32_t> failed{0};
};

void DitherLevelTask(void* context, int32_t level) {
  DitherPlan& plan = *static_cast<DitherPlan*>(context);
  if (!DitherLevelInto(plan.from, plan.to, level, plan.colors))
    plan.failed.store(1, std::memory_order_relaxed);
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

// The sharpened image with the edge strength of every level in its alpha. Level 0 is
// sharpened straight from the source (or copied when there is nothing to sharpen); the
// other levels are reduced from it, so nothing else of the source is copied.
bool BuildSharpImage(StateRecord* state, int32_t radius, int32_t sharpen) {
  TiledImage* sharp = &state->sharpImage;
  const TiledImage* source = &state->sourceImage;
  const float amount = UnsharpAmount(radius, sharpen);
  const int32_t n = radius < 0x7fffffff ? radius + 1 : radius;
  const bool fast = SameLayout(source, sharp) &&
                    (sharp->format == kTiledRgba8 || sharp->format == kTiledRgba16);
  if (fast && amount > 0.0f && n >= 1) {
    if (!UnsharpInto(source, source, sharp, amount, n, state)) return false;
  } else {
    CopyLevel(source, sharp, 0);
    UnsharpMaskLevel0(sharp, source, amount, n);
  }
  sharp->loadState = source->loadState;
  sharp->state = state;
  if (!BuildPyramid(sharp)) return false;
  if (fast) return WriteEdgeStrengthAllLevels(sharp, state);
  for (int32_t k = 0; k <= sharp->highestLevel; ++k) WriteEdgeStrength(sharp, k);
  return true;
}

// Every level dithered from the sharpened image into the dither image, one level per
// pool task: each level's error diffusion is independent of the others'.
bool BuildDitherImage(StateRecord* state, int32_t colors) {
  const TiledImage* sharp = &state->sharpImage;
  TiledImage* dither = &state->ditherImage;
  if (!SameLayout(sharp, dither)) return true;
  DitherPlan plan;
  plan.from = sharp;
  plan.to = dither;
  plan.colors = colors;
  if (!RunTasks(dither->highestLevel + 1, DitherLevelTask, &plan, state)) return false;
  if (plan.failed.load(std::memory_order_relaxed)) {
    SetResult(memFullErr);
    return false;
  }
  dither->loadState = sharp->loadState;
  return true;
}

// The per-pixel level choice. A pixel starts at the base level of `coarseness` and
// climbs to coarser levels while its edge strength stays at or under a threshold that
// halves at every step, so flat areas end in big blocks and edges keep small ones.
template <class Read>
void RenderRows(RenderJob* job, const TiledImage* dither, int32_t baseLevel,
                float startThreshold, Read read) {
  const SettingsRecord& settings = *gSettings;
  const int32_t top = dither->highestLevel;
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
        read(k, ClampInt(xs, 0, l.lastX), ClampInt(ys, 0, l.lastY), d);
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

// The two working formats: per level, the smallest alpha that stops the climb there
// (the threshold test float(alpha) x 1 / full range > threshold, which only grows with
// alpha), and per row of the job, where each level's row lies in the tiles.
template <class Px>
void RenderRowsDirect(RenderJob* job, const TiledImage* dither, int32_t baseLevel,
                      float startThreshold) {
  const SettingsRecord& settings = *gSettings;
  const int32_t top = dither->highestLevel;
  const int64_t scale = settings.previewScale;
  const int64_t panX = settings.panX, panY = settings.panY;
  const float inverse = dither->inverseFullRange;
  const int32_t maxAlpha = Px::kBytes == 4 ? 255 : 65535;

  int32_t stopAlpha[kTiledMaxLevels + 1];
  float threshold = startThreshold;
  for (int32_t k = baseLevel; k <= top; ++k) {
    threshold *= 0.5f;
    // The first alpha that passes, by bisection over 0 .. maxAlpha + 1 (none passes).
    int32_t lo = 0, hi = maxAlpha + 1;
    while (lo < hi) {
      const int32_t mid = lo + (hi - lo) / 2;
      if (threshold < float(mid) * inverse)
        hi = mid;
      else
        lo = mid + 1;
    }
    stopAlpha[k] = lo;
  }

  const VRect& r = job->grid.jobRect;
  int32_t rowTile[kTiledMaxLevels];
  size_t rowOffset[kTiledMaxLevels];
  for (int32_t y = r.top; y < r.bottom; ++y) {
    for (int32_t k = baseLevel; k <= top; ++k) {
      const TiledLevel& l = dither->levels[k];
      const int32_t ys = ClampInt((scale * y + panY) >> k, 0, l.lastY);
      rowTile[k] = l.firstTile + (ys / kImageTileSide) * l.tilesPerRow;
      rowOffset[k] = size_t(ys % kImageTileSide) * kImageTileSide;
    }
    float* cell = JobCell(job, r.left, y);
    for (int32_t x = r.left; x < r.right; ++x, cell += kCellFloats) {
      const int64_t xs0 = scale * x + panX;
      int32_t d[4] = {0, 0, 0, 0};
      for (int32_t k = baseLevel; k <= top; ++k) {
        const int32_t xs = ClampInt(xs0 >> k, 0, dither->levels[k].lastX);
        const uint8_t* p =
            static_cast<const uint8_t*>(dither->tiles[rowTile[k] + xs / kImageTileSide].buffer.memory) +
            (rowOffset[k] + size_t(xs % kImageTileSide)) * Px::kBytes;
        Px::Load(p, d);
        if (d[3] >= stopAlpha[k]) break;
      }
      // The alpha stays the source's: the edge strength only steers the choice.
      cell[0] = float(d[0]) * inverse;
      cell[1] = float(d[1]) * inverse;
      cell[2] = float(d[2]) * inverse;
    }
  }
}

void RenderTile(RenderJob* job) {
  const StateRecord* state = job->state;
  const TiledImage* dither = &state->ditherImage;
  if (!TiledLevelExists(dither, 0)) return;
  const SettingsRecord& settings = *gSettings;
  const int32_t top = dither->highestLevel;
  const double base = double(settings.coarseness) * 0.01 * double(top);
  const int32_t baseLevel = base >= double(top) ? top : base > 0.0 ? int32_t(base) : 0;
  const float startThreshold = float(double(settings.range) * 0.01);
  if (dither->format == kTiledRgba8) {
    RenderRowsDirect<PackedRgba8>(job, dither, baseLevel, startThreshold);
  } else if (dither->format == kTiledRgba16) {
    RenderRowsDirect<Rgba15>(job, dither, baseLevel, startThreshold);
  } else {
    RenderRows(job, dither, baseLevel, startThreshold,
               [dither](int32_t k, int32_t x, int32_t y, int32_t d[4]) {
                 ReadSamples(dither, k, x, y, d);
               });
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
  if (SameLayout(image, blurSource) &&
      (image->format == kTiledRgba8 || image->format == kTiledRgba16)) {
    UnsharpInto(image, blurSource, image, amount, n, nullptr);
    return;
  }
  int32_t blurLevel;
  float f;
  BlurLevelOf(blurSource, n, &blurLevel, &f);
  UnsharpMaskAnyFormat(image, blurSource, amount, blurLevel, f);
}

void WriteEdgeStrength(TiledImage* image, int32_t level) {
  if (!TiledLevelExists(image, level)) return;
  const TiledLevel& l = image->levels[level];
  if (image->format == kTiledRgba8 || image->format == kTiledRgba16) {
    // One band over the whole level: every neighbour row is read from the image.
    EdgeRowsAnyFormat(image, level, 0, l.height, nullptr, nullptr);
    return;
  }
  const int32_t ceiling = SampleCeiling(image);
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
    if (!BuildDitherImage(state, settings->colors)) return false;
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
