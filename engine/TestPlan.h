#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dsc {

// One step of a test: call one property of one device of the server under
// test, optionally send input data, optionally compare the answer.
struct TestCommand {
  std::string Description;
  std::string Property;
  std::string Device;
  std::string Access;
  int32_t InputSize = 0;
  int32_t OutputSize = 0;
  int16_t InputFormat = 0;  // full form; a new record holds 0, not 512
  int16_t OutputFormat = 0;
  std::string Data;
  std::string Reference;
  // Opt-in: how far a SINGLE or DOUBLE answer may be from its reference and
  // still meet it ("0.05", "2%", "0.05 2%"); empty compares the bytes exactly.
  std::string Tolerance = {};
};

// A parsed Tolerance: a value meets its reference e when |value - e| is at
// most the larger of `absolute` and `relative` x |e|.
struct ReferenceTolerance {
  double absolute = 0;
  double relative = 0;
  bool Within(double value, double reference) const;
};
// False, leaving tolerance as it was, for text that is not one or two
// non-negative numbers, a relative one ending in "%".
bool ParseTolerance(const std::string& text, ReferenceTolerance& tolerance);

inline constexpr int16_t kMaxListEntries = 32767;

// The test plan: commands 0..TestPlanCount-1 of TestPlan are executed in index
// order. The array may be longer than the count (sources allocate before they
// know how many commands they keep); extra entries are never executed.
struct TestPlanState {
  std::vector<TestCommand> TestPlan;
  int16_t TestPlanCount = 0;
};

// A named group of device servers of one context whose specific tests run one
// after the other.
struct StoredConfig {
  std::string Description;
  std::string FileName;
  std::string Context;
  std::vector<std::string> Servers;
  int16_t ServerCount = 0;
  // Why the server list gave no servers (outside the database directory, too
  // many records, ...), for the front ends; "" when it was read.
  std::string ServerListRefusal;
};

struct StoredConfigState {
  std::vector<StoredConfig> StoredConfigs;
  int16_t StoredConfigCount = 0;
};

// "READ", "WRITE", "POLL" or "REFRESH": the later word wins whatever the order,
// words are matched in upper case only and anywhere (POLLING is POLL).
std::string getAccessMode(const std::string& accStr);

// Time-out in ms from the first bracket group ("POLL[timeout=250]"); 1000 when
// the string names none. Values beyond the 32-bit range saturate.
int32_t getAccessTimeout(const std::string& accStr);

}  // namespace dsc
