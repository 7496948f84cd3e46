// Tests of the in-process test host, driven by a fake plug-in compiled into the test.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "filterhost/test_host.h"

namespace {

// The fake plug-in: each test installs what it does per selector.
std::function<void(int16_t, FilterRecord*, intptr_t*, int16_t*)> gFake;

void HOSTCALL FakePluginMain(int16_t selector, void* block, intptr_t* data, int16_t* result) {
  if (gFake) gFake(selector, static_cast<FilterRecord*>(block), data, result);
}

void ClearRequests(FilterRecord* r) {
  r->inRect = r->outRect = r->maskRect = HostRect{0, 0, 0, 0};
  if (r->bigDocumentData) {
    r->bigDocumentData->inRect32 = r->bigDocumentData->outRect32 = r->bigDocumentData->maskRect32 =
        VRect{0, 0, 0, 0};
  }
}

class TestHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.entry = FakePluginMain;
    gFake = nullptr;
  }
  void TearDown() override { gFake = nullptr; }
  // Runs `start` as the plug-in's Start; the run clears the rectangles afterwards.
  RunResult RunStart(std::function<void(FilterRecord*, int16_t*)> start, bool callParameters = false) {
    gFake = [start](int16_t selector, FilterRecord* r, intptr_t*, int16_t* result) {
      if (selector == filterSelectorStart) {
        start(r, result);
        ClearRequests(r);
      }
    };
    return RunFilter(host, RunOptions{callParameters});
  }
  TestHost host;
};

// ---- region serving -------------------------------------------------------------------

TEST_F(TestHostTest, ServesRequestedPlanesAndTakesOutputBack) {
  host.image = MakeHostImage(7, 5, 3, 8);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x)
      for (int16_t p = 0; p < 3; ++p) WriteSample(host.image, x, y, p, x * 20 + y * 3 + p);
  int32_t inRowBytes = 0;
  std::vector<uint8_t> seen;
  RunResult run = RunStart([&](FilterRecord* r, int16_t* result) {
    r->inRect = HostRect{1, 2, 4, 6};
    r->inLoPlane = 1;
    r->inHiPlane = 2;
    r->outRect = HostRect{1, 2, 4, 6};
    r->outLoPlane = 0;
    r->outHiPlane = 2;
    *result = r->advanceState();
    inRowBytes = r->inRowBytes;
    const uint8_t* in = static_cast<const uint8_t*>(r->inData);
    seen.assign(in, in + 3 * r->inRowBytes);
    uint8_t* out = static_cast<uint8_t*>(r->outData);
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 4; ++i)
        for (int p = 0; p < 3; ++p) out[j * r->outRowBytes + i * 3 + p] = uint8_t(200 + p);
  });
  EXPECT_EQ(run.result, noErr);
  EXPECT_EQ(run.continueCalls, 0);
  EXPECT_TRUE(run.finishCalled);
  EXPECT_EQ(host.selectorsCalled, (std::vector<int16_t>{2, 3, 5}));
  ASSERT_EQ(inRowBytes, 4 * 2);
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 4; ++i)
      for (int k = 0; k < 2; ++k)
        EXPECT_EQ(seen[j * inRowBytes + i * 2 + k], (2 + i) * 20 + (1 + j) * 3 + 1 + k);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      const bool inside = y >= 1 && y < 4 && x >= 2 && x < 6;
      EXPECT_EQ(ReadSample(host.image, x, y, 2), inside ? 202 : x * 20 + y * 3 + 2) << x << "," << y;
    }
}

struct SamplingCase {
  const char* name;
  HostRect rect;
  Fixed rate;
  int16_t padding;
  OSErr expectedError;
  std::vector<uint8_t> expected;  // row by row
};

TEST_F(TestHostTest, SamplesPadsAndRefusesAsAsked) {
  // Grey 8 × 6, value 16x + y: every pixel distinct.
  const SamplingCase cases[] = {
      {"rate 2 takes every second pixel", {0, 0, 2, 3}, 2 << 16, -3, noErr, {0, 32, 64, 2, 34, 66}},
      {"rate 1.5 floors", {1, 1, 2, 4}, 0x18000, -3, noErr, {17, 49, 65}},
      {"edge replication", {4, 6, 7, 9}, 1 << 16, -1, noErr, {100, 116, 116, 101, 117, 117, 101, 117, 117}},
      {"fill value", {4, 6, 7, 9}, 1 << 16, 77, noErr, {100, 116, 77, 101, 117, 77, 77, 77, 77}},
      {"out of bounds with the default padding", {4, 6, 7, 9}, 1 << 16, -3, paramErr, {}},
  };
  for (const SamplingCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestHost local;
    local.entry = FakePluginMain;
    local.image = MakeHostImage(8, 6, 1, 8);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) WriteSample(local.image, x, y, 0, 16 * x + y);
    OSErr err = 1;
    std::vector<uint8_t> got;
    gFake = [&](int16_t selector, FilterRecord* r, intptr_t*, int16_t*) {
      if (selector != filterSelectorStart) return;
      r->inRect = c.rect;
      r->inLoPlane = r->inHiPlane = 0;
      r->inputRate = c.rate;
      r->inputPadding = c.padding;
      err = r->advanceState();
      const int w = c.rect.right - c.rect.left, h = c.rect.bottom - c.rect.top;
      if (r->inData) {
        for (int j = 0; j < h; ++j)
          for (int i = 0; i < w; ++i) got.push_back(static_cast<uint8_t*>(r->inData)[j * r->inRowBytes + i]);
      }
      ClearRequests(r);
    };
    RunFilter(local, RunOptions{false});
    EXPECT_EQ(err, c.expectedError);
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(local.problems.empty(), c.expectedError == noErr);
  }
}

TEST_F(TestHostTest, HonoursSamplingSupportOfTheHost) {
  host.image = MakeHostImage(8, 1, 1, 8);
  for (int x = 0; x < 8; ++x) WriteSample(host.image, x, 0, 0, x);
  for (char support : {0, 1}) {
    host.settings.samplingSupport = support;
    std::vector<uint8_t> got;
    RunStart([&](FilterRecord* r, int16_t*) {
      r->inRect = HostRect{0, 1, 1, 3};
      r->inputRate = 0x18000;  // 1.5: ignored without support, 1 with integral support
      ASSERT_EQ(r->advanceState(), noErr);
      got.assign(static_cast<uint8_t*>(r->inData), static_cast<uint8_t*>(r->inData) + 2);
    });
    EXPECT_EQ(got, (std::vector<uint8_t>{1, 2})) << int(support);
  }
}

TEST_F(TestHostTest, DeepSamplesKeepTheirScaleAndHonourRowBytes) {
  host.settings.extraRowBytes = 4;
  host.image = MakeHostImage(3, 2, 1, 16);
  const uint16_t grey[6] = {0, 16384, 32768, 1, 2, 3};
  for (int i = 0; i < 6; ++i) WriteSample(host.image, i % 3, i / 3, 0, grey[i]);
  RunStart([&](FilterRecord* r, int16_t*) {
    EXPECT_EQ(r->depth, 16);
    EXPECT_EQ(r->imageMode, plugInModeGray16);
    r->inRect = r->outRect = HostRect{0, 0, 2, 3};
    ASSERT_EQ(r->advanceState(), noErr);
    EXPECT_EQ(r->inRowBytes, 3 * 2 + 4);
    for (int i = 0; i < 6; ++i) {
      const uint16_t* in = reinterpret_cast<const uint16_t*>(static_cast<uint8_t*>(r->inData) + (i / 3) * r->inRowBytes);
      uint16_t* out = reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(r->outData) + (i / 3) * r->outRowBytes);
      EXPECT_EQ(in[i % 3], grey[i]);
      out[i % 3] = uint16_t(32768 - in[i % 3]);
    }
  });
  for (int i = 0; i < 6; ++i) EXPECT_EQ(ReadSample(host.image, i % 3, i / 3, 0), 32768 - grey[i]);

  TestHost deep;
  deep.entry = FakePluginMain;
  deep.image = MakeHostImage(2, 1, 3, 32);
  WriteSample(deep.image, 1, 0, 2, 1.7);
  WriteSample(deep.image, 0, 0, 0, -0.2);
  gFake = [&](int16_t selector, FilterRecord* r, intptr_t*, int16_t*) {
    if (selector != filterSelectorStart) return;
    EXPECT_EQ(r->imageMode, plugInModeRGB96);
    r->inRect = r->outRect = HostRect{0, 0, 1, 2};
    r->inHiPlane = r->outHiPlane = 2;
    ASSERT_EQ(r->advanceState(), noErr);
    EXPECT_EQ(r->inRowBytes, 2 * 3 * 4);
    const float* in = static_cast<const float*>(r->inData);
    EXPECT_FLOAT_EQ(in[0], -0.2f);
    EXPECT_FLOAT_EQ(in[5], 1.7f);
    static_cast<float*>(r->outData)[4] = 2.5f;
    ClearRequests(r);
  };
  RunFilter(deep, RunOptions{false});
  EXPECT_FLOAT_EQ(float(ReadSample(deep.image, 1, 0, 1)), 2.5f);
}

TEST_F(TestHostTest, BigDocumentsUse32BitCoordinatesWhenThePluginAsks) {
  host.image = MakeHostImage(40000, 2, 1, 8);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 40000; ++x) WriteSample(host.image, x, y, 0, (x + y) % 251);
  RunStart([&](FilterRecord* r, int16_t*) {
    EXPECT_EQ(r->imageSize.h, 32767);
    ASSERT_NE(r->bigDocumentData, nullptr);
    EXPECT_EQ(r->bigDocumentData->imageSize32.h, 40000);
    EXPECT_EQ(r->bigDocumentData->filterRect32.right, 40000);
    r->bigDocumentData->PluginUsing32BitCoordinates = 1;
    r->bigDocumentData->inRect32 = VRect{0, 39990, 2, 40000};
    ASSERT_EQ(r->advanceState(), noErr);
    const uint8_t* in = static_cast<const uint8_t*>(r->inData);
    EXPECT_EQ(in[r->inRowBytes + 5], (39995 + 1) % 251);
  });
  EXPECT_TRUE(host.problems.empty());
}

TEST_F(TestHostTest, ServesTheMaskAndClipsOutputToFilterRectAndSelection) {
  for (bool autoMask : {true, false}) {
    SCOPED_TRACE(autoMask ? "host masks" : "plug-in masks");
    TestHost local;
    local.entry = FakePluginMain;
    local.image = MakeHostImage(4, 2, 1, 8);
    std::fill(local.image.pixels.begin(), local.image.pixels.end(), 10);
    SetSelectionMask(local.image, {255, 128, 0, 255, 255, 128, 0, 255});
    local.settings.filterRect = VRect{0, 0, 2, 3};  // the last column lies outside
    std::vector<uint8_t> mask;
    gFake = [&](int16_t selector, FilterRecord* r, intptr_t*, int16_t*) {
      if (selector != filterSelectorStart) return;
      EXPECT_EQ(r->haveMask, 1);
      EXPECT_EQ(r->filterCase, filterCaseFlatImageWithSelection);
      r->autoMask = autoMask ? 1 : 0;
      r->maskRect = r->outRect = HostRect{0, 0, 2, 4};
      ASSERT_EQ(r->advanceState(), noErr);
      mask.assign(static_cast<uint8_t*>(r->maskData), static_cast<uint8_t*>(r->maskData) + 2 * r->maskRowBytes);
      for (int i = 0; i < 8; ++i) static_cast<uint8_t*>(r->outData)[(i / 4) * r->outRowBytes + i % 4] = 200;
      ClearRequests(r);
    };
    RunFilter(local, RunOptions{false});
    EXPECT_EQ(mask, local.image.mask);
    const double half = autoMask ? 10 + 190 * 128 / 255.0 : 200;
    const double expected[4] = {200, half, autoMask ? 10.0 : 200.0, 10};
    for (int x = 0; x < 4; ++x) EXPECT_NEAR(ReadSample(local.image, x, 1, 0), expected[x], 0.5) << x;
  }
}

// ---- descriptors ------------------------------------------------------------------------------

TEST_F(TestHostTest, RecordsAtFinishAndReplaysAtStart) {
  host.image = MakeHostImage(2, 2, 3, 8);
  gFake = [](int16_t selector, FilterRecord* r, intptr_t*, int16_t*) {
    if (selector != filterSelectorFinish) return;
    WriteDescriptorProcs* w = r->descriptorParameters->writeDescriptorProcs;
    PIWriteDescriptor writer = w->openWriteDescriptorProc();
    w->putEnumeratedProc(writer, FourCC("GLUE"), FourCC("GLty"), FourCC("GL09"));
    w->putIntegerProc(writer, FourCC("0002"), 40);
    const double gamma = 1.5;
    w->putFloatProc(writer, FourCC("flot"), &gamma);
    w->putBooleanProc(writer, FourCC("bool"), 1);
    EXPECT_EQ(w->closeWriteDescriptorProc(writer, &r->descriptorParameters->descriptor), noErr);
    r->descriptorParameters->recordInfo = plugInDialogRequired;
  };
  RunFilter(host, RunOptions{true});
  ASSERT_TRUE(host.hasRecordedDescriptor);
  const std::vector<DescriptorItem>& items = host.recordedDescriptor;
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].key, FourCC("GLUE"));
  EXPECT_EQ(items[0].type, typeEnumerated);
  EXPECT_EQ(items[0].enumType, FourCC("GLty"));
  EXPECT_EQ(items[0].enumValue, FourCC("GL09"));
  EXPECT_EQ(items[1].type, typeInteger);
  EXPECT_EQ(items[1].integer, 40);
  EXPECT_EQ(items[2].type, typeFloat);
  EXPECT_EQ(items[2].number, 1.5);
  EXPECT_EQ(items[3].type, typeBoolean);
  EXPECT_EQ(host.recordInfo, plugInDialogRequired);
  EXPECT_TRUE(LeakedHandles(host).empty());

  host.settings.playInfo = plugInDialogDisplay;
  std::vector<DescriptorKeyID> keysSeen;
  DescriptorKeyID keys[] = {FourCC("GLUE"), FourCC("0002"), FourCC("0003"), 0};
  DescriptorEnumID glue = 0;
  int32_t hue = 0;
  OSErr wrongType = noErr, closed = noErr;
  gFake = [&](int16_t selector, FilterRecord* r, intptr_t*, int16_t*) {
    if (selector != filterSelectorStart) return;
    PIDescriptorParameters* d = r->descriptorParameters;
    EXPECT_EQ(d->playInfo, plugInDialogDisplay);
    ASSERT_NE(d->descriptor, nullptr);
    ReadDescriptorProcs* rp = d->readDescriptorProcs;
    PIReadDescriptor reader = rp->openReadDescriptorProc(d->descriptor, keys);
    ASSERT_NE(reader, nullptr);
    DescriptorKeyID key;
    DescriptorTypeID type;
    int32_t flags;
    while (rp->getKeyProc(reader, &key, &type, &flags)) {
      keysSeen.push_back(key);
      if (key == FourCC("GLUE")) {
        int32_t ignored;
        wrongType = rp->getIntegerProc(reader, &ignored);
        rp->getEnumeratedProc(reader, &glue);
      } else if (key == FourCC("0002")) {
        rp->getIntegerProc(reader, &hue);
      }
    }
    closed = rp->closeReadDescriptorProc(reader);
    r->handleProcs->disposeProc(d->descriptor);
    d->descriptor = nullptr;
  };
  RunResult run = RunFilter(host, RunOptions{false});
  EXPECT_EQ(run.result, noErr);
  EXPECT_EQ(keysSeen, (std::vector<DescriptorKeyID>{FourCC("GLUE"), FourCC("0002"), FourCC("flot"), FourCC("bool")}));
  EXPECT_EQ(glue, FourCC("GL09"));
  EXPECT_EQ(hue, 40);
  EXPECT_EQ(wrongType, paramErr);
  EXPECT_EQ(closed, paramErr);  // errors stick until close
  EXPECT_EQ(keys[0], 0u);
  EXPECT_EQ(keys[1], 0u);
  EXPECT_EQ(keys[2], FourCC("0003"));  // not supplied
  EXPECT_TRUE(host.hasRecordedDescriptor);  // nothing new recorded: the last one stays
  EXPECT_TRUE(LeakedHandles(host).empty());
  EXPECT_TRUE(host.problems.empty());
}

TEST_F(TestHostTest, ReaderRejectsHandlesThatAreNotDescriptors) {
  host.image = MakeHostImage(1, 1, 1, 8);
  RunStart([](FilterRecord* r, int16_t*) {
    Handle junk = r->handleProcs->newProc(6);
    std::memcpy(*junk, "abcdef", 6);
    DescriptorKeyID keys[] = {0};
    EXPECT_EQ(r->descriptorParameters->readDescriptorProcs->openReadDescriptorProc(junk, keys), nullptr);
    r->handleProcs->disposeProc(junk);
  });
  EXPECT_FALSE(host.problems.empty());
  EXPECT_TRUE(LeakedHandles(host).empty());
}

// ---- the record and fault injection ----------------------------------------------------------

TEST_F(TestHostTest, FillsTheRecordLikeAHost) {
  host.image = MakeHostImage(5, 3, 4, 8);  // RGB with editable transparency
  host.settings.foreground = HostRGBColor{0x80FF, 0, 0xFFFF};
  host.settings.hostSig = kHostSigPSP9;
  host.settings.hwnd = 1234;
  RunStart([](FilterRecord* r, int16_t*) {
    EXPECT_EQ(r->imageSize.v, 3);
    EXPECT_EQ(r->imageSize.h, 5);
    EXPECT_EQ(r->planes, 4);
    EXPECT_EQ(r->filterRect.right, 5);
    EXPECT_EQ(r->filterCase, filterCaseEditableTransparencyNoSelection);
    EXPECT_EQ(r->inLayerPlanes, 3);
    EXPECT_EQ(r->inTransparencyMask, 1);
    EXPECT_EQ(r->foreground.red, 0x80FF);
    EXPECT_EQ(r->foreColor[0], 0x80);
    EXPECT_EQ(r->foreColor[2], 0xFF);
    EXPECT_EQ(r->hostSig, kHostSigPSP9);
    EXPECT_EQ(r->platformData->hwnd, 1234);
    EXPECT_EQ(r->samplingSupport, 2);
    EXPECT_EQ(r->supportsPadding, 1);
    EXPECT_EQ(r->inputRate, 0x10000);
    EXPECT_EQ(r->handleProcs->handleProcsVersion, 1);
    EXPECT_EQ(r->handleProcs->numHandleProcs, 8);
    EXPECT_EQ(r->bufferProcs->bufferProcsVersion, 2);
    EXPECT_EQ(r->bufferProcs->numBufferProcs, 8);
    EXPECT_NE(r->bufferProcs->spaceProc64, nullptr);
    EXPECT_EQ(r->descriptorParameters->readDescriptorProcs->numReadDescriptorProcs, 18);
    EXPECT_EQ(r->descriptorParameters->writeDescriptorProcs->numWriteDescriptorProcs, 16);
    EXPECT_NE(r->advanceState, nullptr);
    EXPECT_NE(r->displayPixels, nullptr);
    EXPECT_EQ(r->colorServices, nullptr);
  });

  host.settings.numBufferProcs = 5;
  host.settings.bigDocument = false;
  RunStart([](FilterRecord* r, int16_t*) {
    EXPECT_EQ(r->bufferProcs->numBufferProcs, 5);
    EXPECT_EQ(r->bufferProcs->reserveProc, nullptr);
    EXPECT_EQ(r->bigDocumentData, nullptr);
  });
}

TEST_F(TestHostTest, FaultSwitchesShowInTheRecord) {
  struct FaultCase {
    const char* name;
    std::function<void(HostFaults&)> set;
    std::function<void(FilterRecord*)> check;
  };
  const FaultCase cases[] = {
      {"no handle procs", [](HostFaults& f) { f.noHandleProcs = true; },
       [](FilterRecord* r) { EXPECT_EQ(r->handleProcs, nullptr); }},
      {"handle procs version 2", [](HostFaults& f) { f.handleProcsVersion2 = true; },
       [](FilterRecord* r) { EXPECT_EQ(r->handleProcs->handleProcsVersion, 2); }},
      {"newProc fails after one", [](HostFaults& f) { f.newFailsAfter = 1; },
       [](FilterRecord* r) {
         Handle first = r->handleProcs->newProc(4);
         EXPECT_NE(first, nullptr);
         EXPECT_EQ(r->handleProcs->newProc(4), nullptr);
         r->handleProcs->disposeProc(first);
       }},
      {"newProc always fails", [](HostFaults& f) { f.newFailsAfter = 0; },
       [](FilterRecord* r) { EXPECT_EQ(r->handleProcs->newProc(4), nullptr); }},
      {"lockProc fails", [](HostFaults& f) { f.lockFails = true; },
       [](FilterRecord* r) {
         Handle h = r->handleProcs->newProc(4);
         EXPECT_EQ(r->handleProcs->lockProc(h, 1), nullptr);
         r->handleProcs->disposeProc(h);
       }},
      {"no buffer procs", [](HostFaults& f) { f.noBufferProcs = true; },
       [](FilterRecord* r) { EXPECT_EQ(r->bufferProcs, nullptr); }},
      {"buffer procs version 3", [](HostFaults& f) { f.bufferProcsVersion3 = true; },
       [](FilterRecord* r) { EXPECT_EQ(r->bufferProcs->bufferProcsVersion, 3); }},
      {"allocateProc fails", [](HostFaults& f) { f.allocateFails = true; },
       [](FilterRecord* r) {
         BufferID id = reinterpret_cast<BufferID>(1);
         EXPECT_EQ(r->bufferProcs->allocateProc(100, &id), memFullErr);
         EXPECT_EQ(id, nullptr);
       }},
      {"no advanceState", [](HostFaults& f) { f.noAdvanceState = true; },
       [](FilterRecord* r) { EXPECT_EQ(r->advanceState, nullptr); }},
      {"advanceState fails on call 2",
       [](HostFaults& f) {
         f.advanceErrorOnCall = 2;
         f.advanceError = memFullErr;
       },
       [](FilterRecord* r) {
         EXPECT_EQ(r->advanceState(), noErr);
         EXPECT_EQ(r->advanceState(), memFullErr);
       }},
      {"no descriptor parameters", [](HostFaults& f) { f.noDescriptorParameters = true; },
       [](FilterRecord* r) { EXPECT_EQ(r->descriptorParameters, nullptr); }},
      {"read table with a null procedure", [](HostFaults& f) { f.readProcsNullProc = true; },
       [](FilterRecord* r) {
         EXPECT_EQ(r->descriptorParameters->readDescriptorProcs->getPinnedUnitFloatProc, nullptr);
       }},
      {"read table counting 17", [](HostFaults& f) { f.readProcsCount17 = true; },
       [](FilterRecord* r) { EXPECT_EQ(r->descriptorParameters->readDescriptorProcs->numReadDescriptorProcs, 17); }},
      {"write table without put procedures", [](HostFaults& f) { f.writeProcsMissing = true; },
       [](FilterRecord* r) {
         WriteDescriptorProcs* w = r->descriptorParameters->writeDescriptorProcs;
         EXPECT_EQ(w->putIntegerProc, nullptr);
         EXPECT_EQ(w->putEnumeratedProc, nullptr);
         EXPECT_NE(w->openWriteDescriptorProc, nullptr);
       }},
      {"no displayPixels", [](HostFaults& f) { f.noDisplayPixels = true; },
       [](FilterRecord* r) { EXPECT_EQ(r->displayPixels, nullptr); }},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestHost local;
    local.entry = FakePluginMain;
    local.image = MakeHostImage(2, 2, 3, 8);
    c.set(local.settings.faults);
    bool checked = false;
    gFake = [&](int16_t selector, FilterRecord* r, intptr_t*, int16_t*) {
      if (selector != filterSelectorStart) return;
      c.check(r);
      checked = true;
    };
    RunFilter(local, RunOptions{false});
    EXPECT_TRUE(checked);
    EXPECT_TRUE(LeakedHandles(local).empty());
  }
}

// ---- handles and buffers ------------------------------------------------------------------------

TEST_F(TestHostTest, TracksHandlesAndReportsMisuse) {
  host.image = MakeHostImage(2, 2, 3, 8);
  Handle leaked = nullptr;
  Handle params = nullptr;
  intptr_t stateHandle = 0;
  gFake = [&](int16_t selector, FilterRecord* r, intptr_t* data, int16_t*) {
    HandleProcs* h = r->handleProcs;
    if (selector == filterSelectorParameters) {
      r->parameters = params = h->newProc(64);
      *data = stateHandle = reinterpret_cast<intptr_t>(h->newProc(128));
    } else if (selector == filterSelectorPrepare) {
      Handle kept = r->parameters;  // a copy: the packed field cannot bind a reference
      EXPECT_EQ(kept, params);      // kept by the host
      EXPECT_EQ(*data, stateHandle);
    } else if (selector == filterSelectorStart) {
      leaked = h->newProc(16);
      Ptr p = h->lockProc(leaked, 1);
      ASSERT_NE(p, nullptr);
      EXPECT_TRUE(HandleIsLocked(host, leaked));
      h->lockProc(leaked, 1);
      h->unlockProc(leaked);
      EXPECT_FALSE(HandleIsLocked(host, leaked));  // one unlock undoes every lock
      EXPECT_EQ(h->setSizeProc(leaked, 32), noErr);
      EXPECT_EQ(h->getSizeProc(leaked), 32);
      Handle twice = h->newProc(8);
      h->disposeProc(twice);
      h->disposeProc(twice);
      char notAHandle[8] = {};
      h->disposeProc(reinterpret_cast<Handle>(notAHandle));
      BufferID buffer = nullptr;
      EXPECT_EQ(r->bufferProcs->allocateProc(1000, &buffer), noErr);
      EXPECT_NE(r->bufferProcs->lockProc(buffer, 1), nullptr);
      r->bufferProcs->freeProc(buffer);
      r->bufferProcs->freeProc(buffer);
    }
  };
  RunFilter(host, RunOptions{true});
  EXPECT_EQ(host.handleStats.news, 4);
  EXPECT_EQ(host.handleStats.disposes, 1);
  EXPECT_EQ(host.handleStats.unknownDisposes, 2);
  EXPECT_EQ(host.bufferStats.frees, 1);
  EXPECT_EQ(host.bufferStats.unknownFrees, 1);
  EXPECT_EQ(LiveBufferCount(host), 0u);
  EXPECT_EQ(LeakedHandles(host), (std::vector<Handle>{leaked}));
  EXPECT_EQ(LiveHandleCount(host), 3u);
  EXPECT_EQ(host.problems.size(), 3u);
  EXPECT_EQ(host.parameters, params);
  EXPECT_EQ(host.dataSlot, stateHandle);

  ClearObservations(host);
  RunFilter(host, RunOptions{false});  // the handles live on into the next run
  EXPECT_EQ(host.selectorsCalled, (std::vector<int16_t>{2, 3, 5}));
  ForgetPluginState(host);
  EXPECT_EQ(LiveHandleCount(host), 2u);  // what is left are the two runs' leaks
  EXPECT_EQ(LeakedHandles(host).size(), 2u);
}

// ---- the run sequence ---------------------------------------------------------------------------

TEST_F(TestHostTest, RunsSelectorsInHostOrder) {
  host.image = MakeHostImage(3, 1, 1, 8);
  struct SequenceCase {
    const char* name;
    OSErr startResult;
    bool requestAfterStart;
    OSErr continueResult;
    std::vector<int16_t> selectors;
    OSErr result;
  };
  const SequenceCase cases[] = {
      {"Start fails: no Continue, no Finish", userCanceledErr, false, noErr, {2, 3}, userCanceledErr},
      {"request left after Start: one Continue", noErr, true, noErr, {2, 3, 4, 5}, noErr},
      {"Continue fails: Finish still called", noErr, true, filterBadParameters, {2, 3, 4, 5}, filterBadParameters},
  };
  for (const SequenceCase& c : cases) {
    SCOPED_TRACE(c.name);
    ClearObservations(host);
    WriteSample(host.image, 1, 0, 0, 0);
    gFake = [&](int16_t selector, FilterRecord* r, intptr_t*, int16_t* result) {
      if (selector == filterSelectorStart) {
        *result = c.startResult;
        if (c.requestAfterStart) r->outRect = HostRect{0, 1, 1, 2};
      } else if (selector == filterSelectorContinue) {
        uint8_t* out = static_cast<uint8_t*>(r->outData);
        ASSERT_NE(out, nullptr);  // served by the host before Continue
        *out = 99;
        ClearRequests(r);
        *result = c.continueResult;
      }
    };
    RunResult run = RunFilter(host, RunOptions{false});
    EXPECT_EQ(host.selectorsCalled, c.selectors);
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(ReadSample(host.image, 1, 0, 0), c.requestAfterStart ? 99 : 0);
  }
}

TEST_F(TestHostTest, AbortAfterNCallsAndTheHostsOwnCancel) {
  host.image = MakeHostImage(2, 2, 3, 8);
  host.settings.abortAfterCalls = 2;
  std::vector<int> answers;
  gFake = [&](int16_t selector, FilterRecord* r, intptr_t*, int16_t*) {
    if (selector != filterSelectorStart) return;
    for (int i = 0; i < 3; ++i) answers.push_back(r->abortProc());
    r->inRect = HostRect{0, 0, 1, 1};  // left pending: the cancelled host must not Continue
  };
  RunResult run = RunFilter(host, RunOptions{false});
  EXPECT_EQ(answers, (std::vector<int>{0, 0, 1}));
  EXPECT_TRUE(run.cancelledByHost);
  EXPECT_TRUE(run.finishCalled);
  EXPECT_EQ(run.continueCalls, 0);
  EXPECT_EQ(run.result, userCanceledErr);
}

TEST_F(TestHostTest, SingleSelectorsAboutAndUnknown) {
  host.settings.hwnd = 77;
  intptr_t hwndSeen = 0;
  int16_t unknownSeen = 0;
  gFake = [&](int16_t selector, FilterRecord* r, intptr_t* data, int16_t* result) {
    if (selector == filterSelectorAbout) {
      hwndSeen = reinterpret_cast<AboutRecord*>(r)->platformData->hwnd;
    } else {
      unknownSeen = selector;
      EXPECT_NE(r->handleProcs, nullptr);  // a full filter record
      *result = filterBadParameters;
    }
    *data += 1;
  };
  EXPECT_EQ(CallSelector(host, filterSelectorAbout), noErr);
  EXPECT_EQ(CallSelector(host, 6), filterBadParameters);
  EndRun(host);
  EXPECT_EQ(hwndSeen, 77);
  EXPECT_EQ(unknownSeen, 6);
  EXPECT_EQ(host.dataSlot, 2);
}

// ---- display and progress ---------------------------------------------------------------------

TEST_F(TestHostTest, CapturesDisplayedPixelsAndProgress) {
  host.image = MakeHostImage(2, 2, 3, 8);
  OSErr outside = noErr;
  RunStart([&](FilterRecord* r, int16_t*) {
    // Planar RGB 3 × 2: value = plane * 100 + row * 10 + column.
    uint8_t planar[18];
    for (int p = 0; p < 3; ++p)
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) planar[p * 6 + y * 3 + x] = uint8_t(p * 100 + y * 10 + x);
    PSPixelMap map{};
    map.version = 3;
    map.bounds = VRect{10, 20, 12, 23};
    map.imageMode = plugInModeRGBColor;
    map.rowBytes = 3;
    map.colBytes = 1;
    map.planeBytes = 6;
    map.baseAddr = planar;
    map.depth = 8;
    const VRect src{10, 21, 12, 23};
    EXPECT_EQ(r->displayPixels(&map, &src, 5, 6, 0), noErr);
    const VRect wide{9, 21, 12, 23};
    outside = r->displayPixels(&map, &wide, 5, 6, 0);
    r->progressProc(1, 10);
    r->progressProc(2, 10);
  });
  ASSERT_EQ(host.displays.size(), 1u);
  const DisplayCapture& shown = host.displays[0];
  EXPECT_EQ(shown.dstRow, 5);
  EXPECT_EQ(shown.dstCol, 6);
  EXPECT_EQ(shown.planes, 3);
  EXPECT_EQ(shown.pixels, (std::vector<uint8_t>{1, 101, 201, 2, 102, 202, 11, 111, 211, 12, 112, 212}));
  EXPECT_EQ(outside, paramErr);
  ASSERT_EQ(host.progress.size(), 2u);
  EXPECT_EQ(host.progress[1].done, 2);
  EXPECT_EQ(host.progress[1].total, 10);
}

// ---- loading modules --------------------------------------------------------------------------

TEST(TestHostLoader, ReportsMissingFilesAndMissingEntryPoints) {
  TestHost host;
  std::string error;
  EXPECT_FALSE(LoadModule(host, "no-such-module.8bf", &error));
  EXPECT_NE(error.find("no-such-module.8bf"), std::string::npos);
  EXPECT_NE(error.find("file not found"), std::string::npos);

  EXPECT_FALSE(LoadModule(host, NO_ENTRY_MODULE, &error));
  EXPECT_NE(error.find("no PluginMain export"), std::string::npos) << error;
  EXPECT_EQ(host.entry, nullptr);

  ASSERT_TRUE(LoadModule(host, FAKE_FILTER_MODULE, &error)) << error;
  EXPECT_EQ(CallSelector(host, filterSelectorAbout), noErr);
  EXPECT_EQ(CallSelector(host, 6), filterBadParameters);
  EXPECT_EQ(host.dataSlot, 2);
  EndRun(host);
  UnloadModule(host);
  EXPECT_EQ(host.entry, nullptr);
}

}  // namespace
