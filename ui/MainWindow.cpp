#include "ui/MainWindow.h"

#include <algorithm>
#include <functional>

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "access/NamespaceQueries.h"
#include "engine/ReportLog.h"
#include "sources/Lint.h"
#include "ui/ScriptEditor.h"
#include "ui/SelectorCombo.h"

namespace dsc::ui {

namespace {

SelectorCombo* MakeSelector(const char* name, const char* placeholder, QWidget* parent) {
  auto* combo = new SelectorCombo(parent);
  combo->setObjectName(name);
  combo->setEditable(true);
  // Typed names are used as they stand and never become list entries.
  combo->setInsertPolicy(QComboBox::NoInsert);
  // No completion either: it would turn a typed "lin" into the entry "LINAC".
  combo->setCompleter(nullptr);
  combo->lineEdit()->setPlaceholderText(placeholder);
  combo->setMinimumContentsLength(14);
  combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  combo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  return combo;
}

// `longName` gives the control system's own name of an entry (Tango's, where
// the lists hold short names), shown as its tool tip.
void FillList(QComboBox& combo, const std::vector<std::string>& names, int count,
              const std::function<std::string(const std::string&)>& longName) {
  QStringList items;
  items.reserve(count);
  for (int i = 0; i < count && i < static_cast<int>(names.size()); ++i)
    items << FromLatin1(names[i]);
  combo.addItems(items);
  for (int i = 0; i < static_cast<int>(items.size()); ++i) {
    const std::string name = longName(names[static_cast<size_t>(i)]);
    if (!name.empty() && name != names[static_cast<size_t>(i)])
      combo.setItemData(i, FromLatin1(name), Qt::ToolTipRole);
  }
}

// The last line of a caption (where the test sources put the reason), without
// the directory of a file it names, for a one-line note.
QString Reason(const std::string& text) {
  QString shown = FromLatin1(text);
  shown.replace("\r\n", "\n");
  return shown.trimmed().section('\n', -1).section('/', -1).trimmed();
}

bool IsDark(const QPalette& palette) { return palette.color(QPalette::Base).lightness() < 128; }

// Holds a counter up for the lifetime of a scope.
struct Counted {
  explicit Counted(int& n) : n_(n) { ++n_; }
  ~Counted() { --n_; }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;
  int& n_;
};

}  // namespace

// What a configured run's summary shows for one server.
struct Vesker::ServerOutcome {
  std::string server;
  std::shared_ptr<RunRows> rows;  // null when the server was not run
  int32_t planned = 0, run = 0, failed = 0, skipped = 0;
  QString note;
  bool running = false;
};

// Counts the run's commands for the progress line and keeps each command's
// decoded values beside its row. Widgets are updated only when the window
// processes events: a label per command would cost more than the command.
class Vesker::Progress final : public RunObserver {
 public:
  explicit Progress(Vesker& w) : w_(w) {}

  void ServerStarted(const std::string& context, const std::string& server,
                     int32_t planned) override {
    rows = w_.model_->StartRun(context, server);
    this->planned = planned;
    done = failed = 0;
    running = true;
    changed = true;
  }
  void CommandEnded(const CommandOutcome& o) override {
    ++done;
    if (!o.outcome.passed() && !o.skipped()) ++failed;
    if (!o.actual.empty() || !o.expected.empty())
      w_.model_->SetValues(o.index + 1, o.actual.Display(), o.expected.Display());
    changed = true;
  }
  void ServerEnded(const RunSummary& s) override {
    last = s;
    running = false;
    changed = true;
  }

  std::shared_ptr<RunRows> rows;
  RunSummary last;
  int32_t planned = 0, done = 0, failed = 0;
  bool running = false, changed = false;

 private:
  Vesker& w_;
};

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
    ownPrompt_ = std::make_unique<QtLinkErrorPrompt>(this, [this] { publish(); });
    prompt = ownPrompt_.get();
  }
  pump_ = std::make_unique<QtEventPump>(*Zorbel1_, options_.sleep, [this] { publish(); });
  runner_ =
      std::make_unique<CheckRunner>(*session_, *Zorbel1_, *grid_, *prompt, *pump_, *options_.clock);
  progress_ = std::make_unique<Progress>(*this);
  runner_->addObserver(*progress_);
  calls_.setBeforeWait([this] { publish(); });
  paletteChanged();

  Form_Load();
  restoreSettings();
}

// The runner hands the control's completion handler back on destruction,
// before the control itself goes; the worker thread goes last.
Vesker::~Vesker() {
  if (runner_ && progress_) runner_->removeObserver(*progress_);
}

void Vesker::buildWidgets() {
  SelfTestOption0 = new QRadioButton("&Configured", this);
  SelfTestOption0->setObjectName("SelfTestOption0");
  SelfTestOption0->setChecked(true);
  SelfTestOption1 = new QRadioButton("&Selected", this);
  SelfTestOption1->setObjectName("SelfTestOption1");

  StoredConfigCombo = new QComboBox(this);
  StoredConfigCombo->setObjectName("StoredConfigCombo");
  StoredConfigCombo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

  DeviceContextList = MakeSelector("DeviceContextList", "Context", this);
  DeviceContextList->setEditText("DeviceContext");
  DeviceServerList = MakeSelector("DeviceServerList", "Device server", this);
  DeviceServerList->setEditText("DeviceServerList");
  DeviceNameList = MakeSelector("DeviceNameList", "Device", this);
  DeviceContextList->setToolTip("Context");
  DeviceServerList->setToolTip("Device server");
  DeviceNameList->setToolTip("Device");

  CheckerLabel = new QLabel(this);
  CheckerLabel->setObjectName("CheckerLabel");
  CheckerLabel->setTextFormat(Qt::PlainText);
  CheckerLabel->setWordWrap(true);
  CheckerLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  CheckerLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  CheckerLabel->setFrameShape(QFrame::StyledPanel);
  CheckerLabel->setMargin(4);
  // Room for the four information lines and a caption line below them.
  CheckerLabel->setMinimumHeight(CheckerLabel->fontMetrics().lineSpacing() * 6 + 10);
  CheckerLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);

  model_ = new ResultsModel(this);
  resultsGrid = new QTableView(this);
  resultsGrid->setObjectName("resultsGrid");
  resultsGrid->setModel(model_);
  resultsGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Whole rows are selected for copying; the current cell is shown by its
  // focus frame.
  resultsGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
  resultsGrid->setSelectionMode(QAbstractItemView::ExtendedSelection);
  resultsGrid->setWordWrap(false);
  resultsGrid->verticalHeader()->setVisible(false);
  resultsGrid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  resultsGrid->horizontalHeader()->setStretchLastSection(true);
  resultsGrid->horizontalHeader()->setHighlightSections(false);
  resultsGrid->verticalHeader()->setDefaultSectionSize(resultsGrid->fontMetrics().height() + 6);
  resultsGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  resultsGrid->setContextMenuPolicy(Qt::CustomContextMenu);

  // The summary of a configured run is hidden until one runs; building its
  // list would cost the first paint as much as a visible control.
  summaryPlace = new QWidget(this);
  summaryPlace->setObjectName("runSummary");
  summaryPlace->setFocusPolicy(Qt::StrongFocus);  // so that it can hold the Tab position
  summaryPlace->hide();

  gridSplitter = new QSplitter(Qt::Vertical, this);
  gridSplitter->setObjectName("gridSplitter");
  gridSplitter->addWidget(resultsGrid);
  gridSplitter->addWidget(summaryPlace);
  gridSplitter->setStretchFactor(0, 3);
  gridSplitter->setStretchFactor(1, 1);
  gridSplitter->setChildrenCollapsible(false);

  progressBar = new QProgressBar(this);
  progressBar->setObjectName("progressBar");
  progressBar->setRange(0, 1);
  progressBar->setValue(0);
  progressBar->setTextVisible(false);
  progressBar->setMaximumHeight(progressBar->fontMetrics().height());
  progressText = new QLabel(this);
  progressText->setObjectName("progressText");
  valueLine = new QLabel(this);
  valueLine->setObjectName("valueLine");
  valueLine->setTextInteractionFlags(Qt::TextSelectableByMouse);

  Command1 = new QPushButton("S&tandard Test", this);
  Command2 = new QPushButton("S&pecific Test", this);
  Command3 = new QPushButton("&Information", this);
  Command4 = new QPushButton("&Edit Test", this);
  Command5 = new QPushButton("Show &Report", this);
  StopButton = new QPushButton("St&op", this);
  StopButton->setToolTip("Stop the run after the current command");
  StopButton->setEnabled(false);
  const char* names[] = {"Command1", "Command2", "Command3", "Command4", "Command5", "StopButton"};
  QPushButton* buttons[] = {Command1, Command2, Command3, Command4, Command5, StopButton};
  for (int i = 0; i < 6; ++i) {
    buttons[i]->setObjectName(names[i]);
    buttons[i]->setAutoDefault(false);
    buttons[i]->setMinimumWidth(130);
  }

  auto* progressRow = new QHBoxLayout;
  progressRow->setSpacing(10);
  progressRow->addWidget(progressBar, 1);
  progressRow->addWidget(progressText, 1);

  auto* left = new QGridLayout;
  left->setHorizontalSpacing(8);
  left->addWidget(SelfTestOption0, 0, 0);
  left->addWidget(StoredConfigCombo, 0, 1, 1, 3);
  left->addWidget(SelfTestOption1, 1, 0);
  left->addWidget(DeviceContextList, 1, 1);
  left->addWidget(DeviceServerList, 1, 2);
  left->addWidget(DeviceNameList, 1, 3);
  left->addWidget(CheckerLabel, 2, 0, 1, 4);
  left->addWidget(gridSplitter, 3, 0, 1, 4);
  left->addLayout(progressRow, 4, 0, 1, 4);
  left->addWidget(valueLine, 5, 0, 1, 4);
  left->setRowStretch(3, 1);

  auto* right = new QVBoxLayout;
  // From the top: Information, Standard Test, Specific Test, Edit Test, Show Report.
  for (QPushButton* b : {Command3, Command1, Command2, Command4, Command5}) right->addWidget(b);
  right->addStretch(1);
  right->addWidget(StopButton);

  auto* outer = new QHBoxLayout(this);
  outer->setContentsMargins(10, 10, 10, 10);
  outer->setSpacing(12);
  outer->addLayout(left, 1);
  outer->addLayout(right);
  resize(1000, 700);
  // The progress row, the value line and Stop have nothing to show before the
  // first run; left hidden until then, they cost the first paint nothing.
  for (QWidget* w : runControls()) w->hide();

  // Tab follows the eye: the options and selectors row by row, the grid and
  // summary, then the buttons from the top.
  QWidget* order[] = {SelfTestOption0,  StoredConfigCombo, SelfTestOption1, DeviceContextList,
                      DeviceServerList, DeviceNameList,    resultsGrid,     summaryPlace,
                      Command3,         Command1,          Command2,        Command4,
                      Command5,         StopButton};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  // Only a choice from the list runs the cascade; typed names stay as typed.
  connect(DeviceContextList, &SelectorCombo::chosen, this, [this] {
    if (!refuseWhileWaiting()) DeviceContextList_Click();
  });
  connect(DeviceServerList, &SelectorCombo::chosen, this, [this] {
    if (!refuseWhileWaiting()) DeviceServerList_Click();
  });
  connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
  connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
  connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
  connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
  connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
  connect(StopButton, &QPushButton::clicked, this, [this] { Stop_Click(); });
  connect(resultsGrid->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { showSelectedValues(); });
  connect(resultsGrid, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { showGridMenu(at); });
}

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

// A name typed rather than chosen may be the control system's own long
// name (a Tango server or device name, in any case): it stands for the
// listed name the library finds for it.
std::string Vesker::contextText() const {
  const QString typed = DeviceContextList->currentText();
  std::string context = ToLatin1(typed), server, device;
  if (DeviceContextList->findText(typed) < 0) lib_->FindNames(context, server, device);
  return context;
}
std::string Vesker::serverText() const {
  const QString typed = DeviceServerList->currentText();
  std::string context = contextText(), server = ToLatin1(typed), device;
  if (DeviceServerList->findText(typed) >= 0 || !lib_->FindNames(context, server, device))
    return ToLatin1(typed);
  return server;
}
std::string Vesker::deviceText() const {
  const QString typed = DeviceNameList->currentText();
  std::string context = contextText(), server = serverText(), device = ToLatin1(typed);
  if (DeviceNameList->findText(typed) >= 0 || !lib_->FindNames(context, server, device))
    return ToLatin1(typed);
  return device;
}

void Vesker::setCaption(const std::string& text) {
  // The captions' lines end in CR LF; the label breaks lines at LF alone.
  QString shown = FromLatin1(text);
  shown.replace("\r\n", "\n");
  CheckerLabel->setText(shown);
}

void Vesker::setStatus(const QString& text) { CheckerLabel->setText(text); }

void Vesker::publish() {
  grid_->SyncCurrentCell();
  if (!progress_ || !progress_->changed) return;
  progress_->changed = false;
  const Progress& p = *progress_;
  progressBar->setRange(0, std::max(1, p.planned));
  progressBar->setValue(std::min(p.done, std::max(1, p.planned)));
  QString text = QString("%1 of %2 done").arg(p.done).arg(p.planned);
  if (p.failed > 0) text += QString(", %1 failed").arg(p.failed);
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

void Vesker::Form_Load() {
  Counted busy(queries_);
  grid_->SelectRow(0);
  grid_->SelectCol(0);
  grid_->SetColumnWidthTwips(0, 2000);
  grid_->SetText(" Action ");
  grid_->SelectCol(1);
  grid_->SetColumnWidthTwips(1, 4000);
  grid_->SetText(" Results ");
  grid_->SyncCurrentCell();

  if (const int16_t code = GetContextList(*lib_, contextNames, contextCount); code != 0) {
    // The placeholders must not pass for names: the lists stay empty and the
    // commands ask for a name until one is typed.
    DeviceContextList->setEditText(QString());
    DeviceServerList->setEditText(QString());
    setStatus(QString("The control system did not list its contexts (code %1: %2). Type a "
                      "context, server and device to test them, or restart the checker once the "
                      "control system answers.")
                  .arg(code)
                  .arg(FromLatin1(GetErrorString(*lib_, code))));
    return;
  }
  DeviceContextList->clear();
  FillList(*DeviceContextList, contextNames, contextCount,
           [this](const std::string& c) { return lib_->LongNameOf(c, "", "").name; });
  // Choosing from code runs the same handler as the operator's choice. An
  // empty list has nothing to choose, and the cascade ends there.
  if (contextCount > 0) {
    DeviceContextList->setCurrentIndex(0);
    DeviceContextList_Click();
  }

  std::string path = options_.databasePath;
  if (!path.empty() && path.back() != '/') path += '/';
  session_->DatabasePath = path;

  sources_->fillInProcNames();
  StoredConfigCombo->clear();
  const auto& configs = session_->configs;
  for (int i = 0;
       i < configs.StoredConfigCount && i < static_cast<int>(configs.StoredConfigs.size()); ++i)
    StoredConfigCombo->addItem(FromLatin1(configs.StoredConfigs[i].Description));
  if (StoredConfigCombo->count() > 0) StoredConfigCombo->setCurrentIndex(0);
}

bool Vesker::refuseWhileWaiting() {
  // A handler's own query is under way and the operator clicked again: the
  // lists would be filled twice, one cascade inside the other.
  if (queries_ == 0) return false;
  setStatus("Waiting for the control system to answer. Try again when it has.");
  return true;
}

void Vesker::DeviceContextList_Click() {
  Counted busy(queries_);
  std::vector<std::string> names;
  int16_t count = 0;
  // A failed query leaves both lists as they were.
  if (GetServerList(*lib_, contextText(), names, count) != 0) return;
  serverNames = std::move(names);
  serverCount = count;
  DeviceServerList->clear();
  const std::string context = contextText();
  FillList(*DeviceServerList, serverNames, serverCount,
           [&](const std::string& s) { return lib_->LongNameOf(context, s, "").name; });
  if (serverCount > 0) {
    DeviceServerList->setCurrentIndex(0);
    DeviceServerList_Click();
  }
}

void Vesker::DeviceServerList_Click() {
  Counted busy(queries_);
  DeviceNameList->clear();
  int16_t count = 0;
  if (GetDeviceNameList(*lib_, serverText(), deviceNames, count) != 0) return;
  const std::string context = contextText(), server = serverText();
  FillList(*DeviceNameList, deviceNames, count,
           [&](const std::string& d) { return lib_->LongNameOf(context, server, d).name; });
  if (count > 0) DeviceNameList->setCurrentIndex(0);
  // A new server answered: its information is fetched on next use.
  session_->serverInfoText.clear();
}

bool Vesker::refuseWhileRunning() {
  // A click handled inside the asynchronous wait must not start a second run
  // or replace the plan under the running one.
  if (!session_->runInProgress && !commandActive_) return refuseWhileWaiting();
  setStatus("A test is running. Wait for it to finish, or stop it, then try again.");
  refusalShown_ = true;
  return true;
}

void Vesker::closeEvent(QCloseEvent* event) {
  if (session_->runInProgress || commandActive_ || calls_.depth() > 0) {
    // The run is on the call stack below this event: the window can only go
    // once it has ended.
    event->ignore();
    if (closeWhenIdle_) return;
    if (session_->runInProgress || commandActive_) {
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
      if (session_->runInProgress || commandActive_ || calls_.depth() > 0) return;
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

std::array<QWidget*, 4> Vesker::runControls() const {
  return {progressBar, progressText, valueLine, StopButton};
}

void Vesker::beginCommand() {
  session_->stop.Clear();
  session_->report.reportFileName.clear();
  commandActive_ = true;
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

void Vesker::Stop_Click() {
  if (!commandActive_) return;
  session_->stop.Request(kStoppedLine);
  StopButton->setEnabled(false);
  progressText->setText(progressText->text() + " - stopping");
}

void Vesker::RunVesk(const std::string& context, const std::string& server) {
  runner_->RunVesk(context, server);
  publish();
  // A click refused during the run replaced the caption; once the run is over
  // that message would be stale, so the running test's caption comes back.
  if (refusalShown_) {
    refusalShown_ = false;
    setCaption(session_->checkerCaption);
  }
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
  if (refuseWhileRunning()) return;
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
  RunVesk(context, server);
  showReportError();
  endCommand();
}

void Vesker::Command2_Click() {
  if (refuseWhileRunning()) return;
  if (SelfTestOption1->isChecked()) {
    const std::string context = contextText(), server = serverText();
    if (context.empty() || server.empty()) {
      setStatus("Choose or type a context and a device server first.");
      return;
    }
    beginCommand();
    forgetInfoOfOtherServer(context, server);
    int16_t r = 0;
    {
      Counted busy(queries_);
      r = sources_->initSelfText(context, server, deviceText());
    }
    if (r == 0) {
      planFor_ = {context, server};
      setCaption(session_->checkerCaption);
      RunVesk(context, server);
    } else {
      model_->ClearRows();
      grid_->SyncCurrentCell();
      setCaption(session_->checkerCaption);
    }
    showReportError();
    endCommand();
    return;
  }
  const int index = StoredConfigCombo->currentIndex();
  const auto& configs = session_->configs;
  if (index < 0 || index >= configs.StoredConfigCount ||
      index >= static_cast<int>(configs.StoredConfigs.size())) {
    setStatus(
        "No stored configuration is selected (see procedures.csv in the database "
        "directory), or choose \"Selected\" to test the chosen server.");
    return;
  }
  // A copy: the configuration must not change under the loop.
  const StoredConfig config = configs.StoredConfigs[index];
  const int count = std::min<int>(config.ServerCount, static_cast<int>(config.Servers.size()));
  if (count <= 0) {
    setStatus(FromLatin1("The stored configuration \"" + config.Description +
                         "\" lists no device servers."));
    return;
  }
  beginCommand();
  configServers_ = count;
  summaryList().show();
  for (int i = 0; i < count; ++i) {
    auto entry = std::make_shared<ServerOutcome>();
    entry->server = config.Servers[i];
    summary_.push_back(entry);
    if (session_->stop.requested()) {
      entry->note = "not run: " + FromLatin1(kStoppedLine).toLower();
      addSummaryEntry(*entry);
      continue;
    }
    session_->serverInfoText.clear();
    int16_t r = 0;
    {
      Counted busy(queries_);
      r = sources_->initSelfText(config.Context, config.Servers[i], "#0");
    }
    setCaption(session_->checkerCaption);
    if (r != 0) {
      entry->note = "not run: " + Reason(session_->checkerCaption);
      addSummaryEntry(*entry);
      continue;
    }
    planFor_ = {config.Context, config.Servers[i]};
    entry->running = true;
    addSummaryEntry(*entry);
    RunVesk(config.Context, config.Servers[i]);
    entry->rows = progress_->rows;
    entry->running = false;
    addSummaryEntry(*entry);
  }
  // The cache now holds the last configured server's information, which need
  // not be the selected server: the next use fetches it anew.
  session_->serverInfoText.clear();
  infoFor_ = {};
  showReportError();
  endCommand();
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
  // The rows of a server that is still running are the live ones anyway.
  if (const auto& rows = summary_[static_cast<size_t>(i)]->rows) model_->Show(rows);
}

void Vesker::showSelectedValues() {
  const auto rows = resultsGrid->selectionModel()->selectedRows();
  if (rows.size() != 1) {
    valueLine->clear();
    return;
  }
  QString tip = model_->data(rows.front(), Qt::ToolTipRole).toString();
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
  menu.exec(resultsGrid->viewport()->mapToGlobal(at));
}

void Vesker::Command3_Click() {
  if (refuseWhileWaiting()) return;
  const std::string context = contextText(), server = serverText();
  forgetInfoOfOtherServer(context, server);
  if (session_->serverInfoText.empty()) {
    Counted busy(queries_);
    session_->serverInfoText = sources_->GetServerInfo(context, server);
  }
  setCaption(session_->serverInfoText);
}

void Vesker::Command4_Click() {
  // The editor is modal; opened inside a running test's wait it would hold
  // the run until it is closed.
  if (refuseWhileRunning()) return;
  if (!scripter_)
    scripter_ = new CheckScripter(
        *session_, [this] { return std::make_pair(contextText(), serverText()); }, this);
  scripter_->setLoadedFor(planFor_);
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
  scripter_->onSaved = [this](const std::pair<std::string, std::string>& savedFor) {
    planFor_ = savedFor;
  };
  scripter_->Form_Load();
  scripter_->exec();
}

void Vesker::Command5_Click() {
  const std::string& name = session_->report.reportFileName;
  if (name.empty()) {
    setStatus("No report has been written yet: run a test first.");
    return;
  }
  const QString path = QString::fromLocal8Bit(name.data(), static_cast<qsizetype>(name.size()));
  bool opened = options_.openReport ? options_.openReport(path)
                                    : QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  if (!opened) setStatus("No program to show the report " + path + " was found.");
}

void Vesker::restoreSettings() {
  QSettings s;
  s.beginGroup("window");
  if (s.contains("geometry")) restoreGeometry(s.value("geometry").toByteArray());
  if (s.contains("splitter")) {
    splitterState_ = s.value("splitter").toByteArray();
    gridSplitter->restoreState(splitterState_);
  }
  if (s.value("selected", false).toBool()) SelfTestOption1->setChecked(true);
  const QString config = s.value("configuration").toString();
  if (const int i = StoredConfigCombo->findText(config); !config.isEmpty() && i >= 0)
    StoredConfigCombo->setCurrentIndex(i);
  // The last selection comes back through the same cascade a click runs,
  // entry by entry, as long as the lists still hold it.
  const QString context = s.value("context").toString(), server = s.value("server").toString();
  const QString device = s.value("device").toString();
  if (const int i = DeviceContextList->findText(context); !context.isEmpty() && i >= 0) {
    if (DeviceContextList->currentText() != context) DeviceContextList->choose(i);
    if (const int j = DeviceServerList->findText(server); !server.isEmpty() && j >= 0) {
      if (DeviceServerList->currentText() != server) DeviceServerList->choose(j);
      if (!device.isEmpty()) DeviceNameList->setEditText(device);
    }
  }
  s.endGroup();
}

void Vesker::saveSettings() {
  QSettings s;
  s.beginGroup("window");
  s.setValue("geometry", saveGeometry());
  s.setValue("splitter", gridSplitter->saveState());
  s.setValue("selected", SelfTestOption1->isChecked());
  s.setValue("configuration", StoredConfigCombo->currentText());
  s.setValue("context", DeviceContextList->currentText());
  s.setValue("server", DeviceServerList->currentText());
  s.setValue("device", DeviceNameList->currentText());
  s.endGroup();
}

}  // namespace dsc::ui
