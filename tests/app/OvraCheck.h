// The fixture of ovra-check's end-to-end tests: a facility and a database
// in a temporary directory, the program run through a pipe as in a CI job,
// and docs/ci.md's tables, parsed so the program and the document cannot
// drift apart.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Fakes.h"

namespace ovra_check_test {

using dsc::testing::ReadFileBytes;
using nlohmann::json;
using std::string;

// The context is "CAFÉ" (Latin-1 in the control system, typed in UTF-8);
// texts hold quotes, an ESC and a Latin-1 letter. DOWN answers nothing and
// its test cannot be prepared; the DEAD property of S refuses every access.
inline constexpr const char* kFacility =
    R"({"contexts": [{"name": "CAF\u00c9", "servers": [
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

inline constexpr const char* kTestFile =
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
inline constexpr const char* kSite =
    R"({"site": "Lab", "tango": {"contexts": [{"name": "LAB",
  "host": "127.0.0.1", "port": 1, "servers": [{"name": "TG", "devices": [{"name": "TG-1",
  "device": "sys/tg_test/1"}, {"name": "TG-2", "device": "sys/tg_test/2"}]}]}]}})";

// A facility with one device of `properties` SHORT properties: C/S/D.
inline string ManyProperties(int properties) {
  string p = R"({"contexts": [{"name": "C", "servers": [{"name": "S", "devices": [{"name": "D", )"
             R"("properties": [)";
  for (int i = 0; i < properties; ++i)
    p += string(i ? "," : "") + R"({"name": "P)" + std::to_string(i) +
         R"(", "format": "SHORT", "value": 1})";
  return p + "]}]}]}]}";
}

// A facility of `count` contexts without servers: C0, C1, ...
inline string ManyContexts(int count) {
  string c = R"({"contexts": [)";
  for (int i = 0; i < count; ++i)
    c += (i ? "," : "") + string(R"({"name": "C)") + std::to_string(i) + "\"}";
  return c + "]}";
}

// What a shell command writes to its standard output, and its exit status.
inline string Output(const string& command, int* status = nullptr) {
  FILE* out = popen(command.c_str(), "r");
  string said;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, out)) > 0;) said.append(buf, n);
  const int s = pclose(out);
  if (status) *status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  return said;
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
              "Description,FileName,Context\r\nBoth,list.csv,"
              "CAF\xc9\r\nThree,list3.csv,CAF\xc9\r\n"
              "Last,listT.csv,CAF\xc9\r\n");
    dir.write("listT.csv", "Server\r\nS\r\nT\r\n");
    dir.write("list3.csv", "Server\r\nS\r\nDEAD\r\nS\r\n");
    dir.write("CAF\xc9-DEAD.csv",
              "Property,Device,OutputSize,OutputFormat\r\nP,D,1,SHORT\r\nP,D,1,"
              "SHORT\r\n"
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
    return "env -u OVRA_DATABASE -u OVRA_FACILITY -u OVRA_PLUGIN_DIR "
           "XDG_CONFIG_HOME='" +
           dir.path() + "' " + env + " " + OVRA_CHECK_EXE + " --report-dir '" + reportDir + "' " +
           (own ? "--facility '" + dir.file("f.json") + "' --database '" + dir.path() + "' " : "") +
           args;
  }
  // Standard output through a pipe, as in a CI job; the shell runs `before`
  // (limits) and `after` (what goes on meanwhile) around the program.
  Result Run(const string& args, const string& env = "", const string& before = "",
             const string& after = "") const {
    Result r;
    r.out = Output(before + Command(args, env) + " 2>'" + dir.file("err") + "'" + after, &r.code);
    r.err = dir.read("err");
    std::istringstream in(r.out);
    // Throws, failing the test, on a line that is not one JSON value.
    for (string line; args.find("--json") != string::npos && std::getline(in, line);)
      r.lines.push_back(json::parse(line));
    return r;
  }
  // The report files written so far.
  std::vector<string> Reports() const {
    std::vector<string> reports;
    for (const auto& e : std::filesystem::directory_iterator(reportDir))
      reports.push_back(e.path());
    return reports;
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
inline string CiDoc() {
  const char* root = std::getenv("OVRA_SOURCE_DIR");
  return root ? ReadFileBytes(string(root) + "/docs/ci.md") : "";
}

// The rows "| a | b |" of the table below heading, their cells trimmed.
inline std::vector<std::vector<string>> DocTable(const string& heading) {
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
    std::istringstream cellsIn(line.substr(1));
    for (string cell; std::getline(cellsIn, cell, '|');)
      cells.push_back(std::regex_replace(cell, std::regex("^ +| +$"), ""));
    rows.push_back(cells);
  }
  if (rows.empty()) {
    ADD_FAILURE() << "no table under \"" << heading
                  << "\" in docs/ci.md (is OVRA_SOURCE_DIR set, as ctest sets it?)";
    return rows;
  }
  rows.erase(rows.begin());  // the header
  return rows;
}

inline std::set<int> DocumentedExitCodes() {
  std::set<int> codes;
  const std::regex number(R"(\d+)");
  for (const auto& row : DocTable("## Exit codes"))
    for (std::sregex_iterator it(row[0].begin(), row[0].end(), number), end; it != end; ++it)
      codes.insert(std::stoi(it->str()));
  EXPECT_EQ(codes.size(), 8u) << "docs/ci.md's exit codes";
  return codes;
}

}  // namespace ovra_check_test
