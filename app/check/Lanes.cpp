// Servers side by side: the lanes of ovra-check.
#include <algorithm>
#include <iostream>

#include "app/check/Checker.h"

namespace dsc::check {

Checker::~Checker() {
  StopListening();
  // The lanes record into the outputs: they go first.
  lanes_.clear();
}

int Checker::OpenLanes(int jobs) {
  if (!reopen || jobs <= 1) return 1;
  while (static_cast<int>(lanes_.size()) < jobs) {
    ControlSystem system;
    std::string error;
    if (!reopen(system, error)) {
      Line("ovra-check: --jobs: another connection cannot be opened (" + error +
           "): one server at a time");
      lanes_.clear();
      return 1;
    }
    lanes_.push_back(std::make_unique<Lane>(*this, std::move(system)));
  }
  return jobs;
}

Lane& Checker::LaneFor(int32_t i, ServerBlock& block) {
  Lane& lane = *lanes_.at(static_cast<size_t>(i));
  lane.Into(block);
  return lane;
}

void Checker::RunConfiguration(const StoredConfig& config, const std::string& noServersReason,
                               int jobs) {
  jobs = std::min<int>(jobs, static_cast<int>(run_.SelectedServers(config).size()));
  if (jobs > 1) jobs = OpenLanes(jobs);
  if (jobs <= 1) return run_.RunConfiguration(config, noServersReason);
  run_.RunConfiguration(
      config, noServersReason, jobs,
      [this](int32_t i, ServerBlock& block) -> ConfiguredRun& { return LaneFor(i, block).run(); });
}

Lane::Lane(Checker& checker, ControlSystem system)
    : checker_(checker),
      system_(std::move(system)),
      control_(std::move(system_.control)),
      session_(
          std::make_unique<CheckerSession>(checker.clock(), checker.session().report.directory())),
      sources_(*session_, *system_.library),
      prompt_(*this, checker.options().retries),
      pump_(*control_,
            [](int32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }),
      runner_(*session_, *control_, grid_, prompt_, pump_, checker.clock()),
      run_(*session_, runner_, sources_),
      recorder_(checker.outputs()) {
  session_->DatabasePath = checker.session().DatabasePath;
  // The lane writes no file: its lines go into the run's report in order.
  session_->report.divert = [this](std::string line) {
    block_->Add([&c = checker_, line] { c.session().report.AddFinished(line); });
  };
  sources_.readTimeoutMs = checker.options().timeoutMs;
  runner_.setOptions(checker.runOptions());
  run_.addObserver(recorder_);
  run_.addObserver(giveUp_);
  if (checker.wantsFacts()) {
    recorder_.keep = [this](const CommandOutcome& o) -> std::function<void()> {
      auto kept = std::make_shared<Checker::KeptFacts>();
      kept->facts = control_->LastValueFacts();
      if (o.accessFailed()) kept->stack = control_->ErrorStack();
      return [&c = checker_, kept] { c.UseKeptFacts(kept); };
    };
  }
  run_.serverPrepared = [this](const std::string&, const std::string&, bool prepared) {
    const std::string caption = session_->checkerCaption;
    const std::string refusal = prepared ? "" : UntoldRefusal(caption, sources_.refusal());
    block_->Add([&c = checker_, caption, refusal, prepared] {
      c.ShowPrepared(caption, refusal, prepared);
    });
  };
}

Lane::~Lane() = default;

void Lane::Into(ServerBlock& block) {
  block_ = &block;
  recorder_.block = &block;
}

void Lane::PreparationFailed(const std::string& context, const std::string& server,
                             const std::string& why, bool captionShown) {
  if (captionShown) {
    Line("not prepared: skipped");
    block_->Add([&c = checker_] { c.CaptionShown(); });
  }
  run_.NotPrepared(context, server, PreparationReason(why));
}

LinkErrorPrompt::Answer Lane::Prompt::Ask(const std::string& title, const std::string& text) {
  const Answer answer = retry_.Ask(title, text);
  std::string said = said_.str();
  if (!said.empty()) {
    said_.str("");
    lane_.block_->Add([&c = lane_.checker_, said] { c.Say(said); });
  }
  return answer;
}

}  // namespace dsc::check
