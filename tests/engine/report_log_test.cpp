#include "engine/ReportLog.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>
#include <vector>

#include "tests/support/Fakes.h"

namespace dsc {
namespace {

class ReportLogTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  testing::FakeClock clock{1'700'000'000'250};  // 2023-11-14 22:13:20 UTC
};

// The lines handed to write(2), as the test's write function saw them.
std::vector<size_t> writes;
size_t takeAtMost = SIZE_MAX;

// Each line is one write; a part line that the file system took is cut off
// again. A failure is told once, and a new file starts a new count.
TEST_F(ReportLogTest, FileIsNamedAfterTheTimeAppendedToALineAtATimeAndFailuresToldOnce) {
  dir.write("1700000000.txt", "earlier\r\n");  // an existing file is appended to
  ReportLog log(clock, dir.path());
  log.setWriteFunction([](int fd, const void* data, size_t size) {
    writes.push_back(size);
    return ::write(fd, data, std::min(size, takeAtMost));
  });
  log.AddToReport("header", false);
  clock.Advance(61'000);
  log.AddToReport("Read X : Success", true);
  const std::string longLine(20'000, 'd');
  writes.clear();
  log.AddToReport(longLine, false);
  EXPECT_EQ(writes, std::vector<size_t>{20'002});
  // Lines are counted as a reader counts them, not entries: a caption of
  // three lines lost (CR LF, a lone CR, the entry's end) is three lines lost.
  takeAtMost = 100;
  log.AddToReport(std::string(250, 'x') + "\r\n" + std::string(246, 'x') + "\ry", false);
  takeAtMost = SIZE_MAX;
  log.AddToReport("two\nlines", false);
  EXPECT_EQ(dir.read("1700000000.txt"),
            "earlier\r\nheader\r\n2023-11-14 22:14:21 : Read X : Success\r\n" + longLine +
                "\r\ntwo\nlines\r\n");
  EXPECT_EQ(log.TakeError(), "Report incomplete: 5 of 8 lines written to " +
                                 dir.file("1700000000.txt") +
                                 ": only 100 of 502 bytes of a line were taken");

  // A path under a regular file fails even for root.
  dir.write("plain", "");
  log.setDirectory(dir.file("plain"));
  log.reportFileName.clear();
  log.AddToReport("lost", true);
  log.AddToReport("lost too", false);
  EXPECT_EQ(log.TakeError(), "Report incomplete: 0 of 2 lines written to " + dir.file("plain") +
                                 "/1700000061.txt: Not a directory");
  log.AddToReport("still lost", false);
  EXPECT_EQ(log.TakeError(), "");  // told once
  EXPECT_EQ(log.linesAttempted(), 3);

  log.setDirectory(dir.path());
  log.reportFileName.clear();
  log.AddToReport("next", false);
  EXPECT_EQ(dir.read("1700000061.txt"), "next\r\n");
  EXPECT_TRUE(log.complete());

  // With the system clock too, the dated line fits the column header; the
  // file is readable by all, writable by its owner.
  SystemClock system;
  ReportLog dated(system, dir.path());
  const mode_t old = umask(0);
  dated.AddToReport("x", true);
  umask(old);
  const std::string line = testing::ReadFileBytes(dated.reportFileName);
  EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d : x\r\n)")))
      << line;
  EXPECT_EQ(line.find(" : "), std::string(kReportColumnHeader).find(":"));
  EXPECT_EQ(std::filesystem::status(dated.reportFileName).permissions(),
            std::filesystem::perms(0644));
}

// Whatever stands at the report's name and is not a regular file of ours with
// one name is refused, and what it points to stays as it was.
TEST_F(ReportLogTest, ForeignFilesAtTheReportsNameAreRefused) {
  const std::string at = dir.file("1700000000.txt");
  // how to plant it (false: cannot be set up here), the reason given
  const std::pair<std::function<bool()>, const char*> cases[] = {
      {[&] { return symlink(dir.file("nowhere").c_str(), at.c_str()) == 0; },
       "it is a symbolic link"},
      {[&] { return link(dir.file("target").c_str(), at.c_str()) == 0; },
       "it has more than one name (a hard link)"},
      {[&] { return mkfifo(at.c_str(), 0600) == 0; }, "it is not a regular file"},
      {[&] { return mkdir(at.c_str(), 0700) == 0; }, "Is a directory"},
      {[&] {
         dir.write("1700000000.txt", "theirs\r\n");
         return geteuid() == 0 && chown(at.c_str(), 65534, 65534) == 0;
       },
       "it belongs to another user"},
  };
  for (const auto& [plant, reason] : cases) {
    dir.write("target", "precious\n");
    if (plant()) {  // chown needs root
      ReportLog log(clock, dir.path());
      log.AddToReport("header", false);
      EXPECT_EQ(dir.read("target"), "precious\n") << reason;
      EXPECT_FALSE(std::filesystem::exists(dir.file("nowhere"))) << reason;
      EXPECT_EQ(log.TakeError(),
                "Report incomplete: 0 of 1 lines written to " + at + ": " + reason);
    }
    std::filesystem::remove_all(at);
  }
}

TEST(ReportLog, DefaultDirectoryFromTheEnvironment) {
  const char* names[] = {"TEMP", "TMPDIR"};
  std::optional<std::string> saved[2];
  for (int i : {0, 1})
    if (const char* value = std::getenv(names[i])) saved[i] = value;
  auto put = [&](int i, const char* v) { v ? setenv(names[i], v, 1) : unsetenv(names[i]); };
  // TEMP, TMPDIR, the directory chosen
  const char* cases[][3] = {
      {"/a", "/b", "/a"}, {nullptr, "/b", "/b"}, {"", "/b", "/b"}, {nullptr, nullptr, "/tmp"}};
  for (const auto& c : cases) {
    for (int i : {0, 1}) put(i, c[i]);
    EXPECT_EQ(DefaultReportDirectory(), c[2]);
  }
  for (int i : {0, 1}) put(i, saved[i] ? saved[i]->c_str() : nullptr);
}

}  // namespace
}  // namespace dsc
