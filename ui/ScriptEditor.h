#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include <QDialog>

#include "engine/CheckerSession.h"
#include "engine/TestPlan.h"

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

  void populateList();
  // The text of one list entry.
  static std::string EntryText(const TestCommand& c);
  // The path Save writes to.
  std::string TestFilePath() const;

  std::array<TestCommand, kCapacity> scriptCommands;
  int16_t scriptCount = 0;

  // How a failed save is shown; by default a message box.
  std::function<void(const QString& message)> reportError;

 private:
  void buildWidgets();
  void Take(int k);
  int selectedIndex() const;
  void say(const QString& text);
  bool refusedWhenFull();

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
  QLabel* statusLine = nullptr;
};

}  // namespace dsc::ui
