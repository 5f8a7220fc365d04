#include "base/SafeNames.h"

#include <cstdio>

namespace dsc {

namespace {

// Latin-1 has control characters at 0x80..0x9F as well.
bool IsControl(unsigned char c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

}  // namespace

bool HasControlCharacter(std::string_view text) {
  for (const char ch : text) {
    if (IsControl(static_cast<unsigned char>(ch))) return true;
  }
  return false;
}

std::string UnsafeNameReason(std::string_view name) {
  if (name.empty()) return "the name is empty";
  if (name.find('/') != std::string_view::npos) return "the name holds a \"/\"";
  if (name.find("..") != std::string_view::npos) return "the name holds \"..\"";
  if (HasControlCharacter(name)) return "the name holds a control character";
  return "";
}

std::string VisibleControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace dsc
