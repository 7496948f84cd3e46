// The thin layer through which the rest of the plug-in reaches the host: handles and
// work buffers from the host's memory services (with a system-memory fallback),
// acceptance tests for the optional procedure tables, progress, abort and
// advanceState, the foreground and background colours, the image-mode
// classification and a clock. All of it reads the current filter record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/host_abi.h"

struct Colour {
  float red, green, blue, alpha;
};

// A block of working memory: from the host's buffer procedures when it offers them,
// else zero-filled system memory (hostId 0). The id is pointer-sized because 64-bit
// hosts hand out real addresses as buffer ids.
struct WorkBuffer {
  void* memory;
  BufferID hostId;
};

// Module instance, captured by the library's attach routine.
void HostSetDllInstance(void* instance);
void* HostDllInstance();

bool HostHandleProcsAccepted();
bool HostBufferProcsAccepted();

Handle HostHandleNew(int32_t size);
void* HostHandleLock(Handle handle);
void HostHandleUnlock(Handle handle);
void HostHandleDispose(Handle handle);

// Null only when the system allocation fails too.
WorkBuffer WorkBufferAlloc(size_t bytes);
void WorkBufferFree(WorkBuffer* buffer);  // clears the buffer; a second free does nothing

void HostProgress(int32_t done, int32_t total);
bool HostAbortRequested();
OSErr HostAdvance();  // also copies a non-zero result into the plug-in's result
bool HostHasDescriptors();

Colour HostForeColor();
Colour HostBackColor();

bool ModeIs8Bit();
bool ModeIs16Bit();
bool ModeIsFloat();
bool ModeIsGray();
bool EditableTransparency();
int BaseModeOf(int mode);
int DepthCode();      // 9 float, 4 16-bit, 3 otherwise
float FullRange();    // 255, 32768 or 1.0

int32_t ClockSeconds();
