// ovra-check: the device server checker without a window. It prepares the same
// tests as the window (standard, specific, stored configuration, information),
// runs them through the check runner against a simulated facility (or a Tango
// installation, given a site file) and prints
// one line per command; --json and --junit give machine-readable results.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "access/CompletionCodes.h"
#include "base/Formats.h"
#include "base/Glob.h"
#include "access/NamespaceQueries.h"
#include "base/SafeNames.h"
#include "app/ControlSystems.h"
#include "app/RunOutputs.h"
#include "engine/CheckRunner.h"
#include "engine/CheckerSession.h"
#include "base/Clock.h"
#include "engine/ControlEventPump.h"
#include "engine/FrontEnd.h"
#include "engine/ReportLog.h"
#include "sources/Csv.h"
#include "sources/Lint.h"
#include "sources/NearestName.h"
#include "sources/TestSources.h"
#include "base/TextEncoding.h"

#ifndef OVRA_VERSION
#define OVRA_VERSION "unknown"
#endif

namespace {

using namespace dsc;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// The tests ran but lines of their report were lost (disk full, a refused file).
constexpr int kExitReportIncomplete = 3;

// A CI job wants to hear about a dead server quickly but must not lose a
// server to one slow answer: three failed accesses in a row.
constexpr int kDefaultMaxLinkFailures = 3;

// The run a signal ends: its stop request writes the literal as the report's
// last line; the exit status is 128 + the signal's number, as a shell reports it.
CheckerSession* gSession = nullptr;
volatile sig_atomic_t gSignal = 0;

const char* InterruptLine(int sig) {
  switch (sig) {
    case SIGINT:
      return "Run interrupted (SIGINT)";
    case SIGTERM:
      return "Run interrupted (SIGTERM)";
    default:
      return "Run interrupted (SIGHUP)";
  }
}

extern "C" void OnSignal(int sig) {
  gSignal = sig;
  if (gSession) gSession->stop.Request(InterruptLine(sig));
}

void InstallSignalHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  // A second signal ends the program at once, for a server that hangs a
  // synchronous access longer than the operator wants to wait.
  sa.sa_flags = SA_RESETHAND;
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

// Colour only for a terminal that can show it and a user who did not say no.
bool UseColour(int fd) {
  const char* noColour = std::getenv("NO_COLOR");
  if (noColour && *noColour) return false;
  const char* term = std::getenv("TERM");
  if (term && std::string(term) == "dumb") return false;
  return isatty(fd) != 0;
}

// The terminal has no grid: only the current cell's text is kept, because the
// asynchronous wait reads it back to add its dots.
class TerminalGrid final : public ResultsGrid {
 public:
  void Clear() override { text_.clear(); }
  void SetRows(int32_t) override {}
  void SelectRow(int32_t) override {}
  void SelectCol(int32_t) override {}
  void SetText(const std::string& text) override { text_ = text; }
  std::string Text() const override { return text_; }
  void SetTextColor(Rgb) override {}
  void SetColumnWidthTwips(int32_t, int32_t) override {}

 private:
  std::string text_;
};

// The "Link Error" box: Retry a given number of times per command, then Cancel.
class RetryPrompt final : public LinkErrorPrompt {
 public:
  RetryPrompt(int retries, std::ostream& out) : retries_(retries), out_(out) {}
  Answer Ask(const std::string& title, const std::string& text) override {
    if (used_ >= retries_) return Answer::Cancel;
    ++used_;
    out_ << "  " << title << ": " << TerminalText(text) << " (retry " << used_ << " of " << retries_
         << ")\n";
    return Answer::Retry;
  }
  void NextCommand() { used_ = 0; }

 private:
  int retries_;
  int used_ = 0;
  std::ostream& out_;
};

struct Options {
  std::string facility;
  std::vector<std::string> tangoHosts;
  bool tangoFailOnState = false;
  std::string database;
  std::string reportDir;
  int retries = 0;
  bool json = false;
  std::string junit;
  int maxLinkFailures = kDefaultMaxLinkFailures;
  std::vector<std::string> only, skip;
  bool strict = false;
  bool junitAnt = false;
};

// Whether a command is selected by --only/--skip: glob patterns matched
// against its description or its property, in any case.
std::string SkipReason(const Options& opt, const TestCommand& c) {
  const std::string description = AsUtf8(c.Description);
  const std::string property = AsUtf8(c.Property);
  auto matches = [&](const std::string& pattern) {
    return GlobMatches(pattern, description) || GlobMatches(pattern, property);
  };
  if (!opt.only.empty() && std::none_of(opt.only.begin(), opt.only.end(), matches))
    return "not selected by --only";
  for (const std::string& pattern : opt.skip)
    if (matches(pattern)) return "deselected by --skip " + Utf8ToLatin1(pattern);
  return "";
}

// Counts what the outputs report, for their summaries and the exit status.
class Tally final : public CheckOutput {
 public:
  void CommandEnded(const CommandOutcome& o) override {
    switch (VerdictOf(o)) {
      case Verdict::Passed:
        ++totals.passed;
        break;
      case Verdict::Failed:
        ++totals.failed;
        break;
      case Verdict::Error:
        ++totals.errors;
        break;
      case Verdict::Skipped:
        ++totals.skipped;
        break;
    }
  }
  void RunEnded(const RunSummary& s) override {
    if (!s.stoppedBy.empty()) stopLineWritten = true;
  }
  void NotPrepared(const std::string&, const std::string&, const std::string&) override {
    ++totals.notPrepared;
  }
  CheckTotals totals;
  bool stopLineWritten = false;
};

// Everything one invocation needs: the control system, the session, the
// runner, the terminal's side of the runner's interfaces and the outputs.
class Checker {
 public:
  Checker(const Options& opt, Clock& clock, ControlSystem system, std::string databasePath)
      : opt_(opt),
        human_(opt.json ? std::cerr : std::cout),
        humanFd_(opt.json ? STDERR_FILENO : STDOUT_FILENO),
        clock_(clock),
        system_(std::move(system)),
        control_(std::move(system_.control)),
        session_(std::make_unique<CheckerSession>(
            clock_, opt.reportDir.empty() ? DefaultReportDirectory() : opt.reportDir)),
        sources_(*session_, *system_.library),
        prompt_(opt.retries, human_),
        pump_(*control_,
              [](int32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }),
        runner_(*session_, *control_, grid_, prompt_, pump_, clock_),
        printer_(human_, UseColour(humanFd_), isatty(humanFd_) != 0) {
    session_->DatabasePath = std::move(databasePath);
    outputs_.push_back(&tally_);
    outputs_.push_back(&printer_);
    if (opt.json) {
      json_ = std::make_unique<JsonWriter>(std::cout, isatty(STDOUT_FILENO) != 0);
      json_->extraFields = [this](const CommandOutcome& o) { return ControlSystemFields(o); };
      outputs_.push_back(json_.get());
    }
    for (CheckOutput* o : outputs_) runner_.addObserver(*o);
    RunOptions options;
    options.maxLinkFailures = opt.maxLinkFailures;
    if (!opt.only.empty() || !opt.skip.empty())
      options.skipReason = [&opt](const TestCommand& c) { return SkipReason(opt, c); };
    runner_.setOptions(std::move(options));
    startMs_ = UnixMs();
  }
  ~Checker() { gSession = nullptr; }

  // The JUnit file is truncated before anything runs; false when it cannot be.
  bool OpenJunit() {
    if (opt_.junit.empty()) return true;
    junit_ = std::make_unique<JunitWriter>(opt_.junitAnt);
    std::string error;
    if (!junit_->Open(opt_.junit, error)) {
      std::cerr << "ovra-check: cannot write the JUnit file " << error << "\n";
      return false;
    }
    outputs_.push_back(junit_.get());
    runner_.addObserver(*junit_);
    return true;
  }
  void ListenForSignals() {
    gSession = session_.get();
    InstallSignalHandlers();
  }

  ClientLibrary& lib() { return *system_.library; }
  TestSources& sources() { return sources_; }
  CheckerSession& session() { return *session_; }
  std::ostream& human() { return human_; }
  bool stopped() const { return session_->stop.requested(); }

  void Caption() { human_ << TerminalText(session_->checkerCaption) << "\n"; }

  // A test that could not be prepared counts as a failure of its server.
  void PreparationFailed(const std::string& context, const std::string& server,
                         const std::string& why, bool captionShown) {
    // A shown caption already ends with the reason.
    const size_t lf = why.rfind('\n');
    const std::string reason = lf == std::string::npos ? why : why.substr(lf + 1);
    if (captionShown) human_ << "not prepared: skipped\n";
    for (CheckOutput* o : outputs_) {
      if (o == &printer_ && captionShown) continue;
      o->NotPrepared(context, server, reason);
    }
  }

  void Run(const std::string& context, const std::string& server) {
    prompt_.NextCommand();
    runner_.RunVesk(context, server);
  }

  int Finish() {
    CheckTotals& t = tally_.totals;
    if (gSignal != 0) {
      t.interruptedBy = InterruptLine(gSignal);
      // A signal between runs (while a test was prepared) stopped no runner:
      // the report still says so.
      if (!tally_.stopLineWritten && !session_->report.reportFileName.empty())
        session_->report.AddToReport(t.interruptedBy, true);
    }
    // A report none of whose lines was written is no file to point at.
    if (session_->report.linesWritten() > 0) t.reportFile = session_->report.reportFileName;
    t.elapsedMs = UnixMs() - startMs_;
    const std::string reportError = session_->report.TakeError();
    if (!reportError.empty()) human_ << TerminalText(reportError) << "\n";
    t.exitCode = (t.failed + t.errors + t.notPrepared > 0) ? kExitFailed : kExitOk;
    // Lost report lines outweigh failed commands: the record of the run is
    // what a CI job keeps.
    if (!session_->report.complete()) t.exitCode = kExitReportIncomplete;
    if (gSignal != 0) t.exitCode = 128 + gSignal;
    if (junit_) {
      junit_->Finished(t);
      if (!junit_->written()) {
        std::cerr << "ovra-check: cannot write the JUnit file " << junit_->error() << "\n";
        if (gSignal == 0) t.exitCode = kExitUsage;
      }
    }
    for (CheckOutput* o : outputs_)
      if (o != junit_.get()) o->Finished(t);
    return t.exitCode;
  }

 private:
  // What the control system knows beyond the checker's names and texts
  // (Tango's): its own names of server and device, asked once per device,
  // and the whole error stack of a failed access.
  // Appends the control system's own fields to a command's JSON line. The
  // names are looked up once per device: a long run reads the same device
  // over and over, so the last one is kept without building a key.
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
        const std::string s = system_.library->LongNameOf(o.context, o.server, "").name;
        const std::string d = system_.library->LongNameOf(o.context, o.server, device).name;
        if (!s.empty()) n.fields += ",\"serverLongName\":" + Json(AsUtf8(s)).dump();
        if (!d.empty()) n.fields += ",\"deviceLongName\":" + Json(AsUtf8(d)).dump();
        it = longNames_.emplace(key, std::move(n)).first;
      }
      names_ = &it->second;
    }
    if (!o.accessFailed) return names_->fields;
    Json stack = Json::array();
    for (const auto& frame : control_->ErrorStack())
      stack.push_back({{"reason", AsUtf8(frame.reason)},
                       {"description", AsUtf8(frame.description)},
                       {"origin", AsUtf8(frame.origin)}});
    if (stack.empty()) return names_->fields;
    withErrors_ = names_->fields +
                  ",\"errors\":" + stack.dump(-1, ' ', false, Json::error_handler_t::replace);
    return withErrors_;
  }

  const Options& opt_;
  std::ostream& human_;
  int humanFd_;
  Clock& clock_;
  ControlSystem system_;
  std::unique_ptr<DataAcquisitionControl> control_;
  std::unique_ptr<CheckerSession> session_;
  TestSources sources_;
  TerminalGrid grid_;
  RetryPrompt prompt_;
  ControlEventPump pump_;
  CheckRunner runner_;
  Tally tally_;
  TerminalPrinter printer_;
  std::unique_ptr<JsonWriter> json_;
  std::unique_ptr<JunitWriter> junit_;
  std::vector<CheckOutput*> outputs_;
  int64_t startMs_ = 0;
  struct LongNames {
    std::string context, server, device, fields;
  };
  std::map<std::string, LongNames> longNames_;
  std::string withErrors_;  // the fields of a failed access: names and error stack
  const LongNames* names_ = nullptr;
};

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& s : items) out += (out.empty() ? "" : ", ") + s;
  return out;
}

// The long name a control system has for a listed name, after a tab (so
// that scripts and the completion can cut the short name off);
// nothing where it has none (the simulation's names are all there is).
std::string Beside(ClientLibrary& lib, const std::string& context, const std::string& server,
                   const std::string& device) {
  const std::string longName = lib.LongNameOf(context, server, device).name;
  const std::string& shortName = !device.empty() ? device : !server.empty() ? server : context;
  return longName.empty() || longName == shortName ? "" : "\t" + TerminalText(longName);
}

using Json = nlohmann::ordered_json;

void PrintJson(const Json& j) {
  std::cout << j.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
}

int List(Checker& checker, std::vector<std::string> names, bool json) {
  ClientLibrary& lib = checker.lib();
  std::vector<std::string> list;
  int16_t count = 0;
  int16_t code = 0;
  std::string what;
  // Typed names may be the control system's own; the lists hold short ones.
  if (!names.empty()) {
    std::string context = names[0], server = names.size() > 1 ? names[1] : "",
                device = names.size() > 2 ? names[2] : "";
    if (lib.FindNames(context, server, device)) {
      names[0] = context;
      if (names.size() > 1) names[1] = server;
      if (names.size() > 2) names[2] = device;
    }
  }
  Json j;
  j["type"] = "list";
  Json items = Json::array();
  // The control system's own names beside the short ones, where it has them.
  Json longNames = Json::object();
  if (names.size() == 3) {
    std::vector<int16_t> sizes, formats;
    what = "/" + names[0] + "/" + names[1] + "/" + names[2];
    j["of"] = "properties";
    code = GetPropertyList(lib, what, list, sizes, formats, count);
    for (int16_t i = 0; code == 0 && i < count; ++i) {
      if (json) {
        items.push_back({{"name", AsUtf8(list[i])},
                         {"size", sizes[i]},
                         {"format", FormatNameFromCode(formats[i])}});
      } else {
        std::cout << TerminalText(list[i]) << " " << sizes[i] << " "
                  << FormatNameFromCode(formats[i]) << "\n";
      }
    }
  } else {
    if (names.empty()) {
      what = "contexts";
      code = GetContextList(lib, list, count);
    } else if (names.size() == 1) {
      what = "servers of " + names[0];
      code = GetServerList(lib, names[0], list, count);
    } else {
      what = "devices of " + names[1];
      code = GetDeviceNameList(lib, names[1], list, count);
    }
    j["of"] = names.empty() ? "contexts" : names.size() == 1 ? "servers" : "devices";
    for (int16_t i = 0; code == 0 && i < count; ++i) {
      const std::string beside = names.empty()       ? Beside(lib, list[i], "", "")
                                 : names.size() == 1 ? Beside(lib, names[0], list[i], "")
                                                     : Beside(lib, names[0], names[1], list[i]);
      if (json) {
        items.push_back(AsUtf8(list[i]));
        if (!beside.empty()) longNames[AsUtf8(list[i])] = beside.substr(1);
      } else {
        std::cout << TerminalText(list[i]) << beside << "\n";
      }
    }
  }
  if (json) {
    Json path = Json::array();
    for (const std::string& n : names) path.push_back(AsUtf8(n));
    j["names"] = path;
    j["code"] = code;
    j["error"] = code == 0 ? Json(nullptr) : Json(AsUtf8(GetErrorString(lib, code)));
    j["items"] = items;
    if (!longNames.empty()) j["longNames"] = longNames;
    PrintJson(j);
  }
  if (code != 0) {
    std::cerr << "ovra-check: " << TerminalText(what) << ": "
              << TerminalText(GetErrorString(lib, code)) << " (code " << code << ")\n";
    return kExitFailed;
  }
  return kExitOk;
}

// The names of info, standard and specific: CONTEXT SERVER [DEVICE] as the
// lists show them, or fewer names where the control system finds the rest
// (a Tango server or device name alone). On failure says what is missing.
bool Resolve(ClientLibrary& lib, const std::vector<std::string>& typed, bool deviceAlone,
             std::string& context, std::string& server, std::string& device, std::string& error) {
  if (typed.size() >= 2) {
    context = typed[0];
    server = typed[1];
    if (typed.size() >= 3) device = typed[2];
    std::string c = context, s = server, d = typed.size() >= 3 ? device : "";
    if (lib.FindNames(c, s, d)) {
      context = c;
      server = s;
      if (typed.size() >= 3) device = d;
    }
    return true;
  }
  // One name: a device for the standard test, else a server.
  std::string c, s = deviceAlone ? "" : typed[0], d = deviceAlone ? typed[0] : "";
  if (!lib.FindNames(c, s, d) || c.empty() || s.empty()) {
    error = "\"" + typed[0] + "\" names no " + (deviceAlone ? "device" : "server") +
            " this control system knows; give CONTEXT SERVER" + (deviceAlone ? " DEVICE" : "");
    return false;
  }
  context = c;
  server = s;
  if (deviceAlone) device = d;
  return true;
}

// The information block; exit 1 when the server did not answer.
int Info(Checker& checker, const std::string& context, const std::string& server, bool json) {
  int16_t code = 0;
  const std::string text = checker.sources().GetServerInfo(context, server, &code);
  const bool answered = code != kCodeServerUnavailable45 && code != kCodeServerUnavailable98;
  // Where the control system knows the server's own name and host (Tango's).
  const std::string name = checker.lib().LongNameOf(context, server, "").name;
  const std::string host = checker.lib().LongNameOf(context, server, "#0").host;
  if (json) {
    Json j;
    j["type"] = "info";
    j["context"] = AsUtf8(context);
    j["server"] = AsUtf8(server);
    j["answered"] = answered;
    j["code"] = code;
    Json fields;
    size_t start = 0;
    for (size_t end = text.find("\r\n"); end != std::string::npos;
         start = end + 2, end = text.find("\r\n", start)) {
      const std::string line = text.substr(start, end - start);
      const size_t colon = line.find(": ");
      if (colon == std::string::npos) continue;
      fields[AsUtf8(TrimWhite(line.substr(0, colon)))] = AsUtf8(line.substr(colon + 2));
    }
    if (!name.empty()) j["name"] = AsUtf8(name);
    if (!host.empty()) j["host"] = AsUtf8(host);
    j["fields"] = fields;
    PrintJson(j);
  } else {
    std::cout << TerminalText(text) << "\n";
    if (!name.empty()) std::cout << " name: " << TerminalText(name) << "\n";
    if (!host.empty()) std::cout << " host: " << TerminalText(host) << "\n";
  }
  if (!answered)
    std::cerr << "ovra-check: /" << TerminalText(context) << "/" << TerminalText(server) << ": "
              << TerminalText(GetErrorString(checker.lib(), code)) << " (code " << code << ")\n";
  return answered ? kExitOk : kExitFailed;
}

// What "specific" would load for a server: its self-test list when it gives
// one, else its stored test file. False when neither can be read.
bool LintSpecific(Checker& checker, const std::string& context, const std::string& server,
                  std::vector<LintFinding>& findings) {
  CheckerSession& session = checker.session();
  if (checker.sources().fillInTestParamsFromServer(context, server, "#0") == 0) {
    const std::string text = BytesToStringList(session.run.dataBuffer);
    const auto found = LintTestFile(text, "/" + context + "/" + server + " SRVSELFTEST");
    findings.insert(findings.end(), found.begin(), found.end());
    return true;
  }
  return LintFile(checker.sources().TestFilePath(context, server), findings);
}

// Prints the findings; with JSON one object each and a summary.
void PrintFindings(const std::vector<LintFinding>& findings, const std::vector<std::string>& unread,
                   bool json, std::ostream& human) {
  for (const LintFinding& f : findings) {
    if (json) {
      PrintJson({{"type", "lint"},
                 {"file", AsUtf8(f.file)},
                 {"line", f.line},
                 {"code", f.code},
                 {"message", f.message}});
    } else {
      human << TerminalText(f.Text()) << "\n";
    }
  }
  for (const std::string& path : unread) {
    if (json)
      PrintJson({{"type", "lint"},
                 {"file", AsUtf8(path)},
                 {"line", 0},
                 {"code", "unreadable"},
                 {"message", "cannot be read"}});
    std::cerr << "ovra-check: cannot read " << TerminalText(path) << "\n";
  }
}

int Lint(Checker& checker, const std::vector<std::string>& args, bool json) {
  std::vector<LintFinding> findings;
  std::vector<std::string> unread;
  std::error_code ec;
  const bool files = std::any_of(args.begin(), args.end(), [&](const std::string& a) {
    return std::filesystem::exists(a, ec);
  });
  if (!files && args.size() == 2) {
    if (!LintSpecific(checker, args[0], args[1], findings))
      unread.push_back(checker.sources().TestFilePath(args[0], args[1]));
  } else {
    for (const std::string& path : args)
      if (!LintFile(path, findings)) unread.push_back(path);
  }
  PrintFindings(findings, unread, json, std::cout);
  if (json)
    PrintJson({{"type", "summary"}, {"findings", findings.size()}, {"unreadable", unread.size()}});
  if (!unread.empty()) return kExitUsage;
  return findings.empty() ? kExitOk : kExitFailed;
}

// --strict: the files a configuration reads, checked before anything runs.
bool LintConfiguration(Checker& checker, const StoredConfig& c,
                       std::vector<LintFinding>& findings) {
  const std::string& db = checker.session().DatabasePath;
  LintFile(db + "procedures.csv", findings);
  LintFile(db + c.FileName, findings);
  bool readable = true;
  for (int16_t i = 0; i < c.ServerCount; ++i)
    readable = LintSpecific(checker, c.Context, c.Servers[i], findings) && readable;
  return readable;
}

// A configuration by its description, or by its index from 0.
int FindConfig(const StoredConfigState& configs, const std::string& key) {
  for (int i = 0; i < configs.StoredConfigCount; ++i) {
    if (configs.StoredConfigs[i].Description == key) return i;
  }
  if (!key.empty() && key.size() < 6 && key.find_first_not_of("0123456789") == std::string::npos) {
    const int index = std::stoi(key);
    if (index < configs.StoredConfigCount) return index;
  }
  return -1;
}

// CLI11's message, with the subcommand or option the user probably meant.
std::string Suggestion(const CLI::App& app, int argc, char** argv) {
  std::vector<std::string> subcommands, options;
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
    subcommands.push_back(sub->get_name());
  for (const CLI::Option* o : app.get_options())
    for (const std::string& name : o->get_lnames()) options.push_back("--" + name);
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
    for (const CLI::Option* o : sub->get_options())
      for (const std::string& name : o->get_lnames()) options.push_back("--" + name);
  bool sawSubcommand = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.starts_with("--")) {
      const std::string name = arg.substr(0, arg.find('='));
      if (std::find(options.begin(), options.end(), name) != options.end()) continue;
      const std::string near = NearestName(name, options, false);
      if (!near.empty()) return "Did you mean \"" + near + "\" for \"" + name + "\"?\n";
      continue;
    }
    if (arg.starts_with("-")) continue;
    if (std::find(subcommands.begin(), subcommands.end(), arg) != subcommands.end()) {
      sawSubcommand = true;
      continue;
    }
    if (!sawSubcommand) {
      const std::string near = NearestName(arg, subcommands, false);
      if (!near.empty()) return "Did you mean the subcommand \"" + near + "\"?\n";
    }
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  // Lines are flushed where they should be (LineFlusher), not on every "\n".
  std::ios::sync_with_stdio(false);
  // With --json the human lines go to stderr: into a pipe or file they are
  // buffered too instead of costing a write per piece.
  // Nor does each of them flush stdout (the JSON) through the tie.
  if (isatty(STDERR_FILENO) == 0) {
    std::cerr.unsetf(std::ios::unitbuf);
    std::cerr.tie(nullptr);
  }
  CLI::App app{"Checks the device servers of the Ovra control system from the terminal."};
  app.set_version_flag("--version", [] {
    return std::string("ovra-check ") + OVRA_VERSION + "\n" + BackendStatus();
  });
  app.require_subcommand(1);
  app.fallthrough();

  Options opt;
  app.add_option("--facility", opt.facility,
                 "Facility description (JSON) to simulate, or a Tango site file; default: "
                 "$OVRA_FACILITY, else the built-in demo")
      ->type_name("FILE");
  app.add_option("--tango-host", opt.tangoHosts,
                 "A Tango database, HOST:PORT (several allowed): its servers and devices are "
                 "checked; without --facility and --tango-host, TANGO_HOST in the environment")
      ->type_name("HOST:PORT");
  app.add_flag("--tango-fail-on-state", opt.tangoFailOnState,
               "With a Tango database: a State of FAULT, ALARM or UNKNOWN, or a value of quality "
               "INVALID, fails its read (a site file says so with \"failOnState\")");
  app.add_option("--database", opt.database,
                 "Database directory (procedures.csv, server lists, test files); default: "
                 "see below")
      ->type_name("DIR");
  app.add_option("--report-dir", opt.reportDir,
                 "Directory of the report files; default: $TEMP, else $TMPDIR, else /tmp")
      ->type_name("DIR");
  app.add_option("--retries", opt.retries, "Retry a failed access N times before cancelling")
      ->check(CLI::Range(0, std::numeric_limits<int>::max()))
      ->type_name("N");
  app.add_flag("--json", opt.json,
               "One JSON object per line on stdout (each command, then a summary); the human "
               "lines go to stderr");
  app.add_option("--junit", opt.junit,
                 "Write JUnit XML results to FILE (emptied before anything runs)")
      ->type_name("FILE");
  app.add_flag("--junit-ant", opt.junitAnt,
               "Write the JUnit file for the Ant schema, which has no skipped tests: commands "
               "not run are left out, counted in a \"skipped\" property and listed in "
               "<system-out>. The file is valid for Jenkins' schema too");
  app.add_option("--max-link-failures", opt.maxLinkFailures,
                 "After K failed accesses in a row, the rest of a server's commands are not run "
                 "(reported as skipped) and a configuration goes on with its next server; 0 runs "
                 "them all. Default 3: a dead server costs three time-outs instead of one per "
                 "command, while one slow answer or one refused command does not lose a server")
      ->check(CLI::Range(0, std::numeric_limits<int>::max()))
      ->type_name("K");
  app.add_option("--only", opt.only,
                 "Run only the commands whose description or property matches a glob PATTERN "
                 "(case-insensitive; repeatable); the others are reported as skipped")
      ->type_name("PATTERN");
  app.add_option("--skip", opt.skip,
                 "Do not run the commands whose description or property matches a glob PATTERN "
                 "(case-insensitive; repeatable)")
      ->type_name("PATTERN");
  app.footer(std::string(kWhereThingsComeFrom) +
             "\n\n"
             "Tango: --tango-host HOST:PORT, or with no facility chosen the TANGO_HOST\n"
             "environment variable, names Tango databases whose servers and devices are\n"
             "discovered; their short names are listed with Tango's beside them, and a Tango\n"
             "server or device name alone, in any case, finds the rest (\"standard\n"
             "sys/tg_test/1\").\n\n"
             "Exit status: 0 every command succeeded, 1 a command failed or a test could not be\n"
             "prepared (info: the server did not answer), 2 usage error, unreadable facility or\n"
             "database, a refused name, or a --junit file that cannot be written; 3 the tests ran\n"
             "but their report is incomplete (lines lost to a full disk or a refused report\n"
             "file); 130, 143, 129 the run was ended\n"
             "by SIGINT, SIGTERM or SIGHUP (the JUnit file and the summary are still written).\n\n"
             "Colours are used on a terminal only, never with NO_COLOR set or TERM=dumb.\n\n"
             "In a CI job (GitLab):\n"
             "  check:\n"
             "    script: ovra-check --junit results.xml --json config \"LINAC daily check\" > "
             "results.jsonl\n"
             "    artifacts: {when: always, reports: {junit: results.xml}}");

  std::vector<std::string> listNames;
  auto* list = app.add_subcommand("list", "List contexts, servers, devices or properties");
  list->add_option("names", listNames, "[CONTEXT [SERVER [DEVICE]]]")->expected(0, 3);
  bool listConfigurations = false;
  list->add_flag("--configurations", listConfigurations,
                 "List the stored configurations of the database instead");

  // Where the lists hold short names for Tango's, a Tango server or device
  // name alone is enough; names are found whatever their case.
  std::string context, server, device = "#0", configKey;
  std::vector<std::string> typed;
  auto* info = app.add_subcommand("info", "Show a server's information");
  info->add_option("names", typed, "CONTEXT SERVER, or a Tango server (executable/instance)")
      ->required()
      ->expected(1, 2);

  auto* standard = app.add_subcommand("standard", "Read every property of a device once");
  standard
      ->add_option("names", typed,
                   "CONTEXT SERVER DEVICE, or a Tango device (domain/family/member)")
      ->required()
      ->expected(1, 3);

  auto* specific =
      app.add_subcommand("specific", "Run a server's self-test list or its stored test file");
  specific
      ->add_option("names", typed,
                   "CONTEXT SERVER [DEVICE] (device default \"#0\"), or a Tango server")
      ->required()
      ->expected(1, 3);

  auto* config = app.add_subcommand("config", "Run a stored configuration's specific tests");
  config->add_option("configuration", configKey, "Description or index from 0")->required();

  std::vector<std::string> lintArgs;
  auto* lint = app.add_subcommand(
      "lint",
      "Check test files, configurations and server lists (FILE...), or what \"specific\" would "
      "load (CONTEXT SERVER): exit 0 clean, 1 a finding, 2 a file that cannot be read");
  lint->add_option("files", lintArgs, "FILE... or CONTEXT SERVER")->required();
  app.add_flag("--strict", opt.strict,
               "specific, config: run the lint checks on what would be loaded first and refuse "
               "to run (exit 2) on any finding");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    if (rc != 0) std::cerr << Suggestion(app, argc, argv);
    return rc == 0 ? kExitOk : kExitUsage;
  }

  for (std::string* name : {&context, &server, &device, &configKey}) *name = Utf8ToLatin1(*name);
  for (std::string& name : listNames) name = Utf8ToLatin1(name);
  for (std::string& name : typed) name = Utf8ToLatin1(name);
  if (*standard && typed.size() == 2) {
    std::cerr << "ovra-check: standard takes CONTEXT SERVER DEVICE, or a Tango device name\n";
    return kExitUsage;
  }
  // Names of the control system, not paths: a path is taken as typed.
  if (lintArgs.size() == 2 && !std::filesystem::exists(lintArgs[0]))
    for (std::string& name : lintArgs) name = Utf8ToLatin1(name);

  // One clock for the simulation and the checker: the simulated values move
  // in real time, as the asynchronous waits do.
  SystemClock clock;
  std::string error;
  ControlSystem system;
  const std::string facility = ChosenFacility(opt.facility);
  const std::vector<std::string> tangoHosts =
      facility.empty() ? AddressesToOpen(opt.tangoHosts) : std::vector<std::string>{};
  if (!opt.facility.empty() && !opt.tangoHosts.empty()) {
    std::cerr << "ovra-check: --facility and --tango-host exclude each other\n";
    return kExitUsage;
  }
  if (!(tangoHosts.empty()
            ? OpenControlSystem(facility, clock, system, error)
            : OpenAddresses(tangoHosts, clock, system, error, opt.tangoFailOnState))) {
    std::cerr << "ovra-check: " << error << "\n";
    return kExitUsage;
  }

  std::vector<std::string> looked;
  const DatabaseChoice database = ChooseDatabaseDirectory(
      DatabaseSearch::FromEnvironment(argc > 0 ? argv[0] : "", opt.database), &looked);
  std::error_code ec;
  if (database.named && !std::filesystem::is_directory(database.path, ec)) {
    std::cerr << "ovra-check: no database directory "
              << (opt.database.empty() ? database.path + " ($OVRA_DATABASE)" : opt.database)
              << "\n";
    return kExitUsage;
  }
  Checker checker(opt, clock, std::move(system), database.path);
  TestSources& sources = checker.sources();
  CheckerSession& session = checker.session();

  try {
    if (*list && listConfigurations) {
      sources.fillInProcNames();
      Json items = Json::array();
      for (int i = 0; i < session.configs.StoredConfigCount; ++i) {
        const std::string& d = session.configs.StoredConfigs[i].Description;
        if (opt.json) {
          items.push_back(AsUtf8(d));
        } else {
          std::cout << TerminalText(d) << "\n";
        }
      }
      if (opt.json) PrintJson({{"type", "list"}, {"of", "configurations"}, {"items", items}});
      return session.configs.StoredConfigCount > 0 ? kExitOk : kExitFailed;
    }
    if (*list) return List(checker, listNames, opt.json);
    if ((*info || *standard || *specific) &&
        !Resolve(checker.lib(), typed, standard->parsed(), context, server, device, error)) {
      std::cerr << "ovra-check: " << TerminalText(error) << "\n";
      return kExitFailed;
    }
    // The context and server name test files in the database directory.
    for (const auto& [what, name] :
         {std::pair{"context", &context}, std::pair{"server", &server}}) {
      if (!(*info || *standard || *specific)) break;
      if (const std::string why = UnsafeNameReason(*name); !why.empty()) {
        std::cerr << "ovra-check: " << what << " \"" << AsUtf8(VisibleControls(*name))
                  << "\" is refused: " << why << "\n";
        return kExitUsage;
      }
    }
    if (*info) return Info(checker, context, server, opt.json);
    if (*lint) return Lint(checker, lintArgs, opt.json);
    if (!checker.OpenJunit()) return kExitUsage;
    checker.ListenForSignals();
    if (*standard) {
      session.report.reportFileName.clear();
      session.checkerCaption.clear();
      const int16_t code = sources.initStdTest(context, server, device);
      if (code != 0) {
        checker.PreparationFailed(context, server,
                                  "no property list for /" + context + "/" + server + "/" + device +
                                      ": " + GetErrorString(checker.lib(), code) + " (code " +
                                      std::to_string(code) + ")",
                                  false);
        return checker.Finish();
      }
      checker.Caption();
      checker.Run(context, server);
      return checker.Finish();
    }
    if (*specific) {
      if (opt.strict) {
        std::vector<LintFinding> findings;
        std::vector<std::string> unread;
        if (!LintSpecific(checker, context, server, findings))
          unread.push_back(sources.TestFilePath(context, server));
        if (!findings.empty()) {
          PrintFindings(findings, unread, false, std::cerr);
          std::cerr << "ovra-check: --strict: not run\n";
          return kExitUsage;
        }
      }
      session.report.reportFileName.clear();
      const int16_t r = sources.initSelfText(context, server, device);
      checker.Caption();
      if (r == 0) {
        checker.Run(context, server);
      } else {
        checker.PreparationFailed(context, server, session.checkerCaption, true);
      }
      return checker.Finish();
    }
    if (*config) {
      const int16_t loaded = sources.fillInProcNames();
      const StoredConfigState& configs = session.configs;
      if (configs.StoredConfigCount < 1) {
        std::cerr << "ovra-check: no configurations: "
                  << TerminalText(
                         session.DatabasePath + "procedures.csv : " +
                         GetErrorString(checker.lib(), loaded ? loaded : kCodeNothingToLoad))
                  << "\n  (looked for procedures.csv in " << Joined(looked) << ")\n";
        return kExitUsage;
      }
      const int index = FindConfig(configs, configKey);
      if (index < 0) {
        std::cerr << "ovra-check: no configuration \"" << TerminalText(configKey)
                  << "\"; there are:\n";
        for (int i = 0; i < configs.StoredConfigCount; ++i) {
          std::cerr << "  " << i << "  " << TerminalText(configs.StoredConfigs[i].Description)
                    << "\n";
        }
        return kExitUsage;
      }
      const StoredConfig c = configs.StoredConfigs[index];
      if (opt.strict) {
        std::vector<LintFinding> findings;
        LintConfiguration(checker, c, findings);
        if (!findings.empty()) {
          PrintFindings(findings, {}, false, std::cerr);
          std::cerr << "ovra-check: --strict: not run\n";
          return kExitUsage;
        }
      }
      checker.human() << "Configuration: " << TerminalText(c.Description) << "\n";
      session.report.reportFileName.clear();
      if (c.ServerCount < 1) {
        checker.PreparationFailed(c.Context, "",
                                  "the configuration lists no server (" + session.DatabasePath +
                                      c.FileName + " : " +
                                      GetErrorString(checker.lib(), kCodeNothingToLoad) + ")",
                                  false);
      }
      for (int16_t i = 0; i < c.ServerCount && !checker.stopped(); ++i) {
        const std::string& srv = c.Servers[i];
        checker.human() << "\n";
        session.serverInfoText.clear();
        const int16_t r = sources.initSelfText(c.Context, srv, "#0");
        checker.Caption();
        if (r == 0) {
          checker.Run(c.Context, srv);
        } else {
          checker.PreparationFailed(c.Context, srv, session.checkerCaption, true);
        }
      }
      return checker.Finish();
    }
  } catch (const std::exception& e) {
    std::cerr << "ovra-check: " << e.what() << "\n";
    return kExitFailed;
  }
  return kExitUsage;
}
