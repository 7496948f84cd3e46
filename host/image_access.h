// Rectangles exchanged with the host: the filter, input, output and mask rectangles
// in 16-bit or, when the host offers big documents and the plug-in opted in, 32-bit
// coordinates.
#pragma once

#include "host/host_abi.h"

bool UsesBigDocument();
VRect HostFilterRect();
VRect HostInRect();
VRect HostOutRect();
VRect HostMaskRect();
VPoint HostFloatCoord();
void SetHostInRect(const VRect& r);
void SetHostOutRect(const VRect& r);
void SetHostMaskRect(const VRect& r);
// Empty input, output and mask rectangles: the host requests nothing more.
void ClearHostRects();

// Everything a region request changes in the host record (rectangles in both widths,
// plane ranges, rates, paddings, dummy planes, autoMask), so that a render or a load
// can put the record back exactly as it found it.
struct HostRequestSnapshot {
  HostRect inRect, outRect, maskRect;
  VRect inRect32, outRect32, maskRect32;
  int16_t inLoPlane, inHiPlane, outLoPlane, outHiPlane;
  Fixed inputRate, maskRate;
  int16_t inputPadding, outputPadding, maskPadding;
  int16_t inPreDummyPlanes, inPostDummyPlanes, outPreDummyPlanes, outPostDummyPlanes;
  uint8_t autoMask;
};
HostRequestSnapshot TakeHostRequestSnapshot();
void PutBackHostRequestSnapshot(const HostRequestSnapshot& snapshot);

inline int32_t RectWidth(const VRect& r) { return r.right - r.left; }
inline int32_t RectHeight(const VRect& r) { return r.bottom - r.top; }

// ---- pixel exchange --------------------------------------------------------------
// Pixels are exchanged as float colours: 0..1 for 8-bit (full range 255) and 16-bit
// (full range 32768) images, unbounded for float images. Integer samples are produced
// by rounding to nearest, so that an unchanged colour gives back the sample it came
// from. `tile` is the rectangle passed to HostRequestRegion, before its offsets.

struct Colour;

// Asks the host for a region given in preview coordinates (full-size when
// previewScale is 1): offsets by the floating selection and the pan, sets the input,
// output and (with a mask) mask rectangles, all planes, rate previewScale, edge
// replication. The caller then calls HostAdvance.
void HostRequestRegion(const VRect& rect);
// The same for the output alone (empty input and mask rectangles): for writing results
// whose originals were read before.
void HostRequestOutput(const VRect& rect);

// Leaves `colour` untouched for a pixel outside the tile; all zero without input data.
void HostReadPixel(int32_t x, int32_t y, const VRect& tile, Colour* colour);
// The selection at (x, y): 1 without a mask, 0 outside the tile, else mask byte / 255.
float HostMaskValue(int32_t x, int32_t y, const VRect& tile);
// Writes to the render target of the settings' renderMode (0 host output, 1 preview).
void HostWritePixel(int32_t x, int32_t y, const Colour& colour, const VRect& tile);

// How the host lays out a pixel's samples in the current request, so that samples can
// be converted away from the host (on worker threads) once they were copied out.
struct HostPixelLayout {
  int32_t kind;            // 0 8-bit, 1 16-bit (0..32768), 2 float
  int32_t bytesPerSample;
  int32_t inSamples;       // samples per input pixel
  int32_t outSamples;      // samples per output pixel: the image's planes
  bool grey;
  int32_t inAlpha;         // index of alpha in an input pixel; -1 without transparency
  int32_t outAlpha;        // the same in an output pixel
};
HostPixelLayout CurrentPixelLayout();
// Input samples to colours, and colours to output samples (rounded to nearest). Encoding
// writes the colour planes and alpha only; other planes keep what the buffer held.
void DecodeHostPixels(const HostPixelLayout& layout, const uint8_t* samples, int32_t count,
                      Colour* colours);
void EncodeHostPixels(const HostPixelLayout& layout, const Colour* colours, int32_t count,
                      uint8_t* samples);

// Row forms of the same, for the render loops: pixels x0..x0+count-1 of row y.
void HostReadRow(int32_t x0, int32_t y, int32_t count, const VRect& tile, Colour* colours);
void HostMaskRow(int32_t x0, int32_t y, int32_t count, const VRect& tile, float* values);
void HostWriteRow(int32_t x0, int32_t y, int32_t count, const VRect& tile,
                  const Colour* colours);

// Fills the preview buffer with the unfiltered pixels of the preview region at the
// current previewScale, one plane per host request (used while the view is dragged).
// A host error is left in the plug-in's result and ends the copy.
void CopyRegionToPreview();
