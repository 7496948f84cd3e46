// Grain Wreck's parameter defaults and scripting bindings.
#include <cstring>

#include "glue/glue_catalogue.h"
#include "host/state_record.h"
#include "products/product_hooks.h"
#include "settings/random_draw.h"

const ProductInfo& ThisProduct() { return kGrainWreckInfo; }

namespace {
const ScriptBinding kBindings[] = {
    {kGlueKey, kGlueEnumType, &SettingsFields::glueMode, true},
    {kColorsKey, kColorsEnumType, &SettingsFields::colors, true},
    {kParamKey('0', '0', '0', '3'), 0, &SettingsFields::radius, true},
    {kParamKey('0', '0', '0', '4'), 0, &SettingsFields::coarseness, true},
    {kParamKey('0', '0', '0', '5'), 0, &SettingsFields::range, true},
    {kParamKey('0', '0', '0', '6'), 0, &SettingsFields::sharpen, true},
};
const uint32_t kReadKeys[] = {kGlueKey,
                              kColorsKey,
                              kParamKey('0', '0', '0', '3'),
                              kParamKey('0', '0', '0', '4'),
                              kParamKey('0', '0', '0', '5'),
                              kParamKey('0', '0', '0', '6'),
                              0};
}  // namespace

const ScriptBinding* ProductScriptBindings(int* count) {
  *count = int(sizeof kBindings / sizeof kBindings[0]);
  return kBindings;
}

const uint32_t* ProductReadKeys(int* count) {
  *count = int(sizeof kReadKeys / sizeof kReadKeys[0]) - 1;
  return kReadKeys;
}

void ResetParameters(SettingsRecord* settings) {
  settings->colors = 1;
  settings->radius = 30;
  settings->coarseness = 0;
  settings->range = 45;
  settings->sharpen = 25;
}

void RandomizeParameters(SettingsRecord* settings) {
  // Two draws multiplied keep most random pictures fine-grained.
  const int a = RandomInt(0, 100);
  const int b = RandomInt(0, 50);
  settings->coarseness = a * b / 100;
  settings->range = RandomInt(0, 100);
  settings->sharpen = RandomInt(0, 100);
  settings->radius = RandomInt(15, 85);
  if (RandomInt(0, 100) > 50) settings->colors = RandomInt(1, 3);
  settings->glueMode = 1;
  if (RandomInt(0, 100) > 20) settings->glueMode = RandomInt(1, 69);
}

void ProductStartOfRun(SettingsRecord* settings, StateRecord* state) {
  for (int32_t& value : state->cachedValues) value = kStaleValue;
  // The cached images of an earlier run are gone: nothing matches these values.
  settings->builtRadius = kStaleValue;
  settings->builtSharpen = kStaleValue;
  settings->builtColors = kStaleValue;
  // Every run ends with a tear-down that empties the image records, but the state
  // handle of a first run (or of a run a host abandoned) holds whatever bytes it came
  // with: forget them rather than release them.
  std::memset(&state->sourceImage, 0, sizeof state->sourceImage);
  std::memset(&state->sharpImage, 0, sizeof state->sharpImage);
  std::memset(&state->ditherImage, 0, sizeof state->ditherImage);
  state->sourceReady = state->sharpReady = state->ditherReady = 0;
  state->sourceLoads = state->sharpBuilds = state->ditherBuilds = 0;
}
