#include "app/JunitWriter.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "access/CompletionCodes.h"

namespace dsc {

namespace {

// An attribute's value, copied only when it must be converted.
void SetXml(pugi::xml_attribute a, const std::string& text) {
  if (PrintableAscii(text)) {
    a.set_value(text.c_str());
  } else {
    a.set_value(XmlText(text).c_str());
  }
}

// <testcase name="" classname="..." time="0.000"/> appended to suite by
// parsing it, so that its strings live in the document's own buffer.
pugi::xml_node Prototype(pugi::xml_node suite, const std::string& classname) {
  pugi::xml_document scratch;
  pugi::xml_node tc = scratch.append_child("testcase");
  tc.append_attribute("name");
  tc.append_attribute("classname") = classname.c_str();
  tc.append_attribute("time") = "0.000";
  std::ostringstream text;
  tc.print(text, "", pugi::format_raw);
  const std::string xml = text.str();
  suite.append_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8);
  return suite.last_child();
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

}  // namespace

bool JunitWriter::Open(const std::string& path, std::string& error) {
  path_ = path;
  return TruncateOutputFile(path, error);
}

JunitWriter::JunitWriter(bool ant) : ant_(ant), host_(HostName()) {
  auto decl = doc_.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  // The root carries no attributes: the stricter of the two common schemas
  // allows none there, and every count is on the suites.
  root_ = doc_.append_child("testsuites");
}

JunitWriter::Suite& JunitWriter::SuiteFor(const std::string& context, const std::string& server) {
  if (!suites_.empty() && suites_.back().context == context && suites_.back().server == server)
    return suites_.back();
  Suite& s = suites_.emplace_back();
  s.context = context;
  s.server = server;
  s.startMs = UnixMs();
  // The counts and the time are known at the end; the attributes are made
  // now so that they stand in the order readers expect.
  s.node = root_.append_child("testsuite");
  // A control system with names of its own names the suite by the server's
  // (TangoTest/test) and its class by the database and the server; CI tools
  // split a class name at its last dot, so the others are written "_".
  const std::string serverName = longName ? longName(context, server) : "";
  std::string database = longName && !serverName.empty() ? longName(context, "") : "";
  if (database.empty()) database = context;
  auto undotted = [](std::string text) {
    std::replace(text.begin(), text.end(), '.', '_');
    return text;
  };
  s.node.append_attribute("name") =
      XmlText(serverName.empty() ? "/" + context + "/" + server : serverName).c_str();
  for (const char* name : {"tests", "failures", "errors"}) s.node.append_attribute(name);
  if (!ant_) s.node.append_attribute("skipped");
  s.node.append_attribute("time");
  s.node.append_attribute("timestamp") =
      IsoTimestamp(std::chrono::system_clock::now(), false).c_str();
  s.node.append_attribute("hostname") = host_.c_str();
  s.node.append_attribute("id") = static_cast<long long>(suites_.size() - 1);
  s.node.append_attribute("package") = XmlText(context).c_str();
  s.properties = s.node.append_child("properties");
  auto property = [&](const char* name, const std::string& value) {
    pugi::xml_node p = s.properties.append_child("property");
    p.append_attribute("name") = name;
    p.append_attribute("value") = XmlText(value).c_str();
  };
  property("context", context);
  property("server", server);
  if (!serverName.empty()) property("serverLongName", serverName);
  s.prototype = Prototype(
      s.node, XmlText(serverName.empty() ? context + "." + server
                                         : undotted(database) + "." + undotted(serverName)));
  return s;
}

void JunitWriter::AddCase(Suite& s, const std::string& name, int64_t ms, Verdict verdict,
                          const char* type, const std::string& message, const std::string& body) {
  s.failures += verdict == Verdict::Failed;
  s.errors += verdict == Verdict::Error;
  s.skipped += verdict == Verdict::Skipped;
  // The Ant schema knows no skipped test: that flavour leaves them out,
  // names their number in a property and lists them in <system-out>.
  if (ant_ && verdict == Verdict::Skipped) {
    s.leftOut += "not run: " + name + ": " + message + "\n";
    return;
  }
  ++s.tests;
  pugi::xml_node tc = s.node.append_copy(s.prototype);
  pugi::xml_attribute nameAttribute = tc.first_attribute();
  SetXml(nameAttribute, name);
  if (ms != 0) {  // the prototype says 0.000
    char time[32];
    *Seconds(ms, time) = '\0';
    nameAttribute.next_attribute().next_attribute().set_value(time);
  }
  if (verdict == Verdict::Passed) return;
  if (verdict == Verdict::Skipped) {
    tc.append_child("skipped").append_attribute("message") = XmlText(message).c_str();
    return;
  }
  pugi::xml_node fault = tc.append_child(verdict == Verdict::Error ? "error" : "failure");
  fault.append_attribute("message") = XmlText(message).c_str();
  fault.append_attribute("type") = type;
  fault.text() = XmlText(body).c_str();
}

void JunitWriter::ServerStarted(const std::string& context, const std::string& server, int32_t) {
  SuiteFor(context, server);
}

void JunitWriter::CommandEnded(const CommandOutcome& o) {
  Suite& s = SuiteFor(o.context, o.server);
  const TestCommand& cmd = CommandOf(o);
  const std::string& name = cmd.Description.empty() ? cmd.Property : cmd.Description;
  const Verdict verdict = o.verdict();
  if (verdict == Verdict::Passed) return AddCase(s, name, o.elapsedMs, verdict);
  const OutcomeKind kind = o.outcome.kind;
  const char* type = verdict == Verdict::Error             ? "access"
                     : kind == OutcomeKind::InputNotParsed ? "parse"
                                                           : "reference";
  std::string message = o.resultText;
  const std::string note = ValueNote(o);
  if (!note.empty() && kind == OutcomeKind::ReferenceNotMet) message += " (" + note + ")";
  // Every fault has the same four lines, whatever was read or compared.
  std::string body;
  body +=
      "expected: " + (o.expected.empty() ? std::string("(no reference)") : o.expected.Display());
  body += "\nactual: " + (o.actual.empty() ? std::string("(nothing read)") : o.actual.Display());
  body += "\nresult: " + o.resultText + "\ncommand: " + CommandPath(o) + "\n";
  body += std::string("kind: ") + OutcomeKindName(kind);
  if (const char* why = WhyName(o.outcome); *why != '\0') body += std::string(" (") + why + ")";
  if (o.outcome.code != 0) body += ", completion code " + std::to_string(o.outcome.code);
  body += "\n";
  AddCase(s, name, o.elapsedMs, verdict, type, message, body);
}

void JunitWriter::ServerEnded(const RunSummary& summary) {
  Suite& s = SuiteFor(summary.context, summary.server);
  s.ms = UnixMs() - s.startMs;
  s.stoppedBy = summary.stoppedBy;
}

void JunitWriter::ServerNotPrepared(const std::string& context, const std::string& server,
                                    const std::string& reason) {
  AddCase(SuiteFor(context, server), "preparation", 0, Verdict::Error, "preparation", reason,
          "result: " + reason + "\ncommand: /" + context + "/" + server + "\n");
}

void JunitWriter::RunEnding(CheckTotals& totals) {
  for (Suite& s : suites_) {
    s.node.attribute("tests") = s.tests;
    s.node.attribute("failures") = s.failures;
    s.node.attribute("errors") = s.errors;
    if (!ant_) s.node.attribute("skipped") = s.skipped;
    s.node.attribute("time") = Seconds(s.ms).c_str();
    auto property = [&](const char* name, const std::string& value) {
      pugi::xml_node p = s.properties.append_child("property");
      p.append_attribute("name") = name;
      p.append_attribute("value") = XmlText(value).c_str();
    };
    if (!totals.reportFile.empty()) property("report", totals.reportFile);
    const std::string stopped = s.stoppedBy.empty() ? totals.interruptedBy : s.stoppedBy;
    if (!stopped.empty()) property("interrupted", stopped);
    if (ant_ && s.skipped > 0) property("skipped", std::to_string(s.skipped));
    s.node.remove_child(s.prototype);
    pugi::xml_node out = s.node.append_child("system-out");
    if (!s.leftOut.empty()) out.text() = XmlText(s.leftOut).c_str();
    pugi::xml_node err = s.node.append_child("system-err");
    if (!stopped.empty()) err.text() = XmlText(stopped + "\n").c_str();
  }
  written_ = WriteOutputFile(
      path_,
      [this](FILE* f) {
        pugi::xml_writer_file file(f);
        doc_.save(file, "  ", pugi::format_default, pugi::encoding_utf8);
      },
      error_);
  if (!written_ && totals.outputError.empty())
    totals.outputError = "cannot write the JUnit file " + error_;
}

}  // namespace dsc
