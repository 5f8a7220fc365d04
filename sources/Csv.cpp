#include "sources/Csv.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "base/Formats.h"
#include "base/Letters.h"
#include "base/TextEncoding.h"
#include "engine/NumberText.h"
#include "engine/TestPlan.h"

namespace dsc {

namespace {

bool IsBlankTabNul(char c) { return c == ' ' || c == '\t' || c == '\0'; }

std::string_view TrimView(std::string_view t) {
  if (t.empty()) return t;
  for (;;) {
    if (!t.empty() && IsBlankTabNul(t.front())) {
      t.remove_prefix(1);
    } else if (t.size() >= 2 && t[0] == '\r' && t[1] == '\n') {
      t.remove_prefix(2);
    } else {
      break;
    }
  }
  // One lone CR and then one LF are removed once: "\n a" keeps its blank.
  if (!t.empty() && t.front() == '\r') t.remove_prefix(1);
  if (!t.empty() && t.front() == '\n') t.remove_prefix(1);
  for (;;) {
    if (!t.empty() && IsBlankTabNul(t.back())) {
      t.remove_suffix(1);
    } else if (t.size() >= 2 && t[t.size() - 2] == '\r' && t.back() == '\n') {
      t.remove_suffix(2);
    } else {
      break;
    }
  }
  if (!t.empty() && t.back() == '\r') t.remove_suffix(1);
  if (!t.empty() && t.back() == '\n') t.remove_suffix(1);
  return t;
}

constexpr size_t kNone = std::string_view::npos;

// Comment lines as CountDataLines knows them (the readers skip ":" lines too).
bool IsCountedComment(char c) { return c == ';' || c == '%' || c == '#'; }
// Positions are 16-bit: a line with more fields finds nothing past them.
constexpr int32_t kMaxColumn = 32767;

// Length of the field at the start of rest, the separator being the character
// after it. A quoted field runs to its closing quote (counted from 1, so both
// quotes belong to it); without a closing quote it is the quote alone.
// An unquoted field runs to the next comma or to the end.
size_t NextFieldLength(std::string_view rest) {
  if (!rest.empty() && rest.front() == '"') {
    const size_t q = rest.find('"', 1);
    return q == kNone ? 1 : q + 1;
  }
  const size_t comma = rest.find(',');
  return comma != kNone ? comma : rest.size();
}

}  // namespace

std::string TrimWhite(const std::string& text) { return std::string(TrimView(text)); }

std::string_view WithoutTrailingEmptyFields(std::string_view header) {
  std::vector<std::string_view> fields;
  CsvSplit(header, fields, kMaxColumn + 1);
  size_t keep = fields.size();
  while (keep > 1 && TrimView(fields[keep - 1]).empty()) --keep;
  if (keep == fields.size() || TrimView(fields[keep - 1]).empty()) return header;
  // The views point into header: cut after the last real name.
  const std::string_view last = fields[keep - 1];
  return header.substr(0, static_cast<size_t>(last.data() - header.data()) + last.size());
}

int16_t CsvColumnIndex(const std::string& line, const std::string& name) {
  // Spreadsheets save "Description,Property,,": without the cut, the empty
  // fields would answer for every name not found before them.
  // The 8-bit text of the database files compares with its Latin-1 letters
  // folded too.
  const std::string upperLine = UpperCase(WithoutTrailingEmptyFields(line), Letters::Latin1);
  const std::string upperName = UpperCase(name, Letters::Latin1);
  std::string_view rest(upperLine);
  int32_t k = 0;
  size_t p = rest.find(',');
  if (p == kNone) p = rest.size();
  for (;;) {
    // An empty field matches any name: a header with a trailing comma answers
    // the position of that empty field for every name not found before it.
    if (p == 0 || TrimView(rest.substr(0, p)) == upperName) return static_cast<int16_t>(k);
    if (p >= rest.size()) return -1;
    if (++k > kMaxColumn) return -1;
    rest.remove_prefix(p + 1);
    p = NextFieldLength(rest);
  }
}

void CsvSplit(std::string_view rest, std::vector<std::string_view>& fields, int32_t maxFields) {
  fields.clear();
  if (maxFields > kMaxColumn + 1) maxFields = kMaxColumn + 1;
  // The first field of a line is never quoted.
  size_t p = rest.find(',');
  if (p == kNone) p = rest.size();
  while (static_cast<int32_t>(fields.size()) < maxFields) {
    fields.push_back(rest.substr(0, p));
    // A field that reaches the end of the line is its last one.
    if (p >= rest.size()) return;
    rest.remove_prefix(p + 1);
    p = NextFieldLength(rest);
  }
}

std::string CsvField(const std::string& line, int16_t position) {
  if (position < 0) return "";
  std::vector<std::string_view> fields;
  CsvSplit(line, fields, position + 1);
  if (position >= static_cast<int32_t>(fields.size())) return "";
  return std::string(TrimView(fields[position]));
}

bool ReadDialectLines(const std::string& path, std::vector<std::string>& lines, std::string* why,
                      std::vector<int32_t>* numbers) {
  lines.clear();
  if (numbers) numbers->clear();
  int32_t number = 0;
  const auto fail = [&](const char* reason) {
    if (why) *why = reason;
    lines.clear();
    return false;
  };
  std::error_code ec;
  // Directories, pipes and devices are no test files: opening a pipe would
  // wait for a writer forever.
  if (!std::filesystem::is_regular_file(path, ec))
    return fail(std::filesystem::exists(path, ec) ? "not a regular file" : "no such file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail("it cannot be opened");
  // Lines every reader skips are not kept, and reading stops one record past
  // what CountDataLines can tell apart: a file of any length then takes no
  // more memory than its first records.
  int32_t counted = 0;
  auto keep = [&](std::string_view line) {
    ++number;
    if (line.empty() || IsCountedComment(line.front())) return;
    if (numbers) numbers->push_back(number);
    lines.emplace_back(line);
    ++counted;
  };
  std::string pending;  // the start of a line that no chunk has ended yet
  size_t scanned = 0;   // how much of pending holds no line break
  size_t total = 0;
  char chunk[1 << 16];
  bool end = false;
  while (!end) {
    in.read(chunk, sizeof chunk);
    const size_t got = static_cast<size_t>(in.gcount());
    if (in.bad()) return fail("it cannot be read");
    end = got < sizeof chunk;
    total += got;
    if (total > kMaxDialectFileBytes) return fail("larger than 64 MiB");
    pending.append(chunk, got);
    // A spreadsheet's "CSV UTF-8" starts with a byte-order mark; left in, it
    // would become part of the first column's name.
    if (total == got && pending.starts_with(kUtf8Bom)) pending.erase(0, kUtf8Bom.size());
    size_t start = 0;
    const size_t n = pending.size();
    for (size_t i = scanned; i < n; ++i) {
      const char c = pending[i];
      if (c != '\r' && c != '\n') continue;
      // A CR that ends the chunk may be the first half of a CR LF.
      if (c == '\r' && i + 1 == n && !end) break;
      keep(std::string_view(pending).substr(start, i - start));
      if (counted > kMaxListEntries + 1) return true;
      if (c == '\r' && i + 1 < n && pending[i + 1] == '\n') ++i;
      start = i + 1;
    }
    if (end) {
      if (start < n) keep(std::string_view(pending).substr(start));
      return true;
    }
    pending.erase(0, start);
    scanned = pending.empty() || pending.back() != '\r' ? pending.size() : pending.size() - 1;
  }
  return true;  // not reached: the last chunk ends the loop
}

bool LinesToLatin1(std::vector<std::string>& lines, const std::vector<int32_t>& numbers,
                   std::string& why) {
  bool ascii = true;
  for (const std::string& line : lines) {
    // Every line of a test file passes here: look at eight bytes at a time.
    uint64_t high = 0;
    size_t i = 0;
    for (uint64_t word; i + 8 <= line.size(); i += 8) {
      std::memcpy(&word, line.data() + i, 8);
      high |= word;
    }
    for (; i < line.size(); ++i) high |= static_cast<unsigned char>(line[i]);
    ascii = ascii && (high & 0x8080808080808080ULL) == 0;
    if (!ascii && !IsUtf8(line)) return true;  // Latin-1 already
  }
  if (ascii) return true;
  std::string latin1;
  for (size_t i = 0; i < lines.size(); ++i) {
    uint32_t refused = 0;
    if (!Utf8ToLatin1(lines[i], latin1, &refused)) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(refused));
      // The converter stops at the character it cannot convert.
      why = "line " + std::to_string(i < numbers.size() ? numbers[i] : 0) + ", column " +
            std::to_string(latin1.size() + 1) + ": " + code + " has no Latin-1 character";
      return false;
    }
    lines[i] = latin1;
  }
  return true;
}

int32_t CountDataLines(const std::vector<std::string>& lines) {
  int32_t count = 0;
  for (const std::string& line : lines) {
    if (line.empty()) continue;
    const char c = line.front();
    // ":" lines are counted although the readers skip them: the count is only
    // an upper bound for the allocation.
    if (IsCountedComment(c)) continue;
    if (++count > kMaxListEntries + 1) break;
  }
  return count - 1;
}

int32_t CountDataLines(const std::string& path) {
  std::vector<std::string> lines;
  if (!ReadDialectLines(path, lines)) return 0;
  return CountDataLines(lines);
}

std::string TestFileText(std::span<const TestCommand> commands, int32_t count) {
  count = std::clamp<int32_t>(count, 0, static_cast<int32_t>(commands.size()));
  bool tolerance = false;
  for (int32_t i = 0; i < count; ++i) tolerance = tolerance || !commands[i].Tolerance.empty();
  std::string bytes =
      "Description,Property,Device,InputSize,InputFormat,Data,OutputSize,OutputFormat,"
      "Reference,Access";
  bytes += tolerance ? ",Tolerance\r\n" : "\r\n";
  for (int32_t i = 0; i < count; ++i) {
    const TestCommand& c = commands[i];
    bytes += c.Description + "," + c.Property + "," + c.Device + "," + NumberText(c.InputSize) +
             "," + FormatNameFromCode(c.InputFormat) + "," + c.Data + "," +
             NumberText(c.OutputSize) + "," + FormatNameFromCode(c.OutputFormat) + "," +
             c.Reference + "," + c.Access;
    if (tolerance) bytes += "," + c.Tolerance;
    bytes += "\r\n";
  }
  return bytes;
}

}  // namespace dsc
