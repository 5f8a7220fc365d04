// One access to a device: an attribute read or written, a command run, or
// what a server tells about itself.

#include <algorithm>
#include <cstring>

#include "access/CompletionCodes.h"
#include "base/Formats.h"
#include "engine/TestPlan.h"
#include "tango/TangoFacts.h"
#include "tango/TangoSystem.h"

namespace dsc::tango {

namespace {

// The checker's elements as numbers; none for text.
std::vector<double> NumbersIn(std::span<const uint8_t> in, int32_t count, int16_t format) {
  std::vector<double> numbers;
  const int size = FormatElementSize(format);
  if (format == kFormatText || size <= 0) return numbers;
  const size_t n = std::min(static_cast<size_t>(std::max(count, 0)), in.size() / size);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* at = in.data() + i * size;
    auto get = [&](auto v) {
      std::memcpy(&v, at, sizeof v);
      return static_cast<double>(v);
    };
    numbers.push_back(format == kFormatDouble   ? get(double{})
                      : format == kFormatSingle ? get(float{})
                      : format == kFormatLong   ? get(int32_t{})
                      : format == kFormatShort  ? get(int16_t{})
                                                : get(uint8_t{}));
  }
  return numbers;
}

std::string Joined(const std::vector<double>& v) {
  std::string text;
  for (size_t i = 0; i < v.size() && i < 8; ++i) text += (i ? " " : "") + NumberText(v[i]);
  if (v.size() > 8) text += " ...";
  return text;
}

// Whether `set` is what was written: within the command's tolerance, else
// as exactly as the attribute's type holds it (a DevFloat keeps 24 bits).
bool SetPointTook(const std::vector<double>& set, const std::vector<double>& written,
                  const std::string& toleranceText, long type) {
  if (set.size() < written.size()) return false;
  ReferenceTolerance tolerance;
  if (!ParseTolerance(toleranceText, tolerance) && type == Tango::DEV_FLOAT)
    tolerance.relative = 1e-6;
  for (size_t i = 0; i < written.size(); ++i)
    if (set[i] != written[i] && !tolerance.Within(set[i], written[i])) return false;
  return true;
}

std::string States(const std::vector<std::string>& states) {
  std::string text;
  for (size_t i = 0; i < states.size(); ++i)
    text += (i == 0 ? "" : i + 1 == states.size() ? " or " : ", ") + states[i];
  return text;
}

}  // namespace

// A read judged as the site asks: its quality, a State's name and whether it
// is one expected, its limits, and a written set point. What fails is said
// in the verdict's note.
TangoSystem::Verdict TangoSystem::Judge(DeviceEntry& e, const Property& p,
                                        Tango::DeviceAttribute& value, const ValueFacts& facts,
                                        const std::vector<double>& written,
                                        const std::string& tolerance, int32_t outCount) {
  const SiteContext& site = *e.context;
  std::vector<std::string> notes;
  Verdict v;
  auto fail = [&](std::string note, int16_t code = kTangoBadState) {
    if (!v.fails)
      notes.insert(notes.begin(), std::move(note));
    else
      notes.push_back(std::move(note));
    v.fails = true;
    v.code = code;
  };
  if (facts.quality != "VALID") {
    const std::string note = "quality " + facts.quality;
    const int severity = QualitySeverity(facts.quality);
    if (!site.failOnQuality.empty() ? severity >= QualitySeverity(site.failOnQuality)
                                    : site.failOnState && severity == 3)
      fail(note);
    else
      notes.push_back(note);
  }
  if (value.get_type() == Tango::DEV_STATE && p.attribute.data_format == Tango::SCALAR) {
    Tango::DeviceAttribute copy(value);
    Tango::DevState state = Tango::UNKNOWN;
    copy >> state;
    if (state >= 0 && state <= Tango::UNKNOWN) {
      const std::string name = Tango::DevStateName[state];
      const std::vector<std::string>& expected = ExpectedStates(e);
      if (!expected.empty() && std::find(expected.begin(), expected.end(), name) == expected.end())
        fail("state " + name + ", expected " + States(expected));
      else if (site.failOnState && expected.empty() &&
               (state == Tango::FAULT || state == Tango::ALARM || state == Tango::UNKNOWN))
        fail("state " + name);
      else if (notes.empty())
        notes.push_back("state " + name);
    }
  }
  if (site.checkLimits) {
    bool alarm = false;
    const std::string outside = OutsideLimits(facts, alarm);
    if (!outside.empty() && alarm) fail(outside);
    if (!outside.empty() && !alarm) notes.push_back(outside);
  }
  if (!written.empty() &&
      (p.attribute.writable == Tango::READ_WRITE || p.attribute.writable == Tango::WRITE) &&
      !SetPointTook(facts.setPoint, written, tolerance, p.attribute.data_type))
    fail("set point " + (facts.setPoint.empty() ? std::string("none") : Joined(facts.setPoint)) +
         " is not the " + Joined(written) + " written (read " + Joined(facts.values) + ")");
  // Fewer elements than asked for: the sizes read are said.
  if (p.attribute.data_format != Tango::SCALAR && facts.dimX >= 0 && outCount > 0) {
    const int64_t read = int64_t{facts.dimX} * std::max(facts.dimY, 1);
    if (read < outCount)
      notes.push_back(p.attribute.data_format == Tango::IMAGE
                          ? std::to_string(facts.dimX) + "x" + std::to_string(facts.dimY) +
                                " values read"
                          : std::to_string(facts.dimX) + " values read");
  }
  // A string array's lines, as many as the note has room for.
  const size_t lineCount = LineCount(value);
  if (lineCount > 0 && p.attribute.data_format != Tango::SCALAR) {
    std::string lines;
    for (size_t i = 0; i < lineCount; ++i) {
      const std::string_view line = LineAt(value, i);
      if (lines.size() + line.size() > 200) {
        lines += " ...";
        break;
      }
      if (!lines.empty()) lines += " | ";
      lines += line;
    }
    notes.push_back(std::to_string(lineCount) + " lines: " + lines);
  }
  for (size_t i = 0; i < notes.size(); ++i) v.note += (i ? ", " : "") + notes[i];
  return v;
}

// The states a device's State read must be in: its server's, else its
// class's, else its context's.
const std::vector<std::string>& TangoSystem::ExpectedStates(DeviceEntry& e) {
  const SiteContext& site = *e.context;
  for (const SiteServer& s : site.servers)
    if (SameName(s.instance, e.server->instance) || SameName(s.name, e.server->name))
      if (!s.expectStates.empty()) return s.expectStates;
  if (!site.expectStatesByClass.empty()) {
    if (e.deviceClass.empty() && e.proxy) {
      try {
        e.deviceClass = e.proxy->info().dev_class;
      } catch (const Tango::DevFailed&) {
      }
    }
    for (const auto& [cls, states] : site.expectStatesByClass)
      if (SameName(cls, e.deviceClass)) return states;
  }
  return site.expectStates;
}

// One access: input written (or sent with the command) first, then the
// answer read into the output.
Outcome TangoSystem::Access(DeviceEntry& e, const std::string& property, std::span<uint8_t> out,
                            int32_t outCount, int16_t outFormat, std::span<const uint8_t> in,
                            int32_t inCount, int16_t inFormat, int32_t timeoutMs,
                            const std::string& tolerance) {
  return Remember(e, timeoutMs, [&] {
    return TryAccess(e, property, out, outCount, outFormat, in, inCount, inFormat, timeoutMs,
                     tolerance);
  });
}

Outcome TangoSystem::ServerText(DeviceEntry& e, const std::string& property, std::string& text,
                                int32_t timeoutMs) {
  return Remember(e, timeoutMs, [&] { return TryServerText(e, property, text, timeoutMs); });
}

Outcome TangoSystem::TryAccess(DeviceEntry& e, const std::string& property, std::span<uint8_t> out,
                               int32_t outCount, int16_t outFormat, std::span<const uint8_t> in,
                               int32_t inCount, int16_t inFormat, int32_t timeoutMs,
                               const std::string& tolerance) {
  try {
    const Property* p = FindProperty(e, property, timeoutMs);
    if (!p)
      return {kTangoUnknownProperty,
              "device " + e.device.tangoName + " has no attribute or command \"" + property + "\""};
    Tango::DeviceProxy& proxy = Proxy(e, timeoutMs);
    if (p->command) {
      Tango::DeviceData argument;
      if (inCount > 0) {
        Outcome o = CommandArgument(p->commandInfo.in_type, in, inCount, inFormat, argument);
        if (o.code != 0) return o;
      }
      std::string name = p->name;  // Tango's API takes names by non-const reference
      Tango::DeviceData answer = proxy.command_inout(name, argument);
      Outcome o = DeliverCommand(answer, p->commandInfo.out_type, out, outCount, outFormat);
      const long type = p->commandInfo.out_type;
      if (o.code == 0 && type >= 0 && type < Tango::DATA_TYPE_UNKNOWN)
        o.facts.dataType = Tango::CmdArgTypeName[type];
      return o;
    }
    std::vector<double> written;  // what a write sent, to compare the set point with
    if (inCount > 0) {
      if (p->attribute.writable == Tango::READ || p->attribute.writable == Tango::READ_WITH_WRITE)
        return {kTangoNotWritable, "attribute " + p->name + " is not writable"};
      Tango::DeviceAttribute value;
      Outcome o = AttributeValue(p->attribute, in, inCount, inFormat, value);
      if (o.code != 0) return o;
      proxy.write_attribute(value);
      if (outCount <= 0) return {};
      written = NumbersIn(in, inCount, inFormat);
    }
    std::string name = p->name;
    Tango::DeviceAttribute value = proxy.read_attribute(name);
    if (value.has_failed()) return FromDevFailed(Tango::DevFailed(value.get_err_stack()));
    const SiteContext& site = *e.context;
    // Numbers are taken out only where something judges them: limits, a set
    // point, or a capture of references.
    const bool numbers = site.checkLimits || !written.empty() || wantNumbers_;
    ValueFacts facts = FactsOf(value, p->attribute, numbers);
    const Verdict verdict = Judge(e, *p, value, facts, written, tolerance, outCount);
    Outcome o = DeliverAttribute(value, out, outCount, outFormat);
    if (o.code != 0) return o;
    o.facts = std::move(facts);
    o.detail = verdict.note;
    if (verdict.fails) o.code = verdict.code;
    if (p->attribute.data_format != Tango::SCALAR && LineCount(value) > 0)
      o.text = std::make_shared<Tango::DeviceAttribute>(std::move(value));
    return o;
  } catch (const Tango::DevFailed& failure) {
    return FaultOf(failure);
  } catch (const CORBA::Exception&) {
    return {kCodeServerUnavailable45, "the device server cannot be reached"};
  }
}

// What a device server tells about itself: with a database, its first
// device's property of the name; else an attribute of the name on that
// device; else what Tango knows: the server and its interface version, and
// the start time the database recorded.
Outcome TangoSystem::TryServerText(DeviceEntry& e, const std::string& property, std::string& text,
                                   int32_t timeoutMs) {
  try {
    // With a database, its device property of the name comes first: it
    // needs no answer from the server.
    if (e.context->database && property != "SRVVERSION" && property != "SRVSTARTTIME") {
      std::string name = e.device.tangoName;
      Tango::DbData data{Tango::DbDatum(property)};
      try {
        AskDatabase(EntryOf(e.context), timeoutMs,
                    [&](Tango::Database& db) { db.get_device_property(name, data); });
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
    return FaultOf(failure);
  } catch (const CORBA::Exception&) {
    return {kCodeServerUnavailable45, "the device server cannot be reached"};
  }
}

}  // namespace dsc::tango
