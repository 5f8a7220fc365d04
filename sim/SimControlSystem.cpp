#include "sim/SimControlSystem.h"

#include <algorithm>
#include <cstring>

#include "access/CompletionCodes.h"
#include "access/StrictJson.h"
#include "sim/Facility.h"
#include "sim/SimCore.h"

namespace dsc::sim {

struct SimControlSystem::Impl {
  Impl(std::shared_ptr<Facility> f, Clock& c) : core(std::move(f), c) {}
  SimCore core;
  long calls = 0;
};

SimControlSystem::SimControlSystem(std::shared_ptr<Facility> facility, Clock& clock)
    : impl_(std::make_unique<Impl>(std::move(facility), clock)) {}

SimControlSystem::~SimControlSystem() = default;

std::unique_ptr<SimControlSystem> SimControlSystem::FromText(std::string_view json,
                                                             const std::string& sourceName,
                                                             Clock& clock, std::string& error) {
  auto facility = std::make_shared<Facility>();
  if (!LoadFacility(json, sourceName, *facility, error)) return nullptr;
  return std::make_unique<SimControlSystem>(std::move(facility), clock);
}

std::unique_ptr<SimControlSystem> SimControlSystem::FromFile(const std::string& path, Clock& clock,
                                                             std::string& error) {
  std::string text;
  if (!strictjson::ReadFileText(path, text, error)) return nullptr;
  return FromText(text, path, clock, error);
}

std::unique_ptr<SimControlSystem> SimControlSystem::Demo(Clock& clock) {
  std::string error;
  auto system = FromText(DemoFacilityText(), "demo.json", clock, error);
  // The demo is compiled in and covered by tests; a broken one is a build fault.
  if (!system) std::abort();
  return system;
}

int16_t SimControlSystem::T_EXECLINK(const std::string& device, const std::string& property,
                                     DataDescriptor& out, std::span<uint8_t> outData,
                                     const DataDescriptor& in, std::span<const uint8_t> inData,
                                     int16_t /*access*/, int32_t timeoutMs) {
  ++impl_->calls;
  SimRequest r{device, property, outData,   out.count, out.format,
               inData, in.count, in.format, timeoutMs};
  int32_t delivered = 0;
  int16_t code = impl_->core.Access(r, delivered, nullptr);
  if (code == 0 || (static_cast<uint16_t>(code) & kCodeFlagPartial)) out.count = delivered;
  return code;
}

int16_t SimControlSystem::EXECLINKEx(const std::string& device, const std::string& property,
                                     DataDescriptor& out, std::span<uint8_t> outData,
                                     const DataDescriptor& in, std::span<const uint8_t> inData,
                                     int16_t access, int32_t timeoutMs) {
  return T_EXECLINK(device, property, out, outData, in, inData, access, timeoutMs);
}

int16_t SimControlSystem::T_GETCONTEXTS(std::span<uint8_t> names, int32_t& count) {
  ++impl_->calls;
  return impl_->core.GetContexts(names, count);
}

int16_t SimControlSystem::RPCERR(int16_t code, std::span<char> text) {
  ++impl_->calls;
  const std::string* message = impl_->core.ErrorText(code);
  if (!message || text.empty()) return 1;
  // A message as long as the buffer or longer fills it without a NUL.
  size_t n = std::min(message->size(), text.size());
  std::memcpy(text.data(), message->data(), n);
  if (n < text.size()) text[n] = '\0';
  return 0;
}

Facility& SimControlSystem::facility() { return impl_->core.facility(); }
Clock& SimControlSystem::clock() { return impl_->core.clock(); }
long SimControlSystem::callCount() const { return impl_->calls; }
SimCore& SimControlSystem::core() { return impl_->core; }

}  // namespace dsc::sim
