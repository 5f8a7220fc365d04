// What the window costs beyond the runner for its largest run: a Specific
// Test of 32767 READs of one DOUBLE from a stored test file on the demo
// facility, through the real window (grid, progress line, report), offscreen,
// in CPU time of the whole process (the worker thread included). Four sides,
// each round running every one once, the rounds taking the sides' orders in
// turn from a random one (bench/Pairs.h):
//   W0  the window as the program opens the simulation (calls on the GUI thread)
//   W1  the window with every call handed to the worker thread (ui/OffThread)
//   R   the same specific test run by the engine alone (ConfiguredRun over the
//       test file, the real report, an in-memory grid): what ovra-check does
//   P   a plain fill of a QTableWidget of the grid's size with the same 32767
//       rows of texts and colours, painted once (the floor of any grid)
// For each window side and round two ratios of positive times, never negative:
//   ratio  = W / (R + P): the window against the runner plus a plain fill;
//   budget = W / (R + 1.5 P): at most 1 where what the window adds to the
//            runner is at most 1.5 plain fills, the window's target.
// Printed: medians of the CPU times, and the medians of the per-round ratios
// with their quartiles.
//
//   build/bench/ui_grid_bench [rounds] [sides]
//
// rounds defaults to 12; sides (e.g. "02", for profiling one of them) runs
// only the sides of those numbers, 0 to 3 in the order above; a ratio is
// printed only where its three sides ran.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <QApplication>
#include <QLabel>
#include <QRadioButton>
#include <QTableView>
#include <QTableWidget>

#include "base/Clock.h"
#include "bench/BenchSupport.h"
#include "engine/ConfiguredRun.h"
#include "sim/SimControlSystem.h"
#include "sources/TestSources.h"
#include "ui/MainWindow.h"
#include "ui/SelectorCombo.h"

namespace {

using namespace dsc::bench;

constexpr int kCommands = 32767;
constexpr const char* kDescription = "Pump 1 pressure";

void EmptyDir(const std::string& dir) {
  std::error_code ec;
  for (const auto& f : std::filesystem::directory_iterator(dir, ec))
    std::filesystem::remove_all(f.path(), ec);
}

void Choose(dsc::ui::Vesker& window, const char* combo, const char* text) {
  auto* c = window.findChild<dsc::ui::SelectorCombo*>(combo);
  const int i = c ? c->findText(text) : -1;
  if (i < 0) throw std::runtime_error(std::string("no ") + text + " in " + combo);
  c->choose(i);
}

// One window over its own demo facility, set to run the stored test.
struct Window {
  Window(dsc::Clock& clock, const std::string& db, bool callsMayBlock)
      : prompt(CancelPrompt::Failures::Unexpected) {
    auto system = dsc::sim::SimControlSystem::Demo(clock);
    auto control = dsc::sim::MakeSimControl(*system);
    dsc::ui::VeskerOptions options;
    options.clock = &clock;
    options.prompt = &prompt;
    options.reportDirectory = reports.path();
    options.databasePath = db;
    options.callsMayBlock = callsMayBlock;
    options.openReport = [](const QString&) { return true; };
    window = std::make_unique<dsc::ui::Vesker>(std::move(system), std::move(control), options);
    window->resize(1000, 700);
    window->show();
    QApplication::processEvents();
    Choose(*window, "DeviceContextList", "LINAC");
    Choose(*window, "DeviceServerList", "VACUUM-1");
    window->findChild<QRadioButton*>("SelfTestOption1")->setChecked(true);
  }
  void Before() {
    EmptyDir(reports.path());
    window->session().report.reportFileName.clear();
  }
  void Run() {
    window->Command2_Click();
    QApplication::processEvents();  // the repaint of the filled grid
  }
  void Check() const {
    const auto* progress = window->findChild<QLabel*>("progressText");
    const QString expected = QString("%1 of %1 done").arg(kCommands);
    if (window->resultsModel().rowCount() != kCommands || !progress || progress->text() != expected)
      throw std::runtime_error("the window's run did not complete: " +
                               (progress ? progress->text().toStdString() : std::string("?")));
  }

  CancelPrompt prompt;
  ScratchDir reports;
  std::unique_ptr<dsc::ui::Vesker> window;
};

// The engine alone, as ovra-check runs a specific test.
struct Runner {
  Runner(dsc::Clock& clock, const std::string& db)
      : system(dsc::sim::SimControlSystem::Demo(clock)),
        control(dsc::sim::MakeSimControl(*system)),
        parts(clock, *control, dir.path(), CancelPrompt::Failures::Unexpected, [](int32_t) {}),
        sources(parts.session, *system) {
    parts.session.DatabasePath = db + "/";
  }
  void Run() {
    dsc::ConfiguredRun run(parts.session, parts.runner, sources);
    run.Begin({"LINAC", "", 1});
    run.RunSpecific("LINAC", "VACUUM-1", "PUMP-01");
    totals = run.End();
  }
  void Check() const {
    if (totals.passed != kCommands) throw std::runtime_error("the runner's run did not complete");
  }

  ScratchDir dir;
  std::unique_ptr<dsc::sim::SimControlSystem> system;
  std::unique_ptr<dsc::DataAcquisitionControl> control;
  RunnerParts parts;
  dsc::TestSources sources;
  dsc::CheckTotals totals;
};

// A plain QTableWidget of the window grid's size, filled with what the
// window's grid shows after the run: the header, then the description and
// "Success" in the palette's text colour on every row.
struct PlainFill {
  PlainFill(const QSize& size, const std::string& header0, const std::string& header1)
      : table(0, 2), h0(QString::fromLatin1(header0)), h1(QString::fromLatin1(header1)) {
    table.resize(size);
    table.show();
    QApplication::processEvents();
  }
  void Run() {
    table.clear();
    table.setRowCount(kCommands);
    table.setHorizontalHeaderLabels({h0, h1});
    const QString action = QString::fromLatin1(kDescription);
    const QString result = QStringLiteral("Success");
    for (int r = 0; r < kCommands; ++r) {
      table.setItem(r, 0, new QTableWidgetItem(action));
      table.setItem(r, 1, new QTableWidgetItem(result));
    }
    table.setCurrentCell(kCommands - 1, 1);
    QApplication::processEvents();
  }
  QTableWidget table;
  QString h0, h1;
};

struct Side {
  const char* name;
  std::vector<double> cpu;
};

void PrintRatios(const char* name, const Side& window, const Side& runner, const Side& plain) {
  std::vector<double> floor, budget;
  for (size_t i = 0; i < runner.cpu.size() && i < plain.cpu.size(); ++i) {
    floor.push_back(runner.cpu[i] + plain.cpu[i]);
    budget.push_back(runner.cpu[i] + 1.5 * plain.cpu[i]);
  }
  std::printf("  %s\n  %s\n",
              RatioText(std::string(name) + ": ratio W/(R+P)", PairedRatio(window.cpu, floor),
                        "runner alone + plain fill")
                  .c_str(),
              RatioText(std::string(name) + ": budget W/(R+1.5P), target <= 1",
                        PairedRatio(window.cpu, budget), "runner alone + 1.5 plain fills")
                  .c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 12;
  const std::string only = argc > 2 ? argv[2] : "0123";
  try {
    dsc::SystemClock clock;
    ScratchDir db;
    std::string file = "Description,Property,Device,OutputSize,OutputFormat\r\n";
    for (int i = 0; i < kCommands; ++i)
      file += std::string(kDescription) + ",PRESSURE,PUMP-01,1,DOUBLE\r\n";
    db.write("LINAC-VACUUM-1.csv", file);
    db.write("procedures.csv", "Description,FileName,Context\r\n");

    Window inline_(clock, db.path(), false), offThread(clock, db.path(), true);
    Runner runner(clock, db.path());
    // Warm-up and a check that every side does the whole run.
    const auto runs = [&](char side) { return only.find(side) != std::string::npos; };
    if (runs('0')) {
      inline_.Before();
      inline_.Run();
      inline_.Check();
    }
    if (runs('1')) {
      offThread.Before();
      offThread.Run();
      offThread.Check();
    }
    if (runs('2')) {
      runner.parts.NewReport();
      runner.Run();
      runner.Check();
    }
    auto* view = inline_.window->findChild<QTableView*>("resultsGrid");
    const auto& header = inline_.window->resultsModel().live()->header;
    PlainFill plain(view ? view->size() : QSize(800, 600), header[0].text, header[1].text);
    if (runs('3')) plain.Run();

    std::vector<Side> sides = {{"W0 window, calls on the GUI thread", {}},
                               {"W1 window, calls on the worker thread", {}},
                               {"R  runner alone", {}},
                               {"P  plain grid fill", {}}};
    InEveryOrder(sides.size(), rounds, [&](size_t side) {
      if (!runs(static_cast<char>('0' + side))) return;
      switch (side) {
        case 0:
          inline_.Before();
          sides[0].cpu.push_back(CpuTime([&] { inline_.Run(); }));
          inline_.Check();
          break;
        case 1:
          offThread.Before();
          sides[1].cpu.push_back(CpuTime([&] { offThread.Run(); }));
          offThread.Check();
          break;
        case 2:
          runner.parts.NewReport();
          sides[2].cpu.push_back(CpuTime([&] { runner.Run(); }));
          runner.Check();
          break;
        default:
          sides[3].cpu.push_back(CpuTime([&] { plain.Run(); }));
      }
    });
    std::printf("%d commands, %d rounds (every order from a random one), process CPU time:\n",
                kCommands, rounds);
    for (const Side& s : sides)
      if (!s.cpu.empty())
        std::printf("  %-40s median %8.1f ms (quartiles %.1f-%.1f)\n", s.name, Median(s.cpu) * 1e3,
                    Quantile(s.cpu, 0.25) * 1e3, Quantile(s.cpu, 0.75) * 1e3);
    std::printf("  medians of the per-round ratios:\n");
    for (int w : {0, 1})
      if (!sides[w].cpu.empty() && !sides[2].cpu.empty() && !sides[3].cpu.empty())
        PrintRatios(w == 0 ? "W0" : "W1", sides[w], sides[2], sides[3]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ui_grid_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
