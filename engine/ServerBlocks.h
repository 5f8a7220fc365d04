#pragma once

// Servers side by side: each is checked on a lane of its own (its own
// session, runner and control, on a thread of its own), and everything it
// says (events for the outputs, report lines, terminal lines) is recorded in
// its block. The blocks are delivered on the thread that owns the outputs, in
// the servers' order, each as soon as it and those before it are done, so the
// outputs read as if the servers had been checked one after the other.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/RunEvents.h"

namespace dsc {

// What one server said, in the order it said it.
class ServerBlock {
 public:
  void Add(std::function<void()> step) { steps_.push_back(std::move(step)); }
  // Runs the steps on the calling thread and forgets them.
  void Deliver();

 private:
  std::vector<std::function<void()>> steps_;
};

// A lane's observer: records each event of the lane's runs into the current
// block, to be delivered to `targets` (the run's own observers). The event's
// texts and command are copied: the runner's live only as long as the call.
class BlockRecorder final : public RunObserver {
 public:
  explicit BlockRecorder(std::vector<RunObserver*> targets) : targets_(std::move(targets)) {}
  ServerBlock* block = nullptr;
  // What a command's outputs need from the lane beyond the event (the facts
  // its control kept of the access): taken when the command ends, run just
  // before the ended command is delivered.
  std::function<std::function<void()>(const CommandOutcome&)> keep;

  void ServerStarted(const std::string& context, const std::string& server,
                     int32_t planned) override;
  void ServerNotPrepared(const std::string& context, const std::string& server,
                         const std::string& reason) override;
  void CommandStarted(int32_t index, const TestCommand& command) override;
  void CommandEnded(const CommandOutcome& outcome) override;
  void ServerEnded(const RunSummary& summary) override;

 private:
  std::vector<RunObserver*> targets_;
};

// Calls work(lane, index, block) for every index from 0 to count - 1 on up to
// `lanes` threads (lane from 0 to lanes - 1; a lane checks one server at a
// time) and delivers the blocks on the calling thread in index order. Once
// stopped() is true no further index is started and the blocks after the
// first one not started are not delivered. `waiting` runs on the calling
// thread about every 50 ms while a block is awaited (to pass a stop request
// on to the lanes). An exception thrown by work ends the run as stopped and
// is thrown again here once every lane has ended.
void RunInBlocks(int32_t count, int32_t lanes,
                 const std::function<void(int32_t lane, int32_t index, ServerBlock& block)>& work,
                 const std::function<bool()>& stopped, const std::function<void()>& waiting = {});

}  // namespace dsc
