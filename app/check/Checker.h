#pragma once

// Everything one invocation of ovra-check needs, and the counts of its
// outputs for the summaries and the exit status.

#include <unistd.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/ControlSystems.h"
#include "app/ProgressLine.h"
#include "app/RunOutputs.h"
#include "app/check/Options.h"
#include "app/check/Signals.h"
#include "app/check/TerminalAdapters.h"
#include "base/Clock.h"
#include "base/TextEncoding.h"
#include "engine/CheckRunner.h"
#include "engine/CheckerSession.h"
#include "engine/ConfiguredRun.h"
#include "engine/ControlEventPump.h"
#include "engine/ReportLog.h"
#include "engine/ServerBlocks.h"
#include "html/HtmlReport.h"
#include "sources/TestSources.h"

namespace dsc::check {

// Whether a stop request ended a server's run with its report line.
class StopLineWatcher final : public RunObserver {
 public:
  void ServerEnded(const RunSummary& s) override {
    if (!s.stoppedBy.empty()) written = true;
  }
  bool written = false;
};

// Whether the runner gave up on a server: for a sweep, which then asks that
// server about no more of its devices.
class GiveUpWatcher final : public RunObserver {
 public:
  void CommandEnded(const CommandOutcome& o) override {
    if (o.outcome.notRun == NotRunReason::ServerGivenUp) gaveUp = true;
    if (!o.skipped()) silentInARow = ServerSilent(o.outcome) ? silentInARow + 1 : 0;
  }
  void Clear() {
    gaveUp = false;
    silentInARow = 0;
  }
  bool gaveUp = false;
  int32_t silentInARow = 0;  // accesses a silent server failed at the end of the last run
};

// What one server's check at a time runs on: a control system and its
// session, the sources of the tests, the runner and the configured run. The
// checker has one set; each lane of --jobs has its own, used by one thread.
struct RunParts {
  RunParts(Clock& clock, ControlSystem opened, const std::string& reportDir,
           LinkErrorPrompt& prompt, int32_t readTimeoutMs)
      : system(std::move(opened)),
        control(std::move(system.control)),
        session(std::make_unique<CheckerSession>(clock, reportDir)),
        sources(*session, *system.library),
        pump(*control,
             [](int32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }),
        runner(*session, *control, grid, prompt, pump, clock),
        run(*session, runner, sources) {
    sources.readTimeoutMs = readTimeoutMs;
  }

  // One server's prepared plan; afterwards GaveUp() says whether the runner
  // gave up on the server during it.
  void Run(const std::string& context, const std::string& server) {
    giveUp.Clear();
    run.RunPlan(context, server);
  }
  bool GaveUp(int32_t maxLinkFailures) const {
    return giveUp.gaveUp || (maxLinkFailures > 0 && giveUp.silentInARow >= maxLinkFailures);
  }

  ControlSystem system;
  std::unique_ptr<DataAcquisitionControl> control;
  std::unique_ptr<CheckerSession> session;
  TestSources sources;
  TerminalGrid grid;
  ControlEventPump pump;
  CheckRunner runner;
  ConfiguredRun run;
  GiveUpWatcher giveUp;
};

class Lane;

// Everything one invocation needs: the control system, the session, the
// runner, the terminal's side of the runner's interfaces and the outputs.
class Checker {
 public:
  Checker(const Options& opt, Clock& clock, ControlSystem system, std::string databasePath)
      : opt_(opt),
        human_(opt.json ? std::cerr : std::cout),
        humanFd_(opt.json ? STDERR_FILENO : STDOUT_FILENO),
        clock_(clock),
        prompt_(opt.retries, human_),
        parts_(clock_, std::move(system),
               opt.reportDir.empty() ? DefaultReportDirectory() : opt.reportDir, prompt_,
               opt.timeoutMs),
        printer_(human_, UseColour(humanFd_), isatty(humanFd_) != 0),
        // UseColour's rule: a terminal that wants more than plain lines.
        progress_(human_, !opt.json && UseColour(humanFd_)) {
    parts_.session->DatabasePath = std::move(databasePath);
    parts_.system.library->setDatabaseDirectory(parts_.session->DatabasePath);
    prompt_.beforeLine = [this] { progress_.Erase(); };
    parts_.run.addObserver(stopLine_);
    parts_.run.addObserver(parts_.giveUp);
    parts_.run.addObserver(progress_.eraser());
    parts_.run.addObserver(printer_);
    parts_.run.addObserver(progress_.drawer());
    if (opt.json) {
      json_ = std::make_unique<JsonWriter>(std::cout, isatty(STDOUT_FILENO) != 0);
      json_->extraFields = [this](const CommandOutcome& o) { return ControlSystemFields(o); };
      parts_.run.addObserver(*json_);
    }
    // A configuration's servers are set apart by an empty line; each shows
    // the caption of its test, and one that was not prepared says so.
    parts_.run.serverPrepared = [this](const std::string&, const std::string&, bool prepared) {
      ShowPrepared(
          parts_.session->checkerCaption,
          prepared ? "" : UntoldRefusal(parts_.session->checkerCaption, parts_.sources.refusal()),
          prepared);
    };
    RunOptions options;
    options.maxLinkFailures = opt.maxLinkFailures;
    if (!opt.only.empty() || !opt.skip.empty())
      options.skipReason = [&opt](const TestCommand& c) { return SkipReason(opt, c); };
    parts_.runner.setOptions(std::move(options));
    startMs_ = UnixMs();
  }
  ~Checker();

  // Opens the control system again, for a lane of its own; unset, there
  // are no lanes and every run checks one server at a time.
  std::function<bool(ControlSystem& opened, std::string& error)> reopen;
  // How many servers a run checks at once: --jobs, else for a sweep of a
  // control system whose calls may block kDefaultSweepJobs, else 1.
  int JobsOf(bool sweep) const {
    if (opt_.jobs > 0) return opt_.jobs;
    return sweep && parts_.system.callsMayBlock ? kDefaultSweepJobs : 1;
  }
  // Opens the lanes for `jobs` servers at once; the number of lanes there
  // are then (1, none, when they cannot be opened: that is said and the run
  // checks one server at a time).
  int OpenLanes(int jobs);
  // The i-th lane, its outputs recorded into block.
  Lane& LaneFor(int32_t i, ServerBlock& block);
  // The configured run, jobs servers at once (1: as it always ran).
  void RunConfiguration(const StoredConfig& config, const std::string& noServersReason, int jobs);

  // What the HTML page says was run; set before the outputs are opened.
  HtmlRunInfo htmlInfo;
  // The files written once the run ends (JUnit, HTML) are emptied before
  // anything runs; false, said on stderr, when one cannot be. The page names
  // the control system's own names of servers and devices where it has them.
  bool OpenOutputs() {
    if (!opt_.junit.empty()) {
      junit_ = std::make_unique<JunitWriter>(opt_.junitAnt);
      junit_->longName = [this](const std::string& context, const std::string& server) {
        return parts_.system.library->LongNameOf(context, server, "").name;
      };
      if (!OpenOutput(*junit_, opt_.junit, "JUnit")) return false;
    }
    if (!opt_.html.empty()) {
      htmlInfo.startedMs = startMs_;
      html_ = std::make_unique<HtmlReport>(htmlInfo);
      html_->run().longName = [this](const std::string& context, const std::string& server,
                                     const std::string& device) {
        return parts_.system.library->LongNameOf(context, server, device).name;
      };
      if (!OpenOutput(*html_, opt_.html, "HTML")) return false;
    }
    return true;
  }
  void ListenForSignals() { check::ListenForSignals(*parts_.session); }

  // The caption of a test (with why the loader refused it), as each server
  // of a configuration shows it.
  void ShowPrepared(const std::string& caption, const std::string& refusal, bool prepared) {
    if (configuration_) Line("");
    Line(caption + (refusal.empty() ? "" : ": " + refusal));
    if (!prepared) {
      Line("not prepared: skipped");
      printer_.CaptionShown();
    }
  }
  void CaptionShown() { printer_.CaptionShown(); }
  // Text a lane's prompt wrote, as it wrote it.
  void Say(const std::string& text) {
    progress_.Erase();
    human_ << text;
  }
  // What a lane's control kept of a command's access, for the JSON line of
  // the command delivered next.
  struct KeptFacts {
    DataAcquisitionControl::ValueFacts facts;
    std::vector<DataAcquisitionControl::ErrorFrame> stack;
  };
  void UseKeptFacts(std::shared_ptr<const KeptFacts> kept) { kept_ = std::move(kept); }
  bool wantsFacts() const { return json_ != nullptr; }
  const std::vector<RunObserver*>& outputs() const { return parts_.run.observers(); }
  const RunOptions& runOptions() const { return parts_.runner.options(); }
  const Options& options() const { return opt_; }
  Clock& clock() { return clock_; }

  ClientLibrary& lib() { return *parts_.system.library; }
  DataAcquisitionControl& control() { return *parts_.control; }
  TestSources& sources() { return parts_.sources; }
  CheckerSession& session() { return *parts_.session; }
  std::ostream& human() { return human_; }
  bool stopped() const { return parts_.session->stop.requested(); }

  void Caption() { Line(parts_.session->checkerCaption); }
  // The caption with why the loader refused, after the completion code's
  // text it ends with (the report keeps the caption as it always was).
  void Caption(const std::string& refusal) {
    Line(parts_.session->checkerCaption + (refusal.empty() ? "" : ": " + refusal));
  }
  // A line of the invocation's own, beside the outputs' lines.
  void Line(const std::string& text) {
    progress_.Erase();
    human_ << TerminalText(text) << "\n";
  }
  ProgressLine& progress() { return progress_; }
  const CheckTotals& totals() const { return parts_.run.totals(); }

  // A test that could not be prepared counts as a failure of its server;
  // captionShown: the caption shown already ends with the reason.
  void PreparationFailed(const std::string& context, const std::string& server,
                         const std::string& why, bool captionShown) {
    if (captionShown) {
      Line("not prepared: skipped");
      printer_.CaptionShown();
    }
    parts_.run.NotPrepared(context, server, PreparationReason(why));
  }

  // One server's prepared plan; afterwards gaveUp() says whether the runner
  // gave up on the server during it.
  void Run(const std::string& context, const std::string& server) { parts_.Run(context, server); }
  bool gaveUp() const { return parts_.GaveUp(opt_.maxLinkFailures); }

  // The run and its outputs; configuration: servers are set apart.
  ConfiguredRun& run(bool configuration = false) {
    configuration_ = configuration;
    return parts_.run;
  }

  // Ends the run: totals complete, files written, exit status decided.
  int Finish() {
    const CheckTotals t = parts_.run.End(
        [this](CheckTotals& t) {
          if (SignalReceived() != 0) {
            t.interruptedBy = InterruptLineOf(SignalReceived());
            // A signal between runs (while a test was prepared) stopped no
            // runner: the report still says so.
            if (!stopLine_.written && !parts_.session->report.reportFileName.empty())
              parts_.session->report.AddToReport(t.interruptedBy, true);
          }
          // A report none of whose lines was written is no file to point at.
          if (parts_.session->report.linesWritten() > 0)
            t.reportFile = parts_.session->report.reportFileName;
          t.elapsedMs = UnixMs() - startMs_;
        },
        [this](CheckTotals& t) {
          const std::string reportError = parts_.session->report.TakeError();
          if (!reportError.empty()) human_ << TerminalText(reportError) << "\n";
          t.exitCode = ExitStatusOf(t, parts_.session->report.complete(), SignalReceived());
          // The page shows the exit status, so it is written once that is known.
          if (html_) {
            html_->Finished(t);
            if (!html_->written() && t.outputError.empty()) {
              t.outputError = "cannot write the HTML file " + html_->error();
              if (SignalReceived() == 0) t.exitCode = kExitUsage;
            }
          }
          if (!t.outputError.empty()) std::cerr << "ovra-check: " << t.outputError << "\n";
        });
    return t.exitCode;
  }

 private:
  // An output written at the end: its file emptied now, then it listens to
  // the run; false, said on stderr, when the file cannot be written.
  template <class Output>
  bool OpenOutput(Output& output, const std::string& path, const char* what) {
    std::string error;
    if (!output.Open(path, error)) {
      std::cerr << "ovra-check: cannot write the " << what << " file " << error << "\n";
      return false;
    }
    parts_.run.addObserver(output);
    return true;
  }

  // What the control system knows beyond the checker's names and texts
  // (Tango's): its own names of server and device, asked once per device,
  // and the whole error stack of a failed access.
  // Appends the control system's own fields to a command's JSON line. The
  // names are looked up once per device: a long run reads the same device
  // over and over, so the last one is kept without building a key.
  // What the control system told about the value (Tango: quality, type,
  // unit, time stamp, sizes, lines, set point); nothing for the simulation.
  static void AppendFacts(const DataAcquisitionControl::ValueFacts& f, std::string& line) {
    using Json = nlohmann::ordered_json;
    // The simulation tells nothing: skip building an object per command.
    if (f.quality.empty() && f.dataType.empty() && f.dataFormat.empty() && f.unit.empty() &&
        f.timeStamp.empty() && f.dimX < 0 && f.lines.empty() && f.setPoint.empty())
      return;
    Json j = Json::object();
    auto text = [&](const char* key, const std::string& v) {
      if (!v.empty()) j[key] = AsUtf8(v);
    };
    text("quality", f.quality);
    text("dataType", f.dataType);
    text("dataFormat", f.dataFormat);
    text("unit", f.unit);
    text("timeStamp", f.timeStamp);
    if (f.dimX >= 0) j["dimX"] = f.dimX;
    if (f.dimY >= 0 && !f.dataFormat.empty() && f.dataFormat != "SCALAR") j["dimY"] = f.dimY;
    if (!f.lines.empty()) {
      Json lines = Json::array();
      for (const std::string& l : f.lines) lines.push_back(AsUtf8(l));
      j["lines"] = lines;
    }
    if (!f.setPoint.empty()) j["setPoint"] = f.setPoint;
    if (j.empty()) return;
    const std::string s = j.dump(-1, ' ', false, Json::error_handler_t::replace);
    line += "," + s.substr(1, s.size() - 2);
  }

  std::string_view ControlSystemFields(const CommandOutcome& o) {
    using Json = nlohmann::ordered_json;
    static const std::string kNoDevice;
    const std::string& device = o.command ? o.command->Device : kNoDevice;
    if (!names_ || names_->context != o.context || names_->server != o.server ||
        names_->device != device) {
      const std::string key = o.context + "/" + o.server + "/" + device;
      auto it = longNames_.find(key);
      if (it == longNames_.end()) {
        LongNames n{o.context, o.server, device, {}};
        ClientLibrary& library = *parts_.system.library;
        const std::string s = library.LongNameOf(o.context, o.server, "").name;
        const std::string d = library.LongNameOf(o.context, o.server, device).name;
        const std::string db = s.empty() ? "" : library.LongNameOf(o.context, "", "").name;
        if (!db.empty()) n.fields += ",\"database\":" + Json(AsUtf8(db)).dump();
        if (!s.empty()) n.fields += ",\"serverLongName\":" + Json(AsUtf8(s)).dump();
        if (!d.empty()) n.fields += ",\"deviceLongName\":" + Json(AsUtf8(d)).dump();
        it = longNames_.emplace(key, std::move(n)).first;
      }
      names_ = &it->second;
    }
    withErrors_ = names_->fields;
    AppendFacts(kept_ ? kept_->facts : parts_.control->LastValueFacts(), withErrors_);
    if (!o.accessFailed()) return withErrors_;
    Json stack = Json::array();
    for (const auto& frame : kept_ ? kept_->stack : parts_.control->ErrorStack())
      stack.push_back({{"reason", AsUtf8(frame.reason)},
                       {"description", AsUtf8(frame.description)},
                       {"origin", AsUtf8(frame.origin)}});
    if (stack.empty()) return withErrors_;
    withErrors_ += ",\"errors\":" + stack.dump(-1, ' ', false, Json::error_handler_t::replace);
    return withErrors_;
  }

  const Options& opt_;
  std::ostream& human_;
  int humanFd_;
  Clock& clock_;
  RetryPrompt prompt_;
  RunParts parts_;
  StopLineWatcher stopLine_;
  TerminalPrinter printer_;
  ProgressLine progress_;
  std::unique_ptr<JsonWriter> json_;
  std::unique_ptr<JunitWriter> junit_;
  std::unique_ptr<HtmlReport> html_;
  bool configuration_ = false;
  int64_t startMs_ = 0;
  struct LongNames {
    std::string context, server, device, fields;
  };
  std::map<std::string, LongNames> longNames_;
  std::string withErrors_;  // the fields of a failed access: names and error stack
  const LongNames* names_ = nullptr;
  std::shared_ptr<const KeptFacts> kept_;  // a lane's, for the command delivered now
  std::vector<std::unique_ptr<Lane>> lanes_;
};

// A server checked beside others: a control system, session, runner and run
// of its own, used by one thread at a time. What the server's check says
// (the outputs' events, report lines, terminal lines) is recorded into the
// server's block and said by the checker's outputs when the block is
// delivered. It offers what a sweep asks of the checker, by the same names.
class Lane {
 public:
  Lane(Checker& checker, ControlSystem system);
  ~Lane();
  Lane(const Lane&) = delete;
  Lane& operator=(const Lane&) = delete;

  // The server checked next records into block.
  void Into(ServerBlock& block);

  ClientLibrary& lib() { return *parts_.system.library; }
  TestSources& sources() { return parts_.sources; }
  CheckerSession& session() { return *parts_.session; }
  bool stopped() const { return parts_.session->stop.requested(); }
  void Line(const std::string& text) {
    block_->Add([&c = checker_, text] { c.Line(text); });
  }
  void PreparationFailed(const std::string& context, const std::string& server,
                         const std::string& why, bool captionShown);
  void Run(const std::string& context, const std::string& server) { parts_.Run(context, server); }
  bool gaveUp() const { return parts_.GaveUp(checker_.options().maxLinkFailures); }
  ConfiguredRun& run() { return parts_.run; }
  const CheckTotals& totals() const { return parts_.run.totals(); }

 private:
  // The terminal's prompt, its lines recorded as the lane's.
  class Prompt final : public LinkErrorPrompt {
   public:
    Prompt(Lane& lane, int retries) : lane_(lane), retry_(retries, said_) {}
    Answer Ask(const std::string& title, const std::string& text) override;
    void NewCommand() override { retry_.NewCommand(); }

   private:
    Lane& lane_;
    std::ostringstream said_;
    RetryPrompt retry_;
  };

  Checker& checker_;
  Prompt prompt_;
  RunParts parts_;
  BlockRecorder recorder_;
  ServerBlock* block_ = nullptr;
};

}  // namespace dsc::check
