#include "app/Markup.h"

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

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else {  // Latin-1 only: two bytes
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The code point at text[i] of valid UTF-8, and its length.
uint32_t Decode(std::string_view text, size_t i, size_t& len) {
  const auto c = static_cast<uint8_t>(text[i]);
  if (c < 0x80) {
    len = 1;
    return c;
  }
  len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
  uint32_t cp = c & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
  return cp;
}

bool PlainAscii(std::string_view text) {
  for (const char ch : text) {
    const auto c = static_cast<uint8_t>(ch);
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c >= 0x7F) return false;
  }
  return true;
}

}  // namespace

bool IsMarkupText(std::string_view text) {
  if (PlainAscii(text)) return true;
  if (!IsUtf8(text)) return false;
  for (size_t i = 0, len = 0; i < text.size(); i += len)
    if (Refused(Decode(text, i, len))) return false;
  return true;
}

std::string MarkupText(std::string_view text) {
  if (PlainAscii(text)) return std::string(text);
  const bool utf8 = IsUtf8(text);
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (size_t i = 0, len = 1; i < text.size(); i += len) {
    uint32_t cp = static_cast<uint8_t>(text[i]);
    len = 1;
    if (utf8) cp = Decode(text, i, len);
    if (Refused(cp)) {
      AppendEscape(out, cp);
    } else if (utf8) {
      out.append(text, i, len);
    } else {
      AppendUtf8(out, cp);
    }
  }
  return out;
}

}  // namespace dsc
