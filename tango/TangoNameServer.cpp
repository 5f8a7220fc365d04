// A Tango site's directory as the name server reads it: the servers of a
// context, the devices of a server and the property records of a device.
// The protocol and the bytes of its answers are the access layer's
// (access/NameServer.h).

#include <algorithm>

#include "access/CompletionCodes.h"
#include "access/NameServer.h"
#include "tango/TangoSystem.h"

namespace dsc::tango {

namespace {

class SiteDirectory final : public Directory {
 public:
  explicit SiteDirectory(TangoSystem& s) : s_(s) {}

  // NTAGS asks a discovered context's database afresh; TAGS lists what it said.
  int16_t ListServers(const NameServerCall& call, NameList& list) override {
    ContextEntry* c = Context(call.address);
    if (!c) return kTangoUnknownContext;
    if (call.query == NameQuery::ServerCount || !c->serversKnown) {
      const Outcome o = s_.ListServers(*c, call.timeoutMs);
      if (o.code != 0) return o.code;
    }
    for (const auto& server : c->servers) list.own.push_back(server->name);
    list.names = list.own;
    return kCodeSuccess;
  }

  // A server by its name alone: its device list, likewise.
  int16_t ListDevices(const NameServerCall& call, NameList& list) override {
    Outcome fault;
    ContextEntry* c = nullptr;
    std::shared_ptr<ServerEntry> server = s_.FindServer(std::string(call.name), &c, fault);
    if (!server) return fault.code;
    if (call.query == NameQuery::DeviceCount || !server->devicesKnown) {
      const Outcome o = s_.ListDevices(*c, *server, call.timeoutMs);
      if (o.code != 0) return o.code;
    }
    for (const SiteDevice& d : server->devices) list.own.push_back(d.name);
    list.names = list.own;
    return kCodeSuccess;
  }

  // NPROPS asks the server afresh, so the list the operator sees is the
  // server's current one; the PROPS that follows reads the same list.
  int16_t ListProperties(const NameServerCall& call, PropertyList& list) override {
    Outcome fault;
    DeviceEntry* e = s_.DeviceAt(std::string(call.address), fault);
    if (!e) return fault.code;
    std::vector<Property>* properties =
        s_.Properties(*e, call.timeoutMs, call.query == NameQuery::PropertyCount, fault);
    if (!properties) return fault.code;
    for (const Property& p : *properties) {
      // A name longer than the record's 32 characters could not be accessed
      // by what the record says, so it is not listed.
      if (p.name.size() <= kPropertyNameWidth)
        list.properties.push_back({p.name, p.declared.count, p.declared.format});
    }
    return kCodeSuccess;
  }

  // "ENS" is the first context.
  ContextEntry* Context(std::string_view address) {
    return address == "ENS" ? &s_.contexts().front()
                            : s_.FindContext(std::string(address.substr(4)));
  }

 private:
  TangoSystem& s_;
};

}  // namespace

std::optional<int16_t> AnswerNameServer(TangoSystem& s, const std::string& device,
                                        const std::string& property, DataDescriptor& out,
                                        std::span<uint8_t> outData, int32_t timeoutMs) {
  SiteDirectory directory(s);
  NameServerCall call = NameServerCallOf(device, property);
  if (call.query == NameQuery::None) {
    // The name server and a server's bare name have no other properties.
    if (device == "ENS" || device.starts_with("ENS/"))
      return directory.Context(device) ? kTangoUnknownProperty : kTangoUnknownContext;
    if (device.empty() || device[0] != '/') {
      Outcome fault;
      return s.FindServer(device, nullptr, fault) ? kTangoUnknownProperty : fault.code;
    }
    return std::nullopt;
  }
  call.timeoutMs = timeoutMs;
  int32_t delivered = 0;
  return ::dsc::AnswerNameServer(directory, call, {outData, out.count, out.format}, delivered);
}

}  // namespace dsc::tango
