#include "ui/ScriptEditor.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "tests/support/Fakes.h"
#include "tests/ui/QtTestSupport.h"

namespace dsc::ui {
namespace {

using dsc::testing::Child;
using dsc::testing::FakeClock;
using dsc::testing::TempDir;

TestCommand Cmd(const std::string& description) {
  TestCommand c;
  c.Description = description;
  c.Property = description;
  c.Device = "#0";
  c.Access = "READ";
  return c;
}

class EditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dsc::testing::QtApp();
    session.DatabasePath = db.path() + "/";
    editor = std::make_unique<CheckScripter>(session,
                                             [this] { return std::make_pair(context, server); });
  }
  void Plan(const std::vector<TestCommand>& commands) {
    session.plan.TestPlan = commands;
    session.plan.TestPlanCount = static_cast<int16_t>(commands.size());
  }
  void PlanOf(const std::vector<std::string>& descriptions) {
    std::vector<TestCommand> commands;
    for (const auto& d : descriptions) commands.push_back(Cmd(d));
    Plan(commands);
  }
  QLineEdit& edit(const char* name) { return *Child<QLineEdit>(*editor, name); }
  QComboBox& pick(const char* name) { return *Child<QComboBox>(*editor, name); }
  QCheckBox& box(const char* name) { return *Child<QCheckBox>(*editor, name); }
  QListWidget& list() { return *Child<QListWidget>(*editor, "ScriptList"); }
  void press(const char* name) { Child<QPushButton>(*editor, name)->click(); }
  std::vector<std::string> descriptions() {
    std::vector<std::string> out;
    for (int i = 0; i < editor->scriptCount; ++i)
      out.push_back(editor->scriptCommands[i].Description);
    return out;
  }

  FakeClock clock;
  TempDir db;
  CheckerSession session{clock, db.path()};
  std::string context = "LINAC", server = "VACUUM-1";
  std::unique_ptr<CheckScripter> editor;
};

TEST_F(EditorTest, EmptyPlanShowsInitialFields) {
  editor->Form_Load();
  EXPECT_EQ(editor->windowTitle(), "Checker Script Editor");
  EXPECT_EQ(list().count(), 0);
  EXPECT_EQ(edit("TimeOutText").text(), "1000");
  EXPECT_EQ(edit("dscText").text(), "");
  EXPECT_FALSE(box("PollCheckBox").isChecked());
  EXPECT_FALSE(box("AccessCheck").isChecked());
  ASSERT_EQ(pick("dataOutCombo").count(), 41);
  EXPECT_EQ(pick("dataOutCombo").currentIndex(), -1);
  EXPECT_EQ(pick("dataInCombo").itemText(6), "NULL");
}

TEST_F(EditorTest, LoadCutsThePlanAt1000AndShowsTheFirstCommand) {
  std::vector<TestCommand> commands(1005, Cmd("x"));
  commands[0] = Cmd("state");
  commands[0].Property = "STATE";
  commands[0].OutputSize = 1;
  commands[0].OutputFormat = 513;
  Plan(commands);
  editor->Form_Load();
  EXPECT_EQ(session.plan.TestPlanCount, 1000);
  EXPECT_EQ(editor->scriptCount, 1000);
  ASSERT_EQ(list().count(), 1000);
  EXPECT_EQ(list().item(0)->text(), "state (STATE,#0, get  1 SHORT) READ access");
  EXPECT_EQ(list().currentRow(), 0);
  EXPECT_EQ(edit("SizOutText").text(), " 1");
  EXPECT_EQ(pick("dataOutCombo").currentText(), "SHORT");
  EXPECT_EQ(pick("dataInCombo").currentText(), "DOUBLE");  // InputFormat 0
}

TEST_F(EditorTest, EditsActOnTheSelectedEntry) {
  struct Case {
    const char* button;
    int selected;  // -1: nothing selected
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"InsertCmd", 0, {"N", "A", "B", "C"}},
      {"InsertCmd", -1, {"A", "B", "C"}},
      {"ReplaceCmd", 1, {"A", "N", "C"}},
      {"ReplaceCmd", -1, {"A", "B", "C"}},
      {"AppendCmd", -1, {"A", "B", "C", "N"}},
      {"DeleteCmd", 2, {"A", "B"}},
      {"DeleteCmd", 0, {"B", "C"}},
      {"DeleteCmd", -1, {"A", "B", "C"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.button) + " " + std::to_string(c.selected));
    PlanOf({"A", "B", "C"});
    editor->Form_Load();
    if (c.selected < 0)
      list().clearSelection();
    else
      list().setCurrentRow(c.selected);
    edit("dscText").setText("N");
    press(c.button);
    EXPECT_EQ(descriptions(), c.expected);
    EXPECT_EQ(list().count(), static_cast<int>(c.expected.size()));
    EXPECT_TRUE(list().selectedItems().isEmpty());
    EXPECT_EQ(edit("dscText").text(), "N");
  }
  EXPECT_EQ(session.plan.TestPlanCount, 3);  // the editor works on a copy
}

TEST_F(EditorTest, TakeBuildsAccessSizesAndFormats) {
  struct Case {
    bool write, poll;
    const char* timeout;
    const char* size;
    const char* expectedAccess;
    int32_t expectedSize;
  };
  const Case cases[] = {
      {false, false, "1000", " 32", "READ", 32},
      {true, true, "1000", "12abc", "WRITE", 12},
      {false, true, "1500", "", "POLL[timeout=1500]", 0},
      {false, true, "x", "99999999999", "POLL[timeout=x]", 2147483647},
      {true, false, "1000", "2.5", "WRITE", 2},
  };
  editor->Form_Load();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expectedAccess);
    box("AccessCheck").setChecked(c.write);
    box("PollCheckBox").setChecked(c.poll);
    edit("TimeOutText").setText(c.timeout);
    edit("sizInText").setText(c.size);
    press("AppendCmd");
    const TestCommand& t = editor->scriptCommands[editor->scriptCount - 1];
    EXPECT_EQ(t.Access, c.expectedAccess);
    EXPECT_EQ(t.InputSize, c.expectedSize);
  }
  // Shown again, a poll command brings back its time-out and boxes.
  list().setCurrentRow(2);
  EXPECT_TRUE(box("PollCheckBox").isChecked());
  EXPECT_FALSE(box("AccessCheck").isChecked());
  EXPECT_EQ(edit("TimeOutText").text(), "1500");
}

TEST_F(EditorTest, NullPicksAndUnknownFormatsGive767) {
  editor->Form_Load();
  for (int index : {-1, 6, 17, 39}) {
    SCOPED_TRACE(index);
    pick("dataOutCombo").setCurrentIndex(index);
    pick("dataInCombo").setCurrentIndex(index);
    press("AppendCmd");
    EXPECT_EQ(editor->scriptCommands[editor->scriptCount - 1].OutputFormat, 767);
    EXPECT_EQ(editor->scriptCommands[editor->scriptCount - 1].InputFormat, 767);
  }
}

TEST_F(EditorTest, AppendAndInsertStopAt1001Commands) {
  Plan(std::vector<TestCommand>(1000, Cmd("x")));
  editor->Form_Load();
  press("AppendCmd");
  EXPECT_EQ(editor->scriptCount, 1001);
  press("AppendCmd");
  list().setCurrentRow(0);
  press("InsertCmd");
  EXPECT_EQ(editor->scriptCount, 1001);
  EXPECT_FALSE(Child<QLabel>(*editor, "statusLine")->text().isEmpty());
}

TEST_F(EditorTest, SaveWritesTheTestFileByteForByte) {
  TestCommand read = Cmd("state");
  read.Property = "STATE";
  read.OutputSize = 1;
  read.OutputFormat = 513;
  TestCommand write = Cmd(" set, twice ");
  write.Property = "CURRENT.SET";
  write.Device = "QF-01";
  write.InputSize = 2;
  write.InputFormat = 512;
  write.Data = "1.5 2";
  write.Access = "WRITE";
  write.OutputSize = -3;
  write.OutputFormat = 767;
  Plan({read, write});
  server = "MAGNETS-1";
  editor->Form_Load();
  ASSERT_TRUE(editor->Command1_Click());
  EXPECT_EQ(db.read("LINAC-MAGNETS-1.csv"),
            "Description,Property,Device,InputSize,InputFormat,Data,OutputSize,OutputFormat,"
            "Reference,Access\r\n"
            "state,STATE,#0, 0,DOUBLE,, 1,SHORT,,READ\r\n"
            " set, twice ,CURRENT.SET,QF-01, 2,DOUBLE,1.5 2,-3,NULL,,WRITE\r\n");

  context.clear();
  server.clear();
  Plan({});
  editor->Form_Load();
  ASSERT_TRUE(editor->Command1_Click());
  EXPECT_EQ(db.read("-.csv"),
            "Description,Property,Device,InputSize,InputFormat,Data,OutputSize,OutputFormat,"
            "Reference,Access\r\n");
}

TEST_F(EditorTest, UnwritableFileIsReportedWithPathAndReason) {
  session.DatabasePath = db.path() + "/missing/";
  QString reported;
  editor->reportError = [&](const QString& message) { reported = message; };
  editor->Form_Load();
  EXPECT_FALSE(editor->Command1_Click());
  EXPECT_TRUE(reported.contains(QString::fromStdString(db.path() + "/missing/LINAC-VACUUM-1.csv")));
  EXPECT_TRUE(reported.contains("No such file or directory")) << reported.toStdString();
}

}  // namespace
}  // namespace dsc::ui
