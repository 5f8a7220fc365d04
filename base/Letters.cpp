#include "base/Letters.h"

#include <cstdint>

namespace dsc {

namespace {

char Lower(char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 0x20) : ch; }

}  // namespace

std::string UpperCase(std::string_view text, Letters letters) {
  std::string out(text);
  for (char& ch : out) {
    const auto c = static_cast<uint8_t>(ch);
    // Latin-1's lower-case letters are 0xE0..0xFE, without the division sign.
    if ((c >= 'a' && c <= 'z') ||
        (letters == Letters::Latin1 && c >= 0xE0 && c <= 0xFE && c != 0xF7))
      ch = static_cast<char>(c - 0x20);
  }
  return out;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& ch : out) ch = Lower(ch);
  return out;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

}  // namespace dsc
