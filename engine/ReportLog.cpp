#include "engine/ReportLog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace dsc {

std::string DefaultReportDirectory() {
  for (const char* name : {"TEMP", "TMPDIR"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return "/tmp";
}

ReportLog::ReportLog(Clock& clock, std::string directory)
    : clock_(clock), directory_(std::move(directory)) {}

int16_t ReportLog::AddToReport(const std::string& txt, bool addDate) {
  if (reportFileName.empty()) {
    // An empty directory would put the report at the file-system root.
    std::string dir = directory_.empty() ? DefaultReportDirectory() : directory_;
    reportFileName = dir + "/" + std::to_string(clock_.UnixTime()) + ".txt";
  }
  std::string line = addDate ? clock_.LocalDateTime() + " : " + txt : txt;
  line += "\r\n";

  // Opened and closed for every line so that the report can be read while a
  // test is still running. A failure is kept for the front end and the run
  // goes on.
  int error = 0;
  errno = 0;
  std::FILE* file = std::fopen(reportFileName.c_str(), "ab");
  if (!file) {
    error = errno;
  } else {
    if (std::fwrite(line.data(), 1, line.size(), file) != line.size()) error = errno ? errno : EIO;
    // Buffered data reach the disk only at the close, so its failure counts too.
    if (std::fclose(file) != 0 && error == 0) error = errno ? errno : EIO;
  }
  if (error != 0 && error_.empty()) {
    error_ = "Cannot write the report file " + reportFileName + ": " + std::strerror(error);
  }
  return 0;
}

std::string ReportLog::TakeError() {
  std::string error = std::move(error_);
  error_.clear();
  return error;
}

}  // namespace dsc
