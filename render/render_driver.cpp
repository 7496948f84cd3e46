// The render driver for final and preview renders.
#include "render/render_driver.h"

#include <cstring>

#include "glue/glue_blend.h"
#include "host/host_services.h"
#include "host/image_access.h"
#include "host/plugin_globals.h"
#include "host/state_record.h"
#include "products/product_hooks.h"
#include "glue/image_sampling.h"
#include "render/preview_geometry.h"
#include "render/tiled_image.h"
#include "render/worker_pool.h"
#include "settings/settings_record.h"

VRect gWorkingRect = {0, 0, 0, 0};

namespace {

// Everything a render changes in the host record and the settings' render state.
struct HostSnapshot {
  HostRequestSnapshot record;
  int32_t previewScale, panX, panY, renderMode;
  VRect viewRect;
};

HostSnapshot TakeHostSnapshot() {
  HostSnapshot s;
  s.record = TakeHostRequestSnapshot();
  s.previewScale = gSettings->previewScale;
  s.panX = gSettings->panX;
  s.panY = gSettings->panY;
  s.renderMode = gSettings->renderMode;
  s.viewRect = gState->viewRect;
  return s;
}

void PutBackHostSnapshot(const HostSnapshot& s) {
  PutBackHostRequestSnapshot(s.record);
  gSettings->previewScale = s.previewScale;
  gSettings->panX = s.panX;
  gSettings->panY = s.panY;
  gSettings->renderMode = s.renderMode;
  gState->viewRect = s.viewRect;
}

ComposeSettings gCompose;  // fixed for the length of one render

// The job's tile in the host's coordinates (the working rectangle's).
VRect HostTileOf(const RenderJob* job) {
  const VRect& area = job->grid.workingRect;
  const VRect& r = job->grid.jobRect;
  return {area.top + r.top, area.left + r.left, area.top + r.bottom, area.left + r.right};
}

// A job's side buffer holds, per pixel, the host's raw samples (the input, overwritten
// by the output in a final render) and the selection byte. The
// calling thread only copies raw rows to and from the host; converting, filtering and
// composing all happen on the worker.
struct SideBuffer {
  uint8_t* samples;
  uint8_t* selection;
};

HostPixelLayout gLayout;  // the host's sample layout for the length of one render
TiledImage* gRenderImage = nullptr;  // the source and target of a render into an image
int32_t SampleStride() { return gLayout.inSamples * gLayout.bytesPerSample; }

SideBuffer SideOf(RenderJob* job) {
  const int64_t pixels = int64_t(RectWidth(job->grid.jobRect)) * RectHeight(job->grid.jobRect);
  uint8_t* base = static_cast<uint8_t*>(job->sideBuffer.memory);
  SideBuffer side;
  side.samples = base;
  side.selection = side.samples + pixels * SampleStride();
  return side;
}

// The unfiltered colour of pixel i of row y of a job, decoded again where the compose
// step needs it (most pixels of a plain render never do). Row y's samples are still the
// input's until the row is encoded.
Colour OriginalOf(const SideBuffer& side, const VRect& tile, bool hasInput, int32_t y,
                  int32_t i) {
  if (gCompose.renderMode == 2) return ReadColour(gRenderImage, 0, tile.left + i, tile.top + y);
  if (!hasInput) return {0, 0, 0, 0};
  Colour c;
  DecodeHostPixels(gLayout, side.samples + (int64_t(y) * RectWidth(tile) + i) * SampleStride(),
                   1, &c);
  return c;
}

// Calling thread: the job's raw samples and selection from the host.
void LoadJobPixels(RenderJob* job) {
  if (gCompose.renderMode == 2) {
    job->hostData = kJobHasInput;  // the worker reads the internal image itself
    return;
  }
  const VRect tile = HostTileOf(job);
  HostRequestRegion(tile);
  HostAdvance();
  const int32_t width = RectWidth(tile), height = RectHeight(tile);
  const SideBuffer side = SideOf(job);
  const int32_t rowBytes = width * SampleStride();
  const uint8_t* in = static_cast<const uint8_t*>(gFilterRecord->inData);
  const uint8_t* mask = static_cast<const uint8_t*>(gFilterRecord->maskData);
  job->hostData = (in ? kJobHasInput : 0) | (mask ? kJobHasSelection : 0);
  for (int32_t y = 0; y < height; ++y) {
    if (in) std::memcpy(side.samples + int64_t(y) * rowBytes, in + int64_t(y) * gFilterRecord->inRowBytes, size_t(rowBytes));
    if (mask)
      std::memcpy(side.selection + int64_t(y) * width,
                  mask + int64_t(y) * gFilterRecord->maskRowBytes, size_t(width));
  }
}

// Each 8-bit value as the float the sample decoder gives it, value * (1 / 255).
struct UnitTable {
  float value[256];
  UnitTable() {
    for (int i = 0; i < 256; ++i) value[i] = float(i) * (1.0f / 255.0f);
  }
};
const UnitTable kUnits;

// A plain-normal channel straight to its 8-bit sample: the 15-bit round trip k of
// ComposePlainNormal, then FloatToSample(k / 32768, 255), which is exactly
// (k * 255 + 16384) >> 15 in integers.
inline uint8_t PlainNormalSample8(float v) {
  const int32_t k = !(v > 0.0f) ? 0 : v >= 1.0f ? 32768 : int32_t(v * 32768.0f);
  return uint8_t((k * 255 + 16384) >> 15);
}

// The compose step of a final render into an 8-bit image, writing the host's samples
// directly: the common plain-normal pixels without going through float colours again,
// the others through ComposePixel. A pixel's original is read before its own samples
// are overwritten.
void ComposeEightBitRows(RenderJob* job, const SideBuffer& side, const VRect& tile,
                         bool hasInput) {
  const int32_t width = RectWidth(tile), height = RectHeight(tile);
  const int32_t stride = SampleStride();
  const int32_t rowBytes = width * stride;
  const bool grey = gLayout.outSamples < 3;
  for (int32_t y = 0; y < height; ++y) {
    const float* cell = JobCell(job, job->grid.jobRect.left, job->grid.jobRect.top + y);
    uint8_t* samples = side.samples + int64_t(y) * rowBytes;
    for (int32_t i = 0; i < width; ++i, cell += kCellFloats, samples += stride) {
      const Colour filtered = {cell[0], cell[1], cell[2], cell[3]};
      if (!grey && ComposeIsPlainNormal(gCompose, filtered, cell[4])) {
        samples[0] = PlainNormalSample8(filtered.red);
        samples[1] = PlainNormalSample8(filtered.green);
        samples[2] = PlainNormalSample8(filtered.blue);
        if (gLayout.outAlpha >= 0) samples[gLayout.outAlpha] = 255;
      } else {
        const Colour result = ComposePixel(gCompose, tile.left + i, tile.top + y, filtered,
                                           OriginalOf(side, tile, hasInput, y, i), cell[4]);
        EncodeHostPixels(gLayout, &result, 1, samples);
      }
    }
  }
}

// Worker thread: samples to colours, the product's pixel work, the compose step (pure
// arithmetic on the job's own buffers and the render's fixed settings) and, for a final
// render, colours back to the host's samples.
void RunRenderJob(RenderJob* job) {
  const VRect tile = HostTileOf(job);
  const int32_t width = RectWidth(tile), height = RectHeight(tile);
  const SideBuffer side = SideOf(job);
  const bool hasInput = job->hostData & kJobHasInput;
  const bool hasMask = job->hostData & kJobHasSelection;
  const int32_t rowBytes = width * SampleStride();
  Colour row[kJobTileSize];
  for (int32_t y = 0; y < height; ++y) {
    if (gCompose.renderMode == 2) {
      // The image is only written on the calling thread, one finished job at a time,
      // and never where another job reads.
      for (int32_t i = 0; i < width; ++i)
        row[i] = ReadColour(gRenderImage, 0, tile.left + i, tile.top + y);
    } else if (hasInput && gLayout.kind == 0 && !gLayout.grey) {
      // 8-bit colour straight into the cells, with the decoder's own arithmetic.
      const uint8_t* samples = side.samples + int64_t(y) * rowBytes;
      const uint8_t* selection = side.selection + int64_t(y) * width;
      const int32_t stride = SampleStride();
      float* cell = JobCell(job, job->grid.jobRect.left, job->grid.jobRect.top + y);
      for (int32_t i = 0; i < width; ++i, cell += kCellFloats, samples += stride) {
        cell[0] = kUnits.value[samples[0]];
        cell[1] = kUnits.value[samples[1]];
        cell[2] = kUnits.value[samples[2]];
        cell[3] = gLayout.inAlpha >= 0 ? kUnits.value[samples[gLayout.inAlpha]] : 1.0f;
        cell[4] = hasMask ? kUnits.value[selection[i]] : 1.0f;
      }
      continue;
    } else if (hasInput) {
      DecodeHostPixels(gLayout, side.samples + int64_t(y) * rowBytes, width, row);
    } else {
      for (int32_t i = 0; i < width; ++i) row[i] = {0, 0, 0, 0};
    }
    const uint8_t* selection = side.selection + int64_t(y) * width;
    float* cell = JobCell(job, job->grid.jobRect.left, job->grid.jobRect.top + y);
    for (int32_t i = 0; i < width; ++i, cell += kCellFloats) {
      cell[0] = row[i].red;
      cell[1] = row[i].green;
      cell[2] = row[i].blue;
      cell[3] = row[i].alpha;
      cell[4] = hasMask ? float(selection[i]) * (1.0f / 255.0f) : 1.0f;
    }
  }

  RunProductJob(job, job->kind);

  if (gCompose.renderMode == 0 && gLayout.kind == 0) {
    ComposeEightBitRows(job, side, tile, hasInput);
    return;
  }
  for (int32_t y = 0; y < height; ++y) {
    float* cell = JobCell(job, job->grid.jobRect.left, job->grid.jobRect.top + y);
    for (int32_t i = 0; i < width; ++i, cell += kCellFloats) {
      const Colour filtered = {cell[0], cell[1], cell[2], cell[3]};
      row[i] = ComposeIsPlainNormal(gCompose, filtered, cell[4])
                   ? ComposePlainNormal(filtered)
                   : ComposePixel(gCompose, tile.left + i, tile.top + y, filtered,
                                  OriginalOf(side, tile, hasInput, y, i), cell[4]);
      cell[0] = row[i].red;
      cell[1] = row[i].green;
      cell[2] = row[i].blue;
      cell[3] = row[i].alpha;
    }
    if (gCompose.renderMode == 0)
      EncodeHostPixels(gLayout, row, width, side.samples + int64_t(y) * rowBytes);
  }
}

// The composed pixels of a job into the internal image, rounded to nearest like every
// integer sample the filter writes, so that this render matches the final one.
void StoreIntoImage(RenderJob* job, const VRect& tile) {
  TiledImage* image = gRenderImage;
  const int32_t format = image->format;
  const int32_t range = format == kTiledRgba8 ? 255 : 32768;
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    const float* cell =
        JobCell(job, job->grid.jobRect.left, job->grid.jobRect.top + (y - tile.top));
    for (int32_t x = tile.left; x < tile.right; ++x, cell += kCellFloats) {
      if (format == kTiledRgba8 || format == kTiledRgba16)
        WriteSamples(image, 0, x, y, FloatToSample(cell[0], range), FloatToSample(cell[1], range),
                     FloatToSample(cell[2], range), FloatToSample(cell[3], range));
      else
        WriteColour(image, 0, x, y, {cell[0], cell[1], cell[2], cell[3]});
    }
  }
}

// Calling thread: the results to the render target. A final render asks the host for
// the output region alone and copies the prepared samples; a preview needs no host.
void StoreJobPixels(RenderJob* job) {
  const VRect tile = HostTileOf(job);
  const int32_t width = RectWidth(tile), height = RectHeight(tile);
  if (gSettings->renderMode == 0) {
    HostRequestOutput(tile);
    HostAdvance();
    uint8_t* out = static_cast<uint8_t*>(gFilterRecord->outData);
    if (!out) return;
    // Write only what lies inside both the tile and the output rectangle.
    const VRect granted = HostOutRect();
    const int32_t rows = height < RectHeight(granted) ? height : RectHeight(granted);
    const int32_t columns = width < RectWidth(granted) ? width : RectWidth(granted);
    if (rows <= 0 || columns <= 0) return;
    const SideBuffer side = SideOf(job);
    const int32_t stride = gLayout.outSamples * gLayout.bytesPerSample;
    const int32_t rowBytes = width * SampleStride();
    for (int32_t y = 0; y < rows; ++y)
      std::memcpy(out + int64_t(y) * gFilterRecord->outRowBytes,
                  side.samples + int64_t(y) * rowBytes, size_t(columns) * stride);
    return;
  }
  if (gSettings->renderMode == 2) {
    StoreIntoImage(job, tile);
    return;
  }
  Colour result[kJobTileSize];
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    const float* cell =
        JobCell(job, job->grid.jobRect.left, job->grid.jobRect.top + (y - tile.top));
    for (int32_t i = 0; i < width; ++i, cell += kCellFloats)
      result[i] = {cell[0], cell[1], cell[2], cell[3]};
    HostWriteRow(tile.left, y, width, tile, result);
  }
}

JobKindOps gRenderOps = {LoadJobPixels, RunRenderJob, StoreJobPixels, 0};

// Sets the host up for the working rectangle at the current previewScale.
void SetUpHostForRender() {
  const int32_t s = gSettings->previewScale > 0 ? gSettings->previewScale : 1;
  SetHostInRect(gWorkingRect);
  SetHostOutRect(gWorkingRect);
  const VRect corner = {gWorkingRect.top, gWorkingRect.left, gWorkingRect.top + 1,
                        gWorkingRect.left + 1};
  SetHostMaskRect(corner);
  gFilterRecord->inputRate = gFilterRecord->maskRate = Fixed(s) << 16;
  gFilterRecord->inputPadding = gFilterRecord->outputPadding = gFilterRecord->maskPadding =
      plugInWantsEdgeReplication;
  gFilterRecord->inLoPlane = gFilterRecord->outLoPlane = 0;
  gFilterRecord->inHiPlane = gFilterRecord->outHiPlane = int16_t(gFilterRecord->planes - 1);
  gState->workingRect = gWorkingRect;
}

OSErr RunRender(int32_t mode) {
  if (!gFilterRecord || !gSettings || !gState) return filterBadParameters;
  // The product's whole-image sources come first; without them it renders nothing.
  if (PrepareSource(gState) == kProductImagesNotMade) return CurrentResult();
  const VRect savedWorkingRect = gWorkingRect;
  const HostSnapshot hostSnapshot = TakeHostSnapshot();
  gSettings->renderMode = mode;
  SettingsRecord parameters;
  CopyParameterFields(&parameters, *gSettings);

  if (mode == 0) {
    gWorkingRect = HostFilterRect();
    gSettings->previewScale = 1;
  } else if (mode == 1) {
    gWorkingRect = gState->viewRect;
  } else {
    const TiledLevel& level = gRenderImage->levels[0];
    gWorkingRect = {0, 0, level.height, level.width};
    gSettings->previewScale = 1;
  }
  if (mode != 2) SetUpHostForRender();
  gState->workingRect = gWorkingRect;
  gSettings->passCount = 1;
  gSettings->passIndex = 1;
  if (mode != 1) gSettings->panX = gSettings->panY = 0;
  if (mode == 0) HostProgress(1, 100);

  gCompose.glueMode = gSettings->glueMode;
  gCompose.renderMode = mode;
  gCompose.targetIsFloat = (mode == 0 && ModeIsFloat()) ||
                           (mode == 2 && (gRenderImage->format == kTiledGreyFloat ||
                                          gRenderImage->format == kTiledRgbaFloat));
  gCompose.grey = ModeIsGray();
  gCompose.editableTransparency = EditableTransparency();

  // Every plane is requested, so input and output pixels have the same samples and the
  // output can be written over the input in place.
  gLayout = CurrentPixelLayout();
  gRenderOps.sideBytesPerPixel = size_t(SampleStride()) + 1;
  if (PrepareRender(gState))
    RunJobs(kJobKindRender, DefaultJobParams(), gWorkingRect, gRenderOps, gState);

  gSettings->passIndex = -1;
  gWorkingRect = savedWorkingRect;
  PutBackHostSnapshot(hostSnapshot);
  CopyParameterFields(gSettings, parameters);
  return CurrentResult();
}

}  // namespace

OSErr RenderFinal() { return RunRender(0); }

OSErr RenderIntoImage(TiledImage* image) {
  if (!image || !image->valid || image->levels[0].width <= 0) return filterBadParameters;
  gRenderImage = image;
  const OSErr result = RunRender(2);
  gRenderImage = nullptr;
  return result;
}

OSErr RenderPreview() {
  if (!gFilterRecord || !gSettings || !gState) return filterBadParameters;
  ComputePreviewGeometry(gSettings->previewScale);
  PreviewBuffer& preview = gState->previewBuffer;
  WorkBufferFree(&preview.buffer);
  preview.planes = gFilterRecord->planes;
  preview.totalSize = preview.planes * preview.planeSize;
  if (preview.totalSize > 0) {
    preview.buffer = WorkBufferAlloc(size_t(preview.totalSize));
    if (!preview.buffer.memory) {
      SetResult(memFullErr);
      return memFullErr;
    }
  }
  return RunRender(1);
}
