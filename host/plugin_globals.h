// The per-call globals: overwritten at the start of every call of PluginMain. The host
// calls from one thread; render workers read them but never write them.
#pragma once

#include <cstdint>

#include "host/host_abi.h"

struct SettingsRecord;
struct StateRecord;

extern FilterRecord* gFilterRecord;
extern intptr_t* gDataSlot;
extern int16_t* gResult;
extern void* gDllInstance;
extern SettingsRecord* gSettings;
extern StateRecord* gState;

inline void SetResult(int16_t code) {
  if (gResult) *gResult = code;
}
inline int16_t CurrentResult() { return gResult ? *gResult : int16_t(0); }
