#include "engine/InputParser.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "base/Formats.h"

namespace dsc {
namespace {

// "01 00 ff" -> bytes
std::vector<uint8_t> Hex(const std::string& text) {
  std::istringstream in(text);
  std::vector<uint8_t> bytes;
  for (unsigned value = 0; in >> std::hex >> value;) bytes.push_back(static_cast<uint8_t>(value));
  return bytes;
}

constexpr uint8_t kOld = 0xAA;  // what the area held before the parse

TEST(Parse, PlacesValues) {
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
    const std::vector<uint8_t> expected = Hex(bytes);
    EXPECT_EQ(std::vector<uint8_t>(area->begin(), area->begin() + expected.size()), expected);
    // Trailing "aa" bytes of an expectation are ones the parse must not set.
    size_t set = expected.size();
    while (set > 0 && expected[set - 1] == kOld) --set;
    EXPECT_EQ(ParsedByteCount(fmt, text, count), static_cast<int32_t>(set));
    for (size_t i = expected.size(); i < area->size(); ++i) ASSERT_EQ((*area)[i], kOld) << i;
  }
}

// `words` are empty ones (zeros or empty names), or a text's characters;
// `spare` is the byte beyond the limit: never a value, only part of a text.
TEST(Parse, CountIsCutToTheTransferLimit) {
  // format, words, count, bytes, spare
  const std::tuple<int16_t, int32_t, int32_t, int32_t, uint8_t> cases[] = {
      {kFormatByte, 20000, 16384, 16384, kOld},
      {kFormatName64, 300, 256, 16384, kOld},
      {kFormatShort, 8192, 8192, 16384, kOld},
      {kFormatShort, 8193, 8192, 16384, kOld},
      {kFormatText, kTransferLimit, kTransferLimit, kTransferLimit + 1, 0},
      // Fills the area exactly: copied, with no room left for the zero byte.
      {kFormatText, kTransferLimit + 1, kTransferLimit + 1, kTransferLimit + 1, 'x'},
  };
  auto area = std::make_unique<TransferArea>();
  for (const auto& [fmt, words, count, bytes, spare] : cases) {
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
