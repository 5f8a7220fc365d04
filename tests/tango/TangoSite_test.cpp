// Site files: every refusal names the place in the file, and a good file
// loads with its defaults. Reading the file, the syntax and the unknown
// fields and characters are the facility loader's too, and tested with it.

#include "tango/TangoSite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <utility>

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
  };
  std::vector<Case> cases = {
      {"\"host\": \"h\", ", "", ctx + ": missing field \"host\""},
      {"", R"({"site": "x"})", "site.json: /: missing field \"tango\""},
      {"\"S\"", "\"SSSSSSSSSSSSSSSSS\"", srv + "/name: \"SSSSSSSSSSSSSSSSS\" must have 1 to 16"},
      {"\"D\"", "\"\"", dev + "/name: \"\" must have 1 to 16 characters"},
      {"\"C\"", "\"C/1\"", ctx + "/name: \"C/1\" holds a \"/\""},
      {"\"S\"", "\" S\"", srv + "/name: \" S\" begins or ends with a blank"},
      {"\"S\"", "\"ENS\"", srv + "/name: \"ENS\" is the name server's address"},
      // Context and server names become test file names.
      {"\"C\"", "\"..\"", ctx + "/name: \"..\" is refused: the name holds \"..\""},
      {"[\n{", "[\n" + kOther + "{",
       "/tango/contexts/1/servers/0/name: duplicate server name \"S\" (also at "
       "/tango/contexts/0/servers/0)"},
      {"[\n{", "[\n{\"name\": \"C\"" + kOther.substr(12) + "{",
       "/tango/contexts/1/name: duplicate context name \"C\" (also at /tango/contexts/0)"},
      {R"("a/b/c"})", R"("a/b/c"}, {"name": "D", "device": "a/b/d"})",
       srv + "/devices/1/name: duplicate device name \"D\""},
      {"\"h\"", "\"\"", ctx + "/host: \"\" is not a host name or address"},
      // Control characters, and names meeting case ignored (their test files would).
      {"\"h\"", "\"h\\n\"", ctx + "/host:"},
      {"\"h\"", "\"h\\u0007\"", ctx + "/host:"},
      {R"("a/b/c"})", R"("a/b/c"}, {"name": "d", "device": "a/b/d"})",
       srv + "/devices/1/name: duplicate device name \"d\""},
      {"1234", "1234, \"failOnQuality\": \"BAD\"", ctx + "/failOnQuality:"},
      {"1234", "1234, \"expectStates\": [\"ONN\"]", ctx + "/expectStates/0: \"ONN\" is not"},
      {"\"h\"", "\"h:1\"", ctx + "/host: \"h:1\" is not a host name"},
      {"1234", "0", ctx + "/port: 0 is outside 1..65535"},
      {"1234", "65536", ctx + "/port: 65536 is outside 1..65535"},
      {"250", "9", ctx + "/pollMs: 9 is outside 10..3600000"},
      {"250", "3600001", ctx + "/pollMs: 3600001 is outside 10..3600000"},
      {"{\"contexts\"", "{\"jobs\": 0, \"contexts\"", "/tango/jobs: 0 is outside 1..256"},
      {"{\"contexts\"", "{\"jobs\": 257, \"contexts\"", "/tango/jobs: 257 is outside 1..256"},
      {"{\"contexts\"", "{\"timeoutMs\": 0, \"contexts\"",
       "/tango/timeoutMs: 0 is outside 1..3600000"},
      {"{\"contexts\"", "{\"timeoutMs\": \"1s\", \"contexts\"",
       "/tango/timeoutMs: expected a whole number, found string"},
      {R"([{"name": "D", "device": "a/b/c"}])", R"({"name": "D", "device": "a/b/c"})",
       srv + "/devices: expected an array, found object"},
      {"[{\"name\": \"D\", \"device\": \"a/b/c\"}]", "[]",
       srv + "/devices: a server needs at least one device"},
      {"", R"({"tango": {"contexts": []}})",
       "/tango/contexts: the site needs at least one context"},
      {"\"database\": false,", "\"database\": false, \"discover\": true,",
       ctx + "/database: a discovered context needs its Tango database"},
      {"\"database\": false,", "\"include\": [\"*\"],",
       ctx + "/include: only a discovered context filters its servers"},
      {"\"database\": false,", "\"discover\": true, \"exclude\": [1],",
       ctx + "/exclude/0: expected a string, found number"},
      {"\"database\": false, \"pollMs\": 250,\n \"servers\": [{\"name\": \"S\", \"instance\": "
       "\"I/x\", ",
       "\"discover\": true, \"pollMs\": 250,\n \"servers\": [{\"name\": \"S\", ",
       srv + ": missing field \"instance\""},
  };
  for (const char* device : {"a/b", "a//c", "/b/c", "a/b/", "a/b/c/d", "a/b/c#x", "a/b c/d"})
    cases.push_back({"\"a/b/c\"", "\"" + string(device) + "\"",
                     dev + "/device: \"" + device + "\" is not a Tango device name"});
  for (const Case& c : cases) {
    const string text = Edited(c.from, c.to);
    string error;
    EXPECT_FALSE(LoadSite(text, "site.json", error)) << text;
    EXPECT_NE(error.find(c.error), string::npos) << c.error << "\n in: " << error;
  }
}

// Every field as one line (database and discover as two digits), and the
// devices' Tango addresses.
string Summary(const std::optional<Site>& site, const string& error) {
  if (!site) return error;
  const SiteContext& c = site->contexts.at(0);
  const SiteServer& s = c.servers.at(0);
  string text = site->title + "|" + c.name + " " + c.host + " " + std::to_string(c.port) + " " +
                std::to_string(c.database) + std::to_string(c.discover) + " " +
                std::to_string(c.pollMs) + "|" + s.name + " " + s.instance;
  if (site->jobs != 0 || site->timeoutMs != 0)
    text += " jobs " + std::to_string(site->jobs) + " ms " + std::to_string(site->timeoutMs);
  for (const string& p : c.include) text += " +" + p;
  for (const string& p : c.exclude) text += " -" + p;
  for (const SiteDevice& d : s.devices) text += "|" + d.name + " " + TangoAddress(c, d);
  return text;
}

TEST(TangoSite, LoadsEveryFieldAndDefaults) {
  const string minimal =
      R"({"tango": {"contexts": [{"name": "C", "host": "h", "port": 9, )"
      R"("servers": [{"name": "S", "devices": [{"name": "D", "device": "a/b/c"}]}]}]}})";
  const std::pair<string, string> cases[] = {
      // 16 Latin-1 characters
      {Edited(
           "\"S\"",
           "\"CAF\u00c9\u00c9\u00c9\u00c9\u00c9\u00c9\u00c9\u00c9\u00c9\u00c9\u00c9\u00c9\u00c9\""),
       "Lab|C h 1234 00 250|CAF" + string(13, '\xc9') + " I/x|D tango://h:1234/a/b/c#dbase=no"},
      {string(minimal).insert(minimal.find("\"servers"), R"("database": true, "pollMs": 10, )"),
       "|C h 9 10 10|S |D tango://h:9/a/b/c"},
      {minimal, "|C h 9 00 250|S |D tango://h:9/a/b/c#dbase=no"},
      {string(minimal).insert(minimal.find("\"contexts"), R"("jobs": 16, "timeoutMs": 2500, )"),
       "|C h 9 00 250|S  jobs 16 ms 2500|D tango://h:9/a/b/c#dbase=no"},
      // A discovered context has its database, filters, and servers without devices.
      {R"({"tango": {"contexts": [{"name": "C", "host": "h", "port": 9, "discover": true, )"
       R"("include": ["TangoTest/*"], "exclude": ["*/x"], )"
       R"("servers": [{"name": "TG", "instance": "TangoTest/test"}]}]}})",
       "|C h 9 11 250|TG TangoTest/test +TangoTest/* -*/x"},
  };
  for (const auto& [text, summary] : cases) {
    string error;
    EXPECT_EQ(Summary(LoadSite(text, "s", error), error), summary);
  }
}

TEST(TangoSite, SitesFromTangoHost) {
  // Entries as TANGO_HOST or --tango-host give them; each context as
  // "name=host:port+alternates".
  const std::pair<std::vector<string>, std::vector<string>> cases[] = {
      // Commas name one database's addresses: one context.
      {{"db.example.org:10000,127.0.0.1:20000", "h:1", "h:65535"},
       {"db.example.~1c33=db.example.org:10000+127.0.0.1:20000", "h:1=h:1", "h:65535=h:65535"}},
      // However spelled, a database is named by its identity, once.
      {{"localhost:010000", "127.0.0.1:10000", "127.0.0.2:10000", "H:1"},
       {"127.0.0.1:10000=localhost:10000", "h:1=H:1"}},
  };
  for (const auto& [hosts, expected] : cases) {
    string error;
    const std::optional<Site> site = SiteFromTangoHosts(hosts, error);
    ASSERT_TRUE(site) << error;
    std::vector<string> names;
    for (const SiteContext& x : site->contexts) {
      EXPECT_TRUE(x.discover && x.database);
      names.push_back(x.name + "=" + x.host + ":" + std::to_string(x.port));
      for (const auto& [h, p] : x.alternates) names.back() += "+" + h + ":" + std::to_string(p);
    }
    EXPECT_EQ(names, expected);
  }
  EXPECT_EQ(TangoHostIdentity("LocalHost:0080"), "127.0.0.1:80");
  EXPECT_EQ(TangoHostIdentity("no-such-host.invalid:1"), "no-such-host.invalid:1");
  string error;
  for (const char* bad : {"h", "h:", ":1", "h:0", "h:65536", "h:1x", "a/b:1", ""}) {
    EXPECT_FALSE(SiteFromTangoHosts({bad}, error)) << bad;
    EXPECT_NE(error.find("TANGO_HOST"), string::npos) << error;
  }
  const auto json = SiteJsonFromTangoHosts({"h:1"}, error, true);
  EXPECT_NE(json.value().find(R"("failOnState":true)"), string::npos) << *json;
}

TEST(TangoSite, ShortNamesFitUniqueAndStable) {
  // Fitting names keep their characters with "/" as "."; how longer ones
  // hash is pinned by the TANGO_HOST names above.
  // The rule's edge: 16 characters fit, 17 are hashed to 16.
  const std::pair<string, string> fitting[] = {{"TangoTest/test", "TangoTest.test"},
                                               {"ABCDEFG/IJKLMNOP", "ABCDEFG.IJKLMNOP"}};
  for (const auto& [tango, own] : fitting) EXPECT_EQ(ShortName(tango), own);
  EXPECT_EQ(ShortName("ABCDEFG/IJKLMNOPQ").size(), 16u);
  // Case does not change the hash: Tango names ignore case.
  EXPECT_EQ(ShortName("ABCDEFGHIJKLMNOPQ").substr(11), ShortName("abcdefghijklmnopq").substr(11));
  EXPECT_NE(ShortName("ABCDEFGHIJKLMNOPQ"), ShortName("ABCDEFGHIJKLMNOPR"));

  // "a/b" and "a.b" meet: the later by lower-case name hashes with "#1".
  const std::vector<string> names = ShortNames({"a.b", "a/b", "other/server"}, {});
  EXPECT_EQ(names[0], "a.b");  // "a.b" < "a/b" ('.' sorts before '/')
  EXPECT_EQ(names[1].substr(0, 4), "a.b~");
  // ... and nothing else moves when servers come and go.
  EXPECT_EQ(ShortNames({"other/server", "a/b"}, {})[0], names[2]);
  // A name chosen in the site file stands, and the one it would shadow moves.
  const std::vector<string> chosen =
      ShortNames({"x/y", "TangoTest/test"}, {{"tangotest/TEST", "x.y"}});
  EXPECT_EQ(chosen[1], "x.y");
  EXPECT_EQ(chosen[0].substr(0, 4), "x.y~");
  // Many names meeting in their first 11 characters stay unique.
  std::vector<string> many;
  for (int i = 0; i < 2000; ++i) many.push_back("Executable_" + std::to_string(i) + "/instance");
  std::vector<string> shortMany = ShortNames(many, {});
  std::sort(shortMany.begin(), shortMany.end());
  EXPECT_EQ(std::adjacent_find(shortMany.begin(), shortMany.end()), shortMany.end());
  for (const string& n : shortMany) EXPECT_LE(n.size(), 16u) << n;
}

TEST(TangoSite, PatternsAndDates) {
  const std::tuple<const char*, const char*, bool> patterns[] = {
      {"*", "TangoTest/test", true},
      {"tangotest/*", "TangoTest/test", true},
      {"*/te?t", "TangoTest/test", true},
      {"*/te?t", "TangoTest/tet", false},
      {"DataBaseds/*", "TangoTest/x", false},
      {"", "", true},
      {"a*b*c", "axxbyyc", true},
      {"a*b*c", "axxbyy", false},
  };
  for (const auto& [pattern, name, match] : patterns)
    EXPECT_EQ(NameMatches(pattern, name), match) << pattern << " " << name;
  const std::pair<const char*, const char*> dates[] = {
      {"6th December 2026 at 13:12:37", "2026-12-06 13:12:37"},
      {"1st January 2024 at 00:00:05", "2024-01-01 00:00:05"},
      {"22nd may 2025 at 9:05:00", "2025-05-22 09:05:00"},
      {"2025-05-22 09:05:00", "2025-05-22 09:05:00"},  // already so
      {"", ""},
      {"6th Decembre 2026 at 13:12:37", "6th Decembre 2026 at 13:12:37"},
  };
  for (const auto& [tango, checker] : dates) EXPECT_EQ(CheckerDate(tango), checker) << tango;
}

}  // namespace
}  // namespace dsc::tango
