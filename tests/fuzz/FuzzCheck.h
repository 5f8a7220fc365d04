#pragma once

// A property a fuzz target checks beyond "does not crash": when it does not
// hold, the input is a finding like a crash, and libFuzzer keeps it.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                     \
  ((condition) ? void()                                                                           \
               : (std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__, \
                               #condition),                                                       \
                  std::abort()))
