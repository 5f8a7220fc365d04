#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "access/ClientLibrary.h"

namespace dsc {

// A client library that hands every call on to an inner library: a decorator
// derives from it and overrides only what it changes. The inner library is
// owned when given by unique_ptr, only referred to when given by reference.
class ForwardingLibrary : public ClientLibrary {
 public:
  explicit ForwardingLibrary(std::unique_ptr<ClientLibrary> inner)
      : owned_(std::move(inner)), inner_(*owned_) {}
  explicit ForwardingLibrary(ClientLibrary& inner) : inner_(inner) {}

  int16_t T_EXECLINK(const std::string& device, const std::string& property, DataDescriptor& out,
                     std::span<uint8_t> outData, const DataDescriptor& in,
                     std::span<const uint8_t> inData, int16_t access, int32_t timeoutMs) override {
    return inner_.T_EXECLINK(device, property, out, outData, in, inData, access, timeoutMs);
  }
  int16_t EXECLINKEx(const std::string& device, const std::string& property, DataDescriptor& out,
                     std::span<uint8_t> outData, const DataDescriptor& in,
                     std::span<const uint8_t> inData, int16_t access, int32_t timeoutMs) override {
    return inner_.EXECLINKEx(device, property, out, outData, in, inData, access, timeoutMs);
  }
  int16_t T_GETCONTEXTS(std::span<uint8_t> names, int32_t& count) override {
    return inner_.T_GETCONTEXTS(names, count);
  }
  int16_t RPCERR(int16_t code, std::span<char> text) override { return inner_.RPCERR(code, text); }
  bool FindNames(std::string& context, std::string& server, std::string& device) override {
    return inner_.FindNames(context, server, device);
  }
  LongNames LongNameOf(const std::string& context, const std::string& server,
                       const std::string& device) override {
    return inner_.LongNameOf(context, server, device);
  }

 protected:
  ClientLibrary& inner() const { return inner_; }

 private:
  std::unique_ptr<ClientLibrary> owned_;  // empty when only referred to
  ClientLibrary& inner_;
};

}  // namespace dsc
