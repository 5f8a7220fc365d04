#include "ui/QtFrontEnd.h"

#include <algorithm>

#include <QCoreApplication>
#include <QEventLoop>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>

namespace dsc::ui {

namespace {

int Packed(Rgb c) { return (c.r << 16) | (c.g << 8) | c.b; }

QString CsvField(const QString& text) {
  QString quoted = text;
  quoted.replace('"', "\"\"");
  return '"' + quoted + '"';
}

}  // namespace

QString Latin1Refusal(const QString& what, const QString& s) {
  std::string latin1;
  uint32_t refused = 0;
  if (Utf8ToLatin1(s.toUtf8().toStdString(), latin1, &refused)) return {};
  if (refused == kNotUtf8)
    return what + ": the text is not well-formed and cannot be sent to the control system.";
  return QString(
             "%1: column %2: U+%3 is not a Latin-1 character, the control system's; "
             "type it differently.")
      .arg(what)
      .arg(latin1.size() + 1)
      .arg(QString::number(refused, 16).toUpper().rightJustified(4, '0'));
}

QColor ShownColor(Rgb color, bool darkPalette) {
  if (color == kBlack) return {};  // the palette's text colour
  if (!darkPalette) {
    // Pure blue is hard to read on white next to black text; a darker blue
    // keeps the meaning and the contrast.
    if (color == kBlue) return QColor(0, 0, 220);
    return QColor(color.r, color.g, color.b);
  }
  if (color == kRed) return QColor(255, 110, 110);
  if (color == kBlue) return QColor(120, 170, 255);
  // Any other colour is lifted until it stands out from a dark background.
  QColor c(color.r, color.g, color.b);
  return c.lightness() < 140 ? c.lighter(200) : c;
}

ResultsModel::ResultsModel(QObject* parent)
    : QAbstractTableModel(parent), live_(std::make_shared<RunRows>()), shown_(live_) {}

int ResultsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(shown_->rows.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(shown_->rows.size())) return {};
  const RunRows::Row& row = shown_->rows[static_cast<size_t>(index.row())];
  const RunRows::Cell& cell = row.cells[index.column()];
  switch (role) {
    case Qt::DisplayRole:
      return FromLatin1(cell.text);
    case Qt::ForegroundRole: {
      QColor c = ShownColor(cell.color, dark_);
      return c.isValid() ? QVariant(c) : QVariant();
    }
    case kColorRole:
      return Packed(cell.color);
    case Qt::ToolTipRole: {
      // A text the column may cut shows whole, above the values.
      const QString whole = cell.text.size() > kWholeTextFrom ? FromLatin1(cell.text) : QString();
      const QString values = data(index, kValuesRole).toString();
      if (whole.isEmpty() || values.isEmpty()) return whole.isEmpty() ? QVariant(values) : whole;
      return whole + "\n" + values;
    }
    case kValuesRole: {
      if (row.read.empty() && row.expected.empty()) return {};
      QString tip = "value read: " + (row.read.empty() ? QString("-") : FromLatin1(row.read));
      if (!row.expected.empty()) tip += "\nvalue expected: " + FromLatin1(row.expected);
      return tip;
    }
    default:
      return {};
  }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section > 1)
    return QAbstractTableModel::headerData(section, orientation, role);
  const RunRows::Cell& cell = shown_->header[section];
  if (role == Qt::DisplayRole) return FromLatin1(cell.text);
  if (role == Qt::ForegroundRole) {
    QColor c = ShownColor(cell.color, dark_);
    return c.isValid() ? QVariant(c) : QVariant();
  }
  return {};
}

std::shared_ptr<RunRows> ResultsModel::StartRun(const std::string& context,
                                                const std::string& server) {
  auto rows = std::make_shared<RunRows>();
  rows->context = context;
  rows->server = server;
  // The header texts stay until the runner writes its own.
  rows->header[0] = live_->header[0];
  rows->header[1] = live_->header[1];
  live_ = rows;
  Show(rows);
  return rows;
}

void ResultsModel::Show(std::shared_ptr<RunRows> rows) {
  if (!rows) return;
  beginResetModel();
  shown_ = std::move(rows);
  dirtyFirst_ = dirtyLast_ = -1;
  headerDirty_ = false;
  endResetModel();
  emit headerDataChanged(Qt::Horizontal, 0, 1);
}

void ResultsModel::ClearRows() {
  auto rows = std::make_shared<RunRows>();
  rows->header[0] = live_->header[0];
  rows->header[1] = live_->header[1];
  live_ = rows;
  Show(rows);
}

void ResultsModel::Resize(int32_t rows) {
  const size_t n = rows > 1 ? static_cast<size_t>(rows - 1) : 0;
  if (n == live_->rows.size()) return;
  if (shown_ != live_) {
    live_->rows.resize(n);
    return;
  }
  beginResetModel();
  live_->rows.resize(n);
  dirtyFirst_ = dirtyLast_ = -1;
  endResetModel();
}

RunRows::Cell* ResultsModel::Cell(int32_t gridRow, int32_t col) {
  if (col < 0 || col > 1 || gridRow < 0) return nullptr;
  if (gridRow == 0) return &live_->header[col];
  if (gridRow > static_cast<int32_t>(live_->rows.size())) return nullptr;
  return &live_->rows[static_cast<size_t>(gridRow - 1)].cells[col];
}

void ResultsModel::Touch(int32_t gridRow) {
  if (shown_ != live_) return;
  if (gridRow == 0) {
    headerDirty_ = true;
    return;
  }
  const int r = gridRow - 1;
  if (dirtyFirst_ < 0 || r < dirtyFirst_) dirtyFirst_ = r;
  if (r > dirtyLast_) dirtyLast_ = r;
}

void ResultsModel::SetValues(int32_t gridRow, std::string read, std::string expected) {
  if (gridRow < 1 || gridRow > static_cast<int32_t>(live_->rows.size())) return;
  RunRows::Row& row = live_->rows[static_cast<size_t>(gridRow - 1)];
  row.read = std::move(read);
  row.expected = std::move(expected);
}

void ResultsModel::SetRow(int32_t gridRow, const std::string& action, const std::string& result,
                          Rgb color) {
  RunRows::Cell* a = Cell(gridRow, 0);
  RunRows::Cell* r = Cell(gridRow, 1);
  if (gridRow < 1 || !a || !r) return;
  a->text = action;
  r->text = result;
  r->color = color;
  Touch(gridRow);
}

void ResultsModel::Publish() {
  if (headerDirty_) {
    headerDirty_ = false;
    emit headerDataChanged(Qt::Horizontal, 0, 1);
  }
  if (dirtyFirst_ < 0) return;
  const int last = std::min(dirtyLast_, rowCount() - 1);
  if (last >= dirtyFirst_) emit dataChanged(index(dirtyFirst_, 0), index(last, 1));
  dirtyFirst_ = dirtyLast_ = -1;
}

void ResultsModel::setDarkPalette(bool dark) {
  if (dark == dark_) return;
  dark_ = dark;
  if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, 1));
  emit headerDataChanged(Qt::Horizontal, 0, 1);
}

QString ResultsModel::RowsAsText(const std::vector<int>& rows, bool csv) const {
  QString text;
  auto line = [&](const QString& a, const QString& b) {
    text += csv ? CsvField(a) + "," + CsvField(b) + "\r\n" : a + "\t" + b + "\n";
  };
  line(FromLatin1(shown_->header[0].text).trimmed(), FromLatin1(shown_->header[1].text).trimmed());
  for (int r : rows) {
    if (r < 0 || r >= rowCount()) continue;
    const RunRows::Row& row = shown_->rows[static_cast<size_t>(r)];
    line(FromLatin1(row.cells[0].text), FromLatin1(row.cells[1].text));
  }
  return text;
}

QtResultsGrid::QtResultsGrid(ResultsModel& model, QTableView& view) : model_(model), view_(view) {}

void QtResultsGrid::Clear() {
  RunRows& live = *model_.live();
  for (auto& row : live.rows) row = RunRows::Row{};
  live.header[0] = live.header[1] = RunRows::Cell{};
  model_.Touch(0);
  if (!live.rows.empty()) {
    model_.Touch(1);
    model_.Touch(static_cast<int32_t>(live.rows.size()));
  }
  row_ = col_ = 0;
  widest_ = 0;
  widestLength_ = 0;
  lastMeasured_.clear();
  dirty_ = true;
}

void QtResultsGrid::SetRows(int32_t rows) {
  model_.Resize(rows);
  dirty_ = true;
}

void QtResultsGrid::SelectRow(int32_t row) {
  row_ = row;
  dirty_ = true;
}

void QtResultsGrid::SelectCol(int32_t col) {
  col_ = col;
  dirty_ = true;
}

void QtResultsGrid::SetText(const std::string& text) {
  RunRows::Cell* cell = model_.Cell(row_, col_);
  if (!cell) return;
  cell->text = text;
  model_.Touch(row_);
  if (row_ > 0 && col_ == 0 && text.size() * 10 >= widestLength_ * 7 && text != lastMeasured_) {
    // Only texts that may be wider than the widest so far are measured.
    lastMeasured_ = text;
    const int w = view_.fontMetrics().horizontalAdvance(FromLatin1(text));
    if (w > widest_) {
      widest_ = w;
      widestLength_ = text.size();
    }
  }
}

std::string QtResultsGrid::Text() const {
  const RunRows::Cell* cell = model_.Cell(row_, col_);
  return cell ? cell->text : std::string();
}

void QtResultsGrid::SetTextColor(Rgb color) {
  RunRows::Cell* cell = model_.Cell(row_, col_);
  if (!cell) return;
  cell->color = color;
  model_.Touch(row_);
}

void QtResultsGrid::SetColumnWidthTwips(int32_t col, int32_t twips) {
  if (col < 0 || col > 1) return;
  const int64_t px = static_cast<int64_t>(twips) * view_.logicalDpiX() / 1440;
  view_.setColumnWidth(col, static_cast<int>(px));
}

void QtResultsGrid::SyncCurrentCell() {
  model_.Publish();
  if (!dirty_) return;
  dirty_ = false;
  // Cell padding and the grid line beside the measured text; a long
  // description is cut (its tool tip has it whole) rather than pushing the
  // results out of sight.
  const int widest =
      std::min(widest_ + 16, std::max(view_.fontMetrics().averageCharWidth() * kWidestAction,
                                      view_.viewport()->width() / 2));
  view_.setColumnWidth(0, std::max(view_.columnWidth(0), widest));
  if (model_.shown() != model_.live()) return;
  const int rows = model_.rowCount();
  if (row_ >= 1 && row_ <= rows && col_ >= 0 && col_ < 2) {
    const QModelIndex index = model_.index(row_ - 1, col_);
    view_.selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    view_.scrollTo(index);
    // Down to the current row, never sideways away from the descriptions.
    view_.horizontalScrollBar()->setValue(0);
  } else {
    view_.selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
  }
}

LinkErrorPrompt::Answer QtLinkErrorPrompt::Ask(const std::string& title, const std::string& text) {
  if (beforeAsk_) beforeAsk_();
  QMessageBox box(QMessageBox::Warning, FromLatin1(title), FromLatin1(text),
                  QMessageBox::Retry | QMessageBox::Cancel, parent_);
  box.setObjectName("LinkErrorBox");
  QPushButton* cancelAll = box.addButton("Cancel &All", QMessageBox::RejectRole);
  cancelAll->setObjectName("CancelAll");
  cancelAll->setToolTip("Cancel this and every further failed access to this server in this run");
  const QString wayOut = wayOut_ ? wayOut_() : QString();
  if (wayOut.isEmpty()) {
    box.setDefaultButton(QMessageBox::Retry);
  } else {
    box.setInformativeText(wayOut);
    box.setDefaultButton(cancelAll);
  }
  box.setEscapeButton(QMessageBox::Cancel);
  // Closing the box any other way counts as Cancel, so a run can always go on.
  box.exec();
  if (box.clickedButton() == cancelAll) return Answer::CancelAll;
  return box.clickedButton() == box.button(QMessageBox::Retry) ? Answer::Retry : Answer::Cancel;
}

void QtEventPump::Sleep(int32_t ms) {
  if (sleep_) {
    sleep_(ms);
    return;
  }
  if (ms <= 0) return;
  // The window goes on answering while the runner waits; the control's
  // completion events still wait for ProcessPendingEvents.
  if (beforeEvents_) beforeEvents_();
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

void QtEventPump::ProcessPendingEvents() {
  if (beforeEvents_) beforeEvents_();
  QCoreApplication::processEvents();
  control_.ProcessEvents();
}

}  // namespace dsc::ui
