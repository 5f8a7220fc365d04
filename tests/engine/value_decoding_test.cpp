#include <gtest/gtest.h>

#include <cstring>

#include <vector>

#include "base/Codec.h"
#include "base/Formats.h"
#include "engine/ValueDecoding.h"

namespace dsc {
namespace {

// Every format of the table: its layout fills exactly one element, and a
// compound one is shown by its fields, each written through the codec and
// read back.
TEST(ValueDecoding, EveryCompoundFormatOfTheTableShowsByItsFields) {
  for (int16_t code = kFormatBase; code < kFormatBase + kFormatCount; ++code) {
    SCOPED_TRACE(FormatNameFromCode(code));
    const std::span<const FormatField> layout = FormatLayout(code);
    int32_t bytes = 0;
    for (const FormatField& f : layout) bytes += f.size;
    if (!layout.empty()) {
      EXPECT_EQ(bytes, FormatElementSize(code));
    }
    if (!IsCompoundFormat(code)) continue;
    std::vector<uint8_t> area(static_cast<size_t>(FormatElementSize(code)) * 2, 0);
    std::string shown = "{";
    for (size_t i = 0; i < layout.size(); ++i) {
      uint8_t* at = area.data() + layout[i].offset;
      if (layout[i].kind == FieldKind::Name) {
        WriteName(at, static_cast<size_t>(layout[i].size), "PUMP");
        shown += "\"PUMP\"";
      } else {
        WriteField(at, layout[i].kind, static_cast<double>(i) + 1.25);
        shown += layout[i].kind == FieldKind::Double || layout[i].kind == FieldKind::Single
                     ? std::to_string(i + 1) + ".25"
                     : std::to_string(i + 1);  // whole numbers round
      }
      shown += i + 1 < layout.size() ? ", " : "}";
    }
    const DecodedValue one = DecodeValue(area, code, 1);
    EXPECT_EQ(one.kind, DecodedValue::Kind::Fields);
    EXPECT_EQ(one.Display(), shown);
    EXPECT_EQ(DecodeValue(area, code, 2, 1).Display(), "[" + shown + ", ... 1 more]");
  }
}

// The layouts themselves and every family's scalars, pinned by bytes a server
// would send.
TEST(ValueDecoding, EachFormatReadsAsServersWriteIt) {
  const struct {
    const char* format;
    std::vector<uint8_t> bytes;
    int32_t count;
    const char* shown;
  } cases[] = {
      {"LNGINT", {1, 0, 0, 0, 0xfe, 0xff, 0xff, 0xff}, 1, "{1, -2}"},
      {"FLTINT", {0, 0, 0xc0, 0x3f, 7, 0, 0, 0}, 1, "{1.5, 7}"},
      {"DBLINT", {0, 0, 0, 0, 0, 0, 0xf0, 0x3f, 3, 0, 0, 0}, 1, "{1, 3}"},
      {"BOOLEAN", {1, 0, 0, 0}, 1, "{1}"},
      {"INTFLTSHTSHT", {2, 0, 0, 0, 0, 0, 0x20, 0x40, 0xff, 0xff, 4, 0}, 1, "{2, 2.5, -1, 4}"},
      {"NAME8I", {'V', 'A', 'L', 'V', 'E', 0, 0, 0, 9, 0, 0, 0}, 1, "{\"VALVE\", 9}"},
      {"SINGLE", {0x66, 0x66, 0x86, 0x40}, 1, "4.2"},  // not 4.199999809265137
      {"SHORT", {0xff, 0xff, 0x02, 0x00}, 2, "[-1, 2]"},
      {"LONG", {0xfe, 0xff, 0xff, 0xff}, 1, "-2"},
      {"BYTE", {0xff}, 1, "255"},
      {"NAME8", {'N', 'A', 'M', 'E', 0, 0, 0, 0}, 1, "\"NAME\""},
      {"NULL", {1, 2}, 2, ""},
      {"BYTE", {1, 2}, 0, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DecodeValue(c.bytes, FullFormatFromName(c.format), c.count).Display(), c.shown)
        << c.format;
  // DOUBLE: whole and few-decimal numbers and their sign, and the ones whose
  // shortest text needs more digits or an exponent.
  const std::pair<double, const char*> doubles[] = {
      {-0.25, "-0.25"}, {12.5, "12.5"}, {1234.05, "1234.05"}, {0.1 + 0.2, "0.30000000000000004"},
      {-0.0, "-0"},     {1e5, "1e+05"}, {0.001, "0.001"},     {0.0, "0"},
      {20.0, "20"}};
  for (const auto& [v, shown] : doubles) {
    std::vector<uint8_t> b(8);
    std::memcpy(b.data(), &v, 8);
    EXPECT_EQ(DecodeValue(b, kFormatDouble, 1).Display(), shown);
  }
  // A count past the area is cut to what the area holds.
  EXPECT_EQ(DecodeValue(std::vector<uint8_t>(400), kFormatDouble, 1000).count, 50);
}

}  // namespace
}  // namespace dsc
