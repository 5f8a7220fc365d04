// The facility loader on any text. A facility it accepts answers: every
// property of every device is found by the name the model lists it under, and
// the property list query lists no name the device does not have.

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "access/NamespaceQueries.h"
#include "base/Formats.h"
#include "base/SafeNames.h"
#include "sim/Facility.h"
#include "sim/SimControlSystem.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

using namespace dsc;

// Every completion code the file sets on purpose: those may be answered.
std::set<int32_t> Configured(const sim::Facility& f) {
  std::set<int32_t> codes{f.contextsCode};
  for (const auto& c : f.contexts) {
    for (const auto& [k, v] : c.codes) codes.insert(v);
    for (const auto& s : c.servers) {
      codes.insert(s.code);
      for (const auto& [k, v] : s.codes) codes.insert(v);
      for (const auto& d : s.devices) {
        codes.insert(d.code);
        for (const auto& [k, v] : d.codes) codes.insert(v);
        for (const auto& p : d.properties) {
          codes.insert(p.code);
          for (const auto& e : p.events) codes.insert(e.code);
        }
      }
    }
  }
  return codes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static StillClock clock;
  std::string error;
  auto system = sim::SimControlSystem::FromText(
      std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.json", clock, error);
  if (!system) {
    FUZZ_CHECK(error.rfind("fuzz.json: ", 0) == 0);
    // Messages quote the file, but never its control characters.
    for (const char c : error) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    return 0;
  }
  const sim::Facility& f = system->facility();
  const std::set<int32_t> configured = Configured(f);
  const auto unknown = [&](int16_t code) {
    return code >= sim::kSimUnknownContext && code <= sim::kSimUnknownProperty &&
           !configured.count(code);
  };
  size_t reads = 0;
  for (const auto& c : f.contexts) {
    FUZZ_CHECK(IsSafeName(c.name));
    for (const auto& s : c.servers) {
      FUZZ_CHECK(IsSafeName(s.name));
      for (const auto& d : s.devices) {
        const std::string device = "/" + c.name + "/" + s.name + "/" + d.name;
        std::vector<std::string> names;
        std::vector<int16_t> sizes, formats;
        int16_t count = 0;
        if (GetPropertyList(*system, device, names, sizes, formats, count) == 0) {
          for (int16_t i = 0; i < count; ++i) FUZZ_CHECK(d.index.count(names[i]) == 1);
        }
        for (const auto& p : d.properties) {
          if (++reads > 200) return 0;  // enough for one input
          DataDescriptor out;
          out.count = 1;
          out.format = static_cast<int16_t>(p.format + kFormatBase);
          std::vector<uint8_t> value(64);
          const DataDescriptor in;
          FUZZ_CHECK(!unknown(system->EXECLINKEx(device, p.name, out, value, in, {}, 1, 1000)));
        }
      }
    }
  }
  return 0;
}
