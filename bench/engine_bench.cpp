#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/Formats.h"
#include "bench/BenchSupport.h"
#include "base/Clock.h"
#include "engine/InputParser.h"
#include "engine/ReportLog.h"

namespace {

std::string Values(int count, const char* value) {
  std::string s;
  for (int i = 0; i < count; ++i) s += (i ? " " : "") + std::string(value);
  return s;
}

void BM_ParseDoubles(benchmark::State& state) {
  auto area = std::make_unique<dsc::TransferArea>();
  const std::string text = Values(2048, "-1234.5678e-3");
  for (auto _ : state) {
    benchmark::DoNotOptimize(dsc::parseStringToData(*area, dsc::kFormatDouble, text));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 2048);
}
BENCHMARK(BM_ParseDoubles);

void BM_ParseBytes(benchmark::State& state) {
  auto area = std::make_unique<dsc::TransferArea>();
  const std::string text = Values(16384, "200");
  for (auto _ : state) {
    benchmark::DoNotOptimize(dsc::parseStringToData(*area, dsc::kFormatByte, text));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 16384);
}
BENCHMARK(BM_ParseBytes);

// One dated line appended to a real file: open, write, close every time.
void BM_AddToReport(benchmark::State& state) {
  dsc::bench::ScratchDir dir;
  if (dir.path().empty()) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  dsc::SystemClock clock;
  dsc::ReportLog log(clock, dir.path());
  const std::string line = "Read BEAM.CURRENT of DEVICE01 : Success";
  for (auto _ : state) log.AddToReport(line, true);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AddToReport);

}  // namespace

BENCHMARK_MAIN();
