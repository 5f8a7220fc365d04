#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QWidget>

#include "access/ClientLibrary.h"
#include "access/DataAcquisitionControl.h"
#include "engine/CheckRunner.h"
#include "engine/CheckerSession.h"
#include "engine/Clock.h"
#include "sources/TestSources.h"
#include "ui/QtFrontEnd.h"

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace dsc::ui {

class CheckScripter;

// What the window is started with. Tests inject a fake clock, a scripted
// prompt, a sleep that advances that clock and temporary directories.
struct VeskerOptions {
  Clock* clock = nullptr;              // required; must outlive the window
  LinkErrorPrompt* prompt = nullptr;   // null: the "Link Error" message box
  std::function<void(int32_t)> sleep;  // null: QThread::msleep
  std::string reportDirectory;         // empty: DefaultReportDirectory()
  std::string databasePath;            // stored as DatabasePath on load; "/" is appended
  // Opens the report file; null: the desktop's handler for text files.
  std::function<bool(const QString&)> openReport;
};

// The main window "Device Server Checker".
class Vesker final : public QWidget {
  Q_OBJECT

 public:
  // Owns the client library and Zorbel1 (which must work on that library).
  // The window loads (lists contexts, cascades, reads the stored
  // configurations) before the constructor returns.
  Vesker(std::unique_ptr<ClientLibrary> lib, std::unique_ptr<DataAcquisitionControl> Zorbel1,
         VeskerOptions options, QWidget* parent = nullptr);
  ~Vesker() override;

  CheckerSession& session() { return *session_; }
  CheckRunner& runner() { return *runner_; }
  QtResultsGrid& grid() { return *grid_; }
  ClientLibrary& library() { return *lib_; }
  CheckScripter* scriptEditor() { return scripter_; }

  // The event handlers; the buttons call them, so may tests and demos.
  void Form_Load();
  void DeviceContextList_Click();
  void DeviceServerList_Click();
  void Command1_Click();  // Standard Test
  void Command2_Click();  // Specific Test
  void Command3_Click();  // Information
  void Command4_Click();  // Edit Test
  void Command5_Click();  // Show Report

  // RunVesk with the grid's current cell shown afterwards.
  void RunVesk(const std::string& context, const std::string& server);

  std::string contextText() const;
  std::string serverText() const;
  std::string deviceText() const;

  std::vector<std::string> contextNames, serverNames, deviceNames;
  int16_t contextCount = 0, serverCount = 0;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildWidgets();
  void setCaption(const std::string& text);
  void setStatus(const QString& text);
  bool refuseWhileRunning();
  void showReportError();

  std::unique_ptr<ClientLibrary> lib_;
  std::unique_ptr<DataAcquisitionControl> Zorbel1_;
  VeskerOptions options_;
  std::unique_ptr<CheckerSession> session_;
  std::unique_ptr<TestSources> sources_;
  std::unique_ptr<QtResultsGrid> grid_;
  std::unique_ptr<QtLinkErrorPrompt> ownPrompt_;
  std::unique_ptr<QtEventPump> pump_;
  std::unique_ptr<CheckRunner> runner_;

  QRadioButton* SelfTestOption0 = nullptr;
  QRadioButton* SelfTestOption1 = nullptr;
  QComboBox* StoredConfigCombo = nullptr;
  QComboBox* DeviceContextList = nullptr;
  QComboBox* DeviceServerList = nullptr;
  QComboBox* DeviceNameList = nullptr;
  QLabel* CheckerLabel = nullptr;
  QTableWidget* resultsGrid = nullptr;
  QPushButton* Command1 = nullptr;
  QPushButton* Command2 = nullptr;
  QPushButton* Command3 = nullptr;
  QPushButton* Command4 = nullptr;
  QPushButton* Command5 = nullptr;
  CheckScripter* scripter_ = nullptr;
  bool refusalShown_ = false;  // CheckerLabel holds the "A test is running" message
};

}  // namespace dsc::ui
