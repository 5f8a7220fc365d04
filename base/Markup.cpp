#include "base/Markup.h"

#include <array>
#include <cstdint>

#include "base/TextEncoding.h"

namespace dsc {

namespace {

bool Refused(uint32_t cp) {
  if (cp < 0x20) return cp != '\t' && cp != '\n' && cp != '\r';
  if (cp >= 0x7F && cp <= 0x9F) return true;
  if (cp >= 0xD800 && cp <= 0xDFFF) return true;
  if (cp >= 0xFDD0 && cp <= 0xFDEF) return true;
  return (cp & 0xFFFE) == 0xFFFE;
}

void AppendEscape(std::string& out, uint32_t cp) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const int digits = cp > 0xFFFF ? 8 : 4;
  out += '\\';
  out += digits == 8 ? 'U' : 'u';
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 0xF];
}

// The reference of a markup character, or null for any other.
constexpr const char* Reference(uint32_t cp) {
  switch (cp) {
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '&':
      return "&amp;";
    case '"':
      return "&quot;";
    default:
      return nullptr;
  }
}

// What a byte is: 0 goes out as it is (printable ASCII, TAB, LF, CR), 1 a
// markup character, 2 anything else (controls, DEL, a byte of UTF-8 or
// Latin-1). A table: every text of every row goes through the first loop.
constexpr std::array<uint8_t, 256> kByteClass = [] {
  std::array<uint8_t, 256> c{};
  for (int b = 0; b < 256; ++b) {
    const bool printable = (b >= 0x20 && b < 0x7F) || b == '\t' || b == '\n' || b == '\r';
    c[static_cast<size_t>(b)] = !printable ? 2 : Reference(static_cast<uint32_t>(b)) ? 1 : 0;
  }
  return c;
}();

}  // namespace

void AppendMarkup(std::string& out, std::string_view text, MarkupFor how) {
  const bool references = how == MarkupFor::Document;
  // Most texts are plain: they go out in one piece, looked at once.
  const uint8_t stop = references ? 1 : 2;
  size_t i = 0;
  while (i < text.size() && kByteClass[static_cast<uint8_t>(text[i])] < stop) ++i;
  out.append(text.data(), i);
  if (i == text.size()) return;
  const bool utf8 = IsUtf8(text.substr(i));
  for (size_t len = 1; i < text.size(); i += len) {
    uint32_t cp = static_cast<uint8_t>(text[i]);
    len = 1;
    if (utf8) len = NextCodePoint(text, i, cp);
    const char* reference = references ? Reference(cp) : nullptr;
    if (reference) {
      out += reference;
    } else if (Refused(cp)) {
      AppendEscape(out, cp);
    } else if (utf8 || cp < 0x80) {
      out.append(text, i, len);
    } else {  // a Latin-1 letter: two bytes of UTF-8
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
}

}  // namespace dsc
