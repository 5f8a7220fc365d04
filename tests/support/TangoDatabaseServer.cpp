#include "tests/support/TangoDatabaseServer.h"

#include <tango/tango.h>

#include <filesystem>

#include "tests/support/Processes.h"

namespace dsc::testing {

namespace {

constexpr const char* kMariadbInstall = "/usr/bin/mariadb-install-db";
constexpr const char* kMariadbd = "/usr/sbin/mariadbd";
constexpr const char* kMariadb = "/usr/bin/mariadb";
constexpr const char* kDataBaseds = "/usr/lib/tango/DataBaseds";
constexpr const char* kTangoAdmin = "/usr/bin/tango_admin";
constexpr const char* kTangoTest = "/usr/lib/tango/TangoTest";
constexpr const char* kSchema = "/usr/share/dbconfig-common/data/tango-db/install/mysql";

// A call of the test process's own Tango client of the database at `port`;
// false, with Tango's reason, when it fails.
template <class Call>
bool Registered(int port, std::string& error, Call call) {
  try {
    std::string host = "127.0.0.1";
    Tango::Database db(host, port);
    call(db);
    return true;
  } catch (const Tango::DevFailed& e) {
    error = e.errors.length() == 0 ? "Tango error"
                                   : std::string(e.errors[0].reason) + ": " + e.errors[0].desc.in();
    return false;
  }
}

}  // namespace

std::string TangoDatabaseServer::Missing() {
  std::string missing;
  for (const char* path :
       {kMariadbInstall, kMariadbd, kMariadb, kDataBaseds, kTangoAdmin, kTangoTest, kSchema})
    if (access(path, F_OK) != 0) missing += std::string(missing.empty() ? "" : ", ") + path;
  return missing;
}

bool TangoDatabaseServer::Run(const std::vector<std::string>& argv, std::string& output) {
  const pid_t pid = Spawn(argv, dir_ + "/run.log");
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
  output = ReadAll(dir_ + "/run.log");
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool TangoDatabaseServer::Start(std::string& error) {
  Stop();
  std::string out;
  auto failed = [&](const std::string& what, const std::string& text) {
    error = what + ": " + text;
    return false;
  };
  // The MariaDB socket's path must stay under 108 bytes.
  char dir[] = "/tmp/ovra-tangodb-XXXXXX";
  if (!mkdtemp(dir)) return failed("cannot create a directory in /tmp", dir);
  dir_ = dir;
  // mariadb-install-db and mariadbd with these options first, then `more`.
  // Temporary tables go to the directory too: two installs sharing /tmp
  // collided there when two test programs ran at once.
  auto mariadb = [&](const char* executable, std::vector<std::string> more) {
    more.insert(more.begin(),
                {executable, "--no-defaults", "--user=root", "--datadir=" + dir_ + "/data",
                 "--tmpdir=" + dir_, "--skip-name-resolve", "--innodb-log-file-size=8M"});
    return more;
  };
  if (!Run(mariadb(kMariadbInstall, {"--skip-test-db", "--auth-root-authentication-method=normal"}),
           out))
    return failed("mariadb-install-db failed", out);
  sqlPort_ = dbPort_ = 0;
  const HeldPort held(sqlPort_);  // until MariaDB listens on it
  mariadb_ =
      Spawn(mariadb(kMariadbd, {"--socket=" + dir_ + "/sql.sock", "--skip-log-bin",
                                "--port=" + std::to_string(sqlPort_), "--bind-address=127.0.0.1"}),
            dir_ + "/mariadbd.log");
  // The client is given a connect time-out: a port someone else holds would
  // otherwise hang it for minutes.
  auto sql = [&](const std::string& statements) {
    return Run({kMariadb, "--no-defaults", "--connect-timeout=2", "--protocol=TCP", "-h127.0.0.1",
                "-P" + std::to_string(sqlPort_), "-uroot", "-e", statements},
               out);
  };
  if (!WaitFor(std::chrono::seconds(20), [&] { return sql("SELECT 1"); }))
    return failed("MariaDB did not start", ReadAll(dir_ + "/mariadbd.log"));
  // The schema uses DELIMITER, which only the client's own "source" understands.
  if (!sql("CREATE DATABASE tango; CREATE USER 'tango'@'%' IDENTIFIED BY 'tango'; "
           "GRANT ALL ON tango.* TO 'tango'@'%';\nUSE tango;\nsource " +
           std::string(kSchema)))
    return failed("cannot create the tango database", out);
  return StartDatabaseServer(error);
}

bool TangoDatabaseServer::StartDatabaseServer(std::string& error) {
  const HeldPort held(dbPort_);  // until DataBaseds listens on it
  // Never MYSQL_HOST=localhost: that is the system's socket.
  databaseds_ = Spawn({"MYSQL_HOST=127.0.0.1:" + std::to_string(sqlPort_), "MYSQL_USER=tango",
                       "MYSQL_PASSWORD=tango", "TANGO_HOST=" + TangoHost(), kDataBaseds, "2",
                       "-ORBendPoint", "giop:tcp:127.0.0.1:" + std::to_string(dbPort_)},
                      dir_ + "/databaseds.log");
  // DataBaseds exits 0 even when it fails: ready is when it answers.
  std::string out;
  if (WaitFor(std::chrono::seconds(20), [&] {
        return Run({"TANGO_HOST=" + TangoHost(), kTangoAdmin, "--ping-database", "1"}, out);
      }))
    return true;
  error = "DataBaseds did not answer: " + ReadAll(dir_ + "/databaseds.log");
  return false;
}

void TangoDatabaseServer::StopDatabaseServer() { Terminate(databaseds_); }

void TangoDatabaseServer::Stop() {
  for (pid_t& pid : servers_) Terminate(pid);
  servers_.clear();
  StopDatabaseServer();
  Terminate(mariadb_, std::chrono::seconds(10));
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  dir_.clear();
}

bool TangoDatabaseServer::AddServer(const std::string& instance, const std::string& className,
                                    const std::vector<std::string>& devices, std::string& error) {
  return Registered(dbPort_, error, [&](Tango::Database& db) {
    Tango::DbDevInfos infos;
    for (const std::string& d : devices) infos.push_back({d, className, instance});
    std::string name = instance;
    db.add_server(name, infos);
  });
}

bool TangoDatabaseServer::DeleteServer(const std::string& instance, std::string& error) {
  return Registered(dbPort_, error, [&](Tango::Database& db) {
    std::string name = instance;
    db.delete_server(name);
  });
}

bool TangoDatabaseServer::PutProperty(const std::string& device, const std::string& attribute,
                                      const std::string& property,
                                      const std::vector<std::string>& lines, std::string& error) {
  return Registered(dbPort_, error, [&](Tango::Database& db) {
    Tango::DbDatum name(attribute), datum(property);
    name << static_cast<short>(1);  // one property follows
    std::vector<std::string> values = lines;
    datum << values;
    Tango::DbData data = attribute.empty() ? Tango::DbData{datum} : Tango::DbData{name, datum};
    if (attribute.empty())
      db.put_device_property(device, data);
    else
      db.put_device_attribute_property(device, data);
  });
}

bool TangoDatabaseServer::StartTangoTest(const std::string& instance, std::string& error) {
  pid_t& pid = servers_.emplace_back(-1);  // stopped with the rest when it hangs
  // Port 0: the server takes a free one and tells the database.
  return dsc::testing::StartTangoTest(
      {"TANGO_HOST=" + TangoHost(), kTangoTest, instance, "-ORBendPoint", "giop:tcp:127.0.0.1:"},
      dir_ + "/TangoTest-" + instance + ".log", pid, error);
}

}  // namespace dsc::testing
