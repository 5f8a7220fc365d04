#include "ui/OffThread.h"

#include <gtest/gtest.h>

#include "access/NamedControl.h"
#include "tests/ui/QtTestSupport.h"

namespace dsc::ui {
namespace {

// Notes the thread of every access and pump; each pump raises one completion
// (7, 36) per access started since the last.
class ThreadNoting final : public NamedControl {
 public:
  std::vector<std::thread::id> threads;
  int started = 0;
  CompletionHandler handler;

  std::string StatusText() const override { return {}; }
  std::string SuccessNote() const override { return "ON"; }  // a Tango state's name, say
  int32_t ExecuteAccess(std::span<uint8_t>, int32_t, int16_t, std::span<const uint8_t>, int32_t,
                        int16_t) override {
    threads.push_back(std::this_thread::get_id());
    return 0;
  }
  int32_t StartAccess(std::span<uint8_t> out, int32_t oc, int16_t of, std::span<const uint8_t> in,
                      int32_t ic, int16_t inf) override {
    ++started;
    return ExecuteAccess(out, oc, of, in, ic, inf);
  }
  void StopAccess() override {}
  void setCompletionHandler(CompletionHandler h) override { handler = std::move(h); }
  void ProcessEvents() override {
    threads.push_back(std::this_thread::get_id());
    for (; started > 0; --started) handler(7, 36);
  }
};

// What may wait on the network runs on the worker; the engine's handler sees
// the completions raised there on its own thread, as raised, when it pumps.
TEST(OffThreadControl, AccessesRunOnTheWorkerAndCompletionsReachTheCallersThread) {
  dsc::testing::QtApp();
  BlockingCalls calls;
  auto owned = std::make_unique<ThreadNoting>();
  const ThreadNoting& inner = *owned;
  OffThreadControl control(std::move(owned), calls);
  std::vector<std::tuple<int32_t, int32_t, std::thread::id>> completions;
  control.setCompletionHandler([&](int32_t ignored, int32_t code) {
    completions.emplace_back(ignored, code, std::this_thread::get_id());
  });
  uint8_t area[8] = {};
  control.ExecuteAccess(area, 1, kFormatDouble, {}, 0, kFormatNull);
  control.StartAccess(area, 1, kFormatDouble, {}, 0, kFormatNull);
  control.ProcessEvents();
  const std::thread::id caller = std::this_thread::get_id();
  ASSERT_EQ(inner.threads.size(), 3u);
  for (const std::thread::id worker : inner.threads) EXPECT_NE(worker, caller);
  EXPECT_EQ(completions, (std::vector{std::tuple{7, 36, caller}}));
  EXPECT_EQ(control.SuccessNote(), "ON");
}

}  // namespace
}  // namespace dsc::ui
