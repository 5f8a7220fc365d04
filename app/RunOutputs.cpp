#include "app/RunOutputs.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "access/CompletionCodes.h"
#include "base/Formats.h"
#include "base/TextEncoding.h"
#include "engine/CheckRunner.h"

namespace dsc {

namespace {

using Json = nlohmann::ordered_json;

// Numbers of whole-number formats as integers ("7", not "7.0"); SINGLE
// through its own shortest text, so 4.2f reads 4.2 and not 4.199999809.
Json NumberJson(double v, int16_t format) {
  if (!std::isfinite(v)) return nullptr;
  if (format == kFormatSingle)
    return std::strtod(ShortestNumberText(static_cast<float>(v)).c_str(), nullptr);
  if (format == kFormatDouble) return v;
  return static_cast<int64_t>(v);
}

Json ValueJson(const DecodedValue& v) {
  switch (v.kind) {
    case DecodedValue::Kind::None:
      return nullptr;
    case DecodedValue::Kind::Text:
      return AsUtf8(v.text);
    case DecodedValue::Kind::Number:
      if (v.count == 1 && v.numbers.size() == 1) return NumberJson(v.numbers[0], v.format);
      {
        Json list = Json::array();
        for (const double n : v.numbers) list.push_back(NumberJson(n, v.format));
        return list;
      }
    case DecodedValue::Kind::Bytes:
      return AsUtf8(v.Display());
  }
  return nullptr;
}

std::string Dump(const Json& j) {
  // Replace, never throw: every text was made UTF-8 already, but a line that
  // cannot be written must not end the run.
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// XML 1.0 cannot carry most control characters, not even as references.
std::string XmlText(const std::string& text) {
  std::string out = AsUtf8(text);
  for (char& ch : out) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') ch = '?';
  }
  return out;
}

std::string Seconds(int64_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", static_cast<double>(ms) / 1000.0);
  return buf;
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

std::string CommandPath(const CommandOutcome& o) {
  const TestCommand empty;
  const TestCommand& c = o.command ? *o.command : empty;
  return "/" + o.context + "/" + o.server + "/" + c.Device + "[" + c.Property + "] " + c.Access;
}

}  // namespace

Verdict VerdictOf(const CommandOutcome& o) {
  if (o.skipped()) return Verdict::Skipped;
  if (o.status == 0) return Verdict::Passed;
  if (o.accessFailed || o.status == kCodeControlFault || o.status == kCodeStopped)
    return Verdict::Error;
  return Verdict::Failed;
}

const char* VerdictName(Verdict v) {
  switch (v) {
    case Verdict::Passed:
      return "passed";
    case Verdict::Failed:
      return "failed";
    case Verdict::Error:
      return "error";
    case Verdict::Skipped:
      return "skipped";
  }
  return "";
}

std::string TerminalText(const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  const std::string utf8 = AsUtf8(text);
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c == '\r') continue;
    // C1 controls arrive in UTF-8 as C2 80..C2 9F.
    if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
      shown += '?';
      ++i;
      continue;
    }
    const bool control = (c < 0x20 && c != '\n' && c != '\t') || c == 0x7F;
    shown += control ? '?' : static_cast<char>(c);
  }
  while (!shown.empty() && shown.back() == '\n') shown.pop_back();
  return shown;
}

std::string ValueNote(const CommandOutcome& o) {
  if (o.status == kCodeTargetNotMet && !o.expected.empty())
    return "expected " + o.expected.Display() + " got " + o.actual.Display();
  if (!o.actual.empty()) return "= " + o.actual.Display();
  return "";
}

void LineFlusher::LineDone() {
  if (terminal_) {
    out_.flush();
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ >= std::chrono::seconds(1)) {
    out_.flush();
    last_ = now;
  }
}

int64_t UnixMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string IsoTimestamp(std::chrono::system_clock::time_point t, bool milliseconds) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  const std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  gmtime_r(&secs, &tm);
  char buf[40];
  const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
  std::string out(buf, n);
  if (milliseconds) {
    char frac[8];
    std::snprintf(frac, sizeof frac, ".%03d", static_cast<int>(ms % 1000));
    out += frac;
    out += 'Z';
  }
  return out;
}

// --- terminal ---------------------------------------------------------------

std::string TerminalPrinter::Paint(const std::string& text, const char* colour) const {
  if (!colour_) return text;
  return std::string(colour) + text + "\x1b[0m";
}

void TerminalPrinter::CommandEnded(const CommandOutcome& o) {
  const Verdict v = VerdictOf(o);
  if (planned_ > 1) out_ << '[' << o.index + 1 << '/' << planned_ << "] ";
  out_ << TerminalText(o.command ? o.command->Description : std::string()) << " : "
       << Paint(TerminalText(o.resultText), v == Verdict::Passed    ? "\x1b[32m"
                                            : v == Verdict::Skipped ? "\x1b[33m"
                                                                    : "\x1b[31m");
  const std::string note = ValueNote(o);
  if (!note.empty()) out_ << "  " << TerminalText(note);
  if (!o.skipped()) out_ << "  (" << o.elapsedMs << " ms)";
  out_ << '\n';
  flusher_.LineDone();
}

void TerminalPrinter::RunEnded(const RunSummary& summary) {
  if (!summary.stoppedBy.empty())
    out_ << Paint(TerminalText(summary.stoppedBy), "\x1b[31m") << '\n';
}

void TerminalPrinter::NotPrepared(const std::string&, const std::string&,
                                  const std::string& reason) {
  out_ << Paint("not prepared: " + TerminalText(reason), "\x1b[31m") << '\n';
  flusher_.LineDone();
}

void TerminalPrinter::Finished(const CheckTotals& t) {
  if (!t.reportFile.empty()) out_ << "Report: " << AsUtf8(t.reportFile) << '\n';
  out_ << t.passed << " succeeded, " << t.failed + t.errors << " failed";
  if (t.skipped > 0) out_ << ", " << t.skipped << " not run";
  if (t.notPrepared > 0) out_ << ", " << t.notPrepared << " not prepared";
  out_ << " in " << Seconds(t.elapsedMs) << " s";
  if (!t.interruptedBy.empty()) out_ << " (" << TerminalText(t.interruptedBy) << ")";
  out_ << '\n';
  out_.flush();
}

// --- JSON -------------------------------------------------------------------

void JsonWriter::CommandEnded(const CommandOutcome& o) {
  const TestCommand empty;
  const TestCommand& c = o.command ? *o.command : empty;
  Json j;
  j["type"] = "command";
  j["context"] = AsUtf8(o.context);
  j["server"] = AsUtf8(o.server);
  j["index"] = o.index;
  j["description"] = AsUtf8(c.Description);
  j["property"] = AsUtf8(c.Property);
  j["device"] = AsUtf8(c.Device);
  j["access"] = AsUtf8(c.Access);
  j["status"] = o.status;
  j["result"] = AsUtf8(o.resultText);
  j["outcome"] = VerdictName(VerdictOf(o));
  j["compared"] = o.compared;
  j["value"] = ValueJson(o.actual);
  j["expected"] = ValueJson(o.expected);
  if (o.actual.count > 1) j["count"] = o.actual.count;
  j["elapsed_ms"] = o.elapsedMs;
  j["timestamp"] = IsoTimestamp(std::chrono::system_clock::now(), true);
  out_ << Dump(j) << '\n';
  flusher_.LineDone();
}

void JsonWriter::NotPrepared(const std::string& context, const std::string& server,
                             const std::string& reason) {
  // A pipeline reading only the JSON must see the server it lost too; no
  // command ran, so there is no index.
  Json j;
  j["type"] = "preparation";
  j["context"] = AsUtf8(context);
  j["server"] = AsUtf8(server);
  j["index"] = nullptr;
  j["description"] = "preparation";
  j["status"] = nullptr;
  j["result"] = AsUtf8(reason);
  j["outcome"] = "error";
  j["timestamp"] = IsoTimestamp(std::chrono::system_clock::now(), true);
  out_ << Dump(j) << '\n';
  flusher_.LineDone();
}

void JsonWriter::Finished(const CheckTotals& t) {
  Json j;
  j["type"] = "summary";
  j["tests"] = t.tests();
  j["passed"] = t.passed;
  j["failed"] = t.failed;
  j["errors"] = t.errors;
  j["skipped"] = t.skipped;
  j["not_prepared"] = t.notPrepared;
  j["elapsed_ms"] = t.elapsedMs;
  j["interrupted"] = !t.interruptedBy.empty();
  j["interrupted_by"] = t.interruptedBy.empty() ? Json(nullptr) : Json(AsUtf8(t.interruptedBy));
  j["report"] = t.reportFile.empty() ? Json(nullptr) : Json(AsUtf8(t.reportFile));
  j["exit_code"] = t.exitCode;
  out_ << Dump(j) << '\n';
  out_.flush();
}

// --- JUnit ------------------------------------------------------------------

bool JunitWriter::Open(const std::string& path, std::string& error) {
  path_ = path;
  std::ofstream probe(path, std::ios::binary | std::ios::trunc);
  if (!probe) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

JunitWriter::Suite& JunitWriter::SuiteFor(const std::string& context, const std::string& server) {
  if (suites_.empty() || suites_.back().context != context || suites_.back().server != server) {
    Suite s;
    s.context = context;
    s.server = server;
    s.timestamp = IsoTimestamp(std::chrono::system_clock::now(), false);
    s.startMs = UnixMs();
    suites_.push_back(std::move(s));
  }
  return suites_.back();
}

void JunitWriter::RunStarted(const std::string& context, const std::string& server, int32_t) {
  SuiteFor(context, server);
}

void JunitWriter::CommandEnded(const CommandOutcome& o) {
  Suite& s = SuiteFor(o.context, o.server);
  Case c;
  const TestCommand empty;
  const TestCommand& cmd = o.command ? *o.command : empty;
  c.name = cmd.Description.empty() ? cmd.Property : cmd.Description;
  c.classname = o.context + "." + o.server;
  c.verdict = VerdictOf(o);
  c.ms = o.elapsedMs;
  c.type = c.verdict == Verdict::Error   ? "access"
           : o.status == kCodeParseError ? "parse"
                                         : "reference";
  if (c.verdict != Verdict::Passed) {
    c.message = o.resultText;
    const std::string note = ValueNote(o);
    if (!o.expected.empty()) c.body += "expected: " + o.expected.Display() + "\n";
    if (!o.actual.empty()) c.body += "actual: " + o.actual.Display() + "\n";
    c.body += "result: " + o.resultText + "\ncommand: " + CommandPath(o) + "\n";
    if (!note.empty() && o.status == kCodeTargetNotMet) c.message += " (" + note + ")";
  }
  s.cases.push_back(std::move(c));
}

void JunitWriter::RunEnded(const RunSummary& summary) {
  Suite& s = SuiteFor(summary.context, summary.server);
  s.ms = UnixMs() - s.startMs;
  s.stoppedBy = summary.stoppedBy;
}

void JunitWriter::NotPrepared(const std::string& context, const std::string& server,
                              const std::string& reason) {
  Suite& s = SuiteFor(context, server);
  Case c;
  c.name = "preparation";
  c.classname = context + "." + server;
  c.verdict = Verdict::Error;
  c.type = "preparation";
  c.message = reason;
  c.body = "result: " + reason + "\ncommand: /" + context + "/" + server + "\n";
  s.cases.push_back(std::move(c));
}

void JunitWriter::Finished(const CheckTotals& totals) {
  pugi::xml_document doc;
  auto decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  // The root carries no attributes: the stricter of the two common schemas
  // allows none there, and every count is on the suites.
  pugi::xml_node root = doc.append_child("testsuites");
  const std::string host = HostName();
  int id = 0;
  for (const Suite& s : suites_) {
    int failures = 0, errors = 0, skipped = 0;
    for (const Case& c : s.cases) {
      failures += c.verdict == Verdict::Failed;
      errors += c.verdict == Verdict::Error;
      skipped += c.verdict == Verdict::Skipped;
    }
    pugi::xml_node suite = root.append_child("testsuite");
    suite.append_attribute("name") = XmlText("/" + s.context + "/" + s.server).c_str();
    suite.append_attribute("tests") = static_cast<long long>(s.cases.size());
    suite.append_attribute("failures") = failures;
    suite.append_attribute("errors") = errors;
    suite.append_attribute("skipped") = skipped;
    suite.append_attribute("time") = Seconds(s.ms).c_str();
    suite.append_attribute("timestamp") = s.timestamp.c_str();
    suite.append_attribute("hostname") = host.c_str();
    suite.append_attribute("id") = id++;
    suite.append_attribute("package") = XmlText(s.context).c_str();

    pugi::xml_node props = suite.append_child("properties");
    auto property = [&](const char* name, const std::string& value) {
      pugi::xml_node p = props.append_child("property");
      p.append_attribute("name") = name;
      p.append_attribute("value") = XmlText(value).c_str();
    };
    property("context", s.context);
    property("server", s.server);
    if (!totals.reportFile.empty()) property("report", totals.reportFile);
    const std::string stopped = s.stoppedBy.empty() ? totals.interruptedBy : s.stoppedBy;
    if (!stopped.empty()) property("interrupted", stopped);

    for (const Case& c : s.cases) {
      pugi::xml_node tc = suite.append_child("testcase");
      tc.append_attribute("name") = XmlText(c.name).c_str();
      tc.append_attribute("classname") = XmlText(c.classname).c_str();
      tc.append_attribute("time") = Seconds(c.ms).c_str();
      if (c.verdict == Verdict::Passed) continue;
      if (c.verdict == Verdict::Skipped) {
        tc.append_child("skipped").append_attribute("message") = XmlText(c.message).c_str();
        continue;
      }
      const bool error = c.verdict == Verdict::Error;
      pugi::xml_node fault = tc.append_child(error ? "error" : "failure");
      fault.append_attribute("message") = XmlText(c.message).c_str();
      fault.append_attribute("type") = c.type.c_str();
      fault.text() = XmlText(c.body).c_str();
    }
    suite.append_child("system-out");
    pugi::xml_node err = suite.append_child("system-err");
    if (!stopped.empty()) err.text() = XmlText(stopped + "\n").c_str();
  }
  written_ = doc.save_file(path_.c_str(), "  ", pugi::format_default, pugi::encoding_utf8);
  if (!written_) error_ = path_ + ": " + std::strerror(errno);
}

}  // namespace dsc
