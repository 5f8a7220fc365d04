#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "engine/RunEvents.h"

namespace dsc {

// How a command ended, as CI tools count it: a reference or input that did
// not hold is a failure, an access that did not go through an error.
enum class Verdict { Passed, Failed, Error, Skipped };
Verdict VerdictOf(const CommandOutcome& outcome);
const char* VerdictName(Verdict verdict);

// What one invocation did, for the summaries at its end.
struct CheckTotals {
  int32_t passed = 0, failed = 0, errors = 0, skipped = 0;
  int32_t notPrepared = 0;  // servers whose test could not be prepared
  int64_t elapsedMs = 0;
  std::string interruptedBy;  // the report line of the signal that ended the run
  int exitCode = 0;
  std::string reportFile;
  int32_t tests() const { return passed + failed + errors + skipped; }
};

// One output of ovra-check: a listener on the runs of one invocation, plus
// the two facts the runner does not know (a server whose test could not be
// prepared, the end of the invocation).
class CheckOutput : public RunObserver {
 public:
  virtual void NotPrepared(const std::string& /*context*/, const std::string& /*server*/,
                           const std::string& /*reason*/) {}
  virtual void Finished(const CheckTotals& /*totals*/) {}
};

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

// The human lines: "[3/7] Pressure : Target not met !  expected 5 got 4.2  (12 ms)".
class TerminalPrinter final : public CheckOutput {
 public:
  TerminalPrinter(std::ostream& out, bool colour, bool terminal)
      : out_(out), colour_(colour), flusher_(out, terminal) {}
  void RunStarted(const std::string&, const std::string&, int32_t planned) override {
    planned_ = planned;
  }
  void CommandEnded(const CommandOutcome& outcome) override;
  void RunEnded(const RunSummary& summary) override;
  void NotPrepared(const std::string& context, const std::string& server,
                   const std::string& reason) override;
  void Finished(const CheckTotals& totals) override;

 private:
  std::string Paint(const std::string& text, const char* colour) const;
  std::ostream& out_;
  bool colour_;
  LineFlusher flusher_;
  int32_t planned_ = 0;
  std::string line_;
};

// The ISO 8601 time of the JSON lines, formatted once a second.
class TimestampCache {
 public:
  const std::string& Now();

 private:
  int64_t second_ = 0;
  std::string text_;
};

// Text waiting to be written, appended in small pieces: a growing array
// whose appends of short, fixed-length pieces compile to a few moves.
class LineBuffer {
 public:
  // Space for n more bytes; Commit says where the written text ends.
  char* Room(size_t n) {
    if (capacity_ - size_ < n) Grow(n);
    return data_.get() + size_;
  }
  void Commit(const char* end) { size_ = static_cast<size_t>(end - data_.get()); }
  void Add(std::string_view text) {
    std::memcpy(Room(text.size()), text.data(), text.size());
    size_ += text.size();
  }
  std::string_view view() const { return {data_.get(), size_}; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() { size_ = 0; }

 private:
  void Grow(size_t n);
  std::unique_ptr<char[]> data_;
  size_t size_ = 0, capacity_ = 0;
};

// One JSON object per line: "command" for every command, "preparation" for a
// test that could not be prepared, "summary" at the end.
class JsonWriter final : public CheckOutput {
 public:
  JsonWriter(std::ostream& out, bool terminal) : out_(out), flusher_(out, terminal) {}
  // Lines of a run that ends without Finished still reach the stream.
  ~JsonWriter() override {
    if (!pending_.empty()) Hand(true);
  }
  void CommandEnded(const CommandOutcome& outcome) override;
  // A server's lines are all in the stream when its run ends.
  void RunEnded(const RunSummary&) override { Hand(flusher_.Due()); }
  void NotPrepared(const std::string& context, const std::string& server,
                   const std::string& reason) override;
  void Finished(const CheckTotals& totals) override;

  // Fields a control system adds to a command's line, written as they come
  // (",\"key\":value..."): its own names of server and device, a failure's
  // whole error stack. The text must stay valid until the next call.
  std::function<std::string_view(const CommandOutcome&)> extraFields;

 private:
  void String(std::string_view key, const std::string& text);
  void Number(std::string_view key, int64_t value);
  void Value(std::string_view key, const DecodedValue& value);
  // Hands the finished lines to the stream; flush: and on to the reader.
  void Hand(bool flush);
  std::ostream& out_;
  LineFlusher flusher_;
  TimestampCache clock_;
  // Finished lines not yet handed on, written in large pieces: a pipe or a
  // file gets one system call per 64 KiB, not one per few lines.
  LineBuffer pending_;
  // The start of every command line of one server, which is the same for
  // all of them: {"type":"command","context":...,"server":...,"index":
  std::string prefix_, prefixContext_, prefixServer_;
};

// JUnit XML: one testsuite per server, one testcase per command. The
// document grows as commands end and is written when the invocation ends
// (interrupted or not).
class JunitWriter final : public CheckOutput {
 public:
  // ant: the flavour of the stricter Ant schema, without skipped tests.
  explicit JunitWriter(bool ant = false);
  // Truncates the file at once: an earlier run's results never survive, and
  // a path that cannot be written is known before anything runs. False (with
  // the system's reason in error) when it cannot be created.
  bool Open(const std::string& path, std::string& error);
  void RunStarted(const std::string& context, const std::string& server, int32_t planned) override;
  void CommandEnded(const CommandOutcome& outcome) override;
  void RunEnded(const RunSummary& summary) override;
  void NotPrepared(const std::string& context, const std::string& server,
                   const std::string& reason) override;
  void Finished(const CheckTotals& totals) override;
  // False when Finished could not write the file; the reason in error().
  bool written() const { return written_; }
  const std::string& error() const { return error_; }

 private:
  struct Suite {
    std::string context, server, stoppedBy;
    std::string leftOut;  // the Ant flavour's skipped commands, a line each
    int64_t startMs = 0, ms = 0;
    int tests = 0, failures = 0, errors = 0, skipped = 0;
    pugi::xml_node node, properties, prototype;
  };
  Suite& SuiteFor(const std::string& context, const std::string& server);
  // A testcase for name; for a fault also its <error>, <failure> or
  // <skipped> with message and, but for a skip, type and body.
  void AddCase(Suite& s, const std::string& name, int64_t ms, Verdict verdict,
               const char* type = "", const std::string& message = {},
               const std::string& body = {});
  bool ant_;
  std::string path_, error_, host_;
  bool written_ = false;
  pugi::xml_document doc_;
  pugi::xml_node root_;
  std::vector<Suite> suites_;
};

// UTC "2026-12-06T13:12:32": the form both JUnit schemas accept.
std::string IsoTimestamp(std::chrono::system_clock::time_point t, bool milliseconds);
int64_t UnixMs();

}  // namespace dsc
