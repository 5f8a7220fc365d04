#include "ui/OffThread.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

namespace dsc::ui {

namespace {
// A call that returns within this time is waited for without processing
// events: most accesses take microseconds, and an event loop per access would
// cost more than the access.
constexpr auto kQuietWait = std::chrono::milliseconds(20);

// A call that returns within this time is waited for by spinning: most
// simulated or local accesses take a few microseconds, and putting the
// caller to sleep and waking it again costs more than that.
constexpr auto kSpinWait = std::chrono::microseconds(50);
// After a call the worker looks for the next one this long before it
// sleeps: a run hands its accesses over a few microseconds apart, and a
// worker woken from sleep for each costs ten times what the access does.
constexpr auto kWorkerSpin = std::chrono::microseconds(30);

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Yields until `ready` or until `limit` has passed. A yield, not a busy
// pause: on a loaded machine the thread waited for may be queued behind
// the spinning one on the same core.
template <class Ready>
void SpinFor(std::chrono::microseconds limit, Ready ready) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!ready() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
}
}  // namespace

struct BlockingCalls::Job {
  const std::function<void()>* call = nullptr;
  std::exception_ptr error;
  std::mutex mutex;
  std::condition_variable done_cv;
  std::atomic<bool> done = false;
  bool sleeping = false;       // the caller waits on done_cv (under mutex)
  QEventLoop* loop = nullptr;  // set while the caller processes events
};

BlockingCalls::BlockingCalls() = default;

BlockingCalls::~BlockingCalls() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void BlockingCalls::Finish(Job& job) {
  try {
    (*job.call)();
  } catch (...) {
    job.error = std::current_exception();
  }
  job.done.store(true, std::memory_order_release);
  std::lock_guard lock(job.mutex);
  if (job.sleeping) job.done_cv.notify_one();
  if (job.loop) QMetaObject::invokeMethod(job.loop, &QEventLoop::quit, Qt::QueuedConnection);
}

std::shared_ptr<BlockingCalls::Job> BlockingCalls::TakeQueued() {
  std::shared_ptr<Job> job = std::move(queue_.front());
  queue_.pop_front();
  queued_.fetch_sub(1, std::memory_order_relaxed);
  return job;
}

void BlockingCalls::Work() {
  for (;;) {
    std::shared_ptr<Job> job;
    SpinFor(kWorkerSpin, [this] { return queued_.load(std::memory_order_acquire) > 0; });
    {
      std::unique_lock lock(mutex_);
      workerSleeping_ = true;
      wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
      workerSleeping_ = false;
      if (queue_.empty()) return;
      job = TakeQueued();
    }
    Finish(*job);
  }
}

void BlockingCalls::ServeQueued() {
  while (queued_.load(std::memory_order_acquire) > 0) {
    std::shared_ptr<Job> job;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      job = TakeQueued();
    }
    Finish(*job);
  }
}

int64_t BlockingCalls::innerCallMs() const {
  const int64_t since = innerSince_.load(std::memory_order_acquire);
  if (since == 0) return 0;
  const int64_t now = NowNs();
  return std::max<int64_t>(0, (now - since) / 1000000);
}

void BlockingCalls::Run(const std::function<void()>& call) {
  if (inline_ || parked_.load(std::memory_order_acquire)) {
    call();
    return;
  }
  if (onWorker()) {
    const int64_t outer = innerSince_.exchange(NowNs(), std::memory_order_acq_rel);
    struct Restore {
      std::atomic<int64_t>& since;
      int64_t outer;
      ~Restore() { since.store(outer, std::memory_order_release); }
    } restore{innerSince_, outer};
    call();
    return;
  }
  if (!thread_.joinable()) thread_ = std::thread([this] { Work(); });
  auto job = std::make_shared<Job>();
  job->call = &call;
  bool sleeping = false;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(job);
    queued_.fetch_add(1, std::memory_order_release);
    sleeping = workerSleeping_;
  }
  // A worker still looking for work takes the call without being woken.
  if (sleeping) wake_.notify_one();
  ++depth_;
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{depth_};

  SpinFor(kSpinWait, [&] { return job->done.load(std::memory_order_acquire); });
  std::unique_lock lock(job->mutex);
  job->sleeping = true;
  if (!job->done_cv.wait_for(lock, kQuietWait - kSpinWait, [&] { return job->done.load(); })) {
    if (beforeWait_) {
      lock.unlock();
      beforeWait_();
      lock.lock();
    }
    QEventLoop loop;
    job->loop = &loop;
    while (!job->done) {
      lock.unlock();
      // Quit is posted once the call is done; an application that is quitting
      // leaves exec() at once, so the wait goes on without spinning, still
      // answering what the call asks of this thread (a run on the worker).
      loop.exec();
      if (!job->done) QCoreApplication::sendPostedEvents();
      lock.lock();
      if (!job->done) job->done_cv.wait_for(lock, std::chrono::milliseconds(10));
    }
    job->loop = nullptr;
  }
  lock.unlock();
  if (job->error) std::rethrow_exception(job->error);
}

OffThreadControl::OffThreadControl(std::unique_ptr<DataAcquisitionControl> control,
                                   BlockingCalls& calls)
    : ForwardingControl(std::move(control)), calls_(calls) {
  inner().setCompletionHandler(
      [this](int32_t ignored, int32_t code) { raised_.emplace_back(ignored, code); });
}

OffThreadControl::~OffThreadControl() {
  try {
    inner().setCompletionHandler({});
  } catch (...) {
    // Nothing is left to call back into.
  }
}

int32_t OffThreadControl::ExecuteAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                                        std::span<const uint8_t> in, int32_t inCount,
                                        int16_t inFormat) {
  int32_t code = 0;
  lastFailure_ = AccessFailure::None;
  calls_.Run(
      [&] { code = inner().ExecuteAccess(out, outCount, outFormat, in, inCount, inFormat); });
  return code;
}

int32_t OffThreadControl::StartAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                                      std::span<const uint8_t> in, int32_t inCount,
                                      int16_t inFormat) {
  int32_t code = 0;
  lastFailure_ = AccessFailure::None;
  calls_.Run([&] { code = inner().StartAccess(out, outCount, outFormat, in, inCount, inFormat); });
  return code;
}

void OffThreadControl::ProcessEvents() {
  calls_.Run([this] { inner().ProcessEvents(); });
  // Handed over on this thread, in the order raised; a handler that pumps
  // again sees only what is raised later.
  auto raised = std::move(raised_);
  raised_.clear();
  for (const auto& [ignored, code] : raised)
    if (handler_) handler_(ignored, code);
}

int16_t OffThreadLibrary::T_EXECLINK(const std::string& device, const std::string& property,
                                     DataDescriptor& out, std::span<uint8_t> outData,
                                     const DataDescriptor& in, std::span<const uint8_t> inData,
                                     int16_t access, int32_t timeoutMs) {
  int16_t code = 0;
  calls_.Run([&] {
    code = inner_->T_EXECLINK(device, property, out, outData, in, inData, access, timeoutMs);
  });
  return Noted(code);
}

int16_t OffThreadLibrary::EXECLINKEx(const std::string& device, const std::string& property,
                                     DataDescriptor& out, std::span<uint8_t> outData,
                                     const DataDescriptor& in, std::span<const uint8_t> inData,
                                     int16_t access, int32_t timeoutMs) {
  int16_t code = 0;
  calls_.Run([&] {
    code = inner_->EXECLINKEx(device, property, out, outData, in, inData, access, timeoutMs);
  });
  return Noted(code);
}

int16_t OffThreadLibrary::T_GETCONTEXTS(std::span<uint8_t> names, int32_t& count) {
  int16_t code = 0;
  calls_.Run([&] { code = inner_->T_GETCONTEXTS(names, count); });
  return Noted(code);
}

int16_t OffThreadLibrary::RPCERR(int16_t code, std::span<char> text) {
  int16_t result = 0;
  calls_.Run([&] { result = inner_->RPCERR(code, text); });
  return result;
}

// The long names come from the control system too, so they are asked on the
// worker like every other call.
bool OffThreadLibrary::FindNames(std::string& context, std::string& server, std::string& device,
                                 int16_t* code) {
  bool found = false;
  calls_.Run([&] { found = inner_->FindNames(context, server, device, code); });
  return found;
}

ClientLibrary::LongNames OffThreadLibrary::LongNameOf(const std::string& context,
                                                      const std::string& server,
                                                      const std::string& device) {
  LongNames names;
  calls_.Run([&] { names = inner_->LongNameOf(context, server, device); });
  return names;
}

}  // namespace dsc::ui
