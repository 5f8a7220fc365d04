#pragma once

// Names that become parts of file names: a test file is
// <database>/<context>-<server>.csv, and a configuration's server list is
// <database>/<file name>. A name from a facility or site file, typed in the
// window or given on the command line must not lead out of that directory or
// carry characters that would drive a terminal.

#include <string>
#include <string_view>

namespace dsc {

// Why the name cannot be part of a file name in the database directory, or ""
// when it can: empty, holding "/" or "..", or a control character (below
// 0x20, 0x7F, and 0x80..0x9F of Latin-1).
std::string UnsafeNameReason(std::string_view name);
inline bool IsSafeName(std::string_view name) { return UnsafeNameReason(name).empty(); }
bool HasControlCharacter(std::string_view text);

// The text with every control character below 0x20 and DEL shown as "\xHH"
// (a backslash stays itself), so that text from a file cannot drive the
// terminal it is printed on. Bytes from 0x80 up are left alone: messages may
// be UTF-8.
std::string VisibleControls(std::string_view text);

}  // namespace dsc
