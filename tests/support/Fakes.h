#pragma once

#include <array>
#include <atomic>
#include <deque>
#include <utility>
#include <vector>

#include "base/Clock.h"
#include "engine/FrontEnd.h"

namespace dsc::testing {

// A clock that only moves when told to. Local time is rendered in UTC so that
// expectations do not depend on the machine's zone. The window's tests read it
// from the run's worker and the GUI thread at once, so it is atomic.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(int64_t nowMs = 1'700'000'000'000) : now_(nowMs) {}
  // Every read moves the clock on by stepMs (0: it stands still), so that
  // anything that should happen within one second is seen to span several.
  int64_t NowMs() override { return now_.fetch_add(stepMs.load()); }
  std::atomic<int64_t> stepMs = 0;
  std::string LocalDateTime() override;
  void Advance(int64_t ms) { now_ += ms; }

 private:
  std::atomic<int64_t> now_;
};

// A results grid that keeps texts and colours in memory.
class MemoryGrid final : public ResultsGrid {
 public:
  struct Cell {
    std::string text;
    Rgb color{};
  };
  void Clear() override {
    cells_.clear();
    row_ = col_ = 0;
  }
  void SetRows(int32_t rows) override { cells_.resize(rows < 0 ? 0 : rows); }
  void SelectRow(int32_t row) override { row_ = row; }
  void SelectCol(int32_t col) override { col_ = col; }
  void SetText(const std::string& text) override {
    cell().text = text;
    if (col_ == 1 && keepHistory) resultHistory.push_back(text);
  }
  std::string Text() const override { return at(row_, col_).text; }
  void SetTextColor(Rgb color) override { cell().color = color; }
  void SetColumnWidthTwips(int32_t, int32_t) override {}

  // Throws std::out_of_range for a cell outside the grid.
  const Cell& at(int32_t row, int32_t col) const { return cells_.at(row).at(col); }
  int32_t rows() const { return static_cast<int32_t>(cells_.size()); }
  // Every text that column 1 of any row has shown, in order (to see "Waiting ." and its dots).
  std::vector<std::string> resultHistory;
  bool keepHistory = true;  // off where a benchmark's long run would only grow it

 private:
  Cell& cell() { return const_cast<Cell&>(at(row_, col_)); }
  std::vector<std::array<Cell, 2>> cells_;
  int32_t row_ = 0, col_ = 0;
};

// Answers the Link Error box from a script; Cancel once the script is used up.
class ScriptedPrompt final : public LinkErrorPrompt {
 public:
  Answer Ask(const std::string& title, const std::string& text) override {
    asked.emplace_back(title, text);
    if (answers.empty()) return Answer::Cancel;
    const Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  void NewCommand() override { ++newCommands; }
  std::deque<Answer> answers;
  int newCommands = 0;                                     // a retry count starts afresh at each
  std::vector<std::pair<std::string, std::string>> asked;  // title, text
};

std::string ReadFileBytes(const std::string& path);

// `text` as a test parameter's name ("POLL[timeout=1500]" -> "POLL_timeout_1500"):
// letters and digits kept, every other run of characters one '_'.
std::string CaseName(const std::string& text);

// Creates a fresh temporary directory and removes it with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }  // without trailing "/"
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& bytes) const;
  std::string read(const std::string& name) const { return ReadFileBytes(file(name)); }

 private:
  std::string path_;
};

}  // namespace dsc::testing
