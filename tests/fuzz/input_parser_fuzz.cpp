// The engine's readers of command text, each on the whole input:
// - access strings give one of the four modes and a time-out, the default one
//   for text without a bracket group;
// - the leading-number rule reads any text, and a number it reads, printed
//   with enough digits, reads back as the same number;
// - the input-data parser, with the first byte picking the format and the
//   rest as a Data field: values it placed, printed again, parse back to the
//   same values.

#include <cmath>
#include <cstring>
#include <optional>

#include "base/Formats.h"
#include "engine/InputParser.h"
#include "engine/NumberText.h"
#include "engine/TestPlan.h"
#include "engine/ValueDecoding.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

using namespace dsc;

constexpr int16_t kFormats[] = {kFormatDouble, kFormatShort,  kFormatByte,   kFormatLong,
                                kFormatText,   kFormatSingle, kFormatName8,  kFormatName16,
                                kFormatName32, kFormatName48, kFormatName64, kFormatStruct};

// One value of the area as text that the parser reads back to the same value.
// A zero prints without its sign: a value that underflows keeps the sign of
// its text ("-4e-400"), while "-0" reads as 0; both are zero.
std::string Printed(const uint8_t* at, int16_t format) {
  const auto size = static_cast<size_t>(FormatElementSize(format));
  const DecodedValue value = DecodeValue({at, size}, format, 1);
  if (value.kind != DecodedValue::Kind::Number) {
    // A name: its bytes without the zero padding.
    size_t n = size;
    while (n > 0 && at[n - 1] == 0) --n;
    return std::string(reinterpret_cast<const char*>(at), n);
  }
  const double v = value.numbers[0] + 0.0;
  // 255 is what -1 leaves; 255 itself would store 0.
  if (format == kFormatByte && v == 255) return "-1";
  // A DOUBLE may overflow to infinity; a SINGLE saturates and never does.
  if (format == kFormatDouble && std::isinf(v)) return v > 0 ? "1e999" : "-1e999";
  return ShortestNumberText(v);
}

// The n values of the area, printed and joined by blanks; none for a name
// word holding a blank, which cannot be printed as one word.
std::optional<std::string> PrintedValues(const TransferArea& area, int16_t format, int32_t n) {
  std::string text;
  for (int32_t i = 0; i < n; ++i) {
    const std::string word =
        Printed(area.data() + static_cast<size_t>(i) * FormatElementSize(format), format);
    if (word.find(' ') != std::string::npos) return std::nullopt;
    text += (i ? " " : "") + word;
  }
  return text;
}

void CheckAccessString(const std::string& text) {
  const std::string mode = getAccessMode(text);
  FUZZ_CHECK(mode == "READ" || mode == "WRITE" || mode == "POLL" || mode == "REFRESH");
  const int32_t timeout = getAccessTimeout(text);
  if (text.find('[') == std::string::npos) FUZZ_CHECK(timeout == 1000);
  // The mode is found anywhere: what follows a word that is no mode keeps it.
  if (mode != "READ") FUZZ_CHECK(getAccessMode(text + " x") == mode);
}

void CheckLeadingNumber(std::string_view text) {
  const double value = LeadingNumber(text);
  FUZZ_CHECK(!std::isnan(value));
  FUZZ_CHECK(LeadingInt32(text) == RoundToInt32(value));
  if (std::isfinite(value)) FUZZ_CHECK(LeadingNumber(ShortestNumberText(value)) == value);
  const int32_t whole = RoundToInt32(value);
  FUZZ_CHECK(LeadingInt32(NumberText(whole)) == whole);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string all(reinterpret_cast<const char*>(data), size);
  CheckAccessString(all);
  CheckLeadingNumber(all);
  if (size == 0) return 0;
  const int16_t format = kFormats[data[0] % std::size(kFormats)];
  const std::string text = all.substr(1);

  static TransferArea first, second;
  first.fill(0xAA);
  const int32_t n = parseStringToData(first, format, text);
  const int32_t bytes = ParsedByteCount(format, text, n);
  FUZZ_CHECK(bytes >= 0 && bytes <= static_cast<int32_t>(first.size()));
  if (format == kFormatText) {
    FUZZ_CHECK(n == static_cast<int32_t>(text.size()));
    if (bytes > 0) FUZZ_CHECK(std::memcmp(first.data(), text.data(), text.size()) == 0);
    return 0;
  }
  if (format == kFormatStruct) {
    FUZZ_CHECK(n == 0 && bytes == 0);
    return 0;
  }
  FUZZ_CHECK(n >= 0 && n * FormatElementSize(format) == bytes);

  // One empty name prints as no text at all, which holds no value.
  const auto again = PrintedValues(first, format, n);
  if (!again || (n == 1 && again->empty())) return 0;
  second.fill(0x55);
  FUZZ_CHECK(parseStringToData(second, format, *again) == n);
  FUZZ_CHECK(PrintedValues(second, format, n) == again);
  return 0;
}
