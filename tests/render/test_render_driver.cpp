// The render driver and the preview from inside the plug-in: a test host drives
// Parameters and Prepare, then the test calls the framework directly with the host
// active, as the dialog would between messages.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "filterhost/test_host.h"
#include "glue/image_sampling.h"
#include "host/image_access.h"
#include "host/plugin_globals.h"
#include "host/state_record.h"
#include "render/preview_geometry.h"
#include "render/render_driver.h"
#include "render/tiled_image.h"
#include "settings/settings_record.h"
#include "tests/support/test_support.h"

namespace {

HostImage Gradient(int32_t width, int32_t height) {
  HostImage image = MakeHostImage(width, height, 3, 8);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      WriteSample(image, x, y, 0, (x * 3 + y) % 256);
      WriteSample(image, x, y, 1, (x + y * 5) % 256);
      WriteSample(image, x, y, 2, (x * 7) % 256);
    }
  return image;
}

bool SameRect(const HostRect& a, const HostRect& b) {
  return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

TEST(RenderDriver, PreviewRenderLeavesNoTrace) {
  InsidePlugin inside(Gradient(300, 200));
  FilterRecord* r = gFilterRecord;
  SetUpPreviewGeometry({0, 0, 104, 154});  // a 150 x 100 pane: reduction 2
  ASSERT_EQ(gSettings->previewScale, 2);
  r->inRect = {1, 2, 3, 4};
  r->outRect = {5, 6, 7, 8};
  r->maskRect = {9, 10, 11, 12};
  r->inputRate = 7 << 16;
  r->maskRate = 3 << 16;
  r->inputPadding = 0;
  gSettings->renderMode = 0;
  gSettings->panX = 20;
  gSettings->hue = 70;
  gSettings->glueMode = 9;
  SettingsRecord before;
  std::memcpy(&before, gSettings, sizeof before);
  const HostRect in = r->inRect, out = r->outRect, mask = r->maskRect;

  ASSERT_EQ(RenderPreview(), noErr);
  EXPECT_TRUE(SameRect(r->inRect, in));
  EXPECT_TRUE(SameRect(r->outRect, out));
  EXPECT_TRUE(SameRect(r->maskRect, mask));
  EXPECT_EQ(r->inputRate, 7 << 16);
  EXPECT_EQ(r->maskRate, 3 << 16);
  EXPECT_EQ(r->inputPadding, 0);
  EXPECT_EQ(gSettings->renderMode, 0);
  EXPECT_EQ(gSettings->previewScale, 2);
  EXPECT_EQ(gSettings->panX, 20);
  EXPECT_EQ(gSettings->hue, 70);
  EXPECT_EQ(gSettings->glueMode, 9);
  EXPECT_STREQ(gSettings->settingsName, before.settingsName);
  EXPECT_EQ(gSettings->passIndex, -1);
  // The preview was filled: the region is the pane's worth of the reduced image.
  EXPECT_EQ(gState->previewBuffer.width, 150);
  EXPECT_EQ(gState->previewBuffer.height, 100);
  EXPECT_NE(gState->previewBuffer.buffer.memory, nullptr);
}

TEST(RenderDriver, NeutralPreviewShowsTheReducedImage) {
  InsidePlugin inside(Gradient(120, 80));
  SetUpPreviewGeometry({0, 0, 44, 64});  // 60 x 40 pane: reduction 2
  ASSERT_EQ(gSettings->previewScale, 2);
  ASSERT_EQ(RenderPreview(), noErr);
  const PreviewBuffer& preview = gState->previewBuffer;
  ASSERT_EQ(preview.width, 60);
  ASSERT_EQ(preview.height, 40);
  const uint8_t* pixels = static_cast<const uint8_t*>(preview.buffer.memory);
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 60; ++x)
      for (int p = 0; p < 3; ++p)
        ASSERT_EQ(pixels[p * preview.planeSize + y * 60 + x],
                  ReadSample(inside.host.image, 2 * x, 2 * y, int16_t(p)))
            << x << "," << y << " plane " << p;
}

TEST(RenderDriver, FinalRenderPutsTheHostRectanglesBack) {
  InsidePlugin inside(Gradient(150, 90));
  FilterRecord* r = gFilterRecord;
  r->inRect = {1, 2, 3, 4};
  r->outRect = {5, 6, 7, 8};
  gSettings->hue = 30;
  const HostImage before = inside.host.image;
  ASSERT_EQ(RenderFinal(), noErr);
  EXPECT_TRUE(SameRect(r->inRect, HostRect{1, 2, 3, 4}));
  EXPECT_TRUE(SameRect(r->outRect, HostRect{5, 6, 7, 8}));
  EXPECT_EQ(gSettings->hue, 30);
  EXPECT_EQ(gSettings->renderMode, 0);
}

TEST(RenderDriver, RenderingIntoAnImageMatchesTheFinalRender) {
  for (int16_t depth : {8, 16}) {
    HostImage picture = MakeHostImage(150, 90, 3, depth);
    for (int32_t y = 0; y < 90; ++y)
      for (int32_t x = 0; x < 150; ++x)
        for (int16_t p = 0; p < 3; ++p)
          WriteSample(picture, x, y, p, ((x * (p + 2) + y * 3) % 256) * (depth == 8 ? 1 : 128));
    InsidePlugin inside(picture);
    gSettings->hue = 30;
    gSettings->saturation = 70;
    gSettings->glueMode = 12;  // overlay: the original matters too
    TiledImage image{};
    ASSERT_TRUE(NewTiledImage(&image, 150, 90, depth == 8 ? kTiledRgba8 : kTiledRgba16, -1));
    ASSERT_EQ(LoadFromHost(&image), noErr);
    ASSERT_EQ(RenderIntoImage(&image), noErr);
    ASSERT_EQ(RenderFinal(), noErr);
    ClearHostRects();
    HostAdvance();  // the host takes the last output back before serving this request
    int differing = 0;
    for (int32_t y = 0; y < 90; ++y)
      for (int32_t x = 0; x < 150; ++x) {
        int32_t samples[4];
        ReadSamples(&image, 0, x, y, samples);
        for (int16_t p = 0; p < 3; ++p)
          differing += samples[p] != int32_t(ReadSample(inside.host.image, x, y, p));
      }
    EXPECT_EQ(differing, 0) << "depth " << depth;
    EXPECT_EQ(gSettings->renderMode, 0);
    FreeTiledImage(&image);
  }
}

TEST(RenderDriver, RequestsFollowScaleAndPan) {
  InsidePlugin inside(Gradient(400, 300));
  gSettings->previewScale = 2;
  gSettings->panX = 101;
  gSettings->panY = 0;
  HostRequestRegion({0, 10, 20, 30});
  const VRect in = HostInRect();
  EXPECT_EQ(in.left, 10 + 50);
  EXPECT_EQ(in.right, 30 + 50);
  EXPECT_EQ(gFilterRecord->inputRate, 2 << 16);
  EXPECT_EQ(gFilterRecord->inputPadding, plugInWantsEdgeReplication);
  EXPECT_EQ(gFilterRecord->inHiPlane, 2);
}

TEST(PreviewGeometry, FitReductionAndPan) {
  {
    InsidePlugin inside(Gradient(948, 600));
    SetUpPreviewGeometry({0, 0, 308, 474});
    EXPECT_EQ(gSettings->previewScale, 2);
    EXPECT_EQ(gState->fitScale, 2);
    gSettings->panX = -5;
    gSettings->panY = 100000;
    ClampPan(1);
    EXPECT_EQ(gSettings->panX, 0);
    EXPECT_EQ(gSettings->panY, 600 - (308 - 4));
  }
  {
    // Smaller than the pane: 1:1, the pane shrinks to the image.
    InsidePlugin inside(Gradient(100, 50));
    SetUpPreviewGeometry({10, 20, 318, 494});
    EXPECT_EQ(gSettings->previewScale, 1);
    EXPECT_EQ(RectWidth(gState->previewPane), 100);
    EXPECT_EQ(RectHeight(gState->previewPane), 50);
  }
}

TEST(PreviewCopy, SamplesBecomePreviewBytes) {
  struct Case {
    int16_t depth;
    double sample;
    int expected;
  };
  for (Case c : {Case{16, 32768, 255}, Case{16, 16384, 127}, Case{16, 0, 0}, Case{32, 1.7, 255},
                 Case{32, -0.2, 0}, Case{32, 0.5, 128}, Case{8, 77, 77}}) {
    HostImage image = MakeHostImage(20, 10, 3, c.depth);
    for (int32_t y = 0; y < 10; ++y)
      for (int32_t x = 0; x < 20; ++x)
        for (int16_t p = 0; p < 3; ++p) WriteSample(image, x, y, p, c.sample);
    InsidePlugin inside(image);
    SetUpPreviewGeometry({0, 0, 54, 74});
    CopyRegionToPreview();
    const PreviewBuffer& preview = gState->previewBuffer;
    ASSERT_EQ(preview.width, 20);
    const uint8_t* pixels = static_cast<const uint8_t*>(preview.buffer.memory);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels[0], c.expected) << c.depth << " " << c.sample;
    EXPECT_EQ(pixels[2 * preview.planeSize + 9 * 20 + 19], c.expected) << c.depth;
  }
}

}  // namespace
