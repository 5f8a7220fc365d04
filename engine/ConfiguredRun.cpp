#include "engine/ConfiguredRun.h"

#include <algorithm>

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
