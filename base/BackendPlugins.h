#pragma once

#include <string>
#include <vector>

#include "base/BackendPlugin.h"

namespace dsc {

// Where the programs look for a backend module, in order: $OVRA_PLUGIN_DIR
// alone when it is set (tests point it at a build or at an empty directory);
// else the program's own directory (a build tree keeps the modules next to the
// programs), then <program dir>/../<libdir>/ovra-checker/plugins (an
// installation).
std::vector<std::string> BackendPluginDirectories();

// The first file of that name in those directories; "" when there is none.
std::string FindBackendPlugin(const std::string& fileName);

// Loads a module once per process and returns its entry point's answer; null
// with error set (naming the file or the directories searched) when it cannot.
const BackendPlugin* LoadBackendPlugin(const std::string& fileName, std::string& error);

}  // namespace dsc
