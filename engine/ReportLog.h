#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

#include "base/Clock.h"

namespace dsc {

inline constexpr const char* kReportColumnHeader =
    "------- Time ------:----- Action -----:------- Results -------";

// The report directory: $TEMP, else $TMPDIR, else /tmp.
std::string DefaultReportDirectory();

// The plain-text report: one line per call, CR LF, appended and closed at
// once so every line is on disk when AddToReport returns, and other programs
// may read or move the file between lines.
//
// The name <dir>/<unix time>.txt is predictable and the directory is often a
// shared /tmp, so the file is opened without following a symbolic link and
// must be a regular file of the running user with no other name; a new one is
// created with mode 0644 (less the umask). Each line goes out in one write; a
// line the file system takes only in part is cut off again, so the report
// holds whole lines only.
class ReportLog {
 public:
  // The write(2) the lines go through; tests put in their own.
  using WriteFunction = ssize_t (*)(int fd, const void* data, size_t size);

  ReportLog(Clock& clock, std::string directory);

  // Empty means the next line starts a new file named <dir>/<unix time>.txt.
  std::string reportFileName;

  int16_t AddToReport(const std::string& txt, bool addDate);

  // A lane's report (servers side by side): while set, each line goes here,
  // dated and ended with CR LF, instead of into a file; the run's own report
  // writes it with AddFinished when the lane's block is delivered.
  std::function<void(std::string line)> divert;
  // A line as a diverted report made it, into the current file.
  void AddFinished(const std::string& line);

  // Lines of the current file (since reportFileName was last emptied) that
  // AddToReport was given and that reached the file whole. An entry of
  // several lines (a caption) counts each of them.
  int32_t linesAttempted() const { return attempted_; }
  int32_t linesWritten() const { return written_; }
  bool complete() const { return written_ == attempted_; }

  // A failed open or write never stops a run. While lines of the current file
  // were lost, says once "Report incomplete: N of M lines written to PATH:
  // <first reason>" for the front end to show; "" otherwise.
  std::string TakeError();
  const std::string& directory() const { return directory_; }
  void setDirectory(std::string directory) { directory_ = std::move(directory); }
  void setWriteFunction(WriteFunction write) { write_ = write; }

 private:
  void NameFileIfNone();
  void Write(const std::string& line);  // counted
  // "" when the whole line reached the file, else why not.
  std::string Append(const std::string& line);

  Clock& clock_;
  std::string directory_;
  WriteFunction write_;
  uid_t user_;  // who the checker runs as, asked once: one system call less per line
  int32_t attempted_ = 0;
  int32_t written_ = 0;
  std::string reason_;  // first failure of the current file
  bool told_ = false;   // TakeError has shown the current file's shortfall
};

}  // namespace dsc
