#include "engine/ReportLog.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <optional>

#include "tests/support/Fakes.h"

namespace dsc {
namespace {

using testing::FakeClock;
using testing::ReadFileBytes;
using testing::TempDir;

constexpr int64_t kStartMs = 1'700'000'000'250;  // 2023-11-14 22:13:20 UTC

TEST(ReportLog, FileIsNamedAfterTheTimeAndAppendedTo) {
  TempDir dir;
  FakeClock clock(kStartMs);
  dir.write("1700000000.txt", "earlier\r\n");  // an existing file is appended to
  ReportLog log(clock, dir.path());
  EXPECT_EQ(log.AddToReport("header", false), 0);
  EXPECT_EQ(log.reportFileName, dir.file("1700000000.txt"));
  clock.Advance(61'000);
  log.AddToReport("", false);
  log.AddToReport("Read X : Success", true);
  log.AddToReport("two\nlines", false);
  EXPECT_EQ(dir.read("1700000000.txt"),
            "earlier\r\nheader\r\n\r\n2023-11-14 22:14:21 : Read X : Success\r\ntwo\nlines\r\n");

  log.reportFileName.clear();
  log.AddToReport("next", false);
  EXPECT_EQ(log.reportFileName, dir.file("1700000061.txt"));
  EXPECT_EQ(dir.read("1700000061.txt"), "next\r\n");
  EXPECT_EQ(log.TakeError(), "");
}

TEST(ReportLog, DatedLineWithTheSystemClock) {
  TempDir dir;
  SystemClock clock;
  ReportLog log(clock, dir.path());
  log.AddToReport("x", true);
  std::string line = ReadFileBytes(log.reportFileName);
  const std::string shape = "9999-99-99 99:99:99 : x\r\n";  // 9 stands for any digit
  ASSERT_EQ(line.size(), shape.size()) << line;
  for (size_t i = 0; i < shape.size(); ++i) {
    EXPECT_TRUE(shape[i] == '9' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0
                                : line[i] == shape[i])
        << line;
  }
  EXPECT_EQ(line.find(" : "), std::string(kReportColumnHeader).find(":"));
}

TEST(ReportLog, UnwritableDirectoryIsReportedOnceAndTheRunGoesOn) {
  TempDir dir;
  dir.write("plain", "");
  FakeClock clock(kStartMs);
  // A path under a regular file fails even for root.
  for (const std::string& bad : {dir.file("plain/sub"), dir.file("missing")}) {
    ReportLog log(clock, bad);
    EXPECT_EQ(log.AddToReport("lost", true), 0);
    EXPECT_EQ(log.AddToReport("lost too", false), 0);
    std::string error = log.TakeError();
    EXPECT_NE(error.find(bad + "/1700000000.txt"), std::string::npos) << error;
    EXPECT_NE(error.find(bad == dir.file("missing") ? "No such file" : "Not a directory"),
              std::string::npos)
        << error;
    EXPECT_EQ(log.TakeError(), "");

    log.setDirectory(dir.path());
    log.reportFileName.clear();
    log.AddToReport("kept", false);
    EXPECT_EQ(log.TakeError(), "");
    EXPECT_EQ(ReadFileBytes(log.reportFileName), "kept\r\n");
    std::remove(log.reportFileName.c_str());
  }
}

TEST(ReportLog, DefaultDirectoryFromTheEnvironment) {
  struct Case {
    const char* temp;
    const char* tmpdir;
    const char* expected;
  };
  const Case cases[] = {
      {"/a", "/b", "/a"},
      {nullptr, "/b", "/b"},
      {"", "/b", "/b"},
      {nullptr, nullptr, "/tmp"},
  };
  auto saved = [](const char* name) -> std::optional<std::string> {
    const char* v = std::getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
  };
  auto put = [](const char* name, const char* value) {
    value ? setenv(name, value, 1) : unsetenv(name);
  };
  std::optional<std::string> temp = saved("TEMP"), tmpdir = saved("TMPDIR");
  for (const Case& c : cases) {
    put("TEMP", c.temp);
    put("TMPDIR", c.tmpdir);
    EXPECT_EQ(DefaultReportDirectory(), c.expected);
  }
  put("TEMP", temp ? temp->c_str() : nullptr);
  put("TMPDIR", tmpdir ? tmpdir->c_str() : nullptr);
}

}  // namespace
}  // namespace dsc
