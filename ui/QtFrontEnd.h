#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QAbstractTableModel>
#include <QString>

#include "access/DataAcquisitionControl.h"
#include "base/TextEncoding.h"
#include "engine/FrontEnd.h"

class QTableView;
class QWidget;

namespace dsc::ui {

// Latin-1 is the control system's character set; every text crossing between
// the widgets and the engine goes through these two.
inline QString FromLatin1(const std::string& s) {
  return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}
inline std::string ToLatin1(const QString& s) { return Utf8ToLatin1(s.toUtf8().toStdString()); }
// Why a typed text cannot be sent as it stands (a character Latin-1 has not
// got, with its column), "" when it can; `what` names the field.
QString Latin1Refusal(const QString& what, const QString& s);

// The colour a cell is shown in for the colour the runner gave it: black is
// the palette's own text colour, red and blue are lightened on a dark palette
// so that success, failure and waiting read the same on either.
QColor ShownColor(Rgb color, bool darkPalette);

// The rows of one run (one server), kept after the run so that a configured
// run's servers can be shown again.
struct RunRows {
  struct Cell {
    std::string text;
    Rgb color;
  };
  struct Row {
    Cell cells[2];
    std::string read, expected;  // decoded values, empty when none
  };
  std::string context, server;
  Cell header[2];
  std::vector<Row> rows;  // grid row k is rows[k - 1]
};

// The results grid's model. The runner's writes go into the rows without a
// signal; Publish() tells the view what changed since the last time, once,
// right before events are processed. A view only ever paints when events are
// processed, so it never shows a stale cell, and a run of 32767 commands
// costs one change signal per event cycle instead of several per row.
class ResultsModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Data of the engine's colour for a cell (Rgb packed as 0xRRGGBB), so that
  // tests and copies see the meaning, not the palette's shade of it.
  static constexpr int kColorRole = Qt::UserRole + 1;
  // The values read and expected of a row, as text; empty when none.
  static constexpr int kValuesRole = Qt::UserRole + 2;
  // Cells of more characters show their whole text in their tool tip.
  static constexpr size_t kWholeTextFrom = 40;

  explicit ResultsModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The rows the runner writes into from now on, shown at once.
  std::shared_ptr<RunRows> StartRun(const std::string& context, const std::string& server);
  // Shows another run's rows (or the live ones again).
  void Show(std::shared_ptr<RunRows> rows);
  const std::shared_ptr<RunRows>& live() const { return live_; }
  const std::shared_ptr<RunRows>& shown() const { return shown_; }
  // Empties the shown rows (a preparation that failed leaves nothing to show).
  void ClearRows();

  // Calls for the grid adapter.
  void Resize(int32_t rows);
  RunRows::Cell* Cell(int32_t gridRow, int32_t col);
  void Touch(int32_t gridRow);
  void SetValues(int32_t gridRow, std::string read, std::string expected);
  // Both cells of a row the runner does not write (a command a stop left out).
  void SetRow(int32_t gridRow, const std::string& action, const std::string& result, Rgb color);
  void Publish();

  void setDarkPalette(bool dark);

  // The rows as text: tab-separated, or as CSV with every field quoted.
  QString RowsAsText(const std::vector<int>& rows, bool csv) const;

 private:
  std::shared_ptr<RunRows> live_, shown_;
  int dirtyFirst_ = -1, dirtyLast_ = -1;
  bool headerDirty_ = false;
  bool dark_ = false;
};

// The results grid over the model above and its view. Grid row 0 is the
// header row; grid row k is model row k - 1. The current cell is kept here
// and handed to the view only when events are processed (SyncCurrentCell).
class QtResultsGrid final : public ResultsGrid {
 public:
  QtResultsGrid(ResultsModel& model, QTableView& view);

  void Clear() override;
  void SetRows(int32_t rows) override;
  void SelectRow(int32_t row) override;
  void SelectCol(int32_t col) override;
  void SetText(const std::string& text) override;
  std::string Text() const override;
  void SetTextColor(Rgb color) override;
  void SetColumnWidthTwips(int32_t col, int32_t twips) override;

  // Publishes the model's changes, shows the current cell in the view (focus
  // and scroll position) and widens the Action column to its longest text:
  // the runner sets it to 2000 twips, which cuts most descriptions.
  void SyncCurrentCell();
  int32_t row() const { return row_; }
  int32_t col() const { return col_; }

 private:
  ResultsModel& model_;
  QTableView& view_;
  // The Action column grows with its texts up to this many characters (or
  // half the grid, when that is wider).
  static constexpr int kWidestAction = 48;
  int32_t row_ = 0, col_ = 0;
  bool dirty_ = false;
  // The widest Action text so far, measured only for texts that may be wider.
  int widest_ = 0;
  size_t widestLength_ = 0;
  std::string lastMeasured_;
};

// The modal "Link Error" box with Retry, Cancel and Cancel All.
class QtLinkErrorPrompt final : public LinkErrorPrompt {
 public:
  // wayOut, asked before each box: "" for the box as it always was, else a
  // note shown under the text with Cancel All as the default button, so that
  // Enter leaves a server that keeps not answering.
  explicit QtLinkErrorPrompt(QWidget* parent, std::function<void()> beforeAsk = {},
                             std::function<QString()> wayOut = {})
      : parent_(parent), beforeAsk_(std::move(beforeAsk)), wayOut_(std::move(wayOut)) {}
  Answer Ask(const std::string& title, const std::string& text) override;

 private:
  QWidget* parent_;
  std::function<void()> beforeAsk_;
  std::function<QString()> wayOut_;
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
