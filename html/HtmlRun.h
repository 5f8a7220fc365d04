#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/Outcome.h"

namespace dsc {

// What the page says about the invocation, which the runner does not know.
struct HtmlRunInfo {
  std::string what;       // what was run, as typed: "config \"LINAC daily check\""
  std::string against;    // the facility file, the Tango databases or "the built-in demo"
  std::string database;   // the database directory
  int64_t startedMs = 0;  // Unix time; 0: when the writer was made
};

// The run as the page shows it, kept from the runner's events by HtmlReport.
struct HtmlRun {
  struct Row {
    int32_t index = 0;
    Verdict kind = Verdict::Passed;
    bool timedOut = false;
    int64_t ms = 0;
    std::string description, property, device, result, value, expected;
  };
  struct Delivery {
    int64_t atMs = 0;
    double number = 0;
    bool isNumber = false;
    std::string shown;
  };
  struct Poll {
    int32_t row = 0;  // into rows
    std::vector<Delivery> deliveries;
  };
  struct Server {
    std::string context, server, stoppedBy, notPrepared;
    int32_t planned = 0;
    int64_t startMs = 0, ms = 0;
    int32_t counts[4] = {0, 0, 0, 0};  // by Verdict
    std::vector<Row> rows;
    std::vector<Poll> polls;
    bool failing() const { return counts[1] + counts[2] > 0 || !notPrepared.empty(); }
  };
  HtmlRunInfo info;
  std::vector<Server> servers;
  // The control system's own name of a server (device empty) or a device,
  // or "" where it has none; asked once per name when the page is written.
  std::function<std::string(const std::string& context, const std::string& server,
                            const std::string& device)>
      longName;
};

// The outcome kinds, in Verdict's order, then servers not prepared (4).
const char* KindName(int kind);
const char* KindColour(int kind);

}  // namespace dsc
