#pragma once

#include <cstdint>
#include <string>

namespace dsc {

// The small interfaces through which the runner reaches whatever front end it
// serves: the Qt window, the terminal checker, tests and benchmarks.

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kBlue{0, 0, 255};

// The two-column results grid with a current cell.
class ResultsGrid {
 public:
  virtual ~ResultsGrid() = default;
  virtual void Clear() = 0;
  virtual void SetRows(int32_t rows) = 0;
  virtual void SelectRow(int32_t row) = 0;
  virtual void SelectCol(int32_t col) = 0;
  virtual void SetText(const std::string& text) = 0;  // of the current cell
  virtual std::string Text() const = 0;               // of the current cell
  virtual void SetTextColor(Rgb color) = 0;           // of the current cell
  virtual void SetColumnWidthTwips(int32_t col, int32_t twips) = 0;
};

// The modal "Link Error" box. CancelAll answers Cancel for every further
// failed access of the same run (one server) without asking again.
class LinkErrorPrompt {
 public:
  enum class Answer { Retry, Cancel, CancelAll };
  virtual ~LinkErrorPrompt() = default;
  virtual Answer Ask(const std::string& title, const std::string& text) = 0;
  // A new command starts: a prompt that answers by itself (a number of
  // retries) counts afresh.
  virtual void NewCommand() {}
};

// Suspending the thread and processing pending window events; the control's
// completion events are delivered while events are processed.
class EventPump {
 public:
  virtual ~EventPump() = default;
  virtual void Sleep(int32_t ms) = 0;
  virtual void ProcessPendingEvents() = 0;
};

}  // namespace dsc
