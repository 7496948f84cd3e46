// Resetting the SettingsRecord for a new run, and copying its parameters.
#include <cstdio>
#include <cstring>

#include "products/product_hooks.h"
#include "settings/settings_record.h"

void ResetSettingsForRun(SettingsRecord* settings) {
  settings->hostCanPreview = 0;
  settings->previewScale = 1;
  settings->renderMode = 0;
  settings->glueMode = 1;
  std::memset(settings->settingsName, 0, sizeof settings->settingsName);
  const char* productName = ThisProduct().productName;
  std::snprintf(settings->settingsName, sizeof settings->settingsName, "%s settings",
                productName);
  ResetParameters(settings);
}

void CopyParameterFields(SettingsRecord* to, const SettingsRecord& from) {
  to->spareReal1 = from.spareReal1;
  to->spareReal2 = from.spareReal2;
  to->spareReal3 = from.spareReal3;
  to->spareInt1 = from.spareInt1;
  to->glueMode = from.glueMode;
#if defined(TALLOW_PRODUCT_GRAIN_WRECK)
  to->colors = from.colors;
  to->radius = from.radius;
  to->coarseness = from.coarseness;
  to->range = from.range;
  to->sharpen = from.sharpen;
#else
  to->spareInt4 = from.spareInt4;
  to->gamma = from.gamma;
  to->hue = from.hue;
  to->saturation = from.saturation;
  to->luminance = from.luminance;
  to->vibrance = from.vibrance;
#endif
  to->spareInt5 = from.spareInt5;
  to->spareInt6 = from.spareInt6;
  std::memcpy(to->spareWords, from.spareWords, sizeof to->spareWords);
  to->spareInt2 = from.spareInt2;
  to->spareInt3 = from.spareInt3;
  to->spareInt7 = from.spareInt7;
  to->spareInt8 = from.spareInt8;
  to->spareInt9 = from.spareInt9;
  std::memcpy(to->settingsName, from.settingsName, sizeof to->settingsName);
}
