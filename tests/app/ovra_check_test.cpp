// End to end: the built ovra-check against the demo facility and the
// repository's database directory, and against a Tango site file.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>

#include "tests/support/Fakes.h"

namespace {

using std::string;

struct Outcome {
  int code = -1;
  string out, err;
};

// Standard output and error go to files beside the reports: not a terminal,
// like a pipe.
// `environment` is put before the program: "NAME=value ...".
Outcome RunCheck(const string& args, const dsc::testing::TempDir& dir,
                 const string& environment = "") {
  // The tester's own settings stay out of it.
  const string command =
      "env -u OVRA_DATABASE -u OVRA_FACILITY -u OVRA_PLUGIN_DIR "
      "XDG_CONFIG_HOME='" +
      dir.path() + "' " + environment + " " + string(OVRA_CHECK_EXE) + " --report-dir '" +
      dir.path() + "' " + args + " >'" + dir.file("stdout.txt") + "' 2>'" + dir.file("stderr.txt") +
      "'";
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

TEST_F(OvraCheck, FindsTheSourceTreesDatabaseFromTheBuildTree) {
  if (!string(OVRA_CHECK_EXE).starts_with(src + "/"))
    GTEST_SKIP() << "the build tree is outside the source tree";
  const auto [code, out, err] = RunCheck("config \"Ring vacuum and magnets\"", reports);
  EXPECT_EQ(code, 0) << out;
  EXPECT_NE(out.find("/database/RING-VACUUM-R.csv"), string::npos) << out;
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
