// ovra-check as a whole process over a 32767-command simulated run, its
// output read through a pipe as a CI job reads it: the plain run (terminal
// lines only, the floor) against the same run with --json and --junit, in
// every order so all see the same machine load. Prints the medians of the
// processes' CPU time and the median, with quartiles, of the per-round
// ratios of each to the plain run.
//
//   build/bench/ovra_check_outputs_bench [rounds]
//
// With OVRA_CHECK_BEFORE=PATH (another build of ovra-check, e.g. of an
// earlier commit) the same two runs of that program are interleaved too, so
// that before and after are measured under the same load, and A/A' and B/B'
// give this build's plain and --json --junit runs over that one's (their floor).

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/Pairs.h"
#include "bench/ProcessRuns.h"

using namespace dsc::bench;

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const std::string dir = Dir();
  const std::string options = WriteLongRun(dir);
  const auto runs = [&](const std::string& exe) {
    return std::pair(
        exe + options + " specific BENCH SRV 2>/dev/null",
        exe + options + " --json --junit " + dir + "/r.xml specific BENCH SRV 2>/dev/null");
  };
  const auto [plain, outputs] = runs(OVRA_CHECK_EXE);
  const std::string jsonOnly =
      std::string(OVRA_CHECK_EXE) + options + " --json specific BENCH SRV 2>/dev/null";
  const char* before = std::getenv("OVRA_CHECK_BEFORE");
  const auto [plainBefore, outputsBefore] = runs(before ? before : "");

  // Rows in the order measured; every round runs each once.
  struct Row {
    const char* name;
    std::string command;
    std::vector<double> user, total;
  };
  std::vector<Row> rows = {{"A terminal lines only", plain, {}, {}},
                           {"B --json --junit", outputs, {}, {}},
                           {"C --json", jsonOnly, {}, {}}};
  if (before) {
    rows.push_back({"A' before: terminal lines only", plainBefore, {}, {}});
    rows.push_back({"B' before: --json --junit", outputsBefore, {}, {}});
  }
  RunCpu(plain);  // warm the caches once
  // Every round runs each row once, the rounds taking the rows' orders in
  // turn from a random one (bench/Pairs.h).
  dsc::bench::InEveryOrder(rows.size(), rounds, [&](size_t i) {
    const Cpu cpu = RunCpu(rows[i].command);
    rows[i].user.push_back(cpu.user);
    rows[i].total.push_back(cpu.total);
  });
  // Per command, in microseconds. The user time is the steadier figure: the
  // system time is mostly the report, which every run writes alike.
  const auto us = [](double seconds) { return seconds / kCommands * 1e6; };
  std::printf(
      "%d commands, %d rounds (every order from a random one), medians of CPU time per "
      "command:\n",
      kCommands, rounds);
  std::printf("  %-32s %10s %10s\n", "", "user us", "user+sys us");
  for (const Row& row : rows)
    std::printf("  %-32s %10.3f %10.3f\n", row.name, us(dsc::bench::Median(row.user)),
                us(dsc::bench::Median(row.total)));
  // The ratios of runs of the same round leave out what drifts between
  // rounds (the machine's other work, the file system's), which a ratio of
  // medians keeps; a difference of two medians could even come out negative.
  const auto ratio = [&](const char* name, const Row& with, const Row& floor) {
    std::printf("  %s\n",
                dsc::bench::RatioText(std::string(name) + ", user+sys",
                                      dsc::bench::PairedRatio(with.total, floor.total), floor.name)
                    .c_str());
  };
  std::printf("  median of the per-round ratios of CPU time:\n");
  ratio("B/A: with JSON + JUnit", rows[1], rows[0]);
  ratio("C/A: with JSON", rows[2], rows[0]);
  if (before) {
    ratio("B'/A' before: with JSON + JUnit", rows[4], rows[3]);
    // The same runs through both programs, measured in the same rounds.
    ratio("A/A': terminal lines only, this build over the one before", rows[0], rows[3]);
    ratio("B/B': --json --junit, this build over the one before", rows[1], rows[4]);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
