#include "engine/Outcome.h"

#include <array>

namespace dsc {

Verdict VerdictOf(const Outcome& o) {
  switch (o.kind) {
    case OutcomeKind::Passed:
      return Verdict::Passed;
    case OutcomeKind::ReferenceNotMet:
    case OutcomeKind::InputNotParsed:
      return Verdict::Failed;
    case OutcomeKind::AccessFailed:
      return Verdict::Error;
    case OutcomeKind::NotRun:
      // A command whose wait a stop cut short did start: its access failed.
      return o.notRun == NotRunReason::Stopped ? Verdict::Error : Verdict::Skipped;
  }
  return Verdict::Error;
}

const char* VerdictName(Verdict v) {
  switch (v) {
    case Verdict::Passed:
      return "passed";
    case Verdict::Failed:
      return "failed";
    case Verdict::Error:
      return "error";
    case Verdict::Skipped:
      return "skipped";
  }
  return "";
}

const std::string& VerdictText(Verdict v) {
  static const std::string kNames[] = {VerdictName(Verdict::Passed), VerdictName(Verdict::Failed),
                                       VerdictName(Verdict::Error), VerdictName(Verdict::Skipped)};
  return kNames[static_cast<int>(v)];
}

Rgb ResultColorOf(const Outcome& o) {
  // Commands not started show in black, as a passed one: they say nothing
  // about the server.
  if (o.kind == OutcomeKind::Passed) return kBlack;
  if (o.kind == OutcomeKind::NotRun && o.notRun != NotRunReason::Stopped) return kBlack;
  return kRed;
}

bool ServerSilent(const Outcome& o) {
  if (o.kind != OutcomeKind::AccessFailed || o.repeated) return false;
  return o.failure == AccessFailure::NotReachable || o.failure == AccessFailure::TimedOut ||
         o.failure == AccessFailure::DatabaseNotReachable;
}

// The names JSON and JUnit carry, in the order of each enumeration (the
// asserts tie each table to its enumeration's last value).
namespace {
template <class Enum, size_t N>
const char* NameIn(const std::array<const char*, N>& names, Enum value) {
  const auto i = static_cast<size_t>(value);
  return i < N ? names[i] : "";
}
constexpr std::array<const char*, 5> kKindNames{"passed", "reference_not_met", "input_not_parsed",
                                                "access_failed", "not_run"};
static_assert(static_cast<size_t>(OutcomeKind::NotRun) + 1 == kKindNames.size());
constexpr std::array<const char*, 8> kFailureNames{
    "",        "not_reachable", "timed_out",    "database_not_reachable",
    "refused", "server_error",  "no_such_name", "control_fault"};
static_assert(static_cast<size_t>(AccessFailure::ControlFault) + 1 == kFailureNames.size());
constexpr std::array<const char*, 5> kNotRunNames{"", "deselected", "server_given_up", "stopped",
                                                  "interrupted"};
static_assert(static_cast<size_t>(NotRunReason::Interrupted) + 1 == kNotRunNames.size());
}  // namespace

const char* OutcomeKindName(OutcomeKind kind) { return NameIn(kKindNames, kind); }
const char* AccessFailureName(AccessFailure why) { return NameIn(kFailureNames, why); }
const char* NotRunReasonName(NotRunReason why) { return NameIn(kNotRunNames, why); }

const char* WhyName(const Outcome& o) {
  if (o.kind == OutcomeKind::AccessFailed) return AccessFailureName(o.failure);
  if (o.kind == OutcomeKind::NotRun) return NotRunReasonName(o.notRun);
  return "";
}

void CheckTotals::Count(const Outcome& o) {
  switch (VerdictOf(o)) {
    case Verdict::Passed:
      ++passed;
      break;
    case Verdict::Failed:
      ++failed;
      break;
    case Verdict::Error:
      ++errors;
      break;
    case Verdict::Skipped:
      ++skipped;
      break;
  }
}

}  // namespace dsc
