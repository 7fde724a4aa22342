// The USB bridge below the transport: the I2C_RDWR messages the i2c-dev bus hands to the kernel,
// which nodes it accepts as adapters, adapter discovery in sysfs, and the bridge calls over a
// recording bus.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <optional>
#include <tuple>

#include "bus/i2c_dev_bus.h"
#include "bus/usb_bridge.h"
#include "cli/bus_choice.h"
#include "support/process.h"
#include "support/recording_backends.h"

namespace demodctl {
namespace {

// One i2c_msg as the kernel got it: addr, flags, the bytes written (zeros for a read).
using Msg = std::tuple<uint16_t, uint16_t, std::vector<uint8_t>>;
Msg wr(std::vector<uint8_t> bytes) { return {0x68, uint16_t{0}, std::move(bytes)}; }
Msg rd(size_t len) { return {0x68, I2C_M_RD, std::vector<uint8_t>(len)}; }
using Calls = std::vector<std::vector<Msg>>;

// Records every I2C_RDWR call; read messages are filled with 0xA0, 0xA1, ...
struct FakeKernel : KernelI2c {
  int open_result = 7;  // the adapter's fd
  bool char_device = true;
  int funcs_result = 0;
  unsigned long functionality = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;
  bool ioctl_fails = false;
  bool closed = false;
  Calls calls;
  int open_adapter(const char*) override { return open_result; }
  bool is_char_device(int) override { return char_device; }
  int funcs(int, unsigned long* f) override {
    *f = functionality;
    return funcs_result;
  }
  int rdwr(int, i2c_msg* msgs, uint32_t nmsgs) override {
    auto& call = calls.emplace_back();
    for (i2c_msg* m = msgs; m != msgs + nmsgs; ++m) {
      const bool read = (m->flags & I2C_M_RD) != 0;
      call.emplace_back(m->addr, m->flags, std::vector<uint8_t>(m->buf, m->buf + m->len));
      if (read) std::get<2>(call.back()).assign(m->len, 0);
      if (read) std::iota(m->buf, m->buf + m->len, uint8_t{0xA0});
    }
    errno = ENODEV;  // the bridge was unplugged
    return ioctl_fails ? -1 : static_cast<int>(nmsgs);
  }
  void close_adapter(int) override { closed = true; }
};

TEST(I2cDevBus, HandsTheKernelExactlyTheseMessages) {
  const std::vector<uint8_t> longest(8192, 0x01);  // the kernel's per-message limit
  const std::tuple<uint8_t, std::vector<uint8_t>, uint16_t, bool, std::vector<Msg>> cases[] = {
      // addr7, tx, rx length, the ioctl fails, the one I2C_RDWR call (none: refused before it)
      {0x68, {0x6C}, 4, false, {wr({0x6C}), rd(4)}},
      {0x68, {0x10, 1, 2, 3}, 0, false, {wr({0x10, 1, 2, 3})}},
      {0x68, {}, 2, false, {rd(2)}},
      {0x68, longest, 8192, false, {wr(longest), rd(8192)}},
      {0x68, {0x6C}, 4, true, {wr({0x6C}), rd(4)}},
      {0x68, std::vector<uint8_t>(8193), 0, false, {}},
      {0x68, {0x6C}, 8193, false, {}},
      {0x80, {0x6C}, 0, false, {}},  // a 10-bit address
  };
  for (const auto& [addr7, tx, rx_len, ioctl_fails, msgs] : cases) {
    FakeKernel kernel;
    kernel.ioctl_fails = ioctl_fails;
    std::string why;
    auto bus = I2cDevBus::open("/dev/i2c-7", &why, kernel);
    ASSERT_NE(bus, nullptr);
    std::vector<uint8_t> rx(rx_len, 0x55);
    const bool ok = !ioctl_fails && !msgs.empty();
    EXPECT_EQ(bus->transfer(addr7, tx, rx), ok) << tx.size() << " " << rx_len;
    EXPECT_EQ(kernel.calls, msgs.empty() ? Calls{} : Calls{msgs});
    for (size_t k = 0; ok && k < rx.size(); ++k) EXPECT_EQ(rx[k], uint8_t(0xA0 + k)) << k;
  }
}

// Only a character device that answers I2C_FUNCS with plain I2C transfers is an adapter; any
// other node is closed again and named in the reason.
TEST(I2cDevBus, OnlyAnI2cAdapterOpens) {
  const std::tuple<int, bool, int, unsigned long, const char*> cases[] = {
      // open result, a character device, I2C_FUNCS result, functionality, reason (none: opens)
      {7, true, 0, I2C_FUNC_I2C, nullptr},
      {-1, true, 0, I2C_FUNC_I2C, "cannot open I2C adapter /dev/i2c-3: "},
      {7, false, 0, I2C_FUNC_I2C, "/dev/i2c-3 is not an I2C adapter: not a character device"},
      {7, true, -1, I2C_FUNC_I2C, "/dev/i2c-3 is not an I2C adapter: it does not answer"},
      {7, true, 0, I2C_FUNC_SMBUS_BYTE, "/dev/i2c-3 is not an I2C adapter: it cannot do plain"},
  };
  for (const auto& [open_result, char_device, funcs_result, functionality, reason] : cases) {
    FakeKernel kernel;
    kernel.open_result = open_result;
    kernel.char_device = char_device;
    kernel.funcs_result = funcs_result;
    kernel.functionality = functionality;
    std::string why;
    const auto bus = I2cDevBus::open("/dev/i2c-3", &why, kernel);
    EXPECT_EQ(bus != nullptr, reason == nullptr) << why;
    EXPECT_TRUE(reason == nullptr || why.starts_with(reason)) << why;
    EXPECT_EQ(kernel.closed, reason != nullptr && open_result >= 0);
  }
}

// Sysfs trees laid out like the kernel's: <root>/devices/<parent>/i2c-N/i2c-dev/i2c-N, linked
// from <root>/class/i2c-dev/i2c-N (a dangling link when the parent is null). The lowest USB
// adapter wins, numerically ("i2c-10" sorts before "i2c-9" as text).
TEST(AdapterScan, FindsTheLowestUsbAdapter) {
  namespace fs = std::filesystem;
  const char* smbus = "pci0000:00/0000:00:1f.4";
  const char* gpu = "pci0000:00/0000:00:02.0/drm/card0/card0-DP-1";
  const char* lookalike = "virtual/usbmon/usb-ish";  // no usb<digits> bus
  const char* usb_a = "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0";
  const char* usb_b = "pci0000:00/0000:00:14.0/usb3/3-1/3-1.4/3-1.4:1.0";
  const std::pair<std::vector<std::pair<int, const char*>>, std::optional<std::string>> cases[] = {
      {{}, std::nullopt},
      {{{0, smbus}, {1, gpu}, {3, lookalike}}, std::nullopt},
      {{{10, usb_a}, {9, usb_b}, {0, smbus}}, "/dev/i2c-9"},
      {{{2, nullptr}, {12, usb_a}}, "/dev/i2c-12"}};
  for (const auto& [adapters, expected] : cases) {
    const fs::path root = testing::make_temp_dir();
    fs::create_directories(root / "class" / "i2c-dev");
    for (const auto& [number, parent] : adapters) {
      const std::string name = "i2c-" + std::to_string(number);
      const fs::path node = fs::path("devices") / (parent ? parent : "gone") / name / "i2c-dev";
      if (parent != nullptr) fs::create_directories(root / node / name);
      if (parent != nullptr) fs::create_directory_symlink("../..", root / node / name / "device");
      fs::create_directory_symlink("../.." / node / name, root / "class" / "i2c-dev" / name);
    }
    EXPECT_EQ(find_usb_i2c_adapter(root.string()), expected) << adapters.size();
  }
}

// A bridge on a recording bus (that only 0x68 acknowledges), opened.
std::unique_ptr<UsbBridge> open_bridge(testing::RecordingBus*& bus) {
  auto bridge = std::make_unique<UsbBridge>([&bus](std::string*) {
    auto owned = std::make_unique<testing::RecordingBus>();
    bus = owned.get();
    return owned;
  });
  EXPECT_EQ(bridge->open_device(0), 0);
  return bridge;
}

TEST(UsbBridge, AddressByteBecomesAddr7AndFailedReadsAreZeros) {
  const std::tuple<std::vector<uint8_t>, std::vector<uint8_t>, const char*> cases[] = {
      // address byte and what is written, the bytes read afterwards, the transaction
      {{0xD0, 0x6C}, {0xA0, 0xA1, 0xA2, 0xA3}, "68: 6C -> 4"},
      {{0xD1, 0x6C}, {0xA0}, "68: 6C -> 1"},
      {{0xC0, 0x05, 0x22}, {}, "60: 05 22 -> 0"},
      {{0xFF}, {}, "7F:  -> 0"},
      {{0xC0, 0x6C}, {0, 0}, "60: 6C -> 2"},  // failed: zeros, not the bus's EE
  };
  for (const auto& [wbuf, want, transaction] : cases) {
    testing::RecordingBus* bus = nullptr;
    auto bridge = open_bridge(bus);
    std::vector<uint8_t> rbuf(want.size(), 0xAA);
    EXPECT_EQ(bridge->stream_i2c(0, int(wbuf.size()), wbuf.data(), int(rbuf.size()), rbuf.data()),
              wbuf[0] >> 1 == 0x68 ? 1 : 0);
    EXPECT_EQ(bus->log, testing::Calls{transaction});
    EXPECT_EQ(rbuf, want) << transaction;
  }
}

TEST(UsbBridge, BadCallsFailWithoutTouchingTheBus) {
  testing::RecordingBus* bus = nullptr;
  auto bridge = open_bridge(bus);
  const uint8_t w[] = {0xD0, 0x6C};
  uint8_t r[2] = {0xAA, 0xAA};
  EXPECT_EQ(UsbBridge(nullptr).stream_i2c(0, 2, w, 2, r), 0);  // never opened
  EXPECT_EQ(r[0] | r[1], 0) << "read as zeros";
  EXPECT_EQ(bridge->stream_i2c(1, 2, w, 2, r), 0);  // only device index 0 exists
  EXPECT_EQ(bridge->stream_i2c(0, 0, w, 2, r), 0);  // no address byte
  EXPECT_EQ(bridge->stream_i2c(0, 2, w, -1, r), 0);
  EXPECT_EQ(bridge->stream_i2c(0, 2, nullptr, 2, r), 0);
  EXPECT_EQ(bridge->stream_i2c(0, 2, w, 2, nullptr), 0);
  EXPECT_TRUE(bus->log.empty());
}

// No adapter in an empty sysfs, a trace that cannot be created, a device index other than 0.
TEST(UsbBridge, OpenFailuresReturnMinusOne) {
  const std::string empty_sysfs = testing::make_temp_dir();
  const std::tuple<int, const char*, const char*> cases[] = {
      {0, nullptr, nullptr}, {0, "sim", "/nonexistent/dir/trace.jsonl"}, {1, "sim", nullptr}};
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
