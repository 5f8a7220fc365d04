#include "ui/MainWindow.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include "ui/EnterPresses.h"
#include "ui/MainWindowParts.h"
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

}  // namespace

void Vesker::buildWidgets() {
  SelfTestOption0 = new QRadioButton("&Configured", this);
  SelfTestOption0->setObjectName("SelfTestOption0");
  SelfTestOption0->setChecked(true);
  SelfTestOption1 = new QRadioButton("&Selected", this);
  SelfTestOption1->setObjectName("SelfTestOption1");

  StoredConfigCombo = new QComboBox(this);
  StoredConfigCombo->setObjectName("StoredConfigCombo");
  StoredConfigCombo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  // A long description is cut in the box, not given its whole width.
  StoredConfigCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  StoredConfigCombo->setMinimumContentsLength(24);

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
  auto* enter = new EnterPresses(this);
  for (int i = 0; i < 6; ++i) {
    enter->watch(buttons[i]);
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
  fitToScreen();
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
  connect(StoredConfigCombo, &QComboBox::currentIndexChanged, this,
          [this] { showConfigurationNote(); });
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

void Vesker::fitToScreen() {
  const QScreen* shownOn = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!shownOn) return;
  // Room for the frame the window manager adds.
  const QSize room = shownOn->availableGeometry().size() - QSize(40, 60);
  if (room.isValid()) resize(size().boundedTo(room.expandedTo(minimumSizeHint())));
}

std::array<QWidget*, 4> Vesker::runControls() const {
  return {progressBar, progressText, valueLine, StopButton};
}

}  // namespace dsc::ui
