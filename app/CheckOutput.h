#pragma once

#include <cstdint>
#include <string>

#include "engine/RunEvents.h"

namespace dsc {

// How a command ended, as CI tools count it: a reference or input that did
// not hold is a failure, an access that did not go through an error.
enum class Verdict { Passed, Failed, Error, Skipped };
Verdict VerdictOf(const CommandOutcome& outcome);
const char* VerdictName(Verdict verdict);
// The same names as strings, made once: the JSON line takes one per command.
const std::string& VerdictText(Verdict verdict);

// What one invocation did, for the summaries at its end.
struct CheckTotals {
  int32_t passed = 0, failed = 0, errors = 0, skipped = 0;
  int32_t notPrepared = 0;  // servers whose test could not be prepared
  int64_t elapsedMs = 0;
  std::string interruptedBy;  // the report line of the signal that ended the run
  int exitCode = 0;
  std::string reportFile;
  int32_t tests() const { return passed + failed + errors + skipped; }
};

// One output of ovra-check: a listener on the runs of one invocation, plus
// the two facts the runner does not know (a server whose test could not be
// prepared, the end of the invocation).
class CheckOutput : public RunObserver {
 public:
  virtual void NotPrepared(const std::string& /*context*/, const std::string& /*server*/,
                           const std::string& /*reason*/) {}
  virtual void Finished(const CheckTotals& /*totals*/) {}
};

}  // namespace dsc
