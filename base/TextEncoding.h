#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dsc {

// The checker's texts come from test files, the control system and the
// command line. Files written by a spreadsheet are UTF-8 (sometimes with a
// byte-order mark), older ones and the control system's answers Latin-1; both
// must show the same on a terminal, in JSON and in XML, which want UTF-8.

// Whether text is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view text);

// The code point of the well-formed UTF-8 sequence at text[i] and its length
// (no overlong forms, no surrogates, nothing past U+10FFFF); 0 where there is
// none.
size_t NextCodePoint(std::string_view text, size_t i, uint32_t& cp);

// Every byte read as its Latin-1 character.
std::string Latin1ToUtf8(std::string_view latin1);

// Text that is valid UTF-8 stays as it is, any other is read as Latin-1. A
// Latin-1 text that happens to be valid UTF-8 needs two or more accented
// characters in a row in just the right pairs; real names never have them.
std::string AsUtf8(std::string_view text);

// Text typed on a UTF-8 terminal turned into the control system's Latin-1,
// so that a name "list" printed can be typed back. Text that is not UTF-8 of
// Latin-1 characters stays as it is.
std::string Utf8ToLatin1(std::string_view utf8);
// The same, or false with `refused` (when given) set to the first code point
// beyond U+00FF, or to kNotUtf8 where the text is not UTF-8.
bool Utf8ToLatin1(std::string_view utf8, std::string& latin1, uint32_t* refused);
inline constexpr uint32_t kNotUtf8 = 0xFFFFFFFF;

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace dsc
