// Reads as Tango has them: the sizes read, quality, limits, expected states
// and set points, against Debian's TangoTest without a database.

#include <gtest/gtest.h>

#include <tuple>

#include "access/CompletionCodes.h"
#include "base/Formats.h"
#include "tests/support/TangoTestServer.h"
#include "tests/tango/live/LiveChecker.h"

namespace dsc::tango {
namespace {

using dsc::testing::TangoTestServer;

bool StartServer(TangoTestServer& server, std::string& error) { return server.Start(error); }
class TangoReads : public LiveSuite<TangoTestServer, StartServer> {
 protected:
  static int32_t Access(LiveChecker& c, const std::string& property, std::vector<double> in,
                        int32_t outCount) {
    return AccessOnce(c, "TGTEST", "TANGOTEST", "TG-1", property, std::move(in), outCount);
  }
};

TEST_F(TangoReads, ASpectrumReadsAsTheValuesItHasWithItsFacts) {
  LiveChecker c(server().SiteJson());
  std::vector<double> values(256);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>(i);
  ASSERT_EQ(Access(c, "double_spectrum", values, 0), 0) << c.control->StatusText();
  ASSERT_EQ(Access(c, "double_spectrum", {}, 2048), 0) << c.control->StatusText();
  const auto facts = c.control->LastValueFacts();
  EXPECT_EQ(facts.dimX, 256);
  EXPECT_EQ(facts.quality, "VALID");
  EXPECT_EQ(facts.dataType, "DevDouble");
  EXPECT_EQ(facts.dataFormat, "SPECTRUM");
  EXPECT_EQ(facts.timeStamp.size(), 27u) << facts.timeStamp;
  EXPECT_EQ(c.control->SuccessNote(), "256 values read");
}

// A text array's lines are the facts of its own read only: a read after it
// tells none, and the next read of a text array tells them again.
TEST_F(TangoReads, ATextArrayTellsItsLinesToItsOwnReadOnly) {
  LiveChecker c(server().SiteJson());
  for (int round = 0; round < 2; ++round) {
    // A scalar read first names the device; the text array is then read as
    // the standard test reads it: it has no layout of elements, so nothing is
    // delivered but the lines.
    Access(c, "double_scalar", {}, 1);
    c.control->setPropertyName("string_spectrum_ro");
    ASSERT_EQ(c.control->ExecuteAccess({}, 0, kFormatNull, {}, 0, kFormatNull), 0)
        << c.control->StatusText();
    const std::vector<std::string> lines = c.control->LastValueFacts().lines;
    ASSERT_EQ(lines.size(), 256u);
    EXPECT_EQ(lines[0].rfind("[00]::hello-world-", 0), 0u) << lines[0];
    ASSERT_EQ(Access(c, "double_scalar", {}, 1), 0) << c.control->StatusText();
    EXPECT_TRUE(c.control->LastValueFacts().lines.empty());
  }
}

// Expected states (quality and limits need a database: tests/tango/live/
// TangoDatabase_test.cpp).
TEST_F(TangoReads, AStateOutsideTheExpectedOnesFails) {
  const std::tuple<const char*, int32_t, const char*> cases[] = {
      {R"("expectStates":["ON","OFF"], )", kTangoBadState, "state RUNNING, expected ON or OFF"},
      {R"("expectStates":["RUNNING"], )", 0, "state RUNNING"},
      {"", 0, "state RUNNING"}};
  for (const auto& [fields, code, text] : cases) {
    LiveChecker c(server().SiteJson(fields));
    EXPECT_EQ(Access(c, "State", {}, 1), code) << fields;
    EXPECT_EQ(code == 0 ? c.control->SuccessNote() : c.control->StatusText(), text);
  }
}

TEST_F(TangoReads, AWrittenSetPointIsReadBackAndCompared) {
  LiveChecker c(server().SiteJson());
  ASSERT_EQ(Access(c, "double_scalar", {12.5}, 1), 0) << c.control->StatusText();
  EXPECT_EQ(c.control->LastValueFacts().setPoint, std::vector<double>{12.5});
  // The read part of double_scalar moves on its own; only its set point is
  // compared with what was written.
  c.control->setTolerance("0.1");
  EXPECT_EQ(Access(c, "double_scalar", {-3}, 1), 0) << c.control->StatusText();
  // A DevShort takes 2 of 2.4: the set point did not take, both are said.
  c.control->setTolerance("");
  EXPECT_EQ(Access(c, "short_scalar_w", {2.4}, 1), kTangoBadState);
  EXPECT_NE(c.control->StatusText().find("2.4"), std::string::npos) << c.control->StatusText();
  EXPECT_EQ(c.control->LastValueFacts().setPoint, std::vector<double>{2});
}

#ifdef OVRA_CHECK_EXE
// A test file captured from the device is clean, passes against the device,
// and fails once a captured scalar has been changed.
TEST_F(TangoReads, ACapturedTestFilePassesUntilAValueChanges) {
  testing::TempDir dir;
  dir.write("site.json", server().SiteJson());
  const auto run = [&](const std::string& args) {
    return RunOvraCheck(dir, "", "--facility '" + dir.file("site.json") + "' " + args);
  };
  LiveChecker c(server().SiteJson());
  ASSERT_EQ(Access(c, "short_scalar_w", {17}, 0), 0) << c.control->StatusText();
  ASSERT_EQ(run("capture sys/tg_test/1 -o '" + dir.file("TGTEST-TANGOTEST.csv") + "'"), 0)
      << dir.read("out");
  const std::string captured = dir.read("TGTEST-TANGOTEST.csv");
  EXPECT_NE(
      captured.find("short_scalar_w (writable),short_scalar_w,TG-1, 0,DOUBLE,, 1,SHORT,17,READ"),
      std::string::npos)
      << captured;
  EXPECT_NE(captured.find(",State,TG-1, 0,DOUBLE,, 1,BYTE,10,READ"), std::string::npos) << captured;
  EXPECT_EQ(run("lint '" + dir.file("TGTEST-TANGOTEST.csv") + "'"), 0) << dir.read("out");
  EXPECT_EQ(run("specific TGTEST TANGOTEST"), 0) << dir.read("out");
  ASSERT_EQ(Access(c, "short_scalar_w", {18}, 0), 0) << c.control->StatusText();
  EXPECT_EQ(run("specific TGTEST TANGOTEST"), 1) << dir.read("out");
  EXPECT_NE(dir.read("out").find("short_scalar_w"), std::string::npos) << dir.read("out");
}
#endif

}  // namespace
}  // namespace dsc::tango
