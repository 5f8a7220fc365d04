#pragma once

#include <cstdint>
#include <string>

namespace dsc {

// Time as the checker sees it. Injected everywhere so that tests and the
// simulation can run a five-second time-out in microseconds.
class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since the Unix epoch: for dates and report lines only, as
  // the wall clock may be set back or forward while a run waits.
  virtual int64_t NowMs() = 0;
  // Milliseconds that never run backwards, from an arbitrary start: for
  // time-outs, polls and elapsed times. A clock whose NowMs only moves
  // forward (a test's fake) needs no other.
  virtual int64_t MonotonicMs() { return NowMs(); }
  // Local date and time as "YYYY-MM-DD HH:MM:SS" (19 characters).
  virtual std::string LocalDateTime() = 0;
  // UNIXTIME of the utility library: whole seconds, 32-bit.
  int32_t UnixTime() { return static_cast<int32_t>(NowMs() / 1000); }
};

class SystemClock final : public Clock {
 public:
  int64_t NowMs() override;
  int64_t MonotonicMs() override;
  std::string LocalDateTime() override;
};

}  // namespace dsc
