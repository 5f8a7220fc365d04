// Discovery from a Tango database holding 500 registered server instances
// with 2000 devices (registered only, none running): the checker's server list
// of the context and one server's device list, against the bare Tango
// database calls that fetch the same data, in turns (ABAB) in the same run.
// main prints the median of the per-pair ratios checker/bare and the whole
// list of the context's time.
#include <benchmark/benchmark.h>
#include <tango.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "access/NamespaceQueries.h"
#include "bench/BenchSupport.h"
#include "base/Clock.h"
#include "tango/TangoBackend.h"
#include "tango/TangoSite.h"
#include "tests/support/TangoDatabaseServer.h"

namespace {

using namespace dsc::bench;

constexpr int kServers = 500;
constexpr int kDevicesPerServer = 4;
constexpr int kIterations = 100;
const std::string kInstance = "Bench/server250";  // the server whose devices are listed

struct Rigs {
  std::unique_ptr<dsc::tango::TangoLibrary> library;
  std::unique_ptr<Tango::Database> database;
  std::string context, server;
};
Rigs* g_rigs = nullptr;
std::vector<double> g_checker, g_bare, g_ratios;

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The checker: the context's server list (NTAGS asks the database, TAGS
// names them), then one server's device list likewise.
size_t CheckerLists(Rigs& r) {
  std::vector<std::string> names;
  int16_t n = 0, m = 0;
  if (dsc::GetServerList(*r.library, r.context, names, n) != 0)
    throw std::runtime_error("server list failed");
  if (dsc::GetDeviceNameList(*r.library, r.server, names, m) != 0)
    throw std::runtime_error("device list failed");
  return static_cast<size_t>(n + m);
}

// The bare Tango calls that fetch the same: every server instance, and the
// devices (with their classes) of one.
size_t BareLists(Rigs& r) {
  std::string all = "*", instance = kInstance;
  std::vector<std::string> servers, devices;
  r.database->get_server_list(all) >> servers;
  r.database->get_device_class_list(instance) >> devices;
  return servers.size() + devices.size() / 2;
}

void BM_CheckerThenBareDiscovery(benchmark::State& state) {
  Rigs& r = *g_rigs;
  for (auto _ : state) {
    size_t a = 0, b = 0;
    const double ta = Time([&] { a = CheckerLists(r); });
    const double tb = Time([&] { b = BareLists(r); });
    benchmark::DoNotOptimize(a + b);
    state.SetIterationTime(ta);
    g_checker.push_back(ta);
    g_bare.push_back(tb);
    g_ratios.push_back(ta / tb);
  }
}
BENCHMARK(BM_CheckerThenBareDiscovery)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(kIterations);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  using dsc::testing::TangoDatabaseServer;
  if (!TangoDatabaseServer::Installed()) {
    std::printf("not installed: %s; nothing measured\n", TangoDatabaseServer::Missing().c_str());
    return 0;
  }
  TangoDatabaseServer db;
  std::string error;
  if (!db.Start(error)) {
    std::printf("the Tango database did not start: %s\n", error.c_str());
    return 0;
  }
  int rc = 0;
  try {
    const auto registering = std::chrono::steady_clock::now();
    for (int i = 0; i < kServers; ++i) {
      std::vector<std::string> devices;
      for (int d = 0; d < kDevicesPerServer; ++d)
        devices.push_back("bench/s" + std::to_string(i) + "/" + std::to_string(d));
      if (!db.AddServer("Bench/server" + std::to_string(i), "TangoTest", devices, error))
        throw std::runtime_error(error);
    }
    std::printf(
        "registered %d servers with %d devices in %.1f s\n", kServers, kServers * kDevicesPerServer,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - registering).count());
    dsc::SystemClock clock;
    std::optional<dsc::tango::Site> site = dsc::tango::SiteFromTangoHosts({db.TangoHost()}, error);
    if (!site) throw std::runtime_error(error);
    Rigs rigs;
    rigs.context = site->contexts.front().name;
    rigs.server = dsc::tango::ShortName(kInstance);
    rigs.library = std::make_unique<dsc::tango::TangoLibrary>(std::move(*site), clock);
    std::string host = "127.0.0.1";
    rigs.database =
        std::make_unique<Tango::Database>(host, rigs.library->site().contexts.front().port);
    // The whole list of the context, from a checker that has asked nothing yet.
    std::vector<std::string> names;
    int16_t n = 0;
    const double whole = Time([&] {
      if (dsc::GetServerList(*rigs.library, rigs.context, names, n) != 0)
        throw std::runtime_error("server list failed");
    });
    std::printf("whole list of the context: %d servers in %.1f ms (first call)\n", n, whole * 1e3);
    // One pass of each outside the measurement.
    CheckerLists(rigs);
    BareLists(rigs);
    g_rigs = &rigs;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_rigs = nullptr;
    if (!g_ratios.empty())
      std::printf(
          "%zu pairs: checker median %.1f us, bare median %.1f us; median of the per-pair "
          "ratios checker/bare = %.3f\n",
          g_ratios.size(), Median(g_checker) * 1e6, Median(g_bare) * 1e6, Median(g_ratios));
  } catch (const std::exception& e) {
    std::printf("benchmark failed: %s\n", e.what());
    rc = 1;
  } catch (const Tango::DevFailed& e) {
    std::printf("benchmark failed: %s\n",
                e.errors.length() > 0 ? e.errors[0].desc.in() : "Tango error");
    rc = 1;
  }
  return rc;
}
