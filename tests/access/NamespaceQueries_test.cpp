#include "access/NamespaceQueries.h"

#include <gtest/gtest.h>

#include <memory>

#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"
#include "tests/support/Recording.h"

namespace dsc {
namespace {

// Each context, server or device is named after the case it stands for.
std::string Facility() {
  std::string many = R"({"name": "P0", "format": "SHORT"})";
  for (int i = 1; i < 500; ++i)
    many += R"(,{"name": "P)" + std::to_string(i) + R"(", "format": "SHORT"})";
  return R"({"errors": {"8": ")" + std::string(90, 'x') +
         R"("}, "contexts": [{"name": "FIRST", "serverSlots": ["X"]},
    {"name": "LINAC", "serverSlots": [" A ", "", "B"]},
    {"name": "NTAGSFAILS", "codes": {"NTAGS": 12}},
    {"name": "C", "servers": [
    {"name": "BLANKS", "deviceSlots": ["  PUMP  ", "    ", "", "X"]},
    {"name": "GOESON", "deviceSlots": ["ABCDEFGHIJKLMNO&", "XYZ", "Q"]},
    {"name": "GOESONLAST", "deviceSlots": ["A", "ABCDEFGHIJKLMNO&"]},
    {"name": "OWN", "devices": [{"name": "PSU-WITH-LONG-NAME"}, {"name": "ABCDEFGHIJKLMNO&"}]},
    {"name": "NOCOUNT", "deviceSlots": ["A", "B"], "codes": {"NDEVICES": 86}},
    {"name": "WARNS", "deviceSlots": ["A"], "codes": {"DEVICES": 16385}},
    {"name": "FAILS", "deviceSlots": ["A"], "codes": {"DEVICES": 12}}, {"name": "DOWN", "code": 45},
    {"name": "NEW", "devices": [{"name": "D", "nprops": 4, "properties": [
      {"name": "PRESSURE", "format": "DOUBLE"}, {"name": "NAME", "format": "TEXT", "count": 16},
      {"name": "TRACE", "format": "single", "count": 40000}]},
      {"name": "NPROPSFAILS", "nprops": 2, "codes": {"NPROPS": 45}},
      {"name": "PROPSFAILS", "nprops": 2, "codes": {"PROPS": 12}}]},
    {"name": "OLD", "propsRecord": "short", "devices": [{"name": "D", "properties": [
      {"name": "A", "format": "LONG"}, {"name": "B", "format": "NAME16", "count": 40000}]},
      {"name": "FAILS", "nprops": 2, "codes": {"PROPS": 73}},
      {"name": "MANY", "properties": [)" +
         many + "]}]}]}]}";
}

class NamespaceTest : public ::testing::Test {
 protected:
  void SetUp() override { Load(Facility()); }
  void Load(const std::string& json) {
    std::string error;
    sim_ = sim::SimControlSystem::FromText(json, "inline.json", clock_, error);
    ASSERT_TRUE(sim_) << error;
    lib_ = std::make_unique<testing::RecordingLibrary>(sim_.get());
  }
  testing::RecordingLibrary& lib() { return *lib_; }

  testing::FakeClock clock_;
  std::unique_ptr<sim::SimControlSystem> sim_;
  std::unique_ptr<testing::RecordingLibrary> lib_;
};

auto* const Servers = &GetServerList;
auto* const Devices = &GetDeviceNameList;

// Blanks are trimmed; empty servers keep their place, empty devices do not. A
// full device slot ending in "&" goes on in the next. A failure leaves the
// list and the count alone.
TEST_F(NamespaceTest, ContextServerAndDeviceLists) {
  struct {
    decltype(&GetServerList) query;
    const char* name;
    int16_t code;
    std::vector<std::string> names;
    std::string last;  // call
  } cases[] = {
      {Servers, "LINAC", 0, {"A", "", "B"}, "ENS/LINAC TAGS 3 521 3000"},
      {Servers, "", 0, {"X"}, "ENS TAGS 1 521 3000"},  // the first context
      {Servers, "NTAGSFAILS", 12, {}, "ENS/NTAGSFAILS NTAGS 1 513 500"},
      {Devices, "BLANKS", 0, {"PUMP", "X"}, "BLANKS DEVICES 4 521 3000"},
      {Devices, "GOESON", 0, {"ABCDEFGHIJKLMNOXYZ", "Q"}, "GOESON DEVICES 3 521 3000"},
      {Devices, "GOESONLAST", 0, {"A", "ABCDEFGHIJKLMNO"}, "GOESONLAST DEVICES 2 521 3000"},
      // The facility's own listing of long names, and of one ending in "&", joins again.
      {Devices, "OWN", 0, {"PSU-WITH-LONG-NAME", "ABCDEFGHIJKLMNO&"}, "OWN DEVICES 4 521 3000"},
      {Devices, "NOCOUNT", 0, {"A", "B"}, "NOCOUNT DEVICES 512 521 3000"},
      {Devices, "WARNS", 0, {"A"}, "WARNS DEVICES 1 521 3000"},
      {Devices, "FAILS", 12, {}, "FAILS DEVICES 1 521 3000"},
      {Devices, "DOWN", 45, {}, "DOWN NDEVICES 1 513 800"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> names{"kept"};
    int16_t count = -1;
    ASSERT_EQ(c.query(lib(), c.name, names, count), c.code);
    if (c.code != 0) {
      EXPECT_EQ(std::tuple(names, count), std::tuple(std::vector<std::string>{"kept"}, -1));
    } else {
      ASSERT_EQ(count, static_cast<int16_t>(c.names.size()));
      EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + count), c.names);
    }
    EXPECT_EQ(lib().calls.empty() ? "" : lib().calls.back(), c.last);
  }
}

// Like the servers, the contexts keep their empty slots.
TEST_F(NamespaceTest, ContextListIsTrimmedAndCutToItsSlots) {
  std::vector<std::string> names;
  int16_t count = -1;
  std::string many = R"("  C0  ", "")";
  for (int i = 2; i < 250; ++i) many += ",\"C" + std::to_string(i) + "\"";
  Load(R"({"contexts": [], "contextSlots": [)" + many + "]}");
  ASSERT_EQ(GetContextList(lib(), names, count), 0);
  EXPECT_EQ(std::tuple(count, names[0], names[1], names[200]),
            std::tuple(kContextSlots, "C0", "", "C200"));
}

// The long PROPS list first, the short one when the server answers 73. A
// record without a name (NPROPS announces more than there are) is dropped.
TEST_F(NamespaceTest, PropertyLists) {
  struct {
    const char* device;
    int16_t code, count;
    size_t listSize, at;  // the record checked
    std::string name;
    int16_t size, format;
    std::vector<std::string> calls;  // after NPROPS
  } cases[] = {
      {"/C/NEW/D", 0, 3, 5, 2, "TRACE", 32767, 517, {"PROPS 752 519"}},
      {"/C/OLD/D", 0, 2, 3, 1, "B", 32767, 521, {"PROPS 376 519", "PROPS 136 519"}},
      {"/C/OLD/MANY", 0, 481, 501, 480, "P480", 1, 513, {"PROPS 94000 519", "PROPS 32708 519"}},
      {"/C/NEW/NPROPSFAILS", 45, -1, 1, 0, "kept", 0, 0, {}},
      {"/C/NEW/PROPSFAILS", 12, -1, 1, 0, "kept", 0, 0, {"PROPS 376 519"}},
      {"/C/OLD/FAILS", 73, -1, 1, 0, "kept", 0, 0, {"PROPS 376 519", "PROPS 136 519"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device);
    std::vector<std::string> names{"kept"};
    std::vector<int16_t> sizes{0}, formats{0};
    int16_t count = -1;
    EXPECT_EQ(GetPropertyList(lib(), c.device, names, sizes, formats, count), c.code);
    EXPECT_EQ(std::tuple(count, names.size()), std::tuple(c.count, c.listSize));
    EXPECT_EQ(std::tie(names[c.at], sizes[c.at], formats[c.at]),
              std::tie(c.name, c.size, c.format));
    std::vector<std::string> calls{c.device + std::string(" NPROPS 1 513 800")};
    for (const std::string& call : c.calls) calls.push_back(c.device + (" " + call + " 3000"));
    EXPECT_EQ(lib().calls, calls);
    lib().calls.clear();
  }
}

// An unknown code has no text; a message filling the buffer ends with it.
TEST_F(NamespaceTest, ErrorStrings) {
  EXPECT_EQ(GetErrorString(lib(), 9), "Error undefined");
  EXPECT_EQ(GetErrorString(lib(), 8), std::string(80, 'x'));
}

TEST(ByteText, BufferToLinesAndBack) {
  auto text = [](const std::string& s) {
    return BytesToStringList(std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
  };
  EXPECT_EQ(text("abc"), "abc");
  EXPECT_EQ(text("a\nb"), "a\r\nb\r\n");
  EXPECT_EQ(text("a\n"), "a\r\n\r\n");
  EXPECT_EQ(text(std::string("a\nb\0c\nd", 7)), "a\r\nb\r\n");  // up to the NUL
  // Too long a text is not copied at all; a shorter one is ended by a NUL.
  const std::string untouched(16, '\xEE');
  std::tuple<std::string, int16_t, std::string> cases[] = {
      {"ABCDEFGHIJKLMNOP", 16, "ABCDEFGHIJKLMNOP"},
      {"ABCDEFGHIJKLMNOPQ", 0, untouched},
      {"AB", 2, std::string("AB\0", 3) + untouched.substr(3)}};
  for (const auto& [in, n, after] : cases) {
    std::string buf = untouched;
    EXPECT_EQ(StringListToBytes(in, std::span(reinterpret_cast<uint8_t*>(buf.data()), 16)), n);
    EXPECT_EQ(buf, after);
  }
}

}  // namespace
}  // namespace dsc
