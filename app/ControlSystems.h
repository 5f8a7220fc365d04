#pragma once

#include <memory>
#include <string>
#include <vector>

#include "access/ClientLibrary.h"
#include "access/DataAcquisitionControl.h"
#include "engine/Clock.h"
#include "tango/TangoSite.h"

namespace dsc {

// The control system both programs talk to: the simulation of a facility
// description, or a Tango installation described by a site file.
struct ControlSystem {
  std::unique_ptr<ClientLibrary> library;
  std::unique_ptr<DataAcquisitionControl> control;  // Zorbel1; uses `library`
  std::string description;                          // for the caption and --help
  // False when every call returns at once (the in-process simulation).
  bool callsMayBlock = true;
};

// What --help of both programs says about where the facility and the database
// directory come from.
inline constexpr char kWhereThingsComeFrom[] =
    "The facility is --facility FILE, else $OVRA_FACILITY, else the built-in demo facility.\n"
    "The database directory is the first of: --database DIR; $OVRA_DATABASE;\n"
    "$XDG_CONFIG_HOME/ovra-checker/database (default ~/.config/ovra-checker/database);\n"
    "/etc/ovra-checker/database; the demo database installed with the program\n"
    "(<prefix>/share/ovra-checker/database); else, as in a build tree, \"../database/\" when\n"
    "the program's file is in the working directory, else <program dir>/../database/, or when\n"
    "that does not exist the nearest \"database\" directory holding procedures.csv in the\n"
    "program's directory or one of its parents.";

// The facility a program opens: --facility when given, else $OVRA_FACILITY,
// else "" (the built-in demo facility).
std::string ChosenFacility(const std::string& given);

// An empty path opens the built-in demo facility. A JSON file with a "tango"
// member is a Tango site file; any other is a facility description. On
// failure returns false and sets error to a message naming the file.
// `judgement` (the command line's) is set on every context of a Tango site.
bool OpenControlSystem(const std::string& path, Clock& clock, ControlSystem& opened,
                       std::string& error, const tango::Judgement& judgement = {});

// The Tango databases named by --tango-host (each "host:port", or several
// separated by commas as TANGO_HOST has them): their servers and devices are
// discovered; with failOnState a device in FAULT, ALARM or UNKNOWN state, or
// an INVALID value, fails its read. On failure returns false and sets error.
bool OpenTangoDatabases(const std::vector<std::string>& hosts, Clock& clock, ControlSystem& opened,
                        std::string& error, bool failOnState = false,
                        const tango::Judgement& judgement = {});

// What a program opens when no facility is chosen: the databases of
// --tango-host when given, else those of TANGO_HOST in the environment, else
// nothing (the demo facility).
std::vector<std::string> TangoHostsToOpen(const std::vector<std::string>& given);

// A line for --version: where the Tango backend's module is, or why there is
// none. Looks for the file only; loading it is for when a site file comes.
std::string TangoBackendStatus();

}  // namespace dsc
