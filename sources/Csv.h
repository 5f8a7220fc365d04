#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dsc {

struct TestCommand;

// The CSV dialect of the database files and of a server's self-test text:
// CR LF or lone CR line ends, ";" "%" "#" ":" comment lines, a header looked
// up by name in any order and case, quoted fields keep their quotes, the first
// field of a line is never quoted, and every field is trimmed with TrimWhite.

std::string TrimWhite(const std::string& text);
// The header without its trailing empty fields ("A,B,," reads as "A,B"); a
// header of empty fields only stays as it is.
std::string_view WithoutTrailingEmptyFields(std::string_view header);
// Position of the column counted from 0, or -1. Trailing empty fields of the
// header are ignored; an empty field between names still matches any name.
int16_t CsvColumnIndex(const std::string& line, const std::string& name);
// The trimmed field at position, or "".
std::string CsvField(const std::string& line, int16_t position);
// The first maxFields fields of a line as CsvField finds them, untrimmed, as
// views into line: for readers that take several fields of one record.
void CsvSplit(std::string_view line, std::vector<std::string_view>& fields, int32_t maxFields);

// Record lines of a file (an upper bound used for allocation): lines that are
// neither empty nor start with ";" "%" "#", minus the header. 0 when the file
// does not exist, -1 for a file without any line; beyond 32767 lines it
// saturates at 32767 + 1 so callers can tell "too many".
int32_t CountDataLines(const std::string& path);
// The same count over lines already read with ReadDialectLines.
int32_t CountDataLines(const std::vector<std::string>& lines);

// A database file longer than this is refused unread past it.
inline constexpr size_t kMaxDialectFileBytes = 64 << 20;

// Reads a file's lines by the dialect's line rule (CR LF, lone CR, LF),
// without a leading UTF-8 byte-order mark, leaving out the empty lines and those starting with ";"
// "%" "#" (every reader skips them), and stopping once CountDataLines would say "too many". Returns
// false when the file cannot be opened or read, or is longer than kMaxDialectFileBytes;
// then why, when given, says which.
// numbers, when given, gets each kept line's number in the file (from 1).
bool ReadDialectLines(const std::string& path, std::vector<std::string>& lines,
                      std::string* why = nullptr, std::vector<int32_t>* numbers = nullptr);

// Lines of a database file in the control system's character set, Latin-1:
// a file that is UTF-8 throughout (and not plain ASCII) is converted, any
// other is Latin-1 already and stays as it is. False where a character has
// no Latin-1 form; why then names its line (numbers as ReadDialectLines
// gives them) and column, counted in characters from 1.
bool LinesToLatin1(std::vector<std::string>& lines, const std::vector<int32_t>& numbers,
                   std::string& why);

// The bytes of a test file holding commands 0..count-1, as the script editor
// saves it: the ten columns, fields as they stand (unquoted), CR LF. The
// Tolerance column is added only when a command has a tolerance, so a file
// without one saves byte for byte as it always has.
std::string TestFileText(std::span<const TestCommand> commands, int32_t count);

}  // namespace dsc
