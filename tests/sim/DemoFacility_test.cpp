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

// The names scripts and the documentation rely on (the first ones of each
// list). The app and window tests run through the quirky servers; LLRF-OLD
// has no version, so the checker asks for the application's.
TEST(DemoFacility, IsAsDocumented) {
  testing::FakeClock clock;
  auto sim = SimControlSystem::Demo(clock);
  std::tuple<Query, std::string, int16_t, Names> cases[] = {
      {Contexts, "", 3, {"LINAC", "RING", "TRANSFER"}},
      {GetServerList, "LINAC", 6, {"VACUUM-1", "MAGNETS-1", "BPM-1", "RF-1", "LLRF-OLD"}},
      {GetDeviceNameList, "VACUUM-1", 5, {"PUMP-01", "PUMP-02", "PUMP-03", "GAUGE-01"}},
      {Properties,
       "/LINAC/VACUUM-1/PUMP-01",
       8,
       {"STATUS", "PRESSURE", "CURRENT", "VOLTAGE", "ONOFF", "NAME", "HISTORY", "DEBUG*"}}};
  for (const auto& [query, where, expected, first] : cases) {
    Names names;
    int16_t count = 0;
    ASSERT_EQ(query(*sim, where, names, count), 0) << where;
    EXPECT_EQ(count, expected) << where;
    EXPECT_EQ(Names(names.begin(), names.begin() + first.size()), first);
  }
  std::vector<uint8_t> buf(16385, 0);
  DataDescriptor out{16384, 516, {}}, in;
  EXPECT_EQ(sim->EXECLINKEx("/LINAC/LLRF-OLD/#0", "SRVVERSION", out, buf, in, {}, 1, 800), 63);
}

}  // namespace
}  // namespace dsc::sim
