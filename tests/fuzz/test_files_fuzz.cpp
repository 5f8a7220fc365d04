// The database readers on any bytes: a stored test file, the same text as a
// server's self-test answer, and procedures.csv with a server list. Whatever
// they accept fits the plan they announce.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "access/CompletionCodes.h"
#include "engine/CheckerSession.h"
#include "sources/TestSources.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/Recording.h"

namespace {

using namespace dsc;

// A directory of its own for the files, in memory where the system has one.
const std::string& Directory() {
  static const std::string dir = [] {
    std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    pattern += "/ovra-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    return pattern + "/";
  }();
  return dir;
}

void Write(const std::string& name, const std::string& bytes) {
  std::ofstream(Directory() + name, std::ios::binary | std::ios::trunc) << bytes;
}

void CheckPlan(const CheckerSession& s, int16_t code) {
  FUZZ_CHECK(code == kCodeSuccess || code == kCodeNothingToLoad || code == kCodeNoPropertyColumn);
  if (code != kCodeSuccess) return;
  FUZZ_CHECK(s.plan.TestPlanCount >= 0);
  FUZZ_CHECK(static_cast<size_t>(s.plan.TestPlanCount) < s.plan.TestPlan.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  static StillClock clock;
  CheckerSession session(clock, "/nonexistent");
  session.DatabasePath = Directory();
  testing::RecordingLibrary lib;
  TestSources sources(session, lib);

  Write("C-S.csv", text);
  CheckPlan(session, sources.fillInTestParams("C", "S", "D"));

  lib.answers["/C/S/#0|SRVSELFTEST"] = {0, text};
  CheckPlan(session, sources.fillInTestParamsFromServer("C", "S", "D"));

  // procedures.csv is the text up to the first "|", the server list the rest.
  const size_t bar = text.find('|');
  Write("procedures.csv", text.substr(0, bar));
  Write("list.csv", bar == std::string::npos ? "" : text.substr(bar + 1));
  const int16_t code = sources.fillInProcNames();
  FUZZ_CHECK(code == kCodeSuccess || code == kCodeNothingToLoad);
  const StoredConfigState& c = session.configs;
  FUZZ_CHECK(c.StoredConfigCount >= 0 &&
             static_cast<size_t>(c.StoredConfigCount) <= c.StoredConfigs.size());
  for (int16_t i = 0; i < c.StoredConfigCount; ++i) {
    const StoredConfig& config = c.StoredConfigs[i];
    FUZZ_CHECK(config.ServerCount >= 0 &&
               static_cast<size_t>(config.ServerCount) <= config.Servers.size());
    // A server list outside the database directory is never read.
    if (!ServerListNameProblem(config.FileName).empty()) FUZZ_CHECK(config.ServerCount == 0);
  }
  return 0;
}
