#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "access/ClientLibrary.h"
#include "engine/CheckerSession.h"
#include "engine/ConfiguredRun.h"

namespace dsc {

// The database directory of a program started as argv0: "../database/" when
// the program's own file is in the working directory, else the program's own
// directory + "/../database/". Always ends with "/".
std::string getDatabasePath(const std::string& argv0);

// The database directory the programs start with: getDatabasePath first; when
// that directory does not exist (a program in a build tree), the nearest
// "database" directory holding procedures.csv in the program's directory or
// one of its parents. Every place tried is appended to `looked` when given.
std::string FindDatabaseDirectory(const std::string& argv0,
                                  std::vector<std::string>* looked = nullptr);

// What the database search reads from the command line and the environment;
// tests fill it by hand.
struct DatabaseSearch {
  std::string given;        // --database
  std::string environment;  // $OVRA_DATABASE
  std::string configHome;   // $XDG_CONFIG_HOME, else $HOME/.config; "" when neither is set
  std::string systemDir = "/etc/ovra-checker/database";
  std::string argv0;  // the program: its installed demo database, or its build tree

  static DatabaseSearch FromEnvironment(const std::string& argv0, const std::string& given);
};

struct DatabaseChoice {
  std::string path;    // always ends with "/"
  std::string origin;  // where it came from, for messages: "--database", "$OVRA_DATABASE", ...
  bool named = false;  // --database or $OVRA_DATABASE: taken whether it exists or not
};

// The database directory, first of: --database; $OVRA_DATABASE; the user's
// <configHome>/ovra-checker/database; /etc/ovra-checker/database; the demo
// database installed with the program, <program dir>/../share/ovra-checker/
// database; FindDatabaseDirectory (a program in a build tree, or anywhere
// else). A level past the first two counts only when its directory exists.
// The last level's path, and a named one, are as they were always written.
// Every place tried is appended to `looked` when given.
DatabaseChoice ChooseDatabaseDirectory(const DatabaseSearch& search,
                                       std::vector<std::string>* looked = nullptr);

// Why no test file can be named after the context and server (a name that is
// empty, holds "/", ".." or a control character), or "" when one can.
std::string TestFileNameProblem(const std::string& context, const std::string& server);
// The test file of a server. A server the control system knows by a long
// name of its own in a context that has one too (a Tango server in a Tango
// database: "TangoTest/test" in "127.0.0.1:10000") has its file by those
// names, which no other server shares and which never move:
// "servers/<context>/<executable>/<instance>.csv" under the database
// directory, in lower case as the names compare, unless only the file of the
// old form exists. Every other server's is CONTEXT-SERVER.csv.
std::string TestFilePathOf(const std::string& databasePath, ClientLibrary& lib,
                           const std::string& context, const std::string& server);

// Why a configuration's server list file cannot be read (outside the database
// directory, or a control character in its name), or "".
std::string ServerListNameProblem(const std::string& fileName);

// The producers of test plans and of the server information. They replace the
// session's plan, set its caption (CheckerLabel) and write the report's head.
// While a run is in progress they refuse and change nothing.
class TestSources final : public SpecificTestLoader {
 public:
  TestSources(CheckerSession& session, ClientLibrary& lib) : s_(session), lib_(lib) {}
  int16_t LoadSpecificTest(const std::string& context, const std::string& server,
                           const std::string& device) override {
    return initSelfText(context, server, device);
  }

  // Four lines " srv vers: ...\r\n" ... of the server's information. When
  // given, versionCode receives the completion code of the version query (0:
  // the server answered).
  std::string GetServerInfo(const std::string& devcontxt, const std::string& devsrv,
                            int16_t* versionCode = nullptr);

  // Standard test: one READ per property that delivers data. Returns the
  // property query's completion code (0 when a plan is ready), so a front
  // end can say why a test could not be prepared.
  int16_t initStdTest(const std::string& devcon, const std::string& devsrv,
                      const std::string& devnam);

  // The server's own SRVSELFTEST list: 0, 42 or 21.
  int16_t fillInTestParamsFromServer(const std::string& context, const std::string& server,
                                     const std::string& device);
  // Self-test list first, stored test file second; 0 when a plan is ready.
  int16_t initSelfText(const std::string& devcon, const std::string& devsrv,
                       const std::string& devnam);

  // procedures.csv and the server lists of its configurations; 42 or 0.
  int16_t fillInProcNames();
  // DatabasePath + context + "-" + server + ".csv" into the plan: 0, 42 or 21.
  int16_t fillInTestParams(const std::string& context, const std::string& server,
                           const std::string& device);

  // The stored test file of a server, as fillInTestParams and the editor name it.
  std::string TestFilePath(const std::string& context, const std::string& server) const;

  // Why the last fillInTestParams, fillInTestParamsFromServer or
  // fillInProcNames (for procedures.csv) loaded nothing: "more than 32767
  // records", "larger than 64 MiB", ...; "" when it loaded. The front ends
  // show it after the completion code's text, which stays as it is; a
  // configuration's server list keeps its own (StoredConfig::ServerListRefusal).
  const std::string& refusal() const { return refusal_; }
  // The completion code of the last self-test list query (0: it answered).
  int16_t selfTestCode() const { return selfTestCode_; }
  std::string LoadRefusal() const override { return refusal_; }

  // The time-out in ms of the standard test's reads and of the information
  // reads; 0 leaves them as they always were (1000 and 500 ms).
  int32_t readTimeoutMs = 0;

 private:
  // A report header's line naming the server (and a device other than
  // "#0") by the control system's own names, where it has them; the
  // simulation's reports have no such line.
  void ReportLongNames(const std::string& context, const std::string& server,
                       const std::string& device);
  CheckerSession& s_;
  ClientLibrary& lib_;
  std::string refusal_;
  int16_t selfTestCode_ = 0;
};

}  // namespace dsc
