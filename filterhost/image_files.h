// Image files for the command-line host: PNG, TIFF (native build only), PAM/PGM/PPM and PFM.
//
// A FileImage holds what a file stores, before any mapping to the host's scales:
// samples interleaved (all channels of a pixel together), rows top down, no row padding,
// in the machine's byte order. Channels: 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA (alpha
// last, not premultiplied). Samples: 8-bit 0..255, 16-bit 0..65535, or 32-bit float.
//
// Formats by extension (writing) and by signature (reading; the extension is not needed):
//   .png           8/16-bit, 1..4 channels. Reading also expands palette, 1/2/4-bit grey
//                  (scaled to 0..255) and a tRNS colour key (adds an alpha channel);
//                  interlaced (Adam7) files are decoded. Written with adaptive per-row
//                  filtering and zlib level 6.
//   .tif .tiff     8/16-bit integer and 32-bit float, 1..4 channels, contiguous, strips;
//                  written uncompressed or with deflate. Native build only.
//   .pam           P7 with TUPLTYPE GRAYSCALE, GRAYSCALE_ALPHA, RGB, RGB_ALPHA; MAXVAL 255
//                  or 65535 (16-bit samples big-endian).
//   .pgm .ppm      P5 / P6 (grey / RGB), MAXVAL 255 or 65535.
//   .pfm           Pf (grey) / PF (RGB) 32-bit float; the sign of the scale line gives the
//                  byte order (negative = little-endian); rows stored bottom to top.
//
// Limits against hostile files: width and height at most kMaxImageSide, the decoded
// samples at most kMaxImageBytes. Every failure returns false with a one-line message
// naming the file and the problem; nothing is thrown for bad input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int32_t kMaxImageSide = 1000000;
constexpr int64_t kMaxImageBytes = int64_t(1) << 31;

struct FileImage {
  int32_t width = 0;
  int32_t height = 0;
  int16_t channels = 0;       // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
  int16_t bitsPerSample = 8;  // 8, 16 or 32 (float)
  std::vector<uint8_t> samples;
};

enum class ImageFileFormat { kUnknown, kPng, kTiff, kPam, kPgm, kPpm, kPfm };

struct ImageWriteOptions {
  bool tiffDeflate = true;  // false writes uncompressed TIFF
};

// Checks a shape against the limits (channels 1..4, depth 8/16/32, sides 1..kMaxImageSide,
// at most kMaxImageBytes of samples) without allocating anything.
bool CheckImageShape(int64_t width, int64_t height, int channels, int bitsPerSample,
                     std::string* error);
// Allocates zeroed samples for the given shape after checking it against the limits.
bool AllocateFileImage(FileImage* image, int64_t width, int64_t height, int channels,
                       int bitsPerSample, std::string* error);
// Checks an image about to be encoded or converted: shape, sample format, sample count.
bool ValidateFileImage(const FileImage& image, std::string* error);
int32_t FileSampleBytes(int bitsPerSample);
// Bytes of one row; the shape must already be valid.
size_t FileRowBytes(const FileImage& image);

// The format an extension names (case-insensitive); kUnknown for anything else.
ImageFileFormat ImageFormatFromPath(const std::string& path);
// The format a file's first bytes announce; kUnknown when none matches.
ImageFileFormat ImageFormatFromSignature(const uint8_t* data, size_t size);
const char* ImageFormatName(ImageFileFormat format);

bool ReadImageFile(const std::string& path, FileImage* image, std::string* error);
bool WriteImageFile(const std::string& path, const FileImage& image, std::string* error,
                    const ImageWriteOptions& options = ImageWriteOptions());

// The same codecs on memory, for every format but TIFF. Messages carry no file name.
bool DecodeImageBytes(const uint8_t* data, size_t size, FileImage* image, std::string* error);
bool EncodeImageBytes(ImageFileFormat format, const FileImage& image, std::vector<uint8_t>* out,
                      std::string* error);
