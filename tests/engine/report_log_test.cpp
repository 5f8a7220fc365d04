#include "engine/ReportLog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <regex>

#include "tests/support/Fakes.h"

namespace dsc {
namespace {

class ReportLogTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  testing::FakeClock clock{1'700'000'000'250};  // 2023-11-14 22:13:20 UTC
};

TEST_F(ReportLogTest, FileIsNamedAfterTheTimeAndAppendedTo) {
  dir.write("1700000000.txt", "earlier\r\n");  // an existing file is appended to
  ReportLog log(clock, dir.path());
  log.AddToReport("header", false);
  clock.Advance(61'000);
  log.AddToReport("Read X : Success", true);
  log.AddToReport("two\nlines", false);
  EXPECT_EQ(dir.read("1700000000.txt"),
            "earlier\r\nheader\r\n2023-11-14 22:14:21 : Read X : Success\r\ntwo\nlines\r\n");

  log.reportFileName.clear();
  log.AddToReport("next", false);
  EXPECT_EQ(dir.read("1700000061.txt"), "next\r\n");
  EXPECT_EQ(log.TakeError(), "");
}

TEST_F(ReportLogTest, DatedLineWithTheSystemClockFitsTheColumnHeader) {
  SystemClock system;
  ReportLog log(system, dir.path());
  log.AddToReport("x", true);
  const std::string line = testing::ReadFileBytes(log.reportFileName);
  EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d : x\r\n)")))
      << line;
  EXPECT_EQ(line.find(" : "), std::string(kReportColumnHeader).find(":"));
}

TEST_F(ReportLogTest, UnwritableDirectoryIsReportedOnceAndTheRunGoesOn) {
  // A path under a regular file fails even for root.
  dir.write("plain", "");
  ReportLog log(clock, dir.file("plain"));
  log.AddToReport("lost", true);
  log.reportFileName += ".2";  // the first failure is the one kept
  log.AddToReport("lost too", false);
  EXPECT_EQ(log.TakeError(), "Cannot write the report file " + dir.file("plain") +
                                 "/1700000000.txt: Not a directory");
  EXPECT_EQ(log.TakeError(), "");
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
