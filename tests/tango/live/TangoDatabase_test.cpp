// The Tango backend against a Tango database as a site runs it: MariaDB,
// DataBaseds and Debian's TangoTest registered in it, started once for this
// test program.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>
#include <tuple>

#include "access/CompletionCodes.h"
#include "tango/TangoSystem.h"
#include "tests/support/Processes.h"
#include "tests/support/TangoDatabaseServer.h"
#include "tests/tango/live/LiveChecker.h"

namespace dsc::tango {
namespace {

// The database with: TangoTest/test running (sys/tg_test/1, which has a
// self-test in the database and an alarm limit on double_scalar that every
// value passes), TangoTest/multi registered with three devices
// and not running, and a server whose instance name is too long to list.
bool Prepare(testing::TangoDatabaseServer& db, std::string& e) {
  return db.Start(e) &&
         db.AddServer("TangoTest/multi", "TangoTest",
                      {"test/multi/1", "test/multi/2", "Test/Multi/3"}, e) &&
         db.AddServer("AVeryLongExecutable/instance", "TangoTest", {"long/name/1"}, e) &&
         db.PutProperty("sys/tg_test/1", "", "SRVSELFTEST",
                        {"Description,Property,Device,InputSize,InputFormat,Data,"
                         "OutputSize,OutputFormat,Reference,Access",
                         "from the database,short_scalar_w,#0,1,SHORT,5,1,SHORT,5,WRITE"},
                        e) &&
         db.PutProperty("sys/tg_test/1", "double_scalar", "max_alarm", {"-1000000"}, e) &&
         db.PutProperty("sys/tg_test/1", "long_scalar", "max_warning", {"-1000000"}, e) &&
         db.StartTangoTest("test", e);
}
std::string Undotted(std::string text) {
  std::replace(text.begin(), text.end(), '.', '_');
  return text;
}

class TangoDatabaseLive : public LiveSuite<testing::TangoDatabaseServer, Prepare> {
 protected:
  static std::string context() { return server().TangoHost(); }  // its own short name
  // The site ovra-check makes of TANGO_HOST.
  static std::string site() {
    std::string error;
    return SiteJsonFromTangoHosts({context()}, error).value();
  }
};

// Quality and limits as the database configures them: every value of
// double_scalar passes its max_alarm, every long_scalar its max_warning.
TEST_F(TangoDatabaseLive, QualityAndLimitsFailAsTheSiteAsks) {
  struct Case {
    const char* name;
    Judgement judgement;
    const char* property;
    int32_t code;
    const char* text;  // the start of the note or the failure
  };
  const Case cases[] = {
      {"warning said", {}, "long_scalar", 0, "quality WARNING"},
      {"warning fails", {"WARNING", false, {}}, "long_scalar", kTangoBadState, "quality WARNING"},
      {"alarm below INVALID", {"INVALID", false, {}}, "double_scalar", 0, "quality ALARM"},
      {"alarm limit fails", {"", true, {}}, "double_scalar", kTangoBadState, "value "},
      {"warning limit said", {"", true, {}}, "long_scalar", 0, "quality WARNING, value "},
  };
  for (const Case& k : cases) {
    LiveChecker c(WithJudgement(site(), k.judgement));
    EXPECT_EQ(AccessOnce(c, context(), "TangoTest.test", "sys.tg_test.1", k.property, {}, 1),
              k.code)
        << k.name;
    const std::string text = k.code == 0 ? c.control->SuccessNote() : c.control->StatusText();
    EXPECT_EQ(text.rfind(k.text, 0), 0u) << k.name << ": " << text;
    EXPECT_NE(c.control->LastValueFacts().quality, "VALID") << k.name;
  }
  LiveChecker c(WithJudgement(site(), {"", true, {}}));
  AccessOnce(c, context(), "TangoTest.test", "sys.tg_test.1", "double_scalar", {}, 1);
  EXPECT_NE(c.control->StatusText().find("above max_alarm -1e+06, quality ALARM"),
            std::string::npos)
      << c.control->StatusText();
}

TEST_F(TangoDatabaseLive, DiscoveryListsServersByShortNamesAndKnowsWhichAreNotRunning) {
  LiveChecker c(site());
  EXPECT_EQ(c.Names(), std::vector<std::string>{context()});
  // The fresh database's own servers, then ours, in the database's order.
  EXPECT_EQ(c.Names(context()),
            (std::vector<std::string>{// Too long: 11 characters, "~" and the name's hash.
                                      "AVeryLongEx~4ee3", "DataBaseds.2", "TangoAccess~dc47",
                                      "TangoRestSe~395b", "TangoTest.multi", "TangoTest.test"}));
  // A server's list by its Tango name, in any case; the admin device is not listed.
  EXPECT_EQ(c.Names(context(), "tangotest/TEST"), std::vector<std::string>{"sys.tg_test.1"});
  // NPROPS counts what PROPS lists, a command of 32 characters too.
  const auto props = c.Props("/" + context() + "/DataBaseds.2/sys.database.2");
  ASSERT_EQ(c.lastCode, 0);
  EXPECT_EQ(props.count("DbGetDeviceAttributePropertyHist"), 1u);
  int16_t counted = 0;
  std::vector<std::string> names;
  std::vector<int16_t> sizes, formats;
  GetPropertyList(c.library, "/" + context() + "/DataBaseds.2/sys.database.2", names, sizes,
                  formats, counted);
  EXPECT_EQ(static_cast<size_t>(counted), props.size());

  // Typed names, short or Tango's, in any case, find where they belong (more
  // are typed to ovra-check below).
  EXPECT_EQ(c.Found("", "", "test/multi/3"), context() + "|TangoTest.multi|Test.Multi.3");
  EXPECT_EQ(c.Found(context(), "tangotest.test", "#0"), context() + "|TangoTest.test|#0");
  EXPECT_EQ(c.Found("", "NoSuch/server", ""), "");

  // Named otherwise in a site file, the context is still found by host:port;
  // its patterns choose the servers listed.
  std::string renamed = site();
  renamed.replace(renamed.find("\"name\":\"" + context() + "\""), context().size() + 9,
                  R"("name":"CTRL","include":["*test*"],"exclude":["*/multi"])");
  EXPECT_EQ(LiveChecker(renamed).Names(context()), std::vector<std::string>{"TangoTest.test"});

  // A registered server that is not running answers at once, and an access
  // says why, in the database's words; "#0" is the first device.
  EXPECT_LT(Seconds([&] { c.Props("/" + context() + "/TangoTest.multi/test.multi.2"); }), 0.3);
  EXPECT_EQ(c.lastCode, kCodeServerUnavailable45);
  c.control->setContextName(context());
  c.control->setServerName("TangoTest.multi");
  c.control->setDeviceName("#0");
  c.control->setPropertyName("State");
  c.control->setLinkTimeout(3000);
  uint8_t state = 0;
  EXPECT_EQ(c.control->ExecuteAccess({&state, 1}, 1, kFormatByte, {}, 0, kFormatNull),
            kCodeServerUnavailable45);
  EXPECT_EQ(c.control->StatusText(),
            "API_DeviceNotExported: server TangoTest/multi is not running (test/multi/1 is not "
            "exported in the database)");
}

// What the database records of a running server, its self-test from the
// database, and a value beyond its alarm limit, which reads with quality
// ALARM said beside its success (only INVALID fails with failOnState).
TEST_F(TangoDatabaseLive, RunningServerTellsDatabaseFactsAndQuality) {
  LiveChecker c(site());
  const std::string info = c.sources.GetServerInfo(context(), "TangoTest.test");
  // The information (APPVERSION and APPDATE are neither in the database nor
  // on the device) and the property query load the device's list once.
  ASSERT_EQ(c.sources.initStdTest(context(), "TangoTest.test", "#0"), 0);
  EXPECT_EQ(c.library.system()->propertyLoads(), 1);
  // Names found missing stay remembered once the list is no longer fresh:
  // asking again a second later reloads nothing.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  for (int i = 0; i < 2; ++i) c.sources.GetServerInfo(context(), "TangoTest.test");
  EXPECT_EQ(c.library.system()->propertyLoads(), 1);
  // The start the database recorded, in the checker's date form.
  EXPECT_TRUE(std::regex_search(
      info, std::regex(" srv start: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\r\n")))
      << info;

  ASSERT_EQ(c.sources.initSelfText(context(), "TangoTest.test", "#0"), 0)
      << c.session.checkerCaption;
  EXPECT_NE(c.session.checkerCaption.find("from SRVSELFTEST"), std::string::npos);
  EXPECT_TRUE(c.runner.RunVesk(context(), "TangoTest.test"));

  // The database holds a self-test, so the test file is loaded directly.
  c.database.write(context() + "-TangoTest.test.csv",
                   std::string(kHeader) +
                       "alarmed,double_scalar,sys.tg_test.1,0,,,1,DOUBLE,,READ\r\n"
                       "plain,short_scalar,sys.tg_test.1,0,,,1,SHORT,,READ\r\n");
  ASSERT_EQ(c.sources.fillInTestParams(context(), "TangoTest.test", "#0"), 0);
  EXPECT_TRUE(c.runner.RunVesk(context(), "TangoTest.test"));
  ASSERT_EQ(c.outcomes.size(), 3u);
  EXPECT_EQ(c.outcomes[0].resultText, "Success (Target met)");
  EXPECT_EQ(c.outcomes[1].resultText, "Success: quality ALARM");
  EXPECT_EQ(c.outcomes[2].resultText, "Success");
}

// Names that do not move: a database by its identity however TANGO_HOST
// spells it, a server's test file by its Tango name, and a short name kept
// for its holder when a newcomer would take it.
TEST_F(TangoDatabaseLive, NamesAndTestFilesStayWithTheirHolders) {
  const std::string port = context().substr(context().find(':') + 1);
  // Every spelling of the one database, several addresses in one entry too
  // (named by the first, found by any, the first not answering): one
  // context, and one test file for each name it has.
  const std::pair<std::vector<std::string>, std::string> spellings[] = {
      {{context()}, context()},
      {{"localhost:" + port}, context()},
      {{"LOCALHOST:0" + port}, context()},
      {{context(), "localhost:" + port}, context()},
      {{"127.0.0.1:1," + context()}, "127.0.0.1:1"},
  };
  for (const auto& [hosts, name] : spellings) {
    std::string error;
    LiveChecker c(SiteJsonFromTangoHosts(hosts, error).value());
    EXPECT_EQ(c.Names(), std::vector<std::string>{name}) << hosts.front();
    EXPECT_EQ(c.Names(context()).size(), 6u) << hosts.front();
    const std::string path = c.sources.TestFilePath(name, "TangoTest.test");
    EXPECT_EQ(path.substr(c.database.path().size()), "/servers/" + name + "/tangotest/test.csv");
    // A file of the old form is still found, while there is no other.
    c.database.write(name + "-TangoTest.test.csv", kHeader);
    EXPECT_EQ(c.sources.TestFilePath(name, "TangoTest.test"),
              c.database.path() + "/" + name + "-TangoTest.test.csv");
  }
  {
    // An older release named the context by the spelling of TANGO_HOST: its
    // test files are found under that name too.
    std::string error;
    LiveChecker c(SiteJsonFromTangoHosts({"localhost:" + port}, error).value());
    const std::string spelled = "localhost:" + port + "-TangoTest.test.csv";
    c.database.write(spelled, kHeader);
    EXPECT_EQ(c.sources.TestFilePath(context(), "TangoTest.test"),
              c.database.path() + "/" + spelled);
  }

  // A server whose short name meets AVeryLongExecutable/instance's and that
  // sorts before it: without kept names it would take that name.
  std::string newcomer;
  for (int i = 0; newcomer.empty(); ++i) {
    const std::string candidate = "AVeryLongExA" + std::to_string(i) + "/x";
    if (ShortName(candidate) == "AVeryLongEx~4ee3") newcomer = candidate;
  }
  LiveChecker c(site());
  c.library.setDatabaseDirectory(c.database.path() + "/");
  ASSERT_EQ(c.Names(context()).front(), "AVeryLongEx~4ee3");
  const std::string before = c.sources.TestFilePath(context(), "AVeryLongEx~4ee3");
  std::string error;
  ASSERT_TRUE(server().AddServer(newcomer, "TangoTest", {"new/comer/1"}, error)) << error;
  for (const bool kept : {true, false}) {
    LiveChecker again(site());
    if (kept) again.library.setDatabaseDirectory(c.database.path() + "/");
    const std::vector<std::string> names = again.Names(context());
    ASSERT_EQ(names.size(), 7u);
    EXPECT_EQ(again.library.LongNameOf(context(), "AVeryLongEx~4ee3", "").name,
              kept ? "AVeryLongExecutable/instance" : newcomer)
        << kept;
  }
  LiveChecker after(site());
  after.library.setDatabaseDirectory(c.database.path() + "/");
  after.session.DatabasePath = c.database.path() + "/";
  after.Names(context());
  EXPECT_EQ(after.sources.TestFilePath(context(), "AVeryLongEx~4ee3"), before);
  ASSERT_TRUE(server().DeleteServer(newcomer, error)) << error;
}

#ifdef OVRA_CHECK_EXE
// ovra-check on TANGO_HOST alone: Tango's names typed, in any case, find
// their server and context; lists show Tango's names beside the short ones.
TEST_F(TangoDatabaseLive, OvraCheckTakesTangoNamesFromTangoHost) {
  testing::TempDir dir;
  // Arguments, exit code, what the output says.
  const std::tuple<std::string, int, std::vector<std::string>> runs[] = {
      {"list " + context(),
       0,
       {"TangoTest.multi\tTangoTest/multi\nTangoTest.test\tTangoTest/test\n"}},
      {"list " + context() + " tangotest/MULTI",
       0,
       {"test.multi.1\ttest/multi/1\ntest.multi.2\ttest/multi/2\nTest.Multi.3\tTest/Multi/3\n"}},
      // A device by its Tango name alone; TangoTest fails two attributes on
      // purpose: Tango's reason and first description line in the result,
      // its whole stack, with origins, beside it.
      {"--json standard SYS/TG_TEST/1",
       1,
       {"\"server\":\"TangoTest.test\",\"index\":0",
        "\"serverLongName\":\"TangoTest/test\",\"deviceLongName\":\"sys/tg_test/1\"",
        "\"result\":\"API_AttrValueNotSet: ",
        "\"errors\":[{\"reason\":\"API_AttrValueNotSet\",\"description\":", "\"origin\":\""}},
      {"info tangotest/test", 0, {" name: TangoTest/test\n host: "}},
      // Quality in JSON, failing only where asked; the database and Tango's
      // names in JSON and in JUnit's suite and class names.
      {"--json --only long_scalar standard sys/tg_test/1",
       0,
       {"\"property\":\"long_scalar\"", "\"quality\":\"WARNING\"",
        "\"database\":\"" + context() + "\",\"serverLongName\":\"TangoTest/test\""}},
      {"--fail-on-quality WARNING --json --only long_scalar standard sys/tg_test/1",
       1,
       {"\"status\":68,\"result\":\"quality WARNING\""}},
      {"--junit '" + dir.file("junit.xml") + "' --only long_scalar standard sys/tg_test/1", 0, {}},
      {"standard no/such/device", 1, {"\"no/such/device\" names no device"}},
  };
  for (const auto& [args, code, said] : runs) {
    EXPECT_EQ(RunOvraCheck(dir, "TANGO_HOST=" + context(), args), code) << args << "\n"
                                                                        << dir.read("out");
    for (const std::string& text : said)
      EXPECT_NE(dir.read("out").find(text), std::string::npos) << args << ": " << text;
  }
  const std::string junit = dir.read("junit.xml");
  EXPECT_NE(junit.find("<testsuite name=\"TangoTest/test\""), std::string::npos) << junit;
  EXPECT_NE(junit.find("classname=\"" + Undotted(context()) + ".TangoTest/test\""),
            std::string::npos);
  // The reports' headers name the Tango server and device.
  std::string reports;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    if (entry.path().extension() == ".txt") reports += dir.read(entry.path().filename().string());
  EXPECT_NE(reports.find("Standard test for read properties of /" + context() +
                         "/TangoTest.test\r\n"
                         "Names in the control system: server TangoTest/test, device "
                         "sys/tg_test/1\r\n"),
            std::string::npos)
      << reports;
}

// Hung servers checked side by side cost each lane their time-out (500 ms
// for the first information read), also while other lanes ask the
// database: Tango sets one process-wide connect time-out (20 s) around every
// database query, and a device connected meanwhile took it for its first
// call. Several runs, since that is a race.
TEST_F(TangoDatabaseLive, HungServersSideBySideCostTheirTimeOutOnly) {
  const int kHung = 4;
  std::vector<pid_t> stopped;
  std::string error;
  for (int i = 1; i <= kHung; ++i) {
    const std::string instance = "hung" + std::to_string(i);
    ASSERT_TRUE(server().AddServer("TangoTest/" + instance, "TangoTest",
                                   {"test/hung/" + std::to_string(i)}, error) &&
                server().StartTangoTest(instance, error))
        << error;
    stopped.push_back(server().LastServerPid());
    ASSERT_EQ(kill(stopped.back(), SIGSTOP), 0);
  }
  testing::TempDir dir;
  for (int run = 0; run < 3; ++run) {
    int code = 0;
    const double seconds = Seconds([&] {
      code = RunOvraCheck(dir, "TANGO_HOST=" + context(), "--jobs 4 sweep 'TangoTest/hung*'");
    });
    EXPECT_EQ(code, 1) << dir.read("out");
    EXPECT_NE(dir.read("out").find("4 servers: 0 passed, 0 failed, 0 not running, 4 hung"),
              std::string::npos)
        << dir.read("out");
    EXPECT_LT(seconds, 5.0) << "run " << run << "\n" << dir.read("out");
  }
  // Gone from the database for the tests after this one; ended with the rest.
  for (const pid_t pid : stopped) kill(pid, SIGCONT);
  for (int i = 1; i <= kHung; ++i)
    EXPECT_TRUE(server().DeleteServer("TangoTest/hung" + std::to_string(i), error)) << error;
}

// A database hung from the start (DataBaseds stopped, its port still
// accepting): each command costs at most its documented time-out, not
// Tango's rounds of reconnection attempts.
TEST_F(TangoDatabaseLive, HungDatabaseCostsEachCommandAtMostItsTimeOut) {
  testing::TempDir dir;
  dir.write(context() + "-TangoTest.test.csv",
            std::string(kHeader) + "read,short_scalar,sys.tg_test.1,0,,,1,SHORT,,READ\r\n");
  const pid_t databaseds = server().DatabaseServerPid();
  ASSERT_GT(databaseds, 0);
  ASSERT_EQ(kill(databaseds, SIGSTOP), 0);
  struct Resume {
    pid_t pid;
    ~Resume() { kill(pid, SIGCONT); }
  } resume{databaseds};
  // Two more hosts that accept connections and never answer, before the
  // stopped database: a device named alone is looked for in all three.
  int hung[2] = {0, 0};
  const testing::HeldPort held[] = {testing::HeldPort(hung[0]), testing::HeldPort(hung[1])};
  for (const testing::HeldPort& h : held) ASSERT_EQ(listen(h.fd, 16), 0);
  const std::string many = "127.0.0.1:" + std::to_string(hung[0]) +
                           ",127.0.0.1:" + std::to_string(hung[1]) + "," + context();
  struct Case {
    const char* name;
    std::string hosts, args;
    double limit;  // seconds: one database time-out (docs/tango.md) per host
    double least;  // seconds it must take at least: the time-out is waited for
    const char* said = "";
  };
  const Case cases[] = {
      {"info", context(), "info " + context() + " TangoTest.test", 3, 0},
      {"list", context(), "list " + context() + " TangoTest/test", 3, 2.9},
      {"standard", context(), "standard " + context() + " TangoTest.test sys.tg_test.1", 3, 0},
      {"specific", context(), "specific " + context() + " TangoTest.test", 3, 0},
      // Not found because no database answered: said so, not "no device".
      {"three hosts", many, "standard sys/tg_test/1", 9, 0,
       "\"sys/tg_test/1\" cannot be looked up: the Tango database at "},
  };
  for (const Case& k : cases) {
    int status = 0;
    const double took =
        Seconds([&] { status = RunOvraCheck(dir, "TANGO_HOST=" + k.hosts, k.args); });
    const std::string out = dir.read("out");
    EXPECT_LT(took, k.limit + 0.5) << k.name << "\n" << out;
    EXPECT_GE(took, k.least) << k.name << "\n" << out;
    EXPECT_NE(out.find(k.said), std::string::npos) << k.name << "\n" << out;
    EXPECT_NE(status, -1) << k.name;
  }
}
#endif

// A database that goes away: lists say which database cannot be reached,
// within their time-out; a device already connected still answers.
TEST_F(TangoDatabaseLive, DatabaseGoneMidRunIsNamedAndConnectedDevicesStillAnswer) {
  LiveChecker c(site());
  ASSERT_EQ(c.sources.initStdTest(context(), "TangoTest.test", "sys.tg_test.1"), 0);
  ASSERT_FALSE(c.Names(context(), "TangoTest.multi").empty());  // listed, never reached
  server().StopDatabaseServer();
  EXPECT_LT(Seconds([&] { c.Names(context()); }), 3.5);
  EXPECT_EQ(c.lastCode, kTangoDatabaseUnreachable);
  // A fresh checker too: the database's host:port from the first call on.
  LiveChecker fresh(site());
  fresh.Names(context());
  for (LiveChecker* x : {&c, &fresh})
    EXPECT_EQ(GetErrorString(x->library, x->lastCode),
              "the Tango database at " + context() + " cannot be reached");
  // A listed server not reached before: its information says the database
  // did not answer, not the server (a sweep would call it not running).
  int16_t code = 0;
  c.sources.GetServerInfo(context(), "TangoTest.multi", &code);
  EXPECT_EQ(code, kTangoDatabaseUnreachable);

  // The connected device runs its test file (its self-test property is out
  // of reach with the database).
  EXPECT_TRUE(c.RunFile("read,double_scalar,sys.tg_test.1,0,,,1,DOUBLE,,READ\r\n", context(),
                        "TangoTest.test"))
      << c.session.checkerCaption;
  ASSERT_EQ(c.outcomes.size(), 1u);
  EXPECT_EQ(c.outcomes[0].status, 0) << c.outcomes[0].resultText;

  std::string error;
  ASSERT_TRUE(server().StartDatabaseServer(error)) << error;
  EXPECT_FALSE(c.Names(context()).empty());  // back again
}

}  // namespace
}  // namespace dsc::tango
