// The test host's in-memory image and the region copies behind advanceState.
#include "filterhost/host_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

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

// Copies `bytes` bytes; the common pixel sizes get fixed-size copies the compiler inlines.
inline void CopyPixelBytes(uint8_t* target, const uint8_t* source, int32_t bytes) {
  switch (bytes) {
    case 1: *target = *source; break;
    case 2: std::memcpy(target, source, 2); break;
    case 3: std::memcpy(target, source, 3); break;
    case 4: std::memcpy(target, source, 4); break;
    case 6: std::memcpy(target, source, 6); break;
    case 8: std::memcpy(target, source, 8); break;
    case 12: std::memcpy(target, source, 12); break;
    case 16: std::memcpy(target, source, 16); break;
    default: std::memcpy(target, source, size_t(bytes)); break;
  }
}

// Where CopyRegion reads: pixel (x, y) of the source starts at
// base + y × rowStride + x × pixelStride and gives `pixelBytes` bytes.
struct RegionSource {
  const uint8_t* base;
  size_t rowStride;
  size_t pixelStride;
};

// Fills `count` buffer pixels that lie outside the source: edge replication copies
// `edge`, a fill value copies `fill`, and no padding leaves the zeros already there.
void PadPixels(uint8_t* out, int64_t count, int32_t pixelBytes, int16_t padding,
               const uint8_t* edge, const uint8_t* fill) {
  const uint8_t* value = padding == plugInWantsEdgeReplication ? edge
                         : padding >= 0                        ? fill
                                                               : nullptr;
  if (!value) return;
  for (int64_t i = 0; i < count; ++i, out += pixelBytes) CopyPixelBytes(out, value, pixelBytes);
}

// Shared walk of CopyImageRegion and CopyMaskRegion; `fill` gives the padding bytes.
// At rate 1 a row is a run of padding, one straight copy and another run of padding;
// other rates sample pixel by pixel.
OSErr CopyRegion(int32_t width, int32_t height, int32_t pixelBytes, const RegionRequest& request,
                 const uint8_t* fill, const RegionSource& source, std::vector<uint8_t>* buffer,
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
  // Zeroed: the row slack and pixels left unpadded stay zero.
  buffer->assign(size_t(stride * h), 0);
  const bool unitRate = request.rate == 0x10000;
  // At rate 1 buffer columns [inFirst, inEnd) read source columns left + i inside the image.
  const int64_t inFirst = std::min<int64_t>(std::max<int64_t>(-int64_t(r.left), 0), w);
  const int64_t inEnd = std::max(inFirst, std::min<int64_t>(int64_t(width) - r.left, w));
  const bool contiguous = source.pixelStride == size_t(pixelBytes);
  for (int64_t j = 0; j < h; ++j) {
    int64_t sy;
    uint8_t* out = buffer->data() + j * stride;
    if (!ResolveCoordinate(SourceCoordinate(int32_t(r.top + j), request.rate), height,
                           request.padding, &sy)) {
      PadPixels(out, w, pixelBytes, request.padding, nullptr, fill);
      continue;
    }
    const uint8_t* sourceRow = source.base + size_t(sy) * source.rowStride;
    if (unitRate) {
      const uint8_t* lastPixel = sourceRow + size_t(width - 1) * source.pixelStride;
      PadPixels(out, inFirst, pixelBytes, request.padding, sourceRow, fill);
      const uint8_t* in = sourceRow + size_t(r.left + inFirst) * source.pixelStride;
      uint8_t* span = out + inFirst * pixelBytes;
      if (contiguous) {
        std::memcpy(span, in, size_t(inEnd - inFirst) * size_t(pixelBytes));
      } else {
        for (int64_t i = inFirst; i < inEnd; ++i, span += pixelBytes, in += source.pixelStride)
          CopyPixelBytes(span, in, pixelBytes);
      }
      PadPixels(out + inEnd * pixelBytes, w - inEnd, pixelBytes, request.padding, lastPixel, fill);
      continue;
    }
    for (int64_t i = 0; i < w; ++i, out += pixelBytes) {
      int64_t sx;
      if (ResolveCoordinate(SourceCoordinate(int32_t(r.left + i), request.rate), width,
                            request.padding, &sx)) {
        CopyPixelBytes(out, sourceRow + size_t(sx) * source.pixelStride, pixelBytes);
      } else if (request.padding >= 0) {
        CopyPixelBytes(out, fill, pixelBytes);
      }
    }
  }
  *rowBytes = int32_t(stride);
  return noErr;
}

// The blend of a host that masks for the plug-in, old + (new − old) × mask / 255, in
// integers. With n = old × (255 − m) + new × m it is n / 255 rounded to nearest; 255 is
// odd, so n / 255 never ends in exactly one half and the floating-point form it replaces
// (which rounded half away from zero) gives the same integers.
inline int32_t BlendByMask(int32_t old, int32_t value, int32_t mask) {
  return (old * (255 - mask) + value * mask + 127) / 255;
}

// True when writing `count` samples of `buffer` over `image` (same layout) would leave
// every byte as it is: the bytes match and, for 16 bits, none lies above 32768 (a store
// would clamp it). Floats under a mask are never taken as unchanged: infinities blend
// into NaN.
bool StoreLeavesRowAsIs(const uint8_t* image, const uint8_t* buffer, size_t count, int16_t depth,
                        bool masked) {
  if (depth == 32 && masked) return false;
  const size_t bytes = count * size_t(SampleBytes(depth));
  if (std::memcmp(image, buffer, bytes) != 0) return false;
  if (depth != 16) return true;
  uint16_t highest = 0;
  for (size_t i = 0; i < count; ++i) {
    uint16_t v;
    std::memcpy(&v, buffer + 2 * i, 2);
    highest = std::max(highest, v);
  }
  return highest <= 32768;
}

// Stores one row of `pixels` pixels of `count` samples from `source` into `target`, whose
// pixels are `targetPixelBytes` apart; `mask` (one byte per pixel) or null.
void StoreRow(uint8_t* target, int32_t targetPixelBytes, const uint8_t* source, int32_t count,
              int64_t pixels, int16_t depth, const uint8_t* mask) {
  const int32_t sampleBytes = SampleBytes(depth);
  const int32_t sourcePixelBytes = count * sampleBytes;
  if (!mask && depth != 16) {
    // 8-bit samples and floats go across unchanged.
    if (targetPixelBytes == sourcePixelBytes) {
      std::memcpy(target, source, size_t(pixels) * size_t(sourcePixelBytes));
    } else {
      for (int64_t x = 0; x < pixels; ++x, target += targetPixelBytes, source += sourcePixelBytes)
        CopyPixelBytes(target, source, sourcePixelBytes);
    }
    return;
  }
  for (int64_t x = 0; x < pixels; ++x, target += targetPixelBytes, source += sourcePixelBytes) {
    const int32_t m = mask ? mask[x] : 255;
    for (int32_t p = 0; p < count; ++p) {
      uint8_t* t = target + p * sampleBytes;
      const uint8_t* s = source + p * sampleBytes;
      if (depth == 8) {
        *t = uint8_t(BlendByMask(*t, *s, m));
      } else if (depth == 16) {
        uint16_t value, old;
        std::memcpy(&value, s, 2);
        std::memcpy(&old, t, 2);
        const int32_t blended = m == 255 ? value : BlendByMask(old, value, m);
        const uint16_t stored = uint16_t(std::min<int32_t>(blended, 32768));
        std::memcpy(t, &stored, 2);
      } else {
        float value, old;
        std::memcpy(&value, s, 4);
        std::memcpy(&old, t, 4);
        const float stored = float(double(old) + (double(value) - double(old)) * (m / 255.0));
        std::memcpy(t, &stored, 4);
      }
    }
  }
}

// Below this a buffer is not worth a huge page.
constexpr size_t kHugePageWorthy = size_t(4) << 20;

// Marks the whole pages inside [data, data + size) for transparent huge pages. Only a
// hint: where the kernel declines (or on other systems) nothing changes.
void AdviseHugePages(void* data, size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const uintptr_t page = 4096;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

}  // namespace

void ReserveImageBytes(std::vector<uint8_t>* bytes, size_t capacity) {
  if (bytes->capacity() >= capacity) return;
  std::vector<uint8_t> fresh;
  fresh.reserve(capacity);
  if (capacity >= kHugePageWorthy) AdviseHugePages(fresh.data(), capacity);
  bytes->swap(fresh);
}

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
  const size_t bytes = size_t(image.width) * size_t(image.height) *
                       size_t(std::max<int16_t>(planes, 0)) * size_t(SampleBytes(depth));
  ReserveImageBytes(&image.pixels, bytes);
  image.pixels.assign(bytes, 0);
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
  std::vector<uint8_t> fill(size_t(std::max(pixelBytes, 0)), 0);
  if (request.padding >= 0 && request.padding <= 255) {
    // Fill values are given in 8-bit terms; 255 means full range at every depth.
    double value = request.padding;
    if (image.depth == 16) value = value * 32768.0 / 255.0;
    if (image.depth == 32) value = value / 255.0;
    for (int32_t p = 0; p < count; ++p) StoreSample(fill.data() + p * sampleBytes, image.depth, value);
  }
  const size_t pixelStride = size_t(std::max<int16_t>(image.planes, 0)) * size_t(sampleBytes);
  const size_t firstPlane = size_t(std::max<int16_t>(request.loPlane, 0)) * size_t(sampleBytes);
  const RegionSource source{image.pixels.data() + firstPlane, size_t(image.width) * pixelStride,
                            pixelStride};
  return CopyRegion(image.width, image.height, pixelBytes, request, fill.data(), source, buffer,
                    rowBytes);
}

OSErr CopyMaskRegion(const HostImage& image, const RegionRequest& request,
                     std::vector<uint8_t>* buffer, int32_t* rowBytes) {
  if (image.mask.size() != size_t(image.width) * size_t(image.height)) {
    buffer->clear();
    *rowBytes = 0;
    return RectIsEmpty(request.rect) ? noErr : paramErr;
  }
  const uint8_t fill = uint8_t(request.padding >= 0 && request.padding <= 255 ? request.padding : 0);
  const RegionSource source{image.mask.data(), size_t(image.width), 1};
  return CopyRegion(image.width, image.height, 1, request, &fill, source, buffer, rowBytes);
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
  const int32_t imagePixelBytes = image.planes * sampleBytes;
  const int64_t pixels = int64_t(area.right) - area.left;
  for (int32_t y = area.top; y < area.bottom; ++y) {
    const uint8_t* source = buffer + int64_t(y - rect.top) * rowBytes +
                            int64_t(area.left - rect.left) * count * sampleBytes;
    uint8_t* target = image.pixels.data() + SampleOffset(image, area.left, y, loPlane);
    const uint8_t* mask =
        masked ? image.mask.data() + size_t(y) * size_t(image.width) + size_t(area.left) : nullptr;
    // A plug-in often hands back rows it never wrote (the host takes the output back
    // before every request); those are skipped after a compare instead of a store.
    if (count == image.planes &&
        StoreLeavesRowAsIs(target, source, size_t(pixels) * size_t(count), image.depth, masked))
      continue;
    StoreRow(target, imagePixelBytes, source, count, pixels, image.depth, mask);
  }
}
