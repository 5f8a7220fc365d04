#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace dsc {

// Completion codes the checker itself gives a meaning to. Everything else is
// the control system's own and is only ever shown through its status text.
inline constexpr int16_t kCodeSuccess = 0;
inline constexpr int16_t kCodeParseError = 20;        // input text gave the wrong count
inline constexpr int16_t kCodeNoPropertyColumn = 21;  // test description without Property
inline constexpr int16_t kCodeAsyncEnded35 = 35;      // asynchronous access ended
inline constexpr int16_t kCodeAsyncEnded36 = 36;
inline constexpr int16_t kCodeNothingToLoad = 42;  // nothing to load or reading failed
inline constexpr int16_t kCodeServerUnavailable45 = 45;
inline constexpr int16_t kCodeLinkTimeout = 56;     // synchronous access ran past LinkTimeout
inline constexpr int16_t kCodeShortPropsOnly = 73;  // PROPS: only the short record exists
inline constexpr int16_t kCodeNotImplemented = 86;  // NDEVICES not answered
inline constexpr int16_t kCodeTimedOut = 93;        // no completion within the time-out
inline constexpr int16_t kCodeServerUnavailable98 = 98;
inline constexpr int16_t kCodeTargetNotMet = 103;       // answer differs from the reference
inline constexpr int16_t kCodeRunInProgress = 104;      // a run owns the plan; refused
inline constexpr int16_t kCodeTooManyProperties = 105;  // NPROPS: more than 32767
inline constexpr int16_t kCodeFlagPartial = 0x4000;     // DEVICES: data valid, with a warning

// The codes both control systems give for a name the system does not hold,
// a refused request and a failure inside the server.
inline constexpr int16_t kCodeUnknownContext = 60;
inline constexpr int16_t kCodeUnknownServer = 61;
inline constexpr int16_t kCodeUnknownDevice = 62;
inline constexpr int16_t kCodeUnknownProperty = 63;
inline constexpr int16_t kCodeNotWritable = 64;
inline constexpr int16_t kCodeIllegalFormat = 65;
inline constexpr int16_t kCodeDeviceError = 66;
inline constexpr int16_t kCodeDatabaseUnreachable = 67;
inline constexpr int16_t kCodeBadState = 68;

// The information read found nobody to ask: the server does not answer, or
// the database that names it cannot be reached. No version is made up then.
constexpr bool NobodyAnsweredInfo(int16_t code) {
  return code == kCodeServerUnavailable45 || code == kCodeServerUnavailable98 ||
         code == kCodeDatabaseUnreachable;
}

// The `status` the JSON lines have always shown for outcomes without a
// completion code; documented, so CI consumers keep reading them. Only the
// JSON writer uses them, derived from the outcome's kind.
inline constexpr int32_t kJsonStatusControlFault = -1;
inline constexpr int32_t kJsonStatusNotRun = -2;
inline constexpr int32_t kJsonStatusStopped = -3;

// Why an access failed. The server did not answer (NotReachable: nothing
// listens; TimedOut: it is there but silent; DatabaseNotReachable: the
// name service is), it declined the request (Refused), it failed inside
// (ServerError), the system holds no such name (NoSuchName), or the control
// itself raised instead of answering (ControlFault).
enum class AccessFailure : uint8_t {
  None,
  NotReachable,
  TimedOut,
  DatabaseNotReachable,
  Refused,
  ServerError,
  NoSuchName,
  ControlFault,
};

// What a completion code says about a failed access, for the codes this
// table knows; every other code is the server's own failure, or, when the
// server refused to start the access, a refusal.
inline AccessFailure FailureOfCode(int32_t code, bool refusedAtStart) {
  switch (code) {
    case kCodeSuccess:
      return AccessFailure::None;
    case kCodeServerUnavailable45:
    case kCodeServerUnavailable98:
      return AccessFailure::NotReachable;
    case kCodeLinkTimeout:
    case kCodeTimedOut:
      return AccessFailure::TimedOut;
    case kCodeDatabaseUnreachable:
      return AccessFailure::DatabaseNotReachable;
    case kCodeUnknownContext:
    case kCodeUnknownServer:
    case kCodeUnknownDevice:
    case kCodeUnknownProperty:
      return AccessFailure::NoSuchName;
    case kCodeNotWritable:
    case kCodeIllegalFormat:
    case kCodeBadState:
      return AccessFailure::Refused;
    case kCodeDeviceError:
      return AccessFailure::ServerError;
    default:
      return refusedAtStart ? AccessFailure::Refused : AccessFailure::ServerError;
  }
}

// What the codes above say, for a control system's RPCERR to start from; each
// control system adds its own codes.
inline const std::map<int32_t, std::string>& CheckerCodeTexts() {
  static const std::map<int32_t, std::string> texts = {
      {kCodeSuccess, "success"},
      {kCodeParseError, "input data do not give the announced number of values"},
      {kCodeNoPropertyColumn, "test description has no Property column"},
      {kCodeAsyncEnded35, "asynchronous access ended"},
      {kCodeAsyncEnded36, "asynchronous access ended by the server"},
      {kCodeNothingToLoad, "nothing to load or reading failed"},
      {kCodeServerUnavailable45, "server not answering"},
      {kCodeLinkTimeout, "link timeout"},
      {kCodeShortPropsOnly, "server knows only the short property record"},
      {kCodeNotImplemented, "not implemented"},
      {kCodeTimedOut, "timed out waiting for completion"},
      {kCodeServerUnavailable98, "server unavailable"},
      {kCodeTargetNotMet, "answer differs from the reference"},
      {kCodeRunInProgress, "a test run is in progress"},
      {kCodeTooManyProperties,
       "the device has more than 32767 properties, more than can be listed"},
  };
  return texts;
}

}  // namespace dsc
