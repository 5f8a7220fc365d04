// The check runner over a full-size plan: 32767 READ commands of one DOUBLE
// each against the in-process simulation, with the real report file.
//
// Besides commands per second it reports how much the runner adds on top of
// the two things every command must do anyway: one access and one report
// line. "ratio" is the runner's time per command divided by the time of one
// bare simulated ExecuteAccess plus one bare AddToReport, measured in the same
// iteration so that both sides see the same machine load.

#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Formats.h"
#include "bench/BenchSupport.h"
#include "engine/CheckRunner.h"
#include "engine/CheckerSession.h"
#include "base/Clock.h"
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
    if (dir.path().empty()) throw std::runtime_error("mkdtemp failed");
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
  double runner = 0, bare = 0;
  for (auto _ : state) {
    rig.parts->NewReport();
    const double t = Time([&] {
      if (!rig.parts->runner.RunVesk("BENCH", "SRV")) throw std::runtime_error("run refused");
    });
    state.SetIterationTime(t);
    runner += t;

    // The same number of bare accesses and bare report lines.
    rig.parts->NewReport();
    auto& run = rig.parts->session.run;
    auto& control = *rig.control;
    control.setContextName("BENCH");
    control.setServerName("SRV");
    control.setPropertyName("VALUE");
    control.setDeviceName("DEV");
    control.setAccessMode("READ");
    control.setLinkTimeout(1000);
    bare += Time([&] {
      for (int i = 0; i < kCommands; ++i)
        benchmark::DoNotOptimize(
            control.ExecuteAccess(run.dataBuffer, 1, dsc::kFormatDouble, {}, 0, dsc::kFormatNull));
    });
    const std::string line = "VALUE : Success";
    bare += Time([&] {
      for (int i = 0; i < kCommands; ++i) rig.parts->session.report.AddToReport(line, true);
    });
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["commands_per_s"] = kCommands * runs / runner;
  state.counters["ratio"] = runner / bare;
  state.counters["runner_us_per_cmd"] = runner / runs / kCommands * 1e6;
  state.counters["bare_us_per_cmd"] = bare / runs / kCommands * 1e6;
  if (!rig.parts->session.report.TakeError().empty()) state.SkipWithError("report file failed");
}
BENCHMARK(BM_RunVesk)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
