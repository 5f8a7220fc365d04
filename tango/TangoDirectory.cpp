// The directory of a Tango site: its contexts, the servers and devices the
// database lists for a discovered context (or the site file for a hand-listed
// one) and the checker's names for them.

#include <unistd.h>
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "access/CompletionCodes.h"
#include "tango/TangoSystem.h"

namespace dsc::tango {

TangoSystem::TangoSystem(Site site, Clock& clock) : site_(std::move(site)), clock_(clock) {
  for (const SiteContext& c : site_.contexts) {
    ContextEntry& entry = contexts_.emplace_back();
    entry.site = &c;
    if (c.database) {
      entry.identities.push_back(TangoHostIdentity(c.host + ":" + std::to_string(c.port)));
      for (const auto& [host, port] : c.alternates)
        entry.identities.push_back(TangoHostIdentity(host + ":" + std::to_string(port)));
    }
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
  // A discovered context also by any address of its database, however
  // spelled ("localhost:10000" is "127.0.0.1:10000").
  const std::string identity = TangoHostIdentity(name);
  if (identity.empty()) return nullptr;
  for (ContextEntry& c : contexts_)
    if (c.site->discover &&
        std::find(c.identities.begin(), c.identities.end(), identity) != c.identities.end())
      return &c;
  return nullptr;
}

// The servers the database knows, filtered and named; those the site file
// names keep their names. Hand-listed contexts need no database.
Outcome TangoSystem::ListServers(ContextEntry& c, int32_t timeoutMs) {
  if (!c.site->discover) return {};
  std::vector<std::string> instances;
  // Each address of the database in turn, until one answers.
  for (size_t tries = 0;; ++tries) {
    try {
      std::string all = "*";
      Tango::DbDatum datum =
          AskDatabase(c, timeoutMs, [&](Tango::Database& db) { return db.get_server_list(all); });
      datum >> instances;
      break;
    } catch (const Tango::DevFailed& e) {
      const Outcome o = DatabaseFault(c, e);
      if (o.code != kTangoDatabaseUnreachable || tries >= c.site->alternates.size()) return o;
    } catch (const CORBA::Exception&) {
      return {kTangoDatabaseUnreachable, "the Tango database cannot be reached"};
    }
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
  const std::vector<std::string> names = ShortNames(instances, chosen, KeptNames(c, "S\t"));
  KeepNames(c, "S\t", instances, names);
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
  const std::string prefix = "D\t" + LowerCase(server.instance) + "\t";
  const std::vector<std::string> names = ShortNames(devices, chosen, KeptNames(c, prefix));
  KeepNames(c, prefix, devices, names);
  server.devices.clear();
  for (size_t i = 0; i < devices.size(); ++i) server.devices.push_back({names[i], devices[i]});
  server.devicesKnown = true;
  return {};
}

// The short names of a database's servers and devices, once given, are kept
// in "servers/<identity>.names" under the database directory (beside the
// directory of its servers' test files, which an identity "host:port" never
// ends in ".names"): lines "S", instance, name and "D", instance, device,
// name, tab-separated. A server registered later never takes a name kept for
// another, listed or not. Lines that are not of this form are skipped; a
// file that cannot be written leaves the names derived as without one.
std::string TangoSystem::KeptNamesPath(const ContextEntry& c) const {
  if (namesDirectory_.empty() || !c.site->discover || c.identities.empty()) return {};
  return namesDirectory_ + "servers/" + c.identities.front() + ".names";
}

std::vector<std::pair<std::string, std::string>> TangoSystem::KeptNames(ContextEntry& c,
                                                                        const std::string& prefix) {
  if (!c.keptLoaded) {
    c.keptLoaded = true;
    const std::string path = KeptNamesPath(c);
    std::ifstream in(path.empty() ? std::string("/nonexistent") : path);
    std::string line;
    while (std::getline(in, line)) {
      const size_t name = line.rfind('\t');
      if (name == std::string::npos || name < 2 || (line[0] != 'S' && line[0] != 'D')) continue;
      const std::string shortName = line.substr(name + 1);
      if (shortName.empty() || shortName.size() > 16 ||
          shortName.find_first_of("/\t") != std::string::npos)
        continue;
      c.kept[line.substr(0, 1) + LowerCase(line.substr(1, name - 1))] = shortName;
    }
  }
  std::vector<std::pair<std::string, std::string>> kept;
  for (auto it = c.kept.lower_bound(prefix); it != c.kept.end() && it->first.starts_with(prefix);
       ++it) {
    const std::string tango = it->first.substr(prefix.size());
    if (tango.find('\t') == std::string::npos) kept.emplace_back(tango, it->second);
  }
  return kept;
}

void TangoSystem::KeepNames(ContextEntry& c, const std::string& prefix,
                            const std::vector<std::string>& tango,
                            const std::vector<std::string>& names) {
  const std::string path = KeptNamesPath(c);
  if (path.empty()) return;
  bool changed = false;
  for (size_t i = 0; i < tango.size(); ++i) {
    std::string& kept = c.kept[prefix + LowerCase(tango[i])];
    changed = changed || kept != names[i];
    kept = names[i];
  }
  if (!changed) return;
  // Written whole beside it and renamed, so a reader never sees half a file.
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  const std::string temporary = path + "." + std::to_string(getpid()) + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    for (const auto& [key, name] : c.kept) out << key << '\t' << name << '\n';
    if (!out.flush()) {
      std::filesystem::remove(temporary, ec);
      return;
    }
  }
  std::filesystem::rename(temporary, path, ec);
  if (ec) std::filesystem::remove(temporary, ec);
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
