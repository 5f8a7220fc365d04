#include "access/Formats.h"

#include <array>
#include <string_view>

namespace dsc {

namespace {

struct FormatEntry {
  std::string_view name;      // what FormatNameFromCode gives
  int16_t size;               // bytes per element, 0 = unknown
  std::string_view accepted;  // names FormatCodeFromName takes, '|'-separated
};

// Indexed by the short code. Codes 6, 17 and 39 are holes named "NULL"; 38
// ("LNGDBL") has a name and a size but is deliberately not accepted as a name,
// so a command of that format read back from a test file becomes unknown.
constexpr std::array<FormatEntry, kFormatCount> kFormats{{
    {"DOUBLE", 8, "DOUBLE"},
    {"SHORT", 2, "SHORT|INTEGER"},
    {"BYTE", 1, "BYTE"},
    {"LONG", 4, "LONG"},
    {"TEXT", 1, "TEXT"},
    {"SINGLE", 4, "SINGLE|FLOAT"},
    {"NULL", 0, ""},
    {"STRUCT", 1, "STRUCT"},
    {"NAME8", 8, "NAME8|CHAR8"},
    {"NAME16", 16, "NAME16|CHAR16"},
    {"NAME16FI", 24, "NAME16FI"},
    {"BIT", 1, "BIT"},
    {"HITTS", 0, "HITTS"},
    {"NAME32", 32, "NAME32|CHAR32"},
    {"FLTINT", 8, "FLTINT"},
    {"LNGINT", 8, "LNGINT"},
    {"DBLINT", 12, "DBLINT"},
    {"NULL", 0, ""},
    {"INTFLTINT", 12, "INTFLTINT|TDS"},
    {"NAME48", 48, "NAME48"},
    {"NAME8I", 12, "NAME8I"},
    {"NAME16I", 20, "NAME16I"},
    {"NAME32I", 36, "NAME32I"},
    {"NAME48I", 52, "NAME48I"},
    {"USTRING", 96, "USTRING"},
    {"FLTFLTINT", 12, "FLTFLTINT"},
    {"FLTINTINT", 12, "FLTINTINT"},
    {"INTFLTFLTFLT", 16, "INTFLTFLTFLT"},
    {"SPECTRUM", 4, "SPECTRUM"},
    {"INTINTINTINT", 16, "INTINTINTINT|ADDRESS"},
    {"WINDOW", 16, "WINDOW"},
    {"FLTFLT", 8, "FLTFLT"},
    {"INTFLTSHTSHT", 12, "INTFLTSHTSHT"},
    {"BOOLEAN", 4, "BOOLEAN"},
    {"INTINTFLTFLT", 16, "INTINTFLTFLT|FWINDOW"},
    {"FLTINTFLTINT", 16, "FLTINTFLTINT"},
    {"NAME64", 64, "NAME64"},
    {"NAME64I", 68, "NAME64I"},
    {"LNGDBL", 12, ""},
    {"NULL", 0, ""},
    {"DBLDBL", 32, "DBLDBL"},
}};

// Either form of a code to its table entry; nullptr outside the table.
const FormatEntry* Lookup(int16_t code) {
  int32_t full = code < kFormatBase ? static_cast<int16_t>(code + kFormatBase) : code;
  int32_t index = full - kFormatBase;
  if (index < 0 || index >= kFormatCount) return nullptr;
  return &kFormats[static_cast<size_t>(index)];
}

bool Accepts(std::string_view accepted, std::string_view name) {
  while (!accepted.empty()) {
    size_t bar = accepted.find('|');
    if (accepted.substr(0, bar) == name) return true;
    if (bar == std::string_view::npos) break;
    accepted.remove_prefix(bar + 1);
  }
  return false;
}

}  // namespace

int16_t FormatElementSize(int16_t code) {
  const FormatEntry* entry = Lookup(code);
  return entry ? entry->size : 0;
}

std::string FormatNameFromCode(int16_t code) {
  const FormatEntry* entry = Lookup(code);
  return std::string(entry ? entry->name : "NULL");
}

uint8_t FormatCodeFromName(const std::string& name) {
  std::string upper = name;
  // ASCII only and independent of the locale: Latin-1 letters above 127
  // must not turn into a known name.
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (upper.empty()) return kShortFormatUnknown;
  for (size_t i = 0; i < kFormats.size(); ++i) {
    if (Accepts(kFormats[i].accepted, upper)) return static_cast<uint8_t>(i);
  }
  return kShortFormatUnknown;
}

int16_t FullFormatFromName(const std::string& name) {
  return static_cast<int16_t>((FormatCodeFromName(name) & 0xFF) + kFormatBase);
}

}  // namespace dsc
