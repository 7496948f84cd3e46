// The framework's own images: a stack of levels, each about half the size of the one
// before, every level cut into 512 x 512-pixel tiles; level 0 filled from the host and
// the smaller levels reduced from it on the worker pool.
//
// Ownership: the caller owns the TiledImage record (it may sit inside the state record
// or the working block; a fresh record must be zero-filled); the image owns its tiles
// and its tile table, which are work buffers (host buffers, else zero-filled system
// memory). NewTiledImage on a record releases what the record held before;
// FreeTiledImage releases everything and may be called any number of times.
//
// Threads: creation, release, loading and the pyramid's scheduling run on the calling
// thread. While the pool reduces level k + 1, workers read level k and write disjoint
// pixels of level k + 1 and nothing else.
#pragma once

#include <cstdint>

#include "host/host_abi.h"
#include "host/host_services.h"

struct StateRecord;

constexpr int kTiledMaxLevels = 20;
constexpr int32_t kImageTileSide = 512;

// Sample formats: code, bytes per pixel, channels, full range.
enum TiledFormat : int32_t {
  kTiledGrey8 = 0,      // 1 byte, full range 255
  kTiledGrey16 = 1,     // 2 bytes, full range 32768
  kTiledChannel16 = 2,  // one unsigned 16-bit channel, full range 1.0
  kTiledRgba8 = 3,      // one word: red << 24 | green << 16 | blue << 8 | alpha; 255
  kTiledRgba16 = 4,     // red, green, blue, alpha 16-bit samples; 32768
  kTiledGreyFloat = 5,  // 4 bytes, full range 1.0
  kTiledRgb16 = 7,      // red, green, blue unsigned 16-bit samples; full range 1.0
  kTiledRgbaFloat = 9,  // red, green, blue, alpha floats; full range 1.0
};

// Load states.
constexpr int32_t kTiledEmpty = 0;
constexpr int32_t kTiledLevel0Loaded = 1;
constexpr int32_t kTiledAllLevelsBuilt = 2;

// A pyramid request of -1: only level 0 is laid out and no level above it is ever built.
constexpr int32_t kTiledNoPyramid = -1;

struct TiledLevel {
  int32_t width, height;
  int32_t lastX, lastY;  // width - 1, height - 1
  float lastXf, lastYf;
  float inverseWidth, inverseHeight;
  int32_t firstTile, lastTile, tilesPerRow;
};

struct ImageTile {
  WorkBuffer buffer;  // the tile's pixels: 512 per row, `rows` rows
  int32_t top, left, rows;
};

struct TiledImage {
  TiledLevel levels[kTiledMaxLevels];
  int32_t highestLevel;       // the last level with pixels (0..19)
  int32_t highestLevelLess3;  // at least 0
  int32_t format, bytesPerPixel, channels, bytesPerChannel;
  int64_t totalBytes;    // pixels of every tile of every level
  WorkBuffer tileTable;  // tileCount ImageTile entries
  ImageTile* tiles;
  int32_t tileCount;
  int32_t pyramidRequest;
  int32_t loadState;
  float fullRange, inverseFullRange;
  float heightOverWidth, widthOverHeight, halfOverWidth, halfOverHeight;
  float aspectX, aspectY;  // the longer side / the shorter side on the longer axis, else 1
  float randomPhase;
  StateRecord* state;              // the call it was made in; its pool runs get it
  const BufferProcs* bufferProcs;  // the host's buffer table at creation
  uint8_t valid;
};

// Bytes per pixel of a format; 0 for an unknown code.
int32_t TiledBytesPerPixel(int32_t format);
// The level sizes that an image of width x height gets (0 x 0 past its last level);
// returns the highest level. `widths` and `heights` hold kTiledMaxLevels entries.
int32_t TiledLevelSizes(int32_t width, int32_t height, int32_t* widths, int32_t* heights);

// Lays the image out and allocates every tile. False (with everything released and the
// record invalid) for a size below 1, an unknown format or memory that is short.
bool NewTiledImage(TiledImage* image, int32_t width, int32_t height, int32_t format,
                   int32_t pyramidRequest);
void FreeTiledImage(TiledImage* image);
// For tests: after `count` more successful allocations, creation finds memory short
// (-1 turns this off).
void TiledImageFailAllocationsAfter(int32_t count);

inline bool TiledLevelExists(const TiledImage* image, int32_t level) {
  return image && image->valid && level >= 0 && level <= image->highestLevel;
}

// The address of pixel (x, y) of a level; the caller keeps (x, y) inside the level.
inline uint8_t* TiledPixelAt(const TiledImage* image, int32_t level, int32_t x, int32_t y) {
  const TiledLevel& l = image->levels[level];
  const ImageTile& tile =
      image->tiles[l.firstTile + (y / kImageTileSide) * l.tilesPerRow + x / kImageTileSide];
  return static_cast<uint8_t*>(tile.buffer.memory) +
         (int64_t(y % kImageTileSide) * kImageTileSide + x % kImageTileSide) * image->bytesPerPixel;
}
// Reads clamp to the level, so edge pixels repeat; null for a missing level.
inline const uint8_t* TiledPixelClamped(const TiledImage* image, int32_t level, int32_t x,
                                        int32_t y) {
  if (!TiledLevelExists(image, level)) return nullptr;
  const TiledLevel& l = image->levels[level];
  x = x < 0 ? 0 : x > l.lastX ? l.lastX : x;
  y = y < 0 ? 0 : y > l.lastY ? l.lastY : y;
  return TiledPixelAt(image, level, x, y);
}
// Writes outside the level (or to a missing level) do nothing: null.
inline uint8_t* TiledPixelForWrite(const TiledImage* image, int32_t level, int32_t x, int32_t y) {
  if (!TiledLevelExists(image, level)) return nullptr;
  const TiledLevel& l = image->levels[level];
  if (x < 0 || y < 0 || x >= l.width || y >= l.height) return nullptr;
  return TiledPixelAt(image, level, x, y);
}

// Fills level 0 from the host image of the filter rectangle, tile by tile, on the
// calling thread. Stops at the first non-zero result of advanceState (which stays in
// the plug-in's result) and returns it; the image keeps its load state then. Every
// host rectangle and view field it changes is put back.
OSErr LoadFromHost(TiledImage* image);

// Reduces levels 1 to the highest from level 0, one pool run per level. Does nothing
// for an image without a pyramid request. True when every level was built (the load
// state is then 2); false when a run was cancelled or ran out of memory.
bool BuildPyramid(TiledImage* image);
