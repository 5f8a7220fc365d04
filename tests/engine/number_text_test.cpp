#include "engine/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>

namespace dsc {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(NumberText, LeadingNumber) {
  const std::pair<const char*, double> cases[] = {
      {"abc", 0},     {"  42", 42},   {"- 7", -7},
      {"2 5", 25},    {"\t1\n2", 12}, {"1\r2", 1},
      {".5", 0.5},    {"5.", 5},      {"1,5", 1},
      {"1d3", 1000},  {"1D-2", 0.01}, {"1e", 1},
      {"1e+2x", 100}, {"1.2.3", 1.2}, {"--1", 0},
      {"&hff", 255},  {"&O17", 15},   {"&o8", 0},
      {"-&H10", -16}, {"&X1", 0},     {"&HFFFFFFFF", 4294967295.0},
      {"1e-400", 0}};
  for (const auto& [text, value] : cases) EXPECT_EQ(LeadingNumber(text), value) << text;
  EXPECT_EQ(LeadingNumber("-0"), 0);
  EXPECT_FALSE(std::signbit(LeadingNumber("-0")));
}

TEST(NumberText, HugeTextsNeitherOverflowNorHang) {
  const std::string digits(10'000'000, '9');
  const std::string halfway = "9007199254740993";  // 2^53 + 1: halfway between two doubles
  const std::pair<std::string, double> cases[] = {
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
  for (const auto& [text, value] : cases)
    EXPECT_EQ(LeadingNumber(text), value) << text.substr(0, 40);
}

TEST(NumberText, RoundToInt32) {
  const std::pair<double, int32_t> cases[] = {{2.5, 2},           {3.5, 4},
                                              {-3.5, -4},         {2.4999, 2},
                                              {2.5001, 3},        {2147483647.5, INT32_MAX},
                                              {kInf, INT32_MAX},  {-2147483648.5, INT32_MIN},
                                              {-kInf, INT32_MIN}, {std::nan(""), 0}};
  for (const auto& [value, expected] : cases) EXPECT_EQ(RoundToInt32(value), expected) << value;
  EXPECT_EQ(LeadingInt32("1e999999"), INT32_MAX);
  EXPECT_EQ(LeadingInt32("2.5"), 2);
}

}  // namespace
}  // namespace dsc
