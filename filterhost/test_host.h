// The in-process test host: loads a filter module (or takes an entry point directly)
// and drives it over an in-memory image the way a paint program does.
//
// One active host at a time: the procedures handed to the plug-in are plain C function
// pointers without a context argument, so the host that is inside a plug-in call is
// kept in a module global for the length of that call. Several TestHost objects may
// exist, but only one may be calling its plug-in at any moment, and only from one
// thread. Every callback tolerates being called with no active host (it then fails).
//
// Typical use:
//   TestHost host;
//   host.image = MakeHostImage(64, 48, 3, 8);
//   std::string error;
//   if (!LoadModule(host, path, &error)) ...;       // or host.entry = SomePluginMain;
//   RunResult run = RunFilter(host, {true});         // Parameters, Prepare, Start, ..., Finish
//   ... inspect host.image, host.recordedDescriptor, host.displays, LeakedHandles(host)
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filterhost/host_descriptors.h"
#include "filterhost/host_image.h"
#include "host/host_abi.h"

// Faults the host can be told to have; set before a run (BeginRun/RunFilter) takes them.
struct HostFaults {
  bool noHandleProcs = false;
  bool handleProcsVersion2 = false;  // table of a newer version than plug-ins accept
  int32_t newFailsAfter = -1;        // newProc fails once this many have succeeded (0: all)
  bool lockFails = false;            // handle lockProc returns null
  bool noBufferProcs = false;
  bool bufferProcsVersion3 = false;
  bool allocateFails = false;        // buffer allocateProc / allocateProc64 fail
  bool noAdvanceState = false;
  int32_t advanceErrorOnCall = 0;    // the N-th advanceState call (1-based) fails; 0 never
  OSErr advanceError = userCanceledErr;
  bool noDescriptorParameters = false;
  bool readProcsNullProc = false;    // getPinnedUnitFloatProc missing from the read table
  bool readProcsCount17 = false;     // read table claims 17 procedures
  bool writeProcsMissing = false;    // every put procedure of the write table missing
  bool noDisplayPixels = false;
};

struct HostSettings {
  OSType hostSig = FourCC("8BIM");
  int32_t maxSpace = 256 << 20;
  int32_t bufferSpace = 128 << 20;
  bool bigDocument = true;            // offer bigDocumentData with 32-bit coordinates
  int16_t numHandleProcs = 8;
  int16_t numBufferProcs = 8;         // 5 (older hosts) or 8
  char samplingSupport = 2;           // 0 none (rates ignored), 1 integral (rounded down), 2 fractional
  bool supportsPadding = true;
  VRect filterRect{0, 0, 0, 0};       // empty: the whole image
  VPoint floatCoord{0, 0};
  HostRGBColor foreground{0, 0, 0};
  HostRGBColor background{0xFFFF, 0xFFFF, 0xFFFF};
  intptr_t hwnd = 0;                  // platformData->hwnd
  int32_t abortAfterCalls = -1;       // abortProc answers true from call N+1 on; -1 never
  int16_t playInfo = plugInDialogDontDisplay;
  bool replayDescriptor = true;       // attach the last recorded descriptor at each run
  int32_t extraRowBytes = 0;          // slack after each row of inData/outData/maskData
  int32_t maxContinueCalls = 100000;  // guard against plug-ins that never clear their rects
  // Told of every progress report; asked at every abort check (true = the user cancels).
  // Either may be null; both get observerContext.
  void (*progressObserver)(void* context, int32_t done, int32_t total) = nullptr;
  bool (*abortObserver)(void* context) = nullptr;
  void* observerContext = nullptr;
  HostFaults faults;
};

struct ProgressCall {
  int32_t done;
  int32_t total;
};

// What one displayPixels call showed: the pixel map's header and a compact copy of the
// pixels of srcRect (interleaved, `planes` samples per pixel, depth / 8 bytes each).
struct DisplayCapture {
  int32_t version = 0;
  VRect bounds{};
  int32_t imageMode = 0;
  int16_t depth = 8;  // from the map when version >= 3, else 8
  int32_t rowBytes = 0, colBytes = 0, planeBytes = 0;
  bool hasMasks = false;
  VRect srcRect{};
  int32_t dstRow = 0, dstCol = 0;
  intptr_t platformContext = 0;
  int32_t planes = 0;
  std::vector<uint8_t> pixels;
};

struct HandleStats {
  int32_t news = 0;         // successful newProc calls
  int32_t failedNews = 0;
  int32_t disposes = 0;     // successful disposeProc / disposeRegularHandleProc calls
  int32_t unknownDisposes = 0;  // disposing a handle that is not live (unknown or disposed)
  int32_t locks = 0, failedLocks = 0, unlocks = 0, setSizes = 0;
};

struct BufferStats {
  int32_t allocations = 0, failedAllocations = 0, frees = 0, unknownFrees = 0;
};

struct RunOptions {
  bool callParameters = true;  // the dialog is wanted: Parameters before Prepare
};

// Results of each selector of a run; `result` is the first non-zero of them.
struct RunResult {
  OSErr parameters = 0, prepare = 0, start = 0, continueResult = 0, finish = 0;
  bool parametersCalled = false, startCalled = false, finishCalled = false;
  bool cancelledByHost = false;  // the host's own cancel state stopped the Continue loop
  int32_t continueCalls = 0;
  OSErr result = 0;
};

struct TestHostState;  // procedure tables, handle and buffer tables, the record

struct TestHost {
  HostSettings settings;
  HostImage image;
  PluginEntryProc entry = nullptr;  // set by LoadModule, or directly to a linked function

  // Kept from run to run, as hosts keep them for a filter.
  intptr_t dataSlot = 0;
  Handle parameters = nullptr;
  bool hasRecordedDescriptor = false;
  std::vector<DescriptorItem> recordedDescriptor;  // last descriptor taken after Finish
  int16_t recordInfo = 0;                          // the plug-in's recordInfo at that Finish

  // Observations; ClearObservations resets them.
  std::vector<int16_t> selectorsCalled;
  std::vector<ProgressCall> progress;
  std::vector<DisplayCapture> displays;
  int32_t abortCalls = 0;
  int32_t advanceCalls = 0;
  HandleStats handleStats;
  BufferStats bufferStats;
  std::vector<std::string> problems;  // misuse the host noticed, one line each
  std::string errorString;            // the plug-in's errorString after errReportString

  std::unique_ptr<TestHostState> state;

  TestHost();
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;
};

// Loads `path` (a .so natively, a .8bf/.dll on Windows) and looks up PluginMain.
// On failure returns false with a message naming the path and the reason
// ("file not found", "cannot load", "no PluginMain export").
bool LoadModule(TestHost& host, const std::string& path, std::string* error);
void UnloadModule(TestHost& host);

// Starts a run: a fresh zero-filled filter record of the newest size, filled from the
// settings and the image, with the last recorded descriptor attached (when replaying).
void BeginRun(TestHost& host);
// Calls one selector the way a host does (result preset to 0). About (0) gets an
// AboutRecord; every other selector, known or not, gets the run's filter record (a run
// is begun if none is open). After Start and Continue the output is taken back into the
// image; after Finish the recorded descriptor is taken.
OSErr CallSelector(TestHost& host, int16_t selector);
// Ends a run: takes the last output back, drops the region buffers, disposes a
// descriptor the plug-in left attached, and reports reader or writer sessions left open.
void EndRun(TestHost& host);
// A whole run: [Parameters], Prepare, Start, Continue while any requested rectangle is
// non-empty (stopping on an error or the host's cancel state), Finish only when Start
// returned 0. Stops after a failing Parameters or Prepare.
RunResult RunFilter(TestHost& host, const RunOptions& options);

// The record of the current (or last) run; null before the first.
FilterRecord* CurrentRecord(TestHost& host);

// Makes `host` the active host for the scope's length, as CallSelector does around a
// plug-in call, so that a program linking the plug-in's code can call its functions
// directly (a preview render, say) with the host's procedures answering. Restores the
// previously active host at the end.
struct HostCallScope {
  explicit HostCallScope(TestHost& host);
  ~HostCallScope();
  HostCallScope(const HostCallScope&) = delete;
  HostCallScope& operator=(const HostCallScope&) = delete;
  TestHost* previous;
};

size_t LiveHandleCount(const TestHost& host);
// Live handles other than the ones the host keeps for the plug-in (parameters, the
// handle in the data slot, the descriptor attached to the record).
std::vector<Handle> LeakedHandles(const TestHost& host);
bool HandleIsLocked(const TestHost& host, Handle handle);
// The size of a live handle; -1 for anything else.
int32_t HandleSize(const TestHost& host, Handle handle);
size_t LiveBufferCount(const TestHost& host);

// Disposes the parameters handle and the data-slot handle, as a host forgetting the filter.
void ForgetPluginState(TestHost& host);
void ClearObservations(TestHost& host);
