// The database readers on any bytes: a stored test file, the same text as a
// server's self-test answer, and procedures.csv with a server list. Whatever
// they accept fits the plan they announce. And the CSV helpers on the first
// line: fields are pieces of the line in order, a field read alone is the
// split field trimmed, and a column found by the rest of the input as a name
// is that name or an empty field.

#include <unistd.h>

#include <cstdlib>

#include "access/CompletionCodes.h"
#include "sources/Csv.h"
#include "sources/TestSources.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/Fakes.h"
#include "tests/support/Recording.h"

namespace {

using namespace dsc;

// A directory of its own for the files, in memory where the system has one
// (they are written for every input; on disk the target runs several times
// slower), removed when the run ends (a crash leaves it, beside its finding).
[[maybe_unused]] const bool inMemory =
    access("/dev/shm", W_OK) == 0 && setenv("TMPDIR", "/dev/shm", 1) == 0;
const testing::TempDir directory;

void CheckPlan(const CheckerSession& s, int16_t code) {
  FUZZ_CHECK(code == kCodeSuccess || code == kCodeNothingToLoad || code == kCodeNoPropertyColumn);
  if (code != kCodeSuccess) return;
  // A negative count, cast, is beyond any size.
  FUZZ_CHECK(static_cast<size_t>(s.plan.TestPlanCount) < s.plan.TestPlan.size());
}

std::string Upper(std::string text) {
  for (char& ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
      ch = static_cast<char>(c - 0x20);
  }
  return text;
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
               Upper(TrimWhite(std::string(fields[column]))) == Upper(name));
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
  CheckPlan(session, sources.fillInTestParams("C", "S", "D"));

  lib.answers["/C/S/#0|SRVSELFTEST"] = {0, text};
  CheckPlan(session, sources.fillInTestParamsFromServer("C", "S", "D"));

  // procedures.csv is the text up to the first "|", the server list the rest.
  const size_t bar = text.find('|');
  directory.write("procedures.csv", text.substr(0, bar));
  directory.write("list.csv", bar == std::string::npos ? "" : text.substr(bar + 1));
  const int16_t code = sources.fillInProcNames();
  FUZZ_CHECK(code == kCodeSuccess || code == kCodeNothingToLoad);
  const StoredConfigState& c = session.configs;
  FUZZ_CHECK(static_cast<size_t>(c.StoredConfigCount) <= c.StoredConfigs.size());
  for (int16_t i = 0; i < c.StoredConfigCount; ++i) {
    const StoredConfig& config = c.StoredConfigs[i];
    FUZZ_CHECK(static_cast<size_t>(config.ServerCount) <= config.Servers.size());
    // A server list outside the database directory is never read.
    if (!ServerListNameProblem(config.FileName).empty()) FUZZ_CHECK(config.ServerCount == 0);
  }
  return 0;
}
