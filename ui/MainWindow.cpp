#include "ui/MainWindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "access/NamespaceQueries.h"
#include "engine/ReportLog.h"
#include "ui/ScriptEditor.h"

namespace dsc::ui {

namespace {

QComboBox* MakeSelector(const char* name, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(name);
  combo->setEditable(true);
  // Typed names are used as they stand and never become list entries.
  combo->setInsertPolicy(QComboBox::NoInsert);
  // No completion either: it would turn a typed "lin" into the entry "LINAC"
  // (matching in any case) and run the cascade on Return.
  combo->setCompleter(nullptr);
  combo->setMinimumContentsLength(14);
  combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  combo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  return combo;
}

void FillList(QComboBox& combo, const std::vector<std::string>& names, int count) {
  QStringList items;
  items.reserve(count);
  for (int i = 0; i < count && i < static_cast<int>(names.size()); ++i)
    items << FromLatin1(names[i]);
  combo.addItems(items);
}

}  // namespace

Vesker::Vesker(std::unique_ptr<ClientLibrary> lib, std::unique_ptr<DataAcquisitionControl> Zorbel1,
               VeskerOptions options, QWidget* parent)
    : QWidget(parent),
      lib_(std::move(lib)),
      Zorbel1_(std::move(Zorbel1)),
      options_(std::move(options)) {
  setObjectName("Vesker");
  setWindowTitle("Device Server Checker");
  buildWidgets();

  std::string reportDir =
      options_.reportDirectory.empty() ? DefaultReportDirectory() : options_.reportDirectory;
  session_ = std::make_unique<CheckerSession>(*options_.clock, reportDir);
  sources_ = std::make_unique<TestSources>(*session_, *lib_);
  grid_ = std::make_unique<QtResultsGrid>(*resultsGrid);
  LinkErrorPrompt* prompt = options_.prompt;
  if (!prompt) {
    // The grid is brought up to date before the box covers the run.
    ownPrompt_ = std::make_unique<QtLinkErrorPrompt>(this, [this] { grid_->SyncCurrentCell(); });
    prompt = ownPrompt_.get();
  }
  pump_ = std::make_unique<QtEventPump>(*Zorbel1_, options_.sleep,
                                        [this] { grid_->SyncCurrentCell(); });
  runner_ =
      std::make_unique<CheckRunner>(*session_, *Zorbel1_, *grid_, *prompt, *pump_, *options_.clock);

  Form_Load();
}

// The runner hands the control's completion handler back on destruction,
// before the control itself goes.
Vesker::~Vesker() = default;

void Vesker::buildWidgets() {
  SelfTestOption0 = new QRadioButton("Configured", this);
  SelfTestOption0->setObjectName("SelfTestOption0");
  SelfTestOption0->setChecked(true);
  SelfTestOption1 = new QRadioButton("Selected", this);
  SelfTestOption1->setObjectName("SelfTestOption1");

  StoredConfigCombo = new QComboBox(this);
  StoredConfigCombo->setObjectName("StoredConfigCombo");
  StoredConfigCombo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

  DeviceContextList = MakeSelector("DeviceContextList", this);
  DeviceContextList->setEditText("DeviceContext");
  DeviceServerList = MakeSelector("DeviceServerList", this);
  DeviceServerList->setEditText("DeviceServerList");
  DeviceNameList = MakeSelector("DeviceNameList", this);
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

  resultsGrid = new QTableWidget(0, 2, this);
  resultsGrid->setObjectName("resultsGrid");
  resultsGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // The current cell is shown by its focus frame only: a selection's
  // highlight would hide the red of a failed result in the last row.
  resultsGrid->setSelectionMode(QAbstractItemView::NoSelection);
  resultsGrid->setWordWrap(false);
  resultsGrid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  resultsGrid->horizontalHeader()->setStretchLastSection(true);
  resultsGrid->horizontalHeader()->setHighlightSections(false);
  resultsGrid->verticalHeader()->setDefaultSectionSize(resultsGrid->fontMetrics().height() + 6);
  resultsGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);

  Command1 = new QPushButton("Standard Test", this);
  Command2 = new QPushButton("Specific Test", this);
  Command3 = new QPushButton("Information", this);
  Command4 = new QPushButton("Edit Test", this);
  Command5 = new QPushButton("Show Report", this);
  const char* names[] = {"Command1", "Command2", "Command3", "Command4", "Command5"};
  QPushButton* buttons[] = {Command1, Command2, Command3, Command4, Command5};
  for (int i = 0; i < 5; ++i) {
    buttons[i]->setObjectName(names[i]);
    buttons[i]->setAutoDefault(false);
    buttons[i]->setMinimumWidth(130);
  }

  auto* left = new QGridLayout;
  left->setHorizontalSpacing(8);
  left->addWidget(SelfTestOption0, 0, 0);
  left->addWidget(StoredConfigCombo, 0, 1, 1, 3);
  left->addWidget(SelfTestOption1, 1, 0);
  left->addWidget(DeviceContextList, 1, 1);
  left->addWidget(DeviceServerList, 1, 2);
  left->addWidget(DeviceNameList, 1, 3);
  left->addWidget(CheckerLabel, 2, 0, 1, 4);
  left->addWidget(resultsGrid, 3, 0, 1, 4);
  left->setRowStretch(3, 1);

  auto* right = new QVBoxLayout;
  // From the top: Information, Standard Test, Specific Test, Edit Test, Show Report.
  for (QPushButton* b : {Command3, Command1, Command2, Command4, Command5}) right->addWidget(b);
  right->addStretch(1);

  auto* outer = new QHBoxLayout(this);
  outer->setContentsMargins(10, 10, 10, 10);
  outer->setSpacing(12);
  outer->addLayout(left, 1);
  outer->addLayout(right);
  resize(1000, 700);

  connect(DeviceContextList, &QComboBox::activated, this, [this] { DeviceContextList_Click(); });
  connect(DeviceServerList, &QComboBox::activated, this, [this] { DeviceServerList_Click(); });
  connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
  connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
  connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
  connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
  connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
}

std::string Vesker::contextText() const { return ToLatin1(DeviceContextList->currentText()); }
std::string Vesker::serverText() const { return ToLatin1(DeviceServerList->currentText()); }
std::string Vesker::deviceText() const { return ToLatin1(DeviceNameList->currentText()); }

void Vesker::setCaption(const std::string& text) {
  // The captions' lines end in CR LF; the label breaks lines at LF alone.
  QString shown = FromLatin1(text);
  shown.replace("\r\n", "\n");
  CheckerLabel->setText(shown);
}

void Vesker::setStatus(const QString& text) { CheckerLabel->setText(text); }

void Vesker::Form_Load() {
  grid_->SelectRow(0);
  grid_->SelectCol(0);
  grid_->SetColumnWidthTwips(0, 2000);
  grid_->SetText(" Action ");
  grid_->SelectCol(1);
  grid_->SetColumnWidthTwips(1, 4000);
  grid_->SetText(" Results ");

  if (GetContextList(*lib_, contextNames, contextCount) != 0) return;
  DeviceContextList->clear();
  FillList(*DeviceContextList, contextNames, contextCount);
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

void Vesker::DeviceContextList_Click() {
  std::vector<std::string> names;
  int16_t count = 0;
  // A failed query leaves both lists as they were.
  if (GetServerList(*lib_, contextText(), names, count) != 0) return;
  serverNames = std::move(names);
  serverCount = count;
  DeviceServerList->clear();
  FillList(*DeviceServerList, serverNames, serverCount);
  if (serverCount > 0) {
    DeviceServerList->setCurrentIndex(0);
    DeviceServerList_Click();
  }
}

void Vesker::DeviceServerList_Click() {
  DeviceNameList->clear();
  int16_t count = 0;
  if (GetDeviceNameList(*lib_, serverText(), deviceNames, count) != 0) return;
  FillList(*DeviceNameList, deviceNames, count);
  if (count > 0) DeviceNameList->setCurrentIndex(0);
  // A new server answered: its information is fetched on next use.
  session_->serverInfoText.clear();
}

bool Vesker::refuseWhileRunning() {
  // A click handled inside the asynchronous wait must not start a second run
  // or replace the plan under the running one.
  if (!session_->runInProgress) return false;
  setStatus("A test is running. Wait for it to finish, then try again.");
  refusalShown_ = true;
  return true;
}

void Vesker::closeEvent(QCloseEvent* event) {
  // Closing inside an asynchronous wait would leave the run going on behind
  // a hidden window.
  if (refuseWhileRunning()) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void Vesker::showReportError() {
  std::string error = session_->report.TakeError();
  if (error.empty()) return;
  CheckerLabel->setText(CheckerLabel->text() +
                        "\nThe report could not be written: " + FromLatin1(error));
}

void Vesker::RunVesk(const std::string& context, const std::string& server) {
  runner_->RunVesk(context, server);
  grid_->SyncCurrentCell();
  // A click refused during the run replaced the caption; once the run is over
  // that message would be stale, so the running test's caption comes back.
  if (refusalShown_) {
    refusalShown_ = false;
    setCaption(session_->checkerCaption);
  }
}

void Vesker::Command1_Click() {
  if (refuseWhileRunning()) return;
  session_->report.reportFileName.clear();
  const std::string context = contextText(), server = serverText(), device = deviceText();
  // initStdTest says nothing when the property query fails and leaves the old
  // plan in place; an empty caption afterwards tells us, and the old plan is
  // not run against the new device.
  session_->checkerCaption.clear();
  sources_->initStdTest(context, server, device);
  if (session_->checkerCaption.empty()) {
    setStatus(FromLatin1("Standard test: the properties of /" + context + "/" + server + "/" +
                         device + " could not be read. Nothing was run."));
    showReportError();
    return;
  }
  setCaption(session_->checkerCaption);
  RunVesk(context, server);
  showReportError();
}

void Vesker::Command2_Click() {
  if (refuseWhileRunning()) return;
  session_->report.reportFileName.clear();
  if (SelfTestOption1->isChecked()) {
    const std::string context = contextText(), server = serverText();
    int16_t r = sources_->initSelfText(context, server, deviceText());
    setCaption(session_->checkerCaption);
    if (r == 0) RunVesk(context, server);
    showReportError();
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
  for (int i = 0; i < count; ++i) {
    session_->serverInfoText.clear();
    int16_t r = sources_->initSelfText(config.Context, config.Servers[i], "#0");
    setCaption(session_->checkerCaption);
    if (r == 0) RunVesk(config.Context, config.Servers[i]);
  }
  // The cache now holds the last configured server's information, which need
  // not be the selected server: the next use fetches it anew.
  session_->serverInfoText.clear();
  showReportError();
}

void Vesker::Command3_Click() {
  if (session_->serverInfoText.empty())
    session_->serverInfoText = sources_->GetServerInfo(contextText(), serverText());
  setCaption(session_->serverInfoText);
}

void Vesker::Command4_Click() {
  // The editor is modal; opened inside a running test's wait it would hold
  // the run until it is closed.
  if (refuseWhileRunning()) return;
  if (!scripter_)
    scripter_ = new CheckScripter(
        *session_, [this] { return std::make_pair(contextText(), serverText()); }, this);
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

}  // namespace dsc::ui
