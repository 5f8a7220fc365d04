#pragma once

// A property a fuzz target checks beyond "does not crash": when it does not
// hold, the input is a finding like a crash, and libFuzzer keeps it.

#include <cstdio>
#include <cstdlib>

#include "engine/Clock.h"

#define FUZZ_CHECK(condition)                                                                      \
  do {                                                                                             \
    if (!(condition)) {                                                                            \
      std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                                \
    }                                                                                              \
  } while (0)

// A clock that stands still, for targets that need one.
class StillClock final : public dsc::Clock {
 public:
  int64_t NowMs() override { return 1'700'000'000'000; }
  std::string LocalDateTime() override { return "2023-11-14 22:13:20"; }
};
