#pragma once

// Recording wrappers around the client library and the Zorbel1 control, so a
// test can see which calls the code under test made and inject answers or faults.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>

#include "access/ClientLibrary.h"
#include "access/ForwardingControl.h"

namespace dsc::testing {

// Logs each link call as "device property count format timeout". A call whose
// "device|property" is in answers is answered from there: its bytes only, with
// no zero byte after them (as the simulation answers), so whatever the area
// held past them stays. The rest go to the inner library, or fail with 45
// without one. Long names come from longNames, else from the inner library.
// Without an inner library every code's text is "message <code>".
class RecordingLibrary : public ClientLibrary {
 public:
  struct Answer {
    int16_t code = 0;
    std::string bytes;
  };
  explicit RecordingLibrary(ClientLibrary* inner = nullptr) : inner_(inner) {}

  std::map<std::string, Answer> answers;
  std::vector<std::string> calls;
  // Long names by "context|server" ("context|" for the context itself).
  std::map<std::string, LongNames> longNames;

  LongNames LongNameOf(const std::string& context, const std::string& server,
                       const std::string& device) override {
    const auto it = longNames.find(context + "|" + server);
    if (it != longNames.end()) return it->second;
    return inner_ ? inner_->LongNameOf(context, server, device) : LongNames{};
  }

  int16_t T_EXECLINK(const std::string& device, const std::string& property, DataDescriptor& out,
                     std::span<uint8_t> outData, const DataDescriptor& in,
                     std::span<const uint8_t> inData, int16_t access, int32_t timeoutMs) override {
    calls.push_back(device + " " + property + " " + std::to_string(out.count) + " " +
                    std::to_string(out.format) + " " + std::to_string(timeoutMs));
    const auto it = answers.find(device + "|" + property);
    if (it == answers.end())
      return inner_
                 ? inner_->T_EXECLINK(device, property, out, outData, in, inData, access, timeoutMs)
                 : 45;
    std::memcpy(outData.data(), it->second.bytes.data(),
                std::min(outData.size(), it->second.bytes.size()));
    return it->second.code;
  }
  int16_t EXECLINKEx(const std::string& device, const std::string& property, DataDescriptor& out,
                     std::span<uint8_t> outData, const DataDescriptor& in,
                     std::span<const uint8_t> inData, int16_t access, int32_t timeoutMs) override {
    return T_EXECLINK(device, property, out, outData, in, inData, access, timeoutMs);
  }
  int16_t T_GETCONTEXTS(std::span<uint8_t> names, int32_t& count) override {
    return inner_ ? inner_->T_GETCONTEXTS(names, count) : 45;
  }
  int16_t RPCERR(int16_t code, std::span<char> text) override {
    if (inner_) return inner_->RPCERR(code, text);
    std::snprintf(text.data(), text.size(), "message %d", code);
    return 0;
  }

 private:
  ClientLibrary* inner_;
};

// Passes every call to the inner control, noting each access as
// "Execute out/in;" or "Start out/in;". The member named by throwIn raises
// (after calling onThrow) the next `throws` times it is called;
// beforeExecute runs before each synchronous access is passed on.
class RecordingControl final : public ForwardingControl {
 public:
  using ForwardingControl::ForwardingControl;

  std::string accesses;
  std::string throwIn;
  int throws = 0;
  std::function<void()> onThrow, beforeExecute;

  void setContextName(const std::string& n) override { Raised(__func__).setContextName(n); }
  void setPropertyName(const std::string& n) override { Raised(__func__).setPropertyName(n); }
  int32_t ExecuteAccess(std::span<uint8_t> out, int32_t oc, int16_t of, std::span<const uint8_t> in,
                        int32_t ic, int16_t inf) override {
    Note(__func__, oc, ic);
    if (beforeExecute) beforeExecute();
    return inner().ExecuteAccess(out, oc, of, in, ic, inf);
  }
  int32_t StartAccess(std::span<uint8_t> out, int32_t oc, int16_t of, std::span<const uint8_t> in,
                      int32_t ic, int16_t inf) override {
    Note(__func__, oc, ic);
    return inner().StartAccess(out, oc, of, in, ic, inf);
  }

 private:
  // The inner control, unless `member` is to raise now.
  DataAcquisitionControl& Raised(const std::string& member) {
    if (member != throwIn || throws == 0) return inner();
    --throws;
    if (onThrow) onThrow();
    throw std::runtime_error("bus fault in " + member);
  }
  void Note(const std::string& member, int32_t out, int32_t in) {
    Raised(member);
    accesses += member.substr(0, member.size() - 6) + " " + std::to_string(out) + "/" +
                std::to_string(in) + ";";
  }
};

}  // namespace dsc::testing
