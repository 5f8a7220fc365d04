#pragma once

// The terminal's side of the runner's interfaces: a grid of one cell and
// the "Link Error" box answered by --retries.

#include <functional>
#include <ostream>
#include <string>

#include "engine/FrontEnd.h"

namespace dsc::check {

// Colour only for a terminal that can show it and a user who did not say no.
bool UseColour(int fd);

// The terminal has no grid: only the current cell's text is kept, because the
// asynchronous wait reads it back to add its dots.
class TerminalGrid final : public ResultsGrid {
 public:
  void Clear() override { text_.clear(); }
  void SetRows(int32_t) override {}
  void SelectRow(int32_t) override {}
  void SelectCol(int32_t) override {}
  void SetText(const std::string& text) override { text_ = text; }
  std::string Text() const override { return text_; }
  void SetTextColor(Rgb) override {}
  void SetColumnWidthTwips(int32_t, int32_t) override {}

 private:
  std::string text_;
};

// The "Link Error" box: Retry a given number of times per command, then Cancel.
class RetryPrompt final : public LinkErrorPrompt {
 public:
  RetryPrompt(int retries, std::ostream& out) : retries_(retries), out_(out) {}
  Answer Ask(const std::string& title, const std::string& text) override;
  // Each command gets its own retries.
  void NewCommand() override { used_ = 0; }
  std::function<void()> beforeLine;  // the progress line steps aside

 private:
  int retries_;
  int used_ = 0;
  std::ostream& out_;
};

}  // namespace dsc::check
