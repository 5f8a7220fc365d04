#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "access/NamespaceQueries.h"
#include "sim/Facility.h"
#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"

namespace dsc::sim {
namespace {

class DemoTest : public ::testing::Test {
 protected:
  void SetUp() override { sim_ = SimControlSystem::Demo(clock_); }
  std::vector<std::string> Devices(const std::string& server, int16_t& code) {
    std::vector<std::string> names;
    int16_t count = 0;
    code = GetDeviceNameList(*sim_, server, names, count);
    names.resize(code == 0 ? count : 0);
    return names;
  }
  std::vector<std::string> Properties(const std::string& device, int16_t& code) {
    std::vector<std::string> names;
    std::vector<int16_t> sizes, formats;
    int16_t count = 0;
    code = GetPropertyList(*sim_, device, names, sizes, formats, count);
    names.resize(code == 0 ? count : 0);
    return names;
  }
  std::string Text(const std::string& device, const std::string& property, int16_t& code) {
    std::vector<uint8_t> buf(16385, 0);
    DataDescriptor out{16384, 516, {}}, in;
    code = sim_->EXECLINKEx(device, property, out, buf, in, {}, 1, 800);
    return BytesToStringList(buf);
  }

  testing::FakeClock clock_;
  std::unique_ptr<SimControlSystem> sim_;
};

TEST_F(DemoTest, NamespaceIsAsDocumented) {
  std::vector<std::string> names;
  int16_t count = 0, code = 0;
  ASSERT_EQ(GetContextList(*sim_, names, count), 0);
  names.resize(count);
  EXPECT_EQ(names, (std::vector<std::string>{"LINAC", "RING", "TRANSFER"}));

  ASSERT_EQ(GetServerList(*sim_, "LINAC", names, count), 0);
  names.resize(count);
  EXPECT_EQ(names, (std::vector<std::string>{"VACUUM-1", "MAGNETS-1", "BPM-1", "RF-1", "LLRF-OLD",
                                             "KLYSTRON-3"}));
  EXPECT_EQ(Devices("VACUUM-1", code),
            (std::vector<std::string>{"PUMP-01", "PUMP-02", "PUMP-03", "GAUGE-01", "GAUGE-02"}));
  EXPECT_EQ(Devices("BPM-R", code).size(), 12u);  // NDEVICES answers 86
  EXPECT_EQ(Devices("TL-DIAG", code), std::vector<std::string>{"SCREEN-01"});
  Devices("KLYSTRON-3", code);
  EXPECT_EQ(code, 45);

  auto pump = Properties("/LINAC/VACUUM-1/PUMP-01", code);
  EXPECT_EQ(pump, (std::vector<std::string>{"STATUS", "PRESSURE", "CURRENT", "VOLTAGE", "ONOFF",
                                            "NAME", "HISTORY", "DEBUG*"}));
  EXPECT_EQ(Properties("/LINAC/LLRF-OLD/LLRF-01", code).size(), 4u);  // through code 73
  EXPECT_EQ(Properties("/LINAC/MAGNETS-1/QF-01", code).size(), 6u);
  EXPECT_EQ(Properties("/LINAC/BPM-1/BPM-06", code).size(), 5u);
}

TEST_F(DemoTest, ServerInformationAndSelfTest) {
  int16_t code = 0;
  EXPECT_EQ(Text("/LINAC/VACUUM-1/#0", "SRVVERSION", code), "4.2.1");
  Text("/LINAC/LLRF-OLD/#0", "SRVVERSION", code);
  EXPECT_NE(code, 0);
  EXPECT_NE(code, 45);
  EXPECT_NE(code, 98);
  Text("/LINAC/KLYSTRON-3/#0", "SRVVERSION", code);
  EXPECT_EQ(code, 45);
  std::string selftest = Text("/LINAC/RF-1/#0", "SRVSELFTEST", code);
  ASSERT_EQ(code, 0);
  EXPECT_EQ(selftest.rfind("Description,Property,Device,", 0), 0u);
  Text("/LINAC/VACUUM-1/#0", "SRVSELFTEST", code);
  EXPECT_NE(code, 0);  // falls back to the database file
}

TEST_F(DemoTest, MagnetCurrentFollowsItsSetpoint) {
  auto control = MakeSimControl(*sim_);
  control->setContextName("LINAC");
  control->setServerName("MAGNETS-1");
  control->setDeviceName("QF-01");
  control->setPropertyName("CURRENT.SET");
  double v = 130.0;
  std::array<uint8_t, 8> buf;
  std::memcpy(buf.data(), &v, 8);
  ASSERT_EQ(control->ExecuteAccess({}, 0, 767, buf, 1, 512), 0);
  control->setPropertyName("CURRENT");
  clock_.Advance(250);
  ASSERT_EQ(control->ExecuteAccess(buf, 1, 512, {}, 0, 767), 0);
  std::memcpy(&v, buf.data(), 8);
  EXPECT_DOUBLE_EQ(v, 125.0);
}

}  // namespace
}  // namespace dsc::sim
