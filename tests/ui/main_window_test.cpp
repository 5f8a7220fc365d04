#include "ui/MainWindow.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
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
using dsc::testing::FakeClock;
using dsc::testing::ReadFileBytes;
using dsc::testing::ScriptedPrompt;
using dsc::testing::TempDir;

sim::Server& FindServer(sim::Facility& f, const std::string& context, const std::string& server) {
  sim::Context& c = f.contexts.at(f.index.at(context));
  return c.servers.at(c.index.at(server));
}

sim::Property& FindProperty(sim::Facility& f, const std::string& context, const std::string& server,
                            const std::string& device, const std::string& property) {
  sim::Server& s = FindServer(f, context, server);
  sim::Device& d = s.devices.at(s.index.at(device));
  return d.properties.at(d.index.at(property));
}

// The real window over the demo facility, with a fake clock that the
// asynchronous wait's sleeps advance, scripted Link Error answers and
// temporary report and database directories.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dsc::testing::QtApp();
    db.write("procedures.csv",
             "Description,FileName,Context\r\nThree servers,three.csv,LINAC\r\n"
             "Ring,ring.csv,RING\r\n");
    db.write("three.csv", "Server\r\nVACUUM-1\r\nKLYSTRON-3\r\nMAGNETS-1\r\n");
    db.write("ring.csv", "Server\r\nVACUUM-R\r\n");
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
    VeskerOptions options;
    options.clock = &clock;
    options.prompt = &prompt;
    options.sleep = [this](int32_t ms) { clock.Advance(ms); };
    options.reportDirectory = reports.path();
    options.databasePath = db.path();
    options.openReport = [this](const QString& path) {
      opened.push_back(path);
      return true;
    };
    window = std::make_unique<Vesker>(std::move(system), std::move(control), options);
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
  QStringList items(const char* name) {
    QStringList list;
    for (int i = 0; i < combo(name).count(); ++i) list << combo(name).itemText(i);
    return list;
  }
  std::vector<std::string> reportFiles() {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(reports.path()))
      files.push_back(e.path().string());
    return files;
  }

  FakeClock clock;
  ScriptedPrompt prompt;
  TempDir reports, db;
  sim::SimControlSystem* sim = nullptr;
  std::unique_ptr<Vesker> window;
  std::vector<QString> opened;
};

TEST_F(WindowTest, StartUpCascadesToFirstContextServerDeviceAndConfiguration) {
  Open();
  EXPECT_EQ(window->windowTitle(), "Device Server Checker");
  EXPECT_EQ(combo("DeviceContextList").currentText(), "LINAC");
  EXPECT_EQ(combo("DeviceServerList").currentText(), "VACUUM-1");
  EXPECT_EQ(combo("DeviceNameList").currentText(), "PUMP-01");
  EXPECT_EQ(items("DeviceNameList").size(), 5);
  EXPECT_EQ(combo("StoredConfigCombo").currentText(), "Three servers");
  EXPECT_TRUE(Child<QRadioButton>(*window, "SelfTestOption0")->isChecked());
  EXPECT_EQ(table().horizontalHeaderItem(0)->text(), " Action ");
  EXPECT_EQ(table().horizontalHeaderItem(1)->text(), " Results ");
  EXPECT_EQ(table().columnWidth(0), 2000 * table().logicalDpiX() / 1440);
  EXPECT_EQ(window->session().DatabasePath, db.path() + "/");
}

TEST_F(WindowTest, FailedContextQueryStopsStartUp) {
  Open([](sim::Facility& f) { f.contextsCode = 45; });
  EXPECT_EQ(combo("DeviceContextList").currentText(), "DeviceContext");
  EXPECT_EQ(combo("DeviceServerList").currentText(), "DeviceServerList");
  EXPECT_EQ(combo("DeviceNameList").count(), 0);
  EXPECT_EQ(combo("StoredConfigCombo").count(), 0);
  EXPECT_EQ(window->session().DatabasePath, "");
}

TEST_F(WindowTest, FailedServerQueryKeepsBothLists) {
  Open();
  const QStringList servers = items("DeviceServerList"), devices = items("DeviceNameList");
  sim::Facility& f = sim->facility();
  f.contexts.at(f.index.at("RING")).codes["NTAGS"] = 45;
  f.contexts.at(f.index.at("RING")).codes["TAGS"] = 45;
  choose("DeviceContextList", "RING");
  EXPECT_EQ(items("DeviceServerList"), servers);
  EXPECT_EQ(items("DeviceNameList"), devices);
  EXPECT_EQ(combo("DeviceNameList").currentText(), "PUMP-01");

  choose("DeviceContextList", "TRANSFER");
  EXPECT_EQ(items("DeviceServerList"), QStringList({"TL-MAGNETS", "TL-DIAG"}));
  EXPECT_EQ(combo("DeviceNameList").currentText(), "TL-QF-01");
}

TEST_F(WindowTest, DeviceQueryDecidesDeviceListAndInformationCache) {
  struct Case {
    const char* server;
    int devices;
    bool infoForgotten;
  };
  Open();
  for (const Case& c : {Case{"KLYSTRON-3", 0, false}, Case{"MAGNETS-1", 4, true}}) {
    SCOPED_TRACE(c.server);
    window->session().serverInfoText = "cached";
    choose("DeviceServerList", c.server);
    EXPECT_EQ(combo("DeviceNameList").count(), c.devices);
    EXPECT_EQ(window->session().serverInfoText.empty(), c.infoForgotten);
  }
}

TEST_F(WindowTest, InformationIsQueriedOncePerServer) {
  Open();
  click("Command3");
  const long calls = sim->callCount();
  EXPECT_TRUE(label().startsWith(" srv vers: 4.2.1\n srv start: ")) << label().toStdString();
  click("Command3");
  EXPECT_EQ(sim->callCount(), calls);
  choose("DeviceServerList", "MAGNETS-1");
  const long afterChoice = sim->callCount();
  click("Command3");
  EXPECT_GT(sim->callCount(), afterChoice);
  EXPECT_TRUE(label().contains("psctl 5.1.4"));
}

TEST_F(WindowTest, StandardTestFillsRowsAndRetriesALinkError) {
  Open([](sim::Facility& f) {
    FindProperty(f, "LINAC", "VACUUM-1", "PUMP-01", "CURRENT").code = 33;
  });
  prompt.answers = {LinkErrorPrompt::Answer::Retry, LinkErrorPrompt::Answer::Cancel};
  click("Command1");

  EXPECT_TRUE(label().endsWith("Standard test for  7 READ properties")) << label().toStdString();
  ASSERT_EQ(table().rowCount(), 7);  // DEBUG* is never read
  const QColor black(0, 0, 0), red(255, 0, 0);
  for (int r = 0; r < 7; ++r) {
    const bool failed = table().item(r, 0)->text() == "CURRENT";
    SCOPED_TRACE(table().item(r, 0)->text().toStdString());
    EXPECT_EQ(table().item(r, 1)->foreground().color(), failed ? red : black);
    if (!failed) {
      EXPECT_EQ(table().item(r, 1)->text(), "Success");
    }
  }
  ASSERT_EQ(prompt.asked.size(), 2u);
  EXPECT_EQ(prompt.asked[0].first, "Link Error");
  EXPECT_EQ(prompt.asked[0].second.rfind("/LINAC/VACUUM-1/PUMP-01[CURRENT]  ->  ", 0), 0u)
      << prompt.asked[0].second;
  EXPECT_EQ(table().currentRow(), 6);
  EXPECT_EQ(table().currentColumn(), 1);
  EXPECT_EQ(reportFiles().size(), 1u);
}

TEST_F(WindowTest, StandardTestOnUnknownDeviceRunsNothing) {
  Open();
  click("Command1");
  const int rows = table().rowCount();
  const auto plan = window->session().plan.TestPlanCount;
  combo("DeviceNameList").setEditText("NO-SUCH-DEVICE");
  click("Command1");
  EXPECT_TRUE(label().contains("could not be read")) << label().toStdString();
  EXPECT_EQ(table().rowCount(), rows);
  EXPECT_EQ(window->session().plan.TestPlanCount, plan);
}

TEST_F(WindowTest, ConfiguredSpecificTestSkipsTheServerThatFailsIntoOneReport) {
  Open();
  click("Command2");
  const auto files = reportFiles();
  ASSERT_EQ(files.size(), 1u);
  const std::string report = ReadFileBytes(files[0]);
  for (const char* server : {"VACUUM-1", "KLYSTRON-3", "MAGNETS-1"})
    EXPECT_NE(report.find(std::string("Self-test for /LINAC/") + server), std::string::npos)
        << server;
  EXPECT_NE(report.find("Pump pressure : Success"), std::string::npos);
  EXPECT_NE(report.find("Magnet mode : Success"), std::string::npos);
  // The grid shows the last server that ran.
  ASSERT_EQ(table().rowCount(), 2);
  EXPECT_EQ(table().item(1, 0)->text(), "Magnet mode");
  // The selectors are not changed by a configuration.
  EXPECT_EQ(combo("DeviceServerList").currentText(), "VACUUM-1");
  EXPECT_EQ(window->session().serverInfoText, "");
}

TEST_F(WindowTest, SelectedSpecificTestUsesTheServersOwnList) {
  Open();
  Child<QRadioButton>(*window, "SelfTestOption1")->setChecked(true);
  choose("DeviceServerList", "RF-1");
  click("Command2");
  EXPECT_TRUE(label().endsWith("Specific test commands from SRVSELFTEST"));
  ASSERT_EQ(table().rowCount(), 5);
  EXPECT_TRUE(table().item(4, 1)->text().startsWith("Success"))
      << table().item(4, 1)->text().toStdString();
}

TEST_F(WindowTest, ClicksDuringARunAreRefused) {
  Open();
  window->session().runInProgress = true;
  const auto calls = sim->callCount();
  for (const char* button : {"Command1", "Command2", "Command4"}) {
    SCOPED_TRACE(button);
    Child<QLabel>(*window, "CheckerLabel")->clear();
    click(button);
    EXPECT_TRUE(label().startsWith("A test is running"));
  }
  EXPECT_EQ(sim->callCount(), calls);
  window->show();
  EXPECT_FALSE(window->close());
  window->session().runInProgress = false;
  EXPECT_TRUE(window->close());
}

TEST_F(WindowTest, ShowReportOpensTheLatestReport) {
  Open();
  click("Command5");
  EXPECT_TRUE(opened.empty());
  EXPECT_TRUE(label().startsWith("No report"));
  click("Command1");
  click("Command5");
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].toStdString(), window->session().report.reportFileName);
}

TEST(LinkErrorBox, AnswersWithTheButtonPressed) {
  dsc::testing::QtApp();
  struct Case {
    QMessageBox::StandardButton button;
    LinkErrorPrompt::Answer answer;
  };
  for (const Case& c : {Case{QMessageBox::Retry, LinkErrorPrompt::Answer::Retry},
                        Case{QMessageBox::Cancel, LinkErrorPrompt::Answer::Cancel}}) {
    QtLinkErrorPrompt prompt(nullptr);
    QString title, text;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      title = box->windowTitle();
      text = box->text();
      box->button(c.button)->click();
    });
    EXPECT_EQ(prompt.Ask("Link Error", "/A/B/C[P]  ->  boom"), c.answer);
    EXPECT_EQ(title, "Link Error");
    EXPECT_EQ(text, "/A/B/C[P]  ->  boom");
  }
}

}  // namespace
}  // namespace dsc::ui
