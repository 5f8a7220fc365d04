#include "tests/support/TangoDatabaseServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <tango/tango.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

extern char** environ;

namespace dsc::testing {

namespace {

constexpr const char* kMariadbInstall = "/usr/bin/mariadb-install-db";
constexpr const char* kMariadbd = "/usr/sbin/mariadbd";
constexpr const char* kMariadb = "/usr/bin/mariadb";
constexpr const char* kDataBaseds = "/usr/lib/tango/DataBaseds";
constexpr const char* kTangoAdmin = "/usr/bin/tango_admin";
constexpr const char* kTangoTest = "/usr/lib/tango/TangoTest";
constexpr const char* kSchema = "/usr/share/dbconfig-common/data/tango-db/install/mysql";

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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

template <class Done>
bool WaitFor(std::chrono::milliseconds limit, Done done) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

// SIGTERM, then SIGKILL when it lingers; reaps the process.
void Terminate(pid_t& pid, std::chrono::milliseconds grace) {
  if (pid <= 0) return;
  kill(pid, SIGCONT);
  kill(pid, SIGTERM);
  if (!WaitFor(grace, [&] { return waitpid(pid, nullptr, WNOHANG) == pid; })) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  pid = -1;
}

// The Tango client of the test process itself, used to register servers.
std::map<std::string, std::unique_ptr<Tango::Database>>& Databases() {
  static std::map<std::string, std::unique_ptr<Tango::Database>> databases;
  return databases;
}

Tango::Database& DatabaseAt(int port) {
  std::unique_ptr<Tango::Database>& db = Databases()[std::to_string(port)];
  if (!db) {
    std::string host = "127.0.0.1";
    db = std::make_unique<Tango::Database>(host, port);
  }
  return *db;
}

std::string TangoError(const Tango::DevFailed& e) {
  return e.errors.length() > 0
             ? std::string(e.errors[0].reason.in()) + ": " + std::string(e.errors[0].desc.in())
             : "Tango error";
}

}  // namespace

std::string TangoDatabaseServer::Missing() {
  std::string missing;
  for (const char* path :
       {kMariadbInstall, kMariadbd, kMariadb, kDataBaseds, kTangoAdmin, kTangoTest, kSchema})
    if (access(path, F_OK) != 0) missing += std::string(missing.empty() ? "" : ", ") + path;
  return missing;
}

bool TangoDatabaseServer::Installed() { return Missing().empty(); }

pid_t TangoDatabaseServer::Spawn(const std::vector<std::string>& argv, const std::string& log,
                                 const std::map<std::string, std::string>& environment) {
  // Everything the child needs is made before fork: the test process has
  // threads (Tango's), so the child only calls what is safe after fork.
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string key = entry.substr(0, entry.find('='));
    if (!environment.count(key)) envText.push_back(entry);
  }
  for (const auto& [key, value] : environment) envText.push_back(key + "=" + value);
  std::vector<char*> args, env;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (std::string& e : envText) env.push_back(e.data());
  env.push_back(nullptr);
  const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(nullFd, STDIN_FILENO);
    dup2(logFd, STDOUT_FILENO);
    dup2(logFd, STDERR_FILENO);
    execve(args[0], args.data(), env.data());
    _exit(127);
  }
  close(logFd);
  close(nullFd);
  return pid;
}

bool TangoDatabaseServer::Run(const std::vector<std::string>& argv, std::string& output,
                              const std::map<std::string, std::string>& environment) {
  const std::string log = dir_ + "/run.log";
  std::filesystem::remove(log);
  const pid_t pid = Spawn(argv, log, environment);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
  output = ReadAll(log);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool TangoDatabaseServer::Start(std::string& error) {
  Stop();
  // The MariaDB socket's path must stay under 108 bytes.
  char dir[] = "/tmp/ovra-tangodb-XXXXXX";
  if (!mkdtemp(dir)) {
    error = "cannot create a directory in /tmp";
    return false;
  }
  dir_ = dir;
  std::filesystem::create_directories(dir_ + "/data");
  std::filesystem::create_directories(dir_ + "/tmp");
  std::string out;
  if (!Run({kMariadbInstall, "--no-defaults", "--user=root", "--datadir=" + dir_ + "/data",
            "--tmpdir=" + dir_ + "/tmp", "--auth-root-authentication-method=normal",
            "--skip-test-db", "--skip-name-resolve", "--innodb-log-file-size=8M"},
           out)) {
    error = "mariadb-install-db failed: " + out;
    return false;
  }
  sqlPort_ = FreeLoopbackPort();
  mariadb_ = Spawn({kMariadbd, "--no-defaults", "--user=root", "--datadir=" + dir_ + "/data",
                    "--tmpdir=" + dir_ + "/tmp", "--socket=" + dir_ + "/sql.sock",
                    "--port=" + std::to_string(sqlPort_), "--bind-address=127.0.0.1",
                    "--skip-name-resolve", "--innodb-log-file-size=8M", "--skip-log-bin"},
                   dir_ + "/mariadbd.log", {});
  // The client is given a connect time-out: a port someone else holds would
  // otherwise hang it for minutes.
  const std::vector<std::string> client = {
      kMariadb,         "--no-defaults", "--connect-timeout=2",
      "--protocol=TCP", "-h127.0.0.1",   "-P" + std::to_string(sqlPort_),
      "-uroot"};
  auto sql = [&](const std::string& statements) {
    std::vector<std::string> argv = client;
    argv.push_back("-e");
    argv.push_back(statements);
    return Run(argv, out);
  };
  if (!WaitFor(std::chrono::seconds(20), [&] { return sql("SELECT 1"); })) {
    error = "MariaDB did not start: " + ReadAll(dir_ + "/mariadbd.log");
    return false;
  }
  if (!sql("CREATE DATABASE tango; CREATE USER 'tango'@'%' IDENTIFIED BY 'tango'; "
           "GRANT ALL ON tango.* TO 'tango'@'%';")) {
    error = "cannot create the tango database: " + out;
    return false;
  }
  // The schema uses DELIMITER, which only the client understands.
  std::vector<std::string> load = client;
  load.push_back("tango");
  load.push_back("-e");
  load.push_back(std::string("source ") + kSchema);
  if (!Run(load, out)) {
    error = "cannot load the Tango schema: " + out;
    return false;
  }
  dbPort_ = FreeLoopbackPort();
  return StartDatabaseServer(error);
}

bool TangoDatabaseServer::StartDatabaseServer(std::string& error) {
  // Never MYSQL_HOST=localhost: that is the system's socket.
  databaseds_ =
      Spawn({kDataBaseds, "2", "-ORBendPoint", "giop:tcp:127.0.0.1:" + std::to_string(dbPort_)},
            dir_ + "/databaseds.log",
            {{"MYSQL_HOST", "127.0.0.1:" + std::to_string(sqlPort_)},
             {"MYSQL_USER", "tango"},
             {"MYSQL_PASSWORD", "tango"},
             {"TANGO_HOST", TangoHost()}});
  // DataBaseds exits 0 even when it fails: ready is when it answers.
  std::string out;
  if (!WaitFor(std::chrono::seconds(20), [&] {
        return Run({kTangoAdmin, "--ping-database", "1"}, out, {{"TANGO_HOST", TangoHost()}});
      })) {
    error = "DataBaseds did not answer: " + ReadAll(dir_ + "/databaseds.log");
    return false;
  }
  return true;
}

void TangoDatabaseServer::StopDatabaseServer() {
  Databases().erase(std::to_string(dbPort_));
  Terminate(databaseds_, std::chrono::seconds(5));
}

void TangoDatabaseServer::Stop() {
  for (pid_t& pid : servers_) Terminate(pid, std::chrono::seconds(5));
  servers_.clear();
  StopDatabaseServer();
  Terminate(mariadb_, std::chrono::seconds(10));
  if (!dir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    dir_.clear();
  }
}

bool TangoDatabaseServer::AddServer(const std::string& instance, const std::string& className,
                                    const std::vector<std::string>& devices, std::string& error) {
  try {
    Tango::DbDevInfos infos;
    for (const std::string& d : devices) {
      Tango::DbDevInfo info;
      info.name = d;
      info._class = className;
      info.server = instance;
      infos.push_back(info);
    }
    std::string name = instance;
    DatabaseAt(dbPort_).add_server(name, infos);
    return true;
  } catch (const Tango::DevFailed& e) {
    error = TangoError(e);
    return false;
  }
}

bool TangoDatabaseServer::PutDeviceProperty(const std::string& device, const std::string& property,
                                            const std::vector<std::string>& lines,
                                            std::string& error) {
  try {
    Tango::DbDatum datum(property);
    std::vector<std::string> values = lines;
    datum << values;
    Tango::DbData data{datum};
    std::string name = device;
    DatabaseAt(dbPort_).put_device_property(name, data);
    return true;
  } catch (const Tango::DevFailed& e) {
    error = TangoError(e);
    return false;
  }
}

bool TangoDatabaseServer::PutAttributeProperty(const std::string& device,
                                               const std::string& attribute,
                                               const std::string& property,
                                               const std::string& value, std::string& error) {
  try {
    Tango::DbDatum name(attribute), datum(property);
    name << static_cast<short>(1);  // one property follows
    std::string text = value;
    datum << text;
    Tango::DbData data{name, datum};
    std::string dev = device;
    DatabaseAt(dbPort_).put_device_attribute_property(dev, data);
    return true;
  } catch (const Tango::DevFailed& e) {
    error = TangoError(e);
    return false;
  }
}

pid_t TangoDatabaseServer::StartTangoTest(const std::string& instance, std::string& error) {
  const std::string log = dir_ + "/TangoTest-" + instance + ".log";
  // Port 0: the server takes a free one and tells the database.
  const pid_t pid = Spawn({kTangoTest, instance, "-ORBendPoint", "giop:tcp:127.0.0.1:"}, log,
                          {{"TANGO_HOST", TangoHost()}});
  if (pid < 0) {
    error = "cannot start TangoTest";
    return -1;
  }
  servers_.push_back(pid);
  bool ended = false;
  if (!WaitFor(std::chrono::seconds(20),
               [&] {
                 if (waitpid(pid, nullptr, WNOHANG) == pid) ended = true;
                 return ended || ReadAll(log).find("Ready to accept request") != std::string::npos;
               }) ||
      ended) {
    error = "TangoTest " + instance + (ended ? " ended: " : " did not get ready: ") + ReadAll(log);
    if (ended)
      std::erase(servers_, pid);  // reaped already
    else
      StopProcess(pid);
    return -1;
  }
  return pid;
}

void TangoDatabaseServer::StopProcess(pid_t pid) {
  for (pid_t& p : servers_) {
    if (p != pid) continue;
    Terminate(p, std::chrono::seconds(5));
  }
  std::erase(servers_, -1);
}

}  // namespace dsc::testing
