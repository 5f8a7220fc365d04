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
