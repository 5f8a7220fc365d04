#include <iostream>

#include "access/CompletionCodes.h"
#include "access/NamespaceQueries.h"
#include "app/check/Commands.h"
#include "sources/Csv.h"

namespace dsc::check {

namespace {

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& s : items) out += (out.empty() ? "" : ", ") + s;
  return out;
}

// A configuration by its description, or by its index from 0.
int FindConfig(const StoredConfigState& configs, const std::string& key) {
  for (int i = 0; i < configs.StoredConfigCount; ++i) {
    if (configs.StoredConfigs[i].Description == key) return i;
  }
  if (!key.empty() && key.size() < 6 && key.find_first_not_of("0123456789") == std::string::npos) {
    const int index = std::stoi(key);
    if (index < configs.StoredConfigCount) return index;
  }
  return -1;
}

}  // namespace

int RunStandard(Checker& checker, const std::string& context, const std::string& server,
                const std::string& device) {
  TestSources& sources = checker.sources();
  CheckerSession& session = checker.session();
  session.report.reportFileName.clear();
  session.checkerCaption.clear();
  const int16_t code = sources.initStdTest(context, server, device);
  ConfiguredRun& run = checker.run();
  run.Begin({context, "", 1});
  if (code != 0) {
    run.NotPrepared(context, server,
                    "no property list for /" + context + "/" + server + "/" + device + ": " +
                        GetErrorString(checker.lib(), code) + " (code " + std::to_string(code) +
                        ")");
    return checker.Finish();
  }
  checker.Caption();
  run.RunPlan(context, server);
  return checker.Finish();
}

int RunSpecific(Checker& checker, const Options& opt, const std::string& context,
                const std::string& server, const std::string& device) {
  TestSources& sources = checker.sources();
  CheckerSession& session = checker.session();
  if (opt.strict) {
    std::vector<LintFinding> findings;
    std::vector<std::string> unread;
    if (!LintSpecific(checker, context, server, findings))
      unread.push_back(sources.TestFilePath(context, server));
    if (!findings.empty()) {
      PrintFindings(findings, unread, false, std::cerr);
      std::cerr << "ovra-check: --strict: not run\n";
      return kExitUsage;
    }
  }
  session.report.reportFileName.clear();
  ConfiguredRun& run = checker.run();
  run.Begin({context, "", 1});
  run.RunSpecific(context, server, device);
  return checker.Finish();
}

int RunConfig(Checker& checker, const Options& opt, const std::string& key,
              const std::vector<std::string>& looked) {
  TestSources& sources = checker.sources();
  CheckerSession& session = checker.session();
  const int16_t loaded = sources.fillInProcNames();
  const StoredConfigState& configs = session.configs;
  if (configs.StoredConfigCount < 1) {
    std::cerr << "ovra-check: no configurations: "
              << TerminalText(session.DatabasePath + "procedures.csv : " +
                              GetErrorString(checker.lib(), loaded ? loaded : kCodeNothingToLoad) +
                              (sources.refusal().empty() ? "" : ": " + sources.refusal()))
              << "\n  (looked for procedures.csv in " << Joined(looked) << ")\n";
    return kExitUsage;
  }
  const int index = FindConfig(configs, key);
  if (index < 0) {
    std::cerr << "ovra-check: no configuration \"" << TerminalText(key) << "\"; there are:\n";
    for (int i = 0; i < configs.StoredConfigCount; ++i) {
      std::cerr << "  " << i << "  " << TerminalText(configs.StoredConfigs[i].Description) << "\n";
    }
    return kExitUsage;
  }
  const StoredConfig c = configs.StoredConfigs[index];
  if (opt.strict) {
    std::vector<LintFinding> findings;
    LintConfiguration(checker, c, findings);
    if (!findings.empty()) {
      PrintFindings(findings, {}, false, std::cerr);
      std::cerr << "ovra-check: --strict: not run\n";
      return kExitUsage;
    }
  }
  checker.Line("Configuration: " + c.Description);
  session.report.reportFileName.clear();
  ConfiguredRun& run = checker.run(true);
  run.selects = [&](const std::string& context, const std::string& server) {
    const std::string longName = checker.lib().LongNameOf(context, server, "").name;
    return opt.shardParsed.Holds(ShardKey(context, server, longName));
  };
  run.serverDone = [&](bool failed) { checker.progress().ServerDone(failed); };
  run.Begin({c.Context, c.Description, c.ServerCount});
  checker.progress().Start(static_cast<int32_t>(run.SelectedServers(c).size()));
  checker.RunConfiguration(
      c,
      "the configuration lists no server (" + session.DatabasePath + c.FileName + " : " +
          GetErrorString(checker.lib(), kCodeNothingToLoad) +
          (c.ServerListRefusal.empty() ? "" : ": " + c.ServerListRefusal) + ")",
      checker.JobsOf(false));
  return checker.Finish();
}

}  // namespace dsc::check
