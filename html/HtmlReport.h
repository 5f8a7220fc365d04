#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/RunEvents.h"
#include "html/HtmlRun.h"

namespace dsc {

// One self-contained HTML page per run: the run, its totals, one section per
// server (failures first) with a row per command, and inline SVG plots of
// the elapsed times. Nothing on the page refers outside it, so it opens from
// a CI artifact or a mail. A listener on the run like the other outputs: the
// rows are kept as the run goes (the facts, not their markup) and the page is
// written from them once the run ends, straight into the file. ovra-check
// writes it when the invocation ends (interrupted or not); the window keeps
// the last run's and saves it when asked.
class HtmlReport final : public RunObserver {
 public:
  explicit HtmlReport(HtmlRunInfo info);

  void ServerStarted(const std::string& context, const std::string& server,
                     int32_t planned) override;
  void CommandEnded(const CommandOutcome& outcome) override;
  void ServerEnded(const RunSummary& summary) override;
  void ServerNotPrepared(const std::string& context, const std::string& server,
                         const std::string& reason) override;
  // A value a POLL command was delivered while it waited, ms after its start.
  void ValueDelivered(int32_t index, int64_t atMs, const DecodedValue& value) override;
  // The run's totals, for a page saved later (Save without totals).
  void RunEnded(const CheckTotals& totals) override;

  // Empties the file at once, as the JUnit writer does: a path that cannot
  // be written is known before anything runs. False, with "PATH: reason".
  bool Open(const std::string& path, std::string& error);
  // Writes the page into the file Open named; called once the exit status it
  // shows is known.
  void Finished(const CheckTotals& totals);
  bool written() const { return written_; }
  const std::string& error() const { return error_; }

  // Writes the page into path (created or emptied); false, with
  // "PATH: reason" in error, when it could not be written whole.
  bool Save(const std::string& path, const CheckTotals& totals, std::string& error) const;
  // The same with the totals RunEnded saw.
  bool Save(const std::string& path, std::string& error) const {
    return Save(path, totals_, error);
  }
  bool ended() const { return ended_; }

  // The page as a string, for tests (Save writes the same to a file).
  std::string Page(const CheckTotals& totals) const;

  HtmlRun& run() { return run_; }

 private:
  HtmlRun::Server& ServerFor(const std::string& context, const std::string& server);
  HtmlRun run_;
  std::string path_, error_;
  bool written_ = false, ended_ = false;
  CheckTotals totals_;
  std::vector<HtmlRun::Delivery> pendingDeliveries_;
  int32_t pendingIndex_ = -1;
};

}  // namespace dsc
