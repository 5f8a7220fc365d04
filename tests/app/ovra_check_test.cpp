// ovra-check's contract, through the process: every exit status and what the
// user is told with it, every option's refusal, the JSON lines' keys as
// docs/ci.md gives them.

#include <pugixml.hpp>

#include "tests/app/OvraCheck.h"

namespace ovra_check_test {
namespace {

// The keys of each JSON line type, in order, as the table names them: the
// backticked names outside parentheses ("`index: null`" names index). The
// lint row's "then a `summary` with ..." is the lint run's summary.
std::map<string, std::vector<string>> DocumentedJsonKeys() {
  std::map<string, std::vector<string>> keys;
  for (const auto& row : DocTable("## JSON lines")) {
    string type = row[0].substr(1, row[0].size() - 2), fields = row[1];
    const size_t then = fields.find("; then a `summary` with");
    if (then != string::npos) {
      for (const char* k : {"findings", "unreadable"}) keys["lint summary"].push_back(k);
      fields.resize(then);
    }
    const string outside = std::regex_replace(fields, std::regex(R"(\([^)]*\))"), "");
    const std::regex name("`([a-z_]+)[`:]");
    for (std::sregex_iterator it(outside.begin(), outside.end(), name), end; it != end; ++it)
      keys[type].push_back((*it)[1]);
  }
  return keys;
}

TEST_F(OvraCheck, ExitCodesAndWhatTheUserIsTold) {
  dir.write("big.json", ManyProperties(32768));
  dir.write("contexts.json", ManyContexts(202));

  dir.write("CAF\xc9-L.csv",
            "Server\r\nS\r\n");  // a test file whose header looks like a list
  std::filesystem::create_directory(dir.file("rooted"));
  dir.write("rooted/procedures.csv",
            "Description,FileName,Context\r\nRooted,/list.csv,CAF\xc9\r\n");
  dir.write("rooted/list.csv", "Server\r\nS\r\n");
  std::filesystem::create_directory(dir.file("noconfigs"));
  const string rooted =
      "--database '" + dir.file("rooted") + "' --facility '" + dir.file("f.json") + "' ";
  const string facility = "--facility '" + dir.file("f.json") + "' ";
  const string noModule = "OVRA_PLUGIN_DIR='" + dir.path() + "'";
  dir.write("site.json", kSite);
  string bad = kSite;
  dir.write("bad.json", bad.replace(bad.find("TG-2"), 4, "TG/2"));
  dir.write("gone.json",
            R"({"contexts": [{"name": "C", "servers": [{"name": "S", "code": 98}]}]})");
  string full = "Property\r\n";
  for (int i = 0; i < 32767; ++i) full += "P\r\n";
  dir.write("CAF\xc9-MAX.csv", full);
  dir.write("CAF\xc9-BIG.csv", full + "P\r\n");
  const struct {
    string args;
    int code;
    string inOutput;  // stdout + stderr
    string env = "";
    string before = "";  // what the shell does first (limits)
  } cases[] = {
      // The JUnit path is checked before anything runs.
      {"--junit /nonexistent/dir/r.xml specific CAF\xc3\x89 S", 2,
       "cannot write the JUnit file /nonexistent/dir/r.xml"},
      {"--html /nonexistent/dir/p.html specific CAF\xc3\x89 S", 2,
       "cannot write the HTML file /nonexistent/dir/p.html"},
      {"--html /nonexistent/dir/p.html sweep", 2,
       "cannot write the HTML file /nonexistent/dir/p.html"},
      {"", 2, "A subcommand is required"},
      {"config 0", 1, "Configuration: Both"},
      // The second server stopped answering: the configuration goes on with the
      // third.
      {"config Three", 1, "6 succeeded, 11 failed, 3 not run"},
      {"--json config Three", 1, R"("server":"DEAD","index":0,)"},
      {"info CAF\xc3\x89 S", 0, "srv vers: 1.0"},
      {"info CAF\xc3\x89 DOWN", 1, "server not answering (code 45)"},
      {"--json info CAF\xc3\x89 DOWN", 1, "\"answered\":false"},
      {"--json --facility '" + dir.file("gone.json") + "' info C S", 1,
       "\"answered\":false,\"code\":98"},
      // All the contexts listed: no "reported" count after the items.
      {"--json list", 0, "\"items\":[\"CAF\xc3\x89\"]}\n"},
      {"--json list CAF\xc3\x89 S D", 0,
       "\"items\":[{\"name\":\"NUM\",\"size\":1,\"format\":\"DOUBLE\"}"},
      {"specific CAF\xc3\x89 DOWN", 1, "0 succeeded, 0 failed, 1 not prepared"},
      {"list NOWHERE S D", 1, "ovra-check: /NOWHERE/S/D: unknown context (code 60)"},
      // Only the first 32767 properties could be listed: not tested in part.
      {"--facility '" + dir.file("big.json") + "' list C S D", 1, "more than 32767 properties"},
      {"--retries 0 --only 'dead 1' specific CAF\xc3\x89 S", 1, "0 succeeded, 1 failed, 7 not run"},
      {"--retries 2 --only 'dead 1' specific CAF\xc3\x89 S", 1, "(retry 2 of 2)"},
      {"--skip 'dead*' --skip NUM specific CAF\xc3\x89 S", 0, "2 succeeded, 0 failed, 6 not run"},
      {"--max-link-failures 0 --skip 'number' specific CAF\xc3\x89 S", 1,
       "4 succeeded, 3 failed, 1 not run"},
      {"standard CAF\xc3\x89 S NOPE", 1, "NOPE: unknown device (code 62)"},
      {"standard CAF\xc3\x89 S D", 1,
       "Standard test for  4 READ properties\n[1/4] NUM : Success  = 4.2  ("},
      {"--strict specific CAF\xc3\x89 T", 2, "did you mean \"Reference\"? [unknown-column]"},
      {"lint CAF\xc3\x89 T", 1, "CAF\xc3\x89-T.csv:1: unknown column \"Refernce\""},
      {"lint /nonexistent.csv", 2, "cannot read /nonexistent.csv"},
      // An unreadable file outweighs a finding; the most records a file may
      // hold are not too many.
      {"lint '" + dir.file("CAF\xc9-T.csv") + "' /nonexistent.csv", 2, "[unknown-column]"},
      {"lint '" + dir.file("CAF\xc9-MAX.csv") + "'", 0, ""},
      // Every server's file is checked, the last one's too.
      {"--strict config Last", 2, "did you mean \"Reference\"? [unknown-column]"},
      {"lint CAF\xc3\x89 L", 1, "the file cannot be loaded [no-property-column]"},
      // Why a file gave "nothing to load", after the text that stays.
      {"specific CAF\xc3\x89 BIG", 1,
       "CAF\xc3\x89-BIG.csv : nothing to load or reading failed: more than "
       "32767 records\n"},
      {"--json specific CAF\xc3\x89 BIG", 1, "reading failed: more than 32767 records\",\"outcome"},
      {rooted + "config Rooted", 1,
       "lists no server (" + dir.file("rooted") +
           "//list.csv : nothing to load or reading failed: the server list "
           "\"/list.csv\" is "
           "outside the database)"},
      {rooted + "--strict config Rooted", 2,
       "outside the database: the configuration has no servers "
       "[server-list-name]"},
      {"--facility '" + dir.file("contexts.json") + "' list", 0,
       "C200\novra-check: the control system has 202 contexts; only the first "
       "201 can be listed"},
      {"stnadard CAF\xc3\x89 S D", 2, "Did you mean the subcommand \"standard\"?"},
      {"--jsn list", 2, "Did you mean \"--json\""},
      // Names that would lead out of the database directory or drive the
      // terminal are refused before anything is asked.
      {"specific .. S", 2, "ovra-check: context \"..\" is refused: the name holds \"..\""},
      {"info CAF\xc3\x89 ../../x", 2, "server \"../../x\" is refused: the name holds a \"/\""},
      {"info CAF\xc3\x89 S\xe2\x82\xac", 2,
       "\"S\xe2\x82\xac\" is refused: column 2: U+20AC has no Latin-1 "
       "character"},
      {"standard CAF\xc3\x89 \"$(printf 'V\\033[2J')\" D", 2,
       "server \"V\\x1B[2J\" is refused: the name holds a control"},
      // The environment names the facility and the database; the options beat
      // it.
      {"list", 2, "/nonexistent.json: cannot be opened", "OVRA_FACILITY=/nonexistent.json"},
      {facility + "list", 0, "CAF\xc3\x89", "OVRA_FACILITY=/nonexistent.json"},
      {"config 0", 2, "no database directory /nonexistent/ ($OVRA_DATABASE)\n",
       "OVRA_DATABASE=/nonexistent"},
      {"--database /nonexistent config 0", 2, "ovra-check: no database directory /nonexistent\n"},
      {"--database '" + dir.file("noconfigs") + "' config 0", 2,
       "ovra-check: no configurations: " + dir.file("noconfigs") +
           "/procedures.csv : nothing to load or reading failed: no such file\n"
           "  (looked for procedures.csv in " +
           dir.file("noconfigs") + "/)\n"},
      // A database that was found lists its configurations (the index is
      // one past the last).
      {facility + "config 3", 2,
       "no configuration \"3\"; there are:\n  0  Both\n  1  Three\n  2  Last\n",
       "OVRA_DATABASE='" + dir.path() + "'"},
      // A bad site file is refused with its place named; without the Tango
      // backend's module a good one is refused too, whether the build has none
      // or the installation lacks it; the simulation needs none.
      {"--facility '" + dir.file("bad.json") + "' list", 2,
       dir.file("bad.json") + ": /tango/contexts/0/servers/0/devices/1/name: \"TG/2\" holds"},
      {"--facility '" + dir.file("site.json") + "' list", 2,
       "ovra-check: " + dir.file("site.json") + ": a Tango site file, but ", noModule},
      {"--version", 0, "Tango backend: not ", noModule},
      {"list", 0, "LINAC", noModule},
      // Lost report lines (the report log's test says what is kept).
      // A failed command too: the record of the run is what a CI job keeps.
      {"standard CAF\xc3\x89 S D", 3, "Report incomplete: 0 of ", "",
       "trap '' XFSZ; ulimit -f 0; "},
      // A JUnit file the disk refuses at its close.
      {"--junit /dev/full standard CAF\xc3\x89 S D", 2,
       "ovra-check: cannot write the JUnit file /dev/full: No space left on "
       "device"},
      // Results that could not be written are not a success, whatever ran.
      {"--json standard CAF\xc3\x89 S D >/dev/full", 4,
       "ovra-check: standard output could not be written"},
      {"specific CAF\xc3\x89 S >/dev/full", 4, "standard output could not be written"},
      {"--json list >/dev/full", 4, "standard output could not be written"},
      {"lint CAF\xc3\x89 T >/dev/full", 4, "standard output could not be written"},
      // An empty TANGO_HOST is told, not taken for "no database".
      {"list", 2, "no Tango database given (TANGO_HOST is host:port)", noModule + " TANGO_HOST="},
  };
  std::set<int> codes;
  for (const auto& c : cases) {
    codes.insert(c.code);
    // A usage error runs nothing: no report is written.
    EmptyReports();
    const Result r = Run(c.args, c.env, c.before);
    EXPECT_TRUE(c.code != 2 || c.args.starts_with("--junit /dev/full") ||
                std::filesystem::is_empty(reportDir))
        << c.args;
    EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.inOutput), string::npos) << c.args << "\n" << r.out << r.err;
    // Not a terminal: no colours, and no control character of a name or a
    // value.
    EXPECT_EQ((r.out + r.err).find('\x1b'), string::npos) << c.args;
    EXPECT_EQ(r.out.find("(retry") != string::npos, c.args.starts_with("--retries 2")) << r.out;
  }
  // Each exit status docs/ci.md gives but a signal's has a case above.
  std::set<int> documented;
  for (const int code : DocumentedExitCodes())
    if (code < 128) documented.insert(code);
  EXPECT_EQ(codes, documented);
}

// Every option that takes a value (those --help shows with one) refuses
// none, refuses a next argument that looks like an option before anything
// runs (no report, no file named after it; written with "=", it is taken),
// and, where its help shows a check, refuses a value outside it: exit 2,
// the option named.
TEST_F(OvraCheck, EveryOptionRefusesWhatItCannotTake) {
  const std::map<string, string> bad = {{"--retries", "-1"}, {"--max-link-failures", "x"},
                                        {"--timeout", "0"},  {"--fail-on-quality", "GOOD"},
                                        {"--shard", "4/3"},  {"--tango-host", "nohost"},
                                        {"--jobs", "0"}};
  std::istringstream help(Run("--help").out);
  // "--retries N:INT in [...]": the name, the value's name, and the check
  // that follows a colon.
  const std::regex option(R"(^  (--[a-z-]+) ([A-Z][A-Z,./]*)(:?)([A-Z{]?))");
  int taking = 0, checked = 0;
  for (string line; std::getline(help, line);) {
    std::smatch m;
    if (!std::regex_search(line, m, option)) continue;
    const string name = m[1];
    ++taking;
    const Result missing = Run("list " + name);
    EXPECT_EQ(missing.code, 2) << name;
    EXPECT_NE(missing.err.find(name + ": 1 required " + string(m[2])), string::npos) << missing.err;

    EmptyReports();
    const Result r = Run("--json " + name + " --json standard CAF\xc3\x89 S D");
    EXPECT_EQ(r.code, 2) << name << "\n" << r.out << r.err;
    EXPECT_NE(r.err.find(name + " takes a value, not the option \"--json\""), string::npos)
        << name << ": " << r.err;
    EXPECT_TRUE(r.out.empty()) << name;
    EXPECT_TRUE(std::filesystem::is_empty(reportDir)) << name;
    EXPECT_FALSE(std::filesystem::exists("--json")) << name;

    // --shard and --tango-host check their own values.
    if (m[3] == ":" || bad.count(name)) {
      ASSERT_TRUE(bad.count(name)) << name << " has a check but no case here";
      const Result refused = Run(name + " " + bad.at(name) + " list");
      EXPECT_EQ(refused.code, 2) << name;
      EXPECT_NE(refused.err.find(name.substr(2)), string::npos) << refused.err;
      ++checked;
    }
  }
  EXPECT_GE(taking, 14);
  EXPECT_EQ(checked, static_cast<int>(bad.size()));
  const Result r = Run("--only=--none standard CAF\xc3\x89 S D");
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("not selected by --only"), string::npos) << r.out;
  // A negative number is a value, not an option.
  for (const char* value : {"-5", "-.5"})
    EXPECT_EQ(Run(string("--only ") + value + " list").code, 0) << value;
}

// Every JSON line holds the keys docs/ci.md's table gives its type, in that
// order, and no other (count and reported only where the table says when).
TEST_F(OvraCheck, JsonLinesHoldTheDocumentedKeysInOrder) {
  const auto documented = DocumentedJsonKeys();
  const std::set<string> conditional = {"count", "reported", "why"};
  dir.write("contexts.json", ManyContexts(202));
  std::set<string> seen;
  for (const string& args :
       {string("--json config Both"), string("--json info CAF\xc3\x89 S"), string("--json list"),
        string("--json list CAF\xc3\x89 S D"), string("--json lint CAF\xc3\x89 T"),
        "--json --facility '" + dir.file("contexts.json") + "' list"}) {
    std::istringstream in(Run(args).out);
    for (string line; std::getline(in, line);) {
      const auto j = nlohmann::ordered_json::parse(line);
      string type = j.at("type");
      if (type == "summary" && j.contains("findings")) type = "lint summary";
      seen.insert(type);
      ASSERT_TRUE(documented.count(type)) << type;
      std::vector<string> keys, expected;
      for (const auto& [key, value] : j.items())
        if (key != "type") keys.push_back(key);
      for (const string& key : documented.at(type))
        if (!conditional.count(key) || j.contains(key)) expected.push_back(key);
      EXPECT_EQ(keys, expected) << args << "\n" << line;
      if (type == "info") {
        // The field names as the table gives them, without the text's blanks.
        const string row = CiDoc().substr(CiDoc().find("| `info` |"));
        for (const char* field : {"srv vers", "srv start", "app vers", "app date"}) {
          EXPECT_NE(row.substr(0, row.find('\n')).find("`" + string(field) + "`"), string::npos);
          EXPECT_TRUE(j["fields"].contains(field)) << field << " " << line;
        }
        EXPECT_EQ(j["fields"].size(), 4u) << line;
      }
    }
  }
  EXPECT_EQ(seen.size(), documented.size());
  // A list beyond what it can hold says how many there are.
  EXPECT_TRUE(seen.count("list"));
}

}  // namespace
}  // namespace ovra_check_test
