// The window across runs: configured and selected runs, their summary, what
// stays from one run to the next, and the same outcomes as ovra-check's.
#include <pugixml.hpp>

#include <QMenu>

#include "tests/ui/WindowTest.h"

namespace dsc::ui::window_test {
namespace {

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
  Vacuum(sim->facility()).codes["PRESSURE"] = 33;
  click("Command2");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(reports.path()), {}), 1);
  // The grid shows the last server that ran; the summary every server.
  EXPECT_EQ(rows(), 2);
  ASSERT_TRUE(summary()->isVisibleTo(window.get()));
  QStringList shown;
  for (int i = 0; i < summary()->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = summary()->topLevelItem(i);
    shown << QString("%1 %2 %3 %4 %5 %6")
                 .arg(item->text(0), item->text(1), item->text(2), item->text(3),
                      item->text(4).left(8))
                 .arg(item->data(0, ResultsModel::kColorRole).toInt(), 0, 16);
  }
  EXPECT_EQ(shown.join(" | ").toStdString(),
            "VACUUM-1 0 1 0  ff0000 | KLYSTRON-3 - - - not run: ff0000 | MAGNETS-1 2 0 0  0");
  // Choosing a server shows its rows again, with its caption; one that was
  // not run shows none, and its note says why.
  summary()->topLevelItem(0)->setSelected(true);
  EXPECT_EQ(rows(), 1);
  EXPECT_TRUE(Shows("LINAC-VACUUM-1.csv"));
  summary()->topLevelItem(0)->setSelected(false);
  summary()->topLevelItem(1)->setSelected(true);
  EXPECT_EQ(rows(), 0);
  EXPECT_TRUE(Shows("KLYSTRON-3"));
  EXPECT_FALSE(label().contains("VACUUM-1")) << label().toStdString();
  EXPECT_EQ(summary()->topLevelItem(1)->text(4).toStdString(),
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
    QStringList shown;
    for (int i = 0; i < summary()->topLevelItemCount(); ++i)
      shown
          << summary()->topLevelItem(i)->text(0) + ": " +
                 summary()->topLevelItem(i)->text(4).section(" (", 0, 0).left(*row.note ? 200 : 8);
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

// Giving up on a server that does not answer is a setting, off by default:
// every command then runs and asks. Given up, the rest are "not run", counted
// apart from the failed ones.
TEST_F(WindowTest, GivingUpOnASilentServerIsOptInAndCountsNotRunApart) {
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
    OpenSilentVacuum(10);
    selected();
    prompt.asked.clear();
    click("Command2");
    EXPECT_EQ(prompt.asked.size(), row.asked);
    EXPECT_EQ(progress().toStdString(), row.progress);
    EXPECT_EQ(rows(), 10);
  }
  // In a configured run the summary counts those not run apart from the passed.
  window->findChild<QRadioButton*>("SelfTestOption0")->setChecked(true);
  click("Command2");
  const QTreeWidgetItem* vacuum = summary()->topLevelItem(0);
  EXPECT_EQ((vacuum->text(1) + " " + vacuum->text(2) + " " + vacuum->text(3)).toStdString(),
            "0 2 8");
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
  ASSERT_TRUE(summary()->isVisibleTo(window.get()));
  selected();
  click("Command2");
  EXPECT_FALSE(summary()->isVisibleTo(window.get()));
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

}  // namespace
}  // namespace dsc::ui::window_test
