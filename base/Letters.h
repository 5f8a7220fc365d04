#pragma once

#include <string>
#include <string_view>

namespace dsc {

// Which letters change case. Names, keywords and format names are compared
// in ASCII only, whatever the locale the window set (Latin-1 bytes above 127
// must not turn into a known name); the database files' 8-bit text also
// folds the Latin-1 letters.
enum class Letters { Ascii, Latin1 };

// The one upper-casing of the checker.
std::string UpperCase(std::string_view text, Letters letters = Letters::Ascii);
// ASCII letters to lower case, for names that compare as Tango's do.
std::string LowerCase(std::string_view text);
bool SameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace dsc
