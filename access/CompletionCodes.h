#pragma once

#include <cstdint>

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
inline constexpr int16_t kCodeTargetNotMet = 103;    // answer differs from the reference
inline constexpr int16_t kCodeRunInProgress = 104;   // a run owns the plan; refused
inline constexpr int16_t kCodeFlagPartial = 0x4000;  // DEVICES: data valid, with a warning

}  // namespace dsc
