// Conversions between image files and the host's in-memory image, and between host depths.
//
// File to host: channels become planes one to one (1 grey, 2 grey + alpha, 3 RGB,
// 4 RGBA; 2 and 4 planes are an image with editable transparency, alpha last). 8-bit and
// float samples are copied unchanged. 16-bit file samples v in 0..65535 map onto the
// host's 0..32768 by rounding to nearest, in 64-bit integer arithmetic:
//     host = (v × 32768 + 32767) / 65535
// and back, after clamping h to 0..32768:
//     file = (h × 65535 + 16384) / 32768
// so 0 ↔ 0 and 65535 ↔ 32768 exactly, and every host value survives host → file → host.
// (A file value can move by one unit through host and back: 16 bits do not fit in 15.)
//
// Host depth changes (8 ↔ 16 ↔ 32), each rounding to nearest and clamping integers:
//     8 → 16: (v × 32768 + 127) / 255        16 → 8: (h × 255 + 16384) / 32768
//     8 → 32: v / 255                        16 → 32: h / 32768
//     32 → 8: round(clamp(f, 0, 1) × 255)     32 → 16: round(clamp(f, 0, 1) × 32768)
// Grey → RGB copies the grey plane three times; RGB → grey takes the luma
// 0.299 R + 0.587 G + 0.114 B. Alpha, when present, is carried along unchanged.
#pragma once

#include <cstdint>
#include <string>

#include "filterhost/host_image.h"
#include "filterhost/image_files.h"

uint16_t FileSample16ToHost(uint16_t fileValue);
uint16_t HostSample16ToFile(int64_t hostValue);

bool FileImageToHostImage(const FileImage& file, HostImage* host, std::string* error);
// The same, taking over the file image's samples instead of copying them (the layouts
// are the same; 16-bit samples are mapped where they lie). `file` is left empty, also
// on failure past its checks.
bool FileImageToHostImage(FileImage&& file, HostImage* host, std::string* error);
// The host image's planes must be 1 to 4 and its depth 8, 16 or 32.
bool HostImageToFileImage(const HostImage& host, FileImage* file, std::string* error);
// The same, taking over the host image's pixels (and dropping its mask).
bool HostImageToFileImage(HostImage&& host, FileImage* file, std::string* error);

// Converts the image in place to depth 8, 16 or 32; a selection mask is kept.
bool ConvertHostImageDepth(HostImage* image, int16_t depth, std::string* error);
// Converts the image in place to grey (1 or 2 planes) or RGB (3 or 4 planes).
bool ConvertHostImageToGrey(HostImage* image, std::string* error);
bool ConvertHostImageToRgb(HostImage* image, std::string* error);
