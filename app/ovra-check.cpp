// ovra-check: the device server checker without a window. It prepares the same
// tests as the window (standard, specific, stored configuration, information),
// runs them through the check runner against a simulated facility (or a Tango
// installation, given a site file) and prints
// one line per command; --json and --junit give machine-readable results,
// --html a page to look at.
// The subcommands live in app/check/, a file each.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "app/ControlSystems.h"
#include "app/check/Checker.h"
#include "app/check/Commands.h"
#include "app/check/Options.h"
#include "base/Clock.h"
#include "base/SafeNames.h"
#include "base/TextEncoding.h"

using namespace dsc;
using namespace dsc::check;

namespace {

// What the HTML page says was run, and against what: the arguments as
// typed (quoted where a shell would need it), the facility or the Tango
// databases.
HtmlRunInfo HtmlRunInfoOf(int argc, char** argv, const std::string& facility,
                          const std::vector<std::string>& tangoHosts, const std::string& database) {
  HtmlRunInfo info;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool plain =
        !arg.empty() && arg.find_first_of(" \t\n\"'\\$`*?;&|<>()") == std::string::npos;
    info.what += (i > 1 ? " " : "") + (plain ? arg : "\"" + arg + "\"");
  }
  if (!tangoHosts.empty()) {
    info.against = "Tango database";
    for (const std::string& host : tangoHosts) info.against += " " + host;
  } else {
    info.against = facility.empty() ? "the built-in demo facility" : facility;
  }
  info.database = database;
  return info;
}

}  // namespace

// main's body, callable in process (the command-line fuzz target runs it
// with its own arguments; it writes to std::cout and std::cerr).
namespace {

int CheckFromTheCommandLine(int argc, char** argv) {
  // Lines are flushed where they should be (LineFlusher), not on every "\n".
  std::ios::sync_with_stdio(false);
  // With --json the human lines go to stderr: into a pipe or file they are
  // buffered too instead of costing a write per piece.
  // Nor does each of them flush stdout (the JSON) through the tie.
  if (isatty(STDERR_FILENO) == 0) {
    std::cerr.unsetf(std::ios::unitbuf);
    std::cerr.tie(nullptr);
  }
  CLI::App app{"Checks the device servers of the Ovra control system from the terminal."};
  CommandLine cl;
  DefineCommandLine(app, cl);
  const Options& opt = cl.opt;
  std::string context, server, device = "#0";

  if (const std::string why = ValueLikeAnOption(app, argc, argv); !why.empty()) {
    std::cerr << "ovra-check: " << why << "\n";
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    if (rc != 0) std::cerr << Suggestion(app, argc, argv);
    return rc == 0 ? kExitOk : kExitUsage;
  }

  // Names go to the control system in its Latin-1; one it cannot hold is
  // refused before anything is asked. Text that is not UTF-8 (typed on a
  // Latin-1 terminal) stays as it is.
  std::string refusedName;
  auto toLatin1 = [&refusedName](std::string& name) {
    std::string latin1;
    uint32_t refused = 0;
    if (Utf8ToLatin1(name, latin1, &refused)) {
      name = latin1;
    } else if (refused != kNotUtf8 && refusedName.empty()) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(refused));
      refusedName = "\"" + name + "\" is refused: column " + std::to_string(latin1.size() + 1) +
                    ": " + code + " has no Latin-1 character, the control system's";
    }
  };
  for (std::string* name : {&context, &server, &device, &cl.configKey}) toLatin1(*name);
  for (std::string& name : cl.listNames) toLatin1(name);
  for (std::string& name : cl.typed) toLatin1(name);
  for (std::string& name : cl.sweepNames) toLatin1(name);
  if (!refusedName.empty()) {
    std::cerr << "ovra-check: " << TerminalText(refusedName) << "\n";
    return kExitUsage;
  }
  if (std::string why;
      !cl.opt.shard.empty() && !ParseShard(cl.opt.shard, cl.opt.shardParsed, why)) {
    std::cerr << "ovra-check: " << why << "\n";
    return kExitUsage;
  }
  // Names of the control system, not paths: a path is taken as typed.
  if (cl.lintArgs.size() == 2 && !std::filesystem::exists(cl.lintArgs[0]))
    for (std::string& name : cl.lintArgs) name = Utf8ToLatin1(name);

  // One clock for the simulation and the checker: the simulated values move
  // in real time, as the asynchronous waits do.
  SystemClock clock;
  std::string error;
  ControlSystem system;
  const std::string facility = ChosenFacility(opt.facility);
  const std::vector<std::string> tangoHosts =
      facility.empty() ? AddressesToOpen(opt.tangoHosts) : std::vector<std::string>{};
  if (!opt.facility.empty() && !opt.tangoHosts.empty()) {
    std::cerr << "ovra-check: --facility and --tango-host exclude each other\n";
    return kExitUsage;
  }
  ReadJudgement judgement;
  judgement.failOnState = opt.tangoFailOnState;
  judgement.failOnQuality = opt.failOnQuality;
  judgement.checkLimits = opt.checkLimits;
  judgement.expectStates = opt.expectStates;
  if (!(tangoHosts.empty() ? OpenControlSystem(facility, clock, system, error, judgement)
                           : OpenAddresses(tangoHosts, clock, system, error, judgement))) {
    std::cerr << "ovra-check: " << error << "\n";
    return kExitUsage;
  }
  // A site file's defaults; the command line's --jobs and --timeout win.
  if (cl.opt.jobs == 0) cl.opt.jobs = system.jobs;
  if (cl.opt.timeoutMs == 0) cl.opt.timeoutMs = system.timeoutMs;

  std::vector<std::string> looked;
  const DatabaseChoice database = ChooseDatabaseDirectory(
      DatabaseSearch::FromEnvironment(argc > 0 ? argv[0] : "", opt.database), &looked);
  std::error_code ec;
  if (database.named && !std::filesystem::is_directory(database.path, ec)) {
    std::cerr << "ovra-check: no database directory "
              << (opt.database.empty() ? database.path + " ($OVRA_DATABASE)" : opt.database)
              << "\n";
    return kExitUsage;
  }
  Checker checker(opt, clock, std::move(system), database.path);
  checker.htmlInfo = HtmlRunInfoOf(argc, argv, facility, tangoHosts, database.path);
  // Each lane of --jobs opens the same control system as its own.
  checker.reopen = [&clock, facility, tangoHosts, judgement](ControlSystem& opened,
                                                             std::string& why) {
    return tangoHosts.empty() ? OpenControlSystem(facility, clock, opened, why, judgement)
                              : OpenAddresses(tangoHosts, clock, opened, why, judgement);
  };

  try {
    if (*cl.list && cl.listConfigurations) return ListConfigurations(checker, opt.json);
    if (*cl.list) return List(checker, cl.listNames, opt.json);
    if (*cl.capture) return Capture(checker, cl.captureNames, cl.captureOutput);
    if (const std::optional<int> rc = RunSweep(checker, cl)) return *rc;
    if ((*cl.info || *cl.standard || *cl.specific) &&
        !Resolve(checker.lib(), cl.typed, cl.standard->parsed(), context, server, device, error)) {
      std::cerr << "ovra-check: " << TerminalText(error) << "\n";
      return kExitFailed;
    }
    // The context and server name test files in the database directory.
    for (const auto& [what, name] :
         {std::pair{"context", &context}, std::pair{"server", &server}}) {
      if (!(*cl.info || *cl.standard || *cl.specific)) break;
      if (const std::string why = UnsafeNameReason(*name); !why.empty()) {
        std::cerr << "ovra-check: " << what << " \"" << AsUtf8(VisibleControls(*name))
                  << "\" is refused: " << why << "\n";
        return kExitUsage;
      }
    }
    if (*cl.info) return Info(checker, context, server, opt.json);
    if (*cl.lint) return Lint(checker, cl.lintArgs, opt.json);
    if (!checker.OpenOutputs()) return kExitUsage;
    checker.ListenForSignals();
    if (*cl.standard) return RunStandard(checker, context, server, device);
    if (*cl.specific) return RunSpecific(checker, opt, context, server, device);
    if (*cl.config) return RunConfig(checker, opt, cl.configKey, looked);
  } catch (const std::exception& e) {
    std::cerr << "ovra-check: " << e.what() << "\n";
    return kExitFailed;
  }
  return kExitUsage;
}

}  // namespace

int RunOvraCheck(int argc, char** argv) {
  const int rc = CheckFromTheCommandLine(argc, argv);
  // Output a CI job reads must not be lost without a word: every write to
  // standard output went through std::cout, whose state says whether one
  // failed. A signal's status says more and stays.
  errno = 0;
  std::cout.flush();
  if (std::cout.good()) return rc;
  const int error = errno;
  std::cerr << "ovra-check: standard output could not be written"
            << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << "\n";
  std::cerr.flush();
  std::cout.clear();  // a caller in the same process starts afresh
  return rc >= 128 ? rc : kExitOutputLost;
}

#ifndef OVRA_CHECK_NO_MAIN
int main(int argc, char** argv) { return RunOvraCheck(argc, argv); }
#endif
