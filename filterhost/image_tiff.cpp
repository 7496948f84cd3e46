// TIFF through libtiff (native build only): 8/16-bit integer and 32-bit float samples,
// grey or RGB with an optional alpha extra sample, contiguous strips.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <tiffio.h>

#include "filterhost/host_image.h"
#include "filterhost/image_codecs.h"

namespace {

constexpr uint32_t kRowsPerStrip = 64;

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

// libtiff reports through handlers; this one keeps the first message of the call for our
// error text instead of letting the library print to stderr.
int CaptureTiffError(TIFF*, void* userData, const char* module, const char* format, va_list args) {
  std::string* message = static_cast<std::string*>(userData);
  if (message->empty()) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    *message = text;
  }
  return 1;
}

int IgnoreTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

TIFF* OpenTiff(const std::string& path, const char* mode, std::string* libraryMessage) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, CaptureTiffError, libraryMessage);
  TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreTiffWarning, nullptr);
  // Strip buffers of a hostile file stay within what a valid image could need.
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(kMaxImageBytes));
  TIFF* tiff = TIFFOpenExt(path.c_str(), mode, options);
  TIFFOpenOptionsFree(options);
  return tiff;
}

std::string WithLibraryMessage(const std::string& message, const std::string& libraryMessage) {
  return libraryMessage.empty() ? message : message + " (" + libraryMessage + ")";
}

bool ReadOpenTiff(TIFF* tiff, FileImage* image, std::string* error) {
  uint32_t width = 0, height = 0;
  uint16_t channels = 1, bits = 1, format = SAMPLEFORMAT_UINT, photometric = 0,
           planar = PLANARCONFIG_CONTIG;
  if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) ||
      !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height)) {
    return Fail(error, "corrupt TIFF: no image size");
  }
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric))
    return Fail(error, "corrupt TIFF: no photometric tag");

  const int colours = photometric == PHOTOMETRIC_MINISBLACK ? 1
                      : photometric == PHOTOMETRIC_RGB      ? 3
                                                            : 0;
  if (colours == 0) {
    return Fail(error, "unsupported TIFF colour type (photometric " + std::to_string(photometric) +
                           "; only grey with black at zero and RGB)");
  }
  if (channels != colours && channels != colours + 1) {
    return Fail(error, "unsupported TIFF: " + std::to_string(channels) + " samples per pixel for " +
                           (colours == 1 ? "grey" : "RGB"));
  }
  if (channels == colours + 1) {
    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) && extraCount == 1 &&
        extraTypes[0] == EXTRASAMPLE_ASSOCALPHA) {
      // Premultiplied colour would need dividing out; say so rather than pass it off as straight.
      return Fail(error, "unsupported TIFF: premultiplied (associated) alpha");
    }
  }
  const bool integer = format == SAMPLEFORMAT_UINT && (bits == 8 || bits == 16);
  const bool floating = format == SAMPLEFORMAT_IEEEFP && bits == 32;
  if (!integer && !floating) {
    return Fail(error, "unsupported TIFF sample depth: " + std::to_string(bits) + "-bit " +
                           (format == SAMPLEFORMAT_IEEEFP ? "float"
                            : format == SAMPLEFORMAT_INT  ? "signed"
                                                          : "integer") +
                           " (8/16-bit unsigned or 32-bit float only)");
  }
  if (planar != PLANARCONFIG_CONTIG && channels > 1)
    return Fail(error, "unsupported TIFF: separate colour planes");
  if (TIFFIsTiled(tiff)) return Fail(error, "unsupported TIFF: tiled layout (strips only)");

  if (!CheckImageShape(width, height, channels, bits, error)) return false;
  FileImage decoded;
  decoded.width = int32_t(width);
  decoded.height = int32_t(height);
  decoded.channels = int16_t(channels);
  decoded.bitsPerSample = int16_t(bits);
  const size_t rowBytes = FileRowBytes(decoded);
  if (uint64_t(TIFFScanlineSize64(tiff)) != rowBytes)
    return Fail(error, "corrupt TIFF: unexpected row size");
  uint32_t rowsPerStrip = height;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  if (rowsPerStrip == 0 || rowsPerStrip > height) rowsPerStrip = height;
  // Strips are decoded straight into the samples. The whole image is reserved at once
  // (address space only: nothing is touched yet) and the samples grow with the strips
  // actually decoded, so a header claiming a huge image costs memory only if the file
  // really holds the data.
  ReserveImageBytes(&decoded.samples, size_t(height) * rowBytes);
  for (uint32_t row = 0; row < height; row += rowsPerStrip) {
    const uint32_t rows = std::min(rowsPerStrip, height - row);
    const size_t at = size_t(row) * rowBytes;
    const size_t bytes = size_t(rows) * rowBytes;
    decoded.samples.resize(at + bytes);
    const tmsize_t got = TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, row, 0),
                                              decoded.samples.data() + at, tmsize_t(bytes));
    if (got != tmsize_t(bytes))
      return Fail(error, "corrupt or truncated TIFF data at row " + std::to_string(row));
  }
  *image = std::move(decoded);
  return true;
}

bool WriteOpenTiff(TIFF* tiff, const FileImage& image, bool deflate) {
  const bool hasAlpha = image.channels == 2 || image.channels == 4;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(image.width));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(image.height));
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t(image.channels));
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, uint16_t(image.bitsPerSample));
  TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT,
               uint16_t(image.bitsPerSample == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT));
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
               uint16_t(image.channels >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK));
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
  TIFFSetField(tiff, TIFFTAG_ORIENTATION, uint16_t(ORIENTATION_TOPLEFT));
  if (hasAlpha) {
    uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, uint16_t(1), &extra);
  }
  if (deflate) {
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_ADOBE_DEFLATE));
    TIFFSetField(
        tiff, TIFFTAG_PREDICTOR,
        uint16_t(image.bitsPerSample == 32 ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL));
  } else {
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_NONE));
  }
  // Strips of many rows: fewer, larger pieces for the library and the compressor.
  const uint32_t rowsPerStrip = std::min<uint32_t>(kRowsPerStrip, uint32_t(image.height));
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  const size_t rowBytes = FileRowBytes(image);
  // The predictor works in place, so each strip goes through a scratch copy.
  std::vector<uint8_t> strip(size_t(rowsPerStrip) * rowBytes);
  for (uint32_t row = 0; row < uint32_t(image.height); row += rowsPerStrip) {
    const uint32_t rows = std::min(rowsPerStrip, uint32_t(image.height) - row);
    const size_t bytes = size_t(rows) * rowBytes;
    std::memcpy(strip.data(), image.samples.data() + size_t(row) * rowBytes, bytes);
    if (TIFFWriteEncodedStrip(tiff, row / rowsPerStrip, strip.data(), tmsize_t(bytes)) < 0)
      return false;
  }
  return TIFFWriteDirectory(tiff) != 0;
}

}  // namespace

bool ReadTiffFile(const std::string& path, FileImage* image, std::string* error) {
  std::string libraryMessage;
  TIFF* tiff = OpenTiff(path, "r", &libraryMessage);
  if (!tiff)
    return Fail(error, WithLibraryMessage("corrupt TIFF: cannot read its header", libraryMessage));
  std::string message;
  bool ok = ReadOpenTiff(tiff, image, &message);
  TIFFClose(tiff);
  if (!ok) return Fail(error, WithLibraryMessage(message, libraryMessage));
  return true;
}

bool WriteTiffFile(const std::string& path, const FileImage& image, bool deflate,
                   std::string* error) {
  std::string libraryMessage;
  // "w8" would be BigTIFF; plain TIFF holds any image within our 2 GiB limit.
  TIFF* tiff = OpenTiff(path, "w", &libraryMessage);
  if (!tiff) return Fail(error, WithLibraryMessage("cannot create the file", libraryMessage));
  bool ok = WriteOpenTiff(tiff, image, deflate);
  TIFFClose(tiff);
  if (!ok) {
    std::remove(path.c_str());
    return Fail(error, WithLibraryMessage("write failed", libraryMessage));
  }
  return true;
}
