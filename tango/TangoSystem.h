#pragma once

// What the Tango library and its controls share: the site, the servers of
// discovered contexts and one proxy per device. Private to the backend: only
// it sees Tango's headers.

#include <tango.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Clock.h"
#include "base/Letters.h"
#include "tango/TangoBackend.h"
#include "tango/TangoSite.h"
#include "tango/TangoValues.h"

namespace dsc::tango {

inline constexpr int32_t kDefaultTimeoutMs = 3000;

// The texts RPCERR gives for the checker's codes and the backend's own.
const std::map<int32_t, std::string>& ErrorTexts();

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
  // A database that ran into its time-out (or took as long to fail) is not
  // asked again while it is held: each query until then fails at once with
  // the same fault, so a hung database costs a run one time-out, not one per
  // query.
  std::optional<Tango::DevFailed> held;
  int64_t heldUntilMs = 0;
  // Which of the database's addresses is used: 0 the context's host and
  // port, then its alternates; the next one after a failure to reach it.
  size_t address = 0;
  // The database's identity (TangoHostIdentity) for each address.
  std::vector<std::string> identities;
  std::string HostPort() const;  // the address in use, "host:port"
  // Short names given before, kept in the database directory: by
  // "S\t<instance>" and "D\t<instance>\t<device>", lower case.
  std::map<std::string, std::string> kept;
  bool keptLoaded = false;
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
  int64_t lastTimeoutMs = 0;
  bool listed = false;
  int64_t listedMs = 0;           // when the list was loaded (monotonic)
  std::set<std::string> missing;  // lower-case names the list lacked since
  std::vector<Property> properties;
  std::map<std::string, size_t> byName;  // lower case: Tango names ignore case
  // What the database recorded when the proxy was made.
  std::string host, started, deviceClass;
};

// Everything the library and its controls share: the site, the servers of
// discovered contexts and one proxy per device, made on first use. Tango
// reconnects a proxy by itself once its server is back, so a proxy is kept
// for the whole session. Names compare as Tango's do, case ignored.
//
// The directory (contexts, servers, devices and their names) is in
// TangoDirectory.cpp, the connections and property lists in
// TangoConnections.cpp, the accesses in TangoAccess.cpp.
class TangoSystem {
 public:
  TangoSystem(Site site, Clock& clock);

  const Site& site() const { return site_; }
  Clock& clock() { return clock_; }
  std::deque<ContextEntry>& contexts() { return contexts_; }
  const std::string& databaseFault() const { return databaseFault_; }
  // Where the short names given are kept, so that they never move; empty:
  // nowhere, each listing derives them afresh.
  void setNamesDirectory(std::string directory) { namesDirectory_ = std::move(directory); }
  // How many property lists were loaded from devices, for the tests.
  int propertyLoads() const { return propertyLoads_; }

  // The directory.
  ContextEntry* FindContext(const std::string& name);
  Outcome ListServers(ContextEntry& c, int32_t timeoutMs);
  Outcome ListDevices(ContextEntry& c, ServerEntry& server, int32_t timeoutMs);
  std::shared_ptr<ServerEntry> ServerIn(ContextEntry& c, const std::string& name, Outcome& fault);
  std::shared_ptr<ServerEntry> FindServer(const std::string& name, ContextEntry** context,
                                          Outcome& fault);
  const SiteDevice* DeviceIn(ContextEntry& c, ServerEntry& s, const std::string& name,
                             Outcome& fault);
  DeviceEntry* Device(const std::string& context, const std::string& server,
                      const std::string& device, Outcome& fault);
  ContextEntry& EntryOf(const SiteContext* site);
  DeviceEntry* DeviceAt(const std::string& address, Outcome& fault);

  // The connections. Every database query goes through AskDatabase: it
  // runs under the query's time-out, first contact included, and a database
  // that did not answer in time is held (ContextEntry::held).
  template <class Query>
  auto AskDatabase(ContextEntry& c, int32_t timeoutMs, Query&& query) {
    const int64_t startMs = BeforeDatabaseQuery(c);
    try {
      return query(Database(c, timeoutMs));
    } catch (const Tango::DevFailed& e) {
      AfterDatabaseFailure(c, e, startMs, timeoutMs);
      throw;
    }
  }
  Outcome DatabaseFault(ContextEntry& c, const Tango::DevFailed& e);
  // A failure of a call on a device as Tango tells it, but with the database's
  // own code where Proxy could not reach the database on the way: it is the
  // database that did not answer, not the server.
  static Outcome FaultOf(const Tango::DevFailed& failure);
  Tango::DeviceProxy& Proxy(DeviceEntry& e, int32_t timeoutMs);
  void LoadProperties(DeviceEntry& e, int32_t timeoutMs);
  const Property* FindProperty(DeviceEntry& e, const std::string& name, int32_t timeoutMs);
  std::vector<Property>* Properties(DeviceEntry& e, int32_t timeoutMs, bool fresh, Outcome& o);

  // The accesses.
  // `tolerance` is the command's (engine/TestPlan.h): how far a set point
  // read back may be from what was written.
  Outcome Access(DeviceEntry& e, const std::string& property, std::span<uint8_t> out,
                 int32_t outCount, int16_t outFormat, std::span<const uint8_t> in, int32_t inCount,
                 int16_t inFormat, int32_t timeoutMs, const std::string& tolerance = {});
  // Reads take their numbers out for the facts too (a capture needs them).
  void setWantNumbers(bool want) { wantNumbers_ = want; }
  Outcome ServerText(DeviceEntry& e, const std::string& property, std::string& text,
                     int32_t timeoutMs);

 private:
  Outcome TryAccess(DeviceEntry& e, const std::string& property, std::span<uint8_t> out,
                    int32_t outCount, int16_t outFormat, std::span<const uint8_t> in,
                    int32_t inCount, int16_t inFormat, int32_t timeoutMs,
                    const std::string& tolerance);
  struct Verdict {
    std::string note;  // beside success, or the failure's text
    bool fails = false;
    int16_t code = 0;
  };
  Verdict Judge(DeviceEntry& e, const Property& p, Tango::DeviceAttribute& value,
                const DataAcquisitionControl::ValueFacts& facts, const std::vector<double>& written,
                const std::string& tolerance, int32_t outCount);
  const std::vector<std::string>& ExpectedStates(DeviceEntry& e);
  Outcome TryServerText(DeviceEntry& e, const std::string& property, std::string& text,
                        int32_t timeoutMs);
  Outcome Remember(DeviceEntry& e, int32_t timeoutMs, const std::function<Outcome()>& ask);
  Tango::Database& Database(ContextEntry& c, int32_t timeoutMs);
  int64_t BeforeDatabaseQuery(ContextEntry& c);
  void AfterDatabaseFailure(ContextEntry& c, const Tango::DevFailed& e, int64_t startMs,
                            int32_t timeoutMs);
  std::string KeptNamesPath(const ContextEntry& c) const;
  std::vector<std::pair<std::string, std::string>> KeptNames(ContextEntry& c,
                                                             const std::string& prefix);
  void KeepNames(ContextEntry& c, const std::string& prefix, const std::vector<std::string>& tango,
                 const std::vector<std::string>& names);

  Site site_;
  Clock& clock_;
  std::deque<ContextEntry> contexts_;
  std::map<std::string, DeviceEntry> devices_;
  std::string databaseFault_;
  std::string namesDirectory_;
  int propertyLoads_ = 0;
  bool wantNumbers_ = false;
};

// The name server (access/NameServer.h) over the directory: "ENS"
// (NTAGS/TAGS), a server by its name alone (NDEVICES/DEVICES) and a device's
// property records (NPROPS/PROPS). Nothing when the call is none of these.
std::optional<int16_t> AnswerNameServer(TangoSystem& s, const std::string& device,
                                        const std::string& property, DataDescriptor& out,
                                        std::span<uint8_t> outData, int32_t timeoutMs);

}  // namespace dsc::tango
