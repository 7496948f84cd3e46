// The test host's in-memory image and the region copies behind advanceState.
//
// Pixels are interleaved (all planes of a pixel together), rows top down, no row
// padding. Samples are 8-bit 0..255, 16-bit 0..32768 or 32-bit float by `depth`.
// The selection mask is one byte per pixel, 255 = fully selected, empty = none.
// Rectangles are VRect: top, left, bottom, right with bottom and right exclusive.
#pragma once

#include <cstdint>
#include <vector>

#include "host/host_abi.h"

struct HostImage {
  int32_t width = 0;
  int32_t height = 0;
  int16_t planes = 0;  // colour planes, plus one alpha plane with editable transparency
  int16_t depth = 8;   // 8, 16 or 32
  int16_t imageMode = plugInModeRGBColor;  // any mode number the caller wants to present
  int16_t filterCase = filterCaseFlatImageNoSelection;
  std::vector<uint8_t> pixels;
  std::vector<uint8_t> mask;
};

// Gives `bytes` room for `capacity` bytes without touching them, dropping its contents
// unless the room is already there. Buffers of image size are asked for in huge pages
// where the system offers them: first touches of fresh memory, one page fault per 4 KiB
// page otherwise, cost more than reading a file into it.
void ReserveImageBytes(std::vector<uint8_t>* bytes, size_t capacity);

// A zeroed image with the usual mode for its planes and depth (1/2 planes grey,
// 3/4 planes RGB; 2 and 4 planes mean editable transparency, the last plane alpha).
HostImage MakeHostImage(int32_t width, int32_t height, int16_t planes, int16_t depth);
// Installs a selection mask (width × height bytes) and adjusts filterCase to match.
void SetSelectionMask(HostImage& image, std::vector<uint8_t> mask);

int32_t SampleBytes(int16_t depth);
bool HasEditableTransparency(const HostImage& image);
// Samples in the image's own scale (0..255, 0..32768 or float). Coordinates must lie
// inside the image; writes clamp integer samples to their range and round.
double ReadSample(const HostImage& image, int32_t x, int32_t y, int16_t plane);
void WriteSample(HostImage& image, int32_t x, int32_t y, int16_t plane, double value);

bool RectIsEmpty(const VRect& r);
VRect IntersectRects(const VRect& a, const VRect& b);

// One region request as the plug-in states it in the filter record.
struct RegionRequest {
  VRect rect{};
  int16_t loPlane = 0;
  int16_t hiPlane = 0;
  Fixed rate = 0x10000;  // 16.16; buffer pixel (i, j) shows source (left+i, top+j) × rate
  int16_t padding = plugInWantsErrorOnBoundsException;
  int32_t extraRowBytes = 0;  // slack at the end of each row, to catch stride mistakes
};

// Copies a region of the image into a fresh interleaved buffer. Sampling is by point:
// buffer pixel (i, j) takes the source pixel at floor((left + i) × rate),
// floor((top + j) × rate), so rate 2 takes every second pixel starting at 2 × left.
// Source pixels outside the image follow `padding`: -1 replicates the nearest edge
// pixel, 0..255 fills that value (scaled to the depth: 255 is full range), -2 leaves
// zeros, -3 (and anything else) fails the request with paramErr.
// An empty rectangle gives an empty buffer and noErr.
OSErr CopyImageRegion(const HostImage& image, const RegionRequest& request,
                      std::vector<uint8_t>* buffer, int32_t* rowBytes);
// The same for the selection mask (one byte per pixel; fill values are raw bytes).
OSErr CopyMaskRegion(const HostImage& image, const RegionRequest& request,
                     std::vector<uint8_t>* buffer, int32_t* rowBytes);
// Writes a buffer laid out as CopyImageRegion's (rate 1) back into the image, only where
// the pixel lies inside `clip` (and the image). With `blendByMask` and a mask, each
// sample becomes old + (new − old) × mask / 255, as a host that masks for the plug-in does.
void StoreImageRegion(HostImage& image, const VRect& rect, int16_t loPlane, int16_t hiPlane,
                      const uint8_t* buffer, int32_t rowBytes, const VRect& clip,
                      bool blendByMask);
