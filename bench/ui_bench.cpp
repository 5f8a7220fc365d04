// The largest plan the checker holds (32767 commands, each a READ of one
// DOUBLE) run through the real window, offscreen, grid included, against the
// same plan through the bare runner (an in-memory grid) and against a plain
// QTableWidget filled with the same 65534 texts and colours, in CPU time of
// the whole process (the worker thread included). The three sides run once
// in each round, the rounds taking their orders in turn from a random one
// (bench/Pairs.h). The counters are medians:
//   window_ms, runner_ms, plain_fill_ms, and
//   ratio = window / (runner + plain fill) of the same round, with its
//   quartiles ratio_q1 and ratio_q3: what the window costs against the
//   runner plus a plain fill of its rows (the floor). A ratio of positive
//   times, never negative.
// Argument 0: the window as the program opens the simulation (its calls run
// on the GUI thread); 1: every access handed to the worker thread, as for a
// control system whose calls may block.
//
//   build/bench/ui_bench [--benchmark_filter=...]   (QT_QPA_PLATFORM=offscreen)

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTableWidget>

#include "base/Clock.h"
#include "base/Formats.h"
#include "bench/BenchSupport.h"
#include "sim/SimControlSystem.h"
#include "ui/MainWindow.h"

namespace {

constexpr int kCommands = 32767;
// Every order of the three sides once.
constexpr int kRounds = 6;

void BM_WindowAgainstPlainFill(benchmark::State& state) {
  dsc::SystemClock clock;
  dsc::bench::ScratchDir dir, runnerDir;
  if (dir.path().empty() || runnerDir.path().empty()) {
    state.SkipWithError("no temporary directory");
    return;
  }
  const dsc::TestCommand command =
      dsc::bench::ReadCommand("Pump 1 pressure", "PRESSURE", "PUMP-01", dsc::kFormatDouble);

  auto system = dsc::sim::SimControlSystem::Demo(clock);
  auto control = dsc::sim::MakeSimControl(*system);
  dsc::ui::VeskerOptions options;
  options.clock = &clock;
  options.reportDirectory = dir.path();
  options.callsMayBlock = state.range(0) != 0;
  dsc::ui::Vesker window(std::move(system), std::move(control), options);
  window.show();
  QApplication::processEvents();
  window.session().plan.TestPlan.assign(kCommands, command);
  window.session().plan.TestPlanCount = kCommands;

  // The bare runner over its own simulated system.
  auto bareSystem = dsc::sim::SimControlSystem::Demo(clock);
  auto bareControl = dsc::sim::MakeSimControl(*bareSystem);
  dsc::bench::RunnerParts bare(clock, *bareControl, runnerDir.path(),
                               dsc::bench::CancelPrompt::Failures::Unexpected, [](int32_t) {});
  bare.session.plan.TestPlan.assign(kCommands, command);
  bare.session.plan.TestPlanCount = kCommands;

  QTableWidget plain(0, 2);
  plain.resize(800, 600);
  plain.show();
  QApplication::processEvents();

  const auto throughWindow = [&] {
    window.session().report.reportFileName.clear();
    window.RunVesk("LINAC", "VACUUM-1");
    QApplication::processEvents();  // the repaint of the filled grid
  };
  const auto runner = [&] {
    bare.NewReport();
    bare.runner.RunVesk("LINAC", "VACUUM-1");
  };
  const auto fill = [&] {
    plain.clearContents();
    plain.setRowCount(kCommands);
    const QString action = QString::fromLatin1(command.Description.c_str());
    const QString result = QStringLiteral("Success");
    for (int r = 0; r < kCommands; ++r) {
      plain.setItem(r, 0, new QTableWidgetItem(action));
      auto* item = new QTableWidgetItem(result);
      item->setForeground(QColor(0, 0, 0));
      plain.setItem(r, 1, item);
    }
    QApplication::processEvents();
  };
  std::vector<double> windowS, runnerS, plainS;
  for (auto _ : state)
    dsc::bench::InEveryOrder(3, kRounds, [&](size_t side) {
      if (side == 0) windowS.push_back(dsc::bench::CpuTime(throughWindow));
      if (side == 1) runnerS.push_back(dsc::bench::CpuTime(runner));
      if (side == 2) plainS.push_back(dsc::bench::CpuTime(fill));
    });
  std::vector<double> floor;
  for (size_t i = 0; i < runnerS.size() && i < plainS.size(); ++i)
    floor.push_back(runnerS[i] + plainS[i]);
  const dsc::bench::Ratio ratio = dsc::bench::PairedRatio(windowS, floor);
  state.counters["window_ms"] = dsc::bench::Median(windowS) * 1e3;
  state.counters["runner_ms"] = dsc::bench::Median(runnerS) * 1e3;
  state.counters["plain_fill_ms"] = dsc::bench::Median(plainS) * 1e3;
  state.counters["ratio"] = ratio.median;
  state.counters["ratio_q1"] = ratio.q1;
  state.counters["ratio_q3"] = ratio.q3;
  state.SetLabel("median of per-round ratios of CPU time; floor: the bare runner + a plain fill");
  state.counters["rows"] = window.resultsModel().rowCount();
}
BENCHMARK(BM_WindowAgainstPlainFill)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
