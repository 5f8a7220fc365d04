// Connections to Tango: the databases and one proxy per device, their
// time-outs, and the property lists loaded through them.

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>

#include "access/CompletionCodes.h"
#include "tango/TangoSystem.h"
// After Tango's headers, which bring omniORB's in their order.
#include <omniORB4/internal/orbParameters.h>

namespace dsc::tango {

namespace {

// Tango connects, and reconnects after a failed call, under the ORB's call
// time-out, not the proxy's, and tries more than once: a database's first
// contact three times, a device reached through a database twice. A device
// reached without one is connected by asking the server itself, in the
// proxy's construction twice and in the access that follows twice more. With
// that time-out the access's share, a server or database hung from the start
// costs an access its own time-out once, not six or nine seconds. The
// proxy's and the database's own time-outs (set_timeout_millis) are per
// object and take precedence, so an answered connection's calls keep theirs.
// (A deadline shared by an access's attempts would outlive the access and
// fail the thread's later calls on objects without a time-out of their own.)
//
// The time-out is the calling thread's, so servers checked side by side
// (--jobs) each keep their own. omniORB looks for a thread's time-out only
// when its supportPerThreadTimeOut parameter says so (it is read at every
// call, so the ORB may have been started by anyone first), and keeps it only
// for an omni_thread: a thread it did not start gets a dummy one for the
// rest of its life.
void BoundConnections(int32_t ms, int32_t tries) {
  static const bool started = [] {
    Tango::ApiUtil* api = Tango::ApiUtil::instance();
    if (CORBA::is_nil(api->get_orb())) api->create_orb();
    omni::orbParameters::supportPerThreadTimeOut = true;
    return true;
  }();
  struct ThreadBound {
    omni_thread::ensure_self self;
    int32_t ms = -1;
  };
  thread_local ThreadBound bound;
  const int32_t each = std::max(ms / tries, 1);
  if (started && std::exchange(bound.ms, each) != each)
    omniORB::setClientThreadCallTimeout(static_cast<CORBA::ULong>(each));
}

constexpr int32_t kProxyTries = 2;
constexpr int32_t kDirectProxyTries = 4;
constexpr int32_t kDatabaseTries = Tango::DB_START_PHASE_RETRIES;

// Where Proxy's own failures say they come from (FaultOf reads it).
constexpr const char* kProxyOrigin = "TangoSystem::Proxy";

// How long a database that did not answer in time is held, from the last
// query it refused: a run that keeps asking keeps it held, a window whose
// operator tries again half a minute later asks it afresh.
constexpr int64_t kDatabaseHoldMs = 30000;

}  // namespace

std::string ContextEntry::HostPort() const {
  if (address == 0 || address > site->alternates.size())
    return site->host + ":" + std::to_string(site->port);
  const auto& [host, port] = site->alternates[address - 1];
  return host + ":" + std::to_string(port);
}

// The database of a context, connected under the call's time-out.
Tango::Database& TangoSystem::Database(ContextEntry& c, int32_t timeoutMs) {
  const int32_t ms = timeoutMs > 0 ? timeoutMs : kDefaultTimeoutMs;
  BoundConnections(ms, kDatabaseTries);
  if (!c.database) {
    std::string host = c.address == 0 ? c.site->host : c.site->alternates[c.address - 1].first;
    const int port = c.address == 0 ? c.site->port : c.site->alternates[c.address - 1].second;
    c.database = std::make_unique<Tango::Database>(host, port);
  }
  c.database->set_timeout_millis(ms);
  return *c.database;
}

int64_t TangoSystem::BeforeDatabaseQuery(ContextEntry& c) {
  const int64_t now = clock_.MonotonicMs();
  if (c.held && now < c.heldUntilMs) {
    c.heldUntilMs = now + kDatabaseHoldMs;
    throw *c.held;
  }
  c.held.reset();
  return now;
}

// A time-out, or a failure that took half the time-out to come (a name
// server that does not answer, say), holds the database; a refusal that
// came at once (DataBaseds not running) does not: it costs nothing to ask
// again.
void TangoSystem::AfterDatabaseFailure(ContextEntry& c, const Tango::DevFailed& e, int64_t startMs,
                                       int32_t timeoutMs) {
  const int64_t now = clock_.MonotonicMs();
  const int32_t ms = timeoutMs > 0 ? timeoutMs : kDefaultTimeoutMs;
  if (FromDevFailed(e).code == kCodeLinkTimeout || now - startMs >= ms / 2) {
    c.held = e;
    c.heldUntilMs = now + kDatabaseHoldMs;
  }
}

// A failed database call as the checker reports it: the database's
// host:port and Tango's reason.
Outcome TangoSystem::DatabaseFault(ContextEntry& c, const Tango::DevFailed& e) {
  Outcome o = FromDevFailed(e);
  databaseFault_ = "the Tango database at " + c.HostPort() + " cannot be reached";
  if (o.code == kCodeServerUnavailable45 || o.code == kCodeLinkTimeout) {
    o.code = kTangoDatabaseUnreachable;
    o.detail = databaseFault_ + (o.detail.empty() ? "" : ": " + o.detail);
    // The next call tries the database's next address, if it has one.
    if (!c.site->alternates.empty()) {
      // A hold is the address's, not the database's: the next one is asked.
      c.database.reset();
      c.held.reset();
      c.address = (c.address + 1) % (c.site->alternates.size() + 1);
    }
  }
  return o;
}

Tango::DeviceProxy& TangoSystem::Proxy(DeviceEntry& e, int32_t timeoutMs) {
  const int32_t ms = timeoutMs > 0 ? timeoutMs : kDefaultTimeoutMs;
  const int32_t tries = e.context->database ? kProxyTries : kDirectProxyTries;
  BoundConnections(ms, tries);
  if (!e.proxy) {
    if (e.context->database) {
      // The database knows whether the server runs: one that is not
      // exported answers at once instead of costing time-outs.
      std::string name = e.device.tangoName;
      Tango::DbDevFullInfo info;
      try {
        info = AskDatabase(EntryOf(e.context), ms,
                           [&](Tango::Database& db) { return db.get_device_info(name); });
      } catch (const Tango::DevFailed& failure) {
        const Outcome o = DatabaseFault(EntryOf(e.context), failure);
        if (o.code != kTangoDatabaseUnreachable) throw;
        Tango::Except::throw_exception("API_CantConnectToDatabase", databaseFault_, kProxyOrigin);
      }
      e.host = info.host;
      e.started = info.started_date;
      e.deviceClass = info.class_name;
      if (!info.exported)
        Tango::Except::throw_exception("API_DeviceNotExported",
                                       "server " + e.server->instance + " is not running (" + name +
                                           " is not exported in the database)",
                                       kProxyOrigin);
    }
    // Through the database address in use.
    std::string address =
        e.context->database ? "tango://" + EntryOf(e.context).HostPort() + "/" + e.device.tangoName
                            : TangoAddress(*e.context, e.device);
    // The database's query left its own share.
    if (e.context->database) BoundConnections(ms, tries);
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
void TangoSystem::LoadProperties(DeviceEntry& e, int32_t timeoutMs) {
  Tango::DeviceProxy& proxy = Proxy(e, timeoutMs);
  std::unique_ptr<Tango::AttributeInfoListEx> attributes(proxy.attribute_list_query_ex());
  std::unique_ptr<Tango::CommandInfoList> commands(proxy.command_list_query());
  e.properties.clear();
  e.byName.clear();
  auto add = [&](Property p) {
    if (e.byName.emplace(LowerCase(p.name), e.properties.size()).second)
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
  ++propertyLoads_;
  e.listedMs = clock_.MonotonicMs();
  e.missing.clear();
}

// A list loaded within this long is the server's current one: what a
// standard test asks for a device (its information, its property query)
// comes within it, and costs one load, not one per name the device lacks.
constexpr int64_t kFreshListMs = 1000;

// A name an older list lacks reloads it once (the server may have been
// restarted with other attributes); after that it is remembered as missing
// until the list is loaded again.
const Property* TangoSystem::FindProperty(DeviceEntry& e, const std::string& name,
                                          int32_t timeoutMs) {
  if (!e.listed) LoadProperties(e, timeoutMs);
  const std::string key = LowerCase(name);
  auto it = e.byName.find(key);
  if (it == e.byName.end() && !e.missing.count(key) &&
      clock_.MonotonicMs() - e.listedMs >= kFreshListMs) {
    LoadProperties(e, timeoutMs);
    it = e.byName.find(key);
  }
  if (it == e.byName.end()) e.missing.insert(key);
  return it == e.byName.end() ? nullptr : &e.properties[it->second];
}

// The record list of PROPS; attributes first.
std::vector<Property>* TangoSystem::Properties(DeviceEntry& e, int32_t timeoutMs, bool fresh,
                                               Outcome& o) {
  try {
    if (!e.listed || (fresh && clock_.MonotonicMs() - e.listedMs >= kFreshListMs))
      LoadProperties(e, timeoutMs);
    return &e.properties;
  } catch (const Tango::DevFailed& failure) {
    o = FaultOf(failure);
  } catch (const CORBA::Exception&) {
    o = {kCodeServerUnavailable45, "the device server cannot be reached"};
  }
  return nullptr;
}

Outcome TangoSystem::FaultOf(const Tango::DevFailed& failure) {
  Outcome o = FromDevFailed(failure);
  const Tango::DevErrorList& errors = failure.errors;
  if (errors.length() > 0 &&
      std::string_view(errors[0].reason.in()) == "API_CantConnectToDatabase" &&
      std::string_view(errors[0].origin.in()) == kProxyOrigin)
    o.code = kTangoDatabaseUnreachable;
  return o;
}

// After a time-out Tango refuses to reconnect for a second and answers every
// access in that second with an error at once. Such an access waits out the
// refusal, within its own time-out, and asks again; one that cannot is the
// earlier time-out repeated, marked so: the server was not asked.
Outcome TangoSystem::Remember(DeviceEntry& e, int32_t timeoutMs,
                              const std::function<Outcome()>& ask) {
  Outcome o = ask();
  if (o.reconnectDelayed && e.lastTimeout) {
    const int64_t now = clock_.MonotonicMs();
    const int64_t due = e.lastTimeoutMs + Tango::RECONNECTION_DELAY + 20;
    const int32_t ms = timeoutMs > 0 ? timeoutMs : kDefaultTimeoutMs;
    if (due - now < ms) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::max<int64_t>(due - now, 0)));
      o = ask();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    if (o.reconnectDelayed) {
      Outcome repeated = *e.lastTimeout;
      repeated.reconnectDelayed = true;
      return repeated;
    }
  }
  if (o.code == kCodeLinkTimeout) {
    e.lastTimeout = o;
    e.lastTimeoutMs = clock_.MonotonicMs();
  } else {
    e.lastTimeout.reset();
  }
  return o;
}

}  // namespace dsc::tango
