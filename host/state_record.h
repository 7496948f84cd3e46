// The StateRecord: the plug-in's working state, kept in the handle that the host
// stores in the data slot from one selector call to the next. Its size is fixed per
// product and word size; the unused tail is kept free for later state.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/host_abi.h"
#include "host/host_services.h"
#if defined(TALLOW_PRODUCT_GRAIN_WRECK)
#include "render/tiled_image.h"
#endif

#if !defined(TALLOW_PRODUCT_VELVET_HUE) && !defined(TALLOW_PRODUCT_GRAIN_WRECK)
#error "build with TALLOW_PRODUCT_VELVET_HUE or TALLOW_PRODUCT_GRAIN_WRECK"
#endif

// The 64-bit (and native) Velvet Hue adds the same 200 bytes for pointer-sized state
// as the 64-bit Grain Wreck does; the other sizes are those of earlier releases.
#if defined(TALLOW_PRODUCT_VELVET_HUE)
constexpr size_t kStateRecordSize = sizeof(void*) == 4 ? 19456 : 19656;
constexpr size_t kWorkingBlockSize = sizeof(void*) == 4 ? 28704 : 28784;
#else
constexpr size_t kStateRecordSize = sizeof(void*) == 4 ? 54496 : 54696;
constexpr size_t kWorkingBlockSize = sizeof(void*) == 4 ? 22712 : 22792;
#endif

constexpr int32_t kWorkingBlockMark = 123456;   // first word of a fresh working block
constexpr int32_t kStaleValue = 111111111;      // cached intermediate values not yet valid
constexpr int kScratchImageSide = 100;          // the 100 x 100 three-channel scratch image
constexpr int kThumbnailSide = 128;             // 128 x 128 RGBA settings thumbnail
constexpr int kGammaTableSize = 1501;

// The planar 8-bit image of the preview region.
struct PreviewBuffer {
  WorkBuffer buffer;
  int32_t width;
  int32_t height;
  int32_t planeSize;
  int32_t totalSize;
  int32_t planes;
};

struct StateFields {
  uint8_t showDialog;       // show the main dialog before rendering at Start
  uint8_t freshInvocation;  // set by Parameters; the next Start resets export sizes
  uint8_t dialogEntered;
  uint8_t dialogResult;  // 0 none yet, 1 OK, 2 Cancel
  VRect viewRect;  // the preview region: reduced image coordinates the preview shows
  float viewScale;
  int32_t viewState[5];
  VRect filterRect;  // recorded at Prepare
  WorkBuffer workingBlock;
  WorkBuffer scratchImage;
  WorkBuffer thumbnailImage;
  PreviewBuffer previewBuffer;
  VRect previewPane;        // dialog client area available for the picture
  int32_t fitScale;         // the reduction at which the whole image fits
  int32_t naturalFitScale;  // the same, whether or not the host can scale
  int32_t cachedValues[4];  // product intermediates; kStaleValue until computed
  int32_t bandCount;
  int32_t bandsFinished;
  VRect workingRect;
#if defined(TALLOW_PRODUCT_VELVET_HUE)
  float gammaTable[kGammaTableSize];
#endif
#if defined(TALLOW_PRODUCT_GRAIN_WRECK)
  // The pixel-art kernel's whole-image working images, from the first render of a
  // run to its tear-down; the flags say which of them hold current pixels.
  TiledImage sourceImage;
  TiledImage sharpImage;
  TiledImage ditherImage;
  uint8_t sourceReady;
  uint8_t sharpReady;
  uint8_t ditherReady;
  // How often each image was filled in this run, so that tests can see the lazy
  // rebuilds.
  int32_t sourceLoads;
  int32_t sharpBuilds;
  int32_t ditherBuilds;
#endif
};

struct StateRecord : StateFields {
  uint8_t reserved[kStateRecordSize - sizeof(StateFields)];
};

static_assert(sizeof(StateRecord) == kStateRecordSize, "StateRecord size");
#if defined(_WIN32) && !defined(_WIN64) && defined(TALLOW_PRODUCT_VELVET_HUE)
static_assert(sizeof(StateRecord) == 19456, "32-bit Velvet Hue StateRecord");
#elif defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(StateRecord) == 54496, "32-bit Grain Wreck StateRecord");
#elif defined(_WIN64) && defined(TALLOW_PRODUCT_GRAIN_WRECK)
static_assert(sizeof(StateRecord) == 54696, "64-bit Grain Wreck StateRecord");
#endif
