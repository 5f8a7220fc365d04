#include "engine/CheckRunner.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "access/UtilityLibrary.h"
#include "base/Formats.h"
#include "engine/InputParser.h"
#include "engine/NumberText.h"
#include "engine/RunState.h"
#include "engine/TestPlan.h"
#include "engine/ValueDecoding.h"

namespace dsc {

namespace {

constexpr const char* kLinkErrorTitle = "Link Error";
constexpr const char* kSuccess = "Success";
constexpr const char* kTargetMet = " (Target met)";
constexpr const char* kTargetNotMet = "Target not met !";
constexpr const char* kParseError = "Input data : parse error";
constexpr const char* kTimedOutText = "timed out waiting for reference";
constexpr const char* kWaiting = "Waiting .";
constexpr const char* kStoppedText = "stopped before completion";
constexpr const char* kNotRun = "Not run : ";
constexpr const char* kServerNotAnswering = "server not answering";
constexpr const char* kFaultWithoutMessage =
    "the data-acquisition control failed without a message";

constexpr const char* kInterrupted = "interrupted";
constexpr int32_t kCycleMs = 100;

// Sets the flag for the lifetime of a run and clears it however the run ends.
class RunInProgress {
 public:
  explicit RunInProgress(bool& flag) : flag_(flag) { flag_ = true; }
  ~RunInProgress() { flag_ = false; }
  RunInProgress(const RunInProgress&) = delete;
  RunInProgress& operator=(const RunInProgress&) = delete;

 private:
  bool& flag_;
};

// Runs a call into the control. A control that raises instead of returning a
// code must not end the run: the error's message becomes the command's result.
template <class F>
bool CallControl(F&& call, std::string& fault) {
  try {
    call();
    return true;
  } catch (const std::exception& e) {
    fault = e.what();
  } catch (...) {
    fault.clear();
  }
  if (fault.empty()) fault = kFaultWithoutMessage;
  return false;
}

// Whether the answer in dataBuffer equals the reference. Only the bytes that
// the last reference text actually set take part: a reference with fewer
// values than the output would otherwise be completed by whatever an earlier
// command left in referenceBuffer. With no output bytes there is nothing to
// compare and the answer counts as equal; a reference that set no bytes at
// all (a format the parser cannot convert) can never be confirmed. A
// command with a tolerance compares SINGLE and DOUBLE values by it.
bool ReferenceMatches(const RunState& run, const TestCommand& C, int32_t outputBytes) {
  if (outputBytes <= 0) return true;
  const int32_t n = std::min(outputBytes, run.referenceBytes);
  if (n <= 0) return false;
  ReferenceTolerance tolerance;
  if (!C.Tolerance.empty() &&
      (C.OutputFormat == kFormatDouble || C.OutputFormat == kFormatSingle) &&
      ParseTolerance(C.Tolerance, tolerance)) {
    const int32_t e = FormatElementSize(C.OutputFormat);
    const DecodedValue got = DecodeValue(run.dataBuffer, C.OutputFormat, n / e, n / e);
    const DecodedValue want = DecodeValue(run.referenceBuffer, C.OutputFormat, n / e, n / e);
    for (size_t i = 0; i < got.numbers.size() && i < want.numbers.size(); ++i)
      if (!tolerance.Within(got.numbers[i], want.numbers[i])) return false;
    return true;
  }
  // Only the low 16 bits of MEMCMP's result count.
  return static_cast<int16_t>(MEMCMP(run.dataBuffer.data(), run.referenceBuffer.data(),
                                     static_cast<size_t>(n))) == 0;
}

CommandOutcome Ending(int32_t k, const TestCommand& C, const std::string& context,
                      const std::string& server, const Outcome& outcome,
                      const std::string& result) {
  CommandOutcome o;
  o.index = k;
  o.command = &C;
  o.context = context;
  o.server = server;
  o.outcome = outcome;
  o.resultText = result;
  return o;
}

}  // namespace

CheckRunner::CheckRunner(CheckerSession& session, DataAcquisitionControl& Zorbel1,
                         ResultsGrid& grid, LinkErrorPrompt& prompt, EventPump& pump, Clock& clock)
    : session_(session),
      control_(Zorbel1),
      grid_(grid),
      prompt_(prompt),
      pump_(pump),
      clock_(clock) {
  control_.setCompletionHandler(
      [this](int32_t ignored, int32_t code) { Zorbel1_event9(ignored, code); });
}

CheckRunner::~CheckRunner() {
  try {
    control_.setCompletionHandler({});
  } catch (...) {
    // The control outlives nothing it could still call back into.
  }
}

bool CheckRunner::RunVesk(const std::string& context, const std::string& server) {
  // The asynchronous wait pumps events, so a click could ask for a run inside
  // a run; the inner one would overwrite the areas the outer one compares.
  if (session_.runInProgress) return false;
  RunInProgress busy(session_.runInProgress);

  RunState& run = session_.run;
  // The count at entry decides, whatever happens to the plan meanwhile.
  const int32_t count = std::max<int32_t>(0, session_.plan.TestPlanCount);

  std::string fault;
  // When the control refuses the names, every attempt hands them over again
  // first, so a Retry can recover.
  bool namesHanded = CallControl(
      [&] {
        control_.setContextName(context);
        control_.setServerName(server);
      },
      fault);

  for (RunObserver* o : observers_) o->ServerStarted(context, server, count);
  RunSummary summary;
  summary.context = context;
  summary.server = server;
  summary.planned = count;
  int32_t linkFailuresInARow = 0;
  bool cancelAll = false;

  grid_.Clear();
  grid_.SetRows(count + 1);
  grid_.SelectRow(0);
  grid_.SelectCol(0);
  grid_.SetColumnWidthTwips(0, 2000);
  grid_.SetText(" Action ");
  grid_.SelectCol(1);
  grid_.SetColumnWidthTwips(1, 4000);
  grid_.SetText(" Results ");

  for (int32_t k = 0; k < count; ++k) {
    // A copy: the wait pumps events, and nothing there may pull the command
    // from under the runner.
    const auto& plan = session_.plan.TestPlan;
    const TestCommand C = k < static_cast<int32_t>(plan.size()) ? plan[k] : TestCommand{};

    if (session_.stop.requested()) {
      // The commands a stop left out are told to the observers, not shown
      // in the grid or the report.
      ++summary.skipped;
      static const std::string kInterruptedText = std::string(kNotRun) + kInterrupted;
      Ended(Ending(k, C, context, server, Outcome::Skipped(NotRunReason::Interrupted),
                   kInterruptedText));
      continue;
    }
    for (RunObserver* o : observers_) o->CommandStarted(k, C);
    prompt_.NewCommand();
    const int64_t startMs = clock_.MonotonicMs();
    commandStartMs_ = startMs;

    int32_t status = 0;
    Outcome outcome;
    std::string result;
    grid_.SelectCol(0);
    grid_.SelectRow(k + 1);
    grid_.SetText(C.Description);

    // Commands left out on request, and the rest of a server that stopped
    // answering, get a row and an outcome but no access.
    std::string notRun;
    NotRunReason why = NotRunReason::None;
    if (options_.maxLinkFailures > 0 && linkFailuresInARow >= options_.maxLinkFailures) {
      notRun = kServerNotAnswering;
      why = NotRunReason::ServerGivenUp;
    } else if (options_.skipReason) {
      notRun = options_.skipReason(C);
      why = NotRunReason::Deselected;
    }
    if (!notRun.empty()) {
      const Outcome skipped = Outcome::Skipped(why);
      result = kNotRun + notRun;
      if (why != NotRunReason::ServerGivenUp)
        session_.report.AddToReport(C.Description + " : " + result, true);
      grid_.SelectCol(1);
      grid_.SetTextColor(ResultColorOf(skipped));
      grid_.SetText(result);
      ++summary.skipped;
      Ended(Ending(k, C, context, server, skipped, result));
      continue;
    }

    const std::string mode = getAccessMode(C.Access);
    run.accessTimeout = getAccessTimeout(C.Access);
    bool synchronous = false;
    auto prepareControl = [&] {
      control_.setPropertyName(C.Property);
      control_.setDeviceName(C.Device);
      control_.setAccessMode(mode);
    };
    // The control decides what the mode means: only a mode that reads back as
    // exactly READ or WRITE is waited for inside the call.
    auto readBackMode = [&] {
      const std::string modeRead = control_.AccessMode();
      synchronous = modeRead == "READ" || modeRead == "WRITE";
      if (synchronous) control_.setLinkTimeout(run.accessTimeout);
    };
    fault.clear();
    bool controlReady = CallControl(prepareControl, fault);

    const int32_t out = EffectiveSize(C.OutputSize, C.OutputFormat);
    const int32_t e = FormatElementSize(C.OutputFormat);
    const int32_t in = EffectiveSize(C.InputSize, C.InputFormat);

    if (in > 0 && parseStringToData(run.dataBuffer, C.InputFormat, C.Data) != in) {
      result = kParseError;
      status = kCodeParseError;
      outcome = {OutcomeKind::InputNotParsed, {}, {}, kCodeParseError, false};
    }
    if (controlReady) controlReady = CallControl(readBackMode, fault);

    if (status == 0) {
      grid_.SelectCol(1);
      std::span<uint8_t> area(run.dataBuffer);
      for (;;) {
        run.completionStatus = 0;
        run.completionPending = true;
        run.completionStopped = false;
        bool refused = false;
        run.currentCommand = static_cast<int16_t>(k);
        // Parsed before every attempt, so a Retry sees the reference afresh.
        if (!C.Reference.empty()) {
          const int32_t n = parseStringToData(run.referenceBuffer, C.OutputFormat, C.Reference);
          run.referenceBytes = ParsedByteCount(C.OutputFormat, C.Reference, n);
        }
        // On Retry the input is not parsed again: with input and output the
        // area already holds the failed attempt's bytes, and they are what is
        // sent again.
        const bool called = CallControl(
            [&] {
              if (!namesHanded) {
                control_.setContextName(context);
                control_.setServerName(server);
                namesHanded = true;
              }
              if (!controlReady) {
                prepareControl();
                readBackMode();
                controlReady = true;
              }
              control_.setTolerance(C.Tolerance);
              if (in > 0 && out == 0) {
                // Sending only: synchronous whatever the mode.
                status = control_.ExecuteAccess({}, 0, kFormatNull, area, in, C.InputFormat);
                return;
              }
              const std::span<const uint8_t> input =
                  in > 0 ? std::span<const uint8_t>(area) : std::span<const uint8_t>();
              const int32_t inCount = in > 0 ? in : 0;
              const int16_t inFormat = in > 0 ? C.InputFormat : kFormatNull;
              if (synchronous) {
                status =
                    control_.ExecuteAccess(area, out, C.OutputFormat, input, inCount, inFormat);
                return;
              }
              const int32_t started =
                  control_.StartAccess(area, out, C.OutputFormat, input, inCount, inFormat);
              if (started < 0) {
                // A refused start gives minus its completion code.
                status = -started;
                refused = true;
                return;
              }
              WaitForAsyncCompletion(run.accessTimeout);
              status = run.completionStatus;
            },
            fault);

        const bool stopped = called && !refused && run.completionStopped;
        if (!called) {
          status = 0;
          outcome = Outcome::Failed(AccessFailure::ControlFault, 0);
          result = fault;
        } else if (stopped) {
          outcome = Outcome::Skipped(NotRunReason::Stopped);
          result = kStoppedText;
        } else if (status != 0) {
          AccessFailure why = AccessFailure::ServerError;
          bool repeated = false;
          std::string ignored;
          CallControl(
              [&] {
                why = control_.FailureOf(status, refused);
                repeated = control_.LastFailureRepeated();
              },
              ignored);
          outcome = Outcome::Failed(why, status, repeated);
          if (status == kCodeTimedOut && !refused) {
            result = kTimedOutText;
          } else if (!CallControl([&] { result = control_.StatusText(); }, fault)) {
            result = fault;
          }
        } else {
          outcome = {};
        }

        if (outcome.kind != OutcomeKind::Passed) {
          // The names as the control reports them; those handed over stand in
          // for any it cannot report.
          auto reported = [&](std::string (DataAcquisitionControl::*getter)() const,
                              const std::string& handed) {
            std::string name = handed;
            std::string ignored;
            CallControl([&] { name = (control_.*getter)(); }, ignored);
            return name;
          };
          const std::string text =
              "/" + reported(&DataAcquisitionControl::ContextName, context) + "/" +
              reported(&DataAcquisitionControl::ServerName, server) + "/" +
              reported(&DataAcquisitionControl::DeviceName, C.Device) + "[" +
              reported(&DataAcquisitionControl::PropertyName, C.Property) + "]" + "  ->  " + result;
          // A stopped run and a "Cancel All" answer ask no more.
          if (stopped || cancelAll || session_.stop.requested()) break;
          const auto answer = prompt_.Ask(kLinkErrorTitle, text);
          if (answer == LinkErrorPrompt::Answer::Retry) continue;
          cancelAll = answer == LinkErrorPrompt::Answer::CancelAll;
          break;
        }

        result = kSuccess;
        // What the control saw worth saying beside success (a state's name,
        // a doubtful quality); most say nothing.
        std::string note, ignored;
        CallControl([&] { note = control_.SuccessNote(); }, ignored);
        if (!note.empty()) result += ": " + note;
        if (!C.Reference.empty() && out > 0) {
          if (ReferenceMatches(run, C, out * e)) {
            result += kTargetMet;
          } else {
            result = kTargetNotMet;
            status = kCodeTargetNotMet;
            outcome = {OutcomeKind::ReferenceNotMet, {}, {}, kCodeTargetNotMet, false};
          }
        }
        break;
      }
    }

    grid_.SelectCol(1);
    grid_.SetTextColor(ResultColorOf(outcome));
    grid_.SetText(result);
    session_.report.AddToReport(C.Description + " : " + result, true);

    // Fail fast counts what the server did: silence. A server that answered
    // (even with a refusal or its own error) starts the count again; a
    // test-file mistake, a control fault or a time-out the client library
    // only repeated says nothing either way.
    if (ServerSilent(outcome)) {
      ++linkFailuresInARow;
    } else if (outcome.kind == OutcomeKind::Passed ||
               outcome.kind == OutcomeKind::ReferenceNotMet ||
               (outcome.kind == OutcomeKind::AccessFailed &&
                (outcome.failure == AccessFailure::Refused ||
                 outcome.failure == AccessFailure::ServerError))) {
      linkFailuresInARow = 0;
    }
    if (options_.maxLinkFailures > 0 && linkFailuresInARow == options_.maxLinkFailures &&
        k + 1 < count) {
      session_.report.AddToReport(
          "Remaining commands not run : " + std::string(kServerNotAnswering) + " after " +
              std::to_string(linkFailuresInARow) + " failed accesses in a row",
          true);
    }
    ++summary.run;
    if (!outcome.passed()) ++summary.failed;

    CommandOutcome ended = Ending(k, C, context, server, outcome, result);
    ended.elapsedMs = clock_.MonotonicMs() - startMs;
    const bool answered =
        outcome.kind == OutcomeKind::Passed || outcome.kind == OutcomeKind::ReferenceNotMet;
    ended.compared = outcome.kind == OutcomeKind::ReferenceNotMet ||
                     (answered && !C.Reference.empty() && out > 0);
    if (options_.decodeValues && out > 0 && answered)
      ended.actual = DecodeValue(run.dataBuffer, C.OutputFormat, out);
    // The reference wherever the command has one, compared or not.
    if (options_.decodeValues && out > 0 && e > 0 && !C.Reference.empty()) {
      if (!ended.compared) {
        const int32_t n = parseStringToData(run.referenceBuffer, C.OutputFormat, C.Reference);
        run.referenceBytes = ParsedByteCount(C.OutputFormat, C.Reference, n);
      }
      if (run.referenceBytes > 0)
        ended.expected = DecodeValue(run.referenceBuffer, C.OutputFormat,
                                     std::min(out, (run.referenceBytes + e - 1) / e));
    }
    Ended(ended);
  }
  // A stop asked for during the last command still gets its line.
  if (const char* line = session_.stop.line()) {
    session_.report.AddToReport(line, true);
    summary.stoppedBy = line;
  }
  for (RunObserver* o : observers_) o->ServerEnded(summary);
  return true;
}

void CheckRunner::Ended(const CommandOutcome& outcome) {
  for (RunObserver* o : observers_) o->CommandEnded(outcome);
  if (observer_) observer_(outcome);
}

void CheckRunner::removeObserver(RunObserver& observer) { std::erase(observers_, &observer); }

void CheckRunner::WaitForAsyncCompletion(int32_t timeout) {
  RunState& run = session_.run;
  const int64_t start = clock_.UnixTime();
  // Whole seconds, halves to even: 500 ms gives 0, 1500 and 2500 give 2.
  const int64_t limit = RoundToInt32(static_cast<double>(timeout) / 1000.0);

  // The access is stopped however the wait ends: a pump that throws must not
  // leave the control delivering into dataBuffer behind the next command.
  struct StopOnExit {
    DataAcquisitionControl& control;
    bool done = false;
    ~StopOnExit() {
      if (done) return;
      try {
        control.StopAccess();
      } catch (...) {
        // Already unwinding with the pump's error; that one is recorded.
      }
    }
  } stop{control_};

  grid_.SetTextColor(kBlue);
  grid_.SetText(kWaiting);
  for (int64_t cycle = 1;; ++cycle) {
    pump_.Sleep(kCycleMs);
    pump_.ProcessPendingEvents();  // the completion event arrives here
    // A completion in the same cycle as the deadline wins over the time-out.
    if (run.completionPending && clock_.UnixTime() > start + limit) {
      run.completionStatus = kCodeTimedOut;
      run.completionPending = false;
    }
    // A stop does not wait for the reference: the wait ends at once.
    if (run.completionPending && session_.stop.requested()) {
      run.completionStopped = true;
      run.completionPending = false;
    }
    if (cycle % 10 == 0) grid_.SetText(grid_.Text() + ".");
    if (!run.completionPending) break;
  }
  stop.done = true;
  control_.StopAccess();
}

void CheckRunner::Zorbel1_event9(int32_t /*ignored*/, int32_t code) {
  RunState& run = session_.run;
  if (code == kCodeAsyncEnded35 || code == kCodeAsyncEnded36) {
    run.completionStatus = code;
    run.completionPending = false;
    return;
  }
  // Other codes say nothing about the delivery; the wait goes on.
  if (code != 0) return;

  // Events also arrive when no wait is under way; the reset to pending before
  // every attempt makes them harmless, but an index into a plan replaced since
  // must not be followed.
  const auto& plan = session_.plan.TestPlan;
  const int32_t k = run.currentCommand;
  if (k < 0 || k >= static_cast<int32_t>(plan.size())) return;
  const TestCommand& C = plan[k];
  // What was delivered, for the observers that show a poll's values over
  // time; only while the command waits, not for a late event after it.
  const int32_t out = EffectiveSize(C.OutputSize, C.OutputFormat);
  if (run.completionPending && options_.decodeValues && out > 0 && !observers_.empty()) {
    const DecodedValue value = DecodeValue(run.dataBuffer, C.OutputFormat, out);
    const int64_t atMs = clock_.MonotonicMs() - commandStartMs_;
    for (RunObserver* o : observers_) o->ValueDelivered(k, atMs, value);
  }
  if (C.Reference.empty()) {
    run.completionStatus = 0;
    run.completionPending = false;
    return;
  }
  // A polled value that has not reached the reference yet: wait for the next
  // delivery.
  const int32_t bytes = FormatElementSize(C.OutputFormat) * out;
  if (ReferenceMatches(run, C, bytes)) {
    run.completionStatus = 0;
    run.completionPending = false;
  }
}

}  // namespace dsc
