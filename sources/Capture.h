#pragma once

// A test of a device's current values: one READ per property that delivers
// data, its value as the reference. "ovra-check capture" and the window's
// script editor both make their test here, so that they capture alike.

#include <cstdint>
#include <string>
#include <vector>

#include "access/ClientLibrary.h"
#include "access/DataAcquisitionControl.h"
#include "engine/TestPlan.h"

namespace dsc {

struct CapturedTest {
  std::vector<TestCommand> commands;
  // A property whose read failed: "/CONTEXT/SERVER/DEVICE PROPERTY" and the
  // control's status text. Nothing of it is in the commands.
  struct Skipped {
    std::string property, status;
  };
  std::vector<Skipped> skipped;
  // A device whose properties could not be listed ends the capture: its
  // address, the library's text and code. Empty address: no such failure.
  std::string failedAddress, failureText;
  int16_t failureCode = 0;
  bool failed() const { return !failedAddress.empty(); }
};

// Reads every property of `devices` of /context/server twice through `z`
// (names set on it, a link time-out of 3 s): a value that changes between
// the reads gets no reference; a floating-point reference a tolerance from
// the property's warning or alarm limits, else a relative default.
CapturedTest CaptureCurrentValues(ClientLibrary& lib, DataAcquisitionControl& z,
                                  const std::string& context, const std::string& server,
                                  const std::vector<std::string>& devices);

}  // namespace dsc
