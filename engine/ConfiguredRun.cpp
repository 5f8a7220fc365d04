#include "engine/ConfiguredRun.h"

#include <algorithm>

namespace dsc {

std::string PreparationReason(const std::string& caption) {
  const size_t lf = caption.rfind('\n');
  return lf == std::string::npos ? caption : caption.substr(lf + 1);
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
    NotPrepared(context, server, PreparationReason(session_.checkerCaption));
  }
}

void ConfiguredRun::RunConfiguration(const StoredConfig& config,
                                     const std::string& noServersReason) {
  const int count = std::min<int>(config.ServerCount, static_cast<int>(config.Servers.size()));
  if (count < 1) NotPrepared(config.Context, "", noServersReason);
  for (int i = 0; i < count && !session_.stop.requested(); ++i) {
    // Each server's information is its own.
    session_.serverInfoText.clear();
    RunSpecific(config.Context, config.Servers[i], "#0");
  }
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
