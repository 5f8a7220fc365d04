#pragma once

// What the benchmarks here share beside the tests' fakes (tests/support) and
// the pairing of bench/Pairs.h: a Link Error prompt that answers Cancel, a
// check runner with it and an in-memory grid, and a READ command.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "bench/Pairs.h"
#include "engine/CheckRunner.h"
#include "engine/CheckerSession.h"
#include "engine/ControlEventPump.h"
#include "engine/FrontEnd.h"
#include "engine/TestPlan.h"
#include "tests/support/Fakes.h"

namespace dsc::bench {

// Answers Cancel at once: a Retry would do the failed access again and add
// work a bare loop does not do. Where no command should fail, being asked at
// all stops the benchmark.
class CancelPrompt final : public LinkErrorPrompt {
 public:
  enum class Failures { Expected, Unexpected };
  explicit CancelPrompt(Failures failures) : failures_(failures) {}
  Answer Ask(const std::string&, const std::string& text) override {
    if (failures_ == Failures::Unexpected)
      throw std::runtime_error("unexpected Link Error: " + text);
    ++asked;
    return Answer::Cancel;
  }
  int64_t asked = 0;

 private:
  Failures failures_;
};

// A scratch directory (the tests' TempDir: it throws where none can be made).
using ScratchDir = testing::TempDir;

// A check runner over `control`, with the grid and prompt above and an event
// pump that waits with `sleep`; its reports go to `dir`.
struct RunnerParts {
  RunnerParts(Clock& clock, DataAcquisitionControl& control, const std::string& reportDir,
              CancelPrompt::Failures failures, std::function<void(int32_t)> sleep)
      : dir(reportDir),
        session(clock, dir),
        prompt(failures),
        pump(control, std::move(sleep)),
        runner(session, control, grid, prompt, pump, clock) {
    grid.keepHistory = false;
  }

  // Lets the next run start a report file of its own, as the first run did,
  // instead of appending to the last one.
  void NewReport() {
    std::error_code ec;
    for (const auto& f : std::filesystem::directory_iterator(dir, ec))
      std::filesystem::remove(f.path(), ec);
    session.report.reportFileName.clear();
  }

  std::string dir;
  CheckerSession session;
  testing::MemoryGrid grid;
  CancelPrompt prompt;
  ControlEventPump pump;
  CheckRunner runner;
};

// A READ of one element of `format`.
inline TestCommand ReadCommand(std::string description, std::string property, std::string device,
                               int16_t format) {
  TestCommand c;
  c.Description = std::move(description);
  c.Property = std::move(property);
  c.Device = std::move(device);
  c.Access = "READ";
  c.OutputSize = 1;
  c.OutputFormat = format;
  return c;
}

}  // namespace dsc::bench
