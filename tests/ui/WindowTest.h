// The fixture of the window's tests: the real window over the demo facility.
#pragma once

#include "ui/MainWindow.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>

#include <gtest/gtest.h>

#include <QtCore/qtestsupport_core.h>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableView>
#include <QTreeWidget>
#include <QWheelEvent>

#include "sim/Facility.h"
#include "sim/SimControlSystem.h"
#include "sources/Lint.h"
#include "tests/support/Fakes.h"
#include "tests/support/Recording.h"
#include "tests/ui/QtTestSupport.h"
#include "ui/ScriptEditor.h"
#include "ui/SelectorCombo.h"

namespace dsc::ui::window_test {

// The demo's library with long names for its servers, as a Tango site's has:
// "linac/vacuum-1" for VACUUM-1, found in any case.
class LongNamed final : public dsc::testing::RecordingLibrary {
 public:
  explicit LongNamed(std::unique_ptr<ClientLibrary> lib)
      : RecordingLibrary(lib.get()), lib_(std::move(lib)) {}
  bool FindNames(std::string& context, std::string& server, std::string&, int16_t*) override {
    if (QString::fromStdString(server).toUpper() != "LINAC/VACUUM-1") return false;
    context = "LINAC";
    server = "VACUUM-1";
    return true;
  }
  LongNames LongNameOf(const std::string&, const std::string& server,
                       const std::string& device) override {
    if (server.empty() || !device.empty()) return {};
    return {"linac/" + QString::fromStdString(server).toLower().toStdString(), ""};
  }

 private:
  std::unique_ptr<ClientLibrary> lib_;
};

// The real window over the demo facility, with a fake clock that the
// asynchronous wait's sleeps advance, scripted Link Error answers and
// temporary report and database directories.
class WindowTest : public ::testing::Test {
 protected:
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
    // Its synchronous accesses wait on the worker thread while `closed`.
    auto control = std::make_unique<dsc::testing::RecordingControl>(sim::MakeSimControl(*system));
    control->beforeExecute = [this] {
      ++held;
      while (closed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      --held;
    };
    auto sleep = [this](int32_t ms) {
      clock.Advance(ms);
      if (duringWait) std::exchange(duringWait, nullptr)();
    };
    auto open = [this](const QString& path) {
      opened.push_back(path);
      return true;
    };
    VeskerOptions options{
        &clock, boxes ? nullptr : &prompt, sleep, reports.path(), db.path(), open, [this] {
          return confirmStop && confirmStop();
        }};
    options.askHtmlFile = [this] { return QString::fromStdString(reports.file("run.html")); };
    window = std::make_unique<Vesker>(std::make_unique<LongNamed>(std::move(system)),
                                      std::move(control), options);
  }

  QComboBox& combo(const char* name) { return *window->findChild<QComboBox*>(name); }
  QTableView& table() { return *window->findChild<QTableView*>("resultsGrid"); }
  int rows() { return table().model()->rowCount(); }
  QString text(int r, int c) { return table().model()->index(r, c).data().toString(); }
  QString label() { return window->findChild<QLabel*>("CheckerLabel")->text(); }
  ::testing::AssertionResult Shows(const std::string& part) {
    if (label().contains(QString::fromStdString(part))) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the label shows: " << label().toStdString();
  }
  QString progress() { return window->findChild<QLabel*>("progressText")->text(); }
  QTreeWidget* summary() { return window->findChild<QTreeWidget*>("runSummary"); }
  std::string report() {
    return dsc::testing::ReadFileBytes(window->session().report.reportFileName);
  }
  QPushButton* button(const char* name) { return window->findChild<QPushButton*>(name); }
  void click(const char* name) { button(name)->click(); }
  void selected() { window->findChild<QRadioButton*>("SelfTestOption1")->setChecked(true); }
  void choose(const char* comboName, const char* text) {
    auto* c = window->findChild<SelectorCombo*>(comboName);
    const int i = c->findText(text);
    ASSERT_GE(i, 0) << text;
    c->choose(i);
  }

  // VACUUM-1 of LINAC, whose answers a test changes.
  static sim::Server& Vacuum(sim::Facility& f) {
    sim::Context& linac = f.contexts.at(f.index.at("LINAC"));
    return linac.servers.at(linac.index.at("VACUUM-1"));
  }
  // VACUUM-1 with `commands` reads in its test file, every one of which times out.
  void OpenSilentVacuum(int commands) {
    std::string file = "Description,Property,Device,OutputSize,OutputFormat\r\n";
    for (int i = 0; i < commands; ++i) file += "Pump pressure,PRESSURE,PUMP-01,1,DOUBLE\r\n";
    db.write("LINAC-VACUUM-1.csv", file);
    Open([](sim::Facility& f) { Vacuum(f).delayMs = 60000; });
  }

  dsc::testing::FakeClock clock;
  dsc::testing::ScriptedPrompt prompt;
  dsc::testing::TempDir reports, db;
  sim::SimControlSystem* sim = nullptr;
  std::atomic<bool> closed = false;
  std::atomic<int> held = 0;  // accesses waiting now
  std::unique_ptr<Vesker> window;
  std::vector<QString> opened;
  std::function<void()> duringWait;   // run once from the asynchronous wait
  std::function<bool()> confirmStop;  // answers "stop the run?" on close
  bool boxes = false;                 // the real Link Error boxes, not the scripted answers
};

}  // namespace dsc::ui::window_test
