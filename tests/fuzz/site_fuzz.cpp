// The site-file loader on any text. A site it accepts is recognised as one,
// names only what may become a file name, and gives every device an address.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/SafeNames.h"
#include "tango/TangoSite.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto site = dsc::tango::LoadSite(text, "site.json", error);
  if (!site) {
    FUZZ_CHECK(error.rfind("site.json: ", 0) == 0);
    for (const char c : error) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    return 0;
  }
  FUZZ_CHECK(dsc::tango::LooksLikeSite(text));
  FUZZ_CHECK(!site->contexts.empty());
  for (const auto& c : site->contexts) {
    FUZZ_CHECK(dsc::IsSafeName(c.name));
    for (const auto& s : c.servers) {
      FUZZ_CHECK(dsc::IsSafeName(s.name) && !s.devices.empty());
      for (const auto& d : s.devices)
        FUZZ_CHECK(dsc::tango::TangoAddress(c, d).rfind("tango://" + c.host + ":", 0) == 0);
    }
  }
  return 0;
}
