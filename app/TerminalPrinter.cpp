#include "app/TerminalPrinter.h"

#include <charconv>

#include "access/CompletionCodes.h"
#include "base/TextEncoding.h"

namespace dsc {

std::string TerminalPrinter::Paint(const std::string& text, const char* colour) const {
  if (!colour_) return text;
  return std::string(colour) + text + "\x1b[0m";
}

namespace {

// Appends what TerminalText gives, without a copy for plain ASCII.
void AppendShown(std::string& line, const std::string& text) {
  if (PrintableAscii(text)) {
    line += text;
  } else {
    line += TerminalText(text);
  }
}

void AppendNumber(std::string& line, int64_t value) {
  char buf[24];
  line.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

}  // namespace

void TerminalPrinter::CommandEnded(const CommandOutcome& o) {
  const Verdict v = o.verdict();
  line_.clear();
  if (planned_ > 1) {
    line_ += '[';
    AppendNumber(line_, o.index + 1);
    line_ += '/';
    AppendNumber(line_, planned_);
    line_ += "] ";
  }
  if (o.command) AppendShown(line_, o.command->Description);
  line_ += " : ";
  if (colour_) {
    line_ += v == Verdict::Passed ? "\x1b[32m" : v == Verdict::Skipped ? "\x1b[33m" : "\x1b[31m";
  }
  AppendShown(line_, o.resultText);
  if (colour_) line_ += "\x1b[0m";
  if (o.outcome.kind == OutcomeKind::ReferenceNotMet && !o.expected.empty()) {
    line_ += "  expected ";
    AppendShown(line_, o.expected.Display());
    line_ += " got ";
    AppendShown(line_, o.actual.Display());
  } else if (!o.actual.empty()) {
    line_ += "  = ";
    AppendShown(line_, o.actual.Display());
  }
  if (!o.skipped()) {
    line_ += "  (";
    AppendNumber(line_, o.elapsedMs);
    line_ += " ms)";
  }
  line_ += '\n';
  out_.write(line_.data(), static_cast<std::streamsize>(line_.size()));
  flusher_.LineDone();
}

void TerminalPrinter::ServerEnded(const RunSummary& summary) {
  if (!summary.stoppedBy.empty())
    out_ << Paint(TerminalText(summary.stoppedBy), "\x1b[31m") << '\n';
}

void TerminalPrinter::ServerNotPrepared(const std::string&, const std::string&,
                                        const std::string& reason) {
  if (captionShown_) {
    captionShown_ = false;
    return;
  }
  out_ << Paint("not prepared: " + TerminalText(reason), "\x1b[31m") << '\n';
  flusher_.LineDone();
}

void TerminalPrinter::RunEnded(const CheckTotals& t) {
  if (!t.reportFile.empty()) out_ << "Report: " << AsUtf8(t.reportFile) << '\n';
  out_ << t.passed << " succeeded, " << t.failed + t.errors << " failed";
  if (t.skipped > 0) out_ << ", " << t.skipped << " not run";
  if (t.notPrepared > 0) out_ << ", " << t.notPrepared << " not prepared";
  out_ << " in " << Seconds(t.elapsedMs) << " s";
  if (!t.interruptedBy.empty()) out_ << " (" << TerminalText(t.interruptedBy) << ")";
  out_ << '\n';
  out_.flush();
}

}  // namespace dsc
