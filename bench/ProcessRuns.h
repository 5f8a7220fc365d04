#pragma once

// What the benchmarks of whole ovra-check processes share: a scratch
// directory in memory, the 32767-command simulated run's files, and the CPU
// time of one run read through a pipe as a CI job reads it.

#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace dsc::bench {

inline constexpr int kCommands = 32767;

// In memory where the machine has it: the report's 32767 appends then cost
// what they cost the program, without a disk's journal in between.
inline std::string Dir() {
  char shm[] = "/dev/shm/ovra-check-bench-XXXXXX";
  if (mkdtemp(shm)) return shm;
  char tmp[] = "/tmp/ovra-check-bench-XXXXXX";
  if (!mkdtemp(tmp)) std::exit(2);
  return tmp;
}

inline void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// CPU time of the finished children: user, and user + system.
struct Cpu {
  double user = 0, total = 0;
};

inline Cpu ChildCpu() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return {seconds(u.ru_utime), seconds(u.ru_utime) + seconds(u.ru_stime)};
}

// CPU time of one run, its stdout drained through a pipe: on a shared
// machine the wall time measures the neighbours too. Exits on failure.
inline Cpu RunCpu(const std::string& command) {
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

// The facility and the 32767-command test file of BENCH SRV in dir; the
// options that run it there.
inline std::string WriteLongRun(const std::string& dir) {
  Write(dir + "/f.json", R"({"contexts": [{"name": "BENCH", "servers": [{"name": "SRV",
    "devices": [{"name": "DEV", "properties": [{"name": "VALUE", "format": "DOUBLE",
    "value": 1.5}]}]}]}]})");
  std::string file = "Description,Property,Device,OutputSize,OutputFormat,Reference,Access\r\n";
  for (int i = 0; i < kCommands; ++i)
    file += "Value " + std::to_string(i) + ",VALUE,DEV,1,DOUBLE,1.5,READ\r\n";
  Write(dir + "/BENCH-SRV.csv", file);
  std::filesystem::create_directory(dir + "/reports");
  return " --facility " + dir + "/f.json --database " + dir + " --report-dir " + dir + "/reports";
}

}  // namespace dsc::bench
