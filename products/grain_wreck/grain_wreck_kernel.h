// Grain Wreck's image operations, shared by its kernel files and visible to tests: the
// working images are 8-bit (format 3) or 15-bit (format 4) RGBA tiled images.
#pragma once

#include <cstdint>

#include "render/tiled_image.h"

// The sample ceiling of the integer paths: 255, 32768, and 65535 for any other format.
int32_t SampleCeiling(const TiledImage* image);

// Sharpens level 0 of `image` against the blur of `blurSource` (an image of the same
// size and format) by `amount`, blurring at level log2(n). Alpha is kept.
void UnsharpMaskLevel0(TiledImage* image, const TiledImage* blurSource, float amount, int32_t n);
// The unsharp mask's amount for the radius and sharpen parameters.
float UnsharpAmount(int32_t radius, int32_t sharpen);

// Writes the Laplacian of the luma of `level` into its alpha channel.
void WriteEdgeStrength(TiledImage* image, int32_t level);

// Dithers `level` in place to the palette of `colors` (1 black/white, 2 eight colours,
// 3 greys, anything else black/white) by serpentine variable-coefficient error
// diffusion on 8-bit values. Alpha is kept.
void DitherLevel(TiledImage* image, int32_t level, int32_t colors);
// The same from `from` into `to` (of the same size and format; `from` may be `to`),
// which spares copying the image first. False when the error row cannot be had.
bool DitherLevelInto(const TiledImage* from, TiledImage* to, int32_t level, int32_t colors);
