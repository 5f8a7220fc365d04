#include "engine/CheckRunner.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/ControlEventPump.h"
#include "engine/Formats.h"
#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"

namespace dsc {
namespace {

using testing::FakeClock;
using testing::MemoryGrid;
using testing::ScriptedPrompt;
using testing::TempDir;
using Answer = LinkErrorPrompt::Answer;

// CTX/SRV/DEV: constants, a value that ramps towards a set point, and values
// whose asynchronous accesses deliver other completion codes between data.
constexpr const char* kFacility = R"({
  "contexts": [{"name": "CTX", "servers": [{"name": "SRV", "devices": [{"name": "DEV",
    "properties": [
      {"name": "NUM", "format": "DOUBLE", "value": 1.5},
      {"name": "VEC", "format": "DOUBLE", "values": [1, 2, 3]},
      {"name": "TXT", "format": "TEXT", "count": 16, "value": "HELLO"},
      {"name": "SET", "format": "DOUBLE", "value": 10.0, "writable": true},
      {"name": "RAMP", "format": "DOUBLE", "value": 0.0, "ramp": {"towards": "SET", "rate": 2.0}},
      {"name": "ODD", "format": "DOUBLE", "value": 1.0,
       "events": [{"after": 0, "code": 1}, {"after": 0, "code": -1}]},
      {"name": "END35", "format": "DOUBLE", "value": 1.0, "events": [{"after": 2, "code": 35}]},
      {"name": "END36", "format": "DOUBLE", "value": 1.0, "events": [{"after": 1, "code": 36}]}
    ]}]}]}]
})";

// Zorbel1 over the simulation, with a record of the accesses and members that
// raise on demand.
class TapControl final : public DataAcquisitionControl {
 public:
  struct Access {
    bool started;  // StartAccess rather than ExecuteAccess
    int32_t outCount;
    int16_t outFormat;
    int32_t inCount;
    int16_t inFormat;
  };
  explicit TapControl(DataAcquisitionControl& inner) : inner_(inner) {}

  std::vector<Access> accesses;
  int deliveries = 0;   // events that reached the handler
  std::string throwIn;  // name of the member that raises
  int throws = 0;       // how many more times it does
  std::function<void()> onThrow;

  void setContextName(const std::string& n) override {
    Raise("setContextName");
    inner_.setContextName(n);
  }
  std::string ContextName() const override { return inner_.ContextName(); }
  void setServerName(const std::string& n) override { inner_.setServerName(n); }
  std::string ServerName() const override { return inner_.ServerName(); }
  void setDeviceName(const std::string& n) override { inner_.setDeviceName(n); }
  std::string DeviceName() const override { return inner_.DeviceName(); }
  void setPropertyName(const std::string& n) override {
    Raise("setPropertyName");
    inner_.setPropertyName(n);
  }
  std::string PropertyName() const override { return inner_.PropertyName(); }
  void setAccessMode(const std::string& m) override { inner_.setAccessMode(m); }
  std::string AccessMode() const override { return inner_.AccessMode(); }
  void setLinkTimeout(int32_t ms) override { inner_.setLinkTimeout(ms); }
  int32_t LinkTimeout() const override { return inner_.LinkTimeout(); }
  std::string StatusText() const override { return inner_.StatusText(); }
  int32_t ExecuteAccess(std::span<uint8_t> out, int32_t oc, int16_t of, std::span<const uint8_t> in,
                        int32_t ic, int16_t inf) override {
    Raise("ExecuteAccess");
    accesses.push_back({false, oc, of, ic, inf});
    return inner_.ExecuteAccess(out, oc, of, in, ic, inf);
  }
  int32_t StartAccess(std::span<uint8_t> out, int32_t oc, int16_t of, std::span<const uint8_t> in,
                      int32_t ic, int16_t inf) override {
    Raise("StartAccess");
    accesses.push_back({true, oc, of, ic, inf});
    return inner_.StartAccess(out, oc, of, in, ic, inf);
  }
  void StopAccess() override { inner_.StopAccess(); }
  void setCompletionHandler(CompletionHandler h) override {
    handler_ = std::move(h);
    inner_.setCompletionHandler([this](int32_t a, int32_t c) {
      ++deliveries;
      if (handler_) handler_(a, c);
    });
  }
  void ProcessEvents() override { inner_.ProcessEvents(); }

 private:
  void Raise(const std::string& member) {
    if (member == throwIn && throws > 0) {
      --throws;
      if (onThrow) onThrow();
      throw std::runtime_error("bus fault in " + member);
    }
  }
  DataAcquisitionControl& inner_;
  CompletionHandler handler_;
};

// Keeps every text a Results cell has shown, to see the wait's progress.
class ShownGrid final : public ResultsGrid {
 public:
  explicit ShownGrid(MemoryGrid& grid) : grid_(grid) {}
  std::vector<std::string> shown;
  void Clear() override { grid_.Clear(); }
  void SetRows(int32_t rows) override { grid_.SetRows(rows); }
  void SelectRow(int32_t row) override { grid_.SelectRow(row); }
  void SelectCol(int32_t col) override { grid_.SelectCol(col); }
  void SetText(const std::string& text) override {
    if (grid_.row() > 0 && grid_.col() == 1) shown.push_back(text);
    grid_.SetText(text);
  }
  std::string Text() const override { return grid_.Text(); }
  void SetTextColor(Rgb color) override { grid_.SetTextColor(color); }
  void SetColumnWidthTwips(int32_t col, int32_t twips) override {
    grid_.SetColumnWidthTwips(col, twips);
  }

 private:
  MemoryGrid& grid_;
};

TestCommand Cmd(std::string property, std::string access, int32_t outSize, int16_t outFormat,
                std::string reference = "") {
  TestCommand c;
  c.Description = property + " check";
  c.Property = std::move(property);
  c.Device = "DEV";
  c.Access = std::move(access);
  c.OutputSize = outSize;
  c.OutputFormat = outFormat;
  c.InputFormat = kFormatNull;
  c.Reference = std::move(reference);
  return c;
}

TestCommand WithInput(TestCommand c, int32_t inSize, int16_t inFormat, std::string data) {
  c.InputSize = inSize;
  c.InputFormat = inFormat;
  c.Data = std::move(data);
  return c;
}

class CheckRunnerTest : public ::testing::Test {
 protected:
  CheckRunnerTest() {
    std::string error;
    sim_ = sim::SimControlSystem::FromText(kFacility, "runner test", clock, error);
    if (!sim_) throw std::runtime_error(error);
    simControl_ = sim::MakeSimControl(*sim_);
    tap = std::make_unique<TapControl>(*simControl_);
    pump = std::make_unique<ControlEventPump>(*tap, [this](int32_t ms) {
      clock.Advance(ms);
      if (onSleep) onSleep();
    });
    session = std::make_unique<CheckerSession>(clock, dir.path());
    runner = std::make_unique<CheckRunner>(*session, *tap, shown, prompt, *pump, clock);
    runner->setOutcomeObserver([this](const CommandOutcome& o) { outcomes.push_back(o); });
  }

  void Plan(std::vector<TestCommand> commands) {
    session->plan.TestPlanCount = static_cast<int16_t>(commands.size());
    session->plan.TestPlan = std::move(commands);
  }
  void Run() { ASSERT_TRUE(runner->RunVesk("CTX", "SRV")); }

  std::vector<std::string> ReportLines() {
    std::vector<std::string> lines;
    if (session->report.reportFileName.empty()) return lines;
    std::string all = testing::ReadFileBytes(session->report.reportFileName);
    for (size_t at = 0, end; (end = all.find("\r\n", at)) != std::string::npos; at = end + 2)
      lines.push_back(all.substr(at, end - at));
    return lines;
  }
  const MemoryGrid::Cell& Result(int32_t k) { return grid.at(k + 1, 1); }

  FakeClock clock;
  TempDir dir;
  std::unique_ptr<sim::SimControlSystem> sim_;
  std::unique_ptr<DataAcquisitionControl> simControl_;
  std::unique_ptr<TapControl> tap;
  std::function<void()> onSleep;
  std::unique_ptr<ControlEventPump> pump;
  std::unique_ptr<CheckerSession> session;
  MemoryGrid grid;
  ShownGrid shown{grid};
  ScriptedPrompt prompt;
  std::unique_ptr<CheckRunner> runner;
  std::vector<CommandOutcome> outcomes;
};

// --- synchronous commands ---------------------------------------------------

constexpr int32_t kControlsCode = INT32_MIN;  // whatever non-zero code the control gives

struct SyncCase {
  const char* name;
  TestCommand command;
  int32_t status;
  const char* result;  // nullptr: the control's status text
  int32_t outCount;    // of the one ExecuteAccess; -1: no access at all
  int32_t inCount;
};

class SyncCommand : public CheckRunnerTest, public ::testing::WithParamInterface<SyncCase> {};

TEST_P(SyncCommand, RecordsOutcomeInGridReportAndObserver) {
  const SyncCase& c = GetParam();
  Plan({c.command});
  Run();

  const std::string expected = c.result ? c.result : tap->StatusText();
  EXPECT_EQ(grid.at(1, 0).text, c.command.Description);
  EXPECT_EQ(Result(0).text, expected);
  EXPECT_EQ(Result(0).color, c.status == 0 ? kBlack : kRed);
  EXPECT_EQ(shown.shown, std::vector<std::string>{expected});  // never waited
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].resultText, expected);
  if (c.status == kControlsCode) {
    EXPECT_NE(outcomes[0].status, 0);
  } else {
    EXPECT_EQ(outcomes[0].status, c.status);
  }
  // Only an access that failed asks; a parse error or a missed target does not.
  EXPECT_EQ(prompt.asked.size(), c.result ? 0u : 1u);
  ASSERT_EQ(tap->accesses.size(), c.outCount < 0 ? 0u : 1u);
  for (const auto& a : tap->accesses) {
    EXPECT_FALSE(a.started);
    EXPECT_EQ(a.outCount, c.outCount);
    EXPECT_EQ(a.inCount, c.inCount);
  }
  EXPECT_EQ(ReportLines(), std::vector<std::string>{clock.LocalDateTime() + " : " +
                                                    c.command.Description + " : " + expected});
}

const TestCommand kSend = WithInput(Cmd("SET", "WRITE", 0, kFormatDouble), 1, kFormatDouble, "4");

TestCommand Mode(TestCommand c, std::string access) {
  c.Access = std::move(access);
  return c;
}

const SyncCase kSyncCases[] = {
    {"ReadWithoutReference", Cmd("NUM", "READ", 1, kFormatDouble), 0, "Success", 1, 0},
    {"ReadTargetMet", Cmd("NUM", "READ", 1, kFormatDouble, "1.5"), 0, "Success (Target met)", 1, 0},
    {"ReadTargetNotMet", Cmd("NUM", "READ", 1, kFormatDouble, "1.25"), kCodeTargetNotMet,
     "Target not met !", 1, 0},
    {"ReferenceWithoutOutput", Cmd("NUM", "READ", 0, kFormatDouble, "7"), 0, "Success", 0, 0},
    {"Write", kSend, 0, "Success", 0, 1},
    // Sending only never waits, whatever the mode.
    {"SendWithPoll", Mode(kSend, "POLL[timeout=5000]"), 0, "Success", 0, 1},
    {"SendWithRefresh", Mode(kSend, "REFRESH"), 0, "Success", 0, 1},
    {"ParseError", WithInput(kSend, 3, kFormatDouble, "1 2"), kCodeParseError,
     "Input data : parse error", -1, 0},
    // A format without element size switches its direction off.
    {"NoElementSize", Cmd("NUM", "READ", 10, kFormatNull), 0, "Success", 0, 0},
    {"UnknownPropertyCancelled", Cmd("NOSUCH", "READ", 1, kFormatDouble), kControlsCode, nullptr, 1,
     0},
};

INSTANTIATE_TEST_SUITE_P(Runner, SyncCommand, ::testing::ValuesIn(kSyncCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CheckRunnerTest, EmptyPlanShowsHeaderOnlyAndStillNamesTheServer) {
  session->plan.TestPlan = {Cmd("NUM", "READ", 1, kFormatDouble)};  // beyond the count
  session->plan.TestPlanCount = 0;
  Run();
  EXPECT_EQ(grid.rows(), 1);
  EXPECT_EQ(grid.at(0, 0).text, " Action ");
  EXPECT_EQ(grid.at(0, 1).text, " Results ");
  EXPECT_EQ(grid.widths, (std::map<int32_t, int32_t>{{0, 2000}, {1, 4000}}));
  EXPECT_TRUE(tap->accesses.empty());
  EXPECT_TRUE(session->report.reportFileName.empty());
  EXPECT_EQ(tap->ContextName(), "CTX");
  EXPECT_EQ(tap->ServerName(), "SRV");
}

TEST_F(CheckRunnerTest, ShortReferenceComparesOnlyTheBytesItSet) {
  // Left over from an earlier command: must not decide the outcome.
  session->run.referenceBuffer.fill(0x55);
  Plan({Cmd("TXT", "READ", 16, kFormatText, "HELLO"),
        Cmd("TXT", "POLL[timeout=1000]", 16, kFormatText, "HELLO"),
        Cmd("TXT", "READ", 16, kFormatText, "HELP"), Cmd("VEC", "READ", 3, kFormatDouble, "1"),
        Cmd("VEC", "POLL", 3, kFormatDouble, "1 2"), Cmd("VEC", "READ", 3, kFormatDouble, "1 3")});
  Run();
  for (int k : {0, 1, 3, 4}) EXPECT_EQ(Result(k).text, "Success (Target met)") << k;
  for (int k : {2, 5}) EXPECT_EQ(Result(k).text, "Target not met !") << k;
}

// --- failed accesses, Retry and Cancel ----------------------------------------

TEST_F(CheckRunnerTest, RetryParsesTheReferenceAgain) {
  tap->throwIn = "ExecuteAccess";
  tap->throws = 1;
  tap->onThrow = [&] { session->run.referenceBuffer.fill(0xEE); };
  prompt.answers = {Answer::Retry};
  Plan({Cmd("NUM", "READ", 1, kFormatDouble, "1.5")});
  Run();
  EXPECT_EQ(prompt.asked.size(), 1u);
  EXPECT_EQ(Result(0).text, "Success (Target met)");
}

struct FaultCase {
  const char* member;
  const char* access;
  int throws;
  std::deque<Answer> answers;
  const char* prompted;  // the names as the control reports them after the fault
  const char* result;
};

class ThrowingControl : public CheckRunnerTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ThrowingControl, IsRecordedAsFailedAccessAndTheRunGoesOn) {
  const FaultCase& c = GetParam();
  tap->throwIn = c.member;
  tap->throws = c.throws;
  prompt.answers = c.answers;
  Plan({Cmd("NUM", c.access, 1, kFormatDouble), Cmd("NUM", "READ", 1, kFormatDouble)});
  Run();
  ASSERT_EQ(prompt.asked.size(), 1u);
  EXPECT_EQ(prompt.asked[0].first, "Link Error");
  EXPECT_EQ(prompt.asked[0].second, c.prompted + std::string("  ->  bus fault in ") + c.member);
  EXPECT_EQ(Result(0).text, c.result);
  EXPECT_EQ(Result(0).color, c.answers.empty() ? kRed : kBlack);
  EXPECT_EQ(Result(1).text, "Success");
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[0].status, c.answers.empty() ? kCodeControlFault : 0);
  EXPECT_EQ(ReportLines().size(), 2u);
  EXPECT_FALSE(session->runInProgress);
}

INSTANTIATE_TEST_SUITE_P(
    Runner, ThrowingControl,
    ::testing::Values(
        FaultCase{
            "ExecuteAccess", "READ", 1, {}, "/CTX/SRV/DEV[NUM]", "bus fault in ExecuteAccess"},
        FaultCase{"StartAccess", "POLL", 1, {}, "/CTX/SRV/DEV[NUM]", "bus fault in StartAccess"},
        // A setter that raised is tried again by the next attempt.
        FaultCase{"setPropertyName", "READ", 2, {Answer::Retry}, "/CTX/SRV/[]", "Success"},
        FaultCase{"setContextName", "READ", 2, {Answer::Retry}, "///DEV[NUM]", "Success"}),
    [](const auto& info) { return std::string(info.param.member); });

// --- asynchronous commands ---------------------------------------------------

TEST_F(CheckRunnerTest, PollWaitsForARampingValueToMeetTheTarget) {
  Plan({Cmd("RAMP", "POLL[timeout=10000]", 1, kFormatDouble, "10")});
  Run();
  EXPECT_EQ(Result(0).text, "Success (Target met)");
  EXPECT_EQ(Result(0).color, kBlack);
  ASSERT_EQ(tap->accesses.size(), 1u);
  EXPECT_TRUE(tap->accesses[0].started);
  EXPECT_GT(tap->deliveries, 2);
  EXPECT_EQ(shown.shown.at(0), "Waiting .");
  EXPECT_TRUE(prompt.asked.empty());
}

TEST_F(CheckRunnerTest, TimeOutAsksWithTheCommandsNamesAndRecords93) {
  const int64_t start = clock.NowMs();
  Plan({Cmd("NUM", "POLL[timeout=1000]", 1, kFormatDouble, "99")});
  Run();
  // One-second clock: a limit of 1 s gives up once the clock passes start + 1.
  EXPECT_EQ(clock.NowMs() - start, 2000);
  ASSERT_EQ(prompt.asked.size(), 1u);
  EXPECT_EQ(prompt.asked[0].second, "/CTX/SRV/DEV[NUM]  ->  timed out waiting for reference");
  EXPECT_EQ(Result(0).text, "timed out waiting for reference");
  EXPECT_EQ(Result(0).color, kRed);
  EXPECT_EQ(outcomes.at(0).status, kCodeTimedOut);
  EXPECT_EQ(shown.shown, (std::vector<std::string>{"Waiting .", "Waiting ..", "Waiting ...",
                                                   "timed out waiting for reference"}));
}

struct EventCase {
  const char* property;
  const char* reference;
  int32_t status;
  int deliveries;  // events the handler saw
};

class AsyncEvents : public CheckRunnerTest, public ::testing::WithParamInterface<EventCase> {};

TEST_P(AsyncEvents, OnlyDataAnd35Or36EndTheWait) {
  const EventCase& c = GetParam();
  Plan({Cmd(c.property, "POLL[timeout=1000]", 1, kFormatDouble, c.reference)});
  Run();
  EXPECT_EQ(outcomes.at(0).status, c.status);
  EXPECT_EQ(tap->deliveries, c.deliveries);
  EXPECT_EQ(prompt.asked.size(), c.status == 0 ? 0u : 1u);
  if (c.status != 0 && c.status != kCodeTimedOut) {
    EXPECT_EQ(Result(0).text, tap->StatusText());
  }
}

// Deliveries every 250 ms; codes 1 and -1 come before the data.
INSTANTIATE_TEST_SUITE_P(
    Runner, AsyncEvents,
    ::testing::Values(EventCase{"ODD", "", 0, 3}, EventCase{"ODD", "99", kCodeTimedOut, 7},
                      EventCase{"END35", "99", 35, 3}, EventCase{"END36", "99", 36, 2},
                      EventCase{"NUM", "", 0, 1}),
    [](const auto& info) {
      return std::string(info.param.property) + (*info.param.reference ? "WithReference" : "");
    });

TEST_F(CheckRunnerTest, SecondRunDuringAWaitIsRefused) {
  std::vector<bool> nested;
  onSleep = [&] {
    if (nested.empty()) nested.push_back(runner->RunVesk("OTHER", "SERVER"));
  };
  Plan({Cmd("RAMP", "POLL[timeout=10000]", 1, kFormatDouble, "10"),
        Cmd("NUM", "READ", 1, kFormatDouble)});
  Run();
  EXPECT_EQ(nested, std::vector<bool>{false});
  EXPECT_EQ(tap->ContextName(), "CTX");
  EXPECT_EQ(grid.rows(), 3);
  EXPECT_EQ(Result(1).text, "Success");
  EXPECT_FALSE(session->runInProgress);
  onSleep = nullptr;
  EXPECT_TRUE(runner->RunVesk("CTX", "SRV"));
}

}  // namespace
}  // namespace dsc
