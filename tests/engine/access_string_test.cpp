#include "engine/TestPlan.h"

#include <gtest/gtest.h>

#include <climits>
#include <tuple>

namespace dsc {
namespace {

// How the timeout's number is read is LeadingNumber's business, tested with it.
TEST(AccessString, ModeAndTimeout) {
  const std::tuple<const char*, const char*, int32_t> cases[] = {
      {"", "READ", 1000},
      {"write", "READ", 1000},
      {"WRITE", "WRITE", 1000},
      {"WRITE POLL", "POLL", 1000},
      {"READ REFRESH", "REFRESH", 1000},
      {"REFRESH POLL WRITE", "REFRESH", 1000},
      {"POLLING", "POLL", 1000},
      {"REFRESH[TIMEOUT=0]", "REFRESH", 0},
      {"POLL[timeout]", "POLL", 1000},
      {"POLL[timeout=]", "POLL", 0},
      {"POLL[timeout=1500", "POLL", 1500},
      {"POLL[a=1=timeout=300]", "POLL", 300},
      {"POLL[a=timeout=300]", "POLL", 1000},
      {"A[timeout=5]B[timeout=9]", "READ", 5},
      {"timeout=5", "READ", 1000},
      {"POLL[x[timeout=5]", "POLL", 1000},
      {"POLL[timeout=5=timeout=7]", "POLL", 7},
      {"POLL[mytimeoutvalue=42]", "POLL", 42},
      {"POLL[timeout=-20]", "POLL", -20},
      {"POLL[timeout=1e99]", "POLL", INT32_MAX},
      {"POLL]timeout=5[", "POLL", 1000}};
  for (const auto& [access, mode, timeout] : cases) {
    EXPECT_EQ(getAccessMode(access), mode) << access;
    EXPECT_EQ(getAccessTimeout(access), timeout) << access;
  }
}

}  // namespace
}  // namespace dsc
