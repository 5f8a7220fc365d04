#include "engine/NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace dsc {

namespace {

// Walks the text and hides blanks, tabs and line feeds wherever they stand, so
// that "2 5" reads as 25.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  char Peek() {
    while (pos_ < text_.size() && IsIgnored(text_[pos_])) ++pos_;
    return pos_ < text_.size() ? text_[pos_] : '\0';
  }
  void Take() { ++pos_; }
  bool TakeIf(char upper) {
    char c = Peek();
    if (c != upper && c != static_cast<char>(upper - 'A' + 'a')) return false;
    Take();
    return true;
  }

 private:
  static bool IsIgnored(char c) { return c == ' ' || c == '\t' || c == '\n'; }
  std::string_view text_;
  size_t pos_ = 0;
};

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// &H and &O numbers. Accumulated in a double so that any number of digits
// ends at infinity instead of wrapping.
double ReadRadix(Reader& r, int radix) {
  double value = 0.0;
  for (int d = DigitValue(r.Peek()); d < radix; d = DigitValue(r.Peek())) {
    value = value * radix + d;
    r.Take();
  }
  return value;
}

// Enough significant digits for a correctly rounded double; one more marks any
// non-zero digits dropped beyond them.
constexpr size_t kMaxDigits = 800;
constexpr int64_t kExponentCap = 1'000'000;

double ReadDecimal(Reader& r) {
  char digits[kMaxDigits + 1 + 32];
  size_t count = 0;
  bool sticky = false;
  int64_t exp10 = 0;  // value = digits x 10^exp10

  auto addDigit = [&](char c, bool fraction) {
    if (count == 0 && c == '0') {
      if (fraction) --exp10;
      return;
    }
    if (count < kMaxDigits) {
      digits[count++] = c;
      if (fraction) --exp10;
    } else {
      if (!fraction) ++exp10;
      if (c != '0') sticky = true;
    }
  };

  for (char c = r.Peek(); c >= '0' && c <= '9'; c = r.Peek()) {
    addDigit(c, false);
    r.Take();
  }
  if (r.Peek() == '.') {
    r.Take();
    for (char c = r.Peek(); c >= '0' && c <= '9'; c = r.Peek()) {
      addDigit(c, true);
      r.Take();
    }
  }
  if (r.TakeIf('E') || r.TakeIf('D')) {
    bool negative = false;
    if (r.Peek() == '+' || r.Peek() == '-') {
      negative = r.Peek() == '-';
      r.Take();
    }
    int64_t e = 0;
    for (char c = r.Peek(); c >= '0' && c <= '9'; c = r.Peek()) {
      if (e < kExponentCap) e = e * 10 + (c - '0');
      r.Take();
    }
    exp10 += negative ? -e : e;
  }
  // Zero in any spelling, "-0" included, is a plain +0 so that its bytes
  // compare equal to a zero answer.
  if (count == 0) return 0.0;
  if (sticky) {
    digits[count++] = '1';
    --exp10;
  }
  if (exp10 > kExponentCap) exp10 = kExponentCap;
  if (exp10 < -kExponentCap) exp10 = -kExponentCap;

  digits[count++] = 'e';
  char* end = std::to_chars(digits + count, digits + sizeof digits, exp10).ptr;
  double value = 0.0;
  auto result = std::from_chars(digits, end, value);
  if (result.ec == std::errc::result_out_of_range) {
    // The magnitude decides: overflow gives infinity, underflow zero.
    int64_t magnitude = static_cast<int64_t>(count) + exp10;
    value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return value;
}

}  // namespace

double LeadingNumber(std::string_view text) {
  Reader r(text);
  bool negative = false;
  if (r.Peek() == '+' || r.Peek() == '-') {
    negative = r.Peek() == '-';
    r.Take();
  }
  double value = 0.0;
  if (r.Peek() == '&') {
    r.Take();
    if (r.TakeIf('H')) {
      value = ReadRadix(r, 16);
    } else if (r.TakeIf('O')) {
      value = ReadRadix(r, 8);
    }
  } else {
    value = ReadDecimal(r);
  }
  return negative && value != 0.0 ? -value : value;
}

int32_t RoundToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  // Halves go to the even neighbour; done by hand so that the result does not
  // depend on the floating-point rounding mode.
  double whole = std::floor(value);
  double rest = value - whole;
  if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  return static_cast<int32_t>(whole);
}

int32_t LeadingInt32(std::string_view text) { return RoundToInt32(LeadingNumber(text)); }

std::string NumberText(int64_t value) {
  std::string digits = std::to_string(value);
  return value < 0 ? digits : " " + digits;
}

}  // namespace dsc
