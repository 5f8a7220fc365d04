#include "engine/CheckRunner.h"
#include "engine/ConfiguredRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <tuple>

#include "access/ForwardingControl.h"
#include "base/Formats.h"
#include "engine/ControlEventPump.h"
#include "engine/ValueDecoding.h"
#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"
#include "tests/support/Recording.h"

namespace dsc {
namespace {

// CTX/SRV/DEV: constants, a slow one, a value that ramps towards a set point,
// and values whose asynchronous accesses deliver other completion codes
// between data; GONE answers as a server that is not there. Any other
// property name fails its access as a name the server does not have.
constexpr const char* kFacility = R"({
  "contexts": [{"name": "CTX", "servers": [{"name": "SRV", "devices": [{"name": "DEV",
    "properties": [
      {"name": "NUM", "format": "DOUBLE", "value": 1.5},
      {"name": "SNUM", "format": "SINGLE", "value": 1.5},
      {"name": "ZERO", "format": "DOUBLE", "value": 0.0},
      {"name": "SLOW", "format": "DOUBLE", "value": 2.0, "delayMs": 1500},
      {"name": "VEC", "format": "DOUBLE", "values": [1, 2, 3]},
      {"name": "LIST", "format": "LONG", "values": [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]},
      {"name": "TXT", "format": "TEXT", "count": 16, "value": "HELLO"},
      {"name": "SET", "format": "DOUBLE", "value": 10.0, "writable": true},
      {"name": "RAMP", "format": "DOUBLE", "value": 0.0, "ramp": {"towards": "SET", "rate": 2.0}},
      {"name": "ODD", "format": "DOUBLE", "value": 1.0,
       "events": [{"after": 0, "code": 1}, {"after": 0, "code": -1}]},
      {"name": "END35", "format": "DOUBLE", "value": 1.0, "events": [{"after": 2, "code": 35}]},
      {"name": "END36", "format": "DOUBLE", "value": 1.0, "events": [{"after": 1, "code": 36}]},
      {"name": "GONE", "format": "DOUBLE", "value": 1.0, "code": 45}
    ]}]}]}]
})";

// Reads outSize values of property, or with inSize sends data as doubles.
TestCommand Cmd(std::string property, std::string access = "READ", int32_t outSize = 1,
                std::string reference = "", int16_t outFormat = kFormatDouble, int32_t inSize = 0,
                std::string data = "") {
  const int16_t inFormat = inSize ? kFormatDouble : kFormatNull;
  return TestCommand(property + " check", property, "DEV", std::move(access), inSize, outSize,
                     inFormat, outFormat, std::move(data), std::move(reference));
}

TestCommand Within(TestCommand c, std::string tolerance) {
  c.Tolerance = std::move(tolerance);
  return c;
}

// Keeps the outcomes and summaries, and can act when a command starts.
class CheckRunnerTest : public ::testing::Test, public RunObserver {
 protected:
  CheckRunnerTest() {
    runner.setOutcomeObserver([this](const CommandOutcome& o) { outcomes.push_back(o); });
    runner.addObserver(*this);
  }
  void CommandStarted(int32_t k, const TestCommand&) override {
    if (onCommand) onCommand(k);
  }
  void ServerEnded(const RunSummary& s) override { summaries.push_back(s); }
  void ValueDelivered(int32_t k, int64_t atMs, const DecodedValue& v) override {
    deliveries.push_back({k, atMs, v.numbers.empty() ? -1.0 : v.numbers[0]});
  }
  void Run(std::vector<TestCommand> commands) {
    session.plan.TestPlanCount = static_cast<int16_t>(commands.size());
    session.plan.TestPlan = std::move(commands);
    ASSERT_TRUE(runner.RunVesk("CTX", "SRV"));
  }
  const testing::MemoryGrid::Cell& Result(int32_t k) { return grid.at(k + 1, 1); }
  std::string Report() { return testing::ReadFileBytes(session.report.reportFileName); }
  std::string Line(const std::string& text) {
    return clock.LocalDateTime() + " : " + text + "\r\n";
  }

  testing::FakeClock clock;
  testing::TempDir dir;
  std::string error;  // the facility is fixed: it loads
  std::unique_ptr<sim::SimControlSystem> sim =
      sim::SimControlSystem::FromText(kFacility, "runner test", clock, error);
  std::unique_ptr<DataAcquisitionControl> simControl = sim::MakeSimControl(*sim);
  testing::RecordingControl tap{*simControl};
  std::function<void()> onSleep;
  ControlEventPump pump{tap, [this](int32_t ms) {
                          clock.Advance(ms);
                          if (onSleep) onSleep();
                        }};
  CheckerSession session{clock, dir.path()};
  testing::MemoryGrid grid;
  testing::ScriptedPrompt prompt;
  CheckRunner runner{session, tap, grid, prompt, pump, clock};
  std::vector<CommandOutcome> outcomes;
  std::function<void(int32_t)> onCommand;
  std::vector<RunSummary> summaries;
  struct Delivery {
    int32_t index;
    int64_t atMs;
    double value;
  };
  std::vector<Delivery> deliveries;
};

// The command; its status (-1: whatever non-zero code the control gives); the
// accesses; the time waited, while the Results cell shows "Waiting ." and a dot
// more each second; the value read, and after " ? " the reference it was
// compared with.
using CommandCase = std::tuple<TestCommand, int32_t, const char*, int64_t, std::string>;

class OneCommand : public CheckRunnerTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(OneCommand, RecordsOutcomeInGridReportAndObservers) {
  const auto& [command, status, accesses, waitedMs, values] = GetParam();
  SCOPED_TRACE(command.Property + " " + command.Access);
  const int64_t start = clock.NowMs();
  Run({command});
  EXPECT_EQ(clock.NowMs() - start, waitedMs);
  // The result each status shows; the others show the control's status text.
  const std::map<int32_t, std::string> texts{
      {0, values.find(" ? ") != std::string::npos ? "Success (Target met)" : "Success"},
      {kCodeTargetNotMet, "Target not met !"},
      {kCodeParseError, "Input data : parse error"},
      {kCodeTimedOut, "timed out waiting for reference"}};
  const std::string expected = texts.contains(status) ? texts.at(status) : tap.StatusText();
  EXPECT_EQ(Result(0).color, status == 0 ? kBlack : kRed);
  std::vector<std::string> shown{" Results "};
  for (int64_t n = 1; waitedMs > 0 && n <= 1 + waitedMs / 1000; ++n)
    shown.push_back("Waiting " + std::string(n, '.'));
  shown.push_back(expected);
  EXPECT_EQ(grid.resultHistory, shown);
  const CommandOutcome& o = outcomes.at(0);
  EXPECT_EQ(o.resultText, expected);
  EXPECT_TRUE(status < 0 ? !o.outcome.passed() : o.outcome.code == status);
  EXPECT_EQ(o.actual.Display() + (o.compared ? " ? " + o.expected.Display() : ""), values);
  // Only an access that failed asks; a parse error or a missed target does not.
  const bool asks = status != 0 && status != kCodeParseError && status != kCodeTargetNotMet;
  EXPECT_EQ(o.accessFailed(), asks);
  const std::string asked = "/CTX/SRV/DEV[" + command.Property + "]  ->  " + expected;
  EXPECT_EQ(prompt.asked, decltype(prompt.asked)(asks ? 1 : 0, {"Link Error", asked}));
  EXPECT_EQ(tap.accesses, accesses);
  EXPECT_EQ(Report(), Line(command.Description + " : " + expected));
  EXPECT_EQ(std::pair(summaries.at(0).run, summaries.at(0).failed), std::pair(1, status ? 1 : 0));
}

const CommandCase kCommandCases[] = {
    {Cmd("NUM", "READ", 1, "1.5"), 0, "Execute 1/0;", 0, "1.5 ? 1.5"},
    {Cmd("NUM", "READ", 1, "1.25"), kCodeTargetNotMet, "Execute 1/0;", 0, "1.5 ? 1.25"},
    {Cmd("NUM", "READ", 0, "7"), 0, "Execute 0/0;", 0, ""},  // a reference without output
    // A list is cut for show.
    {Cmd("LIST", "READ", 10, "", kFormatLong), 0, "Execute 10/0;", 0,
     "[1, 2, 3, 4, 5, 6, 7, 8, ... 2 more]"},
    {Cmd("TXT", "READ", 16, "HELLO", kFormatText), 0, "Execute 16/0;", 0, "\"HELLO\" ? \"HELLO\""},
    // Sending only never waits, whatever the mode.
    {Cmd("SET", "POLL[timeout=5000]", 0, "", kFormatDouble, 1, "4"), 0, "Execute 0/1;", 0, ""},
    // Fewer or more values than announced.
    {Cmd("SET", "WRITE", 0, "", kFormatDouble, 3, "1 2"), kCodeParseError, "", 0, ""},
    {Cmd("SET", "WRITE", 0, "", kFormatDouble, 1, "4 5"), kCodeParseError, "", 0, ""},
    // A reference the parser cannot convert sets no bytes and is never met,
    // even where the untouched area happens to equal the answer.
    {Cmd("ZERO", "READ", 8, "0", kFormatStruct), kCodeTargetNotMet, "Execute 8/0;", 0,
     "[<00 00 00 00 00 00 00 00>] ? "},
    // The command's own time-out reaches the control; without one it is 1 s.
    {Cmd("SLOW", "READ[timeout=3000]"), 0, "Execute 1/0;", 0, "2"},
    {Cmd("SLOW"), kCodeLinkTimeout, "Execute 1/0;", 0, ""},
    // A format without element size switches its direction off.
    {Cmd("NUM", "READ", 10, "", kFormatNull), 0, "Execute 0/0;", 0, ""},
    {Cmd("NOSUCH"), -1, "Execute 1/0;", 0, ""},
    {Cmd("RAMP", "POLL[timeout=10000]", 1, "10"), 0, "Start 1/0;", 5200, "10 ? 10"},
    {Cmd("RAMP", "REFRESH[timeout=10000]", 1, "10"), 0, "Start 1/0;", 5200, "10 ? 10"},
    // POLL stops as soon as the ramp is within the tolerance.
    {Within(Cmd("RAMP", "POLL[timeout=10000]", 1, "10"), "1"), 0, "Start 1/0;", 4900,
     "9.599999999999998 ? 10"},
    // One-second clock: the wait gives up once the clock passes start + the
    // time-out in whole seconds, halves to even (1500 ms: 2 s, 2500 ms: 2 s).
    {Cmd("NUM", "POLL[timeout=1500]", 1, "99"), kCodeTimedOut, "Start 1/0;", 3000, ""},
    {Cmd("NUM", "POLL[timeout=2500]", 1, "99"), kCodeTimedOut, "Start 1/0;", 3000, ""},
    // Events come every 250 ms, seen at 100 ms steps; only data and codes 35 and 36 end the wait.
    {Cmd("ODD", "POLL"), 0, "Start 1/0;", 700, "1"},
    {Cmd("END35", "POLL", 1, "99"), 35, "Start 1/0;", 700, ""},
    {Cmd("END36", "POLL", 1, "99"), 36, "Start 1/0;", 400, ""},
};

// Named by property, access and place: ".../NUM_POLL_timeout_1500_16".
INSTANTIATE_TEST_SUITE_P(Runner, OneCommand, ::testing::ValuesIn(kCommandCases),
                         [](const auto& info) {
                           const TestCommand& c = std::get<0>(info.param);
                           return testing::CaseName(c.Property + " " + c.Access + " " +
                                                    std::to_string(info.index));
                         });

// Every value a poll is delivered while it waits reaches the observers in
// order, with its time since the command started, the last one the value
// that met the reference; a synchronous read delivers nothing.
TEST_F(CheckRunnerTest, PollDeliveriesReachTheObserversOverTime) {
  Run({Cmd("NUM"), Cmd("RAMP", "POLL[timeout=10000]", 1, "10")});
  ASSERT_GE(deliveries.size(), 10u);
  for (size_t i = 0; i < deliveries.size(); ++i) {
    EXPECT_EQ(deliveries[i].index, 1);
    if (i == 0) continue;
    EXPECT_GT(deliveries[i].atMs, deliveries[i - 1].atMs);
    EXPECT_GT(deliveries[i].value, deliveries[i - 1].value);
  }
  EXPECT_EQ(deliveries.back().value, 10.0);
  EXPECT_LE(deliveries.back().atMs, outcomes.at(1).elapsedMs);
  EXPECT_GT(deliveries.back().atMs, outcomes.at(1).elapsedMs - 250);
}

// Only the bytes a reference set take part: what an earlier command left in
// the buffer must not decide. A tolerance (absolute, relative, or the larger
// of both) applies to every element; an unreadable one compares exactly.
TEST_F(CheckRunnerTest, ReferencesCompareTheBytesTheySetWithinTheirTolerance) {
  session.run.referenceBuffer.fill(0x55);
  const TestCommand near = Cmd("NUM", "READ", 1, "1.4");
  const TestCommand single = Cmd("SNUM", "READ", 1, "1.4", kFormatSingle);
  Run({Cmd("TXT", "READ", 16, "HELLO", kFormatText),
       Cmd("TXT", "POLL[timeout=1000]", 16, "HELLO", kFormatText),
       Cmd("TXT", "READ", 16, "HELP", kFormatText), Cmd("VEC", "READ", 3, "1"),
       Cmd("VEC", "POLL", 3, "1 2"), Cmd("VEC", "READ", 3, "1 3"), Within(near, "0.05 8%"),
       Within(near, "0.05 3%"), Within(near, "0.2x"),
       Within(Cmd("VEC", "READ", 3, "1.1 2 2.5"), "0.2"), Within(single, "0.05 8%"),
       Within(single, "0.05 3%"), Within(Cmd("VEC", "READ", 3, "1 2 2.5"), "0.5")});
  for (int k : {0, 1, 3, 4, 6, 10, 12}) EXPECT_EQ(Result(k).text, "Success (Target met)") << k;
  for (int k : {2, 5, 7, 8, 9, 11}) EXPECT_EQ(Result(k).text, "Target not met !") << k;
  // A reference of 1e999 meets an infinite value, however wide the tolerance.
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(
      std::pair(ReferenceTolerance{1, 0}.Within(inf, inf), ReferenceTolerance{}.Within(inf, -inf)),
      std::pair(true, false));
}

// The member that raises (once, or twice before a Retry), the access, whether
// it is retried, and the names as the control reports them after the fault.
using FaultCase = std::tuple<std::string, const char*, bool, const char*>;

class ThrowingControl : public CheckRunnerTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ThrowingControl, IsRecordedAsFailedAccessAndTheRunGoesOn) {
  const auto& [member, access, retry, prompted] = GetParam();
  const std::string fault = "bus fault in " + member;
  tap.throwIn = member;
  tap.throws = retry ? 2 : 1;
  // A Retry must parse the reference again rather than trust the buffer.
  tap.onThrow = [&] { session.run.referenceBuffer.fill(0xEE); };
  if (retry) prompt.answers = {LinkErrorPrompt::Answer::Retry};
  Run({Cmd("NUM", access, 1, "1.5"), Cmd("NUM")});
  EXPECT_EQ(prompt.asked, decltype(prompt.asked)(1, {"Link Error", prompted + ("  ->  " + fault)}));
  EXPECT_EQ(Result(0).text, retry ? "Success (Target met)" : fault);
  EXPECT_EQ(Result(1).text, "Success");
  EXPECT_EQ(outcomes.at(0).outcome.failure,
            retry ? AccessFailure::None : AccessFailure::ControlFault);
}

// A setter that raised is tried again by the next attempt.
INSTANTIATE_TEST_SUITE_P(
    Runner, ThrowingControl,
    ::testing::Values(FaultCase{"ExecuteAccess", "READ", false, "/CTX/SRV/DEV[NUM]"},
                      FaultCase{"StartAccess", "POLL", false, "/CTX/SRV/DEV[NUM]"},
                      FaultCase{"setPropertyName", "READ", true, "/CTX/SRV/[]"},
                      FaultCase{"setContextName", "READ", true, "///DEV[NUM]"}),
    [](const auto& info) { return std::get<0>(info.param); });

// An empty plan shows the header only and still names the server. K failed
// accesses in a row leave the rest of the server's commands not run; a
// success between failures starts the count again. Deselected commands are
// not run either, each with its reason in the report. "Cancel All" asks no
// more in its run, which still runs every command it can; the next run (the
// next server of a configuration) asks again.
TEST_F(CheckRunnerTest, EmptyPlanFailFastDeselectedCommandsAndCancelAll) {
  session.plan.TestPlan = {Cmd("NUM")};  // beyond the count
  ASSERT_TRUE(runner.RunVesk("CTX", "SRV"));
  EXPECT_EQ(grid.rows(), 1);
  EXPECT_EQ(grid.at(0, 0).text, " Action ");
  EXPECT_TRUE(session.report.reportFileName.empty());
  EXPECT_EQ(tap.ContextName() + "/" + tap.ServerName(), "CTX/SRV");
  runner.setOptions({.maxLinkFailures = 2, .skipReason = [](const TestCommand& c) {
                       return c.Property == "TXT" ? "deselected by --skip" : "";
                     }});
  prompt.answers = {LinkErrorPrompt::Answer::CancelAll};
  // Names the server does not have are mistakes of the test file: only the
  // accesses a silent server failed count towards giving up on it.
  // An answer starts the count again.
  Run({Cmd("TXT"), Cmd("GONE"), Cmd("NOPE"), Cmd("NOPE"), Cmd("NUM"), Cmd("GONE"), Cmd("GONE"),
       Cmd("NUM")});
  EXPECT_EQ(prompt.asked.size(), 1u);
  EXPECT_EQ(prompt.newCommands, 8);  // each command's retries are its own
  std::string accesses;
  for (int i = 0; i < 6; ++i) accesses += "Execute 1/0;";
  EXPECT_EQ(tap.accesses, accesses);
  std::string skipped;
  for (const CommandOutcome& o : outcomes) skipped += o.skipped() ? 'S' : '-';
  EXPECT_EQ(skipped, "S------S");
  EXPECT_EQ(outcomes[2].outcome.failure, AccessFailure::NoSuchName);
  EXPECT_EQ(outcomes[5].outcome.failure, AccessFailure::NotReachable);
  EXPECT_EQ(outcomes[7].outcome.notRun, NotRunReason::ServerGivenUp);
  EXPECT_EQ(Result(7).text, "Not run : server not answering");
  EXPECT_EQ(std::tuple(Result(0).color, Result(5).color, Result(7).color),
            std::tuple(kBlack, kRed, kBlack));
  const std::string nope = Line("NOPE check : " + outcomes[2].resultText);
  const std::string gone = Line("GONE check : " + outcomes[5].resultText);
  EXPECT_EQ(Report(), Line("TXT check : Not run : deselected by --skip") + gone + nope + nope +
                          Line("NUM check : Success") + gone + gone +
                          Line("Remaining commands not run : server not answering after 2 failed "
                               "accesses in a row"));
  EXPECT_EQ(std::pair(summaries.at(1).skipped, summaries.at(1).failed), std::pair(2, 5));
  Run({Cmd("NOPE")});
  EXPECT_EQ(prompt.asked.size(), 2u);
  // Giving up after the last command leaves no command to say so of.
  Run({Cmd("GONE"), Cmd("GONE")});
  EXPECT_FALSE(Report().ends_with("in a row\r\n")) << Report();
}

// A server that stalls at first contact, behind a client library that, for
// a second after a real time-out, repeats it without asking the server (the
// repeats cost nothing). Only the real time-outs count towards giving up:
// a 1.5 s stall costs the commands inside it, not the server.
class StallingControl final : public ForwardingControl {
 public:
  StallingControl(DataAcquisitionControl& inner, testing::FakeClock& clock, int64_t stallMs)
      : ForwardingControl(inner), clock_(clock), stallEndMs_(clock.NowMs() + stallMs) {}
  int32_t ExecuteAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                        std::span<const uint8_t> in, int32_t inCount, int16_t inFormat) override {
    repeated_ = clock_.NowMs() < holdEndMs_;
    if (repeated_) return kCodeLinkTimeout;
    if (clock_.NowMs() >= stallEndMs_)
      return ForwardingControl::ExecuteAccess(out, outCount, outFormat, in, inCount, inFormat);
    clock_.Advance(1000);  // the access's time-out
    holdEndMs_ = clock_.NowMs() + 1000;
    return kCodeLinkTimeout;
  }
  bool LastFailureRepeated() const override { return repeated_; }

 private:
  testing::FakeClock& clock_;
  int64_t stallEndMs_, holdEndMs_ = 0;
  bool repeated_ = false;
};

TEST_F(CheckRunnerTest, RepeatedTimeOutsDoNotCountTowardsGivingUp) {
  StallingControl stalling(tap, clock, 1500);
  CheckRunner stalled{session, stalling, grid, prompt, pump, clock};
  stalled.setOutcomeObserver([this](const CommandOutcome& o) { outcomes.push_back(o); });
  stalled.setOptions({.maxLinkFailures = 3});
  prompt.answers = {LinkErrorPrompt::Answer::CancelAll};
  session.plan.TestPlan.assign(200, Cmd("NUM"));
  session.plan.TestPlanCount = 200;
  // The repeats come at once; the client library's second passes only as
  // the commands wait: each repeated one here costs 10 ms.
  onCommand = [&](int32_t) { clock.Advance(10); };
  stalled.addObserver(*this);
  ASSERT_TRUE(stalled.RunVesk("CTX", "SRV"));
  int failed = 0, given = 0;
  for (const CommandOutcome& o : outcomes) {
    failed += o.accessFailed();
    given += o.outcome.notRun == NotRunReason::ServerGivenUp;
  }
  EXPECT_EQ(given, 0);
  // One real time-out (1 s, the stall ends at 1.5 s) and the 99 repeats of
  // the second after it.
  EXPECT_EQ(failed, 100);
  EXPECT_EQ(outcomes.back().outcome.kind, OutcomeKind::Passed);
}

// During an asynchronous wait a second run is refused, and a stop ends the
// wait at once: no command runs after it. A stop asked for during the last
// command still gets its line.
TEST_F(CheckRunnerTest, AStopEndsAWaitAtOnceAndTheRunWithItsLine) {
  std::optional<bool> nested;
  onSleep = [&] {
    if (!nested) nested = runner.RunVesk("OTHER", "SERVER");
    session.stop.Request("Run interrupted (SIGINT)");
  };
  const int64_t start = clock.NowMs();
  Run({Cmd("NUM", "POLL[timeout=30000]", 1, "99"), Cmd("NUM")});
  EXPECT_EQ(nested, false);
  EXPECT_LT(clock.NowMs() - start, 1000);
  EXPECT_EQ(outcomes.at(0).outcome.notRun, NotRunReason::Stopped);
  // Cut short, it is an error; the one the stop left out is skipped.
  EXPECT_EQ(std::pair(outcomes.at(0).verdict(), outcomes.at(1).verdict()),
            std::pair(Verdict::Error, Verdict::Skipped));
  EXPECT_FALSE(outcomes.at(0).accessFailed());
  EXPECT_TRUE(prompt.asked.empty());
  EXPECT_EQ(Result(0).color, kRed);  // it started: not a command left out
  session.stop.Clear();
  onCommand = [&](int32_t) { session.stop.Request("Run stopped by the operator"); };
  Run({Cmd("NUM")});
  EXPECT_EQ(Report(), Line("NUM check : stopped before completion") +
                          Line("Run interrupted (SIGINT)") + Line("NUM check : Success") +
                          Line("Run stopped by the operator"));
  EXPECT_EQ(summaries.at(1).stoppedBy, "Run stopped by the operator");
}

// Only a server that said nothing is silent: fail fast counts those alone.
TEST(Outcome, ASilentServerIsOneThatDidNotAnswer) {
  const std::pair<AccessFailure, bool> cases[] = {
      {AccessFailure::NotReachable, true},         {AccessFailure::TimedOut, true},
      {AccessFailure::DatabaseNotReachable, true}, {AccessFailure::Refused, false},
      {AccessFailure::ServerError, false},         {AccessFailure::NoSuchName, false},
      {AccessFailure::ControlFault, false}};
  for (const auto& [why, silent] : cases) {
    EXPECT_EQ(ServerSilent(Outcome::Failed(why, 45)), silent) << AccessFailureName(why);
    EXPECT_FALSE(ServerSilent(Outcome::Failed(why, 45, true))) << "repeated";
  }
}

// A configuration runs each server's own test; one whose test does not load
// is not prepared, and a configuration without servers says why.
class OneTestLoader final : public SpecificTestLoader {
 public:
  explicit OneTestLoader(CheckerSession& session) : session_(session) {}
  int16_t LoadSpecificTest(const std::string&, const std::string& server,
                           const std::string&) override {
    session_.checkerCaption = "Test of " + server;
    if (server != "SRV") return kCodeNothingToLoad;
    session_.plan.TestPlan = {Cmd("NUM")};
    session_.plan.TestPlanCount = 1;
    return 0;
  }

 private:
  CheckerSession& session_;
};

TEST_F(CheckRunnerTest, AConfigurationPreparesEachServerAndSaysWhyOneHasNone) {
  OneTestLoader loader(session);
  ConfiguredRun configured(session, runner, loader);
  std::vector<bool> failed;
  configured.serverDone = [&](bool f) { failed.push_back(f); };
  configured.RunConfiguration({"c", "l.csv", "CTX", {"SRV", "NONE"}, 2, ""}, "");
  EXPECT_EQ(failed, (std::vector<bool>{false, true}));
  configured.RunConfiguration({"c", "l.csv", "CTX", {}, 0, ""}, "the list is empty");
  EXPECT_EQ(std::pair(configured.totals().notPrepared, configured.totals().passed),
            std::pair(2, 1));
}

}  // namespace
}  // namespace dsc
