// PiPL and AETE resource bytes, generated at build time from the product tables.
#include "host/plugin_resources.h"

#include <cstring>

#include "glue/glue_catalogue.h"

namespace {

struct ByteWriter {
  std::vector<uint8_t> bytes;
  void U8(uint8_t v) { bytes.push_back(v); }
  void U16(uint16_t v) {
    U8(uint8_t(v));
    U8(uint8_t(v >> 8));
  }
  void U32(uint32_t v) {
    U16(uint16_t(v));
    U16(uint16_t(v >> 16));
  }
  void Raw(const void* data, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + n);
  }
  // Count byte and characters; the dictionary's strings are at most 255 characters.
  void Pascal(const char* s) {
    size_t n = std::strlen(s);
    if (n > 255) n = 255;
    U8(uint8_t(n));
    Raw(s, n);
  }
  void CString(const char* s) { Raw(s, std::strlen(s) + 1); }
  void PadTo4() {
    while (bytes.size() % 4 != 0) U8(0);
  }
};

constexpr uint32_t Code(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

void AddProperty(ByteWriter* list, uint32_t key, const ByteWriter& data) {
  ByteWriter padded = data;
  padded.PadTo4();
  list->U32(Code("8BIM"));
  list->U32(key);
  list->U32(0);  // property number
  list->U32(uint32_t(padded.bytes.size()));
  list->Raw(padded.bytes.data(), padded.bytes.size());
}

}  // namespace

std::vector<uint8_t> BuildPipl(const ProductInfo& product, bool for64Bit) {
  ByteWriter properties;
  int count = 0;
  auto add = [&](uint32_t key, const ByteWriter& data) {
    AddProperty(&properties, key, data);
    ++count;
  };

  ByteWriter kind;
  kind.U32(Code("8BFM"));
  add(Code("kind"), kind);

  ByteWriter name;
  name.Pascal(product.menuName);
  add(Code("name"), name);

  ByteWriter category;
  category.Pascal(product.category);
  add(Code("catg"), category);

  ByteWriter version;
  version.U32((uint32_t(product.versionMajor) << 16) | product.versionMinor);
  add(Code("vers"), version);

  ByteWriter entry;
  entry.CString("PluginMain");
  add(for64Bit ? Code("8664") : Code("wx86"), entry);

  ByteWriter terminology;
  terminology.U32(0);  // version
  terminology.U32(product.suiteCode);
  terminology.U32(product.suiteCode);
  terminology.U16(uint16_t(kResourceNumber));
  terminology.CString(product.scope);
  add(Code("hstm"), terminology);

  ByteWriter modes;
  modes.U8(product.modeFlags[0]);
  modes.U8(product.modeFlags[1]);
  add(Code("mode"), modes);

  for (const char* rule : product.enableRules) {
    ByteWriter enable;
    enable.CString(rule);
    add(Code("enbl"), enable);
  }

  ByteWriter cases;
  for (const FilterCaseEntry& c : product.filterCases) {
    cases.U8(c.inputHandling);
    cases.U8(c.outputHandling);
    cases.U8(c.flags1);
    cases.U8(c.flags2);
  }
  add(Code("fici"), cases);

  ByteWriter list;
  list.U16(1);  // Windows prelude
  list.U32(0);  // list version
  list.U32(uint32_t(count));
  list.Raw(properties.bytes.data(), properties.bytes.size());
  return list.bytes;
}

std::vector<uint8_t> BuildAete(const ProductInfo& product) {
  ByteWriter w;
  w.U16(1);  // Windows prelude
  w.U8(1);   // dictionary version 1.0
  w.U8(0);
  w.U16(0);  // language
  w.U16(0);  // script
  w.U16(1);  // one suite

  w.Pascal(product.suiteName);
  w.Pascal(product.productName);
  w.U32(product.suiteCode);
  w.U16(1);  // level
  w.U16(1);  // version
  w.U16(1);  // one event

  w.Pascal(product.productName);
  w.Pascal(product.description);
  w.U32(product.suiteCode);  // event class
  w.U32(product.suiteCode);  // event code
  w.U32(Code("null"));       // reply type
  w.Pascal("");
  w.U16(0);
  w.U32(Code("#ImR"));  // direct parameter: the image
  w.Pascal("");
  w.U16(0xB000);
  w.U16(uint16_t(product.parameterCount));
  for (int i = 0; i < product.parameterCount; ++i) {
    const ScriptParameter& p = product.parameters[i];
    w.Pascal(p.name);
    w.U32(p.key);
    w.U32(p.type);
    w.Pascal(p.name);
    w.U16(p.flags);
  }

  w.U16(0);  // classes
  w.U16(0);  // comparison operators
  w.U16(product.ownEnumerators ? 2 : 1);
  if (product.ownEnumerators) {
    w.U32(product.ownEnumType);
    w.U16(uint16_t(product.ownEnumeratorCount));
    for (int i = 0; i < product.ownEnumeratorCount; ++i) {
      w.Pascal(product.ownEnumerators[i].name);
      w.U32(product.ownEnumerators[i].code);
      w.Pascal(product.ownEnumerators[i].name);
    }
  }
  const GlueDictionaryEntry* glue = GlueDictionary();
  w.U32(kGlueEnumType);
  w.U16(uint16_t(kGlueDictionaryCount));
  for (int i = 0; i < kGlueDictionaryCount; ++i) {
    w.Pascal(glue[i].name);
    w.U32(GlueCodeOf(glue[i].mode, kGlueEnumType));
    w.Pascal(glue[i].name);
  }
  return w.bytes;
}
