#include "app/ControlSystems.h"

#include "sim/SimControlSystem.h"
#include "base/StrictJson.h"
#include "tango/TangoSite.h"
#ifdef OVRA_HAVE_TANGO
#include "tango/TangoBackend.h"
#endif

namespace dsc {

bool HaveTangoBackend() {
#ifdef OVRA_HAVE_TANGO
  return true;
#else
  return false;
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
    opened.library = std::move(sim);
    opened.description = "the built-in demo facility";
    return true;
  }

  std::string text;
  if (!strictjson::ReadFileText(path, text, error)) return false;

  if (tango::LooksLikeSite(text)) {
    std::optional<tango::Site> site = tango::LoadSite(text, path, error);
    if (!site) return false;
#ifdef OVRA_HAVE_TANGO
    auto library = std::make_unique<tango::TangoLibrary>(std::move(*site), clock);
    opened.control = tango::MakeTangoControl(*library);
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
  opened.library = std::move(sim);
  opened.description = "facility " + path;
  return true;
}

}  // namespace dsc
