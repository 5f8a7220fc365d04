#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/TestPlan.h"
#include "engine/ValueDecoding.h"

namespace dsc {

// Status of a command that was not run (deselected, or the rest of a server
// that stopped answering); negative, as no control ever gives it.
inline constexpr int32_t kCodeNotRun = -2;
// Status of a command whose asynchronous wait was ended by a stop request.
inline constexpr int32_t kCodeStopped = -3;

// What the runner recorded for one command; handed to the observers after the
// row and the report line are written.
struct CommandOutcome {
  int32_t index = 0;
  const TestCommand* command = nullptr;
  std::string context, server;
  int32_t status = 0;
  std::string resultText;
  int64_t elapsedMs = 0;
  // The access itself failed (the Link Error box was raised), as opposed to a
  // reference that was not met, input that did not parse, or a skip.
  bool accessFailed = false;
  // A reference was compared with the answer (met or not).
  bool compared = false;
  bool skipped() const { return status == kCodeNotRun; }
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

// The listeners on a run: terminal printer, JSON and JUnit writers, the
// window's progress and summary. They see finished facts and never steer the
// run; what may steer it is in RunOptions and StopRequest.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void RunStarted(const std::string& /*context*/, const std::string& /*server*/,
                          int32_t /*planned*/) {}
  virtual void CommandStarted(int32_t /*index*/, const TestCommand& /*command*/) {}
  virtual void CommandEnded(const CommandOutcome& /*outcome*/) {}
  virtual void RunEnded(const RunSummary& /*summary*/) {}
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
