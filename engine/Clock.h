#pragma once

#include <cstdint>
#include <string>

namespace dsc {

// Time as the checker sees it. Injected everywhere so that tests and the
// simulation can run a five-second time-out in microseconds.
class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since the Unix epoch.
  virtual int64_t NowMs() = 0;
  // Local date and time as "YYYY-MM-DD HH:MM:SS" (19 characters).
  virtual std::string LocalDateTime() = 0;
  // UNIXTIME of the utility library: whole seconds, 32-bit.
  int32_t UnixTime() { return static_cast<int32_t>(NowMs() / 1000); }
};

class SystemClock final : public Clock {
 public:
  int64_t NowMs() override;
  std::string LocalDateTime() override;
};

}  // namespace dsc
