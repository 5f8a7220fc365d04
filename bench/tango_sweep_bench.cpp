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
// Then servers side by side: 50 more TangoTest servers of one device each,
// 5 of them hung, swept with --jobs 16, in pairs with a --jobs 1 sweep of the live ones
// (alternating from a random start). The target: --jobs 16 costs at most
// the slowest server's time plus 20 % of the live servers' total, all from
// the checker's own figures: the sweep's elapsed time and slowest server,
// and the live servers' total as the time of a --jobs 1 sweep of the 45
// live servers alone. Beside it, the floor no schedule can beat on this
// machine: the CPU the --jobs 16 sweep's work took (the checker's and the
// live side servers', their own data generators included) over the cores,
// against the same bound. Where that floor is above 1, the machine is too
// small for the target whatever the checker does.
//
// `hold` instead keeps the side-by-side site up until stdin closes; run it
// in the foreground (a shell that ends orphans its stopped servers, and the
// kernel wakes them with SIGCONT).
//
//   build/bench/tango_sweep_bench [PAIRS] [SIDE_PAIRS]   (default 7 and 5)

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
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

// From a checker's terminal output: the run's elapsed seconds ("... in 1.234
// s"), the slowest servers' times in ms, and whether each is a hung one
// (one whose name holds `hungMark`).
struct SweepFigures {
  double seconds = 0;
  std::vector<double> slowestMs;
  int hungAmongSlowest = 0;
};
SweepFigures FiguresOf(const std::string& text, const std::string& hungMark) {
  SweepFigures f;
  const size_t in = text.rfind(" in ");
  if (in != std::string::npos) f.seconds = std::atof(text.c_str() + in + 4);
  const size_t at = text.rfind("Slowest: ");
  if (at == std::string::npos) return f;
  const std::string line = text.substr(at + 9, text.find('\n', at) - at - 9);
  for (size_t p = 0; p < line.size();) {
    const size_t comma = std::min(line.find(", ", p), line.size());
    const std::string item = line.substr(p, comma - p);  // "/CTX/SERVER 512 ms"
    const size_t space = item.rfind(' ', item.size() - 4);
    if (space != std::string::npos) {
      f.slowestMs.push_back(std::atof(item.c_str() + space + 1));
      if (item.find(hungMark) != std::string::npos) ++f.hungAmongSlowest;
    }
    p = comma + 2;
  }
  return f;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// CPU seconds (user and system) the last process TimeProcess waited for
// used, and the pages it touched first (minor faults: memory it grew into).
double lastChildCpu = 0;
double lastChildFaults = 0;

// Wall time of a whole process in seconds, its output in `log`; its exit
// status in `status`; its CPU time in lastChildCpu.
double TimeProcess(const std::vector<std::string>& argv, const std::string& log, int& status) {
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = Spawn(argv, log);
  int raw = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &raw, 0, &usage) != pid) raw = -1;
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  lastChildCpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                 usage.ru_stime.tv_usec / 1e6;
  lastChildFaults = static_cast<double>(usage.ru_minflt);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The machine's busy and idle CPU seconds so far, from /proc/stat's first
// line (user nice system idle iowait irq softirq steal).
std::pair<double, double> MachineSeconds() {
  std::istringstream fields(ReadAll("/proc/stat"));
  std::string cpu;
  double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
  fields >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  return {(user + nice + system + irq + softirq + steal) / tick, (idle + iowait) / tick};
}

// CPU seconds (user and system) the processes have used so far, from
// /proc/PID/stat (fields 14 and 15, after the command name in parentheses).
double CpuSecondsOf(const std::vector<pid_t>& pids) {
  double ticks = 0;
  for (const pid_t pid : pids) {
    const std::string stat = ReadAll("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) fields >> skip;  // state .. cmajflt
    unsigned long long user = 0, system = 0;
    fields >> user >> system;
    ticks += static_cast<double>(user + system);
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Registers and starts the side-by-side servers, side01 to side50; every
// tenth is hung ("side10-hung", "side20-hung", ...) with SIGSTOP.
constexpr int kSideServers = 50;
std::vector<pid_t> sidePids;  // the live ones
bool StartSideServers(TangoDatabaseServer& db, std::string& error) {
  for (int i = 1; i <= kSideServers; ++i) {
    const std::string n = (i < 10 ? "0" : "") + std::to_string(i);
    const std::string instance = "side" + n + (i % 10 == 0 ? "-hung" : "");
    if (!db.AddServer("TangoTest/" + instance, "TangoTest", {"side/tg/" + n}, error) ||
        !db.StartTangoTest(instance, error)) {
      std::fprintf(stderr, "%s: %s\n", instance.c_str(), error.c_str());
      return false;
    }
    if (i % 10 == 0)
      kill(db.LastServerPid(), SIGSTOP);
    else
      sidePids.push_back(db.LastServerPid());
  }
  return true;
}

}  // namespace

// Starts only the side-by-side site (50 servers, 5 hung, as below), prints
// its TANGO_HOST and keeps it until stdin closes: to profile a sweep by hand.
int HoldSite() {
  TangoDatabaseServer db;
  std::string error;
  if (!db.Start(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  if (!StartSideServers(db, error)) return 1;
  std::printf("TANGO_HOST=%s\n", db.TangoHost().c_str());
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "hold") return HoldSite();
  const int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const int sidePairs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
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

  // Servers side by side. Registered and started only now: the sweep above
  // and its peer do not see them.
  if (!StartSideServers(db, error)) return 1;
  auto sweep = [&](const char* jobs, const char* servers) {
    return std::vector<std::string>{OVRA_CHECK_EXE, "--tango-host", db.TangoHost(),
                                    "--report-dir", reports,        "--jobs",
                                    jobs,           "sweep",        servers};
  };
  // All 50 side by side; the 45 live ones alone, one after the other: their
  // total.
  const std::vector<std::string> parallel = sweep("16", "TangoTest/side*"),
                                 serial = sweep("1", "TangoTest/side[0-9][0-9]");
  TimeProcess(parallel, checkerLog, status);
  {
    const std::string text = ReadAll(checkerLog);
    const size_t at = text.find("Site: ");
    std::printf("\nside by side: %d servers of one device, 5 hung; --jobs 16 (exit %d): %s",
                kSideServers, status,
                at == std::string::npos ? "no site summary\n"
                                        : text.substr(at, text.find('\n', at) - at + 1).c_str());
  }
  TimeProcess(sweep("1", "TangoTest/side*"), checkerLog, status);
  std::printf("all 50 with --jobs 1: %.3f s (the sweep's own time)\n",
              FiguresOf(ReadAll(checkerLog), "-hung").seconds);
  // The same facts either way: the JSON lines' servers, devices, commands,
  // outcomes and which fields each carries, in order (TangoTest's values move).
  auto factsOf = [&](const char* jobs) {
    std::vector<std::string> run = sweep(jobs, "TangoTest/side*");
    run.insert(run.begin() + 1, "--json");
    TimeProcess(run, checkerLog, status);
    static const std::regex value(
        R"x(("(type|server|device|description|outcome)":"[^"]*")|("\w+":))x");
    std::string facts;
    const std::string text = ReadAll(checkerLog);
    for (std::sregex_iterator m(text.begin(), text.end(), value), end; m != end; ++m)
      facts += m->str();
    return facts;
  };
  std::printf("JSON lines of --jobs 16 and --jobs 1 carry the same facts: %s\n",
              factsOf("16") == factsOf("1") ? "yes" : "NO");
  // What the machine can do at best: no schedule of the --jobs 16 sweep's
  // work (the checker's CPU and the live servers' CPU while it runs, their
  // own data generators included) finishes before that CPU time spread over
  // every core.
  const double cores = std::max(1u, std::thread::hardware_concurrency());
  std::vector<double> t16, live, slowest, whole16, bounds, floors, cpu16, cpu1, faults16, faults1,
      busy;
  for (int i = 0; i < sidePairs; ++i) {
    double w16 = 0, work16 = 0, busy16 = 0;
    SweepFigures f16, f1;
    auto one = [&](bool jobs16) {
      if (jobs16) {
        const double serversBefore = CpuSecondsOf(sidePids);
        const auto [busyBefore, idleBefore] = MachineSeconds();
        w16 = TimeProcess(parallel, checkerLog, status);
        const auto [busyAfter, idleAfter] = MachineSeconds();
        const double all = busyAfter - busyBefore + idleAfter - idleBefore;
        busy16 = all > 0 ? std::max(0.0, busyAfter - busyBefore) / all : 0;
        work16 = lastChildCpu + CpuSecondsOf(sidePids) - serversBefore;
        cpu16.push_back(lastChildCpu);
        faults16.push_back(lastChildFaults);
        f16 = FiguresOf(ReadAll(checkerLog), "-hung");
      } else {
        TimeProcess(serial, checkerLog, status);
        cpu1.push_back(lastChildCpu);
        faults1.push_back(lastChildFaults);
        f1 = FiguresOf(ReadAll(checkerLog), "-hung");
      }
    };
    one((first + i) % 2 == 0);
    one((first + i) % 2 != 0);
    const double slowestSeconds = f16.slowestMs.empty() ? 0 : f16.slowestMs[0] / 1000;
    t16.push_back(f16.seconds);
    whole16.push_back(w16);
    live.push_back(f1.seconds);
    slowest.push_back(slowestSeconds);
    const double bound = std::max(1e-3, slowestSeconds + 0.2 * f1.seconds);
    bounds.push_back(f16.seconds / bound);
    floors.push_back(std::max(0.0, work16) / cores / bound);
    busy.push_back(busy16);
  }
  std::printf(
      "%d pairs: sweep's own time with --jobs 16 median %.3f s (whole process %.3f s);\n"
      "its slowest server median %.3f s; the 45 live servers one after the other median %.3f s\n"
      "median of per-pair --jobs 16 / (slowest + 0.2 x live total) = %.3f (range %.3f .. "
      "%.3f); target <= 1\n",
      sidePairs, Median(t16), Median(whole16), Median(slowest), Median(live), Median(bounds),
      *std::min_element(bounds.begin(), bounds.end()),
      *std::max_element(bounds.begin(), bounds.end()));
  std::printf(
      "the CPU floor on this machine: (checker + live servers' CPU during --jobs 16) / %.0f "
      "cores, over the same bound, median %.3f (range %.3f .. %.3f); above 1, the target is "
      "out of this machine's reach\n",
      cores, Median(floors), *std::min_element(floors.begin(), floors.end()),
      *std::max_element(floors.begin(), floors.end()));
  // What working side by side costs the checker itself: its CPU, and the
  // memory it grows into (every lane holds what it reads, a string image's
  // 63001 lines among it), with --jobs 16 (all 50) against --jobs 1 (the 45
  // live ones).
  std::printf(
      "the checker's own CPU: --jobs 16 median %.3f s, --jobs 1 median %.3f s; pages it "
      "touched first: %.0f and %.0f\n",
      Median(cpu16), Median(cpu1), Median(faults16), Median(faults1));
  // Whether the schedule left the machine idle: near 100 %, --jobs 16 can
  // only get faster with less work.
  std::printf("the machine was busy %.0f %% of the --jobs 16 sweep (median; range %.0f .. %.0f)\n",
              100 * Median(busy), 100 * *std::min_element(busy.begin(), busy.end()),
              100 * *std::max_element(busy.begin(), busy.end()));
  return 0;
}
