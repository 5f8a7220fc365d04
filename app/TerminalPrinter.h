#pragma once

#include <ostream>
#include <string>

#include "app/CheckOutput.h"
#include "app/OutputText.h"

namespace dsc {

// The human lines: "[3/7] Pressure : Target not met !  expected 5 got 4.2  (12 ms)".
class TerminalPrinter final : public CheckOutput {
 public:
  TerminalPrinter(std::ostream& out, bool colour, bool terminal)
      : out_(out), colour_(colour), flusher_(out, terminal) {}
  void ServerStarted(const std::string&, const std::string&, int32_t planned) override {
    planned_ = planned;
  }
  void CommandEnded(const CommandOutcome& outcome) override;
  void ServerEnded(const RunSummary& summary) override;
  void ServerNotPrepared(const std::string& context, const std::string& server,
                         const std::string& reason) override;
  void RunEnded(const CheckTotals& totals) override;
  // The caption already said why the next server was not prepared.
  void CaptionShown() { captionShown_ = true; }

 private:
  std::string Paint(const std::string& text, const char* colour) const;
  std::ostream& out_;
  bool colour_;
  LineFlusher flusher_;
  int32_t planned_ = 0;
  std::string line_;
  bool captionShown_ = false;
};

}  // namespace dsc
