#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <string>

namespace dsc::testing {

// Debian's TangoTest device server (sys/tg_test/1) running without a Tango
// database on a free loopback port, for the tests and benchmarks of the Tango
// backend. Stopped when the object goes.
class TangoTestServer {
 public:
  TangoTestServer() = default;
  TangoTestServer(const TangoTestServer&) = delete;
  TangoTestServer& operator=(const TangoTestServer&) = delete;
  ~TangoTestServer() { Stop(); }

  static std::string Executable() { return "/usr/lib/tango/TangoTest"; }
  static bool Installed() { return access(Executable().c_str(), X_OK) == 0; }
  static std::string Missing() { return Executable() + " (package tango-test)"; }

  // Starts the server and waits until it accepts requests (20 s at most).
  bool Start(std::string& error);
  void Stop();    // SIGTERM, then SIGKILL when it lingers
  void Pause();   // SIGSTOP, returning once stopped: the port stays open, nothing answers
  void Resume();  // SIGCONT
  int port() const { return port_; }

  // A site file naming the server TANGOTEST with the device TG-1 in the
  // context TGTEST, polled every 50 ms, with more fields in the context.
  std::string SiteJson(const std::string& contextFields = "") const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace dsc::testing
