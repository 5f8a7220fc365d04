// Discovery from a Tango database holding 500 registered server instances
// with 2000 devices (registered only, none running): the checker's server list
// of the context and one server's device list, against the bare Tango
// database calls that fetch the same data, in pairs of alternating order from
// a random start (bench/Pairs.h). main prints the median of the per-pair
// ratios checker/bare with its quartiles, and the same for the whole list of
// the context from a fresh start, against a fresh bare call.
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
#include "base/Clock.h"
#include "bench/BenchSupport.h"
#include "tango/TangoBackend.h"
#include "tango/TangoSite.h"
#include "tests/support/TangoDatabaseServer.h"

namespace {

using namespace dsc::bench;

constexpr int kServers = 500;
constexpr int kDevicesPerServer = 4;
constexpr int kIterations = 100;
constexpr int kWholeSamples = 15;
const std::string kInstance = "Bench/server250";  // the server whose devices are listed

struct Rigs {
  std::unique_ptr<dsc::tango::TangoLibrary> library;
  std::unique_ptr<Tango::Database> database;
  std::string context, server;
};
Rigs* g_rigs = nullptr;
Pairs g_pairs;
constexpr const char* kFloor = "the bare Tango database calls";
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

void BM_CheckerAndBareDiscovery(benchmark::State& state) {
  Rigs& r = *g_rigs;
  size_t a = 0, b = 0;
  for (auto _ : state)
    state.SetIterationTime(g_pairs.Pair([&] { a = CheckerLists(r); }, [&] { b = BareLists(r); }));
  benchmark::DoNotOptimize(a + b);
  g_pairs.Report(state, kFloor);
}
BENCHMARK(BM_CheckerAndBareDiscovery)
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
    // The whole list of the context, from a checker that has asked nothing
    // yet (a new library: no connection, no list kept), against a new bare
    // database object connecting and fetching every server, in alternating
    // order.
    Pairs whole;
    int16_t n = 0;
    for (int i = 0; i < kWholeSamples; ++i) {
      std::optional<dsc::tango::Site> fresh =
          dsc::tango::SiteFromTangoHosts({db.TangoHost()}, error);
      if (!fresh) throw std::runtime_error(error);
      dsc::tango::TangoLibrary library(std::move(*fresh), clock);
      std::string localhost = "127.0.0.1";
      const int port = library.site().contexts.front().port;
      whole.Pair(
          [&] {
            std::vector<std::string> names;
            if (dsc::GetServerList(library, rigs.context, names, n) != 0)
              throw std::runtime_error("server list failed");
          },
          [&] {
            Tango::Database database(localhost, port);
            std::string all = "*";
            std::vector<std::string> servers;
            database.get_server_list(all) >> servers;
          });
    }
    std::printf(
        "whole list of the context, first call: %d servers, checker median %.1f ms, "
        "bare median %.1f ms; %s\n",
        n, Median(whole.samples) * 1e3, Median(whole.floors) * 1e3,
        RatioText("checker/bare", whole.ratio(),
                  "a new Tango::Database and its get_server_list(\"*\")")
            .c_str());
    // One pass of each outside the measurement.
    CheckerLists(rigs);
    BareLists(rigs);
    g_rigs = &rigs;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_rigs = nullptr;
    std::printf("%zu pairs: checker median %.1f us, bare median %.1f us; %s\n",
                g_pairs.samples.size(), Median(g_pairs.samples) * 1e6, Median(g_pairs.floors) * 1e6,
                RatioText("checker/bare", g_pairs.ratio(), kFloor).c_str());
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
