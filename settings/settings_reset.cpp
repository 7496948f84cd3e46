// Resetting the SettingsRecord for a new run.
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
