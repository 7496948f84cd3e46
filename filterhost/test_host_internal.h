// Private state of the test host, shared by its source files (not for tests).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "filterhost/test_host.h"

struct LoadedModule;

// A host handle: the master pointer is the first member, so the Handle given to the
// plug-in (char**) is the address of `data`. Disposed blocks stay in the table (dead)
// until the host goes away, so a second dispose is recognised instead of aliasing a
// newer handle at the same address.
struct TrackedHandle {
  char* data = nullptr;
  int32_t size = 0;
  bool locked = false;
  bool live = true;
  ~TrackedHandle();
};

struct TrackedBuffer {
  std::vector<char> bytes;
  bool locked = false;
  bool live = true;
};

struct ReadSession {
  std::vector<DescriptorItem> items;
  size_t next = 0;
  const DescriptorItem* current = nullptr;
  DescriptorKeyID* keyArray = nullptr;
  std::vector<DescriptorKeyID> expectedKeys;  // copied at open: cleared entries end the array
  std::vector<bool> delivered;
  OSErr error = noErr;
};

struct WriteSession {
  std::vector<DescriptorItem> items;
};

struct TestHostState {
  std::unique_ptr<FilterRecord> record;
  BigDocumentStruct bigDocument{};
  PlatformData platformData{};
  HandleProcs handleProcs{};
  BufferProcs bufferProcs{};
  PIDescriptorParameters descriptorParameters{};
  ReadDescriptorProcs readProcs{};
  WriteDescriptorProcs writeProcs{};
  unsigned char errorString[256] = {};
  AboutRecord about{};

  std::map<Handle, std::unique_ptr<TrackedHandle>> handles;
  std::map<void*, std::unique_ptr<TrackedBuffer>> buffers;
  std::vector<std::unique_ptr<ReadSession>> readSessions;
  std::vector<std::unique_ptr<WriteSession>> writeSessions;

  // The region exchange: buffers handed out by the last advanceState and the output
  // request they answer, to be taken back into the image.
  std::vector<uint8_t> inBuffer, outBuffer, maskBuffer;
  bool outPending = false;
  VRect servedOutRect{};
  int16_t servedOutLo = 0, servedOutHi = 0;
  int32_t servedOutRowBytes = 0;
  bool advanceFailed = false;

  LoadedModule* module = nullptr;
  bool runOpen = false;
};

// The host inside a plug-in call, or null.
TestHost* ActiveHost();
void ReportProblem(TestHost& host, const std::string& text);

// Handles made by the host itself (descriptors, text) are not counted as plug-in calls.
Handle NewTrackedHandle(TestHost& host, int32_t size);
TrackedHandle* FindLiveHandle(TestHost& host, Handle handle);
void DisposeTrackedHandle(TestHost& host, Handle handle);

// host_descriptors.cpp: the procedure tables and the store's life cycle.
void FillDescriptorProcs(ReadDescriptorProcs* read, WriteDescriptorProcs* write,
                         const HostFaults& faults);
Handle MakeDescriptorHandle(TestHost& host, const std::vector<DescriptorItem>& items);
bool ReadDescriptorHandle(TestHost& host, Handle handle, std::vector<DescriptorItem>* items);
void CloseDescriptorSessions(TestHost& host);

// Callbacks are C entry points for the plug-in: nothing may be thrown through them.
// Runs `body` and turns any exception into `fallback`.
template <typename T, typename Body>
T GuardedCall(T fallback, Body body) {
  try {
    return body();
  } catch (...) {
    return fallback;
  }
}
