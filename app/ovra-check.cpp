// ovra-check: the device server checker without a window. It prepares the same
// tests as the window (standard, specific, stored configuration, information),
// runs them through the check runner against a simulated facility (or a Tango
// installation, given a site file) and prints
// one line per command; --json and --junit give machine-readable results.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "access/CompletionCodes.h"
#include "access/NamespaceQueries.h"
#include "app/ControlSystems.h"
#include "base/Formats.h"
#include "base/SafeNames.h"
#include "engine/CheckRunner.h"
#include "engine/CheckerSession.h"
#include "engine/Clock.h"
#include "engine/ControlEventPump.h"
#include "engine/FrontEnd.h"
#include "engine/ReportLog.h"
#include "sources/TestSources.h"

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

// Text from the control system and the database is Latin-1; terminals, JSON
// and XML want UTF-8.
std::string Latin1ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Names typed on a UTF-8 terminal, turned into the control system's Latin-1 as
// the window does, so that what "list" printed can be typed back. Text that is
// not UTF-8 of Latin-1 characters is taken as it stands.
std::string Utf8ToLatin1(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0;
    if ((c != 0xC2 && c != 0xC3) || (next & 0xC0) != 0x80) return utf8;
    out += static_cast<char>(((c & 0x03) << 6) | (next & 0x3F));
    ++i;
  }
  return out;
}

// Captions and information blocks end their lines with CR LF. Other control
// characters (from a garbled test file or answer) would drive the terminal
// instead of being shown, so they print as "?".
std::string TerminalText(const std::string& latin1) {
  std::string shown;
  for (const char ch : latin1) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\r') continue;
    const bool control = (c < 0x20 && c != '\n' && c != '\t') || (c >= 0x7F && c < 0xA0);
    shown += control ? '?' : ch;
  }
  while (!shown.empty() && shown.back() == '\n') shown.pop_back();
  return Latin1ToUtf8(shown);
}

// JUnit readers expect a plain decimal, never an exponent.
std::string Seconds(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", s);
  return buf;
}

std::string JsonString(const std::string& latin1) {
  std::string out = "\"";
  for (const char ch : Latin1ToUtf8(latin1)) {
    const auto c = static_cast<unsigned char>(ch);
    switch (ch) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

// For attribute values and text alike. XML 1.0 has no way to carry most
// control characters, not even as references: they become "?".
std::string XmlEscape(const std::string& latin1) {
  std::string out;
  for (const char ch : Latin1ToUtf8(latin1)) {
    const auto c = static_cast<unsigned char>(ch);
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      case '\t':
        out += "&#9;";
        break;
      default:
        out += c < 0x20 ? '?' : ch;
    }
  }
  return out;
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

struct JunitCase {
  std::string name, classname, failure;
  bool failed = false;
  double seconds = 0;
};
struct JunitSuite {
  std::string name;
  std::vector<JunitCase> cases;
  int failures() const {
    int n = 0;
    for (const auto& c : cases) n += c.failed ? 1 : 0;
    return n;
  }
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
};

// Everything one invocation needs: the control system, the session, the
// runner and the terminal's side of the runner's interfaces.
class Checker {
 public:
  Checker(const Options& opt, Clock& clock, ControlSystem system, std::string databasePath)
      : opt_(opt),
        human_(opt.json ? std::cerr : std::cout),
        colour_(isatty(opt.json ? STDERR_FILENO : STDOUT_FILENO) != 0),
        clock_(clock),
        system_(std::move(system)),
        control_(std::move(system_.control)),
        session_(std::make_unique<CheckerSession>(
            clock_, opt.reportDir.empty() ? DefaultReportDirectory() : opt.reportDir)),
        sources_(*session_, *system_.library),
        prompt_(opt.retries, human_),
        pump_(*control_,
              [](int32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }),
        runner_(*session_, *control_, grid_, prompt_, pump_, clock_) {
    session_->DatabasePath = std::move(databasePath);
    runner_.setOutcomeObserver([this](const CommandOutcome& o) { OnOutcome(o); });
  }

  ClientLibrary& lib() { return *system_.library; }
  TestSources& sources() { return sources_; }
  CheckerSession& session() { return *session_; }
  std::ostream& human() { return human_; }

  void Caption() { human_ << TerminalText(session_->checkerCaption) << "\n"; }

  // A test that could not be prepared counts as a failure of its server.
  void PreparationFailed(const std::string& context, const std::string& server,
                         const std::string& why, bool captionShown) {
    ++failed_;
    preparationFailed_ = true;
    // A shown caption already ends with the reason.
    const size_t lf = why.rfind('\n');
    const std::string reason = lf == std::string::npos ? why : why.substr(lf + 1);
    human_ << Paint(
                  captionShown ? "not prepared: skipped" : "not prepared: " + TerminalText(reason),
                  false)
           << "\n";
    Suite(context, server)
        .cases.push_back({"preparation", context + "." + server, reason, true, 0});
    // A pipeline reading only the JSON must see the server it lost too; no
    // command ran, so there is no index.
    if (opt_.json) {
      std::cout << "{\"context\":" << JsonString(context) << ",\"server\":" << JsonString(server)
                << ",\"index\":null,\"description\":\"preparation\",\"property\":null"
                << ",\"device\":null,\"access\":null,\"status\":null"
                << ",\"result\":" << JsonString(reason) << "}\n";
    }
  }

  void Run(const std::string& context, const std::string& server) {
    total_ = session_->plan.TestPlanCount;
    Suite(context, server);
    lastTime_ = std::chrono::steady_clock::now();
    prompt_.NextCommand();
    runner_.RunVesk(context, server);
  }

  int Finish() {
    const ReportLog& report = session_->report;
    // A report none of whose lines was written is no file to point at.
    if (!report.reportFileName.empty() && report.linesWritten() > 0) {
      human_ << "Report: " << Latin1ToUtf8(report.reportFileName) << "\n";
    }
    const std::string reportError = session_->report.TakeError();
    if (!reportError.empty()) human_ << TerminalText(reportError) << "\n";
    human_ << succeeded_ << " succeeded, " << failed_ << " failed\n";
    int rc = (failed_ > 0 || preparationFailed_) ? kExitFailed : kExitOk;
    if (!report.complete()) rc = kExitReportIncomplete;
    if (!opt_.junit.empty() && !WriteJunit()) rc = kExitUsage;
    return rc;
  }

 private:
  std::string Paint(const std::string& text, bool ok) const {
    if (!colour_) return text;
    return (ok ? "\x1b[32m" : "\x1b[31m") + text + "\x1b[0m";
  }

  JunitSuite& Suite(const std::string& context, const std::string& server) {
    const std::string name = "/" + context + "/" + server;
    if (suites_.empty() || suites_.back().name != name) suites_.push_back({name, {}});
    return suites_.back();
  }

  void OnOutcome(const CommandOutcome& o) {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - lastTime_).count();
    lastTime_ = now;
    prompt_.NextCommand();
    const TestCommand empty;
    const TestCommand& c = o.command ? *o.command : empty;
    const bool ok = o.status == 0;
    (ok ? succeeded_ : failed_)++;

    std::string progress;
    if (total_ > 1) {
      progress = "[" + std::to_string(o.index + 1) + "/" + std::to_string(total_) + "] ";
    }
    human_ << progress << TerminalText(c.Description) << " : "
           << Paint(TerminalText(o.resultText), ok) << "\n";
    human_.flush();

    if (opt_.json) {
      std::cout << "{\"context\":" << JsonString(o.context)
                << ",\"server\":" << JsonString(o.server) << ",\"index\":" << o.index
                << ",\"description\":" << JsonString(c.Description)
                << ",\"property\":" << JsonString(c.Property)
                << ",\"device\":" << JsonString(c.Device)
                << LongNamesJson(o.context, o.server, c.Device)
                << ",\"access\":" << JsonString(c.Access) << ",\"status\":" << o.status
                << ",\"result\":" << JsonString(o.resultText) << ErrorsJson(ok) << "}\n";
      std::cout.flush();
    }
    Suite(o.context, o.server)
        .cases.push_back({c.Description, o.context + "." + o.server, o.resultText, !ok, seconds});
  }

  // The control system's whole error stack of a failure, where it keeps one
  // (Tango's): reason, description and origin, where the fault arose first.
  std::string ErrorsJson(bool ok) const {
    if (ok) return "";
    const std::vector<DataAcquisitionControl::ErrorFrame> stack = control_->ErrorStack();
    if (stack.empty()) return "";
    std::string json = ",\"errors\":[";
    for (size_t i = 0; i < stack.size(); ++i) {
      json += std::string(i ? "," : "") + "{\"reason\":" + JsonString(stack[i].reason) +
              ",\"description\":" + JsonString(stack[i].description) +
              ",\"origin\":" + JsonString(stack[i].origin) + "}";
    }
    return json + "]";
  }

  // The control system's own names of the server and device, where it has
  // them (Tango's): fields beside the short names, asked once per device.
  std::string LongNamesJson(const std::string& context, const std::string& server,
                            const std::string& device) {
    const std::string key = context + "/" + server + "/" + device;
    auto it = longNames_.find(key);
    if (it == longNames_.end()) {
      std::string fields;
      const std::string s = system_.library->LongNameOf(context, server, "").name;
      const std::string d = system_.library->LongNameOf(context, server, device).name;
      if (!s.empty()) fields += ",\"serverLongName\":" + JsonString(s);
      if (!d.empty()) fields += ",\"deviceLongName\":" + JsonString(d);
      it = longNames_.emplace(key, fields).first;
    }
    return it->second;
  }

  bool WriteJunit() {
    std::ofstream out(opt_.junit, std::ios::binary | std::ios::trunc);
    if (out) {
      int tests = 0, failures = 0;
      for (const auto& s : suites_) {
        tests += static_cast<int>(s.cases.size());
        failures += s.failures();
      }
      out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          << "<testsuites name=\"ovra-check\" tests=\"" << tests << "\" failures=\"" << failures
          << "\">\n";
      for (const auto& s : suites_) {
        out << "  <testsuite name=\"" << XmlEscape(s.name) << "\" tests=\"" << s.cases.size()
            << "\" failures=\"" << s.failures() << "\" errors=\"0\">\n";
        for (const auto& c : s.cases) {
          out << "    <testcase name=\"" << XmlEscape(c.name) << "\" classname=\""
              << XmlEscape(c.classname) << "\" time=\"" << Seconds(c.seconds) << "\"";
          if (c.failed) {
            out << ">\n      <failure message=\"" << XmlEscape(c.failure) << "\"/>\n"
                << "    </testcase>\n";
          } else {
            out << "/>\n";
          }
        }
        out << "  </testsuite>\n";
      }
      out << "</testsuites>\n";
      out.flush();
    }
    if (!out) {
      std::cerr << "ovra-check: cannot write " << opt_.junit << "\n";
      return false;
    }
    return true;
  }

  const Options& opt_;
  std::ostream& human_;
  bool colour_;
  Clock& clock_;
  ControlSystem system_;
  std::unique_ptr<DataAcquisitionControl> control_;
  std::unique_ptr<CheckerSession> session_;
  TestSources sources_;
  TerminalGrid grid_;
  RetryPrompt prompt_;
  ControlEventPump pump_;
  CheckRunner runner_;
  std::vector<JunitSuite> suites_;
  std::map<std::string, std::string> longNames_;
  std::chrono::steady_clock::time_point lastTime_{};
  int total_ = 0;
  int succeeded_ = 0, failed_ = 0;
  bool preparationFailed_ = false;
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

int List(Checker& checker, std::vector<std::string> names) {
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
  if (names.size() == 3) {
    std::vector<int16_t> sizes, formats;
    what = "/" + names[0] + "/" + names[1] + "/" + names[2];
    code = GetPropertyList(lib, what, list, sizes, formats, count);
    if (code == 0) {
      for (int16_t i = 0; i < count; ++i) {
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
    if (code == 0) {
      for (int16_t i = 0; i < count; ++i) {
        std::cout << TerminalText(list[i]);
        if (names.empty()) std::cout << Beside(lib, list[i], "", "");
        if (names.size() == 1) std::cout << Beside(lib, names[0], list[i], "");
        if (names.size() == 2) std::cout << Beside(lib, names[0], names[1], list[i]);
        std::cout << "\n";
      }
    }
  }
  if (code != 0) {
    std::cerr << "ovra-check: " << what << ": " << TerminalText(GetErrorString(lib, code))
              << " (code " << code << ")\n";
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

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Checks the device servers of the Ovra control system from the terminal."};
  app.set_version_flag("--version", [] {
    return std::string("ovra-check ") + OVRA_VERSION + "\n" + TangoBackendStatus();
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
  app.add_flag("--json", opt.json, "One JSON object per executed command on stdout");
  app.add_option("--junit", opt.junit, "Write JUnit XML results to FILE")->type_name("FILE");
  app.footer(std::string(kWhereThingsComeFrom) +
             "\n\n"
             "Tango: --tango-host HOST:PORT, or with no facility chosen the TANGO_HOST\n"
             "environment variable, names Tango databases whose servers and devices are\n"
             "discovered; their short names are listed with Tango's beside them, and a Tango\n"
             "server or device name alone, in any case, finds the rest (\"standard\n"
             "sys/tg_test/1\").\n\n"
             "Exit status: 0 every command succeeded, 1 a command failed or a test could not be\n"
             "prepared, 2 usage error, unreadable facility or database, 3 the tests ran but their\n"
             "report is incomplete (lines lost to a full disk or a refused report file).");

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

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? kExitOk : kExitUsage;
  }

  for (std::string* name : {&context, &server, &device, &configKey}) *name = Utf8ToLatin1(*name);
  for (std::string& name : listNames) name = Utf8ToLatin1(name);
  for (std::string& name : typed) name = Utf8ToLatin1(name);
  if (*standard && typed.size() == 2) {
    std::cerr << "ovra-check: standard takes CONTEXT SERVER DEVICE, or a Tango device name\n";
    return kExitUsage;
  }

  // One clock for the simulation and the checker: the simulated values move
  // in real time, as the asynchronous waits do.
  SystemClock clock;
  std::string error;
  ControlSystem system;
  const std::string facility = ChosenFacility(opt.facility);
  const std::vector<std::string> tangoHosts =
      facility.empty() ? TangoHostsToOpen(opt.tangoHosts) : std::vector<std::string>{};
  if (!opt.facility.empty() && !opt.tangoHosts.empty()) {
    std::cerr << "ovra-check: --facility and --tango-host exclude each other\n";
    return kExitUsage;
  }
  if (!(tangoHosts.empty()
            ? OpenControlSystem(facility, clock, system, error)
            : OpenTangoDatabases(tangoHosts, clock, system, error, opt.tangoFailOnState))) {
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
      for (int i = 0; i < session.configs.StoredConfigCount; ++i) {
        std::cout << TerminalText(session.configs.StoredConfigs[i].Description) << "\n";
      }
      return session.configs.StoredConfigCount > 0 ? kExitOk : kExitFailed;
    }
    if (*list) return List(checker, listNames);
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
        std::cerr << "ovra-check: " << what << " \"" << Latin1ToUtf8(VisibleControls(*name))
                  << "\" is refused: " << why << "\n";
        return kExitUsage;
      }
    }
    if (*info) {
      std::cout << TerminalText(sources.GetServerInfo(context, server)) << "\n";
      // Where the control system knows the server's own name and host.
      const std::string name = checker.lib().LongNameOf(context, server, "").name;
      const std::string host = checker.lib().LongNameOf(context, server, "#0").host;
      if (!name.empty()) std::cout << " name: " << TerminalText(name) << "\n";
      if (!host.empty()) std::cout << " host: " << TerminalText(host) << "\n";
      return kExitOk;
    }
    if (*standard) {
      session.report.reportFileName.clear();
      session.checkerCaption.clear();
      sources.initStdTest(context, server, device);
      // initStdTest sets the caption only once the property list was read.
      if (session.checkerCaption.empty()) {
        checker.PreparationFailed(context, server,
                                  "no property list for /" + context + "/" + server + "/" + device +
                                      ": " +
                                      GetErrorString(checker.lib(), sources.propertyListCode()),
                                  false);
        return checker.Finish();
      }
      checker.Caption();
      checker.Run(context, server);
      return checker.Finish();
    }
    if (*specific) {
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
        std::cerr << "ovra-check: no configuration \"" << configKey << "\"; there are:\n";
        for (int i = 0; i < configs.StoredConfigCount; ++i) {
          std::cerr << "  " << i << "  " << TerminalText(configs.StoredConfigs[i].Description)
                    << "\n";
        }
        return kExitUsage;
      }
      const StoredConfig c = configs.StoredConfigs[index];
      checker.human() << "Configuration: " << TerminalText(c.Description) << "\n";
      session.report.reportFileName.clear();
      if (c.ServerCount < 1) {
        checker.PreparationFailed(c.Context, "",
                                  "the configuration lists no server (" + session.DatabasePath +
                                      c.FileName + " : " +
                                      GetErrorString(checker.lib(), kCodeNothingToLoad) + ")",
                                  false);
      }
      for (int16_t i = 0; i < c.ServerCount; ++i) {
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
