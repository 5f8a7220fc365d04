#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "access/ClientLibrary.h"
#include "access/DataAcquisitionControl.h"
#include "base/Clock.h"

namespace dsc::sim {

struct Facility;  // sim/Facility.h
class SimCore;    // sim/SimCore.h

// The bundled demo facility (facilities/demo.json), compiled in.
std::string_view DemoFacilityText();

// The simulated Ovra control system, in process: answers every client-library
// call from a facility description, with simulated time read from a Clock.
class SimControlSystem final : public ClientLibrary {
 public:
  SimControlSystem(std::shared_ptr<Facility> facility, Clock& clock);
  ~SimControlSystem() override;

  // Load a facility description. On failure returns null and sets error to a
  // message naming the source, the place (line/column or JSON path) and what
  // is wrong.
  static std::unique_ptr<SimControlSystem> FromText(std::string_view json,
                                                    const std::string& sourceName, Clock& clock,
                                                    std::string& error);
  static std::unique_ptr<SimControlSystem> FromFile(const std::string& path, Clock& clock,
                                                    std::string& error);
  static std::unique_ptr<SimControlSystem> Demo(Clock& clock);

  int16_t T_EXECLINK(const std::string& device, const std::string& property, DataDescriptor& out,
                     std::span<uint8_t> outData, const DataDescriptor& in,
                     std::span<const uint8_t> inData, int16_t access, int32_t timeoutMs) override;
  int16_t EXECLINKEx(const std::string& device, const std::string& property, DataDescriptor& out,
                     std::span<uint8_t> outData, const DataDescriptor& in,
                     std::span<const uint8_t> inData, int16_t access, int32_t timeoutMs) override;
  int16_t T_GETCONTEXTS(std::span<uint8_t> names, int32_t& count) override;
  int16_t RPCERR(int16_t code, std::span<char> text) override;

  Facility& facility();
  Clock& clock();
  // Number of library calls answered so far (tests check that caches work).
  long callCount() const;
  // The access logic, shared with the control of MakeSimControl.
  SimCore& core();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Zorbel1 over the simulation.
std::unique_ptr<DataAcquisitionControl> MakeSimControl(SimControlSystem& system);

}  // namespace dsc::sim
