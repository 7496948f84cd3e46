// The SettingsRecord: everything a user can set, in the fixed-layout block that the
// host keeps for the plug-in in the filter record's `parameters` handle. The layout
// is per product and per word size; the build selects the product with
// TALLOW_PRODUCT_VELVET_HUE or TALLOW_PRODUCT_GRAIN_WRECK.
#pragma once

#include <cstddef>
#include <cstdint>

#if !defined(TALLOW_PRODUCT_VELVET_HUE) && !defined(TALLOW_PRODUCT_GRAIN_WRECK)
#error "build with TALLOW_PRODUCT_VELVET_HUE or TALLOW_PRODUCT_GRAIN_WRECK"
#endif

constexpr int kSettingsTextSize = 260;

// Sizes the host sees. The 32-bit Velvet Hue and both Grain Wreck builds keep the
// sizes their earlier releases used; the 64-bit (and native) Velvet Hue grows by the
// same 16 bytes of pointer-sized tracking fields as the 64-bit Grain Wreck.
#if defined(TALLOW_PRODUCT_VELVET_HUE)
constexpr size_t kSettingsRecordSize = sizeof(void*) == 4 ? 2616 : 2632;
#else
constexpr size_t kSettingsRecordSize = sizeof(void*) == 4 ? 2624 : 2640;
#endif

struct SettingsFields {
  uint8_t marker;  // cleared when the handle is made, restored on Cancel
  // Control tracking: which control is being dragged, since when, and by how much.
  uint8_t trackingActive;
  int16_t trackingDragX;
  int16_t trackingDragY;
  int16_t trackingPart;
  int32_t trackingControlId;
  int32_t trackingStartTick;
  intptr_t trackingWindow;
  intptr_t trackingCapture;
  intptr_t trackingCursor;
  intptr_t trackingPreviousCursor;
  uint8_t zoomLabelStale;
  uint8_t hostCanPreview;
  float spareReal1, spareReal2, spareReal3;
  int32_t formatVersion;
  int32_t spareInt1;
  int32_t glueMode;
#if defined(TALLOW_PRODUCT_GRAIN_WRECK)
  int32_t colors;  // 1 black/white, 2 "8 colors", 3 greys
#else
  int32_t spareInt4;
#endif
  int32_t previewScale;
  int32_t renderMode;
  int32_t passCount;
  int32_t passIndex;
  int32_t panX;
  int32_t panY;
  int32_t spareInt5;
#if defined(TALLOW_PRODUCT_VELVET_HUE)
  int32_t gamma;
  int32_t hue;
  int32_t saturation;
  int32_t luminance;
  int32_t spareInt6;
  int32_t vibrance;  // stored and recorded; no render code reads it
  uint16_t spareWords[6];
#else
  int32_t radius;
  int32_t coarseness;
  int32_t range;
  int32_t sharpen;
  int32_t spareInt6;
  uint16_t spareWords[6];
  // The values the kernel last built its cached images for.
  int32_t builtRadius;
  int32_t builtSharpen;
  int32_t builtColors;
#endif
  int32_t spareInt8, spareInt7, spareInt3, spareInt9;
  int32_t exportSizeChoice;
  int32_t exportKind;
  int32_t spareInt2;
  char settingsFolder[kSettingsTextSize];
  char outputFolder[kSettingsTextSize];
  char sourceFolder[kSettingsTextSize];
  char settingsName[kSettingsTextSize];
  char psdPath[kSettingsTextSize];
};

// The rest of the block is kept free for later settings, so the size the host
// allocates never changes.
struct SettingsRecord : SettingsFields {
  uint8_t reserved[kSettingsRecordSize - sizeof(SettingsFields)];
};

static_assert(sizeof(SettingsRecord) == kSettingsRecordSize, "SettingsRecord size");
#if defined(_WIN32) && !defined(_WIN64) && defined(TALLOW_PRODUCT_VELVET_HUE)
static_assert(sizeof(SettingsRecord) == 2616, "32-bit Velvet Hue SettingsRecord");
#elif defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SettingsRecord) == 2624, "32-bit Grain Wreck SettingsRecord");
#elif defined(_WIN64) && defined(TALLOW_PRODUCT_GRAIN_WRECK)
static_assert(sizeof(SettingsRecord) == 2640, "64-bit Grain Wreck SettingsRecord");
#endif

constexpr int32_t kSettingsFormatVersion =
#if defined(TALLOW_PRODUCT_VELVET_HUE)
    193;
#else
    200;
#endif

// Resets the record for a new run: run flags, preview state, glue mode 1, the
// settings name and the product's parameter defaults. Spare fields are kept.
void ResetSettingsForRun(SettingsRecord* settings);

// Copies what counts as the settings' parameters (glue mode, the product's parameters,
// the spare parameter slots and the settings name), leaving render state alone.
void CopyParameterFields(SettingsRecord* to, const SettingsRecord& from);
