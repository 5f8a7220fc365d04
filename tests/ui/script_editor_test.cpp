#include "ui/ScriptEditor.h"

#include <filesystem>

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "sources/Csv.h"
#include "tests/support/Fakes.h"
#include "tests/ui/QtTestSupport.h"

namespace dsc::ui {
namespace {

TestCommand Cmd(const std::string& description) {
  return {description, "P", "#0", "READ", 0, 0, 0, 0, "", ""};
}

class EditorTest : public ::testing::Test {
 protected:
  void Load(std::vector<TestCommand> commands) {
    session.DatabasePath = db.path() + "/";
    session.plan.TestPlanCount = static_cast<int16_t>(commands.size());
    session.plan.TestPlan = std::move(commands);
    editor.Form_Load();
  }
  QLineEdit& edit(const char* name) { return *editor.findChild<QLineEdit*>(name); }
  QCheckBox& box(const char* name) { return *editor.findChild<QCheckBox*>(name); }
  QListWidget& list() { return *editor.findChild<QListWidget*>("ScriptList"); }
  QPushButton& button(const char* name) { return *editor.findChild<QPushButton*>(name); }

  QApplication& app = dsc::testing::QtApp();
  dsc::testing::FakeClock clock;
  dsc::testing::TempDir db;
  CheckerSession session{clock, db.path()};
  std::string context = "LINAC", server = "VACUUM-1";
  CheckScripter editor{session, [this] { return std::make_pair(context, server); }};
};

TEST_F(EditorTest, LoadCutsThePlanAt1000AndEditsStopAt1001) {
  std::vector<TestCommand> commands(1005, Cmd("x"));
  commands[0] = {"state", "STATE", "#0", "POLL[timeout=1500]", 2, 1, 515, 513, "4 5", ""};
  Load(commands);
  EXPECT_EQ(session.plan.TestPlanCount, 1000);
  ASSERT_EQ(list().count(), 1000);
  EXPECT_EQ(list().item(0)->text() + "|" + list().item(1)->text(),
            "state (STATE,#0, get  1 SHORT put  2 LONG) POLL[timeout=1500] access|x (P,#0,) READ "
            "access");
  EXPECT_TRUE(box("PollCheckBox").isChecked());

  list().setCurrentRow(0);
  button("InsertCmd").click();
  button("AppendCmd").click();
  EXPECT_EQ(editor.scriptCount, 1001);
  EXPECT_FALSE(editor.findChild<QLabel*>("statusLine")->text().isEmpty());
}

TEST_F(EditorTest, EditsActOnTheSelectedEntry) {
  struct Case {
    const char* button;
    int selected;          // -1: nothing selected
    std::string expected;  // one letter a command
  };
  const Case cases[] = {{"InsertCmd", 0, "NABC"},  {"InsertCmd", -1, "ABC"},
                        {"ReplaceCmd", 1, "ANC"},  {"ReplaceCmd", -1, "ABC"},
                        {"AppendCmd", -1, "ABCN"}, {"DeleteCmd", 2, "AB"},
                        {"DeleteCmd", 0, "BC"},    {"DeleteCmd", -1, "ABC"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.button) + " " + std::to_string(c.selected));
    Load({Cmd("A"), Cmd("B"), Cmd("C")});
    list().setCurrentRow(c.selected);
    if (c.selected < 0) list().clearSelection();
    // Insert, Replace and Delete need a selection.
    EXPECT_EQ(button(c.button).isEnabled(),
              c.selected >= 0 || c.button == std::string("AppendCmd"));
    edit("dscText").setText("N");
    button(c.button).click();
    std::string descriptions;
    for (int i = 0; i < editor.scriptCount; ++i)
      descriptions += editor.scriptCommands[i].Description;
    EXPECT_EQ(descriptions, c.expected);
    EXPECT_TRUE(list().selectedItems().isEmpty());
    EXPECT_EQ(edit("dscText").text(), "N");
  }
  EXPECT_EQ(session.plan.TestPlanCount, 3);  // the editor works on a copy
}

TEST_F(EditorTest, AppendBuildsAccessAndFormatFromTheFields) {
  struct Case {
    bool write, poll;
    const char* timeout;
    int formatIndex;   // -1: nothing picked; 6: a hole named NULL
    std::string made;  // access, input and output format
  };
  // The last leaves every field changed: the next showing must reset them all.
  const Case cases[] = {{false, false, "1000", 1, "READ 513 513"},
                        {false, true, "x", 6, "POLL[timeout=x] 767 767"},
                        {true, true, "x", -1, "WRITE 767 767"}};
  Load({});
  for (const Case& c : cases) {
    box("AccessCheck").setChecked(c.write);
    box("PollCheckBox").setChecked(c.poll);
    edit("TimeOutText").setText(c.timeout);
    editor.findChild<QComboBox*>("dataOutCombo")->setCurrentIndex(c.formatIndex);
    editor.findChild<QComboBox*>("dataInCombo")->setCurrentIndex(c.formatIndex);
    button("AppendCmd").click();
    const TestCommand& m = editor.scriptCommands[editor.scriptCount - 1];
    EXPECT_EQ(m.Access + " " + std::to_string(m.InputFormat) + " " + std::to_string(m.OutputFormat),
              c.made);
  }
  Load({});  // a new showing starts from the initial contents
  EXPECT_EQ(edit("TimeOutText").text() + edit("dscText").text(), "1000");
  EXPECT_FALSE(box("AccessCheck").isChecked() || box("PollCheckBox").isChecked());
}

// A capture of a device with many unreadable properties: the notes that do
// not fit the lines below the buttons are counted on the last, not cut off
// mid-line, and the tool tip holds every one.
TEST_F(EditorTest, CaptureNotesBeyondTheStatusLinesAreCountedAndKeptInTheToolTip) {
  Load({});
  editor.chosenDevice = [] { return std::string("TG-1"); };
  editor.capture = [](const std::string&, const std::string&, const std::string&) {
    CapturedTest t;
    t.commands = {Cmd("a")};
    for (const char* p : {"p1", "p2", "p3", "p4", "p5"}) t.skipped.push_back({p, "no value"});
    return t;
  };
  button("CaptureCmd").click();
  const QLabel& status = *editor.findChild<QLabel*>("statusLine");
  const QStringList shown = status.text().split('\n');
  ASSERT_EQ(shown.size(), CheckScripter::kStatusLines);
  EXPECT_EQ(shown[2], "p2 not captured: no value");
  EXPECT_TRUE(shown[3].startsWith("... and 3 more line(s)")) << shown[3].toStdString();
  EXPECT_EQ(status.toolTip().split('\n').size(), 6);
  EXPECT_EQ(editor.scriptCount, 1);
}

// What is typed goes to the control system in Latin-1: a character it can
// hold becomes its byte, one it cannot is refused with where it is. Opened,
// closed and opened again without an edit, the editor asks nothing.
TEST_F(EditorTest, TypedTextIsLatin1AndAnUneditedEditorClosesWithoutAQuestion) {
  int questions = 0;
  QMessageBox::StandardButton answer = QMessageBox::Discard;
  editor.ask = [&](const QString&, QMessageBox::StandardButtons) {
    ++questions;
    return answer;
  };
  Load({Cmd("kept")});
  const struct {
    const char* field;
    QString typed;
    const char* said;  // "": taken
  } rows[] = {
      {"dataText", "1\u00e9", ""},
      {"dataRefText", "T\u20acmp", "Reference: column 2: U+20AC is not a Latin-1 character"},
      {"prpText", "\u0100", "Property: column 1: U+0100"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.field);
    for (const char* name : {"dataText", "dataRefText", "prpText"}) edit(name).clear();
    edit(row.field).setText(row.typed);
    const int before = editor.scriptCount;
    button("AppendCmd").click();
    const QString said = editor.findChild<QLabel*>("statusLine")->text();
    EXPECT_EQ(editor.scriptCount, before + (*row.said ? 0 : 1));
    EXPECT_TRUE((" " + said).startsWith(QString(" ") + row.said)) << said.toStdString();
  }
  EXPECT_EQ(editor.scriptCommands[1].Data, "1\xe9");
  editor.show();
  editor.reject();  // edited: asked, and discarded
  EXPECT_EQ(questions, 1);
  for (int i = 0; i < 2; ++i) {
    Load({Cmd("kept")});
    editor.show();
    editor.reject();
  }
  EXPECT_EQ(questions, 1);
  // Edited, the close cancelled, then opened again: nothing is edited now.
  list().setCurrentRow(0);
  button("DeleteCmd").click();
  editor.show();
  answer = QMessageBox::Cancel;
  editor.reject();
  Load({Cmd("kept")});
  editor.reject();
  EXPECT_EQ(questions, 2);
  EXPECT_FALSE(editor.isVisible());
}

// Save asks before it writes another server's file than the one the commands
// were loaded for, then writes the test file byte for byte; afterwards the
// saved commands are the plan. Unsaved edits are not dropped without asking.
TEST_F(EditorTest, SaveWritesTheTestFileByteForByteGuardedOrSaysWhyNot) {
  std::vector<QString> questions;
  QMessageBox::StandardButton answer = QMessageBox::No;
  editor.ask = [&](const QString& text, QMessageBox::StandardButtons) {
    questions.push_back(text);
    return answer;
  };
  std::pair<std::string, std::string> saved;
  editor.onSaved = [&](const auto& s) { saved = s; };
  editor.setLoadedFor({"LINAC", "VACUUM-1"});
  server = "MAGNETS-1";
  Load({{"state", "STATE", "#0", "READ", 0, 1, 0, 513, "", ""},
        {" set, twice ", "CURRENT.SET", "QF-01", "WRITE", 2, -3, 512, 767, "1.5 2", ""}});
  EXPECT_TRUE(editor.findChild<QLabel*>("pathLine")->text().endsWith("/LINAC-MAGNETS-1.csv"));
  EXPECT_FALSE(editor.Command1_Click());
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_TRUE(questions[0].contains("loaded for /LINAC/VACUUM-1")) << questions[0].toStdString();
  answer = QMessageBox::Yes;
  ASSERT_TRUE(editor.Command1_Click());
  EXPECT_EQ(db.read("LINAC-MAGNETS-1.csv"),
            "Description,Property,Device,InputSize,InputFormat,Data,OutputSize,OutputFormat,"
            "Reference,Access\r\n"
            "state,STATE,#0, 0,DOUBLE,, 1,SHORT,,READ\r\n"
            " set, twice ,CURRENT.SET,QF-01, 2,DOUBLE,1.5 2,-3,NULL,,WRITE\r\n");
  EXPECT_EQ(saved, std::make_pair(context, server));

  list().setCurrentRow(1);
  button("DeleteCmd").click();
  editor.show();
  answer = QMessageBox::Cancel;  // closing asks, and Cancel keeps the editor open
  editor.reject();
  EXPECT_TRUE(editor.isVisible());
  answer = QMessageBox::Save;  // Save from the close question, for the server saved before
  editor.reject();
  EXPECT_FALSE(editor.isVisible());
  EXPECT_EQ(session.plan.TestPlanCount, 1);
  EXPECT_EQ(session.plan.TestPlan[0].Description, "state");
  editor.show();
  editor.reject();  // nothing left unsaved: no question
  EXPECT_EQ(questions.size(), 4u);
  EXPECT_FALSE(editor.isVisible());

  // A context or server name that would put the file elsewhere than the
  // database directory is refused before anything is written (which names
  // are refused is the test sources' test).
  QString reported;
  editor.reportError = [&](const QString& message) { reported = message; };
  answer = QMessageBox::Yes;  // writing another server's file is agreed to
  for (const auto& [c, s] : {std::pair{"../../..", "x"}, std::pair{"LINAC", "../x"}}) {
    context = c;
    server = s;
    EXPECT_FALSE(editor.Command1_Click()) << s;
    EXPECT_TRUE(std::exchange(reported, "").contains("is refused")) << s;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(db.path()), {}), 1);

  context = "LINAC";
  server = "X";
  session.DatabasePath = db.path() + "/missing/";
  EXPECT_FALSE(editor.Command1_Click());
  EXPECT_TRUE(reported.contains(QString::fromStdString(db.path() + "/missing/LINAC-X.csv")));
  EXPECT_TRUE(reported.contains("No such file or directory")) << reported.toStdString();
}

// Save never wipes commands the editor did not show (none on a fresh start,
// the first 1000 of a long plan): it says how many the file holds and
// replaces it only when told to. A plan of 32767 is no plan of none.
TEST_F(EditorTest, SaveAsksBeforeReplacingCommandsTheEditorDidNotShow) {
  struct Case {
    const char* name;
    int planned, entries, inFile, shown;
    const char* question;  // "": none
  };
  const Case cases[] = {
      {"fresh start", 0, 0, 9, 0, "holds 9 command(s), but the editor was opened with 0 "},
      {"longest plan", 32767, 32768, 32766, 1000,
       "holds 32766 command(s), but the editor was "
       "opened with 1000 of them. Save replaces the "
       "file with the 1000"},
      {"beyond counting", 32767, 32767, 32768, 1000, "holds more than 32767 command(s)"},
      {"every one shown", 9, 9, 9, 9, ""},
      {"one more in the file", 9, 9, 10, 9,
       "holds 10 command(s), but the editor was opened with 9 "},
  };
  QStringList questions;
  QMessageBox::StandardButton answer = QMessageBox::No;
  editor.ask = [&](const QString& text, QMessageBox::StandardButtons) {
    questions << text;
    return answer;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = "Description,Property,Device\r\n";
    for (int i = 0; i < c.inFile; ++i) file += "x,P,#0\r\n";
    db.write("LINAC-VACUUM-1.csv", file);
    session.DatabasePath = db.path() + "/";
    session.plan.TestPlan.assign(static_cast<size_t>(c.entries), Cmd("x"));
    session.plan.TestPlanCount = static_cast<int16_t>(c.planned);
    editor.Form_Load();
    EXPECT_EQ(list().count(), c.shown);
    questions.clear();
    answer = QMessageBox::No;
    EXPECT_EQ(editor.Command1_Click(), *c.question == 0);
    EXPECT_EQ(questions.join("").toStdString().find(c.question) != std::string::npos &&
                  questions.size() == (*c.question ? 1 : 0),
              true)
        << questions.join("").toStdString();
    if (*c.question == 0) continue;
    EXPECT_EQ(db.read("LINAC-VACUUM-1.csv"), file);
    answer = QMessageBox::Yes;
    EXPECT_TRUE(editor.Command1_Click());
    EXPECT_EQ(CountDataLines(db.file("LINAC-VACUUM-1.csv")), c.shown);
  }
}

}  // namespace
}  // namespace dsc::ui
