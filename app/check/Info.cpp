#include <iostream>

#include "access/CompletionCodes.h"
#include "access/NamespaceQueries.h"
#include "app/check/Commands.h"
#include "sources/Csv.h"

namespace dsc::check {

// The names of info, standard and specific: CONTEXT SERVER [DEVICE] as the
// lists show them, or fewer names where the control system finds the rest
// (a Tango server or device name alone). On failure says what is missing.
bool Resolve(ClientLibrary& lib, const std::vector<std::string>& typed, bool deviceAlone,
             std::string& context, std::string& server, std::string& device, std::string& error) {
  if (typed.size() >= 2) {
    context = typed[0];
    server = typed[1];
    if (typed.size() >= 3) device = typed[2];
    std::string c = context, s = server, d = typed.size() >= 3 ? device : "";
    if (lib.FindNames(c, s, d)) {
      context = c;
      server = s;
      if (typed.size() >= 3) device = d;
    }
    return true;
  }
  // One name: a device for the standard test, else a server.
  std::string c, s = deviceAlone ? "" : typed[0], d = deviceAlone ? typed[0] : "";
  int16_t code = 0;
  if (!lib.FindNames(c, s, d, &code) || c.empty() || s.empty()) {
    // The look-up that failed says why: not listed, or not asked at all.
    error = code != 0 ? "\"" + typed[0] + "\" cannot be looked up: " + GetErrorString(lib, code) +
                            " (code " + std::to_string(code) + ")"
                      : "\"" + typed[0] + "\" names no " + (deviceAlone ? "device" : "server") +
                            " this control system knows; give CONTEXT SERVER" +
                            (deviceAlone ? " DEVICE" : "");
    return false;
  }
  context = c;
  server = s;
  if (deviceAlone) device = d;
  return true;
}

// The information block; exit 1 when the server did not answer.
int Info(Checker& checker, const std::string& context, const std::string& server, bool json) {
  int16_t code = 0;
  const std::string text = checker.sources().GetServerInfo(context, server, &code);
  const bool answered = code != kCodeServerUnavailable45 && code != kCodeServerUnavailable98;
  // Where the control system knows the server's own name and host (Tango's).
  const std::string name = checker.lib().LongNameOf(context, server, "").name;
  const std::string host = checker.lib().LongNameOf(context, server, "#0").host;
  if (json) {
    Json j;
    j["type"] = "info";
    j["context"] = AsUtf8(context);
    j["server"] = AsUtf8(server);
    j["answered"] = answered;
    j["code"] = code;
    Json fields;
    size_t start = 0;
    for (size_t end = text.find("\r\n"); end != std::string::npos;
         start = end + 2, end = text.find("\r\n", start)) {
      const std::string line = text.substr(start, end - start);
      const size_t colon = line.find(": ");
      if (colon == std::string::npos) continue;
      fields[AsUtf8(TrimWhite(line.substr(0, colon)))] = AsUtf8(line.substr(colon + 2));
    }
    if (!name.empty()) j["name"] = AsUtf8(name);
    if (!host.empty()) j["host"] = AsUtf8(host);
    j["fields"] = fields;
    PrintJson(j);
  } else {
    std::cout << TerminalText(text) << "\n";
    if (!name.empty()) std::cout << " name: " << TerminalText(name) << "\n";
    if (!host.empty()) std::cout << " host: " << TerminalText(host) << "\n";
  }
  if (!answered)
    std::cerr << "ovra-check: /" << TerminalText(context) << "/" << TerminalText(server) << ": "
              << TerminalText(GetErrorString(checker.lib(), code)) << " (code " << code << ")\n";
  return answered ? kExitOk : kExitFailed;
}

}  // namespace dsc::check
