// The render driver for final and preview renders.
#include "render/render_driver.h"

#include <cstring>

#include "glue/glue_blend.h"
#include "host/host_services.h"
#include "host/image_access.h"
#include "host/plugin_globals.h"
#include "host/state_record.h"
#include "products/product_hooks.h"
#include "render/preview_geometry.h"
#include "render/worker_pool.h"
#include "settings/settings_record.h"

VRect gWorkingRect = {0, 0, 0, 0};

namespace {

// Everything a render changes in the host record and the settings' render state.
struct HostSnapshot {
  HostRect inRect, outRect, maskRect;
  VRect inRect32, outRect32, maskRect32;
  int16_t inLoPlane, inHiPlane, outLoPlane, outHiPlane;
  Fixed inputRate, maskRate;
  int16_t inputPadding, outputPadding, maskPadding;
  uint8_t autoMask;
  int32_t previewScale, panX, panY, renderMode;
  VRect viewRect;
};

HostSnapshot TakeHostSnapshot() {
  HostSnapshot s{};
  const FilterRecord* r = gFilterRecord;
  s.inRect = r->inRect;
  s.outRect = r->outRect;
  s.maskRect = r->maskRect;
  if (r->bigDocumentData) {
    s.inRect32 = r->bigDocumentData->inRect32;
    s.outRect32 = r->bigDocumentData->outRect32;
    s.maskRect32 = r->bigDocumentData->maskRect32;
  }
  s.inLoPlane = r->inLoPlane;
  s.inHiPlane = r->inHiPlane;
  s.outLoPlane = r->outLoPlane;
  s.outHiPlane = r->outHiPlane;
  s.inputRate = r->inputRate;
  s.maskRate = r->maskRate;
  s.inputPadding = r->inputPadding;
  s.outputPadding = r->outputPadding;
  s.maskPadding = r->maskPadding;
  s.autoMask = r->autoMask;
  s.previewScale = gSettings->previewScale;
  s.panX = gSettings->panX;
  s.panY = gSettings->panY;
  s.renderMode = gSettings->renderMode;
  s.viewRect = gState->viewRect;
  return s;
}

void PutBackHostSnapshot(const HostSnapshot& s) {
  FilterRecord* r = gFilterRecord;
  r->inRect = s.inRect;
  r->outRect = s.outRect;
  r->maskRect = s.maskRect;
  if (r->bigDocumentData) {
    r->bigDocumentData->inRect32 = s.inRect32;
    r->bigDocumentData->outRect32 = s.outRect32;
    r->bigDocumentData->maskRect32 = s.maskRect32;
  }
  r->inLoPlane = s.inLoPlane;
  r->inHiPlane = s.inHiPlane;
  r->outLoPlane = s.outLoPlane;
  r->outHiPlane = s.outHiPlane;
  r->inputRate = s.inputRate;
  r->maskRate = s.maskRate;
  r->inputPadding = s.inputPadding;
  r->outputPadding = s.outputPadding;
  r->maskPadding = s.maskPadding;
  r->autoMask = s.autoMask;
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

// A job's side buffer keeps the unfiltered pixels, so that composing needs no second
// read from the host; the selection goes into each cell's spare float.
Colour* OriginalsOf(RenderJob* job) { return static_cast<Colour*>(job->sideBuffer.memory); }

// Calling thread: the job's pixels, their originals and the selection from the host.
void LoadJobPixels(RenderJob* job) {
  const VRect tile = HostTileOf(job);
  HostRequestRegion(tile);
  HostAdvance();
  const int32_t width = RectWidth(tile);
  Colour* originals = OriginalsOf(job);
  float mask[kJobTileSize];
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    Colour* row = originals + int64_t(y - tile.top) * width;
    for (int32_t i = 0; i < width; ++i) row[i] = {0, 0, 0, 1};
    HostReadRow(tile.left, y, width, tile, row);
    HostMaskRow(tile.left, y, width, tile, mask);
    float* cell = JobCell(job, job->grid.jobRect.left, job->grid.jobRect.top + (y - tile.top));
    for (int32_t i = 0; i < width; ++i, cell += kCellFloats) {
      cell[0] = row[i].red;
      cell[1] = row[i].green;
      cell[2] = row[i].blue;
      cell[3] = row[i].alpha;
      cell[4] = mask[i];
    }
  }
}

// Worker thread: the product's pixel work, then the compose step (pure arithmetic on
// the job's own buffers and the render's fixed compose settings).
void RunRenderJob(RenderJob* job) {
  RunProductJob(job, job->kind);
  const VRect tile = HostTileOf(job);
  const int32_t width = RectWidth(tile);
  const Colour* originals = OriginalsOf(job);
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    const Colour* original = originals + int64_t(y - tile.top) * width;
    float* cell = JobCell(job, job->grid.jobRect.left, job->grid.jobRect.top + (y - tile.top));
    for (int32_t i = 0; i < width; ++i, cell += kCellFloats) {
      const Colour filtered = {cell[0], cell[1], cell[2], cell[3]};
      const Colour result =
          ComposePixel(gCompose, tile.left + i, y, filtered, original[i], cell[4]);
      cell[0] = result.red;
      cell[1] = result.green;
      cell[2] = result.blue;
      cell[3] = result.alpha;
    }
  }
}

// Calling thread: the composed pixels to the render target. A preview needs nothing
// from the host; a final render asks for the output region alone.
void StoreJobPixels(RenderJob* job) {
  const VRect tile = HostTileOf(job);
  if (gSettings->renderMode == 0) {
    HostRequestOutput(tile);
    HostAdvance();
  }
  const int32_t width = RectWidth(tile);
  Colour result[kJobTileSize];
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    const float* cell =
        JobCell(job, job->grid.jobRect.left, job->grid.jobRect.top + (y - tile.top));
    for (int32_t i = 0; i < width; ++i, cell += kCellFloats)
      result[i] = {cell[0], cell[1], cell[2], cell[3]};
    HostWriteRow(tile.left, y, width, tile, result);
  }
}

const JobKindOps kRenderOps = {LoadJobPixels, RunRenderJob, StoreJobPixels, sizeof(Colour)};

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
  const VRect savedWorkingRect = gWorkingRect;
  const HostSnapshot hostSnapshot = TakeHostSnapshot();
  gSettings->renderMode = mode;
  SettingsRecord parameters;
  CopyParameterFields(&parameters, *gSettings);

  if (mode == 0) {
    gWorkingRect = HostFilterRect();
    gSettings->previewScale = 1;
  } else {
    gWorkingRect = gState->viewRect;
  }
  SetUpHostForRender();
  gSettings->passCount = 1;
  gSettings->passIndex = 1;
  if (mode == 0) {
    gSettings->panX = gSettings->panY = 0;
    HostProgress(1, 100);
  }

  gCompose.glueMode = gSettings->glueMode;
  gCompose.renderMode = mode;
  gCompose.targetIsFloat = mode == 0 && ModeIsFloat();
  gCompose.grey = ModeIsGray();
  gCompose.editableTransparency = EditableTransparency();

  if (PrepareRender(gState))
    RunJobs(kJobKindRender, DefaultJobParams(), gWorkingRect, kRenderOps, gState);

  gSettings->passIndex = -1;
  gWorkingRect = savedWorkingRect;
  PutBackHostSnapshot(hostSnapshot);
  CopyParameterFields(gSettings, parameters);
  return CurrentResult();
}

}  // namespace

OSErr RenderFinal() { return RunRender(0); }

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
