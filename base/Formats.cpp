#include "base/Formats.h"

#include "base/Letters.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

namespace dsc {

namespace {

struct FormatEntry {
  std::string_view name;      // what FormatNameFromCode gives
  int16_t size;               // bytes per element, 0 = unknown
  std::string_view accepted;  // names FormatCodeFromName takes, '|'-separated
  // The element's fields: d DOUBLE, f SINGLE, l LONG, s SHORT, b BYTE, n<width>
  // a name; "" when the layout is the server's own. A leading "=" makes a
  // record of one field (BOOLEAN is a LONG underneath but no number format).
  std::string_view layout;
};

// Indexed by the short code. Codes 6, 17 and 39 are holes named "NULL"; 38
// ("LNGDBL") has a name and a size but is deliberately not accepted as a name,
// so a command of that format read back from a test file becomes unknown.
constexpr std::array<FormatEntry, kFormatCount> kFormats{{
    {"DOUBLE", 8, "DOUBLE", "d"},
    {"SHORT", 2, "SHORT|INTEGER", "s"},
    {"BYTE", 1, "BYTE", "b"},
    {"LONG", 4, "LONG", "l"},
    {"TEXT", 1, "TEXT", ""},
    {"SINGLE", 4, "SINGLE|FLOAT", "f"},
    {"NULL", 0, "", ""},
    {"STRUCT", 1, "STRUCT", ""},
    {"NAME8", 8, "NAME8|CHAR8", "n8"},
    {"NAME16", 16, "NAME16|CHAR16", "n16"},
    {"NAME16FI", 24, "NAME16FI", "n16 f l"},
    {"BIT", 1, "BIT", ""},
    {"HITTS", 0, "HITTS", ""},
    {"NAME32", 32, "NAME32|CHAR32", "n32"},
    {"FLTINT", 8, "FLTINT", "f l"},
    {"LNGINT", 8, "LNGINT", "l l"},
    {"DBLINT", 12, "DBLINT", "d l"},
    {"NULL", 0, "", ""},
    {"INTFLTINT", 12, "INTFLTINT|TDS", "l f l"},
    {"NAME48", 48, "NAME48", "n48"},
    {"NAME8I", 12, "NAME8I", "n8 l"},
    {"NAME16I", 20, "NAME16I", "n16 l"},
    {"NAME32I", 36, "NAME32I", "n32 l"},
    {"NAME48I", 52, "NAME48I", "n48 l"},
    {"USTRING", 96, "USTRING", ""},
    {"FLTFLTINT", 12, "FLTFLTINT", "f f l"},
    {"FLTINTINT", 12, "FLTINTINT", "f l l"},
    {"INTFLTFLTFLT", 16, "INTFLTFLTFLT", "l f f f"},
    {"SPECTRUM", 4, "SPECTRUM", ""},
    {"INTINTINTINT", 16, "INTINTINTINT|ADDRESS", "l l l l"},
    {"WINDOW", 16, "WINDOW", ""},
    {"FLTFLT", 8, "FLTFLT", "f f"},
    {"INTFLTSHTSHT", 12, "INTFLTSHTSHT", "l f s s"},
    {"BOOLEAN", 4, "BOOLEAN", "=l"},
    {"INTINTFLTFLT", 16, "INTINTFLTFLT|FWINDOW", "l l f f"},
    {"FLTINTFLTINT", 16, "FLTINTFLTINT", "f l f l"},
    {"NAME64", 64, "NAME64", "n64"},
    {"NAME64I", 68, "NAME64I", "n64 l"},
    {"LNGDBL", 12, "", "l d"},
    {"NULL", 0, "", ""},
    {"DBLDBL", 32, "DBLDBL", ""},
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

struct Layouts {
  std::array<std::vector<FormatField>, kFormatCount> fields;
  std::array<bool, kFormatCount> compound{};
  // Asked for every value decoded: worked out once here from the fields.
  std::array<bool, kFormatCount> number{}, name{};
  Layouts() {
    for (size_t i = 0; i < kFormats.size(); ++i) {
      std::string_view rest = kFormats[i].layout;
      compound[i] = rest.starts_with('=') || rest.find(' ') != std::string_view::npos;
      if (rest.starts_with('=')) rest.remove_prefix(1);
      int16_t offset = 0;
      while (!rest.empty()) {
        const size_t blank = rest.find(' ');
        const std::string_view item = rest.substr(0, blank);
        // A field is a scalar tag, or 'n' and the byte length of a fixed name.
        static constexpr std::array<std::pair<char, FormatField>, 5> kScalars{{
            {'d', {FieldKind::Double, 0, 8}},
            {'f', {FieldKind::Single, 0, 4}},
            {'l', {FieldKind::Long, 0, 4}},
            {'s', {FieldKind::Short, 0, 2}},
            {'b', {FieldKind::Byte, 0, 1}},
        }};
        FormatField f{FieldKind::Name, 0, 0};
        const auto* scalar = std::find_if(kScalars.begin(), kScalars.end(),
                                          [&](const auto& s) { return s.first == item[0]; });
        if (scalar != kScalars.end())
          f = scalar->second;
        else
          f.size = static_cast<int16_t>(std::stoi(std::string(item.substr(1))));
        f.offset = offset;
        fields[i].push_back(f);
        offset = static_cast<int16_t>(offset + f.size);
        if (blank == std::string_view::npos) break;
        rest.remove_prefix(blank + 1);
      }
      const bool single = fields[i].size() == 1 && !compound[i];
      number[i] = single && fields[i][0].kind != FieldKind::Name;
      name[i] = single && fields[i][0].kind == FieldKind::Name;
    }
  }
};

const Layouts& AllLayouts() {
  static const Layouts layouts;
  return layouts;
}

const std::vector<FormatField>* FieldsOf(int16_t code) {
  const FormatEntry* entry = Lookup(code);
  return entry ? &AllLayouts().fields[static_cast<size_t>(entry - kFormats.data())] : nullptr;
}

}  // namespace

std::span<const FormatField> FormatLayout(int16_t code) {
  const std::vector<FormatField>* fields = FieldsOf(code);
  return fields ? std::span<const FormatField>(*fields) : std::span<const FormatField>();
}

bool IsCompoundFormat(int16_t code) {
  const FormatEntry* entry = Lookup(code);
  return entry && AllLayouts().compound[static_cast<size_t>(entry - kFormats.data())];
}

bool IsNumberFormat(int16_t code) {
  const FormatEntry* entry = Lookup(code);
  return entry && AllLayouts().number[static_cast<size_t>(entry - kFormats.data())];
}

bool IsNameFormat(int16_t code) {
  const FormatEntry* entry = Lookup(code);
  return entry && AllLayouts().name[static_cast<size_t>(entry - kFormats.data())];
}

uint8_t ShortFormat(int16_t code) {
  const FormatEntry* entry = Lookup(code);
  return entry ? static_cast<uint8_t>(entry - kFormats.data()) : kShortFormatUnknown;
}

int16_t FormatElementSize(int16_t code) {
  const FormatEntry* entry = Lookup(code);
  return entry ? entry->size : 0;
}

std::string FormatNameFromCode(int16_t code) {
  const FormatEntry* entry = Lookup(code);
  return std::string(entry ? entry->name : "NULL");
}

uint8_t FormatCodeFromName(const std::string& name) {
  const std::string upper = UpperCase(name);
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
