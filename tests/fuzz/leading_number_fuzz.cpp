// The leading-number rule reads any text, and a number it reads, printed with
// enough digits, reads back as the same number.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "engine/NumberText.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const double value = dsc::LeadingNumber(text);
  FUZZ_CHECK(!std::isnan(value));
  FUZZ_CHECK(dsc::LeadingInt32(text) == dsc::RoundToInt32(value));
  if (std::isfinite(value)) {
    char printed[40];
    std::snprintf(printed, sizeof printed, "%.17g", value);
    FUZZ_CHECK(dsc::LeadingNumber(printed) == value);
  }
  const int32_t whole = dsc::RoundToInt32(value);
  FUZZ_CHECK(dsc::LeadingInt32(dsc::NumberText(whole)) == whole);
  return 0;
}
