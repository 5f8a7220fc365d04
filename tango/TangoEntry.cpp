// Tango as the programs see it before its module is loaded: which files and
// addresses are Tango's, and how they reach the module ovra-tango.so, so that
// Tango's client libraries are loaded only when Tango is asked for.

#include "access/Backends.h"
#include "base/BackendPlugins.h"
#include "tango/TangoSite.h"

namespace dsc::tango {

namespace {

// Named only where the module is built; a build without it says so instead.
[[maybe_unused]] constexpr char kTangoModule[] = "ovra-tango.so";

// A Tango site's JSON text through the module; `kind` says in messages what
// was asked for ("a Tango site file").
bool OpenThroughModule(const std::string& text, const std::string& source, const std::string& kind,
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

// The command line's judgement in Tango's names; false with a message for
// a state Tango does not have.
bool TangoJudgement(const ReadJudgement& given, Judgement& judgement, std::string& error) {
  judgement.failOnQuality = QualityLevel(given.failOnQuality);
  judgement.checkLimits = given.checkLimits;
  for (const std::string& state : given.expectStates) {
    judgement.expectStates.push_back(StateName(state));
    if (judgement.expectStates.back().empty()) {
      error = "--expect-state: \"" + state + "\" is not a Tango state";
      return false;
    }
  }
  return true;
}

bool OpenFile(const std::string& text, const std::string& path, Clock& clock, ControlSystem& opened,
              std::string& error, const ReadJudgement& given) {
  // The site file is checked before the module is looked for.
  const std::optional<Site> site = LoadSite(text, path, error);
  if (!site) return false;
  Judgement judgement;
  if (!TangoJudgement(given, judgement, error)) return false;
  if (!OpenThroughModule(WithJudgement(text, judgement), path, "a Tango site file", clock, opened,
                         error))
    return false;
  opened.jobs = site->jobs;
  opened.timeoutMs = site->timeoutMs;
  return true;
}

bool OpenAddresses(const std::vector<std::string>& hosts, Clock& clock, ControlSystem& opened,
                   std::string& error, const ReadJudgement& given) {
  Judgement judgement;
  if (!TangoJudgement(given, judgement, error)) return false;
  // The databases become a site of discovered contexts, opened as any site.
  const std::optional<std::string> site = SiteJsonFromTangoHosts(hosts, error, given.failOnState);
  if (!site) return false;
  if (!OpenThroughModule(WithJudgement(*site, judgement), "TANGO_HOST " + JoinedHosts(hosts),
                         "a Tango database", clock, opened, error))
    return false;
  opened.description = "Tango database " + JoinedHosts(hosts);
  return true;
}

std::string Status() {
#ifdef OVRA_TANGO_MODULE_BUILT
  const std::string path = FindBackendPlugin(kTangoModule);
  return path.empty() ? "Tango backend: not installed (no " + std::string(kTangoModule) + ")"
                      : "Tango backend: " + path;
#else
  return "Tango backend: not built (libtango-dev was not found when it was configured)";
#endif
}

}  // namespace

const Backend& TangoBackend() {
  static const Backend backend{
      .name = "Tango",
      .claimsFile = [](std::string_view text) { return LooksLikeSite(text); },
      .openFile = OpenFile,
      .addressVariable = "TANGO_HOST",
      .openAddresses = OpenAddresses,
      .status = Status,
  };
  return backend;
}

}  // namespace dsc::tango
