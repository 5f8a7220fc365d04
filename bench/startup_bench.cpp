// Whole-process start-up: ovra-check --version, a one-command simulated run
// and the window's first paint, each against the same program linking Tango's
// client libraries at start-up as the programs did before the Tango backend
// became a module, and the window also against a bare Qt window of the same
// kind. Variants run in every order (bench/Pairs.h); the figures are medians
// of the wall time, CPU time and maximum resident memory of each process, and
// the median with quartiles of the per-pair wall-time ratios to the floor: a
// bare process of the same kind (/bin/true for ovra-check, a bare Qt window
// for the window), never the Tango-linked build, which is only another row.
//
// Run as root, it and the programs it starts take a real-time priority, so
// that the machine's other work (a build, another engineer's tests) does not
// land in one run and not the next; the header says whether it did.
//
//   build/bench/startup_bench [ROUNDS]

#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "bench/Pairs.h"

extern char** environ;

namespace {

using dsc::bench::Median;

struct Sample {
  double ms = 0;     // wall time
  double cpuMs = 0;  // user and system time: what a busy machine disturbs least
  double mib = 0;    // maximum resident memory
};

struct Variant {
  std::string name;
  std::vector<std::string> argv;
  std::vector<std::string> env;  // added to the environment
  std::vector<Sample> samples;
};

Sample Run(const Variant& v) {
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) envText.emplace_back(*e);
  for (const auto& e : v.env) envText.push_back(e);
  std::vector<char*> argv, envp;
  for (const auto& a : v.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : envText) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  // fork, not posix_spawn: a child made by vfork would count this program's
  // resident memory into its own maximum.
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (pid < 0) {
    std::fprintf(stderr, "startup_bench: cannot start %s\n", argv[0]);
    std::exit(1);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) {
    std::fprintf(stderr, "startup_bench: %s ended with status %d\n", v.name.c_str(), status);
    std::exit(1);
  }
  const auto cpu = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  return {std::chrono::duration<double, std::milli>(end - start).count(),
          cpu(usage.ru_utime) + cpu(usage.ru_stime), usage.ru_maxrss / 1024.0};
}

Sample Medians(const Variant& v) {
  std::vector<double> ms, cpuMs, mib;
  for (const Sample& s : v.samples) {
    ms.push_back(s.ms);
    cpuMs.push_back(s.cpuMs);
    mib.push_back(s.mib);
  }
  return {Median(ms), Median(cpuMs), Median(mib)};
}

// Runs the variants of one measurement `rounds` times in every order, after
// one warm-up round. A process started right after a heavy one (45 MiB
// linking Tango) runs measurably slower, so each variant must follow each of
// the others equally often. (Rotating one order would not do: it keeps every
// variant's predecessor.)
void Measure(std::vector<Variant>& variants, int rounds) {
  for (auto& v : variants) Run(v);
  int orders = 1;
  for (size_t k = 2; k <= variants.size(); ++k) orders *= static_cast<int>(k);
  dsc::bench::InEveryOrder(variants.size(), rounds * orders,
                           [&](size_t i) { variants[i].samples.push_back(Run(variants[i])); });
}

std::vector<double> WallMs(const Variant& v) {
  std::vector<double> ms;
  for (const Sample& s : v.samples) ms.push_back(s.ms);
  return ms;
}

// The paired ratios are of the wall times of the runs of the same round and
// order: a pair runs within a few tens of milliseconds, so what drifts between
// rounds (the machine's other work, the CPU's clock) divides out. The floor
// is a bare process of the same kind.
void Print(const char* what, const std::vector<Variant>& variants, const Variant& floor) {
  const Sample base = Medians(floor);
  std::printf("%s (medians; ratios to the floor, %s)\n", what, floor.name.c_str());
  std::printf("  %-36s %9s %9s %8s %8s %9s %6s %8s\n", "", "wall ms", "ratio", "q1", "q3", "CPU ms",
              "ratio", "max MiB");
  for (const auto& v : variants) {
    const Sample m = Medians(v);
    const dsc::bench::Ratio r = dsc::bench::PairedRatio(WallMs(v), WallMs(floor));
    std::printf("  %-36s %9.2f %9.3f %8.3f %8.3f %9.2f %6.2f %8.1f\n", v.name.c_str(), m.ms,
                r.median, r.q1, r.q3, m.cpuMs, m.cpuMs / std::max(base.cpuMs, 1e-3), m.mib);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  // Inherited by the programs started. The kernel keeps 5% of each second
  // for other work, so a program that never ends cannot take the machine.
  const sched_param priority{.sched_priority = 10};
  std::printf("%d rounds, %s\n", rounds,
              sched_setscheduler(0, SCHED_FIFO, &priority) == 0
                  ? "real-time priority (SCHED_FIFO)"
                  : "normal priority (not root: other work on the machine shows in the figures)");

  // A database whose test file of LINAC VACUUM-1 holds one command.
  const std::filesystem::path scratch =
      std::filesystem::temp_directory_path() / ("ovra-startup-" + std::to_string(getpid()));
  std::filesystem::create_directories(scratch / "database");
  std::ofstream(scratch / "database" / "LINAC-VACUUM-1.csv")
      << "Description,Property,Device,OutputSize,OutputFormat,Reference,Access\r\n"
      << "Pump 1 status,STATUS,PUMP-01,1,SHORT,1,READ\r\n";
  const std::vector<std::string> oneCommand = {"--database",   (scratch / "database").string(),
                                               "--report-dir", scratch.string(),
                                               "specific",     "LINAC",
                                               "VACUUM-1"};
  const std::vector<std::string> quiet = {"OVRA_DATABASE=", "OVRA_FACILITY="};

  std::vector<Variant> version = {
      {"before: ovra-check linking Tango", {OVRA_CHECK_LINKED, "--version"}, quiet, {}},
      {"after: ovra-check", {OVRA_CHECK, "--version"}, quiet, {}}};
  std::vector<Variant> run = {{"before: ovra-check linking Tango", {OVRA_CHECK_LINKED}, quiet, {}},
                              {"after: ovra-check", {OVRA_CHECK}, quiet, {}}};
  for (auto& v : run) v.argv.insert(v.argv.end(), oneCommand.begin(), oneCommand.end());
  // The floor: what starting any process costs on this machine now.
  version.push_back({"floor: /bin/true", {"/bin/true"}, quiet, {}});
  run.push_back(version.back());
  Measure(version, rounds);
  Print("ovra-check --version", version, version.back());
  Measure(run, rounds);
  Print("ovra-check specific LINAC VACUUM-1 (one command, simulated)", run, run.back());

#ifdef OVRA_CHECKER
  const std::vector<std::string> window = {"QT_QPA_PLATFORM=offscreen",
                                           "LD_PRELOAD=" FIRST_PAINT_PROBE,
                                           "OVRA_DATABASE=", "OVRA_FACILITY="};
  std::vector<Variant> paint = {
      {"bare Qt window", {BARE_WINDOW}, window, {}},
      {"before: ovra-checker linking Tango", {OVRA_CHECKER_LINKED}, window, {}},
      {"after: ovra-checker", {OVRA_CHECKER}, window, {}}};
  Measure(paint, rounds);
  Print("window: start to first paint (offscreen)", paint, paint[0]);
#endif
  std::filesystem::remove_all(scratch);
  return 0;
}
