#pragma once

#include <cstdint>
#include <string>

#include "engine/Clock.h"

namespace dsc {

inline constexpr const char* kReportColumnHeader =
    "------- Time ------:----- Action -----:------- Results -------";

// The report directory: $TEMP, else $TMPDIR, else /tmp.
std::string DefaultReportDirectory();

// The plain-text report: one line per call, CR LF, appended and closed at
// once so every line is on disk when AddToReport returns.
class ReportLog {
 public:
  ReportLog(Clock& clock, std::string directory);

  // Empty means the next line starts a new file named <dir>/<unix time>.txt.
  std::string reportFileName;

  int16_t AddToReport(const std::string& txt, bool addDate);

  // A failed open or write never stops a run. The first failure since the
  // last TakeError is kept (path and system error text) for the front end to
  // show once.
  std::string TakeError();
  const std::string& directory() const { return directory_; }
  void setDirectory(std::string directory) { directory_ = std::move(directory); }

 private:
  Clock& clock_;
  std::string directory_;
  std::string error_;
};

}  // namespace dsc
