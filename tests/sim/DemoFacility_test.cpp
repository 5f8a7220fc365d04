#include <gtest/gtest.h>

#include "access/NamespaceQueries.h"
#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"

namespace dsc::sim {
namespace {

using Names = std::vector<std::string>;
using Query = int16_t (*)(ClientLibrary&, const std::string&, Names&, int16_t&);

int16_t Contexts(ClientLibrary& lib, const std::string&, Names& names, int16_t& count) {
  return GetContextList(lib, names, count);
}
int16_t Properties(ClientLibrary& lib, const std::string& device, Names& names, int16_t& count) {
  std::vector<int16_t> sizes, formats;
  return GetPropertyList(lib, device, names, sizes, formats, count);
}

// Each list of the demo shows the case it was made for; `names` are the
// first ones listed.
TEST(DemoFacility, NamespaceIsAsDocumented) {
  testing::FakeClock clock;
  auto sim = SimControlSystem::Demo(clock);
  struct {
    Query query;
    const char* where;
    int16_t code, count;
    Names names;
  } cases[] = {
      {Contexts, "", 0, 3, {"LINAC", "RING", "TRANSFER"}},
      {GetServerList, "LINAC", 0, 6, {"VACUUM-1", "MAGNETS-1", "BPM-1", "RF-1", "LLRF-OLD"}},
      {GetDeviceNameList, "VACUUM-1", 0, 5, {"PUMP-01", "PUMP-02", "PUMP-03", "GAUGE-01"}},
      {GetDeviceNameList, "BPM-R", 0, 12, {}},  // NDEVICES answers 86
      {GetDeviceNameList, "TL-DIAG", 0, 1, {"SCREEN-01"}},
      {Properties,
       "/LINAC/VACUUM-1/PUMP-01",
       0,
       8,
       {"STATUS", "PRESSURE", "CURRENT", "VOLTAGE", "ONOFF", "NAME", "HISTORY", "DEBUG*"}},
      {Properties, "/LINAC/LLRF-OLD/LLRF-01", 0, 4, {}}};  // through code 73
  for (const auto& c : cases) {
    Names names;
    int16_t count = 0;
    ASSERT_EQ(c.query(*sim, c.where, names, count), c.code) << c.where;
    if (c.code != 0) continue;
    EXPECT_EQ(count, c.count) << c.where;
    EXPECT_EQ(Names(names.begin(), names.begin() + c.names.size()), c.names);
  }
}

// LLRF-OLD has no version (the checker then asks for the application's); RF-1
// lists its own tests.
TEST(DemoFacility, ServerInformation) {
  testing::FakeClock clock;
  auto sim = SimControlSystem::Demo(clock);
  std::vector<uint8_t> buf(16385, 0);
  auto read = [&](const char* device, const char* property) {
    DataDescriptor out{16384, 516, {}}, in;
    return sim->EXECLINKEx(device, property, out, buf, in, {}, 1, 800);
  };
  EXPECT_EQ(read("/LINAC/LLRF-OLD/#0", "SRVVERSION"), 63);
  ASSERT_EQ(read("/LINAC/RF-1/#0", "SRVSELFTEST"), 0);
  EXPECT_TRUE(BytesToStringList(buf).starts_with("Description,Property,Device,"));
}

}  // namespace
}  // namespace dsc::sim
