// The facility and site loaders on any text. Refusals name the file and show
// none of its control characters. A facility accepted answers: every property
// of every device is found by the name the model lists it under, and read
// without a sanitizer's finding; the property list query lists no name the
// device does not have. A site accepted is recognised as one, names only what
// may become a file name, and gives every device an address.

#include "base/Formats.h"
#include "access/NamespaceQueries.h"
#include "base/SafeNames.h"
#include "sim/SimControlSystem.h"
#include "sim/SimCore.h"
#include "tango/TangoSite.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/Fakes.h"

namespace {

using namespace dsc;

// A refusal of the file called `name`.
void CheckRefusal(const std::string& error, const std::string& name) {
  FUZZ_CHECK(error.rfind(name + ": ", 0) == 0);
  for (const char c : error) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
}

void CheckSite(std::string_view text) {
  std::string error;
  const auto site = tango::LoadSite(text, "site.json", error);
  if (!site) return CheckRefusal(error, "site.json");
  FUZZ_CHECK(tango::LooksLikeSite(text));
  FUZZ_CHECK(!site->contexts.empty());
  for (const auto& c : site->contexts) {
    FUZZ_CHECK(IsSafeName(c.name));
    for (const auto& s : c.servers) {
      FUZZ_CHECK(IsSafeName(s.name) && !s.devices.empty());
      for (const auto& d : s.devices)
        FUZZ_CHECK(tango::TangoAddress(c, d).rfind("tango://" + c.host + ":", 0) == 0);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckSite(text);
  static testing::FakeClock clock;
  std::string error;
  auto system = sim::SimControlSystem::FromText(text, "fuzz.json", clock, error);
  if (!system) {
    CheckRefusal(error, "fuzz.json");
    return 0;
  }
  size_t reads = 0;
  for (const auto& c : system->facility().contexts) {
    FUZZ_CHECK(IsSafeName(c.name));
    for (const auto& s : c.servers) {
      FUZZ_CHECK(IsSafeName(s.name));
      for (const auto& d : s.devices) {
        const std::string device = "/" + c.name + "/" + s.name + "/" + d.name;
        std::vector<std::string> names;
        std::vector<int16_t> sizes, formats;
        int16_t count = 0;
        if (GetPropertyList(*system, device, names, sizes, formats, count) == 0)
          for (int16_t i = 0; i < count; ++i) FUZZ_CHECK(d.index.count(names[i]) == 1);
        for (const auto& p : d.properties) {
          if (++reads > 200) return 0;  // enough for one input
          // Whatever code the file sets, the name itself is always found.
          sim::SimTarget target;
          FUZZ_CHECK(system->core().Resolve(device, p.name, target, nullptr) == 0 &&
                     target.property == &p);
          DataDescriptor out{.count = 1, .format = static_cast<int16_t>(p.format + kFormatBase)};
          std::vector<uint8_t> value(64);
          system->EXECLINKEx(device, p.name, out, value, DataDescriptor{}, {}, 1, 1000);
        }
      }
    }
  }
  return 0;
}
