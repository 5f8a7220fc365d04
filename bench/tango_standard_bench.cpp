// The standard test of the TangoTest device through the check runner, against
// a bare loop of Tango's own C++ client reading the same names in the same
// order, both against one TangoTest server started for the whole run.
//
// The plan holds attributes that fail on purpose (no_value, throw_exception):
// the runner meets them as a failed command and asks its Link Error prompt,
// which answers Cancel at once here, so both sides make exactly one read per
// name. After both benchmarks ran, main prints the checker's mean time per
// plan divided by the bare loop's.

#include <benchmark/benchmark.h>

#include <tango.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/CheckRunner.h"
#include "engine/CheckerSession.h"
#include "engine/Clock.h"
#include "engine/ControlEventPump.h"
#include "sources/TestSources.h"
#include "tango/TangoBackend.h"
#include "tango/TangoSite.h"
#include "tests/support/TangoTestServer.h"

namespace {

using dsc::CheckerSession;
using dsc::CheckRunner;
using Seconds = std::chrono::duration<double>;

constexpr const char* kContext = "TGTEST";
constexpr const char* kServer = "TANGOTEST";
constexpr const char* kDevice = "TG-1";
constexpr int kIterations = 150;
// The runner's default link time-out of a plain READ; the bare proxy gets the
// same so that neither side waits differently for a slow answer.
constexpr int kTimeoutMs = 1000;

template <class F>
double Time(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return Seconds(std::chrono::steady_clock::now() - t0).count();
}

// Keeps the texts and colours in memory, as a window's table would.
class TextGrid final : public dsc::ResultsGrid {
 public:
  void Clear() override {
    cells_.clear();
    row_ = col_ = 0;
  }
  void SetRows(int32_t rows) override { cells_.resize(static_cast<size_t>(rows)); }
  void SelectRow(int32_t row) override { row_ = row; }
  void SelectCol(int32_t col) override { col_ = col; }
  void SetText(const std::string& text) override { cell().text = text; }
  std::string Text() const override { return cells_.at(row_)[col_].text; }
  void SetTextColor(dsc::Rgb color) override { cell().color = color; }
  void SetColumnWidthTwips(int32_t, int32_t) override {}

 private:
  struct Cell {
    std::string text;
    dsc::Rgb color;
  };
  Cell& cell() { return cells_.at(row_).at(col_); }
  std::vector<std::array<Cell, 2>> cells_;
  int32_t row_ = 0, col_ = 0;
};

// A Retry would read the failing name again and make the checker's side do
// more reads than the bare loop.
class CancelPrompt final : public dsc::LinkErrorPrompt {
 public:
  Answer Ask(const std::string&, const std::string&) override {
    ++asked;
    return Answer::Cancel;
  }
  int64_t asked = 0;
};

struct CheckerRig {
  CheckerRig(dsc::tango::Site site, const std::string& reportDir)
      : dir(reportDir), library(std::move(site), clock) {
    control = dsc::tango::MakeTangoControl(library);
    pump = std::make_unique<dsc::ControlEventPump>(
        *control, [](int32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
    session = std::make_unique<CheckerSession>(clock, dir);
    runner = std::make_unique<CheckRunner>(*session, *control, grid, prompt, *pump, clock);
    runner->setOutcomeObserver([this](const dsc::CommandOutcome& o) {
      if (o.status != 0) ++failed;
    });
    dsc::TestSources(*session, library).initStdTest(kContext, kServer, kDevice);
  }

  void NewReport() {
    std::error_code ec;
    for (const auto& f : std::filesystem::directory_iterator(dir, ec))
      std::filesystem::remove(f.path(), ec);
    session->report.reportFileName.clear();
  }

  int commands() const { return session->plan.TestPlanCount; }

  dsc::SystemClock clock;
  std::string dir;
  dsc::tango::TangoLibrary library;
  std::unique_ptr<dsc::DataAcquisitionControl> control;
  std::unique_ptr<dsc::ControlEventPump> pump;
  std::unique_ptr<CheckerSession> session;
  TextGrid grid;
  CancelPrompt prompt;
  std::unique_ptr<CheckRunner> runner;
  int64_t failed = 0;
};

template <class T>
void TakeRead(Tango::DeviceAttribute& value) {
  std::vector<T> values;
  value.extract_read(values);
  benchmark::DoNotOptimize(values.size());
}

// Extracts the read part into a vector of the attribute's own type, as the
// backend does before it converts into the transfer area.
void Extract(Tango::DeviceAttribute& value) {
  switch (value.get_type()) {
    case Tango::DEV_STATE: {
      Tango::DevState state;
      value >> state;
      benchmark::DoNotOptimize(state);
      return;
    }
    case Tango::DEV_STRING:
      return TakeRead<std::string>(value);
    case Tango::DEV_BOOLEAN:
      return TakeRead<bool>(value);
    case Tango::DEV_SHORT:
    case Tango::DEV_ENUM:
      return TakeRead<short>(value);
    case Tango::DEV_LONG:
      return TakeRead<Tango::DevLong>(value);
    case Tango::DEV_FLOAT:
      return TakeRead<float>(value);
    case Tango::DEV_DOUBLE:
      return TakeRead<double>(value);
    case Tango::DEV_USHORT:
      return TakeRead<unsigned short>(value);
    case Tango::DEV_ULONG:
      return TakeRead<Tango::DevULong>(value);
    case Tango::DEV_UCHAR:
      return TakeRead<unsigned char>(value);
    case Tango::DEV_LONG64:
      return TakeRead<Tango::DevLong64>(value);
    case Tango::DEV_ULONG64:
      return TakeRead<Tango::DevULong64>(value);
    default:
      return;
  }
}

template <class T>
void TakeScalar(Tango::DeviceData& data) {
  T value{};
  data >> value;
  benchmark::DoNotOptimize(value);
}

void Extract(Tango::DeviceData& data, long type) {
  switch (type) {
    case Tango::DEV_STATE:
      return TakeScalar<Tango::DevState>(data);
    case Tango::DEV_STRING:
      return TakeScalar<std::string>(data);
    case Tango::DEV_BOOLEAN:
      return TakeScalar<bool>(data);
    case Tango::DEV_SHORT:
      return TakeScalar<short>(data);
    case Tango::DEV_LONG:
      return TakeScalar<Tango::DevLong>(data);
    case Tango::DEV_FLOAT:
      return TakeScalar<float>(data);
    case Tango::DEV_DOUBLE:
      return TakeScalar<double>(data);
    case Tango::DEV_USHORT:
      return TakeScalar<unsigned short>(data);
    case Tango::DEV_ULONG:
      return TakeScalar<Tango::DevULong>(data);
    case Tango::DEV_LONG64:
      return TakeScalar<Tango::DevLong64>(data);
    case Tango::DEV_ULONG64:
      return TakeScalar<Tango::DevULong64>(data);
    default:
      return;
  }
}

// The plan's names, each read the way the backend reads it: an attribute of
// the name first, else the command (void in, scalar out).
struct BareRig {
  struct Name {
    std::string name;
    bool command = false;
    long type = Tango::DEV_VOID;
  };

  BareRig(std::string address, const std::vector<dsc::TestCommand>& plan, int count)
      : proxy(address) {
    proxy.set_timeout_millis(kTimeoutMs);
    std::unique_ptr<std::vector<std::string>> attributes(proxy.get_attribute_list());
    std::unique_ptr<Tango::CommandInfoList> commands(proxy.command_list_query());
    auto same = [](const std::string& a, const std::string& b) {
      return strcasecmp(a.c_str(), b.c_str()) == 0;
    };
    for (int i = 0; i < count; ++i) {
      Name n{plan[static_cast<size_t>(i)].Property};
      bool attribute = false;
      for (const std::string& a : *attributes) attribute = attribute || same(a, n.name);
      if (!attribute) {
        for (const Tango::CommandInfo& c : *commands) {
          if (!same(c.cmd_name, n.name)) continue;
          n.command = true;
          n.type = c.out_type;
        }
      }
      names.push_back(std::move(n));
    }
  }

  // One read of every name; returns how many failed.
  int ReadAll() {
    int failures = 0;
    for (Name& n : names) {
      try {
        if (n.command) {
          Tango::DeviceData data = proxy.command_inout(n.name);
          Extract(data, n.type);
          continue;
        }
        Tango::DeviceAttribute value = proxy.read_attribute(n.name);
        if (value.has_failed()) throw Tango::DevFailed(value.get_err_stack());
        Extract(value);
      } catch (const Tango::DevFailed& failure) {
        ++failures;
        std::string desc = failure.errors.length() > 0 ? failure.errors[0].desc.in() : "";
        benchmark::DoNotOptimize(desc.data());
      }
    }
    return failures;
  }

  Tango::DeviceProxy proxy;
  std::vector<Name> names;
};

CheckerRig* g_checker = nullptr;
BareRig* g_bare = nullptr;

struct Totals {
  double seconds = 0;
  int64_t iterations = 0;
  double Mean() const { return iterations ? seconds / static_cast<double>(iterations) : 0; }
};
Totals g_checkerTotals, g_bareTotals;

void BM_CheckerStandardTest(benchmark::State& state) {
  CheckerRig& rig = *g_checker;
  const int64_t failedBefore = rig.failed;
  for (auto _ : state) {
    rig.NewReport();
    const double t = Time([&] {
      if (!rig.runner->RunVesk(kContext, kServer)) throw std::runtime_error("run refused");
    });
    state.SetIterationTime(t);
    g_checkerTotals.seconds += t;
    ++g_checkerTotals.iterations;
  }
  const auto runs = static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations() * rig.commands());
  state.counters["failed_per_run"] = static_cast<double>(rig.failed - failedBefore) / runs;
  if (!rig.session->report.TakeError().empty()) state.SkipWithError("report file failed");
}
BENCHMARK(BM_CheckerStandardTest)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(kIterations);

void BM_BareTangoReads(benchmark::State& state) {
  BareRig& rig = *g_bare;
  int64_t failures = 0;
  for (auto _ : state) {
    int failed = 0;
    const double t = Time([&] { failed = rig.ReadAll(); });
    state.SetIterationTime(t);
    failures += failed;
    g_bareTotals.seconds += t;
    ++g_bareTotals.iterations;
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(rig.names.size()));
  state.counters["failed_per_run"] =
      static_cast<double>(failures) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_BareTangoReads)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(kIterations);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!dsc::testing::TangoTestServer::Installed()) {
    std::printf("%s is not installed: nothing measured\n",
                dsc::testing::TangoTestServer::Executable().c_str());
    return 0;
  }
  dsc::testing::TangoTestServer server;
  std::string error;
  if (!server.Start(error)) {
    std::printf("TangoTest did not start: %s\n", error.c_str());
    return 0;
  }
  std::string dir = (std::filesystem::temp_directory_path() / "ovra-bench-XXXXXX").string();
  if (!mkdtemp(dir.data())) {
    std::printf("cannot create a report directory in %s\n",
                std::filesystem::temp_directory_path().c_str());
    return 0;
  }
  int rc = 0;
  try {
    auto site = dsc::tango::LoadSite(server.SiteJson(), "bench site", error);
    if (!site) throw std::runtime_error(error);
    CheckerRig checker(std::move(*site), dir);
    if (checker.commands() == 0) throw std::runtime_error("the standard test found no property");
    BareRig bare("tango://127.0.0.1:" + std::to_string(server.port()) + "/sys/tg_test/1#dbase=no",
                 checker.session->plan.TestPlan, checker.commands());
    // One pass of each outside the measurement: connections and first calls.
    checker.NewReport();
    checker.runner->RunVesk(kContext, kServer);
    const int bareFailures = bare.ReadAll();
    std::printf("plan: %d commands; failed: checker %lld, bare %d\n", checker.commands(),
                static_cast<long long>(checker.failed), bareFailures);
    checker.failed = 0;
    g_checker = &checker;
    g_bare = &bare;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_checkerTotals.iterations > 0 && g_bareTotals.iterations > 0)
      std::printf("checker %.1f us/plan, bare %.1f us/plan: ratio checker/bare = %.3f\n",
                  g_checkerTotals.Mean() * 1e6, g_bareTotals.Mean() * 1e6,
                  g_checkerTotals.Mean() / g_bareTotals.Mean());
    g_checker = nullptr;
    g_bare = nullptr;
  } catch (const std::exception& e) {
    std::printf("benchmark failed: %s\n", e.what());
    rc = 1;
  } catch (const Tango::DevFailed& e) {
    std::printf("benchmark failed: %s\n",
                e.errors.length() > 0 ? e.errors[0].desc.in() : "Tango error");
    rc = 1;
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  server.Stop();
  return rc;
}
