// Grain Wreck's direct pixel access for its two working formats (8-bit RGBA packed in
// one word, 15-bit RGBA samples), so that the whole-image passes read and write tiles
// without a call and a format switch per pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "render/tiled_image.h"

struct PackedRgba8 {
  static constexpr size_t kBytes = 4;
  static void Load(const uint8_t* p, int32_t s[4]) {
    uint32_t word;
    std::memcpy(&word, p, 4);
    s[0] = int32_t(word >> 24);
    s[1] = int32_t((word >> 16) & 255);
    s[2] = int32_t((word >> 8) & 255);
    s[3] = int32_t(word & 255);
  }
  static void Store(uint8_t* p, int32_t r, int32_t g, int32_t b, int32_t a) {
    const uint32_t word = (uint32_t(r) & 255) << 24 | (uint32_t(g) & 255) << 16 |
                          (uint32_t(b) & 255) << 8 | (uint32_t(a) & 255);
    std::memcpy(p, &word, 4);
  }
  static int32_t Luma(const uint8_t* p) {
    uint32_t word;
    std::memcpy(&word, p, 4);
    return (77 * int32_t(word >> 24) + 150 * int32_t((word >> 16) & 255) +
            28 * int32_t((word >> 8) & 255)) >>
           8;
  }
};

struct Rgba15 {
  static constexpr size_t kBytes = 8;
  static void Load(const uint8_t* p, int32_t s[4]) {
    uint16_t v[4];
    std::memcpy(v, p, 8);
    for (int i = 0; i < 4; ++i) s[i] = v[i];
  }
  static void Store(uint8_t* p, int32_t r, int32_t g, int32_t b, int32_t a) {
    const uint16_t v[4] = {uint16_t(r), uint16_t(g), uint16_t(b), uint16_t(a)};
    std::memcpy(p, v, 8);
  }
  static int32_t Luma(const uint8_t* p) {
    uint16_t v[3];
    std::memcpy(v, p, 6);
    return (77 * int32_t(v[0]) + 150 * int32_t(v[1]) + 28 * int32_t(v[2])) >> 8;
  }
};

inline int32_t ClampIndex(int32_t v, int32_t last) { return v < 0 ? 0 : v > last ? last : v; }
