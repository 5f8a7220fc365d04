// Lint and the loaders on any bytes, agreeing on what a file is. As a stored
// test file: the loader refuses it (42, or 21 for a missing Property column)
// exactly when lint has the finding that says so (no-records, too-long,
// no-property-column, bad-size), and a file that loads commands is linted as
// a test file by its header (a file of only ":" records below its header
// loads empty, and is no-records too). As procedures.csv (the text up to the first "|")
// with a server list (the rest): the configurations are refused exactly when
// lint says so, every list the loader does not read is a server-list-name
// finding, and the list gives no servers exactly when lint finds none. A
// UTF-8 text with a character Latin-1 has not is refused by both. Whatever the
// loaders accept, the same text as a server's self-test answer too, fits the
// plan they announce. And the CSV helpers on the first line: fields are
// pieces of the line in order, a field read alone is the split field trimmed,
// and a column found by the rest of the input as a name is that name or an
// empty field.

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "access/CompletionCodes.h"
#include "base/Letters.h"
#include "sources/Csv.h"
#include "sources/Lint.h"
#include "sources/TestSources.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/Fakes.h"
#include "tests/support/Recording.h"

namespace {

using namespace dsc;

// In memory where the system has it: the files are written for every input.
[[maybe_unused]] const bool inMemory =
    access("/dev/shm", W_OK) == 0 && setenv("TMPDIR", "/dev/shm", 1) == 0;
const testing::TempDir directory;

size_t Count(const std::vector<LintFinding>& findings, const char* code) {
  return static_cast<size_t>(std::count_if(findings.begin(), findings.end(),
                                           [&](const LintFinding& f) { return f.code == code; }));
}

// A stored test file or a self-test answer the loader accepted fits its plan
// (a negative count, cast, is beyond any size).
void CheckPlan(const CheckerSession& s, int16_t code) {
  FUZZ_CHECK(code == kCodeSuccess || code == kCodeNothingToLoad || code == kCodeNoPropertyColumn);
  if (code == kCodeSuccess)
    FUZZ_CHECK(static_cast<size_t>(s.plan.TestPlanCount) < s.plan.TestPlan.size());
}

void CheckCsv(const std::string& line, const std::string& name) {
  std::vector<std::string_view> fields;
  CsvSplit(line, fields, 64);
  FUZZ_CHECK(!fields.empty() && fields.size() <= 64);
  const char* previousEnd = line.data();
  for (size_t i = 0; i < fields.size(); ++i) {
    FUZZ_CHECK(fields[i].data() >= previousEnd);
    FUZZ_CHECK(fields[i].data() + fields[i].size() <= line.data() + line.size());
    previousEnd = fields[i].data() + fields[i].size();
    FUZZ_CHECK(CsvField(line, static_cast<int16_t>(i)) == TrimWhite(std::string(fields[i])));
  }
  // Past the line's last field there is nothing.
  if (fields.size() < 64) FUZZ_CHECK(CsvField(line, static_cast<int16_t>(fields.size())).empty());
  const int16_t column = CsvColumnIndex(line, name);
  if (column >= 0 && column < 64) {
    FUZZ_CHECK(static_cast<size_t>(column) < fields.size());
    FUZZ_CHECK(fields[column].empty() ||
               UpperCase(TrimWhite(std::string(fields[column])), Letters::Latin1) ==
                   UpperCase(name, Letters::Latin1));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t lf = text.find('\n');
  CheckCsv(text.substr(0, lf), lf == std::string::npos ? "" : text.substr(lf + 1));
  static testing::FakeClock clock;
  CheckerSession session(clock, "/nonexistent");
  session.DatabasePath = directory.path() + "/";
  testing::RecordingLibrary lib;
  TestSources sources(session, lib);

  directory.write("C-S.csv", text);
  const int16_t code = sources.fillInTestParams("C", "S", "D");
  CheckPlan(session, code);
  const std::vector<LintFinding> test = LintTestFile(text, "C-S.csv");
  if (Count(test, "not-latin1") > 0) {
    // A character Latin-1 has not: refused before anything is read.
    FUZZ_CHECK(code == kCodeNothingToLoad);
  } else if (Count(test, "no-records") > 0) {
    // No record, or only ":" lines below the header: refused, or loaded empty.
    FUZZ_CHECK(code == kCodeNothingToLoad ||
               (code == kCodeSuccess && session.plan.TestPlanCount == 0));
  } else {
    const int16_t predicted = Count(test, "too-long") > 0             ? kCodeNothingToLoad
                              : Count(test, "no-property-column") > 0 ? kCodeNoPropertyColumn
                              : Count(test, "bad-size") > 0           ? kCodeNothingToLoad
                                                                      : kCodeSuccess;
    // Lint and the loader split lines at a lone CR or LF differently, and so
    // can disagree on whether a file is UTF-8 throughout.
    FUZZ_CHECK(code == predicted ||
               sources.refusal().find("no Latin-1 character") != std::string::npos);
    if (code == kCodeSuccess) FUZZ_CHECK(session.plan.TestPlanCount > 0);
  }
  FUZZ_CHECK((code == kCodeNothingToLoad) == !sources.refusal().empty());
  if (code == kCodeSuccess && session.plan.TestPlanCount > 0)
    FUZZ_CHECK(LintKindOf(text) == LintFileKind::TestFile);
  lib.answers["/C/S/#0|SRVSELFTEST"] = {0, text};
  CheckPlan(session, sources.fillInTestParamsFromServer("C", "S", "D"));

  const size_t bar = text.find('|');
  const std::string procedures = text.substr(0, bar);
  const std::string list = bar == std::string::npos ? "" : text.substr(bar + 1);
  directory.write("procedures.csv", procedures);
  directory.write("list.csv", list);
  const int16_t loaded = sources.fillInProcNames();
  const StoredConfigState& c = session.configs;
  FUZZ_CHECK(static_cast<size_t>(c.StoredConfigCount) <= c.StoredConfigs.size());
  for (int16_t i = 0; i < c.StoredConfigCount; ++i)
    FUZZ_CHECK(static_cast<size_t>(c.StoredConfigs[i].ServerCount) <=
               c.StoredConfigs[i].Servers.size());
  const std::vector<LintFinding> configs = LintConfigurations(procedures, "procedures.csv");
  const std::vector<LintFinding> servers = LintServerList(list, "list.csv");
  const bool proceduresRefused =
      Count(configs, "no-records") + Count(configs, "too-long") + Count(configs, "not-latin1") > 0;
  if (proceduresRefused) {
    FUZZ_CHECK(session.configs.StoredConfigCount == 0 && !sources.refusal().empty());
    return 0;
  }
  FUZZ_CHECK(session.configs.StoredConfigCount > 0 && sources.refusal().empty());
  size_t unread = 0;
  bool listNamed = false;
  for (int16_t i = 0; i < c.StoredConfigCount; ++i) {
    const StoredConfig& config = c.StoredConfigs[i];
    if (!ServerListNameProblem(config.FileName).empty()) {
      ++unread;
      FUZZ_CHECK(config.ServerCount == 0 && !config.ServerListRefusal.empty());
    } else if (config.FileName == "list.csv") {
      listNamed = true;
      const bool none =
          Count(servers, "no-records") + Count(servers, "too-long") + Count(servers, "not-latin1") >
          0;
      FUZZ_CHECK((config.ServerCount == 0) == none);
      FUZZ_CHECK(config.ServerListRefusal.empty() == !none);
    }
  }
  FUZZ_CHECK(Count(configs, "server-list-name") == unread);
  FUZZ_CHECK((loaded == kCodeNothingToLoad) == (listNamed && Count(servers, "too-long") > 0));
  return 0;
}
