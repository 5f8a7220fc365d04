// ovra-check on a Tango site file: refusals name the file and the place, and
// a server that does not answer is reported, never waited for.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "tests/support/Fakes.h"

namespace {

using std::string;

struct Outcome {
  int code = -1;
  string out, err;
};

Outcome RunCheck(const string& args, const dsc::testing::TempDir& dir) {
  const string command = string(OVRA_CHECK_EXE) + " --report-dir '" + dir.path() + "' " + args +
                         " >'" + dir.file("stdout.txt") + "' 2>'" + dir.file("stderr.txt") + "'";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, dir.read("stdout.txt"),
          dir.read("stderr.txt")};
}

// A loopback port nobody listens on (free a moment ago).
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), size) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) != 0)
    return 1;  // port 1 is not listened on by an unprivileged test machine either
  close(fd);
  return ntohs(a.sin_port);
}

string SiteText(int port) {
  return R"({"site": "Lab", "tango": {"contexts": [{"name": "LAB", "host": "127.0.0.1", "port": )" +
         std::to_string(port) +
         R"(, "servers": [{"name": "TG", "devices": [{"name": "TG-1", "device": "sys/tg_test/1"},
         {"name": "TG-2", "device": "sys/tg_test/2"}]}]}]}})";
}

TEST(OvraCheckTangoSite, BadSiteFileNamesFileAndPlace) {
  dsc::testing::TempDir dir;
  const string site = dir.file("site.json");
  string text = SiteText(1234);
  dir.write("site.json", text.replace(text.find("TG-2"), 4, "TG/2"));
  const Outcome r = RunCheck("--facility '" + site + "' list", dir);
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find(site + ": /tango/contexts/0/servers/0/devices/1/name: \"TG/2\" holds"),
            string::npos)
      << r.err;
}

TEST(OvraCheckTangoSite, UnreachableServer) {
  dsc::testing::TempDir dir;
  dir.write("site.json", SiteText(FreePort()));
  const string facility = "--facility '" + dir.file("site.json") + "' ";
  const Outcome probe = RunCheck(facility + "list", dir);
  if (probe.err.find("this build has no Tango backend") != string::npos) GTEST_SKIP() << probe.err;

  // The names come from the site file alone.
  const std::pair<string, string> lists[] = {
      {"list", "LAB\n"}, {"list LAB", "TG\n"}, {"list LAB TG", "TG-1\nTG-2\n"}};
  for (const auto& [args, out] : lists) {
    const Outcome r = RunCheck(facility + args, dir);
    EXPECT_EQ(r.code, 0) << args << ": " << r.err;
    EXPECT_EQ(r.out, out) << args;
  }

  const Outcome info = RunCheck(facility + "info LAB TG", dir);
  EXPECT_EQ(info.code, 0) << info.err;
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
