// The library's attach routine: remembers the module instance that every dialog and
// resource is loaded from.
#include <windows.h>

#include "host/host_services.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  HostSetDllInstance(instance);
  return TRUE;
}
