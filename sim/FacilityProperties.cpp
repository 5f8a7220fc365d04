#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <set>

#include "access/CompletionCodes.h"
#include "access/StrictJson.h"
#include "base/Codec.h"
#include "base/Formats.h"
#include "base/SafeNames.h"
#include "sim/Facility.h"
#include "sim/FacilityLoading.h"

namespace dsc::sim::loading {

int16_t Code(const json& j, const std::string& path) {
  return static_cast<int16_t>(Int(j, path, -32768, 32767));
}

std::string Name(const json& j, const std::string& path, NameKind kind) {
  std::string name = String(j, path);
  size_t max = kind == NameKind::kDevice ? 31 : kind == NameKind::kProperty ? 32 : 16;
  if (name.empty()) Fail(path, "empty name");
  if (name.size() > max)
    Fail(path, Quoted(name) + " is longer than " + std::to_string(max) + " characters");
  if (name.front() == ' ' || name.back() == ' ')
    Fail(path, Quoted(name) + " has leading or trailing blanks (pad the listing slots instead)");
  if (kind != NameKind::kProperty && name.find('/') != std::string::npos)
    Fail(path, Quoted(name) + " contains \"/\"");
  // Context and server names make the names of test files in the database
  // directory; no name may carry characters that would drive a terminal.
  if (kind == NameKind::kContext || kind == NameKind::kServer) {
    if (const std::string why = UnsafeNameReason(name); !why.empty())
      Fail(path, Quoted(name) + " is refused: " + why);
  } else if (HasControlCharacter(name)) {
    Fail(path, Quoted(name) + " holds a control character");
  }
  if (kind == NameKind::kDevice && name == "#0")
    Fail(path, "\"#0\" is the server's own device; describe it with info and selftest");
  // The listing goes on in a second slot after 15 characters, and the checker
  // trims that slot: a blank there would be lost from the name it joins.
  if (kind == NameKind::kDevice && name.size() > 16 && name[15] == ' ')
    Fail(path, Quoted(name) + " has a blank as its 16th character, which the listing loses");
  // These names are the name server's and the property list's own reads.
  if ((kind == NameKind::kServer && name == "ENS") ||
      (kind == NameKind::kProperty && (name == "NPROPS" || name == "PROPS")))
    Fail(path, Quoted(name) + " is reserved");
  return name;
}

namespace {

void PutNumber(Property& p, size_t i, double v, const std::string& path) {
  uint8_t* at = p.data.edit().data() + i * FormatElementSize(p.format);
  auto whole = [&](int64_t lo, int64_t hi) {
    if (v != std::floor(v) || v < static_cast<double>(lo) || v > static_cast<double>(hi)) {
      char text[32];
      std::snprintf(text, sizeof text, "%.17g", v);
      Fail(path, std::string("value ") + text + " is not a " + FormatNameFromCode(p.format) +
                     " (whole number in " + std::to_string(lo) + ".." + std::to_string(hi) + ")");
    }
  };
  // A value the format cannot hold exactly is refused, so the codec's
  // saturation never changes what the file says.
  switch (p.format) {
    case 5:
      if (std::abs(v) > std::numeric_limits<float>::max()) {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", v);
        Fail(path, std::string("value ") + text + " is beyond the range of a SINGLE");
      }
      break;
    case 1:
      whole(-32768, 32767);
      break;
    case 2:
      whole(0, 255);
      break;
    case 3:
      whole(-2147483648LL, 2147483647LL);
      break;
    default:
      break;
  }
  WriteNumber(at, p.format, v);
}

void PutName(Property& p, size_t i, const std::string& s, const std::string& path) {
  size_t size = FormatElementSize(p.format);
  if (s.size() > size) Fail(path, Quoted(s) + " does not fit " + FormatNameFromCode(p.format));
  std::memcpy(p.data.edit().data() + i * size, s.data(), s.size());
}

void NeedRoom(const Property& p, size_t n, const std::string& path) {
  if (n > static_cast<size_t>(p.count))
    Fail(path, std::to_string(n) + " values for a count of " + std::to_string(p.count));
}

std::vector<uint8_t> HexBytes(const json& v, const std::string& path) {
  std::string s = String(v, path);
  if (s.size() % 2) Fail(path, "hex text has an odd number of digits");
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < s.size(); i += 2) {
    auto digit = [&](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      Fail(path, std::string("\"") + c + "\" is not a hex digit");
    };
    bytes.push_back(static_cast<uint8_t>(digit(s[i]) * 16 + digit(s[i + 1])));
  }
  return bytes;
}

PropertyDraft ParseProperty(const json& j, const std::string& path, Budget& budget) {
  Obj o(j, path,
        {"name", "format", "count", "value", "values", "hex", "wave", "writable", "echo", "code",
         "delayMs", "pollMs", "ramp", "events"});
  PropertyDraft draft;
  draft.path = path;
  Property& p = draft.p;
  p.name = Name(o.need("name"), o.path("name"), NameKind::kProperty);
  std::string format = String(o.need("format"), o.path("format"));
  p.format = FormatCodeFromName(format);
  if (p.format == kShortFormatUnknown)
    Fail(o.path("format"), "unknown format name " + Quoted(format));
  int64_t size = FormatElementSize(p.format);

  const char* kinds[] = {"value", "values", "hex", "wave"};
  const char* given = nullptr;
  for (const char* k : kinds) {
    if (!o.get(k)) continue;
    if (given)
      Fail(o.path(k),
           std::string("give only one of value, values, hex, wave (") + given + " is given too)");
    given = k;
  }
  std::vector<uint8_t> hex;
  if (o.get("hex")) hex = HexBytes(*o.get("hex"), o.path("hex"));

  int64_t count = 1;
  if (const json* c = o.get("count")) {
    count = Int(*c, o.path("count"), 0, std::numeric_limits<int32_t>::max());
  } else if (o.get("values") && o.get("values")->is_array()) {
    count = static_cast<int64_t>(o.get("values")->size());
  } else if (p.format == kText && o.get("value") && o.get("value")->is_string()) {
    // Counted in Latin-1 characters, as the text travels, not in UTF-8 bytes.
    const std::string text = String(*o.get("value"), o.path("value"));
    count = std::max<int64_t>(1, static_cast<int64_t>(text.size()));
  } else if (o.get("hex") && size > 0) {
    count = std::max<int64_t>(1, (static_cast<int64_t>(hex.size()) + size - 1) / size);
  }
  if (count * size > kMaxValueBytes)
    Fail(o.path("count"), "a count of " + std::to_string(count) + " " +
                              FormatNameFromCode(p.format) + " needs more than 16 MiB");
  const json* events = o.get("events");
  budget.Property(ValueCost(count, size, o.get("ramp") != nullptr),
                  events && events->is_array() ? static_cast<int64_t>(events->size()) : 0, path);
  p.count = static_cast<int32_t>(count);
  p.data = ValueBytes(static_cast<size_t>(count * size), 0);

  if (const json* v = o.get("value")) SetValue(p, *v, o.path("value"));
  if (const json* v = o.get("values")) SetValues(p, *v, o.path("values"));
  if (o.get("hex")) {
    if (hex.size() > p.data.size())
      Fail(o.path("hex"), std::to_string(hex.size()) + " bytes for a value of " +
                              std::to_string(p.data.size()) + " bytes");
    std::copy(hex.begin(), hex.end(), p.data.edit().begin());
  }
  if (const json* w = o.get("wave")) {
    Obj wave(*w, o.path("wave"), {"offset", "amplitude", "period"});
    if (!IsNumberFormat(p.format)) Fail(wave.path(), "a wave needs a numeric format");
    double offset = wave.get("offset") ? Number(*wave.get("offset"), wave.path("offset")) : 0;
    double amplitude = Number(wave.need("amplitude"), wave.path("amplitude"));
    double period = Number(wave.need("period"), wave.path("period"));
    if (!(period > 0)) Fail(wave.path("period"), "the period must be greater than 0");
    for (int32_t i = 0; i < p.count; ++i) {
      double v = offset + amplitude * std::sin(2 * M_PI * i / period);
      if (p.format != 0 && p.format != 5) v = std::round(v);
      PutNumber(p, i, v, wave.path());
    }
  }

  if (const json* v = o.get("writable")) p.writable = Bool(*v, o.path("writable"));
  if (const json* v = o.get("echo")) p.echo = Bool(*v, o.path("echo"));
  if (const json* v = o.get("code")) p.code = Code(*v, o.path("code"));
  if (const json* v = o.get("delayMs"))
    p.delayMs = static_cast<int32_t>(Int(*v, o.path("delayMs"), 0, 1 << 30));
  if (const json* v = o.get("pollMs"))
    p.pollMs = static_cast<int32_t>(Int(*v, o.path("pollMs"), 1, 1 << 30));
  if (const json* v = o.get("ramp")) {
    Obj ramp(*v, o.path("ramp"), {"towards", "rate"});
    if (!IsNumberFormat(p.format)) Fail(ramp.path(), "only a numeric property can ramp");
    draft.rampTowards = String(ramp.need("towards"), ramp.path("towards"));
    p.rampRate = Number(ramp.need("rate"), ramp.path("rate"));
    if (!(p.rampRate > 0)) Fail(ramp.path("rate"), "the rate must be greater than 0");
    p.ramps = true;
  }
  if (const json* v = o.get("events")) {
    const json& arr = Array(*v, o.path("events"));
    for (size_t i = 0; i < arr.size(); ++i) {
      Obj ev(arr[i], At(o.path("events"), i), {"after", "code"});
      p.events.push_back({static_cast<int32_t>(Int(ev.need("after"), ev.path("after"), 0, 1 << 30)),
                          Code(ev.need("code"), ev.path("code"))});
    }
    std::stable_sort(
        p.events.begin(), p.events.end(),
        [](const ScriptedEvent& a, const ScriptedEvent& b) { return a.after < b.after; });
  }
  return draft;
}

}  // namespace

// A scalar or a string: element 0 (a TEXT property takes the whole string).
void SetValue(Property& p, const json& v, const std::string& path) {
  const std::span<uint8_t> bytes = p.data.edit();
  std::fill(bytes.begin(), bytes.end(), 0);
  if (p.format == kText) {
    std::string s = String(v, path);
    NeedRoom(p, s.size(), path);
    std::memcpy(bytes.data(), s.data(), s.size());
  } else if (IsNumberFormat(p.format)) {
    NeedRoom(p, 1, path);
    PutNumber(p, 0, Number(v, path), path);
  } else if (IsNameFormat(p.format)) {
    NeedRoom(p, 1, path);
    PutName(p, 0, String(v, path), path);
  } else {
    Fail(path, "a value of format " + FormatNameFromCode(p.format) + " is given as \"hex\"");
  }
}

void SetValues(Property& p, const json& v, const std::string& path) {
  const std::span<uint8_t> bytes = p.data.edit();
  std::fill(bytes.begin(), bytes.end(), 0);
  const json& arr = Array(v, path);
  NeedRoom(p, arr.size(), path);
  for (size_t i = 0; i < arr.size(); ++i) {
    if (IsNumberFormat(p.format))
      PutNumber(p, i, Number(arr[i], At(path, i)), At(path, i));
    else if (IsNameFormat(p.format))
      PutName(p, i, String(arr[i], At(path, i)), At(path, i));
    else
      Fail(path,
           "values of format " + FormatNameFromCode(p.format) +
               (p.format == kText ? " are one string: use \"value\"" : " are given as \"hex\""));
  }
}

std::vector<PropertyDraft> ParseProperties(const json& j, const std::string& path, Budget& budget) {
  std::vector<PropertyDraft> drafts;
  NameMap<std::string> seen;
  const json& arr = Array(j, path);
  for (size_t i = 0; i < arr.size(); ++i) {
    PropertyDraft draft = ParseProperty(arr[i], At(path, i), budget);
    auto [it, fresh] = seen.emplace(draft.p.name, draft.path);
    if (!fresh)
      Fail(At(draft.path, "name"),
           "duplicate property name " + Quoted(draft.p.name) + " (also at " + it->second + ")");
    drafts.push_back(std::move(draft));
  }
  return drafts;
}

}  // namespace dsc::sim::loading
