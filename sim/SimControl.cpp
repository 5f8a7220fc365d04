#include <algorithm>
#include <cstring>
#include <limits>

#include "access/CompletionCodes.h"
#include "access/NamedControl.h"
#include "base/Formats.h"
#include "sim/Facility.h"
#include "sim/SimControlSystem.h"
#include "sim/SimCore.h"

namespace dsc::sim {

namespace {

// Zorbel1 over the simulation. Synchronous accesses complete inside the call;
// an asynchronous access is a schedule that ProcessEvents() works off against
// the simulated clock, so nothing reaches the handler behind the caller's back.
class SimControl final : public NamedControl {
 public:
  explicit SimControl(SimControlSystem& system) : core_(system.core()) {}

  std::string StatusText() const override {
    if (code_ != 0 && !detail_.empty()) return detail_;
    if (const std::string* text = core_.ErrorText(code_)) return *text;
    return "completion code " + std::to_string(code_);
  }

  int32_t ExecuteAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                        std::span<const uint8_t> in, int32_t inCount, int16_t inFormat) override {
    BuildAddress();
    SimRequest r{address_, property_, out,      outCount,    outFormat,
                 in,       inCount,   inFormat, linkTimeout_};
    int32_t delivered = 0;
    code_ = core_.Access(r, delivered, &detail_);
    return code_;
  }

  int32_t StartAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                      std::span<const uint8_t> in, int32_t inCount, int16_t inFormat) override {
    StopAccess();
    BuildAddress();
    SimTarget target;
    if (int16_t code = core_.Resolve(address_, property_, target, &detail_)) {
      code_ = code;
      return -std::abs(static_cast<int32_t>(code));
    }
    Pending& a = async_;
    a.device = address_;
    a.property = property_;
    a.Begin(out, outCount, outFormat, DeliveryOfMode(), target.pollMs);
    a.events = target.property ? target.property->events : std::vector<ScriptedEvent>{};
    a.nextEvent = 0;
    if (inCount > 0 && FormatElementSize(inFormat) > 0) {
      // The input goes out at the start; its answer is the first delivery.
      a.firstAnswer.assign(OutputBytes(out, outCount, outFormat), 0);
      SimRequest r{address_, property_, a.firstAnswer,
                   outCount, outFormat, in,
                   inCount,  inFormat,  std::numeric_limits<int32_t>::max()};
      int32_t delivered = 0;
      if (int16_t code = core_.Access(r, delivered, &detail_)) {
        code_ = code;
        return -std::abs(static_cast<int32_t>(code));
      }
      a.haveFirstAnswer = true;
    }
    a.dueMs = core_.clock().MonotonicMs() + target.delayMs;
    a.active = true;
    code_ = kCodeSuccess;
    return 0;
  }

  void StopAccess() override { async_.Stop(); }

  void ProcessEvents() override {
    Pending& a = async_;
    if (!a.active) return;
    int64_t now = core_.clock().MonotonicMs();
    if (now < a.dueMs) return;
    a.dueMs = now + a.periodMs;

    int32_t code = kCodeSuccess;
    if (a.nextEvent < a.events.size() && a.events[a.nextEvent].after <= a.deliveries) {
      code = a.events[a.nextEvent++].code;
    } else {
      size_t bytes = OutputBytes(a.out, a.outCount, a.outFormat);
      scratch_.assign(bytes, 0);
      int32_t delivered = 0;
      if (a.haveFirstAnswer) {
        scratch_ = a.firstAnswer;
        a.haveFirstAnswer = false;
      } else {
        SimRequest r{a.device,   a.property,  scratch_,
                     a.outCount, a.outFormat, {},
                     0,          kFormatNull, std::numeric_limits<int32_t>::max()};
        code = core_.Access(r, delivered, &detail_);
      }
      if (!a.Take(code, scratch_)) return;
    }
    code_ = static_cast<int16_t>(code);
    if (handler_) handler_(0, code);
  }

 private:
  struct Pending : AsyncAccess {
    std::string device, property;
    std::vector<ScriptedEvent> events;
    size_t nextEvent = 0;
  };

  // Reuses the address's storage, so that a run of reads allocates nothing.
  void BuildAddress() {
    address_.clear();
    address_ += '/';
    address_ += context_;
    address_ += '/';
    address_ += server_;
    address_ += '/';
    address_ += device_;
    detail_.clear();
  }

  SimCore& core_;
  int16_t code_ = kCodeSuccess;
  std::string detail_;
  std::string address_;
  std::vector<uint8_t> scratch_;
  Pending async_;
};

}  // namespace

std::unique_ptr<DataAcquisitionControl> MakeSimControl(SimControlSystem& system) {
  return std::make_unique<SimControl>(system);
}

}  // namespace dsc::sim
