// The USB bridge calls over a recording bus, and the bus choice from the environment.
#include "bus/usb_bridge.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "cli/bus_choice.h"
#include "support/process.h"

namespace demodctl {
namespace {

using Call = std::tuple<uint8_t, std::vector<uint8_t>, size_t>;  // addr7, tx, rx length

// Records each transaction; answers 01 02 03 ... or, failing, scribbles 0xEE into rx.
struct RecordingBus : I2cBus {
  RecordingBus(std::vector<Call>& log, bool ok) : calls(log), succeed(ok) {}
  bool transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) override {
    calls.push_back({addr7, {tx.begin(), tx.end()}, rx.size()});
    for (size_t i = 0; i < rx.size(); ++i) rx[i] = succeed ? static_cast<uint8_t>(i + 1) : 0xEE;
    return succeed;
  }
  std::vector<Call>& calls;
  bool succeed;
};

// A bridge whose bus is `bus`, opened.
std::unique_ptr<UsbBridge> open_bridge(std::unique_ptr<I2cBus> bus) {
  auto shared = std::make_shared<std::unique_ptr<I2cBus>>(std::move(bus));
  auto bridge = std::make_unique<UsbBridge>([shared](std::string*) { return std::move(*shared); });
  EXPECT_EQ(bridge->open_device(0), 0);
  return bridge;
}

TEST(UsbBridge, AddressByteBecomesAddr7AndFailedReadsAreZeros) {
  const struct {
    std::vector<uint8_t> wbuf;  // 8-bit address byte, then what is written
    bool bus_ok;
    uint8_t addr7;
    std::vector<uint8_t> rbuf;  // as many bytes as are read, as they are afterwards
  } cases[] = {
      {{0xD0, 0x6C}, true, 0x68, {1, 2, 3, 4}},  {{0xD1, 0x6C}, true, 0x68, {1}},
      {{0xC0, 0x05, 0x22}, true, 0x60, {}},      {{0xFF}, true, 0x7F, {}},
      {{0xD0, 0x6C}, false, 0x68, {0, 0, 0, 0}},  // failed: zeros, not the bus's 0xEE
  };
  for (const auto& c : cases) {
    std::vector<Call> calls;
    auto bridge = open_bridge(std::make_unique<RecordingBus>(calls, c.bus_ok));
    std::vector<uint8_t> rbuf(c.rbuf.size(), 0xAA);
    const int done =
        bridge->stream_i2c(0, int(c.wbuf.size()), c.wbuf.data(), int(rbuf.size()), rbuf.data());
    EXPECT_EQ(done != 0, c.bus_ok);
    const Call want{c.addr7, {c.wbuf.begin() + 1, c.wbuf.end()}, rbuf.size()};
    EXPECT_EQ(calls, std::vector<Call>{want}) << int(c.wbuf[0]);
    EXPECT_EQ(rbuf, c.rbuf) << int(c.wbuf[0]);
  }
}

TEST(UsbBridge, BadCallsFailWithoutTouchingTheBus) {
  std::vector<Call> calls;
  auto bridge = open_bridge(std::make_unique<RecordingBus>(calls, true));
  const uint8_t w[] = {0xD0, 0x6C};
  uint8_t r[2] = {0xAA, 0xAA};
  EXPECT_EQ(UsbBridge(nullptr).stream_i2c(0, 2, w, 2, r), 0);  // never opened
  EXPECT_EQ(r[0] | r[1], 0) << "read as zeros";
  EXPECT_EQ(bridge->stream_i2c(1, 2, w, 2, r), 0);  // only device index 0 exists
  EXPECT_EQ(bridge->stream_i2c(0, 0, w, 2, r), 0);  // no address byte
  EXPECT_EQ(bridge->stream_i2c(0, 2, w, -1, r), 0);
  EXPECT_EQ(bridge->stream_i2c(0, 2, nullptr, 2, r), 0);
  EXPECT_EQ(bridge->stream_i2c(0, 2, w, 2, nullptr), 0);
  EXPECT_TRUE(calls.empty());
}

TEST(UsbBridge, OpenFailuresReturnMinusOne) {
  const std::string empty_sysfs = demodctl::testing::make_temp_dir();  // no USB adapter there
  const std::tuple<int, const char*, const char*> cases[] = {
      {0, "/nonexistent/i2c-99", nullptr},
      {0, nullptr, nullptr},
      {0, "sim", "/nonexistent/dir/trace.jsonl"},
      {1, "sim", nullptr}};
  for (const auto& [index, bus, trace] : cases) {
    UsbBridge bridge([&, bus = bus](std::string* error) {
      return open_chosen_bus(parse_bus_choice(bus), empty_sysfs, error);
    });
    trace != nullptr ? ::setenv(kTraceEnvVar, trace, 1) : ::unsetenv(kTraceEnvVar);
    EXPECT_EQ(bridge.open_device(index), -1) << (bus ? bus : "unset");
    EXPECT_FALSE(bridge.is_open());
  }
  ::unsetenv(kTraceEnvVar);
}

}  // namespace
}  // namespace demodctl
