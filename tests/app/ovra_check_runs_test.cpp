// ovra-check's runs end to end: the JUnit file has the structure the common
// JUnit schemas demand, JSON and terminal lines of a configuration, colours,
// signals once and twice, sweeps, shards and servers side by side.

#include <sys/stat.h>

#include <pugixml.hpp>

#include "tests/app/OvraCheck.h"

namespace ovra_check_test {
namespace {

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
      {"",
       R"({"type": "summary", "tests": 9, "passed": 3, "failed": 1, "errors": 3,
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
  string many =
      "Description,Property,Device,OutputSize,OutputFormat,Reference,"
      "Access\r\n";
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
    // Every command is listed: those the signal left out as not run
    // (interrupted).
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
  EXPECT_EQ(Output(script), "alive\nended\n143\n");
  EXPECT_EQ(dir.read("results.xml"), "");
}

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
  const std::vector<string> reports = Reports();
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
  const string dead =
      R"({"name": "P1", "format": "SHORT", "value": 1, "code": 45},
                         {"name": "P2", "format": "SHORT", "value": 1, "code": 45},
                         {"name": "P3", "format": "SHORT", "value": 1, "code": 45})";
  dir.write("h.json",
            R"({"contexts": [{"name": "C", "servers": [{"name": "H", "info":
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
              "Description,Property,Device,OutputSize,OutputFormat,Reference,"
              "Access\r\n"
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
      const std::vector<string> reports = Reports();
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
}  // namespace ovra_check_test
