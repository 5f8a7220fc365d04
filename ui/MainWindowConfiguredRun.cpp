#include "ui/MainWindow.h"

#include <algorithm>

#include <QComboBox>
#include <QTreeWidget>

#include "ui/MainWindowParts.h"

namespace dsc::ui {

using namespace window;

namespace {

// The test sources as the engine's run loads them: their queries count as
// the window's own (further cascades wait), and the window hears of each
// server before its test is loaded.
class WindowLoader final : public SpecificTestLoader {
 public:
  WindowLoader(TestSources& sources, int& queries, std::function<void(const std::string&)> loading)
      : sources_(sources), queries_(queries), loading_(std::move(loading)) {}
  int16_t LoadSpecificTest(const std::string& context, const std::string& server,
                           const std::string& device) override {
    if (loading_) loading_(server);
    Counted busy(queries_);
    return sources_.initSelfText(context, server, device);
  }
  std::string LoadRefusal() const override { return sources_.refusal(); }

 private:
  TestSources& sources_;
  int& queries_;
  std::function<void(const std::string&)> loading_;
};

}  // namespace

void Vesker::runThrough(const RunInfo& info, const std::function<void(const std::string&)>& loading,
                        const std::function<void(ConfiguredRun&)>& body) {
  WindowLoader loader(*sources_, queries_, loading);
  ConfiguredRun run(*session_, *runner_, loader);
  for (RunObserver* o : runOutputs_) run.addObserver(*o);
  run.Begin(info);
  body(run);
  lastTotals_ = run.End([this](CheckTotals& t) {
    if (session_->report.linesWritten() > 0) t.reportFile = session_->report.reportFileName;
  });
}

// Specific Test with "Configured": the engine's configured run, the same as
// ovra-check's, with a line of the run summary for each server.
void Vesker::runConfiguration() {
  const int index = StoredConfigCombo->currentIndex();
  const auto& configs = session_->configs;
  if (index < 0 || index >= configs.StoredConfigCount ||
      index >= static_cast<int>(configs.StoredConfigs.size())) {
    setStatus(
        "No stored configuration is selected (see procedures.csv in the database "
        "directory), or choose \"Selected\" to test the chosen server.");
    return;
  }
  // A copy: the configuration must not change under the run.
  const StoredConfig config = configs.StoredConfigs[index];
  const int count = std::min<int>(config.ServerCount, static_cast<int>(config.Servers.size()));
  if (count <= 0) {
    setStatus(FromLatin1("The stored configuration \"" + config.Description +
                         "\" lists no device servers."));
    return;
  }
  beginCommand();
  configServers_ = count;
  summaryList().show();
  // A server's entry is there before its test is loaded, so that the
  // progress line names it meanwhile.
  auto loading = [this](const std::string& server) {
    auto entry = std::make_shared<ServerOutcome>();
    entry->server = server;
    summary_.push_back(entry);
  };
  runThrough({config.Context, config.Description, count}, loading, [&](ConfiguredRun& run) {
    bool prepared = false;
    run.serverPrepared = [&](const std::string& context, const std::string& server, bool ok) {
      prepared = ok;
      ServerOutcome& entry = *summary_.back();
      setCaption(session_->checkerCaption);
      if (!ok) {
        entry.note = "not run: " + Reason(session_->checkerCaption);
      } else {
        planFor_ = {context, server};
        entry.running = true;
      }
      addSummaryEntry(entry);
    };
    run.serverDone = [&](bool) {
      if (!prepared) return;
      serverRunEnded();
      ServerOutcome& entry = *summary_.back();
      entry.rows = progress_->rows;
      entry.running = false;
      addSummaryEntry(entry);
    };
    run.RunConfiguration(config, "");
    // The servers a stop left out.
    for (size_t i = summary_.size(); i < static_cast<size_t>(count); ++i) {
      auto entry = std::make_shared<ServerOutcome>();
      entry->server = config.Servers[i];
      entry->note = "not run: " + FromLatin1(kStoppedLine).toLower();
      summary_.push_back(entry);
      addSummaryEntry(*entry);
    }
  });
  // The cache now holds the last configured server's information, which need
  // not be the selected server: the next use fetches it anew.
  session_->serverInfoText.clear();
  infoFor_ = {};
  showReportError();
  endCommand();
}

}  // namespace dsc::ui
