// The check runner over a full-size plan: 32767 READ commands of one DOUBLE
// each against the in-process simulation, with the real report file.
//
// Besides commands per second it reports how much the runner adds on top of
// the two things every command must do anyway: one access and one report
// line. "ratio" is the runner's time per command divided by the time of one
// bare simulated ExecuteAccess plus one bare AddToReport, measured in the same
// iteration so that both sides see the same machine load.

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/CheckRunner.h"
#include "engine/CheckerSession.h"
#include "engine/Clock.h"
#include "engine/ControlEventPump.h"
#include "engine/Formats.h"
#include "sim/SimControlSystem.h"

namespace {

using dsc::CheckerSession;
using dsc::CheckRunner;
using Seconds = std::chrono::duration<double>;

constexpr int16_t kCommands = dsc::kMaxListEntries;

constexpr const char* kFacility = R"({
  "contexts": [{"name": "BENCH", "servers": [{"name": "SRV", "devices": [
    {"name": "DEV", "properties": [{"name": "VALUE", "format": "DOUBLE", "value": 1.5}]}
  ]}]}]
})";

// Keeps the texts and colours in memory, as a window's table would.
class TextGrid final : public dsc::ResultsGrid {
 public:
  void Clear() override {
    cells_.clear();
    row_ = col_ = 0;
  }
  void SetRows(int32_t rows) override { cells_.resize(static_cast<size_t>(rows)); }
  void SelectRow(int32_t row) override { row_ = row; }
  void SelectCol(int32_t col) override { col_ = col; }
  void SetText(const std::string& text) override { cell().text = text; }
  std::string Text() const override { return cells_.at(row_)[col_].text; }
  void SetTextColor(dsc::Rgb color) override { cell().color = color; }
  void SetColumnWidthTwips(int32_t, int32_t) override {}

 private:
  struct Cell {
    std::string text;
    dsc::Rgb color;
  };
  Cell& cell() { return cells_.at(row_).at(col_); }
  std::vector<std::array<Cell, 2>> cells_;
  int32_t row_ = 0, col_ = 0;
};

class CancelPrompt final : public dsc::LinkErrorPrompt {
 public:
  Answer Ask(const std::string&, const std::string& text) override {
    throw std::runtime_error("unexpected Link Error: " + text);
  }
};

struct Rig {
  Rig() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "ovra-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    dir = tmpl;
    std::string error;
    system = dsc::sim::SimControlSystem::FromText(kFacility, "bench facility", clock, error);
    if (!system) throw std::runtime_error(error);
    control = dsc::sim::MakeSimControl(*system);
    pump = std::make_unique<dsc::ControlEventPump>(*control, [](int32_t) {});
    session = std::make_unique<CheckerSession>(clock, dir);
    runner = std::make_unique<CheckRunner>(*session, *control, grid, prompt, *pump, clock);

    auto& plan = session->plan;
    plan.TestPlan.assign(kCommands, dsc::TestCommand{});
    for (auto& c : plan.TestPlan) {
      c.Description = "VALUE";
      c.Property = "VALUE";
      c.Device = "DEV";
      c.Access = "READ";
      c.OutputSize = 1;
      c.OutputFormat = dsc::kFormatDouble;
      c.InputFormat = dsc::kFormatNull;
    }
    plan.TestPlanCount = kCommands;
  }
  ~Rig() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  void NewReport() {
    std::error_code ec;
    for (const auto& f : std::filesystem::directory_iterator(dir, ec))
      std::filesystem::remove(f.path(), ec);
    session->report.reportFileName.clear();
  }

  dsc::SystemClock clock;
  std::string dir;
  std::unique_ptr<dsc::sim::SimControlSystem> system;
  std::unique_ptr<dsc::DataAcquisitionControl> control;
  std::unique_ptr<dsc::ControlEventPump> pump;
  std::unique_ptr<CheckerSession> session;
  TextGrid grid;
  CancelPrompt prompt;
  std::unique_ptr<CheckRunner> runner;
};

template <class F>
double Time(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return Seconds(std::chrono::steady_clock::now() - t0).count();
}

void BM_RunVesk(benchmark::State& state) {
  Rig rig;
  double runner = 0, bare = 0;
  for (auto _ : state) {
    rig.NewReport();
    const double t = Time([&] {
      if (!rig.runner->RunVesk("BENCH", "SRV")) throw std::runtime_error("run refused");
    });
    state.SetIterationTime(t);
    runner += t;

    // The same number of bare accesses and bare report lines.
    rig.NewReport();
    auto& run = rig.session->run;
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
      for (int i = 0; i < kCommands; ++i) rig.session->report.AddToReport(line, true);
    });
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["commands_per_s"] = kCommands * runs / runner;
  state.counters["ratio"] = runner / bare;
  state.counters["runner_us_per_cmd"] = runner / runs / kCommands * 1e6;
  state.counters["bare_us_per_cmd"] = bare / runs / kCommands * 1e6;
  if (!rig.session->report.TakeError().empty()) state.SkipWithError("report file failed");
}
BENCHMARK(BM_RunVesk)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
