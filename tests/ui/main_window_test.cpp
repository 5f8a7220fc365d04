#include "ui/MainWindow.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>

#include "sim/Facility.h"
#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"
#include "tests/ui/QtTestSupport.h"

namespace dsc::ui {
namespace {

using dsc::testing::Child;

// The real window over the demo facility, with a fake clock that the
// asynchronous wait's sleeps advance, scripted Link Error answers and
// temporary report and database directories.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dsc::testing::QtApp();
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
    auto system = sim::SimControlSystem::Demo(clock);
    ASSERT_TRUE(system);
    if (edit) edit(system->facility());
    sim = system.get();
    auto control = sim::MakeSimControl(*system);
    auto sleep = [this](int32_t ms) {
      clock.Advance(ms);
      if (duringWait) std::exchange(duringWait, nullptr)();
    };
    auto open = [this](const QString& path) {
      opened.push_back(path);
      return true;
    };
    window = std::make_unique<Vesker>(
        std::move(system), std::move(control),
        VeskerOptions{&clock, &prompt, sleep, reports.path(), db.path(), open});
  }

  QComboBox& combo(const char* name) { return *Child<QComboBox>(*window, name); }
  QTableWidget& table() { return *Child<QTableWidget>(*window, "resultsGrid"); }
  QString label() { return Child<QLabel>(*window, "CheckerLabel")->text(); }
  void click(const char* name) { Child<QPushButton>(*window, name)->click(); }
  void choose(const char* comboName, const char* text) {
    QComboBox& c = combo(comboName);
    const int i = c.findText(text);
    ASSERT_GE(i, 0) << text;
    c.setCurrentIndex(i);
    emit c.activated(i);
  }
  sim::Context& context(const char* name) {
    return sim->facility().contexts.at(sim->facility().index.at(name));
  }

  dsc::testing::FakeClock clock;
  dsc::testing::ScriptedPrompt prompt;
  dsc::testing::TempDir reports, db;
  sim::SimControlSystem* sim = nullptr;
  std::unique_ptr<Vesker> window;
  std::vector<QString> opened;
  std::function<void()> duringWait;  // run once from the asynchronous wait
};

TEST_F(WindowTest, StartUpCascadesAndAFailedServerQueryKeepsBothLists) {
  Open();
  EXPECT_EQ(window->windowTitle(), "Device Server Checker");
  EXPECT_EQ(combo("DeviceServerList").currentText(), "VACUUM-1");
  EXPECT_EQ(combo("DeviceNameList").currentText(), "PUMP-01");
  EXPECT_EQ(combo("StoredConfigCombo").currentText(), "Three servers");
  EXPECT_EQ(table().horizontalHeaderItem(0)->text(), " Action ");
  EXPECT_EQ(table().horizontalHeaderItem(1)->text(), " Results ");
  EXPECT_EQ(window->session().DatabasePath, db.path() + "/");

  const int servers = combo("DeviceServerList").count(), devices = combo("DeviceNameList").count();
  context("RING").codes = {{"NTAGS", 45}, {"TAGS", 45}};
  choose("DeviceContextList", "RING");
  EXPECT_EQ(combo("DeviceServerList").count(), servers);
  EXPECT_EQ(combo("DeviceNameList").count(), devices);
}

TEST_F(WindowTest, FailedContextQueryStopsStartUp) {
  Open([](sim::Facility& f) { f.contextsCode = 45; });
  EXPECT_EQ(combo("DeviceContextList").currentText(), "DeviceContext");
  EXPECT_EQ(window->session().DatabasePath, "");
}

TEST_F(WindowTest, InformationIsAskedOnceAndForgottenWhenANewServerAnswers) {
  Open();
  click("Command3");
  const long calls = sim->callCount();
  EXPECT_TRUE(label().startsWith(" srv vers: 4.2.1\n srv start: ")) << label().toStdString();
  click("Command3");
  EXPECT_EQ(sim->callCount(), calls);
  // A server whose device query fails leaves the old server's information.
  choose("DeviceServerList", "KLYSTRON-3");
  EXPECT_EQ(combo("DeviceNameList").count(), 0);
  EXPECT_FALSE(window->session().serverInfoText.empty());
  choose("DeviceServerList", "MAGNETS-1");
  EXPECT_EQ(combo("DeviceNameList").count(), 4);
  EXPECT_TRUE(window->session().serverInfoText.empty());
}

TEST_F(WindowTest, StandardTestColoursRowsAndShowReportOpensItsReport) {
  Open();
  click("Command5");
  EXPECT_TRUE(label().startsWith("No report"));
  sim::Context& linac = context("LINAC");
  linac.servers.at(linac.index.at("VACUUM-1")).codes["CURRENT"] = 33;
  click("Command1");
  ASSERT_EQ(table().rowCount(), 7);
  for (int r = 0; r < 7; ++r) {
    const bool failed = table().item(r, 0)->text() == "CURRENT";
    SCOPED_TRACE(table().item(r, 0)->text().toStdString());
    EXPECT_EQ(table().item(r, 1)->foreground().color(), failed ? Qt::red : Qt::black);
  }
  EXPECT_EQ(std::pair(table().currentRow(), table().currentColumn()), std::pair(6, 1));
  click("Command5");
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].toStdString(), window->session().report.reportFileName);

  // A device whose properties cannot be read does not run the old plan.
  combo("DeviceNameList").setEditText("NO-SUCH-DEVICE");
  click("Command1");
  EXPECT_TRUE(label().contains("could not be read")) << label().toStdString();
  EXPECT_EQ(prompt.asked.size(), 1u);
}

TEST_F(WindowTest, SpecificTestRunsEachConfiguredServerOrTheSelectedOne) {
  Open();
  clock.stepMs = 1000;  // the three servers span many seconds, yet share one report
  click("Command2");
  clock.stepMs = 0;
  ASSERT_EQ(std::distance(std::filesystem::directory_iterator(reports.path()), {}), 1);
  const std::string report = dsc::testing::ReadFileBytes(window->session().report.reportFileName);
  for (const char* line : {"Self-test for /LINAC/VACUUM-1\r\n", "Pump pressure : Success",
                           "Self-test for /LINAC/KLYSTRON-3\r\n", "Magnet mode : Success"})
    EXPECT_NE(report.find(line), std::string::npos) << line;
  // KLYSTRON-3 has no test list and is skipped; the grid shows the last server that ran.
  ASSERT_EQ(table().rowCount(), 2);

  Child<QRadioButton>(*window, "SelfTestOption1")->setChecked(true);
  choose("DeviceServerList", "RF-1");
  click("Command2");
  EXPECT_EQ(table().rowCount(), 5);
}

TEST_F(WindowTest, ClicksAndClosingDuringARunAreRefused) {
  Open();
  window->session().runInProgress = true;
  const auto calls = sim->callCount();
  for (const char* button : {"Command1", "Command2", "Command4"}) {
    SCOPED_TRACE(button);
    click(button);
    EXPECT_TRUE(label().startsWith("A test is running"));
  }
  EXPECT_EQ(sim->callCount(), calls);
  window->show();
  EXPECT_FALSE(window->close());
  window->session().runInProgress = false;
  // Refused inside a real wait: the message goes once the run is over.
  duringWait = [this] { click("Command1"); };
  Child<QRadioButton>(*window, "SelfTestOption1")->setChecked(true);
  choose("DeviceServerList", "RF-1");
  click("Command2");
  EXPECT_FALSE(duringWait);
  EXPECT_TRUE(label().contains("Specific test commands from")) << label().toStdString();
  EXPECT_TRUE(window->close());
}

TEST(LinkErrorBox, AnswersWithTheButtonPressed) {
  dsc::testing::QtApp();
  for (auto [button, answer] : {std::pair{QMessageBox::Retry, LinkErrorPrompt::Answer::Retry},
                                std::pair{QMessageBox::Cancel, LinkErrorPrompt::Answer::Cancel}}) {
    QtLinkErrorPrompt prompt(nullptr);
    QString shown;
    QTimer::singleShot(0, [&, button = button] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      shown = box->windowTitle() + "|" + box->text();
      box->button(button)->click();
    });
    EXPECT_EQ(prompt.Ask("Link Error", "/A/B/C[P]  ->  boom"), answer);
    EXPECT_EQ(shown, "Link Error|/A/B/C[P]  ->  boom");
  }
}

}  // namespace
}  // namespace dsc::ui
