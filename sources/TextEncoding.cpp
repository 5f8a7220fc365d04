#include "sources/TextEncoding.h"

#include <cstdint>

namespace dsc {

bool IsUtf8(std::string_view text) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const auto c = static_cast<uint8_t>(text[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len = 0;
    uint32_t cp = 0;
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
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      const auto t = static_cast<uint8_t>(text[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
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

std::string Utf8ToLatin1(std::string_view utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<uint8_t>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    const auto next = i + 1 < utf8.size() ? static_cast<uint8_t>(utf8[i + 1]) : 0;
    if ((c != 0xC2 && c != 0xC3) || (next & 0xC0) != 0x80) return std::string(utf8);
    out += static_cast<char>(((c & 0x03) << 6) | (next & 0x3F));
    ++i;
  }
  return out;
}

}  // namespace dsc
