#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace dsc::testing {

// A Tango database as a site runs it, for the tests and benchmarks: a private
// MariaDB in a temporary directory, Debian's DataBaseds over it on a free
// loopback port, and device servers registered in it (Debian's TangoTest)
// started on demand. Everything it started is stopped, and its directory
// removed, when the object goes.
class TangoDatabaseServer {
 public:
  TangoDatabaseServer() = default;
  TangoDatabaseServer(const TangoDatabaseServer&) = delete;
  TangoDatabaseServer& operator=(const TangoDatabaseServer&) = delete;
  ~TangoDatabaseServer() { Stop(); }

  // Whether MariaDB, DataBaseds, tango_admin and TangoTest are installed.
  static bool Installed() { return Missing().empty(); }
  static std::string Missing();  // what is not installed, for the skip message

  // Creates the database and starts DataBaseds; waits until it answers.
  bool Start(std::string& error);
  void Stop();
  // Stops DataBaseds alone (the MariaDB stays): a database gone; and starts
  // it again on the same port.
  void StopDatabaseServer();
  bool StartDatabaseServer(std::string& error);
  // DataBaseds' process (to stop it with SIGSTOP, say); -1 when none runs.
  // It stays this object's to end.
  pid_t DatabaseServerPid() const { return databaseds_; }

  std::string TangoHost() const { return "127.0.0.1:" + std::to_string(dbPort_); }

  // Registers a server instance ("Executable/instance") of a class with its
  // devices; false, with Tango's reason, on a Tango error.
  bool AddServer(const std::string& instance, const std::string& className,
                 const std::vector<std::string>& devices, std::string& error);
  bool DeleteServer(const std::string& instance, std::string& error);
  // A device property, or with `attribute` an attribute's configuration
  // property (max_alarm, say; read by the server when it starts).
  bool PutProperty(const std::string& device, const std::string& attribute,
                   const std::string& property, const std::vector<std::string>& lines,
                   std::string& error);

  // Starts Debian's TangoTest as instance `instance` (registered in the
  // database), on a port of its own choosing; waits until it is ready.
  bool StartTangoTest(const std::string& instance, std::string& error);
  // The process of the server StartTangoTest started last (to stop it with
  // SIGSTOP, say); -1 when none runs. It stays this object's to end.
  pid_t LastServerPid() const { return servers_.empty() ? -1 : servers_.back(); }

 private:
  bool Run(const std::vector<std::string>& argv, std::string& output);

  std::string dir_;
  int sqlPort_ = 0;
  int dbPort_ = 0;
  pid_t mariadb_ = -1;
  pid_t databaseds_ = -1;
  std::vector<pid_t> servers_;
};

}  // namespace dsc::testing
