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

using namespace dsc::sim::loading;

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

// The same, each item counted against the facility's budget before it is
// parsed.
template <class T, class Parse>
void ParseCounted(const json& j, const std::string& path, const char* kind, Budget& budget,
                  Parse parse, std::vector<T>& items, NameMap<size_t>& index) {
  ParseNamed(
      j, path, kind,
      [&](const json& e, const std::string& place) {
        budget.Item(place);
        return parse(e, place);
      },
      items, index);
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
    ParseCounted(
        *v, o.path("devices"), "device", budget,
        [&](const json& e, const std::string& place) {
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
    ParseCounted(
        *v, o.path("servers"), "server", budget,
        [&](const json& e, const std::string& place) {
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
