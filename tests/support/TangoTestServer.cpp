#include "tests/support/TangoTestServer.h"

#include "tests/support/Processes.h"

namespace dsc::testing {

bool TangoTestServer::Start(std::string& error) {
  Stop();
  port_ = 0;
  // Held until the server listens on the port (or has given up on it).
  const HeldPort held(port_);
  if (port_ == 0) {
    error = "no free loopback port";
    return false;
  }
  const bool started = StartTangoTest(
      {Executable(), "test", "-ORBendPoint", "giop:tcp:127.0.0.1:" + std::to_string(port_), "-nodb",
       "-dlist", "sys/tg_test/1"},
      kScratch.dir + "/TangoTest-" + std::to_string(port_) + ".log", pid_, error);
  if (!started) Stop();
  return started;
}

void TangoTestServer::Stop() { Terminate(pid_); }

void TangoTestServer::Pause() {
  if (pid_ <= 0) return;
  // A stop signal takes effect when the server's threads next run, which on
  // a loaded machine can be after it has answered a request or two; only the
  // stop reported by waitpid means nothing answers any more.
  kill(pid_, SIGSTOP);
  int status = 0;
  if (waitpid(pid_, &status, WUNTRACED) == pid_ && !WIFSTOPPED(status)) pid_ = -1;  // it ended
}

void TangoTestServer::Resume() {
  if (pid_ > 0) kill(pid_, SIGCONT);
}

std::string TangoTestServer::SiteJson(const std::string& contextFields) const {
  return R"({"site": "TangoTest", "tango": {"contexts": [{"name": "TGTEST", "host": "127.0.0.1",
  "port": )" +
         std::to_string(port_) + ", " + contextFields +
         R"("pollMs": 50, "servers": [{"name": "TANGOTEST", "instance": "TangoTest/test",
  "devices": [{"name": "TG-1", "device": "sys/tg_test/1"}]}]}]}})";
}

}  // namespace dsc::testing
