// Reading what users type: numbers, access strings and command data.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <tuple>
#include <utility>

#include "base/Formats.h"
#include "engine/InputParser.h"
#include "engine/NumberText.h"
#include "engine/TestPlan.h"

namespace dsc {
namespace {

constexpr double kInf = HUGE_VAL;

TEST(NumberText, LeadingNumberAndRoundToInt32) {
  const std::pair<const char*, double> cases[] = {
      {"abc", 0},     {"  42", 42},   {"- 7", -7},
      {"2 5", 25},    {"\t1\n2", 12}, {"1\r2", 1},
      {".5", 0.5},    {"5.", 5},      {"1,5", 1},
      {"1d3", 1000},  {"1D-2", 0.01}, {"1e", 1},
      {"1e+2x", 100}, {"1.2.3", 1.2}, {"--1", 0},
      {"&hff", 255},  {"&O17", 15},   {"&o8", 0},
      {"-&H10", -16}, {"&X1", 0},     {"&HFFFFFFFF", 4294967295.0},
      {"1e-400", 0},  {"-0", 0}};
  for (const auto& [text, value] : cases) EXPECT_EQ(LeadingNumber(text), value) << text;
  EXPECT_FALSE(std::signbit(LeadingNumber("-0")));

  // Huge texts neither overflow nor hang.
  const std::string digits(10'000'000, '9');
  const std::string halfway = "9007199254740993";  // 2^53 + 1: halfway between two doubles
  const std::pair<std::string, double> huge[] = {
      {"123456789012345678901234567890", 123456789012345678901234567890.0},
      {"0.000000000000000000001", 1e-21},
      {"1e999999", kInf},
      {"-1e" + std::string(40, '9'), -kInf},
      {"1e-" + std::string(40, '9'), 0},
      {"&HFFFFFFFFFFFFFFFFFFFF", 0xFFFFFFFFFFFFFFFFFFFFp0},
      {"&H" + std::string(300, 'F'), kInf},
      {digits, kInf},
      {"0." + digits, 1.0},  // 0.999... rounds to one
      {std::string(10'000'000, '0') + "1e-3", 0.001},
      {"1" + std::string(400, '0') + "e-400", 1.0},
      // A digit far beyond the kept ones still decides a halfway case.
      {halfway, 9007199254740992.0},
      {halfway + std::string(900, '0') + "1e-901", 9007199254740994.0}};
  for (const auto& [text, value] : huge)
    EXPECT_EQ(LeadingNumber(text), value) << text.substr(0, 40);

  // Halves to even, saturated.
  const std::pair<double, int32_t> rounded[] = {{2.5, 2},           {3.5, 4},
                                                {-3.5, -4},         {2.4999, 2},
                                                {2.5001, 3},        {2147483647.5, INT32_MAX},
                                                {kInf, INT32_MAX},  {-2147483648.5, INT32_MIN},
                                                {-kInf, INT32_MIN}, {std::nan(""), 0}};
  for (const auto& [value, expected] : rounded) EXPECT_EQ(RoundToInt32(value), expected) << value;
}

// The access string's mode, and its time-out read by LeadingInt32 above.
TEST(AccessString, ModeAndTimeout) {
  const std::tuple<const char*, const char*, int32_t> cases[] = {
      {"write", "READ", 1000},
      {"WRITE", "WRITE", 1000},
      {"WRITE POLL", "POLL", 1000},
      {"REFRESH POLL WRITE", "REFRESH", 1000},
      {"POLLING", "POLL", 1000},
      {"REFRESH[TIMEOUT=0]", "REFRESH", 0},
      {"POLL[timeout]", "POLL", 1000},
      {"POLL[timeout=]", "POLL", 0},
      {"POLL[timeout=1500", "POLL", 1500},
      {"POLL[a=timeout=300]", "POLL", 1000},
      {"A[timeout=5]B[timeout=9]", "READ", 5},
      {"timeout=5", "READ", 1000},
      {"POLL[x[timeout=5]", "POLL", 1000},
      {"POLL[timeout=5=timeout=7]", "POLL", 7},
      {"POLL[mytimeoutvalue=42]", "POLL", 42},
      {"POLL[timeout=-20.5]", "POLL", -20},
      {"POLL[timeout=1e99]", "POLL", INT32_MAX},
      {"POLL]timeout=5[", "POLL", 1000}};
  for (const auto& [access, mode, timeout] : cases) {
    EXPECT_EQ(getAccessMode(access), mode) << access;
    EXPECT_EQ(getAccessTimeout(access), timeout) << access;
  }
}

constexpr uint8_t kOld = 0xAA;  // what the area held before the parse

TEST(Parse, PlacesValuesWithinTheTransferLimit) {
  // format, text, count, the start of the area after the parse
  const std::tuple<int16_t, std::string, int32_t, std::string> cases[] = {
      {kFormatShort, "40000 -40000 32767 32768 -5", 5, "41 1c bf e3 00 00 01 00 fb ff"},
      // Whole numbers saturate before the remainder.
      {kFormatShort, "1e99 -1e99", 2, "01 00 fe ff"},
      // Every blank ends a word: doubled blanks give a zero.
      {kFormatLong, "1  2", 3, "01 00 00 00 00 00 00 00 02 00 00 00 aa"},
      {kFormatLong, "", 0, "aa"},
      {kFormatLong, "3e9 -3e9 x", 3, "ff ff ff 7f 00 00 00 80 00 00 00 00"},
      {kFormatDouble, "1,5 1e999999 -0", 3,
       "00 00 00 00 00 00 f0 3f 00 00 00 00 00 00 f0 7f 00 00 00 00 00 00 00 00 aa"},
      {kFormatSingle, "1e3 1e39 -1e999", 3, "00 00 7a 44 ff ff 7f 7f ff ff 7f ff aa"},
      {kFormatByte, "255 256 -0 300 2.5", 5, "00 01 00 2d 02 aa"},
      // Negative remainders store their two's-complement low byte.
      {kFormatByte, "-1 -254 -255 -256 1e99", 5, "ff 02 00 ff 7f"},
      // Names are cut or padded with zeros, Latin-1 bytes as they are.
      {kFormatName8, "\xE9  CDEFGHIJKL", 3,
       "e9 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 43 44 45 46 47 48 49 4a aa"},
      {kFormatText, "a b\n", 4, "61 20 62 0a 00 aa"},
      {kFormatText, "", 0, "00 aa"},
      // Longer than the area: nothing is copied.
      {kFormatText, std::string(kTransferLimit + 2, 'x'), kTransferLimit + 2, "aa aa"},
      {kFormatStruct, "1 2", 0, "aa"},
      {0, "1 2", 0, "aa"}};
  auto area = std::make_unique<TransferArea>();
  for (const auto& [fmt, text, count, bytes] : cases) {
    SCOPED_TRACE(text.substr(0, 40));
    area->fill(kOld);
    EXPECT_EQ(parseStringToData(*area, fmt, text), count);
    std::istringstream hex(bytes);  // "01 00 ff"
    std::vector<uint8_t> expected;
    for (unsigned v = 0; hex >> std::hex >> v;) expected.push_back(static_cast<uint8_t>(v));
    EXPECT_EQ(std::vector<uint8_t>(area->begin(), area->begin() + expected.size()), expected);
    // Trailing "aa" bytes of an expectation are ones the parse must not set.
    size_t set = expected.size();
    while (set > 0 && expected[set - 1] == kOld) --set;
    EXPECT_EQ(ParsedByteCount(fmt, text, count), static_cast<int32_t>(set));
    for (size_t i = expected.size(); i < area->size(); ++i) ASSERT_EQ((*area)[i], kOld) << i;
  }

  // The count is cut to the transfer limit. `words` are empty ones (zeros or
  // empty names), or a text's characters; `spare` is the byte beyond the
  // limit: never a value, only part of a text.
  // format, words, count, bytes, spare
  const std::tuple<int16_t, int32_t, int32_t, int32_t, uint8_t> limits[] = {
      {kFormatByte, 20000, 16384, 16384, kOld},
      {kFormatName64, 300, 256, 16384, kOld},
      {kFormatShort, 8192, 8192, 16384, kOld},
      {kFormatShort, 8193, 8192, 16384, kOld},
      {kFormatText, kTransferLimit, kTransferLimit, kTransferLimit + 1, 0},
      // Fills the area exactly: copied, with no room left for the zero byte.
      {kFormatText, kTransferLimit + 1, kTransferLimit + 1, kTransferLimit + 1, 'x'},
  };
  for (const auto& [fmt, words, count, bytes, spare] : limits) {
    area->fill(kOld);
    const std::string text =
        fmt == kFormatText ? std::string(words, 'x') : std::string(words - 1, ' ');
    EXPECT_EQ(parseStringToData(*area, fmt, text), count) << fmt;
    EXPECT_EQ(ParsedByteCount(fmt, text, count), bytes) << fmt;
    EXPECT_EQ((*area)[kTransferLimit], spare) << fmt;
  }
}

}  // namespace
}  // namespace dsc
