// The name server's protocol over a Tango site's directory: the server list
// (ENS: NTAGS, TAGS), a server's device list (NDEVICES, DEVICES) and a
// device's property records (NPROPS, PROPS: 188 bytes each).

#include <algorithm>
#include <cstring>

#include "access/CompletionCodes.h"
#include "access/Formats.h"
#include "tango/TangoSystem.h"

namespace dsc::tango {

namespace {

constexpr int32_t kLongRecord = 188;  // PROPS: name 0..31, count at 168, format at 184

int16_t PutShort(int64_t value, std::span<uint8_t> out) {
  const auto v = static_cast<int16_t>(std::clamp<int64_t>(value, 0, INT16_MAX));
  if (out.size() >= 2) std::memcpy(out.data(), &v, 2);
  return kCodeSuccess;
}

}  // namespace

void PutNames(const std::vector<std::string>& names, int32_t asked, std::span<uint8_t> out) {
  const size_t n =
      std::min({names.size(), static_cast<size_t>(std::max(asked, 0)), out.size() / kName16});
  for (size_t i = 0; i < n; ++i) {
    uint8_t* slot = out.data() + i * kName16;
    std::memset(slot, 0, kName16);
    std::memcpy(slot, names[i].data(), std::min<size_t>(names[i].size(), kName16));
  }
}

std::optional<int16_t> AnswerNameServer(TangoSystem& s, const std::string& device,
                                        const std::string& property, DataDescriptor& out,
                                        std::span<uint8_t> outData, int32_t timeoutMs) {
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
  if (property == "NPROPS" || property == "PROPS") {
    Outcome fault;
    DeviceEntry* e = s.DeviceAt(device, fault);
    if (!e) return fault.code;
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
  return std::nullopt;
}

}  // namespace dsc::tango
