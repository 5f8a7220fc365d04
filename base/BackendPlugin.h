#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/Clock.h"

// The boundary between the programs and a control-system backend built as a
// loadable module (the Tango backend, ovra-tango.so), so that the programs
// load the backend's client libraries only when they are asked to talk to it.
//
// Both sides are built by the same compiler from the same tree, so C++ types
// cross it; the entry point is extern "C" only so that dlsym finds it by a
// plain name. Nothing is thrown across it. A loaded module stays loaded for
// the life of the process: the objects it made run its code until the end.
namespace dsc {

// The interfaces of the access layer a backend implements; base only names
// them.
class ClientLibrary;
class DataAcquisitionControl;

// Version 1. A later version only adds members at the end of BackendPlugin.
inline constexpr uint32_t kBackendPluginVersion = 1;
inline constexpr char kBackendPluginEntry[] = "ovra_backend_plugin";

struct BackendPlugin {
  // The module's kBackendPluginVersion; a loader that knows another version
  // touches no other member.
  uint32_t version = kBackendPluginVersion;
  const char* name = "";    // the control system, e.g. "Tango"
  const char* detail = "";  // what the module was built with, e.g. "libtango 9.3.4"

  // Opens a site description: `text` is the site file's JSON, `source` names
  // it in messages. Returns null and sets error on failure.
  std::unique_ptr<ClientLibrary> (*openSite)(std::string_view text, const std::string& source,
                                             Clock& clock, std::string& error) = nullptr;

  // The data-acquisition control over a library that openSite of this module
  // returned; null for any other library. The control may outlive it.
  std::unique_ptr<DataAcquisitionControl> (*makeControl)(ClientLibrary& library) = nullptr;
};

using BackendPluginEntry = const BackendPlugin* (*)();

}  // namespace dsc
