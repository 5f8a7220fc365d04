#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstring>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "access/NamespaceQueries.h"
#include "base/Formats.h"
#include "engine/CheckRunner.h"
#include "engine/CheckerSession.h"
#include "engine/ControlEventPump.h"
#include "sources/TestSources.h"
#include "tango/TangoBackend.h"
#include "tests/support/Fakes.h"

namespace dsc::tango {

inline constexpr const char* kHeader =
    "Description,Property,Device,InputSize,InputFormat,Data,OutputSize,OutputFormat,Reference,"
    "Access\r\n";

inline double Seconds(const std::function<void()>& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One checker on a Tango site file: the library, Zorbel1, a session with its
// report and database in temporary directories, and the runner with in-memory
// front ends. Every ended command is kept in `outcomes`.
struct LiveChecker {
  explicit LiveChecker(const std::string& siteJson)
      : library(LoadSite(siteJson, "test site", siteError).value(), clock) {
    session.DatabasePath = database.path() + "/";
    // The command an outcome points to lives only as long as the call.
    runner.setOutcomeObserver([this](const CommandOutcome& o) {
      outcomes.push_back({o.command->Property,
                          o.outcome.kind == OutcomeKind::NotRun ? -2 : o.outcome.code, o.resultText,
                          o.outcome.repeated});
    });
  }

  // Runs the rows after the header as the server's test file (by default
  // TangoTestServer's).
  bool RunFile(const std::string& rows, const std::string& context = "TGTEST",
               const std::string& server = "TANGOTEST") {
    database.write(context + "-" + server + ".csv", kHeader + rows);
    return sources.initSelfText(context, server, "#0") == 0 && runner.RunVesk(context, server);
  }

  // The contexts, the servers of a context, or the devices of a server;
  // lastCode says how the list went.
  std::vector<std::string> Names(const std::string& context = "", const std::string& server = "") {
    std::vector<std::string> names;
    int16_t n = 0;
    lastCode = context.empty()  ? GetContextList(library, names, n)
               : server.empty() ? GetServerList(library, context, names, n)
                                : GetDeviceNameList(library, server, names, n);
    names.resize(lastCode == 0 ? n : 0);
    return names;
  }

  // Where FindNames finds typed names: "context|server|device", or "".
  std::string Found(std::string context, std::string server, std::string device) {
    return library.FindNames(context, server, device) ? context + "|" + server + "|" + device : "";
  }

  // A device's PROPS as name -> "size FORMAT;" for every record of the name.
  std::map<std::string, std::string> Props(const std::string& device) {
    std::vector<std::string> names;
    std::vector<int16_t> sizes, formats;
    int16_t n = 0;
    lastCode = GetPropertyList(library, device, names, sizes, formats, n);
    std::map<std::string, std::string> props;
    for (int i = 0; lastCode == 0 && i < n; ++i)
      props[names[i]] += std::to_string(sizes[i]) + " " + FormatNameFromCode(formats[i]) + ";";
    return props;
  }

  std::string siteError;  // the tests' sites are valid
  SystemClock clock;
  testing::TempDir reports, database;
  TangoLibrary library;
  std::unique_ptr<DataAcquisitionControl> control = MakeTangoControl(library);
  CheckerSession session{clock, reports.path()};
  TestSources sources{session, library};
  testing::MemoryGrid grid;
  testing::ScriptedPrompt prompt;
  ControlEventPump pump{
      *control, [](int32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }};
  CheckRunner runner{session, *control, grid, prompt, pump, clock};
  struct Seen {
    std::string property;
    int32_t status;
    std::string resultText;
    bool repeated;  // a time-out the client library repeated
  };
  std::vector<Seen> outcomes;
  int16_t lastCode = 0;
};

// A server (or database) that `Prepare` starts once for a suite of tests,
// stopped after it; the tests are skipped where it is not installed.
template <class Server, bool (*Prepare)(Server&, std::string&)>
class LiveSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = std::make_unique<Server>();
    if (!Prepare(*server_, startError_)) server_.reset();
  }
  static void TearDownTestSuite() { server_.reset(); }
  void SetUp() override {
    // CI sets OVRA_REQUIRE_LIVE=1: there a missing server is a fault, not a skip.
    if (!Server::Installed()) {
      const char* required = std::getenv("OVRA_REQUIRE_LIVE");
      if (required && std::string(required) == "1")
        FAIL() << "OVRA_REQUIRE_LIVE=1 but not installed: " << Server::Missing();
      GTEST_SKIP() << "not installed: " << Server::Missing();
    }
    ASSERT_NE(server_, nullptr) << startError_;
  }
  static Server& server() { return *server_; }
  inline static std::unique_ptr<Server> server_;
  inline static std::string startError_;
};

// One synchronous access of DOUBLE values through the checker's control; its
// completion code. Facts, note and text are then the control's.
inline int32_t AccessOnce(LiveChecker& c, const std::string& context, const std::string& server,
                          const std::string& device, const std::string& property,
                          std::vector<double> in, int32_t outCount) {
  DataAcquisitionControl& z = *c.control;
  z.setContextName(context);
  z.setServerName(server);
  z.setDeviceName(device);
  z.setPropertyName(property);
  z.setAccessMode("READ");
  z.setLinkTimeout(3000);
  std::vector<uint8_t> input(in.size() * 8), out(static_cast<size_t>(outCount) * 8);
  if (!in.empty()) std::memcpy(input.data(), in.data(), input.size());
  return z.ExecuteAccess(out, outCount, kFormatDouble, input, static_cast<int32_t>(in.size()),
                         in.empty() ? kFormatNull : kFormatDouble);
}

#ifdef OVRA_CHECK_EXE
// ovra-check after the `env` settings, with its reports and database in dir
// and its output in dir/out; its exit status (-1: it did not exit).
inline int RunOvraCheck(const testing::TempDir& dir, const std::string& env,
                        const std::string& args) {
  const std::string command = env + " " + OVRA_CHECK_EXE + " --report-dir '" + dir.path() +
                              "' --database '" + dir.path() + "' " + args + " >'" +
                              dir.file("out") + "' 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

}  // namespace dsc::tango
