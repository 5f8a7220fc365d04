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
  std::string instance;  // executable/instance, e.g. "TangoTest/test"
  // In a discovered context: empty for the devices the database knows, with
  // the names given here for those listed.
  std::vector<SiteDevice> devices;
  // States the State read of this server's devices must be in (names such as
  // "ON", "RUNNING"); empty: those of the device's class, else the context's.
  std::vector<std::string> expectStates;
};

struct SiteContext {
  std::string name;
  std::string host;
  int port = 10000;
  // Further addresses of the same database ("h1:p1,h2:p2" in TANGO_HOST):
  // tried in turn when the one before cannot be reached.
  std::vector<std::pair<std::string, int>> alternates;
  bool database = false;  // false: the device server runs with -nodb
  // Servers and devices are those the Tango database knows; `servers` then
  // only chooses names for some of them.
  bool discover = false;
  // Patterns (* and ?, case ignored) on the discovered server instances: a
  // server is listed when it matches an include pattern (or there is none)
  // and no exclude pattern.
  std::vector<std::string> include, exclude;
  int32_t pollMs = 250;  // period of POLL and REFRESH reads
  // A read of a State of FAULT, ALARM or UNKNOWN, or of a value of quality
  // INVALID, fails (code 68) instead of only saying so in its text.
  bool failOnState = false;
  // A read whose quality is at least this bad fails (code 68): "WARNING",
  // "ALARM" or "INVALID"; empty: as failOnState says.
  std::string failOnQuality;
  // A numeric value outside its attribute's alarm limits fails (code 68);
  // one outside its warning limits is said beside its success.
  bool checkLimits = false;
  // States a State read must be in, else it fails (code 68): the context's,
  // and by Tango device class (lower-case class name). Empty: any.
  std::vector<std::string> expectStates;
  std::vector<std::pair<std::string, std::vector<std::string>>> expectStatesByClass;
  std::vector<SiteServer> servers;
};

struct Site {
  std::string title;
  // Defaults for --jobs and --timeout where the command line gives none
  // (0: the programs' own).
  int32_t jobs = 0;
  int32_t timeoutMs = 0;
  std::vector<SiteContext> contexts;
};

// How reads are judged, given on the command line for every context of a
// site: a field left empty (or false) leaves the site file's as it is.
struct Judgement {
  std::string failOnQuality;
  bool checkLimits = false;
  std::vector<std::string> expectStates;
  bool empty() const { return failOnQuality.empty() && !checkLimits && expectStates.empty(); }
};
// A site file's text with the judgement set on every context; text that is
// not a site is returned as it is.
std::string WithJudgement(std::string_view siteJson, const Judgement& judgement);
// The checker's spelling of a quality level or state name ("warning" is
// "WARNING"), or empty where it is none.
std::string QualityLevel(std::string_view name);
std::string StateName(std::string_view name);

// True when the text is a JSON object with a "tango" member: a site file
// rather than a facility description of the simulation. Never throws.
bool LooksLikeSite(std::string_view json);

// Loads a site file. On failure returns nothing and sets error to a message
// naming the source, the place (line and column, or JSON path) and the fault.
std::optional<Site> LoadSite(std::string_view json, const std::string& sourceName,
                             std::string& error);
std::optional<Site> LoadSiteFile(const std::string& path, std::string& error);

// A site of Tango databases, one per entry, each given as TANGO_HOST gives
// it: "host:port", or several addresses of the one database separated by
// commas. Each is a discovered context named by the ShortName of its first
// address's identity (TangoHostIdentity); entries naming the same database
// are one context. On failure returns nothing and sets error.
std::optional<Site> SiteFromTangoHosts(const std::vector<std::string>& hosts, std::string& error,
                                       bool failOnState = false);
// The same as a site file's text, for whoever opens sites from their text.
std::optional<std::string> SiteJsonFromTangoHosts(const std::vector<std::string>& hosts,
                                                  std::string& error, bool failOnState = false);
// The hosts of a TANGO_HOST value, "h1:p1,h2:p2".
std::vector<std::string> SplitTangoHosts(std::string_view value);
// The identity of a Tango database address "host:port", whatever its
// spelling: the host resolved to its IPv4 address (any loopback address as
// 127.0.0.1) and the port as a number; a host that does not resolve stands
// in lower case. Empty for text that is not host:port.
std::string TangoHostIdentity(std::string_view hostPort);
// The hosts as one text, "h1:p1,h2:p2".
std::string JoinedHosts(const std::vector<std::string>& hosts);

// The checker's short name for a Tango name: the name with "/" as "." when
// that has at most 16 characters; else its first 11 characters, "~" and four
// hexadecimal digits of a hash of the whole name (case ignored).
std::string ShortName(std::string_view tangoName);
// Short names for a list of Tango names, unique within the list whatever
// the case: ShortName, or the name given in `chosen` (by Tango name, case
// ignored). When two names still meet, the one later in the order of their
// lower-case Tango names hashes its name followed by "#1", "#2", ... instead.
// `kept` holds names given before (by Tango name, case ignored): each is
// reserved for its holder, listed or not, and kept unless a chosen name
// took it; so a newcomer never takes the name of one already named.
std::vector<std::string> ShortNames(
    const std::vector<std::string>& tangoNames,
    const std::vector<std::pair<std::string, std::string>>& chosen,
    const std::vector<std::pair<std::string, std::string>>& kept = {});
// Whether a Tango name matches a pattern of * and ?, case ignored.
bool NameMatches(std::string_view pattern, std::string_view name);
bool SameName(std::string_view a, std::string_view b);  // case ignored, as Tango does
// A date as the Tango database records it ("6th December 2026 at 13:12:37")
// in the checker's form ("2026-12-06 13:12:37"); other text as it is.
std::string CheckerDate(const std::string& tangoDate);

// The address a Tango client connects to, e.g.
// "tango://127.0.0.1:45678/sys/tg_test/1#dbase=no".
std::string TangoAddress(const SiteContext& context, const SiteDevice& device);

}  // namespace dsc::tango
