// The exchange with the host image: rectangles in either coordinate width, region
// requests, and pixels converted between host samples and float colours.
#include "host/image_access.h"

#include "glue/glue_blend.h"
#include "host/host_services.h"
#include "host/plugin_globals.h"
#include "host/state_record.h"
#include "render/preview_geometry.h"
#include "settings/settings_record.h"

bool UsesBigDocument() {
  return gFilterRecord->bigDocumentData &&
         gFilterRecord->bigDocumentData->PluginUsing32BitCoordinates != 0;
}

static VRect Widen(const HostRect& r) { return {r.top, r.left, r.bottom, r.right}; }
static HostRect Narrow(const VRect& r) {
  return {int16_t(r.top), int16_t(r.left), int16_t(r.bottom), int16_t(r.right)};
}

VRect HostFilterRect() {
  return UsesBigDocument() ? gFilterRecord->bigDocumentData->filterRect32
                           : Widen(gFilterRecord->filterRect);
}
VRect HostInRect() {
  return UsesBigDocument() ? gFilterRecord->bigDocumentData->inRect32
                           : Widen(gFilterRecord->inRect);
}
VRect HostOutRect() {
  return UsesBigDocument() ? gFilterRecord->bigDocumentData->outRect32
                           : Widen(gFilterRecord->outRect);
}
VRect HostMaskRect() {
  return UsesBigDocument() ? gFilterRecord->bigDocumentData->maskRect32
                           : Widen(gFilterRecord->maskRect);
}
VPoint HostFloatCoord() {
  if (UsesBigDocument()) return gFilterRecord->bigDocumentData->floatCoord32;
  return {gFilterRecord->floatCoord.v, gFilterRecord->floatCoord.h};
}

void SetHostInRect(const VRect& r) {
  if (UsesBigDocument()) gFilterRecord->bigDocumentData->inRect32 = r;
  else gFilterRecord->inRect = Narrow(r);
}
void SetHostOutRect(const VRect& r) {
  if (UsesBigDocument()) gFilterRecord->bigDocumentData->outRect32 = r;
  else gFilterRecord->outRect = Narrow(r);
}
void SetHostMaskRect(const VRect& r) {
  if (UsesBigDocument()) gFilterRecord->bigDocumentData->maskRect32 = r;
  else gFilterRecord->maskRect = Narrow(r);
}

// Both coordinate widths are cleared: a host may look at either to decide that the
// plug-in wants nothing more.
void ClearHostRects() {
  const HostRect empty16 = {0, 0, 0, 0};
  gFilterRecord->inRect = empty16;
  gFilterRecord->outRect = empty16;
  gFilterRecord->maskRect = empty16;
  if (BigDocumentStruct* big = gFilterRecord->bigDocumentData) {
    const VRect empty = {0, 0, 0, 0};
    big->inRect32 = empty;
    big->outRect32 = empty;
    big->maskRect32 = empty;
  }
}

HostRequestSnapshot TakeHostRequestSnapshot() {
  const FilterRecord* r = gFilterRecord;
  HostRequestSnapshot s{};
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
  s.inPreDummyPlanes = r->inPreDummyPlanes;
  s.inPostDummyPlanes = r->inPostDummyPlanes;
  s.outPreDummyPlanes = r->outPreDummyPlanes;
  s.outPostDummyPlanes = r->outPostDummyPlanes;
  s.autoMask = r->autoMask;
  return s;
}

void PutBackHostRequestSnapshot(const HostRequestSnapshot& s) {
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
  r->inPreDummyPlanes = s.inPreDummyPlanes;
  r->inPostDummyPlanes = s.inPostDummyPlanes;
  r->outPreDummyPlanes = s.outPreDummyPlanes;
  r->outPostDummyPlanes = s.outPostDummyPlanes;
  r->autoMask = s.autoMask;
}

// ---- pixel exchange --------------------------------------------------------------

namespace {

// The host rectangle a preview-coordinate rectangle stands for: moved by the floating
// selection's origin and the pan, both reduced by previewScale.
VRect HostRegionOf(const VRect& rect) {
  const int32_t s = gSettings && gSettings->previewScale > 0 ? gSettings->previewScale : 1;
  const VPoint origin = HostFloatCoord();
  const int32_t panX = gSettings ? gSettings->panX : 0;
  const int32_t panY = gSettings ? gSettings->panY : 0;
  const int32_t dx = origin.h / s + panX / s;
  const int32_t dy = origin.v / s + panY / s;
  return {rect.top + dy, rect.left + dx, rect.bottom + dy, rect.right + dx};
}

void SetRequestDetails() {
  const int32_t s = gSettings && gSettings->previewScale > 0 ? gSettings->previewScale : 1;
  gFilterRecord->inLoPlane = gFilterRecord->outLoPlane = 0;
  gFilterRecord->inHiPlane = gFilterRecord->outHiPlane = int16_t(gFilterRecord->planes - 1);
  gFilterRecord->inputRate = gFilterRecord->maskRate = Fixed(s) << 16;
  gFilterRecord->inputPadding = gFilterRecord->outputPadding = gFilterRecord->maskPadding =
      plugInWantsEdgeReplication;
  gFilterRecord->inPreDummyPlanes = gFilterRecord->inPostDummyPlanes = 0;
  gFilterRecord->outPreDummyPlanes = gFilterRecord->outPostDummyPlanes = 0;
  gFilterRecord->autoMask = 0;
}

}  // namespace

void HostRequestOutput(const VRect& rect) {
  const VRect empty = {0, 0, 0, 0};
  SetHostInRect(empty);
  SetHostMaskRect(empty);
  SetHostOutRect(HostRegionOf(rect));
  SetRequestDetails();
}

void HostRequestRegion(const VRect& rect) {
  const VRect region = HostRegionOf(rect);
  SetHostInRect(region);
  SetHostOutRect(region);
  if (gFilterRecord->haveMask) SetHostMaskRect(region);
  SetRequestDetails();
}

namespace {

enum SampleKind { kSample8, kSample16, kSampleFloat };

SampleKind HostSampleKind() {
  if (ModeIsFloat()) return kSampleFloat;
  if (ModeIs16Bit()) return kSample16;
  return kSample8;
}

// Reads sample i of a pixel as 0..1 (float samples unscaled).
inline float LoadSample(const uint8_t* pixel, int i, SampleKind kind) {
  switch (kind) {
    case kSample8:
      return float(pixel[i]) * (1.0f / 255.0f);
    case kSample16:
      return float(reinterpret_cast<const uint16_t*>(pixel)[i]) * (1.0f / 32768.0f);
    default:
      return reinterpret_cast<const float*>(pixel)[i];
  }
}

inline void StoreSample(uint8_t* pixel, int i, SampleKind kind, float value) {
  switch (kind) {
    case kSample8:
      pixel[i] = uint8_t(FloatToSample(value, 255));
      break;
    case kSample16:
      reinterpret_cast<uint16_t*>(pixel)[i] = uint16_t(FloatToSample(value, 32768));
      break;
    default:
      reinterpret_cast<float*>(pixel)[i] = value;
      break;
  }
}

int SampleSize(SampleKind kind) { return kind == kSample8 ? 1 : kind == kSample16 ? 2 : 4; }

}  // namespace

HostPixelLayout CurrentPixelLayout() {
  HostPixelLayout layout{};
  const SampleKind kind = HostSampleKind();
  layout.kind = kind;
  layout.bytesPerSample = SampleSize(kind);
  layout.inSamples = gFilterRecord->inHiPlane - gFilterRecord->inLoPlane + 1;
  if (layout.inSamples < 1) layout.inSamples = 1;
  layout.outSamples = gFilterRecord->planes > 0 ? gFilterRecord->planes : 1;
  layout.grey = gFilterRecord->planes < 3 || layout.inSamples < 3;
  const bool transparency = EditableTransparency();
  const int alpha = gFilterRecord->inLayerPlanes;
  // A host that misstates the layer planes must not make us read past the pixel.
  layout.inAlpha = transparency && alpha >= 0 && alpha < layout.inSamples ? alpha : -1;
  layout.outAlpha = transparency && alpha >= 0 && alpha < layout.outSamples ? alpha : -1;
  return layout;
}

namespace {

// The per-pixel loops with the sample kind fixed at compile time.
template <SampleKind kind>
void DecodeAs(const HostPixelLayout& layout, const uint8_t* samples, int32_t count,
              Colour* colours) {
  const int stride = layout.inSamples * layout.bytesPerSample;
  for (int32_t i = 0; i < count; ++i, samples += stride) {
    Colour& c = colours[i];
    if (layout.grey) {
      c.red = c.green = c.blue = LoadSample(samples, 0, kind);
    } else {
      c.red = LoadSample(samples, 0, kind);
      c.green = LoadSample(samples, 1, kind);
      c.blue = LoadSample(samples, 2, kind);
    }
    c.alpha = layout.inAlpha >= 0 ? LoadSample(samples, layout.inAlpha, kind) : 1.0f;
  }
}

template <SampleKind kind>
void EncodeAs(const HostPixelLayout& layout, const Colour* colours, int32_t count,
              uint8_t* samples) {
  const int stride = layout.outSamples * layout.bytesPerSample;
  const bool grey = layout.outSamples < 3;
  for (int32_t i = 0; i < count; ++i, samples += stride) {
    const Colour& c = colours[i];
    if (grey) {
      StoreSample(samples, 0, kind, c.green);
    } else {
      StoreSample(samples, 0, kind, c.red);
      StoreSample(samples, 1, kind, c.green);
      StoreSample(samples, 2, kind, c.blue);
    }
    if (layout.outAlpha >= 0) StoreSample(samples, layout.outAlpha, kind, c.alpha);
  }
}

}  // namespace

void DecodeHostPixels(const HostPixelLayout& layout, const uint8_t* samples, int32_t count,
                      Colour* colours) {
  switch (layout.kind) {
    case kSample8: DecodeAs<kSample8>(layout, samples, count, colours); break;
    case kSample16: DecodeAs<kSample16>(layout, samples, count, colours); break;
    default: DecodeAs<kSampleFloat>(layout, samples, count, colours); break;
  }
}

void EncodeHostPixels(const HostPixelLayout& layout, const Colour* colours, int32_t count,
                      uint8_t* samples) {
  switch (layout.kind) {
    case kSample8: EncodeAs<kSample8>(layout, colours, count, samples); break;
    case kSample16: EncodeAs<kSample16>(layout, colours, count, samples); break;
    default: EncodeAs<kSampleFloat>(layout, colours, count, samples); break;
  }
}

void HostReadRow(int32_t x0, int32_t y, int32_t count, const VRect& tile, Colour* colours) {
  if (!gFilterRecord->inData) {
    for (int32_t i = 0; i < count; ++i) colours[i] = {0, 0, 0, 0};
    return;
  }
  if (y < tile.top || y >= tile.bottom) return;
  const HostPixelLayout layout = CurrentPixelLayout();
  const int stride = layout.inSamples * layout.bytesPerSample;
  const uint8_t* row = static_cast<const uint8_t*>(gFilterRecord->inData) +
                       int64_t(y - tile.top) * gFilterRecord->inRowBytes;
  const int32_t first = x0 < tile.left ? tile.left : x0;
  const int32_t end = x0 + count > tile.right ? tile.right : x0 + count;
  if (end > first)
    DecodeHostPixels(layout, row + int64_t(first - tile.left) * stride, end - first,
                     colours + (first - x0));
}

void HostReadPixel(int32_t x, int32_t y, const VRect& tile, Colour* colour) {
  HostReadRow(x, y, 1, tile, colour);
}

void HostMaskRow(int32_t x0, int32_t y, int32_t count, const VRect& tile, float* values) {
  if (!gFilterRecord->maskData) {
    for (int32_t i = 0; i < count; ++i) values[i] = 1.0f;
    return;
  }
  const uint8_t* row = static_cast<const uint8_t*>(gFilterRecord->maskData) +
                       int64_t(y - tile.top) * gFilterRecord->maskRowBytes;
  const bool rowInside = y >= tile.top && y < tile.bottom;
  for (int32_t i = 0; i < count; ++i) {
    int32_t x = x0 + i;
    values[i] = rowInside && x >= tile.left && x < tile.right
                    ? float(row[x - tile.left]) * (1.0f / 255.0f)
                    : 0.0f;
  }
}

float HostMaskValue(int32_t x, int32_t y, const VRect& tile) {
  float value = 0.0f;
  HostMaskRow(x, y, 1, tile, &value);
  return value;
}

namespace {

void WritePreviewRow(int32_t x0, int32_t y, int32_t count, const Colour* colours) {
  PreviewBuffer& preview = gState->previewBuffer;
  uint8_t* pixels = static_cast<uint8_t*>(preview.buffer.memory);
  if (!pixels || preview.width <= 0 || preview.height <= 0) return;
  // The buffer holds the preview region, whose corner need not be the origin.
  y -= gState->viewRect.top;
  x0 -= gState->viewRect.left;
  const int32_t row = y < 0 ? 0 : y >= preview.height ? preview.height - 1 : y;
  const bool grey = preview.planes < 3;
  for (int32_t i = 0; i < count; ++i) {
    int32_t x = x0 + i;
    x = x < 0 ? 0 : x >= preview.width ? preview.width - 1 : x;
    const int64_t at = int64_t(row) * preview.width + x;
    if (grey) {
      pixels[at] = uint8_t(FloatToSample(colours[i].green, 255));
    } else {
      pixels[at] = uint8_t(FloatToSample(colours[i].red, 255));
      pixels[at + preview.planeSize] = uint8_t(FloatToSample(colours[i].green, 255));
      pixels[at + 2 * int64_t(preview.planeSize)] = uint8_t(FloatToSample(colours[i].blue, 255));
    }
  }
}

void WriteHostRow(int32_t x0, int32_t y, int32_t count, const VRect& tile,
                  const Colour* colours) {
  if (!gFilterRecord->outData) return;
  const VRect out = HostOutRect();
  const int32_t rowInTile = y - tile.top;
  if (rowInTile < 0 || rowInTile >= RectHeight(tile) || rowInTile >= RectHeight(out)) return;
  const int32_t columns = RectWidth(tile) < RectWidth(out) ? RectWidth(tile) : RectWidth(out);
  HostPixelLayout layout = CurrentPixelLayout();
  const int stride = layout.outSamples * layout.bytesPerSample;
  uint8_t* row = static_cast<uint8_t*>(gFilterRecord->outData) +
                 int64_t(rowInTile) * gFilterRecord->outRowBytes;
  // Only the columns inside the tile and the output rectangle are written.
  int32_t first = x0 - tile.left, end = x0 + count - tile.left;
  if (first < 0) first = 0;
  if (end > columns) end = columns;
  if (end > first)
    EncodeHostPixels(layout, colours + (first + tile.left - x0), end - first,
                     row + int64_t(first) * stride);
}

}  // namespace

void HostWriteRow(int32_t x0, int32_t y, int32_t count, const VRect& tile,
                  const Colour* colours) {
  switch (gSettings ? gSettings->renderMode : 0) {
    case 0:
      WriteHostRow(x0, y, count, tile, colours);
      break;
    case 1:
      WritePreviewRow(x0, y, count, colours);
      break;
    default:
      break;  // internal images are written by the tiled-image code
  }
}

void HostWritePixel(int32_t x, int32_t y, const Colour& colour, const VRect& tile) {
  HostWriteRow(x, y, 1, tile, &colour);
}

void CopyRegionToPreview() {
  const int32_t s = gSettings->previewScale > 0 ? gSettings->previewScale : 1;
  ComputePreviewGeometry(s);
  PreviewBuffer& preview = gState->previewBuffer;
  preview.planes = gFilterRecord->planes;
  const int64_t needed = int64_t(preview.planes) * preview.planeSize;
  if (needed <= 0) return;
  if (!preview.buffer.memory || needed > preview.totalSize) {
    WorkBufferFree(&preview.buffer);
    preview.buffer = WorkBufferAlloc(size_t(needed));
    if (!preview.buffer.memory) {
      preview.totalSize = 0;
      return;
    }
  }
  preview.totalSize = int32_t(needed);

  // The region the preview shows, in reduced coordinates, as the preview render asks
  // for it, so that the unfiltered and the filtered picture cover the same area.
  const VRect region = gState->viewRect;
  HostRequestRegion(region);
  const SampleKind kind = HostSampleKind();
  uint8_t* pixels = static_cast<uint8_t*>(preview.buffer.memory);
  for (int16_t p = 0; p < preview.planes; ++p) {
    gFilterRecord->inLoPlane = gFilterRecord->inHiPlane = p;
    if (HostAdvance() != noErr) return;
    if (!gFilterRecord->inData) return;
    for (int32_t y = 0; y < preview.height; ++y) {
      const uint8_t* row = static_cast<const uint8_t*>(gFilterRecord->inData) +
                           int64_t(y) * gFilterRecord->inRowBytes;
      uint8_t* out = pixels + int64_t(p) * preview.planeSize + int64_t(y) * preview.width;
      for (int32_t x = 0; x < preview.width; ++x) {
        switch (kind) {
          case kSample8:
            out[x] = row[x];
            break;
          case kSample16:
            out[x] = uint8_t((10 * int32_t(reinterpret_cast<const uint16_t*>(row)[x])) / 1285);
            break;
          default:
            out[x] = uint8_t(FloatToSample(reinterpret_cast<const float*>(row)[x], 255));
            break;
        }
      }
    }
  }
}
