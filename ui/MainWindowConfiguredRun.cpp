#include "ui/MainWindow.h"

#include <algorithm>

#include <QComboBox>
#include <QTreeWidget>

#include "ui/MainWindowParts.h"

namespace dsc::ui {

using namespace window;

// Specific Test with "Configured": each server of the stored configuration
// in turn, with a line of the run summary for each.
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
  // A copy: the configuration must not change under the loop.
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
  for (int i = 0; i < count; ++i) {
    auto entry = std::make_shared<ServerOutcome>();
    entry->server = config.Servers[i];
    summary_.push_back(entry);
    if (session_->stop.requested()) {
      entry->note = "not run: " + FromLatin1(kStoppedLine).toLower();
      addSummaryEntry(*entry);
      continue;
    }
    session_->serverInfoText.clear();
    int16_t r = 0;
    {
      Counted busy(queries_);
      r = sources_->initSelfText(config.Context, config.Servers[i], "#0");
    }
    setCaption(session_->checkerCaption);
    if (r != 0) {
      entry->note = "not run: " + Reason(session_->checkerCaption);
      addSummaryEntry(*entry);
      continue;
    }
    planFor_ = {config.Context, config.Servers[i]};
    entry->running = true;
    addSummaryEntry(*entry);
    RunVesk(config.Context, config.Servers[i]);
    entry->rows = progress_->rows;
    entry->running = false;
    addSummaryEntry(*entry);
  }
  // The cache now holds the last configured server's information, which need
  // not be the selected server: the next use fetches it anew.
  session_->serverInfoText.clear();
  infoFor_ = {};
  showReportError();
  endCommand();
}

}  // namespace dsc::ui
