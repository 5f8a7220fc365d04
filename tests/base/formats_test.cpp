#include "base/Formats.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

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
  // Case, an alias, blanks, the name that is never accepted, the separator and non-ASCII letters.
  const std::pair<const char*, int> names[] = {
      {"DoUbLe", 0},   {"char16", 9},          {" DOUBLE", 255},   {"", 255},
      {"LNGDBL", 255}, {"NAME16|CHAR16", 255}, {"DOUBLE\xC9", 255}};
  for (const auto& [name, code] : names) {
    EXPECT_EQ(FormatCodeFromName(name), code) << '"' << name << '"';
    EXPECT_EQ(FullFormatFromName(name), code + 512) << '"' << name << '"';
  }
  // The holes and the edges of the range.
  const std::tuple<int16_t, const char*, int16_t> codes[] = {
      {552, "DBLDBL", 32}, {550, "LNGDBL", 12}, {41, "NULL", 0},  {255, "NULL", 0},
      {767, "NULL", 0},    {553, "NULL", 0},    {-1, "NULL", 0},  {-32768, "NULL", 0},
      {511, "NULL", 0},    {518, "NULL", 0},    {529, "NULL", 0}, {551, "NULL", 0}};
  for (const auto& [code, name, size] : codes) {
    EXPECT_EQ(FormatNameFromCode(code), name) << code;
    EXPECT_EQ(FormatElementSize(code), size) << code;
  }
}

TEST(Formats, EffectiveSizeIsCutToTheTransferLimit) {
  // size, format, the element count transferred
  const int32_t cases[][3] = {
      {700, 522, 682}, {171, 536, 170},     {600, 552, 512},         {10, 767, 0}, {1, 524, 0},
      {-1, 514, 0},    {16385, 514, 16384}, {INT32_MAX, 514, 16384}, {3, 0, 3}};
  for (const auto& [size, format, expected] : cases)
    EXPECT_EQ(EffectiveSize(size, static_cast<int16_t>(format)), expected) << size << " " << format;
}

}  // namespace
}  // namespace dsc
