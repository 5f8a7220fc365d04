// ovra-check as a whole process over a 32767-command simulated run, its
// output read through a pipe as a CI job reads it: the plain run (terminal
// lines only) against the same run with --json and --junit, interleaved
// (ABAB) so both see the same machine load. Prints the medians of the
// processes' CPU time and what the JSON and JUnit outputs cost per command.
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

namespace {

constexpr int kCommands = 32767;

std::string Dir() {
  char name[] = "/tmp/ovra-outputs-bench-XXXXXX";
  if (!mkdtemp(name)) std::exit(2);
  return name;
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

double ChildCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU time (user + system) of one run, its stdout drained through a pipe:
// on a shared machine the wall time measures the neighbours too. Exits on
// failure.
double RunSeconds(const std::string& command) {
  const double start = ChildCpuSeconds();
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) std::exit(2);
  char buffer[1 << 16];
  size_t bytes = 0;
  while (const size_t n = fread(buffer, 1, sizeof buffer, pipe)) bytes += n;
  const int status = pclose(pipe);
  const double s = ChildCpuSeconds() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || bytes == 0) {
    std::fprintf(stderr, "failed (%d, %zu bytes): %s\n", status, bytes, command.c_str());
    std::exit(2);
  }
  return s;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
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

  std::vector<double> a, b, c, a0, b0;
  RunSeconds(plain);  // warm the caches once
  for (int r = 0; r < rounds; ++r) {
    a.push_back(RunSeconds(plain));
    b.push_back(RunSeconds(outputs));
    c.push_back(RunSeconds(jsonOnly));
    if (before) {
      a0.push_back(RunSeconds(plainBefore));
      b0.push_back(RunSeconds(outputsBefore));
    }
  }
  const double ma = Median(a), mb = Median(b), mc = Median(c);
  std::printf("%d commands, %d rounds (interleaved), medians of CPU time:\n", kCommands, rounds);
  std::printf("  A terminal lines only      %8.3f s  %7.3f us/command\n", ma, ma / kCommands * 1e6);
  std::printf("  B --json --junit           %8.3f s  %7.3f us/command\n", mb, mb / kCommands * 1e6);
  std::printf("  C --json                   %8.3f s  %7.3f us/command\n", mc, mc / kCommands * 1e6);
  std::printf("  B - A: JSON + JUnit cost   %8.3f us/command (ratio B/A %.3f)\n",
              (mb - ma) / kCommands * 1e6, mb / ma);
  std::printf("  C - A: JSON cost           %8.3f us/command\n", (mc - ma) / kCommands * 1e6);
  if (before) {
    const double ma0 = Median(a0), mb0 = Median(b0);
    std::printf("  before (%s):\n", before);
    std::printf("  A terminal lines only      %8.3f s  %7.3f us/command\n", ma0,
                ma0 / kCommands * 1e6);
    std::printf("  B --json --junit           %8.3f s  %7.3f us/command\n", mb0,
                mb0 / kCommands * 1e6);
    std::printf("  B - A: JSON + JUnit cost   %8.3f us/command (ratio B/A %.3f)\n",
                (mb0 - ma0) / kCommands * 1e6, mb0 / ma0);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
