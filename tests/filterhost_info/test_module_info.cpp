// Tests of the PE reader and the PiPL / AETE decoders on small modules assembled here.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "filterhost/module_info.h"
#include "filterhost/pe_resources.h"

namespace {

typedef std::vector<uint8_t> Bytes;

void Put16(Bytes& b, size_t at, uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
size_t Reserve(Bytes& b, size_t n, size_t align = 4) {
  while (b.size() % align) b.push_back(0);
  size_t at = b.size();
  b.resize(at + n);
  return at;
}
// Appenders for the resource bodies: four-character codes go in as little-endian numbers,
// so their characters appear reversed.
void Add16(Bytes& b, uint32_t v) { Put16(b, b.size(), v); }
void Add32(Bytes& b, uint32_t v) { Put32(b, b.size(), v); }
void AddCode(Bytes& b, const char* c) {
  for (int i = 3; i >= 0; --i) b.push_back(uint8_t(c[i]));
}
void AddPascal(Bytes& b, const std::string& s) {
  b.push_back(uint8_t(s.size()));
  b.insert(b.end(), s.begin(), s.end());
}
void AddText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

// ---- a minimal PE image --------------------------------------------------------------

struct FixtureResource {
  std::string type;
  uint32_t id;
  uint32_t language;
  Bytes data;
};

constexpr uint32_t kSectionRva = 0x1000;
constexpr size_t kSectionFileOffset = 0x200;
constexpr size_t kPeOffset = 0x40;

struct Fixture {
  Bytes file;
  size_t rootEntries = 0;  // file offset of the root directory's first entry
  size_t firstDataEntry = 0;
  size_t exportDirectory = 0;
  size_t optionalHeader = 0;
  size_t sectionHeader = 0;
};

size_t DirectoriesAt(bool pe32Plus) { return pe32Plus ? 112 : 96; }

// One section (".data" at RVA 0x1000, file offset 0x200) holding the resource tree, an
// export directory and an import directory.
Fixture BuildPe(bool pe32Plus, const std::vector<FixtureResource>& resources,
                const std::vector<std::string>& exports = {"PluginMain"},
                const std::vector<std::string>& imports = {"KERNEL32.dll", "USER32.dll"}) {
  Fixture f;
  Bytes s;
  std::map<std::string, std::map<uint32_t, std::map<uint32_t, const Bytes*>>> tree;
  for (const FixtureResource& r : resources) tree[r.type][r.id][r.language] = &r.data;

  size_t root = Reserve(s, 16 + 8 * tree.size());
  Put16(s, root + 12, uint32_t(tree.size()));  // all types are named
  size_t ti = 0;
  for (const auto& type : tree) {
    size_t nameDir = Reserve(s, 16 + 8 * type.second.size());
    Put16(s, nameDir + 14, uint32_t(type.second.size()));
    Put32(s, root + 16 + 8 * ti + 4, 0x80000000u | uint32_t(nameDir));
    size_t ii = 0;
    for (const auto& id : type.second) {
      size_t langDir = Reserve(s, 16 + 8 * id.second.size());
      Put16(s, langDir + 14, uint32_t(id.second.size()));
      Put32(s, nameDir + 16 + 8 * ii, id.first);
      Put32(s, nameDir + 16 + 8 * ii + 4, 0x80000000u | uint32_t(langDir));
      size_t li = 0;
      for (const auto& lang : id.second) {
        size_t entry = Reserve(s, 16);
        if (!f.firstDataEntry) f.firstDataEntry = kSectionFileOffset + entry;
        Put32(s, langDir + 16 + 8 * li, lang.first);
        Put32(s, langDir + 16 + 8 * li + 4, uint32_t(entry));
        size_t data = Reserve(s, lang.second->size());
        std::memcpy(s.data() + data, lang.second->data(), lang.second->size());
        Put32(s, entry, kSectionRva + uint32_t(data));
        Put32(s, entry + 4, uint32_t(lang.second->size()));
        ++li;
      }
      ++ii;
    }
    size_t name = Reserve(s, 2 + 2 * type.first.size(), 2);
    Put16(s, name, uint32_t(type.first.size()));
    for (size_t k = 0; k < type.first.size(); ++k)
      Put16(s, name + 2 + 2 * k, uint8_t(type.first[k]));
    Put32(s, root + 16 + 8 * ti, 0x80000000u | uint32_t(name));
    ++ti;
  }
  size_t resourceSize = s.size();

  auto addString = [&](const std::string& text) {
    size_t at = Reserve(s, text.size() + 1, 1);
    std::memcpy(s.data() + at, text.data(), text.size());
    return kSectionRva + uint32_t(at);
  };
  size_t exportDir = Reserve(s, 40);
  Put32(s, exportDir + 12, addString("fixture.8bf"));
  Put32(s, exportDir + 16, 1);
  Put32(s, exportDir + 20, uint32_t(exports.size()));
  Put32(s, exportDir + 24, uint32_t(exports.size()));
  std::vector<uint32_t> nameRvas;
  for (const std::string& e : exports) nameRvas.push_back(addString(e));
  size_t functions = Reserve(s, 4 * exports.size());
  size_t names = Reserve(s, 4 * exports.size());
  size_t ordinals = Reserve(s, 2 * exports.size());
  for (size_t i = 0; i < exports.size(); ++i) {
    Put32(s, functions + 4 * i, kSectionRva);
    Put32(s, names + 4 * i, nameRvas[i]);
    Put16(s, ordinals + 2 * i, uint32_t(i));
  }
  Put32(s, exportDir + 28, kSectionRva + uint32_t(functions));
  Put32(s, exportDir + 32, kSectionRva + uint32_t(names));
  Put32(s, exportDir + 36, kSectionRva + uint32_t(ordinals));
  size_t exportSize = s.size() - exportDir;

  size_t importDir = Reserve(s, 20 * (imports.size() + 1));
  for (size_t i = 0; i < imports.size(); ++i)
    Put32(s, importDir + 20 * i + 12, addString(imports[i]));
  size_t importSize = 20 * (imports.size() + 1);

  Bytes& b = f.file;
  b.assign(kSectionFileOffset, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, kPeOffset);
  std::memcpy(&b[kPeOffset], "PE\0\0", 4);
  size_t optionalSize = DirectoriesAt(pe32Plus) + 16 * 8;
  Put16(b, kPeOffset + 4, pe32Plus ? kPeMachineAmd64 : kPeMachineI386);
  Put16(b, kPeOffset + 6, 1);
  Put16(b, kPeOffset + 20, uint32_t(optionalSize));
  Put16(b, kPeOffset + 22, pe32Plus ? 0x2022 : 0x2102);
  f.optionalHeader = kPeOffset + 24;
  Put16(b, f.optionalHeader, pe32Plus ? 0x20B : 0x10B);
  Put32(b, f.optionalHeader + DirectoriesAt(pe32Plus) - 4, 16);
  size_t dirs = f.optionalHeader + DirectoriesAt(pe32Plus);
  Put32(b, dirs, kSectionRva + uint32_t(exportDir));
  Put32(b, dirs + 4, uint32_t(exportSize));
  Put32(b, dirs + 8, kSectionRva + uint32_t(importDir));
  Put32(b, dirs + 12, uint32_t(importSize));
  if (!resources.empty()) {
    Put32(b, dirs + 16, kSectionRva);
    Put32(b, dirs + 20, uint32_t(resourceSize));
  }
  f.sectionHeader = f.optionalHeader + optionalSize;
  std::memcpy(&b[f.sectionHeader], ".data", 5);
  size_t rawSize = (s.size() + 0x1FF) & ~size_t(0x1FF);
  Put32(b, f.sectionHeader + 8, uint32_t(s.size()));
  Put32(b, f.sectionHeader + 12, kSectionRva);
  Put32(b, f.sectionHeader + 16, uint32_t(rawSize));
  Put32(b, f.sectionHeader + 20, kSectionFileOffset);
  s.resize(rawSize, 0);
  b.insert(b.end(), s.begin(), s.end());
  f.rootEntries = kSectionFileOffset + 16;
  f.exportDirectory = kSectionFileOffset + exportDir;
  return f;
}

// ---- resource bodies written by hand from the published layouts ------------------------

void AddProperty(Bytes& list, const char* key, const Bytes& data, bool padLength = true) {
  AddCode(list, "8BIM");
  AddCode(list, key);
  Add32(list, 0);
  size_t padded = (data.size() + 3) & ~size_t(3);
  Add32(list, uint32_t(padLength ? padded : data.size()));
  list.insert(list.end(), data.begin(), data.end());
  list.resize(list.size() + padded - data.size(), 0);
}

Bytes SamplePipl() {
  // Prelude 1, list version 0, 9 properties, then 'kind' = '8BFM' exactly as a host reads it.
  Bytes p = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00,
             0x4D, 0x49, 0x42, 0x38, 0x64, 0x6E, 0x69, 0x6B, 0x00, 0x00, 0x00, 0x00,
             0x04, 0x00, 0x00, 0x00, 0x4D, 0x46, 0x42, 0x38};
  Bytes name;
  AddPascal(name, "Velvet Hue...");
  AddProperty(p, "name", name);
  Bytes category;
  AddPascal(category, "Tallowmere");
  AddProperty(p, "catg", category, false);  // length without the padding: 11
  AddProperty(p, "vers", {0x00, 0x00, 0x04, 0x00});
  AddProperty(p, "8664", {'P', 'l', 'u', 'g', 'i', 'n', 'M', 'a', 'i', 'n', 0});
  Bytes hstm;
  Add32(hstm, 0);
  AddCode(hstm, "TMVH");
  AddCode(hstm, "TMVH");
  Add16(hstm, 16000);
  AddText(hstm, std::string("Tallowmere Velvet Hue", 22));
  AddProperty(p, "hstm", hstm);
  AddProperty(p, "mode", {0x50, 0x00, 0x80});
  Bytes fici;
  for (int i = 0; i < 7; ++i) fici.insert(fici.end(), {2, 1, uint8_t(i == 0 ? 1 : 3), 0});
  AddProperty(p, "fici", fici);
  AddProperty(p, "prty", {0x07, 0x00, 0x00, 0x00});
  return p;
}

Bytes SampleAete() {
  Bytes a = {0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
  AddPascal(a, "Tallowmere");
  AddPascal(a, "Velvet Hue");
  AddCode(a, "TMVH");
  Add16(a, 1);
  Add16(a, 1);
  Add16(a, 1);  // one event
  AddPascal(a, "Velvet Hue");
  AddPascal(a, "Changes HSB color");
  AddCode(a, "TMVH");
  AddCode(a, "TMVH");
  AddCode(a, "null");
  AddPascal(a, "");
  Add16(a, 0);
  AddCode(a, "#ImR");
  AddPascal(a, "");
  Add16(a, 0xB000);
  Add16(a, 2);  // parameters
  AddPascal(a, "glue");
  AddCode(a, "GLUE");
  AddCode(a, "GLty");
  AddPascal(a, "glue");
  Add16(a, 0xA000);
  AddPascal(a, "gamma");
  AddCode(a, "0001");
  AddCode(a, "long");
  AddPascal(a, "gamma");
  Add16(a, 0x8000);
  Add16(a, 0);  // classes
  Add16(a, 0);  // comparison operators
  Add16(a, 1);  // enumerations
  AddCode(a, "GLty");
  Add16(a, 2);
  AddPascal(a, "normal");
  AddCode(a, "GL01");
  AddPascal(a, "normal");
  AddPascal(a, "multiply");
  AddCode(a, "GL09");
  AddPascal(a, "multiply");
  return a;
}

std::vector<FixtureResource> SampleResources() {
  return {{"PIPL", 16000, 1033, SamplePipl()}, {"AETE", 16000, 1033, SampleAete()}};
}

constexpr uint32_t C(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

// ---- PE reader -----------------------------------------------------------------------

class PeReaderTest : public ::testing::TestWithParam<bool> {};

TEST_P(PeReaderTest, ReadsHeadersExportsImportsAndResources) {
  bool pe32Plus = GetParam();
  Fixture f = BuildPe(pe32Plus, SampleResources());
  PeImage image;
  std::string error;
  ASSERT_TRUE(ParsePeImage(f.file, &image, &error)) << error;
  EXPECT_EQ(image.machine, pe32Plus ? kPeMachineAmd64 : kPeMachineI386);
  EXPECT_EQ(image.isPe32Plus, pe32Plus);
  EXPECT_TRUE(image.isDll);

  std::vector<std::string> names;
  ASSERT_TRUE(ListPeExportNames(image, &names, &error)) << error;
  EXPECT_EQ(names, std::vector<std::string>({"PluginMain"}));
  ASSERT_TRUE(ListPeImportNames(image, &names, &error)) << error;
  EXPECT_EQ(names, std::vector<std::string>({"KERNEL32.dll", "USER32.dll"}));

  std::vector<PeResource> resources;
  ASSERT_TRUE(ListPeResources(image, &resources, &error)) << error;
  ASSERT_EQ(resources.size(), 2u);
  EXPECT_EQ(resources[0].typeName, "AETE");
  EXPECT_EQ(resources[1].typeName, "PIPL");
  EXPECT_EQ(resources[1].id, 16000u);
  EXPECT_EQ(resources[1].language, 1033u);

  // Type names match without regard to case; id and language must match exactly.
  Bytes data;
  EXPECT_EQ(FindPeResource(image, "pIpL", 16000, 1033, &data, &error), PeLookup::found);
  EXPECT_EQ(data, SamplePipl());
  EXPECT_EQ(FindPeResource(image, "PIPL", 16000, 1031, &data, &error), PeLookup::notFound);
  EXPECT_EQ(FindPeResource(image, "PIPL", 16001, 1033, &data, &error), PeLookup::notFound);
  EXPECT_EQ(FindPeResource(image, "PIPLX", 16000, 1033, &data, &error), PeLookup::notFound);
}

INSTANTIATE_TEST_SUITE_P(Pe32AndPe32Plus, PeReaderTest, ::testing::Bool());

TEST(PeReader, CorruptOrForeignFilesGiveClearErrors) {
  struct Case {
    const char* what;
    void (*corrupt)(Fixture& f);
    const char* expected;
  };
  const Case cases[] = {
      {"not MZ", [](Fixture& f) { f.file[0] = 'X'; }, "no 'MZ' header"},
      {"text file", [](Fixture& f) { f.file.assign(10, 'a'); }, "no 'MZ' header"},
      {"PE offset past end", [](Fixture& f) { Put32(f.file, 0x3C, 0x7FFFFFF0); },
       "PE header offset 0x7ffffff0"},
      {"no PE signature", [](Fixture& f) { f.file[kPeOffset + 1] = 'X'; }, "no 'PE' signature"},
      {"bad optional magic", [](Fixture& f) { Put16(f.file, f.optionalHeader, 0x107); },
       "optional header magic 0x107"},
      {"section past end", [](Fixture& f) { Put32(f.file, f.sectionHeader + 16, 0x100000); },
       "runs past the end of the file"},
      {"truncated", [](Fixture& f) { f.file.resize(f.file.size() - 100); },
       "runs past the end of the file"},
      {"resource RVA outside sections",
       [](Fixture& f) { Put32(f.file, f.optionalHeader + 96 + 16, 0x90000); },
       "resource directory at RVA 0x90000 lies outside every section"},
      {"resource loop",
       [](Fixture& f) { Put32(f.file, f.rootEntries + 4, 0x80000000u); }, "loops back"},
      {"resource name outside",
       [](Fixture& f) { Put32(f.file, f.rootEntries, 0x80000000u | 0x7FFFFF00u); },
       "resource name"},
      {"resource data too long",
       [](Fixture& f) { Put32(f.file, f.firstDataEntry + 4, 0x7FFFFFFF); },
       "resource data at RVA"},
      {"export names past section",
       [](Fixture& f) { Put32(f.file, f.exportDirectory + 24, 0x40000000); },
       "export name table"},
      {"no resources at all",
       [](Fixture& f) { Put32(f.file, f.optionalHeader + 96 + 16, 0); }, "no PIPL resource"},
  };
  for (const Case& c : cases) {
    Fixture f = BuildPe(false, SampleResources());
    c.corrupt(f);
    ModuleInfo info;
    std::string error;
    EXPECT_FALSE(DescribeModule(f.file, "x.8bf", &info, &error)) << c.what;
    EXPECT_NE(error.find(c.expected), std::string::npos) << c.what << ": " << error;
  }
}

TEST(PeReader, SurvivesEveryTruncationAndRandomDamage) {
  Fixture f = BuildPe(true, SampleResources());
  ModuleInfo info;
  std::string error;
  ASSERT_TRUE(DescribeModule(f.file, "x", &info, &error)) << error;
  for (size_t n = 0; n < f.file.size(); ++n) {
    Bytes cut(f.file.begin(), f.file.begin() + n);
    error.clear();
    EXPECT_FALSE(DescribeModule(cut, "x", &info, &error)) << n;
    EXPECT_FALSE(error.empty()) << n;
  }
  // Damage in the headers and the tree must end in a result, never a crash or a hang.
  std::mt19937 random(1234);
  size_t treeEnd = kSectionFileOffset + 0x100;
  for (int trial = 0; trial < 3000; ++trial) {
    Bytes damaged = f.file;
    for (int k = 0; k < 4; ++k)
      damaged[random() % treeEnd] = uint8_t(random());
    error.clear();
    if (!DescribeModule(damaged, "x", &info, &error)) {
      EXPECT_FALSE(error.empty());
    }
  }
}

// ---- PiPL ----------------------------------------------------------------------------

TEST(Pipl, DecodesEveryKnownProperty) {
  Bytes bytes = SamplePipl();
  PiplInfo pipl;
  std::string error;
  ASSERT_TRUE(DecodePipl(bytes.data(), bytes.size(), &pipl, &error)) << error;
  EXPECT_EQ(pipl.prelude, 1);
  EXPECT_EQ(pipl.listVersion, 0);
  EXPECT_EQ(pipl.trailingBytes, 0u);
  ASSERT_EQ(pipl.properties.size(), 9u);
  EXPECT_EQ(pipl.properties[0].vendor, C("8BIM"));
  EXPECT_EQ(pipl.properties[0].key, C("kind"));
  EXPECT_EQ(pipl.properties[0].code, C("8BFM"));
  EXPECT_EQ(FindPiplProperty(pipl, C("name"))->text, "Velvet Hue...");
  const PiplProperty* category = FindPiplProperty(pipl, C("catg"));
  EXPECT_EQ(category->length, 11);  // unpadded length still reaches the next property
  EXPECT_EQ(category->text, "Tallowmere");
  const PiplProperty* version = FindPiplProperty(pipl, C("vers"));
  EXPECT_EQ(version->versionMajor, 4);
  EXPECT_EQ(version->versionMinor, 0);
  EXPECT_EQ(FindPiplProperty(pipl, C("8664"))->text, "PluginMain");
  const PiplTerminology& t = FindPiplProperty(pipl, C("hstm"))->terminology;
  EXPECT_EQ(t.version, 0);
  EXPECT_EQ(t.classId, C("TMVH"));
  EXPECT_EQ(t.eventId, C("TMVH"));
  EXPECT_EQ(t.terminologyId, 16000);
  EXPECT_EQ(t.scope, "Tallowmere Velvet Hue");
  EXPECT_EQ(FindPiplProperty(pipl, C("mode"))->modes, std::vector<int>({1, 3, 16}));
  const PiplProperty* fici = FindPiplProperty(pipl, C("fici"));
  ASSERT_EQ(fici->filterCases.size(), 7u);
  EXPECT_EQ(fici->filterCases[0].inputHandling, 2);
  EXPECT_EQ(fici->filterCases[0].flags1, 1);
  EXPECT_EQ(fici->filterCases[6].flags1, 3);
  const PiplProperty* priority = FindPiplProperty(pipl, C("prty"));
  EXPECT_EQ(priority->valueKind, PiplValueKind::raw);
  EXPECT_EQ(priority->data, Bytes({7, 0, 0, 0}));
}

TEST(Pipl, MalformedListsGiveClearErrors) {
  auto header = [](uint32_t count) {
    Bytes b = {0x01, 0x00, 0, 0, 0, 0};
    Add32(b, count);
    return b;
  };
  auto single = [&](const char* key, const Bytes& data) {
    Bytes b = header(1);
    AddProperty(b, key, data, false);
    return b;
  };
  Bytes lengthPastEnd = header(1);
  AddProperty(lengthPastEnd, "kind", {'M', 'F', 'B', '8'});
  Put32(lengthPastEnd, 10 + 12, 400);
  struct Case {
    const char* what;
    Bytes bytes;
    const char* expected;
  };
  const Case cases[] = {
      {"short header", {0x01, 0x00, 0, 0}, "header needs 10"},
      {"count too large", header(1000), "property count 1000 does not fit"},
      {"negative count", header(0xFFFFFFFF), "property count -1"},
      {"length past end", lengthPastEnd, "length 400 at offset 22 runs past the end"},
      {"Pascal count past property", single("name", {20, 'a', 'b'}), "string of 20 characters"},
      {"entry point unterminated", single("wx86", {'P', 'l', 'u', 'g'}), "no terminator"},
      {"short terminology", single("hstm", Bytes(12, 0)), "needs 15 bytes"},
      {"short filter cases", single("fici", Bytes(24, 1)), "needs 28 bytes"},
      {"short kind", single("kind", {'M', 'F'}), "('kind'): the value needs 4 bytes"},
  };
  for (const Case& c : cases) {
    PiplInfo pipl;
    std::string error;
    EXPECT_FALSE(DecodePipl(c.bytes.data(), c.bytes.size(), &pipl, &error)) << c.what;
    EXPECT_NE(error.find(c.expected), std::string::npos) << c.what << ": " << error;
  }
}

// ---- AETE ----------------------------------------------------------------------------

TEST(Aete, DecodesSuitesEventsParametersAndEnumerations) {
  Bytes bytes = SampleAete();
  AeteInfo aete;
  std::string error;
  ASSERT_TRUE(DecodeAete(bytes.data(), bytes.size(), &aete, &error)) << error;
  EXPECT_EQ(aete.prelude, 1);
  EXPECT_EQ(aete.versionMajor, 1);
  EXPECT_EQ(aete.versionMinor, 0);
  ASSERT_EQ(aete.suites.size(), 1u);
  const AeteSuite& suite = aete.suites[0];
  EXPECT_EQ(suite.name, "Tallowmere");
  EXPECT_EQ(suite.description, "Velvet Hue");
  EXPECT_EQ(suite.code, C("TMVH"));
  EXPECT_EQ(suite.level, 1);
  ASSERT_EQ(suite.events.size(), 1u);
  const AeteEvent& event = suite.events[0];
  EXPECT_EQ(event.description, "Changes HSB color");
  EXPECT_EQ(event.replyType, C("null"));
  EXPECT_EQ(event.directType, C("#ImR"));
  EXPECT_EQ(event.directFlags, 0xB000);
  ASSERT_EQ(event.parameters.size(), 2u);
  EXPECT_EQ(event.parameters[0].key, C("GLUE"));
  EXPECT_EQ(event.parameters[0].type, C("GLty"));
  EXPECT_EQ(event.parameters[0].flags, 0xA000);
  EXPECT_EQ(event.parameters[1].name, "gamma");
  EXPECT_EQ(event.parameters[1].type, C("long"));
  EXPECT_TRUE(aete.enumerationsDecoded);
  ASSERT_EQ(aete.enumerations.size(), 1u);
  ASSERT_EQ(aete.enumerations[0].enumerators.size(), 2u);
  EXPECT_EQ(aete.enumerations[0].enumerators[1].name, "multiply");
  EXPECT_EQ(aete.enumerations[0].enumerators[1].code, C("GL09"));
  EXPECT_EQ(aete.trailingBytes, 0u);
}

TEST(Aete, EveryTruncationAndNegativeCountIsAnError) {
  Bytes bytes = SampleAete();
  AeteInfo aete;
  std::string error;
  for (size_t n = 0; n < bytes.size(); ++n) {
    error.clear();
    EXPECT_FALSE(DecodeAete(bytes.data(), n, &aete, &error)) << n;
    EXPECT_NE(error.find("AETE: truncated at offset"), std::string::npos) << error;
  }
  Bytes negative = bytes;
  Put16(negative, 8, 0xFFFF);  // suite count
  EXPECT_FALSE(DecodeAete(negative.data(), negative.size(), &aete, &error));
  EXPECT_NE(error.find("negative suite count -1"), std::string::npos) << error;
}

// ---- the whole module and its reports --------------------------------------------------

TEST(ModuleInfo, PrefersUsEnglishPiplAndFindsAeteThroughTerminology) {
  Bytes otherPipl = SamplePipl();
  Put16(otherPipl, 0, 7);  // marks the copy that must not be chosen
  Bytes aete = SampleAete();
  std::vector<FixtureResource> resources = {
      {"PIPL", 16000, 1031, otherPipl}, {"PIPL", 16000, 1033, SamplePipl()},
      {"AETE", 16000, 1031, aete}};
  Fixture f = BuildPe(true, resources);
  ModuleInfo info;
  std::string error;
  ASSERT_TRUE(DescribeModule(f.file, "m.8bf", &info, &error)) << error;
  EXPECT_EQ(info.piplResource.language, 1033u);
  EXPECT_EQ(info.pipl.prelude, 1);
  ASSERT_TRUE(info.hasAete);
  EXPECT_EQ(info.aeteResource.language, 1031u);

  // Without an AETE the module is still described.
  f = BuildPe(false, {{"PIPL", 16000, 1033, SamplePipl()}});
  ASSERT_TRUE(DescribeModule(f.file, "m.8bf", &info, &error)) << error;
  EXPECT_FALSE(info.hasAete);
  EXPECT_NE(FormatModuleInfoText(info).find("AETE: none"), std::string::npos);
}

TEST(ModuleInfo, ReportsShowCodesAsTextAndEscapeJsonStrings) {
  Fixture f = BuildPe(false, SampleResources());
  ModuleInfo info;
  std::string error;
  ASSERT_TRUE(DescribeModule(f.file, "m.8bf", &info, &error)) << error;
  std::string text = FormatModuleInfoText(info);
  EXPECT_NE(text.find("Machine: i386 (0x014c), PE32 DLL"), std::string::npos) << text;
  EXPECT_NE(text.find("'8BIM' 'kind' id 0, length 4: '8BFM'"), std::string::npos) << text;
  EXPECT_NE(text.find("Grayscale (1), RGB (3), RGB96 (16)"), std::string::npos) << text;
  EXPECT_NE(text.find("parameter \"glue\" key 'GLUE' type 'GLty' flags 0xA000"),
            std::string::npos)
      << text;

  info.path = "a\"b\\c\n\x01\xC3\xA9\xFF";
  std::string json = FormatModuleInfoJson(info);
  EXPECT_NE(json.find("\"path\": \"a\\\"b\\\\c\\n\\u0001\xC3\xA9\\u00ff\""), std::string::npos)
      << json;
  EXPECT_NE(json.find("\"key\": \"hstm\""), std::string::npos);
  EXPECT_NE(json.find("\"value\": [\n"), std::string::npos);
  EXPECT_EQ(FourCCText(0x41420A43), "AB\\x0AC");
}

}  // namespace
