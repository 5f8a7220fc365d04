#pragma once

// What the benchmarks here share: a results grid kept in memory, a Link
// Error prompt that answers Cancel, a scratch directory for report files, a
// check runner with both, a READ command and a stopwatch.

#include <stdlib.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "engine/CheckRunner.h"
#include "engine/CheckerSession.h"
#include "base/Clock.h"
#include "engine/ControlEventPump.h"
#include "engine/FrontEnd.h"
#include "engine/TestPlan.h"

namespace dsc::bench {

// Keeps the texts and colours in memory, as a window's table would.
class TextGrid final : public ResultsGrid {
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
  void SetTextColor(Rgb color) override { cell().color = color; }
  void SetColumnWidthTwips(int32_t, int32_t) override {}

 private:
  struct Cell {
    std::string text;
    Rgb color;
  };
  Cell& cell() { return cells_.at(row_).at(col_); }
  std::vector<std::array<Cell, 2>> cells_;
  int32_t row_ = 0, col_ = 0;
};

// Answers Cancel at once: a Retry would do the failed access again and add
// work a bare loop does not do. Where no command should fail, being asked at
// all stops the benchmark.
class CancelPrompt final : public LinkErrorPrompt {
 public:
  enum class Failures { Expected, Unexpected };
  explicit CancelPrompt(Failures failures) : failures_(failures) {}
  Answer Ask(const std::string&, const std::string& text) override {
    if (failures_ == Failures::Unexpected)
      throw std::runtime_error("unexpected Link Error: " + text);
    ++asked;
    return Answer::Cancel;
  }
  int64_t asked = 0;

 private:
  Failures failures_;
};

// A new directory under the system's temporary one, removed with all it
// holds; path() is empty where it could not be made.
class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "ovra-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data())) path_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A check runner over `control`, with the grid and prompt above and an event
// pump that waits with `sleep`; its reports go to `dir`.
struct RunnerParts {
  RunnerParts(Clock& clock, DataAcquisitionControl& control, const std::string& reportDir,
              CancelPrompt::Failures failures, std::function<void(int32_t)> sleep)
      : dir(reportDir),
        session(clock, dir),
        prompt(failures),
        pump(control, std::move(sleep)),
        runner(session, control, grid, prompt, pump, clock) {}

  // Lets the next run start a report file of its own, as the first run did,
  // instead of appending to the last one.
  void NewReport() {
    std::error_code ec;
    for (const auto& f : std::filesystem::directory_iterator(dir, ec))
      std::filesystem::remove(f.path(), ec);
    session.report.reportFileName.clear();
  }

  std::string dir;
  CheckerSession session;
  TextGrid grid;
  CancelPrompt prompt;
  ControlEventPump pump;
  CheckRunner runner;
};

// A READ of one element of `format`.
inline TestCommand ReadCommand(std::string description, std::string property, std::string device,
                               int16_t format) {
  TestCommand c;
  c.Description = std::move(description);
  c.Property = std::move(property);
  c.Device = std::move(device);
  c.Access = "READ";
  c.OutputSize = 1;
  c.OutputFormat = format;
  return c;
}

// Seconds f takes.
template <class F>
double Time(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace dsc::bench
