#pragma once

// One run from start to end, for both programs: a server's test or a stored
// configuration's servers, every output a listener on one observer channel.
// The front ends only say what to run and listen; how the servers are run
// (one after the other today; side by side, one session each, later) and
// what is made of the events (terminal lines, JSON, JUnit, the window's
// summary, an HTML report) is not theirs to know.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/CheckRunner.h"
#include "engine/CheckerSession.h"
#include "engine/Outcome.h"
#include "engine/RunEvents.h"
#include "engine/ServerBlocks.h"
#include "engine/TestPlan.h"

namespace dsc {

// Loads a server's specific test (its self-test list, else its stored test
// file) into the session's plan; the test sources implement it.
class SpecificTestLoader {
 public:
  virtual ~SpecificTestLoader() = default;
  // 0 when the plan holds the server's test; the session's checkerCaption
  // then, or else, says what was loaded or why not.
  virtual int16_t LoadSpecificTest(const std::string& context, const std::string& server,
                                   const std::string& device) = 0;
  // After a load that gave "nothing to load": why, where the loader knows
  // more than the completion code ("more than 32767 records").
  virtual std::string LoadRefusal() const { return {}; }
};

// The last line of a caption: why a test could not be prepared.
std::string PreparationReason(const std::string& caption);
// The loader's refusal, when the caption does not already say it; "" else.
std::string UntoldRefusal(const std::string& caption, const std::string& refusal);

class ConfiguredRun {
 public:
  ConfiguredRun(CheckerSession& session, CheckRunner& runner, SpecificTestLoader& loader);
  ~ConfiguredRun();
  ConfiguredRun(const ConfiguredRun&) = delete;
  ConfiguredRun& operator=(const ConfiguredRun&) = delete;

  // Observers see every event of the run; not owned, they must outlive it.
  void addObserver(RunObserver& observer);

  // What a front end shows between the servers of a run: the caption of a
  // prepared (or refused) test, before its commands run.
  std::function<void(const std::string& context, const std::string& server, bool prepared)>
      serverPrepared;
  // Which servers of a configuration this run checks (a CI shard); all of
  // them when empty.
  std::function<bool(const std::string& context, const std::string& server)> selects;
  // After each server of a configuration: whether anything of it failed.
  std::function<void(bool failed)> serverDone;

  // RunStarted; every later event belongs to this run until End.
  void Begin(const RunInfo& info);
  // The specific test of one server: prepared, then run, or not prepared.
  void RunSpecific(const std::string& context, const std::string& server,
                   const std::string& device);
  // The plan the session holds already (a standard test), on one server.
  void RunPlan(const std::string& context, const std::string& server);
  // A server whose test could not be prepared, for the reason given.
  void NotPrepared(const std::string& context, const std::string& server,
                   const std::string& reason);
  // A stored configuration: RunSpecific for each server in turn until a
  // stop is requested; a configuration without servers is one not prepared.
  void RunConfiguration(const StoredConfig& config, const std::string& noServersReason);
  // The same with up to `jobs` servers at once (1: the call above). Each
  // server runs on a lane: lane(i, block) gives the configured run of the
  // i-th lane (its own session, runner and loader, never shared with
  // another lane), whose observers record into `block` for this run's
  // observers (a BlockRecorder over observers()) and whose serverPrepared
  // does the same. The blocks are delivered in the configuration's order,
  // serverDone after each; a stop request of this run's session reaches the
  // lanes' sessions and no further server starts.
  void RunConfiguration(
      const StoredConfig& config, const std::string& noServersReason, int32_t jobs,
      const std::function<ConfiguredRun&(int32_t lane, ServerBlock& block)>& lane);
  // Everyone listening to this run, this run's own count among them.
  const std::vector<RunObserver*>& observers() const { return observers_; }
  CheckerSession& session() { return session_; }
  // The servers of a configuration that `selects` keeps, in their order.
  std::vector<std::string> SelectedServers(const StoredConfig& config) const;
  // complete (the front end adds what only it knows: the report file, the
  // time, a signal), RunEnding (outputs write their files), decide (the
  // front end's exit status), RunEnded. Returns the totals.
  CheckTotals End(const std::function<void(CheckTotals&)>& complete = {},
                  const std::function<void(CheckTotals&)>& decide = {});

  const CheckTotals& totals() const { return tally_.totals; }
  bool stopped() const { return session_.stop.requested(); }

 private:
  // Counts every ended command and every server not prepared.
  class Tally final : public RunObserver {
   public:
    void CommandEnded(const CommandOutcome& o) override { totals.Count(o.outcome); }
    void ServerNotPrepared(const std::string&, const std::string&, const std::string&) override {
      ++totals.notPrepared;
    }
    CheckTotals totals;
  };

  CheckerSession& session_;
  CheckRunner& runner_;
  SpecificTestLoader& loader_;
  Tally tally_;
  std::vector<RunObserver*> observers_;
};

}  // namespace dsc
