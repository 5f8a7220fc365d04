// One access to a device: an attribute read or written, a command run, or
// what a server tells about itself.

#include "access/CompletionCodes.h"
#include "tango/TangoSystem.h"

namespace dsc::tango {

// One access: input written (or sent with the command) first, then the
// answer read into the output.
Outcome TangoSystem::Access(DeviceEntry& e, const std::string& property, std::span<uint8_t> out,
                            int32_t outCount, int16_t outFormat, std::span<const uint8_t> in,
                            int32_t inCount, int16_t inFormat, int32_t timeoutMs) {
  return Remember(
      e, TryAccess(e, property, out, outCount, outFormat, in, inCount, inFormat, timeoutMs));
}

Outcome TangoSystem::ServerText(DeviceEntry& e, const std::string& property, std::string& text,
                                int32_t timeoutMs) {
  return Remember(e, TryServerText(e, property, text, timeoutMs));
}

Outcome TangoSystem::TryAccess(DeviceEntry& e, const std::string& property, std::span<uint8_t> out,
                               int32_t outCount, int16_t outFormat, std::span<const uint8_t> in,
                               int32_t inCount, int16_t inFormat, int32_t timeoutMs) {
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
    } else if (value.get_type() == Tango::DEV_STATE && p->attribute.data_format == Tango::SCALAR) {
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
Outcome TangoSystem::TryServerText(DeviceEntry& e, const std::string& property, std::string& text,
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

}  // namespace dsc::tango
