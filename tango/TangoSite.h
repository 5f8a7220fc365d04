#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dsc::tango {

// A site file maps the checker's names onto a Tango installation: a context
// is a Tango endpoint (host and port, with or without a Tango database), a
// server a device-server instance, a device a Tango device. Names are the
// checker's: at most 16 Latin-1 characters, no "/".
struct SiteDevice {
  std::string name;       // what the checker lists, e.g. "TG-1"
  std::string tangoName;  // domain/family/member, e.g. "sys/tg_test/1"
};

struct SiteServer {
  std::string name;      // e.g. "TANGOTEST"
  std::string instance;  // executable/instance, e.g. "TangoTest/test"; informative
  std::vector<SiteDevice> devices;
};

struct SiteContext {
  std::string name;
  std::string host;
  int port = 10000;
  bool database = false;  // false: the device server runs with -nodb
  int32_t pollMs = 250;   // period of POLL and REFRESH reads
  std::vector<SiteServer> servers;
};

struct Site {
  std::string title;
  std::vector<SiteContext> contexts;
};

// True when the text is a JSON object with a "tango" member: a site file
// rather than a facility description of the simulation. Never throws.
bool LooksLikeSite(std::string_view json);

// Loads a site file. On failure returns nothing and sets error to a message
// naming the source, the place (line and column, or JSON path) and the fault.
std::optional<Site> LoadSite(std::string_view json, const std::string& sourceName,
                             std::string& error);
std::optional<Site> LoadSiteFile(const std::string& path, std::string& error);

// The address a Tango client connects to, e.g.
// "tango://127.0.0.1:45678/sys/tg_test/1#dbase=no".
std::string TangoAddress(const SiteContext& context, const SiteDevice& device);

}  // namespace dsc::tango
