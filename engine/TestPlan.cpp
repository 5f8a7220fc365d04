#include "engine/TestPlan.h"

#include <charconv>
#include <cmath>
#include <sstream>
#include <string_view>

#include "base/Letters.h"
#include "engine/NumberText.h"

namespace dsc {

std::string getAccessMode(const std::string& accStr) {
  // Independent searches, so the later test wins whatever the order of the
  // words in the string; upper case only, and a word inside a longer word
  // (POLLING) counts.
  std::string mode = "READ";
  if (accStr.find("WRITE") != std::string::npos) mode = "WRITE";
  if (accStr.find("POLL") != std::string::npos) mode = "POLL";
  if (accStr.find("REFRESH") != std::string::npos) mode = "REFRESH";
  return mode;
}

int32_t getAccessTimeout(const std::string& accStr) {
  constexpr int32_t kDefaultTimeout = 1000;
  size_t open = accStr.find('[');
  if (open == std::string::npos) return kDefaultTimeout;

  // Only the first bracket group counts: up to the next "[" and then up to
  // its first "]" (an unclosed group runs to that point).
  std::string_view group(accStr);
  group.remove_prefix(open + 1);
  group = group.substr(0, group.find('['));
  group = group.substr(0, group.find(']'));
  if (group.empty()) return kDefaultTimeout;

  // Pieces at even positions are keys, odd ones their values: in
  // "a=timeout=300" the word timeout is a value and is not looked at.
  int32_t timeout = kDefaultTimeout;
  size_t index = 0;
  std::string_view key;
  while (true) {
    size_t eq = group.find('=');
    std::string_view piece = group.substr(0, eq);
    if (index % 2 == 0) {
      key = piece;
    } else {
      if (UpperCase(key).find("TIMEOUT") != std::string::npos) timeout = LeadingInt32(piece);
    }
    if (eq == std::string_view::npos) break;
    group.remove_prefix(eq + 1);
    ++index;
  }
  return timeout;
}

bool ReferenceTolerance::Within(double value, double reference) const {
  if (std::isnan(value) || std::isnan(reference)) return false;
  if (value == reference) return true;  // equal infinities too
  return std::fabs(value - reference) <= std::max(absolute, relative * std::fabs(reference));
}

bool ParseTolerance(const std::string& text, ReferenceTolerance& tolerance) {
  ReferenceTolerance parsed;
  std::istringstream words(text);
  bool haveAbsolute = false, haveRelative = false;
  int count = 0;
  for (std::string word; words >> word; ++count) {
    const bool percent = word.back() == '%';
    if (percent) word.pop_back();
    double v = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
    if (ec != std::errc() || end != word.data() + word.size() || !(v >= 0) || std::isinf(v))
      return false;
    bool& seen = percent ? haveRelative : haveAbsolute;
    if (seen) return false;
    seen = true;
    (percent ? parsed.relative : parsed.absolute) = percent ? v / 100.0 : v;
  }
  if (count == 0) return false;
  tolerance = parsed;
  return true;
}

}  // namespace dsc
