#include "app/ControlSystems.h"

#include <cstdlib>

#include "access/StrictJson.h"
#include "app/BackendPlugins.h"
#include "sim/SimControlSystem.h"
#include "tango/TangoSite.h"

namespace dsc {

namespace {

constexpr char kTangoModule[] = "ovra-tango.so";

// A Tango site's JSON text through the Tango backend's module; `kind` says
// in messages what was asked for ("a Tango site file").
bool OpenTangoSite(const std::string& text, const std::string& source, const std::string& kind,
                   Clock& clock, ControlSystem& opened, std::string& error) {
#ifdef OVRA_TANGO_MODULE_BUILT
  // Only now are Tango's client libraries loaded.
  std::string why;
  const BackendPlugin* plugin = LoadBackendPlugin(kTangoModule, why);
  if (!plugin) {
    error = source + ": " + kind + ", but the Tango backend is not installed (" + why + ")";
    return false;
  }
  std::unique_ptr<ClientLibrary> library = plugin->openSite(text, source, clock, error);
  if (!library) return false;
  opened.control = plugin->makeControl(*library);
  if (!opened.control) {
    error = source + ": the Tango backend made no control for its library";
    return false;
  }
  opened.library = std::move(library);
  opened.description = "Tango site " + source;
  return true;
#else
  (void)text;
  (void)clock;
  (void)opened;
  error = source + ": " + kind +
          ", but this build has no Tango backend (libtango-dev was not found when it was "
          "configured)";
  return false;
#endif
}

}  // namespace

std::vector<std::string> TangoHostsToOpen(const std::vector<std::string>& given) {
  if (!given.empty()) return given;
  const char* host = std::getenv("TANGO_HOST");
  // An empty TANGO_HOST is a mistake to be told, not the demo opened silently.
  if (host) return {host};
  return {};
}

bool OpenTangoDatabases(const std::vector<std::string>& hosts, Clock& clock, ControlSystem& opened,
                        std::string& error, bool failOnState, const tango::Judgement& judgement) {
  // The databases become a site of discovered contexts, opened as any site.
  const std::optional<std::string> site = tango::SiteJsonFromTangoHosts(hosts, error, failOnState);
  if (!site) return false;
  if (!OpenTangoSite(tango::WithJudgement(*site, judgement),
                     "TANGO_HOST " + tango::JoinedHosts(hosts), "a Tango database", clock, opened,
                     error))
    return false;
  opened.description = "Tango database " + tango::JoinedHosts(hosts);
  return true;
}

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
                       std::string& error, const tango::Judgement& judgement) {
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
    return OpenTangoSite(tango::WithJudgement(text, judgement), path, "a Tango site file", clock,
                         opened, error);
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
