#include "tango/TangoSite.h"

#include <algorithm>

#include "base/StrictJson.h"

namespace dsc::tango {

namespace {

using namespace dsc::strictjson;

// A checker name: 1..16 characters, no "/", no blank at either end.
std::string Name(const json& j, const std::string& path) {
  std::string name = String(j, path);
  if (name.empty() || name.size() > 16) Fail(path, Quoted(name) + " must have 1 to 16 characters");
  if (name.find('/') != std::string::npos) Fail(path, Quoted(name) + " holds a \"/\"");
  if (name.front() == ' ' || name.back() == ' ')
    Fail(path, Quoted(name) + " begins or ends with a blank");
  return name;
}

template <class T>
void Unique(const std::vector<T>& items, const std::string& path, const char* what) {
  for (size_t i = 0; i < items.size(); ++i) {
    for (size_t k = 0; k < i; ++k) {
      if (items[k].name == items[i].name)
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
      t.find('/', b + 1) != std::string::npos || t.find_first_of(" #") != std::string::npos)
    Fail(o.path("device"), Quoted(t) + " is not a Tango device name (domain/family/member)");
  return d;
}

SiteServer BuildServer(const json& j, const std::string& path) {
  Obj o(j, path, {"name", "instance", "devices"});
  SiteServer s;
  s.name = Name(o.need("name"), o.path("name"));
  if (s.name == "ENS") Fail(o.path("name"), "\"ENS\" is the name server's address");
  if (const json* v = o.get("instance")) s.instance = String(*v, o.path("instance"));
  const json& devices = Array(o.need("devices"), o.path("devices"));
  for (size_t i = 0; i < devices.size(); ++i)
    s.devices.push_back(BuildDevice(devices[i], At(o.path("devices"), i)));
  if (s.devices.empty()) Fail(o.path("devices"), "a server needs at least one device");
  Unique(s.devices, o.path("devices"), "device");
  return s;
}

SiteContext BuildContext(const json& j, const std::string& path) {
  Obj o(j, path, {"name", "host", "port", "database", "pollMs", "servers"});
  SiteContext c;
  c.name = Name(o.need("name"), o.path("name"));
  c.host = String(o.need("host"), o.path("host"));
  if (c.host.empty() || c.host.find_first_of(" /:#") != std::string::npos)
    Fail(o.path("host"), Quoted(c.host) + " is not a host name or address");
  c.port = static_cast<int>(Int(o.need("port"), o.path("port"), 1, 65535));
  if (const json* v = o.get("database")) c.database = Bool(*v, o.path("database"));
  if (const json* v = o.get("pollMs"))
    c.pollMs = static_cast<int32_t>(Int(*v, o.path("pollMs"), 10, 3600000));
  const json& servers = Array(o.need("servers"), o.path("servers"));
  for (size_t i = 0; i < servers.size(); ++i)
    c.servers.push_back(BuildServer(servers[i], At(o.path("servers"), i)));
  Unique(c.servers, o.path("servers"), "server");
  return c;
}

Site Build(const json& root) {
  Obj top(root, "", {"site", "tango"});
  Site site;
  if (const json* v = top.get("site")) site.title = String(*v, "/site");
  Obj tango(top.need("tango"), "/tango", {"contexts"});
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
          if (site.contexts[k].servers[t].name == site.contexts[i].servers[s].name)
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

std::string TangoAddress(const SiteContext& context, const SiteDevice& device) {
  return "tango://" + context.host + ":" + std::to_string(context.port) + "/" + device.tangoName +
         (context.database ? "" : "#dbase=no");
}

}  // namespace dsc::tango
