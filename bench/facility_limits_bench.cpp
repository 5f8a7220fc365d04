// How fast a facility file that would expand far beyond the loader's limits
// is refused, and the process's peak memory after refusing it: a 34 KB file
// whose template of three 16 MB values is named by 1000 devices (48 GB asked).
// The demo facility's load is the floor, in pairs of alternating order from a
// random start; "ratio" is the median of the per-pair ratios refuse/demo.

#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "sim/Facility.h"
#include "sim/SimControlSystem.h"

namespace {

using namespace dsc::bench;

std::string Amplifying() {
  std::string t = R"({"templates": {"T": [)";
  for (int i = 0; i < 3; ++i)
    t += std::string(i ? "," : "") + R"({"name": "P)" + std::to_string(i) +
         R"(", "format": "DOUBLE", "count": 2000000})";
  t += R"(]}, "contexts": [{"name": "C", "servers": [{"name": "S", "devices": [)";
  for (int i = 0; i < 1000; ++i)
    t +=
        std::string(i ? "," : "") + R"({"name": "D)" + std::to_string(i) + R"(", "template": "T"})";
  return t + "]}]}]}";
}

// Refusing `text` against loading the demo facility, in pairs of alternating order.
Pairs RefuseAgainstDemo(benchmark::State& state, const std::string& text) {
  const std::string demo(dsc::sim::DemoFacilityText());
  Pairs pairs;
  for (auto _ : state) {
    dsc::sim::Facility f;
    std::string error;
    pairs.Pair(
        [&] {
          if (dsc::sim::LoadFacility(text, "a.json", f, error)) state.SkipWithError("loaded");
        },
        [&] {
          if (!dsc::sim::LoadFacility(demo, "demo.json", f, error))
            state.SkipWithError(error.c_str());
        });
  }
  state.counters["file_bytes"] = static_cast<double>(text.size());
  state.counters["refuse_ms"] = Median(pairs.samples) * 1e3;
  state.counters["demo_load_ms"] = Median(pairs.floors) * 1e3;
  pairs.Report(state, "loading the demo facility");
  return pairs;
}

void BM_RefuseAmplifyingFacility(benchmark::State& state) {
  RefuseAgainstDemo(state, Amplifying());
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["max_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024;
}
BENCHMARK(BM_RefuseAmplifyingFacility)->Unit(benchmark::kMillisecond)->Iterations(10);

// A 600 KB file whose property array holds 200 000 empty objects: the JSON
// reader must stay linear in the array's length (nlohmann's callback reader,
// used before, was not: 23 s for such a file). The demo's load is the
// baseline again.
void BM_RefuseLongArray(benchmark::State& state) {
  std::string text = R"({"contexts": [{"name": "C", "servers": [{"name": "S", "devices": [)"
                     R"({"name": "D", "properties": [)";
  for (int i = 0; i < 200'000; ++i) text += i ? ",{}" : "{}";
  text += "]}]}]}]}";
  RefuseAgainstDemo(state, text);
}
BENCHMARK(BM_RefuseLongArray)->Unit(benchmark::kMillisecond)->Iterations(6);

}  // namespace

BENCHMARK_MAIN();
