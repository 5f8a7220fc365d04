#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

#include "app/CheckOutput.h"

namespace dsc {

// "servers 3 of 51 done, 1 failed, 12 s elapsed, about 40 s left" at the foot
// of a terminal while many servers are checked. It is erased before every
// line the other outputs write and drawn again after it, so it never mixes
// with them; shown only on a terminal that wants it (the caller decides:
// not in a pipe, not with --json, NO_COLOR or TERM=dumb).
class ProgressLine {
 public:
  ProgressLine(std::ostream& out, bool shown)
      : out_(out), shown_(shown), eraser_(*this), drawer_(*this) {}
  void Start(int32_t servers);
  void ServerDone(bool failed);
  void Erase();  // before a line of another output
  void Draw();   // after it
  // Observers to put before and after the terminal printer.
  CheckOutput& eraser() { return eraser_; }
  CheckOutput& drawer() { return drawer_; }
  // The line's text at `elapsedMs`, for tests.
  std::string Text(int64_t elapsedMs) const;

 private:
  struct Eraser final : CheckOutput {
    explicit Eraser(ProgressLine& p) : p(p) {}
    void ServerStarted(const std::string&, const std::string&, int32_t) override { p.Erase(); }
    void CommandEnded(const CommandOutcome&) override { p.Erase(); }
    void ServerEnded(const RunSummary&) override { p.Erase(); }
    void ServerNotPrepared(const std::string&, const std::string&, const std::string&) override {
      p.Erase();
    }
    void RunEnding(CheckTotals&) override {
      p.Erase();
      p.started_ = false;
    }
    ProgressLine& p;
  };
  struct Drawer final : CheckOutput {
    explicit Drawer(ProgressLine& p) : p(p) {}
    void CommandEnded(const CommandOutcome&) override { p.Draw(); }
    void ServerNotPrepared(const std::string&, const std::string&, const std::string&) override {
      p.Draw();
    }
    ProgressLine& p;
  };

  std::ostream& out_;
  bool shown_;
  bool started_ = false, drawn_ = false;
  int32_t total_ = 0, done_ = 0, failed_ = 0;
  std::chrono::steady_clock::time_point start_;
  Eraser eraser_;
  Drawer drawer_;
};

}  // namespace dsc
