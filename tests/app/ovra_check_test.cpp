// ovra-check end to end, through the process: exit codes, terminal lines and
// the report, and its machine-readable contract (every JSON line parses, the
// JUnit file has the structure the common JUnit schemas demand).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/Fakes.h"

namespace {

using dsc::testing::ReadFileBytes;
using nlohmann::json;
using std::string;

// The context is "CAFÉ" (Latin-1 in the control system, typed in UTF-8);
// texts hold quotes, an ESC and a Latin-1 letter. DOWN answers nothing and
// its test cannot be prepared; the DEAD property of S refuses every access.
constexpr const char* kFacility = R"({"contexts": [{"name": "CAF\u00c9", "servers": [
  {"name": "S", "info": {"SRVVERSION": "1.0", "SRVSTARTTIME": "now", "APPVERSION": "a",
   "APPDATE": "d"}, "devices": [{"name": "D", "properties": [
    {"name": "NUM", "format": "DOUBLE", "value": 4.2},
    {"name": "LIST", "format": "SHORT", "values": [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]},
    {"name": "TXT", "format": "TEXT", "value": "say \"hi\" \u001b[2J caf\u00e9", "count": 40},
    {"name": "DEAD", "format": "SHORT", "value": 1, "code": 45}]}]},
  {"name": "DEAD", "code": 45, "devices": [{"name": "D", "properties": [
    {"name": "P", "format": "SHORT", "value": 1}]}]},
  {"name": "DOWN", "code": 45, "info": {"SRVVERSION": "1.0", "SRVSTARTTIME": "now",
   "APPVERSION": "a", "APPDATE": "d"}, "devices": [{"name": "D", "properties": [
    {"name": "P", "format": "SHORT", "value": 1}]}]}]}]})";

constexpr const char* kTestFile =
    "Description,Property,Device,OutputSize,OutputFormat,Reference,Access\r\n"
    "Number,NUM,D,1,DOUBLE,5,READ\r\n"
    "List,LIST,D,10,SHORT,,READ\r\n"
    "Text,TXT,D,40,TEXT,,READ\r\n"
    "Caf\xe9 number,NUM,D,1,DOUBLE,4.2,READ\r\n"
    "Dead 1,DEAD,D,1,SHORT,,READ\r\n"
    "Dead 2,DEAD,D,1,SHORT,,READ\r\n"
    "Dead 3,DEAD,D,1,SHORT,,READ\r\n"
    "After \"it\",NUM,D,1,DOUBLE,,READ\r\n";

// A site file naming two devices of a server at 127.0.0.1:1, where nothing
// listens on an unprivileged test machine.
constexpr const char* kSite = R"({"site": "Lab", "tango": {"contexts": [{"name": "LAB",
  "host": "127.0.0.1", "port": 1, "servers": [{"name": "TG", "devices": [{"name": "TG-1",
  "device": "sys/tg_test/1"}, {"name": "TG-2", "device": "sys/tg_test/2"}]}]}]}})";

// A facility with one device of `properties` SHORT properties: C/S/D.
string ManyProperties(int properties) {
  string p = R"({"contexts": [{"name": "C", "servers": [{"name": "S", "devices": [{"name": "D", )"
             R"("properties": [)";
  for (int i = 0; i < properties; ++i)
    p += string(i ? "," : "") + R"({"name": "P)" + std::to_string(i) +
         R"(", "format": "SHORT", "value": 1})";
  return p + "]}]}]}]}";
}

struct Result {
  int code = -1;
  string out, err;
  std::vector<json> lines;  // stdout parsed line by line, with --json
};

class OvraCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.write("f.json", kFacility);
    dir.write("CAF\xc9-S.csv", kTestFile);
    dir.write("procedures.csv",
              "Description,FileName,Context\r\nBoth,list.csv,CAF\xc9\r\nThree,list3.csv,CAF\xc9\r\n"
              "Last,listT.csv,CAF\xc9\r\n");
    dir.write("listT.csv", "Server\r\nS\r\nT\r\n");
    dir.write("list3.csv", "Server\r\nS\r\nDEAD\r\nS\r\n");
    dir.write("CAF\xc9-DEAD.csv",
              "Property,Device,OutputSize,OutputFormat\r\nP,D,1,SHORT\r\nP,D,1,SHORT\r\n"
              "P,D,1,SHORT\r\nP,D,1,SHORT\r\n");
    dir.write("list.csv", "Server\r\nS\r\nDOWN\r\n");
    dir.write("CAF\xc9-T.csv", "Description,Property,Device,Refernce\r\nx,NUM,D,1\r\n");
    std::filesystem::create_directory(reportDir);
  }
  // ovra-check on the facility and database above, unless the arguments or
  // the environment name others; the tester's own settings stay out of it.
  string Command(const string& args, const string& env = "") const {
    const bool own = args.find("--facility") == string::npos &&
                     args.find("--database") == string::npos && env.find("OVRA_") == string::npos;
    return "env -u OVRA_DATABASE -u OVRA_FACILITY -u OVRA_PLUGIN_DIR XDG_CONFIG_HOME='" +
           dir.path() + "' " + env + " " + OVRA_CHECK_EXE + " --report-dir '" + reportDir + "' " +
           (own ? "--facility '" + dir.file("f.json") + "' --database '" + dir.path() + "' " : "") +
           args;
  }
  // Standard output through a pipe, as in a CI job; the shell runs `before`
  // (limits) and `after` (what goes on meanwhile) around the program.
  Result Run(const string& args, const string& env = "", const string& before = "",
             const string& after = "") const {
    Result r;
    const string command = before + Command(args, env) + " 2>'" + dir.file("err") + "'" + after;
    FILE* out = popen(command.c_str(), "r");
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, out)) > 0;) r.out.append(buf, n);
    const int status = pclose(out);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = dir.read("err");
    std::istringstream in(r.out);
    // Throws, failing the test, on a line that is not one JSON value.
    for (string line; args.find("--json") != string::npos && std::getline(in, line);)
      r.lines.push_back(json::parse(line));
    return r;
  }
  // Reports are named by the second: a case that counts them starts with none.
  void EmptyReports() const {
    std::filesystem::remove_all(reportDir);
    std::filesystem::create_directory(reportDir);
  }
  dsc::testing::TempDir dir;
  string reportDir = dir.file("reports");
};

// docs/ci.md, the contract CI users read: its tables are parsed here so the
// program and the document cannot drift apart.
string CiDoc() {
  const char* root = std::getenv("OVRA_SOURCE_DIR");
  return root ? ReadFileBytes(string(root) + "/docs/ci.md") : "";
}

// The rows "| a | b |" of the table below heading, their cells trimmed.
std::vector<std::vector<string>> DocTable(const string& heading) {
  const string doc = CiDoc();
  std::vector<std::vector<string>> rows;
  std::istringstream in(doc.substr(std::min(doc.find(heading), doc.size())));
  bool inTable = false;
  for (string line; std::getline(in, line);) {
    if (!line.starts_with("|")) {
      if (inTable) break;
      continue;
    }
    inTable = true;
    if (line.starts_with("|---")) continue;
    std::vector<string> cells;
    int depth = 0;  // a "|" inside backticks is no cell border (none are)
    string cell;
    for (size_t i = 1; i < line.size(); ++i) {
      if (line[i] == '`') depth ^= 1;
      if (line[i] == '|' && depth == 0) {
        cells.push_back(std::regex_replace(cell, std::regex("^ +| +$"), ""));
        cell.clear();
      } else {
        cell += line[i];
      }
    }
    rows.push_back(cells);
  }
  rows.erase(rows.begin());  // the header
  return rows;
}

std::set<int> DocumentedExitCodes() {
  std::set<int> codes;
  const std::regex number(R"(\d+)");
  for (const auto& row : DocTable("## Exit codes"))
    for (std::sregex_iterator it(row[0].begin(), row[0].end(), number), end; it != end; ++it)
      codes.insert(std::stoi(it->str()));
  EXPECT_EQ(codes.size(), 8u) << "docs/ci.md's exit codes";
  return codes;
}

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
    string outside;
    int depth = 0;
    for (const char c : fields) {
      depth += c == '(';
      if (depth == 0) outside += c;
      depth -= c == ')' && depth > 0;
    }
    const std::regex name("`([a-z_]+)[`:]");
    for (std::sregex_iterator it(outside.begin(), outside.end(), name), end; it != end; ++it)
      keys[type].push_back((*it)[1]);
  }
  return keys;
}

TEST_F(OvraCheck, ExitCodesAndWhatTheUserIsTold) {
  dir.write("big.json", ManyProperties(32768));
  string contexts = R"({"contexts": [)";
  for (int i = 0; i < 202; ++i)
    contexts += (i ? ",{\"name\": \"C" : "{\"name\": \"C") + std::to_string(i) + "\"}";
  dir.write("contexts.json", contexts + "]}");
  string records = "Property\r\n";
  for (int i = 0; i < 32768; ++i) records += "P\r\n";
  dir.write("CAF\xc9-BIG.csv", records);
  dir.write("CAF\xc9-L.csv", "Server\r\nS\r\n");  // a test file whose header looks like a list
  std::filesystem::create_directory(dir.file("rooted"));
  dir.write("rooted/procedures.csv",
            "Description,FileName,Context\r\nRooted,/list.csv,CAF\xc9\r\n");
  dir.write("rooted/list.csv", "Server\r\nS\r\n");
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
      // The second server stopped answering: the configuration goes on with the third.
      {"config Three", 1, "6 succeeded, 11 failed, 3 not run"},
      {"--json config Three", 1, R"("server":"DEAD","index":0,)"},
      {"info CAF\xc3\x89 S", 0, "srv vers: 1.0"},
      {"info CAF\xc3\x89 DOWN", 1, "server not answering (code 45)"},
      {"--json info CAF\xc3\x89 DOWN", 1, "\"answered\":false"},
      {"--json --facility '" + dir.file("gone.json") + "' info C S", 1,
       "\"answered\":false,\"code\":98"},
      {"--json list", 0, "\"items\":[\"CAF\xc3\x89\"]"},
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
      // An unreadable file outweighs a finding; the most records a file may hold are not too many.
      {"lint '" + dir.file("CAF\xc9-T.csv") + "' /nonexistent.csv", 2, "[unknown-column]"},
      {"lint '" + dir.file("CAF\xc9-MAX.csv") + "'", 0, ""},
      // Every server's file is checked, the last one's too.
      {"--strict config Last", 2, "did you mean \"Reference\"? [unknown-column]"},
      {"lint CAF\xc3\x89 L", 1, "the file cannot be loaded [no-property-column]"},
      // Why a file gave "nothing to load", after the text that stays.
      {"specific CAF\xc3\x89 BIG", 1,
       "CAF\xc3\x89-BIG.csv : nothing to load or reading failed: more than 32767 records\n"},
      {"--json specific CAF\xc3\x89 BIG", 1, "reading failed: more than 32767 records\",\"outcome"},
      {rooted + "config Rooted", 1,
       "lists no server (" + dir.file("rooted") +
           "//list.csv : nothing to load or reading failed: the server list \"/list.csv\" is "
           "outside the database)"},
      {rooted + "--strict config Rooted", 2,
       "outside the database: the configuration has no servers [server-list-name]"},
      {"--facility '" + dir.file("contexts.json") + "' list", 0,
       "C200\novra-check: the control system has 202 contexts; only the first 201 can be listed"},
      {"stnadard CAF\xc3\x89 S D", 2, "Did you mean the subcommand \"standard\"?"},
      {"--jsn list", 2, "Did you mean \"--json\""},
      // Names that would lead out of the database directory or drive the
      // terminal are refused before anything is asked.
      {"specific .. S", 2, "ovra-check: context \"..\" is refused: the name holds \"..\""},
      {"info CAF\xc3\x89 ../../x", 2, "server \"../../x\" is refused: the name holds a \"/\""},
      {"info CAF\xc3\x89 S\xe2\x82\xac", 2,
       "\"S\xe2\x82\xac\" is refused: column 2: U+20AC has no Latin-1 character"},
      {"standard CAF\xc3\x89 \"$(printf 'V\\033[2J')\" D", 2,
       "server \"V\\x1B[2J\" is refused: the name holds a control"},
      // The environment names the facility and the database; the options beat it.
      {"list", 2, "/nonexistent.json: cannot be opened", "OVRA_FACILITY=/nonexistent.json"},
      {facility + "list", 0, "CAF\xc3\x89", "OVRA_FACILITY=/nonexistent.json"},
      {"config 0", 2, "no database directory /nonexistent/ ($OVRA_DATABASE)\n",
       "OVRA_DATABASE=/nonexistent"},
      {"--database /nonexistent config 0", 2, "ovra-check: no database directory /nonexistent\n"},
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
       "ovra-check: cannot write the JUnit file /dev/full: No space left on device"},
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
    // Not a terminal: no colours, and no control character of a name or a value.
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
  dir.write(
      "contexts.json", R"({"contexts": [)" + [] {
        string c;
        for (int i = 0; i < 202; ++i)
          c += (i ? "," : "") + string(R"({"name": "C)") + std::to_string(i) + "\"}";
        return c;
      }() + "]}");
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

// A UTF-8 test file means what its Latin-1 twin means: names, data and text
// references reach the control system in its Latin-1; a character Latin-1
// has not refuses the file, naming where it is.
TEST_F(OvraCheck, AUtf8TestFileIsSentInTheControlSystemsLatin1) {
  dir.write("t.json", R"({"contexts": [{"name": "C", "servers": [{"name": "S", "devices": [
    {"name": "D", "properties": [{"name": "TEMP\u00c9RATURE", "format": "TEXT", "count": 16,
     "value": "Temp\u00e9rature", "writable": true}]}]}]}]})");
  const string head =
      "Description,Property,Device,InputSize,InputFormat,Data,OutputSize,"
      "OutputFormat,Reference,Access\r\n";
  const std::tuple<string, int, string> cases[] = {
      {"Write,TEMP\xc3\x89RATURE,D,7,TEXT,Ch\xc3\xa2teau,0,,,WRITE\r\n"
       "Read,TEMP\xc3\x89RATURE,D,0,,,16,TEXT,Ch\xc3\xa2teau,READ\r\n",
       0, "2 succeeded, 0 failed"},
      {"Read,TEMP\xc3\x89RATURE,D,0,,,16,TEXT,Temp\xc3\xa9rature \xe2\x82\xac,READ\r\n", 1,
       "C-S.csv : nothing to load or reading failed: line 2, column 44: U+20AC has no Latin-1"}};
  for (const auto& [rows, code, said] : cases) {
    dir.write("C-S.csv", head + rows);
    const Result r =
        Run("--facility '" + dir.file("t.json") + "' --database '" + dir.path() + "' specific C S");
    EXPECT_EQ(r.code, code) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(said), string::npos) << r.out << r.err;
  }
}

// Each kind of fault has its JUnit type: a reference not met and input that
// does not parse are failures, a failed access an error.
TEST_F(OvraCheck, JunitTypesEachFaultByItsKind) {
  dir.write("CAF\xc9-S.csv",
            "Description,Property,Device,InputSize,InputFormat,Data,OutputSize,OutputFormat,"
            "Reference,Access\r\nRef,NUM,D,0,,,1,DOUBLE,5,READ\r\n"
            "Parse,NUM,D,2,SHORT,1,1,DOUBLE,,READ\r\nDead,DEAD,D,0,,,1,SHORT,,READ\r\n");
  const string junit = dir.file("results.xml");
  EXPECT_EQ(Run("--junit '" + junit + "' specific CAF\xc3\x89 S").code, 1);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(junit.c_str()));
  const std::pair<const char*, const char*> faults[] = {
      {"Ref", "failure reference"}, {"Parse", "failure parse"}, {"Dead", "error access"}};
  for (const auto& [name, fault] : faults) {
    const pugi::xml_node c =
        doc.select_node(("//testcase[@name='" + string(name) + "']").c_str()).node();
    const pugi::xml_node f = c.first_child();
    EXPECT_EQ(string(f.name()) + " " + f.attribute("type").value(), fault) << name;
  }
}

// The structure of Jenkins' junit-10.xsd and of the Ant JUnit schema: the
// Ant one allows no attribute on <testsuites>, demands properties,
// system-out and system-err around the test cases and the attributes below;
// both want time, name and classname on each case and a type on each fault.
// The Ant schema has no notion of a skipped test: the `skipped` attribute and
// element are the one construct only Jenkins' schema (and GitLab) know.
std::map<string, int> ExpectJunitSchemas(const string& path, bool antOnly = false) {
  std::map<string, int> totals;
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_file(path.c_str())) << ReadFileBytes(path);
  const pugi::xml_node root = doc.document_element();
  EXPECT_STREQ(root.name(), "testsuites");
  EXPECT_FALSE(root.first_attribute());
  const std::regex decimal(R"(\d+(\.\d+)?)");
  std::set<string> suiteAttributes = {"name", "tests",     "failures", "errors", "skipped",
                                      "time", "timestamp", "hostname", "id",     "package"};
  if (antOnly) suiteAttributes.erase("skipped");
  // Each count on a suite, and the test cases or their children it counts.
  const std::pair<const char*, const char*> counts[] = {{"tests", "testcase"},
                                                        {"failures", "testcase/failure"},
                                                        {"errors", "testcase/error"},
                                                        {"skipped", "testcase/skipped"}};
  for (const pugi::xml_node suite : root.children()) {
    EXPECT_STREQ(suite.name(), "testsuite");
    std::set<string> attributes;
    for (const pugi::xml_attribute a : suite.attributes()) attributes.insert(a.name());
    EXPECT_EQ(attributes, suiteAttributes);
    string order;
    for (const pugi::xml_node child : suite.children()) order += child.name() + string(",");
    EXPECT_TRUE(
        std::regex_match(order, std::regex("properties,(testcase,)*system-out,system-err,")))
        << order;
    for (const char* a : {"name", "hostname"}) EXPECT_STRNE(suite.attribute(a).value(), "") << a;
    EXPECT_TRUE(std::regex_match(suite.attribute("timestamp").value(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)")));
    EXPECT_TRUE(std::regex_match(suite.attribute("time").value(), decimal));
    for (const pugi::xpath_node c : suite.select_nodes("testcase")) {
      for (const char* a : {"name", "classname"}) EXPECT_FALSE(c.node().attribute(a).empty()) << a;
      EXPECT_TRUE(std::regex_match(c.node().attribute("time").value(), decimal));
      EXPECT_LE(std::distance(c.node().begin(), c.node().end()), 1);
    }
    for (const pugi::xpath_node f : suite.select_nodes("testcase/*")) {
      const string kind = f.node().name();
      EXPECT_TRUE(kind == "failure" || kind == "error" || (kind == "skipped" && !antOnly)) << kind;
      if (kind == "skipped") continue;
      EXPECT_FALSE(f.node().attribute("type").empty() || f.node().attribute("message").empty());
      EXPECT_NE(string(f.node().child_value()).find("result: "), string::npos);
    }
    for (const auto& [a, xpath] : counts) {
      const int n = static_cast<int>(suite.select_nodes(xpath).size());
      EXPECT_EQ(suite.attribute(a).as_int(), n) << a;
      totals[a] += n;
    }
  }
  return totals;
}

TEST_F(OvraCheck, JsonLinesAndJunitFilesOfAConfiguration) {
  const string junit = dir.file("results.xml");
  const Result r = Run("--json --junit '" + junit + "' --max-link-failures 2 config Both");

  // Quote, ESC and a Latin-1 letter: escaped or encoded as JSON wants, and
  // harmless on the terminal.
  const std::pair<string, string> fields[] = {
      {"Number", R"({"outcome": "failed", "compared": true, "value": 4.2, "expected": 5.0})"},
      {"List", R"({"value": [1, 2, 3, 4, 5, 6, 7, 8], "count": 10})"},
      {"Text", R"({"value": "say \"hi\" \u001b[2J caf\u00e9"})"},
      {"Caf\xc3\xa9 number", R"({"context": "CAF\u00c9"})"},
      {"Dead 2", R"({"outcome": "error"})"},
      {"After \"it\"", R"({"outcome": "skipped", "result": "Not run : server not answering"})"},
      {"preparation", R"({"type": "preparation", "server": "DOWN"})"},
      // The server not prepared is one test in error, as in JUnit.
      {"", R"({"type": "summary", "tests": 9, "passed": 3, "failed": 1, "errors": 3,
               "skipped": 2, "not_prepared": 1, "exit_code": 1, "interrupted": false})"}};
  for (const auto& [description, text] : fields) {
    const json expected = json::parse(text);
    json line;  // the first of its type and description
    for (const json& j : r.lines)
      if (line.is_null() && j.value("type", "") == expected.value("type", "command") &&
          j.value("description", "") == description)
        line = j;
    for (const auto& [key, value] : expected.items())
      EXPECT_EQ(line[key], value) << description << " " << key;
  }
  for (const char* line : {"[1/8] Number : Target not met !  expected 5 got 4.2  (",
                           "Text : Success  = \"say \"hi\" ?[2J caf\xc3\xa9\"",
                           "[4/8] Caf\xc3\xa9 number : Success (Target met)  = 4.2  ("})
    EXPECT_NE(r.err.find(line), string::npos) << line << "\n" << r.err;

  // The unprepared server is one error of its own suite.
  EXPECT_EQ(ExpectJunitSchemas(junit),
            (std::map<string, int>{{"tests", 9}, {"failures", 1}, {"errors", 3}, {"skipped", 2}}));
  // Latin-1 from the file and the control system arrives as UTF-8.
  const string xml = ReadFileBytes(junit);
  for (const char* part : {"expected: 5\nactual: 4.2\n", "<testsuite name=\"/CAF\xc3\x89/DOWN\"",
                           "name=\"Caf\xc3\xa9 number\" classname=\"CAF\xc3\x89.S\""})
    EXPECT_NE(xml.find(part), string::npos) << part;

  // The Ant flavour: the same file without the construct only Jenkins'
  // schema knows (how it counts the skipped commands is the writer's test).
  EXPECT_EQ(Run("--junit-ant --junit '" + junit + "' --max-link-failures 2 config Both").code, 1);
  EXPECT_EQ(ExpectJunitSchemas(junit, true),
            (std::map<string, int>{{"tests", 7}, {"failures", 1}, {"errors", 3}, {"skipped", 0}}));
}

// Colours only on a terminal (a pseudo-terminal here), never with NO_COLOR
// or TERM=dumb.
TEST_F(OvraCheck, ColoursOnlyOnATerminalThatWantsThem) {
  const std::pair<string, bool> cases[] = {
      {"TERM=xterm", true}, {"TERM=xterm NO_COLOR=1", false}, {"TERM=dumb", false}};
  for (const auto& [env, colour] : cases) {
    const string command = "env " + env + " script -qec \"" + Command("specific CAF\xc3\x89 S") +
                           "\" /dev/null >'" + dir.file("tty") + "' 2>&1";
    std::system(command.c_str());
    EXPECT_EQ(dir.read("tty").find("\x1b[3") != string::npos, colour) << env;
  }
}

// SIGTERM or SIGINT in the middle of a slow run: the run ends after the current
// command, the report says so, JUnit and summary are written and marked.
TEST_F(OvraCheck, SignalEndsTheRunWithItsOutputs) {
  // Polls for a value that never comes: each command waits its 1 s time-out
  // (and a second signal-free second at most) unless the signal ends it.
  string many = "Description,Property,Device,OutputSize,OutputFormat,Reference,Access\r\n";
  for (int i = 0; i < 100; ++i)
    many += "N" + std::to_string(i) + ",NUM,D,1,DOUBLE,7,POLL[timeout=1000]\r\n";
  dir.write("CAF\xc9-S.csv", many);
  const string junit = dir.file("results.xml");

  std::set<int> codes;
  const std::tuple<string, int> signals[] = {{"TERM", 143}, {"INT", 130}, {"HUP", 129}};
  for (const auto& [sig, code] : signals) {
    codes.insert(code);
    // The signal's status wins over a JUnit file the disk then refuses.
    const bool full = sig == "HUP";
    const Result r =
        Run("--json --junit '" + (full ? "/dev/full" : junit) + "' specific CAF\xc3\x89 S", "", "",
            " & sleep 2.5; kill -" + sig + " $!; wait $!");
    EXPECT_EQ(r.code, code);
    ASSERT_FALSE(r.lines.empty());
    const string line = "Run interrupted (SIG" + sig + ")";
    EXPECT_EQ(r.lines.back()["interrupted_by"], line);
    EXPECT_EQ(r.lines.back()["interrupted"], true);
    const string report = ReadFileBytes(r.lines.back()["report"].get<string>());
    EXPECT_EQ(report.find(line + "\r\n"), report.rfind(line)) << report;  // once
    EXPECT_NE(report.find(line + "\r\n"), string::npos) << report;
    if (full) {
      EXPECT_NE(r.err.find("cannot write the JUnit file /dev/full"), string::npos) << r.err;
      continue;
    }
    // Every command is listed: those the signal left out as not run (interrupted).
    const auto totals = ExpectJunitSchemas(junit);
    EXPECT_EQ(totals.at("tests"), 100);
    EXPECT_TRUE(totals.at("skipped") > 0 && totals.at("skipped") < 100) << totals.at("skipped");
    EXPECT_NE(ReadFileBytes(junit).find("Not run : interrupted"), string::npos);
    EXPECT_EQ(r.lines.back()["skipped"], totals.at("skipped"));
    // This run's signal: the file of the run before does not pass for it.
    const string property = R"(<property name="interrupted" value=")" + line + "\"";
    EXPECT_NE(ReadFileBytes(junit).find(property), string::npos);
  }
  std::set<int> documented;
  for (const int c : DocumentedExitCodes())
    if (c >= 128) documented.insert(c);
  EXPECT_EQ(codes, documented);
}

// A run that hangs (here on a standard output nobody reads) is not ended by
// the first signal, which waits for the command; the second ends it at once,
// and the JUnit file, emptied before the run, holds nothing of an earlier one.
TEST_F(OvraCheck, ASecondSignalEndsAHungRunAtOnce) {
  dir.write("many.json", ManyProperties(3000));
  const string junit = dir.file("results.xml"), fifo = dir.file("fifo");
  dir.write("results.xml", "<testsuites>an earlier run</testsuites>");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // The reader holds the pipe open and reads nothing: the writer blocks.
  const string script = "sleep 30 <'" + fifo + "' & reader=$!; " +
                        Command("--json --junit '" + junit + "' --facility '" +
                                dir.file("many.json") + "' standard C S D") +
                        " >'" + fifo + "' 2>/dev/null & p=$!; sleep 1.5; kill -TERM $p; " +
                        "sleep 1; kill -0 $p && echo alive; kill -TERM $p; sleep 1; " +
                        "kill -0 $p 2>/dev/null || echo ended; kill $reader; wait $p; echo $?";
  FILE* out = popen(script.c_str(), "r");
  string said;
  char buf[256];
  for (size_t n; (n = fread(buf, 1, sizeof buf, out)) > 0;) said.append(buf, n);
  pclose(out);
  EXPECT_EQ(said, "alive\nended\n143\n");
  EXPECT_EQ(dir.read("results.xml"), "");
}

}  // namespace

namespace {

// The servers of a run's JSON lines, in order, each once.
std::vector<string> ServersOf(const Result& r) {
  std::vector<string> servers;
  for (const json& j : r.lines)
    if (j.contains("server") && (servers.empty() || servers.back() != j["server"].get<string>()))
      servers.push_back(j["server"]);
  return servers;
}

TEST_F(OvraCheck, SweepOfAContextIsOneReportWithOneOutcomePerSilentServer) {
  const Result r = Run("--json sweep CAF\xc3\x89");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(ServersOf(r), (std::vector<string>{"S", "DEAD", "DOWN"}));
  // DEAD answers nothing, not even its information: one preparation line,
  // no line per property.
  int deadLines = 0;
  for (const json& j : r.lines)
    if (j.value("server", "") == "DEAD") {
      ++deadLines;
      EXPECT_EQ(j["type"], "preparation");
      EXPECT_EQ(j["result"], "server not running (server not answering)");
    }
  EXPECT_EQ(deadLines, 1);
  EXPECT_NE(r.err.find("Site: 3 servers: "), string::npos) << r.err;
  EXPECT_NE(r.err.find("0 passed, 1 failed, 2 not running, 0 hung, 0 not prepared"), string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("\x1b["), string::npos);  // no progress line in a pipe

  // One report, the device named before its lines, the summary last.
  std::vector<string> reports;
  for (const auto& e : std::filesystem::directory_iterator(reportDir)) reports.push_back(e.path());
  ASSERT_EQ(reports.size(), 1u);
  const string report = ReadFileBytes(reports[0]);
  const size_t device = report.find("Device /CAF\xc9/S/D\r\n");
  EXPECT_NE(device, string::npos) << report;
  EXPECT_LT(device, report.find("NUM : Success"));
  EXPECT_NE(report.find(" : Sweep of /CAF\xc9/DEAD : server not running"), string::npos);
  EXPECT_NE(report.rfind(" : Site summary : 3 servers: "), string::npos);

  // A server by name; a pattern that names servers chooses them, else devices.
  EXPECT_EQ(ServersOf(Run("--json standard S")), (std::vector<string>{"S"}));
  EXPECT_EQ(ServersOf(Run("--json standard 'D*'")), (std::vector<string>{"DEAD", "DOWN"}));
  // (The silent servers list no devices to match.)
  EXPECT_EQ(ServersOf(Run("--json standard '[d]'")), (std::vector<string>{"S"}));
  const Result none = Run("sweep 'NOTHING*'");
  EXPECT_EQ(none.code, 2);
  EXPECT_NE(none.err.find("\"NOTHING*\" names or matches no context, server or device"),
            string::npos)
      << none.err;
}

// A server that stops answering during one device is one outcome: its other
// devices are not asked (each would cost the time-outs again).
TEST_F(OvraCheck, SweepGivesUpOnAServerThatStopsAnswering) {
  const string dead = R"({"name": "P1", "format": "SHORT", "value": 1, "code": 45},
                         {"name": "P2", "format": "SHORT", "value": 1, "code": 45},
                         {"name": "P3", "format": "SHORT", "value": 1, "code": 45})";
  dir.write("h.json", R"({"contexts": [{"name": "C", "servers": [{"name": "H", "info":
      {"SRVVERSION": "1"}, "devices": [{"name": "D1", "properties": [)" +
                          dead + R"(]}, {"name": "D2", "properties": [)" + dead + "]}]}]}]}");
  const Result r =
      Run("--json --facility '" + dir.file("h.json") + "' --database '" + dir.path() + "' sweep C");
  EXPECT_EQ(r.code, 1);
  for (const json& j : r.lines) EXPECT_NE(j.value("device", ""), "D2") << j;
  EXPECT_NE(r.err.find("Site: 1 servers: 0 passed, 0 failed, 0 not running, 1 hung, "),
            string::npos)
      << r.err;
}

// --shard: the shards of a sweep hold every server once between them.
TEST_F(OvraCheck, ShardsOfASweepHoldEveryServerOnce) {
  std::multiset<string> seen;
  for (const char* shard : {"1/3", "2/3", "3/3"})
    for (const string& s : ServersOf(Run(string("--json --shard ") + shard + " sweep")))
      seen.insert(s);
  EXPECT_EQ(seen, (std::multiset<string>{"S", "DEAD", "DOWN"}));
  EXPECT_EQ(Run("--shard 4/3 sweep").code, 2);
}

}  // namespace

namespace {

// What is left of an output when the times are taken out: elapsed times,
// dates, time stamps, the report's dated name.
string WithoutTimes(string text) {
  static const std::pair<std::regex, const char*> times[] = {
      {std::regex(R"((^|\n)\d{4}-\d\d-\d\d \d\d:\d\d:\d\d : )"), "$1"},
      {std::regex(R"(\d+ ms)"), "N ms"},
      // The slowest servers, in an order the times decide.
      {std::regex(R"((Slowest(?: servers)? ?: )[^\r\n]*)"), "$1..."},
      {std::regex(R"( in [0-9.]+ s)"), " in T s"},
      {std::regex(R"(\d{10}\.txt)"), "R.txt"},
      {std::regex(R"x("(elapsed_ms|timestamp)":("[^"]*"|\d+))x"), "\"$1\":0"},
      {std::regex(R"((time|timestamp)="[^"]*")"), "$1=\"\""}};
  for (const auto& [pattern, replacement] : times)
    text = std::regex_replace(text, pattern, replacement);
  return text;
}

// --jobs: servers side by side read as one after the other. The servers'
// answers are slow in different measure (the first slowest), so with
// several at once they end out of their order; a silent one and a failed
// command are among them.
TEST_F(OvraCheck, ServersSideBySideReadAsOneAfterTheOther) {
  string facility = R"({"contexts": [{"name": "SLOW", "servers": [)";
  const std::pair<const char*, int> servers[] = {{"A", 300}, {"B", 200}, {"C", 0},
                                                 {"X", -1},  {"D", 100}, {"E", 0}};
  string list = "Server\r\n";
  for (const auto& [name, delay] : servers) {
    list += string(name) + "\r\n";
    facility += string(name == string("A") ? "" : ",") + R"({"name": ")" + name + "\", " +
                (delay < 0 ? R"("code": 45, )" : "\"delayMs\": " + std::to_string(delay) + ", ") +
                R"("info": {"SRVVERSION": "1"}, "devices": [{"name": "D", "properties": [
                    {"name": "NUM", "format": "DOUBLE", "value": 4.2},
                    {"name": "BAD", "format": "SHORT", "value": 1, "code": 45}]}]})";
    dir.write(string("SLOW-") + name + ".csv",
              "Description,Property,Device,OutputSize,OutputFormat,Reference,Access\r\n"
              "Polled,NUM,D,1,DOUBLE,,POLL\r\nAgain,NUM,D,1,DOUBLE,4.2,POLL\r\n"
              "Bad,BAD,D,1,SHORT,,READ\r\n");
  }
  dir.write("slow.json", facility + "]}]}");
  dir.write("slow.csv", list);
  dir.write("procedures.csv", "Description,FileName,Context\r\nSlow,slow.csv,SLOW\r\n");
  const string junit = dir.file("j.xml");
  const string base = "--facility '" + dir.file("slow.json") + "' --database '" + dir.path() +
                      "' --json --junit '" + junit + "' ";

  for (const char* run : {"config Slow", "sweep SLOW", "specific SLOW"}) {
    struct Outputs {
      int code;
      string json, terminal, junit, report;
    };
    auto outputs = [&](const char* jobs) {
      EmptyReports();
      const Result r = Run(base + "--jobs " + jobs + " " + run);
      std::vector<string> reports;
      for (const auto& e : std::filesystem::directory_iterator(reportDir))
        reports.push_back(e.path());
      EXPECT_EQ(reports.size(), 1u) << run;
      return Outputs{r.code, WithoutTimes(r.out), WithoutTimes(r.err),
                     WithoutTimes(ReadFileBytes(junit)),
                     reports.empty() ? "" : WithoutTimes(ReadFileBytes(reports[0]))};
    };
    const Outputs one = outputs("1"), many = outputs("4");
    EXPECT_EQ(one.code, 1) << run;
    EXPECT_EQ(many.code, one.code) << run;
    EXPECT_EQ(many.json, one.json) << run;
    EXPECT_EQ(many.terminal, one.terminal) << run;
    EXPECT_EQ(many.junit, one.junit) << run;
    EXPECT_EQ(many.report, one.report) << run;
    // Each server's lines together, in the servers' order.
    size_t at = 0;
    for (const auto& [name, delay] : servers) {
      const size_t next = one.report.find("/SLOW/" + string(name), at);
      EXPECT_NE(next, string::npos) << run << " " << name << "\n" << one.report;
      at = next == string::npos ? at : next;
    }
  }
}

}  // namespace
