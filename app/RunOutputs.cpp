#include "app/RunOutputs.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <sstream>

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
  if (format == kFormatSingle) {
    char buf[32];
    char* end = std::to_chars(buf, buf + sizeof buf - 1, static_cast<float>(v)).ptr;
    *end = '\0';
    return std::strtod(buf, nullptr);
  }
  if (format == kFormatDouble) return v;
  return static_cast<int64_t>(v);
}

// A compound element as the list of its fields: numbers as their formats
// show them, names as texts.
Json FieldsJson(const std::vector<DecodedValue::Field>& fields) {
  Json list = Json::array();
  for (const DecodedValue::Field& f : fields) {
    if (f.kind == FieldKind::Name)
      list.push_back(AsUtf8(f.text));
    else
      list.push_back(NumberJson(f.number, f.kind == FieldKind::Single   ? kFormatSingle
                                          : f.kind == FieldKind::Double ? kFormatDouble
                                                                        : kFormatLong));
  }
  return list;
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
    case DecodedValue::Kind::Fields:
      if (v.count == 1 && v.elements.size() == 1) return FieldsJson(v.elements[0]);
      {
        Json list = Json::array();
        for (const auto& element : v.elements) list.push_back(FieldsJson(element));
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

// True when every byte is printable ASCII (0x20..0x7E) and, with json, none
// is a quote or a backslash: text every output shows as it stands. It runs
// over every text of every line, so eight bytes are looked at a time.
bool PrintableAscii(std::string_view text, bool json = false) {
  // Eight bytes at a time: the high bit of a byte of `bad` is set where the
  // byte is below 0x20 or above 0x7E (or, for JSON, a quote or backslash).
  constexpr uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
  const auto clean = [json](uint64_t x) {
    const auto hasZero = [](uint64_t v) { return (v - kOnes) & ~v & kHigh; };
    uint64_t bad = ((x - kOnes * 0x20) & ~x) | ((x + kOnes) | x);
    if (json) bad |= hasZero(x ^ (kOnes * '"')) | hasZero(x ^ (kOnes * '\\'));
    return (bad & kHigh) == 0;
  };
  const auto load = [](const char* p, auto word) {
    std::memcpy(&word, p, sizeof word);
    return static_cast<uint64_t>(word);
  };
  const char* p = text.data();
  const size_t n = text.size();
  if (n >= 8) {
    for (size_t i = 0; i + 8 <= n; i += 8)
      if (!clean(load(p + i, uint64_t{}))) return false;
    return n % 8 == 0 || clean(load(p + n - 8, uint64_t{}));  // the tail, overlapping
  }
  // Short texts, the most common, in one word: overlapping halves, the rest
  // of the word filled with a harmless letter.
  if (n >= 4) return clean(load(p, uint32_t{}) | load(p + n - 4, uint32_t{}) << 32);
  if (n == 0) return true;
  const auto byte = [p](size_t i) {
    return static_cast<uint64_t>(static_cast<unsigned char>(p[i]));
  };
  return clean((kOnes * 'A' & ~0xFFFFFFULL) | byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16);
}

std::string XmlText(const std::string& text) {
  if (PrintableAscii(text)) return text;
  std::string out = AsUtf8(text);
  for (char& ch : out) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') ch = '?';
  }
  return out;
}

// An attribute's value, copied only when it must be converted.
void SetXml(pugi::xml_attribute a, const std::string& text) {
  if (PrintableAscii(text)) {
    a.set_value(text.c_str());
  } else {
    a.set_value(XmlText(text).c_str());
  }
}

// "12.345": whole milliseconds as seconds, never with an exponent. Writes
// into out (24 bytes are enough) and returns the end.
char* Seconds(int64_t ms, char* out) {
  if (ms < 0) ms = 0;
  out = std::to_chars(out, out + 20, ms / 1000).ptr;
  const int f = static_cast<int>(ms % 1000);
  *out++ = '.';
  *out++ = static_cast<char>('0' + f / 100);
  *out++ = static_cast<char>('0' + f / 10 % 10);
  *out++ = static_cast<char>('0' + f % 10);
  return out;
}

std::string Seconds(int64_t ms) {
  char buf[24];
  return std::string(buf, Seconds(ms, buf));
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

// The command of an outcome; an empty one for an outcome without (made once:
// this runs for every command of every output).
const TestCommand& CommandOf(const CommandOutcome& o) {
  static const TestCommand kNone;
  return o.command ? *o.command : kNone;
}

std::string CommandPath(const CommandOutcome& o) {
  const TestCommand& c = CommandOf(o);
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

namespace {
// The names as strings, made once: the JSON line takes one per command.
const std::string& VerdictText(Verdict v) {
  static const std::string kNames[] = {VerdictName(Verdict::Passed), VerdictName(Verdict::Failed),
                                       VerdictName(Verdict::Error), VerdictName(Verdict::Skipped)};
  return kNames[static_cast<int>(v)];
}
}  // namespace

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
  // Most texts are printable ASCII and show as they are.
  if (PrintableAscii(text)) return text;
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
  if (Due()) out_.flush();
}

bool LineFlusher::Due() {
  if (terminal_) return true;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < std::chrono::seconds(1)) return false;
  last_ = now;
  return true;
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

// Appends what TerminalText gives, without a copy for plain ASCII.
void AppendShown(std::string& line, const std::string& text) {
  if (PrintableAscii(text)) {
    line += text;
  } else {
    line += TerminalText(text);
  }
}

void AppendNumber(std::string& line, int64_t value) {
  char buf[24];
  line.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

void TerminalPrinter::CommandEnded(const CommandOutcome& o) {
  const Verdict v = VerdictOf(o);
  line_.clear();
  if (planned_ > 1) {
    line_ += '[';
    AppendNumber(line_, o.index + 1);
    line_ += '/';
    AppendNumber(line_, planned_);
    line_ += "] ";
  }
  if (o.command) AppendShown(line_, o.command->Description);
  line_ += " : ";
  if (colour_) {
    line_ += v == Verdict::Passed ? "\x1b[32m" : v == Verdict::Skipped ? "\x1b[33m" : "\x1b[31m";
  }
  AppendShown(line_, o.resultText);
  if (colour_) line_ += "\x1b[0m";
  if (o.status == kCodeTargetNotMet && !o.expected.empty()) {
    line_ += "  expected ";
    AppendShown(line_, o.expected.Display());
    line_ += " got ";
    AppendShown(line_, o.actual.Display());
  } else if (!o.actual.empty()) {
    line_ += "  = ";
    AppendShown(line_, o.actual.Display());
  }
  if (!o.skipped()) {
    line_ += "  (";
    AppendNumber(line_, o.elapsedMs);
    line_ += " ms)";
  }
  line_ += '\n';
  out_.write(line_.data(), static_cast<std::streamsize>(line_.size()));
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

void LineBuffer::Grow(size_t n) {
  const size_t capacity = std::max({size_ + n, 2 * capacity_, size_t{4096}});
  auto grown = std::make_unique<char[]>(capacity);
  if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
  data_ = std::move(grown);
  capacity_ = capacity;
}

void JsonWriter::String(std::string_view key, const std::string& text) {
  // Text that JSON carries as it stands; anything else goes through the
  // library's escaping.
  if (!PrintableAscii(text, true)) {
    pending_.Add(key);
    pending_.Add(Dump(AsUtf8(text)));
    return;
  }
  char* p = pending_.Room(key.size() + text.size() + 2);
  std::memcpy(p, key.data(), key.size());
  p += key.size();
  *p++ = '"';
  std::memcpy(p, text.data(), text.size());
  p += text.size();
  *p++ = '"';
  pending_.Commit(p);
}

void JsonWriter::Number(std::string_view key, int64_t value) {
  constexpr size_t kDigits = 20;
  char* p = pending_.Room(key.size() + kDigits);
  std::memcpy(p, key.data(), key.size());
  p += key.size();
  pending_.Commit(std::to_chars(p, p + kDigits, value).ptr);
}

void JsonWriter::Value(std::string_view key, const DecodedValue& v) {
  pending_.Add(key);
  if (v.kind == DecodedValue::Kind::Number && v.count == 1 && v.numbers.size() == 1 &&
      std::isfinite(v.numbers[0])) {
    // The shortest text that reads back as the value: what the terminal
    // shows, and a JSON number as it stands.
    pending_.Add(v.Display());
    return;
  }
  pending_.Add(Dump(ValueJson(v)));
}

void JsonWriter::Hand(bool flush) {
  out_.write(pending_.view().data(), static_cast<std::streamsize>(pending_.size()));
  pending_.clear();
  if (flush) out_.flush();
}

// One line per command, in a fixed order; the values are numbers, texts and
// arrays as the library writes them.
void JsonWriter::CommandEnded(const CommandOutcome& o) {
  const TestCommand& c = CommandOf(o);
  if (prefix_.empty() || o.context != prefixContext_ || o.server != prefixServer_) {
    prefixContext_ = o.context;
    prefixServer_ = o.server;
    const size_t start = pending_.size();
    pending_.Add("{\"type\":\"command\"");
    String(",\"context\":", o.context);
    String(",\"server\":", o.server);
    pending_.Add(",\"index\":");
    prefix_ = pending_.view().substr(start);
  } else {
    pending_.Add(prefix_);
  }
  Number("", o.index);
  String(",\"description\":", c.Description);
  String(",\"property\":", c.Property);
  String(",\"device\":", c.Device);
  String(",\"access\":", c.Access);
  Number(",\"status\":", o.status);
  String(",\"result\":", o.resultText);
  String(",\"outcome\":", VerdictText(VerdictOf(o)));
  pending_.Add(o.compared ? std::string_view(",\"compared\":true")
                          : std::string_view(",\"compared\":false"));
  Value(",\"value\":", o.actual);
  // A met reference usually holds the very values read: shown once.
  Value(",\"expected\":", o.expected.SameAs(o.actual) ? o.actual : o.expected);
  if (o.actual.count > 1) Number(",\"count\":", o.actual.count);
  Number(",\"elapsed_ms\":", o.elapsedMs);
  if (extraFields) pending_.Add(extraFields(o));
  pending_.Add(",\"timestamp\":\"");
  pending_.Add(clock_.Now());
  pending_.Add("\"}\n");
  const bool due = flusher_.Due();
  if (due || pending_.size() >= 64 * 1024) Hand(due);
}

const std::string& TimestampCache::Now() {
  const int64_t ms = UnixMs();
  if (ms / 1000 != second_ || text_.empty()) {
    second_ = ms / 1000;
    text_ =
        IsoTimestamp(std::chrono::system_clock::time_point(std::chrono::milliseconds(ms)), true);
  } else {
    const int f = static_cast<int>(ms % 1000);
    char* frac = text_.data() + text_.size() - 4;  // "...:SS.mmmZ"
    frac[0] = static_cast<char>('0' + f / 100);
    frac[1] = static_cast<char>('0' + f / 10 % 10);
    frac[2] = static_cast<char>('0' + f % 10);
  }
  return text_;
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
  j["timestamp"] = clock_.Now();
  pending_.Add(Dump(j));
  pending_.Add("\n");
  Hand(flusher_.Due());
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
  pending_.Add(Dump(j));
  pending_.Add("\n");
  Hand(true);
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
  s.node.append_attribute("name") = XmlText("/" + context + "/" + server).c_str();
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
  s.prototype = Prototype(s.node, XmlText(context + "." + server));
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

void JunitWriter::RunStarted(const std::string& context, const std::string& server, int32_t) {
  SuiteFor(context, server);
}

void JunitWriter::CommandEnded(const CommandOutcome& o) {
  Suite& s = SuiteFor(o.context, o.server);
  const TestCommand& cmd = CommandOf(o);
  const std::string& name = cmd.Description.empty() ? cmd.Property : cmd.Description;
  const Verdict verdict = VerdictOf(o);
  if (verdict == Verdict::Passed) return AddCase(s, name, o.elapsedMs, verdict);
  const char* type = verdict == Verdict::Error     ? "access"
                     : o.status == kCodeParseError ? "parse"
                                                   : "reference";
  std::string message = o.resultText;
  const std::string note = ValueNote(o);
  if (!note.empty() && o.status == kCodeTargetNotMet) message += " (" + note + ")";
  std::string body;
  if (!o.expected.empty()) body += "expected: " + o.expected.Display() + "\n";
  if (!o.actual.empty()) body += "actual: " + o.actual.Display() + "\n";
  body += "result: " + o.resultText + "\ncommand: " + CommandPath(o) + "\n";
  AddCase(s, name, o.elapsedMs, verdict, type, message, body);
}

void JunitWriter::RunEnded(const RunSummary& summary) {
  Suite& s = SuiteFor(summary.context, summary.server);
  s.ms = UnixMs() - s.startMs;
  s.stoppedBy = summary.stoppedBy;
}

void JunitWriter::NotPrepared(const std::string& context, const std::string& server,
                              const std::string& reason) {
  AddCase(SuiteFor(context, server), "preparation", 0, Verdict::Error, "preparation", reason,
          "result: " + reason + "\ncommand: /" + context + "/" + server + "\n");
}

void JunitWriter::Finished(const CheckTotals& totals) {
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
  // Written through a large buffer, and checked at the close too: a disk
  // that fills up shows there at the latest.
  FILE* f = std::fopen(path_.c_str(), "wb");
  bool ok = f != nullptr;
  if (ok) {
    std::setvbuf(f, nullptr, _IOFBF, 1 << 16);
    pugi::xml_writer_file file(f);
    doc_.save(file, "  ", pugi::format_default, pugi::encoding_utf8);
    ok = std::ferror(f) == 0;
    if (std::fclose(f) != 0) ok = false;
  }
  written_ = ok;
  if (!written_) error_ = path_ + ": " + std::strerror(errno);
}

}  // namespace dsc
