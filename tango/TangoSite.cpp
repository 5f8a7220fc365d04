#include "tango/TangoSite.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "access/StrictJson.h"
#include "base/Glob.h"
#include "base/Letters.h"
#include "base/SafeNames.h"

namespace dsc::tango {

namespace {

using namespace dsc::strictjson;

// A line feed, BEL or other control character: never part of a Tango name.
bool HasControl(std::string_view s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// A checker name: 1..16 characters, no "/", no blank at either end.
std::string Name(const json& j, const std::string& path) {
  std::string name = String(j, path);
  if (name.empty() || name.size() > 16) Fail(path, Quoted(name) + " must have 1 to 16 characters");
  if (name.find('/') != std::string::npos) Fail(path, Quoted(name) + " holds a \"/\"");
  if (name.front() == ' ' || name.back() == ' ')
    Fail(path, Quoted(name) + " begins or ends with a blank");
  // Contexts and servers name the test files in the database directory.
  if (const std::string why = UnsafeNameReason(name); !why.empty())
    Fail(path, Quoted(name) + " is refused: " + why);
  return name;
}

template <class T>
void Unique(const std::vector<T>& items, const std::string& path, const char* what) {
  for (size_t i = 0; i < items.size(); ++i) {
    for (size_t k = 0; k < i; ++k) {
      // Case ignored: the names make test files, and Tango ignores case.
      if (SameName(items[k].name, items[i].name))
        Fail(At(At(path, i), "name"), std::string("duplicate ") + what + " name " +
                                          Quoted(items[i].name) + " (also at " + At(path, k) + ")");
    }
  }
}

SiteDevice BuildDevice(const json& j, const std::string& path) {
  Obj o(j, path, {"name", "device"});
  SiteDevice d;
  d.name = Name(o.need("name"), o.path("name"));
  d.tangoName = String(o.need("device"), o.path("device"));
  // domain/family/member: three non-empty parts.
  const std::string& t = d.tangoName;
  const size_t a = t.find('/');
  const size_t b = a == std::string::npos ? a : t.find('/', a + 1);
  if (a == 0 || b == std::string::npos || b == a + 1 || b + 1 >= t.size() ||
      t.find('/', b + 1) != std::string::npos || t.find_first_of(" #") != std::string::npos ||
      HasControl(t))
    Fail(o.path("device"), Quoted(t) + " is not a Tango device name (domain/family/member)");
  return d;
}

// State names, as Tango spells them ("on" is "ON").
std::vector<std::string> States(const json& j, const std::string& path) {
  std::vector<std::string> states;
  Array(j, path);
  for (size_t i = 0; i < j.size(); ++i) {
    const std::string given = String(j[i], At(path, i));
    const std::string name = StateName(given);
    if (name.empty()) Fail(At(path, i), Quoted(given) + " is not a Tango state");
    states.push_back(name);
  }
  return states;
}

SiteServer BuildServer(const json& j, const std::string& path, bool discovered) {
  Obj o(j, path, {"name", "instance", "devices", "expectStates"});
  SiteServer s;
  s.name = Name(o.need("name"), o.path("name"));
  if (s.name == "ENS") Fail(o.path("name"), "\"ENS\" is the name server's address");
  // In a discovered context a listed server names one the database knows.
  if (const json* v = discovered ? &o.need("instance") : o.get("instance"))
    s.instance = String(*v, o.path("instance"));
  const json* devices = discovered ? o.get("devices") : &o.need("devices");
  if (devices) {
    Array(*devices, o.path("devices"));
    for (size_t i = 0; i < devices->size(); ++i)
      s.devices.push_back(BuildDevice((*devices)[i], At(o.path("devices"), i)));
  }
  if (const json* v = o.get("expectStates")) s.expectStates = States(*v, o.path("expectStates"));
  if (s.devices.empty() && !discovered)
    Fail(o.path("devices"), "a server needs at least one device");
  Unique(s.devices, o.path("devices"), "device");
  return s;
}

// "host:port" as host and port; false for anything else.
bool SplitHostPort(std::string_view hostPort, std::string& host, int& port) {
  const size_t colon = hostPort.rfind(':');
  if (colon == std::string_view::npos) return false;
  host = std::string(hostPort.substr(0, colon));
  std::string digits(hostPort.substr(colon + 1));
  // "010000" is port 10000.
  while (digits.size() > 1 && digits.front() == '0') digits.erase(0, 1);
  if (host.empty() || host.find_first_of(" /:#,") != std::string::npos || HasControl(host) ||
      digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  port = std::stoi(digits);
  return port >= 1 && port <= 65535;
}

std::vector<std::string> Patterns(const json& j, const std::string& path) {
  std::vector<std::string> patterns;
  Array(j, path);
  for (size_t i = 0; i < j.size(); ++i) patterns.push_back(String(j[i], At(path, i)));
  return patterns;
}

SiteContext BuildContext(const json& j, const std::string& path) {
  Obj o(j, path,
        {"name", "host", "port", "alternates", "database", "discover", "include", "exclude",
         "pollMs", "failOnState", "failOnQuality", "checkLimits", "expectStates",
         "expectStatesByClass", "servers"});
  SiteContext c;
  c.name = Name(o.need("name"), o.path("name"));
  c.host = String(o.need("host"), o.path("host"));
  if (c.host.empty() || c.host.find_first_of(" /:#") != std::string::npos || HasControl(c.host))
    Fail(o.path("host"), Quoted(c.host) + " is not a host name or address");
  c.port = static_cast<int>(Int(o.need("port"), o.path("port"), 1, 65535));
  if (const json* v = o.get("database")) c.database = Bool(*v, o.path("database"));
  if (const json* v = o.get("discover")) c.discover = Bool(*v, o.path("discover"));
  if (c.discover && o.get("database") && !c.database)
    Fail(o.path("database"), "a discovered context needs its Tango database");
  c.database = c.database || c.discover;
  if (const json* v = o.get("alternates")) {
    if (!c.database) Fail(o.path("alternates"), "only a Tango database has alternate addresses");
    for (const std::string& a : Patterns(*v, o.path("alternates"))) {
      auto& [host, port] = c.alternates.emplace_back();
      if (!SplitHostPort(a, host, port))
        Fail(o.path("alternates"), Quoted(a) + " is not host:port");
    }
  }
  for (const char* key : {"include", "exclude"}) {
    if (const json* v = o.get(key)) {
      if (!c.discover) Fail(o.path(key), "only a discovered context filters its servers");
      (std::string(key) == "include" ? c.include : c.exclude) = Patterns(*v, o.path(key));
    }
  }
  if (const json* v = o.get("pollMs"))
    c.pollMs = static_cast<int32_t>(Int(*v, o.path("pollMs"), 10, 3600000));
  if (const json* v = o.get("failOnState")) c.failOnState = Bool(*v, o.path("failOnState"));
  if (const json* v = o.get("failOnQuality")) {
    const std::string given = String(*v, o.path("failOnQuality"));
    c.failOnQuality = QualityLevel(given);
    if (c.failOnQuality.empty() || c.failOnQuality == "VALID")
      Fail(o.path("failOnQuality"), Quoted(given) + " is not WARNING, ALARM or INVALID");
  }
  if (const json* v = o.get("checkLimits")) c.checkLimits = Bool(*v, o.path("checkLimits"));
  if (const json* v = o.get("expectStates")) c.expectStates = States(*v, o.path("expectStates"));
  if (const json* v = o.get("expectStatesByClass")) {
    if (!v->is_object()) Fail(o.path("expectStatesByClass"), "must be an object");
    for (const auto& [cls, states] : v->items())
      c.expectStatesByClass.emplace_back(LowerCase(cls),
                                         States(states, At(o.path("expectStatesByClass"), cls)));
  }
  const json* servers = c.discover ? o.get("servers") : &o.need("servers");
  if (servers) {
    Array(*servers, o.path("servers"));
    for (size_t i = 0; i < servers->size(); ++i)
      c.servers.push_back(BuildServer((*servers)[i], At(o.path("servers"), i), c.discover));
  }
  Unique(c.servers, o.path("servers"), "server");
  return c;
}

Site Build(const json& root) {
  Obj top(root, "", {"site", "tango"});
  Site site;
  if (const json* v = top.get("site")) site.title = String(*v, "/site");
  Obj tango(top.need("tango"), "/tango", {"contexts", "jobs", "timeoutMs"});
  // The same ranges as --jobs and --timeout.
  if (const json* v = tango.get("jobs"))
    site.jobs = static_cast<int32_t>(Int(*v, tango.path("jobs"), 1, 256));
  if (const json* v = tango.get("timeoutMs"))
    site.timeoutMs = static_cast<int32_t>(Int(*v, tango.path("timeoutMs"), 1, 3600000));
  const json& contexts = Array(tango.need("contexts"), tango.path("contexts"));
  for (size_t i = 0; i < contexts.size(); ++i)
    site.contexts.push_back(BuildContext(contexts[i], At("/tango/contexts", i)));
  if (site.contexts.empty()) Fail("/tango/contexts", "the site needs at least one context");
  Unique(site.contexts, "/tango/contexts", "context");
  // A server's device list is addressed by the server's name alone, so the
  // name must say which context it belongs to.
  for (size_t i = 0; i < site.contexts.size(); ++i) {
    for (size_t s = 0; s < site.contexts[i].servers.size(); ++s) {
      for (size_t k = 0; k < i; ++k) {
        for (size_t t = 0; t < site.contexts[k].servers.size(); ++t) {
          if (SameName(site.contexts[k].servers[t].name, site.contexts[i].servers[s].name))
            Fail(At(At(At(At("/tango/contexts", i), "servers"), s), "name"),
                 "duplicate server name " + Quoted(site.contexts[i].servers[s].name) +
                     " (also at " + At(At(At("/tango/contexts", k), "servers"), t) + ")");
        }
      }
    }
  }
  return site;
}

}  // namespace

bool LooksLikeSite(std::string_view text) {
  const json root = json::parse(text.begin(), text.end(), nullptr, false);
  return root.is_object() && root.contains("tango");
}

std::optional<Site> LoadSite(std::string_view text, const std::string& sourceName,
                             std::string& error) {
  Site site;
  if (!ParseStrict(
          text, sourceName, [&](const json& root) { site = Build(root); }, error))
    return std::nullopt;
  return site;
}

std::optional<Site> LoadSiteFile(const std::string& path, std::string& error) {
  std::string text;
  if (!ReadFileText(path, text, error)) return std::nullopt;
  return LoadSite(text, path, error);
}

std::vector<std::string> SplitTangoHosts(std::string_view value) {
  std::vector<std::string> hosts;
  size_t start = 0;
  while (start <= value.size()) {
    size_t comma = value.find(',', start);
    if (comma == std::string_view::npos) comma = value.size();
    std::string host(value.substr(start, comma - start));
    while (!host.empty() && host.back() == ' ') host.pop_back();
    while (!host.empty() && host.front() == ' ') host.erase(0, 1);
    if (!host.empty()) hosts.push_back(host);
    start = comma + 1;
  }
  return hosts;
}

std::string JoinedHosts(const std::vector<std::string>& hosts) {
  std::string joined;
  for (const std::string& h : hosts) joined += (joined.empty() ? "" : ",") + h;
  return joined;
}

std::string TangoHostIdentity(std::string_view hostPort) {
  std::string host;
  int port = 0;
  if (!SplitHostPort(hostPort, host, port)) return {};
  host = LowerCase(host);
  // Tango resolves the host itself when it connects; the same resolution
  // here makes "localhost:10000" and "127.0.0.1:10000" one database. Only
  // IPv4: Tango's host:port form has no room for an IPv6 address.
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const uint32_t address = ntohl(in->sin_addr.s_addr);
    char text[INET_ADDRSTRLEN] = {};
    if ((address >> 24) == 127)
      host = "127.0.0.1";  // every loopback address reaches this machine
    else if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text))
      host = text;
    freeaddrinfo(found);
  }
  return host + ":" + std::to_string(port);
}

std::optional<Site> SiteFromTangoHosts(const std::vector<std::string>& hosts, std::string& error,
                                       bool failOnState) {
  Site site;
  site.title = "Tango database";
  std::vector<std::string> identities, seen;
  for (const std::string& entry : hosts) {
    SiteContext c;
    std::vector<std::string> ids;
    for (const std::string& hostPort : SplitTangoHosts(entry)) {
      std::string host;
      int port = 0;
      if (!SplitHostPort(hostPort, host, port)) {
        error = "TANGO_HOST \"" + hostPort + "\" is not host:port";
        return std::nullopt;
      }
      if (c.host.empty()) {
        c.host = host;
        c.port = port;
      } else {
        c.alternates.emplace_back(host, port);
      }
      ids.push_back(TangoHostIdentity(hostPort));
    }
    if (c.host.empty()) continue;
    // An entry naming a database already given adds nothing.
    const bool known = std::any_of(seen.begin(), seen.end(), [&](const std::string& id) {
      return std::find(ids.begin(), ids.end(), id) != ids.end();
    });
    seen.insert(seen.end(), ids.begin(), ids.end());
    if (known) continue;
    c.database = c.discover = true;
    c.failOnState = failOnState;
    site.contexts.push_back(std::move(c));
    identities.push_back(ids.front());
  }
  if (site.contexts.empty()) {
    error = "no Tango database given (TANGO_HOST is host:port)";
    return std::nullopt;
  }
  const std::vector<std::string> shortNames = ShortNames(identities, {});
  for (size_t i = 0; i < site.contexts.size(); ++i) site.contexts[i].name = shortNames[i];
  return site;
}

std::string QualityLevel(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const char* level : {"VALID", "CHANGING", "WARNING", "ALARM", "INVALID"})
    if (upper == level) return upper;
  return {};
}

std::string StateName(std::string_view name) {
  static const char* const kStates[] = {"ON",      "OFF",    "CLOSE",   "OPEN",   "INSERT",
                                        "EXTRACT", "MOVING", "STANDBY", "FAULT",  "INIT",
                                        "RUNNING", "ALARM",  "DISABLE", "UNKNOWN"};
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const char* state : kStates)
    if (upper == state) return upper;
  return {};
}

std::string WithJudgement(std::string_view siteJson, const Judgement& judgement) {
  nlohmann::ordered_json root =
      nlohmann::ordered_json::parse(siteJson.begin(), siteJson.end(), nullptr, false);
  if (judgement.empty() || !root.is_object() || !root.contains("tango") ||
      !root["tango"].is_object() || !root["tango"].contains("contexts") ||
      !root["tango"]["contexts"].is_array())
    return std::string(siteJson);
  for (auto& c : root["tango"]["contexts"]) {
    if (!c.is_object()) continue;
    if (!judgement.failOnQuality.empty()) c["failOnQuality"] = judgement.failOnQuality;
    if (judgement.checkLimits) c["checkLimits"] = true;
    if (!judgement.expectStates.empty()) c["expectStates"] = judgement.expectStates;
  }
  return root.dump();
}

std::optional<std::string> SiteJsonFromTangoHosts(const std::vector<std::string>& hosts,
                                                  std::string& error, bool failOnState) {
  const std::optional<Site> site = SiteFromTangoHosts(hosts, error, failOnState);
  if (!site) return std::nullopt;
  nlohmann::json contexts = nlohmann::json::array();
  for (const SiteContext& c : site->contexts) {
    nlohmann::json context = {{"name", c.name},
                              {"host", c.host},
                              {"port", c.port},
                              {"discover", true},
                              {"failOnState", c.failOnState}};
    for (const auto& [host, port] : c.alternates)
      context["alternates"].push_back(host + ":" + std::to_string(port));
    contexts.push_back(std::move(context));
  }
  return nlohmann::json{{"site", site->title}, {"tango", {{"contexts", contexts}}}}.dump();
}

namespace {

// FNV-1a, folded to 16 bits: four hexadecimal digits.
std::string Hash4(std::string_view text) {
  uint32_t h = 2166136261u;
  for (const char c : text) {
    h ^= static_cast<uint8_t>(c);
    h *= 16777619u;
  }
  h = (h >> 16) ^ (h & 0xFFFFu);
  static const char* const kDigits = "0123456789abcdef";
  std::string out(4, '0');
  for (int i = 3; i >= 0; --i, h >>= 4) out[static_cast<size_t>(i)] = kDigits[h & 0xF];
  return out;
}

std::string Hashed(std::string_view tangoName, std::string_view salt) {
  std::string dotted(tangoName.substr(0, 11));
  std::replace(dotted.begin(), dotted.end(), '/', '.');
  return dotted + "~" + Hash4(LowerCase(tangoName) + std::string(salt));
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) { return SameIgnoringCase(a, b); }

std::string ShortName(std::string_view tangoName) {
  if (tangoName.size() <= 16) {
    std::string dotted(tangoName);
    std::replace(dotted.begin(), dotted.end(), '/', '.');
    return dotted;
  }
  return Hashed(tangoName, "");
}

std::vector<std::string> ShortNames(const std::vector<std::string>& tangoNames,
                                    const std::vector<std::pair<std::string, std::string>>& chosen,
                                    const std::vector<std::pair<std::string, std::string>>& kept) {
  std::vector<std::string> names(tangoNames.size()), lower(tangoNames.size());
  for (size_t i = 0; i < tangoNames.size(); ++i) lower[i] = LowerCase(tangoNames[i]);
  std::vector<size_t> order(tangoNames.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return lower[a] < lower[b]; });
  std::unordered_set<std::string> taken;  // lower case
  taken.reserve(tangoNames.size() * 2);
  // Chosen names first: they never move.
  std::vector<bool> done(tangoNames.size(), false);
  for (const auto& [tango, name] : chosen) {
    for (size_t i = 0; i < tangoNames.size(); ++i) {
      if (!SameName(tango, tangoNames[i])) continue;
      names[i] = name;
      taken.insert(LowerCase(name));
      done[i] = true;
    }
  }
  // Then the names given before: reserved whether their holder is listed
  // or not, so that a server that is away for a while comes back to its own.
  std::unordered_set<std::string> keptTaken;
  for (const auto& [tango, name] : kept) {
    const std::string key = LowerCase(name);
    if (taken.count(key) || keptTaken.count(key)) continue;
    keptTaken.insert(key);
    for (size_t i = 0; i < tangoNames.size(); ++i) {
      if (done[i] || !SameName(tango, tangoNames[i])) continue;
      names[i] = name;
      done[i] = true;
    }
  }
  taken.insert(keptTaken.begin(), keptTaken.end());
  for (const size_t i : order) {
    if (done[i]) continue;
    std::string name = ShortName(tangoNames[i]);
    std::string key = LowerCase(name);
    for (int k = 1; taken.count(key); ++k) {
      name = Hashed(tangoNames[i], "#" + std::to_string(k));
      key = LowerCase(name);
    }
    taken.insert(std::move(key));
    names[i] = std::move(name);
  }
  return names;
}

bool NameMatches(std::string_view pattern, std::string_view name) {
  return GlobMatches(pattern, name);
}

std::string CheckerDate(const std::string& tangoDate) {
  // "6th December 2026 at 13:12:37"
  static const char* const kMonths[] = {"january",   "february", "march",    "april",
                                        "may",       "june",     "july",     "august",
                                        "september", "october",  "november", "december"};
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  char suffix[3] = {}, month[16] = {};
  if (std::sscanf(tangoDate.c_str(), "%d%2[a-z] %15[A-Za-z] %d at %d:%d:%d", &day, suffix, month,
                  &year, &hour, &minute, &second) != 7)
    return tangoDate;
  const std::string m = LowerCase(month);
  for (int i = 0; i < 12; ++i) {
    if (m != kMonths[i]) continue;
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, i + 1, day, hour,
                  minute, second);
    return text;
  }
  return tangoDate;
}

std::string TangoAddress(const SiteContext& context, const SiteDevice& device) {
  return "tango://" + context.host + ":" + std::to_string(context.port) + "/" + device.tangoName +
         (context.database ? "" : "#dbase=no");
}

}  // namespace dsc::tango
