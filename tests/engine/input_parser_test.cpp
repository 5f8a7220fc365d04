#include "engine/InputParser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Formats.h"

namespace dsc {
namespace {

// "01 00 ff" -> bytes
std::vector<uint8_t> Hex(const std::string& text) {
  std::istringstream in(text);
  std::vector<uint8_t> bytes;
  unsigned value = 0;
  while (in >> std::hex >> value) bytes.push_back(static_cast<uint8_t>(value));
  return bytes;
}

std::string Words(int count, const std::string& word) {
  std::string s;
  for (int i = 0; i < count; ++i) s += (i ? " " : "") + word;
  return s;
}

constexpr uint8_t kOld = 0xAA;  // what the area held before the parse

struct ParseCase {
  int16_t fmt;
  std::string text;
  int32_t count;
  std::string bytes;  // the start of the area after the parse
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, PlacesValues) {
  const ParseCase& c = GetParam();
  auto area = std::make_unique<TransferArea>();
  area->fill(kOld);
  EXPECT_EQ(parseStringToData(*area, c.fmt, c.text), c.count);
  std::vector<uint8_t> expected = Hex(c.bytes);
  std::vector<uint8_t> actual(area->begin(), area->begin() + expected.size());
  EXPECT_EQ(actual, expected);
  // Trailing "aa" bytes of an expectation are ones the parse must not set.
  size_t set = expected.size();
  while (set > 0 && expected[set - 1] == kOld) --set;
  EXPECT_EQ(ParsedByteCount(c.fmt, c.text, c.count), static_cast<int32_t>(set));
  for (size_t i = expected.size(); i < area->size(); ++i) ASSERT_EQ((*area)[i], kOld) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, ParseTest,
    ::testing::Values(
        ParseCase{kFormatShort, "1 2 3", 3, "01 00 02 00 03 00 aa"},
        ParseCase{kFormatShort, "40000 -40000 32767 32768 -5", 5, "41 1c bf e3 00 00 01 00 fb ff"},
        // Whole numbers saturate before the remainder.
        ParseCase{kFormatShort, "1e99 -1e99", 2, "01 00 fe ff"},
        ParseCase{kFormatLong, "1  2", 3, "01 00 00 00 00 00 00 00 02 00 00 00 aa"},
        ParseCase{kFormatLong, " 5", 2, "00 00 00 00 05 00 00 00"},
        ParseCase{kFormatLong, "", 0, "aa"},
        ParseCase{kFormatLong, "2.5 3.5 &H10", 3, "02 00 00 00 04 00 00 00 10 00 00 00"},
        ParseCase{kFormatLong, "3e9 -3e9 x", 3, "ff ff ff 7f 00 00 00 80 00 00 00 00"},
        ParseCase{kFormatDouble, "1,5 2", 2, "00 00 00 00 00 00 f0 3f 00 00 00 00 00 00 00 40 aa"},
        ParseCase{kFormatDouble, "1e999999 -0", 2,
                  "00 00 00 00 00 00 f0 7f 00 00 00 00 00 00 00 00"},
        ParseCase{kFormatSingle, "1e3 -2", 2, "00 00 7a 44 00 00 00 c0 aa"},
        ParseCase{kFormatSingle, "1e39 -1e999", 2, "ff ff 7f 7f ff ff 7f ff"},
        ParseCase{kFormatByte, "255 256 -0 300 2.5", 5, "00 01 00 2d 02 aa"},
        // Negative remainders store their two's-complement low byte.
        ParseCase{kFormatByte, "-1 -254 -255 -256 1e99", 5, "ff 02 00 ff 7f"},
        ParseCase{kFormatName8, "AB CDEFGHIJ", 2,
                  "41 42 00 00 00 00 00 00 43 44 45 46 47 48 49 4a aa"},
        ParseCase{kFormatName8, "CDEFGHIJKL", 1, "43 44 45 46 47 48 49 4a aa"},
        ParseCase{kFormatName16, " \xE9", 2,
                  "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                  "e9 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 aa"},
        ParseCase{kFormatText, "abc", 3, "61 62 63 00 aa"},
        ParseCase{kFormatText, "a b\n", 4, "61 20 62 0a 00 aa"},
        ParseCase{kFormatText, "", 0, "00 aa"},
        ParseCase{kFormatText, std::string(20000, 'x'), 20000, "aa aa"},
        ParseCase{kFormatText, std::string(16385, 'x'), 16385, "aa aa"},
        ParseCase{526, "1 2", 0, "aa"}, ParseCase{kFormatStruct, "1 2", 0, "aa"},
        ParseCase{0, "1 2", 0, "aa"}, ParseCase{kFormatNull, "1 2", 0, "aa"}));

TEST(Parse, CountIsCutToTheTransferLimit) {
  struct Case {
    int16_t fmt;
    int words;
    int32_t count;
  };
  const Case cases[] = {
      {kFormatDouble, 3000, 2048}, {kFormatByte, 20000, 16384}, {kFormatName64, 300, 256},
      {kFormatShort, 8192, 8192},  {kFormatShort, 8193, 8192},
  };
  auto area = std::make_unique<TransferArea>();
  for (const Case& c : cases) {
    area->fill(kOld);
    std::string text = Words(c.words, "7");
    EXPECT_EQ(parseStringToData(*area, c.fmt, text), c.count) << c.fmt << " " << c.words;
    EXPECT_EQ(ParsedByteCount(c.fmt, text, c.count), c.count * FormatElementSize(c.fmt));
    EXPECT_EQ((*area)[kTransferLimit], kOld) << "the spare byte is never a value";
  }
}

TEST(Parse, LongestTextKeepsItsZeroByte) {
  auto area = std::make_unique<TransferArea>();
  area->fill(kOld);
  std::string text(kTransferLimit, 'x');
  EXPECT_EQ(parseStringToData(*area, kFormatText, text), kTransferLimit);
  EXPECT_EQ((*area)[kTransferLimit - 1], 'x');
  EXPECT_EQ((*area)[kTransferLimit], 0);
  EXPECT_EQ(ParsedByteCount(kFormatText, text, kTransferLimit), kTransferLimit + 1);
}

}  // namespace
}  // namespace dsc
