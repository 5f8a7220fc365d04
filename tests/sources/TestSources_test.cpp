#include "sources/TestSources.h"

#include "sources/Csv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/Facility.h"
#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"
#include "tests/support/Recording.h"

namespace dsc {
namespace {

using std::string;

class SourcesTest : public ::testing::Test {
 protected:
  SourcesTest() { session.DatabasePath = db.path() + "/"; }
  // The device argument never reaches the self-test query.
  string& SelfTest() { return lib.answers["/C/S/#0|SRVSELFTEST"].bytes; }

  testing::FakeClock clock;
  testing::TempDir dir, db;
  CheckerSession session{clock, dir.path()};
  testing::RecordingLibrary lib;  // no server: only its answers
  TestSources sources{session, lib};
};

// The stored file and the server's self-test text share the record reader but
// not the line rules.
TEST_F(SourcesTest, TestDescriptionCodesAndCounts) {
  string many = "Property\n";
  for (int i = 0; i < 32768; ++i) many += "P\n";
  const struct {
    const char* name;
    bool server;
    string text;
    int16_t code, count;  // count -1: the plan was left as it was
    string lastProperty;
  } cases[] = {
      {"only comments and header", false, "; c\r\n# c\r\nProperty\r\n", 42, -1, ""},
      {"blank line is the header", false, "   \r\nProperty\r\nx\r\n", 21, 2, ""},
      {"colon lines are spare entries", false, "Property\r\n:x\r\nA\r\n", 0, 1, "A"},
      {"size beyond 32 bits", false, "Property,InputSize\r\nA,1\r\nB,3e9\r\n", 42, 2, ""},
      {"garbage", false, string("Property\r\n\xff\x00\x01,\x80\r\n", 17), 0, 1,
       string("\xff\0\x01", 3)},
      {"too many records", false, many, 42, -1, ""},
      {"self-test without final LF", true, "Property\nA\nB", 0, 2, "B"},
      {"self-test CR LF", true, "Description,Property\r\nd,A\r\ne,B\r\n", 0, 2, "B"},
      // The area still holds the longer list above; none of it may be read.
      {"self-test shorter than the last", true, "Property\nZ\n", 0, 1, "Z"},
      {"self-test first character trimmed", true, "Property\n A\n\tB\n;c\nC\n", 0, 1, "C"},
      {"self-test without Property", true, "Description\na\n", 21, 3, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    session.plan.TestPlanCount = -1;
    db.write("C-S.csv", c.server ? "" : c.text);
    SelfTest() = c.server ? c.text : "";
    EXPECT_EQ(c.server ? sources.fillInTestParamsFromServer("C", "S", "DEV")
                       : sources.fillInTestParams("C", "S", "DEV"),
              c.code);
    EXPECT_EQ(session.plan.TestPlanCount, c.count);
    EXPECT_EQ(c.code == 0 ? session.plan.TestPlan[c.count - 1].Property : "", c.lastProperty);
  }
}

TEST_F(SourcesTest, TestFileColumnsAndDefaults) {
  // Expected: Description|Property|Device|Access|InputSize|OutputSize|InputFormat|OutputFormat|
  // Data|Reference
  const struct {
    const char *header, *record, *fields;
  } cases[] = {
      {"Description,Property", "Read temp,TEMP", "Read temp|TEMP|#0|READ|0|0|0|0||"},
      {"Property,Device,InputFormat,OutputFormat", "P,,,nonsense", "P|P||READ|0|0|767|767||"},
      {"Property,InputSize,OutputSize,InputFormat", "P,2.5,x,double", "P|P|#0|READ|2|0|512|0||"},
  };
  for (const auto& c : cases) {
    db.write("C-S.csv", string(c.header) + "\r\n" + c.record + "\r\n");
    ASSERT_EQ(sources.fillInTestParams("C", "S", ""), 0) << c.header;
    const TestCommand& t = session.plan.TestPlan[0];
    EXPECT_EQ(t.Description + "|" + t.Property + "|" + t.Device + "|" + t.Access + "|" +
                  std::to_string(t.InputSize) + "|" + std::to_string(t.OutputSize) + "|" +
                  std::to_string(t.InputFormat) + "|" + std::to_string(t.OutputFormat) + "|" +
                  t.Data + "|" + t.Reference,
              c.fields)
        << c.header;
  }
}

TEST_F(SourcesTest, SelfTextFallsBackToTheStoredFileAndWritesTheHead) {
  lib.answers["/C/S/#0|SRVVERSION"] = {0, "4.2"};
  const string info = sources.GetServerInfo("C", "S");  // its own texts are checked below
  const string path = db.file("C-S.csv");
  const struct {
    string selfTest, file;
    int16_t code;
    string caption;
  } cases[] = {
      {"Property\nA\n", "", 0, info + "Specific test commands from SRVSELFTEST"},
      {"one line", "Property\r\nA\r\n", 0, info + "Specific test commands from " + path},
      {"one line", "", 42, info + path + " : message 42"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.caption);
    SelfTest() = c.selfTest;
    std::filesystem::remove(path);
    if (!c.file.empty()) db.write("C-S.csv", c.file);
    session.report.reportFileName.clear();
    clock.Advance(1000);  // a new report file each time
    EXPECT_EQ(sources.initSelfText("C", "S", "D"), c.code);
    EXPECT_EQ(session.checkerCaption, c.caption);
    EXPECT_EQ(testing::ReadFileBytes(session.report.reportFileName),
              string(62, '-') + "\r\nSelf-test for /C/S\r\n" + c.caption + "\r\n" +
                  kReportColumnHeader + "\r\n");
  }
}

// A name that would lead out of the database directory names no test file:
// the file it would name is not read, and the caption says why.
TEST_F(SourcesTest, NamesThatLeaveTheDatabaseNameNoTestFile) {
  std::filesystem::create_directories(db.file("C-a"));
  db.write("C-a/b.csv", "Property\r\nA\r\n");
  db.write("..-S.csv", "Property\r\nA\r\n");
  const struct {
    string context, server, why;
  } cases[] = {
      {"C", "a/b", "the server name \"a/b\" is refused (the name holds a \"/\")"},
      {"..", "S", "the context name \"..\" is refused (the name holds \"..\")"},
      {"C", "S\x1b[2J",
       "the server name \"S\\x1B[2J\" is refused (the name holds a control "
       "character)"},
      {"", "S", "the context name \"\" is refused (the name is empty)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(sources.fillInTestParams(c.context, c.server, "D"), 42);
    session.serverInfoText = "info\r\n";
    EXPECT_EQ(sources.initSelfText(c.context, c.server, "D"), 42);
    EXPECT_EQ(session.checkerCaption,
              "info\r\nNo test file can be named after /" + (c.context == "" ? "" : c.context) +
                  "/" + (c.server.find('\x1b') != string::npos ? "S\\x1B[2J" : c.server) + ": " +
                  c.why);
  }
}

TEST_F(SourcesTest, ServerInformation) {
  const string at = "/C/S/#0|";
  lib.answers = {{at + "SRVVERSION", {7, "junk"}},
                 {at + "SRVSTARTTIME", {0, "today"}},
                 {at + "APPVERSION", {0, "app 1"}},
                 {at + "APPDATE", {3, "partial"}}};
  EXPECT_EQ(
      sources.GetServerInfo("C", "S"),
      " srv vers: pre 3.12\r\n srv start: today\r\n app vers: app 1\r\n app date: unavailable\r\n");
  // An unavailable server is asked once, not four times; two of its lines lack the blank.
  for (const int16_t code : {45, 98}) {
    lib.answers[at + "SRVVERSION"] = {code, ""};
    lib.calls.clear();
    const string m = "unavailable -> message " + std::to_string(code) + "\r\n";
    EXPECT_EQ(sources.GetServerInfo("C", "S"),
              "srv vers: " + m + " srv start: " + m + "app vers: " + m + " app date: " + m);
    EXPECT_EQ(lib.calls.size(), 1u);
  }
}

TEST_F(SourcesTest, ConfigurationsAndServerLists) {
  db.write("procedures.csv",
           "; configurations\r\nContext,Description,FileName\r\nA,First,a.csv\r\nB,Second,"
           "missing.csv\r\nC,Third,c.csv\r\nD,Outside,../" +
               std::filesystem::path(db.path()).filename().string() + "/a.csv\r\n");
  db.write("a.csv", "Server\r\nS1\r\n:skipped\r\nS2\r\n");
  db.write("c.csv", "Name\r\nx\r\ny\r\nz\r\n");
  EXPECT_EQ(sources.fillInProcNames(), 0);
  string got;  // without a Server column the records count but have no names
  for (int i = 0; i < session.configs.StoredConfigCount; ++i) {
    const StoredConfig& c = session.configs.StoredConfigs[i];
    got += c.Context + " " + c.Description + " " + std::to_string(c.ServerCount) + ":";
    for (int k = 0; k < c.ServerCount; ++k) got += " " + c.Servers[k];
    got += ";";
  }
  // The fourth names a.csv through "..": not read.
  EXPECT_EQ(got, "A First 2: S1 S2;B Second 0:;C Third 3:   ;D Outside 0:;");

  db.write("procedures.csv", "Description\r\n");
  EXPECT_EQ(sources.fillInProcNames(), 42);
  EXPECT_EQ(session.configs.StoredConfigCount, 4);  // left as they were
}

TEST_F(SourcesTest, DatabasePathIsBesideTheWorkingDirectoryOrTheProgram) {
  dir.write("prog", "");
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  // The first program is found in the working directory, the second is not.
  const string paths =
      getDatabasePath("/elsewhere/bin/prog") + "|" + getDatabasePath("C:\\ovra\\bin\\other.exe");
  std::filesystem::current_path(cwd);
  EXPECT_EQ(paths, "../database/|C:/ovra/bin/../database/");
}

// Every combination of the six levels, each present or absent: the first
// present one wins. --database and $OVRA_DATABASE count when set, even for a
// directory that does not exist (the programs then say so); the others only
// when their directory exists.
TEST(DatabaseSearchOrder, FirstPresentLevelWins) {
  const char* origins[] = {"--database",   "$OVRA_DATABASE",     "the user's configuration",
                           "the system's", "the installed demo", "the program's"};
  for (int present = 0; present < 64; ++present) {
    testing::TempDir root;
    const string r = root.path();
    const string dirs[] = {r + "/given/",
                           r + "/env/",
                           r + "/config/ovra-checker/database/",
                           r + "/etc/ovra-checker/database/",
                           r + "/usr/share/ovra-checker/database/",
                           r + "/usr/bin/../database/"};
    std::filesystem::create_directories(r + "/usr/bin");
    DatabaseSearch search;
    search.configHome = r + "/config";
    search.systemDir = r + "/etc/ovra-checker/database";
    search.argv0 = r + "/usr/bin/prog";
    if (present & 1) search.given = r + "/given";
    if (present & 2) search.environment = r + "/env";
    for (int level = 2; level < 6; ++level) {
      if (present & (1 << level)) std::filesystem::create_directories(dirs[level]);
    }
    int first = 0;
    while (first < 6 && !(present & (1 << first))) ++first;

    std::vector<string> looked;
    const DatabaseChoice got = ChooseDatabaseDirectory(search, &looked);
    if (first == 6) {
      // Nothing anywhere: the program's own rule, as in a build tree.
      EXPECT_EQ(std::vector<string>(looked.begin(), looked.begin() + 4),
                std::vector<string>(dirs + 2, dirs + 6))
          << present;
      first = 5;
    }
    EXPECT_EQ(got.path, dirs[first]) << present;
    EXPECT_EQ(got.origin, origins[first]) << present;
    EXPECT_EQ(got.named, first < 2) << present;
  }
}

TEST(DatabaseSearchOrder, EnvironmentIsRead) {
  ::setenv("OVRA_DATABASE", "/from/env", 1);
  ::setenv("XDG_CONFIG_HOME", "", 1);
  ::setenv("HOME", "/home/someone", 1);
  const DatabaseSearch search = DatabaseSearch::FromEnvironment("/usr/bin/prog", "");
  ::unsetenv("OVRA_DATABASE");
  EXPECT_EQ(search.environment, "/from/env");
  EXPECT_EQ(search.configHome, "/home/someone/.config");
  EXPECT_EQ(search.systemDir, "/etc/ovra-checker/database");
}

// A program in a build tree finds the source tree's database: the nearest
// "database" holding procedures.csv above it, wherever the tree is.
TEST_F(SourcesTest, DatabaseOfABuildTreeIsTheNearestAboveIt) {
  namespace fs = std::filesystem;
  fs::create_directories(dir.file("src/database"));
  fs::create_directories(dir.file("src/out/database"));  // no procedures.csv: passed by
  fs::create_directories(dir.file("src/out/build/app"));
  dir.write("src/database/procedures.csv", "");
  const string program = dir.file("src/out/build/app/ovra-check");
  std::vector<string> looked;
  EXPECT_EQ(FindDatabaseDirectory(program, &looked), dir.file("src/database/"));
  EXPECT_EQ(looked,
            (std::vector<string>{dir.file("src/out/build/app/../database/"),
                                 dir.file("src/out/build/app/database/"),
                                 dir.file("src/out/build/database/"), dir.file("src/out/database/"),
                                 dir.file("src/database/")}));
  // The usual place beside the program wins when it exists.
  fs::create_directories(dir.file("src/out/build/database"));
  EXPECT_EQ(FindDatabaseDirectory(program), dir.file("src/out/build/app/../database/"));
}

TEST_F(SourcesTest, StandardTestReadsEveryDemoPropertyThatDeliversData) {
  const auto system = sim::SimControlSystem::Demo(clock);
  // A property announcing no elements is left out, like one whose name has a "*".
  sim::Context& linac = system->facility().contexts[system->facility().index.at("LINAC")];
  sim::Device& pump = linac.servers[linac.index.at("VACUUM-1")].devices[0];
  pump.properties[pump.index.at("CURRENT")].count = 0;
  TestSources demo{session, *system};
  demo.initStdTest("LINAC", "VACUUM-1", "PUMP-01");

  string plan;  // Description|Property|Device|Access|sizes|formats|Data|Reference
  for (int k = 0; k < session.plan.TestPlanCount; ++k) {
    const TestCommand& t = session.plan.TestPlan[k];
    plan += t.Description + "|" + t.Property + "|" + t.Device + "|" + t.Access + "|" +
            std::to_string(t.InputSize) + " " + std::to_string(t.OutputSize) + "|" +
            std::to_string(t.InputFormat) + " " + std::to_string(t.OutputFormat) + "|" + t.Data +
            "|" + t.Reference + "\n";
  }
  EXPECT_EQ(plan,
            "STATUS|STATUS|PUMP-01|READ|0 1|0 513||\n"
            "PRESSURE|PRESSURE|PUMP-01|READ|0 1|0 512||\n"
            "VOLTAGE|VOLTAGE|PUMP-01|READ|0 1|0 512||\n"
            "ONOFF|ONOFF|PUMP-01|READ|0 1|0 513||\n"
            "NAME|NAME|PUMP-01|READ|0 16|0 516||\n"
            "HISTORY|HISTORY|PUMP-01|READ|0 256|0 512||\n");
  const string caption =
      " srv vers: 4.2.1\r\n srv start: 2024-03-11 06:42:17\r\n app vers: vacuum 2.3.0\r\n"
      " app date: 2023-11-28\r\nStandard test for  6 READ properties";
  EXPECT_EQ(session.checkerCaption, caption);
  EXPECT_EQ(testing::ReadFileBytes(session.report.reportFileName),
            "Standard test for read properties of /LINAC/VACUUM-1\r\n" + caption + "\r\n" +
                kReportColumnHeader + "\r\n");

  // The cached server information is reused: only the property query is sent.
  const long calls = system->callCount();
  demo.initStdTest("LINAC", "VACUUM-1", "NO-SUCH-DEVICE");
  EXPECT_EQ(system->callCount(), calls + 1);
}

}  // namespace
}  // namespace dsc

namespace dsc {
namespace {

// What a spreadsheet saves reads as the file it was made from: a leading
// byte-order mark and trailing empty header fields change nothing.
TEST_F(SourcesTest, SpreadsheetTwinsGiveTheSamePlan) {
  const string clean =
      "Description,Property,Device,Access\r\nTemp\xc3\xa9rature,TEMP,D1,READ\r\nb,P2,D2,POLL\r\n";
  auto plan = [&](const string& text) {
    db.write("C-S.csv", text);
    EXPECT_EQ(sources.fillInTestParams("C", "S", ""), 0);
    string out;
    for (int i = 0; i < session.plan.TestPlanCount; ++i) {
      const TestCommand& t = session.plan.TestPlan[i];
      out += t.Description + "|" + t.Property + "|" + t.Device + "|" + t.Access + "\n";
    }
    return out;
  };
  const string expected = plan(clean);
  EXPECT_EQ(expected, "Temp\xc3\xa9rature|TEMP|D1|READ\nb|P2|D2|POLL\n");
  const string twins[] = {
      "\xef\xbb\xbf" + clean,
      "Description,Property,Device,Access,,\r\nTemp\xc3\xa9rature,TEMP,D1,READ\r\nb,P2,D2,POLL\r\n",
      "\xef\xbb\xbf Description , Property,Device,Access, "
      "\t,\r\nTemp\xc3\xa9rature,TEMP,D1,READ,,\r\n"
      "b,P2,D2,POLL\r\n",
  };
  for (const string& twin : twins) EXPECT_EQ(plan(twin), expected) << twin;

  db.write("procedures.csv",
           "\xef\xbb\xbf"
           "Description,FileName,Context,\r\nDaily,l.csv,C\r\n");
  db.write("l.csv", "\xef\xbb\xbfServer,,\r\nS\r\n");
  EXPECT_EQ(sources.fillInProcNames(), 0);
  ASSERT_EQ(session.configs.StoredConfigCount, 1);
  EXPECT_EQ(session.configs.StoredConfigs[0].Description, "Daily");
  EXPECT_EQ(session.configs.StoredConfigs[0].Context, "C");
  EXPECT_EQ(session.configs.StoredConfigs[0].Servers[0], "S");
}

// The Tolerance column is read only where the header names it, and the
// editor's bytes stay as they were for a file without it.
TEST_F(SourcesTest, ToleranceColumnReadAndSaved) {
  const struct {
    string header, record, tolerance;
  } cases[] = {
      {"Property,Reference,Tolerance", "P,5,0.1 2%", "0.1 2%"},
      {"Property,Reference,,Tolerance", "P,5,9,0.1", "0.1"},
      {"Property,Reference,", "P,5,0.1", ""},  // an empty header field is no Tolerance column
      {"Property,,Reference", "P,0.1,5", ""},
  };
  for (const auto& c : cases) {
    db.write("C-S.csv", c.header + "\r\n" + c.record + "\r\n");
    ASSERT_EQ(sources.fillInTestParams("C", "S", ""), 0) << c.header;
    EXPECT_EQ(session.plan.TestPlan[0].Tolerance, c.tolerance) << c.header;
  }

  std::vector<TestCommand> plan(2);
  plan[0].Description = "a";
  plan[0].Property = "P";
  plan[0].OutputSize = 1;
  plan[0].OutputFormat = 512;
  plan[0].Reference = "5";
  plan[0].Access = "READ";
  plan[1] = plan[0];
  const string head =
      "Description,Property,Device,InputSize,InputFormat,Data,OutputSize,OutputFormat,Reference,"
      "Access";
  EXPECT_EQ(TestFileText(plan, 2),
            head + "\r\na,P,, 0,DOUBLE,, 1,DOUBLE,5,READ\r\na,P,, 0,DOUBLE,, 1,DOUBLE,5,READ\r\n");
  plan[1].Tolerance = "1%";
  EXPECT_EQ(TestFileText(plan, 2), head +
                                       ",Tolerance\r\na,P,, 0,DOUBLE,, 1,DOUBLE,5,READ,\r\n"
                                       "a,P,, 0,DOUBLE,, 1,DOUBLE,5,READ,1%\r\n");
  // What was saved reads back with its tolerances.
  db.write("C-S.csv", TestFileText(plan, 2));
  ASSERT_EQ(sources.fillInTestParams("C", "S", ""), 0);
  EXPECT_EQ(session.plan.TestPlan[1].Tolerance, "1%");
  EXPECT_EQ(session.plan.TestPlan[1].Reference, "5");
}

}  // namespace
}  // namespace dsc
