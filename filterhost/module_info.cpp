// Decoding of PiPL and AETE resources and the text / JSON reports of `filterhost info`.
#include "filterhost/module_info.h"

#include <cstdio>
#include <utility>

namespace {

constexpr uint32_t Code(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

constexpr uint32_t kVendorPhotoshop = Code("8BIM");
constexpr uint32_t kDefaultResourceId = 16000;

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
         (uint32_t(p[3]) << 24);
}

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

std::string HexWord(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

bool NamesEqualIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = x - 'a' + 'A';
    if (y >= 'a' && y <= 'z') y = y - 'a' + 'A';
    if (x != y) return false;
  }
  return i == a.size() && !b[i];
}

// Reads little-endian fields in order. The first failure is kept and every later read
// returns zero, so a record can be read straight through and checked once.
struct ByteCursor {
  const uint8_t* bytes;
  size_t size;
  const char* resourceName;
  std::string* error;
  std::string where;  // the record being read, for the error text
  size_t pos = 0;
  bool ok = true;

  bool Need(size_t count, const char* what) {
    if (!ok) return false;
    if (count <= size - pos) return true;
    ok = false;
    Fail(error, std::string(resourceName) + ": truncated at offset " + std::to_string(pos) +
                    " reading " + where + (where.empty() ? "" : " ") + what + " (" +
                    std::to_string(count) + " bytes needed, " + std::to_string(size - pos) +
                    " left)");
    return false;
  }
  uint8_t U8(const char* what) { return Need(1, what) ? bytes[pos++] : 0; }
  uint16_t U16(const char* what) {
    if (!Need(2, what)) return 0;
    pos += 2;
    return Le16(bytes + pos - 2);
  }
  int16_t I16(const char* what) { return int16_t(U16(what)); }
  uint32_t U32(const char* what) {
    if (!Need(4, what)) return 0;
    pos += 4;
    return Le32(bytes + pos - 4);
  }
  std::string Pascal(const char* what) {
    uint8_t count = U8(what);
    if (!Need(count, what)) return std::string();
    pos += count;
    return std::string(reinterpret_cast<const char*>(bytes + pos - count), count);
  }
  // A count field; negative counts are corruption, not "none".
  int Count(const char* what) {
    int16_t count = I16(what);
    if (ok && count < 0) {
      ok = false;
      Fail(error, std::string(resourceName) + ": negative " + what + " " +
                      std::to_string(count) + " at offset " + std::to_string(pos - 2) +
                      (where.empty() ? "" : " in " + where));
      return 0;
    }
    return count;
  }
};

// ---- PiPL values -------------------------------------------------------------------

bool DecodeCString(const std::vector<uint8_t>& data, size_t start, std::string* text,
                   std::string* error) {
  for (size_t i = start; i < data.size(); ++i)
    if (data[i] == 0) {
      text->assign(data.begin() + start, data.begin() + i);
      return true;
    }
  return Fail(error, "the string has no terminator within the property's " +
                         std::to_string(data.size()) + " bytes");
}

bool NeedLength(const std::vector<uint8_t>& data, size_t count, std::string* error) {
  if (data.size() >= count) return true;
  return Fail(error, "the value needs " + std::to_string(count) + " bytes, the property has " +
                         std::to_string(data.size()));
}

bool DecodePiplValue(PiplProperty* p, std::string* error) {
  const std::vector<uint8_t>& d = p->data;
  switch (p->key) {
    case Code("kind"):
      if (!NeedLength(d, 4, error)) return false;
      p->valueKind = PiplValueKind::fourCC;
      p->code = Le32(d.data());
      return true;
    case Code("name"):
    case Code("catg"):
      if (!NeedLength(d, 1, error)) return false;
      if (size_t(d[0]) + 1 > d.size())
        return Fail(error, "the string of " + std::to_string(d[0]) +
                               " characters runs past the property's " +
                               std::to_string(d.size()) + " bytes");
      p->valueKind = PiplValueKind::pascalString;
      p->text.assign(d.begin() + 1, d.begin() + 1 + d[0]);
      return true;
    case Code("vers"): {
      if (!NeedLength(d, 4, error)) return false;
      uint32_t v = Le32(d.data());
      p->valueKind = PiplValueKind::version;
      p->versionMajor = uint16_t(v >> 16);
      p->versionMinor = uint16_t(v & 0xFFFF);
      return true;
    }
    case Code("wx86"):
    case Code("8664"):
    case Code("enbl"):
      p->valueKind = PiplValueKind::cString;
      return DecodeCString(d, 0, &p->text, error);
    case Code("hstm"): {
      // Byte-packed: version, class, event, dictionary number, then the scope string.
      if (!NeedLength(d, 15, error)) return false;
      PiplTerminology& t = p->terminology;
      t.version = int32_t(Le32(d.data()));
      t.classId = Le32(d.data() + 4);
      t.eventId = Le32(d.data() + 8);
      t.terminologyId = int16_t(Le16(d.data() + 12));
      p->valueKind = PiplValueKind::terminology;
      return DecodeCString(d, 14, &t.scope, error);
    }
    case Code("mode"):
      p->valueKind = PiplValueKind::modes;
      for (size_t byte = 0; byte < d.size(); ++byte)
        for (int bit = 0; bit < 8; ++bit)
          if (d[byte] & (0x80 >> bit)) p->modes.push_back(int(byte * 8) + bit);
      return true;
    case Code("fici"):
      if (!NeedLength(d, 28, error)) return false;
      p->valueKind = PiplValueKind::filterCases;
      for (int i = 0; i < 7; ++i) {
        FilterCaseInfo c;
        c.inputHandling = d[4 * i];
        c.outputHandling = d[4 * i + 1];
        c.flags1 = d[4 * i + 2];
        c.flags2 = d[4 * i + 3];
        p->filterCases.push_back(c);
      }
      return true;
    default:
      return true;
  }
}

// ---- formatting helpers ------------------------------------------------------------

std::string QuoteText(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

std::string QuoteCode(uint32_t code) { return "'" + FourCCText(code) + "'"; }

std::string HexBytes(const std::vector<uint8_t>& data, size_t limit) {
  std::string out;
  for (size_t i = 0; i < data.size() && i < limit; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", data[i]);
    if (i) out += ' ';
    out += hex;
  }
  if (data.size() > limit) out += " ...";
  return out;
}

std::string ResourceTypeText(const PeResource& r) {
  if (!r.typeName.empty()) return r.typeName;
  switch (r.typeId) {
    case 3: return "ICON";
    case 4: return "MENU";
    case 5: return "DIALOG";
    case 6: return "STRING";
    case 10: return "RCDATA";
    case 14: return "GROUP_ICON";
    case 16: return "VERSION";
    case 24: return "MANIFEST";
    default: return "#" + std::to_string(r.typeId);
  }
}

std::string ResourceIdText(const PeResource& r) {
  return r.name.empty() ? std::to_string(r.id) : QuoteText(r.name);
}

// Writes JSON with two-space indentation; the caller's calls must nest properly.
struct JsonWriter {
  std::string out;
  std::vector<bool> hasItems;  // one per open object or array
  bool afterKey = false;

  void Indent() {
    out += '\n';
    out.append(2 * hasItems.size(), ' ');
  }
  void BeforeValue() {
    if (afterKey) {
      afterKey = false;
      return;
    }
    if (hasItems.empty()) return;
    if (hasItems.back()) out += ',';
    hasItems.back() = true;
    Indent();
  }
  void Open(char c) {
    BeforeValue();
    out += c;
    hasItems.push_back(false);
  }
  void Close(char c) {
    bool items = hasItems.back();
    hasItems.pop_back();
    if (items) Indent();
    out += c;
  }
  void BeginObject() { Open('{'); }
  void EndObject() { Close('}'); }
  void BeginArray() { Open('['); }
  void EndArray() { Close(']'); }
  void Key(const char* name) {
    BeforeValue();
    AppendString(name);
    out += ": ";
    afterKey = true;
  }
  void String(const std::string& s) {
    BeforeValue();
    AppendString(s);
  }
  void Number(long long n) {
    BeforeValue();
    out += std::to_string(n);
  }
  void Bool(bool b) {
    BeforeValue();
    out += b ? "true" : "false";
  }
  void Null() {
    BeforeValue();
    out += "null";
  }

  // Length of a valid UTF-8 sequence starting at s[i], or 0.
  static size_t Utf8Length(const std::string& s, size_t i) {
    unsigned char c = s[i];
    size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k)
      if ((uint8_t(s[i + k]) & 0xC0) != 0x80) return 0;
    unsigned char second = s[i + 1];
    if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second >= 0xA0) ||
        (c == 0xF0 && second < 0x90) || (c == 0xF4 && second >= 0x90))
      return 0;
    return n;
  }

  // Strings from a module are 8-bit text of unknown encoding: valid UTF-8 passes
  // through, any other byte is taken as Latin-1, so the output is always valid JSON.
  void AppendString(const std::string& s) {
    out += '"';
    for (size_t i = 0; i < s.size(); ++i) {
      unsigned char c = s[i];
      if (c == '"') {
        out += "\\\"";
      } else if (c == '\\') {
        out += "\\\\";
      } else if (c == '\n') {
        out += "\\n";
      } else if (c == '\r') {
        out += "\\r";
      } else if (c == '\t') {
        out += "\\t";
      } else if (c < 0x20 || c == 0x7F) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\u%04x", c);
        out += hex;
      } else if (c < 0x80) {
        out += char(c);
      } else if (size_t n = Utf8Length(s, i)) {
        out.append(s, i, n);
        i += n - 1;
      } else {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\u%04x", c);
        out += hex;
      }
    }
    out += '"';
  }
};

void WriteResourceJson(JsonWriter& j, const PeResource& r) {
  j.Key("type");
  j.String(ResourceTypeText(r));
  if (r.name.empty()) {
    j.Key("id");
    j.Number(r.id);
  } else {
    j.Key("name");
    j.String(r.name);
  }
  j.Key("language");
  j.Number(r.language);
  j.Key("size");
  j.Number(r.size);
}

void WritePiplValueJson(JsonWriter& j, const PiplProperty& p) {
  switch (p.valueKind) {
    case PiplValueKind::raw:
      j.Key("raw");
      j.String(HexBytes(p.data, p.data.size()));
      return;
    case PiplValueKind::fourCC:
      j.Key("value");
      j.String(FourCCText(p.code));
      return;
    case PiplValueKind::pascalString:
    case PiplValueKind::cString:
      j.Key("value");
      j.String(p.text);
      return;
    case PiplValueKind::version:
      j.Key("value");
      j.BeginObject();
      j.Key("major");
      j.Number(p.versionMajor);
      j.Key("minor");
      j.Number(p.versionMinor);
      j.EndObject();
      return;
    case PiplValueKind::terminology:
      j.Key("value");
      j.BeginObject();
      j.Key("version");
      j.Number(p.terminology.version);
      j.Key("class");
      j.String(FourCCText(p.terminology.classId));
      j.Key("event");
      j.String(FourCCText(p.terminology.eventId));
      j.Key("terminologyId");
      j.Number(p.terminology.terminologyId);
      j.Key("scope");
      j.String(p.terminology.scope);
      j.EndObject();
      return;
    case PiplValueKind::modes:
      j.Key("value");
      j.BeginArray();
      for (int m : p.modes) j.Number(m);
      j.EndArray();
      return;
    case PiplValueKind::filterCases:
      j.Key("value");
      j.BeginArray();
      for (const FilterCaseInfo& c : p.filterCases) {
        j.BeginObject();
        j.Key("inputHandling");
        j.Number(c.inputHandling);
        j.Key("outputHandling");
        j.Number(c.outputHandling);
        j.Key("flags1");
        j.Number(c.flags1);
        j.Key("flags2");
        j.Number(c.flags2);
        j.EndObject();
      }
      j.EndArray();
      return;
  }
}

std::string PiplValueText(const PiplProperty& p) {
  switch (p.valueKind) {
    case PiplValueKind::raw:
      return "raw " + HexBytes(p.data, 64);
    case PiplValueKind::fourCC:
      return QuoteCode(p.code);
    case PiplValueKind::pascalString:
    case PiplValueKind::cString:
      return QuoteText(p.text);
    case PiplValueKind::version:
      return std::to_string(p.versionMajor) + "." + std::to_string(p.versionMinor);
    case PiplValueKind::terminology:
      return "version " + std::to_string(p.terminology.version) + ", class " +
             QuoteCode(p.terminology.classId) + ", event " + QuoteCode(p.terminology.eventId) +
             ", dictionary " + std::to_string(p.terminology.terminologyId) + ", scope " +
             QuoteText(p.terminology.scope);
    case PiplValueKind::modes: {
      if (p.modes.empty()) return "none";
      std::string out;
      for (int m : p.modes) out += (out.empty() ? "" : ", ") + ImageModeName(m) + " (" + std::to_string(m) + ")";
      return out;
    }
    case PiplValueKind::filterCases: {
      std::string out;
      for (size_t i = 0; i < p.filterCases.size(); ++i) {
        const FilterCaseInfo& c = p.filterCases[i];
        out += "\n       case " + std::to_string(i + 1) + ": input " +
               std::to_string(c.inputHandling) + ", output " + std::to_string(c.outputHandling) +
               ", flags1 " + std::to_string(c.flags1) + ", flags2 " + std::to_string(c.flags2);
      }
      return out;
    }
  }
  return std::string();
}

const PeResource* PickResource(const std::vector<PeResource>& resources, const char* type,
                               uint32_t id, bool anyIdWillDo) {
  const PeResource* sameId = nullptr;
  const PeResource* any = nullptr;
  for (const PeResource& r : resources) {
    if (!NamesEqualIgnoringCase(r.typeName, type)) continue;
    bool idMatches = r.name.empty() && r.id == id;
    if (idMatches && r.language == kLanguageEnglishUs) return &r;
    if (idMatches && !sameId) sameId = &r;
    if (!any) any = &r;
  }
  return sameId ? sameId : anyIdWillDo ? any : nullptr;
}

}  // namespace

// ---- decoders ----------------------------------------------------------------------

bool DecodePipl(const uint8_t* bytes, size_t size, PiplInfo* pipl, std::string* error) {
  *pipl = PiplInfo();
  if (size < 10)
    return Fail(error, "PiPL: only " + std::to_string(size) + " bytes; the header needs 10");
  pipl->prelude = Le16(bytes);
  pipl->listVersion = int32_t(Le32(bytes + 2));
  int32_t count = int32_t(Le32(bytes + 6));
  if (count < 0 || size_t(count) > (size - 10) / 16)
    return Fail(error, "PiPL: property count " + std::to_string(count) + " does not fit in " +
                           std::to_string(size) + " bytes");
  size_t pos = 10;
  for (int32_t i = 0; i < count; ++i) {
    std::string label = "PiPL: property " + std::to_string(i + 1);
    if (size - pos < 16)
      return Fail(error, label + " at offset " + std::to_string(pos) + " runs past the end");
    PiplProperty p;
    p.vendor = Le32(bytes + pos);
    p.key = Le32(bytes + pos + 4);
    p.id = int32_t(Le32(bytes + pos + 8));
    p.length = int32_t(Le32(bytes + pos + 12));
    label += " (" + QuoteCode(p.key) + ")";
    pos += 16;
    if (p.length < 0 || size_t(p.length) > size - pos)
      return Fail(error, label + ": length " + std::to_string(p.length) + " at offset " +
                             std::to_string(pos - 4) + " runs past the end of the resource (" +
                             std::to_string(size - pos) + " bytes left)");
    p.data.assign(bytes + pos, bytes + pos + p.length);
    std::string valueError;
    if (p.vendor == kVendorPhotoshop && !DecodePiplValue(&p, &valueError))
      return Fail(error, label + ": " + valueError);
    // Writers disagree on whether the length counts the padding; rounding up reads both.
    size_t padded = (size_t(p.length) + 3) & ~size_t(3);
    pos += padded < size - pos ? padded : size - pos;
    pipl->properties.push_back(std::move(p));
  }
  pipl->trailingBytes = size - pos;
  return true;
}

const PiplProperty* FindPiplProperty(const PiplInfo& pipl, uint32_t key) {
  for (const PiplProperty& p : pipl.properties)
    if (p.vendor == kVendorPhotoshop && p.key == key) return &p;
  return nullptr;
}

bool DecodeAete(const uint8_t* bytes, size_t size, AeteInfo* aete, std::string* error) {
  *aete = AeteInfo();
  ByteCursor c{bytes, size, "AETE", error, std::string()};
  aete->prelude = c.U16("prelude");
  aete->versionMajor = c.U8("major version");
  aete->versionMinor = c.U8("minor version");
  aete->language = c.I16("language code");
  aete->script = c.I16("script code");
  int suiteCount = c.Count("suite count");
  for (int s = 0; s < suiteCount && c.ok; ++s) {
    AeteSuite suite;
    c.where = "suite " + std::to_string(s + 1);
    suite.name = c.Pascal("name");
    suite.description = c.Pascal("description");
    suite.code = c.U32("code");
    suite.level = c.I16("level");
    suite.version = c.I16("version");
    int eventCount = c.Count("event count");
    for (int e = 0; e < eventCount && c.ok; ++e) {
      AeteEvent event;
      std::string eventWhere = "suite " + std::to_string(s + 1) + " event " + std::to_string(e + 1);
      c.where = eventWhere;
      event.name = c.Pascal("name");
      event.description = c.Pascal("description");
      event.eventClass = c.U32("class");
      event.eventId = c.U32("id");
      event.replyType = c.U32("reply type");
      event.replyDescription = c.Pascal("reply description");
      event.replyFlags = c.U16("reply flags");
      event.directType = c.U32("direct parameter type");
      event.directDescription = c.Pascal("direct parameter description");
      event.directFlags = c.U16("direct parameter flags");
      int parameterCount = c.Count("parameter count");
      for (int p = 0; p < parameterCount && c.ok; ++p) {
        AeteParameter parameter;
        c.where = eventWhere + " parameter " + std::to_string(p + 1);
        parameter.name = c.Pascal("name");
        parameter.key = c.U32("key");
        parameter.type = c.U32("type");
        parameter.description = c.Pascal("description");
        parameter.flags = c.U16("flags");
        event.parameters.push_back(std::move(parameter));
      }
      suite.events.push_back(std::move(event));
    }
    aete->suites.push_back(std::move(suite));
  }
  c.where.clear();
  aete->classCount = int16_t(c.Count("class count"));
  aete->comparisonCount = int16_t(c.Count("comparison operator count"));
  if (c.ok && (aete->classCount || aete->comparisonCount)) {
    aete->trailingBytes = size - c.pos;
    return true;
  }
  int enumerationCount = c.Count("enumeration count");
  for (int n = 0; n < enumerationCount && c.ok; ++n) {
    AeteEnumeration enumeration;
    std::string enumWhere = "enumeration " + std::to_string(n + 1);
    c.where = enumWhere;
    enumeration.type = c.U32("type");
    int enumeratorCount = c.Count("enumerator count");
    for (int k = 0; k < enumeratorCount && c.ok; ++k) {
      AeteEnumerator enumerator;
      c.where = enumWhere + " enumerator " + std::to_string(k + 1);
      enumerator.name = c.Pascal("name");
      enumerator.code = c.U32("code");
      enumerator.description = c.Pascal("description");
      enumeration.enumerators.push_back(std::move(enumerator));
    }
    aete->enumerations.push_back(std::move(enumeration));
  }
  if (!c.ok) return false;
  aete->enumerationsDecoded = true;
  aete->trailingBytes = size - c.pos;
  return true;
}

// ---- the whole module --------------------------------------------------------------

namespace {

uint64_t ReadLe(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b[at + size_t(i)];
  return v;
}

// Reads the PiPL and AETE sections and the exported functions of a 64-bit
// little-endian ELF shared object, checking every offset against the file.
bool DescribeElfModule(const std::vector<uint8_t>& b, ModuleInfo* info, std::string* error) {
  if (b.size() < 64 || b[4] != 2 || b[5] != 1)
    return Fail(error, "not a 64-bit little-endian ELF file");
  const uint64_t shoff = ReadLe(b, 0x28, 8);
  const uint64_t shentsize = ReadLe(b, 0x3A, 2);
  const uint64_t shnum = ReadLe(b, 0x3C, 2);
  const uint64_t shstrndx = ReadLe(b, 0x3E, 2);
  if (shentsize < 64 || shnum == 0 || shstrndx >= shnum || shoff > b.size() ||
      shnum * shentsize > b.size() - shoff)
    return Fail(error, "corrupt ELF section table");
  struct Section {
    uint32_t name, type, link;
    uint64_t offset, size, entsize;
  };
  std::vector<Section> sections;
  for (uint64_t i = 0; i < shnum; ++i) {
    const size_t at = size_t(shoff + i * shentsize);
    Section s{uint32_t(ReadLe(b, at, 4)), uint32_t(ReadLe(b, at + 4, 4)),
              uint32_t(ReadLe(b, at + 0x28, 4)), ReadLe(b, at + 0x18, 8), ReadLe(b, at + 0x20, 8),
              ReadLe(b, at + 0x38, 8)};
    // Sections without file contents (SHT_NOBITS) have nothing to check.
    if (s.type != 8 && (s.offset > b.size() || s.size > b.size() - s.offset))
      return Fail(error, "an ELF section lies outside the file");
    sections.push_back(s);
  }
  const Section& names = sections[size_t(shstrndx)];
  auto sectionName = [&](const Section& s) -> std::string {
    if (s.name >= names.size) return std::string();
    std::string n;
    for (uint64_t i = names.offset + s.name; i < names.offset + names.size && b[size_t(i)]; ++i)
      n += char(b[size_t(i)]);
    return n;
  };
  const Section* pipl = nullptr;
  const Section* aete = nullptr;
  for (const Section& s : sections) {
    const std::string n = sectionName(s);
    if (n == ".pipl") pipl = &s;
    if (n == ".aete") aete = &s;
    if (s.type == 11 && s.link < sections.size() && s.entsize >= 24) {  // the dynamic symbols
      const Section& strings = sections[s.link];
      for (uint64_t at = s.offset; at + 24 <= s.offset + s.size; at += s.entsize) {
        const uint32_t nameAt = uint32_t(ReadLe(b, size_t(at), 4));
        const uint8_t infoByte = b[size_t(at + 4)];
        const uint16_t sectionIndex = uint16_t(ReadLe(b, size_t(at + 6), 2));
        if (sectionIndex == 0 || (infoByte >> 4) != 1 || (infoByte & 0xF) != 2) continue;
        std::string n2;
        for (uint64_t i = strings.offset + nameAt; i < strings.offset + strings.size && b[size_t(i)];
             ++i)
          n2 += char(b[size_t(i)]);
        info->exports.push_back(n2);
      }
    }
  }
  if (!pipl) return Fail(error, "the module has no .pipl section: it is not a filter plug-in");
  info->isElf = true;
  info->isDll = true;
  info->isPe32Plus = true;
  if (!DecodePipl(b.data() + pipl->offset, size_t(pipl->size), &info->pipl, error)) return false;
  if (aete) {
    info->hasAete = true;
    if (!DecodeAete(b.data() + aete->offset, size_t(aete->size), &info->aete, error)) return false;
  }
  return true;
}

}  // namespace

bool DescribeModule(std::vector<uint8_t> fileBytes, const std::string& path, ModuleInfo* info,
                    std::string* error) {
  *info = ModuleInfo();
  info->path = path;
  if (fileBytes.size() >= 4 && fileBytes[0] == 0x7F && fileBytes[1] == 'E' &&
      fileBytes[2] == 'L' && fileBytes[3] == 'F')
    return DescribeElfModule(fileBytes, info, error);
  PeImage image;
  if (!ParsePeImage(std::move(fileBytes), &image, error)) return false;
  info->machine = image.machine;
  info->isPe32Plus = image.isPe32Plus;
  info->isDll = image.isDll;
  if (!ListPeExportNames(image, &info->exports, error) ||
      !ListPeImportNames(image, &info->imports, error) ||
      !ListPeResources(image, &info->resources, error))
    return false;

  const PeResource* pipl = PickResource(info->resources, "PIPL", kDefaultResourceId, true);
  if (!pipl) return Fail(error, "the module has no PIPL resource: it is not a filter plug-in");
  info->piplResource = *pipl;
  std::vector<uint8_t> data;
  if (!ReadPeResourceData(image, *pipl, &data, error) ||
      !DecodePipl(data.data(), data.size(), &info->pipl, error))
    return false;

  uint32_t aeteId = kDefaultResourceId;
  if (const PiplProperty* hstm = FindPiplProperty(info->pipl, Code("hstm")))
    if (hstm->valueKind == PiplValueKind::terminology)
      aeteId = uint16_t(hstm->terminology.terminologyId);
  if (const PeResource* aete = PickResource(info->resources, "AETE", aeteId, false)) {
    info->hasAete = true;
    info->aeteResource = *aete;
    if (!ReadPeResourceData(image, *aete, &data, error) ||
        !DecodeAete(data.data(), data.size(), &info->aete, error))
      return false;
  }
  return true;
}

bool DescribeModuleFile(const std::string& path, ModuleInfo* info, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes, error)) return false;
  if (DescribeModule(std::move(bytes), path, info, error)) return true;
  *error = path + ": " + *error;
  return false;
}

// ---- formatting --------------------------------------------------------------------

std::string FourCCText(uint32_t code) {
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8) {
    unsigned char c = uint8_t(code >> shift);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += char(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

std::string ImageModeName(int mode) {
  static const char* const kNames[] = {
      "Bitmap", "Grayscale", "Indexed",   "RGB",    "CMYK",   "HSL",
      "HSB",    "Multichannel", "Duotone", "Lab",   "Gray16", "RGB48",
      "Lab48",  "CMYK64",  "DeepMultichannel", "Duotone16", "RGB96", "Gray32"};
  if (mode >= 0 && mode < int(sizeof kNames / sizeof kNames[0])) return kNames[mode];
  return "mode " + std::to_string(mode);
}

std::string FormatModuleInfoText(const ModuleInfo& info) {
  std::string out;
  out += "Module: " + info.path + "\n";
  char machine[16];
  std::snprintf(machine, sizeof machine, "0x%04x", info.machine);
  if (info.isElf)
    out += "Machine: x86-64 Linux shared object (ELF); resources in sections .pipl and .aete\n";
  else
    out += std::string("Machine: ") + PeMachineName(info.machine) + " (" + machine + "), " +
           (info.isPe32Plus ? "PE32+" : "PE32") + (info.isDll ? " DLL" : " executable") + "\n";
  auto joinNames = [](const std::vector<std::string>& names) {
    std::string s;
    for (const std::string& n : names) s += (s.empty() ? "" : ", ") + n;
    return s.empty() ? std::string("(none)") : s;
  };
  out += "Exports: " + joinNames(info.exports) + "\n";
  out += "Imports: " + joinNames(info.imports) + "\n";
  out += "Resources:\n";
  for (const PeResource& r : info.resources)
    out += "  " + ResourceTypeText(r) + " " + ResourceIdText(r) + ", language " +
           std::to_string(r.language) + ", " + std::to_string(r.size) + " bytes\n";

  const PiplInfo& pipl = info.pipl;
  out += "\nPiPL " + ResourceIdText(info.piplResource) + ", language " +
         std::to_string(info.piplResource.language) + ": prelude " +
         std::to_string(pipl.prelude) + ", list version " + std::to_string(pipl.listVersion) +
         ", " + std::to_string(pipl.properties.size()) + " properties\n";
  for (size_t i = 0; i < pipl.properties.size(); ++i) {
    const PiplProperty& p = pipl.properties[i];
    out += "  " + std::to_string(i + 1) + ". " + QuoteCode(p.vendor) + " " + QuoteCode(p.key) +
           " id " + std::to_string(p.id) + ", length " + std::to_string(p.length) + ": " +
           PiplValueText(p) + "\n";
  }
  if (pipl.trailingBytes) out += "  trailing bytes: " + std::to_string(pipl.trailingBytes) + "\n";

  if (!info.hasAete) return out + "\nAETE: none\n";
  const AeteInfo& a = info.aete;
  out += "\nAETE " + ResourceIdText(info.aeteResource) + ", language " +
         std::to_string(info.aeteResource.language) + ": prelude " + std::to_string(a.prelude) +
         ", version " + std::to_string(a.versionMajor) + "." + std::to_string(a.versionMinor) +
         ", language " + std::to_string(a.language) + ", script " + std::to_string(a.script) +
         ", " + std::to_string(a.suites.size()) + " suites\n";
  for (const AeteSuite& s : a.suites) {
    out += "  Suite " + QuoteText(s.name) + " " + QuoteCode(s.code) + ", level " +
           std::to_string(s.level) + ", version " + std::to_string(s.version) + ": " +
           QuoteText(s.description) + "\n";
    for (const AeteEvent& e : s.events) {
      out += "    Event " + QuoteText(e.name) + " class " + QuoteCode(e.eventClass) + " id " +
             QuoteCode(e.eventId) + ": " + QuoteText(e.description) + "\n";
      out += "      reply " + QuoteCode(e.replyType) + " flags " + HexWord(e.replyFlags) + ": " +
             QuoteText(e.replyDescription) + "\n";
      out += "      direct parameter " + QuoteCode(e.directType) + " flags " +
             HexWord(e.directFlags) + ": " + QuoteText(e.directDescription) + "\n";
      for (const AeteParameter& p : e.parameters)
        out += "      parameter " + QuoteText(p.name) + " key " + QuoteCode(p.key) + " type " +
               QuoteCode(p.type) + " flags " + HexWord(p.flags) + ": " +
               QuoteText(p.description) + "\n";
    }
  }
  out += "  classes " + std::to_string(a.classCount) + ", comparison operators " +
         std::to_string(a.comparisonCount) + "\n";
  if (!a.enumerationsDecoded)
    out += "  enumerations not decoded: class and comparison-operator records are not read\n";
  for (const AeteEnumeration& e : a.enumerations) {
    out += "  Enumeration " + QuoteCode(e.type) + ", " + std::to_string(e.enumerators.size()) +
           " enumerators\n";
    for (const AeteEnumerator& k : e.enumerators)
      out += "    " + QuoteCode(k.code) + " " + QuoteText(k.name) + ": " +
             QuoteText(k.description) + "\n";
  }
  if (a.trailingBytes) out += "  trailing bytes: " + std::to_string(a.trailingBytes) + "\n";
  return out;
}

std::string FormatModuleInfoJson(const ModuleInfo& info) {
  JsonWriter j;
  j.BeginObject();
  j.Key("path");
  j.String(info.path);
  j.Key("machine");
  j.String(PeMachineName(info.machine));
  j.Key("machineCode");
  j.Number(info.machine);
  j.Key("format");
  j.String(info.isPe32Plus ? "PE32+" : "PE32");
  j.Key("dll");
  j.Bool(info.isDll);
  j.Key("exports");
  j.BeginArray();
  for (const std::string& n : info.exports) j.String(n);
  j.EndArray();
  j.Key("imports");
  j.BeginArray();
  for (const std::string& n : info.imports) j.String(n);
  j.EndArray();
  j.Key("resources");
  j.BeginArray();
  for (const PeResource& r : info.resources) {
    j.BeginObject();
    WriteResourceJson(j, r);
    j.EndObject();
  }
  j.EndArray();

  j.Key("pipl");
  j.BeginObject();
  WriteResourceJson(j, info.piplResource);
  j.Key("prelude");
  j.Number(info.pipl.prelude);
  j.Key("listVersion");
  j.Number(info.pipl.listVersion);
  j.Key("properties");
  j.BeginArray();
  for (const PiplProperty& p : info.pipl.properties) {
    j.BeginObject();
    j.Key("vendor");
    j.String(FourCCText(p.vendor));
    j.Key("key");
    j.String(FourCCText(p.key));
    j.Key("id");
    j.Number(p.id);
    j.Key("length");
    j.Number(p.length);
    WritePiplValueJson(j, p);
    j.EndObject();
  }
  j.EndArray();
  j.Key("trailingBytes");
  j.Number(static_cast<long long>(info.pipl.trailingBytes));
  j.EndObject();

  j.Key("aete");
  if (!info.hasAete) {
    j.Null();
  } else {
    const AeteInfo& a = info.aete;
    j.BeginObject();
    WriteResourceJson(j, info.aeteResource);
    j.Key("prelude");
    j.Number(a.prelude);
    j.Key("version");
    j.String(std::to_string(a.versionMajor) + "." + std::to_string(a.versionMinor));
    j.Key("language");
    j.Number(a.language);
    j.Key("script");
    j.Number(a.script);
    j.Key("suites");
    j.BeginArray();
    for (const AeteSuite& s : a.suites) {
      j.BeginObject();
      j.Key("name");
      j.String(s.name);
      j.Key("description");
      j.String(s.description);
      j.Key("code");
      j.String(FourCCText(s.code));
      j.Key("level");
      j.Number(s.level);
      j.Key("version");
      j.Number(s.version);
      j.Key("events");
      j.BeginArray();
      for (const AeteEvent& e : s.events) {
        j.BeginObject();
        j.Key("name");
        j.String(e.name);
        j.Key("description");
        j.String(e.description);
        j.Key("class");
        j.String(FourCCText(e.eventClass));
        j.Key("id");
        j.String(FourCCText(e.eventId));
        j.Key("reply");
        j.BeginObject();
        j.Key("type");
        j.String(FourCCText(e.replyType));
        j.Key("description");
        j.String(e.replyDescription);
        j.Key("flags");
        j.Number(e.replyFlags);
        j.EndObject();
        j.Key("directParameter");
        j.BeginObject();
        j.Key("type");
        j.String(FourCCText(e.directType));
        j.Key("description");
        j.String(e.directDescription);
        j.Key("flags");
        j.Number(e.directFlags);
        j.EndObject();
        j.Key("parameters");
        j.BeginArray();
        for (const AeteParameter& p : e.parameters) {
          j.BeginObject();
          j.Key("name");
          j.String(p.name);
          j.Key("key");
          j.String(FourCCText(p.key));
          j.Key("type");
          j.String(FourCCText(p.type));
          j.Key("description");
          j.String(p.description);
          j.Key("flags");
          j.Number(p.flags);
          j.EndObject();
        }
        j.EndArray();
        j.EndObject();
      }
      j.EndArray();
      j.EndObject();
    }
    j.EndArray();
    j.Key("classCount");
    j.Number(a.classCount);
    j.Key("comparisonCount");
    j.Number(a.comparisonCount);
    j.Key("enumerationsDecoded");
    j.Bool(a.enumerationsDecoded);
    j.Key("enumerations");
    j.BeginArray();
    for (const AeteEnumeration& e : a.enumerations) {
      j.BeginObject();
      j.Key("type");
      j.String(FourCCText(e.type));
      j.Key("enumerators");
      j.BeginArray();
      for (const AeteEnumerator& k : e.enumerators) {
        j.BeginObject();
        j.Key("name");
        j.String(k.name);
        j.Key("code");
        j.String(FourCCText(k.code));
        j.Key("description");
        j.String(k.description);
        j.EndObject();
      }
      j.EndArray();
      j.EndObject();
    }
    j.EndArray();
    j.Key("trailingBytes");
    j.Number(static_cast<long long>(a.trailingBytes));
    j.EndObject();
  }
  j.EndObject();
  return j.out + "\n";
}
