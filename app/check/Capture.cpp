// capture: a test file of a device's current values (sources/Capture.h, as
// the window's script editor makes it), written by the one writer of the
// dialect (sources/Csv.h), so that "specific" and the editor read it as any
// other. Everything goes through the client library and the control, so it
// is any backend's that lists properties and reads them.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "access/NamespaceQueries.h"
#include "app/check/Commands.h"
#include "sources/Capture.h"
#include "sources/Csv.h"

namespace dsc::check {

int Capture(Checker& checker, const std::vector<std::string>& typed, const std::string& output) {
  ClientLibrary& lib = checker.lib();
  std::string context, server, device, error;
  // One name is a device where it names one, else a server.
  if (!(typed.size() == 1 && Resolve(lib, typed, true, context, server, device, error)) &&
      !Resolve(lib, typed, false, context, server, device, error)) {
    std::cerr << "ovra-check: " << TerminalText(error) << "\n";
    return kExitFailed;
  }
  std::vector<std::string> devices{device};
  if (device.empty()) {
    int16_t n = 0;
    const int16_t code = GetDeviceNameList(lib, server, devices, n);
    if (code != 0) {
      std::cerr << "ovra-check: /" << TerminalText(context) << "/" << TerminalText(server)
                << ": no device list: " << TerminalText(GetErrorString(lib, code)) << " (code "
                << code << ")\n";
      return kExitFailed;
    }
    devices.resize(static_cast<size_t>(std::max<int16_t>(n, 0)));
  }
  if (!output.empty()) {
    std::error_code ec;
    if (std::filesystem::exists(output, ec)) {
      std::cerr << "ovra-check: " << TerminalText(output)
                << " exists; capture writes a new file only\n";
      return kExitUsage;
    }
  }

  const CapturedTest captured =
      CaptureCurrentValues(lib, checker.control(), context, server, devices);
  for (const CapturedTest::Skipped& s : captured.skipped)
    std::cerr << "ovra-check: " << TerminalText(s.property)
              << " not captured: " << TerminalText(s.status) << "\n";
  if (captured.failed()) {
    std::cerr << "ovra-check: " << TerminalText(captured.failedAddress)
              << ": no property list: " << TerminalText(captured.failureText) << " (code "
              << captured.failureCode << ")\n";
    return kExitFailed;
  }
  const std::vector<TestCommand>& commands = captured.commands;
  const std::string text = "; Captured from /" + context + "/" + server +
                           (device.empty() ? "" : "/" + device) + " by ovra-check capture.\r\n" +
                           TestFileText(commands, static_cast<int32_t>(commands.size()));
  if (output.empty()) {
    std::cout << text;
    return kExitOk;
  }
  std::ofstream out(output, std::ios::binary);
  out << text;
  if (!out.flush()) {
    std::cerr << "ovra-check: " << TerminalText(output) << " cannot be written\n";
    return kExitUsage;
  }
  std::cerr << "ovra-check: " << commands.size() << " steps written to " << TerminalText(output)
            << "\n";
  return kExitOk;
}

}  // namespace dsc::check
