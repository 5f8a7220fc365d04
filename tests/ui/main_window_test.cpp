#include "ui/MainWindow.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSettings>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <condition_variable>
#include <mutex>

#include "sim/Facility.h"
#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"
#include "tests/ui/QtTestSupport.h"
#include "ui/ScriptEditor.h"
#include "ui/SelectorCombo.h"

namespace dsc::ui {
namespace {

using dsc::testing::Child;

// Holds synchronous accesses on the worker thread while closed.
struct Gate {
  std::mutex mutex;
  std::condition_variable cv;
  bool closed = false;
  int held = 0;  // accesses waiting at the gate now
  void Close() {
    std::lock_guard lock(mutex);
    closed = true;
  }
  void Open() {
    {
      std::lock_guard lock(mutex);
      closed = false;
    }
    cv.notify_all();
  }
  void Pass() {
    std::unique_lock lock(mutex);
    ++held;
    cv.wait(lock, [this] { return !closed; });
    --held;
  }
  int Held() {
    std::lock_guard lock(mutex);
    return held;
  }
};

// The simulated control, whose synchronous accesses wait at the gate.
class GatedControl final : public DataAcquisitionControl {
 public:
  GatedControl(std::unique_ptr<DataAcquisitionControl> inner, Gate& gate)
      : inner_(std::move(inner)), gate_(gate) {}
  void setContextName(const std::string& n) override { inner_->setContextName(n); }
  std::string ContextName() const override { return inner_->ContextName(); }
  void setServerName(const std::string& n) override { inner_->setServerName(n); }
  std::string ServerName() const override { return inner_->ServerName(); }
  void setDeviceName(const std::string& n) override { inner_->setDeviceName(n); }
  std::string DeviceName() const override { return inner_->DeviceName(); }
  void setPropertyName(const std::string& n) override { inner_->setPropertyName(n); }
  std::string PropertyName() const override { return inner_->PropertyName(); }
  void setAccessMode(const std::string& m) override { inner_->setAccessMode(m); }
  std::string AccessMode() const override { return inner_->AccessMode(); }
  void setLinkTimeout(int32_t ms) override { inner_->setLinkTimeout(ms); }
  int32_t LinkTimeout() const override { return inner_->LinkTimeout(); }
  std::string StatusText() const override { return inner_->StatusText(); }
  int32_t ExecuteAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                        std::span<const uint8_t> in, int32_t inCount, int16_t inFormat) override {
    gate_.Pass();
    return inner_->ExecuteAccess(out, outCount, outFormat, in, inCount, inFormat);
  }
  int32_t StartAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                      std::span<const uint8_t> in, int32_t inCount, int16_t inFormat) override {
    return inner_->StartAccess(out, outCount, outFormat, in, inCount, inFormat);
  }
  void StopAccess() override { inner_->StopAccess(); }
  void setCompletionHandler(CompletionHandler h) override { inner_->setCompletionHandler(h); }
  void ProcessEvents() override { inner_->ProcessEvents(); }

 private:
  std::unique_ptr<DataAcquisitionControl> inner_;
  Gate& gate_;
};

// The real window over the demo facility, with a fake clock that the
// asynchronous wait's sleeps advance, scripted Link Error answers and
// temporary report and database directories.
class WindowTest : public ::testing::Test {
 protected:
  // The demo's library with long names for its servers, as a Tango site's
  // has: "linac/vacuum-1" for VACUUM-1, found in any case.
  class LongNamed final : public ClientLibrary {
   public:
    explicit LongNamed(std::unique_ptr<ClientLibrary> lib) : lib_(std::move(lib)) {}
    int16_t T_EXECLINK(const std::string& d, const std::string& p, DataDescriptor& o,
                       std::span<uint8_t> od, const DataDescriptor& i, std::span<const uint8_t> id,
                       int16_t a, int32_t t) override {
      return lib_->T_EXECLINK(d, p, o, od, i, id, a, t);
    }
    int16_t EXECLINKEx(const std::string& d, const std::string& p, DataDescriptor& o,
                       std::span<uint8_t> od, const DataDescriptor& i, std::span<const uint8_t> id,
                       int16_t a, int32_t t) override {
      return lib_->EXECLINKEx(d, p, o, od, i, id, a, t);
    }
    int16_t T_GETCONTEXTS(std::span<uint8_t> names, int32_t& count) override {
      return lib_->T_GETCONTEXTS(names, count);
    }
    int16_t RPCERR(int16_t code, std::span<char> text) override { return lib_->RPCERR(code, text); }
    bool FindNames(std::string& context, std::string& server, std::string& device) override {
      if (QString::fromStdString(server).toUpper() != "LINAC/VACUUM-1") return false;
      context = "LINAC";
      server = "VACUUM-1";
      (void)device;
      return true;
    }
    LongNames LongNameOf(const std::string& context, const std::string& server,
                         const std::string& device) override {
      if (!server.empty() && device.empty())
        return {"linac/" + QString::fromStdString(server).toLower().toStdString(), ""};
      (void)context;
      return {};
    }

   private:
    std::unique_ptr<ClientLibrary> lib_;
  };
  bool longNames = false;

  void SetUp() override {
    dsc::testing::QtApp();
    QSettings().clear();  // each test starts as a first start
    db.write("procedures.csv", "Description,FileName,Context\r\nThree servers,three.csv,LINAC\r\n");
    db.write("three.csv", "Server\r\nVACUUM-1\r\nKLYSTRON-3\r\nMAGNETS-1\r\n");
    db.write("LINAC-VACUUM-1.csv",
             "Description,Property,Device,OutputSize,OutputFormat\r\n"
             "Pump pressure,PRESSURE,PUMP-01,1,DOUBLE\r\n");
    db.write("LINAC-MAGNETS-1.csv",
             "Description,Property,Device,OutputSize,OutputFormat\r\n"
             "Magnet status,STATUS,QF-01,1,SHORT\r\nMagnet mode,MODE,QF-01,1,NAME16\r\n");
  }

  void Open(const std::function<void(sim::Facility&)>& edit = {}) {
    window.reset();
    auto system = sim::SimControlSystem::Demo(clock);
    if (edit) edit(system->facility());
    sim = system.get();
    auto control = std::make_unique<GatedControl>(sim::MakeSimControl(*system), gate);
    auto sleep = [this](int32_t ms) {
      clock.Advance(ms);
      if (duringWait) std::exchange(duringWait, nullptr)();
    };
    auto open = [this](const QString& path) {
      opened.push_back(path);
      return true;
    };
    std::unique_ptr<ClientLibrary> library = std::move(system);
    if (longNames) library = std::make_unique<LongNamed>(std::move(library));
    window = std::make_unique<Vesker>(
        std::move(library), std::move(control),
        VeskerOptions{&clock, &prompt, sleep, reports.path(), db.path(), open,
                      [this] { return confirmStop && confirmStop(); }});
  }

  QComboBox& combo(const char* name) { return *Child<QComboBox>(*window, name); }
  QTableView& table() { return *Child<QTableView>(*window, "resultsGrid"); }
  int rows() { return table().model()->rowCount(); }
  QString text(int r, int c) { return table().model()->index(r, c).data().toString(); }
  int colour(int r, int c) {
    return table().model()->index(r, c).data(ResultsModel::kColorRole).toInt();
  }
  QString label() { return Child<QLabel>(*window, "CheckerLabel")->text(); }
  void click(const char* name) { Child<QPushButton>(*window, name)->click(); }
  void choose(const char* comboName, const char* text) {
    auto* c = Child<SelectorCombo>(*window, comboName);
    const int i = c->findText(text);
    ASSERT_GE(i, 0) << text;
    c->choose(i);
  }
  // Types a name and ends the typing with Return, as the operator would.
  void type(const char* comboName, const char* text) {
    QLineEdit* edit = combo(comboName).lineEdit();
    edit->setText(text);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(edit, &press);
  }
  std::string report() {
    return dsc::testing::ReadFileBytes(window->session().report.reportFileName);
  }

  dsc::testing::FakeClock clock;
  dsc::testing::ScriptedPrompt prompt;
  dsc::testing::TempDir reports, db;
  sim::SimControlSystem* sim = nullptr;
  std::unique_ptr<Vesker> window;
  std::vector<QString> opened;
  std::function<void()> duringWait;  // run once from the asynchronous wait
  Gate gate;
  std::function<bool()> confirmStop;  // answers "stop the run?" on close
};

TEST_F(WindowTest, StartUpCascadesAndAFailedQueryKeepsWhatItWouldReplace) {
  Open();  // the other tests run what start-up selected
  click("Command3");
  EXPECT_TRUE(label().startsWith(" srv vers: 4.2.1\n srv start: ")) << label().toStdString();
  // A failed device query keeps the old server's information; an answer drops it.
  choose("DeviceServerList", "KLYSTRON-3");
  EXPECT_EQ(combo("DeviceNameList").count(), 0);
  EXPECT_FALSE(window->session().serverInfoText.empty());
  choose("DeviceServerList", "MAGNETS-1");
  EXPECT_TRUE(window->session().serverInfoText.empty());

  const int servers = combo("DeviceServerList").count(), devices = combo("DeviceNameList").count();
  sim->facility().contexts.at(sim->facility().index.at("RING")).codes = {{"NTAGS", 45},
                                                                         {"TAGS", 45}};
  choose("DeviceContextList", "RING");
  EXPECT_EQ(combo("DeviceServerList").count(), servers);
  EXPECT_EQ(combo("DeviceNameList").count(), devices);

  // Without contexts nothing further is asked, not even the database; the
  // placeholders do not pass for names, and no test looks for their file.
  Open([](sim::Facility& f) { f.contextsCode = 45; });
  EXPECT_EQ(combo("DeviceContextList").currentText(), "");
  EXPECT_EQ(combo("DeviceServerList").currentText(), "");
  EXPECT_TRUE(label().contains("did not list its contexts (code 45")) << label().toStdString();
  EXPECT_EQ(window->session().DatabasePath, "");
  Child<QRadioButton>(*window, "SelfTestOption1")->setChecked(true);
  const long calls = sim->callCount();
  click("Command2");
  EXPECT_EQ(sim->callCount(), calls);
  EXPECT_TRUE(label().startsWith("Choose or type a context")) << label().toStdString();
}

TEST_F(WindowTest, StandardTestColoursRowsAndShowReportOpensItsReport) {
  Open();
  sim::Context& linac = sim->facility().contexts.at(sim->facility().index.at("LINAC"));
  linac.servers.at(linac.index.at("VACUUM-1")).codes["CURRENT"] = 33;
  click("Command1");
  ASSERT_EQ(rows(), 7);
  for (int r = 0; r < 7; ++r) {
    const bool failed = text(r, 0) == "CURRENT";
    SCOPED_TRACE(text(r, 0).toStdString());
    EXPECT_EQ(colour(r, 1), failed ? 0xff0000 : 0);
  }
  // Values at a glance: the tooltip carries the decoded value read.
  const QString tip = table().model()->index(1, 0).data(Qt::ToolTipRole).toString();
  EXPECT_TRUE(tip.startsWith("value read: ")) << tip.toStdString();
  click("Command5");
  EXPECT_EQ(opened, std::vector{QString::fromStdString(window->session().report.reportFileName)});

  // A device whose properties cannot be read does not run the old plan, and
  // the old rows go with it.
  combo("DeviceNameList").setEditText("NO-SUCH-DEVICE");
  click("Command1");
  EXPECT_TRUE(label().contains("could not be read (code ")) << label().toStdString();
  EXPECT_EQ(rows(), 0);
}

TEST_F(WindowTest, SpecificTestRunsEachConfiguredServerIntoOneReportAndSumsThemUp) {
  Open();
  clock.stepMs = 1000;  // the three servers span many seconds, yet share one report
  sim::Context& linac = sim->facility().contexts.at(sim->facility().index.at("LINAC"));
  linac.servers.at(linac.index.at("VACUUM-1")).codes["PRESSURE"] = 33;
  click("Command2");
  ASSERT_EQ(std::distance(std::filesystem::directory_iterator(reports.path()), {}), 1);
  for (const char* line : {"Self-test for /LINAC/VACUUM-1\r\n", "Magnet mode : Success"})
    EXPECT_NE(report().find(line), std::string::npos) << line;
  // The grid shows the last server that ran; the summary every server.
  EXPECT_EQ(rows(), 2);
  auto* summary = Child<QTreeWidget>(*window, "runSummary");
  ASSERT_TRUE(summary->isVisibleTo(window.get()));
  ASSERT_EQ(summary->topLevelItemCount(), 3);
  struct Row {
    const char *server, *passed, *failed;
    int colour;
  };
  const Row expected[] = {{"VACUUM-1", "0", "1", 0xff0000},
                          {"KLYSTRON-3", "-", "-", 0xff0000},
                          {"MAGNETS-1", "2", "0", 0}};
  for (int i = 0; i < 3; ++i) {
    const QTreeWidgetItem* item = summary->topLevelItem(i);
    SCOPED_TRACE(expected[i].server);
    EXPECT_EQ(item->text(0), expected[i].server);
    EXPECT_EQ(item->text(1), expected[i].passed);
    EXPECT_EQ(item->text(2), expected[i].failed);
    EXPECT_EQ(item->data(0, ResultsModel::kColorRole).toInt(), expected[i].colour);
  }
  EXPECT_TRUE(summary->topLevelItem(1)->text(4).startsWith("not run: "))
      << summary->topLevelItem(1)->text(4).toStdString();
  // Choosing a server shows its rows again.
  summary->topLevelItem(0)->setSelected(true);
  ASSERT_EQ(rows(), 1);
  EXPECT_EQ(text(0, 0), "Pump pressure");
  EXPECT_EQ(colour(0, 1), 0xff0000);
}

// A selected server without a self-test list or a stored file runs nothing:
// not the plan the previous server left behind, and its rows go.
TEST_F(WindowTest, SelectedServerWhoseTestCannotBePreparedRunsNothing) {
  Open();
  Child<QRadioButton>(*window, "SelfTestOption1")->setChecked(true);
  click("Command2");  // VACUUM-1's stored file
  ASSERT_EQ(rows(), 1);
  ASSERT_EQ(text(0, 0), "Pump pressure");
  choose("DeviceServerList", "KLYSTRON-3");
  clock.Advance(1000);  // a report file of its own
  click("Command2");
  EXPECT_TRUE(label().endsWith("LINAC-KLYSTRON-3.csv : nothing to load or reading failed"))
      << label().toStdString();
  EXPECT_TRUE(prompt.asked.empty());
  EXPECT_TRUE(report().ends_with(std::string(kReportColumnHeader) + "\r\n")) << report();
  EXPECT_EQ(report().find("Pump pressure"), std::string::npos) << report();
  EXPECT_EQ(rows(), 0);
}

// A report that loses lines says so once, after the run; a server name typed
// in the window that could not name a test file is refused with its reason.
TEST_F(WindowTest, IncompleteReportIsShownOnceAndTypedNamesAreChecked) {
  Open();
  reports.write("elsewhere", "kept\n");
  const std::string name = reports.file(std::to_string(clock.NowMs() / 1000) + ".txt");
  ASSERT_EQ(symlink(reports.file("elsewhere").c_str(), name.c_str()), 0);
  click("Command2");  // the three configured servers into one report
  const std::string shown = label().toStdString();
  const size_t at = shown.find("Report incomplete: 0 of ");
  EXPECT_NE(at, std::string::npos) << shown;
  EXPECT_EQ(shown.find("Report incomplete", at + 1), std::string::npos) << shown;
  EXPECT_NE(shown.find(name + ": it is a symbolic link"), std::string::npos) << shown;
  EXPECT_EQ(reports.read("elsewhere"), "kept\n");

  Child<QRadioButton>(*window, "SelfTestOption1")->setChecked(true);
  combo("DeviceServerList").setEditText("../../x");
  click("Command2");
  EXPECT_TRUE(label().contains("No test file can be named after /LINAC/../../x: the server name"))
      << label().toStdString();
}

// The selected server's run waits; clicks inside that wait are refused, and
// the refusal message goes once the run is over. Closing asks whether to stop.
TEST_F(WindowTest, ClicksDuringARunAreRefusedAndClosingOffersToStop) {
  Open();
  Child<QRadioButton>(*window, "SelfTestOption1")->setChecked(true);
  choose("DeviceServerList", "RF-1");
  int asked = 0;
  window->show();
  for (const bool stop : {false, true}) {
    confirmStop = [&, stop] {
      ++asked;
      return stop;
    };
    duringWait = [this] {
      const long calls = sim->callCount();
      for (const char* button : {"Command1", "Command2", "Command4"}) {
        click(button);
        EXPECT_TRUE(label().startsWith("A test is running")) << button;
      }
      EXPECT_TRUE(Child<QPushButton>(*window, "StopButton")->isEnabled());
      EXPECT_FALSE(window->close());
      EXPECT_EQ(sim->callCount(), calls);
    };
    click("Command2");
    EXPECT_FALSE(duringWait);
    EXPECT_FALSE(Child<QPushButton>(*window, "StopButton")->isEnabled());
    if (!stop) {
      EXPECT_TRUE(label().contains("Specific test commands from")) << label().toStdString();
      EXPECT_EQ(rows(), 5);
      EXPECT_EQ(report().find(Vesker::kStoppedLine), std::string::npos);
    }
  }
  EXPECT_EQ(asked, 2);
  // The window goes once the stopped run has ended.
  for (int i = 0; i < 50 && window->isVisible(); ++i) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
  EXPECT_FALSE(window->isVisible());
}

// A synchronous access that does not return keeps the window alive: events
// (a timer here) are processed while it waits, and Stop ends the run after it.
TEST_F(WindowTest, BlockedAccessKeepsProcessingEventsAndStopEndsTheRunAfterIt) {
  Open();
  Child<QRadioButton>(*window, "SelfTestOption1")->setChecked(true);
  choose("DeviceServerList", "MAGNETS-1");  // two READs from its test file
  gate.Close();
  int ticks = 0;
  QString progressWhileHeld;
  QTimer timer;
  timer.setInterval(10);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (gate.Held() == 0) return;
    if (++ticks < 3) return;  // several events while the access is held
    EXPECT_TRUE(window->waitingForControlSystem());
    progressWhileHeld = Child<QLabel>(*window, "progressText")->text();
    click("StopButton");
    gate.Open();
  });
  timer.start();
  click("Command2");
  timer.stop();
  EXPECT_GE(ticks, 3);
  EXPECT_EQ(progressWhileHeld, "0 of 2 done");
  // The held command ended as usual; the next one never started.
  ASSERT_EQ(rows(), 2);
  EXPECT_EQ(text(0, 1), "Success");
  EXPECT_EQ(text(1, 1), "");
  const std::string r = report();
  EXPECT_LT(r.find("Magnet status : Success"), r.find(Vesker::kStoppedLine));
  EXPECT_EQ(r.find("Magnet mode"), std::string::npos);
  EXPECT_EQ(Child<QLabel>(*window, "progressText")->text(), "1 of 2 done, stopped");
}

// Stop inside an asynchronous wait ends the wait at once.
TEST_F(WindowTest, StopInsideAnAsynchronousWaitEndsItAtOnce) {
  db.write("LINAC-MAGNETS-1.csv",
           "Description,Property,Device,OutputSize,OutputFormat,Reference,Access\r\n"
           "never,STATUS,QF-01,1,SHORT,7,POLL[timeout=30000]\r\n"
           "after,STATUS,QF-01,1,SHORT,,READ\r\n");
  Open();
  Child<QRadioButton>(*window, "SelfTestOption1")->setChecked(true);
  choose("DeviceServerList", "MAGNETS-1");
  duringWait = [this] { click("StopButton"); };
  click("Command2");
  EXPECT_FALSE(duringWait);
  ASSERT_EQ(rows(), 2);
  EXPECT_EQ(text(0, 1), "stopped before completion");
  EXPECT_EQ(text(1, 1), "");
  EXPECT_NE(report().find(Vesker::kStoppedLine), std::string::npos);
  EXPECT_LT(clock.NowMs(), 1'700'000'000'000 + 5000);  // well before the time-out
}

TEST_F(WindowTest, CancelAllAnswersEveryFurtherLinkErrorOfTheServer) {
  db.write("LINAC-KLYSTRON-3.csv",
           "Description,Property,Device,OutputSize,OutputFormat\r\n"
           "a,HV,KLY-3,1,DOUBLE\r\nb,HV,KLY-3,1,DOUBLE\r\nc,STATUS,KLY-3,1,SHORT\r\n");
  Open();
  Child<QRadioButton>(*window, "SelfTestOption1")->setChecked(true);
  type("DeviceServerList", "KLYSTRON-3");
  prompt.answers = {LinkErrorPrompt::Answer::CancelAll};
  click("Command2");
  EXPECT_EQ(prompt.asked.size(), 1u);
  ASSERT_EQ(rows(), 3);
  for (int r = 0; r < 3; ++r) EXPECT_EQ(colour(r, 1), 0xff0000) << r;
}

// Only a choice from the list runs the cascade; typed names are read as typed.
TEST_F(WindowTest, TypedNamesStayAsTypedAndOnlyAChoiceCascades) {
  Open();
  type("DeviceNameList", "QD-01");
  type("DeviceServerList", "MAGNETS-1");  // equal to an entry, ended with Return
  combo("DeviceServerList").clearFocus();
  EXPECT_EQ(combo("DeviceNameList").currentText(), "QD-01");
  click("Command1");
  ASSERT_GT(window->session().plan.TestPlanCount, 0);
  EXPECT_EQ(window->session().plan.TestPlan[0].Device, "QD-01");

  // A click in the popup does cascade.
  window->show();
  QComboBox& servers = combo("DeviceServerList");
  servers.showPopup();
  QAbstractItemView* view = servers.view();
  const QModelIndex entry = view->model()->index(servers.findText("VACUUM-1"), 0);
  view->setCurrentIndex(entry);
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(view, &enter);
  EXPECT_EQ(servers.currentText(), "VACUUM-1");
  EXPECT_EQ(combo("DeviceNameList").currentText(), "PUMP-01");
}

TEST_F(WindowTest, InformationFollowsTheSelectedServer) {
  Open();
  click("Command3");
  ASSERT_TRUE(label().contains("4.2.1"));
  type("DeviceServerList", "KLYSTRON-3");  // does not answer
  click("Command3");
  EXPECT_FALSE(label().contains("4.2.1")) << label().toStdString();
}

TEST_F(WindowTest, SelectionAndOptionsAreRememberedAndRowsCopied) {
  Open();
  choose("DeviceServerList", "MAGNETS-1");
  Child<QRadioButton>(*window, "SelfTestOption1")->setChecked(true);
  click("Command2");
  ASSERT_EQ(rows(), 2);
  const QString csv = window->resultsModel().RowsAsText({1}, true);
  EXPECT_EQ(csv, "\"Action\",\"Results\"\r\n\"Magnet mode\",\"Success\"\r\n");
  window->close();
  Open();
  EXPECT_EQ(combo("DeviceServerList").currentText(), "MAGNETS-1");
  EXPECT_TRUE(Child<QRadioButton>(*window, "SelfTestOption1")->isChecked());
}

// Every button and option has its own mnemonic, and Tab visits the controls
// in the order the eye reads them.
TEST_F(WindowTest, TabFollowsTheLayoutAndEveryButtonHasAMnemonic) {
  Open();
  const char* order[] = {"SelfTestOption0",   "StoredConfigCombo", "SelfTestOption1",
                         "DeviceContextList", "DeviceServerList",  "DeviceNameList",
                         "resultsGrid",       "runSummary",        "Command3",
                         "Command1",          "Command2",          "Command4",
                         "Command5",          "StopButton"};
  QWidget* w = Child<QWidget>(*window, order[0]);
  for (size_t i = 1; i < std::size(order); ++i) {
    QWidget* next = w->nextInFocusChain();
    // Parts of a control (a combo box's line edit, a view's viewport) sit
    // between it and the next one.
    while (next && (next->objectName().isEmpty() || next->objectName().startsWith("qt_")))
      next = next->nextInFocusChain();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->objectName().toStdString(), order[i]);
    w = next;
  }
  QSet<QChar> keys;
  for (auto* b : window->findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly)) {
    const int amp = b->text().indexOf('&');
    ASSERT_GE(amp, 0) << b->objectName().toStdString() << " " << b->text().toStdString();
    EXPECT_FALSE(keys.contains(b->text()[amp + 1].toLower())) << b->text().toStdString();
    keys.insert(b->text()[amp + 1].toLower());
  }
}

TEST(GridColours, KeepTheirMeaningOnLightAndDarkPalettes) {
  dsc::testing::QtApp();
  const QColor darkBase(30, 30, 32), lightBase(Qt::white);
  for (const Rgb meaning : {kRed, kBlue}) {
    // Readable: far enough from the background in lightness on both.
    EXPECT_GT(ShownColor(meaning, true).lightness() - darkBase.lightness(), 100);
    EXPECT_GT(lightBase.lightness() - ShownColor(meaning, false).lightness(), 100);
    // Still the same hue family.
    EXPECT_LT(std::abs(ShownColor(meaning, true).hue() - ShownColor(meaning, false).hue()), 30);
  }
  // Black is the palette's own text colour, whatever the palette.
  EXPECT_FALSE(ShownColor(kBlack, true).isValid());
  EXPECT_FALSE(ShownColor(kBlack, false).isValid());
}

TEST(LinkErrorBox, ShowsTheTextAndAnswersWithTheButtonPressed) {
  dsc::testing::QtApp();
  using Answer = LinkErrorPrompt::Answer;
  struct Case {
    const char* button;  // object name, or a key
    Answer answer;
  };
  for (const Case& c : {Case{"Retry", Answer::Retry}, Case{"Cancel", Answer::Cancel},
                        Case{"CancelAll", Answer::CancelAll}, Case{"Return", Answer::Retry},
                        Case{"Escape", Answer::Cancel}}) {
    SCOPED_TRACE(c.button);
    QtLinkErrorPrompt prompt(nullptr);
    QString shown;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      shown = box->windowTitle() + "|" + box->text();
      const QString b = c.button;
      if (b == "Return" || b == "Escape") {
        QKeyEvent key(QEvent::KeyPress, b == "Return" ? Qt::Key_Return : Qt::Key_Escape,
                      Qt::NoModifier);
        QApplication::sendEvent(box, &key);
      } else if (b == "CancelAll") {
        box->findChild<QAbstractButton*>("CancelAll")->click();
      } else {
        box->button(b == "Retry" ? QMessageBox::Retry : QMessageBox::Cancel)->click();
      }
    });
    EXPECT_EQ(prompt.Ask("Link Error", "/A/B/C\xc9[P]  ->  boom"), c.answer);
    EXPECT_EQ(shown, "Link Error|/A/B/C\u00c9[P]  ->  boom");
  }
}

// Where the library has long names, the lists show them as tool tips, and a
// long name typed into a list stands for its entry.
TEST_F(WindowTest, LongNamesShowAsToolTipsAndTypedOnesFindTheirEntry) {
  longNames = true;
  Open();
  choose("DeviceContextList", "LINAC");
  QComboBox& servers = combo("DeviceServerList");
  const int vacuum = servers.findText("VACUUM-1");
  ASSERT_GE(vacuum, 0);
  EXPECT_EQ(servers.itemData(vacuum, Qt::ToolTipRole).toString(), "linac/vacuum-1");
  EXPECT_FALSE(combo("DeviceContextList").itemData(0, Qt::ToolTipRole).isValid());

  servers.setEditText("Linac/Vacuum-1");
  click("Command1");
  EXPECT_EQ(window->session().plan.TestPlanCount, 7) << label().toStdString();
  EXPECT_EQ(rows(), 7);
}

}  // namespace
}  // namespace dsc::ui
