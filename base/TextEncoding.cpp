#include "base/TextEncoding.h"

#include <cstdint>

namespace dsc {

size_t NextCodePoint(std::string_view text, size_t i, uint32_t& cp) {
  const auto c = static_cast<uint8_t>(text[i]);
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  size_t len = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + len > text.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto t = static_cast<uint8_t>(text[i + k]);
    if ((t & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (t & 0x3F);
  }
  if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return len;
}

bool IsUtf8(std::string_view text) {
  uint32_t cp = 0;
  for (size_t i = 0, len = 0; i < text.size(); i += len)
    if ((len = NextCodePoint(text, i, cp)) == 0) return false;
  return true;
}

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (const char ch : latin1) {
    const auto c = static_cast<uint8_t>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string AsUtf8(std::string_view text) {
  // Plain ASCII, by far the most common, is its own UTF-8.
  bool ascii = true;
  for (const char ch : text) ascii = ascii && static_cast<uint8_t>(ch) < 0x80;
  if (ascii || IsUtf8(text)) return std::string(text);
  return Latin1ToUtf8(text);
}

bool Utf8ToLatin1(std::string_view utf8, std::string& latin1, uint32_t* refused) {
  latin1.clear();
  latin1.reserve(utf8.size());
  uint32_t cp = 0;
  for (size_t i = 0, len = 0; i < utf8.size(); i += len) {
    len = NextCodePoint(utf8, i, cp);
    if (len == 0 || cp > 0xFF) {
      if (refused) *refused = len == 0 ? kNotUtf8 : cp;
      return false;
    }
    latin1 += static_cast<char>(cp);
  }
  return true;
}

std::string Utf8ToLatin1(std::string_view utf8) {
  std::string latin1;
  return Utf8ToLatin1(utf8, latin1, nullptr) ? latin1 : std::string(utf8);
}

}  // namespace dsc
