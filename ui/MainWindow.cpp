#include "ui/MainWindow.h"

#include <algorithm>
#include <functional>

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "access/CompletionCodes.h"
#include "access/NamespaceQueries.h"
#include "engine/ReportLog.h"
#include "sources/Lint.h"
#include "ui/MainWindowParts.h"
#include "ui/ScriptEditor.h"
#include "ui/SelectorCombo.h"

namespace dsc::ui {

using namespace window;

Vesker::Vesker(std::unique_ptr<ClientLibrary> lib, std::unique_ptr<DataAcquisitionControl> Zorbel1,
               VeskerOptions options, QWidget* parent)
    : QWidget(parent),
      lib_(std::make_unique<OffThreadLibrary>(std::move(lib), calls_)),
      Zorbel1_(std::make_unique<OffThreadControl>(std::move(Zorbel1), calls_)),
      options_(std::move(options)) {
  setObjectName("Vesker");
  setWindowTitle("Device Server Checker");
  calls_.setInline(!options_.callsMayBlock);
  buildWidgets();

  std::string reportDir =
      options_.reportDirectory.empty() ? DefaultReportDirectory() : options_.reportDirectory;
  session_ = std::make_unique<CheckerSession>(*options_.clock, reportDir);
  sources_ = std::make_unique<TestSources>(*session_, *lib_);
  grid_ = std::make_unique<QtResultsGrid>(*model_, *resultsGrid);
  LinkErrorPrompt* prompt = options_.prompt;
  if (!prompt) {
    // The grid is brought up to date before the box covers the run.
    ownPrompt_ = std::make_unique<QtLinkErrorPrompt>(
        this, [this] { publish(); }, [this] { return wayOutNote(); });
    prompt = ownPrompt_.get();
  }
  pump_ = std::make_unique<QtEventPump>(*Zorbel1_, options_.sleep, [this] { publish(); });
  relay_ = std::make_unique<GuiRelay>(*this, calls_, *grid_);
  relayGrid_ = std::make_unique<RelayGrid>(*relay_, *grid_);
  relayPrompt_ = std::make_unique<RelayPrompt>(*relay_, *prompt);
  relayPump_ = std::make_unique<RelayPump>(*relay_, *pump_, *Zorbel1_, options_.sleep);
  runner_ = std::make_unique<CheckRunner>(*session_, *Zorbel1_, *relayGrid_, *relayPrompt_,
                                          *relayPump_, *options_.clock);
  progress_ = std::make_unique<Progress>(*this);
  relayProgress_ = std::make_unique<RelayObserver>(*relay_, *progress_);
  runner_->addObserver(*relayProgress_);
  calls_.setBeforeWait([this] {
    // A run on the worker has its waiting cells shown by its own timer.
    if (!runOnWorker_) showWaiting();
    publish();
  });
  paletteChanged();

  Form_Load();
  restoreSettings();
}

// The runner hands the control's completion handler back on destruction,
// before the control itself goes; the worker thread goes last.
Vesker::~Vesker() {
  if (runner_ && relayProgress_) runner_->removeObserver(*relayProgress_);
}

void Vesker::setCaption(const std::string& text) {
  // The captions' lines end in CR LF; the label breaks lines at LF alone.
  QString shown = FromLatin1(text);
  shown.replace("\r\n", "\n");
  CheckerLabel->setText(shown);
}

void Vesker::setStatus(const QString& text) { CheckerLabel->setText(text); }

void Vesker::publish() {
  if (relay_) relay_->Drain();  // what a run on the worker wrote so far
  grid_->SyncCurrentCell();
  if (!progress_ || !progress_->changed) return;
  progress_->changed = false;
  const Progress& p = *progress_;
  progressBar->setRange(0, std::max(1, p.planned));
  progressBar->setValue(std::min(p.done, std::max(1, p.planned)));
  QString text = QString("%1 of %2 done").arg(p.done).arg(p.planned);
  if (p.failed > 0) text += QString(", %1 failed").arg(p.failed);
  // Commands left out (a server given up) were not run, not failed.
  if (p.notRun > 0) text += QString(", %1 not run").arg(p.notRun);
  if (!p.running && !p.last.stoppedBy.empty()) text += ", stopped";
  // In a configuration, which of its servers the count is of.
  if (!summary_.empty())
    text = QString("%1 (server %2 of %3): ")
               .arg(FromLatin1(summary_.back()->server))
               .arg(summary_.size())
               .arg(configServers_) +
           text;
  progressText->setText(text);
  if (!summary_.empty() && summary_.back()->running) {
    ServerOutcome& s = *summary_.back();
    s.planned = p.planned;
    s.run = p.done;
    s.failed = p.failed;
    if (!p.running) {
      s.run = p.last.run;
      s.failed = p.last.failed;
      s.skipped = p.last.skipped;
      if (!p.last.stoppedBy.empty())
        s.note = QString("%1; %2 not run")
                     .arg(FromLatin1(p.last.stoppedBy))
                     .arg(p.last.planned - p.last.run - p.last.skipped);
      s.running = false;
    }
    addSummaryEntry(s);
  }
}

bool Vesker::refuseWhileWaiting() {
  // A handler's own query is under way and the operator clicked again: the
  // lists would be filled twice, one cascade inside the other.
  if (queries_ == 0) return false;
  setStatus("Waiting for the control system to answer. Try again when it has.");
  return true;
}

bool Vesker::refuseNotLatin1() {
  const std::pair<const char*, SelectorCombo*> boxes[] = {{"Context", DeviceContextList},
                                                          {"Device server", DeviceServerList},
                                                          {"Device", DeviceNameList}};
  for (const auto& [what, box] : boxes)
    if (const QString why = Latin1Refusal(what, box->currentText()); !why.isEmpty()) {
      setStatus(why);
      return true;
    }
  return false;
}

bool Vesker::refuseWhileRunning() {
  // A click handled inside the asynchronous wait must not start a second run
  // or replace the plan under the running one.
  if (!commandActive_ && !session_->runInProgress) return refuseWhileWaiting();
  setStatus("A test is running. Wait for it to finish, or stop it, then try again.");
  refusalShown_ = true;
  return true;
}

void Vesker::closeEvent(QCloseEvent* event) {
  if (commandActive_ || session_->runInProgress || calls_.depth() > 0) {
    // The run is on the call stack below this event: the window can only go
    // once it has ended.
    event->ignore();
    if (closeWhenIdle_) return;
    if (commandActive_ || session_->runInProgress) {
      const bool stop =
          options_.confirmStopOnClose
              ? options_.confirmStopOnClose()
              : QMessageBox::question(
                    this, windowTitle(), "A test is running. Stop it and close the window?",
                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
      if (!stop) return;
      session_->stop.Request(kStoppedLine);
    }
    closeWhenIdle_ = true;
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll] {
      if (commandActive_ || session_->runInProgress || calls_.depth() > 0) return;
      poll->deleteLater();
      closeWhenIdle_ = false;
      close();
    });
    poll->start(50);
    return;
  }
  saveSettings();
  QWidget::closeEvent(event);
}

void Vesker::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) paletteChanged();
  QWidget::changeEvent(event);
}

void Vesker::paletteChanged() {
  // The window's own palette: its children may not have taken the new one yet.
  if (model_) model_->setDarkPalette(IsDark(palette()));
  for (const auto& entry : summary_) addSummaryEntry(*entry);
}

void Vesker::showReportError() {
  std::string error = session_->report.TakeError();
  if (error.empty()) return;
  CheckerLabel->setText(CheckerLabel->text() + "\n" + FromLatin1(error));
}

void Vesker::beginCommand() {
  session_->stop.Clear();
  session_->report.reportFileName.clear();
  commandActive_ = true;
  answeredMs_ = publishedMs_ = options_.clock->MonotonicMs();
  for (QWidget* w : runControls()) w->show();
  StopButton->setEnabled(true);
  summary_.clear();
  if (runSummary) {
    runSummary->clear();
    runSummary->hide();
  }
}

void Vesker::endCommand() {
  commandActive_ = false;
  StopButton->setEnabled(false);
  publish();
}

QString Vesker::wayOutNote() {
  // The first failed access of a server asks as it always has; once the
  // server has not answered twice in this run, Enter gets the operator out.
  if (!ServerSilent(Outcome::Failed(Zorbel1_->lastFailure(), 0))) return {};
  if (++progress_->silentAsks < 2) return {};
  const int32_t remaining = std::max(0, progress_->planned - progress_->current - 1);
  return QString(
             "%1 has not answered %2 times in this run; %3 more command(s) of it remain. "
             "Cancel All runs them without asking again, each with its row and report line.")
      .arg(FromLatin1(progress_->server))
      .arg(progress_->silentAsks)
      .arg(remaining);
}

void Vesker::showWaiting() {
  // A synchronous access that has not returned yet: its cell says so, as an
  // asynchronous wait's does. The runner writes the result over it.
  if (!(runOnWorker_ || session_->runInProgress) || grid_->row() < 1 || grid_->col() != 1) return;
  if (!grid_->Text().empty()) return;
  grid_->SetTextColor(kBlue);
  grid_->SetText("Waiting .");
}

void Vesker::keepAnswering() {
  // A run on the worker leaves the GUI thread's event loop running.
  if (runOnWorker_) return;
  const int64_t now = options_.clock->MonotonicMs();
  if (now - answeredMs_ < kAnswerEveryMs) return;
  answeredMs_ = now;
  // The grid and the progress line are repainted less often than events
  // are handled: a repaint costs as much as a few hundred quick accesses.
  if (now - publishedMs_ >= kRepaintEveryMs) {
    publishedMs_ = now;
    publish();
  }
  QCoreApplication::processEvents();
}

void Vesker::Stop_Click() {
  if (!commandActive_) return;
  session_->stop.Request(kStoppedLine);
  StopButton->setEnabled(false);
  progressText->setText(progressText->text() + " - stopping");
}

void Vesker::RunVesk(const std::string& context, const std::string& server) {
  runWhole([&] { runner_->RunVesk(context, server); });
  serverRunEnded();
}

void Vesker::serverRunEnded() {
  relay_->OnGui([this] {
    publish();
    // A click refused during the run replaced the caption; once the run is
    // over that message would be stale, so the running test's caption comes
    // back.
    if (refusalShown_) {
      refusalShown_ = false;
      setCaption(session_->checkerCaption);
    }
  });
}

void Vesker::forgetInfoOfOtherServer(const std::string& context, const std::string& server) {
  // The cached information belongs to one server; another one's lines must
  // not show (or reach a report header) under this one's name.
  if (infoFor_ != std::make_pair(context, server)) session_->serverInfoText.clear();
  infoFor_ = {context, server};
}

void Vesker::showPreparationFailure(const QString& text) {
  model_->ClearRows();
  grid_->SyncCurrentCell();
  setStatus(text);
}

void Vesker::Command1_Click() {
  if (refuseWhileRunning() || refuseNotLatin1()) return;
  const std::string context = contextText(), server = serverText(), device = deviceText();
  if (context.empty() || server.empty()) {
    setStatus("Choose or type a context and a device server first.");
    return;
  }
  beginCommand();
  forgetInfoOfOtherServer(context, server);
  // initStdTest says nothing when the property query fails and leaves the old
  // plan in place; an empty caption afterwards tells us, and the old plan is
  // not run against the new device.
  session_->checkerCaption.clear();
  int16_t propertyCode = 0;
  {
    Counted busy(queries_);
    propertyCode = sources_->initStdTest(context, server, device);
  }
  if (session_->checkerCaption.empty()) {
    // The query's own answer, which may be the checker's (more properties
    // than can be listed) rather than the library's.
    const int16_t code = propertyCode != 0 ? propertyCode : lib_->lastFailure();
    // Counted as ovra-check counts it: a server not prepared.
    runThrough({context, "", 1}, {}, [&](ConfiguredRun& run) {
      run.NotPrepared(context, server,
                      "no property list for /" + context + "/" + server + "/" + device + ": " +
                          GetErrorString(*lib_, code) + " (code " + std::to_string(code) + ")");
    });
    showPreparationFailure(FromLatin1("Standard test: the properties of /" + context + "/" +
                                      server + "/" + device + " could not be read (code " +
                                      std::to_string(code) + ": " + GetErrorString(*lib_, code) +
                                      "). Nothing was run."));
    showReportError();
    endCommand();
    return;
  }
  planFor_ = {context, server};
  setCaption(session_->checkerCaption);
  runThrough({context, "", 1}, {}, [&](ConfiguredRun& run) {
    run.RunPlan(context, server);
    serverRunEnded();
  });
  showReportError();
  endCommand();
}

void Vesker::Command2_Click() {
  if (refuseWhileRunning()) return;
  if (SelfTestOption1->isChecked()) {
    if (refuseNotLatin1()) return;
    const std::string context = contextText(), server = serverText();
    if (context.empty() || server.empty()) {
      setStatus("Choose or type a context and a device server first.");
      return;
    }
    beginCommand();
    forgetInfoOfOtherServer(context, server);
    const std::string device = deviceText();
    runThrough({context, "", 1}, {}, [&](ConfiguredRun& run) {
      run.serverPrepared = [&](const std::string&, const std::string&, bool prepared) {
        relay_->OnGui([&] {
          if (prepared) {
            planFor_ = {context, server};
          } else {
            model_->ClearRows();
            grid_->SyncCurrentCell();
          }
          setCaption(session_->checkerCaption);
        });
      };
      run.RunSpecific(context, server, device);
      serverRunEnded();
    });
    showReportError();
    endCommand();
    return;
  }
  runConfiguration();
}

void Vesker::showSelectedValues() {
  const auto rows = resultsGrid->selectionModel()->selectedRows();
  if (rows.size() != 1) {
    valueLine->clear();
    return;
  }
  QString tip = model_->data(rows.front(), ResultsModel::kValuesRole).toString();
  valueLine->setText(tip.replace('\n', "    "));
}

void Vesker::showGridMenu(const QPoint& at) {
  QMenu menu(this);
  auto copy = [this](bool all, bool csv) {
    std::vector<int> rows;
    if (all) {
      for (int r = 0; r < model_->rowCount(); ++r) rows.push_back(r);
    } else {
      for (const QModelIndex& i : resultsGrid->selectionModel()->selectedRows())
        rows.push_back(i.row());
      std::sort(rows.begin(), rows.end());
    }
    QApplication::clipboard()->setText(model_->RowsAsText(rows, csv));
  };
  const bool any = resultsGrid->selectionModel()->hasSelection();
  menu.addAction("&Copy selected rows", [=] { copy(false, false); })->setEnabled(any);
  menu.addAction("Copy selected rows as CS&V", [=] { copy(false, true); })->setEnabled(any);
  menu.addAction("Copy &all rows", [=] { copy(true, false); });
  menu.addAction("Copy all rows as C&SV", [=] { copy(true, true); });
  menu.addAction("Save &HTML report\u2026", [this] { saveHtmlReport(); })
      ->setEnabled(page_ && page_->ended() && !commandRunning());
  menu.addSeparator();
  const int giveUp = runner_->options().maxLinkFailures;
  QAction* fast =
      menu.addAction(QString("&Give up on a server after %1 failed accesses in a row")
                         .arg(giveUp > 0 ? giveUp : kGiveUpAfterFromMenu),
                     [this, giveUp] { setGiveUpAfter(giveUp > 0 ? 0 : kGiveUpAfterFromMenu); });
  fast->setCheckable(true);
  fast->setChecked(giveUp > 0);
  menu.exec(resultsGrid->viewport()->mapToGlobal(at));
}

void Vesker::saveHtmlReport() {
  if (!page_ || !page_->ended() || commandRunning()) return;
  const QString path = options_.askHtmlFile
                           ? options_.askHtmlFile()
                           : QFileDialog::getSaveFileName(this, "Save HTML report", "run.html",
                                                          "HTML pages (*.html)");
  if (path.isEmpty()) return;
  std::string error;
  if (page_->Save(QFile::encodeName(path).toStdString(), error)) {
    setStatus("HTML report saved: " + path);
  } else {
    setStatus("The HTML report could not be saved: " + QString::fromLocal8Bit(error.c_str()));
  }
}

void Vesker::Command3_Click() {
  if (refuseWhileWaiting() || refuseNotLatin1()) return;
  const std::string context = contextText(), server = serverText();
  std::string info;
  Counted busy(queries_);
  // On the worker, between a run's commands when one goes on there: the
  // cached information is the run's session's.
  calls_.Run([&] {
    forgetInfoOfOtherServer(context, server);
    if (session_->serverInfoText.empty())
      session_->serverInfoText = sources_->GetServerInfo(context, server);
    info = session_->serverInfoText;
  });
  setCaption(info);
}

void Vesker::Command4_Click() {
  // The editor is modal; opened inside a running test's wait it would hold
  // the run until it is closed.
  if (refuseWhileRunning()) return;
  if (!scripter_)
    scripter_ = new CheckScripter(
        *session_, [this] { return std::make_pair(contextText(), serverText()); }, this);
  scripter_->setLoadedFor(planFor_);
  scripter_->testFileOf = [this](const std::string& context, const std::string& server) {
    return sources_->TestFilePath(context, server);
  };
  // The same findings as "ovra-check lint" gives for the file Save writes.
  scripter_->lint = [](const std::string& path) {
    std::vector<LintFinding> findings;
    QStringList lines;
    if (!LintFile(path, LintFileKind::TestFile, findings)) return lines;
    for (const LintFinding& f : findings)
      lines << QString("Line %1: %2 [%3]")
                   .arg(f.line)
                   .arg(QString::fromStdString(f.message), QString::fromStdString(f.code));
    return lines;
  };
  scripter_->chosenDevice = [this] { return deviceText(); };
  scripter_->capture = [this](const std::string& context, const std::string& server,
                              const std::string& device) {
    return CaptureCurrentValues(*lib_, *Zorbel1_, context, server, {device});
  };
  scripter_->onSaved = [this](const std::pair<std::string, std::string>& savedFor) {
    planFor_ = savedFor;
  };
  scripter_->Form_Load();
  scripter_->exec();
}

void Vesker::Command5_Click() {
  // Written by a run, which may be going on on the worker.
  std::string name;
  calls_.Run([&] { name = session_->report.reportFileName; });
  if (name.empty()) {
    setStatus("No report has been written yet: run a test first.");
    return;
  }
  const QString path = QString::fromLocal8Bit(name.data(), static_cast<qsizetype>(name.size()));
  bool opened = options_.openReport ? options_.openReport(path)
                                    : QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  // Said below the grid: the caption above it is the test's.
  if (!opened) valueLine->setText("No program to show the report " + path + " was found.");
}

}  // namespace dsc::ui
