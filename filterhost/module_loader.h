// Loading a filter module for the test host: dlopen of a shared object natively,
// LoadLibraryA of a .8bf on Windows. The only system-specific code of the test host.
#pragma once

#include <string>

#include "host/host_abi.h"

struct LoadedModule;

// Null with a message naming the path and the reason when the file is missing, cannot
// be loaded, or has no PluginMain export.
LoadedModule* OpenFilterModule(const std::string& path, std::string* error);
PluginEntryProc FilterModuleEntry(const LoadedModule* module);
void CloseFilterModule(LoadedModule* module);
