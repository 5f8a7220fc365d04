#pragma once

// Text helpers shared by the outputs of ovra-check: what a terminal, a JSON
// line and an XML file may show, times and how often lines are flushed.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include "engine/RunEvents.h"

namespace dsc {

// True when every byte is printable ASCII (0x20..0x7E) and, with json, none
// is a quote or a backslash: text every output shows as it stands.
bool PrintableAscii(std::string_view text, bool json = false);

// Text for an XML attribute or body that the serializer escapes: AppendMarkup
// (base/Markup.h), plain ASCII as it is.
std::string XmlText(const std::string& text);

// An output file written once the run ends (JUnit, HTML) is emptied before
// anything runs: an earlier run's results never survive, and a path that
// cannot be written is known at once. False, with "PATH: reason" in error,
// when it cannot be created.
bool TruncateOutputFile(const std::string& path, std::string& error);
// Writes such a file through a large buffer and checks the close too: a
// disk that fills up shows there at the latest. False, with "PATH: reason"
// in error, when any of it could not be written.
bool WriteOutputFile(const std::string& path, const std::function<void(FILE*)>& write,
                     std::string& error);

// "12.345": whole milliseconds as seconds, never with an exponent. Writes
// into out (24 bytes are enough) and returns the end.
char* Seconds(int64_t ms, char* out);
std::string Seconds(int64_t ms);

// The command of an outcome; an empty one for an outcome without.
const TestCommand& CommandOf(const CommandOutcome& o);
// "/CONTEXT/SERVER/DEVICE[PROPERTY] ACCESS"
std::string CommandPath(const CommandOutcome& o);

// Control characters of a garbled file or answer would drive the terminal:
// they show as "?". CR is dropped (captions end their lines with CR LF),
// trailing line ends too. The result is UTF-8.
std::string TerminalText(const std::string& text);

// "expected 5 got 4.2" for a failed comparison, "= 4.2" for a value read,
// "" when the command read nothing.
std::string ValueNote(const CommandOutcome& outcome);

// Flushes a line-oriented stream at once on a terminal, but into a pipe or
// file at most once a second: a CI log still moves, and a long run does not
// pay a system call per line.
class LineFlusher {
 public:
  LineFlusher(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}
  void LineDone();
  // True when a line written now should reach the reader at once (and the
  // next second starts): always on a terminal, else once a second.
  bool Due();

 private:
  std::ostream& out_;
  bool terminal_;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// The ISO 8601 time of the JSON lines, formatted once a second.
class TimestampCache {
 public:
  const std::string& Now();

 private:
  int64_t second_ = 0;
  std::string text_;
};

// UTC "2026-12-06T13:12:32": the form both JUnit schemas accept.
std::string IsoTimestamp(std::chrono::system_clock::time_point t, bool milliseconds);
int64_t UnixMs();

}  // namespace dsc
