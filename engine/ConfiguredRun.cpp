#include "engine/ConfiguredRun.h"

#include <algorithm>
#include <mutex>

#include "access/CompletionCodes.h"

namespace dsc {

std::string PreparationReason(const std::string& caption) {
  const size_t lf = caption.rfind('\n');
  return lf == std::string::npos ? caption : caption.substr(lf + 1);
}

std::string UntoldRefusal(const std::string& caption, const std::string& refusal) {
  return refusal.empty() || caption.find(refusal) != std::string::npos ? "" : refusal;
}

ConfiguredRun::ConfiguredRun(CheckerSession& session, CheckRunner& runner,
                             SpecificTestLoader& loader)
    : session_(session), runner_(runner), loader_(loader) {
  addObserver(tally_);
}

ConfiguredRun::~ConfiguredRun() {
  for (RunObserver* o : observers_) runner_.removeObserver(*o);
}

void ConfiguredRun::addObserver(RunObserver& observer) {
  observers_.push_back(&observer);
  runner_.addObserver(observer);
}

void ConfiguredRun::Begin(const RunInfo& info) {
  for (RunObserver* o : observers_) o->RunStarted(info);
}

void ConfiguredRun::RunPlan(const std::string& context, const std::string& server) {
  runner_.RunVesk(context, server);
}

void ConfiguredRun::NotPrepared(const std::string& context, const std::string& server,
                                const std::string& reason) {
  for (RunObserver* o : observers_) o->ServerNotPrepared(context, server, reason);
}

void ConfiguredRun::RunSpecific(const std::string& context, const std::string& server,
                                const std::string& device) {
  const int16_t r = loader_.LoadSpecificTest(context, server, device);
  if (serverPrepared) serverPrepared(context, server, r == 0);
  if (r == 0) {
    RunPlan(context, server);
  } else {
    const std::string why = r == kCodeNothingToLoad
                                ? UntoldRefusal(session_.checkerCaption, loader_.LoadRefusal())
                                : "";
    NotPrepared(context, server,
                PreparationReason(session_.checkerCaption) + (why.empty() ? "" : ": " + why));
  }
}

void ConfiguredRun::RunConfiguration(const StoredConfig& config,
                                     const std::string& noServersReason) {
  const int count = std::min<int>(config.ServerCount, static_cast<int>(config.Servers.size()));
  if (count < 1) NotPrepared(config.Context, "", noServersReason);
  for (const std::string& server : SelectedServers(config)) {
    if (session_.stop.requested()) break;
    const CheckTotals before = tally_.totals;
    // Each server's information is its own.
    session_.serverInfoText.clear();
    RunSpecific(config.Context, server, "#0");
    const CheckTotals& after = tally_.totals;
    if (serverDone)
      serverDone(after.failed + after.errors + after.notPrepared >
                 before.failed + before.errors + before.notPrepared);
  }
}

void ConfiguredRun::RunConfiguration(
    const StoredConfig& config, const std::string& noServersReason, int32_t jobs,
    const std::function<ConfiguredRun&(int32_t lane, ServerBlock& block)>& lane) {
  if (jobs <= 1 || !lane) return RunConfiguration(config, noServersReason);
  const int count = std::min<int>(config.ServerCount, static_cast<int>(config.Servers.size()));
  if (count < 1) NotPrepared(config.Context, "", noServersReason);
  const std::vector<std::string> servers = SelectedServers(config);
  std::vector<CheckerSession*> sessions(static_cast<size_t>(jobs), nullptr);
  std::mutex mutex;  // sessions: filled by the lanes, read by the waiting caller
  RunInBlocks(
      static_cast<int32_t>(servers.size()), jobs,
      [&](int32_t i, int32_t index, ServerBlock& block) {
        ConfiguredRun& run = lane(i, block);
        {
          std::lock_guard<std::mutex> lock(mutex);
          sessions[static_cast<size_t>(i)] = &run.session_;
        }
        if (const char* line = session_.stop.line()) run.session_.stop.Request(line);
        const CheckTotals before = run.tally_.totals;
        run.session_.serverInfoText.clear();
        run.RunSpecific(config.Context, servers[static_cast<size_t>(index)], "#0");
        const CheckTotals& after = run.tally_.totals;
        const bool failed = after.failed + after.errors + after.notPrepared >
                            before.failed + before.errors + before.notPrepared;
        block.Add([this, failed] {
          if (serverDone) serverDone(failed);
        });
      },
      [this] { return session_.stop.requested(); },
      [&] {
        const char* line = session_.stop.line();
        if (!line) return;
        std::lock_guard<std::mutex> lock(mutex);
        for (CheckerSession* s : sessions)
          if (s) s->stop.Request(line);
      });
}

std::vector<std::string> ConfiguredRun::SelectedServers(const StoredConfig& config) const {
  const int count = std::min<int>(config.ServerCount, static_cast<int>(config.Servers.size()));
  std::vector<std::string> servers;
  for (int i = 0; i < count; ++i)
    if (!selects || selects(config.Context, config.Servers[i]))
      servers.push_back(config.Servers[i]);
  return servers;
}

CheckTotals ConfiguredRun::End(const std::function<void(CheckTotals&)>& complete,
                               const std::function<void(CheckTotals&)>& decide) {
  CheckTotals totals = tally_.totals;
  if (complete) complete(totals);
  for (RunObserver* o : observers_) o->RunEnding(totals);
  if (decide) decide(totals);
  for (RunObserver* o : observers_) o->RunEnded(totals);
  return totals;
}

}  // namespace dsc
