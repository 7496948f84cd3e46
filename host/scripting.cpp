// Scripting descriptors: reading a replayed action into the settings and recording the
// settings for the host's action recorder.
#include "host/scripting.h"

#include <cstring>

#include "glue/glue_catalogue.h"
#include "host/host_services.h"
#include "host/plugin_globals.h"
#include "host/state_record.h"
#include "products/product_hooks.h"

namespace {

constexpr uint32_t kColorsCodeBase = 0x47573030;  // 'GW00'

bool HostIgnoresDescriptors() {
  return gFilterRecord->hostSig == kHostSigPSP8 || gFilterRecord->hostSig == kHostSigPSP9;
}

// The host clears each key it delivers, so it gets a writable copy of the list.
struct WritableKeys {
  uint32_t keys[16];
};

WritableKeys ProductKeysCopy() {
  WritableKeys copy{};
  int count = 0;
  const uint32_t* keys = ProductReadKeys(&count);
  for (int i = 0; i < count && i < 15; ++i) copy.keys[i] = keys[i];
  return copy;
}

}  // namespace

uint32_t ScriptCodeOf(uint32_t enumType, int32_t value) {
  if (enumType == kGlueEnumType) return GlueCodeOf(value, enumType);
  if (enumType == kColorsEnumType && value >= 1 && value <= 3)
    return kColorsCodeBase + uint32_t(value);
  return kNoCode;
}

int32_t ScriptValueOf(uint32_t enumType, uint32_t code) {
  if (enumType == kGlueEnumType) {
    int mode = 0;
    GlueModeOfCode(enumType, code, &mode);
    return mode;
  }
  if (enumType == kColorsEnumType && code >= kColorsCodeBase + 1 && code <= kColorsCodeBase + 3)
    return int32_t(code - kColorsCodeBase);
  return 0;
}

bool HasRecordedParams() {
  if (HostIgnoresDescriptors() || !HostHasDescriptors()) return false;
  PIDescriptorParameters* params = gFilterRecord->descriptorParameters;
  WritableKeys keys = ProductKeysCopy();
  PIReadDescriptor reader =
      params->readDescriptorProcs->openReadDescriptorProc(params->descriptor, keys.keys);
  if (!reader) return false;
  // Close the reader alone: the descriptor stays attached for ReadScriptParams.
  params->readDescriptorProcs->closeReadDescriptorProc(reader);
  return true;
}

void ReadScriptParams() {
  if (HostIgnoresDescriptors() || !HostHasDescriptors() || !gSettings) return;
  PIDescriptorParameters* params = gFilterRecord->descriptorParameters;
  const ReadDescriptorProcs* procs = params->readDescriptorProcs;
  WritableKeys keys = ProductKeysCopy();
  PIReadDescriptor reader = procs->openReadDescriptorProc(params->descriptor, keys.keys);
  if (reader) {
    // Keys missing from the action keep their defaults, not the last run's values.
    ResetParameters(gSettings);
    int bindingCount = 0;
    const ScriptBinding* bindings = ProductScriptBindings(&bindingCount);
    DescriptorKeyID key = 0;
    DescriptorTypeID type = 0;
    int32_t flags = 0;
    while (procs->getKeyProc(reader, &key, &type, &flags)) {
      for (int i = 0; i < bindingCount; ++i) {
        const ScriptBinding& binding = bindings[i];
        if (binding.key != key || !binding.readBack) continue;
        int32_t& field = gSettings->*binding.field;
        if (binding.enumType == 0) {
          int32_t value = 0;
          if (procs->getIntegerProc(reader, &value) == noErr) field = value;
        } else {
          DescriptorEnumID code = 0;
          procs->getEnumeratedProc(reader, &code);
          field = ScriptValueOf(binding.enumType, code);
        }
        break;
      }
    }
    procs->closeReadDescriptorProc(reader);
    HostHandleDispose(params->descriptor);
    params->descriptor = nullptr;
  }
  if (gState) gState->showDialog = params->playInfo == plugInDialogDisplay;
}

void WriteScriptParams() {
  if (!HostHasDescriptors() || !gSettings) return;
  PIDescriptorParameters* params = gFilterRecord->descriptorParameters;
  const WriteDescriptorProcs* procs = params->writeDescriptorProcs;
  // The read table decides whether descriptors count as offered; a host may still
  // leave out write procedures, which must then not be called.
  if (!procs->openWriteDescriptorProc || !procs->closeWriteDescriptorProc) return;
  PIWriteDescriptor writer = procs->openWriteDescriptorProc();
  if (!writer) return;

  int bindingCount = 0;
  const ScriptBinding* bindings = ProductScriptBindings(&bindingCount);
  for (int i = 0; i < bindingCount; ++i) {
    const ScriptBinding& binding = bindings[i];
    int32_t value = gSettings->*binding.field;
    if (binding.enumType == 0) {
      if (procs->putIntegerProc) procs->putIntegerProc(writer, binding.key, value);
    } else if (procs->putEnumeratedProc) {
      procs->putEnumeratedProc(writer, binding.key, binding.enumType,
                               ScriptCodeOf(binding.enumType, value));
    }
  }

  if (params->descriptor) {
    HostHandleDispose(params->descriptor);
    params->descriptor = nullptr;
  }
  Handle recorded = nullptr;
  procs->closeWriteDescriptorProc(writer, &recorded);
  params->descriptor = recorded;
  params->recordInfo = plugInDialogOptional;
}
