// The real modules driven through the test host: selector sequences, result codes,
// handle ownership, host faults and recorded actions, for both products.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filterhost/test_host.h"

namespace {

constexpr uint32_t K(const char (&s)[5]) { return FourCC(s); }

std::string ModulePath(const char* name) {
  std::string path = std::string(TALLOW_MODULE_DIR) + "/" + name;
#if defined(_WIN32)
  // Under Wine the build tree is reached through drive Z:.
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
#endif
  return path;
}

struct Product {
  const char* label;
  std::string module;
  bool isVelvetHue;
  size_t settingsSize;
  size_t stateSize;
};

std::vector<Product> Products() {
  const bool is32 = sizeof(void*) == 4;
#if defined(_WIN32)
  const char* vh = is32 ? "Velvet Hue-168 32bit.8bf" : "Velvet Hue-168 64bit.8bf";
  const char* gw = is32 ? "GrainWreck-168 32bit.8bf" : "Grain Wreck-168 64bit.8bf";
#else
  const char* vh = "Velvet Hue-168.so";
  const char* gw = "Grain Wreck-168.so";
#endif
  return {
      {"VelvetHue", ModulePath(vh), true, is32 ? 2616u : 2632u, is32 ? 19456u : 19656u},
      {"GrainWreck", ModulePath(gw), false, is32 ? 2624u : 2640u, is32 ? 54496u : 54696u},
  };
}

class ShellTest : public ::testing::TestWithParam<Product> {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(LoadModule(host, GetParam().module, &error)) << error;
    host.image = MakeHostImage(40, 30, 3, 8);
  }
  void TearDown() override {
    ForgetPluginState(host);
    UnloadModule(host);
  }

  std::vector<uint32_t> RecordedKeys() const {
    std::vector<uint32_t> keys;
    for (const DescriptorItem& item : host.recordedDescriptor) keys.push_back(item.key);
    return keys;
  }
  int32_t RecordedInteger(uint32_t key) const {
    const DescriptorItem* item = FindDescriptorItem(host.recordedDescriptor, key);
    EXPECT_NE(item, nullptr) << FourCCText(key);
    return item ? item->integer : -1;
  }
  uint32_t RecordedEnum(uint32_t key) const {
    const DescriptorItem* item = FindDescriptorItem(host.recordedDescriptor, key);
    EXPECT_NE(item, nullptr) << FourCCText(key);
    return item ? item->enumValue : 0;
  }
  // Attaches an action's descriptor for the next run, as a host replaying it does.
  void ReplayAction(std::vector<DescriptorItem> items, int16_t playInfo) {
    host.recordedDescriptor = std::move(items);
    host.hasRecordedDescriptor = true;
    host.settings.replayDescriptor = true;
    host.settings.playInfo = playInfo;
  }
  bool IsVH() const { return GetParam().isVelvetHue; }
  uint32_t HueKey() const { return IsVH() ? K("0002") : K("0004"); }

  TestHost host;
};

TEST_P(ShellTest, InteractiveRunRecordsTheSettingsInOrder) {
  host.settings.playInfo = plugInDialogDisplay;
  RunResult run = RunFilter(host, {true});
  EXPECT_EQ(run.result, noErr);
  EXPECT_TRUE(run.startCalled);
  EXPECT_TRUE(run.finishCalled);
  ASSERT_TRUE(host.hasRecordedDescriptor);
  EXPECT_EQ(host.recordInfo, plugInDialogOptional);

  std::vector<uint32_t> expected =
      IsVH() ? std::vector<uint32_t>{K("GLUE"), K("0007"), K("0006"), K("0008"), K("0005"),
                                     K("0001"), K("0002"), K("0003"), K("0004"), K("0009")}
             : std::vector<uint32_t>{K("GLUE"), K("GWky"), K("0003"), K("0004"), K("0005"),
                                     K("0006")};
  EXPECT_EQ(RecordedKeys(), expected);
  const DescriptorItem* glue = FindDescriptorItem(host.recordedDescriptor, K("GLUE"));
  ASSERT_NE(glue, nullptr);
  EXPECT_EQ(glue->type, typeEnumerated);
  EXPECT_EQ(glue->enumType, K("GLty"));
  EXPECT_EQ(glue->enumValue, K("GL01"));
  if (IsVH()) {
    for (uint32_t key : {K("0001"), K("0002"), K("0003"), K("0004")})
      EXPECT_EQ(RecordedInteger(key), 50) << FourCCText(key);
    EXPECT_EQ(RecordedInteger(K("0009")), 0);
    EXPECT_EQ(FindDescriptorItem(host.recordedDescriptor, K("0001"))->type, typeInteger);
  } else {
    const DescriptorItem* colors = FindDescriptorItem(host.recordedDescriptor, K("GWky"));
    ASSERT_NE(colors, nullptr);
    EXPECT_EQ(colors->enumType, K("GWty"));
    EXPECT_EQ(colors->enumValue, K("GW01"));
    EXPECT_EQ(RecordedInteger(K("0003")), 30);
    EXPECT_EQ(RecordedInteger(K("0004")), 0);
    EXPECT_EQ(RecordedInteger(K("0005")), 45);
    EXPECT_EQ(RecordedInteger(K("0006")), 25);
  }

  // The host keeps exactly the two handles (and the descriptor); every work buffer and
  // every lock is gone after Finish.
  EXPECT_TRUE(LeakedHandles(host).empty());
  EXPECT_EQ(LiveBufferCount(host), 0u);
  ASSERT_NE(host.parameters, nullptr);
  ASSERT_NE(host.dataSlot, 0);
  EXPECT_FALSE(HandleIsLocked(host, host.parameters));
  EXPECT_FALSE(HandleIsLocked(host, reinterpret_cast<Handle>(host.dataSlot)));
  EXPECT_TRUE(host.problems.empty()) << host.problems.front();
}

TEST_P(ShellTest, BlocksHaveTheBuildsSizes) {
  RunResult run = RunFilter(host, {true});
  ASSERT_EQ(run.result, noErr);
  EXPECT_EQ(HandleSize(host, host.parameters), int32_t(GetParam().settingsSize));
  EXPECT_EQ(HandleSize(host, reinterpret_cast<Handle>(host.dataSlot)),
            int32_t(GetParam().stateSize));
}

TEST_P(ShellTest, RepeatRunWithoutDialogReplaysTheLastAction) {
  ASSERT_EQ(RunFilter(host, {true}).result, noErr);
  ReplayAction({EnumeratedItem(K("GLUE"), K("GLty"), K("GL09")), IntegerItem(HueKey(), 40)},
               plugInDialogDontDisplay);
  ClearObservations(host);
  RunResult run = RunFilter(host, {false});
  EXPECT_EQ(run.result, noErr);
  EXPECT_FALSE(run.parametersCalled);
  EXPECT_EQ(RecordedEnum(K("GLUE")), K("GL09"));
  EXPECT_EQ(RecordedInteger(HueKey()), 40);
  // Keys the action lacks are reset to their defaults before the recorded ones apply.
  EXPECT_EQ(RecordedInteger(IsVH() ? K("0001") : K("0003")), IsVH() ? 50 : 30);
  EXPECT_TRUE(LeakedHandles(host).empty());
}

TEST_P(ShellTest, ReplayedCodesOutsideTheDictionary) {
  struct Case {
    uint32_t recorded;
    uint32_t rerecorded;
  };
  // A mode the dictionary does not list still round-trips; an unknown code reads as 0,
  // which renders as "normal" and is recorded as '<NO>'.
  for (Case c : {Case{K("GL64"), K("GL64")}, Case{K("GL99"), K("<NO>")},
                 Case{K("XXXX"), K("<NO>")}}) {
    ReplayAction({EnumeratedItem(K("GLUE"), K("GLty"), c.recorded)}, plugInDialogSilent);
    ASSERT_EQ(RunFilter(host, {false}).result, noErr);
    EXPECT_EQ(RecordedEnum(K("GLUE")), c.rerecorded) << FourCCText(c.recorded);
  }
}

TEST_P(ShellTest, KeysThatAreNotReadBackKeepTheirDefaults) {
  if (IsVH()) {
    ReplayAction({IntegerItem(K("0009"), 77), IntegerItem(K("0007"), 5)},
                 plugInDialogDontDisplay);
    ASSERT_EQ(RunFilter(host, {false}).result, noErr);
    EXPECT_EQ(RecordedInteger(K("0009")), 0);
  } else {
    ReplayAction({EnumeratedItem(K("GWky"), K("GWty"), K("GW03")),
                  EnumeratedItem(K("GLUE"), K("GWty"), K("GW02"))},
                 plugInDialogDontDisplay);
    ASSERT_EQ(RunFilter(host, {false}).result, noErr);
    EXPECT_EQ(RecordedEnum(K("GWky")), K("GW03"));
    // A glue value of the wrong enumeration is not a glue mode.
    EXPECT_EQ(RecordedEnum(K("GLUE")), K("<NO>"));
  }
}

TEST_P(ShellTest, HostsThatIgnoreDescriptorsUseTheirOwnSettings) {
  for (OSType sig : {kHostSigPSP8, kHostSigPSP9}) {
    host.settings.hostSig = sig;
    ReplayAction({IntegerItem(HueKey(), 40)}, plugInDialogDontDisplay);
    ASSERT_EQ(RunFilter(host, {false}).result, noErr);
    EXPECT_EQ(RecordedInteger(HueKey()), IsVH() ? 50 : 0) << FourCCText(sig);
  }
}

TEST_P(ShellTest, IncompleteDescriptorTables) {
  // A read table short of one procedure: descriptors count as absent, nothing is read
  // or recorded.
  host.settings.faults.readProcsCount17 = true;
  ReplayAction({IntegerItem(HueKey(), 40)}, plugInDialogDontDisplay);
  host.hasRecordedDescriptor = true;
  RunResult run = RunFilter(host, {false});
  EXPECT_EQ(run.result, noErr);
  EXPECT_TRUE(host.recordedDescriptor.empty() || RecordedInteger(HueKey()) == 40);

  // A complete read table with the put procedures missing still reads the action, and
  // Finish must not call the missing procedures.
  host.settings.faults = HostFaults{};
  host.settings.faults.writeProcsMissing = true;
  ReplayAction({IntegerItem(HueKey(), 40)}, plugInDialogDontDisplay);
  run = RunFilter(host, {false});
  EXPECT_EQ(run.result, noErr);
  EXPECT_EQ(FindDescriptorItem(host.recordedDescriptor, HueKey()), nullptr);
}

TEST_P(ShellTest, AboutAndUnknownSelectors) {
  EXPECT_EQ(CallSelector(host, filterSelectorAbout), noErr);
  EXPECT_EQ(host.handleStats.news, 0);
  EXPECT_EQ(host.handleStats.locks, 0);

  ASSERT_EQ(CallSelector(host, filterSelectorParameters), noErr);
  EXPECT_EQ(CallSelector(host, 6), noErr);
  EXPECT_EQ(CallSelector(host, 100), noErr);
  EXPECT_FALSE(HandleIsLocked(host, host.parameters));
  EXPECT_FALSE(HandleIsLocked(host, reinterpret_cast<Handle>(host.dataSlot)));
  EndRun(host);
}

TEST_P(ShellTest, StartWithoutHandlesIsABadParameter) {
  BeginRun(host);
  EXPECT_EQ(CallSelector(host, filterSelectorStart), filterBadParameters);
  EndRun(host);
  EXPECT_EQ(host.handleStats.news, 0);
}

TEST_P(ShellTest, HostMemoryFaults) {
  struct Case {
    const char* name;
    void (*apply)(HostFaults&);
    OSErr expected;
  };
  const Case cases[] = {
      {"newProc fails", [](HostFaults& f) { f.newFailsAfter = 0; }, memFullErr},
      {"second newProc fails", [](HostFaults& f) { f.newFailsAfter = 1; }, memFullErr},
      {"lockProc fails", [](HostFaults& f) { f.lockFails = true; }, memFullErr},
      {"no handle table", [](HostFaults& f) { f.noHandleProcs = true; }, memFullErr},
      {"handle table too new", [](HostFaults& f) { f.handleProcsVersion2 = true; }, memFullErr},
  };
  for (const Case& c : cases) {
    ForgetPluginState(host);
    host.settings.faults = HostFaults{};
    c.apply(host.settings.faults);
    RunResult run = RunFilter(host, {true});
    EXPECT_EQ(run.result, c.expected) << c.name;
    EXPECT_FALSE(run.startCalled && run.start == noErr) << c.name;
  }
}

TEST_P(ShellTest, WorkBuffersFallBackToSystemMemory) {
  for (int variant = 0; variant < 3; ++variant) {
    host.settings.faults = HostFaults{};
    if (variant == 0) host.settings.faults.noBufferProcs = true;
    if (variant == 1) host.settings.faults.bufferProcsVersion3 = true;
    if (variant == 2) host.settings.faults.allocateFails = true;
    ClearObservations(host);
    RunResult run = RunFilter(host, {true});
    EXPECT_EQ(run.result, noErr) << variant;
    EXPECT_EQ(host.bufferStats.allocations, 0) << variant;
    EXPECT_EQ(LiveBufferCount(host), 0u);
  }
  // With the host's buffers, every one handed out comes back.
  host.settings.faults = HostFaults{};
  ClearObservations(host);
  ASSERT_EQ(RunFilter(host, {true}).result, noErr);
  EXPECT_GT(host.bufferStats.allocations, 0);
  EXPECT_EQ(host.bufferStats.frees, host.bufferStats.allocations);
}

TEST_P(ShellTest, RefusalsEndTheRunWithResultOne) {
  host.settings.faults.noAdvanceState = true;
  RunResult run = RunFilter(host, {true});
  EXPECT_EQ(run.start, 1);
  EXPECT_FALSE(run.finishCalled);
  EXPECT_EQ(LiveBufferCount(host), 0u);
  FilterRecord* record = CurrentRecord(host);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->outRect.bottom - record->outRect.top, 0);

  host.settings.faults = HostFaults{};
  host.image.imageMode = plugInModeMultichannel;
  run = RunFilter(host, {true});
  EXPECT_EQ(run.start, 1);
  EXPECT_EQ(LiveBufferCount(host), 0u);
}

TEST_P(ShellTest, PrepareLowersMaxSpace) {
  // The expected value counts a mask plane only when the host has handed over mask
  // data by Prepare; with a selection the bound is 2 x 256 x 50 x 4 at most.
  struct Case {
    int32_t width, height;
    bool mask;
    int32_t hostMaxSpace;
    int32_t expected;  // -1: 2 x min(W,256) x min(H,256) x planes (+1 with mask data)
  };
  const Case cases[] = {
      {1000, 50, true, 1 << 24, -1},
      {1000, 50, false, 1 << 24, 2 * 256 * 50 * 3},
      {100, 600, false, 1 << 24, 2 * 100 * 256 * 3},
      {1000, 50, true, 5000, 5000},  // a smaller host value is kept
  };
  for (const Case& c : cases) {
    host.image = MakeHostImage(c.width, c.height, 3, 8);
    if (c.mask)
      SetSelectionMask(host.image, std::vector<uint8_t>(size_t(c.width) * c.height, 255));
    host.settings.maxSpace = c.hostMaxSpace;
    BeginRun(host);
    ASSERT_EQ(CallSelector(host, filterSelectorPrepare), noErr);
    FilterRecord* record = CurrentRecord(host);
    int32_t expected = c.expected;
    if (expected < 0) {
      const void* maskData = record->maskData;
      expected = 2 * 256 * 50 * (3 + (maskData ? 1 : 0));
      EXPECT_LE(expected, 102400);
    }
    EXPECT_EQ(record->maxSpace, expected) << c.width << "x" << c.height;
    EXPECT_EQ(record->bufferSpace, 0);
    EndRun(host);
  }
}

TEST_P(ShellTest, ImageModesAndDepthsRunCleanly) {
  struct Case {
    int16_t planes, depth;
    bool mask;
  };
  const Case cases[] = {{3, 8, false}, {3, 16, true}, {3, 32, false}, {4, 8, true},
                        {1, 8, false}, {1, 16, false}, {2, 32, true}};
  for (const Case& c : cases) {
    host.image = MakeHostImage(33, 17, c.planes, c.depth);
    if (c.mask) SetSelectionMask(host.image, std::vector<uint8_t>(33 * 17, 200));
    for (bool big : {true, false}) {
      host.settings.bigDocument = big;
      RunResult run = RunFilter(host, {true});
      EXPECT_EQ(run.result, noErr) << c.planes << "/" << c.depth;
      EXPECT_TRUE(LeakedHandles(host).empty());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modules, ShellTest, ::testing::ValuesIn(Products()),
                         [](const ::testing::TestParamInfo<Product>& info) {
                           return std::string(info.param.label);
                         });

TEST(ShellLoading, MissingModuleIsReported) {
  TestHost host;
  std::string error;
  EXPECT_FALSE(LoadModule(host, ModulePath("no such module.8bf"), &error));
  EXPECT_NE(error.find("no such module"), std::string::npos) << error;
}

}  // namespace
