// What each product supplies to the framework. The module is built for one product,
// so these are plain functions resolved at link time.
#pragma once

#include <cstdint>

#include "products/product_info.h"
#include "settings/settings_record.h"

struct StateRecord;

const ProductInfo& ThisProduct();

// One settings field under a scripting key. enumType 0 means an integer.
struct ScriptBinding {
  uint32_t key;
  uint32_t enumType;
  int32_t SettingsFields::*field;
  bool readBack;  // read from a replayed descriptor (all are written)
};
// The bindings in the order the descriptor writer puts them.
const ScriptBinding* ProductScriptBindings(int* count);
// The zero-terminated key list handed to the host when a descriptor is opened for
// reading. The host clears keys as it delivers them, so callers copy it into
// writable memory first.
const uint32_t* ProductReadKeys(int* count);

// Writes the product's parameter defaults.
void ResetParameters(SettingsRecord* settings);
// Draws a random set of the product's parameters with RandomInt, in a fixed order.
void RandomizeParameters(SettingsRecord* settings);

struct RenderJob;

// The product's answer when it could not make its working images: nothing is rendered.
constexpr int32_t kProductImagesNotMade = 999;
// First step of every render, on the calling thread, before anything else of the
// render: make the product's whole-image sources if it keeps any. Returns the result
// (0, a host error, or kProductImagesNotMade).
int32_t PrepareSource(StateRecord* state);
// Before every render, on the calling thread: rebuild the per-render tables from the
// settings. False when the product has nothing to render with.
bool PrepareRender(StateRecord* state);
// On a worker thread, once per job: the pixel work of kind 2 (render tile) on the job's
// own tile buffer. Other kinds are not the product's and do nothing.
RenderJob* RunProductJob(RenderJob* job, int32_t kind);

// Start of a run: mark cached intermediate values stale.
void ProductStartOfRun(SettingsRecord* settings, StateRecord* state);
// Tear-down of a run: release every buffer the product holds in the state record.
// Safe to call any number of times.
void ProductTearDown(StateRecord* state);
