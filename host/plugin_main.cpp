// The module's entry point: selector dispatch, the two host handles that carry the
// plug-in's state between calls, and the steps of each selector in their fixed order.
#include <cstdlib>
#include <cstring>

#include "host/host_services.h"
#include "host/image_access.h"
#include "host/plugin_globals.h"
#include "host/scripting.h"
#include "host/state_record.h"
#include "platform/platform.h"
#include "products/product_hooks.h"
#include "render/render_driver.h"
#include "settings/settings_record.h"
#include "ui/dialogs.h"

FilterRecord* gFilterRecord = nullptr;
intptr_t* gDataSlot = nullptr;
int16_t* gResult = nullptr;
void* gDllInstance = nullptr;
SettingsRecord* gSettings = nullptr;
StateRecord* gState = nullptr;

namespace {

constexpr int kMaxSpaceSide = 256;

Handle StateHandle() { return reinterpret_cast<Handle>(*gDataSlot); }

void CreateSettingsHandle() {
  Handle handle = HostHandleNew(int32_t(sizeof(SettingsRecord)));
  if (!handle) {
    SetResult(memFullErr);
    return;
  }
  gFilterRecord->parameters = handle;
}

void CreateStateHandle() {
  Handle handle = HostHandleNew(int32_t(sizeof(StateRecord)));
  if (!handle) {
    SetResult(memFullErr);
    return;
  }
  *gDataSlot = reinterpret_cast<intptr_t>(handle);
}

// Locks both handles into gSettings and gState. Returns false (with the result set)
// when a handle is missing or cannot be locked.
bool LockHandles() {
  gSettings = nullptr;
  gState = nullptr;
  if (!gFilterRecord->parameters || !StateHandle()) {
    SetResult(filterBadParameters);
    return false;
  }
  gSettings = static_cast<SettingsRecord*>(HostHandleLock(gFilterRecord->parameters));
  gState = static_cast<StateRecord*>(HostHandleLock(StateHandle()));
  if (!gSettings || !gState) {
    gSettings = nullptr;
    gState = nullptr;
    SetResult(memFullErr);
    return false;
  }
  return true;
}

void InitialiseNewHandles() {
  if (CurrentResult() != noErr) return;
  if (!LockHandles()) return;
  gSettings->marker = 0;
  gState->viewRect = {0, 0, 0, 0};
  gState->viewScale = 1.0f;
  gState->showDialog = 1;
  for (int32_t& value : gState->viewState) value = 0;
}

void TearDown() {
  if (!gState) return;
  ProductTearDown(gState);
  WorkBufferFree(&gState->workingBlock);
  WorkBufferFree(&gState->scratchImage);
  WorkBufferFree(&gState->thumbnailImage);
  WorkBufferFree(&gState->previewBuffer.buffer);
  gState->previewBuffer.width = gState->previewBuffer.height = 0;
  gState->previewBuffer.planeSize = gState->previewBuffer.totalSize = 0;
}

bool AllocateWorkingBlock() {
  gState->workingBlock = WorkBufferAlloc(kWorkingBlockSize);
  gState->scratchImage = WorkBufferAlloc(size_t(kScratchImageSide) * kScratchImageSide * 3);
  if (!gState->workingBlock.memory || !gState->scratchImage.memory) {
    WorkBufferFree(&gState->workingBlock);
    WorkBufferFree(&gState->scratchImage);
    return false;
  }
  std::memset(gState->workingBlock.memory, 0, kWorkingBlockSize);
  *static_cast<int32_t*>(gState->workingBlock.memory) = kWorkingBlockMark;
  return true;
}

void StartOfRun() {
  ProductStartOfRun(gSettings, gState);
  gState->thumbnailImage = WorkBufferAlloc(size_t(kThumbnailSide) * kThumbnailSide * 4);
  // Folders are remembered only within one run of the dialog.
  gSettings->settingsFolder[0] = 0;
  gSettings->outputFolder[0] = 0;
  gSettings->sourceFolder[0] = 0;
  if (gState->freshInvocation) {
    gSettings->exportSizeChoice = 0;
    gState->freshInvocation = 0;
  }
}

void DoParameters() {
  if (!gFilterRecord->parameters) CreateSettingsHandle();
  if (!StateHandle()) CreateStateHandle();
  InitialiseNewHandles();
  if (gState) {
    gState->showDialog = 1;
    gState->freshInvocation = 1;
  }
}

void DoPrepare() {
  if (!gFilterRecord->parameters) {
    CreateSettingsHandle();
    if (!StateHandle()) CreateStateHandle();
    InitialiseNewHandles();
  } else if (StateHandle()) {
    LockHandles();
  } else {
    CreateStateHandle();
    InitialiseNewHandles();
  }

  gFilterRecord->bufferSpace = 0;
  const VRect filterRect = HostFilterRect();
  int64_t width = RectWidth(filterRect) < kMaxSpaceSide ? RectWidth(filterRect) : kMaxSpaceSide;
  int64_t height =
      RectHeight(filterRect) < kMaxSpaceSide ? RectHeight(filterRect) : kMaxSpaceSide;
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  int64_t planes = gFilterRecord->planes + (gFilterRecord->maskData ? 1 : 0);
  int64_t wanted = 2 * width * height * planes;
  if (gFilterRecord->maxSpace > wanted) gFilterRecord->maxSpace = int32_t(wanted);

  if (gSettings) ResetSettingsForRun(gSettings);
  if (gState) gState->filterRect = filterRect;
  if (gSettings) gSettings->previewScale = 1;
  ResetDialogTransientState();
  std::srand(unsigned(ClockSeconds()));
}

void DoStart() {
  if (!LockHandles()) return;
  const uint8_t marker = gSettings->marker;
  gSettings->hostCanPreview = gFilterRecord->advanceState && gFilterRecord->displayPixels;

  if (!AllocateWorkingBlock()) {
    SetResult(3);
  } else {
    StartOfRun();
    if (!gFilterRecord->advanceState) {
      ShowRefusal("REFUSAL2");
      SetResult(1);
    } else if (gFilterRecord->imageMode == plugInModeMultichannel) {
      // The host is told the plug-in has reported the problem, so it must be shown.
      ShowRefusal("REFUSAL3");
      SetResult(1);
    }
  }
  if (CurrentResult() != noErr) {
    TearDown();
    ClearHostRects();
    return;
  }

  ReadScriptParams();
  bool accepted = true;
  if (gState->showDialog) accepted = RunMainDialog(gState);
  gState->showDialog = 0;

  if (accepted) {
    OSErr rendered = RenderFinal();
    if (rendered != noErr) {
      // A host calls no Finish after a failed Start: release everything now.
      SetResult(rendered);
      TearDown();
    }
  } else {
    gSettings->marker = marker;
    SetResult(userCanceledErr);
    TearDown();
  }
}

void DoContinue() { ClearHostRects(); }

void DoFinish() {
  if (!LockHandles()) return;
  WriteScriptParams();
  TearDown();
}

void Dispatch(int16_t selector) {
  switch (selector) {
    case filterSelectorParameters:
      DoParameters();
      break;
    case filterSelectorPrepare:
      DoPrepare();
      break;
    case filterSelectorStart:
      DoStart();
      break;
    case filterSelectorContinue:
      DoContinue();
      break;
    case filterSelectorFinish:
      DoFinish();
      break;
    default:
      break;
  }
}

void UnlockHandles() {
  if (gDataSlot && StateHandle()) HostHandleUnlock(StateHandle());
  if (gFilterRecord && gFilterRecord->parameters) HostHandleUnlock(gFilterRecord->parameters);
  gSettings = nullptr;
  gState = nullptr;
}

}  // namespace

#if defined(_WIN32)
#define PLUGIN_EXPORT  // exported by name through the module's .def file
#else
#define PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" PLUGIN_EXPORT void HOSTCALL PluginMain(int16_t selector, void* parameterBlock, intptr_t* data,
                                    int16_t* result) {
  PlatformDebugOutput(">>> PluginMain 64bit\n");
  gFilterRecord = static_cast<FilterRecord*>(parameterBlock);
  gDataSlot = data;
  gResult = result;
  gDllInstance = HostDllInstance();
  gSettings = nullptr;
  gState = nullptr;

  // Nothing may unwind into the host: its frames know nothing of our exceptions.
  try {
    if (selector == filterSelectorAbout) {
      ShowAbout();
      return;
    }
    if (!gFilterRecord || !gDataSlot) {
      SetResult(filterBadParameters);
      return;
    }
    // Opt in to 32-bit coordinates wherever the host offers them: the 16-bit rectangles
    // cannot describe images over 32767 pixels, which would otherwise be cut short.
    if (gFilterRecord->bigDocumentData)
      gFilterRecord->bigDocumentData->PluginUsing32BitCoordinates = 1;
    Dispatch(selector);
  } catch (...) {
    SetResult(memFullErr);
  }
  try {
    UnlockHandles();
  } catch (...) {
  }
}
