// The simulation as a backend: the built-in demo facility, and any file no
// other backend claims read as a facility description.

#include "access/Backends.h"
#include "sim/SimControlSystem.h"

namespace dsc::sim {

namespace {

void Opened(std::unique_ptr<SimControlSystem> sim, std::string description, ControlSystem& opened) {
  opened.control = MakeSimControl(*sim);
  opened.callsMayBlock = false;
  opened.library = std::move(sim);
  opened.description = std::move(description);
}

bool OpenBuiltIn(Clock& clock, ControlSystem& opened, std::string& error) {
  std::unique_ptr<SimControlSystem> sim = SimControlSystem::Demo(clock);
  if (!sim) {
    error = "the built-in demo facility does not load";
    return false;
  }
  Opened(std::move(sim), "the built-in demo facility", opened);
  return true;
}

// The simulation's values have no quality, limits or states to judge.
bool OpenFile(const std::string& text, const std::string& path, Clock& clock, ControlSystem& opened,
              std::string& error, const ReadJudgement&) {
  std::unique_ptr<SimControlSystem> sim = SimControlSystem::FromText(text, path, clock, error);
  if (!sim) return false;
  Opened(std::move(sim), "facility " + path, opened);
  return true;
}

}  // namespace

const Backend& SimBackend() {
  static const Backend backend{
      .name = "simulation",
      .claimsFile = [](std::string_view) { return true; },
      .takesAnyFile = true,
      .openFile = OpenFile,
      .openBuiltIn = OpenBuiltIn,
  };
  return backend;
}

}  // namespace dsc::sim
