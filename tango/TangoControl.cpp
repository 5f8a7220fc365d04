// Zorbel1 over Tango.

#include <algorithm>

#include "access/CompletionCodes.h"
#include "access/NamedControl.h"
#include "base/Formats.h"
#include "tango/TangoFacts.h"
#include "tango/TangoSystem.h"

namespace dsc::tango {

namespace {

// Zorbel1 over Tango. A synchronous access completes inside the call, bounded
// by LinkTimeout through the proxy's own time-out. POLL and REFRESH read
// again each pollMs of the context; the reads happen, and their completion
// events reach the handler, only inside ProcessEvents, so nothing arrives
// behind the engine's back. REFRESH reads like POLL and reports only a
// changed value: Tango's change events would need polling configured in the
// server, which a checker has no business changing.
class TangoControl final : public NamedControl {
 public:
  explicit TangoControl(std::shared_ptr<TangoSystem> system) : system_(std::move(system)) {}

  std::vector<ErrorFrame> ErrorStack() const override {
    return last_.code != 0 ? last_.stack : std::vector<ErrorFrame>{};
  }

  std::string SuccessNote() const override { return last_.code == 0 ? last_.detail : ""; }

  ValueFacts LastValueFacts() const override {
    ValueFacts facts = last_.facts;
    if (last_.text) facts.lines = LinesOf(*last_.text);
    return facts;
  }

  bool LastFailureRepeated() const override { return last_.code != 0 && last_.reconnectDelayed; }

  void setTolerance(const std::string& tolerance) override { tolerance_ = tolerance; }

  std::string StatusText() const override {
    if (last_.code != 0 && !last_.detail.empty()) return last_.detail;
    auto it = ErrorTexts().find(last_.code);
    if (it != ErrorTexts().end()) return it->second;
    return "completion code " + std::to_string(last_.code);
  }

  int32_t ExecuteAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                        std::span<const uint8_t> in, int32_t inCount, int16_t inFormat) override {
    // The last text array read goes first: else two of them (a string
    // image can hold 63001 lines) would be held at once by every lane.
    last_.text.reset();
    DeviceEntry* e = system_->Device(context_, server_, device_, last_);
    if (e)
      last_ = system_->Access(*e, property_, out, outCount, outFormat, in, inCount, inFormat,
                              linkTimeout_, tolerance_);
    return last_.code;
  }

  int32_t StartAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                      std::span<const uint8_t> in, int32_t inCount, int16_t inFormat) override {
    StopAccess();
    last_.text.reset();
    Pending& a = pending_;
    a.entry = system_->Device(context_, server_, device_, last_);
    if (!a.entry) return -last_.code;
    a.Begin(out, outCount, outFormat, DeliveryOfMode(), a.entry->context->pollMs);
    a.property = property_;
    a.timeoutMs = linkTimeout_;
    a.input.clear();
    a.resend = false;
    if (inCount > 0 && FormatElementSize(inFormat) > 0) {
      // The input goes out now; its answer is the first delivery. A command
      // that takes input gets the same input at every later poll.
      const size_t bytes =
          std::min(in.size(),
                   static_cast<size_t>(inCount) * static_cast<size_t>(FormatElementSize(inFormat)));
      a.input.assign(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(bytes));
      a.inCount = inCount;
      a.inFormat = inFormat;
      a.firstAnswer.assign(OutputBytes(out, outCount, outFormat), 0);
      last_ = system_->Access(*a.entry, a.property, a.firstAnswer, outCount, outFormat, a.input,
                              inCount, inFormat, linkTimeout_);
      if (last_.code != 0) return -last_.code;
      a.haveFirstAnswer = true;
      const Property* p = system_->FindProperty(*a.entry, a.property, linkTimeout_);
      a.resend = p && p->command && p->commandInfo.in_type != Tango::DEV_VOID;
    }
    a.dueMs = system_->clock().MonotonicMs();
    a.active = true;
    last_ = {};
    return 0;
  }

  void StopAccess() override { pending_.Stop(); }

  void ProcessEvents() override {
    Pending& a = pending_;
    if (!a.active) return;
    const int64_t now = system_->clock().MonotonicMs();
    if (now < a.dueMs) return;
    const size_t bytes = OutputBytes(a.out, a.outCount, a.outFormat);
    Outcome o;
    if (a.haveFirstAnswer) {
      scratch_ = a.firstAnswer;
      a.haveFirstAnswer = false;
    } else {
      scratch_.assign(bytes, 0);
      const std::span<const uint8_t> input =
          a.resend ? std::span<const uint8_t>(a.input) : std::span<const uint8_t>();
      o = system_->Access(*a.entry, a.property, scratch_, a.outCount, a.outFormat, input,
                          a.resend ? a.inCount : 0, a.resend ? a.inFormat : kFormatNull,
                          a.timeoutMs);
    }
    // The next read is a period after this one ended, so a slow server is
    // not asked again before it has answered.
    a.dueMs = system_->clock().MonotonicMs() + a.periodMs;
    if (!a.Take(o.code, scratch_)) return;
    last_ = o;
    if (handler_) handler_(0, o.code);
  }

 private:
  struct Pending : AsyncAccess {
    DeviceEntry* entry = nullptr;
    std::string property;
    int32_t timeoutMs = 0;
    std::vector<uint8_t> input;  // sent again at every poll when `resend`
    int32_t inCount = 0;
    int16_t inFormat = kFormatNull;
    bool resend = false;
  };

  std::shared_ptr<TangoSystem> system_;
  Outcome last_;
  std::string tolerance_;
  Pending pending_;
  std::vector<uint8_t> scratch_;
};

}  // namespace

std::unique_ptr<DataAcquisitionControl> MakeTangoControl(TangoLibrary& library) {
  return std::make_unique<TangoControl>(library.system());
}

}  // namespace dsc::tango
