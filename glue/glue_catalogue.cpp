// The glue mode catalogue: names in number order and the 'GLnn' scripting codes.
#include "glue/glue_catalogue.h"

namespace {

const char* const kGlueNames[kGlueModeCount] = {
    "normal",      "procedural +", "procedural -", "difference", "lighten",
    "darken",      "add",          "subtract",     "multiply",   "screen",
    "hard light",  "overlay",      "superlay",     "exclusion",  "color",
    "luminance",   "linear light", "pin light",    "spin light", "vivid a",
    "vivid b",     "saturation",   "hue",          "similarity", "cross",
    "hard diff",   "soft light",   "bright",       "dim",        "dodge",
    "burn",        "ace",          "king",         "queen",      "jack",
    "and",         "or",           "xor",          "multibright", "hot",
    "cold",        "wet",          "dry",          "up",         "down",
    "wax",         "wane",         "north",        "south",      "east",
    "west",        "hard mix",     "frontal",      "parietal",   "temporal",
    "occipital",   "limbic",       "dextrous",     "sinister",   "anterior",
    "posterior",   "screendim",    "starbright",   "glow",       "reflect",
    "shimmer",     "lustre",       "negation",     "contrast negate",
};

}  // namespace

const char* GlueModeName(int n) {
  if (n < 1 || n > kGlueModeCount) return "";
  return kGlueNames[n - 1];
}

uint32_t GlueCodeOf(int n, uint32_t enumType) {
  if (enumType != kGlueEnumType || n < 1 || n > kGlueModeCount) return kNoCode;
  return (uint32_t('G') << 24) | (uint32_t('L') << 16) | (uint32_t('0' + n / 10) << 8) |
         uint32_t('0' + n % 10);
}

bool GlueModeOfCode(uint32_t enumType, uint32_t code, int* n) {
  *n = 0;
  if (enumType != kGlueEnumType) return false;
  if ((code >> 16) != ((uint32_t('G') << 8) | 'L')) return false;
  int tens = int((code >> 8) & 0xFF) - '0';
  int units = int(code & 0xFF) - '0';
  if (tens < 0 || tens > 9 || units < 0 || units > 9) return false;
  int mode = tens * 10 + units;
  if (mode < 1 || mode > kGlueModeCount) return false;
  *n = mode;
  return true;
}

int NextGlueMode(int n) {
  int next = n + 1;
  return next >= kGlueModeCount + 1 ? 1 : next;
}

const GlueDictionaryEntry* GlueDictionary() {
  struct Table {
    GlueDictionaryEntry entries[kGlueDictionaryCount];
  };
  static const Table table = [] {
    Table t{};
    int count = 0;
    for (int mode = 1; mode <= 59; ++mode)
      t.entries[count++] = {mode == 26 ? "harsh diff" : kGlueNames[mode - 1], mode};
    t.entries[count++] = {kGlueNames[62 - 1], 62};
    t.entries[count++] = {kGlueNames[63 - 1], 63};
    return t;
  }();
  return table.entries;
}
