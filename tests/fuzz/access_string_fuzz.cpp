// Access strings of test files: every text gives one of the four modes and a
// time-out; text without a bracket group has the default time-out.

#include <cstdint>
#include <string>

#include "engine/TestPlan.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string mode = dsc::getAccessMode(text);
  FUZZ_CHECK(mode == "READ" || mode == "WRITE" || mode == "POLL" || mode == "REFRESH");
  const int32_t timeout = dsc::getAccessTimeout(text);
  if (text.find('[') == std::string::npos) FUZZ_CHECK(timeout == 1000);
  // The mode is found anywhere: what follows a word that is no mode keeps it.
  if (mode != "READ") FUZZ_CHECK(dsc::getAccessMode(text + " x") == mode);
  return 0;
}
