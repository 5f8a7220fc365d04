#include "sources/Lint.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <system_error>

#include "base/Formats.h"
#include "base/Letters.h"
#include "base/TextEncoding.h"
#include "engine/InputParser.h"
#include "engine/NumberText.h"
#include "engine/TestPlan.h"
#include "sources/Csv.h"
#include "sources/NearestName.h"
#include "sources/TestSources.h"

namespace dsc {

namespace {

struct Line {
  int32_t number;
  std::string text;
};

// Lines by the dialect's rule (CR LF, lone CR, LF), numbered from 1, without
// a leading byte-order mark.
std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  size_t start = 0;
  int32_t number = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') continue;
    lines.push_back({number++, std::string(text.substr(start, i - start))});
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back({number, std::string(text.substr(start))});
  return lines;
}

bool Skipped(const std::string& line) {
  return line.empty() || line.front() == ';' || line.front() == '%' || line.front() == '#' ||
         line.front() == ':';
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string_view> views;
  CsvSplit(line, views, 32768);
  std::vector<std::string> out;
  for (const auto v : views) out.push_back(TrimWhite(std::string(v)));
  return out;
}

class Checker {
 public:
  Checker(std::string file, std::vector<LintFinding>& out) : file_(std::move(file)), out_(out) {}
  void Add(int32_t line, const char* code, const std::string& message) {
    out_.push_back({file_, line, code, message});
  }

  // Checks every file kind shares; returns the lines to read further.
  std::vector<Line> Common(std::string_view text) {
    if (text.starts_with(kUtf8Bom))
      Add(1, "bom", "starts with a UTF-8 byte-order mark (dropped when read)");
    std::vector<Line> lines = SplitLines(text);
    // A file whose kept lines are not UTF-8 throughout is read as Latin-1;
    // comment lines are dropped by every reader, so they decide nothing.
    const auto kept = [](const Line& l) {
      return !l.text.empty() && l.text.front() != ';' && l.text.front() != '%' &&
             l.text.front() != '#';
    };
    bool latin1 = false;
    for (const Line& l : lines) {
      if (!kept(l)) continue;
      bool ascii = std::all_of(l.text.begin(), l.text.end(),
                               [](char c) { return static_cast<unsigned char>(c) < 0x80; });
      if (!ascii && !IsUtf8(l.text)) {
        Add(l.number, "encoding", "text is neither UTF-8 nor plain ASCII (read as Latin-1)");
        latin1 = true;
        break;
      }
    }
    // A UTF-8 file is converted to the control system's Latin-1 when read.
    for (size_t i = 0; i < lines.size() && !latin1; ++i) {
      if (!kept(lines[i])) continue;
      std::string converted;
      uint32_t refused = 0;
      if (Utf8ToLatin1(lines[i].text, converted, &refused)) continue;
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(refused));
      Add(lines[i].number, "not-latin1",
          "column " + std::to_string(converted.size() + 1) + ": " + code +
              " has no Latin-1 character, the control system's: the file is refused");
      break;
    }
    // The limit counts as the loaders count before they read a file: ":"
    // lines too, although no reader takes them; what is loaded counts only
    // the records a reader takes.
    int32_t records = -1, taken = -1;  // minus the header
    for (const Line& l : lines) {
      if (l.text.empty() || l.text.front() == ';' || l.text.front() == '%' || l.text.front() == '#')
        continue;
      ++records;
      if (l.text.front() != ':') ++taken;
    }
    if (records > kMaxListEntries)
      Add(0, "too-long",
          std::to_string(records) + " records: at most " + std::to_string(kMaxListEntries) +
              " can be loaded, the file is refused");
    else if (taken < 1)
      Add(0, "no-records", "no record below the header: nothing is loaded");
    return lines;
  }

  // The header's checks; returns the column positions by known name (-1 when
  // absent), as the readers find them.
  const Line* Header(const std::vector<Line>& lines, const std::vector<std::string>& known) {
    const Line* header = nullptr;
    for (const Line& l : lines)
      if (!Skipped(l.text)) {
        header = &l;
        break;
      }
    if (!header) return nullptr;
    const std::vector<std::string> names = Fields(header->text);
    size_t real = names.size();
    while (real > 1 && names[real - 1].empty()) --real;
    if (real < names.size())
      Add(header->number, "trailing-empty-header",
          "header ends with " + std::to_string(names.size() - real) +
              " empty field(s) (ignored when read)");
    std::vector<std::string> seen;
    for (size_t i = 0; i < real; ++i) {
      const std::string& n = names[i];
      if (n.empty()) {
        Add(header->number, "unknown-column",
            "empty column name at position " + std::to_string(i + 1) +
                ": it answers for every column not found before it");
        continue;
      }
      const bool isKnown = std::any_of(known.begin(), known.end(), [&](const std::string& k) {
        return UpperCase(k) == UpperCase(n);
      });
      if (std::find(seen.begin(), seen.end(), UpperCase(n)) != seen.end()) {
        Add(header->number, "duplicate-column",
            "column \"" + AsUtf8(n) + "\" appears twice; only the first is read");
      } else if (!isKnown) {
        const std::string near = NearestName(n, known, true);
        Add(header->number, "unknown-column",
            "unknown column \"" + AsUtf8(n) + "\" is ignored" +
                (near.empty() ? "" : "; did you mean \"" + near + "\"?"));
      }
      seen.push_back(UpperCase(n));
    }
    return header;
  }

  // A record line starting with a quote: the first field is never quoted, so
  // a comma inside the quotes splits it.
  void QuotedComma(const Line& l) {
    if (l.text.empty() || l.text.front() != '"') return;
    const size_t comma = l.text.find(',');
    const size_t close = l.text.find('"', 1);
    if (comma != std::string::npos && (close == std::string::npos || comma < close))
      Add(l.number, "quoted-comma",
          "the first field is quoted and holds a comma: the first field is never quoted, so "
          "the comma ends it");
  }

 private:
  std::string file_;
  std::vector<LintFinding>& out_;
};

// The formats whose references are numbers the lint checks (the whole
// numbers and the floating-point ones).
bool IsCheckedNumberFormat(int16_t f) {
  return f == kFormatDouble || f == kFormatSingle || f == kFormatShort || f == kFormatLong ||
         f == kFormatByte;
}

// Whether a size field fits the 32-bit whole number the loaders read it
// into; one that does not makes them refuse the whole file.
bool SizeFits(const std::string& field) {
  const double v = LeadingNumber(field);
  return v >= -2147483648.5 && v < 2147483647.5;
}

// What a reference word of a number format is compared as when the reader
// cannot keep its value (an overflow to infinity, a whole number wrapped or
// cut to the format's range), or "" when it keeps it. The reader's rule stays
// as it is: old files must compare as they always have.
std::string StoredInstead(int16_t format, std::string_view word) {
  const double v = LeadingNumber(word);
  if (format == kFormatDouble) return std::isinf(v) ? (v > 0 ? "infinity" : "-infinity") : "";
  if (format == kFormatSingle)
    return std::abs(v) > FLT_MAX ? std::string(v > 0 ? "" : "-") + "the largest SINGLE" : "";
  if (!(v >= -2147483648.5 && v < 2147483647.5))
    return format == kFormatLong ? std::to_string(RoundToInt32(v)) : "a wrapped value";
  const int32_t whole = RoundToInt32(v);
  if (format == kFormatShort) {
    const int32_t stored = whole % 32767;
    return stored == whole ? "" : std::to_string(stored);
  }
  if (format == kFormatByte) {
    // -1 .. -128 are kept as a signed byte would keep them.
    const int32_t stored = (whole % 255) & 0xFF;
    return stored == whole || stored - 256 == whole ? "" : std::to_string(stored);
  }
  return "";
}

}  // namespace

std::string LintFinding::Text() const {
  return file + ":" + (line > 0 ? std::to_string(line) + ":" : std::string()) + " " + message +
         " [" + code + "]";
}

LintFileKind LintKindOf(std::string_view text) {
  static const char* const kTestOnly[] = {"Device",    "InputSize",  "InputFormat",
                                          "Data",      "OutputSize", "OutputFormat",
                                          "Reference", "Access",     "Tolerance"};
  for (const Line& l : SplitLines(text)) {
    if (Skipped(l.text)) continue;
    const auto named = [&](const char* name) {
      const int16_t c = CsvColumnIndex(l.text, name);
      return c >= 0 && UpperCase(CsvField(l.text, c)) == UpperCase(name);
    };
    // A header the test file reader takes (an empty field answers for
    // Property) makes a test file, whatever else it names.
    if (CsvColumnIndex(l.text, "Property") >= 0) return LintFileKind::TestFile;
    if (named("FileName")) return LintFileKind::Configurations;
    // A Server column beside a test file's columns is a test file lacking
    // its Property column, not a server list.
    if (named("Server") && std::none_of(std::begin(kTestOnly), std::end(kTestOnly), named))
      return LintFileKind::ServerList;
    return LintFileKind::TestFile;
  }
  return LintFileKind::TestFile;
}

std::vector<LintFinding> LintTestFile(std::string_view text, const std::string& fileName) {
  std::vector<LintFinding> out;
  Checker check(fileName, out);
  const std::vector<Line> lines = check.Common(text);
  static const std::vector<std::string> kKnown = {
      "Description", "Property",     "Device",    "InputSize", "InputFormat", "Data",
      "OutputSize",  "OutputFormat", "Reference", "Access",    "Tolerance"};
  const Line* header = check.Header(lines, kKnown);
  if (!header) return out;
  auto column = [&](const char* name) {
    const int16_t c = CsvColumnIndex(header->text, name);
    // An empty header field answers for every name: only a real match counts.
    return c >= 0 && UpperCase(CsvField(header->text, c)) == UpperCase(name) ? c : int16_t{-1};
  };
  const int16_t property = column("Property"), outputSize = column("OutputSize"),
                outputFormat = column("OutputFormat"), inputSize = column("InputSize"),
                inputFormat = column("InputFormat"), reference = column("Reference"),
                access = column("Access"), description = column("Description"),
                toleranceColumn = column("Tolerance");
  // The reader's columns, where an empty header field answers for any name:
  // the file is refused as the reader would refuse it.
  const int16_t readProperty = CsvColumnIndex(header->text, "Property");
  const int16_t readSizes[] = {CsvColumnIndex(header->text, "InputSize"),
                               CsvColumnIndex(header->text, "OutputSize")};
  const bool hasRecord = std::any_of(
      lines.begin(), lines.end(), [&](const Line& l) { return &l > header && !Skipped(l.text); });
  if (readProperty < 0 && hasRecord)
    check.Add(header->number, "no-property-column",
              "the header has no Property column: the file cannot be loaded");
  auto field = [](const std::vector<std::string>& f, int16_t c) {
    return c >= 0 && c < static_cast<int16_t>(f.size()) ? f[c] : std::string();
  };
  auto area = std::make_unique<TransferArea>();
  for (const Line& l : lines) {
    if (&l <= header || Skipped(l.text)) continue;
    check.QuotedComma(l);
    const std::vector<std::string> f = Fields(l.text);
    const std::string what =
        "\"" + AsUtf8(description >= 0 ? field(f, description) : field(f, property)) + "\"";
    for (int k = 0; k < 2; ++k) {
      const int16_t c = readSizes[k];
      // Both sizes read from one field (an empty header name) are one finding.
      if (readProperty < 0 || c < 0 || SizeFits(field(f, c)) || (k == 1 && c == readSizes[0]))
        continue;
      check.Add(l.number, "bad-size",
                what + ": " + (k == 0 ? "InputSize" : "OutputSize") + " \"" + AsUtf8(field(f, c)) +
                    "\" does not fit a 32-bit whole number: the file is refused");
    }
    for (const auto& [sizeColumn, formatColumn] :
         {std::pair{inputSize, inputFormat}, std::pair{outputSize, outputFormat}}) {
      if (formatColumn < 0) continue;
      const std::string name = field(f, formatColumn);
      const double size = sizeColumn >= 0 ? LeadingNumber(field(f, sizeColumn)) : 0;
      // "NULL" is what the script editor writes for a format it has no name
      // for: like an empty field, a finding only where values are announced.
      const bool unnamed = name.empty() || name == "NULL";
      if (unnamed ? size > 0 : FormatCodeFromName(name) == kShortFormatUnknown) {
        const std::string near =
            name.empty()
                ? ""
                : NearestName(name, {"DOUBLE", "SINGLE", "SHORT", "LONG", "BYTE", "TEXT"}, true);
        check.Add(l.number, "unknown-format",
                  what + ": " +
                      (name.empty() ? "no format" : "unknown format \"" + AsUtf8(name) + "\"") +
                      " for " +
                      (std::abs(size) < 1e18 ? std::to_string(static_cast<long long>(size))
                                             : AsUtf8(field(f, sizeColumn))) +
                      " values: nothing is sent or read" +
                      (near.empty() ? "" : "; did you mean \"" + near + "\"?"));
      }
    }
    const std::string mode = getAccessMode(access >= 0 ? field(f, access) : "READ");
    const int32_t out = outputSize >= 0 ? RoundToInt32(LeadingNumber(field(f, outputSize))) : 0;
    const int16_t format = outputFormat >= 0 ? FullFormatFromName(field(f, outputFormat)) : 0;
    const std::string ref = field(f, reference);
    const std::string tolerance = field(f, toleranceColumn);
    ReferenceTolerance parsed;
    if (!tolerance.empty() && !ParseTolerance(tolerance, parsed))
      check.Add(
          l.number, "bad-tolerance",
          what + ": tolerance \"" + AsUtf8(tolerance) +
              "\" is not \"ABS\", \"REL%\" or \"ABS REL%\": the reference is compared exactly");
    else if (!tolerance.empty() && format != kFormatDouble && format != kFormatSingle)
      check.Add(l.number, "bad-tolerance",
                what + ": a tolerance applies to SINGLE and DOUBLE output only");
    if (out <= 0 || FormatElementSize(format) <= 0) continue;
    if (ref.empty()) {
      if (mode == "READ" || mode == "POLL")
        check.Add(
            l.number, "no-reference",
            what + ": " + mode + " with output but no reference: it passes whatever it reads");
      continue;
    }
    const int32_t n = parseStringToData(*area, format, ref);
    const int32_t bytes = ParsedByteCount(format, ref, n);
    if (bytes <= 0) {
      check.Add(l.number, "unconvertible-reference",
                what + ": the reference cannot be converted to " + FormatNameFromCode(format) +
                    ": the command can never pass");
    } else if (IsCheckedNumberFormat(format) && bytes < int64_t{out} * FormatElementSize(format)) {
      check.Add(l.number, "short-reference",
                what + ": the reference has " + std::to_string(n) + " of " + std::to_string(out) +
                    " values: only those are compared");
    }
    if (!IsCheckedNumberFormat(format) || bytes <= 0) continue;
    // The words as the reader takes them: every blank ends one.
    std::string_view rest(ref);
    for (int32_t k = 0; k < n; ++k) {
      const size_t blank = rest.find(' ');
      const std::string_view word = rest.substr(0, blank);
      if (const std::string instead = StoredInstead(format, word); !instead.empty()) {
        check.Add(l.number, "reference-out-of-range",
                  what + ": reference value \"" + AsUtf8(std::string(word)) + "\" does not fit " +
                      FormatNameFromCode(format) + ": it is compared as " + instead);
        break;
      }
      if (blank == std::string_view::npos) break;
      rest.remove_prefix(blank + 1);
    }
  }
  return out;
}

std::vector<LintFinding> LintConfigurations(std::string_view text, const std::string& fileName) {
  std::vector<LintFinding> out;
  Checker check(fileName, out);
  const std::vector<Line> lines = check.Common(text);
  const Line* header = check.Header(lines, {"Description", "FileName", "Context"});
  if (!header) return out;
  const int16_t listColumn = CsvColumnIndex(header->text, "FileName");
  for (const Line& l : lines) {
    if (&l <= header || Skipped(l.text)) continue;
    check.QuotedComma(l);
    // The loader reads no list it refuses: that configuration has no servers.
    const std::string name = listColumn >= 0 ? CsvField(l.text, listColumn) : "";
    if (const std::string why = ServerListNameProblem(name); !why.empty())
      check.Add(l.number, "server-list-name", AsUtf8(why) + ": the configuration has no servers");
  }
  return out;
}

std::vector<LintFinding> LintServerList(std::string_view text, const std::string& fileName) {
  std::vector<LintFinding> out;
  Checker check(fileName, out);
  const std::vector<Line> lines = check.Common(text);
  const Line* header = check.Header(lines, {"Server"});
  for (const Line& l : lines)
    if (header && &l > header && !Skipped(l.text)) check.QuotedComma(l);
  return out;
}

std::vector<LintFinding> LintText(std::string_view text, const std::string& fileName,
                                  LintFileKind kind) {
  switch (kind) {
    case LintFileKind::Configurations:
      return LintConfigurations(text, fileName);
    case LintFileKind::ServerList:
      return LintServerList(text, fileName);
    case LintFileKind::TestFile:
      break;
  }
  return LintTestFile(text, fileName);
}

std::vector<LintFinding> LintText(std::string_view text, const std::string& fileName) {
  return LintText(text, fileName, LintKindOf(text));
}

LintFileKind LintKindOfFile(const std::string& path, std::string_view text) {
  const std::filesystem::path file(path);
  const std::string base = file.filename().string();
  if (base == "procedures.csv") return LintFileKind::Configurations;
  // A file the configurations beside it name is a server list, whatever its
  // header says; the directory's other files are told by their header.
  std::vector<std::string> lines;
  if (ReadDialectLines((file.parent_path() / "procedures.csv").string(), lines)) {
    int16_t column = -1;
    bool header = true;
    for (const std::string& line : lines) {
      if (line.front() == ':') continue;
      if (header) {
        column = CsvColumnIndex(line, "FileName");
        header = false;
        if (column < 0) break;
      } else if (CsvField(line, column) == base) {
        return LintFileKind::ServerList;
      }
    }
  }
  return LintKindOf(text);
}

namespace {

// The file's bytes, no more than a loader would read; false when it cannot
// be read. A file past the loaders' limit gets its finding here.
bool ReadForLint(const std::string& path, std::string& bytes, std::vector<LintFinding>& findings) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.resize(kMaxDialectFileBytes + 1);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) return false;
  bytes.resize(static_cast<size_t>(in.gcount()));
  if (bytes.size() > kMaxDialectFileBytes) {
    findings.push_back({path, 0, "too-long",
                        "larger than " + std::to_string(kMaxDialectFileBytes >> 20) +
                            " MiB: the file is refused"});
    bytes.clear();
  }
  return true;
}

}  // namespace

bool LintFile(const std::string& path, std::vector<LintFinding>& findings) {
  return LintFile(path, std::nullopt, findings);
}

bool LintFile(const std::string& path, std::optional<LintFileKind> kind,
              std::vector<LintFinding>& findings) {
  std::string bytes;
  const size_t before = findings.size();
  if (!ReadForLint(path, bytes, findings)) return false;
  if (findings.size() > before) return true;  // too long to be read
  std::vector<LintFinding> found =
      LintText(bytes, path, kind ? *kind : LintKindOfFile(path, bytes));
  findings.insert(findings.end(), found.begin(), found.end());
  return true;
}

}  // namespace dsc
