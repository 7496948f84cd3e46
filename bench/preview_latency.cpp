// Times one Velvet Hue preview render of the dialog's 474 x 308 pane at the fit
// reduction of a 24-megapixel RGB image, with the plug-in's code linked in and the
// in-process test host answering its calls.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "filterhost/test_host.h"
#include "host/host_services.h"
#include "host/plugin_globals.h"
#include "host/state_record.h"
#include "render/preview_geometry.h"
#include "render/render_driver.h"
#include "settings/settings_record.h"

extern "C" void PluginMain(int16_t selector, void* parameterBlock, intptr_t* data,
                           int16_t* result);

namespace {

constexpr int32_t kImageWidth = 6000;
constexpr int32_t kImageHeight = 4000;
// The dialog's placeholder: the pane is 2 pixels inside it on every side.
constexpr VRect kPlaceholder = {0, 0, 308 + 4, 474 + 4};
constexpr int32_t kGlueNormal = 1;
constexpr int32_t kGlueColor = 15;

uint32_t Hash(uint32_t v) {
  v ^= v >> 16;
  v *= 0x7feb352dU;
  v ^= v >> 15;
  v *= 0x846ca68bU;
  v ^= v >> 16;
  return v;
}

// Diagonal colour gradients with a coarse ripple and fine noise, so that every hue,
// saturation and luma branch of the pixel work is taken.
void FillTestPicture(HostImage& image) {
  uint8_t* p = image.pixels.data();
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; x < image.width; ++x, p += 3) {
      const int32_t u = x * 255 / image.width, v = y * 255 / image.height;
      const int32_t ripple = int32_t(Hash(uint32_t((x >> 5) + (y >> 5) * 4096)) % 49) - 24;
      const int32_t noise = int32_t(Hash(uint32_t(y) * 6007U + uint32_t(x)) % 17) - 8;
      const int32_t rgb[3] = {u + ripple + noise, v - ripple / 2 + noise, 255 - (u + v) / 2 + noise};
      for (int c = 0; c < 3; ++c) p[c] = uint8_t(rgb[c] < 0 ? 0 : rgb[c] > 255 ? 255 : rgb[c]);
    }
  }
}

// Made once: Google Benchmark sets the fixture up again for each of its trial runs.
const HostImage& TestPicture() {
  static const HostImage picture = [] {
    HostImage image = MakeHostImage(kImageWidth, kImageHeight, 3, 8);
    FillTestPicture(image);
    return image;
  }();
  return picture;
}

// The host, after Parameters and Prepare, with the plug-in's globals pointing into it
// as they do during a call; taken down in reverse.
struct PreviewFixture {
  TestHost host;
  int16_t result = 0;
  Handle settingsHandle = nullptr;
  Handle stateHandle = nullptr;
  std::unique_ptr<HostCallScope> scope;
  const char* error = nullptr;

  explicit PreviewFixture(int32_t glueMode) {
    host.image = TestPicture();
    host.entry = PluginMain;
    if (CallSelector(host, filterSelectorParameters) != noErr ||
        CallSelector(host, filterSelectorPrepare) != noErr) {
      error = "Parameters or Prepare failed";
      return;
    }
    scope = std::make_unique<HostCallScope>(host);
    FilterRecord* record = CurrentRecord(host);
    gFilterRecord = record;
    gDataSlot = &host.dataSlot;
    gResult = &result;
    settingsHandle = record->parameters;
    stateHandle = reinterpret_cast<Handle>(host.dataSlot);
    gSettings = reinterpret_cast<SettingsRecord*>(record->handleProcs->lockProc(settingsHandle, 0));
    gState = reinterpret_cast<StateRecord*>(record->handleProcs->lockProc(stateHandle, 0));
    if (!gSettings || !gState) {
      error = "cannot lock the plug-in's handles";
      return;
    }
    gSettings->hue = 62;
    gSettings->saturation = 40;
    gSettings->luminance = 55;
    gSettings->gamma = 58;
    gSettings->glueMode = glueMode;
    SetUpPreviewGeometry(kPlaceholder);
    if (!CanScalePreview() || gSettings->previewScale < 2) error = "the host cannot scale the preview";
  }

  ~PreviewFixture() {
    if (gState) WorkBufferFree(&gState->previewBuffer.buffer);
    FilterRecord* record = CurrentRecord(host);
    if (record && settingsHandle && gSettings) record->handleProcs->unlockProc(settingsHandle);
    if (record && stateHandle && gState) record->handleProcs->unlockProc(stateHandle);
    gSettings = nullptr;
    gState = nullptr;
    gFilterRecord = nullptr;
    gDataSlot = nullptr;
    gResult = nullptr;
    scope.reset();
    EndRun(host);
  }
};

void PreviewRender(benchmark::State& bench) {
  PreviewFixture fixture(int32_t(bench.range(0)));
  if (fixture.error) {
    bench.SkipWithError(fixture.error);
    return;
  }
  for (auto _ : bench) {
    fixture.result = noErr;
    const OSErr err = RenderPreview();
    if (err != noErr) {
      bench.SkipWithError("RenderPreview failed");
      break;
    }
  }
  const PreviewBuffer& preview = gState->previewBuffer;
  bench.counters["scale"] = double(gSettings->previewScale);
  bench.counters["width"] = double(preview.width);
  bench.counters["height"] = double(preview.height);
  bench.SetLabel(bench.range(0) == kGlueNormal ? "glue normal" : "glue color");
}

double Fastest(const std::vector<double>& times) {
  return times.empty() ? 0.0 : *std::min_element(times.begin(), times.end());
}

// Three repetitions of half a second each; the fastest counts, as in the file timings,
// since the machine is shared and a busy neighbour only ever makes a render slower.
BENCHMARK(PreviewRender)
    ->Arg(kGlueNormal)
    ->Arg(kGlueColor)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->ComputeStatistics("min", Fastest);

}  // namespace

BENCHMARK_MAIN();
