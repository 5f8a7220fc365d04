// The cost of one report line: the stdio stream per line the report was
// written with before (kept here only as the baseline) against ReportLog's
// plain open/write/close. Both write the same dated lines to a file of their
// own in the same directory, in turns within each iteration (ABAB, the order
// swapped every iteration), and the medians per line are reported.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "base/Clock.h"
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

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void BM_ReportLine(benchmark::State& state) {
  ScratchDir dir;
  if (dir.path().empty()) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  dsc::SystemClock clock;
  const std::string text = "Read BEAM.CURRENT of DEVICE01 : Success";
  std::vector<double> stdio, posix;
  bool stdioFirst = true;
  for (auto _ : state) {
    StdioReport before(clock, dir.path() + "/stdio.txt");
    dsc::ReportLog after(clock, dir.path());
    auto a = [&] {
      stdio.push_back(Time([&] {
        for (int i = 0; i < kLines; ++i) before.AddToReport(text);
      }));
    };
    auto b = [&] {
      posix.push_back(Time([&] {
        for (int i = 0; i < kLines; ++i) after.AddToReport(text, true);
      }));
    };
    if (stdioFirst) {
      a();
      b();
    } else {
      b();
      a();
    }
    stdioFirst = !stdioFirst;
    if (!after.complete()) state.SkipWithError("report lines lost");
    std::remove((dir.path() + "/stdio.txt").c_str());
    std::remove(after.reportFileName.c_str());
  }
  const double s = Median(stdio) / kLines * 1e6, p = Median(posix) / kLines * 1e6;
  state.counters["stdio_us_per_line"] = s;
  state.counters["posix_us_per_line"] = p;
  state.counters["posix_over_stdio"] = p / s;
}
BENCHMARK(BM_ReportLine)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
