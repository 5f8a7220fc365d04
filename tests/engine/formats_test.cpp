#include "engine/Formats.h"

#include <gtest/gtest.h>

#include "engine/RunState.h"

namespace dsc {
namespace {

TEST(Formats, NamesAndCodesRoundTrip) {
  for (int code = 0; code < kFormatCount; ++code) {
    if (code == 6 || code == 17 || code == 38 || code == 39) continue;
    std::string name = FormatNameFromCode(static_cast<int16_t>(code));
    EXPECT_EQ(FormatCodeFromName(name), code) << name;
    EXPECT_EQ(FormatNameFromCode(static_cast<int16_t>(code + 512)), name);
    EXPECT_EQ(FormatElementSize(static_cast<int16_t>(code)),
              FormatElementSize(static_cast<int16_t>(code + 512)));
  }
}

TEST(Formats, NameLookup) {
  struct Case {
    const char* name;
    int code;
  };
  const Case cases[] = {
      {"DOUBLE", 0},   {"DoUbLe", 0},          {" DOUBLE", 255},   {"DOUBLE ", 255},
      {"", 255},       {"INTEGER", 1},         {"FLOAT", 5},       {"TDS", 18},
      {"ADDRESS", 29}, {"FWINDOW", 34},        {"char16", 9},      {"LNGDBL", 255},
      {"NULL", 255},   {"NAME16|CHAR16", 255}, {"DOUBLE\xC9", 255}};
  for (const Case& c : cases) {
    EXPECT_EQ(FormatCodeFromName(c.name), c.code) << '"' << c.name << '"';
    EXPECT_EQ(FullFormatFromName(c.name), c.code + 512) << '"' << c.name << '"';
  }
}

TEST(Formats, CodeLookup) {
  struct Case {
    int16_t code;
    const char* name;
    int16_t size;
  };
  // Both forms, the holes, the edges of the range and the sizes that look wrong but are right.
  const Case cases[] = {
      {0, "DOUBLE", 8},    {512, "DOUBLE", 8},   {552, "DBLDBL", 32}, {40, "DBLDBL", 32},
      {41, "NULL", 0},     {255, "NULL", 0},     {767, "NULL", 0},    {553, "NULL", 0},
      {-1, "NULL", 0},     {-32768, "NULL", 0},  {511, "NULL", 0},    {521, "NAME16", 16},
      {524, "HITTS", 0},   {518, "NULL", 0},     {529, "NULL", 0},    {551, "NULL", 0},
      {550, "LNGDBL", 12}, {540, "SPECTRUM", 4}, {545, "BOOLEAN", 4}, {516, "TEXT", 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(FormatNameFromCode(c.code), c.name) << c.code;
    EXPECT_EQ(FormatElementSize(c.code), c.size) << c.code;
  }
}

TEST(Formats, EffectiveSize) {
  struct Case {
    int32_t size;
    int16_t format;
    int32_t expected;
  };
  const Case cases[] = {
      {5000, kFormatDouble, 2048},
      {700, 522, 682},
      {171, 536, 170},
      {10, kFormatNull, 0},
      {1, 524, 0},
      {1000000, 524, 0},
      {-1, kFormatByte, 0},
      {0, kFormatByte, 0},
      {INT32_MIN, kFormatDouble, 0},
      {16384, kFormatByte, 16384},
      {16385, kFormatByte, 16384},
      {INT32_MAX, kFormatByte, 16384},
      {3, 0, 3},
      {300, 552, 300},
      {600, 552, 512},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EffectiveSize(c.size, c.format), c.expected) << c.size << " " << c.format;
  }
}

}  // namespace
}  // namespace dsc
