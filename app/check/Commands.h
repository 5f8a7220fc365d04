#pragma once

// The subcommands of ovra-check, a file each: list, info, lint and the runs
// (standard, specific, config).

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/check/Checker.h"
#include "app/check/Options.h"
#include "sources/Lint.h"

namespace dsc::check {

using Json = nlohmann::ordered_json;

// One JSON object as a line of stdout.
void PrintJson(const Json& j);

// list [CONTEXT [SERVER [DEVICE]]], list --configurations
int List(Checker& checker, std::vector<std::string> names, bool json);
int ListConfigurations(Checker& checker, bool json);

// The names of info, standard and specific: CONTEXT SERVER [DEVICE] as the
// lists show them, or fewer names where the control system finds the rest
// (a Tango server or device name alone). On failure says what is missing.
bool Resolve(ClientLibrary& lib, const std::vector<std::string>& typed, bool deviceAlone,
             std::string& context, std::string& server, std::string& device, std::string& error);

// The information block; exit 1 when the server did not answer.
int Info(Checker& checker, const std::string& context, const std::string& server, bool json);

// What "specific" would load for a server: its self-test list when it gives
// one, else its stored test file. False when neither can be read.
bool LintSpecific(Checker& checker, const std::string& context, const std::string& server,
                  std::vector<LintFinding>& findings);
// Prints the findings; with JSON one object each and a summary.
void PrintFindings(const std::vector<LintFinding>& findings, const std::vector<std::string>& unread,
                   bool json, std::ostream& human);
int Lint(Checker& checker, const std::vector<std::string>& args, bool json);
// --strict: the files a configuration reads, checked before anything runs.
bool LintConfiguration(Checker& checker, const StoredConfig& c, std::vector<LintFinding>& findings);

// capture: a test file of current values, to standard output or a new file.
int Capture(Checker& checker, const std::vector<std::string>& typed, const std::string& output);

// The runs; each returns the exit status.
int RunStandard(Checker& checker, const std::string& context, const std::string& server,
                const std::string& device);
int RunSpecific(Checker& checker, const Options& opt, const std::string& context,
                const std::string& server, const std::string& device);
// Many servers (sweep; standard, specific and info given a context, a server
// or a pattern): the exit status, or nothing when the names choose the one
// server or device of the single forms.
std::optional<int> RunSweep(Checker& checker, const CommandLine& cl);
// looked: where procedures.csv was looked for, for the message when it is missing.
int RunConfig(Checker& checker, const Options& opt, const std::string& key,
              const std::vector<std::string>& looked);

}  // namespace dsc::check
