// The largest plan the checker holds (32767 commands, each a READ of one
// DOUBLE) run through the real window, offscreen, grid included.

#include <cstdlib>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTableWidget>

#include "bench/BenchSupport.h"
#include "engine/Clock.h"
#include "base/Formats.h"
#include "sim/SimControlSystem.h"
#include "ui/MainWindow.h"

namespace {

void BM_WindowRunsLargestPlan(benchmark::State& state) {
  dsc::SystemClock clock;
  auto system = dsc::sim::SimControlSystem::Demo(clock);
  auto control = dsc::sim::MakeSimControl(*system);
  dsc::bench::ScratchDir dir;
  if (dir.path().empty()) {
    state.SkipWithError("no temporary directory");
    return;
  }
  dsc::ui::VeskerOptions options;
  options.clock = &clock;
  options.reportDirectory = dir.path();
  dsc::ui::Vesker window(std::move(system), std::move(control), options);
  window.show();
  QApplication::processEvents();

  auto& plan = window.session().plan;
  plan.TestPlan.assign(
      32767, dsc::bench::ReadCommand("Pump 1 pressure", "PRESSURE", "PUMP-01", dsc::kFormatDouble));
  plan.TestPlanCount = 32767;

  for (auto _ : state) {
    window.session().report.reportFileName.clear();
    window.RunVesk("LINAC", "VACUUM-1");
    QApplication::processEvents();  // the repaint of the filled grid
  }
  auto* grid = window.findChild<QTableWidget*>("resultsGrid");
  state.counters["rows"] = grid ? grid->rowCount() : 0;
}
BENCHMARK(BM_WindowRunsLargestPlan)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
