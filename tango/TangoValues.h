#pragma once

// Conversions between Tango's values and the checker's byte layout. Private
// to the backend: only it sees Tango's headers.

#include <tango.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "access/DataAcquisitionControl.h"

namespace dsc::tango {

// What an access ended with: a completion code and, on failure, a text.
struct Outcome {
  int16_t code = 0;
  std::string detail;
  // Tango refused to reconnect because its last attempt was too recent: the
  // server was not asked at all.
  bool reconnectDelayed = false;
  // Tango's error stack, where the fault arose first.
  std::vector<DataAcquisitionControl::ErrorFrame> stack{};
  // What a successful access told beyond its value.
  DataAcquisitionControl::ValueFacts facts{};
  // A text array read: its lines go into the facts only when they are asked
  // for (LinesOf).
  std::shared_ptr<Tango::DeviceAttribute> text{};
};

// The element count and full-form format a property declares in PROPS.
struct Declared {
  int32_t count = 0;
  int16_t format = 767;
};

// Characters a scalar DevString declares: Tango gives strings no length.
inline constexpr int32_t kStringCharacters = 256;

Declared DeclareAttribute(const Tango::AttributeInfoEx& info);
Declared DeclareCommand(const Tango::CommandInfo& info);

// The read value of an attribute into `count` elements of `format` in `out`.
// Elements the attribute has not got are zero; the area past `count` is not
// touched.
Outcome DeliverAttribute(Tango::DeviceAttribute& value, std::span<uint8_t> out, int32_t count,
                         int16_t format);
// A command's answer (of Tango type `type`) likewise.
Outcome DeliverCommand(Tango::DeviceData& value, long type, std::span<uint8_t> out, int32_t count,
                       int16_t format);

// `count` elements of `format` from `in` as the written value of the attribute.
Outcome AttributeValue(const Tango::AttributeInfoEx& info, std::span<const uint8_t> in,
                       int32_t count, int16_t format, Tango::DeviceAttribute& value);
// ... as the argument of a command taking Tango type `type`.
Outcome CommandArgument(long type, std::span<const uint8_t> in, int32_t count, int16_t format,
                        Tango::DeviceData& value);

// Tango's reason and the first line of the description on top of its error
// stack ("API_AttrValueNotSet: ..."), the whole stack, and the completion
// code the failure stands for.
Outcome FromDevFailed(const Tango::DevFailed& e);

}  // namespace dsc::tango
