#include "app/RunOutputs.h"

#include <gtest/gtest.h>

#include <sstream>

#include "base/TextEncoding.h"
#include "tests/app/StrictXml.h"
#include "tests/support/Fakes.h"

namespace dsc {
namespace {

CommandOutcome Outcome(const TestCommand& command, int32_t status, int64_t ms) {
  CommandOutcome o;
  o.command = &command;
  o.outcome = status == 0 ? dsc::Outcome{} : dsc::Outcome::Skipped(NotRunReason::Deselected);
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
      // Nor does a terminal line carry a control character to the terminal.
      EXPECT_EQ(TerminalText(c.Description).find_first_of("\x1b\x7f"), std::string::npos);
    }
  }
}

// A testcase's time is its command's, in seconds; the Ant flavour leaves a
// skipped command out and lists it in <system-out> instead. One U+FFFE in a
// description, or a device's Latin-1 text whose bytes form U+FFFF as UTF-8,
// must not cost CI the whole JUnit file. Each kind of fault has its type: a
// reference not met and input that does not parse are failures, a failed
// access an error.
TEST(JunitWriter, CaseTimeTheAntFlavoursSkipsAndNoncharacters) {
  testing::TempDir dir;
  TestCommand slow, skipped, odd;
  skipped.Description = "skipped";
  odd.Description = "Pressure \xef\xbf\xbe";
  odd.Property = "P\x1b";
  CommandOutcome failed = Outcome(odd, 0, 0);
  failed.outcome = {OutcomeKind::ReferenceNotMet, {}, {}, kCodeTargetNotMet};
  failed.resultText = "Target not met \xef\xbf\xbf";
  JunitWriter w(true);
  std::string error;
  ASSERT_TRUE(w.Open(dir.file("j.xml"), error)) << error;
  w.CommandEnded(Outcome(slow, 0, 61234));
  w.CommandEnded(Outcome(skipped, 1, 0));
  w.CommandEnded(failed);
  failed.outcome = {OutcomeKind::InputNotParsed, {}, {}, kCodeParseError};
  w.CommandEnded(failed);
  failed.outcome = dsc::Outcome::Failed(AccessFailure::NotReachable, 45);
  w.CommandEnded(failed);
  CheckTotals totals;
  w.RunEnding(totals);
  const std::string xml = testing::ReadFileBytes(dir.file("j.xml"));
  ASSERT_TRUE(testing::StrictXmlParses(xml, error)) << error << "\n" << xml;
  for (const char* part : {"name=\"Pressure \\uFFFE\"", "Target not met \\uFFFF", "P\\u001B"})
    EXPECT_NE(xml.find(part), std::string::npos) << part << "\n" << xml;
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(xml.c_str()));
  const pugi::xml_node suite = doc.child("testsuites").child("testsuite");
  EXPECT_STREQ(suite.child("testcase").attribute("time").value(), "61.234");
  std::string faults;
  for (const pugi::xpath_node f : suite.select_nodes("testcase/*"))
    faults += f.node().name() + std::string(" ") + f.node().attribute("type").value() + ";";
  EXPECT_EQ(faults, "failure reference;failure parse;error access;");
  EXPECT_STREQ(suite.child_value("system-out"), "not run: skipped: Not run: skipped\n");
  EXPECT_STREQ(suite.select_node("properties/property[@name='skipped']/@value").attribute().value(),
               "1");
}

}  // namespace
}  // namespace dsc
