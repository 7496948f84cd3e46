// Preview geometry: fit reduction, preview region and pan limits.
#include "render/preview_geometry.h"

#include "host/image_access.h"
#include "host/plugin_globals.h"
#include "host/state_record.h"
#include "settings/settings_record.h"

namespace {
int32_t CeilDiv(int32_t a, int32_t b) { return b > 0 ? (a + b - 1) / b : 1; }
int32_t Min(int32_t a, int32_t b) { return a < b ? a : b; }
int32_t Max(int32_t a, int32_t b) { return a > b ? a : b; }
VRect Divide(const VRect& r, int32_t s) { return {r.top / s, r.left / s, r.bottom / s, r.right / s}; }
}  // namespace

bool CanScalePreview() {
  return gFilterRecord->advanceState && gFilterRecord->displayPixels &&
         gFilterRecord->samplingSupport != 0;
}

void SetUpPreviewGeometry(const VRect& placeholder) {
  const VRect filter = HostFilterRect();
  const int32_t fh = RectHeight(filter), fw = RectWidth(filter);
  VRect pane = {placeholder.top + 2, placeholder.left + 2, placeholder.bottom - 2,
                placeholder.right - 2};
  pane.bottom = Min(pane.bottom, pane.top + fh);
  pane.right = Min(pane.right, pane.left + fw);
  gState->previewPane = pane;

  const int32_t h = Max(1, Min(fh, RectHeight(placeholder)));
  const int32_t w = Max(1, Min(fw, RectWidth(placeholder)));
  int32_t fit = Max(1, Max(CeilDiv(fh, h), CeilDiv(fw, w)));
  gState->naturalFitScale = fit;
  if (!CanScalePreview()) fit = 1;
  gSettings->previewScale = fit;
  gState->fitScale = fit;
  ComputePreviewGeometry(fit);
  gSettings->panX = 0;
  gSettings->panY = 0;
  ComputePreviewGeometry(fit);
}

void ComputePreviewGeometry(int32_t s) {
  if (!CanScalePreview()) {
    gSettings->previewScale = 1;
    s = 1;
  } else if (s < 1) {
    s = 1;
  }
  const VRect reduced = Divide(HostFilterRect(), s);
  const VRect& pane = gState->previewPane;
  const VRect region = {reduced.top, reduced.left,
                        Min(reduced.top + RectHeight(pane), reduced.bottom),
                        Min(reduced.left + RectWidth(pane), reduced.right)};
  if (CurrentResult() != noErr) return;
  gSettings->previewScale = s;
  gState->viewRect = region;
  PreviewBuffer& preview = gState->previewBuffer;
  preview.width = Max(0, RectWidth(region));
  preview.height = Max(0, RectHeight(region));
  preview.planeSize = preview.width * preview.height;
}

void ClampPan(int32_t s) {
  if (s < 1) s = 1;
  if (gSettings->panX < 0) gSettings->panX = 0;
  if (gSettings->panY < 0) gSettings->panY = 0;
  const VRect reduced = Divide(HostFilterRect(), s);
  const VRect& pane = gState->previewPane;
  const int32_t maxX = Max(0, s * (RectWidth(reduced) - RectWidth(pane)));
  const int32_t maxY = Max(0, s * (RectHeight(reduced) - RectHeight(pane)));
  gSettings->panX = Min(gSettings->panX, maxX);
  gSettings->panY = Min(gSettings->panY, maxY);
}
