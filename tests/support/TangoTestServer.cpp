#include "tests/support/TangoTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace dsc::testing {

namespace {

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string TangoTestServer::Executable() {
  const char* path = std::getenv("OVRA_TANGOTEST");
  return path && *path ? path : "/usr/lib/tango/TangoTest";
}

bool TangoTestServer::Installed() { return access(Executable().c_str(), X_OK) == 0; }

bool TangoTestServer::Start(std::string& error) {
  Stop();
  port_ = FreeLoopbackPort();
  if (port_ == 0) {
    error = "no free loopback port";
    return false;
  }
  char logName[] = "/tmp/ovra-tangotest-XXXXXX";
  const int logFd = mkstemp(logName);
  if (logFd < 0) {
    error = "cannot create a log file in /tmp";
    return false;
  }
  log_ = logName;
  const std::string executable = Executable();
  const std::string endpoint = "giop:tcp:127.0.0.1:" + std::to_string(port_);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(logFd, STDOUT_FILENO);
    dup2(logFd, STDERR_FILENO);
    execl(executable.c_str(), executable.c_str(), "test", "-ORBendPoint", endpoint.c_str(), "-nodb",
          "-dlist", "sys/tg_test/1", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(logFd);
  if (pid_ < 0) {
    error = "cannot start " + executable;
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (ReadAll(log_).find("Ready to accept request") != std::string::npos) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error = executable + " ended at once: " + ReadAll(log_);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  error = executable + " did not get ready in 20 s: " + ReadAll(log_);
  Stop();
  return false;
}

void TangoTestServer::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGCONT);
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (pid_ > 0) Kill();
  }
  if (!log_.empty()) {
    unlink(log_.c_str());
    log_.clear();
  }
}

void TangoTestServer::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void TangoTestServer::Pause() {
  if (pid_ > 0) kill(pid_, SIGSTOP);
}

void TangoTestServer::Resume() {
  if (pid_ > 0) kill(pid_, SIGCONT);
}

std::string TangoTestServer::SiteJson(int pollMs) const {
  return R"({"site": "TangoTest", "tango": {"contexts": [{"name": "TGTEST", "host": "127.0.0.1",
  "port": )" +
         std::to_string(port_) + R"(, "pollMs": )" + std::to_string(pollMs) +
         R"(, "servers": [{"name": "TANGOTEST", "instance": "TangoTest/test",
  "devices": [{"name": "TG-1", "device": "sys/tg_test/1"}]}]}]}})";
}

}  // namespace dsc::testing
