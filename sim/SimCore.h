#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "access/NameServer.h"
#include "base/Clock.h"
#include "sim/Facility.h"

namespace dsc::sim {

// What an address and a property name resolve to.
struct SimTarget {
  enum class Kind { kNTags, kTags, kNDevices, kDevices, kNProps, kProps, kValue };
  Kind kind = Kind::kValue;
  Context* context = nullptr;
  Server* server = nullptr;
  Device* device = nullptr;
  Property* property = nullptr;
  int16_t code = 0;     // what the facility says this access answers
  int32_t delayMs = 0;  // server + device + property
  int32_t pollMs = 250;
};

struct SimRequest {
  std::string_view device;
  std::string_view property;
  std::span<uint8_t> out;
  int32_t outCount = 0;
  int16_t outFormat = 767;
  std::span<const uint8_t> in;
  int32_t inCount = 0;
  int16_t inFormat = 767;
  int32_t timeoutMs = 0;
};

// The access logic shared by the client library and the control: resolves
// names, applies codes and delays, writes and reads values, and describes the
// facility's directory to the name server. Never writes past a span.
class SimCore final : public Directory {
 public:
  SimCore(std::shared_ptr<Facility> facility, Clock& clock);

  // One complete access. `delivered` gets the output element count written;
  // `detail`, when given, a text naming what failed (left alone on success).
  int16_t Access(const SimRequest& request, int32_t& delivered, std::string* detail);
  // The directory the name server answers from.
  int16_t ListServers(const NameServerCall& call, NameList& list) override;
  int16_t ListDevices(const NameServerCall& call, NameList& list) override;
  int16_t ListProperties(const NameServerCall& call, PropertyList& list) override;
  int16_t Resolve(std::string_view device, std::string_view property, SimTarget& target,
                  std::string* detail);
  int16_t GetContexts(std::span<uint8_t> names, int32_t& count);
  // The facility's message for a code, or null.
  const std::string* ErrorText(int32_t code) const;

  Facility& facility() { return *facility_; }
  Clock& clock() { return clock_; }

 private:
  int16_t ListNames(const NameServerCall& call, NameList& list, bool servers);
  int16_t Admit(std::string_view device, std::string_view property, int32_t timeoutMs, SimTarget& t,
                std::string* detail);
  int16_t ValueAccess(SimTarget& t, const SimRequest& r, int32_t& delivered);
  void Advance(Device& d, Property& p);

  std::shared_ptr<Facility> facility_;
  Clock& clock_;
  std::vector<uint8_t> echo_;  // input kept for an echo, reused between calls
};

}  // namespace dsc::sim
