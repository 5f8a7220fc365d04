#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "access/CompletionCodes.h"
#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"

namespace dsc::sim {
namespace {

constexpr int16_t kDouble = 512, kShort = 513, kLong = 515, kText = 516;

const char* kBench = R"({"contexts": [{"name": "C", "servers": [{"name": "S", "pollMs": 100,
  "codes": {"DOWN": 45}, "devices": [{"name": "D", "properties": [
    {"name": "V", "format": "DOUBLE", "values": [1.5, 2.5, 3.5]},
    {"name": "I", "format": "DOUBLE", "ramp": {"towards": "ISET", "rate": 20}},
    {"name": "ISET", "format": "DOUBLE", "writable": true},
    {"name": "ECHO", "format": "SHORT", "count": 4, "echo": true},
    {"name": "RO", "format": "SHORT", "value": 3},
    {"name": "SLOW", "format": "LONG", "delayMs": 1500},
    {"name": "DOWN", "format": "LONG"},
    {"name": "ARM", "format": "SHORT", "value": 5, "events": [{"after": 2, "code": 36}]},
    {"name": "TXT", "format": "TEXT", "count": 8, "value": "hello", "writable": true}]}]}]}]})";

class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    sim_ = SimControlSystem::FromText(kBench, "bench.json", clock_, error);
    ASSERT_TRUE(sim_) << error;
    control_ = MakeSimControl(*sim_);
    control_->setContextName("C");
    control_->setServerName("S");
    control_->setDeviceName("D");
    control_->setCompletionHandler([this](int32_t, int32_t code) { events_.push_back(code); });
  }
  int32_t Read(const char* property, int32_t count, int16_t format) {
    control_->setPropertyName(property);
    return control_->ExecuteAccess(buf_, count, format, {}, 0, 767);
  }
  double Double(size_t i = 0) const {
    double v;
    std::memcpy(&v, buf_.data() + 8 * i, 8);
    return v;
  }
  void WriteDouble(const char* property, double v) {
    control_->setPropertyName(property);
    std::memcpy(buf_.data(), &v, 8);
    ASSERT_EQ(control_->ExecuteAccess({}, 0, 767, buf_, 1, kDouble), 0);
  }
  int32_t Start(const char* property, const char* mode) {
    control_->setPropertyName(property);
    control_->setAccessMode(mode);
    return control_->StartAccess(buf_, 1, kDouble, {}, 0, 767);
  }

  testing::FakeClock clock_;
  std::unique_ptr<SimControlSystem> sim_;
  std::unique_ptr<DataAcquisitionControl> control_;
  std::array<uint8_t, 64> buf_{};
  std::vector<int32_t> events_;
};

TEST_F(ControlTest, ReadsNoMoreThanAskedOrThanTheSpanHolds) {
  buf_.fill(0xEE);
  ASSERT_EQ(Read("V", 2, kDouble), 0);
  EXPECT_EQ(Double(0), 1.5);
  EXPECT_EQ(Double(1), 2.5);
  EXPECT_EQ(buf_[16], 0xEE);
  EXPECT_EQ(control_->StatusText(), "success");

  buf_.fill(0xEE);
  control_->setPropertyName("V");
  ASSERT_EQ(control_->ExecuteAccess(std::span(buf_).first(12), 3, kDouble, {}, 0, 767), 0);
  EXPECT_EQ(buf_[8], 0xEE);  // a partial element is not written

  ASSERT_EQ(Read("V", 3, kShort), 0);  // numbers convert, rounding to even
  int16_t s[3];
  std::memcpy(s, buf_.data(), 6);
  EXPECT_EQ(s[0], 2);
  EXPECT_EQ(s[2], 4);
}

TEST_F(ControlTest, InputIsUsedUpBeforeTheAnswerIsWritten) {
  control_->setPropertyName("TXT");
  std::memcpy(buf_.data(), "abc", 3);
  ASSERT_EQ(control_->ExecuteAccess(buf_, 8, kText, buf_, 3, kText), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf_.data()), 8), std::string("abc\0\0\0\0\0", 8));

  control_->setPropertyName("ECHO");
  int16_t in[2] = {-7, 9};
  std::memcpy(buf_.data(), in, 4);
  ASSERT_EQ(control_->ExecuteAccess(buf_, 2, kDouble, buf_, 2, kShort), 0);
  EXPECT_EQ(Double(0), -7.0);
  EXPECT_EQ(Double(1), 9.0);
}

TEST_F(ControlTest, FailuresHaveCodesAndTextsNamingThem) {
  struct {
    const char* context;
    const char* server;
    const char* device;
    const char* property;
    int32_t code;
    const char* text;
  } cases[] = {{"X", "S", "D", "V", 60, "unknown context X"},
               {"C", "Y", "D", "V", 61, "unknown device server Y of /C"},
               {"C", "S", "Z", "V", 62, "unknown device Z of /C/S"},
               {"C", "S", "D", "Q", 63, "unknown property Q of /C/S/D"},
               {"C", "S", "D", "DOWN", 45, "server not answering"},
               {"C", "S", "D", "SLOW", 56, "no answer from /C/S/D[SLOW] within 1000 ms"}};
  for (const auto& c : cases) {
    control_->setContextName(c.context);
    control_->setServerName(c.server);
    control_->setDeviceName(c.device);
    EXPECT_EQ(Read(c.property, 1, kDouble), c.code) << c.property;
    EXPECT_EQ(control_->StatusText(), c.text);
  }
  control_->setContextName("C");
  control_->setServerName("S");
  control_->setDeviceName("D");
  control_->setPropertyName("RO");
  EXPECT_EQ(control_->ExecuteAccess({}, 0, 767, buf_, 1, kShort), 64);
  EXPECT_EQ(control_->StatusText(), "property is read-only");
}

TEST_F(ControlTest, SlowAnswerFitsALongerTimeoutWithoutTimePassing) {
  int64_t before = clock_.NowMs();
  control_->setLinkTimeout(2000);
  EXPECT_EQ(Read("SLOW", 1, kLong), 0);
  control_->setLinkTimeout(1000);
  EXPECT_EQ(Read("SLOW", 1, kLong), kCodeLinkTimeout);
  EXPECT_EQ(clock_.NowMs(), before);
}

TEST_F(ControlTest, CurrentRampsTowardsItsSetpointInSimulatedTime) {
  WriteDouble("ISET", 100);
  ASSERT_EQ(Read("I", 1, kDouble), 0);
  EXPECT_EQ(Double(), 0);
  clock_.Advance(1000);
  Read("I", 1, kDouble);
  EXPECT_DOUBLE_EQ(Double(), 20);
  clock_.Advance(1500);
  WriteDouble("ISET", 10);  // the ramp reached 50 before the setpoint moved
  clock_.Advance(1000);
  Read("I", 1, kDouble);
  EXPECT_DOUBLE_EQ(Double(), 30);
  clock_.Advance(60000);
  Read("I", 1, kDouble);
  EXPECT_DOUBLE_EQ(Double(), 10);
}

TEST_F(ControlTest, PollDeliversOnlyFromProcessEventsWhenDue) {
  ASSERT_EQ(Start("V", "POLL"), 0);
  EXPECT_TRUE(events_.empty());
  control_->ProcessEvents();
  ASSERT_EQ(events_, std::vector<int32_t>{0});
  EXPECT_EQ(Double(), 1.5);
  control_->ProcessEvents();
  EXPECT_EQ(events_.size(), 1u);
  clock_.Advance(100);
  control_->ProcessEvents();
  EXPECT_EQ(events_.size(), 2u);
  control_->StopAccess();
  buf_.fill(0);
  clock_.Advance(1000);
  control_->ProcessEvents();
  EXPECT_EQ(events_.size(), 2u);
  EXPECT_EQ(Double(), 0);
}

TEST_F(ControlTest, RefreshDeliversWhenTheValueChanges) {
  ASSERT_EQ(Start("I", "REFRESH"), 0);
  control_->ProcessEvents();
  clock_.Advance(100);
  control_->ProcessEvents();
  EXPECT_EQ(events_.size(), 1u);
  WriteDouble("ISET", 1);
  clock_.Advance(100);
  control_->ProcessEvents();
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_DOUBLE_EQ(Double(), 1);
}

TEST_F(ControlTest, ScriptedEventComesAfterItsDeliveries) {
  ASSERT_EQ(Start("ARM", "POLL"), 0);
  for (int i = 0; i < 4; ++i) {
    control_->ProcessEvents();
    clock_.Advance(100);
  }
  EXPECT_EQ(events_, (std::vector<int32_t>{0, 0, 36, 0}));
}

TEST_F(ControlTest, AsyncFailuresRefuseOrArriveAsEvents) {
  EXPECT_EQ(Start("NOPE", "POLL"), -63);
  EXPECT_EQ(control_->StatusText(), "unknown property NOPE of /C/S/D");
  ASSERT_EQ(Start("DOWN", "POLL"), 0);
  control_->ProcessEvents();
  EXPECT_EQ(events_, std::vector<int32_t>{45});
  // Any mode but POLL and REFRESH delivers once.
  events_.clear();
  ASSERT_EQ(Start("V", "READ"), 0);
  for (int i = 0; i < 3; ++i, clock_.Advance(100)) control_->ProcessEvents();
  EXPECT_EQ(events_, std::vector<int32_t>{0});
}

}  // namespace
}  // namespace dsc::sim
