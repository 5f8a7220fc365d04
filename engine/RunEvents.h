#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/Outcome.h"
#include "engine/TestPlan.h"
#include "engine/ValueDecoding.h"

namespace dsc {

// What the runner recorded for one command; handed to the observers after the
// row and the report line are written.
struct CommandOutcome {
  int32_t index = 0;
  const TestCommand* command = nullptr;
  std::string context, server;
  Outcome outcome;
  std::string resultText;  // what the grid and the report show
  int64_t elapsedMs = 0;
  // A reference was compared with the answer (met or not).
  bool compared = false;
  Verdict verdict() const { return VerdictOf(outcome); }
  bool skipped() const { return verdict() == Verdict::Skipped; }
  bool accessFailed() const { return outcome.kind == OutcomeKind::AccessFailed; }
  DecodedValue actual;    // what the command read, when it read anything
  DecodedValue expected;  // the reference, when the command has one
};

struct RunSummary {
  std::string context, server;
  int32_t planned = 0;  // commands in the plan
  int32_t run = 0, failed = 0, skipped = 0;
  // Not empty when a stop request ended the run: the report line it wrote.
  std::string stoppedBy;
};

// What a run is: one server's test (standard, specific) or a stored
// configuration's servers one after the other.
struct RunInfo {
  std::string context;
  std::string configuration;  // the configuration's description; "" for one server
  int32_t servers = 0;
};

// The listeners on a run: terminal printer, JSON and JUnit writers, the
// window's progress and summary, any later output (an HTML report). They see
// finished facts and never steer the run; what may steer it is in RunOptions
// and StopRequest. The events of a run, in order:
//   RunStarted
//     for each server: ServerStarted,
//                      (CommandStarted, ValueDelivered..., CommandEnded)..., ServerEnded
//                      or ServerNotPrepared
//   RunEnding, RunEnded
// A command not started because the run was interrupted still gets its
// CommandEnded (not run, interrupted).
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void RunStarted(const RunInfo& /*run*/) {}
  virtual void ServerStarted(const std::string& /*context*/, const std::string& /*server*/,
                             int32_t /*planned*/) {}
  // A server whose test could not be prepared: nothing of it ran.
  virtual void ServerNotPrepared(const std::string& /*context*/, const std::string& /*server*/,
                                 const std::string& /*reason*/) {}
  virtual void CommandStarted(int32_t /*index*/, const TestCommand& /*command*/) {}
  // A value delivered while a command waited for it (POLL, REFRESH: every
  // delivery until the reference is met), atMs after the command started;
  // only when the run decodes values.
  virtual void ValueDelivered(int32_t /*index*/, int64_t /*atMs*/, const DecodedValue& /*value*/) {}
  virtual void CommandEnded(const CommandOutcome& /*outcome*/) {}
  virtual void ServerEnded(const RunSummary& /*summary*/) {}
  // The run is over: an output that writes a file writes it here and says in
  // totals.outputError when it could not, before any RunEnded sees them.
  virtual void RunEnding(CheckTotals& /*totals*/) {}
  virtual void RunEnded(const CheckTotals& /*totals*/) {}
};

// Asks a run to end after the current command, or at once in an asynchronous
// wait. Request() is safe in a signal handler: it only stores a pointer to a
// text that must outlive the run (a literal).
class StopRequest {
 public:
  void Request(const char* reportLine) noexcept { line_.store(reportLine); }
  bool requested() const noexcept { return line_.load() != nullptr; }
  const char* line() const noexcept { return line_.load(); }
  void Clear() noexcept { line_.store(nullptr); }

 private:
  std::atomic<const char*> line_{nullptr};
  static_assert(std::atomic<const char*>::is_always_lock_free);
};

// Opt-in changes to how a run goes; the defaults run every command as the
// checker always has.
struct RunOptions {
  // After this many consecutive failed accesses, the server's remaining
  // commands are not run; 0 runs them all.
  int32_t maxLinkFailures = 0;
  // A non-empty answer deselects the command, saying why.
  std::function<std::string(const TestCommand&)> skipReason = {};
  // Decode what each command read and expected into its outcome.
  bool decodeValues = true;
};

}  // namespace dsc
