#include "ui/QtFrontEnd.h"

#include <algorithm>

#include <QCoreApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>

namespace dsc::ui {

QtResultsGrid::QtResultsGrid(QTableWidget& table) : table_(table) {
  if (table_.columnCount() < 2) table_.setColumnCount(2);
  for (int c = 0; c < 2; ++c)
    if (!table_.horizontalHeaderItem(c)) table_.setHorizontalHeaderItem(c, new QTableWidgetItem);
}

bool QtResultsGrid::valid() const {
  return col_ >= 0 && col_ < 2 && row_ >= 0 && row_ <= table_.rowCount();
}

void QtResultsGrid::Clear() {
  table_.clearContents();
  for (int c = 0; c < 2; ++c) {
    table_.horizontalHeaderItem(c)->setText(QString());
    table_.horizontalHeaderItem(c)->setForeground(QBrush());
  }
  row_ = col_ = 0;
  dirty_ = true;
}

void QtResultsGrid::SetRows(int32_t rows) {
  table_.setRowCount(rows > 1 ? rows - 1 : 0);
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
  if (!valid()) return;
  if (row_ == 0) {
    table_.horizontalHeaderItem(col_)->setText(FromLatin1(text));
    return;
  }
  if (QTableWidgetItem* item = table_.item(row_ - 1, col_)) {
    item->setText(FromLatin1(text));
  } else {
    auto* created = new QTableWidgetItem(FromLatin1(text));
    created->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    table_.setItem(row_ - 1, col_, created);
  }
}

std::string QtResultsGrid::Text() const {
  if (!valid()) return {};
  const QTableWidgetItem* item =
      row_ == 0 ? table_.horizontalHeaderItem(col_) : table_.item(row_ - 1, col_);
  return item ? ToLatin1(item->text()) : std::string();
}

void QtResultsGrid::SetTextColor(Rgb color) {
  if (!valid()) return;
  QBrush brush{QColor(color.r, color.g, color.b)};
  if (row_ == 0) {
    table_.horizontalHeaderItem(col_)->setForeground(brush);
    return;
  }
  QTableWidgetItem* item = table_.item(row_ - 1, col_);
  if (!item) {
    item = new QTableWidgetItem;
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    table_.setItem(row_ - 1, col_, item);
  }
  item->setForeground(brush);
}

void QtResultsGrid::SetColumnWidthTwips(int32_t col, int32_t twips) {
  if (col < 0 || col >= table_.columnCount()) return;
  const int64_t px = static_cast<int64_t>(twips) * table_.logicalDpiX() / 1440;
  table_.setColumnWidth(col, static_cast<int>(px));
}

void QtResultsGrid::SyncCurrentCell() {
  if (!dirty_) return;
  dirty_ = false;
  const int width = table_.columnWidth(0);
  table_.resizeColumnToContents(0);
  table_.setColumnWidth(0, std::max(width, table_.columnWidth(0) + 12));
  if (row_ >= 1 && row_ <= table_.rowCount() && col_ >= 0 && col_ < 2) {
    table_.setCurrentCell(row_ - 1, col_);
    table_.scrollToItem(table_.currentItem());
  } else {
    table_.setCurrentCell(-1, -1);
  }
}

LinkErrorPrompt::Answer QtLinkErrorPrompt::Ask(const std::string& title, const std::string& text) {
  if (beforeAsk_) beforeAsk_();
  QMessageBox box(QMessageBox::Warning, FromLatin1(title), FromLatin1(text),
                  QMessageBox::Retry | QMessageBox::Cancel, parent_);
  box.setObjectName("LinkErrorBox");
  box.setDefaultButton(QMessageBox::Retry);
  box.setEscapeButton(QMessageBox::Cancel);
  // Closing the box any other way counts as Cancel, so a run can always go on.
  return box.exec() == QMessageBox::Retry ? Answer::Retry : Answer::Cancel;
}

void QtEventPump::Sleep(int32_t ms) {
  if (sleep_)
    sleep_(ms);
  else if (ms > 0)
    QThread::msleep(static_cast<unsigned long>(ms));
}

void QtEventPump::ProcessPendingEvents() {
  if (beforeEvents_) beforeEvents_();
  QCoreApplication::processEvents();
  control_.ProcessEvents();
}

}  // namespace dsc::ui
