// Loading the largest test file a plan can hold: 32767 records.

#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <string>

#include "access/ClientLibrary.h"
#include "bench/BenchSupport.h"
#include "engine/CheckerSession.h"
#include "base/Clock.h"
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
  for (auto _ : state) {
    if (sources.fillInTestParams("BENCH", "SRV", "#0") != 0) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(session->plan.TestPlan.data());
  }
  state.counters["records"] = session->plan.TestPlanCount;
}
BENCHMARK(BM_FillInTestParams32767)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
