#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "access/DataAcquisitionControl.h"

namespace dsc {

// Zorbel1 that hands every member on to an inner control: a decorator
// derives from it and overrides only what it changes. The inner control is
// owned when given by unique_ptr, only referred to when given by reference.
class ForwardingControl : public DataAcquisitionControl {
 public:
  explicit ForwardingControl(std::unique_ptr<DataAcquisitionControl> inner)
      : owned_(std::move(inner)), inner_(*owned_) {}
  explicit ForwardingControl(DataAcquisitionControl& inner) : inner_(inner) {}

  void setContextName(const std::string& name) override { inner_.setContextName(name); }
  std::string ContextName() const override { return inner_.ContextName(); }
  void setServerName(const std::string& name) override { inner_.setServerName(name); }
  std::string ServerName() const override { return inner_.ServerName(); }
  void setDeviceName(const std::string& name) override { inner_.setDeviceName(name); }
  std::string DeviceName() const override { return inner_.DeviceName(); }
  void setPropertyName(const std::string& name) override { inner_.setPropertyName(name); }
  std::string PropertyName() const override { return inner_.PropertyName(); }
  void setAccessMode(const std::string& mode) override { inner_.setAccessMode(mode); }
  std::string AccessMode() const override { return inner_.AccessMode(); }
  void setLinkTimeout(int32_t ms) override { inner_.setLinkTimeout(ms); }
  int32_t LinkTimeout() const override { return inner_.LinkTimeout(); }
  std::string StatusText() const override { return inner_.StatusText(); }
  std::vector<ErrorFrame> ErrorStack() const override { return inner_.ErrorStack(); }
  std::string SuccessNote() const override { return inner_.SuccessNote(); }
  ValueFacts LastValueFacts() const override { return inner_.LastValueFacts(); }
  void setTolerance(const std::string& tolerance) override { inner_.setTolerance(tolerance); }
  AccessFailure FailureOf(int32_t code, bool refusedAtStart) const override {
    return inner_.FailureOf(code, refusedAtStart);
  }
  bool LastFailureRepeated() const override { return inner_.LastFailureRepeated(); }

  int32_t ExecuteAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                        std::span<const uint8_t> in, int32_t inCount, int16_t inFormat) override {
    return inner_.ExecuteAccess(out, outCount, outFormat, in, inCount, inFormat);
  }
  int32_t StartAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                      std::span<const uint8_t> in, int32_t inCount, int16_t inFormat) override {
    return inner_.StartAccess(out, outCount, outFormat, in, inCount, inFormat);
  }
  void StopAccess() override { inner_.StopAccess(); }
  void setCompletionHandler(CompletionHandler handler) override {
    inner_.setCompletionHandler(std::move(handler));
  }
  void ProcessEvents() override { inner_.ProcessEvents(); }

 protected:
  DataAcquisitionControl& inner() const { return inner_; }

 private:
  std::unique_ptr<DataAcquisitionControl> owned_;  // empty when only referred to
  DataAcquisitionControl& inner_;
};

}  // namespace dsc
