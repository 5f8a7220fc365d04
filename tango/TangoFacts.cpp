#include "tango/TangoFacts.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace dsc::tango {

namespace {

// Numbers of the sequence Tango received, read part then set point, without
// taking them out of the value (its delivery follows).
template <class Seq>
bool TakeNumbers(Seq& seq, long nbRead, long nbWritten, ValueFacts& f) {
  if (seq.operator->() == nullptr) return false;
  const size_t length = seq->length();
  const auto* data = seq->get_buffer();
  const size_t r = std::min<size_t>(static_cast<size_t>(std::max(nbRead, 0L)), length);
  const size_t w = std::min<size_t>(r + static_cast<size_t>(std::max(nbWritten, 0L)), length);
  for (size_t i = 0; i < r; ++i) f.values.push_back(static_cast<double>(data[i]));
  for (size_t i = r; i < w; ++i) f.setPoint.push_back(static_cast<double>(data[i]));
  return true;
}

// A value holds its numbers in the one sequence of its type (DevEnum in
// the short one); the others are empty, so the first that holds any is it.
void Numbers(Tango::DeviceAttribute& v, ValueFacts& f) {
  const long r = v.get_nb_read(), w = v.get_nb_written();
  (void)(TakeNumbers(v.BooleanSeq, r, w, f) || TakeNumbers(v.ShortSeq, r, w, f) ||
         TakeNumbers(v.LongSeq, r, w, f) || TakeNumbers(v.FloatSeq, r, w, f) ||
         TakeNumbers(v.DoubleSeq, r, w, f) || TakeNumbers(v.UShortSeq, r, w, f) ||
         TakeNumbers(v.ULongSeq, r, w, f) || TakeNumbers(v.UCharSeq, r, w, f) ||
         TakeNumbers(v.Long64Seq, r, w, f) || TakeNumbers(v.ULong64Seq, r, w, f));
}

std::string TimeText(const Tango::TimeVal& t) {
  const time_t seconds = t.tv_sec;
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>(t.tv_usec));
  return text;
}

}  // namespace

std::string QualityName(Tango::AttrQuality quality) {
  static const std::pair<Tango::AttrQuality, const char*> kNames[] = {
      {Tango::ATTR_VALID, "VALID"},
      {Tango::ATTR_INVALID, "INVALID"},
      {Tango::ATTR_ALARM, "ALARM"},
      {Tango::ATTR_CHANGING, "CHANGING"},
      {Tango::ATTR_WARNING, "WARNING"}};
  for (const auto& [q, name] : kNames)
    if (q == quality) return name;
  return "UNKNOWN";
}

int QualitySeverity(std::string_view quality) {
  if (quality == "WARNING") return 1;
  if (quality == "ALARM") return 2;
  if (quality == "INVALID") return 3;
  return 0;
}

std::optional<double> Limit(const std::string& text) {
  if (text.empty() || text == "Not specified") return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::string NumberText(double v) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, v);
  return std::string(text, r.ptr);
}

ValueFacts FactsOf(Tango::DeviceAttribute& value, const Tango::AttributeInfoEx& info,
                   bool numbers) {
  ValueFacts f;
  f.quality = QualityName(value.get_quality());
  const long type = value.get_type() >= 0 ? value.get_type() : info.data_type;
  if (type >= 0 && type < Tango::DATA_TYPE_UNKNOWN) f.dataType = Tango::CmdArgTypeName[type];
  f.dataFormat = info.data_format == Tango::SCALAR     ? "SCALAR"
                 : info.data_format == Tango::SPECTRUM ? "SPECTRUM"
                                                       : "IMAGE";
  if (info.unit != "No unit") f.unit = info.unit;
  f.timeStamp = TimeText(value.get_date());
  f.dimX = value.get_dim_x();
  f.dimY = value.get_dim_y();
  f.writable = info.writable == Tango::READ_WRITE || info.writable == Tango::WRITE;
  f.minAlarm = Limit(info.alarms.min_alarm);
  f.maxAlarm = Limit(info.alarms.max_alarm);
  f.minWarning = Limit(info.alarms.min_warning);
  f.maxWarning = Limit(info.alarms.max_warning);
  if (type == Tango::DEV_STRING) {
    if (info.data_format == Tango::SCALAR) f.lines = LinesOf(value);
  } else if (numbers) {
    Numbers(value, f);
    // A write-only attribute reads back its set point, as its value.
    if (info.writable == Tango::WRITE && f.setPoint.empty()) f.setPoint = f.values;
  }
  return f;
}

size_t LineCount(Tango::DeviceAttribute& value) {
  if (value.StringSeq.operator->() == nullptr) return 0;
  return std::min<size_t>(static_cast<size_t>(std::max(value.get_nb_read(), 0L)),
                          value.StringSeq->length());
}

const char* LineAt(Tango::DeviceAttribute& value, size_t i) { return value.StringSeq[i].in(); }

std::vector<std::string> LinesOf(Tango::DeviceAttribute& value) {
  const size_t n = LineCount(value);
  std::vector<std::string> lines;
  lines.reserve(n);
  for (size_t i = 0; i < n; ++i) lines.emplace_back(LineAt(value, i));
  return lines;
}

std::string OutsideLimits(const ValueFacts& facts, bool& alarm) {
  struct Bound {
    const std::optional<double>& limit;
    const char* name;
    bool above, isAlarm;
  };
  const Bound bounds[] = {{facts.maxAlarm, "max_alarm", true, true},
                          {facts.minAlarm, "min_alarm", false, true},
                          {facts.maxWarning, "max_warning", true, false},
                          {facts.minWarning, "min_warning", false, false}};
  for (const Bound& b : bounds) {
    if (!b.limit) continue;
    for (size_t i = 0; i < facts.values.size(); ++i) {
      const double v = facts.values[i];
      if (b.above ? v > *b.limit : v < *b.limit) {
        alarm = b.isAlarm;
        const std::string at = facts.values.size() > 1 ? "[" + std::to_string(i) + "] " : " ";
        return "value" + at + NumberText(v) + (b.above ? " above " : " below ") + b.name + " " +
               NumberText(*b.limit);
      }
    }
  }
  return {};
}

}  // namespace dsc::tango
