// The Tango backend's entry point as a loadable module.

#include "base/BackendPlugin.h"
#include "tango/TangoBackend.h"
#include "tango/TangoSite.h"

namespace {

using namespace dsc;

std::unique_ptr<ClientLibrary> OpenSite(std::string_view text, const std::string& source,
                                        Clock& clock, std::string& error) {
  std::optional<tango::Site> site = tango::LoadSite(text, source, error);
  if (!site) return nullptr;
  return std::make_unique<tango::TangoLibrary>(std::move(*site), clock);
}

std::unique_ptr<DataAcquisitionControl> MakeControl(ClientLibrary& library) {
  auto* tangoLibrary = dynamic_cast<tango::TangoLibrary*>(&library);
  if (!tangoLibrary) return nullptr;
  return tango::MakeTangoControl(*tangoLibrary);
}

constexpr BackendPlugin kPlugin{
    .version = kBackendPluginVersion,
    .name = "Tango",
    .detail = "libtango " OVRA_TANGO_VERSION,
    .openSite = OpenSite,
    .makeControl = MakeControl,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const dsc::BackendPlugin* ovra_backend_plugin() {
  return &kPlugin;
}
