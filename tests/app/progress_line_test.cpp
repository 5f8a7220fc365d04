// The progress line of long runs: its text, and that it stays out of the
// result lines' way (erased before each, drawn after) and out of the output
// where it is not wanted.
#include "app/ProgressLine.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace dsc {
namespace {

TEST(ProgressLine, SaysWhatIsDoneAndWhatIsLeftAndStepsAsideForEveryLine) {
  std::ostringstream out;
  ProgressLine progress(out, true);
  progress.Start(4);
  EXPECT_EQ(progress.Text(0),
            "servers 0 of 4 done, 0 failed, 0 s elapsed");  // no estimate yet
  progress.ServerDone(true);
  EXPECT_EQ(progress.Text(30'000), "servers 1 of 4 done, 1 failed, 30 s elapsed, about 90 s left");
  progress.ServerDone(false);
  EXPECT_EQ(progress.Text(100'000),
            "servers 2 of 4 done, 1 failed, 100 s elapsed, about 100 s left");
  EXPECT_EQ(progress.Text(300'000),
            "servers 2 of 4 done, 1 failed, 5 min 0 s elapsed, about 5 min 0 s left");

  // A result line between: the line is erased first and drawn again after.
  out.str("");
  progress.eraser().CommandEnded({});
  out << "[1/2] P : Success\n";
  progress.drawer().CommandEnded({});
  const std::string shown = out.str();
  EXPECT_EQ(shown.find("\r\x1b[K[1/2] P : Success\n\x1b[7mservers 2 of 4"), 0u) << shown;
  // The end of the run leaves no line behind.
  out.str("");
  CheckTotals totals;
  progress.eraser().RunEnding(totals);
  progress.drawer().CommandEnded({});
  EXPECT_EQ(out.str(), "\r\x1b[K");
  // A new start counts from nothing.
  progress.Start(2);
  EXPECT_EQ(progress.Text(0), "servers 0 of 2 done, 0 failed, 0 s elapsed");

  // Not wanted (a pipe, --json, NO_COLOR), or one server only: never a byte.
  for (const auto& [shownAtAll, servers] : {std::pair{false, 5}, std::pair{true, 1}}) {
    std::ostringstream quiet;
    ProgressLine p(quiet, shownAtAll);
    p.Start(servers);
    p.ServerDone(true);
    p.drawer().CommandEnded({});
    p.eraser().CommandEnded({});
    EXPECT_EQ(quiet.str(), "") << shownAtAll << " " << servers;
  }
}

}  // namespace
}  // namespace dsc
