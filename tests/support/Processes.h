#pragma once

// Starting, waiting for and stopping the servers the Tango tests run, and
// the loopback ports they listen on.

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace dsc::testing {

// A loopback port (`port`, or a free one when 0, written back) bound without
// listening while the object lives. Both this socket and the servers' allow
// address reuse, so a server started on the port may share it, while the
// kernel hands it to nobody else: not to another test's search for a free
// port, nor to an outgoing connection.
struct HeldPort {
  explicit HeldPort(int& port) : fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const int on = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t length = sizeof address;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      port = ntohs(address.sin_port);
  }
  ~HeldPort() { close(fd); }
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;
  int fd;
};

inline std::string ReadAll(const std::string& path) {
  return {std::istreambuf_iterator<char>(std::ifstream(path).rdbuf()), {}};
}

template <class Done>
bool WaitFor(std::chrono::milliseconds limit, Done done) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

// Tango and omniORB keep a directory of their own in /tmp for a server's logs
// and local sockets (tango-$USER, omni-$USER). The servers the tests start
// keep theirs, and their output, in a scratch directory of this process,
// removed at its end.
inline const struct ServerScratch {
  ServerScratch() {
    char name[] = "/tmp/ovra-servers-XXXXXX";
    if (mkdtemp(name)) dir = name;
  }
  ~ServerScratch() {
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }
  std::string dir;
} kScratch;

// Starts argv[0] (a path, or VARIABLE=value settings first) with its output
// in `log`, written afresh; -1 on failure. No fork of the test process, which
// has threads (Tango's), and no change to its environment, which they read.
inline pid_t Spawn(std::vector<std::string> argv, const std::string& log) {
  argv.insert(argv.begin(), {"/usr/bin/env", "TANGO_LOG_PATH=" + kScratch.dir + "/tango",
                             "ORBunixTransportDirectory=" + kScratch.dir + "/omni"});
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &files, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&files);
  return pid;
}

// Starts Debian's TangoTest (argv) and waits until it says in its log that it
// is ready (20 s at most); false, with the log in `error`, when it did not
// (`pid` is then -1 when it ended, else the hung server's, for its owner to
// stop).
inline bool StartTangoTest(const std::vector<std::string>& argv, const std::string& log, pid_t& pid,
                           std::string& error) {
  pid = Spawn(argv, log);
  const bool ready = WaitFor(std::chrono::seconds(20), [&] {
    if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == pid) pid = -1;
    return pid < 0 || ReadAll(log).find("Ready to accept request") != std::string::npos;
  });
  if (ready && pid > 0) return true;
  error =
      std::string(pid > 0 ? "TangoTest did not get ready in 20 s: " : "TangoTest ended at once: ") +
      ReadAll(log);
  return false;
}

// SIGTERM (to a stopped process too), then SIGKILL when it lingers; reaps it.
inline void Terminate(pid_t& pid, std::chrono::milliseconds grace = std::chrono::seconds(5)) {
  if (pid <= 0) return;
  kill(pid, SIGCONT);
  kill(pid, SIGTERM);
  if (!WaitFor(grace, [&] { return waitpid(pid, nullptr, WNOHANG) == pid; })) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  pid = -1;
}

}  // namespace dsc::testing
