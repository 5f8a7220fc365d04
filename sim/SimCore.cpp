#include "sim/SimCore.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "access/ClientLibrary.h"
#include "access/CompletionCodes.h"
#include "access/Formats.h"

namespace dsc::sim {

namespace {

constexpr int32_t kLongRecord = 188;
constexpr int32_t kShortRecord = 68;
constexpr uint8_t kText = 4;
constexpr uint8_t kStruct = 7;

uint8_t ShortCode(int16_t format) {
  return static_cast<uint8_t>(format >= kFormatBase ? format - kFormatBase : format);
}

size_t ElementSize(int16_t format) {
  int16_t size = FormatElementSize(format);
  return size > 0 ? static_cast<size_t>(size) : 0;
}

bool IsNumeric(uint8_t f) { return f == 0 || f == 1 || f == 2 || f == 3 || f == 5; }
bool IsRaw(uint8_t f) { return f == kText || f == kStruct; }

double GetNumber(const uint8_t* p, uint8_t f) {
  switch (f) {
    case 0: {
      double v;
      std::memcpy(&v, p, 8);
      return v;
    }
    case 1: {
      int16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case 2:
      return *p;
    case 3: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case 5: {
      float v;
      std::memcpy(&v, p, 4);
      return v;
    }
    default:
      return 0;
  }
}

template <typename T>
T Whole(double v) {
  if (std::isnan(v)) return 0;
  v = std::nearbyint(v);
  if (v <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  if (v >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(v);
}

void PutNumber(uint8_t* p, uint8_t f, double v) {
  switch (f) {
    case 0:
      std::memcpy(p, &v, 8);
      break;
    case 1: {
      int16_t s = Whole<int16_t>(v);
      std::memcpy(p, &s, 2);
      break;
    }
    case 2:
      *p = Whole<uint8_t>(v);
      break;
    case 3: {
      int32_t l = Whole<int32_t>(v);
      std::memcpy(p, &l, 4);
      break;
    }
    case 5: {
      // Clamped like the checker's own SINGLE values, rather than left to overflow.
      constexpr double kMax = std::numeric_limits<float>::max();
      float s = static_cast<float>(std::isnan(v) ? v : std::clamp(v, -kMax, kMax));
      std::memcpy(p, &s, 4);
      break;
    }
    default:
      break;
  }
}

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
  for (size_t i = 0; i < n; ++i)
    PutNumber(dst.data() + i * toSize, to, GetNumber(src.data() + i * fromSize, from));
  return static_cast<int32_t>(n);
}

// A count for an output of one element (NTAGS, NDEVICES, NPROPS).
int16_t WriteCount(const SimRequest& r, int32_t value, int32_t& delivered) {
  uint8_t f = ShortCode(r.outFormat);
  size_t size = ElementSize(r.outFormat);
  if (r.outCount < 1 || size == 0) return kCodeSuccess;
  if (!IsNumeric(f)) return kSimIllegalFormat;
  if (r.out.size() < size) return kCodeSuccess;
  PutNumber(r.out.data(), f, value);
  delivered = 1;
  return kCodeSuccess;
}

int16_t WriteSlots(const SimRequest& r, const std::vector<std::string>& slots, int32_t& delivered) {
  if (r.outFormat != kFormatName16) return kSimIllegalFormat;
  size_t n = std::min(
      {static_cast<size_t>(std::max(r.outCount, 0)), slots.size(), r.out.size() / kName16});
  for (size_t i = 0; i < n; ++i) {
    uint8_t* slot = r.out.data() + i * kName16;
    std::memset(slot, 0, kName16);
    std::memcpy(slot, slots[i].data(), std::min<size_t>(slots[i].size(), kName16));
  }
  delivered = static_cast<int32_t>(n);
  return kCodeSuccess;
}

int32_t PropsCount(const Device& d) {
  return d.nprops ? *d.nprops : static_cast<int32_t>(d.properties.size());
}

// PROPS: one record per property, as many whole records as the byte count and
// the buffer hold.
int16_t WriteProps(const Server& s, const Device& d, const SimRequest& r, int32_t& delivered) {
  if (r.outFormat != kFormatStruct) return kSimIllegalFormat;
  int64_t bytes = std::max(r.outCount, 0);
  int64_t announced = PropsCount(d);
  bool longAsked = announced > 0 ? bytes == announced * kLongRecord
                                 : bytes % kLongRecord == 0 && bytes % kShortRecord != 0;
  // An old server knows only the short record and says so when asked for the long list.
  if (s.shortPropsOnly && bytes > 0 && longAsked) return kCodeShortPropsOnly;
  size_t record = s.shortPropsOnly ? kShortRecord : kLongRecord;
  size_t n =
      std::min({d.properties.size(), static_cast<size_t>(bytes) / record, r.out.size() / record});
  for (size_t i = 0; i < n; ++i) {
    const Property& p = d.properties[i];
    uint8_t* rec = r.out.data() + i * record;
    std::memset(rec, 0, record);
    std::memcpy(rec, p.name.data(), std::min<size_t>(p.name.size(), 32));
    if (record == kLongRecord) {
      int32_t count = p.count;
      std::memcpy(rec + 168, &count, 4);
      rec[184] = p.format;
    } else {
      // The short record's count is 16-bit; larger properties announce its maximum.
      int16_t count = static_cast<int16_t>(std::min<int32_t>(p.count, 32767));
      std::memcpy(rec + 64, &count, 2);
      rec[66] = p.format;
    }
  }
  delivered = static_cast<int32_t>(n * record);
  return kCodeSuccess;
}

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
  size_t n = std::min(slots.size(), names.size() / kName16);
  for (size_t i = 0; i < n; ++i) {
    uint8_t* slot = names.data() + i * kName16;
    std::memset(slot, 0, kName16);
    std::memcpy(slot, slots[i].data(), std::min<size_t>(slots[i].size(), kName16));
  }
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

int16_t SimCore::Access(const SimRequest& r, int32_t& delivered, std::string* detail) {
  delivered = 0;
  SimTarget t;
  if (int16_t code = Resolve(r.device, r.property, t, detail)) return code;
  // Simulated time does not pass during a call: a slow answer is only a time-out.
  if (t.delayMs > r.timeoutMs) {
    if (detail) {
      *detail = "no answer from ";
      *detail += r.device;
      *detail += "[";
      *detail += r.property;
      *detail += "] within " + std::to_string(r.timeoutMs) + " ms";
    }
    return kCodeLinkTimeout;
  }
  if (t.code == 0) return Read(t, r, delivered);
  // A warning: the data are valid and come with the code.
  if (static_cast<uint16_t>(t.code) & kCodeFlagPartial) {
    int16_t code = Read(t, r, delivered);
    return code != 0 ? code : t.code;
  }
  return t.code;
}

int16_t SimCore::Read(SimTarget& t, const SimRequest& r, int32_t& delivered) {
  switch (t.kind) {
    case SimTarget::Kind::kNTags:
      return WriteCount(r,
                        t.context->ntags ? *t.context->ntags
                                         : static_cast<int32_t>(t.context->serverSlots.size()),
                        delivered);
    case SimTarget::Kind::kTags:
      return WriteSlots(r, t.context->serverSlots, delivered);
    case SimTarget::Kind::kNDevices:
      return WriteCount(r,
                        t.server->ndevices ? *t.server->ndevices
                                           : static_cast<int32_t>(t.server->deviceSlots.size()),
                        delivered);
    case SimTarget::Kind::kDevices:
      return WriteSlots(r, t.server->deviceSlots, delivered);
    case SimTarget::Kind::kNProps:
      return WriteCount(r, PropsCount(*t.device), delivered);
    case SimTarget::Kind::kProps:
      return WriteProps(*t.server, *t.device, r, delivered);
    case SimTarget::Kind::kValue:
      return ValueAccess(t, r, delivered);
  }
  return kCodeSuccess;
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
      p.rampLastMs = clock_.NowMs();
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
  int64_t now = clock_.NowMs();
  Property& target = d.properties[p.rampSource];
  size_t size = ElementSize(p.format), targetSize = ElementSize(target.format);
  size_t n = std::min(p.data.size() / size, target.data.size() / targetSize);
  if (p.rampNow.size() != n) {
    p.rampNow.resize(n);
    for (size_t i = 0; i < n; ++i) p.rampNow[i] = GetNumber(p.data.data() + i * size, p.format);
  }
  if (p.rampLastMs < 0 || now <= p.rampLastMs) {
    p.rampLastMs = std::max(p.rampLastMs, now);
    return;
  }
  double step = p.rampRate * static_cast<double>(now - p.rampLastMs) / 1000.0;
  p.rampLastMs = now;
  uint8_t* bytes = p.data.edit().data();
  for (size_t i = 0; i < n; ++i) {
    double goal = GetNumber(target.data.data() + i * targetSize, target.format);
    double& v = p.rampNow[i];
    v = v < goal ? std::min(v + step, goal) : std::max(v - step, goal);
    PutNumber(bytes + i * size, p.format, v);
  }
}

}  // namespace dsc::sim
