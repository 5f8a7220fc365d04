#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "access/ClientLibrary.h"
#include "access/ForwardingControl.h"

namespace dsc::ui {

// One worker thread for the calls that may block (a synchronous access to a
// hung server, a namespace query). The GUI thread hands a call over and keeps
// its event loop running until the call returns, so the window repaints and
// answers clicks meanwhile; the caller still sees an ordinary blocking call.
// Calls run one at a time in the order given: the control system is never
// used from two threads at once.
class BlockingCalls {
 public:
  BlockingCalls();
  ~BlockingCalls();  // waits for the call under way, if any
  BlockingCalls(const BlockingCalls&) = delete;
  BlockingCalls& operator=(const BlockingCalls&) = delete;

  // Runs `call` on the worker; returns when it has returned, rethrowing what
  // it threw. Events are processed while it runs (not before: a call that
  // returns within a few milliseconds costs no event processing).
  void Run(const std::function<void()>& call);

  // Calls handed over and not yet returned: events processed meanwhile run
  // inside one of them.
  int depth() const { return depth_; }
  // Runs every call on the caller's thread instead, for a control system
  // whose calls never wait (the in-process simulation): a hand-over to the
  // worker costs more than such a call.
  void setInline(bool runInline) { inline_ = runInline; }
  bool runsInline() const { return inline_; }

  // Run before events are first processed inside a call (to bring the
  // window up to date with what the caller wrote so far).
  void setBeforeWait(std::function<void()> hook) { beforeWait_ = std::move(hook); }

  // A call made on the worker itself (from inside a call handed over, such as
  // a whole run) runs there at once: the control system stays on one thread.
  bool onWorker() const { return thread_.get_id() == std::this_thread::get_id(); }
  // How long the call the worker makes of its own has been under way, in
  // whole milliseconds; 0 when none is.
  int64_t innerCallMs() const;
  // Called on the worker between the steps of a long call: runs the calls
  // the caller's thread handed over meanwhile, in order.
  void ServeQueued();
  // While the worker waits for the caller's thread (an answer it asked for),
  // the calls made there run at once instead of waiting for the worker.
  void setWorkerParked(bool parked) { parked_.store(parked, std::memory_order_release); }

 private:
  struct Job;
  void Work();
  static void Finish(Job& job);
  std::shared_ptr<Job> TakeQueued();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<Job>> queue_;
  std::atomic<int> queued_ = 0;  // queue_.size(), for the worker's spin
  bool workerSleeping_ = false;  // the worker waits on wake_ (under mutex_)
  bool quit_ = false;
  int depth_ = 0;
  bool inline_ = false;
  std::atomic<bool> parked_ = false;
  std::atomic<int64_t> innerSince_ = 0;  // steady clock, ns; 0: no call of the worker's own
  std::function<void()> beforeWait_;
  // Started by the first call handed over: a window on a control system whose
  // calls run inline never needs it, and no window waits for it to start.
  std::thread thread_;
};

// Zorbel1 with its accesses run through BlockingCalls. Names, modes and the
// status text stay on the caller's thread (they only store and read values);
// ExecuteAccess, StartAccess and ProcessEvents may wait on the network and go
// to the worker. Completion events that the inner control raises there are
// kept and handed to the handler on the caller's thread before ProcessEvents
// returns: they still arrive only when the engine pumps.
class OffThreadControl final : public ForwardingControl {
 public:
  OffThreadControl(std::unique_ptr<DataAcquisitionControl> control, BlockingCalls& calls);
  ~OffThreadControl() override;

  int32_t ExecuteAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                        std::span<const uint8_t> in, int32_t inCount, int16_t inFormat) override;
  int32_t StartAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                      std::span<const uint8_t> in, int32_t inCount, int16_t inFormat) override;
  void setCompletionHandler(CompletionHandler handler) override { handler_ = std::move(handler); }
  void ProcessEvents() override;
  // What the runner was told the last failed access of the current one means
  // (None until it asks): the window's Link Error box offers a way out when
  // a server keeps not answering.
  AccessFailure FailureOf(int32_t code, bool refusedAtStart) const override {
    lastFailure_ = ForwardingControl::FailureOf(code, refusedAtStart);
    return lastFailure_;
  }
  AccessFailure lastFailure() const { return lastFailure_; }

 private:
  BlockingCalls& calls_;
  mutable AccessFailure lastFailure_ = AccessFailure::None;
  CompletionHandler handler_;
  std::vector<std::pair<int32_t, int32_t>> raised_;  // written on the worker only
};

// The client library with every call run through BlockingCalls. Remembers the
// last failed code, so that the window can say why a list could not be read.
class OffThreadLibrary final : public ClientLibrary {
 public:
  OffThreadLibrary(std::unique_ptr<ClientLibrary> inner, BlockingCalls& calls)
      : inner_(std::move(inner)), calls_(calls) {}

  int16_t T_EXECLINK(const std::string& device, const std::string& property, DataDescriptor& out,
                     std::span<uint8_t> outData, const DataDescriptor& in,
                     std::span<const uint8_t> inData, int16_t access, int32_t timeoutMs) override;
  int16_t EXECLINKEx(const std::string& device, const std::string& property, DataDescriptor& out,
                     std::span<uint8_t> outData, const DataDescriptor& in,
                     std::span<const uint8_t> inData, int16_t access, int32_t timeoutMs) override;
  int16_t T_GETCONTEXTS(std::span<uint8_t> names, int32_t& count) override;
  int16_t RPCERR(int16_t code, std::span<char> text) override;
  bool FindNames(std::string& context, std::string& server, std::string& device,
                 int16_t* code = nullptr) override;
  LongNames LongNameOf(const std::string& context, const std::string& server,
                       const std::string& device) override;
  void setDatabaseDirectory(const std::string& path) override {
    inner_->setDatabaseDirectory(path);
  }

  ClientLibrary& inner() { return *inner_; }
  int16_t lastFailure() const { return lastFailure_; }

 private:
  int16_t Noted(int16_t code) {
    if (code != 0) lastFailure_ = code;
    return code;
  }
  std::unique_ptr<ClientLibrary> inner_;
  BlockingCalls& calls_;
  int16_t lastFailure_ = 0;
};

}  // namespace dsc::ui
