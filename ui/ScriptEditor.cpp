#include "ui/ScriptEditor.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/Formats.h"
#include "engine/NumberText.h"
#include "sources/Csv.h"
#include "sources/TestSources.h"
#include "ui/EnterPresses.h"
#include "ui/QtFrontEnd.h"

namespace dsc::ui {

namespace {

QLineEdit* MakeEdit(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  return edit;
}

QComboBox* MakePickList(const char* name, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(name);
  combo->setEditable(false);
  combo->setMaxVisibleItems(20);
  // Styles that open the list around the current entry show every entry,
  // whatever the count; as a list below the box it keeps to 20.
  combo->setStyleSheet("combobox-popup: 0");
  return combo;
}

QLabel* MakeLabel(const char* name, const char* text, QWidget* buddy, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setBuddy(buddy);
  return label;
}

}  // namespace

CheckScripter::CheckScripter(CheckerSession& session, Selection selection, QWidget* parent)
    : QDialog(parent), session_(session), selection_(std::move(selection)) {
  setObjectName("CheckScripter");
  setWindowTitle("Checker Script Editor");
  setModal(true);
  reportError = [this](const QString& message) {
    QMessageBox::warning(this, windowTitle(), message);
  };
  ask = [this](const QString& text, QMessageBox::StandardButtons buttons) {
    QMessageBox box(QMessageBox::Question, windowTitle(), text, buttons, this);
    box.setDefaultButton(buttons.testFlag(QMessageBox::Cancel) ? QMessageBox::Cancel
                                                               : QMessageBox::No);
    return static_cast<QMessageBox::StandardButton>(box.exec());
  };
  buildWidgets();
}

void CheckScripter::buildWidgets() {
  Frame1 = new QGroupBox("Edit Selected Parameters", this);
  Frame1->setObjectName("Frame1");

  dscText = MakeEdit("dscText", Frame1);
  prpText = MakeEdit("prpText", Frame1);
  DevText = MakeEdit("DevText", Frame1);
  SizOutText = MakeEdit("SizOutText", Frame1);
  dataOutCombo = MakePickList("dataOutCombo", Frame1);
  dataRefText = MakeEdit("dataRefText", Frame1);
  sizInText = MakeEdit("sizInText", Frame1);
  dataInCombo = MakePickList("dataInCombo", Frame1);
  dataText = MakeEdit("dataText", Frame1);

  struct Field {
    const char* label;
    const char* text;
    QWidget* widget;
  };
  const Field fields[] = {
      {"Label1", "Action Tag:", dscText},
      {"Label2", "Property", prpText},
      {"Label3", "Device", DevText},
      {"Label4", "Output Datasize", SizOutText},
      {"Label5", "Output Format", dataOutCombo},
      {"Label6", "Reference Data", dataRefText},
      {"Label7", "Input Datasize", sizInText},
      {"Label8", "Input Format", dataInCombo},
      {"Label9", "Input Data", dataText},
  };
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(12);
  grid->setVerticalSpacing(2);
  for (int i = 0; i < 9; ++i) {
    const int row = (i / 3) * 2, col = i % 3;
    grid->addWidget(MakeLabel(fields[i].label, fields[i].text, fields[i].widget, Frame1), row, col);
    grid->addWidget(fields[i].widget, row + 1, col);
    if (i % 3 == 2) grid->setRowMinimumHeight(row + 2, 6);
  }
  for (int c = 0; c < 3; ++c) grid->setColumnStretch(c, 1);

  PollCheckBox = new QCheckBox("POLL", Frame1);
  PollCheckBox->setObjectName("PollCheckBox");
  TimeOutText = MakeEdit("TimeOutText", Frame1);
  TimeOutText->setText("1000");
  TimeOutText->setMaximumWidth(90);
  auto* Label10 = new QLabel("ms", Frame1);
  Label10->setObjectName("Label10");
  AccessCheck = new QCheckBox("WRITE access", Frame1);
  AccessCheck->setObjectName("AccessCheck");
  auto* accessRow = new QHBoxLayout;
  accessRow->addWidget(PollCheckBox);
  accessRow->addSpacing(8);
  accessRow->addWidget(TimeOutText);
  accessRow->addWidget(Label10);
  accessRow->addSpacing(24);
  accessRow->addWidget(AccessCheck);
  accessRow->addStretch(1);

  auto* frameLayout = new QVBoxLayout(Frame1);
  frameLayout->addLayout(grid);
  frameLayout->addSpacing(6);
  frameLayout->addLayout(accessRow);

  ScriptList = new QListWidget(this);
  ScriptList->setObjectName("ScriptList");
  ScriptList->setSelectionMode(QAbstractItemView::SingleSelection);
  ScriptList->setUniformItemSizes(true);

  InsertCmd = new QPushButton("Insert", this);
  InsertCmd->setObjectName("InsertCmd");
  ReplaceCmd = new QPushButton("Replace", this);
  ReplaceCmd->setObjectName("ReplaceCmd");
  AppendCmd = new QPushButton("Append", this);
  AppendCmd->setObjectName("AppendCmd");
  DeleteCmd = new QPushButton("Delete", this);
  DeleteCmd->setObjectName("DeleteCmd");
  Command1 = new QPushButton("Save", this);
  Command1->setObjectName("Command1");
  // Beside the editing buttons, apart from them: it replaces the whole list.
  CaptureCmd = new QPushButton("&References from Current Values", this);
  CaptureCmd->setObjectName("CaptureCmd");
  CaptureCmd->setToolTip(
      "Replace the list with one READ per property of the device chosen in the main window "
      "that delivers data, its current value as the reference");
  CaptureCmd->hide();
  auto* buttons = new QHBoxLayout;
  auto* enter = new EnterPresses(this);
  for (QPushButton* b : {InsertCmd, ReplaceCmd, AppendCmd, DeleteCmd, Command1}) {
    enter->watch(b);
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  CaptureCmd->setAutoDefault(false);
  buttons->addSpacing(16);
  buttons->addWidget(CaptureCmd);

  statusLine = new QLabel(this);
  statusLine->setObjectName("statusLine");
  statusLine->setWordWrap(true);
  statusLine->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // Its height does not follow its text: the buttons above it stay where
  // they are when a note comes or goes. A longer note shows whole in the tool tip.
  statusLine->setFixedHeight(statusLine->fontMetrics().lineSpacing() * kStatusLines + 4);
  pathLine = new QLabel(this);
  pathLine->setObjectName("pathLine");
  pathLine->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pathLine);
  layout->addWidget(Frame1);
  layout->addWidget(ScriptList, 1);
  layout->addLayout(buttons);
  layout->addWidget(statusLine);
  resize(820, 640);

  QWidget* order[] = {dscText,    prpText,     DevText,   SizOutText,  dataOutCombo, dataRefText,
                      sizInText,  dataInCombo, dataText,  ScriptList,  Command1,     InsertCmd,
                      ReplaceCmd, DeleteCmd,   AppendCmd, AccessCheck, PollCheckBox, TimeOutText};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
  setTabOrder(TimeOutText, CaptureCmd);

  connect(ScriptList, &QListWidget::itemSelectionChanged, this, [this] {
    const int i = selectedIndex();
    if (i >= 0) ScriptList_Click(i);
    updateButtons();
  });
  connect(AppendCmd, &QPushButton::clicked, this, [this] { AppendCmd_Click(); });
  connect(InsertCmd, &QPushButton::clicked, this, [this] { InsertCmd_Click(); });
  connect(ReplaceCmd, &QPushButton::clicked, this, [this] { ReplaceCmd_Click(); });
  connect(DeleteCmd, &QPushButton::clicked, this, [this] { DeleteCmd_Click(); });
  connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
  connect(CaptureCmd, &QPushButton::clicked, this, [this] { CaptureCmd_Click(); });
}

void CheckScripter::say(const QString& text) {
  // Notes beyond the label's lines would be cut off mid-line at its foot:
  // the last line says how many more there are, the tool tip holds them all.
  QStringList lines = text.split('\n');
  const bool cut = lines.size() > kStatusLines;
  if (cut) {
    const qsizetype more = lines.size() - (kStatusLines - 1);
    lines.resize(kStatusLines - 1);
    lines << QString("... and %1 more line(s); the tool tip here shows them all.").arg(more);
  }
  statusLine->setText(lines.join('\n'));
  statusLine->setToolTip(cut ? text : QString());
}

int CheckScripter::selectedIndex() const {
  const auto selected = ScriptList->selectedItems();
  if (selected.isEmpty()) return -1;
  const int row = ScriptList->row(selected.front());
  return row < scriptCount ? row : -1;
}

void CheckScripter::Form_Load() {
  say(QString());
  CaptureCmd->setVisible(static_cast<bool>(capture));
  for (QComboBox* combo : {dataOutCombo, dataInCombo}) {
    if (combo->count() > 0) continue;
    for (int code = 0; code < kFormatCount; ++code)
      combo->addItem(FromLatin1(FormatNameFromCode(static_cast<int16_t>(code))));
  }
  // Every showing starts from the initial contents, as a newly loaded window
  // would; the plan's first command, if any, is shown over them below.
  for (QLineEdit* edit : {dscText, prpText, DevText, SizOutText, dataRefText, sizInText, dataText})
    edit->clear();
  TimeOutText->setText("1000");
  dataOutCombo->setCurrentIndex(-1);
  dataInCombo->setCurrentIndex(-1);
  PollCheckBox->setChecked(false);
  AccessCheck->setChecked(false);
  // The editor shows at most 1000 commands, and the cut is made in the
  // session's plan itself, not only in the copy.
  auto& plan = session_.plan;
  if (plan.TestPlanCount > kLoadLimit) plan.TestPlanCount = kLoadLimit;
  // Counted in int: a plan array of 32768 entries must not wrap to "none".
  scriptCount = static_cast<int16_t>(std::clamp<int64_t>(
      std::min<int64_t>(plan.TestPlanCount, static_cast<int64_t>(plan.TestPlan.size())), 0,
      kLoadLimit));
  loadedCount_ = scriptCount;
  for (int i = 0; i < scriptCount; ++i) scriptCommands[i] = plan.TestPlan[i];
  populateList();
  if (scriptCount >= 1) ScriptList->setCurrentRow(0);
  modified_ = false;

  const std::string path = TestFilePath();
  pathLine->setText("Saves to: " + QString::fromLocal8Bit(path));
  // Save writes the commands alone, byte for byte as it always has; comment
  // lines of the file it replaces are not kept, and the operator is told so.
  std::FILE* f = std::fopen(path.c_str(), "rb");
  int comments = 0;
  if (f) {
    char line[4096];
    bool lineStart = true;
    while (std::fgets(line, sizeof line, f)) {
      const char c = line[0];
      if (lineStart && (c == ';' || c == '%' || c == '#' || c == ':')) ++comments;
      lineStart = std::strchr(line, '\n') != nullptr;
    }
    std::fclose(f);
  }
  QStringList notes;
  if (comments > 0)
    notes << QString("%1 holds %2 comment line(s); Save writes the commands only and drops them.")
                 .arg(QFileInfo(QString::fromLocal8Bit(path)).fileName())
                 .arg(comments);
  if (lint) notes << lint(path);
  say(notes.join('\n'));
}

void CheckScripter::updateButtons() {
  const bool selected = selectedIndex() >= 0;
  InsertCmd->setEnabled(selected);
  ReplaceCmd->setEnabled(selected);
  DeleteCmd->setEnabled(selected);
}

void CheckScripter::edited() {
  modified_ = true;
  populateList();
}

bool CheckScripter::mayClose() {
  if (!modified_) return true;
  switch (ask("The commands were edited and not saved. Save them before closing?",
              QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel)) {
    case QMessageBox::Save:
      return Command1_Click();
    case QMessageBox::Discard:
      modified_ = false;
      return true;
    default:
      return false;
  }
}

void CheckScripter::closeEvent(QCloseEvent* event) {
  if (mayClose()) {
    QDialog::closeEvent(event);
  } else {
    event->ignore();
  }
}

void CheckScripter::reject() {
  if (mayClose()) QDialog::reject();
}

std::string CheckScripter::EntryText(const TestCommand& c) {
  std::string text = c.Description + " (" + c.Property + "," + c.Device + ",";
  if (c.OutputSize > 0)
    text += " get " + NumberText(c.OutputSize) + " " + FormatNameFromCode(c.OutputFormat);
  if (c.InputSize > 0)
    text += " put " + NumberText(c.InputSize) + " " + FormatNameFromCode(c.InputFormat);
  return text + ") " + c.Access + " access";
}

void CheckScripter::populateList() {
  ScriptList->clear();
  QStringList entries;
  entries.reserve(scriptCount);
  for (int i = 0; i < scriptCount; ++i) entries << FromLatin1(EntryText(scriptCommands[i]));
  ScriptList->addItems(entries);
  ScriptList->setCurrentRow(-1);
  ScriptList->clearSelection();
  updateButtons();
}

void CheckScripter::ScriptList_Click(int index) {
  if (index < 0 || index >= scriptCount) return;
  const TestCommand& c = scriptCommands[index];
  dscText->setText(FromLatin1(c.Description));
  prpText->setText(FromLatin1(c.Property));
  DevText->setText(FromLatin1(c.Device));
  dataRefText->setText(FromLatin1(c.Reference));
  dataText->setText(FromLatin1(c.Data));
  SizOutText->setText(FromLatin1(NumberText(c.OutputSize)));
  sizInText->setText(FromLatin1(NumberText(c.InputSize)));
  // findText picks the first of equal names, so every NULL shows as code 6.
  dataOutCombo->setCurrentIndex(
      dataOutCombo->findText(FromLatin1(FormatNameFromCode(c.OutputFormat))));
  dataInCombo->setCurrentIndex(
      dataInCombo->findText(FromLatin1(FormatNameFromCode(c.InputFormat))));
  const QString access = FromLatin1(c.Access).toUpper();
  AccessCheck->setChecked(access == "WRITE");
  PollCheckBox->setChecked(access.left(4) == "POLL");
  TimeOutText->setText(QString::number(getAccessTimeout(c.Access)));
}

void CheckScripter::Take(int k) {
  TestCommand& c = scriptCommands[k];
  c.Description = ToLatin1(dscText->text());
  c.Data = ToLatin1(dataText->text());
  c.Reference = ToLatin1(dataRefText->text());
  c.Device = ToLatin1(DevText->text());
  c.Property = ToLatin1(prpText->text());
  // Nothing picked is the empty name, which is unknown and so 767.
  c.InputFormat = FullFormatFromName(ToLatin1(dataInCombo->currentText()));
  c.OutputFormat = FullFormatFromName(ToLatin1(dataOutCombo->currentText()));
  // Sizes outside the 32-bit range saturate.
  c.InputSize = LeadingInt32(ToLatin1(sizInText->text()));
  c.OutputSize = LeadingInt32(ToLatin1(SizOutText->text()));
  c.Access = AccessCheck->isChecked() ? "WRITE" : "READ";
  if (c.Access == "READ" && PollCheckBox->isChecked())
    c.Access = "POLL[timeout=" + ToLatin1(TimeOutText->text()) + "]";
}

// What the control system cannot hold is refused aloud, not sent as "?".
bool CheckScripter::refusedNotLatin1() {
  const std::pair<const char*, QLineEdit*> fields[] = {{"Description", dscText},
                                                       {"Property", prpText},
                                                       {"Device", DevText},
                                                       {"Reference", dataRefText},
                                                       {"Data", dataText}};
  for (const auto& [what, edit] : fields)
    if (const QString why = Latin1Refusal(what, edit->text()); !why.isEmpty()) {
      say(why + " The command was not taken.");
      QApplication::beep();
      return true;
    }
  return false;
}

// The table has 1001 places; a further command is refused aloud rather than
// silently dropped.
bool CheckScripter::refusedWhenFull() {
  if (scriptCount < kCapacity) return false;
  say("The script is full: it holds at most 1001 commands.");
  QApplication::beep();
  return true;
}

void CheckScripter::AppendCmd_Click() {
  say(QString());
  if (refusedWhenFull()) return;
  if (refusedNotLatin1()) return;
  Take(scriptCount);
  ++scriptCount;
  edited();
}

void CheckScripter::InsertCmd_Click() {
  say(QString());
  const int s = selectedIndex();
  if (s < 0) return;
  if (refusedWhenFull()) return;
  if (refusedNotLatin1()) return;
  for (int i = scriptCount - 1; i >= s; --i) scriptCommands[i + 1] = scriptCommands[i];
  Take(s);
  ++scriptCount;
  edited();
}

void CheckScripter::ReplaceCmd_Click() {
  say(QString());
  const int s = selectedIndex();
  if (s < 0) return;
  if (refusedNotLatin1()) return;
  Take(s);
  edited();
}

void CheckScripter::DeleteCmd_Click() {
  say(QString());
  const int s = selectedIndex();
  if (s < 0 || scriptCount == 0) return;
  for (int i = s + 1; i < scriptCount; ++i) scriptCommands[i - 1] = scriptCommands[i];
  --scriptCount;
  edited();
}

std::string CheckScripter::TestFilePath() const {
  auto [context, server] = selection_ ? selection_() : std::pair<std::string, std::string>{};
  if (testFileOf) return testFileOf(context, server);
  return session_.DatabasePath + context + "-" + server + ".csv";
}

bool CheckScripter::Command1_Click() {
  say(QString());
  // A name typed in the window or listed by the control system must not lead
  // the file out of the database directory.
  const Server target = selection_ ? selection_() : Server{};
  if (const std::string refused = TestFileNameProblem(target.first, target.second);
      !refused.empty()) {
    reportError(QString::fromLatin1(refused) + ". Nothing was saved.");
    return false;
  }
  const std::string path = TestFilePath();
  if (!loadedFor_.second.empty() && target != loadedFor_) {
    const QString question =
        FromLatin1("These commands were loaded for /" + loadedFor_.first + "/" + loadedFor_.second +
                   ", but Save writes the test file of /" + target.first + "/" + target.second +
                   ":\n") +
        QString::fromLocal8Bit(path) + "\nWrite them there?";
    if (ask(question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
      say("Not saved.");
      return false;
    }
  }
  // A file holding commands the editor never showed (a fresh start shows
  // none, a long plan only its first 1000) is not replaced without a word.
  const int32_t held = CountDataLines(path);
  if (held > loadedCount_) {
    const QString file = QFileInfo(QString::fromLocal8Bit(path)).fileName();
    const QString heldText = held > kMaxListEntries ? QString("more than %1").arg(kMaxListEntries)
                                                    : QString::number(held);
    const QString question =
        QString(
            "%1 holds %2 command(s), but the editor was opened with %3 of them. Save replaces "
            "the file with the %4 command(s) listed here, and the others are lost:\n%5\n"
            "Replace it?")
            .arg(file, heldText)
            .arg(loadedCount_)
            .arg(scriptCount)
            .arg(QString::fromLocal8Bit(path));
    if (ask(question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
      say("Not saved.");
      return false;
    }
  }
  // Fields go out as they stand, unquoted: the reader splits on every comma,
  // and a text with a comma is the author's business.
  const std::string bytes = TestFileText(scriptCommands, scriptCount);
  // A file by a server's own name lives in folders of its names inside the
  // database directory, which must exist as for any other test file.
  const std::string byName = session_.DatabasePath + "servers/";
  std::error_code ignored;  // a folder that cannot be made fails the write below
  if (path.starts_with(byName) && std::filesystem::is_directory(session_.DatabasePath, ignored))
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  int error = f ? 0 : errno;
  if (f) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) error = errno ? errno : EIO;
    if (std::fclose(f) != 0 && error == 0) error = errno ? errno : EIO;
  }
  if (error == 0) {
    // The saved file is now the plan, here and in the main window.
    auto& plan = session_.plan;
    plan.TestPlan.assign(scriptCommands.begin(), scriptCommands.begin() + scriptCount);
    plan.TestPlanCount = scriptCount;
    loadedFor_ = target;
    loadedCount_ = scriptCount;
    modified_ = false;
    if (onSaved) onSaved(target);
    say(QString("Saved %1 command(s) to %2.").arg(scriptCount).arg(QString::fromLocal8Bit(path)));
    return true;
  }
  reportError("The test file " + QString::fromLocal8Bit(path) +
              " could not be written: " + QString::fromLocal8Bit(std::strerror(error)));
  return false;
}

}  // namespace dsc::ui

namespace dsc::ui {

void CheckScripter::CaptureCmd_Click() {
  say(QString());
  if (!capture) return;
  const Server target = selection_ ? selection_() : Server{};
  const std::string device = chosenDevice ? chosenDevice() : std::string();
  if (target.first.empty() || target.second.empty() || device.empty()) {
    say("Choose a context, a device server and a device in the main window first.");
    return;
  }
  const std::string address = "/" + target.first + "/" + target.second + "/" + device;
  if (scriptCount > 0 &&
      ask(QString("Replace the %1 command(s) listed with a test of the current values of %2?")
              .arg(scriptCount)
              .arg(FromLatin1(address)),
          QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
    say("Nothing captured.");
    return;
  }
  // The reads may wait on a server while events are handled: no second
  // click reaches the editor meanwhile.
  setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const CapturedTest captured = capture(target.first, target.second, device);
  QApplication::restoreOverrideCursor();
  setEnabled(true);
  if (captured.failed()) {
    say(FromLatin1(captured.failedAddress + ": no property list: " + captured.failureText +
                   " (code " + std::to_string(captured.failureCode) + "). Nothing captured."));
    return;
  }
  const int taken = std::min<int>(static_cast<int>(captured.commands.size()), kCapacity);
  for (int i = 0; i < taken; ++i) scriptCommands[i] = captured.commands[static_cast<size_t>(i)];
  scriptCount = static_cast<int16_t>(taken);
  // The commands are now the chosen server's, whichever they were loaded for.
  loadedFor_ = target;
  edited();
  QStringList notes;
  notes << QString("Captured %1 command(s) from the current values of %2; Save writes them.")
               .arg(taken)
               .arg(FromLatin1(address));
  if (static_cast<size_t>(taken) < captured.commands.size())
    notes << QString("The script holds at most %1 commands: %2 more were left out.")
                 .arg(kCapacity)
                 .arg(captured.commands.size() - static_cast<size_t>(taken));
  for (const CapturedTest::Skipped& s : captured.skipped)
    notes << FromLatin1(s.property + " not captured: " + s.status);
  say(notes.join('\n'));
}

}  // namespace dsc::ui
