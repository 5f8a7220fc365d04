// Site files: every refusal names the place in the file, and a good file
// loads with its defaults.

#include "tango/TangoSite.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/Fakes.h"

namespace dsc::tango {
namespace {

using std::string;

const string kGood = R"({"site": "Lab",
"tango": {"contexts": [
{"name": "C", "host": "h", "port": 1234, "database": false, "pollMs": 250,
 "servers": [{"name": "S", "instance": "I/x", "devices": [{"name": "D", "device": "a/b/c"}]}]}]}})";

// kGood with one piece replaced; an empty `from` replaces the whole text.
string Edited(const string& from, const string& to) {
  if (from.empty()) return to;
  string text = kGood;
  const size_t at = text.find(from);
  EXPECT_NE(at, string::npos) << from;
  return at == string::npos ? text : text.replace(at, from.size(), to);
}

const string kOther =  // a context put before C
    R"({"name": "B", "host": "h", "port": 1, "servers": [{"name": "S", "devices": [{"name": "D", "device": "x/y/z"}]}]}, )";

TEST(TangoSite, RefusesMalformedFilesNamingThePlace) {
  const string ctx = "/tango/contexts/0";
  const string srv = ctx + "/servers/0";
  const string dev = srv + "/devices/0";
  struct Case {
    string from, to, error;
  } cases[] = {
      {"1234,", "1234,,", "site.json: line 3, column 41: "},
      {"\"pollMs\": 250,", "\"pollMs\": 250, \"polMs\": 1,",
       ctx + "/polMs: unknown field \"polMs\""},
      {"\"host\": \"h\", ", "", ctx + ": missing field \"host\""},
      {"", R"({"site": "x"})", "site.json: /: missing field \"tango\""},
      {"", "[]", "site.json: /: expected an object, found array"},
      {"\"S\"", "\"SSSSSSSSSSSSSSSSS\"", srv + "/name: \"SSSSSSSSSSSSSSSSS\" must have 1 to 16"},
      {"\"D\"", "\"\"", dev + "/name: \"\" must have 1 to 16 characters"},
      {"\"C\"", "\"C/1\"", ctx + "/name: \"C/1\" holds a \"/\""},
      {"\"S\"", "\" S\"", srv + "/name: \" S\" begins or ends with a blank"},
      {"\"D\"", "\"D \"", dev + "/name: \"D \" begins or ends with a blank"},
      {"\"D\"", "\"D\u20ac\"", dev + "/name: character U+20AC is not a Latin-1 character"},
      {"\"S\"", "\"ENS\"", srv + "/name: \"ENS\" is the name server's address"},
      {"[\n{", "[\n" + kOther + "{",
       "/tango/contexts/1/servers/0/name: duplicate server name \"S\" (also at "
       "/tango/contexts/0/servers/0)"},
      {"[\n{", "[\n{\"name\": \"C\"" + kOther.substr(12) + "{",
       "/tango/contexts/1/name: duplicate context name \"C\" (also at /tango/contexts/0)"},
      {R"("a/b/c"})", R"("a/b/c"}, {"name": "D", "device": "a/b/d"})",
       srv + "/devices/1/name: duplicate device name \"D\""},
      {"\"a/b/c\"", "\"a/b\"", dev + "/device: \"a/b\" is not a Tango device name"},
      {"\"a/b/c\"", "\"a//c\"", dev + "/device: \"a//c\" is not"},
      {"\"a/b/c\"", "\"/b/c\"", dev + "/device: \"/b/c\" is not"},
      {"\"a/b/c\"", "\"a/b/\"", dev + "/device: \"a/b/\" is not"},
      {"\"a/b/c\"", "\"a/b/c/d\"", dev + "/device: \"a/b/c/d\" is not"},
      {"\"a/b/c\"", "\"a/b/c#x\"", dev + "/device: \"a/b/c#x\" is not"},
      {"\"h\"", "\"\"", ctx + "/host: \"\" is not a host name or address"},
      {"\"h\"", "\"h:1\"", ctx + "/host: \"h:1\" is not a host name"},
      {"1234", "0", ctx + "/port: 0 is outside 1..65535"},
      {"1234", "70000", ctx + "/port: 70000 is outside 1..65535"},
      {"1234", "-1", ctx + "/port: -1 is outside 1..65535"},
      {"1234", "\"1234\"", ctx + "/port: expected a whole number, found string"},
      {"1234", "12.5", ctx + "/port: expected a whole number, found 12.5"},
      {"250", "5", ctx + "/pollMs: 5 is outside 10..3600000"},
      {"250", "3600001", ctx + "/pollMs: 3600001 is outside 10..3600000"},
      {"false", "\"no\"", ctx + "/database: expected true or false, found string"},
      {"\"S\"", "5", srv + "/name: expected a string, found number"},
      {R"([{"name": "D", "device": "a/b/c"}])", R"({"name": "D", "device": "a/b/c"})",
       srv + "/devices: expected an array, found object"},
      {"[{\"name\": \"D\", \"device\": \"a/b/c\"}]", "[]",
       srv + "/devices: a server needs at least one device"},
      {"", R"({"tango": {"contexts": []}})",
       "/tango/contexts: the site needs at least one context"},
  };
  for (const Case& c : cases) {
    const string text = Edited(c.from, c.to);
    string error;
    EXPECT_FALSE(LoadSite(text, "site.json", error)) << text;
    EXPECT_EQ(error.rfind("site.json: ", 0), 0u) << error;
    EXPECT_NE(error.find(c.error), string::npos) << c.error << "\n in: " << error;
  }
}

TEST(TangoSite, LoadsEveryFieldAndDefaults) {
  string error;
  std::optional<Site> site = LoadSite(
      Edited(
          "\"S\"",
          "\"CAF\u00c9\u00c9\u00c9\u00c9\u00c9\u00c9\u00c9\u00c9\u00c9\u00c9\u00c9\u00c9\u00c9\""),
      "s", error);
  ASSERT_TRUE(site) << error;
  EXPECT_EQ(site->title, "Lab");
  ASSERT_EQ(site->contexts.size(), 1u);
  const SiteContext& c = site->contexts[0];
  EXPECT_EQ(c.name, "C");
  EXPECT_EQ(c.host, "h");
  EXPECT_EQ(c.port, 1234);
  EXPECT_FALSE(c.database);
  EXPECT_EQ(c.pollMs, 250);
  ASSERT_EQ(c.servers.size(), 1u);
  EXPECT_EQ(c.servers[0].name, "CAF" + string(13, '\xc9'));  // 16 Latin-1 characters
  EXPECT_EQ(c.servers[0].instance, "I/x");
  ASSERT_EQ(c.servers[0].devices.size(), 1u);
  EXPECT_EQ(c.servers[0].devices[0].name, "D");
  EXPECT_EQ(c.servers[0].devices[0].tangoName, "a/b/c");
  EXPECT_EQ(TangoAddress(c, c.servers[0].devices[0]), "tango://h:1234/a/b/c#dbase=no");

  site = LoadSite(R"({"tango": {"contexts": [{"name": "C", "host": "h", "port": 9, "database": true,
      "pollMs": 10, "servers": [{"name": "S", "devices": [{"name": "D", "device": "a/b/c"}]}]}]}})",
                  "s", error);
  ASSERT_TRUE(site) << error;
  const SiteContext& d = site->contexts[0];
  EXPECT_EQ(site->title, "");
  EXPECT_EQ(d.pollMs, 10);
  EXPECT_EQ(d.servers[0].instance, "");
  EXPECT_EQ(TangoAddress(d, d.servers[0].devices[0]), "tango://h:9/a/b/c");

  // Without database and pollMs.
  site = LoadSite(Edited(R"("database": false, "pollMs": 250,)", ""), "s", error);
  ASSERT_TRUE(site) << error;
  EXPECT_FALSE(site->contexts[0].database);
  EXPECT_EQ(site->contexts[0].pollMs, 250);
}

TEST(TangoSite, LooksLikeSite) {
  const std::pair<string, bool> cases[] = {
      {kGood, true},
      {R"({"tango": 1})", true},
      {R"({"contexts": [{"name": "LINAC", "servers": []}]})", false},
      {"garbage", false},
      {"", false},
      {R"([{"tango": {}}])", false},
  };
  for (const auto& [text, site] : cases) EXPECT_EQ(LooksLikeSite(text), site) << text;
}

TEST(TangoSite, UnreadableFileNamesThePath) {
  dsc::testing::TempDir dir;
  for (const string& path : {dir.file("missing.json"), dir.path()}) {
    string error;
    EXPECT_FALSE(LoadSiteFile(path, error));
    EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
  }
  dir.write("site.json", Edited("1234", "0x"));
  string error;
  EXPECT_FALSE(LoadSiteFile(dir.file("site.json"), error));
  EXPECT_EQ(error.rfind(dir.file("site.json") + ": line 3, column ", 0), 0u) << error;
}

}  // namespace
}  // namespace dsc::tango
