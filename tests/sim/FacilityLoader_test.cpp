#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/Facility.h"
#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"

namespace dsc::sim {
namespace {

struct BadFile {
  const char* label;
  std::string json;
  std::vector<std::string> expected;  // parts of the message
};

class LoaderRefuses : public ::testing::TestWithParam<BadFile> {};

TEST_P(LoaderRefuses, NamesFilePlaceAndFault) {
  Facility f;
  std::string error;
  ASSERT_FALSE(LoadFacility(GetParam().json, "bench.json", f, error));
  EXPECT_EQ(error.rfind("bench.json: ", 0), 0u) << error;
  for (const std::string& part : GetParam().expected)
    EXPECT_NE(error.find(part), std::string::npos) << "missing \"" << part << "\" in: " << error;
}

const std::string kDev = R"({"contexts": [{"name": "C", "servers": [{"name": "S", "devices": [)";
const std::string kEnd = "]}]}]}";

INSTANTIATE_TEST_SUITE_P(
    Faults, LoaderRefuses,
    ::testing::Values(
        BadFile{"syntax",
                "{\n  \"contexts\": [\n    {\"name\": \"C\",}\n  ]\n}",
                {"line 3, column 18"}},
        BadFile{"empty", "", {"line 1, column 1"}},
        BadFile{"notAnObject", "[]", {": /: expected an object, found array"}},
        BadFile{"missingContexts", "{}", {"missing field \"contexts\""}},
        BadFile{"wrongType",
                R"({"contexts": [{"name": 5}]})",
                {"/contexts/0/name", "expected a string"}},
        BadFile{"unknownField",
                R"({"contexts": [{"name": "C", "sever": []}]})",
                {"/contexts/0/sever", "unknown field"}},
        BadFile{"unknownFormat",
                kDev + R"({"name": "D", "properties": [{"name": "P", "format": "DUBBLE"}]})" + kEnd,
                {"/contexts/0/servers/0/devices/0/properties/0/format",
                 "unknown format name \"DUBBLE\""}},
        BadFile{"duplicateDevice",
                kDev + R"({"name": "D"}, {"name": "D"})" + kEnd,
                {"/devices/1/name", "duplicate device name \"D\"",
                 "also at /contexts/0/servers/0/devices/0"}},
        BadFile{
            "duplicateProperty",
            kDev +
                R"({"name": "D", "properties": [{"name": "P", "format": "SHORT"}, {"name": "P", "format": "LONG"}]})" +
                kEnd,
            {"/properties/1/name", "duplicate property name \"P\""}},
        BadFile{"duplicateContext",
                R"({"contexts": [{"name": "C"}, {"name": "C"}]})",
                {"/contexts/1/name", "duplicate context name"}},
        BadFile{"duplicateKey",
                R"({"contexts": [{"name": "C", "name": "D"}]})",
                {"/contexts/0/name", "given twice"}},
        BadFile{
            "valueTooBig",
            kDev +
                R"({"name": "D", "properties": [{"name": "P", "format": "SHORT", "value": 70000}]})" +
                kEnd,
            {"/properties/0/value", "70000"}},
        BadFile{
            "tooManyValues",
            kDev +
                R"({"name": "D", "properties": [{"name": "P", "format": "LONG", "count": 1, "values": [1, 2]}]})" +
                kEnd,
            {"/properties/0/values", "2 values for a count of 1"}},
        BadFile{"longName", R"({"contexts": [{"name": "ABCDEFGHIJKLMNOPQ"}]})", {"longer than 16"}},
        BadFile{"paddedName", R"({"contexts": [{"name": " C"}]})", {"leading or trailing blanks"}},
        BadFile{
            "rampTarget",
            kDev +
                R"({"name": "D", "properties": [{"name": "I", "format": "DOUBLE", "ramp": {"towards": "ISET", "rate": 1}}]})" +
                kEnd,
            {"/properties/0/ramp/towards", "no property \"ISET\""}},
        BadFile{"unknownTemplate",
                kDev + R"({"name": "D", "template": "pump"})" + kEnd,
                {"/devices/0/template", "unknown template"}},
        BadFile{"notLatin1", R"({"contexts": [{"name": "C\u20ac"}]})", {"U+20AC", "Latin-1"}},
        BadFile{
            "hugeCount",
            kDev +
                R"({"name": "D", "properties": [{"name": "P", "format": "DOUBLE", "count": 2147483647}]})" +
                kEnd,
            {"/properties/0/count", "16 MiB"}},
        BadFile{"badErrorCode",
                R"({"contexts": [], "errors": {"x1": "t"}})",
                {"/errors/x1", "not a completion code"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Loader, MissingFileIsNamed) {
  testing::FakeClock clock;
  std::string error;
  EXPECT_FALSE(SimControlSystem::FromFile("/nonexistent/x.json", clock, error));
  EXPECT_NE(error.find("/nonexistent/x.json"), std::string::npos) << error;
}

TEST(Loader, TemplatesValuesAndListing) {
  Facility f;
  std::string error;
  ASSERT_TRUE(LoadFacility(R"({
    "templates": {"t": [{"name": "A", "format": "SHORT", "value": 1},
                        {"name": "B", "format": "TEXT", "count": 8, "value": "x"}]},
    "contexts": [{"name": "C\u00c4", "servers": [{"name": "S", "devices": [
      {"name": "PSU-WITH-A-LONG-NAME", "template": "t", "values": {"A": 7},
       "properties": [{"name": "B", "format": "LONG", "value": 9}, {"name": "Z", "format": "BYTE"}]}]}]}]})",
                           "t.json", f, error))
      << error;
  EXPECT_EQ(f.contexts[0].name, "C\xC4");  // Latin-1 byte
  const Server& s = f.contexts[0].servers[0];
  EXPECT_EQ(s.deviceSlots, (std::vector<std::string>{"PSU-WITH-A-LONG&", "-NAME"}));
  const Device& d = s.devices[0];
  ASSERT_EQ(d.properties.size(), 3u);
  EXPECT_EQ(d.properties[0].data, (std::vector<uint8_t>{7, 0}));
  EXPECT_EQ(d.properties[1].format, 3);  // the device's own B replaced the template's
  EXPECT_EQ(d.properties[2].name, "Z");
}

TEST(Loader, DocumentedExampleLoads) {
  const char* env = std::getenv("OVRA_SOURCE_DIR");
  std::filesystem::path root =
      env ? std::filesystem::path(env) : std::filesystem::path(__FILE__).parent_path() / "../..";
  std::ifstream in(root / "docs/facility-format.md");
  ASSERT_TRUE(in);
  std::stringstream text;
  text << in.rdbuf();
  std::string doc = text.str();
  size_t start = doc.find("```json\n");
  ASSERT_NE(start, std::string::npos);
  start += 8;
  std::string json = doc.substr(start, doc.find("```", start) - start);
  Facility f;
  std::string error;
  EXPECT_TRUE(LoadFacility(json, "facility-format.md", f, error)) << error;
}

}  // namespace
}  // namespace dsc::sim
