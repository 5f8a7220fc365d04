// The cost of one report line: the stdio stream per line the report was
// written with before (kept here only as the baseline) against ReportLog's
// plain open/write/close. Both write the same dated lines to a file of their
// own in the same directory, in pairs of alternating order from a random
// start; "ratio" is the median of the per-pair ratios posix/stdio, with its
// quartiles, beside the medians per line.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "bench/BenchSupport.h"
#include "engine/ReportLog.h"

namespace {

using namespace dsc::bench;

constexpr int kLines = 2000;

// The former AddToReport: a stdio stream opened, written and closed per line.
class StdioReport {
 public:
  StdioReport(dsc::Clock& clock, std::string path) : clock_(clock), path_(std::move(path)) {}
  void AddToReport(const std::string& txt) {
    std::string line = clock_.LocalDateTime() + " : " + txt + "\r\n";
    std::FILE* file = std::fopen(path_.c_str(), "ab");
    if (!file) return;
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
  }

 private:
  dsc::Clock& clock_;
  std::string path_;
};

void BM_ReportLine(benchmark::State& state) {
  ScratchDir dir;
  dsc::SystemClock clock;
  const std::string text = "Read BEAM.CURRENT of DEVICE01 : Success";
  Pairs pairs;  // sample: ReportLog; floor: the stdio stream
  for (auto _ : state) {
    StdioReport before(clock, dir.path() + "/stdio.txt");
    dsc::ReportLog after(clock, dir.path());
    pairs.Pair(
        [&] {
          for (int i = 0; i < kLines; ++i) after.AddToReport(text, true);
        },
        [&] {
          for (int i = 0; i < kLines; ++i) before.AddToReport(text);
        });
    if (!after.complete()) state.SkipWithError("report lines lost");
    std::remove((dir.path() + "/stdio.txt").c_str());
    std::remove(after.reportFileName.c_str());
  }
  state.counters["stdio_us_per_line"] = Median(pairs.floors) / kLines * 1e6;
  state.counters["posix_us_per_line"] = Median(pairs.samples) / kLines * 1e6;
  pairs.Report(state, "a stdio stream opened, written and closed per line");
}
BENCHMARK(BM_ReportLine)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
