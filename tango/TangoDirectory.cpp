// The directory of a Tango site: its contexts, the servers and devices the
// database lists for a discovered context (or the site file for a hand-listed
// one) and the checker's names for them.

#include <algorithm>

#include "access/CompletionCodes.h"
#include "tango/TangoSystem.h"

namespace dsc::tango {

TangoSystem::TangoSystem(Site site, Clock& clock) : site_(std::move(site)), clock_(clock) {
  for (const SiteContext& c : site_.contexts) {
    ContextEntry& entry = contexts_.emplace_back();
    entry.site = &c;
    if (c.discover) continue;
    for (const SiteServer& s : c.servers) {
      auto server = std::make_shared<ServerEntry>();
      server->name = s.name;
      server->instance = s.instance;
      server->devices = s.devices;
      server->devicesKnown = true;
      entry.servers.push_back(server);
    }
    entry.serversKnown = true;
  }
}

ContextEntry* TangoSystem::FindContext(const std::string& name) {
  for (ContextEntry& c : contexts_)
    if (SameName(c.site->name, name)) return &c;
  // A discovered context also by its database's host:port.
  for (ContextEntry& c : contexts_)
    if (c.site->discover && SameName(c.site->host + ":" + std::to_string(c.site->port), name))
      return &c;
  return nullptr;
}

// The servers the database knows, filtered and named; those the site file
// names keep their names. Hand-listed contexts need no database.
Outcome TangoSystem::ListServers(ContextEntry& c, int32_t timeoutMs) {
  if (!c.site->discover) return {};
  std::vector<std::string> instances;
  try {
    std::string all = "*";
    Tango::DbDatum datum =
        AskDatabase(c, timeoutMs, [&](Tango::Database& db) { return db.get_server_list(all); });
    datum >> instances;
  } catch (const Tango::DevFailed& e) {
    return DatabaseFault(c, e);
  } catch (const CORBA::Exception&) {
    return {kTangoDatabaseUnreachable, "the Tango database cannot be reached"};
  }
  std::erase_if(instances, [&](const std::string& instance) {
    bool in = c.site->include.empty();
    for (const std::string& p : c.site->include) in = in || NameMatches(p, instance);
    for (const std::string& p : c.site->exclude) in = in && !NameMatches(p, instance);
    return !in;
  });
  // Hand-listed servers are there even when the database lacks them.
  for (const SiteServer& s : c.site->servers) {
    if (std::none_of(instances.begin(), instances.end(),
                     [&](const std::string& i) { return SameName(i, s.instance); }))
      instances.push_back(s.instance);
  }
  std::vector<std::pair<std::string, std::string>> chosen;
  for (const SiteServer& s : c.site->servers) chosen.emplace_back(s.instance, s.name);
  const std::vector<std::string> names = ShortNames(instances, chosen);
  c.servers.clear();
  for (size_t i = 0; i < instances.size(); ++i) {
    std::shared_ptr<ServerEntry>& server = c.known[LowerCase(instances[i])];
    if (!server) {
      server = std::make_shared<ServerEntry>();
      server->instance = instances[i];
      for (const SiteServer& s : c.site->servers)
        if (SameName(s.instance, instances[i])) server->chosen = s.devices;
    }
    server->name = names[i];
    c.servers.push_back(server);
  }
  c.serversKnown = true;
  return {};
}

// The devices the database lists for a discovered server, its admin
// device left out.
Outcome TangoSystem::ListDevices(ContextEntry& c, ServerEntry& server, int32_t timeoutMs) {
  if (!c.site->discover) return {};
  std::vector<std::string> pairs;  // device, class, device, class, ...
  try {
    std::string instance = server.instance;
    Tango::DbDatum datum = AskDatabase(
        c, timeoutMs, [&](Tango::Database& db) { return db.get_device_class_list(instance); });
    datum >> pairs;
  } catch (const Tango::DevFailed& e) {
    return DatabaseFault(c, e);
  } catch (const CORBA::Exception&) {
    return {kTangoDatabaseUnreachable, "the Tango database cannot be reached"};
  }
  std::vector<std::string> devices;
  for (size_t i = 0; i + 1 < pairs.size(); i += 2)
    if (LowerCase(pairs[i]).rfind("dserver/", 0) != 0) devices.push_back(pairs[i]);
  std::vector<std::pair<std::string, std::string>> chosen;
  for (const SiteDevice& d : server.chosen) chosen.emplace_back(d.tangoName, d.name);
  const std::vector<std::string> names = ShortNames(devices, chosen);
  server.devices.clear();
  for (size_t i = 0; i < devices.size(); ++i) server.devices.push_back({names[i], devices[i]});
  server.devicesKnown = true;
  return {};
}

// A server by its name or its Tango instance name.
std::shared_ptr<ServerEntry> TangoSystem::ServerIn(ContextEntry& c, const std::string& name,
                                                   Outcome& fault) {
  if (!c.serversKnown) {
    fault = ListServers(c, kDefaultTimeoutMs);
    if (fault.code != 0) return nullptr;
  }
  for (const auto& s : c.servers)
    if (SameName(s->name, name)) return s;
  for (const auto& s : c.servers)
    if (SameName(s->instance, name)) return s;
  fault = {kTangoUnknownServer, "no server \"" + name + "\" in context " + c.site->name};
  return nullptr;
}

// A server by its name alone, in the first context that has it.
std::shared_ptr<ServerEntry> TangoSystem::FindServer(const std::string& name,
                                                     ContextEntry** context, Outcome& fault) {
  for (ContextEntry& c : contexts_) {
    Outcome ignored;
    if (auto s = ServerIn(c, name, ignored)) {
      if (context) *context = &c;
      return s;
    }
    // A database that cannot be reached is said so, not "unknown server".
    if (ignored.code == kTangoDatabaseUnreachable) fault = ignored;
  }
  if (fault.code == 0) fault = {kTangoUnknownServer, "no server \"" + name + "\""};
  return nullptr;
}

// A device by its name or its Tango name; "#0" is the first.
const SiteDevice* TangoSystem::DeviceIn(ContextEntry& c, ServerEntry& s, const std::string& name,
                                        Outcome& fault) {
  if (!s.devicesKnown) {
    fault = ListDevices(c, s, kDefaultTimeoutMs);
    if (fault.code != 0) return nullptr;
  }
  if (name == "#0" && !s.devices.empty()) return &s.devices.front();
  for (const SiteDevice& d : s.devices)
    if (SameName(d.name, name)) return &d;
  for (const SiteDevice& d : s.devices)
    if (SameName(d.tangoName, name)) return &d;
  fault = {kTangoUnknownDevice, "no device \"" + name + "\" of server " + s.name};
  return nullptr;
}

// "#0" is the server's first device: what the server tells about itself
// and its self-test come from there.
DeviceEntry* TangoSystem::Device(const std::string& context, const std::string& server,
                                 const std::string& device, Outcome& fault) {
  ContextEntry* c = FindContext(context);
  if (!c) {
    fault = {kTangoUnknownContext, "no context \"" + context + "\" in the site"};
    return nullptr;
  }
  std::shared_ptr<ServerEntry> s = ServerIn(*c, server, fault);
  if (!s) return nullptr;
  const SiteDevice* d = DeviceIn(*c, *s, device, fault);
  if (!d) return nullptr;
  DeviceEntry& e = devices_[LowerCase(c->site->name + "/" + s->instance + "/" + d->tangoName)];
  e.context = c->site;
  e.server = s;
  e.device = *d;
  return &e;
}

ContextEntry& TangoSystem::EntryOf(const SiteContext* site) {
  for (ContextEntry& c : contexts_)
    if (c.site == site) return c;
  return contexts_.front();
}

// Splits "/context/server/device".
DeviceEntry* TangoSystem::DeviceAt(const std::string& address, Outcome& fault) {
  const size_t a = address.find('/', 1);
  const size_t b = a == std::string::npos ? a : address.find('/', a + 1);
  if (address.empty() || address[0] != '/' || b == std::string::npos) {
    fault = {kTangoUnknownDevice, "\"" + address + "\" is not a device address"};
    return nullptr;
  }
  return Device(address.substr(1, a - 1), address.substr(a + 1, b - a - 1), address.substr(b + 1),
                fault);
}

}  // namespace dsc::tango
