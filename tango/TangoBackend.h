#pragma once

#include <memory>

#include "access/ClientLibrary.h"
#include "access/DataAcquisitionControl.h"
#include "base/Clock.h"
#include "tango/TangoSite.h"

namespace dsc::tango {

// Completion codes of the Tango backend, beside the checker's own. Their
// texts come from RPCERR; a failed access's status text is the first line of
// Tango's own error description where there is one.
inline constexpr int16_t kTangoUnknownContext = 60;
inline constexpr int16_t kTangoUnknownServer = 61;
inline constexpr int16_t kTangoUnknownDevice = 62;
inline constexpr int16_t kTangoUnknownProperty = 63;  // no attribute or command of the name
inline constexpr int16_t kTangoNotWritable = 64;
inline constexpr int16_t kTangoIllegalFormat = 65;  // the value does not fit the format or type
inline constexpr int16_t kTangoDeviceError = 66;    // the device server answered with an error
inline constexpr int16_t kTangoDatabaseUnreachable = 67;
inline constexpr int16_t kTangoBadState = 68;  // FAULT, ALARM or UNKNOWN, or an INVALID value

class TangoSystem;  // the connections, shared by the library and its controls

// The client library over Tango's C++ client API.
class TangoLibrary final : public ClientLibrary {
 public:
  TangoLibrary(Site site, Clock& clock);
  ~TangoLibrary() override;

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
  void setDatabaseDirectory(const std::string& path) override;

  const Site& site() const;
  std::shared_ptr<TangoSystem> system() const { return system_; }

 private:
  std::shared_ptr<TangoSystem> system_;
};

// Zorbel1 over Tango. It shares the library's connections and outlives it
// safely.
std::unique_ptr<DataAcquisitionControl> MakeTangoControl(TangoLibrary& library);

}  // namespace dsc::tango
