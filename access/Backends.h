#pragma once

// The control-system backends the programs can open. Each backend lives in
// its own folder and registers itself in its CMakeLists.txt with
// ovra_register_backend(<library> <function>): the function returns its
// Backend, and the programs ask every registered one in turn. The programs
// name no backend.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "access/ClientLibrary.h"
#include "access/DataAcquisitionControl.h"
#include "base/Clock.h"

namespace dsc {

// The control system both programs talk to.
struct ControlSystem {
  std::unique_ptr<ClientLibrary> library;
  std::unique_ptr<DataAcquisitionControl> control;  // Zorbel1; uses `library`
  std::string description;                          // for the caption and --help
  // False when every call returns at once (the in-process simulation).
  bool callsMayBlock = true;
  // What the control system's own description asks for where the command
  // line says nothing: servers checked at once, and the time-out of the
  // standard test's and the information reads (0: the programs' defaults).
  int32_t jobs = 0;
  int32_t timeoutMs = 0;
};

// How a backend judges what it reads beyond the completion code, where its
// control system has the facts (the command line's --fail-on-quality,
// --check-limits, --expect-state, --tango-fail-on-state); the defaults judge
// nothing more.
struct ReadJudgement {
  bool failOnState = false;               // a device in a bad state fails its read
  std::string failOnQuality;              // a value of this quality or worse fails its read
  bool checkLimits = false;               // a value outside its alarm limits fails its read
  std::vector<std::string> expectStates;  // the states a device may be in
};

struct Backend {
  const char* name = "";  // "simulation", "Tango"
  // Whether the text of a file given with --facility is this backend's. The
  // backend that takes any file (the simulation's facility descriptions) is
  // asked last.
  bool (*claimsFile)(std::string_view text) = nullptr;
  bool takesAnyFile = false;
  // Opens a file it claims; on failure false with a message naming the file.
  bool (*openFile)(const std::string& text, const std::string& path, Clock& clock,
                   ControlSystem& opened, std::string& error,
                   const ReadJudgement& judgement) = nullptr;
  // The built-in control system a program opens when none is named.
  bool (*openBuiltIn)(Clock& clock, ControlSystem& opened, std::string& error) = nullptr;
  // A networked control system named by addresses: the environment variable
  // that names them when no facility is chosen (TANGO_HOST), and how they
  // open.
  const char* addressVariable = nullptr;
  bool (*openAddresses)(const std::vector<std::string>& addresses, Clock& clock,
                        ControlSystem& opened, std::string& error,
                        const ReadJudgement& judgement) = nullptr;
  // A line for --version, or null: where its module is, or why there is none.
  std::string (*status)() = nullptr;
};

}  // namespace dsc
