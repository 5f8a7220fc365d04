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
  jobs = std::min<int>(jobs, static_cast<int>(parts_.run.SelectedServers(config).size()));
  if (jobs > 1) jobs = OpenLanes(jobs);
  if (jobs <= 1) return parts_.run.RunConfiguration(config, noServersReason);
  parts_.run.RunConfiguration(
      config, noServersReason, jobs,
      [this](int32_t i, ServerBlock& block) -> ConfiguredRun& { return LaneFor(i, block).run(); });
}

Lane::Lane(Checker& checker, ControlSystem system)
    : checker_(checker),
      prompt_(*this, checker.options().retries),
      parts_(checker.clock(), std::move(system), checker.session().report.directory(), prompt_,
             checker.options().timeoutMs),
      recorder_(checker.outputs()) {
  parts_.session->DatabasePath = checker.session().DatabasePath;
  // The lane writes no file: its lines go into the run's report in order.
  parts_.session->report.divert = [this](std::string line) {
    block_->Add([&c = checker_, line] { c.session().report.AddFinished(line); });
  };
  parts_.runner.setOptions(checker.runOptions());
  parts_.run.addObserver(recorder_);
  parts_.run.addObserver(parts_.giveUp);
  if (checker.wantsFacts()) {
    recorder_.keep = [this](const CommandOutcome& o) -> std::function<void()> {
      auto kept = std::make_shared<Checker::KeptFacts>();
      kept->facts = parts_.control->LastValueFacts();
      if (o.accessFailed()) kept->stack = parts_.control->ErrorStack();
      return [&c = checker_, kept] { c.UseKeptFacts(kept); };
    };
  }
  parts_.run.serverPrepared = [this](const std::string&, const std::string&, bool prepared) {
    const std::string caption = parts_.session->checkerCaption;
    const std::string refusal = prepared ? "" : UntoldRefusal(caption, parts_.sources.refusal());
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
  parts_.run.NotPrepared(context, server, PreparationReason(why));
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
