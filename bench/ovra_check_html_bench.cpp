// What --html adds to ovra-check: the 32767-command simulated run as a whole
// process, its output read through a pipe as a CI job reads it, without and
// with --html, the two alternating from a random start so that both see the
// same machine load. Prints the median, with quartiles, of the per-pair
// differences of CPU time (user + system) per command, never below 0 (a
// pair in which the run with the page happened to be cheaper says nothing
// about the page's cost), and the median of the per-pair ratios; the floor
// is the same run without the page. The target is at most 1 us per command.
//
//   build/bench/ovra_check_html_bench [pairs]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/Pairs.h"
#include "bench/ProcessRuns.h"

using namespace dsc::bench;

int main(int argc, char** argv) {
  const int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  const std::string dir = Dir();
  const std::string options = WriteLongRun(dir);
  const std::string plain =
      std::string(OVRA_CHECK_EXE) + options + " specific BENCH SRV 2>/dev/null";
  const std::string html = std::string(OVRA_CHECK_EXE) + options + " --html " + dir +
                           "/page.html specific BENCH SRV 2>/dev/null";
  RunCpu(html);  // warm the caches once
  const auto size = std::filesystem::file_size(dir + "/page.html");
  std::vector<double> without, with;
  InEveryOrder(2, pairs, [&](size_t side) {
    (side == 0 ? without : with).push_back(RunCpu(side == 0 ? plain : html).total);
  });
  std::vector<double> differences;
  for (size_t i = 0; i < with.size(); ++i)
    differences.push_back(std::max(0.0, (with[i] - without[i]) / kCommands * 1e6));
  std::printf(
      "%d commands, %d pairs alternating from a random start; page %.2f MB (%.0f bytes "
      "per command)\n",
      kCommands, pairs, static_cast<double>(size) / 1e6, static_cast<double>(size) / kCommands);
  std::printf("  CPU per command, medians: without %.3f us, with --html %.3f us\n",
              Median(without) / kCommands * 1e6, Median(with) / kCommands * 1e6);
  std::printf(
      "  --html adds, median of per-pair differences: %.3f us per command (quartiles "
      "%.3f-%.3f; target <= 1 us)\n",
      Median(differences), Quantile(differences, 0.25), Quantile(differences, 0.75));
  std::printf("  %s\n", RatioText("with/without --html, user+sys", PairedRatio(with, without),
                                  "the same run without --html")
                            .c_str());
  std::filesystem::remove_all(dir);
  return 0;
}
