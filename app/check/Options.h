#pragma once

// The command line of ovra-check: its exit statuses, its options and
// subcommands, and what the user typed into them.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "engine/TestPlan.h"
#include "sources/SiteSweep.h"

namespace dsc {
struct CheckTotals;
}

namespace dsc::check {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// The tests ran but lines of their report were lost (disk full, a refused file).
constexpr int kExitReportIncomplete = 3;
// What was to be written to standard output (results, lists, JSON lines)
// could not all be written: a full disk, a closed pipe end that does not
// signal, /dev/full.
constexpr int kExitOutputLost = 4;

// A CI job wants to hear about a dead server quickly but must not lose a
// server to one slow answer: three failed accesses in a row.
constexpr int kDefaultMaxLinkFailures = 3;

// The exit status of a run, from what it did: lost report lines outweigh
// failed commands (the record of the run is what a CI job keeps); an output
// that could not be written is a usage error; a signal says which it was.
int ExitStatusOf(const CheckTotals& totals, bool reportComplete, int signal);

struct Options {
  std::string facility;
  std::vector<std::string> tangoHosts;
  bool tangoFailOnState = false;
  std::string failOnQuality;              // WARNING, ALARM or INVALID
  bool checkLimits = false;               // alarm limits fail, warning limits are said
  std::vector<std::string> expectStates;  // a State read outside them fails
  std::string database;
  std::string reportDir;
  int retries = 0;
  bool json = false;
  std::string junit;
  std::string html;
  int maxLinkFailures = kDefaultMaxLinkFailures;
  std::vector<std::string> only, skip;
  bool strict = false;
  bool junitAnt = false;
  int timeoutMs = 0;  // 0: the reads' time-outs as they always were
  std::string shard;
  Shard shardParsed;
  int jobs = 0;  // 0: the default of the run (JobsOf)
};

// Servers a sweep of a control system whose calls may block checks at once
// by default: enough to hide the time-outs of a few hung servers among
// hundreds, few enough that a site's database and its busy servers hardly
// notice.
constexpr int kDefaultSweepJobs = 8;

// Whether a command is selected by --only/--skip: "" when it is, else why not.
std::string SkipReason(const Options& opt, const TestCommand& c);

// What the user typed, filled in by the parse.
struct CommandLine {
  Options opt;
  std::vector<std::string> listNames;
  bool listConfigurations = false;
  // The names of info, standard and specific.
  std::vector<std::string> typed;
  std::string configKey;
  std::vector<std::string> lintArgs;
  std::vector<std::string> sweepNames;
  std::vector<std::string> captureNames;
  std::string captureOutput;
  CLI::App* capture = nullptr;
  CLI::App *list = nullptr, *info = nullptr, *standard = nullptr, *specific = nullptr,
           *config = nullptr, *lint = nullptr, *sweep = nullptr;
};

// The options and subcommands, with their help, bound to cl.
void DefineCommandLine(CLI::App& app, CommandLine& cl);

// Why the command line is refused when an option that takes a value is
// followed by something that looks like an option ("--only --json"): a
// value that begins with "-" is written "--only=--json". "" when none is.
std::string ValueLikeAnOption(const CLI::App& app, int argc, char** argv);

// CLI11's message, with the subcommand or option the user probably meant.
std::string Suggestion(const CLI::App& app, int argc, char** argv);

}  // namespace dsc::check
