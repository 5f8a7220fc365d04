#include "app/RunOutputs.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <sstream>

#include "base/TextEncoding.h"
#include "tests/support/Fakes.h"

namespace dsc {
namespace {

CommandOutcome Outcome(const TestCommand& command, int32_t status, int64_t ms) {
  CommandOutcome o;
  o.command = &command;
  o.context = "C";
  o.server = "S";
  o.status = status;
  o.resultText = status == 0 ? "Success" : "Not run: skipped";
  o.elapsedMs = ms;
  return o;
}

// A character JSON must escape, or one that is not ASCII, anywhere in the
// first two eight-byte pieces of a text: the line still parses and carries
// the text, Latin-1 as UTF-8.
TEST(JsonWriter, EscapesWhatJsonCannotCarryWhereverItStands) {
  for (const std::string special : {"\"", "\\", "\x1b", "\xe9", "\x7f"}) {
    for (size_t at = 0; at < 17; ++at) {
      TestCommand c;
      c.Description = std::string(at, 'a') + special + "bc";
      std::ostringstream out;
      JsonWriter(out, false).CommandEnded(Outcome(c, 0, 0));
      SCOPED_TRACE(out.str());
      EXPECT_EQ(nlohmann::json::parse(out.str())["description"], AsUtf8(c.Description));
    }
  }
}

// A testcase's time is its command's, in seconds; the Ant flavour leaves a
// skipped command out and names their number in a property instead.
TEST(JunitWriter, CaseTimesAndTheAntFlavoursSkips) {
  testing::TempDir dir;
  for (const bool ant : {false, true}) {
    SCOPED_TRACE(ant);
    TestCommand slow, quick, skipped;
    slow.Description = "slow";
    quick.Description = "quick";
    skipped.Description = "skipped";
    JunitWriter w(ant);
    std::string error;
    ASSERT_TRUE(w.Open(dir.file("j.xml"), error)) << error;
    w.RunStarted("C", "S", 3);
    w.CommandEnded(Outcome(slow, 0, 61234));
    w.CommandEnded(Outcome(quick, 0, 0));
    w.CommandEnded(Outcome(skipped, kCodeNotRun, 0));
    RunSummary summary;
    summary.context = "C";
    summary.server = "S";
    w.RunEnded(summary);
    w.Finished(CheckTotals{});
    ASSERT_TRUE(w.written()) << w.error();

    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(dir.file("j.xml").c_str()));
    const pugi::xml_node suite = doc.child("testsuites").child("testsuite");
    std::vector<std::string> cases;
    for (pugi::xml_node tc : suite.children("testcase"))
      cases.push_back(std::string(tc.attribute("name").value()) + "=" +
                      tc.attribute("time").value() + (tc.child("skipped") ? " skipped" : ""));
    const std::vector<std::string> all{"slow=61.234", "quick=0.000", "skipped=0.000 skipped"};
    EXPECT_EQ(cases, ant ? std::vector<std::string>(all.begin(), all.end() - 1) : all);
    EXPECT_EQ(suite.attribute("tests").as_int(), ant ? 2 : 3);
    EXPECT_EQ(!suite.attribute("skipped").empty(), !ant);
    EXPECT_EQ(suite.child("properties").find_child_by_attribute("name", "skipped").empty(), !ant);
    EXPECT_EQ(suite.child_value("system-out"),
              std::string(ant ? "not run: skipped: Not run: skipped\n" : ""));
  }
}

}  // namespace
}  // namespace dsc
