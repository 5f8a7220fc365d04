// Tango's values and the checker's byte layout, converted in process: no
// server is needed. Built only where the Tango backend is.
#ifdef OVRA_HAVE_TANGO

#include "tango/TangoValues.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/Formats.h"
#include "tango/TangoBackend.h"

namespace dsc::tango {
namespace {

std::vector<uint8_t> Bytes(double v, int16_t format) {
  std::vector<uint8_t> b(8, 0);
  if (format == kFormatLong) {
    const auto l = static_cast<int32_t>(v);
    std::memcpy(b.data(), &l, 4);
  } else {
    std::memcpy(b.data(), &v, 8);
  }
  return b;
}

// The value a command argument carries, read back as a double.
template <class T>
double Carried(Tango::DeviceData& d) {
  T v{};
  d >> v;
  return static_cast<double>(v);
}

// A command's scalar argument at the edges of its Tango type: the last value
// the type holds is sent as it is, one more is refused, never wrapped.
TEST(TangoValues, CommandArgumentsAreRefusedBeyondTheirTypesRange) {
  const struct {
    long type;
    int16_t format;  // how the checker sends the value
    double value;
    bool accepted;
    double (*carried)(Tango::DeviceData&);
  } cases[] = {
      {Tango::DEV_SHORT, kFormatLong, 32767, true, Carried<Tango::DevShort>},
      {Tango::DEV_SHORT, kFormatLong, -32768, true, Carried<Tango::DevShort>},
      {Tango::DEV_SHORT, kFormatLong, 32768, false, nullptr},
      {Tango::DEV_SHORT, kFormatDouble, -32769, false, nullptr},
      {Tango::DEV_USHORT, kFormatLong, 65535, true, Carried<Tango::DevUShort>},
      {Tango::DEV_USHORT, kFormatLong, 0, true, Carried<Tango::DevUShort>},
      {Tango::DEV_USHORT, kFormatLong, 65536, false, nullptr},
      {Tango::DEV_USHORT, kFormatLong, -1, false, nullptr},
      {Tango::DEV_LONG, kFormatDouble, 2147483647, true, Carried<Tango::DevLong>},
      {Tango::DEV_LONG, kFormatDouble, -2147483648.0, true, Carried<Tango::DevLong>},
      {Tango::DEV_LONG, kFormatDouble, 2147483648.0, false, nullptr},
      {Tango::DEV_ULONG, kFormatDouble, 4294967295.0, true, Carried<Tango::DevULong>},
      {Tango::DEV_ULONG, kFormatDouble, 4294967296.0, false, nullptr},
      {Tango::DEV_ULONG, kFormatDouble, -1, false, nullptr},
      {Tango::DEV_LONG64, kFormatDouble, -9223372036854775808.0, true, Carried<Tango::DevLong64>},
      {Tango::DEV_LONG64, kFormatDouble, 9223372036854775808.0, false, nullptr},
      {Tango::DEV_ULONG64, kFormatDouble, 18446744073709549568.0, true, Carried<Tango::DevULong64>},
      {Tango::DEV_ULONG64, kFormatDouble, 18446744073709551616.0, false, nullptr},
      {Tango::DEV_ULONG64, kFormatDouble, -1, false, nullptr},
      // Whole-number targets round, halves to even.
      {Tango::DEV_SHORT, kFormatDouble, 2.5, true, Carried<Tango::DevShort>},
      {Tango::DEV_LONG, kFormatDouble, -2.75, true, Carried<Tango::DevLong>},
      {Tango::DEV_FLOAT, kFormatDouble, FLT_MAX, true, Carried<Tango::DevFloat>},
      {Tango::DEV_FLOAT, kFormatDouble, 1e39, false, nullptr},
      {Tango::DEV_DOUBLE, kFormatDouble, -DBL_MAX, true, Carried<Tango::DevDouble>},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " " + std::to_string(c.value));
    const std::vector<uint8_t> in = Bytes(c.value, c.format);
    Tango::DeviceData d;
    const Outcome o = CommandArgument(c.type, in, 1, c.format, d);
    ASSERT_EQ(o.code, c.accepted ? 0 : kTangoIllegalFormat) << o.detail;
    if (!c.accepted) continue;
    const double expected = c.type == Tango::DEV_FLOAT || c.type == Tango::DEV_DOUBLE
                                ? c.value
                                : std::nearbyint(c.value);
    EXPECT_EQ(c.carried(d), expected);
  }
}

// A number read into a checker format is rounded (halves to even) and held
// at the format's ends.
TEST(TangoValues, ReadNumbersRoundAndSaturateInTheAskedFormat) {
  const struct {
    double value;
    int16_t format;
    double expected;
  } cases[] = {
      {2.75, kFormatLong, 3},
      {2.5, kFormatLong, 2},
      {-2.75, kFormatLong, -3},
      {1e10, kFormatLong, INT32_MAX},
      {-1e10, kFormatLong, INT32_MIN},
      {NAN, kFormatLong, 0},
      {40000, kFormatShort, 32767},
      {-40000, kFormatShort, -32768},
      {3.5, kFormatShort, 4},
      {300, kFormatByte, 255},
      {-5, kFormatByte, 0},
      {254.5, kFormatByte, 254},
      {1e39, kFormatSingle, FLT_MAX},
      {0.1, kFormatSingle, 0.1f},
      {-0.1, kFormatDouble, -0.1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.value) + " as " + FormatNameFromCode(c.format));
    Tango::DeviceData d;
    d << c.value;
    std::vector<uint8_t> out(16, 0xAA);
    ASSERT_EQ(DeliverCommand(d, Tango::DEV_DOUBLE, out, 1, c.format).code, 0);
    double got = 0;
    switch (c.format) {
      case kFormatLong:
        got = *reinterpret_cast<const int32_t*>(out.data());
        break;
      case kFormatShort:
        got = *reinterpret_cast<const int16_t*>(out.data());
        break;
      case kFormatByte:
        got = out[0];
        break;
      case kFormatSingle:
        got = *reinterpret_cast<const float*>(out.data());
        break;
      default:
        got = *reinterpret_cast<const double*>(out.data());
        break;
    }
    EXPECT_EQ(got, c.expected);
    const size_t size = static_cast<size_t>(FormatElementSize(c.format));
    EXPECT_EQ(out[size], 0xAA) << "written past the element";
  }
}

// What PROPS declares for an attribute: a scalar is one element (a string
// its characters), a spectrum its length, an image width times height.
TEST(TangoValues, AttributesDeclareTheirElementCountAndFormat) {
  const struct {
    int type;
    Tango::AttrDataFormat shape;
    int x, y;
    int32_t count;
    int16_t format;
  } cases[] = {
      {Tango::DEV_DOUBLE, Tango::SCALAR, 1, 0, 1, kFormatDouble},
      {Tango::DEV_STRING, Tango::SCALAR, 1, 0, kStringCharacters, kFormatText},
      {Tango::DEV_USHORT, Tango::SCALAR, 1, 0, 1, kFormatLong},
      {Tango::DEV_SHORT, Tango::SPECTRUM, 4096, 0, 4096, kFormatShort},
      {Tango::DEV_DOUBLE, Tango::IMAGE, 251, 3, 753, kFormatDouble},
      {Tango::DEV_UCHAR, Tango::IMAGE, 7, 0, 7, kFormatByte},
      {Tango::DEV_LONG, Tango::IMAGE, 100000, 100000, INT32_MAX, kFormatLong},
      {Tango::DEV_STRING, Tango::SPECTRUM, 256, 0, 256, kFormatNull},
      {Tango::DEV_STATE, Tango::SCALAR, 1, 0, 1, kFormatByte},
  };
  for (const auto& c : cases) {
    Tango::AttributeInfoEx info;
    info.data_type = c.type;
    info.data_format = c.shape;
    info.max_dim_x = c.x;
    info.max_dim_y = c.y;
    const Declared d = DeclareAttribute(info);
    EXPECT_EQ(d.count, c.count) << c.type << " " << c.shape << " " << c.x << "x" << c.y;
    EXPECT_EQ(d.format, c.format) << c.type << " " << c.shape;
  }
}

}  // namespace
}  // namespace dsc::tango

#endif  // OVRA_HAVE_TANGO
