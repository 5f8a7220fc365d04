#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdlib>

#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"

namespace dsc::sim {
namespace {

// A facility with these devices in server S of context C, after `top` fields.
std::string WithDevices(const std::string& devices, const std::string& top = "") {
  return "{" + top + R"("contexts": [{"name": "C", "servers": [{"name": "S", "devices": [)" +
         devices + "]}]}]}";
}
// Property P of device D, with these fields.
std::string WithProperty(const std::string& fields) {
  return WithDevices(R"({"name": "D", "properties": [{"name": "P", )" + fields + "}]}");
}

// A facility whose template T of these properties is named by these devices.
std::string Amplifying(int properties, const std::string& format, int count, int devices) {
  std::string t, d;  // each item with a comma before it
  for (int i = 0; i < properties; ++i)
    t += R"(,{"name": "P)" + std::to_string(i) + R"(", "format": ")" + format + R"(", "count": )" +
         std::to_string(count) + "}";
  for (int i = 0; i < devices; ++i)
    d += R"(,{"name": "D)" + std::to_string(i) + R"(", "template": "T"})";
  return WithDevices(d.substr(1), R"("templates": {"T": [)" + t.substr(1) + "]},");
}

// Each message starts with the file, then the line and column or JSON path.
TEST(Loader, RefusesNamingFilePlaceAndFaultAndLoadsTheDocumentedExample) {
  const std::string c0 = "/contexts/0/", dev = c0 + "servers/0/devices/",
                    prop = dev + "0/properties/0/";
  std::pair<std::string, std::string> cases[] = {
      {"{\n  \"contexts\": [\n    {\"name\": \"C\",}\n  ]\n}", "line 3, column 18: syntax error"},
      {R"({"contexts": [{"name": "C", "se/v~er": []}]})", "/contexts/0/se~1v~0er: unknown field"},
      {std::string((8 << 20) + 1, ' '), "the file is longer than 8 MiB"},
      {R"({"contexts": [{"name": "C", "name": "D"}]})", "/contexts/0/name: the key is given twice"},
      {R"({"contexts": [{"name": "C"}, {"name": "C"}]})",
       "/contexts/1/name: duplicate context name \"C\" (also at /contexts/0)"},
      {R"({"contexts": [{"name": "ABCDEFGHIJKLMNOPQ"}]})",
       c0 + "name: \"ABCDEFGHIJKLMNOPQ\" is longer"},
      {R"({"contexts": [{"name": "C\u20ac"}]})", c0 + "name: character U+20AC is not a Latin-1"},
      {R"({"contexts": [], "errors": {"x1": "t"}})", "/errors/x1: \"x1\" is not a completion code"},
      {WithDevices(R"({"name": "D", "template": "pump"})"), dev + "0/template: unknown template"},
      {WithProperty(R"("format": "DUBBLE")"), prop + "format: unknown format name \"DUBBLE\""},
      {WithProperty(R"("format": "SHORT"}, {"name": "P", "format": "LONG")"),
       dev + "0/properties/1/name: duplicate property name \"P\""},
      {WithProperty(R"("format": "SHORT", "value": 70000)"),
       prop + "value: value 70000 is not a SHORT"},
      {WithProperty(R"("format": "SINGLE", "value": -1e39)"),
       prop + "value: value -9.9999999999999994e+38 is beyond"},
      {WithDevices(R"({"name": "ABCDEFGHIJKLMNO XYZ"})"),
       dev + "0/name: \"ABCDEFGHIJKLMNO XYZ\" has a blank"},
      {WithDevices(R"({"name": "D "})"), dev + "0/name: \"D \" has leading or trailing blanks"},
      {WithDevices(R"({"name": ")" + std::string(32, 'D') + "\"}"),
       dev + "0/name: \"" + std::string(32, 'D') + "\" is longer than 31 characters"},
      {WithProperty(R"("format": "LONG", "count": 1, "values": [1, 2])"),
       prop + "values: 2 values for a count of 1"},
      {WithProperty(R"("format": "DOUBLE", "count": 2147483647)"),
       prop + "count: a count of 2147483647 DOUBLE needs more than 16 MiB"},
      {WithProperty(R"("format": "DOUBLE", "count": 2097153)"),
       prop + "count: a count of 2097153 DOUBLE needs more than 16 MiB"},
      {WithProperty(R"("format": "LONG", "pollMs": 1.5)"),
       prop + "pollMs: expected a whole number, found 1.5"},
      {WithProperty(R"("format": "DOUBLE", "ramp": {"towards": "ISET", "rate": 1})"),
       prop + "ramp/towards: no property \"ISET\""},
      {WithProperty(R"("format": "TEXT"}, {"name": "Q", "format": "LONG", )"
                    R"("ramp": {"towards": "P", "rate": 1})"),
       dev + "0/properties/1/ramp/towards: \"P\" is not numeric"},
      // Context and server names become test file names; control characters
      // from the file are shown, not sent to the terminal.
      {R"({"contexts": [{"name": ".."}]})", c0 + "name: \"..\" is refused: the name holds \"..\""},
      {R"({"contexts": [{"name": "C", "servers": [{"name": "S\u001b[2J"}]}]})",
       c0 + "servers/0/name: \"S\\x1B[2J\" is refused: the name holds a "
            "control character"},
      {R"({"contexts": [{"name": "C", "servers": [{"name": "S", "propsRecord": "mid"}]}]})",
       c0 + "servers/0/propsRecord: expected \"long\" or \"short\", found \"mid\""},
      {R"({"contexts": [{"name": "C", "servers": [{"name": "a/b"}]}]})",
       c0 + "servers/0/name: \"a/b\" contains \"/\""},
      {R"({"contexts": [], "contextSlots": ["../../../x"]})",
       "/contextSlots/0: \"../../../x\" is refused: the name holds a \"/\""},
      {R"({"contexts": [{"name": "C", "serverSlots": [" ..x"]}]})",
       c0 + "serverSlots/0: \" ..x\" is refused: the name holds \"..\""},
      {WithDevices(R"({"name": "D\u0007"})"), dev + "0/name: \"D\\x07\" holds a control character"},
      {WithProperty(R"("format": "\u001b]0;x\u0007")"),
       prop + "format: unknown format name \"\\x1B]0;x\\x07\""}};
  testing::FakeClock clock;
  std::string error;
  // A file that loads leaves the error of the one before, which names another
  // fault.
  for (const auto& [json, message] : cases) {
    SimControlSystem::FromText(json, "bench.json", clock, error);
    EXPECT_EQ(error.rfind("bench.json: " + message, 0), 0u) << json << "\n" << error;
  }
  for (const auto& [path, what] : {std::pair{"/", ": not a regular file"},
                                   std::pair{"/proc/self/cmdline", ": line 1, column 1: "}}) {
    SimControlSystem::FromFile(path, clock, error);
    EXPECT_EQ(error.rfind(std::string(path) + what, 0), 0u) << error;
  }
  // A template is copied into every device naming it: a few hundred bytes
  // could ask for gigabytes. The loader counts before it takes the memory,
  // which a child shows: the kernel reports its peak. First 3 x 16 MB values,
  // 1000 times over: 48 GB asked. Only what devices use counts: the second
  // copy is the one too many, the 101st of 1000 properties each.
  for (const auto& [json, message] :
       {std::pair{Amplifying(3, "DOUBLE", 2'097'152, 1000),
                  dev + "1/template: the facility's values need more than 64 MiB"},
        std::pair{Amplifying(1000, "SHORT", 1, 200),
                  dev + "100/template: the facility has more than 100000 properties"}})
    EXPECT_EXIT(std::exit(SimControlSystem::FromText(json, "a.json", clock, error) ||
                          error != "a.json: " + message),
                ::testing::ExitedWithCode(0), "")
        << message;
  // Two devices replacing every property of such a template by one of their
  // own use almost nothing of it.
  std::string replaced = Amplifying(3, "DOUBLE", 2'097'152, 2);
  for (size_t at = 0; (at = replaced.find(R"("template": "T")", at)) != std::string::npos;)
    at = replaced
             .insert(at + 15, R"(, "properties": [{"name": "P0", "format": "SHORT"}, )"
                              R"({"name": "P1", "format": "SHORT"}, )"
                              R"({"name": "P2", "format": "SHORT"}])")
             .find('}', at);
  EXPECT_EXIT(std::exit(!SimControlSystem::FromText(replaced, "a.json", clock, error)),
              ::testing::ExitedWithCode(0), "");
  struct rusage usage {};
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 400 * 1024) << "KiB at most";
  // The example of the format's documentation loads.
  const char* root = std::getenv("OVRA_SOURCE_DIR");
  if (!root) GTEST_SKIP() << "OVRA_SOURCE_DIR is not set (run through ctest)";
  const std::string doc = testing::ReadFileBytes(std::string(root) + "/docs/facility-format.md");
  const size_t start = doc.find("```json\n") + 8;
  EXPECT_TRUE(SimControlSystem::FromText(doc.substr(start, doc.find("```", start) - start),
                                         "facility-format.md", clock, error))
      << error;
}

}  // namespace
}  // namespace dsc::sim
