// Decodes what a filter module declares: its plug-in property list (PiPL), its
// scripting dictionary (AETE) and the PE facts around them, and formats it all as
// text or JSON.
//
// The decoders read the Windows binary forms: a prelude word, little-endian integers,
// four-character codes stored as little-endian 32-bit numbers. They are written apart
// from the code that generates these bytes, so that they can check it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "filterhost/pe_resources.h"

// ---- PiPL ------------------------------------------------------------------------

struct PiplTerminology {  // the 'hstm' property
  int32_t version = 0;
  uint32_t classId = 0;
  uint32_t eventId = 0;
  int16_t terminologyId = 0;  // number of the AETE resource
  std::string scope;
};

struct FilterCaseInfo {  // one of the seven records of 'fici'
  uint8_t inputHandling = 0;
  uint8_t outputHandling = 0;
  uint8_t flags1 = 0;
  uint8_t flags2 = 0;
};

enum class PiplValueKind {
  raw,           // a key this reader does not interpret: only `data`
  fourCC,        // 'kind': `code`
  pascalString,  // 'name', 'catg': `text`
  cString,       // 'wx86', '8664', 'enbl': `text`
  version,       // 'vers': `versionMajor`, `versionMinor`
  terminology,   // 'hstm': `terminology`
  modes,         // 'mode': `modes`
  filterCases,   // 'fici': `filterCases` (seven)
};

struct PiplProperty {
  uint32_t vendor = 0;
  uint32_t key = 0;
  int32_t id = 0;
  int32_t length = 0;         // as declared (may or may not include the padding)
  std::vector<uint8_t> data;  // the `length` declared bytes
  PiplValueKind valueKind = PiplValueKind::raw;
  uint32_t code = 0;
  std::string text;
  uint16_t versionMajor = 0;
  uint16_t versionMinor = 0;
  PiplTerminology terminology;
  std::vector<int> modes;  // mode numbers enabled: the first byte's top bit is mode 0
  std::vector<FilterCaseInfo> filterCases;
};

struct PiplInfo {
  uint16_t prelude = 0;  // 1 in the Windows form
  int32_t listVersion = 0;
  std::vector<PiplProperty> properties;  // in stored order, duplicates kept
  size_t trailingBytes = 0;              // after the last property and its padding
};

bool DecodePipl(const uint8_t* bytes, size_t size, PiplInfo* pipl, std::string* error);

// The first property with this key and vendor '8BIM', or null.
const PiplProperty* FindPiplProperty(const PiplInfo& pipl, uint32_t key);

// ---- AETE ------------------------------------------------------------------------

struct AeteParameter {
  std::string name;
  uint32_t key = 0;
  uint32_t type = 0;
  std::string description;
  uint16_t flags = 0;
};

struct AeteEvent {
  std::string name;
  std::string description;
  uint32_t eventClass = 0;
  uint32_t eventId = 0;
  uint32_t replyType = 0;
  std::string replyDescription;
  uint16_t replyFlags = 0;
  uint32_t directType = 0;
  std::string directDescription;
  uint16_t directFlags = 0;
  std::vector<AeteParameter> parameters;
};

struct AeteSuite {
  std::string name;
  std::string description;
  uint32_t code = 0;
  int16_t level = 0;
  int16_t version = 0;
  std::vector<AeteEvent> events;
};

struct AeteEnumerator {
  std::string name;
  uint32_t code = 0;
  std::string description;
};

struct AeteEnumeration {
  uint32_t type = 0;
  std::vector<AeteEnumerator> enumerators;
};

struct AeteInfo {
  uint16_t prelude = 0;  // 1 in the Windows form
  uint8_t versionMajor = 0;
  uint8_t versionMinor = 0;
  int16_t language = 0;
  int16_t script = 0;
  std::vector<AeteSuite> suites;
  int16_t classCount = 0;
  int16_t comparisonCount = 0;
  // Class and comparison-operator records are not decoded; when a dictionary has any,
  // the enumerations after them cannot be found and stay undecoded.
  bool enumerationsDecoded = false;
  std::vector<AeteEnumeration> enumerations;
  size_t trailingBytes = 0;
};

bool DecodeAete(const uint8_t* bytes, size_t size, AeteInfo* aete, std::string* error);

// ---- the whole module --------------------------------------------------------------

struct ModuleInfo {
  std::string path;
  // A Linux module (64-bit ELF shared object) keeps the same PiPL and AETE bytes in
  // the sections ".pipl" and ".aete"; machine, imports and resources then stay empty.
  bool isElf = false;
  uint16_t machine = 0;
  bool isPe32Plus = false;
  bool isDll = false;
  std::vector<std::string> exports;
  std::vector<std::string> imports;
  std::vector<PeResource> resources;
  PeResource piplResource;
  PiplInfo pipl;
  bool hasAete = false;
  PeResource aeteResource;
  AeteInfo aete;
};

// Reads the module's headers and decodes its PiPL (16000 / US English preferred, else
// the first one) and its AETE (the number 'hstm' names, else 16000). A module without
// a PiPL is an error; one without an AETE is not.
bool DescribeModule(std::vector<uint8_t> fileBytes, const std::string& path, ModuleInfo* info,
                    std::string* error);
bool DescribeModuleFile(const std::string& path, ModuleInfo* info, std::string* error);

// 'abcd' as text, first character most significant; unprintable bytes as \xNN.
std::string FourCCText(uint32_t code);
// A readable name for a mode number ("RGB", "Gray16"); "mode N" when unknown.
std::string ImageModeName(int mode);

std::string FormatModuleInfoText(const ModuleInfo& info);
std::string FormatModuleInfoJson(const ModuleInfo& info);
