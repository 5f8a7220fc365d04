#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "engine/ReportLog.h"
#include "engine/RunEvents.h"
#include "engine/RunState.h"
#include "engine/TestPlan.h"

namespace dsc {

// Everything the checker keeps between commands: what the original program
// held as window and module state. Each window, terminal run or test owns one.
// Large (two transfer areas): create it on the heap or as a member.
struct CheckerSession {
  CheckerSession(Clock& clock, std::string reportDirectory)
      : report(clock, std::move(reportDirectory)) {}

  TestPlanState plan;
  StoredConfigState configs;
  std::string DatabasePath;  // always ends with "/" once set

  RunState run;
  ReportLog report;  // holds reportFileName

  // Cached information block of the current server; empty = not yet fetched.
  std::string serverInfoText;
  // The caption the test sources give the status label (CheckerLabel).
  std::string checkerCaption;

  // Filled by GetPropertyList on behalf of the standard test.
  std::vector<std::string> propertyNames;
  std::vector<int16_t> propertySizes;
  std::vector<int16_t> propertyFormats;

  // True while the runner executes the plan. Sources refuse to replace the
  // plan and the runner refuses a second run while it is set, because an
  // asynchronous wait pumps window events and a click could otherwise start
  // one inside the other.
  bool runInProgress = false;
  // Set by a Stop button or a signal. The front end clears it when it starts
  // what the operator asked for, so that one stop also ends the remaining
  // servers of a configuration.
  StopRequest stop;
};

}  // namespace dsc
