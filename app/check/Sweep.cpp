// Sweeps: many servers of a site in one run, into one report.
#include <algorithm>
#include <iostream>
#include <mutex>

#include "access/CompletionCodes.h"
#include "access/NamespaceQueries.h"
#include "app/check/Commands.h"
#include "sources/SiteSweep.h"

namespace dsc::check {

namespace {

// How one server of a sweep went, for the site summary.
enum class ServerVerdict { Passed, Failed, NotRunning, Hung, NotPrepared };

// The servers of a selection that this shard checks.
std::vector<SweepServer> InShard(std::vector<SweepServer> servers, const Shard& shard) {
  std::erase_if(servers, [&](const SweepServer& s) {
    return !shard.Holds(ShardKey(s.context, s.server, s.longName));
  });
  return servers;
}

// One server of a sweep, at `at`: the checker itself (one server at a time)
// or a lane (servers side by side), which offer the same calls. The
// standard test of every chosen device (standard: true), or the specific
// test; a server that does not answer its information is one outcome, not
// one per property.
template <class Where>
ServerVerdict CheckServer(Where& at, const SweepServer& s, bool standard, int32_t infoTimeoutMs) {
  CheckerSession& session = at.session();
  TestSources& sources = at.sources();
  ClientLibrary& lib = at.lib();
  at.Line("");
  const std::string name = "/" + s.context + "/" + s.server;
  const std::string shown = name + (s.longName.empty() ? "" : " (" + s.longName + ")");
  // Named before its information is read: a hung server's wait shows whose it is.
  at.Line("Server " + shown);
  const CheckTotals before = at.totals();
  const int64_t startMs = UnixMs();
  session.serverInfoText.clear();
  int16_t code = 0;
  const std::string info = sources.GetServerInfo(s.context, s.server, &code);
  ServerVerdict verdict = ServerVerdict::Passed;
  if (code == kCodeServerUnavailable45 || code == kCodeServerUnavailable98) {
    // Both say "server not answering"; a process that hangs lets the read
    // run into its time-out, one that is not running is refused at once.
    const bool hung = UnixMs() - startMs >= infoTimeoutMs / 2;
    verdict = hung ? ServerVerdict::Hung : ServerVerdict::NotRunning;
    const std::string why =
        (hung ? "server hung: no answer within " + std::to_string(infoTimeoutMs) + " ms"
              : std::string("server not running")) +
        " (" + GetErrorString(lib, code) + ")";
    session.report.AddToReport("Sweep of " + shown + " : " + why, true);
    at.PreparationFailed(s.context, s.server, why, false);
    return verdict;
  }
  session.serverInfoText = info;
  if (standard) {
    if (s.devices.empty()) at.PreparationFailed(s.context, s.server, "no devices", false);
    bool infoShown = false;
    for (const std::string& d : s.devices) {
      if (at.stopped()) break;
      const std::string longName = lib.LongNameOf(s.context, s.server, d).name;
      const std::string device =
          name + "/" + d + (longName.empty() || longName == d ? "" : " (" + longName + ")");
      session.report.AddToReport("Device " + device, false);
      code = sources.initStdTest(s.context, s.server, d);
      if (code != 0) {
        at.PreparationFailed(s.context, s.server,
                             "no property list for " + name + "/" + d + ": " +
                                 GetErrorString(lib, code) + " (code " + std::to_string(code) + ")",
                             false);
        continue;
      }
      // The server's information once, then one line per device.
      const std::string& caption = session.checkerCaption;
      const std::string& info = session.serverInfoText;
      at.Line((infoShown ? "" : info) + "Device " + device + ": " + caption.substr(info.size()));
      infoShown = true;
      at.Run(s.context, s.server);
      // A server that stopped answering during one device is not asked
      // about the others: each would cost its time-outs again.
      if (at.gaveUp() && &d != &s.devices.back()) {
        session.report.AddToReport(
            "Remaining devices of " + name + " not run : server not answering", true);
        at.Line("Remaining devices not run: server not answering");
        return ServerVerdict::Hung;
      }
    }
  } else {
    at.run().RunSpecific(s.context, s.server, "#0");
  }
  const CheckTotals& after = at.totals();
  if (after.failed + after.errors > before.failed + before.errors) return ServerVerdict::Failed;
  if (after.notPrepared > before.notPrepared) return ServerVerdict::NotPrepared;
  return verdict;
}

// The servers in turn, or up to `jobs` at once, into one report; closes
// with the site summary: how many servers passed, failed, were not running,
// hung or could not be prepared, and the slowest ones.
int Sweep(Checker& checker, const std::vector<SweepServer>& servers, bool standard, int jobs) {
  CheckerSession& session = checker.session();
  session.report.reportFileName.clear();
  const int32_t infoTimeoutMs =
      checker.sources().readTimeoutMs > 0 ? checker.sources().readTimeoutMs : 500;
  int32_t counts[5] = {};
  std::vector<std::pair<int64_t, std::string>> times;
  auto done = [&](const SweepServer& s, ServerVerdict verdict, int64_t ms) {
    ++counts[static_cast<int>(verdict)];
    times.emplace_back(ms, "/" + s.context + "/" + s.server);
    checker.progress().ServerDone(verdict != ServerVerdict::Passed);
  };
  checker.run().Begin({"", "sweep", static_cast<int32_t>(servers.size())});
  checker.progress().Start(static_cast<int32_t>(servers.size()));
  jobs = std::min<int>(jobs, static_cast<int>(servers.size()));
  if (jobs > 1) jobs = checker.OpenLanes(jobs);
  if (jobs <= 1) {
    for (const SweepServer& s : servers) {
      if (checker.stopped()) break;
      const int64_t startMs = UnixMs();
      const ServerVerdict verdict = CheckServer(checker, s, standard, infoTimeoutMs);
      done(s, verdict, UnixMs() - startMs);
    }
  } else {
    // Each lane's session hears of a stop when its next server starts, and
    // from the waiting loop while one is under way.
    std::vector<Lane*> lanes(static_cast<size_t>(jobs), nullptr);
    std::mutex mutex;
    RunInBlocks(
        static_cast<int32_t>(servers.size()), jobs,
        [&](int32_t i, int32_t index, ServerBlock& block) {
          Lane& lane = checker.LaneFor(i, block);
          {
            const std::lock_guard lock(mutex);
            lanes[static_cast<size_t>(i)] = &lane;
          }
          if (const char* line = session.stop.line()) lane.session().stop.Request(line);
          const SweepServer& s = servers[static_cast<size_t>(index)];
          const int64_t startMs = UnixMs();
          const ServerVerdict verdict = CheckServer(lane, s, standard, infoTimeoutMs);
          block.Add([&done, &s, verdict, ms = UnixMs() - startMs] { done(s, verdict, ms); });
        },
        [&] { return checker.stopped(); },
        [&] {
          const char* line = session.stop.line();
          if (!line) return;
          const std::lock_guard lock(mutex);
          for (Lane* lane : lanes)
            if (lane) lane->session().stop.Request(line);
        });
  }
  std::stable_sort(times.begin(), times.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::string slowest;
  for (size_t i = 0; i < times.size() && i < 5; ++i)
    slowest += (i ? ", " : "") + times[i].second + " " + std::to_string(times[i].first) + " ms";
  const std::string summary =
      std::to_string(times.size()) + " servers: " + std::to_string(counts[0]) + " passed, " +
      std::to_string(counts[1]) + " failed, " + std::to_string(counts[2]) + " not running, " +
      std::to_string(counts[3]) + " hung, " + std::to_string(counts[4]) + " not prepared";
  session.report.AddToReport("Site summary : " + summary, true);
  if (!slowest.empty()) session.report.AddToReport("Slowest servers : " + slowest, true);
  checker.Line("");
  checker.Line("Site: " + summary);
  if (!slowest.empty()) checker.Line("Slowest: " + slowest);
  return checker.Finish();
}

}  // namespace

std::optional<int> RunSweep(Checker& checker, const CommandLine& cl) {
  const std::vector<std::string>& typed = cl.typed;
  std::string context, server, device = "#0", error;
  std::optional<SweepSelection> chosen;
  if (*cl.sweep) {
    chosen = SelectServers(checker.lib(), cl.sweepNames, true);
  } else if ((*cl.info || *cl.standard || *cl.specific) && typed.size() <= 2) {
    const bool pattern = std::any_of(typed.begin(), typed.end(),
                                     [](const std::string& t) { return IsGlobPattern(t); });
    if (*cl.standard && typed.size() == 2 && !pattern) {
      // CONTEXT SERVER: every device of the server.
      Resolve(checker.lib(), typed, false, context, server, device, error);
      SweepSelection one;
      SweepServer& s = one.servers.emplace_back();
      s.context = context;
      s.server = server;
      s.longName = checker.lib().LongNameOf(context, server, "").name;
      std::vector<std::string> devices;
      int16_t n = 0;
      if (GetDeviceNameList(checker.lib(), server, devices, n) == 0)
        s.devices.assign(devices.begin(), devices.begin() + std::max<int16_t>(n, 0));
      chosen = std::move(one);
    } else if (typed.size() == 1 &&
               (pattern || !Resolve(checker.lib(), typed, cl.standard->parsed(), context, server,
                                    device, error))) {
      // Not the one device or server of the single forms: a context, a
      // server's devices, or a pattern. Choosing nothing leaves the single
      // form's message to the caller.
      SweepSelection found = SelectServers(checker.lib(), typed, cl.standard->parsed());
      if (!found.servers.empty() || pattern) chosen = std::move(found);
    } else if (pattern) {
      std::cerr << "ovra-check: a pattern stands alone: one name that holds *, ? or [\n";
      return kExitUsage;
    }
  }
  if (!chosen) return std::nullopt;
  if (chosen->code != 0)
    std::cerr << "ovra-check: " << TerminalText(chosen->failedList) << ": "
              << TerminalText(GetErrorString(checker.lib(), chosen->code)) << " (code "
              << chosen->code << ")\n";
  for (const std::string& name : chosen->unmatched)
    std::cerr << "ovra-check: \"" << TerminalText(name)
              << "\" names or matches no context, server or device\n";
  if (!chosen->unmatched.empty() || chosen->servers.empty()) return kExitUsage;
  const std::vector<SweepServer> servers = InShard(chosen->servers, cl.opt.shardParsed);
  if (*cl.info) {
    int rc = kExitOk;
    for (const SweepServer& s : servers)
      rc = std::max(rc, Info(checker, s.context, s.server, cl.opt.json));
    return rc;
  }
  if (!checker.OpenOutputs()) return kExitUsage;
  checker.ListenForSignals();
  return Sweep(checker, servers, !*cl.specific, checker.JobsOf(true));
}

}  // namespace dsc::check
