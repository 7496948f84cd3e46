// Which part of the image the preview shows, at which integer reduction: the fit
// reduction, the preview region in reduced coordinates and the pan limits. The dialog
// paints what the render driver puts into the preview buffer for this region.
#pragma once

#include <cstdint>

#include "host/host_abi.h"

// The host can sample at a reduced rate and show pixels.
bool CanScalePreview();
// Sets the pane from the dialog's placeholder rectangle (client coordinates), finds the
// fit reduction, sets previewScale to it and clears the pan.
void SetUpPreviewGeometry(const VRect& placeholder);
// The preview region (the state's view rectangle) and its sizes for reduction s.
void ComputePreviewGeometry(int32_t s);
// Limits panX and panY to the image at reduction s.
void ClampPan(int32_t s);
