#pragma once

// The one codec of the transfer areas: every value a server reads or writes,
// and every record of the name server, is laid out here, little-endian
// whatever the host, from the format table's layouts. The simulation, the
// Tango backend, the input parser and the value decoding all read and write
// through it, so they cannot disagree about what a server said.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "base/Formats.h"

namespace dsc {

template <typename T>
T GetLittleEndian(const uint8_t* at) {
  uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, at, sizeof(T));
  if constexpr (std::endian::native == std::endian::big) std::reverse(bytes, bytes + sizeof(T));
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

template <typename T>
void PutLittleEndian(uint8_t* at, T value) {
  uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  if constexpr (std::endian::native == std::endian::big) std::reverse(bytes, bytes + sizeof(T));
  std::memcpy(at, bytes, sizeof(T));
}

// A number field. Writing saturates: a whole number is rounded to the
// nearest and held at its type's ends (NaN stores 0), a SINGLE at the largest
// finite float; a BYTE holds 0..255.
double ReadField(const uint8_t* at, FieldKind kind);
void WriteField(uint8_t* at, FieldKind kind, double value);

// The field of a number format's elements (full or short code), nullptr for
// any other: looked up once, it spares an array's loop the table per element.
const FormatField* NumberField(int16_t format);

// The first field of an element of a number format (full or short code);
// 0 and nothing written for any other.
double ReadNumber(const uint8_t* element, int16_t format);
void WriteNumber(uint8_t* element, int16_t format, double value);

// A name field: up to its first zero byte; written cut to its width and
// zero-filled.
std::string ReadName(const uint8_t* at, size_t width);
void WriteName(uint8_t* at, size_t width, std::string_view name);

// What the name server's PROPS lists for one property. The long record
// (188 bytes) has the name in 0..31, the element count (LONG) at 168 and the
// short format code at 184; the short one of old servers (68 bytes) the
// name, a SHORT count at 64 and the format at 66.
inline constexpr size_t kLongPropertyRecord = 188;
inline constexpr size_t kShortPropertyRecord = 68;
inline constexpr size_t kPropertyNameWidth = 32;
struct PropertyRecord {
  std::string name;    // as written: not trimmed
  int32_t count = 0;   // elements
  int16_t format = 0;  // full form
};
// `record` has the record's size; the short record's count holds at most
// 32767 (a larger property announces that).
void WritePropertyRecord(std::span<uint8_t> record, const PropertyRecord& property);
PropertyRecord ReadPropertyRecord(std::span<const uint8_t> record);

}  // namespace dsc
