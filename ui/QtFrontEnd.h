#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <QString>

#include "access/DataAcquisitionControl.h"
#include "engine/FrontEnd.h"

class QTableWidget;
class QWidget;

namespace dsc::ui {

// Latin-1 is the control system's character set; every text crossing between
// the widgets and the engine goes through these two.
inline QString FromLatin1(const std::string& s) {
  return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}
inline std::string ToLatin1(const QString& s) { return s.toLatin1().toStdString(); }

// The results grid over a QTableWidget. Grid row 0 is the header row and maps
// to the horizontal header; grid row k maps to table row k - 1. The current
// cell is kept here and handed to the widget only when events are processed
// (SyncCurrentCell): moving the widget's selection for each of 32767 commands
// would cost more than the run itself.
class QtResultsGrid final : public ResultsGrid {
 public:
  explicit QtResultsGrid(QTableWidget& table);

  void Clear() override;
  void SetRows(int32_t rows) override;
  void SelectRow(int32_t row) override;
  void SelectCol(int32_t col) override;
  void SetText(const std::string& text) override;
  std::string Text() const override;
  void SetTextColor(Rgb color) override;
  void SetColumnWidthTwips(int32_t col, int32_t twips) override;

  // Shows the current cell in the widget (focus and scroll position) and
  // widens the Action column to its longest text: the runner sets it to
  // 2000 twips, which cuts most descriptions.
  void SyncCurrentCell();
  int32_t row() const { return row_; }
  int32_t col() const { return col_; }

 private:
  bool valid() const;
  QTableWidget& table_;
  int32_t row_ = 0, col_ = 0;
  bool dirty_ = false;
};

// The modal "Link Error" box with Retry and Cancel.
class QtLinkErrorPrompt final : public LinkErrorPrompt {
 public:
  explicit QtLinkErrorPrompt(QWidget* parent, std::function<void()> beforeAsk = {})
      : parent_(parent), beforeAsk_(std::move(beforeAsk)) {}
  Answer Ask(const std::string& title, const std::string& text) override;

 private:
  QWidget* parent_;
  std::function<void()> beforeAsk_;
};

// Sleeping and event processing on the GUI thread: the window's own events
// first (repaints, moves, clicks), then the control's completion events.
class QtEventPump final : public EventPump {
 public:
  QtEventPump(DataAcquisitionControl& control, std::function<void(int32_t)> sleep,
              std::function<void()> beforeEvents)
      : control_(control), sleep_(std::move(sleep)), beforeEvents_(std::move(beforeEvents)) {}
  void Sleep(int32_t ms) override;
  void ProcessPendingEvents() override;

 private:
  DataAcquisitionControl& control_;
  std::function<void(int32_t)> sleep_;
  std::function<void()> beforeEvents_;
};

}  // namespace dsc::ui
