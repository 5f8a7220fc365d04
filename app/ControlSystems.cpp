#include "app/ControlSystems.h"

#include <algorithm>
#include <cstdlib>

#include "access/StrictJson.h"

namespace dsc {

// Generated from the backends' ovra_register_backend (app/CMakeLists.txt).
std::vector<const Backend*> RegisteredBackends();

const std::vector<const Backend*>& Backends() {
  static const std::vector<const Backend*> backends = [] {
    std::vector<const Backend*> list = RegisteredBackends();
    std::stable_partition(list.begin(), list.end(),
                          [](const Backend* b) { return !b->takesAnyFile; });
    return list;
  }();
  return backends;
}

namespace {

// The backend that opens networked control systems.
const Backend* AddressBackend() {
  for (const Backend* b : Backends())
    if (b->openAddresses) return b;
  return nullptr;
}

}  // namespace

std::vector<std::string> AddressesToOpen(const std::vector<std::string>& given) {
  if (!given.empty()) return given;
  const Backend* backend = AddressBackend();
  const char* named = backend ? std::getenv(backend->addressVariable) : nullptr;
  // An empty one is a mistake to be told, not the demo opened silently.
  if (named) return {named};
  return {};
}

bool OpenAddresses(const std::vector<std::string>& addresses, Clock& clock, ControlSystem& opened,
                   std::string& error, const ReadJudgement& judgement) {
  const Backend* backend = AddressBackend();
  if (!backend) {
    error = "no backend of this build opens a networked control system";
    return false;
  }
  return backend->openAddresses(addresses, clock, opened, error, judgement);
}

std::string ChosenFacility(const std::string& given) {
  if (!given.empty()) return given;
  const char* fromEnvironment = std::getenv("OVRA_FACILITY");
  return fromEnvironment ? fromEnvironment : "";
}

std::string BackendStatus() {
  std::string lines;
  for (const Backend* b : Backends())
    if (b->status) lines += (lines.empty() ? "" : "\n") + b->status();
  return lines;
}

bool OpenControlSystem(const std::string& path, Clock& clock, ControlSystem& opened,
                       std::string& error, const ReadJudgement& judgement) {
  if (path.empty()) {
    for (const Backend* b : Backends())
      if (b->openBuiltIn) return b->openBuiltIn(clock, opened, error);
    error = "this build has no built-in control system";
    return false;
  }
  std::string text;
  if (!strictjson::ReadFileText(path, text, error)) return false;
  for (const Backend* b : Backends())
    if (b->openFile && b->claimsFile(text))
      return b->openFile(text, path, clock, opened, error, judgement);
  error = path + ": no backend of this build reads this file";
  return false;
}

}  // namespace dsc
