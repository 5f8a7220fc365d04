#include "ui/MainWindow.h"

#include <algorithm>

#include <QComboBox>
#include <QPalette>
#include <QTimer>
#include <QTreeWidget>

#include "access/CompletionCodes.h"
#include "access/NamespaceQueries.h"

#include "ui/MainWindowParts.h"

namespace dsc::ui {

using namespace window;

namespace {

// The test sources as the engine's run loads them: their queries count as
// the window's own (further cascades wait), and the window hears of each
// server before its test is loaded.
class WindowLoader final : public SpecificTestLoader {
 public:
  WindowLoader(TestSources& sources, CheckerSession& session, std::atomic<int>& queries,
               std::function<void(const std::string&)> loading,
               std::function<std::string(const std::string&, const std::string&)> unknown)
      : sources_(sources),
        session_(session),
        queries_(queries),
        loading_(std::move(loading)),
        unknown_(std::move(unknown)) {}
  int16_t LoadSpecificTest(const std::string& context, const std::string& server,
                           const std::string& device) override {
    if (loading_) loading_(server);
    // A server the control system does not list would only fail every
    // access, each with its own Link Error box.
    if (const std::string why = unknown_ ? unknown_(context, server) : ""; !why.empty()) {
      session_.checkerCaption = why;
      return kCodeUnknownServer;
    }
    Counted busy(queries_);
    return sources_.initSelfText(context, server, device);
  }
  std::string LoadRefusal() const override { return sources_.refusal(); }

 private:
  TestSources& sources_;
  CheckerSession& session_;
  std::atomic<int>& queries_;
  std::function<void(const std::string&)> loading_;
  std::function<std::string(const std::string&, const std::string&)> unknown_;
};

}  // namespace

void Vesker::runThrough(const RunInfo& info, const std::function<void(const std::string&)>& loading,
                        const std::function<void(ConfiguredRun&)>& body) {
  // The window hears of a server on the GUI thread, wherever the run goes.
  const auto heard = [&](const std::string& server) {
    if (loading) relay_->OnGui([&] { loading(server); });
  };
  WindowLoader loader(*sources_, *session_, queries_, heard,
                      [this](const std::string& context, const std::string& server) {
                        return unknownToSystem(context, server);
                      });
  ConfiguredRun run(*session_, *runner_, loader);
  for (RunObserver* o : runOutputs_) run.addObserver(*o);
  // The page of every run is kept until the next starts: saving it later
  // writes what ovra-check --html would have written for the same run.
  const std::string what = info.configuration.empty()
                               ? "test of /" + info.context + "/" + serverText()
                               : "config \"" + info.configuration + "\"";
  page_ = std::make_unique<HtmlReport>(
      HtmlRunInfo{what, options_.systemDescription, options_.databasePath, 0});
  page_->run().longName = [this](const std::string& context, const std::string& server,
                                 const std::string& device) {
    return lib_->LongNameOf(context, server, device).name;
  };
  run.addObserver(*page_);
  const std::function<void()> whole = [&] {
    run.Begin(info);
    body(run);
    lastTotals_ = run.End([this](CheckTotals& t) {
      if (session_->report.linesWritten() > 0) t.reportFile = session_->report.reportFileName;
    });
  };
  runWhole(whole);
}

void Vesker::runWhole(const std::function<void()>& whole) {
  if (calls_.runsInline()) {
    whole();
    return;
  }
  // Calls that may block go to the worker; a hand-over for each of a run's
  // accesses would cost more than most accesses, so the whole run goes
  // there and the GUI thread applies what it wrote every kDrainEveryMs.
  QTimer tick;
  int ticks = 0;
  QObject::connect(&tick, &QTimer::timeout, this, [this, &ticks] {
    relay_->Drain();
    // An access that has not returned yet: the window shows where the run
    // is, and its cell says it waits.
    const int64_t waited = calls_.innerCallMs();
    if (waited >= kWaitingShownAfterMs) showWaiting();
    if (waited >= kDrainEveryMs / 2 || ++ticks % (kRepaintEveryMs / kDrainEveryMs) == 0) publish();
  });
  tick.start(static_cast<int>(kDrainEveryMs));
  runOnWorker_ = true;
  struct Back {
    Vesker& w;
    ~Back() {
      w.relay_->RunEnded();
      w.runOnWorker_ = false;
    }
  } back{*this};
  calls_.Run(whole);
}

void Vesker::markUnknownConfigurations() {
  known_.clear();
  const auto& configs = session_->configs;
  for (int i = 0; i < StoredConfigCombo->count(); ++i) {
    const StoredConfig& config = configs.StoredConfigs[static_cast<size_t>(i)];
    auto at = std::find_if(known_.begin(), known_.end(),
                           [&](const auto& k) { return k.first == config.Context; });
    if (at == known_.end()) {
      KnownContext k;
      k.listed = std::find(contextNames.begin(), contextNames.begin() + contextCount,
                           config.Context) != contextNames.begin() + contextCount;
      int16_t count = 0;
      if (k.listed && GetServerList(*lib_, config.Context, k.servers, count) == 0) {
        k.serversListed = true;
        k.servers.resize(static_cast<size_t>(std::max<int16_t>(count, 0)));
      }
      known_.emplace_back(config.Context, std::move(k));
      at = known_.end() - 1;
    }
    QStringList unknown;
    const int count = std::min<int>(config.ServerCount, static_cast<int>(config.Servers.size()));
    for (int s = 0; s < count; ++s)
      if (!unknownToSystem(config.Context, config.Servers[static_cast<size_t>(s)]).empty())
        unknown << FromLatin1(config.Servers[static_cast<size_t>(s)]);
    if (unknown.isEmpty()) continue;
    const QString note =
        !at->second.listed
            ? FromLatin1("The control system knows no context \"" + config.Context +
                         "\": this configuration cannot run here.")
            : QString("The control system knows no server %1 in context \"%2\": %3 not run.")
                  .arg(unknown.join(", "), FromLatin1(config.Context),
                       unknown.size() == 1 ? "it is" : "they are");
    StoredConfigCombo->setItemData(i, note, Qt::ToolTipRole);
    StoredConfigCombo->setItemData(i, palette().color(QPalette::Disabled, QPalette::Text),
                                   Qt::ForegroundRole);
  }
}

std::string Vesker::unknownToSystem(const std::string& context, const std::string& server) const {
  const auto at =
      std::find_if(known_.begin(), known_.end(), [&](const auto& k) { return k.first == context; });
  if (at == known_.end()) return {};
  const KnownContext& k = at->second;
  if (!k.listed) return "The control system knows no context \"" + context + "\"";
  if (k.serversListed && std::find(k.servers.begin(), k.servers.end(), server) == k.servers.end())
    return "The control system knows no server \"" + server + "\" in context \"" + context + "\"";
  return {};
}

void Vesker::showConfigurationNote() {
  if (commandRunning()) return;
  const int i = StoredConfigCombo->currentIndex();
  const QString note = i >= 0 ? StoredConfigCombo->itemData(i, Qt::ToolTipRole).toString() : "";
  if (!note.isEmpty()) {
    setStatus(note);
    configNoteShown_ = true;
  } else if (configNoteShown_) {
    setStatus({});
    configNoteShown_ = false;
  }
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
      relay_->OnGui([&] { configServerPrepared(context, server, ok, prepared); });
    };
    run.serverDone = [&](bool) {
      if (!prepared) return;
      serverRunEnded();
      relay_->OnGui([&] {
        ServerOutcome& entry = *summary_.back();
        entry.rows = progress_->rows;
        entry.running = false;
        addSummaryEntry(entry);
      });
    };
    run.RunConfiguration(config, "");
    // The servers a stop left out.
    relay_->OnGui([&] {
      for (size_t i = summary_.size(); i < static_cast<size_t>(count); ++i) {
        auto entry = std::make_shared<ServerOutcome>();
        entry->server = config.Servers[i];
        entry->note = "not run: " + FromLatin1(kStoppedLine).toLower();
        summary_.push_back(entry);
        addSummaryEntry(*entry);
      }
    });
  });
  // The cache now holds the last configured server's information, which need
  // not be the selected server: the next use fetches it anew.
  session_->serverInfoText.clear();
  infoFor_ = {};
  showReportError();
  endCommand();
}

void Vesker::configServerPrepared(const std::string& context, const std::string& server, bool ok,
                                  bool& prepared) {
  prepared = ok;
  ServerOutcome& entry = *summary_.back();
  setCaption(session_->checkerCaption);
  entry.caption = session_->checkerCaption;
  // The code of this server's own query: a server the system does not
  // list was not asked.
  const int16_t asked = unknownToSystem(context, server).empty() ? sources_->selfTestCode() : 0;
  const AccessFailure why = FailureOfCode(asked, false);
  if (!ok && (why == AccessFailure::NotReachable || why == AccessFailure::TimedOut)) {
    // Its test file may be missing too, but what matters is the server.
    entry.note = QString("not run: the server does not answer (code %1: %2)")
                     .arg(asked)
                     .arg(FromLatin1(GetErrorString(*lib_, asked)));
  } else if (!ok) {
    entry.note = "not run: " + Reason(session_->checkerCaption);
  } else {
    planFor_ = {context, server};
    entry.running = true;
  }
  addSummaryEntry(entry);
}

}  // namespace dsc::ui
