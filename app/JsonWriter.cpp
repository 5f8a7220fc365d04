#include "app/JsonWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "access/CompletionCodes.h"
#include "base/Formats.h"
#include "base/TextEncoding.h"

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

// The documented `status`: the completion code, and for the outcomes that
// have none the values it has always had.
int64_t StatusOf(const Outcome& o) {
  if (o.kind == OutcomeKind::NotRun)
    return o.notRun == NotRunReason::Stopped ? kJsonStatusStopped : kJsonStatusNotRun;
  if (o.kind == OutcomeKind::AccessFailed && o.failure == AccessFailure::ControlFault)
    return kJsonStatusControlFault;
  return o.code;
}

}  // namespace

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
  Number(",\"status\":", StatusOf(o.outcome));
  String(",\"result\":", o.resultText);
  String(",\"outcome\":", VerdictText(o.verdict()));
  pending_.Add(",\"kind\":\"");
  pending_.Add(OutcomeKindName(o.outcome.kind));
  pending_.Add("\"");
  if (const char* why = WhyName(o.outcome); *why != '\0') {
    pending_.Add(",\"why\":\"");
    pending_.Add(why);
    pending_.Add("\"");
  }
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

void JsonWriter::ServerNotPrepared(const std::string& context, const std::string& server,
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
  j["outcome"] = VerdictName(Verdict::Error);
  j["timestamp"] = clock_.Now();
  pending_.Add(Dump(j));
  pending_.Add("\n");
  Hand(flusher_.Due());
}

void JsonWriter::RunEnded(const CheckTotals& t) {
  Json j;
  j["type"] = "summary";
  // A server that could not be prepared is one test in error, as in JUnit.
  j["tests"] = t.tests() + t.notPrepared;
  j["passed"] = t.passed;
  j["failed"] = t.failed;
  j["errors"] = t.errors + t.notPrepared;
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

}  // namespace dsc
