// End to end: the built ovra-check against the demo facility and the
// repository's database directory, and against a Tango site file.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/Fakes.h"

namespace {

using std::string;

struct Outcome {
  int code = -1;
  string out, err;
};

// Standard output and error go to files beside the reports: not a terminal,
// like a pipe.
// `environment` is put before the program: "NAME=value ..."; the reports go
// to reportDir when given.
Outcome RunCheck(const string& args, const dsc::testing::TempDir& dir,
                 const string& environment = "", const string& reportDir = "") {
  // The tester's own settings stay out of it.
  const string command =
      "env -u OVRA_DATABASE -u OVRA_FACILITY -u OVRA_PLUGIN_DIR "
      "XDG_CONFIG_HOME='" +
      dir.path() + "' " + environment + " " + string(OVRA_CHECK_EXE) + " --report-dir '" +
      (reportDir.empty() ? dir.path() : reportDir) + "' " + args + " >'" + dir.file("stdout.txt") +
      "' 2>'" + dir.file("stderr.txt") + "'";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, dir.read("stdout.txt"),
          dir.read("stderr.txt")};
}

class OvraCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    if (src.empty()) GTEST_SKIP() << "OVRA_SOURCE_DIR is not set (run through ctest)";
    db = " --database '" + src + "/database' ";
  }
  const char* srcEnv = std::getenv("OVRA_SOURCE_DIR");
  const string src = srcEnv ? srcEnv : "";
  dsc::testing::TempDir reports;
  string db;
};

// The environment names the facility and the database; the options beat it.
TEST_F(OvraCheck, EnvironmentNamesFacilityAndDatabase) {
  const string noFacility = "OVRA_FACILITY=/nonexistent.json";
  EXPECT_EQ(RunCheck("list", reports, noFacility).code, 2);
  EXPECT_EQ(
      RunCheck("--facility '" + src + "/facilities/demo.json' list", reports, noFacility).code, 0);
  const string noDatabase = "OVRA_DATABASE=/nonexistent";
  const Outcome refused = RunCheck("config 0", reports, noDatabase);
  EXPECT_EQ(refused.code, 2);
  EXPECT_EQ(refused.err, "ovra-check: no database directory /nonexistent/ ($OVRA_DATABASE)\n");
  // A database that was found lists its configurations.
  const string found = "ovra-check: no configuration \"99\"; there are:";
  EXPECT_EQ(
      RunCheck("config 99", reports, "OVRA_DATABASE='" + src + "/database'").err.rfind(found, 0),
      0u);
  EXPECT_EQ(RunCheck(db + "config 99", reports, noDatabase).err.rfind(found, 0), 0u);
}

TEST_F(OvraCheck, ExitStatus) {
  const std::pair<string, int> cases[] = {
      {"standard LINAC VACUUM-1 NO-SUCH", 1},  // property query fails
      {"specific LINAC BPM-1", 1},             // one reference is not met on purpose
      {"specific LINAC KLYSTRON-3", 1},        // cannot be prepared
      {"info LINAC VACUUM-1", 0},
      {"list NOWHERE VACUUM-1 PUMP-01", 1},
      {"", 2},
      {"config 99", 2},
      {"--facility /nonexistent.json list", 2},
  };
  for (const auto& [args, code] : cases) EXPECT_EQ(RunCheck(db + args, reports).code, code) << args;
  EXPECT_EQ(RunCheck("--database /nonexistent config 0", reports).code, 2);
}

TEST_F(OvraCheck, PrintsCaptionResultsAndReportPath) {
  const auto [code, out, err] = RunCheck(db + "standard LINAC VACUUM-1 PUMP-01", reports);
  EXPECT_EQ(code, 0) << out;
  for (const string& part :
       {string("Standard test for  7 READ properties\n"), string("[1/7] STATUS : Success  = 1  ("),
        "Report: " + reports.path() + "/", string("7 succeeded, 0 failed in ")})
    EXPECT_NE(out.find(part), string::npos) << part << " in " << out;
  EXPECT_EQ(out.find("\x1b["), string::npos);  // no colours when not on a terminal
}

// Names typed in UTF-8 reach the control system in Latin-1, and control
// characters of a garbled test file never reach the terminal.
TEST_F(OvraCheck, TypedNamesAndGarbledText) {
  reports.write("f.json",
                "{\"contexts\": [{\"name\": \"CAF\u00c9\", \"servers\": [{\"name\": \"S\", "
                "\"devices\": [{\"name\": \"D\", \"properties\": [{\"name\": \"P\", "
                "\"format\": \"SHORT\", \"value\": 1}]}]}]}]}");
  reports.write("CAF\xc9-S.csv", "Description,Property,Device\r\n\x1b[2J\x07x,P,D\r\n");
  const auto [code, out, err] =
      RunCheck("--facility '" + reports.file("f.json") + "' --database '" + reports.path() +
                   "' specific CAF\xc3\x89 S",
               reports);
  EXPECT_EQ(code, 0) << out;
  EXPECT_NE(out.find("?[2J?x : Success  ("), string::npos) << out;
}

// ovra-check with its output through a pipe, under a limit on the size of
// the files it writes when fileSizeLimit > 0 (a pipe has no size to limit).
Outcome RunUnderLimit(const std::vector<string>& args, rlim_t fileSizeLimit) {
  int out[2];
  if (pipe(out) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    close(out[0]);
    close(out[1]);
    for (const char* name : {"OVRA_DATABASE", "OVRA_FACILITY", "OVRA_PLUGIN_DIR"}) unsetenv(name);
    if (fileSizeLimit > 0) {
      // Ignored, SIGXFSZ leaves a write past the limit to fail with EFBIG.
      signal(SIGXFSZ, SIG_IGN);
      const struct rlimit limit { fileSizeLimit, fileSizeLimit };
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> argv{const_cast<char*>(OVRA_CHECK_EXE)};
    for (const string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  Outcome r;
  char buf[4096];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) r.out.append(buf, n);
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// A facility with one device of `properties` SHORT properties, in context C,
// server S, device D.
string ManyProperties(int properties) {
  string p;
  for (int i = 0; i < properties; ++i)
    p += string(i ? "," : "") + R"({"name": "PROPERTY-)" + std::to_string(i) +
         R"(", "format": "SHORT", "value": 1})";
  return R"({"contexts": [{"name": "C", "servers": [{"name": "S", "devices": [{"name": "D", )"
         R"("properties": [)" +
         p + "]}]}]}]}";
}

// Lines lost from the report give exit status 3 and say how many were
// written; the file holds whole lines only. A full 64 KiB file system is a
// tmpfs mount where the tests may mount one (root with the capability),
// and a 64 KiB file-size limit otherwise, which cuts writes the same way.
TEST_F(OvraCheck, IncompleteReportSaysSoAndExitsWithThree) {
  reports.write("f.json", ManyProperties(2000));
  const string mountPoint = reports.file("small");
  std::filesystem::create_directory(mountPoint);
  const bool mounted =
      std::system(("mount -t tmpfs -o size=64k tmpfs '" + mountPoint + "' 2>/dev/null").c_str()) ==
      0;
  const Outcome r = RunUnderLimit(
      {"--report-dir", mountPoint, "--facility", reports.file("f.json"), "standard", "C", "S", "D"},
      mounted ? 0 : 65536);
  string report;
  for (const auto& file : std::filesystem::directory_iterator(mountPoint))
    report = dsc::testing::ReadFileBytes(file.path().string());
  if (mounted) {
    EXPECT_EQ(std::system(("umount '" + mountPoint + "'").c_str()), 0);
  }

  EXPECT_EQ(r.code, 3) << r.out << r.err;
  const size_t at = r.out.find("Report incomplete: ");
  ASSERT_NE(at, string::npos) << r.out;
  int written = 0, attempted = 0;
  ASSERT_EQ(
      std::sscanf(r.out.c_str() + at, "Report incomplete: %d of %d lines", &written, &attempted),
      2);
  EXPECT_EQ(attempted, 2003);  // three lines of head, one per property
  EXPECT_GT(written, 100);
  EXPECT_LT(written, attempted);
  EXPECT_LE(report.size(), 65536u);
  // Whole lines only: the head (its information block is one line of five)
  // and then complete result lines, as many as were written.
  std::vector<string> lines;
  for (size_t p = 0, e; (e = report.find("\r\n", p)) != string::npos; p = e + 2)
    lines.push_back(report.substr(p, e - p));
  EXPECT_TRUE(report.ends_with("\r\n"));
  ASSERT_EQ(lines.size(), static_cast<size_t>(written) + 4)
      << (mounted ? "tmpfs" : "file-size limit");
  const std::regex result(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d : PROPERTY-\d+ : Success)");
  for (size_t i = 7; i < lines.size(); ++i)
    EXPECT_TRUE(std::regex_match(lines[i], result)) << lines[i];
  EXPECT_NE(r.out.find("Report: "), string::npos);  // the file exists, with what it could take
  EXPECT_NE(r.out.find("2000 succeeded, 0 failed"), string::npos);
}

TEST_F(OvraCheck, ReportWithoutAnyLineIsNotShownAsAFile) {
  reports.write("plain", "");  // a directory under a regular file cannot exist
  const Outcome r =
      RunCheck(db + "standard LINAC VACUUM-1 PUMP-01", reports, "", reports.file("plain"));
  EXPECT_EQ(r.code, 3);
  EXPECT_EQ(r.out.find("Report: "), string::npos) << r.out;
  EXPECT_NE(
      r.out.find("Report incomplete: 0 of 10 lines written to " + reports.file("plain") + "/"),
      string::npos)
      << r.out;
}

// Names from the command line that would lead out of the database directory
// or drive the terminal are refused before anything is asked.
TEST_F(OvraCheck, UnsafeNamesAreRefused) {
  const std::pair<string, string> cases[] = {
      {"specific .. VACUUM-1", "context \"..\" is refused: the name holds \"..\""},
      {"info LINAC ../../x", "server \"../../x\" is refused: the name holds a \"/\""},
      {"standard LINAC \"$(printf 'V\\033[2J')\" D",
       "server \"V\\x1B[2J\" is refused: the name holds a control"},
  };
  for (const auto& [args, message] : cases) {
    const Outcome r = RunCheck(db + args, reports);
    EXPECT_EQ(r.code, 2) << args;
    EXPECT_NE(r.err.find("ovra-check: " + message), string::npos) << r.err;
    EXPECT_EQ(r.err.find('\x1b'), string::npos);
  }
}

// Only the first 32767 properties could be listed: the device is refused
// rather than tested in part.
TEST_F(OvraCheck, DeviceWithMoreThan32767PropertiesIsRefused) {
  reports.write("f.json", ManyProperties(32768));
  const string facility = "--facility '" + reports.file("f.json") + "' ";
  for (const char* command : {"standard C S D", "list C S D"}) {
    const Outcome r = RunCheck(facility + command, reports);
    EXPECT_EQ(r.code, 1) << command;
    EXPECT_NE((r.out + r.err).find("the device has more than 32767 properties"), string::npos)
        << r.out << r.err;
  }
}

// A site file naming two devices of a server at 127.0.0.1:1, where nothing
// listens on an unprivileged test machine.
string SiteText() {
  return R"({"site": "Lab", "tango": {"contexts": [{"name": "LAB", "host": "127.0.0.1", "port": 1,
    "servers": [{"name": "TG", "devices": [{"name": "TG-1", "device": "sys/tg_test/1"},
    {"name": "TG-2", "device": "sys/tg_test/2"}]}]}]}})";
}

TEST(OvraCheckTangoSite, BadSiteFileNamesFileAndPlace) {
  dsc::testing::TempDir dir;
  const string site = dir.file("site.json");
  string text = SiteText();
  dir.write("site.json", text.replace(text.find("TG-2"), 4, "TG/2"));
  const Outcome r = RunCheck("--facility '" + site + "' list", dir);
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find(site + ": /tango/contexts/0/servers/0/devices/1/name: \"TG/2\" holds"),
            string::npos)
      << r.err;
}

// Without the Tango backend's module a site file is refused, whether the
// build has none or the installation lacks it; the simulation needs none.
TEST(OvraCheckTangoSite, WithoutTheBackendModule) {
  dsc::testing::TempDir dir;
  dir.write("site.json", SiteText());
  const string empty = "OVRA_PLUGIN_DIR='" + dir.path() + "'";
  const Outcome site = RunCheck("--facility '" + dir.file("site.json") + "' list", dir, empty);
  EXPECT_EQ(site.code, 2);
  EXPECT_EQ(site.err.rfind("ovra-check: " + dir.file("site.json") + ": a Tango site file, but ", 0),
            0u)
      << site.err;
  EXPECT_EQ(site.out, "");
  const Outcome version = RunCheck("--version", dir, empty);
  EXPECT_NE(version.out.find("Tango backend: not "), string::npos) << version.out;
  EXPECT_EQ(RunCheck("list", dir, empty).code, 0);
}

// A server that does not answer is reported, never waited for.
TEST(OvraCheckTangoSite, UnreachableServer) {
  dsc::testing::TempDir dir;
  dir.write("site.json", SiteText());
  const string facility = "--facility '" + dir.file("site.json") + "' ";
  const Outcome probe = RunCheck(facility + "list", dir);
  if (probe.err.find("a Tango site file, but") != string::npos) GTEST_SKIP() << probe.err;

  // The names come from the site file alone, Tango's beside the checker's;
  // typed names are found in any case.
  const std::pair<string, string> lists[] = {
      {"list", "LAB\n"},
      {"list LAB", "TG\n"},
      {"list lab tg", "TG-1\tsys/tg_test/1\nTG-2\tsys/tg_test/2\n"}};
  for (const auto& [args, out] : lists) {
    const Outcome r = RunCheck(facility + args, dir);
    EXPECT_EQ(r.code, 0) << args << ": " << r.err;
    EXPECT_EQ(r.out, out) << args;
  }

  const Outcome info = RunCheck(facility + "info LAB TG", dir);
  EXPECT_EQ(info.code, 1) << info.err;
  EXPECT_EQ(info.out.rfind("srv vers: unavailable -> server not answering", 0), 0u) << info.out;

  const auto start = std::chrono::steady_clock::now();
  const Outcome standard = RunCheck(facility + "standard LAB TG TG-1", dir);
  // A bound on hanging, not a performance target: refused connections fail at once.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(standard.code, 1);
  EXPECT_NE((standard.out + standard.err).find("no property list for /LAB/TG/TG-1"), string::npos)
      << standard.out << standard.err;
}

}  // namespace
