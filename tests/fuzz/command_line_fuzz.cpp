// ovra-check's command line end to end, in process: any arguments (split at
// NUL bytes) after a facility, a database and a report directory of the
// target's own. It ends with 0, 1, 2 or 3 only; a usage error writes no
// report; with --json every line on standard output is a JSON object.
// Arguments stay inside the target's directory: "/" becomes "_" and ".."
// becomes ".", and a retry count is 1 (a failing access retried two billion
// times is what was asked for, not a fault).

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/Fakes.h"

int RunOvraCheck(int argc, char** argv);

namespace {

namespace fs = std::filesystem;

[[maybe_unused]] const bool inMemory =
    access("/dev/shm", W_OK) == 0 && setenv("TMPDIR", "/dev/shm", 1) == 0;

// C/S answers, C/DEAD refuses every access; the database runs them both.
constexpr const char* kFacility = R"({"contexts": [{"name": "C", "servers": [
  {"name": "S", "info": {"SRVVERSION": "1.0", "SRVSTARTTIME": "now", "APPVERSION": "a",
   "APPDATE": "d"}, "devices": [{"name": "D", "properties": [
    {"name": "NUM", "format": "DOUBLE", "value": 4.2},
    {"name": "LIST", "format": "SHORT", "values": [1, 2, 3]},
    {"name": "TXT", "format": "TEXT", "value": "caf\u00e9 \ufffe \u001b[2J", "count": 20}]}]},
  {"name": "DEAD", "code": 45, "devices": [{"name": "D", "properties": [
    {"name": "P", "format": "SHORT", "value": 1}]}]}]}]})";

struct Place {
  dsc::testing::TempDir dir;
  Place() {
    dir.write("f.json", kFacility);
    fs::create_directories(dir.file("db"));
    fs::create_directories(dir.file("r"));
    dir.write("db/procedures.csv", "Description,FileName,Context\r\nBoth,list.csv,C\r\n");
    dir.write("db/list.csv", "Server\r\nS\r\nDEAD\r\nNONE\r\n");
    dir.write("db/C-S.csv",
              "Description,Property,Device,OutputSize,OutputFormat,Reference,Access\r\n"
              "Number,NUM,D,1,DOUBLE,4.2,READ\r\nList,LIST,D,3,SHORT,1 2,READ\r\n"
              "Text \xff\xfe,TXT,D,20,TEXT,,READ\r\nWrong,NUM,D,1,DOUBLE,5,READ\r\n");
    dir.write("db/C-DEAD.csv",
              "Property,Device,OutputSize,OutputFormat\r\nP,D,1,SHORT\r\nP,D,1,SHORT\r\n"
              "P,D,1,SHORT\r\nP,D,1,SHORT\r\n");
    for (const char* name : {"TANGO_HOST", "OVRA_FACILITY", "OVRA_DATABASE", "OVRA_PLUGIN_DIR"})
      unsetenv(name);
    setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  }
};

std::string Kept(std::string arg) {
  std::replace(arg.begin(), arg.end(), '/', '_');
  for (size_t at; (at = arg.find("..")) != std::string::npos;) arg.erase(at, 1);
  if (arg.rfind("--retries", 0) == 0 || arg.rfind("--ret", 0) == 0) arg = "--retries=1";
  return arg.substr(0, 100);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Place place;
  std::vector<std::string> args = {"ovra-check", "--facility",   "f.json", "--database",
                                   "db",         "--report-dir", "r"};
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (size_t start = 0; start <= text.size() && args.size() < 20;) {
    const size_t end = std::min(text.find('\0', start), text.size());
    args.push_back(Kept(text.substr(start, end - start)));
    start = end + 1;
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // In the target's directory for the run only: libFuzzer reads its corpus
  // by the paths it was given.
  const fs::path home = fs::current_path();
  fs::current_path(place.dir.path());
  std::ostringstream out, err;
  std::streambuf* const coutBuf = std::cout.rdbuf(out.rdbuf());
  std::streambuf* const cerrBuf = std::cerr.rdbuf(err.rdbuf());
  const int rc = RunOvraCheck(static_cast<int>(args.size()), argv.data());
  std::cout.rdbuf(coutBuf);
  std::cerr.rdbuf(cerrBuf);

  FUZZ_CHECK(rc >= 0 && rc <= 3);
  const auto reports = std::distance(fs::directory_iterator("r"), fs::directory_iterator());
  // Usage errors are found before anything runs; a JUnit file that cannot be
  // written at the end is the one exit status 2 after a run.
  if (rc == 2 && err.str().find("cannot write the JUnit file") == std::string::npos)
    FUZZ_CHECK(reports == 0);
  const auto given = [&](auto test) { return std::any_of(args.begin() + 7, args.end(), test); };
  const bool json =
      given([](const std::string& a) { return a == "--json"; }) &&
      !given([](const std::string& a) { return a.rfind("--json", 0) == 0 && a != "--json"; });
  const bool help = given([](const std::string& a) {
    return a.rfind("-h", 0) == 0 || a.rfind("--h", 0) == 0 || a.rfind("--v", 0) == 0;
  });
  if (json && !help) {
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
      FUZZ_CHECK(nlohmann::json::parse(line, nullptr, false).is_object());
  }
  // The next input starts from an empty report directory and no other files.
  for (const auto& entry : fs::directory_iterator("r")) fs::remove_all(entry.path());
  for (const auto& entry : fs::directory_iterator(".")) {
    const std::string name = entry.path().filename().string();
    if (name != "f.json" && name != "db" && name != "r") fs::remove_all(entry.path());
  }
  fs::current_path(home);
  return 0;
}
