#include "html/HtmlReport.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <set>

#include "access/CompletionCodes.h"
#include "tests/app/StrictXml.h"

namespace dsc {
namespace {

struct Command {
  const char* name;
  TestCommand command;
  Outcome outcome;
  const char* result;
  int64_t ms;
  int deliveries = 0;  // values a POLL was delivered before it ended
};

void Feed(HtmlReport& page, const std::string& server, const std::vector<Command>& commands) {
  page.ServerStarted("CTX", server, static_cast<int32_t>(commands.size()));
  int32_t index = 0;
  for (const Command& c : commands) {
    for (int i = 0; i < c.deliveries; ++i) {
      DecodedValue v;
      v.kind = DecodedValue::Kind::Number;
      v.count = 1;
      v.numbers = {i * 1.5};
      page.ValueDelivered(index, 100 * i, v);
    }
    CommandOutcome o;
    o.index = index++;
    o.command = &c.command;
    o.context = "CTX";
    o.server = server;
    o.outcome = c.outcome;
    o.resultText = c.result;
    o.elapsedMs = c.ms;
    page.CommandEnded(o);
  }
  RunSummary s;
  s.context = "CTX";
  s.server = server;
  page.ServerEnded(s);
}

TestCommand Cmd(std::string description, std::string property = "P") {
  TestCommand c;
  c.Description = std::move(description);
  c.Property = std::move(property);
  c.Device = "DEV";
  c.Access = "READ";
  return c;
}

// The texts of a node's descendants, as a browser's textContent.
std::string TextOf(pugi::xml_node n) {
  std::string out;
  for (pugi::xml_node c : n.children())
    out += c.type() == pugi::node_pcdata ? std::string(c.value()) : TextOf(c);
  return out;
}

class HtmlReportTest : public ::testing::Test {
 protected:
  // A quiet server, then one with a failure, a time-out, a skip and hostile
  // texts, then one that could not be prepared.
  void SetUp() override {
    HtmlReport page(HtmlRunInfo{"config \"Both\"", "the built-in demo", "/db/", 0});
    page.run().longName = [](const std::string&, const std::string& server,
                             const std::string& device) {
      return device.empty() ? "Tango/" + server : "sys/tg/" + device;
    };
    Feed(page, "QUIET",
         {{"ok", Cmd("Pressure"), {}, "Success", 3}, {"poll", Cmd("Ramp"), {}, "Success", 9, 5}});
    Feed(page, "LOUD",
         {{"script", Cmd("<script>alert('x')</script> & \"q\""), {}, "Success", 1},
          {"escape",
           Cmd("ESC\x1b[31m red"),
           {OutcomeKind::ReferenceNotMet, {}, {}, kCodeTargetNotMet},
           "Target not met !",
           12},
          {"latin-1", Cmd("CAF\xc9", "\xff\xfe"),
           Outcome::Failed(AccessFailure::TimedOut, kCodeTimedOut), "Timed out", 1001},
          {"skip", Cmd("not run"), Outcome::Skipped(NotRunReason::Deselected),
           "Not run : not selected by --only", 0}});
    page.ServerNotPrepared("CTX", "GONE", "no test file </td>");
    CheckTotals t;
    t.passed = 2;
    t.failed = 1;
    t.errors = 1;
    t.skipped = 1;
    t.notPrepared = 1;
    t.exitCode = 1;
    html = page.Page(t);
    ASSERT_TRUE(doc.load_string(html.c_str(), pugi::parse_default | pugi::parse_doctype)) << html;
  }
  std::string html;
  pugi::xml_document doc;
};

TEST_F(HtmlReportTest, OneWellFormedPageWithTotalsAndARowPerCommandFailuresFirst) {
  std::string error;
  EXPECT_TRUE(testing::StrictXmlParses(html, error)) << error;
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  std::map<std::string, std::string> totals;
  for (pugi::xpath_node tr : doc.select_nodes("//table[@id='totals']/tbody/tr"))
    totals[tr.node().attribute("class").value()] =
        tr.node().select_node("td[@class='n']").node().child_value();
  EXPECT_EQ(totals, (std::map<std::string, std::string>{{"passed", "2"},
                                                        {"failed", "1"},
                                                        {"error", "1"},
                                                        {"skipped", "1"},
                                                        {"notprepared", "1"}}));
  // Sections: the failing servers in the order run, then the others.
  std::vector<std::string> order;
  for (pugi::xpath_node s : doc.select_nodes("//section"))
    order.push_back(s.node().child("h2").child_value());
  EXPECT_EQ(order, (std::vector<std::string>{"/CTX/LOUD", "/CTX/GONE", "/CTX/QUIET"}));
  std::vector<std::string> kinds;
  for (pugi::xpath_node tr : doc.select_nodes("//section[@id='s1']//tbody/tr")) {
    kinds.push_back(tr.node().attribute("class").value());
    EXPECT_EQ(std::string(tr.node().select_node("td[5]").node().child_value()),
              kinds.back().substr(0, kinds.back().find(' ')));
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"passed", "failed", "error to", "skipped"}));
  EXPECT_STREQ(doc.select_node("//section[@id='s2']//tbody/tr").node().attribute("class").value(),
               "notprepared");
  // The Tango names beside the checker's.
  EXPECT_EQ(TextOf(doc.select_node("//section[@id='s3']/h2").node()), "/CTX/QUIET  Tango/QUIET");
  EXPECT_EQ(TextOf(doc.select_node("//section[@id='s3']//tbody/tr/td[4]").node()), "DEVsys/tg/DEV");
  // A plot per server that ran, the time-out marked.
  EXPECT_EQ(doc.select_nodes("//section[@id='s1']/svg").size(), 1u);
  EXPECT_TRUE(doc.select_node("//section[@id='s1']/svg/path[@class='timeouts']"));
  // Values a POLL command was delivered are drawn over time.
  const pugi::xpath_node_set plots = doc.select_nodes("//section[@id='s3']/svg");
  ASSERT_EQ(plots.size(), 2u);
  EXPECT_EQ(std::string(plots[1].node().child_value("title")), "#2 Ramp (P): 5 deliveries");
  EXPECT_EQ(plots[1].node().select_nodes("circle").size(), 5u);
}

TEST_F(HtmlReportTest, HostileTextStaysTextAndShowsWhatItHeld) {
  const auto cell = [&](int row, int column) {
    return TextOf(doc.select_node(("//section[@id='s1']//tbody/tr[" + std::to_string(row) +
                                   "]/td[" + std::to_string(column) + "]")
                                      .c_str())
                      .node());
  };
  EXPECT_EQ(cell(1, 2), "<script>alert('x')</script> & \"q\"");
  EXPECT_EQ(cell(2, 2), "ESC\\u001B[31m red");
  EXPECT_EQ(cell(3, 2), "CAF\xc3\x89");
  EXPECT_EQ(cell(3, 3), "\xc3\xbf\xc3\xbe");  // bytes that are no UTF-8 read as Latin-1
  EXPECT_EQ(TextOf(doc.select_node("//section[@id='s2']//tbody/tr/td[6]").node()),
            "no test file </td>");
  EXPECT_EQ(doc.select_nodes("//script").size(), 1u);
  EXPECT_EQ(html.find("<script>alert"), std::string::npos);
  EXPECT_EQ(html.find('\x1b'), std::string::npos);
}

// Nothing the page shows comes from outside it: no element that loads
// anything, every link within the page, no style that fetches.
TEST_F(HtmlReportTest, NothingRefersOutsideThePage) {
  const std::set<std::string> loading = {"img",   "link",   "iframe", "object", "embed", "audio",
                                         "video", "source", "image",  "use",    "base",  "form"};
  const std::set<std::string> referring = {"src",    "href", "xlink:href", "action",    "srcset",
                                           "poster", "data", "background", "formaction"};
  size_t links = 0;
  for (pugi::xpath_node n : doc.select_nodes("//*")) {
    EXPECT_EQ(loading.count(n.node().name()), 0u) << n.node().name();
    for (pugi::xml_attribute a : n.node().attributes()) {
      const std::string value = a.value();
      if (referring.count(a.name())) {
        ++links;
        EXPECT_TRUE(value.rfind("#", 0) == 0 || value.rfind("data:", 0) == 0) << value;
      }
      EXPECT_EQ(value.find("url("), std::string::npos) << a.name();
    }
  }
  EXPECT_GT(links, 0u);  // the server links are there and were looked at
  const std::string style = doc.select_node("//style").node().child_value();
  EXPECT_EQ(style.find("url("), std::string::npos);
  EXPECT_EQ(style.find("@import"), std::string::npos);
}

}  // namespace
}  // namespace dsc
