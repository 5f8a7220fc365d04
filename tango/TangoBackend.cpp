#include "tango/TangoBackend.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

#include "access/CompletionCodes.h"
#include "access/Formats.h"
#include "access/NamedControl.h"
#include "tango/TangoValues.h"

namespace dsc::tango {

namespace {

constexpr int32_t kLongRecord = 188;  // PROPS: name 0..31, count at 168, format at 184
constexpr int32_t kDefaultTimeoutMs = 3000;

const std::map<int32_t, std::string>& ErrorTexts() {
  static const std::map<int32_t, std::string> texts = [] {
    std::map<int32_t, std::string> t = CheckerCodeTexts();
    t.insert({{kTangoUnknownContext, "unknown context"},
              {kTangoUnknownServer, "unknown device server"},
              {kTangoUnknownDevice, "unknown device"},
              {kTangoUnknownProperty, "no attribute or command of this name"},
              {kTangoNotWritable, "attribute is not writable"},
              {kTangoIllegalFormat, "illegal data format"},
              {kTangoDeviceError, "the device server answered with an error"},
              {kTangoDatabaseUnreachable, "the Tango database cannot be reached"},
              {kTangoBadState, "the device is in a bad state or the value is invalid"}});
    return t;
  }();
  return texts;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Names into NAME16 slots: at most as many as asked for and as fit.
void PutNames(const std::vector<std::string>& names, int32_t asked, std::span<uint8_t> out) {
  const size_t n =
      std::min({names.size(), static_cast<size_t>(std::max(asked, 0)), out.size() / kName16});
  for (size_t i = 0; i < n; ++i) {
    uint8_t* slot = out.data() + i * kName16;
    std::memset(slot, 0, kName16);
    std::memcpy(slot, names[i].data(), std::min<size_t>(names[i].size(), kName16));
  }
}

int16_t PutShort(int64_t value, std::span<uint8_t> out) {
  const auto v = static_cast<int16_t>(std::clamp<int64_t>(value, 0, INT16_MAX));
  if (out.size() >= 2) std::memcpy(out.data(), &v, 2);
  return kCodeSuccess;
}

struct Property {
  std::string name;
  bool command = false;
  Tango::AttributeInfoEx attribute;
  Tango::CommandInfo commandInfo;
  Declared declared;
};

// A server as the checker lists it. Discovered servers keep their entry for
// the session, so a device's entry may point to it while lists are renewed.
struct ServerEntry {
  std::string name;      // the checker's
  std::string instance;  // Tango's executable/instance
  std::vector<SiteDevice> devices;
  std::vector<SiteDevice> chosen;  // device names the site file gives
  bool devicesKnown = false;       // discovered servers ask the database once
};

struct ContextEntry {
  const SiteContext* site = nullptr;
  std::vector<std::shared_ptr<ServerEntry>> servers;                    // as listed
  std::unordered_map<std::string, std::shared_ptr<ServerEntry>> known;  // by lower-case instance
  bool serversKnown = false;
  std::unique_ptr<Tango::Database> database;
};

struct DeviceEntry {
  const SiteContext* context = nullptr;
  std::shared_ptr<ServerEntry> server;
  SiteDevice device;
  std::unique_ptr<Tango::DeviceProxy> proxy;
  int32_t timeoutMs = -1;
  // The last failure, when it was a time-out: Tango then refuses to reconnect
  // for a second, and those refusals stand for the same silent server.
  std::optional<Outcome> lastTimeout;
  bool listed = false;
  std::vector<Property> properties;
  std::map<std::string, size_t> byName;  // lower case: Tango names ignore case
  // What the database recorded when the proxy was made.
  std::string host, started;
};

// Tango connects, and reconnects after a failed call, under the ORB's
// process-wide time-out (3 s, set when the ORB starts), not the proxy's, and
// tries twice. With the ORB started first and its time-out half the
// access's, a server (or database) hung from the start costs an access its
// own time-out, not six seconds.
void BoundConnections(int32_t ms) {
  static std::atomic<int32_t> processTimeoutMs{-1};
  if (processTimeoutMs.exchange(ms) == ms) return;
  Tango::ApiUtil* api = Tango::ApiUtil::instance();
  if (CORBA::is_nil(api->get_orb())) api->create_orb();
  omniORB::setClientCallTimeout(static_cast<CORBA::ULong>(std::max(ms / 2, 1)));
}

}  // namespace

// Everything the library and its controls share: the site, the servers of
// discovered contexts and one proxy per device, made on first use. Tango
// reconnects a proxy by itself once its server is back, so a proxy is kept
// for the whole session. Names compare as Tango's do, case ignored.
class TangoSystem {
 public:
  TangoSystem(Site site, Clock& clock) : site_(std::move(site)), clock_(clock) {
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

  const Site& site() const { return site_; }
  Clock& clock() { return clock_; }
  std::deque<ContextEntry>& contexts() { return contexts_; }
  const std::string& databaseFault() const { return databaseFault_; }

  ContextEntry* FindContext(const std::string& name) {
    for (ContextEntry& c : contexts_)
      if (SameName(c.site->name, name)) return &c;
    // A discovered context also by its database's host:port.
    for (ContextEntry& c : contexts_)
      if (c.site->discover && SameName(c.site->host + ":" + std::to_string(c.site->port), name))
        return &c;
    return nullptr;
  }

  // The database of a context, connected under the call's time-out.
  Tango::Database& Database(ContextEntry& c, int32_t timeoutMs) {
    const int32_t ms = timeoutMs > 0 ? timeoutMs : kDefaultTimeoutMs;
    BoundConnections(ms);
    if (!c.database) {
      std::string host = c.site->host;
      c.database = std::make_unique<Tango::Database>(host, c.site->port);
    }
    c.database->set_timeout_millis(ms);
    return *c.database;
  }

  // A failed database call as the checker reports it: the database's
  // host:port and Tango's reason.
  Outcome DatabaseFault(ContextEntry& c, const Tango::DevFailed& e) {
    Outcome o = FromDevFailed(e);
    databaseFault_ = "the Tango database at " + c.site->host + ":" + std::to_string(c.site->port) +
                     " cannot be reached";
    if (o.code == kCodeServerUnavailable45 || o.code == kCodeLinkTimeout) {
      o.code = kTangoDatabaseUnreachable;
      o.detail = databaseFault_ + (o.detail.empty() ? "" : ": " + o.detail);
    }
    return o;
  }

  // The servers the database knows, filtered and named; those the site file
  // names keep their names. Hand-listed contexts need no database.
  Outcome ListServers(ContextEntry& c, int32_t timeoutMs) {
    if (!c.site->discover) return {};
    std::vector<std::string> instances;
    try {
      std::string all = "*";
      Tango::DbDatum datum = Database(c, timeoutMs).get_server_list(all);
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
      std::shared_ptr<ServerEntry>& server = c.known[Lower(instances[i])];
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
  Outcome ListDevices(ContextEntry& c, ServerEntry& server, int32_t timeoutMs) {
    if (!c.site->discover) return {};
    std::vector<std::string> pairs;  // device, class, device, class, ...
    try {
      std::string instance = server.instance;
      Tango::DbDatum datum = Database(c, timeoutMs).get_device_class_list(instance);
      datum >> pairs;
    } catch (const Tango::DevFailed& e) {
      return DatabaseFault(c, e);
    } catch (const CORBA::Exception&) {
      return {kTangoDatabaseUnreachable, "the Tango database cannot be reached"};
    }
    std::vector<std::string> devices;
    for (size_t i = 0; i + 1 < pairs.size(); i += 2)
      if (Lower(pairs[i]).rfind("dserver/", 0) != 0) devices.push_back(pairs[i]);
    std::vector<std::pair<std::string, std::string>> chosen;
    for (const SiteDevice& d : server.chosen) chosen.emplace_back(d.tangoName, d.name);
    const std::vector<std::string> names = ShortNames(devices, chosen);
    server.devices.clear();
    for (size_t i = 0; i < devices.size(); ++i) server.devices.push_back({names[i], devices[i]});
    server.devicesKnown = true;
    return {};
  }

  // A server by its name or its Tango instance name.
  std::shared_ptr<ServerEntry> ServerIn(ContextEntry& c, const std::string& name, Outcome& fault) {
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
  std::shared_ptr<ServerEntry> FindServer(const std::string& name, ContextEntry** context,
                                          Outcome& fault) {
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
  const SiteDevice* DeviceIn(ContextEntry& c, ServerEntry& s, const std::string& name,
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
  DeviceEntry* Device(const std::string& context, const std::string& server,
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
    DeviceEntry& e = devices_[Lower(c->site->name + "/" + s->instance + "/" + d->tangoName)];
    e.context = c->site;
    e.server = s;
    e.device = *d;
    return &e;
  }

  ContextEntry& EntryOf(const SiteContext* site) {
    for (ContextEntry& c : contexts_)
      if (c.site == site) return c;
    return contexts_.front();
  }

  // Splits "/context/server/device".
  DeviceEntry* DeviceAt(const std::string& address, Outcome& fault) {
    const size_t a = address.find('/', 1);
    const size_t b = a == std::string::npos ? a : address.find('/', a + 1);
    if (address.empty() || address[0] != '/' || b == std::string::npos) {
      fault = {kTangoUnknownDevice, "\"" + address + "\" is not a device address"};
      return nullptr;
    }
    return Device(address.substr(1, a - 1), address.substr(a + 1, b - a - 1), address.substr(b + 1),
                  fault);
  }

  Tango::DeviceProxy& Proxy(DeviceEntry& e, int32_t timeoutMs) {
    const int32_t ms = timeoutMs > 0 ? timeoutMs : kDefaultTimeoutMs;
    BoundConnections(ms);
    if (!e.proxy) {
      if (e.context->database) {
        // The database knows whether the server runs: one that is not
        // exported answers at once instead of costing time-outs.
        std::string name = e.device.tangoName;
        Tango::DbDevFullInfo info;
        try {
          info = Database(EntryOf(e.context), ms).get_device_info(name);
        } catch (const Tango::DevFailed& failure) {
          const Outcome o = DatabaseFault(EntryOf(e.context), failure);
          if (o.code != kTangoDatabaseUnreachable) throw;
          Tango::Except::throw_exception("API_CantConnectToDatabase", databaseFault_,
                                         "TangoSystem::Proxy");
        }
        e.host = info.host;
        e.started = info.started_date;
        if (!info.exported)
          Tango::Except::throw_exception("API_DeviceNotExported",
                                         "server " + e.server->instance + " is not running (" +
                                             name + " is not exported in the database)",
                                         "TangoSystem::Proxy");
      }
      std::string address = TangoAddress(*e.context, e.device);
      e.proxy = std::make_unique<Tango::DeviceProxy>(address);
      e.timeoutMs = -1;
    }
    if (ms != e.timeoutMs) {
      e.proxy->set_timeout_millis(ms);
      e.timeoutMs = ms;
    }
    return *e.proxy;
  }

  // The device's attributes, then its commands where no attribute has the name.
  void LoadProperties(DeviceEntry& e, int32_t timeoutMs) {
    Tango::DeviceProxy& proxy = Proxy(e, timeoutMs);
    std::unique_ptr<Tango::AttributeInfoListEx> attributes(proxy.attribute_list_query_ex());
    std::unique_ptr<Tango::CommandInfoList> commands(proxy.command_list_query());
    e.properties.clear();
    e.byName.clear();
    auto add = [&](Property p) {
      if (e.byName.emplace(Lower(p.name), e.properties.size()).second)
        e.properties.push_back(std::move(p));
    };
    for (const Tango::AttributeInfoEx& a : *attributes) {
      Property p;
      p.name = a.name;
      p.attribute = a;
      p.declared = DeclareAttribute(a);
      add(std::move(p));
    }
    for (const Tango::CommandInfo& c : *commands) {
      Property p;
      p.name = c.cmd_name;
      p.command = true;
      p.commandInfo = c;
      p.declared = DeclareCommand(c);
      add(std::move(p));
    }
    e.listed = true;
  }

  // A name the cached list lacks reloads it once: the server may have been
  // restarted with other attributes.
  const Property* FindProperty(DeviceEntry& e, const std::string& name, int32_t timeoutMs) {
    const bool fresh = !e.listed;
    if (fresh) LoadProperties(e, timeoutMs);
    auto it = e.byName.find(Lower(name));
    if (it == e.byName.end() && !fresh) {
      LoadProperties(e, timeoutMs);
      it = e.byName.find(Lower(name));
    }
    return it == e.byName.end() ? nullptr : &e.properties[it->second];
  }

  // One access: input written (or sent with the command) first, then the
  // answer read into the output.
  Outcome Access(DeviceEntry& e, const std::string& property, std::span<uint8_t> out,
                 int32_t outCount, int16_t outFormat, std::span<const uint8_t> in, int32_t inCount,
                 int16_t inFormat, int32_t timeoutMs) {
    return Remember(
        e, TryAccess(e, property, out, outCount, outFormat, in, inCount, inFormat, timeoutMs));
  }

  Outcome ServerText(DeviceEntry& e, const std::string& property, std::string& text,
                     int32_t timeoutMs) {
    return Remember(e, TryServerText(e, property, text, timeoutMs));
  }

  Outcome TryAccess(DeviceEntry& e, const std::string& property, std::span<uint8_t> out,
                    int32_t outCount, int16_t outFormat, std::span<const uint8_t> in,
                    int32_t inCount, int16_t inFormat, int32_t timeoutMs) {
    try {
      const Property* p = FindProperty(e, property, timeoutMs);
      if (!p)
        return {kTangoUnknownProperty, "device " + e.device.tangoName +
                                           " has no attribute or command \"" + property + "\""};
      Tango::DeviceProxy& proxy = Proxy(e, timeoutMs);
      if (p->command) {
        Tango::DeviceData argument;
        if (inCount > 0) {
          Outcome o = CommandArgument(p->commandInfo.in_type, in, inCount, inFormat, argument);
          if (o.code != 0) return o;
        }
        std::string name = p->name;  // Tango's API takes names by non-const reference
        Tango::DeviceData answer = proxy.command_inout(name, argument);
        return DeliverCommand(answer, p->commandInfo.out_type, out, outCount, outFormat);
      }
      if (inCount > 0) {
        if (p->attribute.writable == Tango::READ || p->attribute.writable == Tango::READ_WITH_WRITE)
          return {kTangoNotWritable, "attribute " + p->name + " is not writable"};
        Tango::DeviceAttribute value;
        Outcome o = AttributeValue(p->attribute, in, inCount, inFormat, value);
        if (o.code != 0) return o;
        proxy.write_attribute(value);
        if (outCount <= 0) return {};
      }
      std::string name = p->name;
      Tango::DeviceAttribute value = proxy.read_attribute(name);
      if (value.has_failed()) return FromDevFailed(Tango::DevFailed(value.get_err_stack()));
      // A state's name and a doubtful quality are said in the text; with
      // failOnState the worst of them fail the read.
      const Tango::AttrQuality quality = value.get_quality();
      std::string note;
      bool bad = false;
      if (quality == Tango::ATTR_INVALID || quality == Tango::ATTR_ALARM) {
        note = quality == Tango::ATTR_INVALID ? "quality INVALID" : "quality ALARM";
        bad = quality == Tango::ATTR_INVALID;
      } else if (value.get_type() == Tango::DEV_STATE &&
                 p->attribute.data_format == Tango::SCALAR) {
        Tango::DeviceAttribute copy(value);
        Tango::DevState state = Tango::UNKNOWN;
        copy >> state;
        if (state >= 0 && state <= Tango::UNKNOWN) {
          note = std::string("state ") + Tango::DevStateName[state];
          bad = state == Tango::FAULT || state == Tango::ALARM || state == Tango::UNKNOWN;
        }
      }
      Outcome o = DeliverAttribute(value, out, outCount, outFormat);
      if (o.code != 0 || note.empty()) return o;
      if (bad && e.context->failOnState) return {kTangoBadState, note};
      o.detail = note;
      return o;
    } catch (const Tango::DevFailed& failure) {
      return FromDevFailed(failure);
    } catch (const CORBA::Exception&) {
      return {kCodeServerUnavailable45, "the device server cannot be reached"};
    }
  }

  // What a device server tells about itself: with a database, its first
  // device's property of the name; else an attribute of the name on that
  // device; else what Tango knows: the server and its interface version, and
  // the start time the database recorded.
  Outcome TryServerText(DeviceEntry& e, const std::string& property, std::string& text,
                        int32_t timeoutMs) {
    try {
      // With a database, its device property of the name comes first: it
      // needs no answer from the server.
      if (e.context->database && property != "SRVVERSION" && property != "SRVSTARTTIME") {
        std::string name = e.device.tangoName;
        Tango::DbData data{Tango::DbDatum(property)};
        try {
          Database(EntryOf(e.context), timeoutMs).get_device_property(name, data);
        } catch (const Tango::DevFailed& failure) {
          return DatabaseFault(EntryOf(e.context), failure);
        }
        if (!data[0].is_empty()) {
          std::vector<std::string> lines;
          data[0] >> lines;
          for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + lines[i];
          return {};
        }
      }
      const Property* p = FindProperty(e, property, timeoutMs);
      Tango::DeviceProxy& proxy = Proxy(e, timeoutMs);
      if (p && !p->command && p->attribute.data_type == Tango::DEV_STRING) {
        std::string name = p->name;
        Tango::DeviceAttribute value = proxy.read_attribute(name);
        if (value.has_failed()) return FromDevFailed(Tango::DevFailed(value.get_err_stack()));
        std::vector<std::string> lines;
        value.extract_read(lines);
        for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + lines[i];
        return {};
      }
      if (property == "SRVVERSION") {
        const Tango::DeviceInfo& info = proxy.info();
        text = info.server_id + " IDL " + std::to_string(info.server_version);
        return {};
      }
      if (property == "SRVSTARTTIME" && !e.started.empty()) {
        text = CheckerDate(e.started);
        return {};
      }
      // The server answered but cannot tell; make sure it did answer, so that
      // a dead server reads as unreachable rather than as silent.
      proxy.ping();
      return {kTangoUnknownProperty, "the server does not tell its " + property};
    } catch (const Tango::DevFailed& failure) {
      return FromDevFailed(failure);
    } catch (const CORBA::Exception&) {
      return {kCodeServerUnavailable45, "the device server cannot be reached"};
    }
  }

  // The record list of PROPS; attributes first.
  std::vector<Property>* Properties(DeviceEntry& e, int32_t timeoutMs, bool fresh, Outcome& o) {
    try {
      if (fresh || !e.listed) LoadProperties(e, timeoutMs);
      return &e.properties;
    } catch (const Tango::DevFailed& failure) {
      o = FromDevFailed(failure);
    } catch (const CORBA::Exception&) {
      o = {kCodeServerUnavailable45, "the device server cannot be reached"};
    }
    return nullptr;
  }

 private:
  static Outcome Remember(DeviceEntry& e, Outcome o) {
    if (o.reconnectDelayed && e.lastTimeout) return *e.lastTimeout;
    if (o.code == kCodeLinkTimeout)
      e.lastTimeout = o;
    else
      e.lastTimeout.reset();
    return o;
  }

  Site site_;
  Clock& clock_;
  std::deque<ContextEntry> contexts_;
  std::map<std::string, DeviceEntry> devices_;
  std::string databaseFault_;
};

TangoLibrary::TangoLibrary(Site site, Clock& clock)
    : system_(std::make_shared<TangoSystem>(std::move(site), clock)) {}
TangoLibrary::~TangoLibrary() = default;

const Site& TangoLibrary::site() const { return system_->site(); }

int16_t TangoLibrary::T_EXECLINK(const std::string& device, const std::string& property,
                                 DataDescriptor& out, std::span<uint8_t> outData,
                                 const DataDescriptor& in, std::span<const uint8_t> inData,
                                 int16_t /*access*/, int32_t timeoutMs) {
  TangoSystem& s = *system_;
  // The name server: "ENS" (the first context) or "ENS/<context>". NTAGS
  // asks a discovered context's database afresh; TAGS lists what it said.
  if (device == "ENS" || device.rfind("ENS/", 0) == 0) {
    ContextEntry* c = device == "ENS" ? &s.contexts().front() : s.FindContext(device.substr(4));
    if (!c) return kTangoUnknownContext;
    if (property == "NTAGS" || !c->serversKnown) {
      const Outcome o = s.ListServers(*c, timeoutMs);
      if (o.code != 0) return o.code;
    }
    if (property == "NTAGS") return PutShort(static_cast<int64_t>(c->servers.size()), outData);
    if (property != "TAGS") return kTangoUnknownProperty;
    std::vector<std::string> names;
    for (const auto& server : c->servers) names.push_back(server->name);
    PutNames(names, out.count, outData);
    return kCodeSuccess;
  }
  // A server by its name alone: its device list, likewise.
  if (device.empty() || device[0] != '/') {
    Outcome fault;
    ContextEntry* c = nullptr;
    std::shared_ptr<ServerEntry> server = s.FindServer(device, &c, fault);
    if (!server) return fault.code;
    if (property == "NDEVICES" || !server->devicesKnown) {
      const Outcome o = s.ListDevices(*c, *server, timeoutMs);
      if (o.code != 0) return o.code;
    }
    if (property == "NDEVICES")
      return PutShort(static_cast<int64_t>(server->devices.size()), outData);
    if (property != "DEVICES") return kTangoUnknownProperty;
    std::vector<std::string> names;
    for (const SiteDevice& d : server->devices) names.push_back(d.name);
    PutNames(names, out.count, outData);
    return kCodeSuccess;
  }
  Outcome fault;
  DeviceEntry* e = s.DeviceAt(device, fault);
  if (!e) return fault.code;
  if (property == "NPROPS" || property == "PROPS") {
    // NPROPS asks the server afresh, so the list the operator sees is the
    // server's current one; the PROPS that follows reads the same list.
    std::vector<Property>* list = s.Properties(*e, timeoutMs, property == "NPROPS", fault);
    if (!list) return fault.code;
    if (property == "NPROPS")
      return PutShort(std::count_if(list->begin(), list->end(),
                                    [](const Property& p) { return p.name.size() <= 32; }),
                      outData);
    const size_t records = std::min(static_cast<size_t>(std::max(out.count, 0)) / kLongRecord,
                                    outData.size() / kLongRecord);
    size_t k = 0;
    for (const Property& p : *list) {
      // A name longer than the record's 32 characters could not be accessed
      // by what the record says, so it is not listed.
      if (k >= records || p.name.size() > 32) continue;
      uint8_t* rec = outData.data() + k * kLongRecord;
      std::memset(rec, 0, kLongRecord);
      std::memcpy(rec, p.name.data(), p.name.size());
      std::memcpy(rec + 168, &p.declared.count, 4);
      rec[184] = static_cast<uint8_t>(p.declared.format - kFormatBase);
      ++k;
    }
    return kCodeSuccess;
  }
  Outcome o = s.Access(*e, property, outData, out.count, out.format, inData, in.count, in.format,
                       timeoutMs);
  return o.code;
}

int16_t TangoLibrary::EXECLINKEx(const std::string& device, const std::string& property,
                                 DataDescriptor& out, std::span<uint8_t> outData,
                                 const DataDescriptor& in, std::span<const uint8_t> inData,
                                 int16_t access, int32_t timeoutMs) {
  static const char* const kServerTexts[] = {"SRVVERSION", "SRVSTARTTIME", "APPVERSION", "APPDATE",
                                             "SRVSELFTEST"};
  if (std::find(std::begin(kServerTexts), std::end(kServerTexts), property) ==
      std::end(kServerTexts))
    return T_EXECLINK(device, property, out, outData, in, inData, access, timeoutMs);
  Outcome fault;
  DeviceEntry* e = system_->DeviceAt(device, fault);
  if (!e) return fault.code;
  std::string text;
  Outcome o = system_->ServerText(*e, property, text, timeoutMs);
  // A server that lets its own information time out is not answering: so the
  // information says "unavailable", not that the server is too old to tell.
  if (o.code == kCodeLinkTimeout) return kCodeServerUnavailable45;
  if (o.code != 0) return o.code;
  // A text of exactly the asked length has no terminating zero, as with any
  // TEXT value.
  const size_t n = std::min(static_cast<size_t>(std::max(out.count, 0)), outData.size());
  const size_t copied = std::min(n, text.size());
  std::memcpy(outData.data(), text.data(), copied);
  std::memset(outData.data() + copied, 0, n - copied);
  return kCodeSuccess;
}

int16_t TangoLibrary::T_GETCONTEXTS(std::span<uint8_t> names, int32_t& count) {
  std::vector<std::string> list;
  for (const SiteContext& c : system_->site().contexts) list.push_back(c.name);
  PutNames(list, count, names);
  count = static_cast<int32_t>(list.size());
  return kCodeSuccess;
}

int16_t TangoLibrary::RPCERR(int16_t code, std::span<char> text) {
  auto it = ErrorTexts().find(code);
  if (it == ErrorTexts().end() || text.empty()) return 1;
  // The database that could not be reached is named.
  const std::string& message =
      code == kTangoDatabaseUnreachable && !system_->databaseFault().empty()
          ? system_->databaseFault()
          : it->second;
  const size_t n = std::min(message.size(), text.size());
  std::memcpy(text.data(), message.data(), n);
  if (n < text.size()) text[n] = '\0';
  return 0;
}

bool TangoLibrary::FindNames(std::string& context, std::string& server, std::string& device) {
  TangoSystem& s = *system_;
  Outcome fault;
  ContextEntry* c = nullptr;
  if (!context.empty() && !(c = s.FindContext(context))) return false;
  std::shared_ptr<ServerEntry> found;
  if (!server.empty()) {
    found = c ? s.ServerIn(*c, server, fault) : s.FindServer(server, &c, fault);
    if (!found) return false;
  } else if (!device.empty() && device != "#0") {
    // A device alone: the database says which server it belongs to; a
    // hand-listed site is searched.
    for (ContextEntry& candidate : s.contexts()) {
      if (c && &candidate != c) continue;
      if (candidate.site->database) {
        try {
          std::string name = device;
          const Tango::DbDevFullInfo info =
              s.Database(candidate, kDefaultTimeoutMs).get_device_info(name);
          found = s.ServerIn(candidate, info.ds_full_name, fault);
        } catch (const Tango::DevFailed&) {
        }
      }
      for (size_t i = 0; !found && i < candidate.servers.size(); ++i) {
        for (const SiteDevice& d : candidate.servers[i]->devices)
          if (SameName(d.name, device) || SameName(d.tangoName, device))
            found = candidate.servers[i];
      }
      if (found) {
        c = &candidate;
        break;
      }
    }
    if (!found) return false;
  }
  if (!c) return false;
  std::string foundDevice = device;
  if (found && !device.empty()) {
    const SiteDevice* d = s.DeviceIn(*c, *found, device, fault);
    if (!d) return false;
    if (device != "#0") foundDevice = d->name;
  }
  context = c->site->name;
  if (found) server = found->name;
  device = foundDevice;
  return true;
}

ClientLibrary::LongNames TangoLibrary::LongNameOf(const std::string& context,
                                                  const std::string& server,
                                                  const std::string& device) {
  TangoSystem& s = *system_;
  Outcome fault;
  ContextEntry* c = context.empty() ? nullptr : s.FindContext(context);
  if (!context.empty() && !c) return {};
  if (server.empty()) {
    if (!c) return {};
    return {c->site->database ? c->site->host + ":" + std::to_string(c->site->port) : "", ""};
  }
  std::shared_ptr<ServerEntry> found =
      c ? s.ServerIn(*c, server, fault) : s.FindServer(server, &c, fault);
  if (!found) return {};
  if (device.empty()) return {found->instance, ""};
  const SiteDevice* d = s.DeviceIn(*c, *found, device, fault);
  if (!d) return {};
  LongNames names{d->tangoName, ""};
  // The host: the database's record of the device, or the site's endpoint.
  if (device == "#0" && c->site->database) {
    try {
      std::string name = d->tangoName;
      names.host = s.Database(*c, kDefaultTimeoutMs).get_device_info(name).host;
    } catch (const Tango::DevFailed&) {
    }
  } else if (device == "#0") {
    names.host = c->site->host;
  }
  return names;
}

namespace {

// Zorbel1 over Tango. A synchronous access completes inside the call, bounded
// by LinkTimeout through the proxy's own time-out. POLL and REFRESH read
// again each pollMs of the context; the reads happen, and their completion
// events reach the handler, only inside ProcessEvents, so nothing arrives
// behind the engine's back. REFRESH reads like POLL and reports only a
// changed value: Tango's change events would need polling configured in the
// server, which a checker has no business changing.
class TangoControl final : public NamedControl {
 public:
  explicit TangoControl(std::shared_ptr<TangoSystem> system) : system_(std::move(system)) {}

  std::vector<ErrorFrame> ErrorStack() const override {
    return last_.code != 0 ? last_.stack : std::vector<ErrorFrame>{};
  }

  std::string SuccessNote() const override { return last_.code == 0 ? last_.detail : ""; }

  std::string StatusText() const override {
    if (last_.code != 0 && !last_.detail.empty()) return last_.detail;
    auto it = ErrorTexts().find(last_.code);
    if (it != ErrorTexts().end()) return it->second;
    return "completion code " + std::to_string(last_.code);
  }

  int32_t ExecuteAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                        std::span<const uint8_t> in, int32_t inCount, int16_t inFormat) override {
    DeviceEntry* e = system_->Device(context_, server_, device_, last_);
    if (e)
      last_ = system_->Access(*e, property_, out, outCount, outFormat, in, inCount, inFormat,
                              linkTimeout_);
    return last_.code;
  }

  int32_t StartAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                      std::span<const uint8_t> in, int32_t inCount, int16_t inFormat) override {
    StopAccess();
    Pending& a = pending_;
    a.entry = system_->Device(context_, server_, device_, last_);
    if (!a.entry) return -last_.code;
    a.Begin(out, outCount, outFormat, DeliveryOfMode(), a.entry->context->pollMs);
    a.property = property_;
    a.timeoutMs = linkTimeout_;
    a.input.clear();
    a.resend = false;
    if (inCount > 0 && FormatElementSize(inFormat) > 0) {
      // The input goes out now; its answer is the first delivery. A command
      // that takes input gets the same input at every later poll.
      const size_t bytes =
          std::min(in.size(),
                   static_cast<size_t>(inCount) * static_cast<size_t>(FormatElementSize(inFormat)));
      a.input.assign(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(bytes));
      a.inCount = inCount;
      a.inFormat = inFormat;
      a.firstAnswer.assign(OutputBytes(out, outCount, outFormat), 0);
      last_ = system_->Access(*a.entry, a.property, a.firstAnswer, outCount, outFormat, a.input,
                              inCount, inFormat, linkTimeout_);
      if (last_.code != 0) return -last_.code;
      a.haveFirstAnswer = true;
      const Property* p = system_->FindProperty(*a.entry, a.property, linkTimeout_);
      a.resend = p && p->command && p->commandInfo.in_type != Tango::DEV_VOID;
    }
    a.dueMs = system_->clock().NowMs();
    a.active = true;
    last_ = {};
    return 0;
  }

  void StopAccess() override {
    pending_.active = false;
    pending_.out = {};
  }

  void setCompletionHandler(CompletionHandler handler) override { handler_ = std::move(handler); }

  void ProcessEvents() override {
    Pending& a = pending_;
    if (!a.active) return;
    const int64_t now = system_->clock().NowMs();
    if (now < a.dueMs) return;
    const size_t bytes = OutputBytes(a.out, a.outCount, a.outFormat);
    Outcome o;
    if (a.haveFirstAnswer) {
      scratch_ = a.firstAnswer;
      a.haveFirstAnswer = false;
    } else {
      scratch_.assign(bytes, 0);
      const std::span<const uint8_t> input =
          a.resend ? std::span<const uint8_t>(a.input) : std::span<const uint8_t>();
      o = system_->Access(*a.entry, a.property, scratch_, a.outCount, a.outFormat, input,
                          a.resend ? a.inCount : 0, a.resend ? a.inFormat : kFormatNull,
                          a.timeoutMs);
    }
    // The next read is a period after this one ended, so a slow server is
    // not asked again before it has answered.
    a.dueMs = system_->clock().NowMs() + a.periodMs;
    if (!a.Take(o.code, scratch_)) return;
    last_ = o;
    if (handler_) handler_(0, o.code);
  }

 private:
  struct Pending : AsyncAccess {
    DeviceEntry* entry = nullptr;
    std::string property;
    int32_t timeoutMs = 0;
    std::vector<uint8_t> input;  // sent again at every poll when `resend`
    int32_t inCount = 0;
    int16_t inFormat = kFormatNull;
    bool resend = false;
  };

  std::shared_ptr<TangoSystem> system_;
  Outcome last_;
  Pending pending_;
  std::vector<uint8_t> scratch_;
  CompletionHandler handler_;
};

}  // namespace

std::unique_ptr<DataAcquisitionControl> MakeTangoControl(TangoLibrary& library) {
  return std::make_unique<TangoControl>(library.system());
}

}  // namespace dsc::tango
