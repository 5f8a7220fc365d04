#pragma once

#include <memory>
#include <string>

#include "access/ClientLibrary.h"
#include "access/DataAcquisitionControl.h"
#include "engine/Clock.h"

namespace dsc {

// The control system both programs talk to: the simulation of a facility
// description, or a Tango installation described by a site file.
struct ControlSystem {
  std::unique_ptr<ClientLibrary> library;
  std::unique_ptr<DataAcquisitionControl> control;  // Zorbel1; uses `library`
  std::string description;                          // for the caption and --help
};

// The facility a program opens: --facility when given, else $OVRA_FACILITY,
// else "" (the built-in demo facility).
std::string ChosenFacility(const std::string& given);

// An empty path opens the built-in demo facility. A JSON file with a "tango"
// member is a Tango site file; any other is a facility description. On
// failure returns false and sets error to a message naming the file.
bool OpenControlSystem(const std::string& path, Clock& clock, ControlSystem& opened,
                       std::string& error);

// A line for --version: where the Tango backend's module is, or why there is
// none. Looks for the file only; loading it is for when a site file comes.
std::string TangoBackendStatus();

}  // namespace dsc
