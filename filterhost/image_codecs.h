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

// PAM (P7), PGM (P5), PPM (P6) and PFM (PF, Pf).
bool DecodeNetpbm(const uint8_t* data, size_t size, FileImage* image, std::string* error);
bool EncodeNetpbm(ImageFileFormat format, const FileImage& image, std::vector<uint8_t>* out,
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
