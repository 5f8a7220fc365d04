#include "sources/TestSources.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "access/CompletionCodes.h"
#include "engine/CheckRunner.h"
#include "engine/ControlEventPump.h"
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

  int16_t T_EXECLINK(const string& d, const string& p, DataDescriptor& o, std::span<uint8_t> out,
                     const DataDescriptor& i, std::span<const uint8_t> in, int16_t a,
                     int32_t t) override {
    return EXECLINKEx(d, p, o, out, i, in, a, t);
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
    const string m = "message " + std::to_string(code);
    std::memcpy(text.data(), m.c_str(), m.size() + 1);
    return 0;
  }
};

class SourcesTest : public ::testing::Test {
 protected:
  SourcesTest() : session(std::make_unique<CheckerSession>(clock, dir.path())) {
    session->DatabasePath = db.path() + "/";
  }
  string ReportText() { return testing::ReadFileBytes(session->report.reportFileName); }
  void SelfTest(const string& text, int16_t code = 0) {
    lib.answers["/C/S/#0|SRVSELFTEST"] = {code, text};
  }

  testing::FakeClock clock;
  testing::TempDir dir, db;
  std::unique_ptr<CheckerSession> session;
  TableLibrary lib;
  TestSources sources{*session, lib};
};

constexpr const char* kCanonical =
    "Description,Property,Device,InputSize,InputFormat,Data,OutputSize,OutputFormat,Reference,"
    "Access\r\n";

TEST_F(SourcesTest, TestFileLoaderCodesAndCounts) {
  string many = "Property\n";
  for (int i = 0; i < 32768; ++i) many += "P\n";
  const struct {
    const char* name;
    string bytes;
    int16_t code, count;
  } cases[] = {
      {"canonical", string(kCanonical) + "d,P,D,1,LONG,5,1,LONG,5,WRITE\r\n", 0, 1},
      {"only comments and header", "; c\r\n# c\r\nProperty\r\n", 42, -1},
      {"empty file", "", 42, -1},
      {"blank line before header", "   \r\nProperty\r\nx\r\n", 21, 2},
      {"no Property column", "Description\r\na\r\nb\r\n", 21, 2},
      {"colon lines are spare entries", "Property\r\n:x\r\nA\r\n", 0, 1},
      {"lone CR line ends", "Property\rA\rB\r", 0, 2},
      {"size beyond 32 bits", "Property,InputSize\r\nA,1\r\nB,3e9\r\n", 42, 2},
      {"garbage bytes", string("Property\r\n\xff\x00\x01,\x80\r\n", 17), 0, 1},
      {"too many records", many, 42, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    session->plan = {};
    session->plan.TestPlanCount = -1;  // untouched marker
    db.write("C-S.csv", c.bytes);
    EXPECT_EQ(sources.fillInTestParams("C", "S", "ignored"), c.code);
    // -1: the plan was left as it was.
    EXPECT_EQ(session->plan.TestPlanCount, c.count);
  }
  std::filesystem::remove(db.file("C-S.csv"));
  EXPECT_EQ(sources.fillInTestParams("C", "S", ""), 42);
}

// Description|Property|Device|Access|InputSize|OutputSize|InputFormat|OutputFormat|Data|Reference
string Fields(const TestCommand& c) {
  return c.Description + "|" + c.Property + "|" + c.Device + "|" + c.Access + "|" +
         std::to_string(c.InputSize) + "|" + std::to_string(c.OutputSize) + "|" +
         std::to_string(c.InputFormat) + "|" + std::to_string(c.OutputFormat) + "|" + c.Data + "|" +
         c.Reference;
}

TEST_F(SourcesTest, TestFileColumnsAndDefaults) {
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
    ASSERT_EQ(session->plan.TestPlanCount, 1);
    EXPECT_EQ(Fields(session->plan.TestPlan[0]), c.fields) << c.header;
  }
}

TEST_F(SourcesTest, SelfTestText) {
  const struct {
    const char* name;
    string text;
    int16_t answerCode, code, count;
    string lastProperty;
  } cases[] = {
      {"LF lines", "Property\nA\nB\n", 0, 0, 2, "B"},
      {"no final LF", "Property\nA\nB", 0, 0, 2, "B"},
      {"CR LF lines read clean", "Description,Property\r\nd,A\r\ne,B\r\n", 0, 0, 2, "B"},
      {"first character trimmed", "Property\n A\n\tB\n;c\nC\n", 0, 0, 1, "C"},
      {"one line", "Property", 0, 42, -1, ""},
      {"read fails", "Property\nA\n", 56, 42, -1, ""},
      {"no Property", "Description\na\n", 0, 21, 3, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    session->plan = {};
    session->plan.TestPlanCount = -1;
    SelfTest(c.text, c.answerCode);
    EXPECT_EQ(sources.fillInTestParamsFromServer("C", "S", "DEV"), c.code);
    EXPECT_EQ(session->plan.TestPlanCount, c.count);
    if (c.code == 0) {
      EXPECT_EQ(session->plan.TestPlan[c.count - 1].Property, c.lastProperty);
    }
  }
  // The device argument never reaches the query.
  EXPECT_EQ(lib.calls.back(), "/C/S/#0|SRVSELFTEST");
}

TEST_F(SourcesTest, SelfTextFallsBackToTheStoredFileAndWritesTheHead) {
  lib.answers["/C/S/#0|SRVVERSION"] = {0, "4.2"};
  const string info =
      " srv vers: 4.2\r\n srv start: unavailable\r\n app vers: unavailable\r\n"
      " app date: unavailable\r\n";
  const string path = db.path() + "/C-S.csv";
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
    if (c.file.empty()) {
      std::filesystem::remove(path);
    } else {
      db.write("C-S.csv", c.file);
    }
    session->serverInfoText.clear();
    session->report.reportFileName.clear();
    clock.Advance(1000);  // a new report file each time
    EXPECT_EQ(sources.initSelfText("C", "S", "D"), c.code);
    EXPECT_EQ(session->checkerCaption, c.caption);
    EXPECT_EQ(ReportText(), string(62, '-') + "\r\nSelf-test for /C/S\r\n" + c.caption + "\r\n" +
                                kReportColumnHeader + "\r\n");
  }
}

TEST_F(SourcesTest, ServerInformation) {
  const string dev = "/C/S/#0|";
  struct Case {
    const char* name;
    std::map<string, TableLibrary::Answer> answers;
    string text;
    size_t calls;
  };
  const Case cases[] = {
      {"all answer",
       {{dev + "SRVVERSION", {0, "4.2"}},
        {dev + "SRVSTARTTIME", {0, "today"}},
        {dev + "APPVERSION", {0, "app 1"}},
        {dev + "APPDATE", {0, "2024"}}},
       " srv vers: 4.2\r\n srv start: today\r\n app vers: app 1\r\n app date: 2024\r\n",
       4},
      {"unavailable 45",
       {},
       "srv vers: unavailable -> message 45\r\n srv start: unavailable -> message 45\r\napp vers: "
       "unavailable -> message 45\r\n app date: unavailable -> message 45\r\n",
       1},
      {"old server",
       {{dev + "SRVVERSION", {7, "junk"}},
        {dev + "SRVSTARTTIME", {0, "today"}},
        {dev + "APPVERSION", {0, "app 1"}},
        {dev + "APPDATE", {3, "partial"}}},
       " srv vers: pre 3.12\r\n srv start: today\r\n app vers: app 1\r\n app date: unavailable\r\n",
       4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    lib.answers = c.answers;
    lib.calls.clear();
    EXPECT_EQ(sources.GetServerInfo("C", "S"), c.text);
    EXPECT_EQ(lib.calls.size(), c.calls);
  }
  EXPECT_EQ(lib.calls, (std::vector<string>{dev + "SRVVERSION", dev + "APPVERSION",
                                            dev + "SRVSTARTTIME", dev + "APPDATE"}));
}

TEST_F(SourcesTest, ConfigurationsAndServerLists) {
  db.write("procedures.csv",
           "; configurations\r\nContext,Description,FileName\r\nA,First,a.csv\r\nB,Second,"
           "missing.csv\r\nC,Third,c.csv\r\n");
  db.write("a.csv", "Server\r\nS1\r\n:skipped\r\nS2\r\n");
  db.write("c.csv", "Name\r\nx\r\ny\r\nz\r\n");
  EXPECT_EQ(sources.fillInProcNames(), 0);
  const auto& c = session->configs;
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
  EXPECT_EQ(session->configs.StoredConfigCount, 3);  // left as they were
}

TEST_F(SourcesTest, RefusesWhileARunIsInProgress) {
  db.write("C-S.csv", "Property\r\nA\r\n");
  db.write("procedures.csv", "Description\r\nx\r\n");
  SelfTest("Property\nA\n");
  session->plan.TestPlanCount = 7;
  session->runInProgress = true;
  EXPECT_EQ(sources.fillInTestParams("C", "S", ""), kCodeRunInProgress);
  EXPECT_EQ(sources.fillInTestParamsFromServer("C", "S", ""), kCodeRunInProgress);
  EXPECT_EQ(sources.initSelfText("C", "S", ""), kCodeRunInProgress);
  EXPECT_EQ(sources.fillInProcNames(), kCodeRunInProgress);
  sources.initStdTest("C", "S", "D");
  EXPECT_EQ(session->plan.TestPlanCount, 7);
  EXPECT_EQ(session->configs.StoredConfigCount, 0);
  EXPECT_TRUE(session->checkerCaption.empty());
  EXPECT_TRUE(session->report.reportFileName.empty());
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

// Against the demo facility, with simulated time driven by the event pump.
class DemoTest : public ::testing::Test {
 protected:
  DemoTest()
      : system(sim::SimControlSystem::Demo(clock)),
        control(sim::MakeSimControl(*system)),
        session(std::make_unique<CheckerSession>(clock, dir.path())),
        pump(*control, [this](int32_t ms) { clock.Advance(ms); }),
        runner(*session, *control, grid, prompt, pump, clock) {
    session->DatabasePath = db.path() + "/";
  }
  testing::FakeClock clock;
  testing::TempDir dir, db;
  std::unique_ptr<sim::SimControlSystem> system;
  std::unique_ptr<DataAcquisitionControl> control;
  std::unique_ptr<CheckerSession> session;
  testing::MemoryGrid grid;
  testing::ScriptedPrompt prompt;
  ControlEventPump pump;
  CheckRunner runner;
  TestSources sources{*session, *system};
};

TEST_F(DemoTest, StandardTestReadsEveryPropertyThatDeliversData) {
  sources.initStdTest("LINAC", "VACUUM-1", "PUMP-01");
  const auto& plan = session->plan;
  ASSERT_EQ(plan.TestPlanCount, 7);  // DEBUG* is skipped
  for (int i = 0; i < plan.TestPlanCount; ++i) {
    EXPECT_EQ(plan.TestPlan[i].Access, "READ");
    EXPECT_EQ(plan.TestPlan[i].Device, "PUMP-01");
    EXPECT_EQ(plan.TestPlan[i].Description.find('*'), string::npos);
  }
  EXPECT_TRUE(session->checkerCaption.starts_with(" srv vers: 4.2.1\r\n"));
  EXPECT_TRUE(session->checkerCaption.ends_with("\r\nStandard test for  7 READ properties"));
  EXPECT_EQ(testing::ReadFileBytes(session->report.reportFileName),
            "Standard test for read properties of /LINAC/VACUUM-1\r\n" + session->checkerCaption +
                "\r\n" + kReportColumnHeader + "\r\n");

  // A failed property query changes nothing; the cached information is reused.
  const long calls = system->callCount();
  sources.initStdTest("LINAC", "VACUUM-1", "NO-SUCH-DEVICE");
  EXPECT_EQ(plan.TestPlanCount, 7);
  EXPECT_EQ(system->callCount(), calls + 1);
}

TEST_F(DemoTest, ConfigurationWhoseSecondServerFailsWritesOneReportOfThreeSections) {
  db.write("LINAC-VACUUM-1.csv",
           "Property,Device,OutputSize,OutputFormat,Reference\r\n"
           "STATUS,PUMP-01,1,SHORT,1\r\n");
  db.write("LINAC-BPM-1.csv", "Property,Device,OutputSize,OutputFormat\r\nSUM,BPM-02,1,LONG\r\n");
  session->report.reportFileName.clear();
  std::vector<int16_t> codes;
  for (const string server : {"VACUUM-1", "KLYSTRON-3", "BPM-1"}) {
    session->serverInfoText.clear();
    const int16_t r = sources.initSelfText("LINAC", server, "#0");
    codes.push_back(r);
    if (r == 0) runner.RunVesk("LINAC", server);
  }
  EXPECT_EQ(codes, (std::vector<int16_t>{0, 42, 0}));
  const string report = testing::ReadFileBytes(session->report.reportFileName);
  size_t sections = 0;
  for (size_t at = report.find(string(62, '-') + "\r\n"); at != string::npos;
       at = report.find(string(62, '-') + "\r\n", at + 1)) {
    ++sections;
  }
  EXPECT_EQ(sections, 3u);
  const size_t vacuum = report.find("Self-test for /LINAC/VACUUM-1");
  const size_t klystron = report.find("Self-test for /LINAC/KLYSTRON-3");
  const size_t bpm = report.find("Self-test for /LINAC/BPM-1");
  EXPECT_LT(vacuum, klystron);
  EXPECT_LT(klystron, bpm);
  EXPECT_NE(report.find(" : STATUS : Success (Target met)\r\n"), string::npos);
  EXPECT_NE(report.find("srv vers: unavailable -> "), string::npos);
  EXPECT_NE(report.find("LINAC-KLYSTRON-3.csv : "), string::npos);
  EXPECT_NE(report.find(" : SUM : Success\r\n"), string::npos);
}

}  // namespace
}  // namespace dsc
