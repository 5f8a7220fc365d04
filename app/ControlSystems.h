#pragma once

#include <memory>
#include <string>
#include <vector>

#include "access/Backends.h"
#include "base/Clock.h"

namespace dsc {

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

// The registered backends, those that take any file last.
const std::vector<const Backend*>& Backends();

// An empty path opens the built-in control system (the demo facility). A
// file is opened by the first backend that claims its text (a JSON file with
// a "tango" member is a Tango site file; any other a facility description).
// On failure returns false and sets error to a message naming the file.
// `judgement` (the command line's) is how the backend judges what it reads.
bool OpenControlSystem(const std::string& path, Clock& clock, ControlSystem& opened,
                       std::string& error, const ReadJudgement& judgement = {});

// The networked control system named by --tango-host (each "host:port", or
// several separated by commas as TANGO_HOST has them): its servers and
// devices are discovered and their reads judged as `judgement` says. On
// failure returns false and sets error.
bool OpenAddresses(const std::vector<std::string>& addresses, Clock& clock, ControlSystem& opened,
                   std::string& error, const ReadJudgement& judgement = {});

// What a program opens when no facility is chosen: the addresses given,
// else those a backend's environment variable (TANGO_HOST) names, else
// nothing (the built-in control system).
std::vector<std::string> AddressesToOpen(const std::vector<std::string>& given);

// The lines for --version of the backends that have one: where a backend's
// module is, or why there is none. Looks for the file only.
std::string BackendStatus();

}  // namespace dsc
