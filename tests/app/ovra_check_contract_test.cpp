// ovra-check's machine-readable contract, end to end through the process:
// every JSON line parses, the JUnit file has the structure the common JUnit
// schemas demand, and exit codes, counts and encodings are what a CI job
// reads.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Fakes.h"

namespace {

using nlohmann::json;
using std::string;

// The context is "CAFÉ" (Latin-1 in the control system, typed in UTF-8);
// texts hold a quote, an ESC and a Latin-1 letter. DOWN answers nothing and
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
    "After,NUM,D,1,DOUBLE,,READ\r\n";

struct Result {
  int code = -1;
  string out, err;
  std::vector<json> lines;  // stdout parsed line by line
};

class Contract : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.write("f.json", kFacility);
    dir.write("CAF\xc9-S.csv", kTestFile);
    dir.write(
        "procedures.csv",
        "Description,FileName,Context\r\nBoth,list.csv,CAF\xc9\r\nThree,list3.csv,CAF\xc9\r\n");
    dir.write("list3.csv", "Server\r\nS\r\nDEAD\r\nS\r\n");
    dir.write("CAF\xc9-DEAD.csv",
              "Property,Device,OutputSize,OutputFormat\r\nP,D,1,SHORT\r\nP,D,1,SHORT\r\n"
              "P,D,1,SHORT\r\nP,D,1,SHORT\r\n");
    dir.write("list.csv", "Server\r\nS\r\nDOWN\r\n");
    dir.write("CAF\xc9-T.csv", "Description,Property,Device,Refernce\r\nx,NUM,D,1\r\n");
    ::mkdir(dir.file("reports").c_str(), 0700);
  }
  string Command(const string& args) const {
    return string(OVRA_CHECK_EXE) + " --facility '" + dir.file("f.json") + "' --database '" +
           dir.path() + "' --report-dir '" + dir.file("reports") + "' " + args;
  }
  Result Run(const string& args) const {
    const string command =
        Command(args) + " >'" + dir.file("out") + "' 2>'" + dir.file("err") + "'";
    const int status = std::system(command.c_str());
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = dir.read("out");
    r.err = dir.read("err");
    std::istringstream in(r.out);
    for (string line; args.find("--json") != string::npos && std::getline(in, line);) {
      // Throws, failing the test, on a line that is not one JSON value.
      r.lines.push_back(json::parse(line));
    }
    return r;
  }
  static const json* Find(const Result& r, const string& type, const string& description) {
    for (const json& j : r.lines)
      if (j.value("type", "") == type && j.value("description", "") == description) return &j;
    return nullptr;
  }
  dsc::testing::TempDir dir;
};

// The structure of Jenkins' junit-10.xsd and of the Ant JUnit schema: the
// Ant one allows no attribute on <testsuites>, demands properties,
// system-out and system-err around the test cases and the attributes below;
// both want time, name and classname on each case and a type on each fault.
// The Ant schema has no notion of a skipped test: the `skipped` attribute and
// element are the one construct only Jenkins' schema (and GitLab) know.
void ExpectJunitSchemas(const pugi::xml_document& doc, std::map<string, int>& totals,
                        bool antOnly = false) {
  const pugi::xml_node root = doc.document_element();
  ASSERT_STREQ(root.name(), "testsuites");
  EXPECT_TRUE(root.attributes().begin() == root.attributes().end());
  const std::regex timestamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)");
  const std::regex decimal(R"(\d+(\.\d+)?)");
  std::set<string> suiteAttributes = {"name", "tests",     "failures", "errors", "skipped",
                                      "time", "timestamp", "hostname", "id",     "package"};
  if (antOnly) suiteAttributes.erase("skipped");
  for (const pugi::xml_node suite : root.children()) {
    ASSERT_STREQ(suite.name(), "testsuite");
    for (const pugi::xml_attribute a : suite.attributes())
      EXPECT_TRUE(suiteAttributes.count(a.name())) << a.name();
    for (const string& a : suiteAttributes) EXPECT_FALSE(suite.attribute(a.c_str()).empty()) << a;
    EXPECT_NE(string(suite.attribute("name").value()), "");
    EXPECT_NE(string(suite.attribute("hostname").value()), "");
    EXPECT_TRUE(std::regex_match(suite.attribute("timestamp").value(), timestamp));
    EXPECT_TRUE(std::regex_match(suite.attribute("time").value(), decimal));
    std::vector<string> order;
    std::map<string, int> counted;
    for (const pugi::xml_node child : suite.children()) {
      order.push_back(child.name());
      if (string(child.name()) != "testcase") continue;
      ++counted["tests"];
      for (const char* a : {"name", "classname", "time"})
        EXPECT_FALSE(child.attribute(a).empty()) << a;
      EXPECT_TRUE(std::regex_match(child.attribute("time").value(), decimal));
      int faults = 0;
      for (const pugi::xml_node f : child.children()) {
        ++faults;
        const string kind = f.name();
        ASSERT_TRUE(kind == "failure" || kind == "error" || (kind == "skipped" && !antOnly))
            << kind;
        if (kind == "skipped") {
          ++counted["skipped"];
          continue;
        }
        ++counted[kind == "failure" ? "failures" : "errors"];
        EXPECT_FALSE(f.attribute("type").empty());
        EXPECT_FALSE(f.attribute("message").empty());
        EXPECT_NE(string(f.child_value()).find("result: "), string::npos);
      }
      EXPECT_LE(faults, 1);
    }
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(order.front(), "properties");
    EXPECT_EQ(order[order.size() - 2], "system-out");
    EXPECT_EQ(order.back(), "system-err");
    for (size_t i = 1; i + 2 < order.size(); ++i) EXPECT_EQ(order[i], "testcase");
    for (const char* a : {"tests", "failures", "errors", "skipped"}) {
      if (!antOnly || string(a) != "skipped") {
        EXPECT_EQ(suite.attribute(a).as_int(), counted[a]) << a;
      }
      totals[a] += counted[a];
    }
  }
}

TEST_F(Contract, JsonLinesAndJunitOfAConfiguration) {
  const string junit = dir.file("results.xml");
  dir.write("results.xml", "<stale/>");
  const Result r = Run("--json --junit '" + junit + "' --max-link-failures 2 config Both");
  EXPECT_EQ(r.code, 1) << r.err;

  const json* number = Find(r, "command", "Number");
  ASSERT_TRUE(number);
  EXPECT_EQ((*number)["outcome"], "failed");
  EXPECT_EQ((*number)["compared"], true);
  EXPECT_EQ((*number)["value"], 4.2);
  EXPECT_EQ((*number)["expected"], 5.0);
  EXPECT_NE(r.err.find("Number : Target not met !  expected 5 got 4.2"), string::npos) << r.err;

  const json* list = Find(r, "command", "List");
  ASSERT_TRUE(list);
  EXPECT_EQ((*list)["value"], json({1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ((*list)["count"], 10);

  // Quote, ESC and a Latin-1 letter: each escaped or encoded as JSON wants.
  const json* text = Find(r, "command", "Text");
  ASSERT_TRUE(text);
  EXPECT_EQ((*text)["value"], "say \"hi\" \x1b[2J caf\xc3\xa9");
  EXPECT_NE(r.out.find("\\u001b[2J"), string::npos);
  ASSERT_TRUE(Find(r, "command", "Caf\xc3\xa9 number"));
  EXPECT_EQ((*Find(r, "command", "Caf\xc3\xa9 number"))["context"], "CAF\xc3\x89");

  EXPECT_EQ((*Find(r, "command", "Dead 2"))["outcome"], "error");
  for (const char* rest : {"Dead 3", "After"}) {
    ASSERT_TRUE(Find(r, "command", rest)) << rest;
    EXPECT_EQ((*Find(r, "command", rest))["outcome"], "skipped") << rest;
    EXPECT_EQ((*Find(r, "command", rest))["result"], "Not run : server not answering");
  }
  ASSERT_TRUE(Find(r, "preparation", "preparation"));
  EXPECT_EQ((*Find(r, "preparation", "preparation"))["server"], "DOWN");

  const json& summary = r.lines.back();
  EXPECT_EQ(summary["type"], "summary");
  const json expected = {{"tests", 8},     {"passed", 3},         {"failed", 1},
                         {"errors", 2},    {"skipped", 2},        {"not_prepared", 1},
                         {"exit_code", 1}, {"interrupted", false}};
  for (const auto& [key, value] : expected.items()) EXPECT_EQ(summary[key], value) << key;

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(junit.c_str())) << dsc::testing::ReadFileBytes(junit);
  std::map<string, int> totals;
  ExpectJunitSchemas(doc, totals);
  // The unprepared server is one error of its own suite.
  EXPECT_EQ(totals,
            (std::map<string, int>{{"tests", 9}, {"failures", 1}, {"errors", 3}, {"skipped", 2}}));
  const pugi::xml_node failure = doc.select_node("//testcase[@name='Number']/failure").node();
  EXPECT_NE(string(failure.child_value()).find("expected: 5\nactual: 4.2\n"), string::npos);
  EXPECT_TRUE(doc.select_node("//testsuite[@name='/CAF\xc3\x89/DOWN']/testcase/error"));
  // Latin-1 from the file and the control system arrives as UTF-8.
  EXPECT_TRUE(
      doc.select_node("//testcase[@name='Caf\xc3\xa9 number'][@classname='CAF\xc3\x89.S']"));
}

// The Ant flavour: the same file without the construct only Jenkins' schema
// knows; the skipped commands are counted in a property.
TEST_F(Contract, JunitForTheAntSchema) {
  const string junit = dir.file("ant.xml");
  const Result r = Run("--junit-ant --junit '" + junit + "' --max-link-failures 2 config Both");
  EXPECT_EQ(r.code, 1);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(junit.c_str()));
  std::map<string, int> totals;
  ExpectJunitSchemas(doc, totals, true);
  EXPECT_EQ(totals,
            (std::map<string, int>{{"tests", 7}, {"failures", 1}, {"errors", 3}, {"skipped", 0}}));
  EXPECT_STREQ(doc.select_node("//property[@name='skipped']").node().attribute("value").value(),
               "2");
}

TEST_F(Contract, ExitCodesAndCounts) {
  struct Case {
    string args;
    int code;
    string inOutput;  // stdout + stderr
  };
  // The JUnit path is checked before anything runs: no report is written.
  const Result junit = Run("--junit /nonexistent/dir/r.xml specific CAF\xc3\x89 S");
  EXPECT_EQ(junit.code, 2);
  EXPECT_NE(junit.err.find("cannot write the JUnit file /nonexistent/dir/r.xml"), string::npos);
  EXPECT_EQ(std::system(("test -z \"$(ls -A '" + dir.file("reports") + "')\"").c_str()), 0);

  const Case cases[] = {
      {"config 2", 2, "no configuration \"2\""},  // index = number of configurations
      {"config 0", 1, "Configuration: Both"},
      {"info CAF\xc3\x89 S", 0, "srv vers: 1.0"},
      {"info CAF\xc3\x89 DOWN", 1, "server not answering (code 45)"},
      {"--retries 0 --only 'dead 1' specific CAF\xc3\x89 S", 1, "0 succeeded, 1 failed, 7 not run"},
      {"--retries 2 --only 'dead 1' specific CAF\xc3\x89 S", 1, "(retry 2 of 2)"},
      {"--skip 'dead*' --skip NUM specific CAF\xc3\x89 S", 0, "2 succeeded, 0 failed, 6 not run"},
      {"--max-link-failures 0 --skip 'number' specific CAF\xc3\x89 S", 1,
       "4 succeeded, 3 failed, 1 not run"},
      {"standard CAF\xc3\x89 S NOPE", 1, "NOPE: unknown device (code 62)"},
      {"--strict specific CAF\xc3\x89 T", 2, "did you mean \"Reference\"? [unknown-column]"},
      {"lint CAF\xc3\x89 T", 1, "CAF\xc3\x89-T.csv:1: unknown column \"Refernce\""},
      {"lint /nonexistent.csv", 2, "cannot read /nonexistent.csv"},
      {"stnadard CAF\xc3\x89 S D", 2, "Did you mean the subcommand \"standard\"?"},
      {"--jsn list", 2, "Did you mean \"--json\""},
  };
  for (const Case& c : cases) {
    const Result r = Run(c.args);
    EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.inOutput), string::npos) << c.args << "\n" << r.out << r.err;
    if (c.args.find("--retries 0") != string::npos) {
      EXPECT_EQ((r.out + r.err).find("(retry"), string::npos) << r.out;
    }
  }
}

// A server that stopped answering costs K failed accesses; the
// configuration goes on with the server after it.
TEST_F(Contract, ConfigurationGoesOnAfterADeadServer) {
  const Result r = Run("--json --max-link-failures 1 config Three");
  EXPECT_EQ(r.code, 1);
  std::map<string, std::map<string, int>> outcomes;  // server -> outcome -> count
  for (const json& j : r.lines)
    if (j["type"] == "command") ++outcomes[j["server"]][j["outcome"]];
  EXPECT_EQ(outcomes["DEAD"], (std::map<string, int>{{"error", 1}, {"skipped", 3}}));
  // Both runs of S: per run 3 passed, 1 failed, 1 error and 3 not run.
  EXPECT_EQ(outcomes["S"],
            (std::map<string, int>{{"passed", 6}, {"failed", 2}, {"error", 2}, {"skipped", 6}}));
  EXPECT_EQ(r.lines.back()["skipped"], 9);
}

// Colours only on a terminal (a pseudo-terminal here), never with NO_COLOR
// or TERM=dumb.
TEST_F(Contract, ColoursOnlyOnATerminalThatWantsThem) {
  if (std::system("script -qec true /dev/null >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "script(1) is not available";
  const struct {
    string env;
    bool colour;
  } cases[] = {{"TERM=xterm", true}, {"TERM=xterm NO_COLOR=1", false}, {"TERM=dumb", false}};
  for (const auto& c : cases) {
    const string command = "env " + c.env + " script -qec \"" + Command("specific CAF\xc3\x89 S") +
                           "\" /dev/null >'" + dir.file("tty") + "' 2>&1";
    std::system(command.c_str());
    EXPECT_EQ(dir.read("tty").find("\x1b[3") != string::npos, c.colour) << c.env;
  }
}

TEST_F(Contract, ListAndInfoAsJson) {
  Result r = Run("--json list CAF\xc3\x89 S D");
  ASSERT_EQ(r.lines.size(), 1u) << r.out;
  EXPECT_EQ(r.lines[0]["items"][0], json({{"name", "NUM"}, {"size", 1}, {"format", "DOUBLE"}}));
  r = Run("--json list");
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0]["items"], json({"CAF\xc3\x89"}));
  r = Run("--json info CAF\xc3\x89 DOWN");
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0]["answered"], false);
  EXPECT_EQ(r.code, 1);
}

// SIGTERM in the middle of a slow run: the run ends after the current
// command, the report says so, JUnit and summary are written and marked.
TEST_F(Contract, SignalEndsTheRunWithItsOutputs) {
  // Polls for a value that never comes: each command waits its 1 s time-out
  // (and a second signal-free second at most) unless the signal ends it.
  string many = "Description,Property,Device,OutputSize,OutputFormat,Reference,Access\r\n";
  for (int i = 0; i < 100; ++i)
    many += "N" + std::to_string(i) + ",NUM,D,1,DOUBLE,7,POLL[timeout=1000]\r\n";
  dir.write("CAF\xc9-S.csv", many);
  const string junit = dir.file("results.xml");
  dir.write("results.xml", "<stale/>");

  for (const auto& [sig, code] : {std::pair{SIGTERM, 143}, std::pair{SIGINT, 130}}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const int out = ::open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, 1);
      ::dup2(out, 2);
      const string cmd = "exec " + Command("--json --junit '" + junit + "' specific CAF\xc3\x89 S");
      ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    ::kill(pid, sig);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), code);
    const string out = dir.read("out");
    const string name = sig == SIGTERM ? "SIGTERM" : "SIGINT";
    EXPECT_NE(out.find("\"interrupted\":true,\"interrupted_by\":\"Run interrupted (" + name),
              string::npos)
        << out;
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(junit.c_str()));
    std::map<string, int> totals;
    ExpectJunitSchemas(doc, totals);
    EXPECT_GT(totals["tests"], 0);
    EXPECT_LT(totals["tests"], 100);
    EXPECT_TRUE(doc.select_node("//property[@name='interrupted']"));
    const string report = dsc::testing::ReadFileBytes(
        out.substr(out.find("\"report\":\"") + 10,
                   out.find('"', out.find("\"report\":\"") + 10) - out.find("\"report\":\"") - 10));
    EXPECT_NE(report.find("Run interrupted (" + name + ")\r\n"), string::npos) << report;
  }
}

}  // namespace
