#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dsc {

// What lint finds in a test file, a stored configuration (procedures.csv) or
// a server list: things the readers accept without a word but that make a
// check pass without checking, or read differently than their author meant.
// The terminal checker prints them, the window's script editor shows them for
// the file it has open; both get the same list from here.
struct LintFinding {
  std::string file;
  int32_t line = 0;  // from 1; 0 for the file as a whole
  // A stable name for scripts and docs: "unknown-column", "trailing-empty-header",
  // "duplicate-column", "no-property-column", "unknown-format", "no-reference",
  // "short-reference", "unconvertible-reference", "reference-out-of-range", "bad-size",
  // "bad-tolerance", "quoted-comma", "server-list-name", "bom", "encoding", "too-long",
  // "no-records".
  std::string code;
  std::string message;  // UTF-8
  // "FILE:LINE: message [code]", the form compilers and editors jump to.
  std::string Text() const;
};

enum class LintFileKind { TestFile, Configurations, ServerList };

// The kind a file's header says it is: a Property column (as the reader
// finds it) makes a test file; else FileName a configuration list; else a
// Server column without any other test-file column a server list; anything
// else a test file.
LintFileKind LintKindOf(std::string_view text);
// The kind of a file in a database directory: procedures.csv, a server list
// when the procedures.csv beside it names it, else by its header.
LintFileKind LintKindOfFile(const std::string& path, std::string_view text);

// The checks for a file's whole text (as read from disk, BOM included).
std::vector<LintFinding> LintTestFile(std::string_view text, const std::string& fileName);
std::vector<LintFinding> LintConfigurations(std::string_view text, const std::string& fileName);
std::vector<LintFinding> LintServerList(std::string_view text, const std::string& fileName);
// By the kind given, or the kind the header tells.
std::vector<LintFinding> LintText(std::string_view text, const std::string& fileName,
                                  LintFileKind kind);
std::vector<LintFinding> LintText(std::string_view text, const std::string& fileName);

// Reads and checks a file as the kind given (where the caller knows what the
// file is for), else as LintKindOfFile tells; false when it cannot be read. A
// file longer than a loader reads is one "too-long" finding.
bool LintFile(const std::string& path, std::optional<LintFileKind> kind,
              std::vector<LintFinding>& findings);
bool LintFile(const std::string& path, std::vector<LintFinding>& findings);

}  // namespace dsc
