// The client library over Tango: the name server, the server information,
// the contexts, the error texts and the names typed by people.

#include <algorithm>
#include <cstring>

#include "access/CompletionCodes.h"
#include "access/NameServer.h"
#include "tango/TangoSystem.h"

namespace dsc::tango {

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

TangoLibrary::TangoLibrary(Site site, Clock& clock)
    : system_(std::make_shared<TangoSystem>(std::move(site), clock)) {}
TangoLibrary::~TangoLibrary() = default;

const Site& TangoLibrary::site() const { return system_->site(); }

int16_t TangoLibrary::T_EXECLINK(const std::string& device, const std::string& property,
                                 DataDescriptor& out, std::span<uint8_t> outData,
                                 const DataDescriptor& in, std::span<const uint8_t> inData,
                                 int16_t /*access*/, int32_t timeoutMs) {
  TangoSystem& s = *system_;
  if (std::optional<int16_t> code = AnswerNameServer(s, device, property, out, outData, timeoutMs))
    return *code;
  Outcome fault;
  DeviceEntry* e = s.DeviceAt(device, fault);
  if (!e) return fault.code;
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
  WriteName(outData.data(), std::min(static_cast<size_t>(std::max(out.count, 0)), outData.size()),
            text);
  return kCodeSuccess;
}

int16_t TangoLibrary::T_GETCONTEXTS(std::span<uint8_t> names, int32_t& count) {
  std::vector<std::string> list;
  for (const SiteContext& c : system_->site().contexts) list.push_back(c.name);
  WriteNameSlots(names, list, static_cast<size_t>(std::max(count, 0)));
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

bool TangoLibrary::FindNames(std::string& context, std::string& server, std::string& device,
                             int16_t* code) {
  TangoSystem& s = *system_;
  Outcome fault;
  // Not found: not listed (0), or the database that was asked did not answer.
  auto notFound = [&] {
    if (code) *code = fault.code == kTangoDatabaseUnreachable ? fault.code : 0;
    return false;
  };
  ContextEntry* c = nullptr;
  if (!context.empty() && !(c = s.FindContext(context))) return notFound();
  std::shared_ptr<ServerEntry> found;
  if (!server.empty()) {
    found = c ? s.ServerIn(*c, server, fault) : s.FindServer(server, &c, fault);
    if (!found) return notFound();
  } else if (!device.empty() && device != "#0") {
    // A device alone: the database says which server it belongs to; a
    // hand-listed site is searched.
    for (ContextEntry& candidate : s.contexts()) {
      if (c && &candidate != c) continue;
      if (candidate.site->database) {
        try {
          std::string name = device;
          const Tango::DbDevFullInfo info =
              s.AskDatabase(candidate, kDefaultTimeoutMs,
                            [&](Tango::Database& db) { return db.get_device_info(name); });
          found = s.ServerIn(candidate, info.ds_full_name, fault);
        } catch (const Tango::DevFailed& e) {
          // Said where nothing else finds the device; the hand-listed
          // servers are still searched.
          if (s.DatabaseFault(candidate, e).code == kTangoDatabaseUnreachable)
            fault = {kTangoDatabaseUnreachable, s.databaseFault()};
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
    if (!found) return notFound();
  }
  if (!c) return notFound();
  std::string foundDevice = device;
  if (found && !device.empty()) {
    const SiteDevice* d = s.DeviceIn(*c, *found, device, fault);
    if (!d) return notFound();
    if (device != "#0") foundDevice = d->name;
  }
  if (code) *code = 0;
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
    // A database by its identity, however its address was spelled; beside
    // it, the name its context had when contexts were named by the spelling
    // of TANGO_HOST, under which older test files are stored.
    const std::string spelled = c->site->host + ":" + std::to_string(c->site->port);
    return {c->identities.empty() ? "" : c->identities.front(),
            c->site->database ? ShortNames({spelled}, {}).front() : ""};
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
      names.host = s.AskDatabase(*c, kDefaultTimeoutMs, [&](Tango::Database& db) {
        return db.get_device_info(name).host;
      });
    } catch (const Tango::DevFailed&) {
    }
  } else if (device == "#0") {
    names.host = c->site->host;
  }
  return names;
}

void TangoLibrary::setDatabaseDirectory(const std::string& path) {
  system_->setNamesDirectory(path.empty() || path.back() == '/' ? path : path + "/");
}

}  // namespace dsc::tango
