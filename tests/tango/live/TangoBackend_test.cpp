// The Tango backend against Debian's TangoTest device server, started for the
// tests on a free loopback port without a Tango database.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "access/CompletionCodes.h"
#include "access/NamespaceQueries.h"
#include "engine/CheckRunner.h"
#include "engine/CheckerSession.h"
#include "engine/ControlEventPump.h"
#include "engine/Formats.h"
#include "sources/TestSources.h"
#include "tango/TangoBackend.h"
#include "tests/support/Fakes.h"
#include "tests/support/TangoTestServer.h"

namespace dsc::tango {
namespace {

using dsc::testing::MemoryGrid;
using dsc::testing::ScriptedPrompt;
using dsc::testing::TangoTestServer;
using dsc::testing::TempDir;
using Clock = std::chrono::steady_clock;

// One checker on one TangoTest: the library, Zorbel1, a session with its
// report in a temporary directory, and the runner with in-memory front ends.
struct Checker {
  explicit Checker(const TangoTestServer& server, int pollMs = 50) {
    std::string error;
    std::optional<Site> site = LoadSite(server.SiteJson(pollMs), "test site", error);
    if (!site) throw std::runtime_error(error);
    library = std::make_unique<TangoLibrary>(std::move(*site), clock);
    control = MakeTangoControl(*library);
    session = std::make_unique<CheckerSession>(clock, reports.path());
    session->DatabasePath = database.path() + "/";
    sources = std::make_unique<TestSources>(*session, *library);
    pump = std::make_unique<ControlEventPump>(
        *control, [](int32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
    runner = std::make_unique<CheckRunner>(*session, *control, grid, prompt, *pump, clock);
    // The command an outcome points to lives only as long as the call.
    runner->setOutcomeObserver([this](const CommandOutcome& o) {
      outcomes.push_back({o.command->Property, o.status, o.resultText});
      if (afterCommand) afterCommand(o);
    });
  }

  // Runs the test file text as TGTEST-TANGOTEST.csv.
  bool RunFile(const std::string& csv) {
    database.write("TGTEST-TANGOTEST.csv", csv);
    if (sources->initSelfText("TGTEST", "TANGOTEST", "#0") != 0) return false;
    return runner->RunVesk("TGTEST", "TANGOTEST");
  }

  std::vector<std::string> ReportLines() const {
    std::vector<std::string> lines;
    const std::string text = dsc::testing::ReadFileBytes(session->report.reportFileName);
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
      lines.push_back(text.substr(start, end - start));
    return lines;
  }

  SystemClock clock;
  TempDir reports, database;
  std::unique_ptr<TangoLibrary> library;
  std::unique_ptr<DataAcquisitionControl> control;
  std::unique_ptr<CheckerSession> session;
  std::unique_ptr<TestSources> sources;
  MemoryGrid grid;
  ScriptedPrompt prompt;
  std::unique_ptr<ControlEventPump> pump;
  std::unique_ptr<CheckRunner> runner;
  struct Seen {
    std::string property;
    int32_t status;
    std::string resultText;
  };
  std::vector<Seen> outcomes;
  std::function<void(const CommandOutcome&)> afterCommand;
};

constexpr const char* kHeader =
    "Description,Property,Device,InputSize,InputFormat,Data,OutputSize,OutputFormat,Reference,"
    "Access\r\n";

class TangoLive : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!TangoTestServer::Installed()) return;
    server_ = new TangoTestServer;
    std::string error;
    if (!server_->Start(error)) {
      startError_ = error;
      delete server_;
      server_ = nullptr;
    }
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!TangoTestServer::Installed())
      GTEST_SKIP() << TangoTestServer::Executable() << " is not installed (package tango-test)";
    ASSERT_NE(server_, nullptr) << startError_;
  }
  static TangoTestServer& server() { return *server_; }

 private:
  static TangoTestServer* server_;
  static std::string startError_;
};
TangoTestServer* TangoLive::server_ = nullptr;
std::string TangoLive::startError_;

TEST_F(TangoLive, NamespaceComesFromTheSiteAndTheDevice) {
  Checker c(server());
  std::vector<std::string> names;
  int16_t n = 0;
  ASSERT_EQ(GetContextList(*c.library, names, n), 0);
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + n),
            std::vector<std::string>{"TGTEST"});
  ASSERT_EQ(GetServerList(*c.library, "TGTEST", names, n), 0);
  EXPECT_EQ(names[0], "TANGOTEST");
  ASSERT_EQ(GetDeviceNameList(*c.library, "TANGOTEST", names, n), 0);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(names[0], "TG-1");

  std::vector<int16_t> sizes, formats;
  ASSERT_EQ(GetPropertyList(*c.library, "/TGTEST/TANGOTEST/TG-1", names, sizes, formats, n), 0);
  struct Row {
    const char* name;
    int16_t size, format;
  };
  // Attributes keep their configuration; State and Status are attributes
  // first; commands that need input declare no size, so no standard test
  // ever runs them.
  const Row expected[] = {
      {"double_scalar", 1, kFormatDouble},
      {"float_scalar", 1, kFormatSingle},
      {"short_scalar", 1, kFormatShort},
      {"long_scalar", 1, kFormatLong},
      {"uchar_scalar", 1, kFormatByte},
      {"string_scalar", 256, kFormatText},
      {"ushort_scalar", 1, kFormatLong},
      {"boolean_scalar", 1, kFormatByte},
      {"double_spectrum", 4096, kFormatDouble},
      {"string_spectrum", 256, kFormatNull},
      {"State", 1, kFormatByte},
      {"DevDouble", 0, kFormatDouble},
      {"Init", 0, kFormatNull},
      {"CrashFromOmniThread", 0, kFormatNull},
  };
  for (const Row& row : expected) {
    SCOPED_TRACE(row.name);
    const auto it = std::find(names.begin(), names.begin() + n, row.name);
    ASSERT_NE(it, names.begin() + n);
    const size_t i = static_cast<size_t>(it - names.begin());
    EXPECT_EQ(sizes[i], row.size);
    EXPECT_EQ(formats[i], row.format);
  }
  EXPECT_EQ(std::count(names.begin(), names.begin() + n, "State"), 1);

  // Unknown names fail with their own codes.
  for (const char* device : {"/NOPE/TANGOTEST/TG-1", "/TGTEST/NOPE/TG-1", "/TGTEST/TANGOTEST/X"})
    EXPECT_NE(GetPropertyList(*c.library, device, names, sizes, formats, n), 0) << device;
}

TEST_F(TangoLive, StandardTestReadsEveryAttributeThatDeliversData) {
  Checker c(server());
  c.sources->initStdTest("TGTEST", "TANGOTEST", "TG-1");
  ASSERT_GT(c.session->plan.TestPlanCount, 40);
  EXPECT_TRUE(c.runner->RunVesk("TGTEST", "TANGOTEST"));
  ASSERT_EQ(static_cast<int>(c.outcomes.size()), c.session->plan.TestPlanCount);
  // TangoTest fails exactly these two on purpose.
  const std::set<std::string> failing = {"no_value", "throw_exception"};
  for (const Checker::Seen& o : c.outcomes) {
    SCOPED_TRACE(o.property);
    EXPECT_EQ(o.status != 0, failing.count(o.property) == 1) << o.resultText;
  }
  const auto thrown = std::find_if(c.outcomes.begin(), c.outcomes.end(),
                                   [](auto& o) { return o.property == "throw_exception"; });
  ASSERT_NE(thrown, c.outcomes.end());
  EXPECT_EQ(thrown->resultText, "here is the exception you requested");
  EXPECT_NE(c.session->serverInfoText.find("srv vers: TangoTest/test IDL"), std::string::npos);
}

TEST_F(TangoLive, WritesReadBackAndCommandsEchoAgainstReferences) {
  Checker c(server());
  struct Row {
    const char* line;  // Description,...,Access without the description
    int32_t status;
  };
  const Row rows[] = {
      // A scalar written and read back: the reference met, then not met.
      {"short_scalar_w,TG-1,1,SHORT,7,1,SHORT,7,WRITE", 0},
      {"short_scalar_w,TG-1,0,,,1,SHORT,7,READ", 0},
      {"short_scalar_w,TG-1,0,,,1,SHORT,8,READ", kCodeTargetNotMet},
      {"double_spectrum,TG-1,3,DOUBLE,1.5 2.5 -3,3,DOUBLE,1.5 2.5 -3,WRITE", 0},
      {"string_scalar,TG-1,5,TEXT,hello,16,TEXT,hello,WRITE", 0},
      // Commands with input and output echo it, converted both ways.
      {"DevDouble,TG-1,1,DOUBLE,3.25,1,DOUBLE,3.25,READ", 0},
      {"DevFloat,TG-1,1,SINGLE,-0.5,1,SINGLE,-0.5,READ", 0},
      {"DevUShort,TG-1,1,LONG,65535,1,LONG,65535,READ", 0},
      {"DevULong,TG-1,1,DOUBLE,4000000000,1,DOUBLE,4000000000,READ", 0},
      {"DevLong64,TG-1,1,DOUBLE,-9000000000,1,DOUBLE,-9000000000,READ", 0},
      {"DevBoolean,TG-1,1,BYTE,1,1,BYTE,1,READ", 0},
      {"DevVarLongArray,TG-1,3,LONG,1 2 3,3,LONG,1 2 3,READ", 0},
      {"DevString,TG-1,5,TEXT,abcde,8,TEXT,abcde,READ", 0},
      // Values the target type cannot hold are refused, never wrapped.
      {"DevUShort,TG-1,1,LONG,70000,1,LONG,,READ", kTangoIllegalFormat},
      {"DevShort,TG-1,1,DOUBLE,-40000,1,SHORT,,READ", kTangoIllegalFormat},
      {"short_scalar_ro,TG-1,1,SHORT,1,0,,,WRITE", kTangoNotWritable},
      {"no_such_thing,TG-1,0,,,1,SHORT,,READ", kTangoUnknownProperty},
  };
  std::string csv = kHeader;
  for (const Row& row : rows) csv += std::string("step,") + row.line + "\r\n";
  EXPECT_TRUE(c.RunFile(csv));
  ASSERT_EQ(c.outcomes.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i)
    EXPECT_EQ(c.outcomes[i].status, rows[i].status)
        << rows[i].line << ": " << c.outcomes[i].resultText;
}

TEST_F(TangoLive, PollMeetsItsReferenceAndRefreshDeliversOnlyChanges) {
  Checker c(server());
  const std::string csv = std::string(kHeader) +
                          "set,long_scalar_w,TG-1,1,LONG,42,0,,,WRITE\r\n"
                          "poll,long_scalar_w,TG-1,0,,,1,LONG,42,POLL[timeout=3000]\r\n"
                          "poll again,long_scalar_w,TG-1,0,,,1,LONG,43,POLL[timeout=400]\r\n"
                          "refresh,long_scalar_w,TG-1,0,,,1,LONG,42,REFRESH[timeout=2000]\r\n";
  EXPECT_TRUE(c.RunFile(csv));
  ASSERT_EQ(c.outcomes.size(), 4u);
  EXPECT_EQ(c.outcomes[1].status, 0) << c.outcomes[1].resultText;
  EXPECT_NE(c.outcomes[2].status, 0);  // 43 never comes
  EXPECT_EQ(c.outcomes[3].status, 0) << c.outcomes[3].resultText;

  // A standing value: POLL delivers at every period, REFRESH only once.
  for (const char* mode : {"POLL", "REFRESH"}) {
    std::array<uint8_t, 16> area{};
    int deliveries = 0;
    c.control->setCompletionHandler([&](int32_t, int32_t code) { deliveries += code == 0; });
    c.control->setContextName("TGTEST");
    c.control->setServerName("TANGOTEST");
    c.control->setDeviceName("TG-1");
    c.control->setPropertyName("long_scalar_w");
    c.control->setAccessMode(mode);
    ASSERT_EQ(c.control->StartAccess(area, 1, kFormatLong, {}, 0, kFormatNull), 0);
    const auto end = Clock::now() + std::chrono::milliseconds(400);
    while (Clock::now() < end) {
      c.control->ProcessEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    c.control->StopAccess();
    if (std::string(mode) == "POLL")
      EXPECT_GE(deliveries, 4);
    else
      EXPECT_EQ(deliveries, 1);
    int32_t value = 0;
    std::memcpy(&value, area.data(), 4);
    EXPECT_EQ(value, 42);
  }
}

// A server that dies mid-run: every command after it fails within its
// time-out, and the report still has a line for every command.
TEST_F(TangoLive, KilledServerFailsTheRestAndTheReportIsComplete) {
  TangoTestServer own;
  std::string error;
  ASSERT_TRUE(own.Start(error)) << error;
  Checker c(own);
  std::string csv = kHeader;
  const int kCommands = 6;
  for (int i = 0; i < kCommands; ++i)
    csv += "read " + std::to_string(i) + ",double_scalar,TG-1,0,,,1,DOUBLE,,READ[timeout=500]\r\n";
  csv += "poll after,long_scalar_w,TG-1,0,,,1,LONG,1,POLL[timeout=500]\r\n";
  std::vector<double> seconds;
  auto last = Clock::now();
  c.afterCommand = [&](const CommandOutcome& o) {
    const auto now = Clock::now();
    seconds.push_back(std::chrono::duration<double>(now - last).count());
    last = now;
    if (o.index == 1) own.Kill();
  };
  EXPECT_TRUE(c.RunFile(csv));
  ASSERT_EQ(c.outcomes.size(), kCommands + 1u);
  for (size_t i = 0; i < c.outcomes.size(); ++i) {
    EXPECT_EQ(c.outcomes[i].status == 0, i <= 1) << i << ": " << c.outcomes[i].resultText;
    EXPECT_LT(seconds[i], 3.0) << i;
  }
  EXPECT_EQ(c.outcomes[2].status, kCodeServerUnavailable45) << c.outcomes[2].resultText;
  // Every command has its line after the header lines.
  const std::vector<std::string> lines = c.ReportLines();
  int commandLines = 0;
  for (const std::string& line : lines)
    commandLines += line.find(" : read ") != std::string::npos ||
                    line.find(" : poll after") != std::string::npos;
  EXPECT_EQ(commandLines, kCommands + 1);
}

// A stopped server keeps its port open and never answers: time-outs, not a hang.
TEST_F(TangoLive, StoppedServerTimesOut) {
  TangoTestServer own;
  std::string error;
  ASSERT_TRUE(own.Start(error)) << error;
  Checker c(own);
  const std::string csv = std::string(kHeader) +
                          "read,double_scalar,TG-1,0,,,1,DOUBLE,,READ[timeout=300]\r\n"
                          "poll,long_scalar_w,TG-1,0,,,1,LONG,1,POLL[timeout=300]\r\n";
  // Connect first, so that the pause meets an established connection.
  c.sources->initStdTest("TGTEST", "TANGOTEST", "TG-1");
  ASSERT_GT(c.session->plan.TestPlanCount, 0);
  own.Pause();
  const auto start = Clock::now();
  EXPECT_TRUE(c.RunFile(csv));
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  ASSERT_EQ(c.outcomes.size(), 2u);
  EXPECT_EQ(c.outcomes[0].status, kCodeLinkTimeout) << c.outcomes[0].resultText;
  EXPECT_NE(c.outcomes[1].status, 0);
  EXPECT_LT(elapsed, 5.0);
  own.Resume();
}

}  // namespace
}  // namespace dsc::tango
