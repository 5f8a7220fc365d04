#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dsc::sim {

// The model of a simulated facility, as loaded from its description file
// (docs/facility-format.md). The simulation changes values in place (writes,
// ramps); names and structure never change after loading.

template <typename T>
using NameMap = std::map<std::string, T, std::less<>>;

// A completion code that an asynchronous access delivers after `after` data deliveries.
struct ScriptedEvent {
  int32_t after = 0;
  int32_t code = 0;
};

// A property's value bytes. Every device made from a template shares the
// template's bytes (a 2048-element wave in each of many devices) until it
// changes its own: a write, a ramp step or a value of the device's own takes
// a copy first, through edit().
class ValueBytes {
 public:
  ValueBytes() = default;
  ValueBytes(size_t size, uint8_t fill)
      : bytes_(std::make_shared<std::vector<uint8_t>>(size, fill)) {}

  size_t size() const { return bytes_ ? bytes_->size() : 0; }
  const uint8_t* data() const { return bytes_ ? bytes_->data() : nullptr; }
  std::span<const uint8_t> view() const { return {data(), size()}; }
  // The bytes of this property alone, copied if another holds them too.
  std::span<uint8_t> edit() {
    if (!bytes_) return {};
    if (bytes_.use_count() > 1) bytes_ = std::make_shared<std::vector<uint8_t>>(*bytes_);
    return *bytes_;
  }

  friend bool operator==(const ValueBytes& a, const std::vector<uint8_t>& b) {
    return std::equal(a.data(), a.data() + a.size(), b.begin(), b.end());
  }

 private:
  std::shared_ptr<std::vector<uint8_t>> bytes_;
};

struct Property {
  std::string name;
  uint8_t format = 0;  // short code
  int32_t count = 1;   // element count announced by PROPS
  ValueBytes data;     // the value, count elements of the format
  bool writable = false;
  bool echo = false;  // an access with input answers with that input
  int16_t code = 0;   // every access answers this code when non-zero
  int32_t delayMs = 0;
  int32_t pollMs = 0;  // 0: the server's period
  // Moves towards element i of property rampSource at rampRate units per second.
  bool ramps = false;
  size_t rampSource = 0;  // index in the device's properties
  double rampRate = 0;
  int64_t rampLastMs = -1;            // simulated time of the last ramp step, -1 before the first
  std::vector<double> rampNow;        // exact ramp position (integer formats round on store)
  std::vector<size_t> dependents;     // ramping properties that move towards this one
  std::vector<ScriptedEvent> events;  // sorted by `after`
};

struct Device {
  std::string name;
  std::vector<Property> properties;  // in the order PROPS lists them
  NameMap<size_t> index;
  int16_t code = 0;
  NameMap<int16_t> codes;  // property name -> code
  int32_t delayMs = 0;
  std::optional<int16_t> nprops;  // count NPROPS announces instead of the number of properties
};

struct Server {
  std::string name;
  std::vector<Device> devices;
  NameMap<size_t> index;
  Device self;                           // "#0": SRVSELFTEST and the four information texts
  std::vector<std::string> deviceSlots;  // NAME16 slots that DEVICES answers
  std::optional<int16_t> ndevices;       // count NDEVICES announces instead of the number of slots
  bool shortPropsOnly = false;           // PROPS knows only the 68-byte record
  int16_t code = 0;                      // e.g. 45 for a server that does not answer
  NameMap<int16_t> codes;                // property name -> code, on every device of the server
  int32_t delayMs = 0;
  int32_t pollMs = 250;
};

struct Context {
  std::string name;
  std::vector<Server> servers;
  NameMap<size_t> index;
  std::vector<std::string> serverSlots;  // NAME16 slots that TAGS answers
  std::optional<int16_t> ntags;          // count NTAGS announces instead of the number of slots
  NameMap<int16_t> codes;                // NTAGS / TAGS -> code
};

struct Facility {
  std::string title;
  std::vector<Context> contexts;
  NameMap<size_t> index;
  std::vector<std::string> contextSlots;  // what T_GETCONTEXTS answers
  int16_t contextsCode = 0;
  std::map<int32_t, std::string> errors;  // completion code -> message text
  // Bare server name -> (context, server), for NDEVICES/DEVICES; the first context wins.
  NameMap<std::pair<size_t, size_t>> serverByName;
};

// Completion codes the simulation answers on its own account.
inline constexpr int16_t kSimUnknownContext = 60;
inline constexpr int16_t kSimUnknownServer = 61;
inline constexpr int16_t kSimUnknownDevice = 62;
inline constexpr int16_t kSimUnknownProperty = 63;
inline constexpr int16_t kSimReadOnly = 64;
inline constexpr int16_t kSimIllegalFormat = 65;  // the name server's kCodeIllegalFormat too

// The message texts every facility starts from; its "errors" table overrides them.
const std::map<int32_t, std::string>& DefaultErrorTexts();

// Parses a facility description. On failure returns false and sets error to
// "<sourceName>: <place>: <what is wrong>", the place being a line and column
// or the JSON path of the offending value.
bool LoadFacility(std::string_view json, const std::string& sourceName, Facility& facility,
                  std::string& error);

}  // namespace dsc::sim
