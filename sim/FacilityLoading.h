#pragma once

// The loader's parsing of properties, apart from its parsing of contexts,
// servers and devices: one facility file, two files of code. Internal to sim/.

#include <cstdint>
#include <string>
#include <vector>

#include "access/StrictJson.h"
#include "sim/Facility.h"

namespace dsc::sim::loading {

using namespace dsc::strictjson;

constexpr uint8_t kText = 4;

int16_t Code(const json& j, const std::string& path);

enum class NameKind { kContext, kServer, kDevice, kProperty };

// A name as the control system's slots can hold it; fails naming `path`.
std::string Name(const json& j, const std::string& path, NameKind kind);

// A property as written, before its ramp is tied to another property.
struct PropertyDraft {
  Property p;
  std::string rampTowards;
  std::string path;
};

constexpr int64_t kMaxValueBytes = 16 << 20;

// What a whole facility may expand to. A template is copied into every device
// that names it, so a small file could otherwise ask for gigabytes; these
// limits lie far beyond any real facility (docs/facility-format.md) and are
// checked before the memory is taken.
constexpr int64_t kMaxFacilityValueBytes = 64 << 20;  // values and ramp positions
constexpr int64_t kMaxFacilityProperties = 100'000;   // template copies included
constexpr int64_t kMaxFacilityEvents = 100'000;
constexpr int64_t kMaxFacilityItems = 100'000;  // contexts, servers and devices

class Budget {
 public:
  // A property of `bytes` (its ramp's positions included) and its events.
  void Property(int64_t bytes, int64_t events, const std::string& path) {
    Take(properties_, 1, kMaxFacilityProperties, "properties", path);
    Take(events_, events, kMaxFacilityEvents, "scripted events", path);
    if (bytes > kMaxFacilityValueBytes - valueBytes_)
      Fail(path, "the facility's values need more than " +
                     std::to_string(kMaxFacilityValueBytes >> 20) + " MiB");
    valueBytes_ += bytes;
  }
  void Item(const std::string& path) {
    Take(items_, 1, kMaxFacilityItems, "contexts, servers and devices", path);
  }

 private:
  static void Take(int64_t& used, int64_t n, int64_t max, const char* what,
                   const std::string& path) {
    if (n > max - used)
      Fail(path, std::string("the facility has more than ") + std::to_string(max) + " " + what);
    used += n;
  }
  int64_t valueBytes_ = 0, properties_ = 0, events_ = 0, items_ = 0;
};

// A device's own value for a property it takes from a template: a scalar or a
// string into element 0, an array element by element.
void SetValue(Property& p, const json& v, const std::string& path);
void SetValues(Property& p, const json& v, const std::string& path);

// A ramp keeps the exact position of every element beside the value.
inline int64_t ValueCost(int64_t count, int64_t elementSize, bool ramps) {
  return count * elementSize + (ramps ? count * static_cast<int64_t>(sizeof(double)) : 0);
}

// The properties of one device or template, in order, refusing a name used twice.
std::vector<PropertyDraft> ParseProperties(const json& j, const std::string& path, Budget& budget);

}  // namespace dsc::sim::loading
