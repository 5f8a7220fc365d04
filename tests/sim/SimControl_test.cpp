#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cfloat>
#include <cstring>
#include <tuple>

#include "access/ForwardingControl.h"
#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"

namespace dsc::sim {
namespace {

constexpr int16_t kDouble = 512, kShort = 513, kText = 516, kSingle = 517, kName8 = 520;

// Devices A, B and E are made from template \u00e4, B with a value of its own,
// E with a property of its own in place of the template's.
const char* kBench = R"({"templates": {"\u00e4": [
    {"name": "W", "format": "SHORT", "count": 2, "values": [5, 6], "writable": true},
    {"name": "I", "format": "DOUBLE", "value": 0, "ramp": {"towards": "ISET", "rate": 10}},
    {"name": "ISET", "format": "DOUBLE", "value": 0, "writable": true},
    {"name": "Z", "format": "TEXT", "value": "\u00c4\u00d6"}]},
  "contexts": [{"name": "C", "servers": [{"name": "S", "pollMs": 100,
  "codes": {"DOWN": 45}, "devices": [{"name": "D", "properties": [
    {"name": "V", "format": "DOUBLE", "values": [1.5, 2.5, 3.5], "pollMs": 200},
    {"name": "BIG", "format": "DOUBLE", "values": [1e39, 40000, -1e39]},
    {"name": "I", "format": "DOUBLE", "ramp": {"towards": "ISET", "rate": 5}},
    {"name": "ISET", "format": "DOUBLE", "writable": true}, {"name": "RO", "format": "SHORT"},
    {"name": "ECHO", "format": "SHORT", "count": 4, "echo": true},
    {"name": "SLOW", "format": "LONG", "delayMs": 1500},
    {"name": "EDGE", "format": "LONG", "delayMs": 1000},
    {"name": "EV", "format": "DOUBLE", "value": 2, "events": [{"after": 1, "code": 35}]},
    {"name": "MIN", "format": "LONG", "code": -32768}, {"name": "DOWN", "format": "LONG"},
    {"name": "TXT", "format": "TEXT", "count": 8, "value": "hello", "writable": true},
    {"name": "N", "format": "NAME8", "count": 2, "values": ["AB", "C"]}]},
    {"name": "A", "template": "\u00e4"}, {"name": "B", "template": "\u00e4", "values": {"W": [7]}},
    {"name": "E", "template": "\u00e4",
     "properties": [{"name": "ISET", "format": "LONG", "value": 3}]}]},
    {"name": "OFF", "code": 45, "devices": [{"name": "D"}]},
    {"name": "LATE", "delayMs": 600, "devices": [{"name": "D", "delayMs": 500, "properties": [
      {"name": "V", "format": "DOUBLE"}]}]},
    {"name": "WARN", "code": 16385, "devices": [{"name": "D", "properties": [
      {"name": "V", "format": "DOUBLE"}]}]}]}]})";

class ControlTest : public ::testing::Test {
 protected:
  ControlTest() {
    Aim("C", "S", "D");
    control_->setCompletionHandler([this](int32_t, int32_t code) { events_.push_back(code); });
  }
  void Aim(const char* context, const char* server, const char* device) {
    control_->setContextName(context);
    control_->setServerName(server);
    control_->setDeviceName(device);
  }
  int32_t Read(const char* property, int32_t count, int16_t format) {
    control_->setPropertyName(property);
    return control_->ExecuteAccess(buf_, count, format, {}, 0, 767);
  }
  double Double(size_t i = 0) const { return std::bit_cast<std::array<double, 8>>(buf_)[i]; }
  void WriteDouble(const char* property, double v) {
    control_->setPropertyName(property);
    const auto in = std::bit_cast<std::array<uint8_t, 8>>(v);
    ASSERT_EQ(control_->ExecuteAccess({}, 0, 767, in, 1, kDouble), 0);
  }

  testing::FakeClock clock_;
  std::string error_;  // the facility is fixed: it loads
  std::unique_ptr<SimControlSystem> sim_ = SimControlSystem::FromText(kBench, "b", clock_, error_);
  // Held as the window holds it, behind a decorator that forwards every member.
  std::unique_ptr<DataAcquisitionControl> control_ =
      std::make_unique<ForwardingControl>(MakeSimControl(*sim_));
  std::array<uint8_t, 64> buf_{};
  std::vector<int32_t> events_;
};

TEST_F(ControlTest, ReadsNoMoreThanAskedOrThanTheSpanHoldsAndConvertsEachDevicesOwnValues) {
  buf_.fill(0xEE);
  ASSERT_EQ(Read("V", 2, kDouble), 0);
  EXPECT_EQ(std::tuple(Double(0), Double(1), buf_[16]), std::tuple(1.5, 2.5, 0xEE));
  buf_.fill(0xEE);
  ASSERT_EQ(control_->ExecuteAccess(std::span(buf_).first(12), 3, kDouble, {}, 0, 767), 0);
  EXPECT_EQ(buf_[8], 0xEE);            // a partial element is not written
  ASSERT_EQ(Read("V", 3, kShort), 0);  // numbers convert, rounding to even
  EXPECT_EQ(std::memcmp(buf_.data(), std::array<int16_t, 3>{2, 2, 4}.data(), 6), 0);
  // Beyond the format's range a number is its largest (or smallest) value.
  ASSERT_EQ(Read("BIG", 3, kShort), 0);
  EXPECT_EQ(std::memcmp(buf_.data(), std::array<int16_t, 3>{32767, 32767, -32768}.data(), 6), 0);
  ASSERT_EQ(Read("BIG", 3, kSingle), 0);
  EXPECT_EQ(std::memcmp(buf_.data(), std::array<float, 3>{FLT_MAX, 40000, -FLT_MAX}.data(), 12), 0);
  // The runner hands one buffer as input and output: the input is used up first.
  control_->setPropertyName("TXT");
  std::memcpy(buf_.data(), "abc", 3);
  ASSERT_EQ(control_->ExecuteAccess(buf_, 8, kText, buf_, 3, kText), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf_.data()), 8), std::string("abc\0\0\0\0\0", 8));
  control_->setPropertyName("ECHO");
  std::memcpy(buf_.data(), std::array<int16_t, 2>{-7, 9}.data(), 4);
  ASSERT_EQ(control_->ExecuteAccess(buf_, 2, kDouble, buf_, 2, kShort), 0);
  EXPECT_EQ(std::tuple(Double(0), Double(1)), std::tuple(-7.0, 9.0));
  ASSERT_EQ(Read("N", 2, kName8), 0);  // name values, each padded
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf_.data()), 10),
            std::string("AB\0\0\0\0\0\0C\0", 10));
  // Like the library, the contexts are counted even when none fit.
  int32_t contexts = 0;
  EXPECT_EQ(sim_->T_GETCONTEXTS(std::span(buf_).first(0), contexts), 0);
  EXPECT_EQ(std::tuple(contexts, buf_[0]), std::tuple(1, 'A'));  // "AB" of N stays
  // Devices made from one template share its values until one changes its own:
  // a write, a ramp step or a value of the device's own reaches no other device.
  Aim("C", "S", "A");
  WriteDouble("W", 9);
  WriteDouble("ISET", -10);  // I ramps down, 10/s
  Read("I", 1, kDouble);     // the ramp starts
  clock_.Advance(500);
  std::vector<double> seen;  // W[0] W[1] I ISET of A, B and E
  for (const char* device : {"A", "B", "E"}) {
    Aim("C", "S", device);
    for (const auto& [property, count] : {std::pair{"W", 2}, {"I", 1}, {"ISET", 1}}) {
      ASSERT_EQ(Read(property, count, kDouble), 0);
      for (int k = 0; k < count; ++k) seen.push_back(Double(k));
    }
  }
  EXPECT_EQ(seen, (std::vector<double>{9, 6, -5, -10, 7, 0, 0, 0, 5, 6, 0, 3}));
  // E's I, started by the read above, ramps up 10/s and stops at E's own ISET.
  clock_.Advance(500);
  ASSERT_EQ(Read("I", 1, kDouble), 0);
  EXPECT_EQ(Double(), 3.0);
  buf_.fill(0xEE);
  ASSERT_EQ(Read("Z", 3, kText), 0);  // a Latin-1 text of two characters
  EXPECT_EQ(std::tuple(buf_[0], buf_[1], buf_[2]), std::tuple(0xC4, 0xD6, 0xEE));
}

// A slow answer fails within the default timeout (the runner's tests give it a
// longer one).
TEST_F(ControlTest, FailuresHaveCodesAndTextsNamingThem) {
  const std::tuple<const char*, const char*, const char*, const char*, bool, int32_t, const char*>
      cases[] = {{"X", "S", "D", "V", false, 60, "unknown context X"},
                 {"C", "Y", "D", "V", false, 61, "unknown device server Y of /C"},
                 {"C", "S", "Z", "V", false, 62, "unknown device Z of /C/S"},
                 {"C", "S", "D", "Q", false, 63, "unknown property Q of /C/S/D"},
                 {"C", "S", "D", "DOWN", false, 45, "server not answering"},
                 // A server that is down cannot tell what it does not know.
                 {"C", "OFF", "#0", "SRVVERS", false, 45, "server not answering"},
                 {"C", "OFF", "Z", "V", false, 45, "server not answering"},
                 // A warning (0x4000) comes with data: the server still knows its names.
                 {"C", "WARN", "Z", "V", false, 62, "unknown device Z of /C/WARN"},
                 {"C", "WARN", "D", "Q", false, 63, "unknown property Q of /C/WARN/D"},
                 {"C", "S", "D", "SLOW", false, 56, "no answer from /C/S/D[SLOW] within 1000 ms"},
                 // The time-out itself is in time; server and device delays add up.
                 {"C", "S", "D", "EDGE", false, 0, "success"},
                 {"C", "LATE", "D", "V", false, 56, "no answer from /C/LATE/D[V] within 1000 ms"},
                 {"C", "S", "D", "RO", true, 64, "property is read-only"}};
  for (const auto& [context, server, device, property, write, code, text] : cases) {
    Aim(context, server, device);
    control_->setPropertyName(property);
    // One DOUBLE read, or one SHORT written.
    EXPECT_EQ(control_->ExecuteAccess(buf_, !write, kDouble, buf_, write, kShort), code)
        << property;
    EXPECT_EQ(control_->StatusText(), text);
  }
}

// The runner starts only POLL and REFRESH accesses. Each tick calls ProcessEvents twice, then lets
// 100 ms (the poll period) pass. Stopping clears the buffer, so that a delivery after it shows.
// An input (-7 as SHORT) goes out at the start, and its answer is the first delivery.
TEST_F(ControlTest, AsyncAccessDeliversOnlyFromProcessEventsWhenDue) {
  struct {
    const char *property, *mode;
    int32_t inputs, started;
    int ticks, writeAt, stopAt;  // ticks before which ISET becomes 1, the access stops
    std::vector<int32_t> events;
    double last;  // value in the buffer at the end
  } cases[] = {
      {"V", "POLL", 0, 0, 3, -1, -1, {0, 0}, 1.5},
      {"V", "POLL", 0, 0, 3, -1, 1, {0}, 0},
      {"V", "READ", 0, 0, 5, -1, -1, {0}, 1.5},       // once, though the period comes round again
      {"I", "REFRESH", 0, 0, 4, 2, -1, {0, 0}, 0.5},  // quiet until the value moves, 5/s
      {"SLOW", "POLL", 0, 0, 16, -1, -1, {0}, 0},     // first after its 1500 ms delay
      {"ECHO", "POLL", 1, 0, 1, -1, -1, {0}, -7},
      {"ECHO", "POLL", 1, 0, 2, -1, -1, {0, 0}, 0},    // only the first answers the input
      {"EV", "POLL", 0, 0, 3, -1, -1, {0, 35, 0}, 2},  // a scripted code after one delivery
      {"NOPE", "POLL", 0, -63, 2, -1, -1, {}, 0}};
  const int16_t input = -7;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.property) + " " + c.mode);
    events_.clear();
    buf_.fill(0);
    control_->setPropertyName(c.property);
    control_->setAccessMode(c.mode);
    ASSERT_EQ(control_->StartAccess(buf_, 1, kDouble, {reinterpret_cast<const uint8_t*>(&input), 2},
                                    c.inputs, kShort),
              c.started);
    for (int i = 0; i < c.ticks; ++i, clock_.Advance(100)) {
      if (i == c.writeAt) WriteDouble("ISET", 1);
      if (i == c.stopAt) control_->StopAccess(), buf_.fill(0);
      control_->ProcessEvents();
      control_->ProcessEvents();
    }
    EXPECT_EQ(events_, c.events);
    EXPECT_DOUBLE_EQ(Double(), c.last);
  }
}

}  // namespace
}  // namespace dsc::sim
