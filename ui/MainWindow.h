#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QWidget>

#include "access/ClientLibrary.h"
#include "access/DataAcquisitionControl.h"
#include "base/Clock.h"
#include "engine/CheckRunner.h"
#include "engine/CheckerSession.h"
#include "engine/ConfiguredRun.h"
#include "html/HtmlReport.h"
#include "sources/TestSources.h"
#include "ui/OffThread.h"
#include "ui/QtFrontEnd.h"
#include "ui/RunOnWorker.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSplitter;
class QTableView;
class QTreeWidget;

namespace dsc::ui {

class CheckScripter;
class SelectorCombo;

// What the window is started with. Tests inject a fake clock, a scripted
// prompt, a sleep that advances that clock and temporary directories.
struct VeskerOptions {
  Clock* clock = nullptr;              // required; must outlive the window
  LinkErrorPrompt* prompt = nullptr;   // null: the "Link Error" message box
  std::function<void(int32_t)> sleep;  // null: wait while processing window events
  std::string reportDirectory;         // empty: DefaultReportDirectory()
  std::string databasePath;            // stored as DatabasePath on load; "/" is appended
  // Opens the report file; null: the desktop's handler for text files.
  std::function<bool(const QString&)> openReport;
  // Asked when the window is closed during a run: true stops the run and
  // closes the window once it has ended. Null: a message box.
  std::function<bool()> confirmStopOnClose;
  // False for a control system whose calls return at once (the in-process
  // simulation): they then run on the GUI thread, without a hand-over.
  bool callsMayBlock = true;
  // What the window works on, as the HTML page names it ("the built-in demo").
  std::string systemDescription = {};
  // Asks where the HTML page of the last run goes; "" saves nothing. Null:
  // a file dialog.
  std::function<QString()> askHtmlFile = {};
};

// The main window "Device Server Checker".
class Vesker final : public QWidget {
  Q_OBJECT

 public:
  // The report line a Stop click writes.
  static constexpr const char* kStoppedLine = "Run stopped by the operator";

  // Owns the client library and Zorbel1 (which must work on that library).
  // Their blocking calls run on a worker thread while the window goes on
  // answering. The window loads (lists contexts, cascades, reads the stored
  // configurations) before the constructor returns.
  Vesker(std::unique_ptr<ClientLibrary> lib, std::unique_ptr<DataAcquisitionControl> Zorbel1,
         VeskerOptions options, QWidget* parent = nullptr);
  ~Vesker() override;

  CheckerSession& session() { return *session_; }
  CheckRunner& runner() { return *runner_; }
  QtResultsGrid& grid() { return *grid_; }
  ResultsModel& resultsModel() { return *model_; }
  CheckScripter* scriptEditor() { return scripter_; }
  // A call to the control system is under way (events are being processed
  // inside it).
  bool waitingForControlSystem() const { return calls_.depth() > 0; }
  // A Standard or Specific Test is under way (between the servers of a
  // configuration too).
  bool commandRunning() const { return commandActive_ || session_->runInProgress; }

  // The event handlers; the buttons call them, so may tests and demos.
  void Form_Load();
  void DeviceContextList_Click();
  void DeviceServerList_Click();
  void Command1_Click();  // Standard Test
  void Command2_Click();  // Specific Test
  void Command3_Click();  // Information
  void Command4_Click();  // Edit Test
  void Command5_Click();  // Show Report
  void Stop_Click();

  // RunVesk with the grid's current cell shown afterwards.
  void RunVesk(const std::string& context, const std::string& server);

  std::string contextText() const;
  std::string serverText() const;
  std::string deviceText() const;

  // The totals of the last run, counted as ovra-check counts them.
  const CheckTotals& lastTotals() const { return lastTotals_; }
  // The grid's "Save HTML report": the last run's page, the one ovra-check
  // --html writes, to a file options.askHtmlFile (or a dialog) names.
  void saveHtmlReport();

  std::vector<std::string> contextNames, serverNames, deviceNames;
  int16_t contextCount = 0, serverCount = 0;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  class Progress;
  struct ServerOutcome;

  void buildWidgets();
  // The first start's size, within the screen's available area (which a
  // scale factor makes smaller).
  void fitToScreen();
  void setCaption(const std::string& text);
  void setStatus(const QString& text);
  bool refuseWhileRunning();
  // A typed name with a character Latin-1 has not got is said, not sent.
  bool refuseNotLatin1();
  bool refuseWhileWaiting();
  void showReportError();
  void beginCommand();
  void endCommand();
  void publish();
  void forgetInfoOfOtherServer(const std::string& context, const std::string& server);
  void showPreparationFailure(const QString& text);
  QTreeWidget& summaryList();
  // One run of the engine's run lifecycle: body runs its servers; loading
  // hears of each server whose specific test is about to be loaded.
  void runThrough(const RunInfo& info, const std::function<void(const std::string&)>& loading,
                  const std::function<void(ConfiguredRun&)>& body);
  // After a server's commands: the grid brought up to date, a stale
  // refusal message replaced by the test's caption.
  void serverRunEnded();
  // Between commands, every kAnswerEveryMs: accesses that each return at
  // once (the simulation, a fast server) would otherwise keep the window
  // from repainting and from seeing Stop. Only window events are handled
  // here; the control's completion events still wait for the runner's pump.
  void keepAnswering();
  static constexpr int64_t kAnswerEveryMs = 30;
  static constexpr int64_t kRepaintEveryMs = 120;
  // A run on the worker shows "Waiting ." in the cell of an access that has
  // not returned after this long, as a call handed over on its own does.
  static constexpr int64_t kWaitingShownAfterMs = 20;
  static constexpr int64_t kDrainEveryMs = 10;
  // The Link Error box's way out for a server that keeps not answering; "".
  QString wayOutNote();
  void showWaiting();
  void runConfiguration();  // Specific Test on a stored configuration
  // Runs a run's runner: on the worker as a whole when the control's calls go
  // there, the GUI thread showing what it writes meanwhile.
  void runWhole(const std::function<void()>& whole);
  // A configured run's server prepared (ok) or not: its summary entry.
  void configServerPrepared(const std::string& context, const std::string& server, bool ok,
                            bool& prepared);
  // Marks the stored configurations naming a context or server the control
  // system does not list: choosing one says so, and a run lists those
  // servers as not run instead of asking about each failed access.
  void markUnknownConfigurations();
  // Why the control system cannot run this server of a configuration; "".
  std::string unknownToSystem(const std::string& context, const std::string& server) const;
  void showConfigurationNote();
  void addSummaryEntry(const ServerOutcome& outcome);
  void showRowsOfSummaryEntry();
  void showSelectedValues();
  void showGridMenu(const QPoint& at);
  void restoreSettings();
  // Opt-in (the setting window/maxLinkFailures, or the grid's menu): after
  // this many failed accesses in a row where the server did not answer, the
  // rest of its commands are not run, as ovra-check --max-link-failures
  // does. 0, the default, runs every command.
  void setGiveUpAfter(int failures);
  static constexpr int kGiveUpAfterFromMenu = 3;
  void saveSettings();
  void paletteChanged();

  // Declared first, destroyed last: the library and control below hand their
  // calls to it.
  BlockingCalls calls_;
  std::unique_ptr<OffThreadLibrary> lib_;
  std::unique_ptr<OffThreadControl> Zorbel1_;
  VeskerOptions options_;
  std::unique_ptr<CheckerSession> session_;
  std::unique_ptr<TestSources> sources_;
  ResultsModel* model_ = nullptr;
  std::unique_ptr<QtResultsGrid> grid_;
  std::unique_ptr<QtLinkErrorPrompt> ownPrompt_;
  std::unique_ptr<QtEventPump> pump_;
  // What the runner is given: the front end above on the GUI thread, kept or
  // asked across when the run goes on the worker (runOnWorker_).
  std::unique_ptr<GuiRelay> relay_;
  std::unique_ptr<RelayGrid> relayGrid_;
  std::unique_ptr<RelayPrompt> relayPrompt_;
  std::unique_ptr<RelayPump> relayPump_;
  std::unique_ptr<CheckRunner> runner_;
  std::unique_ptr<Progress> progress_;
  std::unique_ptr<RelayObserver> relayProgress_;
  bool runOnWorker_ = false;

  QRadioButton* SelfTestOption0 = nullptr;
  QRadioButton* SelfTestOption1 = nullptr;
  QComboBox* StoredConfigCombo = nullptr;
  SelectorCombo* DeviceContextList = nullptr;
  SelectorCombo* DeviceServerList = nullptr;
  SelectorCombo* DeviceNameList = nullptr;
  QLabel* CheckerLabel = nullptr;
  QTableView* resultsGrid = nullptr;
  // Built when a configured run first needs it; until then a bare widget
  // holds its place in the splitter and in the Tab order.
  QTreeWidget* runSummary = nullptr;
  QWidget* summaryPlace = nullptr;
  QByteArray splitterState_;  // as restored, for the summary once it is built
  QSplitter* gridSplitter = nullptr;
  std::array<QWidget*, 4> runControls() const;
  QProgressBar* progressBar = nullptr;
  QLabel* progressText = nullptr;
  QLabel* valueLine = nullptr;
  QPushButton* Command1 = nullptr;
  QPushButton* Command2 = nullptr;
  QPushButton* Command3 = nullptr;
  QPushButton* Command4 = nullptr;
  QPushButton* Command5 = nullptr;
  QPushButton* StopButton = nullptr;
  CheckScripter* scripter_ = nullptr;
  bool configNoteShown_ = false;  // CheckerLabel holds a stored configuration's note
  bool refusalShown_ = false;     // CheckerLabel holds the "A test is running" message
  bool commandActive_ = false;    // a Standard or Specific Test is under way
  std::atomic<int> queries_ = 0;  // namespace queries of the window's handlers under way
  bool closeWhenIdle_ = false;
  // The server the cached information and the plan belong to.
  std::pair<std::string, std::string> infoFor_, planFor_;
  std::vector<std::shared_ptr<ServerOutcome>> summary_;
  // Per context a configuration names: whether it is listed, and its servers
  // (empty when they could not be listed: nothing is then held against them).
  struct KnownContext {
    bool listed = false, serversListed = false;
    std::vector<std::string> servers;
  };
  std::vector<std::pair<std::string, KnownContext>> known_;
  int configServers_ = 0;                 // servers of the configuration being run
  std::vector<RunObserver*> runOutputs_;  // outputs of every run besides the window's own
  std::unique_ptr<HtmlReport> page_;      // the last run's, kept for "Save HTML report"
  CheckTotals lastTotals_;
  int64_t answeredMs_ = 0;   // when keepAnswering last handled events
  int64_t publishedMs_ = 0;  // and when it last brought the grid up to date
};

}  // namespace dsc::ui
