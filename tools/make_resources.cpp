// Build-time tool: writes a module's PiPL and AETE resource bytes from its product
// table, so the resources are never edited by hand.
//   make_resources velvet_hue|grain_wreck 32|64 OUT.pipl OUT.aete
#include <cstdio>
#include <cstring>

#include "host/plugin_resources.h"

static bool WriteBytes(const char* path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s velvet_hue|grain_wreck 32|64 OUT.pipl OUT.aete\n", argv[0]);
    return 2;
  }
  const ProductInfo* product = nullptr;
  if (std::strcmp(argv[1], "velvet_hue") == 0) product = &kVelvetHueInfo;
  if (std::strcmp(argv[1], "grain_wreck") == 0) product = &kGrainWreckInfo;
  bool for64 = std::strcmp(argv[2], "64") == 0;
  if (!product || (!for64 && std::strcmp(argv[2], "32") != 0)) {
    std::fprintf(stderr, "%s: unknown product or word size\n", argv[0]);
    return 2;
  }
  if (!WriteBytes(argv[3], BuildPipl(*product, for64)) ||
      !WriteBytes(argv[4], BuildAete(*product))) {
    std::fprintf(stderr, "%s: cannot write the resource files\n", argv[0]);
    return 1;
  }
  return 0;
}
