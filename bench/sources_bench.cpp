// Loading the largest test file a plan can hold: 32767 records.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "access/ClientLibrary.h"
#include "base/Clock.h"
#include "bench/BenchSupport.h"
#include "engine/CheckerSession.h"
#include "sources/TestSources.h"

namespace {

using namespace dsc;

// The loader never calls the library.
class NoLibrary final : public ClientLibrary {
 public:
  int16_t T_EXECLINK(const std::string&, const std::string&, DataDescriptor&, std::span<uint8_t>,
                     const DataDescriptor&, std::span<const uint8_t>, int16_t, int32_t) override {
    return 45;
  }
  int16_t EXECLINKEx(const std::string&, const std::string&, DataDescriptor&, std::span<uint8_t>,
                     const DataDescriptor&, std::span<const uint8_t>, int16_t, int32_t) override {
    return 45;
  }
  int16_t T_GETCONTEXTS(std::span<uint8_t>, int32_t&) override { return 45; }
  int16_t RPCERR(int16_t, std::span<char>) override { return 1; }
};

void BM_FillInTestParams32767(benchmark::State& state) {
  bench::ScratchDir scratch;
  const std::string& dir = scratch.path();
  if (dir.empty()) {
    state.SkipWithError("no temporary directory");
    return;
  }
  {
    std::ofstream out(dir + "/BENCH-SRV.csv", std::ios::binary);
    out << "; generated\r\n"
           "Description,Property,Device,InputSize,InputFormat,Data,OutputSize,OutputFormat,"
           "Reference,Access\r\n";
    for (int i = 0; i < 32767; ++i) {
      out << "Step " << i << ",CURRENT.SET,QF-" << i % 100
          << ",3,DOUBLE,1.5 2.5 3.5,3,DOUBLE,\"1.5,2.5\",POLL[timeout=5000]\r\n";
    }
  }
  SystemClock clock;
  auto session = std::make_unique<CheckerSession>(clock, dir);
  session->DatabasePath = dir + "/";
  NoLibrary lib;
  TestSources sources(*session, lib);
  // The floor reads the same file line by line and splits each at its
  // commas: what any CSV reader does before it knows what a field means.
  const std::string file = dir + "/BENCH-SRV.csv";
  size_t fields = 0;
  bench::Pairs pairs;
  for (auto _ : state)
    pairs.Pair(
        [&] {
          if (sources.fillInTestParams("BENCH", "SRV", "#0") != 0)
            state.SkipWithError("load failed");
          benchmark::DoNotOptimize(session->plan.TestPlan.data());
        },
        [&] {
          std::ifstream in(file, std::ios::binary);
          std::vector<std::string> cells;
          for (std::string line; std::getline(in, line);) {
            cells.clear();
            for (size_t at = 0, comma; at <= line.size(); at = comma + 1) {
              comma = std::min(line.find(',', at), line.size());
              cells.emplace_back(line, at, comma - at);
            }
            fields += cells.size();
          }
          benchmark::DoNotOptimize(fields);
        });
  state.counters["records"] = session->plan.TestPlanCount;
  pairs.Report(state, "getline and a split at commas of the same file");
}
BENCHMARK(BM_FillInTestParams32767)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
