#include "app/check/Options.h"

#include "base/Glob.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "app/ControlSystems.h"
#include "base/TextEncoding.h"
#include "engine/Outcome.h"
#include "sources/NearestName.h"

#ifndef OVRA_VERSION
#define OVRA_VERSION "unknown"
#endif

namespace dsc::check {

// Whether a command is selected by --only/--skip: glob patterns matched
// against its description or its property, in any case.
std::string SkipReason(const Options& opt, const TestCommand& c) {
  const std::string description = AsUtf8(c.Description);
  const std::string property = AsUtf8(c.Property);
  auto matches = [&](const std::string& pattern) {
    return GlobMatches(pattern, description) || GlobMatches(pattern, property);
  };
  if (!opt.only.empty() && std::none_of(opt.only.begin(), opt.only.end(), matches))
    return "not selected by --only";
  for (const std::string& pattern : opt.skip)
    if (matches(pattern)) return "deselected by --skip " + Utf8ToLatin1(pattern);
  return "";
}

int ExitStatusOf(const CheckTotals& t, bool reportComplete, int signal) {
  if (signal != 0) return 128 + signal;
  if (!t.outputError.empty()) return kExitUsage;
  if (!reportComplete) return kExitReportIncomplete;
  return t.failed + t.errors + t.notPrepared > 0 ? kExitFailed : kExitOk;
}

void DefineCommandLine(CLI::App& app, CommandLine& cl) {
  Options& opt = cl.opt;
  app.set_version_flag("--version", [] {
    return std::string("ovra-check ") + OVRA_VERSION + "\n" + BackendStatus();
  });
  app.require_subcommand(1);
  app.fallthrough();

  app.add_option("--facility", opt.facility,
                 "Facility description (JSON) to simulate, or a Tango site file; default: "
                 "$OVRA_FACILITY, else the built-in demo")
      ->type_name("FILE");
  app.add_option("--tango-host", opt.tangoHosts,
                 "A Tango database, HOST:PORT (several allowed): its servers and devices are "
                 "checked; without --facility and --tango-host, TANGO_HOST in the environment")
      ->type_name("HOST:PORT");
  app.add_flag("--tango-fail-on-state", opt.tangoFailOnState,
               "With a Tango database: a State of FAULT, ALARM or UNKNOWN, or a value of quality "
               "INVALID, fails its read (a site file says so with \"failOnState\")");
  app.add_option("--fail-on-quality", opt.failOnQuality,
                 "Tango: a read whose quality is LEVEL or worse (WARNING, ALARM, INVALID) fails "
                 "(a site file says so with \"failOnQuality\")")
      ->type_name("LEVEL")
      ->check(CLI::IsMember({"WARNING", "ALARM", "INVALID"}, CLI::ignore_case));
  app.add_flag("--check-limits", opt.checkLimits,
               "Tango: a value outside its attribute's alarm limits fails, one outside its "
               "warning limits is said (a site file: \"checkLimits\")");
  app.add_option("--expect-state", opt.expectStates,
                 "Tango: the states a State read must be in, e.g. ON,RUNNING (a site file: "
                 "\"expectStates\" per context, server or device class)")
      ->type_name("STATE,...")
      ->delimiter(',');
  app.add_option("--database", opt.database,
                 "Database directory (procedures.csv, server lists, test files); default: "
                 "see below")
      ->type_name("DIR");
  app.add_option("--report-dir", opt.reportDir,
                 "Directory of the report files; default: $TEMP, else $TMPDIR, else /tmp")
      ->type_name("DIR");
  app.add_option("--retries", opt.retries, "Retry a failed access N times before cancelling")
      ->check(CLI::Range(0, std::numeric_limits<int>::max()))
      ->type_name("N");
  app.add_flag("--json", opt.json,
               "One JSON object per line on stdout (each command, then a summary); the human "
               "lines go to stderr");
  app.add_option("--junit", opt.junit,
                 "Write JUnit XML results to FILE (emptied before anything runs)")
      ->type_name("FILE");
  app.add_option("--html", opt.html,
                 "Write the run as one self-contained HTML page to FILE: totals, a section per "
                 "server with a row per command, plots of the elapsed times (emptied before "
                 "anything runs)")
      ->type_name("FILE");
  app.add_flag("--junit-ant", opt.junitAnt,
               "Write the JUnit file for the Ant schema, which has no skipped tests: commands "
               "not run are left out, counted in a \"skipped\" property and listed in "
               "<system-out>. The file is valid for Jenkins' schema too");
  app.add_option("--max-link-failures", opt.maxLinkFailures,
                 "After K failed accesses in a row, the rest of a server's commands are not run "
                 "(reported as skipped) and a configuration goes on with its next server; 0 runs "
                 "them all. Default 3: a dead server costs three time-outs instead of one per "
                 "command, while one slow answer or one refused command does not lose a server")
      ->check(CLI::Range(0, std::numeric_limits<int>::max()))
      ->type_name("K");
  // --only and --skip choose commands by the same match (SkipReason's).
  const std::string matching =
      "commands whose description or property matches a glob PATTERN (case-insensitive; "
      "repeatable)";
  app.add_option("--only", opt.only,
                 "Run only the " + matching + "; the others are reported as skipped")
      ->type_name("PATTERN");
  app.add_option("--skip", opt.skip, "Do not run the " + matching)->type_name("PATTERN");
  app.add_option("--timeout", opt.timeoutMs,
                 "Time-out in ms of the standard test's reads and of the information reads "
                 "(default: 1000 and 500 ms, as always)")
      ->check(CLI::Range(1, 3600000))
      ->type_name("MS");
  app.add_option("--jobs", opt.jobs,
                 "Check up to N servers of a sweep or configuration at once, each with a "
                 "connection of its own; the outputs still give each server's lines together, "
                 "in the servers' order, as with --jobs 1 but for their times (default: 8 for a "
                 "sweep of a networked control system, else 1)")
      ->check(CLI::Range(1, 256))
      ->type_name("N");
  app.add_option("--shard", opt.shard,
                 "Check only part K of N of the servers a sweep or configuration chooses, split "
                 "by a hash of each server's name (FNV-1a 64 of CONTEXT/NAME in lower case, "
                 "modulo N), so CI runners share a site and servers that come and go move no "
                 "other one")
      ->type_name("K/N");
  app.footer(std::string(kWhereThingsComeFrom) +
             "\n\n"
             "Tango: --tango-host HOST:PORT, or with no facility chosen the TANGO_HOST\n"
             "environment variable, names Tango databases whose servers and devices are\n"
             "discovered; their short names are listed with Tango's beside them, and a Tango\n"
             "server or device name alone, in any case, finds the rest (\"standard\n"
             "sys/tg_test/1\"). A Tango database that does not answer costs a command one\n"
             "3 s time-out: after it, the database's other queries fail at once.\n\n"
             "Exit status: 0 every command succeeded, 1 a command failed or a test could not be\n"
             "prepared (info: the server did not answer), 2 usage error, unreadable facility or\n"
             "database, a refused name, or a --junit or --html file that cannot be written; 3 the\n"
             "tests ran but their report is incomplete (lines lost to a full disk or a refused\n"
             "report file); 4 standard output could not be written (a full disk); 130, 143, 129\n"
             "the run was ended by SIGINT, SIGTERM or SIGHUP (the JUnit and HTML files and the\n"
             "summary are still written).\n\n"
             "Colours are used on a terminal only, never with NO_COLOR set or TERM=dumb.\n\n"
             "In a CI job (GitLab):\n"
             "  check:\n"
             "    script: ovra-check --junit results.xml --json config \"LINAC daily check\" > "
             "results.jsonl\n"
             "    artifacts: {when: always, reports: {junit: results.xml}}");

  cl.list = app.add_subcommand("list", "List contexts, servers, devices or properties");
  cl.list->add_option("names", cl.listNames, "[CONTEXT [SERVER [DEVICE]]]")->expected(0, 3);
  cl.list->add_flag("--configurations", cl.listConfigurations,
                    "List the stored configurations of the database instead");

  // Where the lists hold short names for Tango's, a Tango server or device
  // name alone is enough; names are found whatever their case.
  cl.info = app.add_subcommand("info", "Show a server's information");
  cl.info
      ->add_option("names", cl.typed,
                   "CONTEXT SERVER, or a Tango server (executable/instance), a context or a "
                   "glob pattern of server names")
      ->required()
      ->expected(1, 2);

  cl.standard = app.add_subcommand("standard", "Read every property of a device once");
  cl.standard
      ->add_option("names", cl.typed,
                   "CONTEXT SERVER DEVICE, or a Tango device (domain/family/member); CONTEXT "
                   "SERVER, a context, a server or a glob pattern of server or device names "
                   "(short or Tango's) for every device they choose")
      ->required()
      ->expected(1, 3);
  cl.sweep = app.add_subcommand(
      "sweep",
      "Standard-test every device of every server of the contexts named (all when none is), "
      "or of the servers named or matched by glob patterns; closes with a site summary");
  cl.sweep->add_option("names", cl.sweepNames, "[CONTEXT|SERVER|PATTERN...]");

  cl.specific =
      app.add_subcommand("specific", "Run a server's self-test list or its stored test file");
  cl.specific
      ->add_option("names", cl.typed,
                   "CONTEXT SERVER [DEVICE] (device default \"#0\"), or a Tango server, a "
                   "context or a glob pattern of server names")
      ->required()
      ->expected(1, 3);

  cl.config = app.add_subcommand("config", "Run a stored configuration's specific tests");
  cl.config->add_option("configuration", cl.configKey, "Description or index from 0")->required();

  cl.capture = app.add_subcommand(
      "capture",
      "Write a test file of a device's (or every device of a server's) current values: one READ "
      "per property that delivers data, its value as the reference (floating-point within a "
      "tolerance, none for a value that changed between two reads)");
  cl.capture
      ->add_option("names", cl.captureNames,
                   "DEVICE or SERVER (a Tango name alone), or CONTEXT SERVER [DEVICE]")
      ->required()
      ->expected(1, 3);
  cl.capture
      ->add_option("-o,--output", cl.captureOutput,
                   "Write the test file to FILE (which must not exist yet) instead of "
                   "standard output")
      ->type_name("FILE");

  cl.lint = app.add_subcommand(
      "lint",
      "Check test files, configurations and server lists (FILE...), or what \"specific\" would "
      "load (CONTEXT SERVER): exit 0 clean, 1 a finding, 2 a file that cannot be read");
  cl.lint->add_option("files", cl.lintArgs, "FILE... or CONTEXT SERVER")->required();
  app.add_flag("--strict", opt.strict,
               "specific, config: run the lint checks on what would be loaded first and refuse "
               "to run (exit 2) on any finding");
}

namespace {

// The options of the program and of its subcommands.
template <class Each>
void ForEachOption(const CLI::App& app, Each each) {
  for (const CLI::Option* o : app.get_options()) each(*o);
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
    for (const CLI::Option* o : sub->get_options()) each(*o);
}

// "-5" and "-0.5" are values; "--json" and "-x" look like options.
bool LooksLikeAnOption(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-' &&
         !(std::isdigit(static_cast<unsigned char>(arg[1])) || arg[1] == '.');
}

}  // namespace

std::string ValueLikeAnOption(const CLI::App& app, int argc, char** argv) {
  std::vector<std::string> taking;  // the options that take a value
  ForEachOption(app, [&](const CLI::Option& o) {
    if (o.get_items_expected_min() > 0)
      for (const std::string& name : o.get_lnames()) taking.push_back("--" + name);
  });
  for (int i = 1; i + 1 < argc; ++i) {
    const std::string arg = argv[i], value = argv[i + 1];
    if (arg == "--") break;
    if (std::find(taking.begin(), taking.end(), arg) != taking.end() && LooksLikeAnOption(value))
      return arg + " takes a value, not the option \"" + value + "\" (write " + arg + "=" + value +
             " for a value that begins with \"-\")";
  }
  return "";
}

std::string Suggestion(const CLI::App& app, int argc, char** argv) {
  std::vector<std::string> subcommands, options;
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
    subcommands.push_back(sub->get_name());
  ForEachOption(app, [&](const CLI::Option& o) {
    for (const std::string& name : o.get_lnames()) options.push_back("--" + name);
  });
  bool sawSubcommand = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.starts_with("--")) {
      const std::string name = arg.substr(0, arg.find('='));
      if (std::find(options.begin(), options.end(), name) != options.end()) continue;
      const std::string near = NearestName(name, options, false);
      if (!near.empty()) return "Did you mean \"" + near + "\" for \"" + name + "\"?\n";
      continue;
    }
    if (arg.starts_with("-")) continue;
    if (std::find(subcommands.begin(), subcommands.end(), arg) != subcommands.end()) {
      sawSubcommand = true;
      continue;
    }
    if (!sawSubcommand) {
      const std::string near = NearestName(arg, subcommands, false);
      if (!near.empty()) return "Did you mean the subcommand \"" + near + "\"?\n";
    }
  }
  return "";
}

}  // namespace dsc::check
