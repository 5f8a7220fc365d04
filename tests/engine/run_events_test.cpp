#include "engine/RunEvents.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/Formats.h"
#include "engine/CheckRunner.h"
#include "engine/ControlEventPump.h"
#include "engine/ValueDecoding.h"
#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"

namespace dsc {
namespace {

using testing::FakeClock;
using testing::MemoryGrid;
using testing::ScriptedPrompt;
using testing::TempDir;
using Answer = LinkErrorPrompt::Answer;

// OK answers; DOWN's every access fails with 45 (a server not answering).
constexpr const char* kFacility = R"({
  "contexts": [{"name": "CTX", "servers": [
    {"name": "OK", "devices": [{"name": "DEV", "properties": [
      {"name": "NUM", "format": "DOUBLE", "value": 4.2},
      {"name": "VEC", "format": "LONG", "values": [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]},
      {"name": "TXT", "format": "TEXT", "count": 16, "value": "OPEN"},
      {"name": "SET", "format": "DOUBLE", "value": 1.0, "writable": true}]}]},
    {"name": "DOWN", "code": 45, "devices": [{"name": "DEV", "properties": [
      {"name": "NUM", "format": "DOUBLE", "value": 1.0}]}]}]}]
})";

TestCommand Read(std::string property, int32_t size = 1, std::string reference = "",
                 int16_t format = kFormatDouble, std::string access = "READ") {
  return TestCommand(property + " check", property, "DEV", std::move(access), 0, size, kFormatNull,
                     format, "", std::move(reference));
}

// Records every event, and can act when a command starts.
struct Recorder : RunObserver {
  void RunStarted(const std::string& c, const std::string& s, int32_t n) override {
    events.push_back("start " + c + "/" + s + " " + std::to_string(n));
  }
  void CommandStarted(int32_t k, const TestCommand&) override {
    events.push_back("command " + std::to_string(k));
    if (onCommand) onCommand(k);
  }
  void CommandEnded(const CommandOutcome& o) override { outcomes.push_back(o); }
  void RunEnded(const RunSummary& s) override { summaries.push_back(s); }
  std::vector<std::string> events;
  std::vector<CommandOutcome> outcomes;
  std::vector<RunSummary> summaries;
  std::function<void(int32_t)> onCommand;
};

RunOptions FailFast(int32_t k) {
  RunOptions options;
  options.maxLinkFailures = k;
  return options;
}

class RunEventsTest : public ::testing::Test {
 protected:
  RunEventsTest() { runner.addObserver(recorder); }
  void Run(const std::string& server, std::vector<TestCommand> commands) {
    session.plan.TestPlanCount = static_cast<int16_t>(commands.size());
    session.plan.TestPlan = std::move(commands);
    ASSERT_TRUE(runner.RunVesk("CTX", server));
  }
  std::string Report() { return testing::ReadFileBytes(session.report.reportFileName); }
  std::string Line(const std::string& text) {
    return clock.LocalDateTime() + " : " + text + "\r\n";
  }

  FakeClock clock;
  TempDir dir;
  std::string error;
  std::unique_ptr<sim::SimControlSystem> sim =
      sim::SimControlSystem::FromText(kFacility, "events test", clock, error);
  std::unique_ptr<DataAcquisitionControl> control = sim::MakeSimControl(*sim);
  std::function<void()> onSleep;
  ControlEventPump pump{*control, [this](int32_t ms) {
                          clock.Advance(ms);
                          if (onSleep) onSleep();
                        }};
  CheckerSession session{clock, dir.path()};
  MemoryGrid grid;
  ScriptedPrompt prompt;
  CheckRunner runner{session, *control, grid, prompt, pump, clock};
  Recorder recorder;
};

TEST_F(RunEventsTest, OutcomesCarryDecodedValuesAndWhetherACheckWasMade) {
  Run("OK", {Read("NUM", 1, "5"), Read("NUM", 1, "4.2"), Read("VEC", 10, "", kFormatLong),
             Read("TXT", 16, "OPEN", kFormatText), Read("NUM"), Read("NUM", 0, "4.2")});
  ASSERT_EQ(recorder.outcomes.size(), 6u);
  struct Row {
    int32_t status;
    bool compared;
    const char* actual;
    const char* expected;
  };
  const Row rows[] = {{kCodeTargetNotMet, true, "4.2", "5"},
                      {0, true, "4.2", "4.2"},
                      {0, false, "[1, 2, 3, 4, 5, 6, 7, 8, ... 2 more]", ""},
                      {0, true, "\"OPEN\"", "\"OPEN\""},
                      {0, false, "4.2", ""},
                      // No output: nothing read, nothing compared.
                      {0, false, "", ""}};
  for (size_t i = 0; i < std::size(rows); ++i) {
    const CommandOutcome& o = recorder.outcomes[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(o.status, rows[i].status);
    EXPECT_EQ(o.compared, rows[i].compared);
    EXPECT_FALSE(o.accessFailed);
    EXPECT_EQ(o.actual.Display(), rows[i].actual);
    EXPECT_EQ(o.expected.Display(), rows[i].expected);
  }
  ASSERT_EQ(recorder.summaries.size(), 1u);
  EXPECT_EQ(recorder.summaries[0].run, 6);
  EXPECT_EQ(recorder.summaries[0].failed, 1);
}

TEST_F(RunEventsTest, StopEndsTheRunAfterTheCurrentCommandWithOneReportLine) {
  recorder.onCommand = [&](int32_t k) {
    if (k == 1) session.stop.Request("Run stopped by the operator");
  };
  Run("OK", {Read("NUM"), Read("NUM"), Read("NUM")});
  EXPECT_EQ(recorder.outcomes.size(), 2u);
  EXPECT_EQ(Report(), Line("NUM check : Success") + Line("NUM check : Success") +
                          Line("Run stopped by the operator"));
  EXPECT_EQ(recorder.summaries.at(0).stoppedBy, "Run stopped by the operator");
  EXPECT_EQ(recorder.summaries.at(0).run, 2);
}

TEST_F(RunEventsTest, AStopDuringTheLastCommandStillGetsItsLine) {
  recorder.onCommand = [&](int32_t) { session.stop.Request("Run stopped by the operator"); };
  Run("OK", {Read("NUM")});
  EXPECT_EQ(Report(), Line("NUM check : Success") + Line("Run stopped by the operator"));
}

TEST_F(RunEventsTest, StopEndsAnAsynchronousWaitAtOnce) {
  onSleep = [&] { session.stop.Request("Run interrupted (SIGINT)"); };
  const int64_t start = clock.NowMs();
  Run("OK", {Read("NUM", 1, "99", kFormatDouble, "POLL[timeout=30000]"), Read("NUM")});
  EXPECT_LT(clock.NowMs() - start, 1000);
  ASSERT_EQ(recorder.outcomes.size(), 1u);
  EXPECT_EQ(recorder.outcomes[0].status, kCodeStopped);
  EXPECT_FALSE(recorder.outcomes[0].accessFailed);
  EXPECT_TRUE(prompt.asked.empty());
  EXPECT_EQ(Report(),
            Line("NUM check : stopped before completion") + Line("Run interrupted (SIGINT)"));
}

TEST_F(RunEventsTest, CancelAllAsksOnceAndStillRunsEveryCommand) {
  prompt.answers = {Answer::CancelAll};
  Run("DOWN", {Read("NUM"), Read("NUM"), Read("NUM")});
  EXPECT_EQ(prompt.asked.size(), 1u);
  ASSERT_EQ(recorder.outcomes.size(), 3u);
  for (const auto& o : recorder.outcomes) {
    EXPECT_EQ(o.status, 45);
    EXPECT_TRUE(o.accessFailed);
  }
  // The next run (the next server of a configuration) asks again.
  Run("DOWN", {Read("NUM")});
  EXPECT_EQ(prompt.asked.size(), 2u);
}

TEST_F(RunEventsTest, AfterKFailedAccessesTheRestOfTheServerIsNotRun) {
  runner.setOptions(FailFast(2));
  Run("DOWN", {Read("NUM"), Read("NUM"), Read("NUM"), Read("NUM")});
  EXPECT_EQ(prompt.asked.size(), 2u);
  ASSERT_EQ(recorder.outcomes.size(), 4u);
  EXPECT_FALSE(recorder.outcomes[1].skipped());
  EXPECT_TRUE(recorder.outcomes[2].skipped());
  EXPECT_TRUE(recorder.outcomes[3].skipped());
  EXPECT_EQ(recorder.outcomes[3].resultText, "Not run : server not answering");
  EXPECT_EQ(grid.at(4, 1).text, "Not run : server not answering");
  const std::string failed = "NUM check : " + recorder.outcomes[0].resultText;
  EXPECT_EQ(Report(), Line(failed) + Line(failed) +
                          Line("Remaining commands not run : server not answering after 2 failed "
                               "accesses in a row"));
  EXPECT_EQ(recorder.summaries.at(0).skipped, 2);
  EXPECT_EQ(recorder.summaries.at(0).failed, 2);
}

TEST_F(RunEventsTest, ASuccessBetweenFailuresStartsTheCountAgain) {
  runner.setOptions(FailFast(2));
  Run("OK", {Read("NOPE"), Read("NUM"), Read("NOPE"), Read("NUM")});
  for (const auto& o : recorder.outcomes) EXPECT_FALSE(o.skipped());
}

TEST_F(RunEventsTest, DeselectedCommandsAreReportedAsNotRunWithTheReason) {
  RunOptions options;
  options.skipReason = [](const TestCommand& c) {
    return c.Property == "TXT" ? std::string("deselected by --skip") : std::string();
  };
  runner.setOptions(options);
  Run("OK", {Read("NUM"), Read("TXT", 16, "", kFormatText)});
  ASSERT_EQ(recorder.outcomes.size(), 2u);
  EXPECT_TRUE(recorder.outcomes[1].skipped());
  EXPECT_EQ(Report(),
            Line("NUM check : Success") + Line("TXT check : Not run : deselected by --skip"));
}

struct DecodeCase {
  std::vector<uint8_t> bytes;
  int16_t format;
  int32_t count;
  const char* shown;
};

TEST(ValueDecoding, EachFormatFamilyShowsAsItsUsersReadIt) {
  const DecodeCase cases[] = {
      {{0x9a, 0x99, 0x99, 0x99, 0x99, 0x99, 0x10, 0x40}, kFormatDouble, 1, "4.15"},
      {{0x66, 0x66, 0x86, 0x40}, kFormatSingle, 1, "4.2"},  // not 4.199999809265137
      {{0xff, 0xff, 0x02, 0x00}, kFormatShort, 2, "[-1, 2]"},
      {{0xfe, 0xff, 0xff, 0xff}, kFormatLong, 1, "-2"},
      {{0xff}, kFormatByte, 1, "255"},
      {{'A', 'B', 0, 'Z'}, kFormatText, 4, "\"AB\""},
      {{'N', 'A', 'M', 'E', 0, 0, 0, 0}, kFormatName8, 1, "\"NAME\""},
      {{1, 0, 0, 0, 0x80, 0x3f, 0, 0},
       static_cast<int16_t>(kFormatBase + 14),
       1,
       "<01 00 00 00 80 3f 00 00>"},
      {{1, 2}, kFormatNull, 2, ""},
      {{1, 2}, kFormatByte, 0, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeValue(c.bytes, c.format, c.count).Display(), c.shown) << c.shown;
  }
}

TEST(ValueDecoding, LongValuesKeepTheLimitAndCountTheRest) {
  std::vector<uint8_t> area(400, 7);
  const DecodedValue v = DecodeValue(area, kFormatByte, 300, 3);
  EXPECT_EQ(v.Display(), "[7, 7, 7, ... 297 more]");
  // A count past the area is cut to what the area holds.
  EXPECT_EQ(DecodeValue(area, kFormatDouble, 1000).count, 50);
}

}  // namespace
}  // namespace dsc
