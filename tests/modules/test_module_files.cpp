// The shipped module files as a host sees them before loading anything: machine type,
// the undecorated PluginMain export, imports limited to system DLLs, and the PiPL and
// AETE resources decoded by the independent reader and compared with what each
// product must declare.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "filterhost/module_info.h"

namespace {

constexpr uint32_t K(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

struct ModuleCase {
  std::string label;
  std::string file;  // file name inside its folder
  const char* folderVariable;  // environment variable naming the folder; null: native build
  bool velvetHue;
  int bits;  // 32, 64, or 0 for the native shared object
};

std::vector<ModuleCase> Cases() {
  return {
      {"VelvetHue32", "Velvet Hue-168 32bit.8bf", "TALLOW_WIN32_MODULES", true, 32},
      {"GrainWreck32", "GrainWreck-168 32bit.8bf", "TALLOW_WIN32_MODULES", false, 32},
      {"GrainWreck64", "Grain Wreck-168 64bit.8bf", "TALLOW_WIN64_MODULES", false, 64},
      {"VelvetHue64", "Velvet Hue-168 64bit.8bf", "TALLOW_WIN64_MODULES", true, 64},
      {"VelvetHueLinux", "Velvet Hue-168.so", nullptr, true, 0},
      {"GrainWreckLinux", "Grain Wreck-168.so", nullptr, false, 0},
  };
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class ModuleFileTest : public ::testing::TestWithParam<ModuleCase> {
 protected:
  void SetUp() override {
    const ModuleCase& c = GetParam();
    std::string folder = TALLOW_MODULE_DIR;
    if (c.folderVariable) {
      const char* value = std::getenv(c.folderVariable);
      if (!value || !*value)
        GTEST_SKIP() << c.folderVariable << " is not set: the Windows modules were not built "
                     << "in this run (test.sh sets it)";
      folder = value;
    }
    std::string error;
    ASSERT_TRUE(DescribeModuleFile(folder + "/" + c.file, &info, &error)) << error;
  }

  const PiplProperty& Property(size_t index) {
    static PiplProperty none;
    if (index >= info.pipl.properties.size()) {
      ADD_FAILURE() << "no property " << index;
      return none;
    }
    return info.pipl.properties[index];
  }

  ModuleInfo info;
};

TEST_P(ModuleFileTest, ExportsPluginMainAndNeedsOnlySystemDlls) {
  const ModuleCase& c = GetParam();
  EXPECT_EQ(info.exports, std::vector<std::string>{"PluginMain"});
  if (c.bits == 0) {
    EXPECT_TRUE(info.isElf);
    return;
  }
  EXPECT_EQ(info.machine, c.bits == 32 ? kPeMachineI386 : kPeMachineAmd64);
  EXPECT_EQ(info.isPe32Plus, c.bits == 64);
  EXPECT_TRUE(info.isDll);
  // Everything else is linked in statically: a clean Windows has these and nothing more.
  const std::set<std::string> system = {
      "kernel32.dll", "user32.dll",   "gdi32.dll",    "shell32.dll", "msvcrt.dll",
      "advapi32.dll", "comdlg32.dll", "comctl32.dll", "ole32.dll",   "shlwapi.dll"};
  for (const std::string& dll : info.imports)
    EXPECT_TRUE(system.count(Lower(dll))) << "imports " << dll;
}

TEST_P(ModuleFileTest, PropertyListDeclaresTheFilter) {
  const ModuleCase& c = GetParam();
  const PiplInfo& pipl = info.pipl;
  EXPECT_EQ(pipl.prelude, 1);
  EXPECT_EQ(pipl.listVersion, 0);
  EXPECT_EQ(pipl.trailingBytes, 0u);
  ASSERT_EQ(pipl.properties.size(), 10u);
  const uint32_t keys[] = {K("kind"), K("name"), K("catg"), K("vers"),
                           c.bits == 32 ? K("wx86") : K("8664"),
                           K("hstm"), K("mode"), K("enbl"), K("enbl"), K("fici")};
  for (size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(Property(i).vendor, K("8BIM")) << i;
    EXPECT_EQ(Property(i).key, keys[i]) << i;
    EXPECT_EQ(Property(i).id, 0) << i;
    EXPECT_EQ(Property(i).length % 4, 0) << "padded length expected, property " << i;
  }
  EXPECT_EQ(Property(0).code, K("8BFM"));
  EXPECT_EQ(Property(1).text, c.velvetHue ? "Velvet Hue..." : "Grain Wreck...");
  EXPECT_EQ(Property(2).text, "Tallowmere");
  EXPECT_EQ(Property(3).versionMajor, 4);
  EXPECT_EQ(Property(3).versionMinor, 0);
  EXPECT_EQ(Property(4).text, "PluginMain");

  const PiplTerminology& t = Property(5).terminology;
  const uint32_t suite = c.velvetHue ? K("TMVH") : K("Tmgw");
  EXPECT_EQ(t.version, 0);
  EXPECT_EQ(t.classId, suite);
  EXPECT_EQ(t.eventId, suite);
  EXPECT_EQ(t.terminologyId, 16000);
  EXPECT_EQ(t.scope, c.velvetHue ? "Tallowmere Velvet Hue" : "Tallowmere Grain Wreck");

  const std::vector<int> modes = c.velvetHue ? std::vector<int>{3} : std::vector<int>{1, 3};
  EXPECT_EQ(Property(6).modes, modes);
  ASSERT_GE(Property(6).data.size(), 2u);
  EXPECT_EQ(Property(6).data[0], c.velvetHue ? 0x10 : 0x50);
  EXPECT_EQ(Property(6).data[1], 0x00);

  EXPECT_EQ(Property(7).text,
            c.velvetHue ? "in (PSHOP_ImageMode, RGBMode,  RGB48Mode) "
                        : "in (PSHOP_ImageMode, RGBMode, GrayScaleMode, RGB48Mode, Gray16Mode) ");
  EXPECT_EQ(Property(8).text,
            "( in (PSHOP_ImageMode, RGBMode, GrayScaleMode, RGB48Mode, Gray16Mode, Gray32Mode, "
            "RGB96Mode) ) && (PSHOP_ImageMode !=  MultichannelMode) ");

  const std::vector<FilterCaseInfo>& cases = Property(9).filterCases;
  ASSERT_EQ(cases.size(), 7u);
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(cases[i].inputHandling, c.velvetHue ? 1 : 2) << "case " << i + 1;
    EXPECT_EQ(cases[i].outputHandling, 1) << "case " << i + 1;
    EXPECT_EQ(cases[i].flags1, c.velvetHue || i == 0 ? 1 : 3) << "case " << i + 1;
    EXPECT_EQ(cases[i].flags2, 0) << "case " << i + 1;
  }
}

TEST_P(ModuleFileTest, DictionaryNamesTheEventAndParameters) {
  const ModuleCase& c = GetParam();
  ASSERT_TRUE(info.hasAete);
  const AeteInfo& aete = info.aete;
  EXPECT_EQ(aete.prelude, 1);
  EXPECT_EQ(aete.versionMajor, 1);
  EXPECT_EQ(aete.versionMinor, 0);
  EXPECT_EQ(aete.language, 0);
  EXPECT_EQ(aete.script, 0);
  EXPECT_EQ(aete.trailingBytes, 0u);
  ASSERT_EQ(aete.suites.size(), 1u);
  const AeteSuite& suite = aete.suites[0];
  const char* product = c.velvetHue ? "Velvet Hue" : "Grain Wreck";
  const uint32_t code = c.velvetHue ? K("TMVH") : K("Tmgw");
  EXPECT_EQ(suite.name, "Tallowmere");
  EXPECT_EQ(suite.description, product);
  EXPECT_EQ(suite.code, code);
  EXPECT_EQ(suite.level, 1);
  EXPECT_EQ(suite.version, 1);
  ASSERT_EQ(suite.events.size(), 1u);
  const AeteEvent& event = suite.events[0];
  EXPECT_EQ(event.name, product);
  EXPECT_EQ(event.description, c.velvetHue ? "Changes HSB color with realistic results"
                                           : "Degrades images straight back to the 1980s");
  EXPECT_EQ(event.eventClass, code);
  EXPECT_EQ(event.eventId, code);
  EXPECT_EQ(event.replyType, K("null"));
  EXPECT_EQ(event.replyDescription, "");
  EXPECT_EQ(event.replyFlags, 0);
  EXPECT_EQ(event.directType, K("#ImR"));
  EXPECT_EQ(event.directDescription, "");
  EXPECT_EQ(event.directFlags, 0xB000);

  struct Param {
    const char* name;
    uint32_t key, type;
    uint16_t flags;
  };
  const std::vector<Param> expected =
      c.velvetHue ? std::vector<Param>{{"glue", K("GLUE"), K("GLty"), 0xA000},
                                       {"gamma", K("0001"), K("long"), 0x8000},
                                       {"hue", K("0002"), K("long"), 0x8000},
                                       {"saturation", K("0003"), K("long"), 0x8000},
                                       {"luminance", K("0004"), K("long"), 0x8000},
                                       {"vibrance", K("0009"), K("long"), 0x8000}}
                  : std::vector<Param>{{"glue", K("GLUE"), K("GLty"), 0xA000},
                                       {"colors", K("GWky"), K("GWty"), 0xA000},
                                       {"radius", K("0003"), K("long"), 0x8000},
                                       {"coarseness", K("0004"), K("long"), 0x8000},
                                       {"range", K("0005"), K("long"), 0x8000},
                                       {"sharpen", K("0006"), K("long"), 0x8000}};
  ASSERT_EQ(event.parameters.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const AeteParameter& p = event.parameters[i];
    EXPECT_EQ(p.name, expected[i].name);
    EXPECT_EQ(p.description, expected[i].name);
    EXPECT_EQ(p.key, expected[i].key) << p.name;
    EXPECT_EQ(p.type, expected[i].type) << p.name;
    EXPECT_EQ(p.flags, expected[i].flags) << p.name;
  }

  EXPECT_EQ(aete.classCount, 0);
  EXPECT_EQ(aete.comparisonCount, 0);
  ASSERT_TRUE(aete.enumerationsDecoded);
  ASSERT_EQ(aete.enumerations.size(), c.velvetHue ? 1u : 2u);
  if (!c.velvetHue) {
    const AeteEnumeration& colors = aete.enumerations[0];
    EXPECT_EQ(colors.type, K("GWty"));
    ASSERT_EQ(colors.enumerators.size(), 3u);
    const char* names[] = {"black/white", "8 colors", "greys"};
    const uint32_t codes[] = {K("GW01"), K("GW02"), K("GW03")};
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(colors.enumerators[i].name, names[i]);
      EXPECT_EQ(colors.enumerators[i].description, names[i]);
      EXPECT_EQ(colors.enumerators[i].code, codes[i]);
    }
  }
  const AeteEnumeration& glue = aete.enumerations.back();
  EXPECT_EQ(glue.type, K("GLty"));
  ASSERT_EQ(glue.enumerators.size(), 61u);
  // Spot checks by position, and the codes' shape everywhere.
  struct Spot {
    size_t index;
    const char* name;
    uint32_t code;
  };
  for (Spot s : {Spot{0, "normal", K("GL01")}, Spot{1, "procedural +", K("GL02")},
                 Spot{8, "multiply", K("GL09")}, Spot{25, "harsh diff", K("GL26")},
                 Spot{58, "sinister", K("GL59")}, Spot{59, "screendim", K("GL62")},
                 Spot{60, "starbright", K("GL63")}}) {
    EXPECT_EQ(glue.enumerators[s.index].name, s.name);
    EXPECT_EQ(glue.enumerators[s.index].description, s.name);
    EXPECT_EQ(glue.enumerators[s.index].code, s.code);
  }
  std::set<uint32_t> codes;
  for (size_t i = 0; i < glue.enumerators.size(); ++i) {
    const uint32_t code = glue.enumerators[i].code;
    EXPECT_TRUE(codes.insert(code).second) << "duplicate " << FourCCText(code);
    const int mode = i < 59 ? int(i) + 1 : int(i) + 3;
    EXPECT_EQ(code, K("GL00") + uint32_t(mode / 10 * 256 + mode % 10)) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Shipped, ModuleFileTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<ModuleCase>& info) {
                           return info.param.label;
                         });

}  // namespace
