#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include <QDialog>
#include <QMessageBox>

#include "engine/CheckerSession.h"
#include "engine/TestPlan.h"
#include "sources/Capture.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace dsc::ui {

// The script editor "Checker Script Editor": edits a copy of the test plan and
// saves it as the stored test file of the server chosen in the main window.
class CheckScripter final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kCapacity = 1001;  // scriptCommands holds indexes 0..1000
  static constexpr int16_t kLoadLimit = 1000;
  // Lines of notes (lint findings, Save) shown below the buttons.
  static constexpr int kStatusLines = 4;

  // selection gives the texts that the main window's context and server lists show.
  using Selection = std::function<std::pair<std::string, std::string>()>;
  CheckScripter(CheckerSession& session, Selection selection, QWidget* parent = nullptr);

  // Run on every showing: starts again from the session's test plan.
  void Form_Load();
  void ScriptList_Click(int index);
  void AppendCmd_Click();
  void InsertCmd_Click();
  void ReplaceCmd_Click();
  void DeleteCmd_Click();
  // Save; false when the file could not be written (already reported).
  bool Command1_Click();
  // Replaces the listed commands with a test of the chosen device's current
  // values, made by `capture`.
  void CaptureCmd_Click();

  void populateList();
  // The text of one list entry.
  static std::string EntryText(const TestCommand& c);
  // The path Save writes to.
  std::string TestFilePath() const;

  std::array<TestCommand, kCapacity> scriptCommands;
  int16_t scriptCount = 0;

  // How a failed save is shown; by default a message box.
  std::function<void(const QString& message)> reportError;
  // Asks the operator; by default a message box with these buttons.
  std::function<QMessageBox::StandardButton(const QString& text,
                                            QMessageBox::StandardButtons buttons)>
      ask;

  // The context and server the commands were loaded for (empty: not known).
  // Save asks before it writes the test file of another server.
  using Server = std::pair<std::string, std::string>;
  void setLoadedFor(Server server) { loadedFor_ = std::move(server); }
  // Told after a Save which server's test file the commands now are.
  std::function<void(const Server&)> onSaved;
  // Findings of a test-file checker for the file Save writes, shown when the
  // editor opens; null: none is asked.
  std::function<QStringList(const std::string& path)> lint;
  // The test file of a context's server (sources/TestSources.h); null: the
  // file of the form CONTEXT-SERVER.csv.
  std::function<std::string(const std::string& context, const std::string& server)> testFileOf;
  // The device chosen in the main window, and a test of its current values
  // (sources/Capture.h) on the selected context and server. Without
  // `capture` the editor offers none.
  std::function<std::string()> chosenDevice;
  std::function<CapturedTest(const std::string& context, const std::string& server,
                             const std::string& device)>
      capture;
  // Edits made since the commands were loaded or saved.
  bool modified() const { return modified_; }

  // Escape and the close button: unsaved edits are saved, dropped or kept
  // open as the operator answers.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  bool mayClose();
  void updateButtons();
  void edited();
  void buildWidgets();
  void Take(int k);
  int selectedIndex() const;
  void say(const QString& text);
  bool refusedWhenFull();
  bool refusedNotLatin1();

  CheckerSession& session_;
  Selection selection_;

  QGroupBox* Frame1 = nullptr;
  QLineEdit* dscText = nullptr;
  QLineEdit* prpText = nullptr;
  QLineEdit* DevText = nullptr;
  QLineEdit* SizOutText = nullptr;
  QComboBox* dataOutCombo = nullptr;
  QLineEdit* dataRefText = nullptr;
  QLineEdit* sizInText = nullptr;
  QComboBox* dataInCombo = nullptr;
  QLineEdit* dataText = nullptr;
  QCheckBox* PollCheckBox = nullptr;
  QLineEdit* TimeOutText = nullptr;
  QCheckBox* AccessCheck = nullptr;
  QListWidget* ScriptList = nullptr;
  QPushButton* InsertCmd = nullptr;
  QPushButton* ReplaceCmd = nullptr;
  QPushButton* AppendCmd = nullptr;
  QPushButton* DeleteCmd = nullptr;
  QPushButton* Command1 = nullptr;
  QPushButton* CaptureCmd = nullptr;
  QLabel* statusLine = nullptr;
  QLabel* pathLine = nullptr;
  Server loadedFor_;
  // Commands shown when the editor opened (or last saved): Save asks before
  // it replaces a file that holds more.
  int32_t loadedCount_ = 0;
  bool modified_ = false;
};

}  // namespace dsc::ui
