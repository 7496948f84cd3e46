// A minimal loadable filter module for the test host's loader test: counts its calls
// in the data slot and answers selector 6 with filterBadParameters.
#include "host/host_abi.h"

#ifdef _WIN32
#define MODULE_EXPORT __declspec(dllexport)
#else
#define MODULE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" MODULE_EXPORT void HOSTCALL PluginMain(int16_t selector, void* block, intptr_t* data,
                                                  int16_t* result) {
  if (data) *data += 1;
  if (result) *result = selector == 6 ? filterBadParameters : noErr;
}
