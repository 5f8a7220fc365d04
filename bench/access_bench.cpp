#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <vector>

#include "access/NamespaceQueries.h"
#include "bench/Pairs.h"
#include "sim/SimControlSystem.h"

namespace {

class FixedClock final : public dsc::Clock {
 public:
  int64_t NowMs() override { return 1'700'000'000'000; }
  std::string LocalDateTime() override { return "2023-11-14 22:13:20"; }
};

std::string BenchFacility() {
  std::string props;
  for (int i = 0; i < 1000; ++i)
    props += std::string(i ? "," : "") + R"({"name": "PROPERTY-)" + std::to_string(i) +
             R"(", "format": "DOUBLE", "count": 16})";
  return R"({"contexts": [{"name": "BENCH", "servers": [{"name": "SRV", "devices": [
    {"name": "DEV", "properties": [
      {"name": "ONE", "format": "DOUBLE", "value": 2.5e-9},
      {"name": "ORBIT", "format": "DOUBLE", "count": 2048, "wave": {"amplitude": 1.5, "period": 128}}]},
    {"name": "WIDE", "properties": [)" +
         props + "]}]}]}]}";
}

struct Bench {
  Bench() {
    std::string error;
    system = dsc::sim::SimControlSystem::FromText(BenchFacility(), "bench", clock, error);
    if (!system) {
      std::cerr << error << "\n";
      std::abort();
    }
    control = dsc::sim::MakeSimControl(*system);
    control->setContextName("BENCH");
    control->setServerName("SRV");
    control->setDeviceName("DEV");
    control->setAccessMode("READ");
    control->setLinkTimeout(1000);
  }
  FixedClock clock;
  std::unique_ptr<dsc::sim::SimControlSystem> system;
  std::unique_ptr<dsc::DataAcquisitionControl> control;
  std::array<uint8_t, 16385> dataBuffer{};
};

// The floor is the same read through the simulated client library's own
// synchronous call: what the control adds is its state, its descriptor
// handling and its completion bookkeeping.
void ReadDoubles(benchmark::State& state, const char* property, int32_t count) {
  Bench b;
  b.control->setPropertyName(property);
  dsc::bench::Pairs pairs;
  int16_t bare = 0;
  for (auto _ : state)
    pairs.Pair(
        [&] {
          benchmark::DoNotOptimize(b.control->ExecuteAccess(b.dataBuffer, count, 512, {}, 0, 767));
          benchmark::DoNotOptimize(b.dataBuffer.data());
        },
        [&] {
          dsc::DataDescriptor out{count, 512}, in{0, 767};
          bare =
              b.system->T_EXECLINK("/BENCH/SRV/DEV", property, out, b.dataBuffer, in, {}, 1, 1000);
          benchmark::DoNotOptimize(b.dataBuffer.data());
        });
  if (bare != 0) state.SkipWithError("the bare read failed");
  state.SetItemsProcessed(state.iterations());
  pairs.Report(state, "the simulated library's T_EXECLINK of the same read");
}

void BM_ExecuteAccessDouble1(benchmark::State& state) { ReadDoubles(state, "ONE", 1); }
void BM_ExecuteAccessDouble2048(benchmark::State& state) { ReadDoubles(state, "ORBIT", 2048); }

// The floor is a copy of the 1000 names the list must hand back.
void BM_GetPropertyList1000(benchmark::State& state) {
  Bench b;
  std::vector<std::string> names, copy;
  std::vector<int16_t> sizes, formats;
  int16_t count = 0;
  dsc::GetPropertyList(*b.system, "/BENCH/SRV/WIDE", names, sizes, formats, count);
  const std::vector<std::string> expected = names;
  dsc::bench::Pairs pairs;
  for (auto _ : state)
    pairs.Pair(
        [&] {
          benchmark::DoNotOptimize(
              dsc::GetPropertyList(*b.system, "/BENCH/SRV/WIDE", names, sizes, formats, count));
        },
        [&] {
          copy = expected;
          benchmark::DoNotOptimize(copy.data());
        });
  if (count != 1000) state.SkipWithError("wrong property count");
  pairs.Report(state, "copying the 1000 names");
}

BENCHMARK(BM_ExecuteAccessDouble1);
BENCHMARK(BM_ExecuteAccessDouble2048);
BENCHMARK(BM_GetPropertyList1000);

}  // namespace

BENCHMARK_MAIN();
