#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "access/DataAcquisitionControl.h"
#include "base/Formats.h"

namespace dsc {

// What every Zorbel1 keeps between accesses: the names of what the next
// access addresses, its mode and its time-out. The control systems derive
// their controls from it and add the accesses.
class NamedControl : public DataAcquisitionControl {
 public:
  void setContextName(const std::string& name) override { context_ = name; }
  std::string ContextName() const override { return context_; }
  void setServerName(const std::string& name) override { server_ = name; }
  std::string ServerName() const override { return server_; }
  void setDeviceName(const std::string& name) override { device_ = name; }
  std::string DeviceName() const override { return device_; }
  void setPropertyName(const std::string& name) override { property_ = name; }
  std::string PropertyName() const override { return property_; }
  void setAccessMode(const std::string& mode) override { mode_ = mode; }
  std::string AccessMode() const override { return mode_; }
  void setLinkTimeout(int32_t ms) override { linkTimeout_ = ms; }
  int32_t LinkTimeout() const override { return linkTimeout_; }
  void setCompletionHandler(CompletionHandler handler) override { handler_ = std::move(handler); }

 protected:
  // How an asynchronous access delivers: once, at every period, or at every
  // period where the value changed.
  enum class Delivery { kOnce, kPoll, kRefresh };
  Delivery DeliveryOfMode() const {
    return mode_ == "POLL"      ? Delivery::kPoll
           : mode_ == "REFRESH" ? Delivery::kRefresh
                                : Delivery::kOnce;
  }

  // An asynchronous access under way: where its answers go and how they are
  // delivered. Each control adds what it needs to ask again.
  struct AsyncAccess {
    bool active = false;
    std::span<uint8_t> out;  // stays valid until StopAccess
    int32_t outCount = 0;
    int16_t outFormat = kFormatNull;
    Delivery mode = Delivery::kOnce;
    int32_t periodMs = 250;
    int64_t dueMs = 0;
    int32_t deliveries = 0;
    std::vector<uint8_t> last;         // REFRESH: the value delivered last
    std::vector<uint8_t> firstAnswer;  // answer to the input sent at the start
    bool haveFirstAnswer = false;

    // Ends the access: nothing more is delivered, nor written to `out`.
    void Stop() {
      active = false;
      out = {};
    }

    // Starts afresh: nothing delivered, nothing kept from an earlier access.
    void Begin(std::span<uint8_t> area, int32_t count, int16_t format, Delivery delivery,
               int32_t period) {
      out = area;
      outCount = count;
      outFormat = format;
      mode = delivery;
      periodMs = period;
      deliveries = 0;
      last.clear();
      firstAnswer.clear();
      haveFirstAnswer = false;
    }

    // Takes one answer and its code; false when there is nothing to report
    // (REFRESH stays quiet while the value stands still). An answer is copied
    // to `out` only on success.
    bool Take(int32_t code, const std::vector<uint8_t>& answer) {
      if (code == 0) {
        if (mode == Delivery::kRefresh && deliveries > 0 && answer == last) return false;
        std::copy(answer.begin(), answer.end(), out.begin());
        if (mode == Delivery::kRefresh) last = answer;
        ++deliveries;
      }
      if (mode == Delivery::kOnce) active = false;
      return true;
    }
  };

  // Bytes an answer of count elements of format takes in out.
  static size_t OutputBytes(std::span<uint8_t> out, int32_t count, int16_t format) {
    const int16_t size = FormatElementSize(format);
    if (count <= 0 || size <= 0) return 0;
    return std::min(static_cast<size_t>(count) * static_cast<size_t>(size), out.size());
  }

  std::string context_, server_, device_, property_;
  std::string mode_ = "READ";
  int32_t linkTimeout_ = 1000;
  CompletionHandler handler_;  // told of each delivery of an asynchronous access
};

}  // namespace dsc
