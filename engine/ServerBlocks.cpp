#include "engine/ServerBlocks.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace dsc {

void ServerBlock::Deliver() {
  // Moved out first: a step may add to a block again (it never does to its own).
  std::vector<std::function<void()>> steps = std::move(steps_);
  steps_.clear();
  for (auto& step : steps) step();
}

void BlockRecorder::ServerStarted(const std::string& context, const std::string& server,
                                  int32_t planned) {
  block->Add([t = targets_, context, server, planned] {
    for (RunObserver* o : t) o->ServerStarted(context, server, planned);
  });
}

void BlockRecorder::ServerNotPrepared(const std::string& context, const std::string& server,
                                      const std::string& reason) {
  block->Add([t = targets_, context, server, reason] {
    for (RunObserver* o : t) o->ServerNotPrepared(context, server, reason);
  });
}

void BlockRecorder::CommandStarted(int32_t index, const TestCommand& command) {
  block->Add([t = targets_, index, command] {
    for (RunObserver* o : t) o->CommandStarted(index, command);
  });
}

void BlockRecorder::CommandEnded(const CommandOutcome& outcome) {
  auto command = outcome.command ? std::make_shared<const TestCommand>(*outcome.command) : nullptr;
  std::function<void()> kept = keep ? keep(outcome) : nullptr;
  block->Add([t = targets_, outcome, command, kept] {
    CommandOutcome o = outcome;
    o.command = command.get();
    if (kept) kept();
    for (RunObserver* r : t) r->CommandEnded(o);
  });
}

void BlockRecorder::ServerEnded(const RunSummary& summary) {
  block->Add([t = targets_, summary] {
    for (RunObserver* o : t) o->ServerEnded(summary);
  });
}

void RunInBlocks(int32_t count, int32_t lanes,
                 const std::function<void(int32_t lane, int32_t index, ServerBlock& block)>& work,
                 const std::function<bool()>& stopped, const std::function<void()>& waiting) {
  if (count <= 0) return;
  lanes = std::clamp(lanes, 1, count);
  std::vector<ServerBlock> blocks(static_cast<size_t>(count));
  // Per index: 0 not started, 1 under way, 2 done.
  std::vector<int> state(static_cast<size_t>(count), 0);
  std::mutex mutex;
  std::condition_variable changed;
  int32_t next = 0;
  bool failed = false;
  std::exception_ptr error;

  auto lane = [&](int32_t laneIndex) {
    for (;;) {
      int32_t index;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (failed || next >= count || stopped()) return;
        index = next++;
        state[static_cast<size_t>(index)] = 1;
      }
      try {
        work(laneIndex, index, blocks[static_cast<size_t>(index)]);
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!failed) error = std::current_exception();
        failed = true;
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        state[static_cast<size_t>(index)] = 2;
      }
      changed.notify_all();
    }
  };
  // However the delivery ends (an output may throw), the lanes stop taking
  // servers and are waited for.
  struct Lanes {
    std::vector<std::thread> threads;
    std::mutex& mutex;
    bool& failed;
    ~Lanes() {
      {
        std::lock_guard<std::mutex> lock(mutex);
        failed = true;
      }
      for (std::thread& t : threads) t.join();
    }
  } running{{}, mutex, failed};
  running.threads.reserve(static_cast<size_t>(lanes));
  for (int32_t i = 0; i < lanes; ++i) running.threads.emplace_back(lane, i);

  for (int32_t i = 0; i < count; ++i) {
    std::unique_lock<std::mutex> lock(mutex);
    // Not started and no lane left to start it: a stop or a failure.
    auto settled = [&] {
      return state[static_cast<size_t>(i)] == 2 ||
             (state[static_cast<size_t>(i)] == 0 && (failed || stopped()));
    };
    while (!settled()) {
      changed.wait_for(lock, std::chrono::milliseconds(50));
      if (waiting && !settled()) {
        lock.unlock();
        waiting();
        lock.lock();
      }
    }
    if (state[static_cast<size_t>(i)] != 2) break;
    lock.unlock();
    blocks[static_cast<size_t>(i)].Deliver();
  }
  for (std::thread& t : running.threads) t.join();
  running.threads.clear();
  if (error) std::rethrow_exception(error);
}

}  // namespace dsc
