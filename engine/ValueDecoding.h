#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/Formats.h"

namespace dsc {

// What a command read or expected, decoded once from a transfer area by its
// format and size, for every front end that shows values (terminal lines,
// JSON, JUnit, the grid's tooltip). The report and the grid's texts never show
// it: they keep their own words.
struct DecodedValue {
  // Fields: a compound format (FLTINT, NAME16I, BOOLEAN ...) by the fields of
  // its layout; Bytes: a format whose layout is the server's own (STRUCT ...).
  enum class Kind : uint8_t { None, Number, Text, Bytes, Fields };
  // One field of a compound element: a number, or a name's text.
  struct Field {
    FieldKind kind = FieldKind::Double;
    double number = 0;
    std::string text;  // Name: up to its zero byte (Latin-1)
    bool operator==(const Field&) const = default;
  };
  Kind kind = Kind::None;
  int16_t format = 0;
  int32_t count = 0;                         // elements the area holds for the command
  std::vector<double> numbers;               // Number: the first elements, at most the limit
  std::string text;                          // Text: the text up to its zero byte (Latin-1)
  std::vector<uint8_t> bytes;                // Bytes: the first bytes
  std::vector<std::vector<Field>> elements;  // Fields: the first elements, each by its fields

  bool empty() const { return kind == Kind::None; }
  // The same decoded value (what Display shows comes from it).
  bool SameAs(const DecodedValue& other) const;
  // Elements left out of `numbers`, `bytes` or `elements`.
  int32_t omitted() const;
  // "4.2", "[1, 2, 3, ... 97 more]", "\"OPEN\"", "{1.5, 3}", "[{\"PUMP\", 2}]",
  // "<0a 1b ...>"; empty for None.
  // Formatted on the first call and kept: the terminal line, the JSON line
  // and the JUnit record of one command show the same text.
  const std::string& Display() const;

 private:
  std::string Format() const;
  mutable std::string shown_;
  mutable bool formatted_ = false;
};

inline constexpr int32_t kShownElements = 8;

// Decodes `count` elements of `format` (full form) from the start of `area`,
// keeping at most `limit` of them. Formats without an element size, or a count
// of zero, give Kind::None.
DecodedValue DecodeValue(std::span<const uint8_t> area, int16_t format, int32_t count,
                         int32_t limit = kShownElements);

// The shortest text that reads back as the same double ("4.2", "1e+300", "nan").
std::string ShortestNumberText(double value);

}  // namespace dsc
