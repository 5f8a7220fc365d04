// The largest plan the checker holds (32767 commands, each a READ of one
// DOUBLE) run through the real window, offscreen, grid included.

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTableWidget>

#include "engine/Clock.h"
#include "engine/Formats.h"
#include "sim/SimControlSystem.h"
#include "ui/MainWindow.h"

namespace {

void BM_WindowRunsLargestPlan(benchmark::State& state) {
  dsc::SystemClock clock;
  auto system = dsc::sim::SimControlSystem::Demo(clock);
  auto control = dsc::sim::MakeSimControl(*system);
  std::string tmpl = (std::filesystem::temp_directory_path() / "ovra-bench-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) {
    state.SkipWithError("no temporary directory");
    return;
  }
  dsc::ui::VeskerOptions options;
  options.clock = &clock;
  options.reportDirectory = tmpl;
  dsc::ui::Vesker window(std::move(system), std::move(control), options);
  window.show();
  QApplication::processEvents();

  dsc::TestCommand c;
  c.Description = "Pump 1 pressure";
  c.Property = "PRESSURE";
  c.Device = "PUMP-01";
  c.Access = "READ";
  c.OutputSize = 1;
  c.OutputFormat = dsc::kFormatDouble;
  auto& plan = window.session().plan;
  plan.TestPlan.assign(32767, c);
  plan.TestPlanCount = 32767;

  for (auto _ : state) {
    window.session().report.reportFileName.clear();
    window.RunVesk("LINAC", "VACUUM-1");
    QApplication::processEvents();  // the repaint of the filled grid
  }
  auto* grid = window.findChild<QTableWidget*>("resultsGrid");
  state.counters["rows"] = grid ? grid->rowCount() : 0;
  std::filesystem::remove_all(tmpl);
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
