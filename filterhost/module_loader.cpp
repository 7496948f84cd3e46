// Loading a filter module for the test host (dlopen natively, LoadLibraryA on Windows).
// The test host is a tool, not part of a module, and the platform layer offers no
// library loading, so this file talks to the system loader itself.
#include "filterhost/module_loader.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

struct LoadedModule {
#ifdef _WIN32
  HMODULE library = nullptr;
#else
  void* library = nullptr;
#endif
  PluginEntryProc entry = nullptr;
};

static bool FileExists(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

LoadedModule* OpenFilterModule(const std::string& path, std::string* error) {
  std::string message;
  LoadedModule* module = nullptr;
  if (!FileExists(path)) {
    message = "file not found";
  } else {
    module = new LoadedModule;
#ifdef _WIN32
    module->library = LoadLibraryA(path.c_str());
    if (!module->library) {
      message = "cannot load (system error " + std::to_string(GetLastError()) + ")";
    } else {
      module->entry = reinterpret_cast<PluginEntryProc>(
          reinterpret_cast<void*>(GetProcAddress(module->library, "PluginMain")));
    }
#else
    module->library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module->library) {
      const char* reason = dlerror();
      message = std::string("cannot load (") + (reason ? reason : "unknown reason") + ")";
    } else {
      module->entry = reinterpret_cast<PluginEntryProc>(dlsym(module->library, "PluginMain"));
    }
#endif
    if (module->library && !module->entry) message = "no PluginMain export";
    if (!message.empty()) {
      CloseFilterModule(module);
      module = nullptr;
    }
  }
  if (!module && error) *error = "cannot use filter module " + path + ": " + message;
  return module;
}

PluginEntryProc FilterModuleEntry(const LoadedModule* module) {
  return module ? module->entry : nullptr;
}

void CloseFilterModule(LoadedModule* module) {
  if (!module) return;
#ifdef _WIN32
  if (module->library) FreeLibrary(module->library);
#else
  if (module->library) dlclose(module->library);
#endif
  delete module;
}
