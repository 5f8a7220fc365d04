#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <vector>

#include "access/NamespaceQueries.h"
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

void ReadDoubles(benchmark::State& state, const char* property, int32_t count) {
  Bench b;
  b.control->setPropertyName(property);
  for (auto _ : state) {
    int32_t code = b.control->ExecuteAccess(b.dataBuffer, count, 512, {}, 0, 767);
    benchmark::DoNotOptimize(code);
    benchmark::DoNotOptimize(b.dataBuffer.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_ExecuteAccessDouble1(benchmark::State& state) { ReadDoubles(state, "ONE", 1); }
void BM_ExecuteAccessDouble2048(benchmark::State& state) { ReadDoubles(state, "ORBIT", 2048); }

void BM_GetPropertyList1000(benchmark::State& state) {
  Bench b;
  std::vector<std::string> names;
  std::vector<int16_t> sizes, formats;
  int16_t count = 0;
  for (auto _ : state) {
    int16_t code = dsc::GetPropertyList(*b.system, "/BENCH/SRV/WIDE", names, sizes, formats, count);
    benchmark::DoNotOptimize(code);
  }
  if (count != 1000) state.SkipWithError("wrong property count");
}

BENCHMARK(BM_ExecuteAccessDouble1);
BENCHMARK(BM_ExecuteAccessDouble2048);
BENCHMARK(BM_GetPropertyList1000);

}  // namespace

BENCHMARK_MAIN();
