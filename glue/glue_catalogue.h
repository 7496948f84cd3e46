// The catalogue of the 69 glue modes: numbers, names and the scripting codes under
// which a recorded action stores the mode.
#pragma once

#include <cstdint>

constexpr int kGlueModeCount = 69;
constexpr int kGlueModeNormal = 1;

// Scripting enumeration type and the code written for a number outside 1..69.
constexpr uint32_t kGlueEnumType = 0x474C7479;  // 'GLty'
constexpr uint32_t kGlueKey = 0x474C5545;       // 'GLUE'
constexpr uint32_t kNoCode = 0x3C4E4F3E;        // '<NO>'

// The catalogue name of mode n; "" for any n outside 1..69.
const char* GlueModeName(int n);
// 'GLnn' for type 'GLty' and n in 1..69, otherwise '<NO>'.
uint32_t GlueCodeOf(int n, uint32_t enumType);
// Sets n = 0, then for type 'GLty' and a code 'GL01'..'GL69' sets n and returns true.
bool GlueModeOfCode(uint32_t enumType, uint32_t code, int* n);
// The next-glue button: 69 wraps to 1.
int NextGlueMode(int n);

// The scripting dictionary lists 61 of the modes: 1..59 (26 under "harsh diff"), 62, 63.
struct GlueDictionaryEntry {
  const char* name;
  int mode;
};
constexpr int kGlueDictionaryCount = 61;
const GlueDictionaryEntry* GlueDictionary();
