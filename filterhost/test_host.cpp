// The in-process test host: the filter record, the host's procedures, and the run driver.
#include "filterhost/test_host.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "filterhost/module_loader.h"
#include "filterhost/test_host_internal.h"

namespace {

// The host inside a plug-in call (see test_host.h: one active host at a time).
TestHost* gActiveHost = nullptr;

constexpr int32_t kMaxHandleBytes = 1 << 30;
constexpr OSErr kErrReportString = -30904;  // the plug-in filled errorString itself
constexpr int64_t kMaxBufferBytes = int64_t(1) << 30;
constexpr int64_t kMaxDisplayBytes = int64_t(1) << 28;

int16_t Clamp16(int32_t v) {
  return int16_t(std::min<int32_t>(std::max<int32_t>(v, -32768), 32767));
}

HostRect NarrowRect(const VRect& r) {
  return HostRect{Clamp16(r.top), Clamp16(r.left), Clamp16(r.bottom), Clamp16(r.right)};
}

VRect WidenRect(const HostRect& r) {
  return VRect{r.top, r.left, r.bottom, r.right};
}

bool Uses32BitCoordinates(const FilterRecord& r) {
  return r.bigDocumentData && r.bigDocumentData->PluginUsing32BitCoordinates != 0;
}

VRect RequestedInRect(const FilterRecord& r) {
  return Uses32BitCoordinates(r) ? r.bigDocumentData->inRect32 : WidenRect(r.inRect);
}
VRect RequestedOutRect(const FilterRecord& r) {
  return Uses32BitCoordinates(r) ? r.bigDocumentData->outRect32 : WidenRect(r.outRect);
}
VRect RequestedMaskRect(const FilterRecord& r) {
  return Uses32BitCoordinates(r) ? r.bigDocumentData->maskRect32 : WidenRect(r.maskRect);
}

VRect FilterRectOf(const TestHost& host) {
  const VRect whole{0, 0, host.image.height, host.image.width};
  return RectIsEmpty(host.settings.filterRect) ? whole : IntersectRects(host.settings.filterRect, whole);
}

// The rate the host honours: none (always 1), integral (rounded down, at least 1), or as asked.
Fixed EffectiveRate(const TestHost& host, Fixed rate) {
  switch (host.settings.samplingSupport) {
    case 0:
      return 0x10000;
    case 1:
      return std::max<Fixed>(1, rate >> 16) << 16;
    default:
      return rate;
  }
}

bool HostCancelState(const TestHost& host) {
  if (host.settings.abortObserver && host.settings.abortObserver(host.settings.observerContext))
    return true;
  return host.settings.abortAfterCalls >= 0 && host.abortCalls > host.settings.abortAfterCalls;
}

// ---- region exchange ---------------------------------------------------------------------

void ClearRegionPointers(TestHost& host) {
  TestHostState& s = *host.state;
  s.inBuffer.clear();
  s.outBuffer.clear();
  s.maskBuffer.clear();
  s.outPending = false;
  if (FilterRecord* r = s.record.get()) {
    r->inData = nullptr;
    r->outData = nullptr;
    r->maskData = nullptr;
    r->inRowBytes = r->outRowBytes = r->maskRowBytes = 0;
  }
}

// Takes what the plug-in wrote into the last output buffer back into the image. A plug-in
// that asks for a tile twice, once to read it and once to write it, hands back the first
// buffer untouched at the second request; StoreImageRegion compares such rows and leaves
// them alone, so taking back the output before every request costs little.
void CommitOutput(TestHost& host) {
  TestHostState& s = *host.state;
  if (!s.outPending || !s.record) return;
  StoreImageRegion(host.image, s.servedOutRect, s.servedOutLo, s.servedOutHi, s.outBuffer.data(),
                   s.servedOutRowBytes, FilterRectOf(host), s.record->autoMask != 0);
  s.outPending = false;
}

std::string RectText(const VRect& r) {
  return "(" + std::to_string(r.top) + "," + std::to_string(r.left) + ")-(" + std::to_string(r.bottom) +
         "," + std::to_string(r.right) + ")";
}

// Serves the rectangles the record asks for; the previous output goes back first.
OSErr ServeRequests(TestHost& host) {
  TestHostState& s = *host.state;
  FilterRecord& r = *s.record;
  CommitOutput(host);
  ClearRegionPointers(host);
  const int32_t sampleBytes = SampleBytes(host.image.depth);

  RegionRequest in;
  in.rect = RequestedInRect(r);
  in.loPlane = r.inLoPlane;
  in.hiPlane = r.inHiPlane;
  in.rate = EffectiveRate(host, r.inputRate);
  in.padding = r.inputPadding;
  in.extraRowBytes = host.settings.extraRowBytes;
  int32_t inRowBytes = 0;
  OSErr err = CopyImageRegion(host.image, in, &s.inBuffer, &inRowBytes);
  if (err != noErr) {
    ReportProblem(host, "input request " + RectText(in.rect) + " planes " + std::to_string(in.loPlane) +
                            ".." + std::to_string(in.hiPlane) + " refused: " + std::to_string(err));
    ClearRegionPointers(host);
    return err;
  }

  RegionRequest out;
  out.rect = RequestedOutRect(r);
  out.loPlane = r.outLoPlane;
  out.hiPlane = r.outHiPlane;
  out.padding = r.outputPadding;
  out.extraRowBytes = host.settings.extraRowBytes;
  int32_t outRowBytes = 0;
  err = CopyImageRegion(host.image, out, &s.outBuffer, &outRowBytes);
  if (err != noErr) {
    ReportProblem(host, "output request " + RectText(out.rect) + " refused: " + std::to_string(err));
    ClearRegionPointers(host);
    return err;
  }

  RegionRequest mask;
  mask.rect = RequestedMaskRect(r);
  mask.rate = EffectiveRate(host, r.maskRate);
  mask.padding = r.maskPadding;
  mask.extraRowBytes = host.settings.extraRowBytes;
  int32_t maskRowBytes = 0;
  if (!host.image.mask.empty()) {
    err = CopyMaskRegion(host.image, mask, &s.maskBuffer, &maskRowBytes);
    if (err != noErr) {
      ReportProblem(host, "mask request " + RectText(mask.rect) + " refused: " + std::to_string(err));
      ClearRegionPointers(host);
      return err;
    }
  }

  r.inData = s.inBuffer.empty() ? nullptr : s.inBuffer.data();
  r.inRowBytes = inRowBytes;
  r.inColumnBytes = (in.hiPlane - in.loPlane + 1) * sampleBytes;
  r.inPlaneBytes = sampleBytes;
  r.outData = s.outBuffer.empty() ? nullptr : s.outBuffer.data();
  r.outRowBytes = outRowBytes;
  r.outColumnBytes = (out.hiPlane - out.loPlane + 1) * sampleBytes;
  r.outPlaneBytes = sampleBytes;
  r.maskData = s.maskBuffer.empty() ? nullptr : s.maskBuffer.data();
  r.maskRowBytes = maskRowBytes;

  s.outPending = !s.outBuffer.empty();
  s.servedOutRect = out.rect;
  s.servedOutLo = out.loPlane;
  s.servedOutHi = out.hiPlane;
  s.servedOutRowBytes = outRowBytes;
  return noErr;
}

bool RequestPending(const TestHost& host) {
  const FilterRecord* r = host.state->record.get();
  return r && (!RectIsEmpty(RequestedInRect(*r)) || !RectIsEmpty(RequestedOutRect(*r)) ||
               !RectIsEmpty(RequestedMaskRect(*r)));
}

// ---- direct callbacks ------------------------------------------------------------------------

HostBoolean HOSTCALL TestAbort() {
  TestHost* host = ActiveHost();
  if (!host) return 0;
  ++host->abortCalls;
  return HostCancelState(*host) ? 1 : 0;
}

void HOSTCALL ReportProgress(int32_t done, int32_t total) {
  TestHost* host = ActiveHost();
  if (!host) return;
  GuardedCall(0, [&] {
    host->progress.push_back(ProgressCall{done, total});
    if (host->settings.progressObserver)
      host->settings.progressObserver(host->settings.observerContext, done, total);
    return 0;
  });
}

void HOSTCALL ProcessEvent(void*) {}

OSErr HOSTCALL AdvanceState() {
  TestHost* host = ActiveHost();
  if (!host || !host->state->record) return paramErr;
  return GuardedCall<OSErr>(memFullErr, [&]() -> OSErr {
    TestHostState& s = *host->state;
    ++host->advanceCalls;
    if (s.advanceFailed) ReportProblem(*host, "advanceState called again after it failed");
    if (host->settings.faults.advanceErrorOnCall == host->advanceCalls) {
      CommitOutput(*host);
      ClearRegionPointers(*host);
      s.advanceFailed = true;
      return host->settings.faults.advanceError;
    }
    const OSErr err = ServeRequests(*host);
    if (err != noErr) s.advanceFailed = true;
    return err;
  });
}

int32_t PlanesForMode(int32_t mode) {
  switch (mode) {
    case plugInModeBitmap:
    case plugInModeGrayScale:
    case plugInModeIndexedColor:
    case plugInModeDuotone:
    case plugInModeGray16:
    case plugInModeDuotone16:
    case plugInModeGray32:
      return 1;
    case plugInModeCMYKColor:
    case plugInModeCMYK64:
      return 4;
    default:
      return 3;
  }
}

OSErr HOSTCALL DisplayPixels(const PSPixelMap* source, const VRect* srcRect, int32_t dstRow,
                             int32_t dstCol, intptr_t platformContext) {
  TestHost* host = ActiveHost();
  if (!host) return paramErr;
  return GuardedCall<OSErr>(memFullErr, [&]() -> OSErr {
    if (!source || !srcRect || !source->baseAddr) {
      ReportProblem(*host, "displayPixels given a null pixel map, rectangle or base address");
      return paramErr;
    }
    DisplayCapture capture;
    capture.version = source->version;
    capture.bounds = source->bounds;
    capture.imageMode = source->imageMode;
    capture.depth = source->version >= 3 ? source->depth : 8;
    capture.rowBytes = source->rowBytes;
    capture.colBytes = source->colBytes;
    capture.planeBytes = source->planeBytes;
    capture.hasMasks = source->version >= 1 && source->masks != nullptr;
    capture.srcRect = *srcRect;
    capture.dstRow = dstRow;
    capture.dstCol = dstCol;
    capture.platformContext = platformContext;
    capture.planes = PlanesForMode(source->imageMode);
    const VRect& b = source->bounds;
    const VRect& r = *srcRect;
    if (RectIsEmpty(r) || r.top < b.top || r.left < b.left || r.bottom > b.bottom || r.right > b.right) {
      ReportProblem(*host, "displayPixels rectangle " + RectText(r) + " outside the map bounds " + RectText(b));
      return paramErr;
    }
    const int32_t sampleBytes = SampleBytes(capture.depth);
    const int64_t w = int64_t(r.right) - r.left, h = int64_t(r.bottom) - r.top;
    if (w * h * capture.planes * sampleBytes > kMaxDisplayBytes) return memFullErr;
    capture.pixels.resize(size_t(w * h * capture.planes * sampleBytes));
    uint8_t* out = capture.pixels.data();
    const uint8_t* base = static_cast<const uint8_t*>(source->baseAddr);
    for (int32_t y = r.top; y < r.bottom; ++y) {
      for (int32_t x = r.left; x < r.right; ++x) {
        for (int32_t p = 0; p < capture.planes; ++p, out += sampleBytes) {
          const uint8_t* at = base + int64_t(y - b.top) * source->rowBytes +
                              int64_t(x - b.left) * source->colBytes + int64_t(p) * source->planeBytes;
          std::memcpy(out, at, size_t(sampleBytes));
        }
      }
    }
    host->displays.push_back(std::move(capture));
    return noErr;
  });
}

// ---- handle procedures -------------------------------------------------------------------------

Handle HOSTCALL NewHandleProc(int32_t size) {
  TestHost* host = ActiveHost();
  if (!host) return nullptr;
  const int32_t limit = host->settings.faults.newFailsAfter;
  Handle h = nullptr;
  if (limit < 0 || host->handleStats.news < limit) h = NewTrackedHandle(*host, size);
  if (h) {
    ++host->handleStats.news;
  } else {
    ++host->handleStats.failedNews;
  }
  return h;
}

TrackedHandle* KnownHandle(TestHost& host, Handle h, const char* procName) {
  TrackedHandle* block = FindLiveHandle(host, h);
  if (!block) ReportProblem(host, std::string(procName) + " given an unknown or disposed handle");
  return block;
}

void DisposeFromPlugin(Handle h, const char* procName) {
  TestHost* host = ActiveHost();
  if (!host || !h) return;  // disposing null does nothing, as on every host
  if (!FindLiveHandle(*host, h)) {
    ++host->handleStats.unknownDisposes;
    ReportProblem(*host, std::string(procName) + " given an unknown or already disposed handle");
    return;
  }
  DisposeTrackedHandle(*host, h);
  ++host->handleStats.disposes;
}

void HOSTCALL DisposeHandleProc(Handle h) {
  DisposeFromPlugin(h, "disposeProc");
}

void HOSTCALL DisposeRegularHandleProc(Handle h) {
  DisposeFromPlugin(h, "disposeRegularHandleProc");
}

int32_t HOSTCALL GetHandleSizeProc(Handle h) {
  TestHost* host = ActiveHost();
  if (!host) return 0;
  TrackedHandle* block = KnownHandle(*host, h, "getSizeProc");
  return block ? block->size : 0;
}

OSErr HOSTCALL SetHandleSizeProc(Handle h, int32_t newSize) {
  TestHost* host = ActiveHost();
  if (!host) return nilHandleErr;
  TrackedHandle* block = KnownHandle(*host, h, "setSizeProc");
  if (!block) return nilHandleErr;
  if (newSize < 0 || newSize > kMaxHandleBytes) return memFullErr;
  char* data = static_cast<char*>(std::realloc(block->data, size_t(std::max(newSize, 1))));
  if (!data) return memFullErr;
  if (newSize > block->size) std::memset(data + block->size, 0, size_t(newSize - block->size));
  block->data = data;
  block->size = newSize;
  ++host->handleStats.setSizes;
  return noErr;
}

Ptr HOSTCALL LockHandleProc(Handle h, HostBoolean) {
  TestHost* host = ActiveHost();
  if (!host) return nullptr;
  if (host->settings.faults.lockFails) {
    ++host->handleStats.failedLocks;
    return nullptr;
  }
  TrackedHandle* block = KnownHandle(*host, h, "lockProc");
  if (!block) {
    ++host->handleStats.failedLocks;
    return nullptr;
  }
  block->locked = true;  // not counted: one unlock undoes any number of locks
  ++host->handleStats.locks;
  return block->data;
}

void HOSTCALL UnlockHandleProc(Handle h) {
  TestHost* host = ActiveHost();
  if (!host) return;
  TrackedHandle* block = KnownHandle(*host, h, "unlockProc");
  if (!block) return;
  block->locked = false;
  ++host->handleStats.unlocks;
}

void HOSTCALL RecoverSpaceProc(int32_t) {}

// ---- buffer procedures -------------------------------------------------------------------------

OSErr AllocateTrackedBuffer(int64_t size, BufferID* bufferID) {
  TestHost* host = ActiveHost();
  if (!host || !bufferID) return paramErr;
  *bufferID = nullptr;
  if (host->settings.faults.allocateFails || size < 0 || size > kMaxBufferBytes) {
    ++host->bufferStats.failedAllocations;
    return memFullErr;
  }
  return GuardedCall<OSErr>(memFullErr, [&]() -> OSErr {
    auto buffer = std::make_unique<TrackedBuffer>();
    buffer->bytes.assign(size_t(std::max<int64_t>(size, 1)), 0);
    void* id = buffer.get();
    host->state->buffers[id] = std::move(buffer);
    *bufferID = id;
    ++host->bufferStats.allocations;
    return noErr;
  });
}

OSErr HOSTCALL AllocateBufferProc(int32_t size, BufferID* bufferID) {
  return AllocateTrackedBuffer(size, bufferID);
}

OSErr HOSTCALL AllocateBuffer64Proc(int64_t size, BufferID* bufferID) {
  return AllocateTrackedBuffer(size, bufferID);
}

TrackedBuffer* KnownBuffer(TestHost& host, BufferID id, const char* procName) {
  auto it = host.state->buffers.find(id);
  if (it == host.state->buffers.end() || !it->second->live) {
    ReportProblem(host, std::string(procName) + " given an unknown or freed buffer");
    return nullptr;
  }
  return it->second.get();
}

Ptr HOSTCALL LockBufferProc(BufferID id, HostBoolean) {
  TestHost* host = ActiveHost();
  if (!host) return nullptr;
  TrackedBuffer* buffer = KnownBuffer(*host, id, "buffer lockProc");
  if (!buffer) return nullptr;
  buffer->locked = true;
  return buffer->bytes.data();
}

void HOSTCALL UnlockBufferProc(BufferID id) {
  TestHost* host = ActiveHost();
  if (!host) return;
  if (TrackedBuffer* buffer = KnownBuffer(*host, id, "buffer unlockProc")) buffer->locked = false;
}

void HOSTCALL FreeBufferProc(BufferID id) {
  TestHost* host = ActiveHost();
  if (!host) return;
  TrackedBuffer* buffer = KnownBuffer(*host, id, "buffer freeProc");
  if (!buffer) {
    ++host->bufferStats.unknownFrees;
    return;
  }
  // The block stays in the table, dead, so a second free is recognised.
  std::vector<char>().swap(buffer->bytes);
  buffer->live = false;
  buffer->locked = false;
  ++host->bufferStats.frees;
}

int32_t HOSTCALL BufferSpaceProc() {
  TestHost* host = ActiveHost();
  return host ? host->settings.bufferSpace : 0;
}

OSErr HOSTCALL ReserveBufferSpaceProc(int32_t) {
  return noErr;
}

int64_t HOSTCALL BufferSpace64Proc() {
  TestHost* host = ActiveHost();
  return host ? host->settings.bufferSpace : 0;
}

// ---- the record ----------------------------------------------------------------------------------

void ColourBytes(const HostRGBColor& c, bool grey, FilterColor out) {
  std::memset(out, 0, 4);
  if (grey) {
    out[0] = uint8_t(((c.red * 299 + c.green * 587 + c.blue * 114) / 1000) >> 8);
  } else {
    out[0] = uint8_t(c.red >> 8);
    out[1] = uint8_t(c.green >> 8);
    out[2] = uint8_t(c.blue >> 8);
  }
}

void FillProcTables(TestHost& host) {
  TestHostState& s = *host.state;
  const HostFaults& faults = host.settings.faults;

  s.handleProcs = HandleProcs{};
  s.handleProcs.handleProcsVersion = faults.handleProcsVersion2 ? 2 : kCurrentHandleProcsVersion;
  s.handleProcs.numHandleProcs = host.settings.numHandleProcs;
  s.handleProcs.newProc = NewHandleProc;
  s.handleProcs.disposeProc = DisposeHandleProc;
  s.handleProcs.getSizeProc = GetHandleSizeProc;
  s.handleProcs.setSizeProc = SetHandleSizeProc;
  s.handleProcs.lockProc = LockHandleProc;
  s.handleProcs.unlockProc = UnlockHandleProc;
  s.handleProcs.recoverSpaceProc = RecoverSpaceProc;
  s.handleProcs.disposeRegularHandleProc = DisposeRegularHandleProc;

  s.bufferProcs = BufferProcs{};
  s.bufferProcs.bufferProcsVersion = faults.bufferProcsVersion3 ? 3 : kCurrentBufferProcsVersion;
  s.bufferProcs.numBufferProcs = host.settings.numBufferProcs;
  s.bufferProcs.allocateProc = AllocateBufferProc;
  s.bufferProcs.lockProc = LockBufferProc;
  s.bufferProcs.unlockProc = UnlockBufferProc;
  s.bufferProcs.freeProc = FreeBufferProc;
  s.bufferProcs.spaceProc = BufferSpaceProc;
  if (host.settings.numBufferProcs >= 8) {
    s.bufferProcs.reserveProc = ReserveBufferSpaceProc;
    s.bufferProcs.allocateProc64 = AllocateBuffer64Proc;
    s.bufferProcs.spaceProc64 = BufferSpace64Proc;
  }

  FillDescriptorProcs(&s.readProcs, &s.writeProcs, faults);
  s.descriptorParameters = PIDescriptorParameters{};
  s.descriptorParameters.descriptorParametersVersion = kCurrentDescriptorParametersVersion;
  s.descriptorParameters.playInfo = host.settings.playInfo;
  s.descriptorParameters.recordInfo = plugInDialogOptional;
  s.descriptorParameters.writeDescriptorProcs = &s.writeProcs;
  s.descriptorParameters.readDescriptorProcs = &s.readProcs;
}

void FillRecord(TestHost& host) {
  TestHostState& s = *host.state;
  const HostImage& image = host.image;
  const HostSettings& settings = host.settings;
  const HostFaults& faults = settings.faults;
  s.record.reset(new FilterRecord());  // value-initialised: every unused field is zero
  FilterRecord& r = *s.record;
  FillProcTables(host);

  const VRect filter = FilterRectOf(host);
  const bool grey = image.planes < 3;
  const bool transparency = HasEditableTransparency(image);

  r.abortProc = TestAbort;
  r.progressProc = ReportProgress;
  r.parameters = host.parameters;
  r.imageSize = HostPoint{Clamp16(image.height), Clamp16(image.width)};
  r.planes = image.planes;
  r.filterRect = NarrowRect(filter);
  r.background = settings.background;
  r.foreground = settings.foreground;
  r.maxSpace = settings.maxSpace;
  r.bufferSpace = settings.bufferSpace;
  r.haveMask = image.mask.empty() ? 0 : 1;
  r.autoMask = 1;
  ColourBytes(settings.background, grey, r.backColor);
  ColourBytes(settings.foreground, grey, r.foreColor);
  r.hostSig = settings.hostSig;
  r.imageMode = image.imageMode;
  r.imageHRes = r.imageVRes = 72 << 16;
  r.floatCoord = HostPoint{Clamp16(settings.floatCoord.v), Clamp16(settings.floatCoord.h)};
  r.wholeSize = r.imageSize;
  s.platformData.hwnd = settings.hwnd;
  r.platformData = &s.platformData;
  r.bufferProcs = faults.noBufferProcs ? nullptr : &s.bufferProcs;
  r.processEvent = ProcessEvent;
  r.displayPixels = faults.noDisplayPixels ? nullptr : DisplayPixels;
  r.handleProcs = faults.noHandleProcs ? nullptr : &s.handleProcs;
  r.filterCase = image.filterCase;
  r.dummyPlaneValue = -1;
  r.advanceState = faults.noAdvanceState ? nullptr : AdvanceState;
  r.supportsPadding = settings.supportsPadding ? 1 : 0;
  r.inputPadding = r.outputPadding = r.maskPadding = plugInWantsErrorOnBoundsException;
  r.samplingSupport = settings.samplingSupport;
  r.inputRate = r.maskRate = 0x10000;
  const int16_t layerPlanes = transparency ? int16_t(image.planes - 1) : 0;
  const int16_t transparencyPlanes = transparency ? 1 : 0;
  const int16_t nonLayerPlanes = transparency ? 0 : image.planes;
  r.inLayerPlanes = r.outLayerPlanes = r.absLayerPlanes = layerPlanes;
  r.inTransparencyMask = r.outTransparencyMask = r.absTransparencyMask = transparencyPlanes;
  r.inNonLayerPlanes = r.outNonLayerPlanes = r.absNonLayerPlanes = nonLayerPlanes;
  r.descriptorParameters = faults.noDescriptorParameters ? nullptr : &s.descriptorParameters;
  std::memset(s.errorString, 0, sizeof(s.errorString));
  r.errorString = s.errorString;
  r.depth = image.depth;
  if (settings.bigDocument) {
    s.bigDocument = BigDocumentStruct{};
    s.bigDocument.imageSize32 = VPoint{image.height, image.width};
    s.bigDocument.filterRect32 = filter;
    s.bigDocument.floatCoord32 = settings.floatCoord;
    s.bigDocument.wholeSize32 = VPoint{image.height, image.width};
    r.bigDocumentData = &s.bigDocument;
  }
  r.bufferSpace64 = settings.bufferSpace;
  r.maxSpace64 = settings.maxSpace;
}

// After Finish the host keeps the descriptor the plug-in left attached and disposes the handle.
void TakeRecordedDescriptor(TestHost& host) {
  TestHostState& s = *host.state;
  if (!s.record || !s.record->descriptorParameters) return;
  host.recordInfo = s.descriptorParameters.recordInfo;
  Handle d = s.descriptorParameters.descriptor;
  if (!d) return;
  std::vector<DescriptorItem> items;
  if (ReadDescriptorHandle(host, d, &items)) {
    host.recordedDescriptor = std::move(items);
    host.hasRecordedDescriptor = true;
  } else {
    ReportProblem(host, "descriptor attached after Finish is not a live descriptor handle");
  }
  if (FindLiveHandle(host, d)) DisposeTrackedHandle(host, d);
  s.descriptorParameters.descriptor = nullptr;
}

}  // namespace

// ---- shared with the other host files ---------------------------------------------------------

TrackedHandle::~TrackedHandle() {
  std::free(data);
}

TestHost* ActiveHost() {
  return gActiveHost;
}

void ReportProblem(TestHost& host, const std::string& text) {
  GuardedCall(0, [&] {
    host.problems.push_back(text);
    return 0;
  });
}

Handle NewTrackedHandle(TestHost& host, int32_t size) {
  if (size < 0 || size > kMaxHandleBytes) return nullptr;
  return GuardedCall<Handle>(nullptr, [&]() -> Handle {
    auto block = std::make_unique<TrackedHandle>();
    block->data = static_cast<char*>(std::calloc(size_t(std::max(size, 1)), 1));
    if (!block->data) return nullptr;
    block->size = size;
    Handle h = &block->data;
    host.state->handles[h] = std::move(block);
    return h;
  });
}

TrackedHandle* FindLiveHandle(TestHost& host, Handle handle) {
  auto it = host.state->handles.find(handle);
  return (it != host.state->handles.end() && it->second->live) ? it->second.get() : nullptr;
}

void DisposeTrackedHandle(TestHost& host, Handle handle) {
  TrackedHandle* block = FindLiveHandle(host, handle);
  if (!block) return;
  std::free(block->data);
  block->data = nullptr;
  block->size = 0;
  block->locked = false;
  block->live = false;
}

// ---- public interface ----------------------------------------------------------------------------

TestHost::TestHost() : state(new TestHostState) {}

TestHost::~TestHost() {
  if (gActiveHost == this) gActiveHost = nullptr;
  UnloadModule(*this);
}

bool LoadModule(TestHost& host, const std::string& path, std::string* error) {
  UnloadModule(host);
  host.state->module = OpenFilterModule(path, error);
  host.entry = FilterModuleEntry(host.state->module);
  return host.entry != nullptr;
}

void UnloadModule(TestHost& host) {
  if (!host.state->module) return;
  CloseFilterModule(host.state->module);
  host.state->module = nullptr;
  host.entry = nullptr;
}

void BeginRun(TestHost& host) {
  TestHostState& s = *host.state;
  if (s.runOpen) EndRun(host);
  FillRecord(host);
  s.advanceFailed = false;
  ClearRegionPointers(host);
  if (s.record->descriptorParameters && host.settings.replayDescriptor && host.hasRecordedDescriptor) {
    s.descriptorParameters.descriptor = MakeDescriptorHandle(host, host.recordedDescriptor);
  }
  s.runOpen = true;
}

OSErr CallSelector(TestHost& host, int16_t selector) {
  TestHostState& s = *host.state;
  if (!host.entry) {
    ReportProblem(host, "no entry point to call");
    return paramErr;
  }
  if (gActiveHost && gActiveHost != &host) {
    ReportProblem(host, "another host is inside a plug-in call");
    return paramErr;
  }
  TestHost* previous = gActiveHost;
  int16_t result = noErr;
  GuardedCall(0, [&] {
    host.selectorsCalled.push_back(selector);
    return 0;
  });
  if (selector == filterSelectorAbout) {
    s.about = AboutRecord{};
    s.platformData.hwnd = host.settings.hwnd;
    s.about.platformData = &s.platformData;
    gActiveHost = &host;
    host.entry(selector, &s.about, &host.dataSlot, &result);
    gActiveHost = previous;
    return result;
  }
  if (!s.runOpen || !s.record) BeginRun(host);
  FilterRecord& r = *s.record;
  if (selector == filterSelectorFinish) CommitOutput(host);
  r.parameters = host.parameters;
  gActiveHost = &host;
  host.entry(selector, &r, &host.dataSlot, &result);
  gActiveHost = previous;
  host.parameters = r.parameters;
  if (result == kErrReportString) {
    host.errorString.assign(reinterpret_cast<const char*>(s.errorString + 1), s.errorString[0]);
  }
  if (selector == filterSelectorStart || selector == filterSelectorContinue) CommitOutput(host);
  if (selector == filterSelectorFinish) TakeRecordedDescriptor(host);
  return result;
}

void EndRun(TestHost& host) {
  TestHostState& s = *host.state;
  if (!s.record) return;
  CommitOutput(host);
  ClearRegionPointers(host);
  if (Handle d = s.descriptorParameters.descriptor) {
    if (FindLiveHandle(host, d)) DisposeTrackedHandle(host, d);
    s.descriptorParameters.descriptor = nullptr;
  }
  CloseDescriptorSessions(host);
  s.runOpen = false;
}

RunResult RunFilter(TestHost& host, const RunOptions& options) {
  RunResult run;
  BeginRun(host);
  auto finishRun = [&]() {
    EndRun(host);
    for (OSErr e : {run.parameters, run.prepare, run.start, run.continueResult, run.finish}) {
      if (e != noErr) {
        run.result = e;
        break;
      }
    }
    if (run.result == noErr && run.cancelledByHost) run.result = userCanceledErr;
    return run;
  };
  if (options.callParameters) {
    run.parametersCalled = true;
    run.parameters = CallSelector(host, filterSelectorParameters);
    if (run.parameters != noErr) return finishRun();
  }
  run.prepare = CallSelector(host, filterSelectorPrepare);
  if (run.prepare != noErr) return finishRun();
  run.startCalled = true;
  run.start = CallSelector(host, filterSelectorStart);
  if (run.start != noErr) return finishRun();
  while (RequestPending(host)) {
    if (HostCancelState(host)) {
      run.cancelledByHost = true;
      break;
    }
    if (run.continueCalls >= host.settings.maxContinueCalls) {
      ReportProblem(host, "plug-in kept requesting regions after " + std::to_string(run.continueCalls) +
                              " Continue calls");
      break;
    }
    const OSErr served = GuardedCall<OSErr>(memFullErr, [&] { return ServeRequests(host); });
    if (served != noErr) {
      run.continueResult = served;
      break;
    }
    run.continueResult = CallSelector(host, filterSelectorContinue);
    ++run.continueCalls;
    if (run.continueResult != noErr) break;
  }
  run.finishCalled = true;
  run.finish = CallSelector(host, filterSelectorFinish);
  return finishRun();
}

FilterRecord* CurrentRecord(TestHost& host) {
  return host.state->record.get();
}

size_t LiveHandleCount(const TestHost& host) {
  size_t count = 0;
  for (const auto& entry : host.state->handles) count += entry.second->live ? 1 : 0;
  return count;
}

std::vector<Handle> LeakedHandles(const TestHost& host) {
  std::vector<Handle> leaked;
  const Handle kept[] = {host.parameters, reinterpret_cast<Handle>(host.dataSlot),
                         host.state->descriptorParameters.descriptor};
  for (const auto& entry : host.state->handles) {
    if (!entry.second->live) continue;
    if (std::find(std::begin(kept), std::end(kept), entry.first) != std::end(kept)) continue;
    leaked.push_back(entry.first);
  }
  return leaked;
}

bool HandleIsLocked(const TestHost& host, Handle handle) {
  auto it = host.state->handles.find(handle);
  return it != host.state->handles.end() && it->second->live && it->second->locked;
}

int32_t HandleSize(const TestHost& host, Handle handle) {
  auto it = host.state->handles.find(handle);
  return it != host.state->handles.end() && it->second->live ? it->second->size : -1;
}

HostCallScope::HostCallScope(TestHost& host) : previous(gActiveHost) { gActiveHost = &host; }

HostCallScope::~HostCallScope() { gActiveHost = previous; }

size_t LiveBufferCount(const TestHost& host) {
  size_t count = 0;
  for (const auto& entry : host.state->buffers) count += entry.second->live ? 1 : 0;
  return count;
}

void ForgetPluginState(TestHost& host) {
  DisposeTrackedHandle(host, host.parameters);
  DisposeTrackedHandle(host, reinterpret_cast<Handle>(host.dataSlot));
  host.parameters = nullptr;
  host.dataSlot = 0;
  if (host.state->record) host.state->record->parameters = nullptr;
}

void ClearObservations(TestHost& host) {
  host.selectorsCalled.clear();
  host.progress.clear();
  host.displays.clear();
  host.abortCalls = 0;
  host.advanceCalls = 0;
  host.handleStats = HandleStats{};
  host.bufferStats = BufferStats{};
  host.problems.clear();
  host.errorString.clear();
}
