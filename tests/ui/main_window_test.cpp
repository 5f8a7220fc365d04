#include "ui/MainWindow.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>

#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <QtCore/qtestsupport_core.h>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
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

namespace dsc::ui {
namespace {

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
  QPushButton* button(const char* name) { return window->findChild<QPushButton*>(name); }
  void click(const char* name) { button(name)->click(); }
  void selected() { window->findChild<QRadioButton*>("SelfTestOption1")->setChecked(true); }
  void choose(const char* comboName, const char* text) {
    auto* c = window->findChild<SelectorCombo*>(comboName);
    const int i = c->findText(text);
    ASSERT_GE(i, 0) << text;
    c->choose(i);
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

TEST_F(WindowTest, StartUpCascadesAndInformationFollowsTheServer) {
  Open();  // the other tests run what start-up selected
  click("Command3");
  EXPECT_TRUE(Shows(" srv vers: 4.2.1\n srv start: "));
  // A failed device query keeps the old server's information, which is not
  // shown for the new one; an answer drops it.
  choose("DeviceServerList", "KLYSTRON-3");
  EXPECT_EQ(combo("DeviceNameList").count(), 0);
  click("Command3");
  EXPECT_FALSE(label().contains("4.2.1")) << label().toStdString();
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
  EXPECT_EQ(combo("DeviceContextList").currentText() + combo("DeviceServerList").currentText(), "");
  EXPECT_TRUE(Shows("did not list its contexts (code 45"));
  EXPECT_EQ(window->session().DatabasePath, "");
  selected();
  click("Command2");
  EXPECT_TRUE(Shows("Choose or type a context"));
}

TEST_F(WindowTest, SpecificTestRunsEachConfiguredServerIntoOneReportAndSumsThemUp) {
  Open();
  clock.stepMs = 1000;  // the three servers span many seconds, yet share one report
  sim::Context& linac = sim->facility().contexts.at(sim->facility().index.at("LINAC"));
  linac.servers.at(linac.index.at("VACUUM-1")).codes["PRESSURE"] = 33;
  click("Command2");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(reports.path()), {}), 1);
  // The grid shows the last server that ran; the summary every server.
  EXPECT_EQ(rows(), 2);
  auto* summary = window->findChild<QTreeWidget*>("runSummary");
  ASSERT_TRUE(summary->isVisibleTo(window.get()));
  QStringList shown;
  for (int i = 0; i < summary->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = summary->topLevelItem(i);
    shown << QString("%1 %2 %3 %4 %5 %6")
                 .arg(item->text(0), item->text(1), item->text(2), item->text(3),
                      item->text(4).left(8))
                 .arg(item->data(0, ResultsModel::kColorRole).toInt(), 0, 16);
  }
  EXPECT_EQ(shown.join(" | ").toStdString(),
            "VACUUM-1 0 1 0  ff0000 | KLYSTRON-3 - - - not run: ff0000 | MAGNETS-1 2 0 0  0");
  // Choosing a server shows its rows again, with its caption; one that was
  // not run shows none, and its note says why.
  summary->topLevelItem(0)->setSelected(true);
  EXPECT_EQ(rows(), 1);
  EXPECT_TRUE(Shows("LINAC-VACUUM-1.csv"));
  summary->topLevelItem(0)->setSelected(false);
  summary->topLevelItem(1)->setSelected(true);
  EXPECT_EQ(rows(), 0);
  EXPECT_TRUE(Shows("KLYSTRON-3"));
  EXPECT_FALSE(label().contains("VACUUM-1")) << label().toStdString();
  EXPECT_EQ(summary->topLevelItem(1)->text(4).toStdString(),
            "not run: the server does not answer (code 45: server not answering)");

  // The grid's menu saves the run's HTML page: a row per command of every
  // server, the one not run among them, failures first.
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    for (QAction* a : menu->actions())
      if (a->text() == "Save &HTML report\u2026" && a->isEnabled()) a->trigger();
    menu->close();
  });
  emit table().customContextMenuRequested(QPoint(4, 4));
  pugi::xml_document page;
  ASSERT_TRUE(page.load_file(reports.file("run.html").c_str())) << label().toStdString();
  QStringList kinds;
  for (pugi::xpath_node tr : page.select_nodes("//section//tbody/tr"))
    kinds << QString("%1 %2").arg(
        tr.node().parent().parent().parent().parent().attribute("id").value(),
        tr.node().attribute("class").value());
  EXPECT_EQ(kinds.join(" | ").toStdString(), "s1 error | s2 notprepared | s3 passed | s3 passed");
  EXPECT_STREQ(page.select_node("//section[@id='s1']/h2/span").node().child_value(),
               "  linac/vacuum-1");
  EXPECT_TRUE(Shows("HTML report saved"));
}

#ifdef OVRA_CHECK_EXE
// The window's configured run is ovra-check's: on the same plan the same
// commands end the same way and add up to the same totals (the window, like
// ovra-check without fail fast, runs every command).
TEST_F(WindowTest, ConfiguredRunEndsEveryCommandAsOvraCheckDoes) {
  db.write("LINAC-VACUUM-1.csv",
           "Description,Property,Device,OutputSize,OutputFormat,Reference\r\n"
           "Passes,PRESSURE,PUMP-01,1,DOUBLE,\r\nNo device,PRESSURE,NOPE,1,DOUBLE,\r\n"
           "Not met,PRESSURE,PUMP-01,1,DOUBLE,7\r\nNot met,PRESSURE,PUMP-01,1,DOUBLE,7\r\n");
  Open();
  struct Kinds final : RunObserver {
    void CommandEnded(const CommandOutcome& o) override {
      seen << QString("%1#%2 %3 %4")
                  .arg(QString::fromStdString(o.server))
                  .arg(o.index)
                  .arg(OutcomeKindName(o.outcome.kind), WhyName(o.outcome));
    }
    QStringList seen;
  } shown;
  window->runner().addObserver(shown);
  click("Command2");
  window->runner().removeObserver(shown);
  const CheckTotals& t = window->lastTotals();

  const std::string command = "env -u OVRA_DATABASE -u OVRA_FACILITY -u TANGO_HOST " +
                              std::string(OVRA_CHECK_EXE) + " --report-dir '" + reports.path() +
                              "' --database '" + db.path() +
                              "' --json --max-link-failures 0 config 'Three servers' 2>/dev/null";
  FILE* out = popen(command.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string lines;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, out)) > 0;) lines.append(buf, n);
  pclose(out);
  QStringList check;
  QString totals;
  for (const QString& line : QString::fromStdString(lines).split('\n', Qt::SkipEmptyParts)) {
    const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
    if (o["type"] == "command")
      check << QString("%1#%2 %3 %4")
                   .arg(o["server"].toString())
                   .arg(o["index"].toInt())
                   .arg(o["kind"].toString(), o["why"].toString());
    if (o["type"] == "summary")
      for (const char* key : {"passed", "failed", "errors", "skipped", "not_prepared"})
        totals += QString::number(o[key].toInt()) + " ";
  }
  EXPECT_EQ(shown.seen.join(" | ").toStdString(), check.join(" | ").toStdString());
  EXPECT_EQ(shown.seen.size(), 6);
  // JSON counts a server not prepared among the errors.
  EXPECT_EQ(QString("%1 %2 %3 %4 %5 ")
                .arg(t.passed)
                .arg(t.failed)
                .arg(t.errors + t.notPrepared)
                .arg(t.skipped)
                .arg(t.notPrepared)
                .toStdString(),
            totals.toStdString());
}
#endif

// Stored configurations naming what the opened control system does not list
// (a Tango site opened on the demo's database) are marked, say so when
// chosen, and run without a Link Error box for what cannot be reached; the
// information of a server nobody reached makes up no version.
TEST_F(WindowTest, ConfigurationsTheControlSystemDoesNotKnowAreMarkedAndAskNothing) {
  db.write("procedures.csv",
           "Description,FileName,Context\r\nThree servers,three.csv,LINAC\r\n"
           "Elsewhere,three.csv,NOWHERE\r\nPartly,partly.csv,LINAC\r\n");
  db.write("partly.csv", "Server\r\nNO-SUCH\r\nVACUUM-1\r\n");
  db.write("NOWHERE-VACUUM-1.csv",
           "Description,Property,Device,OutputSize,OutputFormat\r\n"
           "Pump pressure,PRESSURE,PUMP-01,1,DOUBLE\r\n");
  db.write("LINAC-NO-SUCH.csv",
           "Description,Property,Device,OutputSize,OutputFormat\r\n"
           "Pump pressure,PRESSURE,PUMP-01,1,DOUBLE\r\n");
  Open();
  QComboBox& configs = combo("StoredConfigCombo");
  struct Row {
    int index;
    const char* note;     // tool tip and label on choosing it; "" for none
    const char* summary;  // the run's summary, server: note
  };
  const Row table[] = {
      {0, "", "VACUUM-1:  | KLYSTRON-3: not run: | MAGNETS-1: "},
      {1, "The control system knows no context \"NOWHERE\": this configuration cannot run here.",
       "VACUUM-1: not run: The control system knows no context \"NOWHERE\" | KLYSTRON-3: not run: "
       "The control system knows no context \"NOWHERE\" | MAGNETS-1: not run: The control system "
       "knows no context \"NOWHERE\""},
      {2, "The control system knows no server NO-SUCH in context \"LINAC\": it is not run.",
       "NO-SUCH: not run: The control system knows no server \"NO-SUCH\" in context \"LINAC\" | "
       "VACUUM-1: "},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.index);
    configs.setCurrentIndex(row.index);
    EXPECT_EQ(configs.itemData(row.index, Qt::ToolTipRole).toString().toStdString(), row.note);
    if (*row.note) {
      EXPECT_EQ(label().toStdString(), row.note);
    }
    prompt.asked.clear();
    click("Command2");
    auto* summary = window->findChild<QTreeWidget*>("runSummary");
    QStringList shown;
    for (int i = 0; i < summary->topLevelItemCount(); ++i)
      shown << summary->topLevelItem(i)->text(0) + ": " +
                   summary->topLevelItem(i)->text(4).section(" (", 0, 0).left(*row.note ? 200 : 8);
    EXPECT_EQ(shown.join(" | ").toStdString(), row.summary);
    // Their test files are there: each access would have failed with a box.
    EXPECT_TRUE(prompt.asked.empty()) << prompt.asked.size();
  }
  // Typed, the unknown context's server: the version line of a refused
  // first read stays the one the window has always shown.
  combo("DeviceContextList").setEditText("NOWHERE");
  click("Command3");
  EXPECT_TRUE(Shows(" srv vers: pre 3.12")) << label().toStdString();
}

// Long descriptions are cut where they would push the rest out of sight, and
// show whole in their tool tip; Enter presses the focused button.
TEST_F(WindowTest, LongDescriptionsAreCutWithAToolTipAndEnterPressesTheFocusedButton) {
  const std::string action = "Pump pressure " + std::string(154, 'L');
  db.write("procedures.csv",
           "Description,FileName,Context\r\n" + std::string(165, 'C') + ",three.csv,LINAC\r\n");
  db.write("LINAC-VACUUM-1.csv", "Description,Property,Device,OutputSize,OutputFormat\r\n" +
                                     action + ",PRESSURE,PUMP-01,1,DOUBLE\r\n");
  Open();
  selected();
  window->resize(1000, 700);
  window->show();
  EXPECT_LT(window->minimumSizeHint().width(), 1000);
  button("Command2")->setFocus();
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(button("Command2"), &enter);
  ASSERT_EQ(rows(), 1) << "Enter did not run the Specific Test";
  QApplication::processEvents();
  EXPECT_LE(table().columnWidth(0), table().viewport()->width() / 2 + 16);
  EXPECT_EQ(table().horizontalScrollBar()->value(), 0);
  EXPECT_EQ(table().model()->index(0, 0).data(Qt::ToolTipRole).toString().toStdString(),
            action + "\nvalue read: 2.5e-09");
}

// Giving up on a server that does not answer is a setting, off by default:
// every command then runs and asks. Given up, the rest are "not run", counted
// apart from the failed ones.
TEST_F(WindowTest, GivingUpOnASilentServerIsOptInAndCountsNotRunApart) {
  std::string file = "Description,Property,Device,OutputSize,OutputFormat\r\n";
  for (int i = 0; i < 10; ++i) file += "Pump pressure,PRESSURE,PUMP-01,1,DOUBLE\r\n";
  db.write("LINAC-VACUUM-1.csv", file);
  struct Row {
    QVariant setting;  // window/maxLinkFailures; null: never set
    size_t asked;
    const char* progress;
  };
  const Row table[] = {{QVariant(), 10, "10 of 10 done, 10 failed"},
                       {2, 2, "10 of 10 done, 2 failed, 8 not run"}};
  for (const Row& row : table) {
    SCOPED_TRACE(row.asked);
    QSettings().clear();
    if (!row.setting.isNull()) QSettings().setValue("window/maxLinkFailures", row.setting);
    Open([](sim::Facility& f) {
      sim::Context& linac = f.contexts.at(f.index.at("LINAC"));
      linac.servers.at(linac.index.at("VACUUM-1")).delayMs = 60000;
    });
    selected();
    prompt.asked.clear();
    click("Command2");
    EXPECT_EQ(prompt.asked.size(), row.asked);
    EXPECT_EQ(window->findChild<QLabel*>("progressText")->text().toStdString(), row.progress);
    EXPECT_EQ(rows(), 10);
  }
}

// Across runs: a configured run, then a selected one (the summary goes, the
// rows are the new run's); a copy as CSV reads back as the cells were, quotes
// and all; a typed name Latin-1 cannot hold is said, and one it can is found.
TEST_F(WindowTest, AConfiguredRunThenASelectedOneCopiesAsCsvAndTypedNamesAreLatin1) {
  db.write("LINAC-VACUUM-1.csv",
           "Description,Property,Device,OutputSize,OutputFormat\r\n"
           "Say \"hi\" twice,PRESSURE,PUMP-01,1,DOUBLE\r\n");
  Open();
  click("Command2");
  auto* summary = window->findChild<QTreeWidget*>("runSummary");
  ASSERT_TRUE(summary->isVisibleTo(window.get()));
  selected();
  click("Command2");
  EXPECT_FALSE(summary->isVisibleTo(window.get()));
  ASSERT_EQ(rows(), 1);
  EXPECT_TRUE(Shows("LINAC-VACUUM-1.csv"));

  // RFC 4180: fields quoted, a quote inside doubled.
  const QString csv = window->resultsModel().RowsAsText({0}, true);
  QStringList fields;
  QString field;
  bool quoted = false;
  for (qsizetype i = 0; i < csv.size(); ++i) {
    const QChar c = csv[i];
    if (quoted && c == '"' && i + 1 < csv.size() && csv[i + 1] == '"') {
      field += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (c == ',' || c == '\n')) {
      fields << field;
      field.clear();
    } else if (quoted || c != '\r') {
      field += c;
    }
  }
  EXPECT_EQ(fields.join("|").toStdString(),
            "Action|Results|" + text(0, 0).toStdString() + "|" + text(0, 1).toStdString());
  EXPECT_TRUE(text(0, 0).contains('"')) << text(0, 0).toStdString();

  combo("DeviceNameList").setEditText("PUMP-\u20ac");
  click("Command1");
  EXPECT_TRUE(Shows("Device: column 6: U+20AC is not a Latin-1 character"))
      << label().toStdString();
  EXPECT_EQ(rows(), 1);  // nothing ran
}

// A selected server without a self-test list or a stored file runs nothing:
// not the plan the previous server left behind, and its rows go. The
// selection and the options come back with the next start.
TEST_F(WindowTest, SelectedServerWhoseTestCannotBePreparedRunsNothingAndTheSelectionStays) {
  Open();
  selected();
  click("Command2");  // VACUUM-1's stored file
  EXPECT_EQ(window->resultsModel().RowsAsText({0}, true),
            "\"Action\",\"Results\"\r\n\"Pump pressure\",\"Success\"\r\n");
  choose("DeviceServerList", "KLYSTRON-3");
  click("Command2");
  EXPECT_TRUE(Shows("/LINAC-KLYSTRON-3.csv : nothing to load or reading failed"));
  EXPECT_EQ(rows(), 0);

  window->close();
  Open();
  EXPECT_EQ(combo("DeviceServerList").currentText(), "KLYSTRON-3");
  EXPECT_TRUE(window->findChild<QRadioButton*>("SelfTestOption1")->isChecked());
}

// The editor's references from current values, saved, make a test file that
// lints clean and whose specific test passes on the same device.
TEST_F(WindowTest, CapturedReferencesSaveATestThatLintsCleanAndPasses) {
  struct Case {
    const char* server;
    const char* device;
  };
  for (const Case& c : {Case{"VACUUM-1", "PUMP-01"}, Case{"MAGNETS-1", "QF-01"}}) {
    SCOPED_TRACE(c.server);
    Open();
    selected();
    choose("DeviceServerList", c.server);
    choose("DeviceNameList", c.device);
    int captured = 0;
    QTimer::singleShot(0, [&] {
      CheckScripter& editor = *window->scriptEditor();
      editor.ask = [](const QString&, QMessageBox::StandardButtons) { return QMessageBox::Yes; };
      editor.findChild<QPushButton*>("CaptureCmd")->click();
      captured = editor.scriptCount;
      EXPECT_TRUE(editor.Command1_Click());
      editor.accept();
    });
    click("Command4");
    ASSERT_GT(captured, 0);
    const std::string path = db.file(std::string("LINAC-") + c.server + ".csv");
    std::vector<LintFinding> findings;
    ASSERT_TRUE(LintFile(path, LintFileKind::TestFile, findings));
    for (const LintFinding& f : findings) ADD_FAILURE() << f.line << ": " << f.message;
    click("Command2");
    EXPECT_EQ(rows(), captured);
    const CheckTotals& t = window->lastTotals();
    EXPECT_EQ(t.passed, captured);
    EXPECT_EQ(t.failed + t.errors, 0)
        << window->resultsModel().RowsAsText({0, 1, 2, 3}, false).toStdString();
  }
}

// The selected server's run waits; clicks inside that wait are refused, and
// the refusal message goes once the run is over. Closing asks whether to stop.
TEST_F(WindowTest, ClicksDuringARunAreRefusedAndClosingOffersToStop) {
  Open();
  selected();
  choose("DeviceServerList", "RF-1");
  window->show();
  for (const bool stop : {false, true}) {
    confirmStop = [stop] { return stop; };
    // A refused click changes nothing but the message.
    duringWait = [this] {
      for (const char* button : {"Command1", "Command2", "Command4"}) {
        click(button);
        EXPECT_TRUE(label().startsWith("A test is running")) << button;
      }
      EXPECT_TRUE(button("StopButton")->isVisible() && button("StopButton")->isEnabled());
      EXPECT_FALSE(window->close());
    };
    click("Command2");
    EXPECT_FALSE(duringWait);
    EXPECT_FALSE(button("StopButton")->isEnabled());
    const std::string report = dsc::testing::ReadFileBytes(window->session().report.reportFileName);
    EXPECT_EQ(report.find(Vesker::kStoppedLine) != std::string::npos, stop);
    EXPECT_TRUE(Shows("Specific test commands from"));
    // Values at a glance: the tool tip carries the decoded values read and expected.
    EXPECT_EQ(table().model()->index(0, 0).data(Qt::ToolTipRole).toString(),
              "value read: 499.654\nvalue expected: 499.654");
  }
  // The window goes once the stopped run has ended.
  EXPECT_TRUE(QTest::qWaitFor([this] { return !window->isVisible(); }, 1000));
}

// A synchronous access that does not return keeps the window alive: events
// (a timer here) are processed while it waits, and Stop ends the run after it.
TEST_F(WindowTest, StopEndsTheRunAfterABlockedAccess) {
  Open();
  selected();
  choose("DeviceServerList", "MAGNETS-1");  // two READs from its test file
  closed = true;
  int ticks = 0;
  QString progressWhileHeld;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    // Several events while the access is held.
    if (!closed || held == 0 || ++ticks < 3) return;
    progressWhileHeld = window->findChild<QLabel*>("progressText")->text();
    click("StopButton");
    closed = false;
  });
  timer.start(10);
  click("Command2");
  timer.stop();
  EXPECT_EQ(progressWhileHeld, "0 of 2 done");
  // The held command ended as usual; the next one never started, and its row says so.
  ASSERT_EQ(rows(), 2);
  EXPECT_EQ(text(0, 1) + "|" + text(1, 0) + "|" + text(1, 1),
            "Success|Magnet mode|Not run : interrupted");
  EXPECT_EQ(window->findChild<QLabel*>("progressText")->text(), "1 of 2 done, stopped");
}

// A run of 32767 accesses that each return at once still answers the window:
// Stop ends it within 200 ms (of the fake clock every read of which moves it
// on), the commands not run get their rows, and the next run is not stopped.
TEST_F(WindowTest, ALongRunAnswersStopAndTheNextRunIsNotStopped) {
  std::string file = "Description,Property,Device,OutputSize,OutputFormat\r\n";
  for (int i = 0; i < 32767; ++i) file += "Pump pressure,PRESSURE,PUMP-01,1,DOUBLE\r\n";
  db.write("LINAC-VACUUM-1.csv", file);
  Open();
  selected();
  clock.stepMs = 1;
  int64_t stoppedAt = 0;
  QTimer::singleShot(0, [&] {
    stoppedAt = clock.MonotonicMs();
    click("StopButton");
  });
  click("Command2");
  ASSERT_GT(stoppedAt, 0) << "no event was handled during the run";
  EXPECT_LE(clock.MonotonicMs() - stoppedAt, 200);
  QLabel& progress = *window->findChild<QLabel*>("progressText");
  EXPECT_TRUE(progress.text().endsWith(" of 32767 done, stopped")) << progress.text().toStdString();
  ASSERT_EQ(rows(), 32767);
  EXPECT_EQ(text(32766, 0) + "|" + text(32766, 1), "Pump pressure|Not run : interrupted");
  click("Command2");
  EXPECT_EQ(progress.text(), "32767 of 32767 done");
}

// A server that does not answer: the first box keeps Retry as its default,
// later ones make Cancel All the default and say how many commands remain,
// so Enter gets the operator out in two presses, and every command still
// gets its row and report line.
TEST_F(WindowTest, EnterLeavesAServerThatDoesNotAnswerInTwoPresses) {
  std::string file = "Description,Property,Device,OutputSize,OutputFormat\r\n";
  for (int i = 0; i < 10; ++i) file += "Pump pressure,PRESSURE,PUMP-01,1,DOUBLE\r\n";
  db.write("LINAC-VACUUM-1.csv", file);
  boxes = true;
  Open([](sim::Facility& f) {
    sim::Context& linac = f.contexts.at(f.index.at("LINAC"));
    linac.servers.at(linac.index.at("VACUUM-1")).delayMs = 60000;  // every read times out
  });
  selected();
  QStringList seen;
  QTimer enter;
  QObject::connect(&enter, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    seen << box->defaultButton()->text().remove('&') + ": " + box->informativeText();
    if (seen.size() > 10) return box->button(QMessageBox::Cancel)->click();  // no endless test
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(box, &key);
  });
  enter.start(2);
  click("Command2");
  enter.stop();
  EXPECT_EQ(seen.join(" | ").toStdString(),
            "Retry:  | Cancel All: VACUUM-1 has not answered 2 times in this run; 9 more "
            "command(s) of it remain. Cancel All runs them without asking again, each with its "
            "row and report line.");
  ASSERT_EQ(rows(), 10);
  for (int r = 0; r < 10; ++r) EXPECT_FALSE(text(r, 1).isEmpty()) << r;
  const std::string report = dsc::testing::ReadFileBytes(window->session().report.reportFileName);
  size_t lines = 0;
  for (size_t at = 0; (at = report.find("Pump pressure : ", at)) != std::string::npos; ++at)
    ++lines;
  EXPECT_EQ(lines, 10u);
}

// Only a choice from the list runs the cascade; typed names are read as typed.
// Where the library has long names, the lists show them as tool tips, and a
// long name typed into a list stands for its entry.
TEST_F(WindowTest, StandardTestOfTypedNamesColoursRowsAndOnlyAChoiceCascades) {
  Open();
  QComboBox& servers = combo("DeviceServerList");
  EXPECT_EQ(servers.itemData(servers.findText("VACUUM-1"), Qt::ToolTipRole), "linac/vacuum-1");
  EXPECT_FALSE(combo("DeviceContextList").itemData(0, Qt::ToolTipRole).isValid());
  sim::Context& linac = sim->facility().contexts.at(sim->facility().index.at("LINAC"));
  linac.servers.at(linac.index.at("VACUUM-1")).codes["CURRENT"] = 33;
  servers.setEditText("Linac/Vacuum-1");
  click("Command1");
  ASSERT_EQ(rows(), 7) << label().toStdString();
  for (int r = 0; r < 7; ++r)
    EXPECT_EQ(table().model()->index(r, 1).data(ResultsModel::kColorRole).toInt(),
              text(r, 0) == "CURRENT" ? 0xff0000 : 0);
  click("Command5");
  EXPECT_EQ(opened, std::vector{QString::fromStdString(window->session().report.reportFileName)});

  // Typed as the operator would, the server equal to an entry and ended with Return.
  combo("DeviceNameList").setEditText("QD-01");
  servers.lineEdit()->setText("MAGNETS-1");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(servers.lineEdit(), &enter);
  servers.clearFocus();
  EXPECT_EQ(combo("DeviceNameList").currentText(), "QD-01");
  click("Command1");
  ASSERT_GT(window->session().plan.TestPlanCount, 0);
  EXPECT_EQ(window->session().plan.TestPlan[0].Device, "QD-01");

  // A click in the popup does cascade.
  window->show();
  servers.showPopup();
  servers.view()->setCurrentIndex(servers.view()->model()->index(servers.findText("VACUUM-1"), 0));
  QApplication::sendEvent(servers.view(), &enter);
  EXPECT_EQ(combo("DeviceNameList").currentText(), "PUMP-01");

  // A device whose properties cannot be read does not run the old plan, and
  // the old rows go with it.
  combo("DeviceNameList").setEditText("NO-SUCH-DEVICE");
  click("Command1");
  EXPECT_TRUE(Shows("could not be read (code "));
  EXPECT_EQ(rows(), 0);
}

// Arrow keys and the wheel change a selector's entry as a choice from its
// list does: the lists below follow, and the test runs on what they show.
TEST_F(WindowTest, ArrowKeysAndTheWheelOnASelectorRunTheCascade) {
  Open();
  QComboBox& servers = combo("DeviceServerList");
  const auto key = [&](Qt::Key k) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QApplication::sendEvent(&servers, &press);
  };
  const auto wheel = [&](int delta) {
    QWheelEvent turn(QPointF(5, 5), servers.mapToGlobal(QPointF(5, 5)), {}, QPoint(0, delta),
                     Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&servers, &turn);
  };
  struct Step {
    const char* name;
    std::function<void()> act;
    const char* server;
    const char* device;
  };
  const Step steps[] = {
      {"Down", [&] { key(Qt::Key_Down); }, "MAGNETS-1", "QF-01"},
      {"Down", [&] { key(Qt::Key_Down); }, "BPM-1", "BPM-01"},
      {"Up", [&] { key(Qt::Key_Up); }, "MAGNETS-1", "QF-01"},
      {"Up", [&] { key(Qt::Key_Up); }, "VACUUM-1", "PUMP-01"},
      {"wheel down", [&] { wheel(-120); }, "MAGNETS-1", "QF-01"},
      {"wheel down", [&] { wheel(-120); }, "BPM-1", "BPM-01"},
      {"wheel up", [&] { wheel(120); }, "MAGNETS-1", "QF-01"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.act();
    EXPECT_EQ(servers.currentText().toStdString(), step.server);
    EXPECT_EQ(combo("DeviceNameList").currentText().toStdString(), step.device);
  }
  click("Command1");
  EXPECT_EQ(rows(), window->session().plan.TestPlanCount);
  EXPECT_GT(rows(), 0);
  EXPECT_EQ(text(0, 1).left(7), "Success") << text(0, 1).toStdString();
}

// Tab visits the controls in the order the eye reads them (parts of a control,
// a combo box's line edit or a view's viewport, sit between it and the next),
// and every button and option has a mnemonic of its own. A report that loses
// lines says so once, after the run.
TEST_F(WindowTest, TabFollowsTheLayoutEveryButtonHasAMnemonicAndLostReportLinesShowOnce) {
  Open();
  reports.write("elsewhere", "kept\n");
  const std::string name = reports.file(std::to_string(clock.NowMs() / 1000) + ".txt");
  ASSERT_EQ(symlink(reports.file("elsewhere").c_str(), name.c_str()), 0);
  const auto chain = [&] {
    QStringList names;
    for (QWidget* w = window->findChild<QWidget*>("SelfTestOption0"); names.size() < 14;
         w = w->nextInFocusChain())
      if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_"))
        names << w->objectName();
    return names.join(" ").toStdString();
  };
  const std::string order =
      "SelfTestOption0 StoredConfigCombo SelfTestOption1 DeviceContextList DeviceServerList "
      "DeviceNameList resultsGrid runSummary Command3 Command1 Command2 Command4 Command5 "
      "StopButton";
  EXPECT_EQ(chain(), order);
  // The run summary is built by the first configured run, in the same place.
  click("Command2");  // the three configured servers into one report
  EXPECT_EQ(chain(), order);
  EXPECT_EQ(label().count("Report incomplete: 0 of "), 1) << label().toStdString();
  QString keys;
  for (auto* b : window->findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly)) {
    const QChar key = b->text().section('&', 1).front().toLower();
    EXPECT_FALSE(keys.contains(key)) << b->text().toStdString();
    keys += key;
  }
  EXPECT_EQ(keys.size(), 8);
}

TEST(GridColours, KeepTheirMeaningOnLightAndDarkPalettes) {
  const QColor darkBase(30, 30, 32), lightBase(Qt::white);
  for (const Rgb meaning : {kRed, kBlue}) {
    // Readable: far enough from the background in lightness on both.
    EXPECT_GT(ShownColor(meaning, true).lightness() - darkBase.lightness(), 100);
    EXPECT_GT(lightBase.lightness() - ShownColor(meaning, false).lightness(), 100);
    // Still the same hue family.
    EXPECT_LT(std::abs(ShownColor(meaning, true).hue() - ShownColor(meaning, false).hue()), 30);
  }
  // Black is the palette's own text colour, whatever the palette.
  EXPECT_FALSE(ShownColor(kBlack, true).isValid() || ShownColor(kBlack, false).isValid());
}

TEST(LinkErrorBox, ShowsTheTextAndAnswersWithTheButtonPressed) {
  dsc::testing::QtApp();
  using A = LinkErrorPrompt::Answer;
  // A button clicked by its text, or a key pressed.
  const QString pressed[] = {"Retry", "Cancel", "Cancel All", "Return", "Escape"};
  const A answers[] = {A::Retry, A::Cancel, A::CancelAll, A::Retry, A::Cancel};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(pressed[i].toStdString());
    QtLinkErrorPrompt prompt(nullptr);
    QString shown;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      shown = box->windowTitle() + "|" + box->text();
      for (QAbstractButton* b : box->buttons())
        if (b->text().remove('&') == pressed[i]) return b->click();
      QKeyEvent key(QEvent::KeyPress, pressed[i] == "Return" ? Qt::Key_Return : Qt::Key_Escape,
                    Qt::NoModifier);
      QApplication::sendEvent(box, &key);
    });
    EXPECT_EQ(prompt.Ask("Link Error", "/A/B/C\xc9[P]  ->  boom"), answers[i]);
    EXPECT_EQ(shown, "Link Error|/A/B/C\u00c9[P]  ->  boom");
  }
}

}  // namespace
}  // namespace dsc::ui
