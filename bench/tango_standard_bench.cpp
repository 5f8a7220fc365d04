// The standard test of the TangoTest device through the check runner, against
// a bare loop of Tango's own C++ client reading the same names in the same
// order and decoding what the checker decodes, both against one TangoTest
// server started for the whole run.
//
// The plan holds attributes that fail on purpose (no_value, throw_exception):
// the runner meets them as a failed command and asks its Link Error prompt,
// which answers Cancel at once here, so both sides make exactly one read per
// name. The two sides run in pairs, in alternating order from a random start
// (bench/Pairs.h), so that the machine's load and a warm server fall on both
// alike; main prints the median of the per-pair ratios checker/bare with its
// quartiles, and the medians of each side.
#include <benchmark/benchmark.h>

#include <tango.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "base/Clock.h"
#include "base/Formats.h"
#include "bench/BenchSupport.h"
#include "engine/CheckRunner.h"
#include "engine/CheckerSession.h"
#include "engine/ControlEventPump.h"
#include "sources/TestSources.h"
#include "tango/TangoBackend.h"
#include "tango/TangoSite.h"
#include "tests/support/TangoTestServer.h"

namespace {

using namespace dsc::bench;

constexpr const char* kContext = "TGTEST";
constexpr const char* kServer = "TANGOTEST";
constexpr const char* kDevice = "TG-1";
constexpr int kIterations = 150;
constexpr const char* kFloor = "Tango's C++ client reading the same names";
// The runner's default link time-out of a plain READ; the bare proxy gets the
// same so that neither side waits differently for a slow answer.
constexpr int kTimeoutMs = 1000;

struct CheckerRig {
  CheckerRig(dsc::tango::Site site, const std::string& reportDir)
      : library(std::move(site), clock) {
    control = dsc::tango::MakeTangoControl(library);
    parts = std::make_unique<RunnerParts>(
        clock, *control, reportDir, CancelPrompt::Failures::Expected,
        [](int32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
    parts->runner.setOutcomeObserver([this](const dsc::CommandOutcome& o) {
      if (!o.outcome.passed()) ++failed;
    });
    dsc::TestSources(parts->session, library).initStdTest(kContext, kServer, kDevice);
  }

  int commands() const { return parts->session.plan.TestPlanCount; }

  dsc::SystemClock clock;
  dsc::tango::TangoLibrary library;
  std::unique_ptr<dsc::DataAcquisitionControl> control;
  std::unique_ptr<RunnerParts> parts;
  int64_t failed = 0;
};

template <class T>
struct Tag {
  using type = T;
};

// Calls take with the Tag of the C++ type a scalar of `type` comes in, for
// the types attributes and commands share; nothing for the others.
template <class F>
void WithScalarType(long type, F&& take) {
  switch (type) {
    case Tango::DEV_STATE:
      return take(Tag<Tango::DevState>{});
    case Tango::DEV_STRING:
      return take(Tag<std::string>{});
    case Tango::DEV_BOOLEAN:
      return take(Tag<bool>{});
    case Tango::DEV_SHORT:
      return take(Tag<short>{});
    case Tango::DEV_LONG:
      return take(Tag<Tango::DevLong>{});
    case Tango::DEV_FLOAT:
      return take(Tag<float>{});
    case Tango::DEV_DOUBLE:
      return take(Tag<double>{});
    case Tango::DEV_USHORT:
      return take(Tag<unsigned short>{});
    case Tango::DEV_ULONG:
      return take(Tag<Tango::DevULong>{});
    case Tango::DEV_LONG64:
      return take(Tag<Tango::DevLong64>{});
    case Tango::DEV_ULONG64:
      return take(Tag<Tango::DevULong64>{});
    default:
      return;
  }
}

// Extracts the read part into a vector of the attribute's own type, as the
// backend does before it converts into the transfer area; a state is one
// value.
void Extract(Tango::DeviceAttribute& value) {
  auto take = [&](auto tag) {
    using T = typename decltype(tag)::type;
    if constexpr (std::is_same_v<T, Tango::DevState>) {
      Tango::DevState state;
      value >> state;
      benchmark::DoNotOptimize(state);
    } else {
      std::vector<T> values;
      value.extract_read(values);
      benchmark::DoNotOptimize(values.size());
    }
  };
  switch (value.get_type()) {
    case Tango::DEV_ENUM:
      return take(Tag<short>{});
    case Tango::DEV_UCHAR:
      return take(Tag<unsigned char>{});
    default:
      return WithScalarType(value.get_type(), take);
  }
}

void Extract(Tango::DeviceData& data, long type) {
  WithScalarType(type, [&](auto tag) {
    typename decltype(tag)::type value{};
    data >> value;
    benchmark::DoNotOptimize(value);
  });
}

// The plan's names, each read the way the backend reads it: an attribute of
// the name first, else the command (void in, scalar out).
struct BareRig {
  struct Name {
    std::string name;
    bool command = false;
    long type = Tango::DEV_VOID;
    // The checker delivers no value where the format is unknown (string
    // images, say): it only reads them, and so does this side.
    bool decode = true;
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
      n.decode = plan[static_cast<size_t>(i)].OutputFormat != dsc::kFormatNull;
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
          if (n.decode) Extract(data, n.type);
          continue;
        }
        Tango::DeviceAttribute value = proxy.read_attribute(n.name);
        if (value.has_failed()) throw Tango::DevFailed(value.get_err_stack());
        if (n.decode) Extract(value);
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
Pairs g_pairs;

// One iteration is one pair: the checker's standard test and the bare loop
// over the same names, in alternating order from a random start. The
// iteration's time is the checker's.
void BM_CheckerAndBare(benchmark::State& state) {
  CheckerRig& checker = *g_checker;
  BareRig& bare = *g_bare;
  const int64_t failedBefore = checker.failed;
  int64_t bareFailures = 0;
  for (auto _ : state) {
    checker.parts->NewReport();
    state.SetIterationTime(g_pairs.Pair(
        [&] {
          if (!checker.parts->runner.RunVesk(kContext, kServer))
            throw std::runtime_error("run refused");
        },
        [&] { bareFailures += bare.ReadAll(); }));
  }
  const auto runs = static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations() * checker.commands());
  state.counters["checker_failed_per_run"] =
      static_cast<double>(checker.failed - failedBefore) / runs;
  state.counters["bare_failed_per_run"] = static_cast<double>(bareFailures) / runs;
  g_pairs.Report(state, kFloor);
  if (!checker.parts->session.report.TakeError().empty()) state.SkipWithError("report file failed");
}
BENCHMARK(BM_CheckerAndBare)
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
  ScratchDir dir;
  int rc = 0;
  try {
    auto site = dsc::tango::LoadSite(server.SiteJson(), "bench site", error);
    if (!site) throw std::runtime_error(error);
    CheckerRig checker(std::move(*site), dir.path());
    if (checker.commands() == 0) throw std::runtime_error("the standard test found no property");
    BareRig bare("tango://127.0.0.1:" + std::to_string(server.port()) + "/sys/tg_test/1#dbase=no",
                 checker.parts->session.plan.TestPlan, checker.commands());
    // One pass of each outside the measurement: connections and first calls.
    checker.parts->NewReport();
    checker.parts->runner.RunVesk(kContext, kServer);
    const int bareFailures = bare.ReadAll();
    std::printf("plan: %d commands; failed: checker %lld, bare %d\n", checker.commands(),
                static_cast<long long>(checker.failed), bareFailures);
    checker.failed = 0;
    g_checker = &checker;
    g_bare = &bare;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("%zu pairs: checker median %.1f us/plan, bare median %.1f us/plan; %s\n",
                g_pairs.samples.size(), Median(g_pairs.samples) * 1e6, Median(g_pairs.floors) * 1e6,
                RatioText("checker/bare", g_pairs.ratio(), kFloor).c_str());
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
  server.Stop();
  return rc;
}
