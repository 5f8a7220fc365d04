#include "tango/TangoSite.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <sstream>

namespace dsc::tango {

namespace {

using json = nlohmann::json;

struct LoadError {
  std::string place;
  std::string what;
};

[[noreturn]] void Fail(const std::string& place, const std::string& what) {
  throw LoadError{place.empty() ? "/" : place, what};
}

std::string At(const std::string& path, std::string_view key) {
  return path + "/" + std::string(key);
}
std::string At(const std::string& path, size_t i) { return path + "/" + std::to_string(i); }
std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// The file is UTF-8; names crossing into the checker are Latin-1.
std::string ToLatin1(const std::string& utf8, const std::string& path) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
    uint32_t cp = c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    if (cp > 0xFF) Fail(path, "a character beyond Latin-1");
    out += static_cast<char>(cp);
    i += extra + 1;
  }
  return out;
}

// An object whose every field is known: a misspelt field is refused rather
// than silently ignored.
class Obj {
 public:
  Obj(const json& j, std::string path, std::initializer_list<std::string_view> known)
      : j_(j), path_(std::move(path)) {
    if (!j.is_object()) Fail(path_, std::string("expected an object, found ") + j.type_name());
    for (const auto& [key, value] : j.items()) {
      if (std::find(known.begin(), known.end(), key) == known.end())
        Fail(At(path_, key), "unknown field " + Quoted(key));
    }
  }
  const json* get(std::string_view key) const {
    auto it = j_.find(key);
    return it == j_.end() ? nullptr : &*it;
  }
  const json& need(std::string_view key) const {
    const json* v = get(key);
    if (!v) Fail(path_, "missing field " + Quoted(std::string(key)));
    return *v;
  }
  std::string path(std::string_view key) const { return At(path_, key); }

 private:
  const json& j_;
  std::string path_;
};

std::string Text(const json& j, const std::string& path) {
  if (!j.is_string()) Fail(path, std::string("expected a string, found ") + j.type_name());
  return ToLatin1(j.get<std::string>(), path);
}

int64_t Whole(const json& j, const std::string& path, int64_t lo, int64_t hi) {
  if (!j.is_number_integer())
    Fail(path, "expected a whole number, found " +
                   (j.is_number() ? j.dump() : std::string(j.type_name())));
  // An unsigned JSON number may be beyond int64's range; it can only be too big.
  const bool outside = j.is_number_unsigned()
                           ? j.get<uint64_t>() > static_cast<uint64_t>(hi) ||
                                 j.get<uint64_t>() < static_cast<uint64_t>(std::max<int64_t>(lo, 0))
                           : j.get<int64_t>() < lo || j.get<int64_t>() > hi;
  if (outside)
    Fail(path, j.dump() + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
  return j.get<int64_t>();
}

// A checker name: 1..16 characters, no "/", no blank at either end.
std::string Name(const json& j, const std::string& path) {
  std::string name = Text(j, path);
  if (name.empty() || name.size() > 16) Fail(path, Quoted(name) + " must have 1 to 16 characters");
  if (name.find('/') != std::string::npos) Fail(path, Quoted(name) + " holds a \"/\"");
  if (name.front() == ' ' || name.back() == ' ')
    Fail(path, Quoted(name) + " begins or ends with a blank");
  return name;
}

template <class T>
const json& ArrayOf(const Obj& o, std::string_view key) {
  const json& a = o.need(key);
  if (!a.is_array()) Fail(o.path(key), std::string("expected an array, found ") + a.type_name());
  return a;
}

template <class T>
void Unique(const std::vector<T>& items, const std::string& path, const char* what) {
  for (size_t i = 0; i < items.size(); ++i) {
    for (size_t k = 0; k < i; ++k) {
      if (items[k].name == items[i].name)
        Fail(At(At(path, i), "name"), std::string("duplicate ") + what + " name " +
                                          Quoted(items[i].name) + " (also at " + At(path, k) + ")");
    }
  }
}

SiteDevice BuildDevice(const json& j, const std::string& path) {
  Obj o(j, path, {"name", "device"});
  SiteDevice d;
  d.name = Name(o.need("name"), o.path("name"));
  d.tangoName = Text(o.need("device"), o.path("device"));
  // domain/family/member: three non-empty parts.
  const std::string& t = d.tangoName;
  const size_t a = t.find('/');
  const size_t b = a == std::string::npos ? a : t.find('/', a + 1);
  if (a == 0 || b == std::string::npos || b == a + 1 || b + 1 >= t.size() ||
      t.find('/', b + 1) != std::string::npos || t.find_first_of(" #") != std::string::npos)
    Fail(o.path("device"), Quoted(t) + " is not a Tango device name (domain/family/member)");
  return d;
}

SiteServer BuildServer(const json& j, const std::string& path) {
  Obj o(j, path, {"name", "instance", "devices"});
  SiteServer s;
  s.name = Name(o.need("name"), o.path("name"));
  if (s.name == "ENS") Fail(o.path("name"), "\"ENS\" is the name server's address");
  if (const json* v = o.get("instance")) s.instance = Text(*v, o.path("instance"));
  const json& devices = ArrayOf<SiteDevice>(o, "devices");
  for (size_t i = 0; i < devices.size(); ++i)
    s.devices.push_back(BuildDevice(devices[i], At(o.path("devices"), i)));
  if (s.devices.empty()) Fail(o.path("devices"), "a server needs at least one device");
  Unique(s.devices, o.path("devices"), "device");
  return s;
}

SiteContext BuildContext(const json& j, const std::string& path) {
  Obj o(j, path, {"name", "host", "port", "database", "pollMs", "servers"});
  SiteContext c;
  c.name = Name(o.need("name"), o.path("name"));
  c.host = Text(o.need("host"), o.path("host"));
  if (c.host.empty() || c.host.find_first_of(" /:#") != std::string::npos)
    Fail(o.path("host"), Quoted(c.host) + " is not a host name or address");
  c.port = static_cast<int>(Whole(o.need("port"), o.path("port"), 1, 65535));
  if (const json* v = o.get("database")) {
    if (!v->is_boolean())
      Fail(o.path("database"), std::string("expected true or false, found ") + v->type_name());
    c.database = v->get<bool>();
  }
  if (const json* v = o.get("pollMs"))
    c.pollMs = static_cast<int32_t>(Whole(*v, o.path("pollMs"), 10, 3600000));
  const json& servers = ArrayOf<SiteServer>(o, "servers");
  for (size_t i = 0; i < servers.size(); ++i)
    c.servers.push_back(BuildServer(servers[i], At(o.path("servers"), i)));
  Unique(c.servers, o.path("servers"), "server");
  return c;
}

Site Build(const json& root) {
  Obj top(root, "", {"site", "tango"});
  Site site;
  if (const json* v = top.get("site")) site.title = Text(*v, "/site");
  Obj tango(top.need("tango"), "/tango", {"contexts"});
  const json& contexts = ArrayOf<SiteContext>(tango, "contexts");
  for (size_t i = 0; i < contexts.size(); ++i)
    site.contexts.push_back(BuildContext(contexts[i], At("/tango/contexts", i)));
  if (site.contexts.empty()) Fail("/tango/contexts", "the site needs at least one context");
  Unique(site.contexts, "/tango/contexts", "context");
  // A server's device list is addressed by the server's name alone, so the
  // name must say which context it belongs to.
  for (size_t i = 0; i < site.contexts.size(); ++i) {
    for (size_t s = 0; s < site.contexts[i].servers.size(); ++s) {
      for (size_t k = 0; k < i; ++k) {
        for (size_t t = 0; t < site.contexts[k].servers.size(); ++t) {
          if (site.contexts[k].servers[t].name == site.contexts[i].servers[s].name)
            Fail(At(At(At(At("/tango/contexts", i), "servers"), s), "name"),
                 "duplicate server name " + Quoted(site.contexts[i].servers[s].name) +
                     " (also at " + At(At(At("/tango/contexts", k), "servers"), t) + ")");
        }
      }
    }
  }
  return site;
}

}  // namespace

bool LooksLikeSite(std::string_view text) {
  const json root = json::parse(text.begin(), text.end(), nullptr, false);
  return root.is_object() && root.contains("tango");
}

std::optional<Site> LoadSite(std::string_view text, const std::string& sourceName,
                             std::string& error) {
  try {
    return Build(json::parse(text.begin(), text.end()));
  } catch (const json::parse_error& e) {
    size_t line = 1, column = 1;
    const size_t end = std::min(e.byte > 0 ? e.byte - 1 : 0, text.size());
    for (size_t i = 0; i < end; ++i) {
      if (text[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    std::string what = e.what();
    if (size_t at = what.find(": "); at != std::string::npos && what.rfind("[json.", 0) == 0)
      what = what.substr(at + 2);
    error = sourceName + ": line " + std::to_string(line) + ", column " + std::to_string(column) +
            ": " + what;
  } catch (const LoadError& e) {
    error = sourceName + ": " + e.place + ": " + e.what;
  } catch (const std::exception& e) {
    error = sourceName + ": " + e.what();
  }
  return std::nullopt;
}

std::optional<Site> LoadSiteFile(const std::string& path, std::string& error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    error = path + ": not a readable file";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) {
    error = path + ": cannot be read";
    return std::nullopt;
  }
  return LoadSite(text.str(), path, error);
}

std::string TangoAddress(const SiteContext& context, const SiteDevice& device) {
  return "tango://" + context.host + ":" + std::to_string(context.port) + "/" + device.tangoName +
         (context.database ? "" : "#dbase=no");
}

}  // namespace dsc::tango
