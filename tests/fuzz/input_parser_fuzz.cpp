// The input-data parser: the first byte picks the format, the rest is the
// text of a test command's Data field. Values it placed, printed again,
// parse back to the same values.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "base/Formats.h"
#include "engine/InputParser.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

using namespace dsc;

constexpr int16_t kFormats[] = {kFormatDouble, kFormatShort,  kFormatByte,   kFormatLong,
                                kFormatText,   kFormatSingle, kFormatName8,  kFormatName16,
                                kFormatName32, kFormatName48, kFormatName64, kFormatStruct};

template <class T>
T Load(const uint8_t* at) {
  T v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

// One value of the area as text that the parser reads back to the same value.
// A zero prints without its sign: a value that underflows keeps the sign of
// its text ("-4e-400"), while "-0" reads as 0; both are zero.
std::string Printed(const uint8_t* at, int16_t format) {
  char buf[48];
  switch (format) {
    case kFormatDouble: {
      const double v = Load<double>(at) + 0.0;
      if (std::isinf(v)) return v > 0 ? "1e999" : "-1e999";
      std::snprintf(buf, sizeof buf, "%.17g", v);
      return buf;
    }
    case kFormatSingle:
      std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(Load<float>(at) + 0.0f));
      return buf;
    case kFormatShort:
      return std::to_string(Load<int16_t>(at));
    case kFormatLong:
      return std::to_string(Load<int32_t>(at));
    case kFormatByte:
      // 255 is what -1 leaves; 255 itself would store 0.
      return at[0] == 255 ? "-1" : std::to_string(at[0]);
    default: {
      // A name: its bytes without the zero padding.
      size_t n = FormatElementSize(format);
      while (n > 0 && at[n - 1] == 0) --n;
      return std::string(reinterpret_cast<const char*>(at), n);
    }
  }
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int16_t format = kFormats[data[0] % std::size(kFormats)];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

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
