// Names the checker reads and writes: the formats' names and codes, and the
// names that become file names.
#include "base/Formats.h"

#include <gtest/gtest.h>

#include <sstream>
#include <utility>

#include "base/SafeNames.h"
#include "engine/RunState.h"

namespace dsc {
namespace {

// The whole table in code order, 0 to 40: the name, the bytes per element and
// the other names accepted. A name in brackets is given for its code but is
// not accepted as a name.
constexpr const char* kTable =
    "DOUBLE 8|SHORT 2 INTEGER|BYTE 1|LONG 4|TEXT 1|SINGLE 4 FLOAT|[NULL] 0|STRUCT 1|NAME8 8 CHAR8|"
    "NAME16 16 CHAR16|NAME16FI 24|BIT 1|HITTS 0|NAME32 32 CHAR32|FLTINT 8|LNGINT 8|DBLINT 12|"
    "[NULL] 0|INTFLTINT 12 TDS|NAME48 48|NAME8I 12|NAME16I 20|NAME32I 36|NAME48I 52|USTRING 96|"
    "FLTFLTINT 12|FLTINTINT 12|INTFLTFLTFLT 16|SPECTRUM 4|INTINTINTINT 16 ADDRESS|WINDOW 16|"
    "FLTFLT 8|INTFLTSHTSHT 12|BOOLEAN 4|INTINTFLTFLT 16 FWINDOW|FLTINTFLTINT 16|NAME64 64|"
    "NAME64I 68|[LNGDBL] 12|[NULL] 0|DBLDBL 32";

TEST(Formats, EveryCodeHasItsNameSizeAndAliasesNoOtherDoesAndSizesAreCut) {
  std::istringstream rows(kTable);
  int code = 0;
  for (std::string row; std::getline(rows, row, '|'); ++code) {
    std::istringstream fields(row);
    std::string name, alias;
    int size = -1;
    fields >> name >> size;
    SCOPED_TRACE(row);
    const bool accepted = name.front() != '[';
    if (!accepted) name = name.substr(1, name.size() - 2);
    for (const int form : {code, code + 512}) {
      EXPECT_EQ(FormatNameFromCode(static_cast<int16_t>(form)), name);
      EXPECT_EQ(FormatElementSize(static_cast<int16_t>(form)), size);
    }
    EXPECT_EQ(FormatCodeFromName(name), accepted ? code : 255);
    while (fields >> alias) EXPECT_EQ(FullFormatFromName(alias), code + 512) << alias;
  }
  EXPECT_EQ(code, kFormatCount);

  // Outside the table. Names: case, blanks, the separator and non-ASCII letters.
  const std::pair<const char*, int> names[] = {{"DoUbLe", 0},          {"fLoAt", 5},
                                               {" DOUBLE", 255},       {"", 255},
                                               {"NAME16|CHAR16", 255}, {"DOUBLE\xC9", 255}};
  for (const auto& [name, code] : names) {
    EXPECT_EQ(FormatCodeFromName(name), code) << '"' << name << '"';
    EXPECT_EQ(FullFormatFromName(name), code + 512) << '"' << name << '"';
  }
  for (const int16_t code : {41, 255, 511, 553, 767, -1, -32768, 32767}) {
    EXPECT_EQ(FormatNameFromCode(code), "NULL") << code;
    EXPECT_EQ(FormatElementSize(code), 0) << code;
  }

  // The effective size is cut to the transfer limit: size, format, the
  // element count transferred.
  const int32_t cases[][3] = {
      {700, 522, 682}, {171, 536, 170},     {600, 552, 512},         {10, 767, 0}, {1, 524, 0},
      {-1, 514, 0},    {16385, 514, 16384}, {INT32_MAX, 514, 16384}, {3, 0, 3}};
  for (const auto& [size, format, expected] : cases)
    EXPECT_EQ(EffectiveSize(size, static_cast<int16_t>(format)), expected) << size << " " << format;
}

TEST(SafeNames, RefusesWhatWouldLeaveTheDirectoryOrDriveATerminal) {
  const std::pair<std::string, std::string> cases[] = {
      {"VACUUM-1.A", ""},
      {"CAF\xc9", ""},  // Latin-1 letters are names
      {"", "the name is empty"},
      {"/", "the name holds a \"/\""},
      {"x..y", "the name holds \"..\""},
      {std::string("S\0", 2), "the name holds a control character"},
      {"S\x7f", "the name holds a control character"},
      {"S\x9b", "the name holds a control character"},  // Latin-1's C1 controls
      {"S\x9f", "the name holds a control character"},
  };
  for (const auto& [name, why] : cases) EXPECT_EQ(UnsafeNameReason(name), why) << name;
  EXPECT_EQ(VisibleControls("a\x1b[2J\tb\x7f\\caf\xc3\xa9"), "a\\x1B[2J\\x09b\\x7F\\caf\xc3\xa9");
}

}  // namespace
}  // namespace dsc
