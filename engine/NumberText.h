#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dsc {

// The leading-number rule used by every reader of numbers (time-outs, sizes,
// values): blanks, tabs and line feeds anywhere are ignored; then an optional
// sign, digits, an optional point with digits and an optional E or D exponent;
// &H and &O introduce hexadecimal and octal whole numbers. Reading stops at the
// first character that does not fit; text without a number reads as 0.
// Overflowing exponents give +-infinity, never undefined behaviour.
double LeadingNumber(std::string_view text);

// Round to the nearest whole number, halves to the even neighbour, saturating
// at the 32-bit range (NaN gives 0). Used wherever a whole number is needed.
int32_t RoundToInt32(double value);

// LeadingNumber followed by RoundToInt32.
int32_t LeadingInt32(std::string_view text);

// Decimal text with one leading blank for zero and positive numbers and a "-"
// for negative ones: 32 gives " 32", 0 gives " 0", -7 gives "-7".
std::string NumberText(int64_t value);

}  // namespace dsc
