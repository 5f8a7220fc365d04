#include "base/BackendPlugins.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

#ifndef OVRA_PLUGIN_RELDIR
#define OVRA_PLUGIN_RELDIR "lib/ovra-checker/plugins"
#endif

namespace dsc {

namespace {

std::string ProgramDirectory() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.parent_path().string();
}

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& s : items) out += (out.empty() ? "" : ", ") + s;
  return out;
}

}  // namespace

std::vector<std::string> BackendPluginDirectories() {
  const char* given = std::getenv("OVRA_PLUGIN_DIR");
  if (given && *given) return {given};
  const std::string program = ProgramDirectory();
  if (program.empty()) return {};
  return {program, (std::filesystem::path(program).parent_path() / OVRA_PLUGIN_RELDIR).string()};
}

std::string FindBackendPlugin(const std::string& fileName) {
  for (const std::string& dir : BackendPluginDirectories()) {
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::path(dir) / fileName;
    if (std::filesystem::is_regular_file(file, ec)) return file.string();
  }
  return "";
}

const BackendPlugin* LoadBackendPlugin(const std::string& fileName, std::string& error) {
  static std::mutex mutex;
  static std::map<std::string, const BackendPlugin*> loaded;
  const std::lock_guard lock(mutex);
  if (const auto it = loaded.find(fileName); it != loaded.end()) return it->second;

  const std::string path = FindBackendPlugin(fileName);
  if (path.empty()) {
    error = "no " + fileName + " in " + Joined(BackendPluginDirectories());
    return nullptr;
  }
  // Never closed: the libraries and controls it makes run its code.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    error = why ? why : path + ": cannot be loaded";
    return nullptr;
  }
  const auto entry = reinterpret_cast<BackendPluginEntry>(dlsym(handle, kBackendPluginEntry));
  const BackendPlugin* plugin = entry ? entry() : nullptr;
  if (!plugin) {
    error = path + ": not a backend module of this checker (no " +
            std::string(kBackendPluginEntry) + ")";
    return nullptr;
  }
  if (plugin->version != kBackendPluginVersion) {
    error = path + ": a backend module of interface version " + std::to_string(plugin->version) +
            ", this program needs version " + std::to_string(kBackendPluginVersion);
    return nullptr;
  }
  loaded.emplace(fileName, plugin);
  return plugin;
}

}  // namespace dsc
