// The per-format codecs behind image_files.h, and the byte-order helpers they share.
//
// Decoders take the whole file in memory and check every length against what is left
// before they read it; they allocate the image only once its shape has passed the limits
// of AllocateFileImage. Messages name the problem without the file name, which the
// caller adds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "filterhost/image_files.h"

bool DecodePng(const uint8_t* data, size_t size, FileImage* image, std::string* error);
bool EncodePng(const FileImage& image, std::vector<uint8_t>* out, std::string* error);

// Where encoders put their bytes: a file or a memory buffer. `write` takes the next
// `size` bytes and returns false when they could not be stored.
struct ByteSink {
  bool (*write)(void* context, const uint8_t* data, size_t size);
  void* context;
};
// A sink appending to `bytes`.
ByteSink MemorySink(std::vector<uint8_t>* bytes);

// PAM (P7), PGM (P5), PPM (P6) and PFM (PF, Pf).
bool DecodeNetpbm(const uint8_t* data, size_t size, FileImage* image, std::string* error);
bool EncodeNetpbm(ImageFileFormat format, const FileImage& image, std::vector<uint8_t>* out,
                  std::string* error);

// The pieces of DecodeNetpbm for reading a file straight into the image: the header gives
// the layout, the image is allocated, the stored samples are read into image->samples as
// they lie in the file, and FinishNetpbmSamples turns them into FileImage samples in place.
struct NetpbmLayout {
  const char* name = "PAM";  // the variant, for messages: PAM, PGM, PPM or PFM
  int64_t width = 0, height = 0;
  int channels = 0;
  int bitsPerSample = 8;    // of the decoded image: 8, 16 or 32 (PFM)
  int64_t maxval = 255;     // PAM/PGM/PPM
  bool pfm = false;
  bool littleEndian = false;  // PFM byte order
  size_t dataOffset = 0;    // where the samples start
};
// `head` holds the first min(fileSize, headSize) bytes of a file of `fileSize` bytes;
// 64 KiB of it are enough for any header this reader accepts.
constexpr size_t kNetpbmHeadBytes = size_t(1) << 16;
bool ReadNetpbmHeader(const uint8_t* head, size_t headSize, uint64_t fileSize,
                      NetpbmLayout* layout, std::string* error);
// Checks the shape and that the file holds all samples, then allocates the image.
bool AllocateNetpbmImage(const NetpbmLayout& layout, uint64_t fileSize, FileImage* image,
                         std::string* error);
void FinishNetpbmSamples(const NetpbmLayout& layout, FileImage* image);
// Writes the file; fails without writing anything when the image does not fit the format.
bool CheckNetpbmEncodable(ImageFileFormat format, const FileImage& image, std::string* error);
bool WriteNetpbm(ImageFileFormat format, const FileImage& image, const ByteSink& sink,
                 std::string* error);

#ifdef TALLOW_HAVE_TIFF
bool ReadTiffFile(const std::string& path, FileImage* image, std::string* error);
bool WriteTiffFile(const std::string& path, const FileImage& image, bool deflate,
                   std::string* error);
#endif

inline uint16_t LoadBigEndian16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t LoadBigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void StoreBigEndian16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void StoreBigEndian32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}
inline void AppendBigEndian32(std::vector<uint8_t>* out, uint32_t v) {
  uint8_t bytes[4];
  StoreBigEndian32(bytes, v);
  out->insert(out->end(), bytes, bytes + 4);
}
