// Tango's values and the checker's byte layout, converted in process: no
// server is needed. Built only where the Tango backend is.
#ifdef OVRA_HAVE_TANGO

#include "tango/TangoValues.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <tuple>
#include <utility>

#include "access/CompletionCodes.h"
#include "base/Formats.h"
#include "engine/ValueDecoding.h"
#include "tango/TangoBackend.h"
#include "tango/TangoFacts.h"

namespace dsc::tango {
namespace {

// One element of the checker's layout, as LONG or DOUBLE, and back.
std::vector<uint8_t> Bytes(double v, int16_t format) {
  std::vector<uint8_t> b(8, 0);
  const auto l = static_cast<int32_t>(v);
  format == kFormatLong ? std::memcpy(b.data(), &l, 4) : std::memcpy(b.data(), &v, 8);
  return b;
}

constexpr double kRefused = NAN;

// A command's scalar argument at the edges of its Tango type: the last value
// the type holds is sent as it is, one more is refused, never wrapped. What
// was sent is read back from the argument as a DOUBLE.
TEST(TangoValues, CommandArgumentsAreRefusedBeyondTheirTypesRange) {
  // Tango type, how the checker sends the value, the value, what is carried.
  const std::tuple<long, int16_t, double, double> cases[] = {
      {Tango::DEV_SHORT, kFormatLong, -32768, -32768},
      {Tango::DEV_SHORT, kFormatLong, 32768, kRefused},
      {Tango::DEV_SHORT, kFormatDouble, -32769, kRefused},
      {Tango::DEV_USHORT, kFormatLong, 65535, 65535},
      {Tango::DEV_USHORT, kFormatLong, 65536, kRefused},
      {Tango::DEV_USHORT, kFormatLong, -1, kRefused},
      {Tango::DEV_LONG, kFormatDouble, 2147483647, 2147483647},
      {Tango::DEV_LONG, kFormatDouble, 2147483648.0, kRefused},
      {Tango::DEV_ULONG, kFormatDouble, 4294967295.0, 4294967295.0},
      {Tango::DEV_ULONG, kFormatDouble, 4294967296.0, kRefused},
      {Tango::DEV_LONG64, kFormatDouble, -0x1p63, -0x1p63},
      {Tango::DEV_LONG64, kFormatDouble, 0x1p63, kRefused},
      {Tango::DEV_ULONG64, kFormatDouble, 0x1p64 - 2048, 0x1p64 - 2048},
      {Tango::DEV_ULONG64, kFormatDouble, 0x1p64, kRefused},
      // Whole-number targets round, halves to even.
      {Tango::DEV_SHORT, kFormatDouble, 2.5, 2},
      {Tango::DEV_LONG, kFormatDouble, -2.75, -3},
      {Tango::DEV_FLOAT, kFormatDouble, FLT_MAX, FLT_MAX},
      {Tango::DEV_FLOAT, kFormatDouble, 1e39, kRefused},
      {Tango::DEV_DOUBLE, kFormatDouble, -DBL_MAX, -DBL_MAX},
  };
  for (const auto& [type, format, value, carried] : cases) {
    SCOPED_TRACE(std::to_string(type) + " " + std::to_string(value));
    Tango::DeviceData d;
    const Outcome o = CommandArgument(type, Bytes(value, format), 1, format, d);
    ASSERT_EQ(o.code, std::isnan(carried) ? kTangoIllegalFormat : 0) << o.detail;
    if (o.code != 0) continue;
    std::vector<uint8_t> back(8);
    ASSERT_EQ(DeliverCommand(d, type, back, 1, kFormatDouble).code, 0);
    EXPECT_EQ(DecodeValue(back, kFormatDouble, 1).numbers.at(0), carried);
  }
}

// A number read into a checker format is rounded (halves to even) and held
// at the format's ends.
TEST(TangoValues, ReadNumbersRoundAndSaturateInTheAskedFormat) {
  const std::tuple<double, int16_t, double> cases[] = {
      {2.75, kFormatLong, 3},         {2.5, kFormatLong, 2},
      {1e10, kFormatLong, INT32_MAX}, {-1e10, kFormatLong, INT32_MIN},
      {NAN, kFormatLong, 0},          {40000, kFormatShort, 32767},
      {-40000, kFormatShort, -32768}, {300, kFormatByte, 255},
      {-5, kFormatByte, 0},           {254.5, kFormatByte, 254},
      {1e39, kFormatSingle, FLT_MAX}, {0.1, kFormatSingle, 0.1f},
      {-0.1, kFormatDouble, -0.1},
  };
  for (auto [value, format, expected] : cases) {
    SCOPED_TRACE(std::to_string(value) + " as " + FormatNameFromCode(format));
    Tango::DeviceData d;
    d << value;
    std::vector<uint8_t> out(16, 0xAA);
    ASSERT_EQ(DeliverCommand(d, Tango::DEV_DOUBLE, out, 1, format).code, 0);
    EXPECT_EQ(DecodeValue(out, format, 1).numbers.at(0), expected);
    EXPECT_EQ(out[static_cast<size_t>(FormatElementSize(format))], 0xAA) << "written past it";
  }
}

// A command's lines are one text, a line feed between them, cut at the
// count; the numbers an array has not got are zero.
TEST(TangoValues, ArraysFillTheAskedCount) {
  Tango::DeviceData d;
  std::vector<std::string> lines{"ab", "c", "def"};
  d << lines;
  std::vector<uint8_t> out(8, 0xAA);
  ASSERT_EQ(DeliverCommand(d, Tango::DEVVAR_STRINGARRAY, out, 7, kFormatText).code, 0);
  EXPECT_EQ(std::string(out.begin(), out.end()), "ab\nc\nde\xAA");
  std::vector<double> one{1.5};
  d << one;
  std::vector<uint8_t> numbers(16, 0xAA);
  ASSERT_EQ(DeliverCommand(d, Tango::DEVVAR_DOUBLEARRAY, numbers, 2, kFormatDouble).code, 0);
  EXPECT_EQ(DecodeValue(numbers, kFormatDouble, 2).numbers, (std::vector<double>{1.5, 0}));
}

// What PROPS declares for an attribute: a scalar is one element (a string
// its characters), a spectrum its length, an image width times height.
TEST(TangoValues, AttributesDeclareTheirElementCountAndFormat) {
  // Type, shape, maximum x and y; the count and format declared.
  const std::tuple<int, Tango::AttrDataFormat, int, int, int32_t, int16_t> cases[] = {
      {Tango::DEV_DOUBLE, Tango::SCALAR, 1, 0, 1, kFormatDouble},
      {Tango::DEV_STRING, Tango::SCALAR, 1, 0, kStringCharacters, kFormatText},
      {Tango::DEV_USHORT, Tango::SCALAR, 1, 0, 1, kFormatLong},
      {Tango::DEV_FLOAT, Tango::SCALAR, 1, 0, 1, kFormatSingle},
      {Tango::DEV_ULONG, Tango::SCALAR, 1, 0, 1, kFormatDouble},
      {Tango::DEV_LONG64, Tango::SCALAR, 1, 0, 1, kFormatDouble},
      {Tango::DEV_ULONG64, Tango::SCALAR, 1, 0, 1, kFormatDouble},
      {Tango::DEV_SHORT, Tango::SPECTRUM, 4096, 0, 4096, kFormatShort},
      {Tango::DEV_DOUBLE, Tango::IMAGE, 251, 3, 753, kFormatDouble},
      {Tango::DEV_UCHAR, Tango::IMAGE, 7, 0, 7, kFormatByte},
      {Tango::DEV_LONG, Tango::IMAGE, 100000, 100000, INT32_MAX, kFormatLong},
      {Tango::DEV_STRING, Tango::SPECTRUM, 256, 0, 256, kFormatNull},
      {Tango::DEV_STATE, Tango::SCALAR, 1, 0, 1, kFormatByte},
  };
  for (const auto& [type, shape, x, y, count, format] : cases) {
    Tango::AttributeInfoEx info;
    std::tie(info.data_type, info.data_format, info.max_dim_x, info.max_dim_y) =
        std::tuple(type, shape, x, y);
    const Declared d = DeclareAttribute(info);
    EXPECT_EQ(std::pair(d.count, d.format), std::pair(count, format))
        << type << " " << shape << " " << x << "x" << y;
  }
  // A command needing no input and answering an array: only test files run it.
  Tango::CommandInfo command;
  std::tie(command.in_type, command.out_type) =
      std::tuple(Tango::DEV_VOID, Tango::DEVVAR_LONGARRAY);
  EXPECT_EQ(DeclareCommand(command).count, 0);
}

// A Tango error: the code says whether the device or the link failed, the
// text is the first entry's reason and the first line of its description.
TEST(TangoValues, ErrorsGiveTheirCodeAndTheFirstLineOfWhatTheySay) {
  const std::tuple<const char*, const char*, int16_t, const char*> rows[] = {
      {"API_CommunicationFailed", "Failed to execute\nmore", kCodeServerUnavailable45,
       "API_CommunicationFailed: Failed to execute"},
      {"API_DeviceNotExported", "not exported", kCodeServerUnavailable45,
       "API_DeviceNotExported: not exported"},
      {"API_DeviceTimedOut", "too slow", kCodeLinkTimeout, "API_DeviceTimedOut: too slow"},
      {"Out of range", "limit 3  \r\nat line 2", kTangoDeviceError, "Out of range: limit 3"},
      {"", "", kTangoDeviceError, "Tango error"}};
  const auto outcome = [](const char* reason, const char* desc) {
    Tango::DevErrorList errors(1);
    errors.length(1);
    errors[0].reason = CORBA::string_dup(reason);
    errors[0].desc = CORBA::string_dup(desc);
    errors[0].origin = CORBA::string_dup("test");
    return FromDevFailed(Tango::DevFailed(errors));
  };
  for (const auto& [reason, desc, code, detail] : rows) {
    const Outcome o = outcome(reason, desc);
    EXPECT_EQ(std::pair(o.code, o.detail), std::pair(code, std::string(detail))) << reason;
  }
  // The other reasons that say the server or the way to it is not there.
  for (const char* reason :
       {"API_CantConnectToDevice", "API_ServerNotRunning", "API_CorbaException",
        "API_CantConnectToDatabase", "API_ConnectionFailed"})
    EXPECT_EQ(outcome(reason, "").code, kCodeServerUnavailable45) << reason;
}

// What a read says besides its value, from the attribute configuration:
// Tango's "No unit" is none, a unit is kept; qualities rank as
// --fail-on-quality compares them (CHANGING is no worse than VALID).
TEST(TangoFacts, UnitsAndQualitiesAsTheOutputsShowThem) {
  const std::pair<const char*, const char*> units[] = {{"No unit", ""}, {"mA", "mA"}, {"", ""}};
  for (const auto& [given, shown] : units) {
    Tango::DeviceAttribute value("current", 2.5);
    value.quality = Tango::ATTR_WARNING;
    Tango::AttributeInfoEx info;
    info.data_type = Tango::DEV_DOUBLE;
    info.data_format = Tango::SCALAR;
    info.unit = given;
    const ValueFacts f = FactsOf(value, info, false);
    EXPECT_EQ(f.unit, shown) << given;
    EXPECT_EQ(f.quality, "WARNING");
  }
  const std::pair<const char*, int> severities[] = {
      {"VALID", 0}, {"CHANGING", 0}, {"WARNING", 1}, {"ALARM", 2}, {"INVALID", 3}};
  for (const auto& [quality, severity] : severities)
    EXPECT_EQ(QualitySeverity(quality), severity) << quality;
}

}  // namespace
}  // namespace dsc::tango

#endif  // OVRA_HAVE_TANGO
