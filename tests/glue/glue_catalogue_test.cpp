// A few catalogue cases the glue code leans on: codes, failed decodes, names, next mode.
#include "glue/glue_catalogue.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr uint32_t Code(const char* s) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

TEST(GlueCatalogue, CodesRoundTrip) {
  EXPECT_EQ(GlueCodeOf(62, kGlueEnumType), Code("GL62"));
  EXPECT_EQ(GlueCodeOf(1, kGlueEnumType), Code("GL01"));
  EXPECT_EQ(GlueCodeOf(0, kGlueEnumType), kNoCode);
  EXPECT_EQ(GlueCodeOf(70, kGlueEnumType), kNoCode);
  EXPECT_EQ(GlueCodeOf(5, Code("XXty")), kNoCode);
  for (int n = 1; n <= 69; ++n) {
    int decoded = -1;
    EXPECT_TRUE(GlueModeOfCode(kGlueEnumType, GlueCodeOf(n, kGlueEnumType), &decoded));
    EXPECT_EQ(decoded, n);
  }
}

TEST(GlueCatalogue, UnknownCodesFailAndLeaveZero) {
  const uint32_t bad[] = {Code("GL00"), Code("GL70"), Code("GL99"), Code("GL6x"),
                          Code("GL 1"), Code("gl01"), Code("<NO>"), 0u};
  for (uint32_t code : bad) {
    int n = 42;
    EXPECT_FALSE(GlueModeOfCode(kGlueEnumType, code, &n)) << std::hex << code;
    EXPECT_EQ(n, 0);
  }
  int n = 42;
  EXPECT_FALSE(GlueModeOfCode(Code("GLTY"), Code("GL05"), &n));
  EXPECT_EQ(n, 0);
}

TEST(GlueCatalogue, NamesAndNextMode) {
  EXPECT_STREQ(GlueModeName(0), "");
  EXPECT_STREQ(GlueModeName(70), "");
  EXPECT_STREQ(GlueModeName(1), "normal");
  EXPECT_STREQ(GlueModeName(69), "contrast negate");
  EXPECT_EQ(NextGlueMode(69), 1);
  EXPECT_EQ(NextGlueMode(1), 2);
}

}  // namespace
