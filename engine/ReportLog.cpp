#include "engine/ReportLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace dsc {

namespace {

ssize_t SystemWrite(int fd, const void* data, size_t size) { return ::write(fd, data, size); }

// Closes the descriptor however Append leaves.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// The lines of an entry as a reader of the report counts them: CR LF, a
// lone CR and a lone LF each end one (a caption holds several).
int32_t LineCount(const std::string& text) {
  // Every line of a run passes here: find the LFs with memchr and look only at
  // the (rare) CRs for lone ones.
  int32_t n = 0;
  for (size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1)) ++n;
  for (size_t i = text.find('\r'); i != std::string::npos; i = text.find('\r', i + 1)) {
    if (i + 1 == text.size() || text[i + 1] != '\n') ++n;
  }
  return n;
}

}  // namespace

std::string DefaultReportDirectory() {
  for (const char* name : {"TEMP", "TMPDIR"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return "/tmp";
}

ReportLog::ReportLog(Clock& clock, std::string directory)
    : clock_(clock), directory_(std::move(directory)), write_(SystemWrite), user_(::geteuid()) {}

int16_t ReportLog::AddToReport(const std::string& txt, bool addDate) {
  if (divert) {
    divert((addDate ? clock_.LocalDateTime() + " : " + txt : txt) + "\r\n");
    return 0;
  }
  NameFileIfNone();
  std::string line = addDate ? clock_.LocalDateTime() + " : " + txt : txt;
  line += "\r\n";
  Write(line);
  return 0;
}

void ReportLog::AddFinished(const std::string& line) {
  NameFileIfNone();
  Write(line);
}

void ReportLog::NameFileIfNone() {
  if (!reportFileName.empty()) return;
  // An empty directory would put the report at the file-system root.
  std::string dir = directory_.empty() ? DefaultReportDirectory() : directory_;
  reportFileName = dir + "/" + std::to_string(clock_.UnixTime()) + ".txt";
  attempted_ = written_ = 0;
  reason_.clear();
  told_ = false;
}

void ReportLog::Write(const std::string& line) {
  // A failure is kept for the front end and the run goes on.
  const int32_t lines = LineCount(line);
  attempted_ += lines;
  std::string why = Append(line);
  if (why.empty()) {
    written_ += lines;
  } else if (reason_.empty()) {
    reason_ = std::move(why);
  }
}

std::string ReportLog::Append(const std::string& line) {
  // O_NONBLOCK: a FIFO planted at the name would otherwise hold the open
  // until someone reads it; regular files ignore the flag.
  Descriptor file{
      ::open(reportFileName.c_str(),
             O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644)};
  if (file.fd < 0) {
    if (errno == ELOOP) return "it is a symbolic link";
    if (errno == ENXIO) return "it is not a regular file";  // a pipe nobody reads
    return std::strerror(errno);
  }
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) return std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  if (st.st_uid != user_) return "it belongs to another user";
  // A second name would be a hard link somebody else may have planted.
  if (st.st_nlink != 1) return "it has more than one name (a hard link)";

  ssize_t n;
  do {
    n = write_(file.fd, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(line.size())) {
    if (::close(std::exchange(file.fd, -1)) != 0 && errno != EINTR) return std::strerror(errno);
    return "";
  }
  const std::string why = n < 0 ? std::strerror(errno)
                                : "only " + std::to_string(n) + " of " +
                                      std::to_string(line.size()) + " bytes of a line were taken";
  // A piece of a line would run into the next one: the file goes back to
  // where it ended before (the append left the offset just past the piece).
  if (n > 0) {
    const off_t end = ::lseek(file.fd, 0, SEEK_CUR);
    // Nothing more can be done when even that fails; the reason stands.
    if (end >= n && ::ftruncate(file.fd, end - n) != 0) return why + ", and a piece of it stays";
  }
  return why;
}

std::string ReportLog::TakeError() {
  if (complete() || told_) return "";
  told_ = true;
  return "Report incomplete: " + std::to_string(written_) + " of " + std::to_string(attempted_) +
         " lines written to " + reportFileName + ": " + reason_;
}

}  // namespace dsc
