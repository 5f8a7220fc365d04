#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "access/CompletionCodes.h"
#include "access/DataAcquisitionControl.h"
#include "base/Clock.h"
#include "engine/CheckerSession.h"
#include "engine/FrontEnd.h"
#include "engine/RunEvents.h"

namespace dsc {

// Executes the session's test plan against one device server through the
// data-acquisition control, writing one grid row and one report line per
// command. The control's completion events reach Zorbel1_event9 while the
// asynchronous wait pumps events.
class CheckRunner {
 public:
  CheckRunner(CheckerSession& session, DataAcquisitionControl& Zorbel1, ResultsGrid& grid,
              LinkErrorPrompt& prompt, EventPump& pump, Clock& clock);
  ~CheckRunner();
  CheckRunner(const CheckRunner&) = delete;
  CheckRunner& operator=(const CheckRunner&) = delete;

  // Runs commands 0..TestPlanCount-1. Returns false, doing nothing, when a run
  // is already under way (the session's runInProgress).
  bool RunVesk(const std::string& context, const std::string& server);

  void WaitForAsyncCompletion(int32_t timeout);
  void Zorbel1_event9(int32_t ignored, int32_t code);

  // Observers are not owned and must outlive the runs they watch.
  void addObserver(RunObserver& observer) { observers_.push_back(&observer); }
  void removeObserver(RunObserver& observer);
  // Shorthand for an observer of ended commands only.
  void setOutcomeObserver(std::function<void(const CommandOutcome&)> observer) {
    observer_ = std::move(observer);
  }
  void setOptions(RunOptions options) { options_ = std::move(options); }
  const RunOptions& options() const { return options_; }

 private:
  CheckerSession& session_;
  DataAcquisitionControl& control_;
  ResultsGrid& grid_;
  LinkErrorPrompt& prompt_;
  EventPump& pump_;
  Clock& clock_;
  std::function<void(const CommandOutcome&)> observer_;
  std::vector<RunObserver*> observers_;
  RunOptions options_;
  int64_t commandStartMs_ = 0;  // when the current command started, for its deliveries

  void Ended(const CommandOutcome& outcome);
};

}  // namespace dsc
