#include "sources/TestSources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "access/CompletionCodes.h"
#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"

namespace dsc {
namespace {

using std::string;

// Answers reads of a server's own properties from a table; everything not in
// the table fails with 45.
class TableLibrary final : public ClientLibrary {
 public:
  struct Answer {
    int16_t code = 0;
    string bytes;
  };
  std::map<string, Answer> answers;  // "device|property"
  std::vector<string> calls;

  int16_t T_EXECLINK(const string&, const string&, DataDescriptor&, std::span<uint8_t>,
                     const DataDescriptor&, std::span<const uint8_t>, int16_t, int32_t) override {
    return 45;
  }
  int16_t EXECLINKEx(const string& device, const string& property, DataDescriptor&,
                     std::span<uint8_t> out, const DataDescriptor&, std::span<const uint8_t>,
                     int16_t, int32_t) override {
    calls.push_back(device + "|" + property);
    const auto it = answers.find(device + "|" + property);
    if (it == answers.end()) return 45;
    const size_t n = std::min(out.size(), it->second.bytes.size());
    std::memcpy(out.data(), it->second.bytes.data(), n);
    if (n < out.size()) out[n] = 0;
    return it->second.code;
  }
  int16_t T_GETCONTEXTS(std::span<uint8_t>, int32_t&) override { return 45; }
  int16_t RPCERR(int16_t code, std::span<char> text) override {
    std::snprintf(text.data(), text.size(), "message %d", code);
    return 0;
  }
};

class SourcesTest : public ::testing::Test {
 protected:
  SourcesTest() { session.DatabasePath = db.path() + "/"; }
  void SelfTest(const string& text, int16_t code = 0) {
    lib.answers["/C/S/#0|SRVSELFTEST"] = {code, text};
  }

  testing::FakeClock clock;
  testing::TempDir dir, db;
  CheckerSession session{clock, dir.path()};
  TableLibrary lib;
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
      {"garbage bytes", false, string("Property\r\n\xff\x00\x01,\x80\r\n", 17), 0, 1,
       string("\xff\0\x01", 3)},
      {"too many records", false, many, 42, -1, ""},
      {"self-test without final LF", true, "Property\nA\nB", 0, 2, "B"},
      {"self-test CR LF lines read clean", true, "Description,Property\r\nd,A\r\ne,B\r\n", 0, 2,
       "B"},
      {"self-test first character trimmed", true, "Property\n A\n\tB\n;c\nC\n", 0, 1, "C"},
      {"self-test without Property", true, "Description\na\n", 21, 3, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    session.plan = {};
    session.plan.TestPlanCount = -1;
    db.write("C-S.csv", c.server ? "" : c.text);
    SelfTest(c.server ? c.text : "");
    EXPECT_EQ(c.server ? sources.fillInTestParamsFromServer("C", "S", "DEV")
                       : sources.fillInTestParams("C", "S", "DEV"),
              c.code);
    EXPECT_EQ(session.plan.TestPlanCount, c.count);
    EXPECT_EQ(c.code == 0 ? session.plan.TestPlan[c.count - 1].Property : "", c.lastProperty);
  }
  // The device argument never reaches the query.
  EXPECT_EQ(lib.calls.back(), "/C/S/#0|SRVSELFTEST");
  SelfTest("Property\nA\n", 56);
  EXPECT_EQ(sources.fillInTestParamsFromServer("C", "S", ""), 42);
}

TEST_F(SourcesTest, TestFileColumnsAndDefaults) {
  // Expected: Description|Property|Device|Access|InputSize|OutputSize|InputFormat|OutputFormat|
  // Data|Reference
  const struct {
    const char *header, *record, *fields;
  } cases[] = {
      {"Description,Property", "Read temp,TEMP", "Read temp|TEMP|#0|READ|0|0|0|0||"},
      {"access,PROPERTY, description ", "POLL[timeout=5],P,d", "d|P|#0|POLL[timeout=5]|0|0|0|0||"},
      {"Property,Device,InputFormat,OutputFormat", "P,,,nonsense", "P|P||READ|0|0|767|767||"},
      {"Description,Property,Data", "x,P,\"1,2,3\"", "x|P|#0|READ|0|0|0|0|\"1,2,3\"|"},
      {"Property,InputSize,OutputSize,Reference", "P, 4,4abc", "P|P|#0|READ|4|4|0|0||"},
      {"Property,InputSize,OutputSize,InputFormat", "P,2.5,x,double", "P|P|#0|READ|2|0|512|0||"},
      {"Property,Reference,Data", "P,\"a,b\"", "P|P|#0|READ|0|0|0|0||\"a,b\""},
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
    const char* name;
    string selfTest, file;
    int16_t code;
    string caption;
  } cases[] = {
      {"self-test list", "Property\nA\n", "", 0, info + "Specific test commands from SRVSELFTEST"},
      {"stored file", "one line", "Property\r\nA\r\n", 0,
       info + "Specific test commands from " + path},
      {"neither", "one line", "", 42, info + path + " : message 42"},
      {"file without Property", "", "Description\r\nx\r\n", 21, info + path + " : message 21"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SelfTest(c.selfTest);
    std::filesystem::remove(path);
    if (!c.file.empty()) db.write("C-S.csv", c.file);
    session.serverInfoText.clear();
    session.report.reportFileName.clear();
    clock.Advance(1000);  // a new report file each time
    EXPECT_EQ(sources.initSelfText("C", "S", "D"), c.code);
    EXPECT_EQ(session.checkerCaption, c.caption);
    EXPECT_EQ(testing::ReadFileBytes(session.report.reportFileName),
              string(62, '-') + "\r\nSelf-test for /C/S\r\n" + c.caption + "\r\n" +
                  kReportColumnHeader + "\r\n");
  }
}

TEST_F(SourcesTest, ServerInformation) {
  const char* properties[] = {"SRVVERSION", "SRVSTARTTIME", "APPVERSION", "APPDATE"};
  const auto unavailable = [](const string& m) {
    return "srv vers: unavailable -> " + m + "\r\n srv start: unavailable -> " + m +
           "\r\napp vers: unavailable -> " + m + "\r\n app date: unavailable -> " + m + "\r\n";
  };
  const struct {
    std::array<TableLibrary::Answer, 4> answers;  // in the order of properties
    string text;
    size_t calls;
  } cases[] = {
      {{{{7, "junk"}, {0, "today"}, {0, "app 1"}, {3, "partial"}}},
       " srv vers: pre 3.12\r\n srv start: today\r\n app vers: app 1\r\n app date: unavailable\r\n",
       4},
      // An unavailable server is asked once, not four times.
      {{{{45, ""}, {0, "today"}}}, unavailable("message 45"), 1},
      {{{{98, ""}, {0, "today"}}}, unavailable("message 98"), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    lib.answers.clear();
    for (size_t i = 0; i < 4; ++i) lib.answers[string("/C/S/#0|") + properties[i]] = c.answers[i];
    lib.calls.clear();
    EXPECT_EQ(sources.GetServerInfo("C", "S"), c.text);
    EXPECT_EQ(lib.calls.size(), c.calls);
  }
}

TEST_F(SourcesTest, ConfigurationsAndServerLists) {
  db.write("procedures.csv",
           "; configurations\r\nContext,Description,FileName\r\nA,First,a.csv\r\nB,Second,"
           "missing.csv\r\nC,Third,c.csv\r\n");
  db.write("a.csv", "Server\r\nS1\r\n:skipped\r\nS2\r\n");
  db.write("c.csv", "Name\r\nx\r\ny\r\nz\r\n");
  EXPECT_EQ(sources.fillInProcNames(), 0);
  const auto& c = session.configs;
  ASSERT_EQ(c.StoredConfigCount, 3);
  EXPECT_EQ(c.StoredConfigs[0].Description, "First");
  EXPECT_EQ(c.StoredConfigs[0].Context, "A");
  EXPECT_EQ(c.StoredConfigs[0].ServerCount, 2);
  EXPECT_EQ(c.StoredConfigs[0].Servers[1], "S2");
  EXPECT_EQ(c.StoredConfigs[1].ServerCount, 0);
  EXPECT_EQ(c.StoredConfigs[2].ServerCount, 3);  // no Server column: records count, unnamed
  EXPECT_EQ(c.StoredConfigs[2].Servers[0], "");

  db.write("procedures.csv", "Description\r\n");
  EXPECT_EQ(sources.fillInProcNames(), 42);
  EXPECT_EQ(session.configs.StoredConfigCount, 3);  // left as they were
}

TEST_F(SourcesTest, RefusesWhileARunIsInProgress) {
  session.plan.TestPlanCount = 7;
  session.runInProgress = true;
  EXPECT_EQ(sources.fillInTestParams("C", "S", ""), kCodeRunInProgress);
  EXPECT_EQ(sources.fillInTestParamsFromServer("C", "S", ""), kCodeRunInProgress);
  EXPECT_EQ(sources.initSelfText("C", "S", ""), kCodeRunInProgress);
  EXPECT_EQ(sources.fillInProcNames(), kCodeRunInProgress);
  sources.initStdTest("C", "S", "D");
  EXPECT_TRUE(lib.calls.empty());  // no server was asked
  EXPECT_EQ(session.plan.TestPlanCount, 7);
}

TEST(DatabasePath, BesideTheWorkingDirectoryOrTheProgram) {
  testing::TempDir dir;
  dir.write("prog", "");
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const string here = getDatabasePath("/elsewhere/bin/prog");
  const string there = getDatabasePath("/opt/ovra/bin/other");
  const string windows = getDatabasePath("C:\\ovra\\bin\\other.exe");
  std::filesystem::current_path(cwd);
  EXPECT_EQ(here, "../database/");
  EXPECT_EQ(there, "/opt/ovra/bin/../database/");
  EXPECT_EQ(windows, "C:/ovra/bin/../database/");
}

TEST(StandardTest, ReadsEveryDemoPropertyThatDeliversData) {
  testing::FakeClock clock;
  testing::TempDir dir;
  const auto system = sim::SimControlSystem::Demo(clock);
  const auto session = std::make_unique<CheckerSession>(clock, dir.path());
  TestSources sources{*session, *system};
  sources.initStdTest("LINAC", "VACUUM-1", "PUMP-01");
  const auto& plan = session->plan;
  ASSERT_EQ(plan.TestPlanCount, 7);  // DEBUG* is skipped
  EXPECT_EQ(plan.TestPlan[6].Access + " " + plan.TestPlan[6].Device, "READ PUMP-01");
  EXPECT_TRUE(session->checkerCaption.ends_with("\r\nStandard test for  7 READ properties"));
  EXPECT_EQ(testing::ReadFileBytes(session->report.reportFileName),
            "Standard test for read properties of /LINAC/VACUUM-1\r\n" + session->checkerCaption +
                "\r\n" + kReportColumnHeader + "\r\n");

  // The cached server information is reused: only the property query is sent.
  const long calls = system->callCount();
  sources.initStdTest("LINAC", "VACUUM-1", "NO-SUCH-DEVICE");
  EXPECT_EQ(system->callCount(), calls + 1);
}

}  // namespace
}  // namespace dsc
