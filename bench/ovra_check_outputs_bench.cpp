// ovra-check as a whole process over a 32767-command simulated run, its
// output read through a pipe as a CI job reads it: the plain run (terminal
// lines only, the floor) against the same run with --json and --junit, in
// every order so all see the same machine load. Prints the medians of the
// processes' CPU time and the median, with quartiles, of the per-round
// ratios of each to the plain run.
//
//   build/bench/ovra_check_outputs_bench [rounds]
//
// With OVRA_CHECK_BEFORE=PATH (another build of ovra-check, e.g. of an
// earlier commit) the same two runs of that program are interleaved too, so
// that before and after are measured under the same load.

#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/Pairs.h"

namespace {

constexpr int kCommands = 32767;

// In memory where the machine has it: the report's 32767 appends then cost
// what they cost the program, without a disk's journal in between.
std::string Dir() {
  char shm[] = "/dev/shm/ovra-outputs-bench-XXXXXX";
  if (mkdtemp(shm)) return shm;
  char tmp[] = "/tmp/ovra-outputs-bench-XXXXXX";
  if (!mkdtemp(tmp)) std::exit(2);
  return tmp;
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// CPU time of the finished children: user, and user + system.
struct Cpu {
  double user = 0, total = 0;
};

Cpu ChildCpu() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return {seconds(u.ru_utime), seconds(u.ru_utime) + seconds(u.ru_stime)};
}

// CPU time of one run, its stdout drained through a pipe: on a shared
// machine the wall time measures the neighbours too. Exits on failure.
Cpu RunCpu(const std::string& command) {
  const Cpu start = ChildCpu();
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) std::exit(2);
  char buffer[1 << 16];
  size_t bytes = 0;
  while (const size_t n = fread(buffer, 1, sizeof buffer, pipe)) bytes += n;
  const int status = pclose(pipe);
  const Cpu end = ChildCpu();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || bytes == 0) {
    std::fprintf(stderr, "failed (%d, %zu bytes): %s\n", status, bytes, command.c_str());
    std::exit(2);
  }
  return {end.user - start.user, end.total - start.total};
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const std::string dir = Dir();
  Write(dir + "/f.json", R"({"contexts": [{"name": "BENCH", "servers": [{"name": "SRV",
    "devices": [{"name": "DEV", "properties": [{"name": "VALUE", "format": "DOUBLE",
    "value": 1.5}]}]}]}]})");
  std::string file = "Description,Property,Device,OutputSize,OutputFormat,Reference,Access\r\n";
  for (int i = 0; i < kCommands; ++i)
    file += "Value " + std::to_string(i) + ",VALUE,DEV,1,DOUBLE,1.5,READ\r\n";
  Write(dir + "/BENCH-SRV.csv", file);
  std::filesystem::create_directory(dir + "/reports");

  const std::string options =
      " --facility " + dir + "/f.json --database " + dir + " --report-dir " + dir + "/reports";
  const auto runs = [&](const std::string& exe) {
    return std::pair(
        exe + options + " specific BENCH SRV 2>/dev/null",
        exe + options + " --json --junit " + dir + "/r.xml specific BENCH SRV 2>/dev/null");
  };
  const auto [plain, outputs] = runs(OVRA_CHECK_EXE);
  const std::string jsonOnly =
      std::string(OVRA_CHECK_EXE) + options + " --json specific BENCH SRV 2>/dev/null";
  const char* before = std::getenv("OVRA_CHECK_BEFORE");
  const auto [plainBefore, outputsBefore] = runs(before ? before : "");

  // Rows in the order measured; every round runs each once.
  struct Row {
    const char* name;
    std::string command;
    std::vector<double> user, total;
  };
  std::vector<Row> rows = {{"A terminal lines only", plain, {}, {}},
                           {"B --json --junit", outputs, {}, {}},
                           {"C --json", jsonOnly, {}, {}}};
  if (before) {
    rows.push_back({"A' before: terminal lines only", plainBefore, {}, {}});
    rows.push_back({"B' before: --json --junit", outputsBefore, {}, {}});
  }
  RunCpu(plain);  // warm the caches once
  // Every round runs each row once, the rounds taking the rows' orders in
  // turn from a random one (bench/Pairs.h).
  dsc::bench::InEveryOrder(rows.size(), rounds, [&](size_t i) {
    const Cpu cpu = RunCpu(rows[i].command);
    rows[i].user.push_back(cpu.user);
    rows[i].total.push_back(cpu.total);
  });
  // Per command, in microseconds. The user time is the steadier figure: the
  // system time is mostly the report, which every run writes alike.
  const auto us = [](double seconds) { return seconds / kCommands * 1e6; };
  std::printf(
      "%d commands, %d rounds (every order from a random one), medians of CPU time per "
      "command:\n",
      kCommands, rounds);
  std::printf("  %-32s %10s %10s\n", "", "user us", "user+sys us");
  for (const Row& row : rows)
    std::printf("  %-32s %10.3f %10.3f\n", row.name, us(dsc::bench::Median(row.user)),
                us(dsc::bench::Median(row.total)));
  // The ratios of runs of the same round leave out what drifts between
  // rounds (the machine's other work, the file system's), which a ratio of
  // medians keeps; a difference of two medians could even come out negative.
  const auto ratio = [&](const char* name, const Row& with, const Row& floor) {
    std::printf("  %s\n",
                dsc::bench::RatioText(std::string(name) + ", user+sys",
                                      dsc::bench::PairedRatio(with.total, floor.total), floor.name)
                    .c_str());
  };
  std::printf("  median of the per-round ratios of CPU time:\n");
  ratio("B/A: with JSON + JUnit", rows[1], rows[0]);
  ratio("C/A: with JSON", rows[2], rows[0]);
  if (before) ratio("B'/A' before: with JSON + JUnit", rows[4], rows[3]);
  std::filesystem::remove_all(dir);
  return 0;
}
