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

  dsc::testing::FakeClock clock;
  dsc::testing::ScriptedPrompt prompt;
  dsc::testing::TempDir reports, db;
  sim::SimControlSystem* sim = nullptr;
  std::unique_ptr<Vesker> window;
  std::vector<QString> opened;
  std::function<void()> duringWait;  // run once from the asynchronous wait
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

  // Without contexts nothing further is asked, not even the database.
  Open([](sim::Facility& f) { f.contextsCode = 45; });
  EXPECT_EQ(combo("DeviceContextList").currentText(), "DeviceContext");
  EXPECT_EQ(window->session().DatabasePath, "");
}

TEST_F(WindowTest, StandardTestColoursRowsAndShowReportOpensItsReport) {
  Open();
  sim::Context& linac = sim->facility().contexts.at(sim->facility().index.at("LINAC"));
  linac.servers.at(linac.index.at("VACUUM-1")).codes["CURRENT"] = 33;
  click("Command1");
  ASSERT_EQ(table().rowCount(), 7);
  for (int r = 0; r < 7; ++r) {
    const bool failed = table().item(r, 0)->text() == "CURRENT";
    SCOPED_TRACE(table().item(r, 0)->text().toStdString());
    EXPECT_EQ(table().item(r, 1)->foreground().color(), failed ? Qt::red : Qt::black);
  }
  click("Command5");
  EXPECT_EQ(opened, std::vector{QString::fromStdString(window->session().report.reportFileName)});

  // A device whose properties cannot be read does not run the old plan.
  combo("DeviceNameList").setEditText("NO-SUCH-DEVICE");
  click("Command1");
  EXPECT_TRUE(label().contains("could not be read")) << label().toStdString();
}

TEST_F(WindowTest, SpecificTestRunsEachConfiguredServerIntoOneReport) {
  Open();
  clock.stepMs = 1000;  // the three servers span many seconds, yet share one report
  click("Command2");
  ASSERT_EQ(std::distance(std::filesystem::directory_iterator(reports.path()), {}), 1);
  const std::string report = dsc::testing::ReadFileBytes(window->session().report.reportFileName);
  for (const char* line : {"Self-test for /LINAC/VACUUM-1\r\n", "Magnet mode : Success"})
    EXPECT_NE(report.find(line), std::string::npos) << line;
  // KLYSTRON-3 has no test list and is skipped; the grid shows the last server that ran.
  EXPECT_EQ(table().rowCount(), 2);
}

// A selected server without a self-test list or a stored file runs nothing:
// not the plan the previous server left behind.
TEST_F(WindowTest, SelectedServerWhoseTestCannotBePreparedRunsNothing) {
  Open();
  Child<QRadioButton>(*window, "SelfTestOption1")->setChecked(true);
  click("Command2");  // VACUUM-1's stored file
  ASSERT_EQ(table().rowCount(), 1);
  ASSERT_EQ(table().item(0, 0)->text(), "Pump pressure");
  choose("DeviceServerList", "KLYSTRON-3");
  clock.Advance(1000);  // a report file of its own
  click("Command2");
  EXPECT_TRUE(label().endsWith("LINAC-KLYSTRON-3.csv : nothing to load or reading failed"))
      << label().toStdString();
  EXPECT_TRUE(prompt.asked.empty());
  const std::string report = dsc::testing::ReadFileBytes(window->session().report.reportFileName);
  EXPECT_TRUE(report.ends_with(std::string(kReportColumnHeader) + "\r\n")) << report;
  EXPECT_EQ(report.find("Pump pressure"), std::string::npos) << report;
}

// The selected server's run waits; clicks and closing inside that wait are
// refused, and the refusal message goes once the run is over.
TEST_F(WindowTest, ClicksAndClosingDuringARunAreRefused) {
  Open();
  Child<QRadioButton>(*window, "SelfTestOption1")->setChecked(true);
  choose("DeviceServerList", "RF-1");
  duringWait = [this] {
    const long calls = sim->callCount();
    for (const char* button : {"Command1", "Command2", "Command4"}) {
      click(button);
      EXPECT_TRUE(label().startsWith("A test is running")) << button;
    }
    EXPECT_FALSE(window->close());
    EXPECT_EQ(sim->callCount(), calls);
  };
  click("Command2");
  EXPECT_FALSE(duringWait);
  EXPECT_TRUE(label().contains("Specific test commands from")) << label().toStdString();
  EXPECT_EQ(table().rowCount(), 5);
  EXPECT_TRUE(window->close());
}

TEST(LinkErrorBox, ShowsTheTextAndAnswersWithTheButtonPressed) {
  dsc::testing::QtApp();
  for (const auto button : {QMessageBox::Retry, QMessageBox::Cancel}) {
    QtLinkErrorPrompt prompt(nullptr);
    QString shown;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      shown = box->windowTitle() + "|" + box->text();
      box->button(button)->click();
    });
    EXPECT_EQ(prompt.Ask("Link Error", "/A/B/C\xc9[P]  ->  boom") == LinkErrorPrompt::Answer::Retry,
              button == QMessageBox::Retry);
    EXPECT_EQ(shown, "Link Error|/A/B/C\u00c9[P]  ->  boom");
  }
}

}  // namespace
}  // namespace dsc::ui
