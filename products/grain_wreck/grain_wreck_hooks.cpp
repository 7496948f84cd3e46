// Grain Wreck's parameter defaults and scripting bindings.
#include "glue/glue_catalogue.h"
#include "host/state_record.h"
#include "products/product_hooks.h"

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

void ProductStartOfRun(SettingsRecord* settings, StateRecord* state) {
  for (int32_t& value : state->cachedValues) value = kStaleValue;
  // The cached images of an earlier run are gone: nothing matches these values.
  settings->builtRadius = kStaleValue;
  settings->builtSharpen = kStaleValue;
  settings->builtColors = kStaleValue;
}

// The pixel-art kernel is not built yet: the product renders nothing and the image
// stays as it was.
bool PrepareRender(StateRecord*) { return false; }

RenderJob* RunProductJob(RenderJob* job, int32_t) { return job; }
