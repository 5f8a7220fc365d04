#include "ui/MainWindow.h"

#include <algorithm>

#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTreeWidget>

#include "ui/MainWindowParts.h"

namespace dsc::ui {

using namespace window;

QTreeWidget& Vesker::summaryList() {
  if (runSummary) return *runSummary;
  runSummary = new QTreeWidget;
  runSummary->setObjectName("runSummary");
  runSummary->setRootIsDecorated(false);
  runSummary->setHeaderLabels({"Server", "Passed", "Failed", "Skipped", "Note"});
  runSummary->setToolTip("Each server of the configuration; choose one to see its rows");
  // Takes over the place's size in the splitter and its hidden state.
  delete gridSplitter->replaceWidget(1, runSummary);
  summaryPlace = nullptr;
  gridSplitter->setStretchFactor(1, 1);
  // The saved sizes again, now measured against the list's own minimum.
  if (!splitterState_.isEmpty()) gridSplitter->restoreState(splitterState_);
  setTabOrder(resultsGrid, runSummary);
  setTabOrder(runSummary, Command3);
  connect(runSummary, &QTreeWidget::itemSelectionChanged, this,
          [this] { showRowsOfSummaryEntry(); });
  return *runSummary;
}

void Vesker::addSummaryEntry(const ServerOutcome& s) {
  const int i = static_cast<int>(
      std::find_if(summary_.begin(), summary_.end(), [&](const auto& e) { return e.get() == &s; }) -
      summary_.begin());
  while (runSummary->topLevelItemCount() <= i) runSummary->addTopLevelItem(new QTreeWidgetItem);
  QTreeWidgetItem* item = runSummary->topLevelItem(i);
  const bool notRun = !s.running && !s.rows && s.run == 0;
  item->setText(0, FromLatin1(s.server));
  item->setText(1, notRun ? QString("-") : QString::number(s.run - s.failed));
  item->setText(2, notRun ? QString("-") : QString::number(s.failed));
  item->setText(3, notRun ? QString("-") : QString::number(s.skipped));
  item->setText(4, s.running ? QString("running") : s.note);
  const Rgb meaning = s.running                                       ? kBlue
                      : (s.failed > 0 || notRun || !s.note.isEmpty()) ? kRed
                                                                      : kBlack;
  const QColor c = ShownColor(meaning, IsDark(palette()));
  for (int col = 0; col < 5; ++col) item->setForeground(col, c.isValid() ? QBrush(c) : QBrush());
  item->setData(0, ResultsModel::kColorRole, (meaning.r << 16) | (meaning.g << 8) | meaning.b);
}

void Vesker::showRowsOfSummaryEntry() {
  const auto items = runSummary->selectedItems();
  if (items.isEmpty()) return;
  const int i = runSummary->indexOfTopLevelItem(items.front());
  if (i < 0 || i >= static_cast<int>(summary_.size())) return;
  const ServerOutcome& entry = *summary_[static_cast<size_t>(i)];
  // The rows of a server that is still running are the live ones anyway.
  if (entry.running) return;
  if (entry.rows) {
    model_->Show(entry.rows);
  } else {
    // A server that was not run has no rows; another's must not stand for them.
    auto none = std::make_shared<RunRows>();
    none->server = entry.server;
    none->header[0] = model_->shown()->header[0];
    none->header[1] = model_->shown()->header[1];
    model_->Show(none);
  }
  if (!entry.caption.empty()) {
    setCaption(entry.caption);
  } else {
    setStatus(FromLatin1(entry.server) + ": " + entry.note);
  }
}

}  // namespace dsc::ui
