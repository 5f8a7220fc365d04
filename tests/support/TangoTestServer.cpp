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

// A free loopback port, kept bound (not listening) by the returned socket
// until the server has bound it too. Both sockets allow address reuse, so the
// server's listening socket may share the port, while the kernel hands it to
// nobody else meanwhile: not to another test's search for a free port, nor to
// an outgoing connection or another server's event channel. -1 on failure.
int HoldFreeLoopbackPort(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = 1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
      bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
    return fd;
  }
  close(fd);
  return -1;
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
  const int held = HoldFreeLoopbackPort(port_);
  if (held < 0) {
    error = "no free loopback port";
    return false;
  }
  // Released once the server listens on the port (or has given up on it).
  struct Release {
    int fd;
    ~Release() { close(fd); }
  } release{held};
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

std::string TangoTestServer::SiteJson(int pollMs) const {
  return R"({"site": "TangoTest", "tango": {"contexts": [{"name": "TGTEST", "host": "127.0.0.1",
  "port": )" +
         std::to_string(port_) + R"(, "pollMs": )" + std::to_string(pollMs) +
         R"(, "servers": [{"name": "TANGOTEST", "instance": "TangoTest/test",
  "devices": [{"name": "TG-1", "device": "sys/tg_test/1"}]}]}]}})";
}

}  // namespace dsc::testing
