#include "access/NamespaceQueries.h"

#include <gtest/gtest.h>

#include <memory>

#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"

namespace dsc {
namespace {

// Passes every call to the simulation and remembers what was asked.
class RecordingLibrary final : public ClientLibrary {
 public:
  struct Call {
    std::string device, property;
    int32_t count;
    int16_t format;
    int32_t timeoutMs;
  };
  explicit RecordingLibrary(ClientLibrary& inner) : inner_(inner) {}
  int16_t T_EXECLINK(const std::string& device, const std::string& property, DataDescriptor& out,
                     std::span<uint8_t> outData, const DataDescriptor& in,
                     std::span<const uint8_t> inData, int16_t access, int32_t timeoutMs) override {
    calls.push_back({device, property, out.count, out.format, timeoutMs});
    return inner_.T_EXECLINK(device, property, out, outData, in, inData, access, timeoutMs);
  }
  int16_t EXECLINKEx(const std::string& device, const std::string& property, DataDescriptor& out,
                     std::span<uint8_t> outData, const DataDescriptor& in,
                     std::span<const uint8_t> inData, int16_t access, int32_t timeoutMs) override {
    return T_EXECLINK(device, property, out, outData, in, inData, access, timeoutMs);
  }
  int16_t T_GETCONTEXTS(std::span<uint8_t> names, int32_t& count) override {
    return inner_.T_GETCONTEXTS(names, count);
  }
  int16_t RPCERR(int16_t code, std::span<char> text) override { return inner_.RPCERR(code, text); }
  std::vector<Call> calls;

 private:
  ClientLibrary& inner_;
};

class NamespaceTest : public ::testing::Test {
 protected:
  // A facility with one context C and one server S; `server` holds the
  // server's extra JSON fields, `devices` its devices.
  void Load(const std::string& json) {
    std::string error;
    sim_ = sim::SimControlSystem::FromText(json, "inline.json", clock_, error);
    ASSERT_TRUE(sim_) << error;
    lib_ = std::make_unique<RecordingLibrary>(*sim_);
  }
  void LoadServer(const std::string& serverFields, const std::string& devices = "[]") {
    Load(R"({"contexts": [{"name": "C", "servers": [{"name": "S", )" + serverFields +
         R"( "devices": )" + devices + "}]}]}");
  }
  RecordingLibrary& lib() { return *lib_; }

  testing::FakeClock clock_;
  std::unique_ptr<sim::SimControlSystem> sim_;
  std::unique_ptr<RecordingLibrary> lib_;
};

std::string Props(int n, const std::string& extra = "") {
  std::string s = "[{\"name\": \"D\", " + extra + " \"properties\": [";
  for (int i = 0; i < n; ++i)
    s += std::string(i ? "," : "") + "{\"name\": \"P" + std::to_string(i) +
         "\", \"format\": \"SHORT\"}";
  return s + "]}]";
}

TEST_F(NamespaceTest, ContextListTrimsBlanksAndKeepsCount) {
  Load(R"({"contexts": [], "contextSlots": ["  LINAC  ", "", "RING"]})");
  std::vector<std::string> names{"old"};
  int16_t count = -1;
  ASSERT_EQ(GetContextList(lib(), names, count), 0);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(names.size(), 4u);
  EXPECT_EQ(names[0], "LINAC");
  EXPECT_EQ(names[1], "");
  EXPECT_EQ(names[2], "RING");
}

TEST_F(NamespaceTest, ContextListFailureLeavesListAlone) {
  Load(R"({"contexts": [{"name": "A"}], "contextsCode": 45})");
  std::vector<std::string> names{"kept"};
  int16_t count = 7;
  EXPECT_EQ(GetContextList(lib(), names, count), 45);
  EXPECT_EQ(names, std::vector<std::string>{"kept"});
  EXPECT_EQ(count, 7);
}

TEST_F(NamespaceTest, MoreContextsThanSlotsAreCutToTheBuffer) {
  std::string slots;
  for (int i = 0; i < 250; ++i)
    slots += std::string(i ? "," : "") + "\"C" + std::to_string(i) + "\"";
  Load(R"({"contexts": [], "contextSlots": [)" + slots + "]}");
  std::vector<std::string> names;
  int16_t count = 0;
  ASSERT_EQ(GetContextList(lib(), names, count), 0);
  EXPECT_EQ(count, kContextSlots);
  EXPECT_EQ(names[200], "C200");
}

TEST_F(NamespaceTest, ServerListReadsTheNameServerOfTheContext) {
  Load(R"({"contexts": [{"name": "FIRST", "serverSlots": ["X"]},
                        {"name": "LINAC", "serverSlots": [" A ", "", "B"]}]})");
  std::vector<std::string> names;
  int16_t count = 0;
  ASSERT_EQ(GetServerList(lib(), "LINAC", names, count), 0);
  ASSERT_EQ(count, 3);  // the empty slot keeps its place
  EXPECT_EQ((std::vector<std::string>{names[0], names[1], names[2]}),
            (std::vector<std::string>{"A", "", "B"}));
  ASSERT_EQ(lib().calls.size(), 2u);
  EXPECT_EQ(lib().calls[0].device, "ENS/LINAC");
  EXPECT_EQ(lib().calls[0].property, "NTAGS");
  EXPECT_EQ(lib().calls[0].timeoutMs, 500);
  EXPECT_EQ(lib().calls[1].property, "TAGS");
  EXPECT_EQ(lib().calls[1].count, 3);
  EXPECT_EQ(lib().calls[1].format, 521);
  EXPECT_EQ(lib().calls[1].timeoutMs, 3000);

  ASSERT_EQ(GetServerList(lib(), "", names, count), 0);
  EXPECT_EQ(lib().calls[2].device, "ENS");
  EXPECT_EQ(count, 1);
  EXPECT_EQ(names[0], "X");
}

TEST_F(NamespaceTest, ServerListReturnsTheCodeOfEitherRead) {
  for (const char* which : {"NTAGS", "TAGS"}) {
    Load(std::string(R"({"contexts": [{"name": "C", "serverSlots": ["A"], "codes": {")") + which +
         R"(": 12}}]})");
    std::vector<std::string> names{"kept"};
    int16_t count = 5;
    EXPECT_EQ(GetServerList(lib(), "C", names, count), 12) << which;
    EXPECT_EQ(names.size(), 1u);
    EXPECT_EQ(count, 5);
  }
}

struct DeviceCase {
  const char* label;
  std::string serverFields;
  int16_t code;
  std::vector<std::string> names;
  int32_t asked;  // DEVICES count
};

class DeviceListTest : public NamespaceTest, public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(DeviceListTest, Lists) {
  const DeviceCase& c = GetParam();
  LoadServer(c.serverFields);
  std::vector<std::string> names{"kept"};
  int16_t count = -1;
  ASSERT_EQ(GetDeviceNameList(lib(), "S", names, count), c.code);
  if (c.code != 0) {
    EXPECT_EQ(names, std::vector<std::string>{"kept"});
    return;
  }
  ASSERT_EQ(count, static_cast<int16_t>(c.names.size()));
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + count), c.names);
  ASSERT_EQ(lib().calls.size(), 2u);
  EXPECT_EQ(lib().calls[0].timeoutMs, 800);
  EXPECT_EQ(lib().calls[1].count, c.asked);
}

INSTANTIATE_TEST_SUITE_P(
    Branches, DeviceListTest,
    ::testing::Values(
        DeviceCase{
            "blanks", R"("deviceSlots": ["  PUMP  ", "    ", "", "X"],)", 0, {"PUMP", "X"}, 4},
        DeviceCase{"continued",
                   R"("deviceSlots": ["ABCDEFGHIJKLMNO&", "XYZ", "Q"],)",
                   0,
                   {"ABCDEFGHIJKLMNOXYZ", "Q"},
                   3},
        DeviceCase{"continuedInLastSlot",
                   R"("deviceSlots": ["A", "ABCDEFGHIJKLMNO&"],)",
                   0,
                   {"A", "ABCDEFGHIJKLMNO"},
                   2},
        DeviceCase{"notImplementedCount",
                   R"("deviceSlots": ["A", "B"], "codes": {"NDEVICES": 86},)",
                   0,
                   {"A", "B"},
                   512},
        DeviceCase{
            "warningFlag", R"("deviceSlots": ["A"], "codes": {"DEVICES": 16385},)", 0, {"A"}, 1},
        DeviceCase{"devicesFails", R"("deviceSlots": ["A"], "codes": {"DEVICES": 12},)", 12, {}, 1},
        DeviceCase{"countFails", R"("code": 45,)", 45, {}, 0}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(NamespaceTest, GeneratedListingOfALongDeviceNameJoinsAgain) {
  LoadServer("", R"([{"name": "PSU-WITH-A-LONG-NAME"}, {"name": "ABCDEFGHIJKLMNO&"}])");
  std::vector<std::string> names;
  int16_t count = 0;
  ASSERT_EQ(GetDeviceNameList(lib(), "S", names, count), 0);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(names[0], "PSU-WITH-A-LONG-NAME");
  EXPECT_EQ(names[1], "ABCDEFGHIJKLMNO&");
}

TEST_F(NamespaceTest, PropertyListFromLongRecords) {
  LoadServer("", R"([{"name": "D", "nprops": 4, "properties": [
      {"name": "PRESSURE", "format": "DOUBLE"},
      {"name": "TRACE", "format": "single", "count": 40000},
      {"name": "NAME", "format": "TEXT", "count": 16}]}])");
  std::vector<std::string> names;
  std::vector<int16_t> sizes, formats;
  int16_t count = 0;
  ASSERT_EQ(GetPropertyList(lib(), "/C/S/D", names, sizes, formats, count), 0);
  // NPROPS announces 4: the fourth record stays zero, has no name and is dropped.
  ASSERT_EQ(count, 3);
  EXPECT_EQ(names.size(), 5u);
  EXPECT_EQ(names[1], "TRACE");
  EXPECT_EQ(sizes[1], 32767);
  EXPECT_EQ(formats[1], 517);
  EXPECT_EQ(sizes[2], 16);
  EXPECT_EQ(formats[2], 516);
  ASSERT_EQ(lib().calls.size(), 2u);
  EXPECT_EQ(lib().calls[1].count, 4 * 188);
  EXPECT_EQ(lib().calls[1].format, 519);
}

TEST_F(NamespaceTest, ShortRecordsAfterCode73) {
  LoadServer(R"("propsRecord": "short",)", R"([{"name": "D", "properties": [
      {"name": "A", "format": "LONG"}, {"name": "B", "format": "NAME16", "count": 40000}]}])");
  std::vector<std::string> names;
  std::vector<int16_t> sizes, formats;
  int16_t count = 0;
  ASSERT_EQ(GetPropertyList(lib(), "/C/S/D", names, sizes, formats, count), 0);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(names[1], "B");
  EXPECT_EQ(sizes[1], 32767);
  EXPECT_EQ(formats[0], 515);
  EXPECT_EQ(formats[1], 521);
  ASSERT_EQ(lib().calls.size(), 3u);
  EXPECT_EQ(lib().calls[1].count, 2 * 188);
  EXPECT_EQ(lib().calls[2].count, 2 * 68);
}

TEST_F(NamespaceTest, ShortRecordsBeyond481AreCut) {
  LoadServer(R"("propsRecord": "short",)", Props(500));
  std::vector<std::string> names;
  std::vector<int16_t> sizes, formats;
  int16_t count = 0;
  ASSERT_EQ(GetPropertyList(lib(), "/C/S/D", names, sizes, formats, count), 0);
  EXPECT_EQ(count, 481);
  EXPECT_EQ(names[480], "P480");
  EXPECT_EQ(names.size(), 501u);
  EXPECT_EQ(lib().calls.back().count, 481 * 68);
}

TEST_F(NamespaceTest, PropertyListReturnsFailuresAsTheyCame) {
  struct {
    const char* fields;
    int16_t code;
    size_t calls;
  } cases[] = {{R"("codes": {"NPROPS": 45},)", 45, 1},
               {R"("codes": {"PROPS": 12},)", 12, 2},
               {R"("propsRecord": "short", "codes": {"PROPS": 73},)", 73, 3}};
  for (const auto& c : cases) {
    LoadServer(c.fields, Props(2));
    std::vector<std::string> names{"kept"};
    std::vector<int16_t> sizes, formats;
    int16_t count = 9;
    EXPECT_EQ(GetPropertyList(lib(), "/C/S/D", names, sizes, formats, count), c.code) << c.fields;
    EXPECT_EQ(lib().calls.size(), c.calls) << c.fields;
    EXPECT_EQ(names.size(), 1u);
    EXPECT_EQ(count, 9);
  }
}

TEST_F(NamespaceTest, ErrorStrings) {
  std::string long90(90, 'x');
  Load(R"({"contexts": [], "errors": {"7": "seven", "8": ")" + long90 + R"("}})");
  EXPECT_EQ(GetErrorString(lib(), 7), "seven");
  EXPECT_EQ(GetErrorString(lib(), 45), "server not answering");
  EXPECT_EQ(GetErrorString(lib(), 9), "Error undefined");
  EXPECT_EQ(GetErrorString(lib(), 8), std::string(80, 'x'));
}

TEST(ByteText, BytesToStringList) {
  auto text = [](const std::string& s) {
    return BytesToStringList(std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
  };
  EXPECT_EQ(text("abc"), "abc");
  EXPECT_EQ(text("a\nb"), "a\r\nb\r\n");
  EXPECT_EQ(text("a\n"), "a\r\n\r\n");
  EXPECT_EQ(text(std::string("a\nb\0c\nd", 7)), "a\r\nb\r\n");
  EXPECT_EQ(text(""), "");
}

TEST(ByteText, StringListToBytes) {
  std::array<uint8_t, 16> buf;
  buf.fill(0xEE);
  EXPECT_EQ(StringListToBytes("ABCDEFGHIJKLMNOP", buf), 16);
  EXPECT_EQ(buf[15], 'P');
  buf.fill(0xEE);
  EXPECT_EQ(StringListToBytes("ABCDEFGHIJKLMNOPQ", buf), 0);
  EXPECT_EQ(buf[0], 0xEE);
  EXPECT_EQ(StringListToBytes("AB", buf), 2);
  EXPECT_EQ(buf[1], 'B');
  EXPECT_EQ(buf[2], 0);
  EXPECT_EQ(buf[3], 0xEE);
}

}  // namespace
}  // namespace dsc
