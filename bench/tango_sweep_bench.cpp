// The nightly health check of a Tango site, as whole processes: ovra-check's
// sweep of every TangoTest server against a pytango script (Debian's
// python3-tango) that reads every attribute of every device of the same
// servers in one process with one batched read per device
// (read_attributes). The site is its own: a Tango database
// (tests/support/TangoDatabaseServer) with 6 running TangoTest servers
// carrying 51 devices, one server registered but not running and one hung
// (SIGSTOP). Both sides treat those two alike: the peer asks the database
// whether a server's device is exported (not running: skipped at once) and
// pings a server's first device with the 500 ms the checker gives its
// information reads (hung: skipped after that), and reads with the
// checker's 1000 ms.
//
// The two sides run in pairs, alternating which goes first from a random
// start; printed are the median of the per-pair ratios checker/peer with
// their range, and the medians of each side.
//
//   build/bench/tango_sweep_bench [PAIRS]      (default 7)

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "tests/support/Processes.h"
#include "tests/support/TangoDatabaseServer.h"

namespace {

using dsc::testing::ReadAll;
using dsc::testing::Spawn;
using dsc::testing::TangoDatabaseServer;

constexpr int kDevicesPerServer[] = {9, 9, 9, 8, 8, 8};  // 51

constexpr const char* kPeer = R"(import time
import tango

db = tango.Database()
values = failed = skipped = 0
skipping = 0.0  # seconds spent on the servers skipped, to tell them apart
for server in db.get_server_list("TangoTest/*"):
    began = time.monotonic()
    listed = list(db.get_device_class_list(server))
    devices = [d for d in listed[0::2] if not d.lower().startswith("dserver/")]
    for i, name in enumerate(devices):
        if not db.get_device_info(name).exported:
            skipped += 1  # not running: the rest of the server too
            skipping += time.monotonic() - began
            break
        proxy = tango.DeviceProxy(name)
        if i == 0:
            proxy.set_timeout_millis(500)
            try:
                proxy.ping()
            except tango.DevFailed:
                skipped += 1  # hung
                skipping += time.monotonic() - began
                break
        proxy.set_timeout_millis(1000)
        names = proxy.get_attribute_list()
        try:
            for a in proxy.read_attributes(list(names)):
                if a.has_failed:
                    failed += 1
                else:
                    values += 1
        except tango.DevFailed:
            failed += len(names)
print(values, failed, skipped, "%.3f s on the skipped servers" % skipping)
)";

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Wall time of a whole process in seconds, its output in `log`; its exit
// status in `status`.
double TimeProcess(const std::vector<std::string>& argv, const std::string& log, int& status) {
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = Spawn(argv, log);
  int raw = 0;
  if (pid < 0 || waitpid(pid, &raw, 0) != pid) raw = -1;
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  if (!TangoDatabaseServer::Installed()) {
    std::printf("skipped: not installed: %s\n", TangoDatabaseServer::Missing().c_str());
    return 0;
  }
  if (access("/usr/lib/python3/dist-packages/tango", F_OK) != 0) {
    std::printf("skipped: pytango is not installed (apt-get install python3-tango)\n");
    return 0;
  }
  TangoDatabaseServer db;
  std::string error;
  if (!db.Start(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  int devices = 0;
  for (size_t s = 0; s < std::size(kDevicesPerServer); ++s) {
    const std::string instance = "sweep" + std::to_string(s + 1);
    std::vector<std::string> names;
    for (int d = 0; d < kDevicesPerServer[s]; ++d)
      names.push_back("sweep/tg" + std::to_string(s + 1) + "/" + std::to_string(d + 1));
    devices += kDevicesPerServer[s];
    if (!db.AddServer("TangoTest/" + instance, "TangoTest", names, error) ||
        !db.StartTangoTest(instance, error)) {
      std::fprintf(stderr, "%s: %s\n", instance.c_str(), error.c_str());
      return 1;
    }
  }
  if (!db.AddServer("TangoTest/absent", "TangoTest", {"sweep/absent/1"}, error) ||
      !db.AddServer("TangoTest/hung", "TangoTest", {"sweep/hung/1"}, error) ||
      !db.StartTangoTest("hung", error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  // Stopped, not ended: its port stays open and nothing answers. The
  // database server's Stop ends it by its PID (SIGCONT first).
  kill(db.LastServerPid(), SIGSTOP);

  dsc::bench::ScratchDir scratch;
  const std::string peer = scratch.path() + "/peer.py";
  std::ofstream(peer) << kPeer;
  const std::string reports = scratch.path() + "/reports";
  std::filesystem::create_directory(reports);
  const std::vector<std::string> checker = {OVRA_CHECK_EXE, "--tango-host", db.TangoHost(),
                                            "--report-dir", reports,        "sweep",
                                            "TangoTest/*"};
  const std::vector<std::string> python = {"TANGO_HOST=" + db.TangoHost(), "/usr/bin/python3",
                                           peer};
  const std::string checkerLog = scratch.path() + "/checker.log";
  const std::string peerLog = scratch.path() + "/peer.log";

  int status = 0;
  // Once each first: what each side reads, and caches warmed alike.
  TimeProcess(checker, checkerLog, status);
  const std::string checkerText = ReadAll(checkerLog);
  const size_t site = checkerText.find("Site: ");
  std::printf("site: %d devices on %zu running TangoTest servers, 1 not running, 1 hung\n", devices,
              std::size(kDevicesPerServer));
  std::printf("checker (exit %d): %s", status,
              site == std::string::npos
                  ? "no site summary\n"
                  : checkerText.substr(site, checkerText.find('\n', site) - site + 1).c_str());
  const size_t total = checkerText.rfind(" succeeded, ");
  if (total != std::string::npos) {
    const size_t begin = checkerText.rfind('\n', total) + 1;
    std::printf("checker: %s",
                checkerText.substr(begin, checkerText.find('\n', total) - begin + 1).c_str());
  }
  TimeProcess(python, peerLog, status);
  std::printf("peer (exit %d): values read, failed, servers skipped, time on them: %s", status,
              ReadAll(peerLog).c_str());

  std::mt19937 random(std::random_device{}());
  const int first = static_cast<int>(random() % 2);
  std::vector<double> a, b, ratios, liveRatios;
  // The seconds the last peer run spent on the servers it skipped.
  auto peerSkipping = [&] {
    double values = 0, failed = 0, skipped = 0, seconds = 0;
    std::sscanf(ReadAll(peerLog).c_str(), "%lf %lf %lf %lf", &values, &failed, &skipped, &seconds);
    return seconds;
  };
  for (int i = 0; i < pairs; ++i) {
    double ta = 0, tb = 0;
    if ((first + i) % 2 == 0) {
      ta = TimeProcess(checker, checkerLog, status);
      tb = TimeProcess(python, peerLog, status);
    } else {
      tb = TimeProcess(python, peerLog, status);
      ta = TimeProcess(checker, checkerLog, status);
    }
    a.push_back(ta);
    b.push_back(tb);
    ratios.push_back(ta / tb);
    liveRatios.push_back(ta / std::max(1e-3, tb - peerSkipping()));
  }
  std::printf(
      "%d pairs (first side %s): checker sweep median %.3f s, pytango peer median %.3f s\n"
      "median of per-pair ratios checker/peer = %.3f (range %.3f .. %.3f); target <= 0.5\n"
      "the same with the peer's time on the servers it skipped taken out (a peer that\n"
      "skipped them for nothing; pytango's proxy to the hung server waits far past\n"
      "the 500 ms it is given): %.3f (range %.3f .. %.3f)\n",
      pairs, first == 0 ? "checker" : "peer", Median(a), Median(b), Median(ratios),
      *std::min_element(ratios.begin(), ratios.end()),
      *std::max_element(ratios.begin(), ratios.end()), Median(liveRatios),
      *std::min_element(liveRatios.begin(), liveRatios.end()),
      *std::max_element(liveRatios.begin(), liveRatios.end()));
  return 0;
}
