// The check runner over a full-size plan: 32767 READ commands of one DOUBLE
// each against the in-process simulation, with the real report file.
//
// Besides commands per second it reports how much the runner adds on top of
// the two things every command must do anyway: one access and one report
// line. "ratio" is the median over pairs of the runner's time divided by the
// time of as many bare simulated ExecuteAccess plus bare AddToReport calls
// (the floor), the two sides of a pair in alternating order from a random
// start (bench/Pairs.h); ratio_q1 and ratio_q3 are its quartiles.

#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/Formats.h"
#include "bench/BenchSupport.h"
#include "engine/CheckRunner.h"
#include "engine/CheckerSession.h"
#include "engine/ControlEventPump.h"
#include "sim/SimControlSystem.h"

namespace {

using namespace dsc::bench;

constexpr int16_t kCommands = dsc::kMaxListEntries;

constexpr const char* kFacility = R"({
  "contexts": [{"name": "BENCH", "servers": [{"name": "SRV", "devices": [
    {"name": "DEV", "properties": [{"name": "VALUE", "format": "DOUBLE", "value": 1.5}]}
  ]}]}]
})";

struct Rig {
  Rig() {
    std::string error;
    system = dsc::sim::SimControlSystem::FromText(kFacility, "bench facility", clock, error);
    if (!system) throw std::runtime_error(error);
    control = dsc::sim::MakeSimControl(*system);
    parts = std::make_unique<RunnerParts>(clock, *control, dir.path(),
                                          CancelPrompt::Failures::Unexpected, [](int32_t) {});

    dsc::TestCommand c = ReadCommand("VALUE", "VALUE", "DEV", dsc::kFormatDouble);
    c.InputFormat = dsc::kFormatNull;
    auto& plan = parts->session.plan;
    plan.TestPlan.assign(kCommands, c);
    plan.TestPlanCount = kCommands;
  }

  dsc::SystemClock clock;
  ScratchDir dir;
  std::unique_ptr<dsc::sim::SimControlSystem> system;
  std::unique_ptr<dsc::DataAcquisitionControl> control;
  std::unique_ptr<RunnerParts> parts;
};

void BM_RunVesk(benchmark::State& state) {
  Rig rig;
  auto& control = *rig.control;
  auto& run = rig.parts->session.run;
  const std::string line = "VALUE : Success";
  // The same number of bare accesses and bare report lines.
  const auto bare = [&] {
    control.setContextName("BENCH");
    control.setServerName("SRV");
    control.setPropertyName("VALUE");
    control.setDeviceName("DEV");
    control.setAccessMode("READ");
    control.setLinkTimeout(1000);
    for (int i = 0; i < kCommands; ++i)
      benchmark::DoNotOptimize(
          control.ExecuteAccess(run.dataBuffer, 1, dsc::kFormatDouble, {}, 0, dsc::kFormatNull));
    for (int i = 0; i < kCommands; ++i) rig.parts->session.report.AddToReport(line, true);
  };
  const auto runner = [&] {
    if (!rig.parts->runner.RunVesk("BENCH", "SRV")) throw std::runtime_error("run refused");
  };
  Pairs pairs;
  for (auto _ : state) {
    // Each side starts a report file of its own, untimed.
    const double t = pairs.Pair(runner, bare, [&] { rig.parts->NewReport(); });
    state.SetIterationTime(t);
  }
  const double runs = static_cast<double>(state.iterations());
  double runnerSum = 0;
  for (const double t : pairs.samples) runnerSum += t;
  state.counters["commands_per_s"] = kCommands * runs / runnerSum;
  state.counters["runner_us_per_cmd"] = Median(pairs.samples) / kCommands * 1e6;
  state.counters["bare_us_per_cmd"] = Median(pairs.floors) / kCommands * 1e6;
  pairs.Report(state, "bare ExecuteAccess + AddToReport per command");
  if (!rig.parts->session.report.TakeError().empty()) state.SkipWithError("report file failed");
}
BENCHMARK(BM_RunVesk)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

}  // namespace

BENCHMARK_MAIN();
