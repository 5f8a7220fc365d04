#include "app/ControlSystems.h"

#include <cstdlib>

#include "app/BackendPlugins.h"
#include "base/StrictJson.h"
#include "sim/SimControlSystem.h"
#include "tango/TangoSite.h"

namespace dsc {

namespace {

constexpr char kTangoModule[] = "ovra-tango.so";

}  // namespace

std::string ChosenFacility(const std::string& given) {
  if (!given.empty()) return given;
  const char* fromEnvironment = std::getenv("OVRA_FACILITY");
  return fromEnvironment ? fromEnvironment : "";
}

std::string TangoBackendStatus() {
#ifdef OVRA_TANGO_MODULE_BUILT
  const std::string path = FindBackendPlugin(kTangoModule);
  return path.empty() ? "Tango backend: not installed (no " + std::string(kTangoModule) + ")"
                      : "Tango backend: " + path;
#else
  return "Tango backend: not built (libtango-dev was not found when it was configured)";
#endif
}

bool OpenControlSystem(const std::string& path, Clock& clock, ControlSystem& opened,
                       std::string& error) {
  if (path.empty()) {
    std::unique_ptr<sim::SimControlSystem> sim = sim::SimControlSystem::Demo(clock);
    if (!sim) {
      error = "the built-in demo facility does not load";
      return false;
    }
    opened.control = sim::MakeSimControl(*sim);
    opened.callsMayBlock = false;
    opened.library = std::move(sim);
    opened.description = "the built-in demo facility";
    return true;
  }

  std::string text;
  if (!strictjson::ReadFileText(path, text, error)) return false;

  if (tango::LooksLikeSite(text)) {
    std::optional<tango::Site> site = tango::LoadSite(text, path, error);
    if (!site) return false;
#ifdef OVRA_TANGO_MODULE_BUILT
    // Only now are Tango's client libraries loaded.
    std::string why;
    const BackendPlugin* plugin = LoadBackendPlugin(kTangoModule, why);
    if (!plugin) {
      error = path + ": a Tango site file, but the Tango backend is not installed (" + why + ")";
      return false;
    }
    std::unique_ptr<ClientLibrary> library = plugin->openSite(text, path, clock, error);
    if (!library) return false;
    opened.control = plugin->makeControl(*library);
    if (!opened.control) {
      error = path + ": the Tango backend made no control for its library";
      return false;
    }
    opened.library = std::move(library);
    opened.description = "Tango site " + path;
    return true;
#else
    error = path +
            ": a Tango site file, but this build has no Tango backend (libtango-dev was "
            "not found when it was configured)";
    return false;
#endif
  }

  std::unique_ptr<sim::SimControlSystem> sim =
      sim::SimControlSystem::FromText(text, path, clock, error);
  if (!sim) return false;
  opened.control = sim::MakeSimControl(*sim);
  opened.callsMayBlock = false;
  opened.library = std::move(sim);
  opened.description = "facility " + path;
  return true;
}

}  // namespace dsc
