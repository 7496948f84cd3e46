// Host services, scripting codes and the settings reset, tested against a filter
// record filled in by the test itself.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/host_services.h"
#include "host/plugin_globals.h"
#include "host/scripting.h"
#include "settings/settings_record.h"

namespace {

std::vector<std::pair<int32_t, int32_t>> gProgressCalls;
void HOSTCALL RecordProgress(int32_t done, int32_t total) {
  gProgressCalls.push_back({done, total});
}

struct RecordFixture : ::testing::Test {
  void SetUp() override {
    std::memset(&record, 0, sizeof record);
    gFilterRecord = &record;
    gResult = &result;
  }
  void TearDown() override {
    gFilterRecord = nullptr;
    gResult = nullptr;
  }
  FilterRecord record;
  int16_t result = 0;
};

using HostServices = RecordFixture;

TEST_F(HostServices, ColoursComeFromTheSixteenBitFields) {
  record.foreground = {0xFFFF, 0x80FF, 0x00FF};
  record.background = {0x0000, 0x0100, 0xFF00};
  // The 4-byte colour fields must not be read for this.
  std::memset(record.foreColor, 0x11, 4);
  std::memset(record.backColor, 0x22, 4);
  Colour fore = HostForeColor();
  EXPECT_FLOAT_EQ(fore.red, 1.0f);
  EXPECT_FLOAT_EQ(fore.green, 128.0f / 255.0f);
  EXPECT_FLOAT_EQ(fore.blue, 0.0f);
  EXPECT_FLOAT_EQ(fore.alpha, 1.0f);
  Colour back = HostBackColor();
  EXPECT_FLOAT_EQ(back.red, 0.0f);
  EXPECT_FLOAT_EQ(back.green, 1.0f / 255.0f);
  EXPECT_FLOAT_EQ(back.blue, 1.0f);
}

TEST_F(HostServices, ModeClassification) {
  struct Case {
    int16_t mode;
    int32_t depth;
    int16_t planes;
    bool is8, is16, isFloat, isGray;
    int depthCode;
    float fullRange;
  };
  const Case cases[] = {
      {plugInModeRGBColor, 8, 3, true, false, false, false, 3, 255.0f},
      {plugInModeGrayScale, 0, 1, true, false, false, true, 3, 255.0f},
      {plugInModeRGB48, 16, 3, false, true, false, false, 4, 32768.0f},
      {plugInModeGray16, 16, 1, false, true, false, true, 4, 32768.0f},
      {plugInModeRGB96, 32, 3, false, false, true, false, 9, 1.0f},
      {plugInModeGray32, 32, 1, false, false, true, true, 9, 1.0f},
      {plugInModeRGBColor, 32, 4, false, false, true, false, 9, 1.0f},
  };
  for (const Case& c : cases) {
    record.imageMode = c.mode;
    record.depth = c.depth;
    record.planes = c.planes;
    EXPECT_EQ(ModeIs8Bit(), c.is8) << c.mode;
    EXPECT_EQ(ModeIs16Bit(), c.is16) << c.mode;
    EXPECT_EQ(ModeIsFloat(), c.isFloat) << c.mode;
    EXPECT_EQ(ModeIsGray(), c.isGray) << c.mode;
    EXPECT_EQ(DepthCode(), c.depthCode) << c.mode;
    EXPECT_EQ(FullRange(), c.fullRange) << c.mode;
  }
  const int folded[][2] = {{10, 1}, {17, 1}, {11, 3}, {16, 3}, {12, 9}, {13, 4},
                           {14, 7}, {15, 8}, {3, 3},  {7, 7},  {99, 99}};
  for (const auto& f : folded) EXPECT_EQ(BaseModeOf(f[0]), f[1]) << f[0];
  for (int16_t filterCase = 0; filterCase <= 7; ++filterCase) {
    record.filterCase = filterCase;
    EXPECT_EQ(EditableTransparency(), filterCase == 4 || filterCase == 5) << filterCase;
  }
}

TEST_F(HostServices, ProgressCountsFromOne) {
  gProgressCalls.clear();
  record.progressProc = RecordProgress;
  HostProgress(0, 100);
  HostProgress(99, 100);
  ASSERT_EQ(gProgressCalls.size(), 2u);
  EXPECT_EQ(gProgressCalls[0], std::make_pair(1, 100));
  EXPECT_EQ(gProgressCalls[1], std::make_pair(100, 100));
  record.progressProc = nullptr;
  HostProgress(1, 2);  // a host without progress is not called
  EXPECT_EQ(gProgressCalls.size(), 2u);
}

TEST_F(HostServices, WorkBuffersWithoutHostBuffersAreZeroedSystemMemory) {
  WorkBuffer buffer = WorkBufferAlloc(4096);
  ASSERT_NE(buffer.memory, nullptr);
  EXPECT_EQ(buffer.hostId, nullptr);
  const unsigned char* bytes = static_cast<const unsigned char*>(buffer.memory);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(bytes[i], 0) << i;
  WorkBufferFree(&buffer);
  EXPECT_EQ(buffer.memory, nullptr);
  WorkBufferFree(&buffer);  // a second release does nothing
}

TEST_F(HostServices, DescriptorsNeedTheWholeReadTable) {
  ReadDescriptorProcs read{};
  WriteDescriptorProcs write{};
  PIDescriptorParameters params{};
  params.readDescriptorProcs = &read;
  params.writeDescriptorProcs = &write;
  record.descriptorParameters = &params;
  read.numReadDescriptorProcs = 18;
  write.numWriteDescriptorProcs = 16;
  // Fill every read slot with some non-null procedure.
  auto fill = [&read] {
    void (**slots)() = reinterpret_cast<void (**)()>(&read.openReadDescriptorProc);
    for (int i = 0; i < 18; ++i) slots[i] = reinterpret_cast<void (*)()>(&RecordProgress);
  };
  fill();
  EXPECT_TRUE(HostHasDescriptors());  // write procedures missing: still offered
  read.getPinnedUnitFloatProc = nullptr;
  EXPECT_FALSE(HostHasDescriptors());
  fill();
  read.numReadDescriptorProcs = 17;
  EXPECT_FALSE(HostHasDescriptors());
  read.numReadDescriptorProcs = 18;
  params.descriptorParametersVersion = 1;
  EXPECT_FALSE(HostHasDescriptors());
  params.descriptorParametersVersion = 0;
  record.descriptorParameters = nullptr;
  EXPECT_FALSE(HostHasDescriptors());
}

TEST(ScriptingCodes, EnumeratedValuesConvertBothWays) {
  EXPECT_EQ(ScriptCodeOf(FourCC("GLty"), 62), FourCC("GL62"));
  EXPECT_EQ(ScriptCodeOf(FourCC("GLty"), 70), FourCC("<NO>"));
  EXPECT_EQ(ScriptCodeOf(FourCC("GLty"), 0), FourCC("<NO>"));
  EXPECT_EQ(ScriptCodeOf(FourCC("GWty"), 3), FourCC("GW03"));
  EXPECT_EQ(ScriptCodeOf(FourCC("GWty"), 4), FourCC("<NO>"));
  EXPECT_EQ(ScriptValueOf(FourCC("GLty"), FourCC("GL64")), 64);
  EXPECT_EQ(ScriptValueOf(FourCC("GLty"), FourCC("GL70")), 0);
  EXPECT_EQ(ScriptValueOf(FourCC("GLty"), FourCC("GL00")), 0);
  EXPECT_EQ(ScriptValueOf(FourCC("GLty"), FourCC("GW01")), 0);
  EXPECT_EQ(ScriptValueOf(FourCC("GWty"), FourCC("GW02")), 2);
  EXPECT_EQ(ScriptValueOf(FourCC("GWty"), FourCC("GW04")), 0);
  EXPECT_EQ(ScriptValueOf(FourCC("GWty"), FourCC("GL01")), 0);
}

TEST(SettingsReset, PrepareResetsRunStateButKeepsSpares) {
  SettingsRecord settings;
  std::memset(&settings, 0x5A, sizeof settings);
  settings.spareInt1 = 1234;
  settings.spareReal2 = 0.5f;
  ResetSettingsForRun(&settings);
  EXPECT_EQ(settings.glueMode, 1);
  EXPECT_EQ(settings.previewScale, 1);
  EXPECT_EQ(settings.renderMode, 0);
  EXPECT_EQ(settings.hostCanPreview, 0);
  EXPECT_STREQ(settings.settingsName, "Velvet Hue settings");
  EXPECT_EQ(settings.gamma, 50);
  EXPECT_EQ(settings.hue, 50);
  EXPECT_EQ(settings.saturation, 50);
  EXPECT_EQ(settings.luminance, 50);
  EXPECT_EQ(settings.vibrance, 0);
  EXPECT_EQ(settings.spareInt1, 1234);
  EXPECT_EQ(settings.spareReal2, 0.5f);
}

}  // namespace
