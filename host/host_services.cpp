// Host services: handles, work buffers, callbacks, colours and mode classification.
#include "host/host_services.h"

#include "host/plugin_globals.h"
#include "platform/platform.h"

namespace {
void* gInstance = nullptr;
}

void HostSetDllInstance(void* instance) { gInstance = instance; }
void* HostDllInstance() { return gInstance; }

// A table of a newer version than we know counts as absent: its layout may differ.
bool HostHandleProcsAccepted() {
  const HandleProcs* procs = gFilterRecord ? gFilterRecord->handleProcs : nullptr;
  return procs && procs->handleProcsVersion == kCurrentHandleProcsVersion &&
         procs->numHandleProcs >= 8 && procs->newProc && procs->disposeProc &&
         procs->getSizeProc && procs->setSizeProc;
}

bool HostBufferProcsAccepted() {
  const BufferProcs* procs = gFilterRecord ? gFilterRecord->bufferProcs : nullptr;
  return procs && procs->bufferProcsVersion == kCurrentBufferProcsVersion &&
         procs->numBufferProcs >= 6 && procs->allocateProc && procs->lockProc &&
         procs->unlockProc && procs->freeProc && procs->spaceProc;
}

Handle HostHandleNew(int32_t size) {
  if (!HostHandleProcsAccepted()) return nullptr;
  return gFilterRecord->handleProcs->newProc(size);
}

void* HostHandleLock(Handle handle) {
  if (!handle || !HostHandleProcsAccepted() || !gFilterRecord->handleProcs->lockProc)
    return nullptr;
  return gFilterRecord->handleProcs->lockProc(handle, 1);
}

void HostHandleUnlock(Handle handle) {
  if (!handle || !HostHandleProcsAccepted() || !gFilterRecord->handleProcs->unlockProc) return;
  gFilterRecord->handleProcs->unlockProc(handle);
}

void HostHandleDispose(Handle handle) {
  if (!handle) return;
  if (HostHandleProcsAccepted()) {
    gFilterRecord->handleProcs->disposeProc(handle);
    return;
  }
  // Without the host's table the handle is a system master pointer: free the block
  // it points at, then the master pointer itself.
  if (*handle) PlatformBlockFree(*handle);
  PlatformBlockFree(handle);
}

WorkBuffer WorkBufferAlloc(size_t bytes) {
  WorkBuffer buffer = {nullptr, nullptr};
  if (HostBufferProcsAccepted() && bytes <= size_t(INT32_MAX)) {
    const BufferProcs* procs = gFilterRecord->bufferProcs;
    BufferID id = nullptr;
    if (procs->allocateProc(int32_t(bytes), &id) == noErr && id) {
      void* memory = procs->lockProc(id, 1);
      if (memory) {
        buffer.memory = memory;
        buffer.hostId = id;
        return buffer;
      }
      procs->freeProc(id);
    }
  }
  buffer.memory = PlatformBlockAlloc(bytes);
  return buffer;
}

void WorkBufferFree(WorkBuffer* buffer) {
  if (!buffer || !buffer->memory) return;
  if (buffer->hostId) {
    // A buffer from the host goes back to the host even if its table has since gone
    // missing from the record, which would be the host's fault; then we leak it.
    if (gFilterRecord && gFilterRecord->bufferProcs) {
      gFilterRecord->bufferProcs->unlockProc(buffer->hostId);
      gFilterRecord->bufferProcs->freeProc(buffer->hostId);
    }
  } else {
    PlatformBlockFree(buffer->memory);
  }
  buffer->memory = nullptr;
  buffer->hostId = nullptr;
}

void HostProgress(int32_t done, int32_t total) {
  if (gFilterRecord && gFilterRecord->progressProc) gFilterRecord->progressProc(done + 1, total);
}

bool HostAbortRequested() {
  return gFilterRecord && gFilterRecord->abortProc && gFilterRecord->abortProc() != 0;
}

OSErr HostAdvance() {
  if (!gFilterRecord || !gFilterRecord->advanceState) return filterBadParameters;
  OSErr result = gFilterRecord->advanceState();
  if (result != noErr) SetResult(result);
  return result;
}

bool HostHasDescriptors() {
  if (!gFilterRecord) return false;
  const PIDescriptorParameters* params = gFilterRecord->descriptorParameters;
  if (!params || params->descriptorParametersVersion != kCurrentDescriptorParametersVersion)
    return false;
  const ReadDescriptorProcs* read = params->readDescriptorProcs;
  const WriteDescriptorProcs* write = params->writeDescriptorProcs;
  if (!read || !write) return false;
  if (read->readDescriptorProcsVersion != kCurrentReadDescriptorProcsVersion ||
      write->writeDescriptorProcsVersion != kCurrentWriteDescriptorProcsVersion)
    return false;
  if (read->numReadDescriptorProcs < kCurrentReadDescriptorProcsCount ||
      write->numWriteDescriptorProcs < kCurrentWriteDescriptorProcsCount)
    return false;
  return read->openReadDescriptorProc && read->closeReadDescriptorProc && read->getKeyProc &&
         read->getIntegerProc && read->getFloatProc && read->getUnitFloatProc &&
         read->getBooleanProc && read->getTextProc && read->getAliasProc &&
         read->getEnumeratedProc && read->getClassProc && read->getSimpleReferenceProc &&
         read->getObjectProc && read->getCountProc && read->getStringProc &&
         read->getPinnedIntegerProc && read->getPinnedFloatProc &&
         read->getPinnedUnitFloatProc;
}

// The 16-bit colour fields: each channel contributes its high byte, 0..255 -> 0..1.
static Colour ColourOf16Bit(const HostRGBColor& c) {
  return {float(c.red >> 8) / 255.0f, float(c.green >> 8) / 255.0f,
          float(c.blue >> 8) / 255.0f, 1.0f};
}

Colour HostForeColor() {
  if (!gFilterRecord) return {0, 0, 0, 1};
  return ColourOf16Bit(gFilterRecord->foreground);
}

Colour HostBackColor() {
  if (!gFilterRecord) return {1, 1, 1, 1};
  return ColourOf16Bit(gFilterRecord->background);
}

bool ModeIs8Bit() {
  int mode = gFilterRecord->imageMode;
  return (mode == plugInModeGrayScale || mode == plugInModeRGBColor) && gFilterRecord->depth <= 8;
}

bool ModeIs16Bit() {
  int mode = gFilterRecord->imageMode;
  return (mode == plugInModeGray16 || mode == plugInModeRGB48) && gFilterRecord->depth == 16;
}

bool ModeIsFloat() {
  int mode = gFilterRecord->imageMode;
  return mode == plugInModeRGB96 || mode == plugInModeGray32 || gFilterRecord->depth == 32;
}

bool ModeIsGray() { return gFilterRecord->planes < 3; }

bool EditableTransparency() {
  return gFilterRecord->filterCase == filterCaseEditableTransparencyNoSelection ||
         gFilterRecord->filterCase == filterCaseEditableTransparencyWithSelection;
}

int BaseModeOf(int mode) {
  switch (mode) {
    case 10:
    case 17:
      return 1;
    case 11:
    case 16:
      return 3;
    case 12:
      return 9;
    case 13:
      return 4;
    case 14:
      return 7;
    case 15:
      return 8;
    default:
      return mode;
  }
}

int DepthCode() {
  if (ModeIsFloat()) return 9;
  if (ModeIs16Bit()) return 4;
  return 3;
}

float FullRange() {
  if (ModeIsFloat()) return 1.0f;
  if (ModeIs16Bit()) return 32768.0f;
  return 255.0f;
}

int32_t ClockSeconds() { return PlatformCalendarSeconds(); }
