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

namespace dsc::sim {

const std::map<int32_t, std::string>& DefaultErrorTexts() {
  static const std::map<int32_t, std::string> texts = [] {
    std::map<int32_t, std::string> t = CheckerCodeTexts();
    t.insert({{1, "access warning: value not yet settled"},
              {kSimUnknownContext, "unknown context"},
              {kSimUnknownServer, "unknown device server"},
              {kSimUnknownDevice, "unknown device"},
              {kSimUnknownProperty, "unknown property"},
              {kSimReadOnly, "property is read-only"},
              {kSimIllegalFormat, "illegal data format"}});
    return t;
  }();
  return texts;
}

namespace {

using namespace dsc::strictjson;

int16_t Code(const json& j, const std::string& path) {
  return static_cast<int16_t>(Int(j, path, -32768, 32767));
}

enum class NameKind { kContext, kServer, kDevice, kProperty };

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

// Listing slots as the control system answers them. Context and server slots
// are what the window offers to choose, so what they name is checked like the
// names themselves (an empty or blank slot names nothing).
std::vector<std::string> Slots(const json& j, const std::string& path, bool pathNames) {
  std::vector<std::string> slots;
  const json& arr = Array(j, path);
  for (size_t i = 0; i < arr.size(); ++i) {
    std::string s = String(arr[i], At(path, i));
    if (s.size() > 16) Fail(At(path, i), Quoted(s) + " does not fit a 16-character slot");
    const size_t first = s.find_first_not_of(' '), last = s.find_last_not_of(' ');
    const std::string named = first == std::string::npos ? "" : s.substr(first, last - first + 1);
    if (pathNames && !named.empty()) {
      if (const std::string why = UnsafeNameReason(named); !why.empty())
        Fail(At(path, i), Quoted(s) + " is refused: " + why);
    }
    slots.push_back(std::move(s));
  }
  return slots;
}

NameMap<int16_t> Codes(const json& j, const std::string& path) {
  if (!j.is_object()) Fail(path, std::string("expected an object, found ") + j.type_name());
  NameMap<int16_t> codes;
  for (const auto& [key, value] : j.items())
    codes[ToLatin1(key, At(path, key))] = Code(value, At(path, key));
  return codes;
}

constexpr uint8_t kText = 4;

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

// A property as written, before its ramp is tied to another property.
struct PropertyDraft {
  Property p;
  std::string rampTowards;
  std::string path;
};

constexpr int64_t kMaxValueBytes = 16 << 20;

// What a whole facility may expand to. A template is copied into every device
// that names it, so a small file could otherwise ask for gigabytes; these
// limits lie far beyond any real facility (docs/facility-format.md) and are
// checked before the memory is taken.
constexpr int64_t kMaxFacilityValueBytes = 64 << 20;  // values and ramp positions
constexpr int64_t kMaxFacilityProperties = 100'000;   // template copies included
constexpr int64_t kMaxFacilityEvents = 100'000;
constexpr int64_t kMaxFacilityItems = 100'000;  // contexts, servers and devices

class Budget {
 public:
  // A property of `bytes` (its ramp's positions included) and its events.
  void Property(int64_t bytes, int64_t events, const std::string& path) {
    Take(properties_, 1, kMaxFacilityProperties, "properties", path);
    Take(events_, events, kMaxFacilityEvents, "scripted events", path);
    if (bytes > kMaxFacilityValueBytes - valueBytes_)
      Fail(path, "the facility's values need more than " +
                     std::to_string(kMaxFacilityValueBytes >> 20) + " MiB");
    valueBytes_ += bytes;
  }
  void Item(const std::string& path) {
    Take(items_, 1, kMaxFacilityItems, "contexts, servers and devices", path);
  }

 private:
  static void Take(int64_t& used, int64_t n, int64_t max, const char* what,
                   const std::string& path) {
    if (n > max - used)
      Fail(path, std::string("the facility has more than ") + std::to_string(max) + " " + what);
    used += n;
  }
  int64_t valueBytes_ = 0, properties_ = 0, events_ = 0, items_ = 0;
};

// A ramp keeps the exact position of every element beside the value.
int64_t ValueCost(int64_t count, int64_t elementSize, bool ramps) {
  return count * elementSize + (ramps ? count * static_cast<int64_t>(sizeof(double)) : 0);
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

// Parses an array of named items into `items` and their `index`, refusing a
// name used twice.
template <class T, class Parse>
void ParseNamed(const json& j, const std::string& path, const char* kind, Parse parse,
                std::vector<T>& items, NameMap<size_t>& index) {
  NameMap<std::string> seen;
  const json& arr = Array(j, path);
  for (size_t i = 0; i < arr.size(); ++i) {
    const std::string place = At(path, i);
    T item = parse(arr[i], place);
    auto [it, fresh] = seen.emplace(item.name, place);
    if (!fresh)
      Fail(At(place, "name"), std::string("duplicate ") + kind + " name " + Quoted(item.name) +
                                  " (also at " + it->second + ")");
    index.emplace(item.name, items.size());
    items.push_back(std::move(item));
  }
}

using Templates = NameMap<std::vector<PropertyDraft>>;

void Index(Device& d) {
  d.index.clear();
  for (size_t i = 0; i < d.properties.size(); ++i) d.index.emplace(d.properties[i].name, i);
}

// Ties every ramp to the property it moves towards, on the same device.
void LinkRamps(Device& d, const std::vector<PropertyDraft>& drafts) {
  for (size_t i = 0; i < drafts.size(); ++i) {
    if (!d.properties[i].ramps) continue;
    auto it = d.index.find(drafts[i].rampTowards);
    std::string place = drafts[i].path + "/ramp/towards";
    if (it == d.index.end())
      Fail(place, "no property " + Quoted(drafts[i].rampTowards) + " on device " + Quoted(d.name));
    if (it->second == i) Fail(place, "a property cannot ramp towards itself");
    if (!IsNumberFormat(d.properties[it->second].format))
      Fail(place, Quoted(drafts[i].rampTowards) + " is not numeric");
    d.properties[i].rampSource = it->second;
    d.properties[it->second].dependents.push_back(i);
  }
}

Device ParseDevice(const json& j, const std::string& path, const Templates& templates,
                   Budget& budget) {
  Obj o(j, path,
        {"name", "template", "properties", "values", "code", "codes", "delayMs", "nprops"});
  Device d;
  d.name = Name(o.need("name"), o.path("name"), NameKind::kDevice);
  std::vector<PropertyDraft> drafts;
  const std::vector<PropertyDraft>* fromTemplate = nullptr;
  const std::string place = o.path("template");
  if (const json* t = o.get("template")) {
    std::string name = String(*t, place);
    auto it = templates.find(name);
    if (it == templates.end()) Fail(place, "unknown template " + Quoted(name));
    fromTemplate = &it->second;
  }
  std::vector<PropertyDraft> own;
  if (const json* props = o.get("properties"))
    own = ParseProperties(*props, o.path("properties"), budget);
  if (fromTemplate) {
    // Only the template's properties this device keeps count: one of the
    // device's own replaces the template's of its name.
    NameMap<bool> replaced;
    for (const PropertyDraft& p : own) replaced.emplace(p.p.name, true);
    for (const PropertyDraft& t : *fromTemplate) {
      if (replaced.count(t.p.name)) continue;
      budget.Property(ValueCost(t.p.count, FormatElementSize(t.p.format), t.p.ramps),
                      static_cast<int64_t>(t.p.events.size()), place);
    }
    // Where a template's property was written matters only to a ramp's
    // message: other properties take their property alone.
    drafts.reserve(fromTemplate->size() + own.size());
    for (const PropertyDraft& t : *fromTemplate) {
      PropertyDraft& copy = drafts.emplace_back();
      copy.p = t.p;
      if (t.p.ramps) {
        copy.rampTowards = t.rampTowards;
        copy.path = t.path;
      }
    }
  }
  {
    // A device's own property of a template's name replaces the template's.
    size_t fromTemplateCount = drafts.size();
    for (PropertyDraft& mine : own) {
      auto same = std::find_if(drafts.begin(), drafts.begin() + fromTemplateCount,
                               [&](const PropertyDraft& s) { return s.p.name == mine.p.name; });
      if (same != drafts.begin() + fromTemplateCount)
        *same = std::move(mine);
      else
        drafts.push_back(std::move(mine));
    }
  }
  // The drafts are this device's own copies: their properties move. Values
  // stay shared with the template until the device changes them.
  d.properties.reserve(drafts.size());
  for (PropertyDraft& s : drafts) d.properties.push_back(std::move(s.p));
  Index(d);
  LinkRamps(d, drafts);
  if (const json* v = o.get("values")) {
    const std::string values = o.path("values");
    if (!v->is_object()) Fail(values, std::string("expected an object, found ") + v->type_name());
    for (const auto& [key, value] : v->items()) {
      std::string place = At(values, key);
      auto it = d.index.find(ToLatin1(key, place));
      if (it == d.index.end())
        Fail(place, "no property " + Quoted(key) + " on device " + Quoted(d.name));
      if (value.is_array())
        SetValues(d.properties[it->second], value, place);
      else
        SetValue(d.properties[it->second], value, place);
    }
  }
  if (const json* v = o.get("code")) d.code = Code(*v, o.path("code"));
  if (const json* v = o.get("codes")) d.codes = Codes(*v, o.path("codes"));
  if (const json* v = o.get("delayMs"))
    d.delayMs = static_cast<int32_t>(Int(*v, o.path("delayMs"), 0, 1 << 30));
  if (const json* v = o.get("nprops")) d.nprops = Code(*v, o.path("nprops"));
  return d;
}

Property TextProperty(const std::string& name, const std::string& text, int32_t minCount) {
  Property p;
  p.name = name;
  p.format = kText;
  p.count = std::max<int32_t>(minCount, static_cast<int32_t>(text.size()));
  p.data = ValueBytes(static_cast<size_t>(p.count), 0);
  std::memcpy(p.data.edit().data(), text.data(), text.size());
  return p;
}

// The listing of a device name: a name that does not fit one slot, or fills
// it and ends in "&", goes on in the next slot after 15 characters and "&".
void ListDevice(const std::string& name, std::vector<std::string>& slots) {
  if (name.size() > 16 || (name.size() == 16 && name.back() == '&')) {
    slots.push_back(name.substr(0, 15) + "&");
    slots.push_back(name.substr(15));
  } else {
    slots.push_back(name);
  }
}

Server ParseServer(const json& j, const std::string& path, const Templates& templates,
                   Budget& budget) {
  Obj o(j, path,
        {"name", "code", "codes", "delayMs", "pollMs", "propsRecord", "ndevices", "deviceSlots",
         "info", "selftest", "devices"});
  Server s;
  s.name = Name(o.need("name"), o.path("name"), NameKind::kServer);
  s.self.name = "#0";
  if (const json* v = o.get("code")) s.code = Code(*v, o.path("code"));
  if (const json* v = o.get("codes")) s.codes = Codes(*v, o.path("codes"));
  if (const json* v = o.get("delayMs"))
    s.delayMs = static_cast<int32_t>(Int(*v, o.path("delayMs"), 0, 1 << 30));
  if (const json* v = o.get("pollMs"))
    s.pollMs = static_cast<int32_t>(Int(*v, o.path("pollMs"), 1, 1 << 30));
  if (const json* v = o.get("propsRecord")) {
    std::string record = String(*v, o.path("propsRecord"));
    if (record != "long" && record != "short")
      Fail(o.path("propsRecord"), "expected \"long\" or \"short\", found " + Quoted(record));
    s.shortPropsOnly = record == "short";
  }
  if (const json* v = o.get("ndevices")) s.ndevices = Code(*v, o.path("ndevices"));
  if (const json* v = o.get("info")) {
    Obj info(*v, o.path("info"), {"SRVVERSION", "SRVSTARTTIME", "APPVERSION", "APPDATE"});
    for (const char* key : {"SRVVERSION", "SRVSTARTTIME", "APPVERSION", "APPDATE"}) {
      if (const json* t = info.get(key))
        s.self.properties.push_back(TextProperty(key, String(*t, info.path(key)), 32));
    }
  }
  if (const json* v = o.get("selftest")) {
    std::string text;
    if (v->is_array()) {
      for (size_t i = 0; i < v->size(); ++i)
        text += String((*v)[i], At(o.path("selftest"), i)) + "\n";
    } else {
      text = String(*v, o.path("selftest"));
    }
    if (text.size() > 16384)
      Fail(o.path("selftest"), "the self-test text has " + std::to_string(text.size()) +
                                   " characters; at most 16384 can be read");
    s.self.properties.push_back(TextProperty("SRVSELFTEST", text, 1));
  }
  Index(s.self);
  if (const json* v = o.get("devices")) {
    ParseNamed(
        *v, o.path("devices"), "device",
        [&](const json& e, const std::string& place) {
          budget.Item(place);
          return ParseDevice(e, place, templates, budget);
        },
        s.devices, s.index);
  }
  if (const json* v = o.get("deviceSlots")) {
    s.deviceSlots = Slots(*v, o.path("deviceSlots"), false);
  } else {
    for (const Device& d : s.devices) ListDevice(d.name, s.deviceSlots);
  }
  return s;
}

Context ParseContext(const json& j, const std::string& path, const Templates& templates,
                     Budget& budget) {
  Obj o(j, path, {"name", "servers", "serverSlots", "ntags", "codes"});
  Context c;
  c.name = Name(o.need("name"), o.path("name"), NameKind::kContext);
  if (const json* v = o.get("servers")) {
    ParseNamed(
        *v, o.path("servers"), "server",
        [&](const json& e, const std::string& place) {
          budget.Item(place);
          return ParseServer(e, place, templates, budget);
        },
        c.servers, c.index);
  }
  if (const json* v = o.get("serverSlots")) {
    c.serverSlots = Slots(*v, o.path("serverSlots"), true);
  } else {
    for (const Server& s : c.servers) c.serverSlots.push_back(s.name);
  }
  if (const json* v = o.get("ntags")) c.ntags = Code(*v, o.path("ntags"));
  if (const json* v = o.get("codes")) c.codes = Codes(*v, o.path("codes"));
  return c;
}

void Build(const json& root, Facility& f) {
  Budget budget;
  Obj o(root, "", {"facility", "errors", "templates", "contexts", "contextSlots", "contextsCode"});
  if (const json* v = o.get("facility")) f.title = String(*v, o.path("facility"));
  f.errors = DefaultErrorTexts();
  if (const json* v = o.get("errors")) {
    if (!v->is_object())
      Fail(o.path("errors"), std::string("expected an object, found ") + v->type_name());
    for (const auto& [key, value] : v->items()) {
      std::string place = At(o.path("errors"), key);
      int code = 0;
      size_t used = 0;
      try {
        code = std::stoi(key, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used == 0 || used != key.size() || code < -32768 || code > 32767)
        Fail(place, Quoted(key) + " is not a completion code (a whole number in -32768..32767)");
      f.errors[code] = String(value, place);
    }
  }
  Templates templates;
  if (const json* v = o.get("templates")) {
    if (!v->is_object())
      Fail(o.path("templates"), std::string("expected an object, found ") + v->type_name());
    // A definition counts towards the facility's limits only where a device
    // uses it; the definitions themselves are held to the same limits apart,
    // since they take memory of their own.
    Budget definitions;
    for (const auto& [key, value] : v->items())
      templates[ToLatin1(key, At(o.path("templates"), key))] =
          ParseProperties(value, At(o.path("templates"), key), definitions);
  }
  ParseNamed(
      o.need("contexts"), o.path("contexts"), "context",
      [&](const json& e, const std::string& place) {
        budget.Item(place);
        return ParseContext(e, place, templates, budget);
      },
      f.contexts, f.index);
  for (size_t c = 0; c < f.contexts.size(); ++c)
    for (size_t k = 0; k < f.contexts[c].servers.size(); ++k)
      f.serverByName.emplace(f.contexts[c].servers[k].name, std::make_pair(c, k));
  if (const json* v = o.get("contextSlots")) {
    f.contextSlots = Slots(*v, o.path("contextSlots"), true);
  } else {
    for (const Context& c : f.contexts) f.contextSlots.push_back(c.name);
  }
  if (const json* v = o.get("contextsCode")) f.contextsCode = Code(*v, o.path("contextsCode"));
}

}  // namespace

bool LoadFacility(std::string_view text, const std::string& sourceName, Facility& facility,
                  std::string& error) {
  Facility loaded;
  if (!ParseStrict(
          text, sourceName, [&](const json& root) { Build(root, loaded); }, error))
    return false;
  facility = std::move(loaded);
  return true;
}

}  // namespace dsc::sim
