// What a product declares to the host: names, menu, supported modes, filter cases and
// its scripting dictionary. Plain data, shared by the modules and by the build-time
// tool that turns it into the PiPL and AETE resources.
#pragma once

#include <cstdint>

struct ScriptParameter {
  const char* name;  // also its description
  uint32_t key;
  uint32_t type;  // 'long' or an enumeration type
  uint16_t flags;
};

struct ScriptEnumerator {
  const char* name;  // also its description
  uint32_t code;
};

struct FilterCaseEntry {
  uint8_t inputHandling;
  uint8_t outputHandling;
  uint8_t flags1;
  uint8_t flags2;
};

struct ProductInfo {
  const char* productName;  // "Velvet Hue"
  const char* menuName;     // "Velvet Hue..."
  const char* category;     // submenu
  const char* description;  // the scripting event's description
  const char* suiteName;
  uint32_t suiteCode;  // suite, event class and event code
  const char* scope;
  uint16_t versionMajor;
  uint16_t versionMinor;
  uint8_t modeFlags[2];  // one bit per image mode, most significant bit = mode 0
  const char* enableRules[2];
  FilterCaseEntry filterCases[7];
  const ScriptParameter* parameters;
  int parameterCount;
  // The product's own enumeration, listed before the glue modes; null when none.
  uint32_t ownEnumType;
  const ScriptEnumerator* ownEnumerators;
  int ownEnumeratorCount;
};

extern const ProductInfo kVelvetHueInfo;
extern const ProductInfo kGrainWreckInfo;

// Scripting codes shared by the dictionary and the descriptor code.
constexpr uint32_t kTypeLong = 0x6C6F6E67;         // 'long'
constexpr uint32_t kColorsKey = 0x47576B79;        // 'GWky'
constexpr uint32_t kColorsEnumType = 0x47577479;   // 'GWty'
constexpr uint32_t kParamKey(char a, char b, char c, char d) {
  return (uint32_t(uint8_t(a)) << 24) | (uint32_t(uint8_t(b)) << 16) |
         (uint32_t(uint8_t(c)) << 8) | uint32_t(uint8_t(d));
}
