#include <iostream>

#include "access/NamespaceQueries.h"
#include "app/check/Commands.h"
#include "base/Formats.h"

namespace dsc::check {

namespace {

// The long name a control system has for a listed name, after a tab (so
// that scripts and the completion can cut the short name off);
// nothing where it has none (the simulation's names are all there is).
std::string Beside(ClientLibrary& lib, const std::string& context, const std::string& server,
                   const std::string& device) {
  const std::string longName = lib.LongNameOf(context, server, device).name;
  const std::string& shortName = !device.empty() ? device : !server.empty() ? server : context;
  return longName.empty() || longName == shortName ? "" : "\t" + TerminalText(longName);
}

}  // namespace

void PrintJson(const Json& j) {
  std::cout << j.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
}

int List(Checker& checker, std::vector<std::string> names, bool json) {
  ClientLibrary& lib = checker.lib();
  std::vector<std::string> list;
  int16_t count = 0;
  int16_t code = 0;
  std::string what;
  int32_t reported = 0;  // contexts the control system has, listed or not
  // Typed names may be the control system's own; the lists hold short ones.
  if (!names.empty()) {
    std::string context = names[0], server = names.size() > 1 ? names[1] : "",
                device = names.size() > 2 ? names[2] : "";
    if (lib.FindNames(context, server, device)) {
      names[0] = context;
      if (names.size() > 1) names[1] = server;
      if (names.size() > 2) names[2] = device;
    }
  }
  Json j;
  j["type"] = "list";
  Json items = Json::array();
  // The control system's own names beside the short ones, where it has them.
  Json longNames = Json::object();
  if (names.size() == 3) {
    std::vector<int16_t> sizes, formats;
    what = "/" + names[0] + "/" + names[1] + "/" + names[2];
    j["of"] = "properties";
    code = GetPropertyList(lib, what, list, sizes, formats, count);
    for (int16_t i = 0; code == 0 && i < count; ++i) {
      if (json) {
        items.push_back({{"name", AsUtf8(list[i])},
                         {"size", sizes[i]},
                         {"format", FormatNameFromCode(formats[i])}});
      } else {
        std::cout << TerminalText(list[i]) << " " << sizes[i] << " "
                  << FormatNameFromCode(formats[i]) << "\n";
      }
    }
  } else {
    if (names.empty()) {
      what = "contexts";
      code = GetContextList(lib, list, count, &reported);
    } else if (names.size() == 1) {
      what = "servers of " + names[0];
      code = GetServerList(lib, names[0], list, count);
    } else {
      what = "devices of " + names[1];
      code = GetDeviceNameList(lib, names[1], list, count);
    }
    j["of"] = names.empty() ? "contexts" : names.size() == 1 ? "servers" : "devices";
    for (int16_t i = 0; code == 0 && i < count; ++i) {
      const std::string beside = names.empty()       ? Beside(lib, list[i], "", "")
                                 : names.size() == 1 ? Beside(lib, names[0], list[i], "")
                                                     : Beside(lib, names[0], names[1], list[i]);
      if (json) {
        items.push_back(AsUtf8(list[i]));
        if (!beside.empty()) longNames[AsUtf8(list[i])] = beside.substr(1);
      } else {
        std::cout << TerminalText(list[i]) << beside << "\n";
      }
    }
  }
  if (json) {
    Json path = Json::array();
    for (const std::string& n : names) path.push_back(AsUtf8(n));
    j["names"] = path;
    j["code"] = code;
    j["error"] = code == 0 ? Json(nullptr) : Json(AsUtf8(GetErrorString(lib, code)));
    j["items"] = items;
    if (!longNames.empty()) j["longNames"] = longNames;
    if (code == 0 && reported > count) j["reported"] = reported;
    PrintJson(j);
  }
  // The list holds what fits the query's buffer; the rest are not lost unseen.
  if (code == 0 && reported > count)
    std::cerr << "ovra-check: the control system has " << reported << " contexts; only the first "
              << count << " can be listed\n";
  if (code != 0) {
    std::cerr << "ovra-check: " << TerminalText(what) << ": "
              << TerminalText(GetErrorString(lib, code)) << " (code " << code << ")\n";
    return kExitFailed;
  }
  return kExitOk;
}

int ListConfigurations(Checker& checker, bool json) {
  CheckerSession& session = checker.session();
  checker.sources().fillInProcNames();
  Json items = Json::array();
  for (int i = 0; i < session.configs.StoredConfigCount; ++i) {
    const std::string& d = session.configs.StoredConfigs[i].Description;
    if (json) {
      items.push_back(AsUtf8(d));
    } else {
      std::cout << TerminalText(d) << "\n";
    }
  }
  if (json) PrintJson({{"type", "list"}, {"of", "configurations"}, {"items", items}});
  return session.configs.StoredConfigCount > 0 ? kExitOk : kExitFailed;
}

}  // namespace dsc::check
