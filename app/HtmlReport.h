#pragma once

#include <cstdint>
#include <functional>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "app/RunOutputs.h"

namespace dsc {

// What the page says about the invocation, which the runner does not know.
struct HtmlRunInfo {
  std::string what;       // what was run, as typed: "config \"LINAC daily check\""
  std::string against;    // the facility file, the Tango databases or "the built-in demo"
  std::string database;   // the database directory
  int64_t startedMs = 0;  // Unix time; 0: when the writer was made
};

// One self-contained HTML page per invocation: the run, its totals, one
// section per server (failures first) with a row per command, and inline SVG
// plots of the elapsed times. Nothing on the page refers outside it, so it
// opens from a CI artifact or a mail. The rows are kept as the run goes and
// the page is written when the invocation ends (interrupted or not).
class HtmlReport final : public CheckOutput {
 public:
  explicit HtmlReport(HtmlRunInfo info);
  // Truncates the file at once, as the JUnit writer does: a path that cannot
  // be written is known before anything runs.
  bool Open(const std::string& path, std::string& error);
  void ServerStarted(const std::string& context, const std::string& server,
                     int32_t planned) override;
  void CommandEnded(const CommandOutcome& outcome) override;
  void ServerEnded(const RunSummary& summary) override;
  void ServerNotPrepared(const std::string& context, const std::string& server,
                         const std::string& reason) override;
  // Writes the page; called once the exit status it shows is known.
  void Finished(const CheckTotals& totals);
  // A value a POLL command was delivered while it waited, ms after its start.
  void ValueDelivered(int32_t index, int64_t atMs, const DecodedValue& value) override;
  bool written() const { return written_; }
  const std::string& error() const { return error_; }

  // The control system's own name of a server (device empty) or a device,
  // or "" where it has none; asked once per name when the page is written.
  std::function<std::string(const std::string& context, const std::string& server,
                            const std::string& device)>
      longName;

  // The page as a string, for tests (Finished writes the same to the file).
  std::string Page(const CheckTotals& totals);

  // The run as the page shows it: the one place that knows the runner's
  // events, so a change of events is a change here.
  struct Row {
    int32_t index = 0;
    Verdict kind = Verdict::Passed;
    bool timedOut = false;
    int32_t status = 0;
    int64_t ms = 0;
    std::string description, property, device, access, result, value, expected;
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

 private:
  void Build(pugi::xml_document& doc, const CheckTotals& totals);
  Server& ServerFor(const std::string& context, const std::string& server);
  HtmlRunInfo info_;
  std::string path_, error_;
  bool written_ = false;
  std::vector<Server> servers_;
  std::vector<Delivery> pendingDeliveries_;
  int32_t pendingIndex_ = -1;
};

}  // namespace dsc
