// The USB bridge calls over a recording bus, and the bus choice from the environment.
#include "bus/usb_bridge.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bus/bridge_bus_choice.h"
#include "bus/i2c_dev_bus.h"
#include "bus_test_support.h"
#include "fake_kernel_i2c.h"

namespace demodctl {
namespace {

using testing_support::ScopedEnv;
using testing_support::TempDir;

struct Call {
  uint8_t addr7;
  std::vector<uint8_t> tx;
  size_t rx_len;
  bool operator==(const Call&) const = default;
};

// Records each transaction into a log the test keeps; answers with `reply`
// or, when failing, scribbles 0xEE into rx and reports a NACK.
class RecordingBus : public I2cBus {
 public:
  struct Script {
    std::vector<Call> calls;
    bool ok = true;
    std::vector<uint8_t> reply;
  };
  explicit RecordingBus(Script& script) : script_(script) {}
  bool transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) override {
    script_.calls.push_back({addr7, {tx.begin(), tx.end()}, rx.size()});
    for (size_t i = 0; i < rx.size(); ++i) {
      rx[i] = script_.ok ? (i < script_.reply.size() ? script_.reply[i] : 0) : 0xEE;
    }
    return script_.ok;
  }

 private:
  Script& script_;
};

class UsbBridgeOverBus : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(bridge.open_bus(std::make_unique<RecordingBus>(script))); }
  RecordingBus::Script script;
  UsbBridge bridge;
};

struct AddressCase {
  uint8_t address_byte;
  uint8_t addr7;
};

class UsbBridgeAddress : public UsbBridgeOverBus,
                         public ::testing::WithParamInterface<AddressCase> {};

TEST_P(UsbBridgeAddress, DropsTheReadWriteBit) {
  const uint8_t wbuf[] = {GetParam().address_byte, 0x2D, 0x01};
  EXPECT_NE(bridge.stream_i2c(0, 3, wbuf, 0, nullptr), 0);
  EXPECT_THAT(script.calls, ::testing::ElementsAre(Call{GetParam().addr7, {0x2D, 0x01}, 0}));
}

INSTANTIATE_TEST_SUITE_P(AddressBytes, UsbBridgeAddress,
                         ::testing::Values(AddressCase{0xD0, 0x68}, AddressCase{0xD1, 0x68},
                                           AddressCase{0xC0, 0x60}, AddressCase{0x00, 0x00},
                                           AddressCase{0xFF, 0x7F}));

TEST_F(UsbBridgeOverBus, RegisterReadIsOneTransactionWithRepeatedStart) {
  script.reply = {0x01, 0x00, 0x36, 0x31};
  const uint8_t wbuf[] = {0xD0, 0x6C};
  uint8_t rbuf[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_NE(bridge.stream_i2c(0, 2, wbuf, 4, rbuf), 0);
  EXPECT_THAT(script.calls, ::testing::ElementsAre(Call{0x68, {0x6C}, 4}));
  EXPECT_THAT(rbuf, ::testing::ElementsAre(0x01, 0x00, 0x36, 0x31));
}

TEST_F(UsbBridgeOverBus, FailedTransferReadsAsZeros) {
  script.ok = false;
  const uint8_t wbuf[] = {0xD0, 0x6C};
  uint8_t rbuf[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(bridge.stream_i2c(0, 2, wbuf, 4, rbuf), 0);
  EXPECT_EQ(script.calls.size(), 1u);
  EXPECT_THAT(rbuf, ::testing::Each(0));
}

struct BadCall {
  const char* name;
  int index;
  int write_len;
  bool null_write;
  int read_len;
  bool null_read;
};

class UsbBridgeBadCall : public UsbBridgeOverBus, public ::testing::WithParamInterface<BadCall> {};

TEST_P(UsbBridgeBadCall, FailsWithoutTouchingTheBus) {
  const BadCall& c = GetParam();
  const uint8_t wbuf[] = {0xD0, 0x6C};
  uint8_t rbuf[2] = {0xAA, 0xAA};
  EXPECT_EQ(bridge.stream_i2c(c.index, c.write_len, c.null_write ? nullptr : wbuf, c.read_len,
                              c.null_read ? nullptr : rbuf),
            0);
  EXPECT_TRUE(script.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(Arguments, UsbBridgeBadCall,
                         ::testing::Values(BadCall{"NoAddressByte", 0, 0, false, 2, false},
                                           BadCall{"NegativeWriteLength", 0, -1, false, 2, false},
                                           BadCall{"NegativeReadLength", 0, 2, false, -1, false},
                                           BadCall{"NullWriteBuffer", 0, 2, true, 2, false},
                                           BadCall{"NullReadBuffer", 0, 2, false, 2, true},
                                           BadCall{"OtherDeviceIndex", 1, 2, false, 2, false}),
                         testing_support::CaseName());

TEST(UsbBridge, CallsBeforeOpenAndAfterCloseFailWithZeros) {
  RecordingBus::Script script;
  UsbBridge bridge;
  const uint8_t wbuf[] = {0xD0, 0x6C};
  uint8_t rbuf[2] = {0xAA, 0xAA};
  EXPECT_EQ(bridge.stream_i2c(0, 2, wbuf, 2, rbuf), 0);
  EXPECT_THAT(rbuf, ::testing::Each(0));

  ASSERT_TRUE(bridge.open_bus(std::make_unique<RecordingBus>(script)));
  EXPECT_NE(bridge.close_device(0), 0);
  rbuf[0] = 0xAA;
  EXPECT_EQ(bridge.stream_i2c(0, 2, wbuf, 2, rbuf), 0);
  EXPECT_THAT(rbuf, ::testing::Each(0));
  EXPECT_TRUE(script.calls.empty());
}

TEST(UsbBridge, OpeningTwiceKeepsTheFirstBus) {
  RecordingBus::Script first;
  RecordingBus::Script second;
  UsbBridge bridge;
  ASSERT_TRUE(bridge.open_bus(std::make_unique<RecordingBus>(first)));
  EXPECT_FALSE(bridge.open_bus(std::make_unique<RecordingBus>(second)));
  {
    // The environment would name a node that does not exist.
    ScopedEnv bus(kBusEnvVar, "/nonexistent/i2c-99");
    EXPECT_EQ(bridge.open_device(0), 0);
  }
  const uint8_t wbuf[] = {0xD0, 0x2E, 0x01};
  bridge.stream_i2c(0, 3, wbuf, 0, nullptr);
  EXPECT_EQ(first.calls.size(), 1u);
  EXPECT_TRUE(second.calls.empty());
}

// An adapter that vanishes mid-run: every ioctl fails with ENODEV.
TEST(UsbBridge, UnpluggedAdapterJustFailsEachCall) {
  testing_support::FakeKernel kernel;
  kernel.rdwr_errno = ENODEV;
  UsbBridge bridge;
  ASSERT_TRUE(bridge.open_bus(I2cDevBus::open("/dev/i2c-7", kernel)));
  const uint8_t wbuf[] = {0xD0, 0x6C};
  uint8_t rbuf[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(bridge.stream_i2c(0, 2, wbuf, 4, rbuf), 0);
  EXPECT_EQ(bridge.stream_i2c(0, 2, wbuf, 4, rbuf), 0);
  EXPECT_THAT(rbuf, ::testing::Each(0));
  EXPECT_EQ(kernel.calls.size(), 2u);
  EXPECT_NE(bridge.close_device(0), 0);
  EXPECT_EQ(kernel.closed.size(), 1u);
}

struct ChoiceCase {
  const char* value;
  BusChoice expected;
};

class BusChoiceParse : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(BusChoiceParse, ReadsTheVariable) {
  EXPECT_EQ(parse_bus_choice(GetParam().value), GetParam().expected);
}

using Kind = BusChoice::Kind;
INSTANTIATE_TEST_SUITE_P(
    Values, BusChoiceParse,
    ::testing::Values(ChoiceCase{nullptr, {Kind::kAutoDetect, ""}},
                      ChoiceCase{"", {Kind::kAutoDetect, ""}},
                      ChoiceCase{"sim", {Kind::kSimDefault, ""}},
                      ChoiceCase{"sim:scenarios/no_chip.json",
                                 {Kind::kSimScenario, "scenarios/no_chip.json"}},
                      ChoiceCase{"/dev/i2c-7", {Kind::kDeviceNode, "/dev/i2c-7"}},
                      ChoiceCase{"simulator", {Kind::kDeviceNode, "simulator"}}));

// open_device with the environment; returns what the call returned.
int open_with_env(UsbBridge& bridge, const char* bus_value, const char* trace_value) {
  ScopedEnv bus(kBusEnvVar, bus_value);
  ScopedEnv trace(kTraceEnvVar, trace_value);
  return bridge.open_device(0);
}

struct OpenFailureCase {
  const char* name;
  int index;
  const char* bus;
  const char* trace;
};

class UsbBridgeOpenFails : public ::testing::TestWithParam<OpenFailureCase> {};

TEST_P(UsbBridgeOpenFails, ReturnsMinusOneAndStaysClosed) {
  const OpenFailureCase& c = GetParam();
  TempDir empty_sysfs;
  UsbBridge bridge(empty_sysfs.path().string());
  ScopedEnv bus(kBusEnvVar, c.bus);
  ScopedEnv trace(kTraceEnvVar, c.trace);
  EXPECT_EQ(bridge.open_device(c.index), -1);
  EXPECT_FALSE(bridge.is_open());
}

INSTANTIATE_TEST_SUITE_P(
    Environments, UsbBridgeOpenFails,
    ::testing::Values(OpenFailureCase{"MissingNode", 0, "/nonexistent/i2c-99", nullptr},
                      OpenFailureCase{"NoUsbAdapter", 0, nullptr, nullptr},
                      OpenFailureCase{"EmptyMeansAutoDetect", 0, "", nullptr},
                      OpenFailureCase{"MissingScenario", 0, "sim:/nonexistent/board.json", nullptr},
                      OpenFailureCase{"TraceCannotBeCreated", 0, "sim",
                                      "/nonexistent/dir/trace.jsonl"},
                      OpenFailureCase{"OtherDeviceIndex", 1, "sim", nullptr}),
    testing_support::CaseName());

TEST(UsbBridge, TraceRecordsTheTransactions) {
  TempDir dir;
  const auto trace_path = (dir.path() / "bus.jsonl").string();
  {
    UsbBridge bridge;
    ASSERT_GE(open_with_env(bridge, "sim", trace_path.c_str()), 0);
    bridge.set_stream(0, 1);
    const uint8_t wbuf[] = {0xD0, 0x6C};
    uint8_t identity[4] = {};
    bridge.stream_i2c(0, 2, wbuf, 4, identity);
    bridge.close_device(0);
  }
  std::ifstream in(trace_path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_THAT(lines[0], ::testing::HasSubstr("\"speed\""));
  EXPECT_THAT(lines[1], ::testing::HasSubstr("\"0xD0\""));
  EXPECT_THAT(lines[1], ::testing::HasSubstr("\"0x6C\""));
}

// The library calls reach the bridge layer when no other backend is installed.
TEST(UsbioCalls, DefaultBackendIsTheBridgeLayer) {
  set_usbio_backend(nullptr);
  ScopedEnv bus(kBusEnvVar, "sim");
  ASSERT_GE(USBIO_OpenDevice(0), 0);
  USBIO_SetStream(0, 1);
  const uint8_t wbuf[] = {0xD0, 0x6C};
  uint8_t identity[4] = {};
  EXPECT_NE(USBIO_StreamI2C(0, 2, wbuf, 4, identity), 0);
  EXPECT_EQ(identity[2], 0x36);
  EXPECT_NE(USBIO_CloseDevice(0), 0);
  EXPECT_EQ(USBIO_StreamI2C(0, 2, wbuf, 4, identity), 0);
}

}  // namespace
}  // namespace demodctl
