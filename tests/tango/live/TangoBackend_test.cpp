// The Tango backend against Debian's TangoTest device server, started for the
// tests on a free loopback port without a Tango database.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "access/CompletionCodes.h"
#include "access/NamespaceQueries.h"
#include "app/RunOutputs.h"
#include "base/Formats.h"
#include "engine/CheckRunner.h"
#include "engine/CheckerSession.h"
#include "engine/ControlEventPump.h"
#include "sources/TestSources.h"
#include "tango/TangoBackend.h"
#include "tests/support/Fakes.h"
#include "tests/support/TangoTestServer.h"
#include "tests/tango/live/LiveChecker.h"

namespace dsc::tango {
namespace {

using dsc::testing::MemoryGrid;
using dsc::testing::ScriptedPrompt;
using dsc::testing::TangoTestServer;
using dsc::testing::TempDir;
using Clock = std::chrono::steady_clock;

Site Loaded(const std::string& json) {
  std::string error;
  std::optional<Site> site = LoadSite(json, "test site", error);
  if (!site) throw std::runtime_error(error);
  return std::move(*site);
}

// The site file with more fields in its context.
std::string With(std::string site, const std::string& fields) {
  return site.insert(site.find("\"pollMs\""), fields);
}

// One checker on one TangoTest: the library, Zorbel1, a session with its
// report in a temporary directory, and the runner with in-memory front ends.
struct Checker : LiveChecker {
  explicit Checker(const TangoTestServer& server, const std::string& contextFields = "")
      : LiveChecker(Loaded(With(server.SiteJson(), contextFields))) {}

  // Runs the test file text as TGTEST-TANGOTEST.csv.
  bool RunFile(const std::string& csv) {
    database.write("TGTEST-TANGOTEST.csv", csv);
    if (sources.initSelfText("TGTEST", "TANGOTEST", "#0") != 0) return false;
    return runner.RunVesk("TGTEST", "TANGOTEST");
  }
};

constexpr const char* kHeader =
    "Description,Property,Device,InputSize,InputFormat,Data,OutputSize,OutputFormat,Reference,"
    "Access\r\n";

// One server for the tests that do not stop theirs.
class TangoLive : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!TangoTestServer::Installed()) return;
    server_ = std::make_unique<TangoTestServer>();
    if (!server_->Start(startError_)) server_.reset();
  }
  static void TearDownTestSuite() { server_.reset(); }
  void SetUp() override {
    if (!TangoTestServer::Installed())
      GTEST_SKIP() << TangoTestServer::Executable() << " is not installed (package tango-test)";
    ASSERT_NE(server_, nullptr) << startError_;
  }
  static TangoTestServer& server() { return *server_; }

 private:
  inline static std::unique_ptr<TangoTestServer> server_;
  inline static std::string startError_;
};

TEST_F(TangoLive, NamespaceComesFromTheSiteAndTheDevice) {
  Checker c(server());
  std::vector<std::string> names;
  int16_t n = 0;
  auto listed = [&] { return std::vector<std::string>(names.begin(), names.begin() + n); };
  ASSERT_EQ(GetContextList(c.library, names, n), 0);
  EXPECT_EQ(listed(), std::vector<std::string>{"TGTEST"});
  ASSERT_EQ(GetServerList(c.library, "TGTEST", names, n), 0);
  EXPECT_EQ(listed(), std::vector<std::string>{"TANGOTEST"});
  ASSERT_EQ(GetDeviceNameList(c.library, "TANGOTEST", names, n), 0);
  EXPECT_EQ(listed(), std::vector<std::string>{"TG-1"});

  std::vector<int16_t> sizes, formats;
  ASSERT_EQ(GetPropertyList(c.library, "/TGTEST/TANGOTEST/TG-1", names, sizes, formats, n), 0);
  std::map<std::string, std::string> got;
  for (int i = 0; i < n; ++i)
    got[names[i]] += std::to_string(sizes[i]) + " " + FormatNameFromCode(formats[i]) + ";";
  // The types whose format is not their namesake (the rest are run below);
  // State and Status are attributes first; commands that need input declare
  // no size, so no standard test ever runs them.
  const std::pair<const char*, const char*> expected[] = {{"uchar_scalar", "1 BYTE;"},
                                                          {"string_scalar", "256 TEXT;"},
                                                          {"ushort_scalar", "1 LONG;"},
                                                          {"boolean_scalar", "1 BYTE;"},
                                                          {"double_spectrum", "4096 DOUBLE;"},
                                                          {"string_spectrum", "256 NULL;"},
                                                          {"State", "1 BYTE;"},
                                                          {"DevDouble", "0 DOUBLE;"},
                                                          {"Init", "0 NULL;"}};
  for (const auto& [name, entry] : expected) EXPECT_EQ(got[name], entry) << name;

  // Unknown names fail with their own codes.
  const std::pair<const char*, int16_t> unknown[] = {{"/NOPE/TANGOTEST/TG-1", kTangoUnknownContext},
                                                     {"/TGTEST/NOPE/TG-1", kTangoUnknownServer},
                                                     {"/TGTEST/TANGOTEST/X", kTangoUnknownDevice}};
  for (const auto& [device, code] : unknown)
    EXPECT_EQ(GetPropertyList(c.library, device, names, sizes, formats, n), code) << device;
}

TEST_F(TangoLive, StandardTestReadsEveryAttributeThatDeliversData) {
  Checker c(server());
  c.sources.initStdTest("TGTEST", "TANGOTEST", "TG-1");
  ASSERT_GT(c.session.plan.TestPlanCount, 40);
  EXPECT_TRUE(c.runner.RunVesk("TGTEST", "TANGOTEST"));
  ASSERT_EQ(static_cast<int>(c.outcomes.size()), c.session.plan.TestPlanCount);
  // TangoTest fails exactly these two on purpose, as errors of the device.
  const std::set<std::string> failing = {"no_value", "throw_exception"};
  for (const Checker::Seen& o : c.outcomes) {
    SCOPED_TRACE(o.property);
    EXPECT_EQ(o.status, failing.count(o.property) ? kTangoDeviceError : 0) << o.resultText;
  }
  const auto thrown = std::find_if(c.outcomes.begin(), c.outcomes.end(),
                                   [](auto& o) { return o.property == "throw_exception"; });
  ASSERT_NE(thrown, c.outcomes.end());
  // Tango's reason, then the first line of its description.
  EXPECT_EQ(thrown->resultText, "exception test: here is the exception you requested");
  EXPECT_NE(c.session.serverInfoText.find("srv vers: TangoTest/test IDL"), std::string::npos);
}

// The JSON lines of a standard test carry every numeric scalar's value, and
// a reference that is not met shows what was expected against what was read.
TEST_F(TangoLive, JsonLinesCarryValuesAndExpectedAgainstActual) {
  Checker c(server());
  std::ostringstream lines;
  JsonWriter json(lines, false);
  c.runner.addObserver(json);
  ASSERT_EQ(c.sources.initStdTest("TGTEST", "TANGOTEST", "TG-1"), 0);
  EXPECT_TRUE(c.runner.RunVesk("TGTEST", "TANGOTEST"));
  std::map<std::string, nlohmann::json> byProperty;
  std::istringstream in(lines.str());
  for (std::string line; std::getline(in, line);) {
    const nlohmann::json j = nlohmann::json::parse(line);
    byProperty[j["property"]] = j;
  }
  for (const char* scalar :
       {"double_scalar", "float_scalar", "long_scalar", "long64_scalar", "short_scalar",
        "uchar_scalar", "ulong_scalar", "ushort_scalar", "ulong64_scalar", "ampli"}) {
    ASSERT_TRUE(byProperty.count(scalar)) << scalar;
    EXPECT_TRUE(byProperty[scalar]["value"].is_number()) << byProperty[scalar].dump();
  }

  lines.str("");
  ASSERT_TRUE(c.RunFile(std::string(kHeader) +
                        "set,short_scalar_w,TG-1,1,SHORT,7,0,,,WRITE\r\n"
                        "read,short_scalar_w,TG-1,0,,,1,SHORT,12345,READ\r\n"));
  const std::string text = lines.str();
  const nlohmann::json read = nlohmann::json::parse(text.substr(text.find('\n') + 1));
  EXPECT_EQ(read["outcome"], "failed");
  EXPECT_EQ(read["expected"], 12345);
  EXPECT_EQ(read["value"], 7);
  c.runner.removeObserver(json);
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
      // Read back in another layout than Tango's: booleans as bytes, unsigned
      // shorts as longs.
      {"boolean_spectrum,TG-1,3,BYTE,1 0 1,3,BYTE,1 0 1,WRITE", 0},
      {"ushort_spectrum,TG-1,2,LONG,65535 3,2,LONG,65535 3,WRITE", 0},
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
      // A value the target type cannot hold is refused, never wrapped.
      {"DevUShort,TG-1,1,LONG,70000,1,LONG,,READ", kTangoIllegalFormat},
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
  EXPECT_EQ(c.outcomes[2].status, kCodeTimedOut);  // 43 never comes
  EXPECT_EQ(c.outcomes[3].status, 0) << c.outcomes[3].resultText;

  // A standing value: POLL delivers at every period, REFRESH only once.
  for (const bool poll : {true, false}) {
    int32_t value = 0;
    int deliveries = 0;
    c.control->setCompletionHandler([&](int32_t, int32_t code) { deliveries += code == 0; });
    c.control->setContextName("TGTEST");
    c.control->setServerName("TANGOTEST");
    c.control->setDeviceName("TG-1");
    c.control->setPropertyName("long_scalar_w");
    c.control->setAccessMode(poll ? "POLL" : "REFRESH");
    ASSERT_EQ(c.control->StartAccess({reinterpret_cast<uint8_t*>(&value), 4}, 1, kFormatLong, {}, 0,
                                     kFormatNull),
              0);
    for (const auto end = Clock::now() + std::chrono::milliseconds(400); Clock::now() < end;) {
      c.control->ProcessEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    c.control->StopAccess();
    EXPECT_TRUE(poll ? deliveries >= 4 : deliveries == 1) << poll << " " << deliveries;
    EXPECT_EQ(value, 42);
  }
}

// The State is read by name; with failOnState a FAULT fails the read.
TEST_F(TangoLive, StateIsNamedAndFaultFailsWhereAsked) {
  for (const bool failOnState : {false, true}) {
    SCOPED_TRACE(failOnState);
    Checker c(server(), failOnState ? "\"failOnState\": true, " : "");
    const std::string csv = std::string(kHeader) +
                            "before,State,TG-1,0,,,1,BYTE,,READ\r\n"
                            "switch,SwitchStates,TG-1,0,,,0,,,READ\r\n"
                            "after,State,TG-1,0,,,1,BYTE,,READ\r\n"
                            "switch back,SwitchStates,TG-1,0,,,0,,,READ\r\n";
    c.RunFile(csv);
    ASSERT_EQ(c.outcomes.size(), 4u);
    EXPECT_EQ(c.outcomes[0].status, 0);
    EXPECT_EQ(c.outcomes[0].resultText, "Success: state RUNNING");
    EXPECT_EQ(c.outcomes[2].status, failOnState ? kTangoBadState : 0);
    EXPECT_EQ(c.outcomes[2].resultText, failOnState ? "state FAULT" : "Success: state FAULT")
        << c.outcomes[2].resultText;
    EXPECT_EQ(c.outcomes[3].status, 0);
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
  const std::string report = dsc::testing::ReadFileBytes(c.session.report.reportFileName);
  int commandLines = 0;
  for (const char* line : {" : read ", " : poll after : "})
    for (size_t at = 0; (at = report.find(line, at)) != std::string::npos; ++at) ++commandLines;
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
  c.sources.initStdTest("TGTEST", "TANGOTEST", "TG-1");
  ASSERT_GT(c.session.plan.TestPlanCount, 0);
  own.Pause();
  // Preparing asks the silent server too (its self-test list, 800 ms); the
  // run's two commands then cost their own time-outs, not Tango's 3 s each.
  c.database.write("TGTEST-TANGOTEST.csv", csv);
  ASSERT_EQ(c.sources.initSelfText("TGTEST", "TANGOTEST", "#0"), 0);
  const auto start = Clock::now();
  EXPECT_TRUE(c.runner.RunVesk("TGTEST", "TANGOTEST"));
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  ASSERT_EQ(c.outcomes.size(), 2u);
  EXPECT_EQ(c.outcomes[0].status, kCodeLinkTimeout) << c.outcomes[0].resultText;
  EXPECT_EQ(c.outcomes[1].status, kCodeTimedOut) << c.outcomes[1].resultText;
  EXPECT_LT(elapsed, 4.0);
  const std::string info = c.sources.GetServerInfo("TGTEST", "TANGOTEST");
  EXPECT_EQ(info.rfind("srv vers: unavailable -> server not answering\r\n", 0), 0u) << info;
  own.Resume();
}

// A server already hung when the checker first contacts it: the connection
// itself is bound by the access's time-out, so the information costs at most
// its four reads' time-outs and the property list its own time-out.
TEST_F(TangoLive, ServerHungBeforeFirstContactCostsOnlyItsTimeOuts) {
  TangoTestServer own;
  std::string error;
  ASSERT_TRUE(own.Start(error)) << error;
  own.Pause();
  auto seconds = [](const std::function<void()>& f) {
    const auto start = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  {
    Checker c(own);
    std::string info;
    EXPECT_LE(seconds([&] { info = c.sources.GetServerInfo("TGTEST", "TANGOTEST"); }),
              4 * 0.5 + 0.5);
    EXPECT_EQ(info.rfind("srv vers: unavailable -> server not answering\r\n", 0), 0u) << info;
  }
  {
    Checker c(own);
    std::vector<std::string> names;
    std::vector<int16_t> sizes, formats;
    int16_t n = 0;
    int16_t code = 0;
    // The property list's time-out is 3 s.
    EXPECT_LE(seconds([&] {
                code =
                    GetPropertyList(c.library, "/TGTEST/TANGOTEST/TG-1", names, sizes, formats, n);
              }),
              3.0 + 0.5);
    EXPECT_NE(code, 0);
  }
  own.Resume();
}

// A server that stops answering in the middle of a standard test costs at
// most K+1 time-outs with maxLinkFailures K: K failed accesses, then the rest
// of its commands are not run.
TEST_F(TangoLive, StoppedServerCostsAtMostKPlusOneTimeOuts) {
  TangoTestServer own;
  std::string error;
  ASSERT_TRUE(own.Start(error)) << error;
  Checker c(own);
  ASSERT_EQ(c.sources.initStdTest("TGTEST", "TANGOTEST", "TG-1"), 0);
  const int32_t planned = c.session.plan.TestPlanCount;
  ASSERT_GT(planned, 20);
  constexpr int32_t kMax = 2;
  c.runner.setOptions({.maxLinkFailures = kMax});
  Clock::time_point paused;
  c.afterCommand = [&](const CommandOutcome& o) {
    if (o.index != 4) return;
    own.Pause();
    paused = Clock::now();
  };
  EXPECT_TRUE(c.runner.RunVesk("TGTEST", "TANGOTEST"));
  const double afterPause = std::chrono::duration<double>(Clock::now() - paused).count();
  own.Resume();
  ASSERT_EQ(c.outcomes.size(), static_cast<size_t>(planned));
  // Reads the backend still answers from what it holds may pass after the
  // pause; from the first time-out on, exactly K accesses fail and the rest
  // is not run.
  size_t first = 5;
  while (first < c.outcomes.size() && c.outcomes[first].status != kCodeLinkTimeout) ++first;
  ASSERT_LT(first + kMax, c.outcomes.size());
  for (size_t i = first; i < first + kMax; ++i)
    EXPECT_EQ(c.outcomes[i].status, kCodeLinkTimeout) << c.outcomes[i].property;
  for (size_t i = first + kMax; i < c.outcomes.size(); ++i)
    EXPECT_EQ(c.outcomes[i].resultText, "Not run : server not answering") << c.outcomes[i].property;
  // Without the limit, the 30-odd commands left would cost a time-out each.
  EXPECT_LT(afterPause, (kMax + 1) * 3.0);
}

}  // namespace
}  // namespace dsc::tango
