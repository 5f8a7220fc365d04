#pragma once

// How a command ended, as a value: what every output shows is derived from
// it here, once (the grid's colour, the verdict CI counts, fail fast, the
// names JSON carries), never from the completion code alone.

#include <cstdint>
#include <string>

#include "access/CompletionCodes.h"
#include "engine/FrontEnd.h"

namespace dsc {

enum class OutcomeKind : uint8_t {
  Passed,
  ReferenceNotMet,  // the answer differs from the reference
  InputNotParsed,   // the input text gave the wrong count; nothing was sent
  AccessFailed,     // why in Outcome::failure
  NotRun,           // why in Outcome::notRun
};

enum class NotRunReason : uint8_t {
  None,
  Deselected,     // --only, --skip
  ServerGivenUp,  // the server stopped answering (fail fast)
  Stopped,        // a stop request ended the command's wait
  Interrupted,    // a stop request came before the command started
};

struct Outcome {
  OutcomeKind kind = OutcomeKind::Passed;
  AccessFailure failure = AccessFailure::None;
  NotRunReason notRun = NotRunReason::None;
  // The completion code the control gave (0 when none did): 103 for a
  // reference not met, 20 for input not parsed.
  int32_t code = 0;
  // A time-out the client library repeated at once, without asking the server.
  bool repeated = false;

  static Outcome Skipped(NotRunReason why) { return {OutcomeKind::NotRun, {}, why, 0, false}; }
  static Outcome Failed(AccessFailure why, int32_t code, bool repeated = false) {
    return {OutcomeKind::AccessFailed, why, NotRunReason::None, code, repeated};
  }
  bool passed() const { return kind == OutcomeKind::Passed; }
};

// How CI tools count a command: a reference or input that did not hold is
// a failure, an access that did not go through (or was cut short by a stop)
// an error, a command not started a skip.
enum class Verdict { Passed, Failed, Error, Skipped };
Verdict VerdictOf(const Outcome& outcome);
const char* VerdictName(Verdict verdict);
// The same names as strings, made once: the JSON line takes one per command.
const std::string& VerdictText(Verdict verdict);

// The grid's colour of the result cell.
Rgb ResultColorOf(const Outcome& outcome);

// Whether the access shows a server that does not answer: what fail fast
// counts. A test-file mistake (no such name), a refusal or a server-side
// error shows a server that answers; a repeated time-out is not the
// server's doing again.
bool ServerSilent(const Outcome& outcome);

// Names for machine-readable outputs: "access_failed", "timed_out", ...;
// "" for None.
const char* OutcomeKindName(OutcomeKind kind);
const char* AccessFailureName(AccessFailure why);
const char* NotRunReasonName(NotRunReason why);
// The kind's why as a name: the failure's or the not-run reason's; "" else.
const char* WhyName(const Outcome& outcome);

// What one invocation did, for the summaries at its end.
struct CheckTotals {
  int32_t passed = 0, failed = 0, errors = 0, skipped = 0;
  int32_t notPrepared = 0;  // servers whose test could not be prepared
  int64_t elapsedMs = 0;
  std::string interruptedBy;  // the report line of the signal that ended the run
  int exitCode = 0;
  std::string reportFile;
  // An output that could not be written says so here (its message).
  std::string outputError;
  int32_t tests() const { return passed + failed + errors + skipped; }
  void Count(const Outcome& outcome);
};

}  // namespace dsc
