#include "sim/SimCore.h"

#include <algorithm>
#include <cstring>

#include "access/ClientLibrary.h"
#include "access/CompletionCodes.h"
#include "access/NameServer.h"
#include "base/Codec.h"
#include "base/Formats.h"

namespace dsc::sim {

namespace {

constexpr uint8_t kText = 4;
constexpr uint8_t kStruct = 7;

uint8_t ShortCode(int16_t format) {
  return static_cast<uint8_t>(format >= kFormatBase ? format - kFormatBase : format);
}

size_t ElementSize(int16_t format) {
  int16_t size = FormatElementSize(format);
  return size > 0 ? static_cast<size_t>(size) : 0;
}

bool IsNumeric(uint8_t f) { return IsNumberFormat(f); }
bool IsRaw(uint8_t f) { return f == kText || f == kStruct; }

bool Convertible(uint8_t from, uint8_t to) {
  return from == to || IsRaw(from) || IsRaw(to) || (IsNumeric(from) && IsNumeric(to));
}

// Copies up to `count` elements of `src` (format `from`) into `dst` (format
// `to`): the same format or TEXT/STRUCT on either side as bytes, numbers
// converted. Returns the elements written; never writes past dst.
int32_t Convert(std::span<const uint8_t> src, uint8_t from, std::span<uint8_t> dst, uint8_t to,
                int64_t count) {
  size_t fromSize = ElementSize(from), toSize = ElementSize(to);
  if (toSize == 0 || count <= 0) return 0;
  if (from == to || IsRaw(from) || IsRaw(to)) {
    size_t bytes = std::min({static_cast<size_t>(count) * toSize, src.size(), dst.size()});
    bytes -= bytes % toSize;
    std::memcpy(dst.data(), src.data(), bytes);
    return static_cast<int32_t>(bytes / toSize);
  }
  if (fromSize == 0) return 0;
  size_t n = std::min({static_cast<size_t>(count), src.size() / fromSize, dst.size() / toSize});
  // The fields looked up once for the whole array, not per element.
  const FormatField* const read = NumberField(from);
  if (const FormatField* const write = NumberField(to))
    for (size_t i = 0; i < n; ++i)
      WriteField(dst.data() + i * toSize, write->kind,
                 read ? ReadField(src.data() + i * fromSize, read->kind) : 0);
  return static_cast<int32_t>(n);
}

int32_t PropsCount(const Device& d) {
  return d.nprops ? *d.nprops : static_cast<int32_t>(d.properties.size());
}

bool Failed(int16_t code) { return code != 0 && !(static_cast<uint16_t>(code) & kCodeFlagPartial); }

int16_t FirstCode(std::initializer_list<int16_t> codes) {
  for (int16_t c : codes)
    if (c != 0) return c;
  return 0;
}

// A server that fails every access (down, not answering) fails it before it
// could know the device or property asked for. A warning code does not count:
// the server answers, with data.
int16_t ServerFault(const Server& server) {
  return static_cast<uint16_t>(server.code) & kCodeFlagPartial ? 0 : server.code;
}

int16_t CodeOf(const NameMap<int16_t>& codes, std::string_view property) {
  auto it = codes.find(property);
  return it == codes.end() ? 0 : it->second;
}

}  // namespace

SimCore::SimCore(std::shared_ptr<Facility> facility, Clock& clock)
    : facility_(std::move(facility)), clock_(clock) {}

const std::string* SimCore::ErrorText(int32_t code) const {
  auto it = facility_->errors.find(code);
  return it == facility_->errors.end() ? nullptr : &it->second;
}

int16_t SimCore::GetContexts(std::span<uint8_t> names, int32_t& count) {
  if (facility_->contextsCode != 0) return facility_->contextsCode;
  const auto& slots = facility_->contextSlots;
  WriteNameSlots(names, slots, slots.size());
  // Like the library, it reports how many contexts there are, even when fewer fit.
  count = static_cast<int32_t>(slots.size());
  return kCodeSuccess;
}

int16_t SimCore::Resolve(std::string_view device, std::string_view property, SimTarget& t,
                         std::string* detail) {
  Facility& f = *facility_;
  t = SimTarget{};
  auto fail = [&](int16_t code, const char* what, std::string_view name, std::string_view where) {
    if (detail) {
      *detail = std::string(what) + " " + std::string(name);
      if (!where.empty()) *detail += " of " + std::string(where);
    }
    return code;
  };

  if (device == "ENS" || device.starts_with("ENS/")) {
    if (device == "ENS") {
      // The name server's default context is the first one.
      if (f.contexts.empty()) return fail(kSimUnknownContext, "no context behind", "ENS", "");
      t.context = &f.contexts.front();
    } else {
      auto it = f.index.find(device.substr(4));
      if (it == f.index.end())
        return fail(kSimUnknownContext, "unknown context", device.substr(4), "");
      t.context = &f.contexts[it->second];
    }
    if (property == "NTAGS")
      t.kind = SimTarget::Kind::kNTags;
    else if (property == "TAGS")
      t.kind = SimTarget::Kind::kTags;
    else
      return fail(kSimUnknownProperty, "unknown property", property, device);
    t.code = CodeOf(t.context->codes, property);
    return kCodeSuccess;
  }

  if (!device.starts_with("/")) {
    auto it = f.serverByName.find(device);
    if (it == f.serverByName.end())
      return fail(kSimUnknownServer, "unknown device server", device, "");
    t.context = &f.contexts[it->second.first];
    t.server = &t.context->servers[it->second.second];
    if (property == "NDEVICES")
      t.kind = SimTarget::Kind::kNDevices;
    else if (property == "DEVICES")
      t.kind = SimTarget::Kind::kDevices;
    else if (const int16_t code = ServerFault(*t.server))
      return code;
    else
      return fail(kSimUnknownProperty, "unknown property", property, device);
    t.code = FirstCode({t.server->code, CodeOf(t.server->codes, property)});
    t.delayMs = t.server->delayMs;
    return kCodeSuccess;
  }

  std::string_view rest = device.substr(1);
  size_t a = rest.find('/');
  size_t b = a == std::string_view::npos ? a : rest.find('/', a + 1);
  if (b == std::string_view::npos)
    return fail(kSimUnknownDevice, "incomplete device address", device, "");
  std::string_view ctx = rest.substr(0, a), srv = rest.substr(a + 1, b - a - 1),
                   dev = rest.substr(b + 1);
  auto ci = f.index.find(ctx);
  if (ci == f.index.end()) return fail(kSimUnknownContext, "unknown context", ctx, "");
  t.context = &f.contexts[ci->second];
  auto si = t.context->index.find(srv);
  if (si == t.context->index.end())
    return fail(kSimUnknownServer, "unknown device server", srv, device.substr(0, a + 1));
  t.server = &t.context->servers[si->second];
  if (dev == "#0") {
    t.device = &t.server->self;
  } else {
    auto di = t.server->index.find(dev);
    if (di == t.server->index.end()) {
      if (const int16_t code = ServerFault(*t.server)) return code;
      return fail(kSimUnknownDevice, "unknown device", dev, device.substr(0, b + 1));
    }
    t.device = &t.server->devices[di->second];
  }
  t.delayMs = t.server->delayMs + t.device->delayMs;
  t.pollMs = t.server->pollMs;
  if (property == "NPROPS") {
    t.kind = SimTarget::Kind::kNProps;
  } else if (property == "PROPS") {
    t.kind = SimTarget::Kind::kProps;
  } else {
    auto pi = t.device->index.find(property);
    if (pi == t.device->index.end()) {
      if (const int16_t code = ServerFault(*t.server)) return code;
      return fail(kSimUnknownProperty, "unknown property", property, device);
    }
    t.property = &t.device->properties[pi->second];
    t.delayMs += t.property->delayMs;
    if (t.property->pollMs > 0) t.pollMs = t.property->pollMs;
  }
  t.code =
      FirstCode({t.server->code, CodeOf(t.server->codes, property), t.device->code,
                 CodeOf(t.device->codes, property), t.property ? t.property->code : int16_t{0}});
  return kCodeSuccess;
}

// What the facility says an access answers before any data: the address
// resolved, the configured delay against the time-out, and the code of the
// context, server, device or property (a warning comes with the data).
int16_t SimCore::Admit(std::string_view device, std::string_view property, int32_t timeoutMs,
                       SimTarget& t, std::string* detail) {
  if (int16_t code = Resolve(device, property, t, detail)) return code;
  // Simulated time does not pass during a call: a slow answer is only a time-out.
  if (t.delayMs > timeoutMs) {
    if (detail) {
      *detail = "no answer from ";
      *detail += device;
      *detail += "[";
      *detail += property;
      *detail += "] within " + std::to_string(timeoutMs) + " ms";
    }
    return kCodeLinkTimeout;
  }
  return t.code;
}

int16_t SimCore::Access(const SimRequest& r, int32_t& delivered, std::string* detail) {
  delivered = 0;
  NameServerCall call = NameServerCallOf(r.device, r.property);
  if (call.query != NameQuery::None) {
    call.timeoutMs = r.timeoutMs;
    call.detail = detail;
    return AnswerNameServer(*this, call, {r.out, r.outCount, r.outFormat}, delivered);
  }
  SimTarget t;
  const int16_t code = Admit(r.device, r.property, r.timeoutMs, t, detail);
  if (Failed(code)) return code;
  const int16_t read = ValueAccess(t, r, delivered);
  return read != 0 ? read : code;
}

// TAGS and DEVICES answer the same way: the slots of the context or server, and
// the count its N-query announces where the facility makes that differ.
int16_t SimCore::ListNames(const NameServerCall& call, NameList& list, bool servers) {
  SimTarget t;
  const int16_t code = Admit(call.address, call.property, call.timeoutMs, t, call.detail);
  if (Failed(code)) return code;
  const auto& slots = servers ? t.context->serverSlots : t.server->deviceSlots;
  const auto& announced = servers ? t.context->ntags : t.server->ndevices;
  list.names = slots;
  if (announced) list.announced = *announced;
  return code;
}

int16_t SimCore::ListServers(const NameServerCall& call, NameList& list) {
  return ListNames(call, list, true);
}

int16_t SimCore::ListDevices(const NameServerCall& call, NameList& list) {
  return ListNames(call, list, false);
}

int16_t SimCore::ListProperties(const NameServerCall& call, PropertyList& list) {
  SimTarget t;
  const int16_t code = Admit(call.address, call.property, call.timeoutMs, t, call.detail);
  if (Failed(code)) return code;
  const Device& d = *t.device;
  list.announced = PropsCount(d);
  list.shortRecordsOnly = t.server->shortPropsOnly;
  if (call.query == NameQuery::Properties) {
    list.properties.reserve(d.properties.size());
    for (const Property& p : d.properties)
      list.properties.push_back({p.name, p.count, static_cast<int16_t>(p.format + kFormatBase)});
  }
  return code;
}

int16_t SimCore::ValueAccess(SimTarget& t, const SimRequest& r, int32_t& delivered) {
  Device& d = *t.device;
  Property& p = *t.property;
  uint8_t inFormat = ShortCode(r.inFormat), outFormat = ShortCode(r.outFormat);
  size_t inSize = ElementSize(r.inFormat);
  bool hasInput = r.inCount > 0 && inSize > 0;
  bool hasOutput = r.outCount > 0 && ElementSize(r.outFormat) > 0;
  std::span<const uint8_t> input;
  if (hasInput) {
    if (!p.writable && !p.echo) return kSimReadOnly;
    if (!Convertible(inFormat, p.format)) return kSimIllegalFormat;
    input = r.in.first(std::min(static_cast<size_t>(r.inCount) * inSize, r.in.size()));
  }
  if (hasOutput && !Convertible(hasInput && p.echo ? inFormat : p.format, outFormat))
    return kSimIllegalFormat;

  // Input and output may be the same bytes: the input is used up before any
  // output is written.
  if (hasInput && p.echo) echo_.assign(input.begin(), input.end());
  if (hasInput && p.writable) {
    for (size_t dep : p.dependents) Advance(d, d.properties[dep]);
    const std::span<uint8_t> bytes = p.data.edit();
    if (p.format == kText) std::fill(bytes.begin(), bytes.end(), 0);
    Convert(input, inFormat, bytes, p.format, r.inCount);
    if (p.ramps) {
      p.rampNow.clear();
      p.rampLastMs = clock_.MonotonicMs();
    }
  }
  if (!hasOutput) return kCodeSuccess;
  if (hasInput && p.echo) {
    delivered = Convert(echo_, inFormat, r.out, outFormat, r.outCount);
  } else {
    Advance(d, p);
    delivered = Convert(p.data.view(), p.format, r.out, outFormat, r.outCount);
  }
  return kCodeSuccess;
}

// Moves a ramping property towards its setpoint for the simulated time passed
// since its last step.
void SimCore::Advance(Device& d, Property& p) {
  if (!p.ramps) return;
  int64_t now = clock_.MonotonicMs();
  Property& target = d.properties[p.rampSource];
  size_t size = ElementSize(p.format), targetSize = ElementSize(target.format);
  size_t n = std::min(p.data.size() / size, target.data.size() / targetSize);
  if (p.rampNow.size() != n) {
    p.rampNow.resize(n);
    for (size_t i = 0; i < n; ++i) p.rampNow[i] = ReadNumber(p.data.data() + i * size, p.format);
  }
  if (p.rampLastMs < 0 || now <= p.rampLastMs) {
    p.rampLastMs = std::max(p.rampLastMs, now);
    return;
  }
  double step = p.rampRate * static_cast<double>(now - p.rampLastMs) / 1000.0;
  p.rampLastMs = now;
  uint8_t* bytes = p.data.edit().data();
  for (size_t i = 0; i < n; ++i) {
    double goal = ReadNumber(target.data.data() + i * targetSize, target.format);
    double& v = p.rampNow[i];
    v = v < goal ? std::min(v + step, goal) : std::max(v - step, goal);
    WriteNumber(bytes + i * size, p.format, v);
  }
}

}  // namespace dsc::sim
