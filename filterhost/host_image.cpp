// The test host's in-memory image and the region copies behind advanceState.
#include "filterhost/host_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// A request larger than this is refused as a host out of memory would.
constexpr int64_t kMaxRegionBytes = int64_t(1) << 30;

double LoadSample(const uint8_t* p, int16_t depth) {
  if (depth == 16) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }
  if (depth == 32) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
  }
  return *p;
}

void StoreSample(uint8_t* p, int16_t depth, double value) {
  if (depth == 16) {
    uint16_t v = uint16_t(std::lround(std::min(std::max(value, 0.0), 32768.0)));
    std::memcpy(p, &v, 2);
  } else if (depth == 32) {
    float v = float(value);
    std::memcpy(p, &v, 4);
  } else {
    *p = uint8_t(std::lround(std::min(std::max(value, 0.0), 255.0)));
  }
}

// floor(c × rate) for a 16.16 rate; the shift floors negative coordinates too.
int64_t SourceCoordinate(int32_t c, Fixed rate) {
  return (int64_t(c) * rate) >> 16;
}

// Resolves a source coordinate against [0, size): true with `resolved` set when a pixel
// should be read, false when the padding value applies.
bool ResolveCoordinate(int64_t c, int32_t size, int16_t padding, int64_t* resolved) {
  if (c >= 0 && c < size) {
    *resolved = c;
    return true;
  }
  if (padding == plugInWantsEdgeReplication) {
    *resolved = c < 0 ? 0 : size - 1;
    return true;
  }
  return false;
}

bool PaddingIsUsable(int16_t padding) {
  return padding == plugInWantsEdgeReplication || padding == plugInDoesNotWantPadding ||
         (padding >= 0 && padding <= 255);
}

// Shared walk of CopyImageRegion and CopyMaskRegion: `source` gives the bytes of one
// pixel's requested planes, `fill` the padding bytes.
template <typename PixelAt>
OSErr CopyRegion(int32_t width, int32_t height, int32_t pixelBytes, const RegionRequest& request,
                 const uint8_t* fill, PixelAt pixelAt, std::vector<uint8_t>* buffer,
                 int32_t* rowBytes) {
  buffer->clear();
  *rowBytes = 0;
  const VRect& r = request.rect;
  if (RectIsEmpty(r)) return noErr;
  if (request.rate <= 0) return paramErr;
  const int64_t w = int64_t(r.right) - r.left;
  const int64_t h = int64_t(r.bottom) - r.top;
  const int64_t stride = w * pixelBytes + std::max(0, request.extraRowBytes);
  if (stride * h > kMaxRegionBytes) return memFullErr;
  if (width <= 0 || height <= 0) return paramErr;
  // An out-of-bounds request without usable padding fails as a whole.
  if (!PaddingIsUsable(request.padding)) {
    int64_t x0 = SourceCoordinate(r.left, request.rate);
    int64_t x1 = SourceCoordinate(r.right - 1, request.rate);
    int64_t y0 = SourceCoordinate(r.top, request.rate);
    int64_t y1 = SourceCoordinate(r.bottom - 1, request.rate);
    if (x0 < 0 || y0 < 0 || x1 >= width || y1 >= height) return paramErr;
  }
  buffer->assign(size_t(stride * h), 0);
  for (int64_t j = 0; j < h; ++j) {
    int64_t sy;
    bool rowInside =
        ResolveCoordinate(SourceCoordinate(int32_t(r.top + j), request.rate), height,
                          request.padding, &sy);
    uint8_t* out = buffer->data() + j * stride;
    for (int64_t i = 0; i < w; ++i, out += pixelBytes) {
      int64_t sx;
      bool inside = rowInside && ResolveCoordinate(SourceCoordinate(int32_t(r.left + i), request.rate),
                                                   width, request.padding, &sx);
      if (inside) {
        std::memcpy(out, pixelAt(int32_t(sx), int32_t(sy)), size_t(pixelBytes));
      } else if (request.padding >= 0) {
        std::memcpy(out, fill, size_t(pixelBytes));
      }
    }
  }
  *rowBytes = int32_t(stride);
  return noErr;
}

}  // namespace

HostImage MakeHostImage(int32_t width, int32_t height, int16_t planes, int16_t depth) {
  HostImage image;
  image.width = std::max(0, width);
  image.height = std::max(0, height);
  image.planes = planes;
  image.depth = depth;
  const bool grey = planes < 3;
  if (depth == 16) {
    image.imageMode = grey ? plugInModeGray16 : plugInModeRGB48;
  } else if (depth == 32) {
    image.imageMode = grey ? plugInModeGray32 : plugInModeRGB96;
  } else {
    image.imageMode = grey ? plugInModeGrayScale : plugInModeRGBColor;
  }
  image.filterCase = (planes == 2 || planes == 4) ? filterCaseEditableTransparencyNoSelection
                                                  : filterCaseFlatImageNoSelection;
  image.pixels.assign(size_t(image.width) * size_t(image.height) * size_t(std::max<int16_t>(planes, 0)) *
                          size_t(SampleBytes(depth)),
                      0);
  return image;
}

void SetSelectionMask(HostImage& image, std::vector<uint8_t> mask) {
  image.mask = std::move(mask);
  const bool selected = !image.mask.empty();
  if (HasEditableTransparency(image)) {
    image.filterCase = selected ? filterCaseEditableTransparencyWithSelection
                                : filterCaseEditableTransparencyNoSelection;
  } else {
    image.filterCase = selected ? filterCaseFlatImageWithSelection : filterCaseFlatImageNoSelection;
  }
}

int32_t SampleBytes(int16_t depth) {
  return depth == 16 ? 2 : depth == 32 ? 4 : 1;
}

bool HasEditableTransparency(const HostImage& image) {
  return image.filterCase == filterCaseEditableTransparencyNoSelection ||
         image.filterCase == filterCaseEditableTransparencyWithSelection;
}

static size_t SampleOffset(const HostImage& image, int32_t x, int32_t y, int16_t plane) {
  return ((size_t(y) * size_t(image.width) + size_t(x)) * size_t(image.planes) + size_t(plane)) *
         size_t(SampleBytes(image.depth));
}

double ReadSample(const HostImage& image, int32_t x, int32_t y, int16_t plane) {
  return LoadSample(image.pixels.data() + SampleOffset(image, x, y, plane), image.depth);
}

void WriteSample(HostImage& image, int32_t x, int32_t y, int16_t plane, double value) {
  StoreSample(image.pixels.data() + SampleOffset(image, x, y, plane), image.depth, value);
}

bool RectIsEmpty(const VRect& r) {
  return r.top >= r.bottom || r.left >= r.right;
}

VRect IntersectRects(const VRect& a, const VRect& b) {
  VRect r{std::max(a.top, b.top), std::max(a.left, b.left), std::min(a.bottom, b.bottom),
          std::min(a.right, b.right)};
  if (RectIsEmpty(r)) r = VRect{0, 0, 0, 0};
  return r;
}

OSErr CopyImageRegion(const HostImage& image, const RegionRequest& request,
                      std::vector<uint8_t>* buffer, int32_t* rowBytes) {
  if (!RectIsEmpty(request.rect) &&
      (request.loPlane < 0 || request.hiPlane < request.loPlane || request.hiPlane >= image.planes)) {
    buffer->clear();
    *rowBytes = 0;
    return paramErr;
  }
  const int32_t sampleBytes = SampleBytes(image.depth);
  const int32_t count = request.hiPlane - request.loPlane + 1;
  const int32_t pixelBytes = count * sampleBytes;
  uint8_t fill[4 * 64] = {};
  if (request.padding >= 0 && request.padding <= 255 && count <= 64) {
    // Fill values are given in 8-bit terms; 255 means full range at every depth.
    double value = request.padding;
    if (image.depth == 16) value = value * 32768.0 / 255.0;
    if (image.depth == 32) value = value / 255.0;
    for (int32_t p = 0; p < count; ++p) StoreSample(fill + p * sampleBytes, image.depth, value);
  }
  const size_t firstPlane = size_t(request.loPlane) * size_t(sampleBytes);
  auto pixelAt = [&](int32_t x, int32_t y) {
    return image.pixels.data() + SampleOffset(image, x, y, 0) + firstPlane;
  };
  return CopyRegion(image.width, image.height, pixelBytes, request, fill, pixelAt, buffer, rowBytes);
}

OSErr CopyMaskRegion(const HostImage& image, const RegionRequest& request,
                     std::vector<uint8_t>* buffer, int32_t* rowBytes) {
  if (image.mask.size() != size_t(image.width) * size_t(image.height)) {
    buffer->clear();
    *rowBytes = 0;
    return RectIsEmpty(request.rect) ? noErr : paramErr;
  }
  const uint8_t fill = uint8_t(request.padding >= 0 && request.padding <= 255 ? request.padding : 0);
  auto pixelAt = [&](int32_t x, int32_t y) {
    return image.mask.data() + size_t(y) * size_t(image.width) + size_t(x);
  };
  return CopyRegion(image.width, image.height, 1, request, &fill, pixelAt, buffer, rowBytes);
}

void StoreImageRegion(HostImage& image, const VRect& rect, int16_t loPlane, int16_t hiPlane,
                      const uint8_t* buffer, int32_t rowBytes, const VRect& clip,
                      bool blendByMask) {
  if (!buffer || loPlane < 0 || hiPlane < loPlane || hiPlane >= image.planes) return;
  const VRect whole{0, 0, image.height, image.width};
  const VRect area = IntersectRects(IntersectRects(rect, clip), whole);
  if (RectIsEmpty(area)) return;
  const bool masked =
      blendByMask && image.mask.size() == size_t(image.width) * size_t(image.height);
  const int32_t sampleBytes = SampleBytes(image.depth);
  const int32_t count = hiPlane - loPlane + 1;
  for (int32_t y = area.top; y < area.bottom; ++y) {
    const uint8_t* row = buffer + int64_t(y - rect.top) * rowBytes;
    for (int32_t x = area.left; x < area.right; ++x) {
      const uint8_t* pixel = row + int64_t(x - rect.left) * count * sampleBytes;
      const double coverage = masked ? image.mask[size_t(y) * size_t(image.width) + size_t(x)] / 255.0 : 1.0;
      for (int32_t p = 0; p < count; ++p) {
        double value = LoadSample(pixel + p * sampleBytes, image.depth);
        if (masked) {
          const double old = ReadSample(image, x, y, int16_t(loPlane + p));
          value = old + (value - old) * coverage;
        }
        WriteSample(image, x, y, int16_t(loPlane + p), value);
      }
    }
  }
}
