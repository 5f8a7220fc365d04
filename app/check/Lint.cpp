#include <filesystem>
#include <iostream>

#include "access/NamespaceQueries.h"
#include "app/check/Commands.h"
#include "sources/Csv.h"

namespace dsc::check {

// What "specific" would load for a server: its self-test list when it gives
// one, else its stored test file. False when neither can be read.
bool LintSpecific(Checker& checker, const std::string& context, const std::string& server,
                  std::vector<LintFinding>& findings) {
  CheckerSession& session = checker.session();
  if (checker.sources().fillInTestParamsFromServer(context, server, "#0") == 0) {
    const std::string text = BytesToStringList(session.run.dataBuffer);
    const auto found = LintTestFile(text, "/" + context + "/" + server + " SRVSELFTEST");
    findings.insert(findings.end(), found.begin(), found.end());
    return true;
  }
  return LintFile(checker.sources().TestFilePath(context, server), LintFileKind::TestFile,
                  findings);
}

// Prints the findings; with JSON one object each and a summary.
void PrintFindings(const std::vector<LintFinding>& findings, const std::vector<std::string>& unread,
                   bool json, std::ostream& human) {
  for (const LintFinding& f : findings) {
    if (json) {
      PrintJson({{"type", "lint"},
                 {"file", AsUtf8(f.file)},
                 {"line", f.line},
                 {"code", f.code},
                 {"message", f.message}});
    } else {
      human << TerminalText(f.Text()) << "\n";
    }
  }
  for (const std::string& path : unread) {
    if (json)
      PrintJson({{"type", "lint"},
                 {"file", AsUtf8(path)},
                 {"line", 0},
                 {"code", "unreadable"},
                 {"message", "cannot be read"}});
    std::cerr << "ovra-check: cannot read " << TerminalText(path) << "\n";
  }
}

int Lint(Checker& checker, const std::vector<std::string>& args, bool json) {
  std::vector<LintFinding> findings;
  std::vector<std::string> unread;
  std::error_code ec;
  const bool files = std::any_of(args.begin(), args.end(), [&](const std::string& a) {
    return std::filesystem::exists(a, ec);
  });
  if (!files && args.size() == 2) {
    if (!LintSpecific(checker, args[0], args[1], findings))
      unread.push_back(checker.sources().TestFilePath(args[0], args[1]));
  } else {
    for (const std::string& path : args)
      if (!LintFile(path, findings)) unread.push_back(path);
  }
  PrintFindings(findings, unread, json, std::cout);
  if (json)
    PrintJson({{"type", "summary"}, {"findings", findings.size()}, {"unreadable", unread.size()}});
  if (!unread.empty()) return kExitUsage;
  return findings.empty() ? kExitOk : kExitFailed;
}

// --strict: the files a configuration reads, checked before anything runs.
bool LintConfiguration(Checker& checker, const StoredConfig& c,
                       std::vector<LintFinding>& findings) {
  const std::string& db = checker.session().DatabasePath;
  LintFile(db + "procedures.csv", LintFileKind::Configurations, findings);
  // A list the loader refuses to read is procedures.csv's finding.
  if (ServerListNameProblem(c.FileName).empty())
    LintFile(db + c.FileName, LintFileKind::ServerList, findings);
  bool readable = true;
  for (int16_t i = 0; i < c.ServerCount; ++i)
    readable = LintSpecific(checker, c.Context, c.Servers[i], findings) && readable;
  return readable;
}

}  // namespace dsc::check
