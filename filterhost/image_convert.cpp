// Conversions between image files and the host's in-memory image, and between host depths.
#include "filterhost/image_convert.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
float LoadFloat(const uint8_t* p) {
  float v;
  std::memcpy(&v, p, 4);
  return v;
}
void StoreFloat(uint8_t* p, float v) { std::memcpy(p, &v, 4); }

// Rounds a 0..1 float onto 0..full, clamping (NaN goes to 0).
int64_t RoundUnit(float value, int64_t full) {
  if (!(value > 0.0f)) return 0;
  if (value >= 1.0f) return full;
  return int64_t(std::lround(double(value) * double(full)));
}

// One sample from depth `from` at `source` to depth `to` at `target`.
void ConvertSample(const uint8_t* source, int16_t from, uint8_t* target, int16_t to) {
  if (from == to) {
    std::memcpy(target, source, size_t(SampleBytes(from)));
    return;
  }
  if (from == 8) {
    int64_t v = *source;
    if (to == 16)
      Store16(target, uint16_t((v * 32768 + 127) / 255));
    else
      StoreFloat(target, float(v) / 255.0f);
  } else if (from == 16) {
    int64_t h = std::min<int64_t>(Load16(source), 32768);
    if (to == 8)
      *target = uint8_t((h * 255 + 16384) / 32768);
    else
      StoreFloat(target, float(h) / 32768.0f);
  } else {
    float f = LoadFloat(source);
    if (to == 8)
      *target = uint8_t(RoundUnit(f, 255));
    else
      Store16(target, uint16_t(RoundUnit(f, 32768)));
  }
}

bool HostShapeIsValid(const HostImage& image, std::string* error) {
  if (image.planes < 1 || image.planes > 4) {
    return Fail(error, "host image has " + std::to_string(image.planes) +
                           " planes; only 1 to 4 are supported");
  }
  if (image.depth != 8 && image.depth != 16 && image.depth != 32) {
    return Fail(error, "host image has unsupported depth " + std::to_string(image.depth));
  }
  size_t expected = size_t(std::max(image.width, 0)) * size_t(std::max(image.height, 0)) *
                    size_t(image.planes) * size_t(SampleBytes(image.depth));
  if (image.pixels.size() != expected)
    return Fail(error, "host image pixel buffer has the wrong size");
  return true;
}

// Replaces the image by a fresh one of the given planes and depth, keeping its mask.
HostImage Reshaped(const HostImage& image, int16_t planes, int16_t depth) {
  HostImage result = MakeHostImage(image.width, image.height, planes, depth);
  if (!image.mask.empty()) SetSelectionMask(result, image.mask);
  return result;
}

// The 16-bit mappings over whole buffers, `count` samples from `source` to `target`
// (which may be the same). 32-bit arithmetic suffices: 65535 × 32768 + 32767 and
// 32768 × 65535 + 16384 both stay below 2^31, and it lets the compiler vectorise.
void MapFileSamples16ToHost(const uint8_t* source, uint8_t* target, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const uint32_t v = Load16(source + 2 * i);
    Store16(target + 2 * i, uint16_t((v * 32768u + 32767u) / 65535u));
  }
}

void MapHostSamples16ToFile(const uint8_t* source, uint8_t* target, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const uint32_t h = std::min<uint32_t>(Load16(source + 2 * i), 32768u);
    Store16(target + 2 * i, uint16_t((h * 65535u + 16384u) / 32768u));
  }
}

// A host image of the file's shape with no pixels yet.
HostImage HostImageShaped(const FileImage& file) {
  HostImage result = MakeHostImage(0, 0, file.channels, file.bitsPerSample);
  result.width = file.width;
  result.height = file.height;
  return result;
}

}  // namespace

uint16_t FileSample16ToHost(uint16_t fileValue) {
  return uint16_t((int64_t(fileValue) * 32768 + 32767) / 65535);
}

uint16_t HostSample16ToFile(int64_t hostValue) {
  int64_t h = std::min<int64_t>(std::max<int64_t>(hostValue, 0), 32768);
  return uint16_t((h * 65535 + 16384) / 32768);
}

bool FileImageToHostImage(const FileImage& file, HostImage* host, std::string* error) {
  try {
    if (!ValidateFileImage(file, error)) return false;
    HostImage result = HostImageShaped(file);
    ReserveImageBytes(&result.pixels, file.samples.size());
    result.pixels.resize(file.samples.size());
    if (file.bitsPerSample == 16) {
      MapFileSamples16ToHost(file.samples.data(), result.pixels.data(), file.samples.size() / 2);
    } else {
      std::memcpy(result.pixels.data(), file.samples.data(), file.samples.size());
    }
    *host = std::move(result);
    return true;
  } catch (const std::bad_alloc&) {
    return Fail(error, "out of memory converting the image for the host");
  }
}

bool FileImageToHostImage(FileImage&& file, HostImage* host, std::string* error) {
  if (!ValidateFileImage(file, error)) return false;
  HostImage result = HostImageShaped(file);
  result.pixels = std::move(file.samples);
  file = FileImage();
  if (result.depth == 16)
    MapFileSamples16ToHost(result.pixels.data(), result.pixels.data(), result.pixels.size() / 2);
  *host = std::move(result);
  return true;
}

bool HostImageToFileImage(const HostImage& host, FileImage* file, std::string* error) {
  try {
    if (!HostShapeIsValid(host, error)) return false;
    FileImage result;
    if (!AllocateFileImage(&result, host.width, host.height, host.planes, host.depth, error))
      return false;
    if (host.depth == 16) {
      MapHostSamples16ToFile(host.pixels.data(), result.samples.data(), host.pixels.size() / 2);
    } else {
      std::memcpy(result.samples.data(), host.pixels.data(), host.pixels.size());
    }
    *file = std::move(result);
    return true;
  } catch (const std::bad_alloc&) {
    return Fail(error, "out of memory converting the host image");
  }
}

bool HostImageToFileImage(HostImage&& host, FileImage* file, std::string* error) {
  if (!HostShapeIsValid(host, error)) return false;
  // The shape checks of a file image (limits included) without allocating.
  if (!CheckImageShape(host.width, host.height, host.planes, host.depth, error)) return false;
  FileImage result;
  result.width = host.width;
  result.height = host.height;
  result.channels = host.planes;
  result.bitsPerSample = host.depth;
  result.samples = std::move(host.pixels);
  host = HostImage();
  if (result.bitsPerSample == 16)
    MapHostSamples16ToFile(result.samples.data(), result.samples.data(), result.samples.size() / 2);
  *file = std::move(result);
  return true;
}

bool ConvertHostImageDepth(HostImage* image, int16_t depth, std::string* error) {
  if (depth != 8 && depth != 16 && depth != 32) return Fail(error, "depth must be 8, 16 or 32");
  if (!HostShapeIsValid(*image, error)) return false;
  if (image->depth == depth) return true;
  try {
    HostImage result = Reshaped(*image, image->planes, depth);
    const size_t count = image->pixels.size() / size_t(SampleBytes(image->depth));
    const size_t from = size_t(SampleBytes(image->depth)), to = size_t(SampleBytes(depth));
    for (size_t i = 0; i < count; ++i) {
      ConvertSample(image->pixels.data() + i * from, image->depth, result.pixels.data() + i * to,
                    depth);
    }
    *image = std::move(result);
    return true;
  } catch (const std::bad_alloc&) {
    return Fail(error, "out of memory converting the depth");
  }
}

bool ConvertHostImageToGrey(HostImage* image, std::string* error) {
  if (!HostShapeIsValid(*image, error)) return false;
  if (image->planes < 3) return true;
  try {
    const bool alpha = image->planes == 4;
    HostImage result = Reshaped(*image, alpha ? 2 : 1, image->depth);
    const size_t bytes = size_t(SampleBytes(image->depth));
    const size_t pixels = size_t(image->width) * size_t(image->height);
    for (size_t i = 0; i < pixels; ++i) {
      const uint8_t* s = image->pixels.data() + i * bytes * size_t(image->planes);
      uint8_t* t = result.pixels.data() + i * bytes * size_t(result.planes);
      double rgb[3];
      for (int c = 0; c < 3; ++c) {
        const uint8_t* p = s + size_t(c) * bytes;
        rgb[c] = image->depth == 8 ? *p : image->depth == 16 ? Load16(p) : LoadFloat(p);
      }
      double luma = 0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2];
      if (image->depth == 8)
        *t = uint8_t(std::min(255L, std::lround(luma)));
      else if (image->depth == 16)
        Store16(t, uint16_t(std::min(32768L, std::lround(luma))));
      else
        StoreFloat(t, float(luma));
      if (alpha) std::memcpy(t + bytes, s + 3 * bytes, bytes);
    }
    *image = std::move(result);
    return true;
  } catch (const std::bad_alloc&) {
    return Fail(error, "out of memory converting to grey");
  }
}

bool ConvertHostImageToRgb(HostImage* image, std::string* error) {
  if (!HostShapeIsValid(*image, error)) return false;
  if (image->planes >= 3) return true;
  try {
    const bool alpha = image->planes == 2;
    HostImage result = Reshaped(*image, alpha ? 4 : 3, image->depth);
    const size_t bytes = size_t(SampleBytes(image->depth));
    const size_t pixels = size_t(image->width) * size_t(image->height);
    for (size_t i = 0; i < pixels; ++i) {
      const uint8_t* s = image->pixels.data() + i * bytes * size_t(image->planes);
      uint8_t* t = result.pixels.data() + i * bytes * size_t(result.planes);
      for (int c = 0; c < 3; ++c) std::memcpy(t + size_t(c) * bytes, s, bytes);
      if (alpha) std::memcpy(t + 3 * bytes, s + bytes, bytes);
    }
    *image = std::move(result);
    return true;
  } catch (const std::bad_alloc&) {
    return Fail(error, "out of memory converting to RGB");
  }
}
