#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace dsc {

// Format codes come in a short form (0..40, 255 unknown) and a full form
// (512..552, 767 unknown). Test commands and data descriptors hold the full form.
inline constexpr int16_t kFormatBase = 512;
inline constexpr int16_t kFormatDouble = 512;
inline constexpr int16_t kFormatShort = 513;
inline constexpr int16_t kFormatByte = 514;
inline constexpr int16_t kFormatLong = 515;
inline constexpr int16_t kFormatText = 516;
inline constexpr int16_t kFormatSingle = 517;
inline constexpr int16_t kFormatStruct = 519;
inline constexpr int16_t kFormatName8 = 520;
inline constexpr int16_t kFormatName16 = 521;
inline constexpr int16_t kFormatName32 = 525;
inline constexpr int16_t kFormatName48 = 531;
inline constexpr int16_t kFormatName64 = 548;
inline constexpr int16_t kFormatLngDbl = 550;
inline constexpr int16_t kFormatNull = 767;
inline constexpr uint8_t kShortFormatUnknown = 255;
inline constexpr int kFormatCount = 41;  // short codes 0..40

// Bytes per element; 0 when the table knows no size for the code.
int16_t FormatElementSize(int16_t code);
// Name of the format; "NULL" for codes without one.
std::string FormatNameFromCode(int16_t code);
// Short code of a name, in any case but not trimmed; 255 when unknown.
uint8_t FormatCodeFromName(const std::string& name);

// The full-form code a test command gets from a format name: low eight bits of
// the short code plus 512, so an unknown name becomes 767.
int16_t FullFormatFromName(const std::string& name);

// One field of an element, little-endian in the transfer areas.
enum class FieldKind : uint8_t { Double, Single, Long, Short, Byte, Name };
struct FormatField {
  FieldKind kind = FieldKind::Byte;
  int16_t offset = 0;  // from the element's start
  int16_t size = 0;    // bytes; a name's is its width
};

// The fields of one element of a format (either form), in order: one for a
// number or a name, several for a compound format such as FLTINT (a SINGLE
// and a LONG) or NAME16I (a NAME16 and a LONG). Empty where the layout is the
// server's own: TEXT, STRUCT, BIT, USTRING, SPECTRUM, WINDOW, DBLDBL.
std::span<const FormatField> FormatLayout(int16_t code);
// One number field (DOUBLE, SHORT, BYTE, LONG, SINGLE) or one name (NAME8 ..).
bool IsNumberFormat(int16_t code);
bool IsNameFormat(int16_t code);
// A record of fields: two or more, or BOOLEAN's one.
bool IsCompoundFormat(int16_t code);
// The short code (0..40) of either form, 255 outside the table.
uint8_t ShortFormat(int16_t code);

}  // namespace dsc
