// Velvet Hue's parameter defaults and scripting bindings.
#include "glue/glue_catalogue.h"
#include "host/state_record.h"
#include "products/product_hooks.h"
#include "settings/random_draw.h"

const ProductInfo& ThisProduct() { return kVelvetHueInfo; }

namespace {
const ScriptBinding kBindings[] = {
    {kGlueKey, kGlueEnumType, &SettingsFields::glueMode, true},
    {kParamKey('0', '0', '0', '7'), 0, &SettingsFields::spareInt1, false},
    {kParamKey('0', '0', '0', '6'), 0, &SettingsFields::spareInt3, false},
    {kParamKey('0', '0', '0', '8'), 0, &SettingsFields::spareInt4, false},
    {kParamKey('0', '0', '0', '5'), 0, &SettingsFields::spareInt5, false},
    {kParamKey('0', '0', '0', '1'), 0, &SettingsFields::gamma, true},
    {kParamKey('0', '0', '0', '2'), 0, &SettingsFields::hue, true},
    {kParamKey('0', '0', '0', '3'), 0, &SettingsFields::saturation, true},
    {kParamKey('0', '0', '0', '4'), 0, &SettingsFields::luminance, true},
    // Recorded but deliberately not read back: it has no effect on the picture.
    {kParamKey('0', '0', '0', '9'), 0, &SettingsFields::vibrance, false},
};
const uint32_t kReadKeys[] = {kGlueKey,
                              kParamKey('0', '0', '0', '1'),
                              kParamKey('0', '0', '0', '2'),
                              kParamKey('0', '0', '0', '3'),
                              kParamKey('0', '0', '0', '4'),
                              kParamKey('0', '0', '0', '9'),
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
  settings->gamma = 50;
  settings->hue = 50;
  settings->saturation = 50;
  settings->luminance = 50;
  settings->vibrance = 0;
}

void RandomizeParameters(SettingsRecord* settings) {
  settings->hue = RandomInt(0, 100);
  settings->saturation = RandomInt(0, 100);
  settings->luminance = RandomInt(15, 85);
  settings->gamma = RandomInt(15, 85);
  settings->vibrance = 50;
  if (RandomInt(0, 100) > 80) settings->vibrance = RandomInt(40, 90);
}

void ProductStartOfRun(SettingsRecord* settings, StateRecord* state) {
  for (int32_t& value : state->cachedValues) value = kStaleValue;
}

// Velvet Hue works on the host's pixels job by job and keeps no whole-image copies.
int32_t PrepareSource(StateRecord*) { return 0; }
void ProductTearDown(StateRecord*) {}
