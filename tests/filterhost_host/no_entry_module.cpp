// A loadable module without PluginMain, for the test host's loader test.
#ifdef _WIN32
#define MODULE_EXPORT __declspec(dllexport)
#else
#define MODULE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" MODULE_EXPORT int NotAFilter(int value) {
  return value + 1;
}
