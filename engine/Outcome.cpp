#include "engine/Outcome.h"

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

const char* OutcomeKindName(OutcomeKind kind) {
  switch (kind) {
    case OutcomeKind::Passed:
      return "passed";
    case OutcomeKind::ReferenceNotMet:
      return "reference_not_met";
    case OutcomeKind::InputNotParsed:
      return "input_not_parsed";
    case OutcomeKind::AccessFailed:
      return "access_failed";
    case OutcomeKind::NotRun:
      return "not_run";
  }
  return "";
}

const char* AccessFailureName(AccessFailure why) {
  switch (why) {
    case AccessFailure::None:
      return "";
    case AccessFailure::NotReachable:
      return "not_reachable";
    case AccessFailure::TimedOut:
      return "timed_out";
    case AccessFailure::DatabaseNotReachable:
      return "database_not_reachable";
    case AccessFailure::Refused:
      return "refused";
    case AccessFailure::ServerError:
      return "server_error";
    case AccessFailure::NoSuchName:
      return "no_such_name";
    case AccessFailure::ControlFault:
      return "control_fault";
  }
  return "";
}

const char* NotRunReasonName(NotRunReason why) {
  switch (why) {
    case NotRunReason::None:
      return "";
    case NotRunReason::Deselected:
      return "deselected";
    case NotRunReason::ServerGivenUp:
      return "server_given_up";
    case NotRunReason::Stopped:
      return "stopped";
    case NotRunReason::Interrupted:
      return "interrupted";
  }
  return "";
}

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
