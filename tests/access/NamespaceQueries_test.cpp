#include "access/NamespaceQueries.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"
#include "tests/support/Recording.h"

namespace dsc {
namespace {

// Each context, server or device is named after the case it stands for.
// More context slots than the list has room for, the second one empty.
std::string Facility() {
  std::string many = R"({"name": "P0", "format": "SHORT"})", slots = R"("FIRST", "")";
  // P480, the last one the short list holds, has more elements than its short record can say.
  for (int i = 1; i < 500; ++i)
    many += R"(,{"name": "P)" + std::to_string(i) + R"(", "format": "SHORT")" +
            (i == 480 ? R"(, "count": 40000})" : "}");
  for (int i = 2; i < 250; ++i) slots += ",\"C" + std::to_string(i) + "\"";
  return R"({"errors": {"8": ")" + std::string(90, 'x') + R"("}, "contextSlots": [)" + slots +
         R"(], "contexts": [{"name": "FIRST", "serverSlots": ["X"]},
    {"name": "LINAC", "serverSlots": [" A ", "", "B"]},
    {"name": "NTAGSFAILS", "codes": {"NTAGS": 12}}, {"name": "NEGATIVE", "ntags": -2},
    {"name": "C", "servers": [
    {"name": "BLANKS", "deviceSlots": ["  PUMP  ", "    ", "", "X"]},
    {"name": "GOESONLAST", "deviceSlots": ["A", "ABCDEFGHIJKLMNO&"]},
    {"name": "OWN", "devices": [{"name": "PSU-WITH-LONG-NAME"}, {"name": "ABCDEFGHIJKLMNO&"}]},
    {"name": "NOCOUNT", "deviceSlots": ["A", "B"], "codes": {"NDEVICES": 86}},
    {"name": "WARNS", "deviceSlots": ["A"], "codes": {"DEVICES": 16385}},
    {"name": "DOWN", "code": 45}, {"name": "NEGATIVE", "ndevices": -2},
    {"name": "FEWER", "ndevices": 1, "deviceSlots": ["A", "B"]},
    {"name": "NEW", "devices": [{"name": "D", "nprops": 4, "properties": [
      {"name": "PRESSURE", "format": "DOUBLE"}, {"name": "NAME", "format": "TEXT", "count": 16},
      {"name": "TRACE", "format": "single", "count": 40000}]},
      {"name": "PROPSFAILS", "nprops": 2, "codes": {"PROPS": 12}}, {"name": "NEG", "nprops": -2},
      {"name": "FULL", "nprops": 32767}]},
    {"name": "OLD", "propsRecord": "short", "devices": [
      {"name": "FAILS", "nprops": 2, "codes": {"PROPS": 73}}, {"name": "MANY", "properties": [)" +
         many + "]}]}]}]}";
}

auto* const Servers = &GetServerList;
auto* const Devices = &GetDeviceNameList;

// Blanks are trimmed; empty servers keep their place, empty devices do not. A
// full device slot ending in "&" goes on in the next (the facility's own
// listing of long names). A failure leaves the list and the count alone.
TEST(NamespaceQueries, ListsErrorStringsAndProperties) {
  testing::FakeClock clock;
  std::string error;
  const auto sim = sim::SimControlSystem::FromText(Facility(), "inline.json", clock, error);
  ASSERT_TRUE(sim) << error;
  testing::RecordingLibrary lib(sim.get());
  // query, server or context, code, names, last call
  std::tuple<decltype(Servers), std::string, int16_t, std::vector<std::string>, std::string>
      lists[] = {
          {Servers, "LINAC", 0, {"A", "", "B"}, "ENS/LINAC TAGS 3 521 3000"},
          {Servers, "", 0, {"X"}, "ENS TAGS 1 521 3000"},  // the first context
          {Servers, "NTAGSFAILS", 12, {"kept"}, "ENS/NTAGSFAILS NTAGS 1 513 500"},
          {Servers, "NEGATIVE", 0, {}, "ENS/NEGATIVE TAGS 0 521 3000"},  // a count below 0 is 0
          {Devices, "NEGATIVE", 0, {}, "NEGATIVE DEVICES 0 521 3000"},
          {Devices, "FEWER", 0, {"A"}, "FEWER DEVICES 1 521 3000"},  // as many as counted
          {Devices, "BLANKS", 0, {"PUMP", "X"}, "BLANKS DEVICES 4 521 3000"},
          {Devices, "GOESONLAST", 0, {"A", "ABCDEFGHIJKLMNO"}, "GOESONLAST DEVICES 2 521 3000"},
          {Devices, "OWN", 0, {"PSU-WITH-LONG-NAME", "ABCDEFGHIJKLMNO&"}, "OWN DEVICES 4 521 3000"},
          {Devices, "NOCOUNT", 0, {"A", "B"}, "NOCOUNT DEVICES 512 521 3000"},
          {Devices, "WARNS", 0, {"A"}, "WARNS DEVICES 1 521 3000"},
          {Devices, "DOWN", 45, {"kept"}, "DOWN NDEVICES 1 513 800"}};
  for (const auto& [query, where, code, expected, last] : lists) {
    SCOPED_TRACE(where);
    std::vector<std::string> names{"kept"};
    int16_t count = -1;
    ASSERT_EQ(query(lib, where, names, count), code);
    EXPECT_EQ(count, code ? -1 : static_cast<int16_t>(expected.size()));
    if (code == 0) names.resize(std::max<int16_t>(count, 0));
    EXPECT_EQ(names, expected);
    EXPECT_EQ(lib.calls.back(), last);
  }
  // Like the servers, the contexts keep their empty slots. An unknown code
  // has no text; a message filling the buffer ends with it.
  std::vector<std::string> names;
  int16_t count = -1;
  ASSERT_EQ(GetContextList(lib, names, count), 0);
  EXPECT_EQ(std::tuple(count, names[1], names[200]), std::tuple(kContextSlots, "", "C200"));
  EXPECT_EQ(GetErrorString(lib, 9), "Error undefined");
  EXPECT_EQ(GetErrorString(lib, 8), std::string(80, 'x'));

  // The long PROPS list first, the short one when the server answers 73. A
  // record without a name (NPROPS announces more than there are) is dropped.
  // device, code, count, the last record (name, size, format), PROPS calls
  std::tuple<std::string, int16_t, int16_t, std::tuple<std::string, int16_t, int16_t>,
             std::vector<std::string>>
      cases[] = {
          {"/C/NEW/D", 0, 3, {"TRACE", 32767, 517}, {"PROPS 752 519 3000"}},
          {"/C/OLD/MANY",
           0,
           481,
           {"P480", 32767, 513},
           {"PROPS 94000 519 3000", "PROPS 32708 519 3000"}},
          {"/C/NEW/PROPSFAILS", 12, -1, {"kept", 0, 0}, {"PROPS 376 519 3000"}},
          {"/C/NEW/NEG", 0, 0, {"", 0, 0}, {"PROPS 0 519 3000"}},
          // A count of 32767 may be more: it is asked again as a 32-bit one.
          {"/C/NEW/FULL", 0, 0, {"", 0, 512}, {"NPROPS 1 515 800", "PROPS 6160196 519 3000"}},
          {"/C/OLD/FAILS", 73, -1, {"kept", 0, 0}, {"PROPS 376 519 3000", "PROPS 136 519 3000"}}};
  for (const auto& [device, code, expected, record, props] : cases) {
    SCOPED_TRACE(device);
    lib.calls.clear();
    names = {"kept"};
    std::vector<int16_t> sizes{0}, formats{0};
    count = -1;
    EXPECT_EQ(GetPropertyList(lib, device, names, sizes, formats, count), code);
    ASSERT_EQ(count, expected);
    const size_t at = std::max(count - 1, 0);
    EXPECT_EQ(std::tie(names[at], sizes[at], formats[at]), record);
    std::vector<std::string> calls{device + " NPROPS 1 513 800"};
    for (const std::string& call : props) calls.push_back(device + " " + call);
    EXPECT_EQ(lib.calls, calls);
  }
}

TEST(ByteText, BufferToLinesAndBack) {
  auto text = [](const std::string& s) {
    return BytesToStringList(std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
  };
  EXPECT_EQ(text("abc"), "abc");
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
