// Helpers shared by the tests that drive the real modules: where a build puts them,
// and a way into the plug-in between selector calls.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "filterhost/test_host.h"

// The shipped file name of a product's module in this build (a .8bf of this word size on
// Windows, reached through drive Z: under Wine; a .so on Linux).
inline std::string ShippedModulePath(const std::string& folder, bool velvetHue) {
#if defined(_WIN32)
  const bool is32 = sizeof(void*) == 4;
  const char* name = velvetHue ? (is32 ? "Velvet Hue-168 32bit.8bf" : "Velvet Hue-168 64bit.8bf")
                               : (is32 ? "GrainWreck-168 32bit.8bf" : "Grain Wreck-168 64bit.8bf");
  std::string path = folder + "/" + name;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
#else
  return folder + (velvetHue ? "/Velvet Hue-168.so" : "/Grain Wreck-168.so");
#endif
}

// Replays a recorded action as a host does when it plays one: the items become the
// descriptor attached at Start, the dialog is off, Parameters is not called.
inline RunResult RunRecordedAction(TestHost& host, std::vector<DescriptorItem> items,
                                   int16_t playInfo = plugInDialogSilent) {
  host.recordedDescriptor = std::move(items);
  host.hasRecordedDescriptor = true;
  host.settings.replayDescriptor = true;
  host.settings.playInfo = playInfo;
  return RunFilter(host, {false});
}

#if defined(TALLOW_PRODUCT_VELVET_HUE) || defined(TALLOW_PRODUCT_GRAIN_WRECK)
#include <gtest/gtest.h>

#include "host/plugin_globals.h"
#include "host/state_record.h"
#include "products/product_hooks.h"
#include "settings/settings_record.h"

extern "C" void PluginMain(int16_t selector, void* parameterBlock, intptr_t* data,
                           int16_t* result);

// For tests linked with a product's framework objects: the test host with a run opened
// (Parameters and Prepare called), the host active, the plug-in's two blocks locked into
// the per-call globals and the product's run state set up as Start sets it up, so a test
// can call the framework directly as the dialog would between messages.
struct InsidePlugin {
  TestHost host;
  int16_t result = 0;
  std::unique_ptr<HostCallScope> scope;

  explicit InsidePlugin(HostImage image) {
    host.image = std::move(image);
    host.entry = PluginMain;
    EXPECT_EQ(CallSelector(host, filterSelectorParameters), noErr);
    EXPECT_EQ(CallSelector(host, filterSelectorPrepare), noErr);
    scope = std::make_unique<HostCallScope>(host);
    FilterRecord* record = CurrentRecord(host);
    gFilterRecord = record;
    gDataSlot = &host.dataSlot;
    gResult = &result;
    gSettings = reinterpret_cast<SettingsRecord*>(
        record->handleProcs->lockProc(record->parameters, 0));
    gState = reinterpret_cast<StateRecord*>(
        record->handleProcs->lockProc(reinterpret_cast<Handle>(host.dataSlot), 0));
    ProductStartOfRun(gSettings, gState);
  }
  ~InsidePlugin() {
    if (gState) {
      ProductTearDown(gState);
      WorkBufferFree(&gState->previewBuffer.buffer);
    }
    FilterRecord* record = CurrentRecord(host);
    record->handleProcs->unlockProc(record->parameters);
    record->handleProcs->unlockProc(reinterpret_cast<Handle>(host.dataSlot));
    gSettings = nullptr;
    gState = nullptr;
    gFilterRecord = nullptr;
    gResult = nullptr;
    scope.reset();
    EndRun(host);
    ForgetPluginState(host);
  }
  InsidePlugin(const InsidePlugin&) = delete;
  InsidePlugin& operator=(const InsidePlugin&) = delete;
};
#endif
